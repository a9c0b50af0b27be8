// The extractor's run: search the packages that match each pattern, open each package
// once and visit its entries in directory order, listing, extracting and linking them.
#pragma once

#include "archive/ResFile.h"
#include "extractor/DumpOptions.h"
#include "extractor/ExtractTexture.h"
#include "extractor/OutputDirectory.h"

#include <string>

// Exit statuses of a run; 1 is FatalError's.
constexpr int kDumpExitOk = 0;
constexpr int kDumpExitNoMatch = 2;  // a pattern matched no package
constexpr int kDumpExitFailed = 3;   // a package, a texture or the link file failed

// One package the search found.
struct PackageVisit {
    std::string foundName;     // name the search returned, no directory part
    std::string baseName;      // found name without extension; names the output folder
    std::string packagePath;   // path opened: the pattern's directory + found name
};

// How a run that was not ended by a fatal error went.
struct DumpResult {
    bool unmatched = false;  // some pattern matched no package
    bool failed = false;     // a package could not be read, or a texture or the link file
                             // could not be loaded or written
};

// The exit status for a run's result: a failure outranks a pattern that matched nothing.
int DumpExitStatus(const DumpResult& result);

// Runs the walk for parsed settings: the patterns in order, each package found once
// (a package a later pattern finds again is not visited again), with "Warning: no
// package matches <pattern>" for a pattern that finds none; lists, extracts and links
// each package's entries as the settings ask, PNG files written on `settings.jobs`
// workers. Makes the output directory first when extracting. A directory that cannot be
// made ends the walk: false, with the message in `errorText`, once all text before it
// is printed.
bool RunDump(const DumpSettings& settings, DumpResult& result, std::string& errorText);
