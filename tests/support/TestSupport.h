// Helpers shared by the tests: scratch directories, file bytes, hand-made packages
// and running the built tools.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

#ifdef _WIN32
constexpr bool kWindowsHost = true;
#else
constexpr bool kWindowsHost = false;
#endif

Bytes ToBytes(const std::string& text);
Bytes ReadFileBytes(const std::string& path);
// The regular file `path` through LoadImageMemory; null without touching the decoders'
// error state when there is no such file.
class CImage;
CImage* LoadImageFile(const std::string& path);
std::string ReadFileText(const std::string& path);
void WriteFileBytes(const std::string& path, const Bytes& bytes);
bool FileExists(const std::string& path);
bool IsDirectory(const std::string& path);
// `text` as a text-mode file or console holds it: with CRLF line ends on Windows.
std::string HostLineEnds(const std::string& text);

// A fresh directory under the system's temporary folder, removed with its contents.
class ScratchDir {
public:
    // A new folder under `base`, or under the host's folder for temporary files.
    explicit ScratchDir(const char* base = nullptr);
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// Runs the current working directory elsewhere for the lifetime of the object.
class WorkingDirectory {
public:
    explicit WorkingDirectory(const std::string& path);
    ~WorkingDirectory();

private:
    std::string m_previous;
};

struct RunResult {
    int status = -1;      // exit status, or 128 + signal
    std::string out;      // standard output
    std::string err;      // standard error
};

// Runs `exe` with `args` in `cwd`, feeding `input` on standard input. On Windows the
// outputs' CRLF line ends come back as '\n' (a bare '\n' fails the test).
RunResult RunTool(const std::string& exe, const std::vector<std::string>& args,
                  const std::string& cwd, const std::string& input = "");

// What tells one file from another on its volume (the inode, or Windows' file index); 0
// when the file cannot be examined.
uint64_t FileIdentity(const std::string& path);

// Makes a fifo at `path`; false on hosts without them (Windows).
bool MakeFifo(const std::string& path);

// Whether `text` is `prefix` and then the host's text for an error: exactly `posixText`
// on POSIX hosts; on Windows any text, as the system's messages vary between versions.
testing::AssertionResult IsHostError(const std::string& text, const std::string& prefix, const char* posixText);

#ifndef _WIN32  // Windows has no limit on the size of a process's files
// Lets no file of this process grow beyond `limit` bytes while it lives: writes past it
// fail as on a full disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(uint64_t limit);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    uint64_t m_savedLimit = 0;
    void (*m_handler)(int) = nullptr;
};
#endif

// One entry of a package made by hand.
struct TestEntry {
    std::string name;
    Bytes data;          // bytes as stored in the package
    int32_t type = 2;
    int32_t method = 0;
};

// Package bytes in the flushed layout: header, then per entry its record followed by
// its data, records chained in order. `gap` dead bytes follow the data of every entry
// but the last, as flushing leaves them behind packed entries.
Bytes MakePackageBytes(const std::vector<TestEntry>& entries, size_t gap = 0);

// What compacting `package` must give: its header with compactFlag 1, the chain's records
// (every byte but the links and offset carried over) back to back, then their data.
Bytes Compacted(const Bytes& package);

// An RC_LZSS entry's stored bytes: unpacked length, then the stream.
Bytes Packed(const Bytes& data);

// A texture record: the 108-byte header with width, height, data offset, format and
// own-palette flag set, followed by `body`.
Bytes MakeRecordBytes(int32_t width, int32_t height, int32_t format, const Bytes& body,
                      int32_t ownPalette = 0, int32_t dataOffset = 108);

// Little-endian field access for checking and damaging package bytes.
int32_t GetI32(const Bytes& bytes, size_t offset);
void SetI32(Bytes& bytes, size_t offset, int32_t value);
