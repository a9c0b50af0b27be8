// Reading a directory on POSIX hosts, for DirectorySearch.
#include "host/DirectoryListing.h"

#include <cstring>
#include <dirent.h>
#include <sys/stat.h>

const char kPathSeparators[] = "/";
const char kPathSeparator = '/';
const bool kHostHasDrives = false;

namespace {

// Fills the kind of a match from the type its directory entry carries, which saves two
// stat calls per name; false when the entry leaves the kind open (unknown, or a link
// whose target must be looked at).
bool DescribeFromEntry(unsigned char entryType, FoundFile& found)
{
    switch (entryType) {
    case DT_REG:
        found.isRegular = true;
        return true;
    case DT_DIR:
        found.isDirectory = true;
        return true;
    case DT_FIFO:
    case DT_CHR:
    case DT_BLK:
    case DT_SOCK:
        return true;
    default:
        return false;
    }
}

}  // namespace

bool ListDirectory(const std::string& directory, const std::string& namePattern, std::vector<FoundFile>& matches)
{
    DIR* dir = opendir(directory.empty() ? "." : directory.c_str());
    if (!dir)
        return false;
    while (const dirent* item = readdir(dir)) {
        const char* name = item->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        if (!WildcardMatch(namePattern.c_str(), name))
            continue;
        FoundFile found;
        found.name = name;
        if (!DescribeFromEntry(item->d_type, found)) {
            const std::string path = directory + name;
            struct stat linkInfo {};
            struct stat targetInfo {};
            const bool haveLink = lstat(path.c_str(), &linkInfo) == 0;
            const bool haveTarget = stat(path.c_str(), &targetInfo) == 0;
            found.isSymlink = haveLink && S_ISLNK(linkInfo.st_mode);
            found.isDirectory = haveTarget && S_ISDIR(targetInfo.st_mode);
            found.isRegular = haveTarget && S_ISREG(targetInfo.st_mode);
        }
        matches.push_back(std::move(found));
    }
    closedir(dir);
    return true;
}
