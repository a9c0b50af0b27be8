// Reading a directory on Windows, for DirectorySearch. The ANSI functions are used, as
// for the command line and fopen, so a found name opens as it is; names outside the
// ANSI code page cannot be reached either way.
#include "host/DirectoryListing.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstring>

const char kPathSeparators[] = "/\\";
const char kPathSeparator = '\\';
const bool kHostHasDrives = true;

namespace {

// The kind of what a reparse point (a symbolic link or junction) leads to; nothing
// when it leads nowhere.
void DescribeTarget(const std::string& path, FoundFile& found)
{
    const HANDLE target = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (target == INVALID_HANDLE_VALUE)
        return;
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileInformationByHandle(target, &info) && GetFileType(target) == FILE_TYPE_DISK) {
        found.isDirectory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        found.isRegular = !found.isDirectory;
    }
    CloseHandle(target);
}

}  // namespace

bool ListDirectory(const std::string& directory, const std::string& namePattern, std::vector<FoundFile>& matches)
{
    // Every name is asked for and matched here, so that matching follows the same rules
    // as on other hosts (the system's own matching also looks at short 8.3 names).
    WIN32_FIND_DATAA item;
    const HANDLE search = FindFirstFileA((directory + "*").c_str(), &item);
    if (search == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND;  // a drive's empty root
    do {
        const char* name = item.cFileName;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0 || !WildcardMatch(namePattern.c_str(), name))
            continue;
        FoundFile found;
        found.name = name;
        const DWORD attributes = item.dwFileAttributes;
        found.isSymlink = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        if (found.isSymlink) {
            DescribeTarget(directory + name, found);
        } else {
            found.isDirectory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            found.isRegular = !found.isDirectory && (attributes & FILE_ATTRIBUTE_DEVICE) == 0;
        }
        matches.push_back(std::move(found));
    } while (FindNextFileA(search, &item));
    FindClose(search);
    return true;
}
