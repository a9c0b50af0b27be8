// Mtxtrim's depth-first walk over the working directory.
#include "optimizer/OptimizeTree.h"

#include "archive/PackageStaging.h"
#include "archive/ResFile.h"
#include "host/DirectorySearch.h"
#include "host/FileIO.h"

#include <cstdio>
#include <cstring>
#include <string>

const char kTrimTitle[] = "Mtxtrim v1.0";
const char kTrimUsage[] = "usage: Mtxtrim [folder]\n";

namespace {

constexpr char kMatchAll[] = "*.*";

enum class TrimOutcome { Compacted, Failed, NotAPackage };

// Compacts one file if it is a package.
TrimOutcome OptimizeFile(const std::string& path)
{
    CResFile package(path.c_str());
    package.Open(RA_READ);
    if (package.mfGetError())
        return TrimOutcome::NotAPackage;  // or not a readable one: skipped silently
    RemoveLeftoverStagingOf(path);
    std::printf(" Process: '%s'\n", path.c_str());
    if (!package.mfOptimize(0)) {
        std::printf("Warning: %s\n", package.mfGetError());
        return TrimOutcome::Failed;
    }
    return TrimOutcome::Compacted;
}

bool IsOptionLike(const std::string& arg)
{
    return arg.empty() || arg[0] == '-' || arg[0] == '+' || arg == "/?";
}

}  // namespace

bool TrimPrefixFor(const std::vector<std::string>& args, std::string& prefix)
{
    if (args.empty()) {
        prefix.clear();
        return true;
    }
    const std::string& folder = args[0];
    if (args.size() > 1 || IsOptionLike(folder) || !IsFolder(folder))
        return false;
    const char last = folder.back();
    prefix = IsPathSeparator(last) ? folder : folder + kPathSeparator;
    return true;
}

int32_t OptimizeTree(const char* prefix, int32_t count)
{
    int32_t failures = 0;
    return OptimizeTree(prefix, count, failures);
}

int32_t OptimizeTree(const char* prefix, int32_t count, int32_t& failures)
{
    DirectorySearch search;
    if (!search.Start(std::string(prefix) + kMatchAll))
        return count;
    FoundFile found;
    while (search.Next(found)) {
        // Links are never followed: a link to a parent would recurse without end, and a
        // link to a file could lead outside the tree or to a package met twice.
        if (found.name[0] == '.' || found.isSymlink)
            continue;
        const std::string path = std::string(prefix) + found.name;
        if (found.isDirectory) {
            count = OptimizeTree((path + kPathSeparator).c_str(), count, failures);
            continue;
        }
        // Only regular files are opened (a pipe would block the run), and a path longer
        // than the handle's name buffer is never opened cut short.
        if (!found.isRegular || path.size() >= kResNameCapacity)
            continue;
        switch (OptimizeFile(path)) {
        case TrimOutcome::Compacted:
            ++count;
            break;
        case TrimOutcome::Failed:
            ++failures;
            break;
        case TrimOutcome::NotAPackage:
            break;
        }
    }
    return count;
}
