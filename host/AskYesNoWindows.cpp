// The yes/no question on Windows: a message box when input is a console, else one
// line of the redirected input, so that scripts can answer it.
#include "host/AskYesNo.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <io.h>

#include <string>

bool AskYesNo(const char* caption, const char* question, const char* explanation, std::FILE* input)
{
    DWORD mode = 0;
    if (GetConsoleMode(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(input))), &mode)) {
        std::fflush(stdout);
        const std::string text = std::string(question) + "?\n\n" + explanation;
        return MessageBoxA(nullptr, text.c_str(), caption, MB_YESNO | MB_ICONQUESTION) != IDNO;
    }
    return ReadYesNoAnswer(input);
}
