// Mtxtrim's walk: compacts every package below a directory.
#pragma once

#include <cstdint>

// Banner title of Mtxtrim.
extern const char kTrimTitle[];

// Walks the directory named by `prefix` ("" for the working directory, otherwise a
// relative path ending in "/") depth first and compacts every file that opens as a
// package, printing " Process: '<path>'" for each, and a warning line after a failed
// compaction. Names beginning with ".", symbolic links and files other than regular
// ones are skipped, and so is the staging file in the working directory. Returns `count` plus the number of packages
// compacted successfully.
int32_t OptimizeTree(const char* prefix, int32_t count);
