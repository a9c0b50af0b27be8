// The extractor's image writers: 8-bit PCX for palette textures, uncompressed 24- and
// 32-bit TGA for true-colour textures, DDS for block-compressed ones. Each builds the whole
// file in one buffer and writes it with one write. Each returns false when the file could
// not be created or fully written, or when its header cannot hold the image's size; no
// partial file is left behind then.
//
// Running out of memory in the extractor: a buffer sized by an entry or an image (the
// entry's bytes, decoded pixels, a whole output file) is allocated without throwing,
// through common/HeapBuffer.h, and a failure is reported as the texture's failure ("Can't
// load texture", "Can't write file"), so the run goes on with the next one. Names, paths,
// page texts and lists of entries are standard containers, as in every layer: their
// exhaustion is not caught and ends the program.
#pragma once

#include "image/DdsFormat.h"
#include "image/PcxFormat.h"
#include "image/TgaFormat.h"

#include <cstdint>
#include <string>

// PcxCanHold and TgaCanHold (from the format headers) tell which sizes a writer takes;
// the DDS header holds every size a record can have.

// `indices`: width × height bytes, rows top first, no padding. `palette`: 768 bytes.
// The PCX body is run-length encoded with runs of one: bytes of 192 and up are
// written as 0xC1 followed by the byte.
bool WritePcx(const std::string& fileName, const uint8_t* indices, const uint8_t* palette,
              int32_t width, int32_t height);

// `pixels`: width × height pixels of 4 bytes (R, G, B, A), rows in the order they are
// to appear in the file. WriteTga24 drops the fourth byte and declares the rows
// top-down; WriteTga32 keeps it and declares 8 attribute bits, also top-down.
bool WriteTga24(const uint8_t* pixels, int32_t width, int32_t height, const std::string& fileName);
bool WriteTga32(const uint8_t* pixels, int32_t width, int32_t height, const std::string& fileName);

// Creates or truncates `fileName` (mode 0666 before the umask) and writes the bytes
// with one write; a file that could not be written whole is removed again.
bool WriteWholeFile(const std::string& fileName, const uint8_t* bytes, size_t size);

// The DDS header, then `bodySize` bytes of `body` as they are.
bool WriteDds(const std::string& fileName, const DdsSurfaceHeader& header, const uint8_t* body,
              size_t bodySize);
