// The MTX package container, described once: the 20-byte header, the 88-byte directory
// record, entry types, storage methods, the LZSS length prefix, the compacted layout and
// the file extension. Every reader and writer of packages goes through these.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

constexpr char kPackageExtension[] = ".mtx";

// Entry types written by the builder; the archive carries them unchanged.
constexpr int32_t RT_TEXTURE = 2;
constexpr int32_t RT_PALETTE = 5;

// Storage methods.
constexpr int32_t RC_NONE = 0;
constexpr int32_t RC_LZSS = 2;

constexpr int32_t kNoRecord = -1;         // "no such record" in an offset field
constexpr int32_t kPackageVersion = 1;
constexpr int32_t kCompactedFlag = 1;     // compactFlag after a compaction
constexpr char kPackageMagic[4] = {'M', 'P', 'C', 'K'};
// Offsets and sizes are signed 32-bit fields.
constexpr int64_t kMaxPackageOffset = std::numeric_limits<int32_t>::max();

// Header at offset 0; fields in file order, all little-endian.
struct PackageHeader {
    char magic[4];
    int32_t version;
    int32_t compactFlag;   // 1 after a compaction; not interpreted by readers
    int32_t entryCount;    // records in the chain
    int32_t firstRecord;   // offset of the first record, kNoRecord when empty
};
constexpr size_t kHeaderSize = 20;
constexpr size_t kHeaderVersionOffset = 4;
constexpr size_t kHeaderCompactOffset = 8;
constexpr size_t kHeaderCountOffset = 12;
constexpr size_t kHeaderFirstRecordOffset = 16;
static_assert(sizeof(PackageHeader) == kHeaderSize, "header is 20 bytes");
static_assert(offsetof(PackageHeader, version) == kHeaderVersionOffset, "version at 4");
static_assert(offsetof(PackageHeader, compactFlag) == kHeaderCompactOffset, "compactFlag at 8");
static_assert(offsetof(PackageHeader, entryCount) == kHeaderCountOffset, "entryCount at 12");
static_assert(offsetof(PackageHeader, firstRecord) == kHeaderFirstRecordOffset, "firstRecord at 16");

// Directory record, one per entry, linked into a chain by `next` (and back by `prev`).
constexpr size_t kNameSize = 64;          // name field, NUL included
struct DirRecord {
    char name[kNameSize];  // bytes after the terminator are not significant
    int32_t size;          // bytes stored at `offset`
    int32_t offset;        // where the entry's stored bytes lie
    int32_t next;          // next record, kNoRecord (any negative value) ends the chain
    int32_t prev;          // previous record; written, never read
    int32_t type;
    int32_t method;
};
constexpr size_t kRecordSize = 88;
constexpr size_t kRecordSizeOffset = 64;
constexpr size_t kRecordOffsetOffset = 68;
constexpr size_t kRecordNextOffset = 72;
constexpr size_t kRecordPrevOffset = 76;
constexpr size_t kRecordTypeOffset = 80;
constexpr size_t kRecordMethodOffset = 84;
static_assert(sizeof(DirRecord) == kRecordSize, "directory record is 88 bytes");
static_assert(offsetof(DirRecord, size) == kRecordSizeOffset, "size at 64");
static_assert(offsetof(DirRecord, offset) == kRecordOffsetOffset, "offset at 68");
static_assert(offsetof(DirRecord, next) == kRecordNextOffset, "next at 72");
static_assert(offsetof(DirRecord, prev) == kRecordPrevOffset, "prev at 76");
static_assert(offsetof(DirRecord, type) == kRecordTypeOffset, "type at 80");
static_assert(offsetof(DirRecord, method) == kRecordMethodOffset, "method at 84");

// An RC_LZSS entry's stored bytes: its unpacked length, then the LZSS stream.
constexpr size_t kLzssPrefixSize = 4;

// A fresh header: magic, version 1, no entries, no first record, compactFlag 0.
PackageHeader MakeEmptyHeader();
bool HasPackageMagic(const PackageHeader& header);

void EncodeHeader(const PackageHeader& header, uint8_t out[kHeaderSize]);
PackageHeader DecodeHeader(const uint8_t in[kHeaderSize]);
void EncodeRecord(const DirRecord& record, uint8_t out[kRecordSize]);
DirRecord DecodeRecord(const uint8_t in[kRecordSize]);
void EncodeLzssPrefix(uint32_t unpackedLength, uint8_t out[kLzssPrefixSize]);
uint32_t DecodeLzssPrefix(const uint8_t in[kLzssPrefixSize]);

// The most records a file of `fileSize` bytes can hold behind its header.
int64_t MaxRecordsIn(int64_t fileSize);

// Compacted layout: the header, all records back to back in chain order, then all data
// back to back in the same order.
constexpr int64_t CompactedRecordOffset(int64_t index)
{
    return static_cast<int64_t>(kHeaderSize) + static_cast<int64_t>(kRecordSize) * index;
}
constexpr int64_t CompactedDataOffset(int64_t count)
{
    return CompactedRecordOffset(count);
}
