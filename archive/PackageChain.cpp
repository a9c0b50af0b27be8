// Directory chain walk.
#include "archive/PackageChain.h"

#include "archive/ReadWindow.h"

namespace {

// Records back to back, as compaction lays them out, come through one window read; one
// that lies farther from the last (behind the last one's data) is read on its own.
constexpr size_t kWindowSize = 64 << 10;
constexpr int64_t kNearRecords = 4 * static_cast<int64_t>(kRecordSize);

}  // namespace

ChainStatus WalkChain(const ReadAtFunction& readAt, int32_t firstRecord, size_t maxRecords,
                      const ChainVisitor& visit)
{
    ReadWindow window(readAt, kWindowSize);
    int64_t previous = firstRecord;
    size_t visited = 0;
    for (int32_t position = firstRecord; position >= 0;) {
        if (visited == maxRecords)
            return ChainStatus::TooLong;
        uint8_t bytes[kRecordSize];
        const int64_t stride = position - previous;
        const bool near = stride >= 0 && stride <= kNearRecords;
        if (!(near ? window.Read(position, bytes, kRecordSize) : readAt(position, bytes, kRecordSize)))
            return ChainStatus::ReadFailed;
        previous = position;
        const ChainLink link{position, DecodeRecord(bytes)};
        visit(link);
        ++visited;
        position = link.record.next;
    }
    return ChainStatus::Complete;
}
