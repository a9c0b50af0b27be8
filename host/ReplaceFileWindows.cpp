// Atomic file replacement on Windows: a temporary file beside the target, flushed to
// disk, then renamed over the target with MoveFileEx. A read-only target is not
// replaced (the rename fails), as Windows keeps such a file from being deleted.
#include "host/ReplaceFile.h"

#include "host/DirectorySearch.h"
#include "host/WindowsError.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <memory>

const char kReplaceTempPrefix[] = ".mtxreplace-";

namespace {

constexpr DWORD kCopyChunk = 1 << 20;
// How much of the target's name goes into the temporary's name, so that the temporary's
// name stays within the host's limit for one name.
constexpr size_t kTempNameStem = 200;
constexpr int kTempNameAttempts = 100;

// A handle closed when it goes out of scope.
class FileHandle {
public:
    explicit FileHandle(HANDLE handle = INVALID_HANDLE_VALUE) : m_handle(handle) {}
    ~FileHandle() { Close(); }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    HANDLE get() const { return m_handle; }
    bool valid() const { return m_handle != INVALID_HANDLE_VALUE; }
    void Reset(HANDLE handle)
    {
        Close();
        m_handle = handle;
    }
    bool Close()
    {
        if (!valid())
            return true;
        const bool closed = CloseHandle(m_handle) != 0;
        m_handle = INVALID_HANDLE_VALUE;
        return closed;
    }

private:
    HANDLE m_handle;
};

// The temporary file: deleted on destruction unless it was renamed away.
class TempFile {
public:
    ~TempFile()
    {
        if (!m_path.empty()) {
            m_file.Close();
            DeleteFileA(m_path.c_str());
        }
    }
    // Creates a new file named `stem` plus a suffix no other file has.
    bool Create(const std::string& stem)
    {
        for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
            char suffix[32];
            std::snprintf(suffix, sizeof suffix, ".%lx%llx", GetCurrentProcessId(),
                          static_cast<unsigned long long>(GetTickCount64()) + static_cast<unsigned long long>(attempt));
            const std::string path = stem + suffix;
            m_file.Reset(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
            if (m_file.valid()) {
                m_path = path;
                return true;
            }
            if (GetLastError() != ERROR_FILE_EXISTS)
                return false;
        }
        return false;
    }
    HANDLE handle() const { return m_file.get(); }
    bool Close() { return m_file.Close(); }
    const std::string& path() const { return m_path; }
    void Release() { m_path.clear(); }

private:
    std::string m_path;
    FileHandle m_file;
};

std::string HostError(const char* what, const std::string& path)
{
    return std::string(what) + " " + path + ": " + LastWindowsErrorText();
}

HANDLE OpenForReading(const std::string& path)
{
    return CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN,
                       nullptr);
}

// Volume serial number and file index of an existing file or directory.
bool Identify(const std::string& path, BY_HANDLE_FILE_INFORMATION& info)
{
    FileHandle file(CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return file.valid() && GetFileInformationByHandle(file.get(), &info);
}

// Renames `from` over `to`, written through to disk. A read-only `to` is refused with
// the error Windows gives for it, also where the rename itself would not check.
bool RenameOver(const std::string& from, const std::string& to)
{
    const DWORD attributes = GetFileAttributesA(to.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

enum class CopyResult { Done, ReadFailed, WriteFailed };

// Copies the whole of `from` to `to` through one bounded buffer.
CopyResult CopyThroughBuffer(HANDLE from, HANDLE to)
{
    std::unique_ptr<char[]> buffer(new char[kCopyChunk]);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(from, buffer.get(), kCopyChunk, &got, nullptr))
            return CopyResult::ReadFailed;
        if (got == 0)
            return CopyResult::Done;
        for (DWORD done = 0; done < got;) {
            DWORD written = 0;
            if (!WriteFile(to, buffer.get() + done, got - done, &written, nullptr) || written == 0)
                return CopyResult::WriteFailed;
            done += written;
        }
    }
}

}  // namespace

bool ReplaceFileFrom(const std::string& target, const std::string& source, std::string& errorText)
{
    const std::string directory = PatternDirectory(target);
    const std::string baseName = target.substr(directory.size());

    FileHandle input(OpenForReading(source));
    if (!input.valid()) {
        errorText = HostError("cannot open", source);
        return false;
    }
    TempFile temp;
    if (!temp.Create(directory + kReplaceTempPrefix + baseName.substr(0, kTempNameStem))) {
        errorText = HostError("cannot create a temporary file in", directory.empty() ? "." : directory);
        return false;
    }
    const CopyResult copy = CopyThroughBuffer(input.get(), temp.handle());
    if (copy != CopyResult::Done) {
        errorText = copy == CopyResult::ReadFailed ? HostError("cannot read", source) : HostError("cannot write", temp.path());
        return false;
    }
    if (!FlushFileBuffers(temp.handle())) {
        errorText = HostError("cannot sync", temp.path());
        return false;
    }
    if (!temp.Close()) {
        errorText = HostError("cannot close", temp.path());
        return false;
    }
    if (!RenameOver(temp.path(), target)) {
        errorText = HostError("cannot rename over", target);
        return false;
    }
    temp.Release();
    return true;
}

bool MoveFileOver(const std::string& target, const std::string& staged, std::string& errorText)
{
    BY_HANDLE_FILE_INFORMATION targetInfo{};
    BY_HANDLE_FILE_INFORMATION stagedInfo{};
    if (!Identify(target, targetInfo)) {
        errorText = HostError("cannot examine", target);
        return false;
    }
    if (!Identify(staged, stagedInfo)) {
        errorText = HostError("cannot examine", staged);
        return false;
    }
    if (stagedInfo.dwVolumeSerialNumber != targetInfo.dwVolumeSerialNumber) {
        if (!ReplaceFileFrom(target, staged, errorText))
            return false;
        DeleteFileA(staged.c_str());
        return true;
    }
    FileHandle file(CreateFileA(staged.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        errorText = HostError("cannot open", staged);
        return false;
    }
    if (!FlushFileBuffers(file.get())) {
        errorText = HostError("cannot sync", staged);
        return false;
    }
    file.Close();
    if (!RenameOver(staged, target)) {
        errorText = HostError("cannot rename over", target);
        return false;
    }
    return true;
}

bool IsSameFile(const std::string& first, const std::string& second)
{
    BY_HANDLE_FILE_INFORMATION firstInfo{};
    BY_HANDLE_FILE_INFORMATION secondInfo{};
    return Identify(first, firstInfo) && Identify(second, secondInfo) &&
           firstInfo.dwVolumeSerialNumber == secondInfo.dwVolumeSerialNumber &&
           firstInfo.nFileIndexHigh == secondInfo.nFileIndexHigh && firstInfo.nFileIndexLow == secondInfo.nFileIndexLow;
}
