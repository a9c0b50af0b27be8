// Extension rules for package and texture names.
#include "common/StringUtil.h"

#include <cstring>

namespace {

// Length of the part of `text` that StripExtension keeps.
size_t StrippedLength(const char* text)
{
    size_t i = 0;
    for (; text[i] != '\0'; ++i) {
        if (text[i] != '.')
            continue;
        const char following = text[i + 1];
        if (following != '.' && following != '/' && following != '\\')
            break;
    }
    return i;
}

bool HasExtension(const char* path)
{
    const long length = static_cast<long>(std::strlen(path));
    for (long i = length - 1; i > 0 && path[i] != '/'; --i) {
        if (path[i] == '.')
            return true;
    }
    return false;
}

}  // namespace

std::string StripExtension(const std::string& src)
{
    return src.substr(0, StrippedLength(src.c_str()));
}

std::string AddDefaultExtension(const std::string& path, const char* extension)
{
    return HasExtension(path.c_str()) ? path : path + extension;
}

bool EqualsIgnoringCase(const char* first, const char* second)
{
    for (; *first && *second; ++first, ++second) {
        if (FoldAsciiCase(*first) != FoldAsciiCase(*second))
            return false;
    }
    return *first == *second;
}
