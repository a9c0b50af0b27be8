// The host-independent part of directory search: wildcard matching, splitting a pattern
// into directory and name, and the order in which matches are returned.
#include "host/DirectorySearch.h"

#include "common/StringUtil.h"
#include "host/DirectoryListing.h"

#include <algorithm>
#include <cstring>

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

bool IsAsciiLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
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

bool IsPathSeparator(char c)
{
    return c != '\0' && std::strchr(kPathSeparators, c) != nullptr;
}

std::string PatternDirectory(const std::string& pattern)
{
    const size_t separator = pattern.find_last_of(kPathSeparators);
    if (separator != std::string::npos)
        return pattern.substr(0, separator + 1);
    const bool drive = kHostHasDrives && pattern.size() >= 2 && pattern[1] == ':' && IsAsciiLetter(pattern[0]);
    return drive ? pattern.substr(0, 2) : std::string();
}

bool DirectorySearch::Start(const std::string& pattern)
{
    m_directory = PatternDirectory(pattern);
    m_matches.clear();
    m_next = 0;
    const std::string namePattern = pattern.substr(m_directory.size());
    if (!ListDirectory(m_directory, namePattern, m_matches))
        return false;
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
