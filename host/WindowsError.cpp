// Win32 error codes turned into the system's message text.
#include "host/WindowsError.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

std::string WindowsErrorText(unsigned long code)
{
    char text[512];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                                  MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof text, nullptr);
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' || text[length - 1] == ' '))
        --length;
    return length > 0 ? std::string(text, length) : "error " + std::to_string(code);
}

std::string LastWindowsErrorText()
{
    return WindowsErrorText(GetLastError());
}
