// Text helpers shared by the tools: extension stripping and defaulting, ASCII case folding.
#pragma once

#include <string>

// Copies `src` into `dst` up to (not including) the first '.' that is followed by a
// character other than '.', '/' or '\\' (or that ends the text). `src` and `dst` may
// be the same buffer; `dst` needs room for strlen(src) + 1 bytes.
void StripExtension(const char* src, char* dst);

// Appends `extension` unless a '.' occurs between the path's last character and the
// nearest '/' before it (the first character is never examined). `path` needs room
// for the appended text.
void AddDefaultExtension(char* path, const char* extension);

// ASCII letters A-Z folded to a-z; every other byte stays as it is.
constexpr char FoldAsciiCase(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// True when the two texts are equal once ASCII letters are folded.
bool EqualsIgnoringCase(const char* first, const char* second);

// The same two rules on std::string, for callers without fixed buffers.
std::string StripExtension(const std::string& src);
std::string AddDefaultExtension(const std::string& path, const char* extension);
