// DDS header encoding and decoding, and the level sizes of block-compressed surfaces.
#include "image/DdsFormat.h"

#include "common/ByteReader.h"
#include "common/ByteWriter.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr size_t kWord = 4;
constexpr size_t kReservedAfterMipMapCount = 11 * kWord;
constexpr size_t kBitCountAndMasks = 5 * kWord;
constexpr size_t kCapsAfterFirst = 4 * kWord;  // caps 2 to 4 and a reserved word
constexpr uint64_t kBlockSide = 4;
constexpr uint32_t kDxt1BlockBytes = 8;
constexpr uint32_t kDxt3And5BlockBytes = 16;

// Bytes of one 4 × 4 block of a code, 0 for codes that are not block-compressed.
uint32_t DxtBlockBytes(const char* fourCc)
{
    if (std::memcmp(fourCc, "DXT1", kDdsFourCcSize) == 0)
        return kDxt1BlockBytes;
    if (std::memcmp(fourCc, "DXT3", kDdsFourCcSize) == 0 || std::memcmp(fourCc, "DXT5", kDdsFourCcSize) == 0)
        return kDxt3And5BlockBytes;
    return 0;
}

// Bytes of one level: whole blocks, at least one in each direction.
uint64_t DxtLevelSize(uint64_t width, uint64_t height, uint32_t blockBytes)
{
    const uint64_t across = std::max<uint64_t>(1, (width + kBlockSide - 1) / kBlockSide);
    const uint64_t down = std::max<uint64_t>(1, (height + kBlockSide - 1) / kBlockSide);
    return across * down * blockBytes;
}

// Number of levels, halving each side down to 1, whose sizes add up to exactly
// `bodySize`; 0 when they do not. Sides below 2^31 give at most 32 levels.
uint32_t DxtChainLevels(uint64_t width, uint64_t height, uint32_t blockBytes, uint64_t bodySize)
{
    uint64_t total = 0;
    for (uint32_t levels = 1;; ++levels) {
        total += DxtLevelSize(width, height, blockBytes);
        if (total > bodySize)
            return 0;
        if (width == 1 && height == 1)
            return total == bodySize ? levels : 0;
        width = std::max<uint64_t>(1, width / 2);
        height = std::max<uint64_t>(1, height / 2);
    }
}

}  // namespace

void EncodeDdsHeader(const DdsSurfaceHeader& header, uint8_t* out)
{
    ByteWriter writer(out, kDdsFileHeaderSize);
    writer.bytes(kDdsMagic, sizeof kDdsMagic);
    writer.u32(kDdsSurfaceHeaderSize);
    writer.u32(header.flags);
    writer.u32(header.height);
    writer.u32(header.width);
    writer.u32(header.linearSize);
    writer.zeros(kWord);  // depth
    writer.u32(header.mipMapCount);
    writer.zeros(kReservedAfterMipMapCount);
    writer.u32(kDdsPixelFormatSize);
    writer.u32(kDdpfFourCc);
    writer.bytes(header.fourCc, kDdsFourCcSize);
    writer.zeros(kBitCountAndMasks);
    writer.u32(header.caps);
    writer.zeros(kCapsAfterFirst);
}

bool DecodeDdsHeader(const uint8_t* data, size_t size, DdsSurfaceHeader& header)
{
    ByteReader reader(data, size);
    const uint8_t* magic = reader.take(sizeof kDdsMagic);
    reader.skip(kWord);  // surface header size
    header.flags = reader.u32();
    header.height = reader.u32();
    header.width = reader.u32();
    header.linearSize = reader.u32();
    reader.skip(kWord);  // depth
    header.mipMapCount = reader.u32();
    reader.skip(kReservedAfterMipMapCount);
    reader.skip(2 * kWord);  // pixel format size and flags
    reader.read(header.fourCc, kDdsFourCcSize);
    reader.skip(kBitCountAndMasks);
    header.caps = reader.u32();
    reader.skip(kCapsAfterFirst);
    return reader.ok() && std::memcmp(magic, kDdsMagic, sizeof kDdsMagic) == 0;
}

uint64_t DxtTopLevelSize(const char* fourCc, int32_t width, int32_t height)
{
    const uint32_t blockBytes = DxtBlockBytes(fourCc);
    if (blockBytes == 0 || width < 1 || height < 1)
        return 0;
    return DxtLevelSize(static_cast<uint64_t>(width), static_cast<uint64_t>(height), blockBytes);
}

bool DescribeDxtSurface(const char* fourCc, int32_t width, int32_t height, uint64_t bodySize,
                        DdsSurfaceHeader& header)
{
    const uint64_t topSize = DxtTopLevelSize(fourCc, width, height);
    if (topSize == 0 || topSize > bodySize || topSize > UINT32_MAX)
        return false;
    header = DdsSurfaceHeader();
    header.flags = kDdsdCaps | kDdsdHeight | kDdsdWidth | kDdsdPixelFormat | kDdsdLinearSize;
    header.height = static_cast<uint32_t>(height);
    header.width = static_cast<uint32_t>(width);
    header.linearSize = static_cast<uint32_t>(topSize);
    std::memcpy(header.fourCc, fourCc, kDdsFourCcSize);
    header.caps = kDdsCapsTexture;
    const uint32_t levels = DxtChainLevels(header.width, header.height, DxtBlockBytes(fourCc), bodySize);
    if (levels != 0) {
        header.mipMapCount = levels;
        header.flags |= kDdsdMipMapCount;
        header.caps |= kDdsCapsComplex | kDdsCapsMipMap;
    }
    return true;
}
