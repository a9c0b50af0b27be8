// Mtxdump's gallery: collects what extraction made of each entry and writes a page per
// package beside its PNG files, then an index of the pages when there are several.
#pragma once

#include "archive/ResFile.h"
#include "extractor/ExtractTexture.h"
#include "extractor/GalleryPage.h"
#include "extractor/PackageWalk.h"

#include <string>
#include <utility>
#include <vector>

constexpr char kGalleryPageName[] = "index.html";

class CGallery {
public:
    // `outputDirectory`: the run's output folder, empty or ending in a separator.
    explicit CGallery(std::string outputDirectory) : m_OutputDirectory(std::move(outputDirectory)) {}

    // Adds the entry at `index` to the open package's page, in directory order.
    void mfAddEntry(const PackageVisit& visit, CResFile& package, int32_t index, const ExtractOutcome& outcome);
    // Writes the package's page as its output prefix + kGalleryPageName; a page that
    // cannot be written gets the writers' warning.
    void mfEndPackage(const PackageVisit& visit);
    // Writes the output folder's index page when more than one package page was written.
    void mfEnd();

private:
    std::string m_OutputDirectory;
    GalleryPackage m_Package;
    std::vector<GalleryLink> m_Pages;  // the package pages written
};
