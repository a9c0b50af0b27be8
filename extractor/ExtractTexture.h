// Writing one texture record of an open package out as an image file: PCX for
// palette records, TGA for RGB and RGBA records, DDS for DXT records when asked; or
// PNG for all of them.
#pragma once

#include "archive/ResFile.h"
#include "archive/MipTexture.h"
#include "extractor/OrderedOutput.h"
#include "extractor/OutputDirectory.h"

#include <cstdint>
#include <string>

// What became of one entry.
enum class ExtractStatus {
    Done,          // its file was written, or it has none to write
    Failed,        // it could not be loaded or its file not written; the line says why
    FolderFailed,  // the package's folder could not be made; `errorText` says why
};

// The bit of a record's ownPalette field that says its body starts with a palette.
constexpr int32_t kOwnPaletteBit = 1;

// Which files extraction writes.
struct ExtractFormats {
    bool dds = false;  // DXT records as DDS files; without it they are skipped, or decoded with `png`
    bool png = false;  // PNG files instead of PCX and TGA files, and for DXT records unless `dds`
};

// What extraction shares across a run's entries.
struct ExtractRun {
    ExtractFormats formats;
    OrderedOutput& console;   // every line goes here; PNG files are written on its workers
    RgbaPalette palette{};    // the run's palette table, refilled for every palette texture
};

// What extraction made of one entry, for the gallery.
struct ExtractOutcome {
    bool texture = false;       // the entry holds a record header with a texture format
    MipTexture header{};        // that header
    bool knownAverage = false;  // the header's average colour is known: stored, or (DXT) computed
    std::string fileName;       // the file written, its name in the package's folder; empty when none was
};

// Extracts entry `index` of `package` into `output`'s folder, named after the entry, with
// ".pcx" or ".tga", and prints its "  extract '<name>' " line with the ending that tells
// how it went. With `formats.dds`, a DXT record goes to the entry name without its "_tc" +
// ".dds"; without, it is skipped with a warning. Every '/' and '\\' of the name becomes
// '_'. A later entry of the same name is written as name~K (K = 2, 3, ...) with a
// warning. The entry is read whole and unpacked, so a record stored with LZSS extracts
// like one stored plain. Call it for every entry of the package, in directory order.
// `packageFileName` names the package in the missing-palette message. With `formats.png`,
// every texture goes to a ".png" file instead (a DXT record decoded, unless `formats.dds`);
// the file is written on one of the console's workers, so its line ends, `outcome.fileName`
// is set and a failure is counted in `run.console.failed()` only once that write is done:
// `outcome` must stay in place until the console is drained. `outcome` tells what the
// entry held and which file it gave.
ExtractStatus ExtractTexture(CResFile& package, int32_t index, PackageOutput& output,
                             const std::string& packageFileName, ExtractRun& run, ExtractOutcome& outcome,
                             std::string& errorText);
