// Mtxdump's per-package and per-entry work behind the walk's hooks.
#include "extractor/DumpActions.h"

#include "extractor/ExtractTexture.h"

#include <cstdio>

void DumpActions::LinksBegin()
{
    if (!m_Links.mfOpen(kQuarkLinkFileName))
        std::printf("Warning: Couldn't create link file '%s'\n", kQuarkLinkFileName);
}

void DumpActions::LinksPackageBegin(const PackageVisit& visit)
{
    m_Links.mfBeginPackage(visit.baseName);
}

void DumpActions::LinksEntry(const PackageVisit& visit, const DirEntry& entry)
{
    m_Links.mfEntry(visit.baseName, entry.name);
}

void DumpActions::ExtractEntry(const PackageVisit& visit, CResFile& package, int32_t index,
                               const DirEntry&)
{
    const ExtractOutcome outcome =
        ExtractTexture(package, index, visit.outputPrefix, visit.packagePath, m_Palette, m_Formats);
    if (m_WithGallery)
        m_Gallery.mfAddEntry(visit, package, index, outcome);
}

void DumpActions::ExtractPackageEnd(const PackageVisit& visit)
{
    if (m_WithGallery)
        m_Gallery.mfEndPackage(visit);
}

void DumpActions::ExtractEnd()
{
    if (m_WithGallery)
        m_Gallery.mfEnd();
}

void DumpActions::LinksPackageEnd(const PackageVisit&)
{
    m_Links.mfEndPackage();
}

void DumpActions::LinksEnd()
{
    if (!m_Links.mfClose())
        std::printf("Warning: Couldn't write link file '%s'\n", kQuarkLinkFileName);
}
