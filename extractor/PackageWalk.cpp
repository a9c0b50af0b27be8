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

void ProcessPackage(const DumpSettings& settings, DumpHooks& hooks, const std::string& directory,
                    const std::string& foundName)
{
    std::printf("\nProcess Pak file '%s'...\n", foundName.c_str());

    PackageVisit visit;
    visit.foundName = foundName;
    visit.baseName = StripExtension(foundName);
    visit.packagePath = directory + foundName;
    if (settings.extract)
        MakeDirectory(settings.outputDirectory + visit.baseName);
    visit.outputPrefix = settings.outputDirectory + visit.baseName + "/";

    if (settings.quarkLinks)
        hooks.LinksPackageBegin(visit);

    // The handle's name buffer is bounded; a longer path is never opened cut short.
    bool opened = false;
    {
        CResFile package(visit.packagePath.c_str());
        if (visit.packagePath.size() < kResNameCapacity && package.Open(RA_READ)) {
            opened = true;
            VisitEntries(settings, hooks, visit, package);
        }
        package.mfClose();
    }
    if (!opened)
        std::printf("Warning: Couldn't find resource file '%s'\n", visit.packagePath.c_str());

    if (settings.quarkLinks)
        hooks.LinksPackageEnd(visit);
}

}  // namespace

void RunDump(const DumpSettings& settings, DumpHooks& hooks)
{
    if (settings.extract && !settings.outputDirectory.empty())
        MakeDirectoryPath(settings.outputDirectory);

    const std::string pattern = DumpSearchPattern(settings.pattern);
    if (settings.quarkLinks)
        hooks.LinksBegin();

    DirectorySearch search;
    if (search.Start(pattern)) {
        FoundFile found;
        while (search.Next(found)) {
            if (found.isDirectory || found.name.empty() || found.name[0] == '.')
                continue;
            ProcessPackage(settings, hooks, search.directory(), found.name);
        }
    }

    if (settings.quarkLinks)
        hooks.LinksEnd();
}
