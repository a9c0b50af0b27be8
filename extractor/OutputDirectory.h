// Making the extractor's output directories; a failure other than "already exists"
// ends the run.
#pragma once

#include <string>

// Makes one directory. An existing directory is fine; any other failure ends the
// program with "mkdir <path>: <host's error text>" and status 1.
void MakeDirectory(const std::string& path);

// Makes every directory the path names up to its last '/' or '\\', shortest first.
// A leading separator is never a split point, and a leading drive prefix ("c:") is
// never made by itself. Text after the last separator is not made.
void MakeDirectoryPath(const std::string& path);
