// The gallery's collection of entries and the writing of its pages.
#include "extractor/Gallery.h"

#include "extractor/ImageWriters.h"

#include <algorithm>

namespace {

constexpr char kPageStem[] = "index";
constexpr char kPageExtension[] = ".html";

uint8_t ColourLevel(int32_t stored)
{
    return static_cast<uint8_t>(std::clamp(stored, 0, 255));
}

}  // namespace

bool CGallery::mfWritePage(const std::string& path, const std::string& page)
{
    if (WriteWholeFile(path, reinterpret_cast<const uint8_t*>(page.data()), page.size()))
        return true;
    m_Console.Print("Warning: Can't write file '%s'\n", path.c_str());
    return false;
}

void CGallery::mfAddEntry(CResFile& package, int32_t index, const ExtractOutcome& outcome)
{
    GalleryEntry entry;
    entry.name = package.mfGetEntry(index).name;
    entry.texture = outcome.texture;
    if (!outcome.texture) {
        entry.size = static_cast<uint64_t>(std::max<int64_t>(package.mfFileSize(index), 0));
        m_Package.entries.push_back(entry);
        return;
    }
    const MipTexture& header = outcome.header;
    entry.width = header.width;
    entry.height = header.height;
    entry.format = header.format;
    entry.ownPalette = (header.ownPalette & kOwnPaletteBit) != 0;
    entry.hasAverage = outcome.knownAverage;
    entry.averageRed = ColourLevel(header.averageRed);
    entry.averageGreen = ColourLevel(header.averageGreen);
    entry.averageBlue = ColourLevel(header.averageBlue);
    entry.imageFile = outcome.fileName;
    m_Package.entries.push_back(entry);
}

ExtractStatus CGallery::mfEndPackage(const PackageVisit& visit, PackageOutput& output, std::string& errorText)
{
    m_Package.fileName = visit.foundName;
    const GalleryPackage package = std::exchange(m_Package, GalleryPackage());
    if (!output.MakeFolder(errorText))
        return ExtractStatus::FolderFailed;
    if (!mfWritePage(output.NameFile(kPageStem, kPageExtension, 1).path, GalleryPackagePage(package)))
        return ExtractStatus::Failed;
    m_Pages.push_back({visit.foundName, visit.baseName, package.entries.size()});
    return ExtractStatus::Done;
}

bool CGallery::mfEnd()
{
    return m_Pages.size() < 2 ||
           mfWritePage(m_OutputDirectory + kPageStem + kPageExtension, GalleryIndexPage(m_Pages));
}
