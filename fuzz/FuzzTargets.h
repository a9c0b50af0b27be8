// The fuzz targets' bodies, shared by the libFuzzer programs and the corpus replay test,
// and the plain LZSS codec the archive's fast one is checked and measured against.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct FuzzTarget {
    const char* name;  // also the corpus folder fuzz/corpus/<name>
    void (*run)(const uint8_t* data, size_t size);
};
extern const FuzzTarget kFuzzTargets[8];
const FuzzTarget* FindFuzzTarget(const char* name);  // null for an unknown name

// The LZSS codec written straight from the scheme, with LzssEncode's and LzssDecode's
// contracts: the same streams, the same bytes out, byte by byte and without shortcuts.
int32_t PlainLzssEncode(const uint8_t* src, uint8_t* dst, int32_t srcLen);
int32_t PlainLzssDecode(const uint8_t* src, uint8_t* dst, int32_t srcLen, int32_t dstLen);
// PlainLzssDecode into at most `limit` bytes; a token cut short is dropped.
std::vector<uint8_t> ReferenceLzssDecode(const uint8_t* src, size_t srcLen, int64_t limit);
