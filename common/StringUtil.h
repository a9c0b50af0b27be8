// Text helpers shared by the tools: extension stripping and defaulting, ASCII case folding.
#pragma once

#include <string>

// ASCII letters A-Z folded to a-z; every other byte stays as it is.
constexpr char FoldAsciiCase(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// True when the two texts are equal once ASCII letters are folded.
bool EqualsIgnoringCase(const char* first, const char* second);

// `src` up to (not including) the first '.' that is followed by a character other than
// '.', '/' or '\\' (or that ends the text).
std::string StripExtension(const std::string& src);

// `path` with `extension` appended, unless a '.' occurs between the path's last character
// and the nearest '/' before it (the first character is never examined).
std::string AddDefaultExtension(const std::string& path, const char* extension);
