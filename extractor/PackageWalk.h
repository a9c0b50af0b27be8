// The extractor's run: search the packages that match each pattern, open each package
// once and visit its entries in directory order, listing them and calling the hooks on
// the way.
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

// The points where extraction and the link file join the walk. The walk calls the
// link hooks only with +quarklinks and ExtractEntry only with +extract; the defaults
// do nothing and report no failure.
class DumpHooks {
public:
    virtual ~DumpHooks() = default;

    // Once, after the output directory is made and before the search starts. False when
    // the link file could not be created.
    virtual bool LinksBegin() { return true; }
    // Per package, after its "Process" line and before it is opened.
    virtual void LinksPackageBegin(const PackageVisit&) {}
    // Per entry of an opened package, before the entry is listed.
    virtual void LinksEntry(const PackageVisit&, const DirEntry&) {}
    // Per entry, after it is listed; `index` is the entry's place in the directory.
    virtual ExtractStatus ExtractEntry(const PackageVisit&, CResFile&, int32_t /*index*/, PackageOutput&,
                                       std::string& /*errorText*/)
    {
        return ExtractStatus::Done;
    }
    // Per package opened, after ExtractEntry for its last entry; only with +extract.
    virtual ExtractStatus ExtractPackageEnd(const PackageVisit&, PackageOutput&, std::string& /*errorText*/)
    {
        return ExtractStatus::Done;
    }
    // Per package, after its last entry; also for a package that failed to open.
    virtual void LinksPackageEnd(const PackageVisit&) {}
    // Once, after the search has ended, whether or not anything matched; only with
    // +extract. False when something it writes could not be written.
    virtual bool ExtractEnd() { return true; }
    // Once, after the search has ended, whether or not anything matched. False when the
    // link file could not be written whole.
    virtual bool LinksEnd() { return true; }
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
// package matches <pattern>" for a pattern that finds none. Makes the output directory
// first when extracting. A directory that cannot be made ends the walk: false, with the
// message in `errorText`.
bool RunDump(const DumpSettings& settings, DumpHooks& hooks, DumpResult& result, std::string& errorText);
