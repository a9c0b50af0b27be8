// Mtxtrim's walk: compacts every package below a directory.
//
// Failing: a package that cannot be compacted gets its warning line and counts as a
// failure; the walk goes on. Running out of memory: compaction allocates inside the
// archive, which reports it as that package's failure; the walk itself holds only paths
// and directory listings in standard containers, whose exhaustion is not caught.
#pragma once

#include <cstdint>

#include <string>
#include <vector>

// Banner title and usage line of Mtxtrim.
extern const char kTrimTitle[];
extern const char kTrimUsage[];

// The walk's prefix for Mtxtrim's arguments: "" for none, the folder with a trailing "/"
// for one folder. False for anything else (options, help requests, a second argument,
// a path that is not a folder), which gets the usage line.
bool TrimPrefixFor(const std::vector<std::string>& args, std::string& prefix);

// Walks the directory named by `prefix` ("" for the working directory, otherwise a path
// ending in a separator; the walk joins folders with kPathSeparator) depth first and compacts every file that opens as a package, printing
// " Process: '<path>'" for each, and a warning line after a failed compaction. Names
// beginning with ".", symbolic links and files other than regular ones are skipped. A
// package already compacted is not written again. Returns `count` plus the number of
// packages compacted successfully.
int32_t OptimizeTree(const char* prefix, int32_t count);
// The same, adding the packages whose compaction failed to `failures`.
int32_t OptimizeTree(const char* prefix, int32_t count, int32_t& failures);
