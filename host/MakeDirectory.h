// Making one directory, telling "already exists" apart from real failures.
#pragma once

#include <string>

enum class MakeDirStatus { Created, AlreadyExists, Failed };

// Makes `path` (mode 0777 before the umask). On Failed, `errorText` receives the
// host's text for the error.
MakeDirStatus MakeDir(const std::string& path, std::string& errorText);
