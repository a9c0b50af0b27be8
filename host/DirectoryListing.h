// What each host supplies to DirectorySearch: its path separators and the reading of
// one directory.
#pragma once

#include "host/DirectorySearch.h"

#include <string>
#include <vector>

// The characters that end a directory name in a path: "/" on POSIX hosts, "/\\" on Windows.
extern const char kPathSeparators[];
// True where a path may begin with a drive, "X:", which belongs to its directory part.
extern const bool kHostHasDrives;

// Appends every name in `directory` (a PatternDirectory result; "" is the working
// directory) that WildcardMatch takes for `namePattern`, "." and ".." left out, in
// the order the host gives. False when the directory cannot be read.
bool ListDirectory(const std::string& directory, const std::string& namePattern, std::vector<FoundFile>& matches);
