// The extractor's directory making on top of the host layer.
#include "extractor/OutputDirectory.h"

#include "common/FatalError.h"
#include "host/MakeDirectory.h"

void MakeDirectory(const std::string& path)
{
    std::string errorText;
    if (MakeDir(path, errorText) == MakeDirStatus::Failed)
        FatalError("mkdir %s: %s", path.c_str(), errorText.c_str());
}

void MakeDirectoryPath(const std::string& path)
{
    const bool hasDrive = path.size() >= 2 && path[1] == ':';
    // The character at the start of the scan is never a split point.
    const size_t first = hasDrive ? 3 : 1;
    for (size_t i = first; i < path.size(); ++i) {
        if (path[i] == '/' || path[i] == '\\')
            MakeDirectory(path.substr(0, i));
    }
}
