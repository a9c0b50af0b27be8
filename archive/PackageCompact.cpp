// Encoding of the compacted directory and the one-pass copy of the entries' bytes.
#include "archive/PackageCompact.h"

#include "common/HeapBuffer.h"

#include <algorithm>

namespace {

constexpr size_t kCopyChunk = 1 << 20;

}  // namespace

int64_t CompactedLength(const std::vector<CompactEntry>& entries)
{
    int64_t length = CompactedDataOffset(static_cast<int64_t>(entries.size()));
    for (const CompactEntry& entry : entries)
        length += entry.record.size;
    return length;
}

std::vector<uint8_t> EncodeCompactedDirectory(PackageHeader header, const std::vector<CompactEntry>& entries)
{
    const int64_t count = static_cast<int64_t>(entries.size());
    header.compactFlag = kCompactedFlag;
    header.entryCount = static_cast<int32_t>(count);
    header.firstRecord = count > 0 ? static_cast<int32_t>(CompactedRecordOffset(0)) : kNoRecord;
    std::vector<uint8_t> bytes(static_cast<size_t>(CompactedDataOffset(count)));
    EncodeHeader(header, bytes.data());
    int64_t dataPosition = CompactedDataOffset(count);
    for (int64_t i = 0; i < count; ++i) {
        DirRecord record = entries[static_cast<size_t>(i)].record;
        record.prev = i == 0 ? kNoRecord : static_cast<int32_t>(CompactedRecordOffset(i - 1));
        record.next = i + 1 == count ? kNoRecord : static_cast<int32_t>(CompactedRecordOffset(i + 1));
        record.offset = static_cast<int32_t>(dataPosition);
        dataPosition += record.size;
        EncodeRecord(record, bytes.data() + CompactedRecordOffset(i));
    }
    return bytes;
}

CompactWriteStatus WriteCompactedPackage(std::FILE* out, const std::vector<uint8_t>& directory,
                                         const std::vector<CompactEntry>& entries)
{
    if (std::fwrite(directory.data(), 1, directory.size(), out) != directory.size())
        return CompactWriteStatus::WriteFailed;
    // The entries' bytes are gathered into one buffer, written out whenever it is full.
    const HeapBytes chunk = AllocateBytes(kCopyChunk);
    if (!chunk)
        return CompactWriteStatus::OutOfMemory;
    size_t filled = 0;
    for (const CompactEntry& entry : entries) {
        for (int64_t done = 0; done < entry.record.size;) {
            const size_t piece = static_cast<size_t>(std::min<int64_t>(entry.record.size - done, kCopyChunk - filled));
            if (!entry.read(entry.at + done, chunk.get() + filled, piece))
                return CompactWriteStatus::ReadFailed;
            filled += piece;
            done += static_cast<int64_t>(piece);
            if (filled == kCopyChunk) {
                if (std::fwrite(chunk.get(), 1, filled, out) != filled)
                    return CompactWriteStatus::WriteFailed;
                filled = 0;
            }
        }
    }
    if (std::fwrite(chunk.get(), 1, filled, out) != filled)
        return CompactWriteStatus::WriteFailed;
    return std::fflush(out) == 0 ? CompactWriteStatus::Done : CompactWriteStatus::WriteFailed;
}
