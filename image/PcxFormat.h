// The PCX layout the decoder reads and the extractor writes, described once: the 128-byte
// header of version 5, 8 bits in one plane, run-length rows, then the marker and the
// 256-colour palette.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t kPcxHeaderSize = 128;
constexpr uint8_t kPcxManufacturer = 10;
constexpr uint8_t kPcxVersion = 5;
constexpr uint8_t kPcxRleEncoding = 1;
constexpr uint8_t kPcxBitsPerPixel = 8;
constexpr uint8_t kPcxPlanes = 1;
constexpr size_t kPcxColourMapSize = 48;  // the 16-colour map in the header, unused at 8 bits

// A byte with both top bits set starts a run: its low six bits count, the next byte is
// the value. Any other byte is a single value.
constexpr uint8_t kPcxRunFlag = 0xC0;
constexpr uint8_t kPcxRunLengthMask = 0x3F;

constexpr uint8_t kPcxPaletteMarker = 12;
constexpr size_t kPcxPaletteSize = 768;  // 256 entries of red, green, blue, the file's last bytes

// The widest and tallest image: the header keeps each side minus one (Xmax, Ymax) and the
// width itself (bytes per line, resolution) in unsigned 16-bit fields.
constexpr int32_t kPcxMaxSide = 0xFFFF;

// The header fields in file order, little-endian; the 16-colour map, a reserved byte
// before the plane count and the filler after the palette information are zero.
struct PcxFileHeader {
    uint8_t manufacturer = 0, version = 0, encoding = 0, bitsPerPixel = 0;
    uint16_t xmin = 0, ymin = 0;
    uint16_t xmax = 0, ymax = 0;  // the last column and row: width - 1, height - 1 from 0, 0
    uint16_t horizontalResolution = 0, verticalResolution = 0;
    uint8_t planes = 0;
    uint16_t bytesPerLine = 0;    // one row of one plane, padding included
    uint16_t paletteInfo = 0;
};

// Reads the header from the start of a file's bytes; false when they are fewer than
// kPcxHeaderSize.
bool DecodePcxHeader(const uint8_t* data, size_t size, PcxFileHeader& header);

// Writes the header into the first kPcxHeaderSize bytes of `out`.
void EncodePcxHeader(const PcxFileHeader& header, uint8_t* out);

// Whether the header can describe a width × height image: each side from 1 to
// kPcxMaxSide.
bool PcxCanHold(int32_t width, int32_t height);
