// What Mtxdump does at each point of the walk: extract each entry, collect the gallery
// and write the link file.
#pragma once

#include "archive/MipTexture.h"
#include "extractor/DumpOptions.h"
#include "extractor/ExtractTexture.h"
#include "extractor/Gallery.h"
#include "extractor/OrderedOutput.h"
#include "extractor/PackageWalk.h"
#include "extractor/QuarkLinks.h"

#include <deque>

class DumpActions {
public:
    // The run's settings choose the files written and whether the gallery is made; every
    // line goes to `console`.
    DumpActions(const DumpSettings& settings, OrderedOutput& console)
        : m_Console(console), m_Run{{settings.dds, settings.png}, console}, m_WithGallery(settings.gallery),
          m_Gallery(settings.outputDirectory, console) {}

    // With +quarklinks: once, before the search starts. Creates the link file; when it
    // cannot be created, a warning is printed and the run goes on without it (false).
    bool LinksBegin();
    // Per package, after its "Process" line and before it is opened.
    void LinksPackageBegin(const PackageVisit& visit);
    // Per entry of an opened package, before the entry is listed.
    void LinksEntry(const PackageVisit& visit, const DirEntry& entry);
    // Per package, after its last entry; also for a package that failed to open.
    void LinksPackageEnd();
    // Once, after the search has ended. False when the link file could not be written whole.
    bool LinksEnd();

    // With +extract: per entry, after it is listed; `index` is its place in the directory.
    ExtractStatus ExtractEntry(const PackageVisit& visit, CResFile& package, int32_t index, PackageOutput& output,
                               std::string& errorText);
    // Per package opened, after its last entry: waits for its files and writes its gallery page.
    ExtractStatus ExtractPackageEnd(const PackageVisit& visit, CResFile& package, PackageOutput& output,
                                    std::string& errorText);
    // Once, after the search has ended. False when something it writes could not be written.
    bool ExtractEnd();

private:
    OrderedOutput& m_Console;
    CQuarkLinks m_Links;
    ExtractRun m_Run;
    std::deque<ExtractOutcome> m_Outcomes;  // the package's entries so far; a deque keeps each in place
    bool m_WithGallery;
    CGallery m_Gallery;
};
