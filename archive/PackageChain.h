// The walk along a package's directory chain, over any source of bytes: Open, flushing
// and compaction all find the records this way.
#pragma once

#include "archive/PackageFormat.h"

#include <cstddef>
#include <cstdint>
#include <functional>

// Reads exactly `count` bytes at absolute `offset` into `dst`; false when the source
// holds fewer.
using ReadAtFunction = std::function<bool(int64_t offset, void* dst, size_t count)>;

// One record of the chain and where it lies.
struct ChainLink {
    int32_t offset = 0;
    DirRecord record{};
};

enum class ChainStatus {
    Complete,    // a negative `next` ended the chain
    ReadFailed,  // a record could not be read whole
    TooLong,     // more than the allowed number of records (a chain that loops ends here)
};

// Called with each record of the chain, in chain order.
using ChainVisitor = std::function<void(const ChainLink& link)>;

// Follows the chain from `firstRecord` until a record's `next` is negative, handing each
// record to `visit`. At most `maxRecords` records are read. The walk itself allocates
// only its fixed read-ahead window; what the visitor keeps is the caller's affair.
ChainStatus WalkChain(const ReadAtFunction& readAt, int32_t firstRecord, size_t maxRecords,
                      const ChainVisitor& visit);
