// On-disk records of an MTX package: the 20-byte header and the 88-byte directory
// record, with their constants and little-endian encoding.
#pragma once

#include <cstddef>
#include <cstdint>

// Entry types written by the builder; the archive carries them unchanged.
constexpr int32_t RT_TEXTURE = 2;
constexpr int32_t RT_PALETTE = 5;

// Storage methods.
constexpr int32_t RC_NONE = 0;
constexpr int32_t RC_LZSS = 2;

constexpr size_t kHeaderSize = 20;
constexpr size_t kRecordSize = 88;
constexpr size_t kNameSize = 64;         // name field, NUL included
constexpr int32_t kNoRecord = -1;        // "no such record" in an offset field
constexpr int32_t kPackageVersion = 1;
constexpr char kPackageMagic[4] = {'M', 'P', 'C', 'K'};

struct PackageHeader {
    char magic[4];
    int32_t version;
    int32_t compactFlag;
    int32_t entryCount;
    int32_t firstRecord;
};

struct DirRecord {
    char name[kNameSize];
    int32_t size;
    int32_t offset;
    int32_t next;
    int32_t prev;
    int32_t type;
    int32_t method;
};

// A fresh header: magic, version 1, no entries, no first record, compactFlag 0.
PackageHeader MakeEmptyHeader();

void EncodeHeader(const PackageHeader& header, uint8_t out[kHeaderSize]);
PackageHeader DecodeHeader(const uint8_t in[kHeaderSize]);
bool HasPackageMagic(const PackageHeader& header);

void EncodeRecord(const DirRecord& record, uint8_t out[kRecordSize]);
DirRecord DecodeRecord(const uint8_t in[kRecordSize]);
