// Making the extractor's output directories.
#pragma once

#include <string>

// Makes one directory; an existing one is fine. False, with "mkdir <path>: <host's
// error text>" in `errorText`, otherwise.
bool MakeDirectory(const std::string& path, std::string& errorText);

// Makes every directory the path names up to its last '/' or '\\', shortest first, and
// stops at the first failure. A leading separator is never a split point, and a leading
// drive prefix ("c:") is never made by itself. Text after the last separator is not made.
bool MakeDirectoryPath(const std::string& path, std::string& errorText);
