// The fuzz targets' bodies, shared by the libFuzzer programs and the corpus replay test,
// and the plain LZSS decoder the archive's fast one is checked against.
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

// Decodes an LZSS stream token by token through a 4096-byte ring (spaces below the start
// position, zeros from it on) into at most `limit` bytes; a token cut short is dropped.
std::vector<uint8_t> ReferenceLzssDecode(const uint8_t* src, size_t srcLen, int64_t limit);
