// The extractor's run: search the packages that match the pattern, open each one and
// visit its entries in directory order, listing them and calling the hooks on the way.
#pragma once

#include "archive/ResFile.h"
#include "extractor/DumpOptions.h"

#include <string>

// One package the search found.
struct PackageVisit {
    std::string foundName;     // name the search returned, no directory part
    std::string baseName;      // found name without extension; names the output folder
    std::string packagePath;   // path opened: the pattern's directory + found name
    std::string outputPrefix;  // output directory + base name + "/"
};

// The points where extraction and the link file join the walk. The walk calls the
// link hooks only with +quarklinks and ExtractEntry only with +extract; the defaults
// do nothing.
class DumpHooks {
public:
    virtual ~DumpHooks() = default;

    // Once, after the output directory is made and before the search starts.
    virtual void LinksBegin() {}
    // Per package, after its "Process" line and before it is opened.
    virtual void LinksPackageBegin(const PackageVisit&) {}
    // Per entry of an opened package, before the entry is listed.
    virtual void LinksEntry(const PackageVisit&, const DirEntry&) {}
    // Per entry, after it is listed; `index` is the entry's place in the directory.
    virtual void ExtractEntry(const PackageVisit&, CResFile&, int32_t /*index*/, const DirEntry&) {}
    // Per package opened, after ExtractEntry for its last entry; only with +extract.
    virtual void ExtractPackageEnd(const PackageVisit&) {}
    // Per package, after its last entry; also for a package that failed to open.
    virtual void LinksPackageEnd(const PackageVisit&) {}
    // Once, after the search has ended, whether or not anything matched; only with +extract.
    virtual void ExtractEnd() {}
    // Once, after the search has ended, whether or not anything matched.
    virtual void LinksEnd() {}
};

// Runs the walk for parsed settings. Makes the output directory first when
// extracting; a directory that cannot be made ends the walk: false, with the message
// in `errorText`.
bool RunDump(const DumpSettings& settings, DumpHooks& hooks, std::string& errorText);
