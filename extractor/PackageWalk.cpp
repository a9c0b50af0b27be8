// The extractor's search over packages and its walk over each package's directory.
#include "extractor/PackageWalk.h"

#include "common/StringUtil.h"
#include "extractor/OutputDirectory.h"
#include "host/DirectorySearch.h"

#include <cstdio>

namespace {

void VisitEntries(const DumpSettings& settings, DumpHooks& hooks, const PackageVisit& visit,
                  CResFile& package)
{
    for (int32_t index = 0; index < package.mfGetCount(); ++index) {
        // A copy, so that nothing the hooks do to the handle can move it.
        const DirEntry entry = package.mfGetEntry(index);
        if (settings.quarkLinks)
            hooks.LinksEntry(visit, entry);
        if (settings.list)
            std::printf("%s\n", entry.name);
        if (settings.extract)
            hooks.ExtractEntry(visit, package, index, entry);
    }
}

bool ProcessPackage(const DumpSettings& settings, DumpHooks& hooks, const std::string& directory,
                    const FoundFile& found, std::string& errorText)
{
    std::printf("\nProcess Pak file '%s'...\n", found.name.c_str());

    PackageVisit visit;
    visit.foundName = found.name;
    visit.baseName = StripExtension(found.name);
    visit.packagePath = directory + found.name;
    if (settings.extract && !MakeDirectory(settings.outputDirectory + visit.baseName, errorText))
        return false;
    visit.outputPrefix = settings.outputDirectory + visit.baseName + "/";

    if (settings.quarkLinks)
        hooks.LinksPackageBegin(visit);

    // Only regular files are opened (a pipe would block the run), and a path longer
    // than the handle's name buffer is never opened cut short.
    bool opened = false;
    if (found.isRegular && visit.packagePath.size() < kResNameCapacity) {
        CResFile package(visit.packagePath.c_str());
        if (package.Open(RA_READ)) {
            opened = true;
            VisitEntries(settings, hooks, visit, package);
            if (settings.extract)
                hooks.ExtractPackageEnd(visit);
        }
        package.mfClose();
    }
    if (!opened)
        std::printf("Warning: Couldn't find resource file '%s'\n", visit.packagePath.c_str());

    if (settings.quarkLinks)
        hooks.LinksPackageEnd(visit);
    return true;
}

}  // namespace

bool RunDump(const DumpSettings& settings, DumpHooks& hooks, std::string& errorText)
{
    if (settings.extract && !settings.outputDirectory.empty() &&
        !MakeDirectoryPath(settings.outputDirectory, errorText))
        return false;

    const std::string pattern = DumpSearchPattern(settings.pattern);
    if (settings.quarkLinks)
        hooks.LinksBegin();

    DirectorySearch search;
    if (search.Start(pattern)) {
        FoundFile found;
        while (search.Next(found)) {
            if (found.isDirectory || found.name.empty() || found.name[0] == '.')
                continue;
            if (!ProcessPackage(settings, hooks, search.directory(), found, errorText))
                return false;
        }
    }

    if (settings.extract)
        hooks.ExtractEnd();
    if (settings.quarkLinks)
        hooks.LinksEnd();
    return true;
}
