// The loader: reads a file and hands its bytes to the decoders in a fixed order; the
// format is found by content alone.
#include "image/Image.h"
#include "image/GifImage.h"
#include "image/JpegImage.h"
#include "image/PcxImage.h"
#include "image/PngImage.h"
#include "image/TgaImage.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
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

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
struct BlockFree {
    void operator()(uint8_t* block) const { std::free(block); }
};

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

CImage* LoadImageFile(const char* path)
{
    std::unique_ptr<FILE, FileCloser> file(std::fopen(path, "rb"));
    if (!file)
        return nullptr;
    if (std::fseek(file.get(), 0, SEEK_END) != 0)
        return nullptr;
    const long length = std::ftell(file.get());
    if (length < 0 || static_cast<unsigned long>(length) > UINT32_MAX ||
        std::fseek(file.get(), 0, SEEK_SET) != 0)
        return nullptr;

    const size_t size = static_cast<size_t>(length);
    std::unique_ptr<uint8_t, BlockFree> buffer(static_cast<uint8_t*>(std::malloc(size + 1)));
    if (!buffer || std::fread(buffer.get(), 1, size, file.get()) != size)
        return nullptr;
    return LoadImageMemory(buffer.get(), static_cast<uint32_t>(size));
}
