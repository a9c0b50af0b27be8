// Staged replacement and scratch files on Windows: a file opened without delete sharing
// (so no other run can remove it while it is written), FlushFileBuffers and MoveFileEx,
// and scratch files deleted on close.
#include "host/StagedFile.h"

#include "host/WindowsError.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdint>
#include <cstdio>

namespace {

constexpr int kScratchNameAttempts = 100;

std::string HostError(const char* what, const std::string& path)
{
    return std::string(what) + " " + path + ": " + LastWindowsErrorText();
}

// A stdio stream over an open handle, which it then owns; null (the handle closed) on failure.
std::FILE* StreamFor(HANDLE handle)
{
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDWR | _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        return nullptr;
    }
    std::FILE* stream = _fdopen(fd, "w+b");
    if (!stream)
        _close(fd);
    return stream;
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

}  // namespace

std::string ResolveLinks(const std::string& path)
{
    return path;
}

std::FILE* CreateStagingFile(const std::string& path, std::string& errorText)
{
    const HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        errorText = LastWindowsErrorText();
        return nullptr;
    }
    std::FILE* stream = StreamFor(handle);
    if (!stream) {
        errorText = WindowsErrorText(ERROR_NOT_ENOUGH_MEMORY);
        DeleteFileA(path.c_str());
    }
    return stream;
}

void DiscardStagingFile(std::FILE* stream, const std::string& path)
{
    std::fclose(stream);
    DeleteFileA(path.c_str());
}

void RemoveStagingLeftover(const std::string& path)
{
    // A file still being written is open without delete sharing, so this fails for it.
    DeleteFileA(path.c_str());
}

bool MoveStagedOver(std::FILE* stream, const std::string& staged, const std::string& target,
                    std::string& errorText)
{
    bool done = true;
    if (std::fflush(stream) != 0 || std::ferror(stream)) {
        SetLastError(ERROR_WRITE_FAULT);
        errorText = HostError("cannot write", staged);
        done = false;
    } else if (!FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))))) {
        errorText = HostError("cannot sync", staged);
        done = false;
    }
    // Windows renames no file that is open without delete sharing: close first.
    if (std::fclose(stream) != 0 && done) {
        SetLastError(ERROR_WRITE_FAULT);
        errorText = HostError("cannot close", staged);
        done = false;
    }
    if (done && !RenameOver(staged, target)) {
        errorText = HostError("cannot rename over", target);
        done = false;
    }
    if (!done)
        DeleteFileA(staged.c_str());
    return done;
}

std::FILE* CreateScratchFile(const std::string& directory, std::string& errorText)
{
    for (int attempt = 0; attempt < kScratchNameAttempts; ++attempt) {
        char name[64];
        std::snprintf(name, sizeof name, ".mtxscratch-%lx-%d", GetCurrentProcessId(), attempt);
        const std::string path = directory + name;
        const HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE,
                                          nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            std::FILE* stream = StreamFor(handle);
            if (!stream)
                errorText = WindowsErrorText(ERROR_NOT_ENOUGH_MEMORY);
            return stream;
        }
        if (GetLastError() != ERROR_FILE_EXISTS) {
            errorText = LastWindowsErrorText();
            return nullptr;
        }
    }
    errorText = WindowsErrorText(ERROR_FILE_EXISTS);
    return nullptr;
}
