// Fatal exit shared by the tools: print a message and end with status 1.
#pragma once

// Formats the message (at most 1023 characters), prints it to standard output as it
// is, without a line end, and exits with status 1.
[[noreturn]] void FatalError(const char* format, ...) __attribute__((format(printf, 1, 2)));
