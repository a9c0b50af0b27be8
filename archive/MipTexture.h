// The texture record (MipTexture: 108-byte header + body), the 1024-byte RGBA palette
// and the shared palette entry: what a package's entries hold. The builder writes them,
// the extractor reads them.
#pragma once

#include "common/ByteReader.h"
#include "common/ByteWriter.h"

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

// The DXT formats, whose body is block-compressed data stored as its DDS file holds it.
constexpr int32_t kDxtFormats[] = {TEX_DXT1, TEX_DXT3, TEX_DXT5};
// The builder names a DXT entry after its file with this suffix.
constexpr char kDxtNameSuffix[] = "_tc";

constexpr size_t kMipHeaderSize = 108;
constexpr size_t kMipNameSize = 32;  // name field, NUL included
constexpr size_t kRgbaPaletteEntries = 256;
constexpr size_t kRgbaPaletteSize = 1024;  // RgbaPalette bytes
// The package's shared palette: one RgbaPalette, no header.
constexpr char kPaletteEntryName[] = "Palette";

// Byte offsets of the header fields; the reserved words between them are zero.
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

// Bytes per pixel of a record body in `format` (indices, RGB or RGBA), 0 for the DXT
// formats and unknown codes.
constexpr int32_t BytesPerPixel(int32_t format)
{
    return format == TEX_INDEXED8 ? 1 : format == TEX_RGB24 ? 3 : format == TEX_RGBA32 ? 4 : 0;
}

// The name of a DXT format, which is also the four-character code of its data in a DDS
// file; null for every other format.
constexpr const char* DxtFormatName(int32_t format)
{
    return format == TEX_DXT1 ? "DXT1" : format == TEX_DXT3 ? "DXT3" : format == TEX_DXT5 ? "DXT5" : nullptr;
}

// Writes the header into the first kMipHeaderSize bytes of a record, little-endian, with
// zeros in the reserved words.
inline void EncodeMipTexture(const MipTexture& header, uint8_t* out)
{
    ByteWriter writer(out, kMipHeaderSize);
    writer.bytes(header.name, kMipNameSize);
    writer.i32(header.width);
    writer.i32(header.height);
    writer.i32(header.dataOffset);
    writer.zeros(sizeof header.reserved1);
    writer.i32(header.format);
    writer.zeros(sizeof header.reserved2);
    writer.i32(header.ownPalette);
    writer.zeros(sizeof header.reserved3);
    writer.i32(header.averageRed);
    writer.i32(header.averageGreen);
    writer.i32(header.averageBlue);
}

// Reads a header from the first kMipHeaderSize bytes of a record; the reserved words
// come back zero and the name always ends within its field.
inline MipTexture DecodeMipTexture(const uint8_t* in)
{
    ByteReader reader(in, kMipHeaderSize);
    MipTexture header{};
    reader.read(header.name, kMipNameSize);
    header.name[kMipNameSize - 1] = '\0';
    header.width = reader.i32();
    header.height = reader.i32();
    header.dataOffset = reader.i32();
    reader.skip(sizeof header.reserved1);
    header.format = reader.i32();
    reader.skip(sizeof header.reserved2);
    header.ownPalette = reader.i32();
    reader.skip(sizeof header.reserved3);
    header.averageRed = reader.i32();
    header.averageGreen = reader.i32();
    header.averageBlue = reader.i32();
    return header;
}
