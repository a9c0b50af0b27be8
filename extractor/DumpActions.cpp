// Mtxdump's per-package and per-entry work behind the walk's hooks.
#include "extractor/DumpActions.h"

#include "extractor/ExtractTexture.h"

#include <cstdio>

bool DumpActions::LinksBegin()
{
    if (m_Links.mfOpen(kQuarkLinkFileName))
        return true;
    std::printf("Warning: Couldn't create link file '%s'\n", kQuarkLinkFileName);
    return false;
}

void DumpActions::LinksPackageBegin(const PackageVisit& visit)
{
    m_Links.mfBeginPackage(visit.baseName);
}

void DumpActions::LinksEntry(const PackageVisit& visit, const DirEntry& entry)
{
    m_Links.mfEntry(visit.baseName, entry.name);
}

ExtractStatus DumpActions::ExtractEntry(const PackageVisit& visit, CResFile& package, int32_t index,
                                        PackageOutput& output, std::string& errorText)
{
    ExtractOutcome outcome;
    const ExtractStatus status =
        ExtractTexture(package, index, output, visit.packagePath, m_Palette, m_Formats, outcome, errorText);
    if (m_WithGallery)
        m_Gallery.mfAddEntry(package, index, outcome);
    return status;
}

ExtractStatus DumpActions::ExtractPackageEnd(const PackageVisit& visit, PackageOutput& output,
                                             std::string& errorText)
{
    return m_WithGallery ? m_Gallery.mfEndPackage(visit, output, errorText) : ExtractStatus::Done;
}

bool DumpActions::ExtractEnd()
{
    return !m_WithGallery || m_Gallery.mfEnd();
}

void DumpActions::LinksPackageEnd(const PackageVisit&)
{
    m_Links.mfEndPackage();
}

bool DumpActions::LinksEnd()
{
    if (m_Links.mfClose())
        return true;
    std::printf("Warning: Couldn't write link file '%s'\n", kQuarkLinkFileName);
    return false;
}
