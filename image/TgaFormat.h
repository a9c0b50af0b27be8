// The TGA header facts the decoder and the extractor's writer share.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t kTgaHeaderSize = 18;
constexpr uint8_t kTgaTrueColour = 2;     // image type: uncompressed true colour
constexpr uint8_t kTgaOriginTop = 0x20;   // descriptor bit: the first row is the top one

// The widest and tallest image: width and height are unsigned 16-bit fields.
constexpr int32_t kTgaMaxSide = 0xFFFF;
