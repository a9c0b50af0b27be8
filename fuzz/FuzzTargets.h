// The fuzz targets' bodies, shared by the libFuzzer programs and the corpus replay test.
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

// PlainLzssDecode into at most `limit` bytes; a token cut short is dropped.
std::vector<uint8_t> ReferenceLzssDecode(const uint8_t* src, size_t srcLen, int64_t limit);
