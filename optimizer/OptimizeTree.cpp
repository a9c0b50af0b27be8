// Mtxtrim's depth-first walk over the working directory.
#include "optimizer/OptimizeTree.h"

#include "archive/ResFile.h"
#include "host/DirectorySearch.h"

#include <cstdio>
#include <cstring>
#include <string>

const char kTrimTitle[] = "Mtxtrim v1.0";

namespace {

constexpr char kMatchAll[] = "*.*";

// Compacts one file if it is a package; true when it was compacted.
bool OptimizeFile(const std::string& path)
{
    CResFile package(path.c_str());
    package.Open(RA_READ);
    if (package.mfGetError())
        return false;  // not a package, or not a readable one: skipped silently
    std::printf(" Process: '%s'\n", path.c_str());
    if (!package.mfOptimize(0)) {
        std::printf("Warning: %s\n", package.mfGetError());
        return false;
    }
    return true;
}

}  // namespace

int32_t OptimizeTree(const char* prefix, int32_t count)
{
    DirectorySearch search;
    if (!search.Start(std::string(prefix) + kMatchAll))
        return count;
    const bool atTop = prefix[0] == '\0';
    FoundFile found;
    while (search.Next(found)) {
        // Links are never followed: a link to a parent would recurse without end, and a
        // link to a file could lead outside the tree or to a package met twice.
        if (found.name[0] == '.' || found.isSymlink)
            continue;
        if (atTop && found.name == kOptimizeTempName)
            continue;
        const std::string path = std::string(prefix) + found.name;
        if (found.isDirectory)
            count = OptimizeTree((path + "/").c_str(), count);
        // Only regular files are opened (a pipe would block the run), and a path longer
        // than the handle's name buffer is never opened cut short.
        else if (found.isRegular && path.size() < kResNameCapacity && OptimizeFile(path))
            ++count;
    }
    return count;
}
