// Writing one texture record of an open package out as an image file: PCX for
// palette records, TGA for RGB and RGBA records, DDS for DXT records when asked.
#pragma once

#include "archive/ResFile.h"
#include "archive/MipTexture.h"

#include <cstdint>
#include <string>

// The output file name of an entry: prefix + entry name + extension, with every '/'
// and '\\' of the entry name turned into '_' so that no name leads outside the prefix.
std::string ExtractFileName(const std::string& outputPrefix, const char* entryName,
                            const char* extension);

// Extracts entry `index` of `package` to outputPrefix + name + ".pcx" or ".tga" and
// prints its "  extract '<name>' " line with the ending that tells how it went. With
// `writeDds`, a DXT record goes to outputPrefix + name without its "_tc" + ".dds";
// without, it is skipped with a warning. The
// entry is read whole and unpacked, so a record stored with LZSS extracts like one
// stored plain.
// `packageFileName` names the package in the missing-palette message; `palette` is
// the run's palette table, refilled for every palette texture.
void ExtractTexture(CResFile& package, int32_t index, const std::string& outputPrefix,
                    const std::string& packageFileName, RgbaPalette& palette, bool writeDds);
