// The compacted layout written in one pass: the header, every record back to back, then
// every entry's stored bytes back to back, in directory order. Compaction and the
// builder's update modes both write packages this way.
#pragma once

#include "archive/PackageChain.h"
#include "archive/PackageFormat.h"

#include <cstdint>
#include <cstdio>
#include <vector>

// One entry of a compacted package and where its stored bytes come from.
struct CompactEntry {
    DirRecord record{};   // name, size, type and method as stored; the writer sets the links and offset
    ReadAtFunction read;  // reads the stored bytes from their source
    int64_t at = 0;       // where they begin in that source
};

// The total length of the compacted package.
int64_t CompactedLength(const std::vector<CompactEntry>& entries);

// The compacted header and records for `entries`: `header` with compactFlag 1, the count
// and the first record at its compacted place, each record linked to its neighbours and
// pointing at its data.
std::vector<uint8_t> EncodeCompactedDirectory(PackageHeader header, const std::vector<CompactEntry>& entries);

enum class CompactWriteStatus { Done, ReadFailed, WriteFailed, OutOfMemory };

// Writes the package: `directory` (from EncodeCompactedDirectory), then each entry's
// stored bytes, gathered in one bounded buffer and written a buffer at a time, and
// flushes the stream.
CompactWriteStatus WriteCompactedPackage(std::FILE* out, const std::vector<uint8_t>& directory,
                                         const std::vector<CompactEntry>& entries);
