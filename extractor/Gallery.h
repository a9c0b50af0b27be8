// Mtxdump's gallery: collects what extraction made of each entry and writes a page per
// package beside its PNG files, then an index of the pages when there are several.
#pragma once

#include "archive/ResFile.h"
#include "extractor/ExtractTexture.h"
#include "extractor/GalleryPage.h"
#include "extractor/OrderedOutput.h"
#include "extractor/OutputDirectory.h"
#include "extractor/PackageWalk.h"

#include <string>
#include <utility>
#include <vector>

class CGallery {
public:
    // `outputDirectory`: the run's output folder, empty or ending in a separator; warnings
    // go to `console`.
    CGallery(std::string outputDirectory, OrderedOutput& console)
        : m_OutputDirectory(std::move(outputDirectory)), m_Console(console) {}

    // Adds the entry at `index` of the open package to its page, in directory order.
    void mfAddEntry(CResFile& package, int32_t index, const ExtractOutcome& outcome);
    // Writes the package's page as "index.html" in its folder, which is made if no file
    // went there yet. Failed, after the writers' warning, when the page could not be
    // written; FolderFailed, with the reason in `errorText`, when the folder could not
    // be made.
    ExtractStatus mfEndPackage(const PackageVisit& visit, PackageOutput& output, std::string& errorText);
    // Writes the output folder's "index.html" when more than one package page was
    // written; false, after the writers' warning, when it could not be written.
    bool mfEnd();

private:
    // Writes a page; prints the writers' warning and returns false when it could not be written.
    bool mfWritePage(const std::string& path, const std::string& page);

    std::string m_OutputDirectory;
    OrderedOutput& m_Console;
    GalleryPackage m_Package;
    std::vector<GalleryLink> m_Pages;  // the package pages written
};
