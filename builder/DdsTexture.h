// DDS intake: a DDS file with DXT1, DXT3 or DXT5 data becomes a DXT record holding
// everything after the file's 128-byte header.
#pragma once

#include "builder/MipConvert.h"
#include "builder/MipTexture.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

constexpr size_t kDdsFileHeaderSize = 128;  // "DDS " and the 124-byte surface header

enum class DdsKind {
    NotDds,       // no "DDS " signature, or shorter than the DDS header
    UnknownCode,  // a DDS file whose pixel format is none of the DXT codes
    Dxt,
};

struct DdsSurface {
    int32_t format = 0;          // TEX_DXT1, TEX_DXT3 or TEX_DXT5
    const char* code = nullptr;  // "DXT1", "DXT3" or "DXT5"
    int32_t width = 0;
    int32_t height = 0;
};

// Reads the DDS header from the first `headSize` bytes of a file of `fileSize` bytes.
DdsKind ReadDdsSurface(const uint8_t* head, size_t headSize, uint64_t fileSize,
                       DdsSurface& surface);

// Makes the DXT record of a DDS file: `header` (cleared, name set) gets width, height
// and format; the body is read from `file` at offset 128 to its end. Null when the
// body cannot be read whole.
RecordBuffer ReadDxtRecord(std::FILE* file, uint64_t fileSize, const DdsSurface& surface,
                           MipTexture& header, size_t& recordSize);
