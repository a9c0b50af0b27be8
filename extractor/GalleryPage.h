// The gallery's HTML pages: one per package with a tile per texture, and an index that
// links the packages' pages. Each page is one self-contained HTML5 file (inline CSS, no
// script, nothing fetched) and the same input always gives the same bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What a package page shows of one entry, in directory order.
struct GalleryEntry {
    std::string name;         // entry name as stored
    bool texture = false;     // a texture record gets a tile; any other entry a list line
    uint64_t size = 0;        // other entries: their bytes, unpacked
    int32_t width = 0;        // textures: the record's fields
    int32_t height = 0;
    int32_t format = 0;
    bool ownPalette = false;
    bool hasAverage = false;  // the average colour is known
    uint8_t averageRed = 0, averageGreen = 0, averageBlue = 0;
    std::string imageFile;    // file beside the page, shown when PNG; empty when none was written
};

struct GalleryPackage {
    std::string fileName;  // the package's file name, as found
    std::vector<GalleryEntry> entries;
};

// One package on the index page.
struct GalleryLink {
    std::string fileName;  // the package's file name
    std::string folder;    // the folder beside the index that holds its page
    size_t entryCount = 0;
};

std::string GalleryPackagePage(const GalleryPackage& package);
std::string GalleryIndexPage(const std::vector<GalleryLink>& packages);

// Bytes as HTML text that shows them as themselves: '<', '>', '&', '"' and '\'' as
// references, control characters as their visible pictures, and a name that is not
// UTF-8 read as Windows-1252 (each byte from 0x80 up as a numeric reference).
std::string HtmlText(const std::string& bytes);

// A relative URL naming the file `fileName`: every byte but letters, digits and
// "-._~" percent-encoded.
std::string UrlPath(const std::string& fileName);
