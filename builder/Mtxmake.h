// Mtxmake: builds one package from the image and DDS files that match a pattern.
//
// Failing: functions return false or a status, and a condition that ends the run comes
// back as `fatalMessage` for main to print. Running out of memory: a texture record
// (sized by the decoded image or the DDS file) and an update's comparison buffer come
// from common/HeapBuffer.h; a record that cannot be allocated ends the run with "Can't
// allocate memory for mip texture", leaving the package as it was, and a comparison that
// cannot be made writes the record anew. Files are read and decoded by the host and image
// layers, which report their own failures. The run's bookkeeping (the file list, the
// read-ahead queue and its threads, names) is standard containers, whose exhaustion is
// not caught. Nothing here throws for memory or catches it.
#pragma once

#include <cstdio>
#include <string>

constexpr size_t kMaxPathLength = 127;  // package names and patterns

extern const char kMtxmakeTitle[];

// The package name for the first argument: its extension replaced by ".mtx" (a name
// whose last part keeps a dot is left as it is). False when the argument or the result
// is longer than kMaxPathLength, or when nothing is left before the extension.
bool MakePackageName(const char* argument, std::string& packageName);

// The texture name for a matched file: the name up to its extension, then `suffix`,
// cut to 31 characters by shortening the part before the suffix. Returns false when
// it had to be cut.
bool MakeTextureName(const std::string& fileName, const char* suffix, char* name);

// The whole run, from banner to closing line; `answers` answers the shared-palette
// question. Returns the exit status. A condition that ends the run early (the package
// cannot be created or written, memory runs out) returns 1 with the message, printed
// as it is, in `fatalMessage`.
int RunMtxmake(int argc, const char* const argv[], std::FILE* answers, std::string& fatalMessage);
