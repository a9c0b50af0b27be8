// The DDS file layout, described once: the "DDS " signature, the 124-byte surface header
// with its pixel format, then the surface data. The builder reads it, the extractor writes it.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr char kDdsMagic[4] = {'D', 'D', 'S', ' '};
constexpr size_t kDdsFileHeaderSize = 128;  // signature and surface header
constexpr uint32_t kDdsSurfaceHeaderSize = 124;
constexpr uint32_t kDdsPixelFormatSize = 32;
constexpr size_t kDdsFourCcSize = 4;
static_assert(sizeof kDdsMagic + kDdsSurfaceHeaderSize == kDdsFileHeaderSize, "DDS header is 128 bytes");

// Surface header flags: which fields hold values.
constexpr uint32_t kDdsdCaps = 0x1;
constexpr uint32_t kDdsdHeight = 0x2;
constexpr uint32_t kDdsdWidth = 0x4;
constexpr uint32_t kDdsdPixelFormat = 0x1000;
constexpr uint32_t kDdsdMipMapCount = 0x20000;
constexpr uint32_t kDdsdLinearSize = 0x80000;
// Pixel format flag: the four-character code names the data's encoding.
constexpr uint32_t kDdpfFourCc = 0x4;
// Surface caps.
constexpr uint32_t kDdsCapsComplex = 0x8;
constexpr uint32_t kDdsCapsTexture = 0x1000;
constexpr uint32_t kDdsCapsMipMap = 0x400000;

// The header fields this project reads or writes; every other field is zero on writing.
struct DdsSurfaceHeader {
    uint32_t flags = 0;
    uint32_t height = 0;
    uint32_t width = 0;
    uint32_t linearSize = 0;  // byte size of the top level
    uint32_t mipMapCount = 0;
    char fourCc[kDdsFourCcSize] = {};
    uint32_t caps = 0;
};

// Writes the signature and surface header into the first kDdsFileHeaderSize bytes of `out`.
void EncodeDdsHeader(const DdsSurfaceHeader& header, uint8_t* out);

// Reads the signature and surface header from the start of a file's bytes; false when
// the file is shorter than kDdsFileHeaderSize or lacks the signature.
bool DecodeDdsHeader(const uint8_t* data, size_t size, DdsSurfaceHeader& header);

// Bytes of the top level of "DXT1", "DXT3" or "DXT5" data for a width × height surface:
// whole 4 × 4 blocks. 0 for another code or a side that is not positive.
uint64_t DxtTopLevelSize(const char* fourCc, int32_t width, int32_t height);

// The header of a file holding `bodySize` bytes of "DXT1", "DXT3" or "DXT5" data for a
// width × height top level: one level, or the mip-map count when the body is exactly a
// whole chain of levels down to 1 × 1. False for another code, a side that is not
// positive, or a body shorter than the top level.
bool DescribeDxtSurface(const char* fourCc, int32_t width, int32_t height, uint64_t bodySize,
                        DdsSurfaceHeader& header);
