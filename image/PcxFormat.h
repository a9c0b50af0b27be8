// The PCX layout the decoder reads and the extractor writes, described once: version 5,
// 8 bits in one plane, run-length rows, then the marker and the 256-colour palette.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t kPcxHeaderSize = 128;
constexpr uint8_t kPcxManufacturer = 10;
constexpr uint8_t kPcxVersion = 5;
constexpr uint8_t kPcxRleEncoding = 1;
constexpr uint8_t kPcxBitsPerPixel = 8;
constexpr size_t kPcxXmaxOffset = 8;    // Xmax, then Ymax; Xmin and Ymin before them are 0
constexpr size_t kPcxPlanesOffset = 65; // planes, then bytes per line

// A byte with both top bits set starts a run: its low six bits count, the next byte is
// the value. Any other byte is a single value.
constexpr uint8_t kPcxRunFlag = 0xC0;
constexpr uint8_t kPcxRunLengthMask = 0x3F;

constexpr uint8_t kPcxPaletteMarker = 12;
constexpr size_t kPcxPaletteSize = 768;  // 256 entries of red, green, blue, the file's last bytes

// The widest and tallest image: the header keeps each side minus one (Xmax, Ymax) and the
// width itself (bytes per line, resolution) in unsigned 16-bit fields.
constexpr int32_t kPcxMaxSide = 0xFFFF;
