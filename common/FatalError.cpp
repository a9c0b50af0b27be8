#include "common/FatalError.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace {
constexpr size_t kMessageCapacity = 1024;
}

void FatalError(const char* format, ...)
{
    char message[kMessageCapacity];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    std::fputs(message, stdout);
    std::fflush(stdout);
    std::exit(1);
}
