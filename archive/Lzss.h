// LZSS codec of RC_LZSS entries: 4096-byte window, matches of 3..18 bytes, binary-tree
// match search. Both routines work memory to memory and keep their state per call, so
// they are reentrant.
#pragma once

#include <cstdint>

constexpr int32_t kLzssWindowSize = 4096;   // ring buffer size
constexpr int32_t kLzssMaxMatch = 18;       // longest match
constexpr int32_t kLzssThreshold = 2;       // matches this short or shorter are sent as literals
constexpr int32_t kLzssStartPos = kLzssWindowSize - kLzssMaxMatch;  // first byte goes here (4078)

// Most bytes LzssEncode can write for `srcLen` input bytes: one flag byte per eight literals.
constexpr int64_t LzssMaxEncodedSize(int64_t srcLen)
{
    return srcLen + (srcLen + 7) / 8;
}

// Most bytes LzssDecode can produce from `srcLen` stream bytes: a group of one flag byte
// and eight two-byte matches (17 bytes) yields at most 8 * 18 = 144 bytes.
constexpr int64_t LzssMaxDecodedSize(int64_t srcLen)
{
    return (srcLen + 16) / 17 * 8 * kLzssMaxMatch;
}

// Encodes `srcLen` bytes into `dst`, which must hold LzssMaxEncodedSize(srcLen) bytes.
// Returns the number of bytes written (0 for an empty input).
int32_t LzssEncode(const uint8_t* src, uint8_t* dst, int32_t srcLen);

// Decodes the `srcLen`-byte stream at `src` into `dst`, writing at most `dstLen` bytes.
// Stops when `dstLen` bytes are out or the input ends; a token cut short by the end of the
// input is dropped. Returns the number of bytes written.
int32_t LzssDecode(const uint8_t* src, uint8_t* dst, int32_t srcLen, int32_t dstLen);
