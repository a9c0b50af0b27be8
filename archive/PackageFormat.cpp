#include "archive/PackageFormat.h"

#include "common/ByteReader.h"

#include <cstring>

PackageHeader MakeEmptyHeader()
{
    PackageHeader header{};
    std::memcpy(header.magic, kPackageMagic, sizeof header.magic);
    header.version = kPackageVersion;
    header.compactFlag = 0;
    header.entryCount = 0;
    header.firstRecord = kNoRecord;
    return header;
}

void EncodeHeader(const PackageHeader& header, uint8_t out[kHeaderSize])
{
    std::memcpy(out, header.magic, sizeof header.magic);
    PutU32(out + 4, static_cast<uint32_t>(header.version));
    PutU32(out + 8, static_cast<uint32_t>(header.compactFlag));
    PutU32(out + 12, static_cast<uint32_t>(header.entryCount));
    PutU32(out + 16, static_cast<uint32_t>(header.firstRecord));
}

PackageHeader DecodeHeader(const uint8_t in[kHeaderSize])
{
    PackageHeader header{};
    std::memcpy(header.magic, in, sizeof header.magic);
    header.version = static_cast<int32_t>(GetU32(in + 4));
    header.compactFlag = static_cast<int32_t>(GetU32(in + 8));
    header.entryCount = static_cast<int32_t>(GetU32(in + 12));
    header.firstRecord = static_cast<int32_t>(GetU32(in + 16));
    return header;
}

bool HasPackageMagic(const PackageHeader& header)
{
    return std::memcmp(header.magic, kPackageMagic, sizeof header.magic) == 0;
}

void EncodeRecord(const DirRecord& record, uint8_t out[kRecordSize])
{
    std::memcpy(out, record.name, kNameSize);
    PutU32(out + 64, static_cast<uint32_t>(record.size));
    PutU32(out + 68, static_cast<uint32_t>(record.offset));
    PutU32(out + 72, static_cast<uint32_t>(record.next));
    PutU32(out + 76, static_cast<uint32_t>(record.prev));
    PutU32(out + 80, static_cast<uint32_t>(record.type));
    PutU32(out + 84, static_cast<uint32_t>(record.method));
}

DirRecord DecodeRecord(const uint8_t in[kRecordSize])
{
    DirRecord record{};
    std::memcpy(record.name, in, kNameSize);
    record.size = static_cast<int32_t>(GetU32(in + 64));
    record.offset = static_cast<int32_t>(GetU32(in + 68));
    record.next = static_cast<int32_t>(GetU32(in + 72));
    record.prev = static_cast<int32_t>(GetU32(in + 76));
    record.type = static_cast<int32_t>(GetU32(in + 80));
    record.method = static_cast<int32_t>(GetU32(in + 84));
    return record;
}
