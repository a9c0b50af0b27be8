// Writing one texture record of an open package out as an image file: PCX for
// palette records, TGA for RGB and RGBA records, DDS for DXT records when asked; or
// PNG for all of them.
#pragma once

#include "archive/ResFile.h"
#include "archive/MipTexture.h"

#include <cstdint>
#include <string>
#include <string>

// The output file name of an entry: prefix + entry name + extension, with every '/'
// and '\\' of the entry name turned into '_' so that no name leads outside the prefix.
std::string ExtractFileName(const std::string& outputPrefix, const char* entryName,
                            const char* extension);

// The bit of a record's ownPalette field that says its body starts with a palette.
constexpr int32_t kOwnPaletteBit = 1;

// Which files extraction writes.
struct ExtractFormats {
    bool dds = false;  // DXT records as DDS files; without it they are skipped, or decoded with `png`
    bool png = false;  // PNG files instead of PCX and TGA files, and for DXT records unless `dds`
};

// What extraction made of one entry, for the gallery.
struct ExtractOutcome {
    bool texture = false;       // the entry holds a record header with a texture format
    MipTexture header{};        // that header
    bool knownAverage = false;  // the header's average colour is known: stored, or (DXT) computed
    std::string fileName;       // the file written; empty when none was
};

// Extracts entry `index` of `package` to outputPrefix + name + ".pcx" or ".tga" and
// prints its "  extract '<name>' " line with the ending that tells how it went. With
// `formats.dds`, a DXT record goes to outputPrefix + name without its "_tc" + ".dds";
// without, it is skipped with a warning. The
// entry is read whole and unpacked, so a record stored with LZSS extracts like one
// stored plain.
// `packageFileName` names the package in the missing-palette message; `palette` is
// the run's palette table, refilled for every palette texture. With `formats.png`,
// every texture goes to outputPrefix + name + ".png" instead (a DXT record decoded,
// unless `formats.dds`).
ExtractOutcome ExtractTexture(CResFile& package, int32_t index, const std::string& outputPrefix,
                              const std::string& packageFileName, RgbaPalette& palette,
                              const ExtractFormats& formats);
