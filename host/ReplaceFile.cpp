// Atomic file replacement through a synced temporary file and rename(2).
#include "host/ReplaceFile.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

const char kReplaceTempPrefix[] = ".mtxreplace-";

namespace {

constexpr size_t kCopyChunk = 1 << 20;
constexpr size_t kKernelCopyChunk = 64 << 20;  // per call; no user memory is involved
// How much of the target's name goes into the temporary's name, so that the temporary's
// name stays within the host's limit for one name.
constexpr size_t kTempNameStem = 200;

// A file descriptor closed when it goes out of scope.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : m_fd(fd) {}
    ~FileDescriptor() { Close(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return m_fd; }
    void Reset(int fd)
    {
        Close();
        m_fd = fd;
    }
    // Closes now and reports whether the close succeeded (a write may fail only here).
    bool Close()
    {
        if (m_fd < 0)
            return true;
        const int result = close(m_fd);
        m_fd = -1;
        return result == 0;
    }

private:
    int m_fd;
};

// The temporary file: removed on destruction unless it was renamed away.
class TempFile {
public:
    ~TempFile()
    {
        if (!m_path.empty()) {
            m_fd.Close();
            unlink(m_path.c_str());
        }
    }
    bool Create(const std::string& pattern)
    {
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        const int fd = mkstemp(name.data());
        if (fd < 0)
            return false;
        m_path = name.data();
        m_fd.Reset(fd);
        return true;
    }
    int fd() const { return m_fd.get(); }
    bool Close() { return m_fd.Close(); }
    const std::string& path() const { return m_path; }
    void Release() { m_path.clear(); }

private:
    std::string m_path;
    FileDescriptor m_fd;
};

std::string HostError(const char* what, const std::string& path)
{
    return std::string(what) + " " + path + ": " + std::strerror(errno);
}

// Writes all of `size` bytes, resuming after partial writes and interruptions.
bool WriteAll(int fd, const char* bytes, size_t size)
{
    while (size > 0) {
        const ssize_t written = write(fd, bytes, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (written == 0) {
            errno = EIO;
            return false;
        }
        bytes += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

enum class CopyResult { Done, Unsupported, ReadFailed, WriteFailed };

// Copies the whole of `from` to `to` inside the kernel, which spares a trip of every
// byte through user memory. Unsupported (with nothing copied) when the host cannot do
// it for these files, so that the caller falls back to reading and writing.
CopyResult CopyInKernel(int from, int to)
{
    bool copiedAny = false;
    for (;;) {
        const ssize_t copied = copy_file_range(from, nullptr, to, nullptr, kKernelCopyChunk, 0);
        if (copied < 0) {
            if (errno == EINTR)
                continue;
            const bool unsupported = errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP;
            if (unsupported && !copiedAny)
                return CopyResult::Unsupported;
            return CopyResult::WriteFailed;
        }
        if (copied == 0)
            return CopyResult::Done;
        copiedAny = true;
    }
}

// Copies the whole of `from` to `to` through one bounded buffer.
CopyResult CopyThroughBuffer(int from, int to)
{
    std::unique_ptr<char[]> buffer(new char[kCopyChunk]);
    for (;;) {
        const ssize_t got = read(from, buffer.get(), kCopyChunk);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return CopyResult::ReadFailed;
        }
        if (got == 0)
            return CopyResult::Done;
        if (!WriteAll(to, buffer.get(), static_cast<size_t>(got)))
            return CopyResult::WriteFailed;
    }
}

// The path that is really replaced: a symbolic link's final target, else the path.
std::string ResolveTarget(const std::string& target)
{
    struct stat info {};
    if (lstat(target.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
        return target;
    char resolved[PATH_MAX];
    return realpath(target.c_str(), resolved) ? std::string(resolved) : target;
}

// The directory part of a path with its trailing '/', or "" for the working directory.
std::string DirectoryOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Makes a rename in `directory` durable; a directory that cannot be synced is no
// failure, the replacement has already happened.
void SyncDirectory(const std::string& directory)
{
    FileDescriptor parent(open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (parent.get() >= 0 && fsync(parent.get()) != 0) {
    }
}

mode_t DefaultFileMode()
{
    const mode_t mask = umask(0);
    umask(mask);
    return static_cast<mode_t>(0666 & ~mask);
}

}  // namespace

bool ReplaceFileFrom(const std::string& target, const std::string& source, std::string& errorText)
{
    const std::string path = ResolveTarget(target);
    const std::string directory = DirectoryOf(path);
    const std::string baseName = path.substr(directory.size());

    // The new file keeps the old one's permission bits (and owner, where allowed).
    struct stat targetInfo {};
    const bool targetExists = stat(path.c_str(), &targetInfo) == 0;
    if (!targetExists && errno != ENOENT) {
        errorText = HostError("cannot examine", path);
        return false;
    }
    const mode_t mode = targetExists ? (targetInfo.st_mode & 07777) : DefaultFileMode();

    FileDescriptor input(open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (input.get() < 0) {
        errorText = HostError("cannot open", source);
        return false;
    }
    TempFile temp;
    if (!temp.Create(directory + kReplaceTempPrefix + baseName.substr(0, kTempNameStem) + ".XXXXXX")) {
        errorText = HostError("cannot create a temporary file in", directory.empty() ? "." : directory);
        return false;
    }
    CopyResult copy = CopyInKernel(input.get(), temp.fd());
    if (copy == CopyResult::Unsupported)
        copy = CopyThroughBuffer(input.get(), temp.fd());
    if (copy != CopyResult::Done) {
        errorText = copy == CopyResult::ReadFailed ? HostError("cannot read", source) : HostError("cannot write", temp.path());
        return false;
    }
    if (targetExists && fchown(temp.fd(), targetInfo.st_uid, targetInfo.st_gid) != 0) {
        // Only a privileged process may give a file away; the new file stays ours.
    }
    if (fchmod(temp.fd(), mode) != 0) {
        errorText = HostError("cannot set the permissions of", temp.path());
        return false;
    }
    if (fsync(temp.fd()) != 0) {
        errorText = HostError("cannot sync", temp.path());
        return false;
    }
    if (!temp.Close()) {
        errorText = HostError("cannot close", temp.path());
        return false;
    }
    if (rename(temp.path().c_str(), path.c_str()) != 0) {
        errorText = HostError("cannot rename over", path);
        return false;
    }
    temp.Release();

    SyncDirectory(directory);
    return true;
}

bool MoveFileOver(const std::string& target, const std::string& staged, std::string& errorText)
{
    const std::string path = ResolveTarget(target);
    struct stat targetInfo {};
    struct stat stagedInfo {};
    if (stat(path.c_str(), &targetInfo) != 0) {
        errorText = HostError("cannot examine", path);
        return false;
    }
    if (stat(staged.c_str(), &stagedInfo) != 0) {
        errorText = HostError("cannot examine", staged);
        return false;
    }
    if (stagedInfo.st_dev != targetInfo.st_dev) {
        if (!ReplaceFileFrom(target, staged, errorText))
            return false;
        unlink(staged.c_str());
        return true;
    }
    FileDescriptor file(open(staged.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) {
        errorText = HostError("cannot open", staged);
        return false;
    }
    if (fchown(file.get(), targetInfo.st_uid, targetInfo.st_gid) != 0) {
        // Only a privileged process may give a file away; the new file stays ours.
    }
    if (fchmod(file.get(), targetInfo.st_mode & 07777) != 0) {
        errorText = HostError("cannot set the permissions of", staged);
        return false;
    }
    if (fsync(file.get()) != 0) {
        errorText = HostError("cannot sync", staged);
        return false;
    }
    if (rename(staged.c_str(), path.c_str()) != 0) {
        errorText = HostError("cannot rename over", path);
        return false;
    }
    SyncDirectory(DirectoryOf(path));
    return true;
}

bool IsSameFile(const std::string& first, const std::string& second)
{
    struct stat firstInfo {};
    struct stat secondInfo {};
    return stat(first.c_str(), &firstInfo) == 0 && stat(second.c_str(), &secondInfo) == 0 &&
           firstInfo.st_dev == secondInfo.st_dev && firstInfo.st_ino == secondInfo.st_ino;
}
