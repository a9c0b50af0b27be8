// What Mtxdump does at the walk's hooks: extract each entry and write the link file.
#pragma once

#include "archive/MipTexture.h"
#include "extractor/DumpOptions.h"
#include "extractor/ExtractTexture.h"
#include "extractor/Gallery.h"
#include "extractor/PackageWalk.h"
#include "extractor/QuarkLinks.h"

class DumpActions : public DumpHooks {
public:
    // The run's settings choose the files written and whether the gallery is made.
    explicit DumpActions(const DumpSettings& settings)
        : m_Formats{settings.dds, settings.png}, m_WithGallery(settings.gallery),
          m_Gallery(settings.outputDirectory) {}

    // Creates the link file; when it cannot be created, a warning is printed and the
    // run goes on without it.
    bool LinksBegin() override;
    void LinksPackageBegin(const PackageVisit& visit) override;
    void LinksEntry(const PackageVisit& visit, const DirEntry& entry) override;
    ExtractStatus ExtractEntry(const PackageVisit& visit, CResFile& package, int32_t index, PackageOutput& output,
                               std::string& errorText) override;
    ExtractStatus ExtractPackageEnd(const PackageVisit& visit, PackageOutput& output,
                                    std::string& errorText) override;
    bool ExtractEnd() override;
    void LinksPackageEnd(const PackageVisit& visit) override;
    bool LinksEnd() override;

private:
    CQuarkLinks m_Links;
    RgbaPalette m_Palette{};  // the run's palette table
    ExtractFormats m_Formats;
    bool m_WithGallery;
    CGallery m_Gallery;
};
