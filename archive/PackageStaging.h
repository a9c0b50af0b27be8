// The one way a package file is written: into a staging file in the package's own folder,
// which then replaces the package whole. A run that ends early leaves the package as it was.
#pragma once

#include <cstdio>
#include <string>

// The staging file's name begins with "." and ends in this, never in ".mtx", so no walk
// or pattern takes it for a package.
constexpr char kStagingSuffix[] = ".staging";

// The staging file that belongs to `packagePath`: beside the file the path leads to, named
// "." + its name + kStagingSuffix (a very long name is shortened to fit the host's limit).
std::string StagingPathFor(const std::string& packagePath);

// Removes the staging file a killed run left beside `packagePath`, unless a live run is
// still writing it.
void RemoveLeftoverStagingOf(const std::string& packagePath);

class PackageStaging {
public:
    explicit PackageStaging(const std::string& packagePath);
    // A staging file that was not committed is removed.
    ~PackageStaging();
    PackageStaging(const PackageStaging&) = delete;
    PackageStaging& operator=(const PackageStaging&) = delete;

    // Removes a leftover of a killed run and creates the staging file; false, with the
    // host's reason, when it cannot be created.
    bool Create(std::string& errorText);
    // The staging file's stream, open for reading and writing, null before Create.
    std::FILE* stream() const { return m_stream; }
    // Replaces the package with the staging file, flushed and synced, with the package's
    // permissions. False, with the host's reason, when the package is left as it was.
    bool Commit(std::string& errorText);
    // Throws the staged bytes away; the package stays as it was.
    void Discard();

private:
    std::string m_target;   // the package file itself, links followed
    std::string m_path;     // the staging file
    std::FILE* m_stream = nullptr;
};
