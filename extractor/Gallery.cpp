// The gallery's collection of entries and the writing of its pages.
#include "extractor/Gallery.h"

#include "extractor/ImageWriters.h"

#include <algorithm>
#include <cstdio>

namespace {

uint8_t ColourLevel(int32_t stored)
{
    return static_cast<uint8_t>(std::clamp(stored, 0, 255));
}

// Writes a page; prints the writers' warning and returns false when it could not be written.
bool WritePage(const std::string& fileName, const std::string& page)
{
    if (WriteWholeFile(fileName, reinterpret_cast<const uint8_t*>(page.data()), page.size()))
        return true;
    std::printf("Warning: Can't write file '%s'\n", fileName.c_str());
    return false;
}

}  // namespace

void CGallery::mfAddEntry(const PackageVisit& visit, CResFile& package, int32_t index,
                          const ExtractOutcome& outcome)
{
    GalleryEntry entry;
    entry.name = package.mfGetEntry(index).name;
    entry.texture = outcome.texture;
    if (!outcome.texture) {
        const int64_t size = package.mfFileSize(index);
        entry.size = static_cast<uint64_t>(std::max<int64_t>(size, 0));
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
    // The page lies in the folder of the files, so it names them without the prefix.
    if (!outcome.fileName.empty())
        entry.imageFile = outcome.fileName.substr(std::min(visit.outputPrefix.size(), outcome.fileName.size()));
    m_Package.entries.push_back(entry);
}

void CGallery::mfEndPackage(const PackageVisit& visit)
{
    m_Package.fileName = visit.foundName;
    if (WritePage(visit.outputPrefix + kGalleryPageName, GalleryPackagePage(m_Package)))
        m_Pages.push_back({visit.foundName, visit.baseName, m_Package.entries.size()});
    m_Package = {};
}

void CGallery::mfEnd()
{
    if (m_Pages.size() > 1)
        WritePage(m_OutputDirectory + kGalleryPageName, GalleryIndexPage(m_Pages));
}
