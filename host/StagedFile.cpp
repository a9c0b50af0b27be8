// Staged replacement and scratch files on POSIX hosts: exclusive creation with an
// advisory lock, fsync, rename(2), and unlinked scratch files.
#include "host/StagedFile.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr mode_t kNewFileMode = 0666;  // narrowed by the umask
constexpr char kScratchPattern[] = ".mtxscratch-XXXXXX";

std::string HostError(const char* what, const std::string& path)
{
    return std::string(what) + " " + path + ": " + std::strerror(errno);
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
    const int parent = open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (parent < 0)
        return;
    if (fsync(parent) != 0) {
        // Some file systems cannot sync a directory; the rename stands regardless.
    }
    close(parent);
}

std::FILE* StreamFor(int fd)
{
    std::FILE* stream = fdopen(fd, "w+b");
    if (!stream)
        close(fd);
    return stream;
}

}  // namespace

std::string ResolveLinks(const std::string& path)
{
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
        return path;
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

std::FILE* CreateStagingFile(const std::string& path, std::string& errorText)
{
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, kNewFileMode);
    if (fd < 0) {
        errorText = std::strerror(errno);
        return nullptr;
    }
    // The lock marks the file as in use; it goes with the last descriptor, also on a kill.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        errorText = std::strerror(errno);
        close(fd);
        unlink(path.c_str());
        return nullptr;
    }
    std::FILE* stream = StreamFor(fd);
    if (!stream) {
        errorText = std::strerror(errno);
        unlink(path.c_str());
    }
    return stream;
}

void DiscardStagingFile(std::FILE* stream, const std::string& path)
{
    // Unlinked while still locked, so the name is never one another run has just taken.
    unlink(path.c_str());
    std::fclose(stream);
}

void RemoveStagingLeftover(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat info {};
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && flock(fd, LOCK_EX | LOCK_NB) == 0)
        unlink(path.c_str());
    close(fd);
}

bool MoveStagedOver(std::FILE* stream, const std::string& staged, const std::string& target,
                    std::string& errorText)
{
    const int fd = fileno(stream);
    struct stat targetInfo {};
    const bool targetExists = stat(target.c_str(), &targetInfo) == 0;
    if (targetExists && fchown(fd, targetInfo.st_uid, targetInfo.st_gid) != 0) {
        // Only a privileged process may give a file away; the new file stays ours.
    }
    bool done = true;
    if (std::fflush(stream) != 0 || std::ferror(stream)) {
        errorText = HostError("cannot write", staged);
        done = false;
    } else if (targetExists && fchmod(fd, targetInfo.st_mode & 07777) != 0) {
        errorText = HostError("cannot set the permissions of", staged);
        done = false;
    } else if (fsync(fd) != 0) {
        errorText = HostError("cannot sync", staged);
        done = false;
    } else if (rename(staged.c_str(), target.c_str()) != 0) {
        // Renamed while still open and locked, so no other run can take it for a leftover.
        errorText = HostError("cannot rename over", target);
        done = false;
    }
    if (!done) {
        DiscardStagingFile(stream, staged);
        return false;
    }
    // Renamed already: a failing close can no longer cost the new bytes, which were synced.
    std::fclose(stream);
    SyncDirectory(DirectoryOf(target));
    return true;
}

std::FILE* CreateScratchFile(const std::string& directory, std::string& errorText)
{
    const std::string where = directory.empty() ? "." : directory;
    int fd = open(where.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) {
        // File systems without unnamed files: a named one, unlinked at once.
        std::string name = where + (where.back() == '/' ? "" : "/") + kScratchPattern;
        std::vector<char> pattern(name.begin(), name.end());
        pattern.push_back('\0');
        fd = mkstemp(pattern.data());
        if (fd >= 0)
            unlink(pattern.data());
    }
    if (fd < 0) {
        errorText = std::strerror(errno);
        return nullptr;
    }
    std::FILE* stream = StreamFor(fd);
    if (!stream)
        errorText = std::strerror(errno);
    return stream;
}
