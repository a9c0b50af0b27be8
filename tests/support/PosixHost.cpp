// Test helpers for POSIX hosts: running a built program with pipes, fifos, the file-size
// limit and the host's error texts.
#include "support/TestSupport.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

bool MakeFifo(const std::string& path)
{
    return mkfifo(path.c_str(), 0644) == 0;
}

testing::AssertionResult IsHostError(const std::string& text, const std::string& prefix, const char* posixText)
{
    if (text == prefix + posixText)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "\"" << text << "\" is not \"" << prefix << posixText << "\"";
}
