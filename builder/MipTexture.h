// The texture record (MipTexture: 108-byte header + body) and the 1024-byte RGBA
// palette, shared by the builder, which writes them, and the extractor, which reads them.
#pragma once

#include "common/ByteReader.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

// Format codes of the `format` field.
constexpr int32_t TEX_INDEXED8 = 0;
constexpr int32_t TEX_RGB24 = 2;
constexpr int32_t TEX_RGBA32 = 3;
constexpr int32_t TEX_DXT1 = 8;
constexpr int32_t TEX_DXT3 = 9;
constexpr int32_t TEX_DXT5 = 10;

constexpr size_t kMipHeaderSize = 108;
constexpr size_t kMipNameSize = 32;  // name field, NUL included
constexpr size_t kRgbaPaletteEntries = 256;
constexpr size_t kRgbaPaletteSize = 1024;  // RgbaPalette bytes
constexpr const char kPaletteEntryName[] = "Palette";

// Byte offsets of the header fields.
constexpr size_t kMipNameOffset = 0x00;
constexpr size_t kMipWidthOffset = 0x20;
constexpr size_t kMipHeightOffset = 0x24;
constexpr size_t kMipDataOffsetOffset = 0x28;
constexpr size_t kMipFormatOffset = 0x4C;
constexpr size_t kMipOwnPaletteOffset = 0x54;
constexpr size_t kMipAverageRedOffset = 0x60;
constexpr size_t kMipAverageGreenOffset = 0x64;
constexpr size_t kMipAverageBlueOffset = 0x68;

// The header, field by field in file order (every field 4-byte aligned, no padding).
struct MipTexture {
    char name[kMipNameSize];
    int32_t width;
    int32_t height;
    int32_t dataOffset;
    int32_t reserved1[8];
    int32_t format;
    int32_t reserved2;
    int32_t ownPalette;
    int32_t reserved3[2];
    int32_t averageRed;
    int32_t averageGreen;
    int32_t averageBlue;
};
static_assert(sizeof(MipTexture) == kMipHeaderSize, "MipTexture header is 108 bytes");
static_assert(offsetof(MipTexture, width) == kMipWidthOffset, "width at 0x20");
static_assert(offsetof(MipTexture, height) == kMipHeightOffset, "height at 0x24");
static_assert(offsetof(MipTexture, dataOffset) == kMipDataOffsetOffset, "dataOffset at 0x28");
static_assert(offsetof(MipTexture, format) == kMipFormatOffset, "format at 0x4C");
static_assert(offsetof(MipTexture, ownPalette) == kMipOwnPaletteOffset, "ownPalette at 0x54");
static_assert(offsetof(MipTexture, averageRed) == kMipAverageRedOffset, "averageRed at 0x60");
static_assert(offsetof(MipTexture, averageGreen) == kMipAverageGreenOffset, "averageGreen at 0x64");
static_assert(offsetof(MipTexture, averageBlue) == kMipAverageBlueOffset, "averageBlue at 0x68");

struct RgbaColor {
    uint8_t red, green, blue, alpha;
};

struct RgbaPalette {
    RgbaColor entries[kRgbaPaletteEntries];
};
static_assert(sizeof(RgbaPalette) == kRgbaPaletteSize, "RgbaPalette is 1024 bytes");

// Writes the header into the first kMipHeaderSize bytes of a record, little-endian.
inline void EncodeMipTexture(const MipTexture& header, uint8_t* out)
{
    std::memset(out, 0, kMipHeaderSize);
    std::memcpy(out + kMipNameOffset, header.name, kMipNameSize);
    PutU32(out + kMipWidthOffset, static_cast<uint32_t>(header.width));
    PutU32(out + kMipHeightOffset, static_cast<uint32_t>(header.height));
    PutU32(out + kMipDataOffsetOffset, static_cast<uint32_t>(header.dataOffset));
    PutU32(out + kMipFormatOffset, static_cast<uint32_t>(header.format));
    PutU32(out + kMipOwnPaletteOffset, static_cast<uint32_t>(header.ownPalette));
    PutU32(out + kMipAverageRedOffset, static_cast<uint32_t>(header.averageRed));
    PutU32(out + kMipAverageGreenOffset, static_cast<uint32_t>(header.averageGreen));
    PutU32(out + kMipAverageBlueOffset, static_cast<uint32_t>(header.averageBlue));
}

// Reads a header from the first kMipHeaderSize bytes of a record; the reserved words
// come back zero and the name always ends within its field.
inline MipTexture DecodeMipTexture(const uint8_t* in)
{
    MipTexture header{};
    std::memcpy(header.name, in + kMipNameOffset, kMipNameSize - 1);
    header.width = static_cast<int32_t>(GetU32(in + kMipWidthOffset));
    header.height = static_cast<int32_t>(GetU32(in + kMipHeightOffset));
    header.dataOffset = static_cast<int32_t>(GetU32(in + kMipDataOffsetOffset));
    header.format = static_cast<int32_t>(GetU32(in + kMipFormatOffset));
    header.ownPalette = static_cast<int32_t>(GetU32(in + kMipOwnPaletteOffset));
    header.averageRed = static_cast<int32_t>(GetU32(in + kMipAverageRedOffset));
    header.averageGreen = static_cast<int32_t>(GetU32(in + kMipAverageGreenOffset));
    header.averageBlue = static_cast<int32_t>(GetU32(in + kMipAverageBlueOffset));
    return header;
}
