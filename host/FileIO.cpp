// Positioned I/O, whole-file reads and file removal on POSIX hosts.
#include "host/FileIO.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>
#include <vector>

namespace {

struct DescriptorCloser {
    int fd;
    ~DescriptorCloser()
    {
        if (fd >= 0)
            close(fd);
    }
};

}  // namespace

bool ReadAt(std::FILE* file, int64_t offset, void* dst, size_t count)
{
    if (!file || offset < 0)
        return false;
    const int fd = fileno(file);
    auto* out = static_cast<uint8_t*>(dst);
    while (count > 0) {
        const ssize_t got = pread(fd, out, count, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        out += got;
        offset += got;
        count -= static_cast<size_t>(got);
    }
    return true;
}

size_t WriteAt(std::FILE* file, int64_t offset, const ByteSpan* spans, size_t spanCount)
{
    if (!file || offset < 0)
        return 0;
    std::vector<iovec> pieces;
    for (size_t i = 0; i < spanCount; ++i) {
        if (spans[i].size)
            pieces.push_back({const_cast<void*>(spans[i].data), spans[i].size});
    }
    const int fd = fileno(file);
    iovec* next = pieces.data();
    size_t left = pieces.size();
    size_t done = 0;
    while (left > 0) {
        const int batch = static_cast<int>(left < IOV_MAX ? left : IOV_MAX);
        const ssize_t written = pwritev(fd, next, batch, static_cast<off_t>(offset + static_cast<int64_t>(done)));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            break;
        done += static_cast<size_t>(written);
        // Step over what went out: whole pieces, then the front of a partly written one.
        size_t consumed = static_cast<size_t>(written);
        while (left > 0 && consumed >= next->iov_len) {
            consumed -= next->iov_len;
            ++next;
            --left;
        }
        if (left > 0) {
            next->iov_base = static_cast<uint8_t*>(next->iov_base) + consumed;
            next->iov_len -= consumed;
        }
    }
    return done;
}

int64_t FileLength(std::FILE* file)
{
    struct stat info {};
    if (!file || fstat(fileno(file), &info) != 0)
        return -1;
    return static_cast<int64_t>(info.st_size);
}

bool ReadWholeFile(const std::string& path, size_t maxSize, FileBytes& bytes, std::string& errorText)
{
    // Non-blocking, so that opening a pipe cannot stall the run.
    DescriptorCloser input{open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)};
    struct stat info {};
    if (input.fd < 0 || fstat(input.fd, &info) != 0) {
        errorText = std::strerror(errno);
        return false;
    }
    if (!S_ISREG(info.st_mode) || info.st_size < 0 || static_cast<uint64_t>(info.st_size) > maxSize) {
        errorText = S_ISREG(info.st_mode) ? "file too large" : "not a regular file";
        return false;
    }
    const size_t size = static_cast<size_t>(info.st_size);
    bytes.data = AllocateBytes(size);
    if (!bytes.data) {
        errorText = std::strerror(ENOMEM);
        return false;
    }
    size_t done = 0;
    while (done < size) {
        const ssize_t got = read(input.fd, bytes.data.get() + done, size - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            errorText = std::strerror(errno);
            return false;
        }
        if (got == 0)
            break;  // the file shrank since it was opened: what was there is what counts
        done += static_cast<size_t>(got);
    }
    bytes.size = done;
    return true;
}

bool PathExists(const std::string& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

bool IsSameFile(const std::string& first, const std::string& second)
{
    struct stat firstInfo {};
    struct stat secondInfo {};
    return stat(first.c_str(), &firstInfo) == 0 && stat(second.c_str(), &secondInfo) == 0 &&
           firstInfo.st_dev == secondInfo.st_dev && firstInfo.st_ino == secondInfo.st_ino;
}

bool IsFolder(const std::string& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool IsWritableFile(const std::string& path, std::string& reason)
{
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || access(path.c_str(), W_OK) != 0) {
        reason = std::strerror(errno);
        return false;
    }
    if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
        reason = std::strerror(EACCES);
        return false;
    }
    return true;
}

bool RemoveFile(const std::string& path, std::string& errorText)
{
    if (unlink(path.c_str()) == 0)
        return true;
    errorText = std::strerror(errno);
    return false;
}
