// Mtxdump's per-package and per-entry work along the walk.
#include "extractor/DumpActions.h"

bool DumpActions::LinksBegin()
{
    if (m_Links.mfOpen(kQuarkLinkFileName))
        return true;
    m_Console.Print("Warning: Couldn't create link file '%s'\n", kQuarkLinkFileName);
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

void DumpActions::LinksPackageEnd()
{
    m_Links.mfEndPackage();
}

bool DumpActions::LinksEnd()
{
    if (m_Links.mfClose())
        return true;
    m_Console.Print("Warning: Couldn't write link file '%s'\n", kQuarkLinkFileName);
    return false;
}

ExtractStatus DumpActions::ExtractEntry(const PackageVisit& visit, CResFile& package, int32_t index,
                                        PackageOutput& output, std::string& errorText)
{
    ExtractOutcome& outcome = m_Outcomes.emplace_back();
    return ExtractTexture(package, index, output, visit.packagePath, m_Run, outcome, errorText);
}

ExtractStatus DumpActions::ExtractPackageEnd(const PackageVisit& visit, CResFile& package, PackageOutput& output,
                                             std::string& errorText)
{
    m_Console.Drain();  // the gallery needs every file's name, and the outcomes go now
    const std::deque<ExtractOutcome> outcomes = std::move(m_Outcomes);
    m_Outcomes.clear();
    if (!m_WithGallery)
        return ExtractStatus::Done;
    for (int32_t index = 0; index < static_cast<int32_t>(outcomes.size()); ++index)
        m_Gallery.mfAddEntry(package, index, outcomes[static_cast<size_t>(index)]);
    return m_Gallery.mfEndPackage(visit, output, errorText);
}

bool DumpActions::ExtractEnd()
{
    return !m_WithGallery || m_Gallery.mfEnd();
}
