// DDS header parsing and DXT record assembly.
#include "builder/DdsTexture.h"

#include "common/ByteReader.h"

#include <cstring>

namespace {

constexpr char kDdsMagic[4] = {'D', 'D', 'S', ' '};
constexpr size_t kHeightOffset = 12;  // file offsets: surface header bytes 8, 12 and 80
constexpr size_t kWidthOffset = 16;
constexpr size_t kFourCcOffset = 84;
constexpr size_t kFourCcSize = 4;

struct DxtCode {
    const char* code;
    int32_t format;
};
constexpr DxtCode kDxtCodes[] = {{"DXT1", TEX_DXT1}, {"DXT3", TEX_DXT3}, {"DXT5", TEX_DXT5}};

}  // namespace

DdsKind ReadDdsSurface(const uint8_t* data, size_t size, DdsSurface& surface)
{
    if (size < kDdsFileHeaderSize)
        return DdsKind::NotDds;
    ByteReader reader(data, size);
    const uint8_t* magic = reader.take(sizeof kDdsMagic);
    reader.seek(kHeightOffset);
    const int32_t height = reader.i32();
    reader.seek(kWidthOffset);
    const int32_t width = reader.i32();
    reader.seek(kFourCcOffset);
    const uint8_t* fourCc = reader.take(kFourCcSize);
    if (!reader.ok() || std::memcmp(magic, kDdsMagic, sizeof kDdsMagic) != 0)
        return DdsKind::NotDds;
    for (const DxtCode& dxt : kDxtCodes) {
        if (std::memcmp(fourCc, dxt.code, kFourCcSize) == 0) {
            surface.format = dxt.format;
            surface.code = dxt.code;
            surface.width = width;
            surface.height = height;
            return DdsKind::Dxt;
        }
    }
    return DdsKind::UnknownCode;
}

RecordBuffer BuildDxtRecord(const uint8_t* data, size_t size, const DdsSurface& surface,
                            MipTexture& header, size_t& recordSize)
{
    header.width = surface.width;
    header.height = surface.height;
    header.format = surface.format;
    const size_t bodySize = size - kDdsFileHeaderSize;
    RecordBuffer record = AllocateRecord(uint64_t{kMipHeaderSize} + bodySize);
    if (!record)
        return nullptr;
    EncodeMipTexture(header, record.get());
    if (bodySize)
        std::memcpy(record.get() + kMipHeaderSize, data + kDdsFileHeaderSize, bodySize);
    recordSize = kMipHeaderSize + bodySize;
    return record;
}
