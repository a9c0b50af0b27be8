// DXT1, DXT3 and DXT5 block data decoded to RGBA pixels through libsquish.
#pragma once

#include "common/HeapBuffer.h"

#include <cstddef>
#include <cstdint>

// The most bytes a decoded level may take: 4 bytes a pixel, so up to 16384 × 16384.
constexpr uint64_t kMaxDxtDecodedBytes = uint64_t{1} << 30;

// Decodes the top level of "DXT1", "DXT3" or "DXT5" data (`fourCc`, as a DDS file names
// it) into width × height pixels of R, G, B, A, rows top first. DXT1's transparent
// texels come out as 0, 0, 0, 0. Null for another code, a side that is not positive,
// data shorter than the top level, pixels that would take more than
// kMaxDxtDecodedBytes, or when memory runs out.
HeapBytes DecodeDxtTopLevel(const char* fourCc, int32_t width, int32_t height, const uint8_t* data, size_t size);
