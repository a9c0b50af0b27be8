// Helpers shared by the tests: scratch directories, file bytes, hand-made packages and running the built tools.
#pragma once

#include "archive/ResFile.h"
#include "image/Image.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

#ifdef _WIN32
constexpr bool kWindowsHost = true;
#else
constexpr bool kWindowsHost = false;
#endif

// The system's reasons as each host words them.
const std::string kNoSuchFolder = kWindowsHost ? "Path not found." : "No such file or directory";
const std::string kAccessDenied = kWindowsHost ? "Access denied." : "Permission denied";
const std::string kFileExists = kWindowsHost ? "File exists." : "File exists";

Bytes ToBytes(const std::string& text);
Bytes Prefix(const Bytes& bytes, size_t length);  // the first `length` bytes
Bytes operator+(Bytes first, const Bytes& second);
Bytes ReadFileBytes(const std::string& path);
std::string ReadFileText(const std::string& path);
void WriteFileBytes(const std::string& path, const Bytes& bytes);
bool FileExists(const std::string& path);
bool IsDirectory(const std::string& path);
std::set<std::string> FilesIn(const std::string& path);  // the names in a folder
// `text` as a text-mode file or console holds it: with CRLF line ends on Windows.
std::string HostLineEnds(const std::string& text);
// The image the loader's chain decodes from the whole file, or null.
std::unique_ptr<CImage> DecodeImageFile(const std::string& path);

// A fresh directory under the host's folder for temporary files, removed with its contents.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// Moves the working directory to `path` while the object lives.
class WorkingDirectory {
public:
    explicit WorkingDirectory(const std::string& path);
    ~WorkingDirectory();

private:
    std::string m_previous;
};

// A test that runs in a scratch directory of its own, with room for a host error text.
class InScratchDir : public testing::Test {
protected:
    InScratchDir() : m_inside(m_dir.path()) {}
    ScratchDir m_dir;
    WorkingDirectory m_inside;
    std::string m_error;
};

struct RunResult {
    int status = -1;  // exit status, or 128 + signal
    std::string out, err;
};

// Runs `exe` with `args` in `cwd`, feeding `input` on standard input. On Windows the outputs' CRLF line ends come
// back as '\n' (a bare '\n' fails the test).
RunResult RunTool(const std::string& exe, const std::vector<std::string>& args,
                  const std::string& cwd, const std::string& input = "");

// What tells one file from another on its volume (inode or file index); 0 when the file cannot be examined.
uint64_t FileIdentity(const std::string& path);

// Makes a fifo at `path`; false on hosts without them (Windows).
bool MakeFifo(const std::string& path);

// Whether `text` is `prefix` and then the host's text for an error: exactly `posixText` on POSIX hosts; on Windows
// any text, as the system's messages vary between versions.
testing::AssertionResult IsHostError(const std::string& text, const std::string& prefix, const char* posixText);

#ifndef _WIN32  // Windows has no limit on the size of a process's files
// Lets no file of this process grow beyond `limit` bytes while it lives: writes past it fail as on a full disk.
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

// Runs `exe` as RunTool does, killed by SIGXFSZ once it writes a file past `limit` bytes (counted in whole 512-byte
// blocks); returns the exit status.
int RunToolWithFileLimit(const std::string& exe, const std::vector<std::string>& args, const std::string& cwd,
                         size_t limit);
#endif

// One entry of a package made by hand, or read back unpacked.
struct TestEntry {
    std::string name;
    Bytes data;          // bytes as stored in the package
    int32_t type = RT_TEXTURE;
    int32_t method = RC_NONE;
};
bool operator==(const TestEntry& first, const TestEntry& second);
void PrintTo(const TestEntry& entry, std::ostream* out);

// Package bytes in the flushed layout: header, then per entry its record followed by its data, records chained in
// order. `gap` dead bytes follow the data of every entry but the last, as flushing leaves them behind packed entries.
Bytes MakePackageBytes(const std::vector<TestEntry>& entries, size_t gap = 0);
// Where record `index` of the package lies, following the chain from the header.
size_t RecordAt(const Bytes& package, size_t index);
// Every entry of the package in directory order, its data as mfFileRead delivers it.
std::vector<TestEntry> ReadEntries(const std::string& path);
// What compacting `package` must give: its header with compactFlag 1, the chain's records (every byte but the links
// and offset carried over) back to back, then their data.
Bytes Compacted(const Bytes& package);
// An RC_LZSS entry's stored bytes: unpacked length, then the stream.
Bytes Packed(const Bytes& data);
// A texture record: the 108-byte header with width, height, data offset, format and own-palette flag set, then `body`.
Bytes MakeRecordBytes(int32_t width, int32_t height, int32_t format, const Bytes& body,
                      int32_t ownPalette = 0, int32_t dataOffset = 108);

// Little-endian fields for checking and damaging package bytes; WithI32 changes a copy.
int32_t GetI32(const Bytes& bytes, size_t offset);
void SetI32(Bytes& bytes, size_t offset, int32_t value);
Bytes WithI32(Bytes bytes, size_t offset, int32_t value);

// The error text a handle holds, "" for none; and a call's result followed by that text.
std::string ErrorOf(const CResFile& package);
std::string Outcome(int64_t result, const CResFile& package);
