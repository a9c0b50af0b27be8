// The project's image decoders side by side with stb_image on the same files, made at
// start-up: GIF, TGA, PNG and JPEG, photographic and flat pictures, 64 x 64 to
// 2048 x 2048. Throughput counts decoded pixels as 4 bytes each for both decoders.
#include "image/GifImage.h"
#include "image/Image.h"
#include "image/JpegImage.h"
#include "image/PngImage.h"
#include "image/TgaImage.h"

#include <benchmark/benchmark.h>
#include <png.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

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

using Bytes = std::vector<uint8_t>;

constexpr int kSizes[] = {64, 512, 2048};
constexpr int kFlatBlock = 64;      // side of the flat picture's single-colour squares
constexpr int kFlatColours = 16;
constexpr int kJpegQuality = 90;
constexpr int kTgaHeaderSize = 18;
constexpr int kGifCodeLimit = 4096;

// An RGB picture plus the same picture as palette indices (for GIF).
struct Picture {
    int width = 0;
    int height = 0;
    Bytes rgb;       // 3 bytes per pixel, top row first
    Bytes indices;   // 1 byte per pixel
    Bytes palette;   // 256 RGB triplets
};

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
    Picture pic;
    pic.width = pic.height = size;
    pic.rgb.resize(static_cast<size_t>(size) * size * 3);
    pic.indices.resize(static_cast<size_t>(size) * size);
    pic.palette.resize(256 * 3);
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
            pic.rgb[at * 3 + 0] = r;
            pic.rgb[at * 3 + 1] = g;
            pic.rgb[at * 3 + 2] = b;
            pic.indices[at] = static_cast<uint8_t>((r >> 5) << 5 | (g >> 5) << 2 | (b >> 6));
        }
    }
    return pic;
}

// Squares of a few colours: long runs, as in drawn textures.
Picture MakeFlat(int size)
{
    Picture pic;
    pic.width = pic.height = size;
    pic.rgb.resize(static_cast<size_t>(size) * size * 3);
    pic.indices.resize(static_cast<size_t>(size) * size);
    pic.palette.assign(256 * 3, 0);
    uint32_t seed = 12345;
    for (int i = 0; i < kFlatColours * 3; ++i)
        pic.palette[i] = static_cast<uint8_t>(NextRandom(seed));
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const int colour = (x / kFlatBlock * 7 + y / kFlatBlock * 3) % kFlatColours;
            const size_t at = static_cast<size_t>(y) * size + x;
            pic.indices[at] = static_cast<uint8_t>(colour);
            std::memcpy(&pic.rgb[at * 3], &pic.palette[colour * 3], 3);
        }
    }
    return pic;
}

void PutU16(Bytes& out, unsigned value)
{
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

// 24-bit TGA, top row first: uncompressed (type 2) or run-length (type 10).
Bytes EncodeTga(const Picture& pic, bool runLength)
{
    Bytes out = {0, 0, static_cast<uint8_t>(runLength ? 10 : 2), 0, 0, 0, 0, 0, 0, 0, 0, 0};
    PutU16(out, pic.width);
    PutU16(out, pic.height);
    out.push_back(24);
    out.push_back(0x20);  // origin top left
    out.reserve(kTgaHeaderSize + pic.rgb.size() * 2);
    auto putPixel = [&](size_t at) {
        out.push_back(pic.rgb[at * 3 + 2]);
        out.push_back(pic.rgb[at * 3 + 1]);
        out.push_back(pic.rgb[at * 3 + 0]);
    };
    const size_t count = static_cast<size_t>(pic.width) * pic.height;
    if (!runLength) {
        for (size_t at = 0; at < count; ++at)
            putPixel(at);
        return out;
    }
    // Packets stay within a row, as most writers keep them.
    for (int y = 0; y < pic.height; ++y) {
        const size_t rowStart = static_cast<size_t>(y) * pic.width;
        int x = 0;
        while (x < pic.width) {
            int run = 1;
            while (x + run < pic.width && run < 128 &&
                   std::memcmp(&pic.rgb[(rowStart + x) * 3], &pic.rgb[(rowStart + x + run) * 3], 3) == 0)
                ++run;
            if (run > 1) {
                out.push_back(static_cast<uint8_t>(0x80 | (run - 1)));
                putPixel(rowStart + x);
                x += run;
                continue;
            }
            int raw = 1;
            while (x + raw < pic.width && raw < 128 &&
                   (x + raw + 1 >= pic.width ||
                    std::memcmp(&pic.rgb[(rowStart + x + raw) * 3], &pic.rgb[(rowStart + x + raw + 1) * 3], 3) != 0))
                ++raw;
            out.push_back(static_cast<uint8_t>(raw - 1));
            for (int i = 0; i < raw; ++i)
                putPixel(rowStart + x + i);
            x += raw;
        }
    }
    return out;
}

// LZW code writer into GIF data sub-blocks of at most 255 bytes.
class GifCodeWriter {
public:
    explicit GifCodeWriter(Bytes& out) : m_out(out) {}
    void Put(unsigned code, int bits)
    {
        m_buffer |= static_cast<uint64_t>(code) << m_bitCount;
        m_bitCount += bits;
        while (m_bitCount >= 8) {
            PutByte(static_cast<uint8_t>(m_buffer));
            m_buffer >>= 8;
            m_bitCount -= 8;
        }
    }
    void Finish()
    {
        if (m_bitCount > 0)
            PutByte(static_cast<uint8_t>(m_buffer));
        FlushBlock();
        m_out.push_back(0);  // block terminator
    }

private:
    void PutByte(uint8_t byte)
    {
        m_block[m_blockSize++] = byte;
        if (m_blockSize == 255)
            FlushBlock();
    }
    void FlushBlock()
    {
        if (m_blockSize == 0)
            return;
        m_out.push_back(static_cast<uint8_t>(m_blockSize));
        m_out.insert(m_out.end(), m_block, m_block + m_blockSize);
        m_blockSize = 0;
    }
    Bytes& m_out;
    uint64_t m_buffer = 0;
    int m_bitCount = 0;
    uint8_t m_block[255] = {};
    int m_blockSize = 0;
};

// GIF89a with a 256-colour global table and one image, 8-bit LZW.
Bytes EncodeGif(const Picture& pic)
{
    Bytes out = {'G', 'I', 'F', '8', '9', 'a'};
    PutU16(out, pic.width);
    PutU16(out, pic.height);
    out.insert(out.end(), {0xF7, 0, 0});  // global table of 256 entries
    out.insert(out.end(), pic.palette.begin(), pic.palette.end());
    out.push_back(0x2C);
    PutU16(out, 0);
    PutU16(out, 0);
    PutU16(out, pic.width);
    PutU16(out, pic.height);
    out.push_back(0);
    const int minCodeSize = 8;
    out.push_back(minCodeSize);

    const unsigned clearCode = 1u << minCodeSize;
    const unsigned endCode = clearCode + 1;
    std::vector<uint16_t> child(static_cast<size_t>(kGifCodeLimit) * 256, 0);  // 0: no entry
    unsigned nextCode = endCode + 1;
    int codeSize = minCodeSize + 1;
    GifCodeWriter writer(out);
    writer.Put(clearCode, codeSize);

    unsigned prefix = pic.indices[0];
    for (size_t i = 1; i < pic.indices.size(); ++i) {
        const uint8_t k = pic.indices[i];
        const size_t slot = static_cast<size_t>(prefix) * 256 + k;
        if (child[slot] != 0) {
            prefix = child[slot];
            continue;
        }
        writer.Put(prefix, codeSize);
        child[slot] = static_cast<uint16_t>(nextCode++);
        // The decoder adds each entry one code later, so the width grows one code later.
        if (nextCode > (1u << codeSize) && codeSize < 12)
            ++codeSize;
        if (nextCode == kGifCodeLimit) {
            writer.Put(clearCode, codeSize);
            std::fill(child.begin(), child.end(), 0);
            nextCode = endCode + 1;
            codeSize = minCodeSize + 1;
        }
        prefix = k;
    }
    writer.Put(prefix, codeSize);
    writer.Put(endCode, codeSize);
    writer.Finish();
    out.push_back(0x3B);
    return out;
}

Bytes EncodePng(const Picture& pic)
{
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(pic.width);
    image.height = static_cast<png_uint_32>(pic.height);
    image.format = PNG_FORMAT_RGB;
    png_alloc_size_t size = 0;
    if (!png_image_write_to_memory(&image, nullptr, &size, 0, pic.rgb.data(), 0, nullptr))
        return {};
    Bytes out(size);
    if (!png_image_write_to_memory(&image, out.data(), &size, 0, pic.rgb.data(), 0, nullptr))
        return {};
    out.resize(size);
    return out;
}

Bytes EncodeJpeg(const Picture& pic)
{
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(pic.width);
    cinfo.image_height = static_cast<JDIMENSION>(pic.height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, kJpegQuality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(&pic.rgb[static_cast<size_t>(cinfo.next_scanline) * pic.width * 3]);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    Bytes out(buffer, buffer + size);
    std::free(buffer);
    return out;
}

template <class Decoder>
void DecodeProject(benchmark::State& state, const Bytes& file, int size)
{
    for (auto _ : state) {
        Decoder image(file.data(), static_cast<uint32_t>(file.size()));
        if (g_ImageError != IMGERR_NONE || image.m_Width != size || image.m_Height != size) {
            state.SkipWithError(g_ImageErrorText[0] ? g_ImageErrorText : "decode failed");
            break;
        }
        benchmark::DoNotOptimize(image.m_pPixels);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * size * size * 4);
}

void DecodePeer(benchmark::State& state, const Bytes& file, int size)
{
    for (auto _ : state) {
        int width = 0, height = 0, channels = 0;
        stbi_uc* pixels = stbi_load_from_memory(file.data(), static_cast<int>(file.size()),
                                                &width, &height, &channels, 4);
        if (!pixels || width != size || height != size) {
            stbi_image_free(pixels);
            state.SkipWithError("stb_image failed");
            break;
        }
        benchmark::DoNotOptimize(pixels);
        stbi_image_free(pixels);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * size * size * 4);
}

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
    benchmark::RegisterBenchmark((name + "/mtx").c_str(), [stored, size](benchmark::State& state) {
        DecodeProject<Decoder>(state, *stored, size);
    })->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark((name + "/stb").c_str(), [stored, size](benchmark::State& state) {
        DecodePeer(state, *stored, size);
    })->Unit(benchmark::kMicrosecond);
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
            RegisterPair<CGifImage>("GIF", content, size, EncodeGif(*pic));
            RegisterPair<CTgaImage>("TGA", content, size, EncodeTga(*pic, isFlat));
            RegisterPair<CPngImage>("PNG", content, size, EncodePng(*pic));
            RegisterPair<CJpegImage>("JPEG", content, size, EncodeJpeg(*pic));
        }
    }
}

[[maybe_unused]] const bool g_registered = (RegisterAll(), true);

}  // namespace
