// Writer of the QuArK texture-link file. Names are written as stored, unescaped; a
// failed write is reported when the file is closed.
#include "extractor/QuarkLinks.h"

namespace {

constexpr char kOpeningBlock[] =
    "QQRKSRC1\n"
    "// This file has been written by Mtxdump\n"
    "// It's the text version of file: DataMirakTxt.qrk\n\n"
    "{\n"
    "  QuArKProtected = \"1\"\n"
    "  Description = \"Base Mirak textures data\"\n"
    "  Textures.qtx = \n  {\n"
    "    Toolbox = \"Texture Browser...\"\n"
    "    Root = \"Mirak Textures.qtxfolder\"\n"
    "    t_s:incl =\n"
    "    {\n"
    "      a = \"../Data\"\n"
    "    }\n"
    "    Mirak Textures.qtxfolder =\n"
    "    {\n";

constexpr char kClosingBlock[] =
    "    }\n"
    "  }\n"
    "}\n";

}  // namespace

bool CQuarkLinks::mfOpen(const char* fileName)
{
    m_File.reset(std::fopen(fileName, "w"));
    if (!m_File)
        return false;
    std::fputs(kOpeningBlock, m_File.get());
    return true;
}

void CQuarkLinks::mfBeginPackage(const std::string& baseName)
{
    if (m_File)
        std::fprintf(m_File.get(), "      %s.qtxfolder = \n      {\n", baseName.c_str());
}

void CQuarkLinks::mfEntry(const std::string& baseName, const char* entryName)
{
    if (m_File)
        std::fprintf(m_File.get(), "        %s/%s.wl\t\t= { t_s=! }\n", baseName.c_str(), entryName);
}

void CQuarkLinks::mfEndPackage()
{
    if (m_File)
        std::fputs("      }\n", m_File.get());
}

bool CQuarkLinks::mfClose()
{
    if (!m_File)
        return true;
    std::fputs(kClosingBlock, m_File.get());
    const bool written = !std::ferror(m_File.get());
    return std::fclose(m_File.release()) == 0 && written;
}
