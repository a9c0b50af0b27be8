// The system's text for a Win32 error code, for the Windows host functions.
#pragma once

#include <string>

// The message for `code` (a GetLastError value) without its line end, or "error <code>"
// when the system has none.
std::string WindowsErrorText(unsigned long code);

// The same for GetLastError() as it stands.
std::string LastWindowsErrorText();
