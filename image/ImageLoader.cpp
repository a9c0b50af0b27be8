// The loader: hands a file's bytes to the decoders in a fixed order; the format is found
// by content alone.
#include "image/Image.h"
#include "image/GifImage.h"
#include "image/JpegImage.h"
#include "image/PcxImage.h"
#include "image/PngImage.h"
#include "image/TgaImage.h"

#include <cstddef>
#include <new>

namespace {

using DecoderFactory = CImage* (*)(const uint8_t* data, uint32_t size);

template <class Decoder>
CImage* Construct(const uint8_t* data, uint32_t size)
{
    return new (std::nothrow) Decoder(data, size);
}

// Order: PNG, GIF, PCX, JPEG, TGA. Formats with a signature or fixed header bytes come
// first; TGA has neither and takes last whatever the others rejected.
const DecoderFactory kDecoderChain[] = {
    Construct<CPngImage>,
    Construct<CGifImage>,
    Construct<CPcxImage>,
    Construct<CJpegImage>,
    Construct<CTgaImage>,
};
constexpr size_t kDecoderCount = sizeof(kDecoderChain) / sizeof(kDecoderChain[0]);

}  // namespace

CImage* LoadImageMemory(const uint8_t* data, uint32_t size)
{
    g_ImageError = IMGERR_NONE;
    CImage* candidate = nullptr;
    for (size_t i = 0; i < kDecoderCount; ++i) {
        candidate = kDecoderChain[i](data, size);
        if (!candidate)
            continue;  // no memory for this decoder counts as its rejection
        if (i + 1 < kDecoderCount && g_ImageError == IMGERR_BADFORMAT) {
            delete candidate;
            candidate = nullptr;
            continue;
        }
        break;
    }
    if (candidate && g_ImageError != IMGERR_NONE) {
        delete candidate;
        return nullptr;
    }
    return candidate;
}
