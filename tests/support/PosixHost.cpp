// Test helpers for POSIX hosts: running a built program, fifos, the file-size limit and file identity.
#include "support/TestSupport.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The whole of a scratch file the child wrote, from its start; closes the file.
std::string ReadBack(FILE* file)
{
    std::string text;
    char buffer[65536];
    std::rewind(file);
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
        text.append(buffer, got);
    std::fclose(file);
    return text;
}

}  // namespace

// Standard input, output and error are unnamed scratch files: nothing can block, and
// the child's folder gains no files.
RunResult RunTool(const std::string& exe, const std::vector<std::string>& args,
                  const std::string& cwd, const std::string& input)
{
    FILE* in = std::tmpfile();
    FILE* out = std::tmpfile();
    FILE* err = std::tmpfile();
    if (!in || !out || !err || std::fwrite(input.data(), 1, input.size(), in) != input.size() ||
        std::fflush(in) != 0)
        throw std::runtime_error("cannot make the scratch files for " + exe);
    std::rewind(in);
    const pid_t child = fork();
    if (child < 0)
        throw std::runtime_error("fork failed");
    if (child == 0) {
        dup2(fileno(in), 0);
        dup2(fileno(out), 1);
        dup2(fileno(err), 2);
        if (chdir(cwd.c_str()) != 0)
            _exit(126);
        std::vector<char*> argv{const_cast<char*>(exe.c_str())};
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(exe.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    std::fclose(in);
    RunResult result;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = ReadBack(out);
    result.err = ReadBack(err);
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

int RunToolWithFileLimit(const std::string& exe, const std::vector<std::string>& args, const std::string& cwd,
                         size_t limit)
{
    // The shell counts the limit in 512-byte blocks and leaves SIGXFSZ to kill the program.
    const std::string shell = "ulimit -f " + std::to_string(limit / 512) + "; exec \"$0\" \"$@\"";
    std::vector<std::string> shellArgs = {"-c", shell, exe};
    shellArgs.insert(shellArgs.end(), args.begin(), args.end());
    return RunTool("/bin/sh", shellArgs, cwd).status;
}

bool MakeFifo(const std::string& path) { return mkfifo(path.c_str(), 0644) == 0; }

uint64_t FileIdentity(const std::string& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? static_cast<uint64_t>(info.st_ino) : 0;
}
