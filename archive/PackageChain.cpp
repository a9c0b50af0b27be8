// Directory chain walk.
#include "archive/PackageChain.h"

ChainStatus WalkChain(const ReadAtFunction& readAt, int32_t firstRecord, size_t maxRecords,
                      std::vector<ChainLink>& links)
{
    links.clear();
    for (int32_t position = firstRecord; position >= 0;) {
        if (links.size() == maxRecords)
            return ChainStatus::TooLong;
        uint8_t bytes[kRecordSize];
        if (!readAt(position, bytes, kRecordSize))
            return ChainStatus::ReadFailed;
        links.push_back({position, DecodeRecord(bytes)});
        position = links.back().record.next;
    }
    return ChainStatus::Complete;
}
