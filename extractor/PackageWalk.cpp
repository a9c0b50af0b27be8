// The extractor's search over packages and its walk over each package's directory.
#include "extractor/PackageWalk.h"

#include "archive/PackageStaging.h"
#include "extractor/DumpActions.h"
#include "extractor/OrderedOutput.h"
#include "common/StringUtil.h"
#include "host/DirectorySearch.h"
#include "host/FileIO.h"

#include <algorithm>
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

// One run of the walk: what it is told, what it does at each entry, how it went.
class PackageWalk {
public:
    PackageWalk(const DumpSettings& settings, OrderedOutput& console, DumpResult& result, std::string& errorText)
        : m_Settings(settings), m_Console(console), m_Actions(settings, console), m_Result(result),
          m_ErrorText(errorText) {}

    // False when a directory could not be made, which ends the run.
    bool Run();

private:
    bool ProcessPattern(const std::string& pattern, bool& matched);
    bool ProcessPackage(const PackageVisit& visit, bool isRegular);
    bool VisitEntries(const PackageVisit& visit, CResFile& package);

    const DumpSettings& m_Settings;
    OrderedOutput& m_Console;
    DumpActions m_Actions;
    DumpResult& m_Result;
    std::string& m_ErrorText;
    VisitedPackages m_Visited;
};

bool PackageWalk::VisitEntries(const PackageVisit& visit, CResFile& package)
{
    PackageOutput output(m_Settings.outputDirectory + visit.baseName);
    for (int32_t index = 0; index < package.mfGetCount(); ++index) {
        // A copy, so that nothing done to the handle can move it.
        const DirEntry entry = package.mfGetEntry(index);
        if (m_Settings.quarkLinks)
            m_Actions.LinksEntry(visit, entry);
        if (m_Settings.list)
            m_Console.Print("%s\n", entry.name);
        if (!m_Settings.extract)
            continue;
        const ExtractStatus status = m_Actions.ExtractEntry(visit, package, index, output, m_ErrorText);
        if (status == ExtractStatus::FolderFailed)
            return false;
        if (status == ExtractStatus::Failed)
            m_Result.failed = true;
    }
    if (!m_Settings.extract)
        return true;
    const ExtractStatus status = m_Actions.ExtractPackageEnd(visit, package, output, m_ErrorText);
    if (status == ExtractStatus::Failed)
        m_Result.failed = true;
    return status != ExtractStatus::FolderFailed;
}

bool PackageWalk::ProcessPackage(const PackageVisit& visit, bool isRegular)
{
    m_Console.Print("\nProcess Pak file '%s'...\n", visit.foundName.c_str());
    if (m_Settings.quarkLinks)
        m_Actions.LinksPackageBegin(visit);

    // Only regular files are opened (a pipe would block the run), and a path longer
    // than the handle's name buffer is never opened cut short.
    bool opened = false;
    bool walked = true;
    if (isRegular && visit.packagePath.size() < kResNameCapacity) {
        CResFile package(visit.packagePath.c_str());
        if (package.Open(RA_READ)) {
            opened = true;
            RemoveLeftoverStagingOf(visit.packagePath);  // what a killed writer left beside it
            walked = VisitEntries(visit, package);
        }
        package.mfClose();
    }
    if (!walked)
        return false;
    if (!opened) {
        m_Console.Print("Warning: Couldn't find resource file '%s'\n", visit.packagePath.c_str());
        m_Result.failed = true;
    }

    if (m_Settings.quarkLinks)
        m_Actions.LinksPackageEnd();
    return true;
}

// Visits the packages one pattern finds, but those visited before. Sets `matched` when
// it finds any package at all.
bool PackageWalk::ProcessPattern(const std::string& pattern, bool& matched)
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
        if (WasVisited(m_Visited, visit))
            continue;
        m_Visited.emplace(visit.foundName, visit.packagePath);
        if (!ProcessPackage(visit, found.isRegular))
            return false;
    }
    return true;
}

bool PackageWalk::Run()
{
    if (m_Settings.extract && !m_Settings.outputDirectory.empty() &&
        !MakeDirectoryPath(m_Settings.outputDirectory, m_ErrorText))
        return false;
    if (m_Settings.quarkLinks && !m_Actions.LinksBegin())
        m_Result.failed = true;

    for (const std::string& pattern : m_Settings.patterns) {
        bool matched = false;
        if (!ProcessPattern(pattern, matched))
            return false;
        if (!matched) {
            m_Console.Print("Warning: no package matches %s\n", pattern.c_str());
            m_Result.unmatched = true;
        }
    }

    if (m_Settings.extract && !m_Actions.ExtractEnd())
        m_Result.failed = true;
    if (m_Settings.quarkLinks && !m_Actions.LinksEnd())
        m_Result.failed = true;
    return true;
}

}  // namespace

int DumpExitStatus(const DumpResult& result)
{
    if (result.failed)
        return kDumpExitFailed;
    return result.unmatched ? kDumpExitNoMatch : kDumpExitOk;
}

bool RunDump(const DumpSettings& settings, DumpResult& result, std::string& errorText)
{
    // Only PNG files are written on workers; other runs start no thread.
    OrderedOutput console(settings.extract && settings.png ? settings.jobs : 1);
    PackageWalk walk(settings, console, result, errorText);
    const bool ran = walk.Run();
    console.Drain();
    if (console.failed())
        result.failed = true;
    return ran;
}
