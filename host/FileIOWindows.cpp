// Positioned I/O, whole-file reads and file removal on Windows. Positioned calls go to
// the stream's own handle with the offset in an OVERLAPPED; on a synchronous handle that
// also moves the handle's file position, which the stream never relies on, as every
// read and write of the packages goes through these calls.
#include "host/FileIO.h"

#include "host/WindowsError.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <io.h>

namespace {

constexpr size_t kMaxPiece = 1u << 30;  // one ReadFile or WriteFile call takes a DWORD

HANDLE HandleOf(std::FILE* file)
{
    return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
}

OVERLAPPED At(int64_t offset)
{
    OVERLAPPED position{};
    position.Offset = static_cast<DWORD>(static_cast<uint64_t>(offset));
    position.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
    return position;
}

DWORD PieceOf(size_t count)
{
    return static_cast<DWORD>(count < kMaxPiece ? count : kMaxPiece);
}

// A handle closed when it goes out of scope.
struct HandleCloser {
    HANDLE handle;
    ~HandleCloser()
    {
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
    }
};

}  // namespace

bool ReadAt(std::FILE* file, int64_t offset, void* dst, size_t count)
{
    if (!file || offset < 0)
        return false;
    const HANDLE handle = HandleOf(file);
    auto* out = static_cast<uint8_t*>(dst);
    while (count > 0) {
        OVERLAPPED position = At(offset);
        DWORD got = 0;
        if (!ReadFile(handle, out, PieceOf(count), &got, &position) || got == 0)
            return false;
        out += got;
        offset += got;
        count -= got;
    }
    return true;
}

size_t WriteAt(std::FILE* file, int64_t offset, const ByteSpan* spans, size_t spanCount)
{
    if (!file || offset < 0)
        return 0;
    const HANDLE handle = HandleOf(file);
    size_t done = 0;
    for (size_t i = 0; i < spanCount; ++i) {
        const auto* bytes = static_cast<const uint8_t*>(spans[i].data);
        for (size_t left = spans[i].size; left > 0;) {
            OVERLAPPED position = At(offset + static_cast<int64_t>(done));
            DWORD written = 0;
            if (!WriteFile(handle, bytes, PieceOf(left), &written, &position) || written == 0)
                return done;
            bytes += written;
            left -= written;
            done += written;
        }
    }
    return done;
}

int64_t FileLength(std::FILE* file)
{
    LARGE_INTEGER size{};
    if (!file || !GetFileSizeEx(HandleOf(file), &size))
        return -1;
    return static_cast<int64_t>(size.QuadPart);
}

bool ReadWholeFile(const std::string& path, size_t maxSize, FileBytes& bytes, std::string& errorText)
{
    HandleCloser input{CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr)};
    LARGE_INTEGER length{};
    if (input.handle == INVALID_HANDLE_VALUE) {
        errorText = LastWindowsErrorText();
        return false;
    }
    // Consoles, pipes and devices are not files; reading one could block the run.
    const bool regular = GetFileType(input.handle) == FILE_TYPE_DISK;
    if (!regular || !GetFileSizeEx(input.handle, &length) || static_cast<uint64_t>(length.QuadPart) > maxSize) {
        errorText = regular ? "file too large" : "not a regular file";
        return false;
    }
    const size_t size = static_cast<size_t>(length.QuadPart);
    bytes.data = AllocateBytes(size);
    if (!bytes.data) {
        errorText = WindowsErrorText(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    size_t done = 0;
    while (done < size) {
        DWORD got = 0;
        if (!ReadFile(input.handle, bytes.data.get() + done, PieceOf(size - done), &got, nullptr)) {
            errorText = LastWindowsErrorText();
            return false;
        }
        if (got == 0)
            break;  // the file shrank since it was opened: what was there is what counts
        done += got;
    }
    bytes.size = done;
    return true;
}

bool PathExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

namespace {

// Volume serial number and file index of an existing file or folder.
bool Identify(const std::string& path, BY_HANDLE_FILE_INFORMATION& info)
{
    const HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const bool known = GetFileInformationByHandle(file, &info) != 0;
    CloseHandle(file);
    return known;
}

}  // namespace

bool IsSameFile(const std::string& first, const std::string& second)
{
    BY_HANDLE_FILE_INFORMATION firstInfo{};
    BY_HANDLE_FILE_INFORMATION secondInfo{};
    return Identify(first, firstInfo) && Identify(second, secondInfo) &&
           firstInfo.dwVolumeSerialNumber == secondInfo.dwVolumeSerialNumber &&
           firstInfo.nFileIndexHigh == secondInfo.nFileIndexHigh && firstInfo.nFileIndexLow == secondInfo.nFileIndexLow;
}

bool IsFolder(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsWritableFile(const std::string& path, std::string& reason)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        reason = LastWindowsErrorText();
        return false;
    }
    if (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) {
        reason = WindowsErrorText(ERROR_ACCESS_DENIED);
        return false;
    }
    return true;
}

bool RemoveFile(const std::string& path, std::string& errorText)
{
    if (DeleteFileA(path.c_str()))
        return true;
    errorText = LastWindowsErrorText();
    return false;
}
