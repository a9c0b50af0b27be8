// Writing one texture record of an open package out as an image file: PCX for
// palette records, TGA for RGB and RGBA records, DDS for DXT records when asked.
#pragma once

#include "archive/ResFile.h"
#include "archive/MipTexture.h"
#include "extractor/OutputDirectory.h"

#include <cstdint>
#include <string>

// What became of one entry.
enum class ExtractStatus {
    Done,          // its file was written, or it has none to write
    Failed,        // it could not be loaded or its file not written; the line says why
    FolderFailed,  // the package's folder could not be made; `errorText` says why
};

// Extracts entry `index` of `package` into `output`'s folder, named after the entry, with
// ".pcx" or ".tga", and prints its "  extract '<name>' " line with the ending that tells
// how it went. With `writeDds`, a DXT record goes to the entry name without its "_tc" +
// ".dds"; without, it is skipped with a warning. Every '/' and '\\' of the name becomes
// '_'. A later entry of the same name is written as name~K (K = 2, 3, ...) with a
// warning. The entry is read whole and unpacked, so a record stored with LZSS extracts
// like one stored plain. Call it for every entry of the package, in directory order.
// `packageFileName` names the package in the missing-palette message; `palette` is
// the run's palette table, refilled for every palette texture.
ExtractStatus ExtractTexture(CResFile& package, int32_t index, PackageOutput& output,
                             const std::string& packageFileName, RgbaPalette& palette, bool writeDds,
                             std::string& errorText);
