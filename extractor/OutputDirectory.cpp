// The extractor's directory making on top of the host layer, and a package's output folder.
#include "extractor/OutputDirectory.h"

#include "common/StringUtil.h"
#include "host/MakeDirectory.h"

namespace {

std::string FoldedCase(std::string text)
{
    for (char& c : text)
        c = FoldAsciiCase(c);
    return text;
}

}  // namespace

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

int32_t PackageOutput::CountEntry(const char* entryName)
{
    return ++m_EntryCounts[FoldedCase(entryName)];
}

OutputFile PackageOutput::NameFile(const std::string& stem, const char* extension, int32_t ordinal)
{
    OutputFile file;
    for (int32_t k = ordinal;; ++k) {
        file.name = (k > 1 ? stem + "~" + std::to_string(k) : stem) + extension;
        if (m_Names.insert(FoldedCase(file.name)).second) {
            file.renamed = k > 1;
            break;
        }
    }
    file.path = m_Folder + "/" + file.name;
    return file;
}

bool PackageOutput::MakeFolder(std::string& errorText)
{
    if (!m_Made)
        m_Made = MakeDirectory(m_Folder, errorText);
    return m_Made;
}
