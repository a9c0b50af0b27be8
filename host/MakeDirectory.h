// Making one directory.
#pragma once

#include <string>

// Makes `path` (on POSIX hosts with mode 0777 before the umask). True when it was made or already exists;
// false, with the host's text for the error, otherwise.
bool MakeDir(const std::string& path, std::string& errorText);
