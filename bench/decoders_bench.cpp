// The project's image decoders side by side with stb_image on the same files, made at
// start-up: GIF, TGA, PNG and JPEG, photographic and flat pictures, 64 x 64 to
// 2048 x 2048. Throughput counts decoded pixels as 4 bytes each for both decoders, in MB/s;
// the two decoders take turns (bench/PairedRuns.h).
#include "bench/PairedRuns.h"
#include "image/GifImage.h"
#include "image/Image.h"
#include "image/JpegImage.h"
#include "image/PngImage.h"
#include "image/TgaImage.h"
#include "samples/ImageEncoders.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_GIF
#define STBI_ONLY_TGA
#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#include <stb_image.h>
#pragma GCC diagnostic pop

namespace {

constexpr int kSizes[] = {64, 512, 2048};
constexpr int kFlatBlock = 64;      // side of the flat picture's single-colour squares
constexpr int kFlatColours = 16;
constexpr int kJpegQuality = 90;
constexpr uint8_t kTopFirst = 0x20;

// The picture as RGBA and as palette indices (for GIF).
using Picture = SamplePicture;

uint32_t NextRandom(uint32_t& state)
{
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

uint8_t ClampByte(double value)
{
    return static_cast<uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value);
}

// Smooth colour waves with a little grain, quantised to a 3-3-2 palette for GIF.
Picture MakePhoto(int size)
{
    Picture pic(size, size);
    for (int i = 0; i < 256; ++i) {
        pic.palette[i * 3 + 0] = static_cast<uint8_t>((i >> 5) * 255 / 7);
        pic.palette[i * 3 + 1] = static_cast<uint8_t>(((i >> 2) & 7) * 255 / 7);
        pic.palette[i * 3 + 2] = static_cast<uint8_t>((i & 3) * 255 / 3);
    }
    uint32_t seed = 0x9E3779B9u;
    const double scale = 6.0 / size;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const double grain = static_cast<int>(NextRandom(seed) % 17) - 8;
            const uint8_t r = ClampByte(128 + 100 * std::sin(x * scale) * std::cos(y * scale * 0.7) + grain);
            const uint8_t g = ClampByte(128 + 90 * std::sin((x + y) * scale * 0.5) + grain);
            const uint8_t b = ClampByte(110 + 80 * std::cos((x - 2 * y) * scale * 0.3) + grain);
            const size_t at = static_cast<size_t>(y) * size + x;
            uint8_t* pixel = pic.at(x, y);
            pixel[0] = r;
            pixel[1] = g;
            pixel[2] = b;
            pixel[3] = 255;
            pic.indices[at] = static_cast<uint8_t>((r >> 5) << 5 | (g >> 5) << 2 | (b >> 6));
        }
    }
    return pic;
}

// Squares of a few colours: long runs, as in drawn textures.
Picture MakeFlat(int size)
{
    Picture pic(size, size);
    uint32_t seed = 12345;
    for (int i = 0; i < kFlatColours * 3; ++i)
        pic.palette[i] = static_cast<uint8_t>(NextRandom(seed));
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const int colour = (x / kFlatBlock * 7 + y / kFlatBlock * 3) % kFlatColours;
            const size_t at = static_cast<size_t>(y) * size + x;
            pic.indices[at] = static_cast<uint8_t>(colour);
            std::memcpy(pic.at(x, y), &pic.palette[colour * 3], 3);
            pic.at(x, y)[3] = 255;
        }
    }
    return pic;
}

Bytes TgaOf(const Picture& pic, bool runLength)
{
    return EncodeTga(pic, TgaOptions{static_cast<uint8_t>(runLength ? 10 : 2), 24, 0, kTopFirst, true});
}

// A decoder that fails or yields the wrong size ends the benchmark with an error.
template <class Decoder>
bool DecodeProject(const Bytes& file, int size)
{
    Decoder image(file.data(), static_cast<uint32_t>(file.size()));
    benchmark::DoNotOptimize(image.m_pPixels);
    return g_ImageError == IMGERR_NONE && image.m_Width == size && image.m_Height == size;
}

bool DecodePeer(const Bytes& file, int size)
{
    int width = 0, height = 0, channels = 0;
    stbi_uc* pixels = stbi_load_from_memory(file.data(), static_cast<int>(file.size()), &width, &height, &channels, 4);
    benchmark::DoNotOptimize(pixels);
    stbi_image_free(pixels);
    return pixels && width == size && height == size;
}

template <class Decoder>
void DecodeBoth(benchmark::State& state, const Bytes& file, int size)
{
    bool mineOk = true;
    bool peerOk = true;
    paired::Run(state, size * size * 4 / 1e6, [&] { mineOk = DecodeProject<Decoder>(file, size) && mineOk; },
                [&] { peerOk = DecodePeer(file, size) && peerOk; });
    if (!mineOk)
        state.SkipWithError(g_ImageErrorText[0] ? g_ImageErrorText : "decode failed");
    else if (!peerOk)
        state.SkipWithError("stb_image failed");
}

constexpr int kRounds = 15;

// The files live for the whole run; benchmarks refer to them.
std::vector<Bytes>& Files()
{
    static std::vector<Bytes> files;
    return files;
}

template <class Decoder>
void RegisterPair(const char* format, const char* content, int size, Bytes file)
{
    Files().push_back(std::move(file));
    const Bytes* stored = &Files().back();
    const std::string name = std::string("decode/") + format + "/" + content + "/" + std::to_string(size);
    benchmark::RegisterBenchmark(name.c_str(), [stored, size](benchmark::State& state) {
        DecodeBoth<Decoder>(state, *stored, size);
    })->Iterations(kRounds)->Unit(benchmark::kMillisecond);
}

void RegisterAll()
{
    constexpr size_t kPairs = 4 * 2 * (sizeof(kSizes) / sizeof(kSizes[0]));
    Files().reserve(kPairs);  // pointers into the vector must stay valid
    for (const int size : kSizes) {
        const Picture photo = MakePhoto(size);
        const Picture flat = MakeFlat(size);
        for (const auto& [content, pic] : {std::pair<const char*, const Picture*>{"photo", &photo},
                                           std::pair<const char*, const Picture*>{"flat", &flat}}) {
            const bool isFlat = pic == &flat;
            RegisterPair<CGifImage>("GIF", content, size, EncodeGifPicture(*pic));
            RegisterPair<CTgaImage>("TGA", content, size, TgaOf(*pic, isFlat));
            RegisterPair<CPngImage>("PNG", content, size, EncodePngRgba(*pic, false));
            RegisterPair<CJpegImage>("JPEG", content, size, EncodeJpegRgb(*pic, kJpegQuality));
        }
    }
}

[[maybe_unused]] const bool g_registered = (RegisterAll(), true);

}  // namespace
