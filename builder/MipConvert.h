// Conversion of a decoded image into a texture record, and the palette expansion
// that indexed records and the shared "Palette" entry use.
#pragma once

#include "archive/MipTexture.h"
#include "common/HeapBuffer.h"

#include <cstdint>

class CImage;

// A record (header and body) in one heap block.
using RecordBuffer = HeapBytes;

// The builder's message when a record cannot be allocated.
constexpr char kRecordAllocationFailed[] = "Can't allocate memory for mip texture";

// Allocates a record of `size` bytes; null when that cannot be allocated or does not fit
// an entry's 32-bit size.
RecordBuffer AllocateRecord(uint64_t size);

// Expands 256 RGB triplets into the run's one RgbaPalette buffer: alpha 0 at
// `transIndex`, 255 elsewhere. Null without a palette. The buffer stays valid until
// the next expansion.
RgbaPalette* ExpandPalette(const uint8_t* palette, int32_t transIndex);

// True when some palette index that the indexed image's pixels use has another colour
// (red, green, blue) in `palette` than in the image's own palette.
bool UsesOtherColours(const CImage& image, const RgbaPalette& palette);

// True when the image can become a record: a known format tag, at least one pixel,
// and a palette when the image is indexed.
bool CanBuildMipTexture(const CImage& image);

// Builds the record of `image`. `header` comes cleared, with name, width, height and
// ownPalette set; on return it also holds format, dataOffset and the averages, and
// `recordSize` the record's size. Null (header and size untouched) when
// CanBuildMipTexture is false; null after filling the header when the record cannot be
// allocated.
RecordBuffer BuildMipTexture(const CImage& image, MipTexture& header, size_t& recordSize,
                             bool ownPalette);
