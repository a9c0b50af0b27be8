// Fuzz target bodies: each feeds arbitrary bytes to one parser and checks, beyond the
// sanitizers, the promises the parser makes about what it hands back.
#include "fuzz/FuzzTargets.h"

#include "builder/DdsTexture.h"
#include "image/Image.h"
#include "image/PcxImage.h"
#include "image/TgaImage.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

[[noreturn]] void CheckFailed(const char* condition, const char* file, int line)
{
    std::fprintf(stderr, "%s:%d: fuzz check failed: %s\n", file, line, condition);
    std::abort();
}

#define FUZZ_CHECK(condition) ((condition) ? void() : CheckFailed(#condition, __FILE__, __LINE__))

// Keeps reads of the planes from being optimised away.
volatile uint32_t g_Sink;

// Reads every byte a decoded image claims to own, so that a plane smaller than its
// size shows up under AddressSanitizer, and checks what a successful decode promises.
void CheckDecodedImage(const CImage& image)
{
    FUZZ_CHECK(image.m_Format >= IMG_PCX && image.m_Format <= IMG_PNG);
    FUZZ_CHECK(image.m_Width >= 0 && image.m_Height >= 0);
    FUZZ_CHECK(image.m_pPixels != nullptr && image.m_pIndices != nullptr);
    const size_t pixelCount = static_cast<size_t>(image.m_Width) * static_cast<size_t>(image.m_Height);
    const bool indexed = image.m_Format == IMG_PCX || image.m_Format == IMG_GIF;
    uint32_t sum = 0;
    for (size_t i = 0; i < pixelCount; ++i) {
        sum += image.m_pIndices[i];
        for (size_t channel = 0; channel < 4; ++channel)
            sum += image.m_pPixels[i * 4 + channel];
        if (indexed)
            FUZZ_CHECK(image.m_pPixels[i * 4 + 3] == 0);
    }
    if (indexed) {
        FUZZ_CHECK(image.m_pPalette != nullptr);
        for (int i = 0; i < kPaletteSize; ++i)
            sum += image.m_pPalette[i];
        FUZZ_CHECK(image.m_TransIndex >= -1 && image.m_TransIndex < kPaletteEntries);
    } else {
        FUZZ_CHECK(image.m_TransIndex == -1);
    }
    g_Sink = sum;
}

// One decoder on its own: it either fails with a rejection or yields a sound image.
template <class Decoder>
void RunDecoder(const uint8_t* data, size_t size, int32_t format)
{
    const std::unique_ptr<CImage> image(new Decoder(data, static_cast<uint32_t>(size)));
    if (g_ImageError != IMGERR_NONE) {
        FUZZ_CHECK(g_ImageError == IMGERR_BADFORMAT);
        return;
    }
    FUZZ_CHECK(image->m_Format == format);
    CheckDecodedImage(*image);
}

void FuzzImage(const uint8_t* data, size_t size)
{
    const std::unique_ptr<CImage> image(LoadImageMemory(data, static_cast<uint32_t>(size)));
    if (!image) {
        FUZZ_CHECK(g_ImageError != IMGERR_NONE);
        return;
    }
    FUZZ_CHECK(g_ImageError == IMGERR_NONE);
    CheckDecodedImage(*image);
}

void FuzzPcx(const uint8_t* data, size_t size)
{
    RunDecoder<CPcxImage>(data, size, IMG_PCX);
}

void FuzzTga(const uint8_t* data, size_t size)
{
    RunDecoder<CTgaImage>(data, size, IMG_TGA);
}

// DDS intake: the header parse, then for a DXT file the record made from the file's
// bytes, which must be the header followed by everything after the DDS header.
void FuzzDds(const uint8_t* data, size_t size)
{
    DdsSurface surface;
    const DdsKind kind = ReadDdsSurface(data, size, surface);
    if (kind != DdsKind::Dxt)
        return;
    FUZZ_CHECK(size >= kDdsFileHeaderSize);
    MipTexture header{};
    size_t recordSize = 0;
    const RecordBuffer record = BuildDxtRecord(data, size, surface, header, recordSize);
    FUZZ_CHECK(record != nullptr);
    FUZZ_CHECK(recordSize == kMipHeaderSize + size - kDdsFileHeaderSize);
    FUZZ_CHECK(header.format == surface.format && header.width == surface.width &&
               header.height == surface.height);
    FUZZ_CHECK(std::memcmp(record.get() + kMipHeaderSize, data + kDdsFileHeaderSize,
                           size - kDdsFileHeaderSize) == 0);
}

}  // namespace

const FuzzTarget kFuzzTargets[] = {
    {"image", FuzzImage},
    {"pcx", FuzzPcx},
    {"tga", FuzzTga},
    {"dds", FuzzDds},
};
const size_t kFuzzTargetCount = sizeof(kFuzzTargets) / sizeof(kFuzzTargets[0]);

const FuzzTarget* FindFuzzTarget(const char* name)
{
    for (const FuzzTarget& target : kFuzzTargets) {
        if (std::strcmp(target.name, name) == 0)
            return &target;
    }
    return nullptr;
}
