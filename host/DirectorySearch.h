// Directory enumeration with wildcards, the way the tools search for files.
// A pattern is split at its last directory separator ('/', on Windows also '\\') into a
// directory and a name pattern; names match with '*' and '?', ASCII case-insensitively;
// matches come sorted, so runs repeat on every host.
#pragma once

#include <string>
#include <vector>

struct FoundFile {
    std::string name;      // name only, no directory part
    bool isDirectory = false;  // a directory, or a link to one
    bool isRegular = false;    // a regular file, or a link to one (not a pipe, device, ...)
    bool isSymlink = false;    // the name itself is a symbolic link (on Windows, a reparse point)
};

// True when `name` matches the wildcard `pattern` ('*' any run, '?' one character,
// letters compared without case). A pattern ending in ".*" also matches the names that
// the part before it matches, so "*.*" matches every name.
bool WildcardMatch(const char* pattern, const char* name);

// The separator the host writes between folders in paths it makes: '/' on POSIX hosts,
// '\\' on Windows.
extern const char kPathSeparator;

// True for a character that ends a folder name in a path on this host.
bool IsPathSeparator(char c);

// The directory part of a pattern, with its trailing separator, or "" for the working
// directory. On Windows a drive prefix "X:" with no separator after it is the directory.
std::string PatternDirectory(const std::string& pattern);

// Find first / find next / close over one pattern.
class DirectorySearch {
public:
    // Reads the pattern's directory; false when it cannot be read (no matches then).
    bool Start(const std::string& pattern);
    // The next match in order; false when there is none left.
    bool Next(FoundFile& out);
    // Pattern's directory with its trailing separator, or "" (join it with a found name).
    const std::string& directory() const { return m_directory; }

private:
    std::string m_directory;
    std::vector<FoundFile> m_matches;
    size_t m_next = 0;
};
