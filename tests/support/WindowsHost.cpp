// Test helpers for Windows: running a built program with redirected handles, and file identity.
#include "support/TestSupport.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <stdexcept>

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

// A scratch file the started program inherits as a standard handle; it is deleted when
// its last handle closes.
HANDLE ScratchFile()
{
    char folder[MAX_PATH], path[MAX_PATH];
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE file = INVALID_HANDLE_VALUE;
    if (GetTempPathA(MAX_PATH, folder) && GetTempFileNameA(folder, "mtx", 0, path))
        file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        throw std::runtime_error("cannot make a scratch file");
    return file;
}

// The whole of a scratch file from its start; closes it.
std::string ReadBack(HANDLE file)
{
    std::string text;
    char buffer[65536];
    DWORD got = 0;
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
        text.append(buffer, got);
    CloseHandle(file);
    return text;
}

}  // namespace

// Standard input, output and error are scratch files, as on POSIX hosts.
RunResult RunTool(const std::string& exe, const std::vector<std::string>& args,
                  const std::string& cwd, const std::string& input)
{
    const HANDLE in = ScratchFile(), out = ScratchFile(), err = ScratchFile();
    DWORD written = 0;
    WriteFile(in, input.data(), static_cast<DWORD>(input.size()), &written, nullptr);
    SetFilePointer(in, 0, nullptr, FILE_BEGIN);
    std::string commandLine = Quoted(exe);
    for (const std::string& arg : args)
        commandLine += " " + Quoted(arg);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process{};
    const bool started = CreateProcessA(exe.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                                        cwd.c_str(), &startup, &process);
    CloseHandle(in);
    RunResult result;
    if (started) {
        WaitForSingleObject(process.hProcess, INFINITE);
        DWORD status = 0;
        GetExitCodeProcess(process.hProcess, &status);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
        result.status = static_cast<int>(status);
    }
    result.out = FromConsoleText(ReadBack(out));
    result.err = FromConsoleText(ReadBack(err));
    if (!started)
        throw std::runtime_error("cannot start " + exe);
    return result;
}

bool MakeFifo(const std::string&) { return false; }

uint64_t FileIdentity(const std::string& path)
{
    const HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = file != INVALID_HANDLE_VALUE && GetFileInformationByHandle(file, &info);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return known ? (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow : 0;
}
