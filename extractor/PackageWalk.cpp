// The extractor's search over packages and its walk over each package's directory.
#include "extractor/PackageWalk.h"

#include "archive/PackageStaging.h"
#include "common/StringUtil.h"
#include "host/DirectorySearch.h"
#include "host/FileIO.h"

#include <algorithm>
#include <cstdio>
#include <map>

namespace {

// Packages visited so far: found name -> path opened.
using VisitedPackages = std::multimap<std::string, std::string>;

// A package is the one visited before when the same name was found at the same path, or
// at another path to the same file ("walls" and "./walls").
bool WasVisited(const VisitedPackages& visited, const PackageVisit& visit)
{
    const auto earlier = visited.equal_range(visit.foundName);
    return std::any_of(earlier.first, earlier.second, [&](const VisitedPackages::value_type& package) {
        return package.second == visit.packagePath || IsSameFile(package.second, visit.packagePath);
    });
}

// False when the package's folder could not be made, which ends the run.
bool VisitEntries(const DumpSettings& settings, DumpHooks& hooks, const PackageVisit& visit,
                  CResFile& package, DumpResult& result, std::string& errorText)
{
    PackageOutput output(settings.outputDirectory + visit.baseName);
    for (int32_t index = 0; index < package.mfGetCount(); ++index) {
        // A copy, so that nothing the hooks do to the handle can move it.
        const DirEntry entry = package.mfGetEntry(index);
        if (settings.quarkLinks)
            hooks.LinksEntry(visit, entry);
        if (settings.list)
            std::printf("%s\n", entry.name);
        if (!settings.extract)
            continue;
        const ExtractStatus status = hooks.ExtractEntry(visit, package, index, output, errorText);
        if (status == ExtractStatus::FolderFailed)
            return false;
        if (status == ExtractStatus::Failed)
            result.failed = true;
    }
    if (!settings.extract)
        return true;
    const ExtractStatus status = hooks.ExtractPackageEnd(visit, output, errorText);
    if (status == ExtractStatus::Failed)
        result.failed = true;
    return status != ExtractStatus::FolderFailed;
}

bool ProcessPackage(const DumpSettings& settings, DumpHooks& hooks, const PackageVisit& visit, bool isRegular,
                    DumpResult& result, std::string& errorText)
{
    std::printf("\nProcess Pak file '%s'...\n", visit.foundName.c_str());
    if (settings.quarkLinks)
        hooks.LinksPackageBegin(visit);

    // Only regular files are opened (a pipe would block the run), and a path longer
    // than the handle's name buffer is never opened cut short.
    bool opened = false;
    bool walked = true;
    if (isRegular && visit.packagePath.size() < kResNameCapacity) {
        CResFile package(visit.packagePath.c_str());
        if (package.Open(RA_READ)) {
            opened = true;
            RemoveLeftoverStagingOf(visit.packagePath);  // what a killed writer left beside it
            walked = VisitEntries(settings, hooks, visit, package, result, errorText);
        }
        package.mfClose();
    }
    if (!walked)
        return false;
    if (!opened) {
        std::printf("Warning: Couldn't find resource file '%s'\n", visit.packagePath.c_str());
        result.failed = true;
    }

    if (settings.quarkLinks)
        hooks.LinksPackageEnd(visit);
    return true;
}

// Visits the packages one pattern finds, but those visited before. Sets `matched` when
// it finds any package at all.
bool ProcessPattern(const DumpSettings& settings, DumpHooks& hooks, const std::string& pattern,
                    VisitedPackages& visited, bool& matched, DumpResult& result, std::string& errorText)
{
    DirectorySearch search;
    if (!search.Start(DumpSearchPattern(pattern)))
        return true;
    FoundFile found;
    while (search.Next(found)) {
        if (found.isDirectory || found.name.empty() || found.name[0] == '.')
            continue;
        matched = true;
        PackageVisit visit;
        visit.foundName = found.name;
        visit.baseName = StripExtension(found.name);
        visit.packagePath = search.directory() + found.name;
        if (WasVisited(visited, visit))
            continue;
        visited.emplace(visit.foundName, visit.packagePath);
        if (!ProcessPackage(settings, hooks, visit, found.isRegular, result, errorText))
            return false;
    }
    return true;
}

}  // namespace

int DumpExitStatus(const DumpResult& result)
{
    if (result.failed)
        return kDumpExitFailed;
    return result.unmatched ? kDumpExitNoMatch : kDumpExitOk;
}

bool RunDump(const DumpSettings& settings, DumpHooks& hooks, DumpResult& result, std::string& errorText)
{
    if (settings.extract && !settings.outputDirectory.empty() &&
        !MakeDirectoryPath(settings.outputDirectory, errorText))
        return false;
    if (settings.quarkLinks && !hooks.LinksBegin())
        result.failed = true;

    VisitedPackages visited;
    for (const std::string& pattern : settings.patterns) {
        bool matched = false;
        if (!ProcessPattern(settings, hooks, pattern, visited, matched, result, errorText))
            return false;
        if (!matched) {
            std::printf("Warning: no package matches %s\n", pattern.c_str());
            result.unmatched = true;
        }
    }

    if (settings.extract && !hooks.ExtractEnd())
        result.failed = true;
    if (settings.quarkLinks && !hooks.LinksEnd())
        result.failed = true;
    return true;
}
