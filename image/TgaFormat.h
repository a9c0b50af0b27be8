// The TGA file layout, described once: the 18-byte header with its image types and
// descriptor bits, the run-length packets and the limits. The decoder reads it, the
// extractor's writer writes it.
#pragma once

#include "common/ByteReader.h"

#include <cstddef>
#include <cstdint>

constexpr size_t kTgaHeaderSize = 18;

// Image types; the run-length form of each adds kTgaRleType.
constexpr uint8_t kTgaColourMapped = 1;
constexpr uint8_t kTgaTrueColour = 2;
constexpr uint8_t kTgaGray = 3;
constexpr uint8_t kTgaRleType = 8;

// Descriptor byte: the low four bits count a pixel's attribute (alpha) bits, bit 5 puts
// the first stored row at the top, the top two bits tell the interlace.
constexpr uint8_t kTgaAttributeBitsMask = 0x0F;
constexpr uint8_t kTgaOriginTop = 0x20;
constexpr int kTgaInterlaceShift = 6;
constexpr uint8_t kTgaInterlaceTwoWay = 1;
constexpr uint8_t kTgaInterlaceFourWay = 2;

// A run-length packet's first byte: the top bit repeats one value, the low seven bits
// count the pixels minus one.
constexpr uint8_t kTgaPacketRepeatFlag = 0x80;
constexpr uint8_t kTgaPacketCountMask = 0x7F;

// The widest and tallest image: width and height are unsigned 16-bit fields.
constexpr int32_t kTgaMaxSide = 0xFFFF;
// Colour map entries a file may reach (first entry plus length stays below the end).
constexpr uint32_t kTgaColourMapEntries = 16384;
constexpr uint32_t kTgaMaxColourMapEnd = kTgaColourMapEntries - 2;

// The header, field by field in file order, little-endian.
struct TgaFileHeader {
    uint8_t idLength = 0;         // bytes of image identifier after the header
    uint8_t colourMapType = 0;    // 1 when a colour map follows
    uint8_t imageType = 0;
    uint16_t colourMapFirst = 0, colourMapLength = 0;
    uint8_t colourMapEntrySize = 0;  // bits
    uint16_t xOrigin = 0, yOrigin = 0;
    uint16_t width = 0, height = 0;
    uint8_t pixelSize = 0;        // bits
    uint8_t descriptor = 0;
};

// Reads the header at the reader's position; false (and the reader failed) when fewer
// than kTgaHeaderSize bytes remain. The image identifier is left for the caller.
bool ReadTgaHeader(ByteReader& reader, TgaFileHeader& header);

// Writes the header into the first kTgaHeaderSize bytes of `out`.
void EncodeTgaHeader(const TgaFileHeader& header, uint8_t* out);

// Whether the header can describe a width × height image: each side from 1 to
// kTgaMaxSide.
bool TgaCanHold(int32_t width, int32_t height);
