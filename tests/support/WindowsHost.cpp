// Test helpers for Windows: running a built program with redirected handles, and the
// host's error texts.
#include "support/TestSupport.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <stdexcept>
#include <thread>

namespace {

// One argument quoted so that the C runtime's command-line parser gives it back as it is.
std::string Quoted(const std::string& arg)
{
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos)
        return arg;
    std::string out = "\"";
    size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        out += c;
    }
    return out.append(backslashes * 2, '\\') + "\"";
}

// Console text has CRLF line ends; tests compare it with '\n' alone.
std::string FromConsoleText(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            ADD_FAILURE() << "line feed without carriage return at " << i << " in: " << text;
        out += text[i];
    }
    return out;
}

struct Pipe {
    HANDLE read = nullptr;
    HANDLE write = nullptr;
};

// A pipe whose `childEnd` end is inherited by the program started.
Pipe MakePipe(bool childReads)
{
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    Pipe pipe;
    if (!CreatePipe(&pipe.read, &pipe.write, &inherit, 0))
        throw std::runtime_error("CreatePipe failed");
    SetHandleInformation(childReads ? pipe.write : pipe.read, HANDLE_FLAG_INHERIT, 0);
    return pipe;
}

void ReadAll(HANDLE from, std::string* into)
{
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(from, buffer, sizeof buffer, &got, nullptr) && got > 0)
        into->append(buffer, got);
    CloseHandle(from);
}

}  // namespace

RunResult RunTool(const std::string& exe, const std::vector<std::string>& args,
                  const std::string& cwd, const std::string& input)
{
    const Pipe in = MakePipe(true), out = MakePipe(false), err = MakePipe(false);
    std::string commandLine = Quoted(exe);
    for (const std::string& arg : args)
        commandLine += " " + Quoted(arg);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in.read;
    startup.hStdOutput = out.write;
    startup.hStdError = err.write;
    PROCESS_INFORMATION process{};
    const bool started = CreateProcessA(exe.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                                        cwd.c_str(), &startup, &process);
    CloseHandle(in.read);
    CloseHandle(out.write);
    CloseHandle(err.write);
    if (!started) {
        CloseHandle(in.write);
        CloseHandle(out.read);
        CloseHandle(err.read);
        throw std::runtime_error("cannot start " + exe);
    }
    RunResult result;
    std::string rawOut, rawErr;
    std::thread outReader(ReadAll, out.read, &rawOut), errReader(ReadAll, err.read, &rawErr);
    DWORD written = 0;
    if (!input.empty())
        WriteFile(in.write, input.data(), static_cast<DWORD>(input.size()), &written, nullptr);
    CloseHandle(in.write);
    outReader.join();
    errReader.join();
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 0;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    result.status = static_cast<int>(status);
    result.out = FromConsoleText(rawOut);
    result.err = FromConsoleText(rawErr);
    return result;
}

bool MakeFifo(const std::string&)
{
    return false;
}

testing::AssertionResult IsHostError(const std::string& text, const std::string& prefix, const char*)
{
    if (text.size() > prefix.size() && text.compare(0, prefix.size(), prefix) == 0)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "\"" << text << "\" is not \"" << prefix << "\" and a text";
}
