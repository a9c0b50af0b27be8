// The extractor's directory making on top of the host layer.
#include "extractor/OutputDirectory.h"

#include "host/MakeDirectory.h"

bool MakeDirectory(const std::string& path, std::string& errorText)
{
    std::string hostError;
    if (MakeDir(path, hostError))
        return true;
    errorText = "mkdir " + path + ": " + hostError;
    return false;
}

bool MakeDirectoryPath(const std::string& path, std::string& errorText)
{
    const bool hasDrive = path.size() >= 2 && path[1] == ':';
    // The character at the start of the scan is never a split point.
    const size_t first = hasDrive ? 3 : 1;
    for (size_t i = first; i < path.size(); ++i) {
        if ((path[i] == '/' || path[i] == '\\') && !MakeDirectory(path.substr(0, i), errorText))
            return false;
    }
    return true;
}
