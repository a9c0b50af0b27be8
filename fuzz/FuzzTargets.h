// The bodies of the fuzz targets. Each libFuzzer program calls one of them, and the
// replay test runs every corpus file through the same functions, so a reproducer
// fails the ordinary test suite the same way it failed the fuzzer.
#pragma once

#include <cstddef>
#include <cstdint>

using FuzzEntry = void (*)(const uint8_t* data, size_t size);

struct FuzzTarget {
    const char* name;  // also the corpus folder fuzz/corpus/<name>
    FuzzEntry run;
};

// Every target, in a fixed order.
extern const FuzzTarget kFuzzTargets[];
extern const size_t kFuzzTargetCount;

// The target named `name`, or null.
const FuzzTarget* FindFuzzTarget(const char* name);
