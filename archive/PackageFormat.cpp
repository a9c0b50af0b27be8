// Encoding and decoding of the package header, directory records and LZSS prefix.
#include "archive/PackageFormat.h"

#include "common/ByteReader.h"
#include "common/ByteWriter.h"

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

bool HasPackageMagic(const PackageHeader& header)
{
    return std::memcmp(header.magic, kPackageMagic, sizeof header.magic) == 0;
}

void EncodeHeader(const PackageHeader& header, uint8_t out[kHeaderSize])
{
    ByteWriter writer(out, kHeaderSize);
    writer.bytes(header.magic, sizeof header.magic);
    writer.i32(header.version);
    writer.i32(header.compactFlag);
    writer.i32(header.entryCount);
    writer.i32(header.firstRecord);
}

PackageHeader DecodeHeader(const uint8_t in[kHeaderSize])
{
    ByteReader reader(in, kHeaderSize);
    PackageHeader header{};
    reader.read(header.magic, sizeof header.magic);
    header.version = reader.i32();
    header.compactFlag = reader.i32();
    header.entryCount = reader.i32();
    header.firstRecord = reader.i32();
    return header;
}

void EncodeRecord(const DirRecord& record, uint8_t out[kRecordSize])
{
    ByteWriter writer(out, kRecordSize);
    writer.bytes(record.name, kNameSize);
    writer.i32(record.size);
    writer.i32(record.offset);
    writer.i32(record.next);
    writer.i32(record.prev);
    writer.i32(record.type);
    writer.i32(record.method);
}

DirRecord DecodeRecord(const uint8_t in[kRecordSize])
{
    ByteReader reader(in, kRecordSize);
    DirRecord record{};
    reader.read(record.name, kNameSize);
    record.size = reader.i32();
    record.offset = reader.i32();
    record.next = reader.i32();
    record.prev = reader.i32();
    record.type = reader.i32();
    record.method = reader.i32();
    return record;
}

void EncodeLzssPrefix(uint32_t unpackedLength, uint8_t out[kLzssPrefixSize])
{
    ByteWriter writer(out, kLzssPrefixSize);
    writer.u32(unpackedLength);
}

uint32_t DecodeLzssPrefix(const uint8_t in[kLzssPrefixSize])
{
    ByteReader reader(in, kLzssPrefixSize);
    return reader.u32();
}

int64_t MaxRecordsIn(int64_t fileSize)
{
    if (fileSize < static_cast<int64_t>(kHeaderSize))
        return 0;
    return (fileSize - static_cast<int64_t>(kHeaderSize)) / static_cast<int64_t>(kRecordSize);
}
