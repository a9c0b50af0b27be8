#include "host/DirectorySearch.h"

#include "common/StringUtil.h"

#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>

namespace {

bool MatchFrom(const char* pattern, const char* name)
{
    // Iterative match with one backtrack point for the latest '*'.
    const char* starPattern = nullptr;
    const char* starName = nullptr;
    while (*name != '\0') {
        if (*pattern == '*') {
            starPattern = ++pattern;
            starName = name;
        } else if (*pattern != '\0' && (*pattern == '?' || FoldAsciiCase(*pattern) == FoldAsciiCase(*name))) {
            ++pattern;
            ++name;
        } else if (starPattern) {
            pattern = starPattern;
            name = ++starName;
        } else {
            return false;
        }
    }
    while (*pattern == '*')
        ++pattern;
    return *pattern == '\0';
}

bool LessByName(const FoundFile& a, const FoundFile& b)
{
    const size_t common = std::min(a.name.size(), b.name.size());
    for (size_t i = 0; i < common; ++i) {
        const unsigned char left = static_cast<unsigned char>(FoldAsciiCase(a.name[i]));
        const unsigned char right = static_cast<unsigned char>(FoldAsciiCase(b.name[i]));
        if (left != right)
            return left < right;
    }
    if (a.name.size() != b.name.size())
        return a.name.size() < b.name.size();
    return a.name < b.name;
}

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

bool WildcardMatch(const char* pattern, const char* name)
{
    if (MatchFrom(pattern, name))
        return true;
    const size_t length = std::strlen(pattern);
    if (length >= 2 && std::strcmp(pattern + length - 2, ".*") == 0) {
        const std::string stem(pattern, length - 2);
        return MatchFrom(stem.c_str(), name);
    }
    return false;
}

std::string PatternDirectory(const std::string& pattern)
{
    const size_t slash = pattern.rfind('/');
    return slash == std::string::npos ? std::string() : pattern.substr(0, slash + 1);
}

bool DirectorySearch::Start(const std::string& pattern)
{
    m_directory = PatternDirectory(pattern);
    m_matches.clear();
    m_next = 0;
    const std::string namePattern = pattern.substr(m_directory.size());
    const std::string openPath = m_directory.empty() ? std::string(".") : m_directory;

    DIR* dir = opendir(openPath.c_str());
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
            const std::string path = m_directory + name;
            struct stat linkInfo {};
            struct stat targetInfo {};
            const bool haveLink = lstat(path.c_str(), &linkInfo) == 0;
            const bool haveTarget = stat(path.c_str(), &targetInfo) == 0;
            found.isSymlink = haveLink && S_ISLNK(linkInfo.st_mode);
            found.isDirectory = haveTarget && S_ISDIR(targetInfo.st_mode);
            found.isRegular = haveTarget && S_ISREG(targetInfo.st_mode);
        }
        m_matches.push_back(std::move(found));
    }
    closedir(dir);
    std::sort(m_matches.begin(), m_matches.end(), LessByName);
    return true;
}

bool DirectorySearch::Next(FoundFile& out)
{
    if (m_next >= m_matches.size())
        return false;
    out = m_matches[m_next++];
    return true;
}
