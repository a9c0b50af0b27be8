// DDS header parsing and DXT record assembly.
#include "builder/DdsTexture.h"

#include <cstring>

DdsKind ReadDdsSurface(const uint8_t* data, size_t size, DdsSurface& surface)
{
    DdsSurfaceHeader header;
    if (!DecodeDdsHeader(data, size, header))
        return DdsKind::NotDds;
    for (const int32_t format : kDxtFormats) {
        const char* code = DxtFormatName(format);
        if (std::memcmp(header.fourCc, code, kDdsFourCcSize) == 0) {
            surface.format = format;
            surface.code = code;
            surface.width = static_cast<int32_t>(header.width);
            surface.height = static_cast<int32_t>(header.height);
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
