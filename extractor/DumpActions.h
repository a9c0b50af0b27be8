// What Mtxdump does at the walk's hooks: extract each entry and write the link file.
#pragma once

#include "archive/MipTexture.h"
#include "extractor/PackageWalk.h"
#include "extractor/QuarkLinks.h"

class DumpActions : public DumpHooks {
public:
    // `writeDds`: DXT records are extracted as DDS files instead of being skipped.
    explicit DumpActions(bool writeDds) : m_WriteDds(writeDds) {}

    // Creates the link file; when it cannot be created, a warning is printed and the
    // run goes on without it.
    bool LinksBegin() override;
    void LinksPackageBegin(const PackageVisit& visit) override;
    void LinksEntry(const PackageVisit& visit, const DirEntry& entry) override;
    ExtractStatus ExtractEntry(const PackageVisit& visit, CResFile& package, int32_t index, PackageOutput& output,
                               std::string& errorText) override;
    void LinksPackageEnd(const PackageVisit& visit) override;
    bool LinksEnd() override;

private:
    CQuarkLinks m_Links;
    RgbaPalette m_Palette{};  // the run's palette table
    bool m_WriteDds;
};
