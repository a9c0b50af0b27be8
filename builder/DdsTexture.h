// DDS intake: a DDS file with DXT1, DXT3 or DXT5 data becomes a DXT record holding
// everything after the file's 128-byte header.
#pragma once

#include "builder/MipConvert.h"
#include "archive/MipTexture.h"
#include "image/DdsFormat.h"

#include <cstddef>
#include <cstdint>

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

// Reads the DDS header of a whole file's bytes.
DdsKind ReadDdsSurface(const uint8_t* data, size_t size, DdsSurface& surface);

// Makes the DXT record of a DDS file that ReadDdsSurface accepted: `header` (cleared,
// name set) gets width, height and format, the body is the file from byte 128 on. Null
// when the record cannot be allocated.
RecordBuffer BuildDxtRecord(const uint8_t* data, size_t size, const DdsSurface& surface,
                            MipTexture& header, size_t& recordSize);
