// Making a directory on Windows.
#include "host/MakeDirectory.h"

#include "host/WindowsError.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

bool MakeDir(const std::string& path, std::string& errorText)
{
    if (CreateDirectoryA(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS)
        return true;
    errorText = LastWindowsErrorText();
    return false;
}
