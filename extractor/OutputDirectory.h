// Making the extractor's output directories, and one package's folder with the names of
// the files written into it.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>

// Makes one directory; an existing one is fine. False, with "mkdir <path>: <host's
// error text>" in `errorText`, otherwise.
bool MakeDirectory(const std::string& path, std::string& errorText);

// Makes every directory the path names up to its last '/' or '\\', shortest first, and
// stops at the first failure. A leading separator is never a split point, and a leading
// drive prefix ("c:") is never made by itself. Text after the last separator is not made.
bool MakeDirectoryPath(const std::string& path, std::string& errorText);

// A file to be written into a package's folder.
struct OutputFile {
    std::string path;      // the folder, '/', then the name
    std::string name;      // stem, "~K" when renamed, extension
    bool renamed = false;  // "~K" was added
};

// One package's output folder. It is made when the first file is written into it, so a
// package that gives no file leaves no empty folder behind. Entry names are compared
// as lookups compare them, ASCII letter case aside.
class PackageOutput {
public:
    // `folder`: the output directory followed by the package's base name.
    explicit PackageOutput(std::string folder) : m_Folder(std::move(folder)) {}

    // Counts an entry of the package; called for every entry, in directory order. Returns
    // how many entries of its name have been counted, this one included.
    int32_t CountEntry(const char* entryName);

    // The file for the `ordinal`-th entry of a name: stem + extension for the first, stem
    // + "~K" + extension for the K-th. A name given out before (two entry names that make
    // one file name) takes the next K that is still free.
    OutputFile NameFile(const std::string& stem, const char* extension, int32_t ordinal);

    // Makes the folder on the first call; later calls do nothing. False, with the text of
    // MakeDirectory, when it cannot be made.
    bool MakeFolder(std::string& errorText);

private:
    std::string m_Folder;
    bool m_Made = false;
    std::map<std::string, int32_t> m_EntryCounts;  // folded entry name -> entries so far
    std::set<std::string> m_Names;                 // folded file names given out
};
