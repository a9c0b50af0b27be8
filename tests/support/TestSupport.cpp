#include "support/TestSupport.h"

#include "archive/Lzss.h"
#include "archive/PackageFormat.h"
#include "archive/MipTexture.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <ftw.h>
#include <poll.h>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

Bytes ToBytes(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

Bytes ReadFileBytes(const std::string& path)
{
    // One read of the whole file: tests compare packages of several megabytes.
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in)
        return Bytes();
    Bytes bytes(static_cast<size_t>(in.tellg()));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<size_t>(in.gcount()));
    return bytes;
}

std::string ReadFileText(const std::string& path)
{
    const Bytes bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

void WriteFileBytes(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

bool FileExists(const std::string& path)
{
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

namespace {

int RemoveOne(const char* path, const struct stat*, int, struct FTW*)
{
    std::remove(path);
    return 0;
}

}  // namespace

ScratchDir::ScratchDir(const char* base)
{
    if (!base)
        base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/mtxtest-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data()))
        throw std::runtime_error("mkdtemp failed");
    m_path = buffer.data();
}

ScratchDir::~ScratchDir()
{
    // Make everything removable again (tests may drop write bits), then remove it all.
    std::string command = "chmod -R u+rwx '" + m_path + "' 2>/dev/null";
    if (std::system(command.c_str()) != 0) {
    }
    nftw(m_path.c_str(), RemoveOne, 16, FTW_DEPTH | FTW_PHYS);
}

WorkingDirectory::WorkingDirectory(const std::string& path)
{
    char buffer[4096];
    if (!getcwd(buffer, sizeof buffer) || chdir(path.c_str()) != 0)
        throw std::runtime_error("cannot change directory to " + path);
    m_previous = buffer;
}

WorkingDirectory::~WorkingDirectory()
{
    if (chdir(m_previous.c_str()) != 0) {
    }
}

RunResult RunTool(const std::string& exe, const std::vector<std::string>& args,
                  const std::string& cwd, const std::string& input)
{
    int inPipe[2], outPipe[2], errPipe[2];
    if (pipe(inPipe) != 0 || pipe(outPipe) != 0 || pipe(errPipe) != 0)
        throw std::runtime_error("pipe failed");
    const pid_t child = fork();
    if (child < 0)
        throw std::runtime_error("fork failed");
    if (child == 0) {
        dup2(inPipe[0], 0);
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        for (int fd : {inPipe[0], inPipe[1], outPipe[0], outPipe[1], errPipe[0], errPipe[1]})
            close(fd);
        if (chdir(cwd.c_str()) != 0)
            _exit(126);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(exe.c_str()));
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(exe.c_str(), argv.data());
        _exit(127);
    }
    close(inPipe[0]);
    close(outPipe[1]);
    close(errPipe[1]);

    RunResult result;
    size_t written = 0;
    bool inputOpen = true;
    if (input.empty()) {
        close(inPipe[1]);
        inputOpen = false;
    } else {
        fcntl(inPipe[1], F_SETFL, O_NONBLOCK);
    }
    bool outOpen = true, errOpen = true;
    while (outOpen || errOpen) {
        pollfd fds[3];
        int count = 0;
        if (outOpen) fds[count++] = {outPipe[0], POLLIN, 0};
        if (errOpen) fds[count++] = {errPipe[0], POLLIN, 0};
        if (inputOpen) fds[count++] = {inPipe[1], POLLOUT, 0};
        if (poll(fds, static_cast<nfds_t>(count), -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        for (int i = 0; i < count; ++i) {
            if (!fds[i].revents)
                continue;
            if (fds[i].fd == inPipe[1]) {
                const ssize_t n = write(inPipe[1], input.data() + written, input.size() - written);
                if (n > 0)
                    written += static_cast<size_t>(n);
                if (n < 0 || written == input.size()) {
                    close(inPipe[1]);
                    inputOpen = false;
                }
                continue;
            }
            char buffer[65536];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            const bool isOut = fds[i].fd == outPipe[0];
            if (n <= 0) {
                (isOut ? outOpen : errOpen) = false;
            } else {
                (isOut ? result.out : result.err).append(buffer, static_cast<size_t>(n));
            }
        }
    }
    if (inputOpen)
        close(inPipe[1]);
    close(outPipe[0]);
    close(errPipe[0]);
    int status = 0;
    waitpid(child, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

FileSizeLimit::FileSizeLimit(uint64_t limit)
{
    rlimit current{};
    getrlimit(RLIMIT_FSIZE, &current);
    m_savedLimit = current.rlim_cur;
    m_handler = std::signal(SIGXFSZ, SIG_IGN);
    current.rlim_cur = static_cast<rlim_t>(limit);
    setrlimit(RLIMIT_FSIZE, &current);
}

FileSizeLimit::~FileSizeLimit()
{
    rlimit current{};
    getrlimit(RLIMIT_FSIZE, &current);
    current.rlim_cur = static_cast<rlim_t>(m_savedLimit);
    setrlimit(RLIMIT_FSIZE, &current);
    std::signal(SIGXFSZ, m_handler);
}

int32_t GetI32(const Bytes& bytes, size_t offset)
{
    return static_cast<int32_t>(static_cast<uint32_t>(bytes.at(offset)) |
                                (static_cast<uint32_t>(bytes.at(offset + 1)) << 8) |
                                (static_cast<uint32_t>(bytes.at(offset + 2)) << 16) |
                                (static_cast<uint32_t>(bytes.at(offset + 3)) << 24));
}

void SetI32(Bytes& bytes, size_t offset, int32_t value)
{
    const uint32_t bits = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i)
        bytes.at(offset + static_cast<size_t>(i)) = static_cast<uint8_t>(bits >> (8 * i));
}

Bytes MakeRecordBytes(int32_t width, int32_t height, int32_t format, const Bytes& body,
                      int32_t ownPalette, int32_t dataOffset)
{
    Bytes record(kMipHeaderSize, 0);
    SetI32(record, kMipWidthOffset, width);
    SetI32(record, kMipHeightOffset, height);
    SetI32(record, kMipDataOffsetOffset, dataOffset);
    SetI32(record, kMipFormatOffset, format);
    SetI32(record, kMipOwnPaletteOffset, ownPalette);
    record.insert(record.end(), body.begin(), body.end());
    return record;
}

Bytes MakePackageBytes(const std::vector<TestEntry>& entries, size_t gap)
{
    constexpr size_t kHeader = 20, kRecord = 88;
    Bytes out(kHeader, 0);
    std::memcpy(out.data(), "MPCK", 4);
    SetI32(out, 4, 1);
    SetI32(out, 8, 0);
    SetI32(out, 12, static_cast<int32_t>(entries.size()));
    SetI32(out, 16, entries.empty() ? -1 : static_cast<int32_t>(kHeader));
    int32_t previous = -1;
    for (size_t i = 0; i < entries.size(); ++i) {
        const TestEntry& entry = entries[i];
        const size_t recordAt = out.size();
        out.resize(recordAt + kRecord, 0);
        std::memcpy(out.data() + recordAt, entry.name.data(), std::min<size_t>(entry.name.size(), 63));
        const int32_t dataAt = static_cast<int32_t>(recordAt + kRecord);
        const int32_t size = static_cast<int32_t>(entry.data.size());
        SetI32(out, recordAt + 64, size);
        SetI32(out, recordAt + 68, dataAt);
        SetI32(out, recordAt + kRecordNextOffset, i + 1 < entries.size() ? dataAt + size + static_cast<int32_t>(gap) : -1);
        SetI32(out, recordAt + 76, previous);
        SetI32(out, recordAt + 80, entry.type);
        SetI32(out, recordAt + 84, entry.method);
        out.insert(out.end(), entry.data.begin(), entry.data.end());
        if (i + 1 < entries.size())
            out.insert(out.end(), gap, 0xEE);
        previous = static_cast<int32_t>(recordAt);
    }
    return out;
}

Bytes Packed(const Bytes& data)
{
    Bytes stored(4 + static_cast<size_t>(LzssMaxEncodedSize(static_cast<int64_t>(data.size()))));
    SetI32(stored, 0, static_cast<int32_t>(data.size()));
    const int32_t written = LzssEncode(data.data(), stored.data() + 4, static_cast<int32_t>(data.size()));
    stored.resize(4 + static_cast<size_t>(written));
    return stored;
}
