// The LZSS codec written straight from the scheme, with LzssEncode's and LzssDecode's
// contracts: the same streams, the same bytes out, byte by byte and without shortcuts.
#pragma once

#include <cstdint>

int32_t PlainLzssEncode(const uint8_t* src, uint8_t* dst, int32_t srcLen);
int32_t PlainLzssDecode(const uint8_t* src, uint8_t* dst, int32_t srcLen, int32_t dstLen);
