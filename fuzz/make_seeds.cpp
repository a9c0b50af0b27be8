// Writes the seed inputs of the fuzz targets into <corpus>/<target>/seed-*: small
// files in each format variant the parsers know, so that fuzzing starts past the
// signatures and headers. The image seeds are completed by the pictures that
// samples/make_samples draws (copied in as seed-sample-*).
// Usage: make_seeds <corpus folder>
#include "builder/MipTexture.h"
#include "common/ByteReader.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

std::string g_CorpusRoot;
int g_Failures = 0;

void WriteSeed(const std::string& target, const std::string& name, const Bytes& bytes)
{
    const std::string path = g_CorpusRoot + "/" + target + "/seed-" + name;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
        std::fprintf(stderr, "make_seeds: can't write %s\n", path.c_str());
        ++g_Failures;
    }
    if (file)
        std::fclose(file);
}

void Append16(Bytes& out, uint32_t value)
{
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

// ---- TGA ------------------------------------------------------------------------------

struct TgaSeed {
    const char* name;
    uint8_t imageType;
    uint8_t pixelSize;
    uint8_t descriptor;
    uint8_t mapEntrySize;  // 0: no colour map
    uint16_t mapLength;
};

// A 4 x 3 picture in the seed's encoding; run-length forms alternate repeat and raw packets.
Bytes TgaBytes(const TgaSeed& seed)
{
    constexpr uint16_t kWidth = 4;
    constexpr uint16_t kHeight = 3;
    const bool rle = seed.imageType >= 9;
    const Bytes id = {'i', 'd'};
    Bytes out = {static_cast<uint8_t>(id.size()), static_cast<uint8_t>(seed.mapEntrySize ? 1 : 0),
                 seed.imageType};
    Append16(out, 0);
    Append16(out, seed.mapLength);
    out.push_back(seed.mapEntrySize);
    Append16(out, 0);
    Append16(out, 0);
    Append16(out, kWidth);
    Append16(out, kHeight);
    out.push_back(seed.pixelSize);
    out.push_back(seed.descriptor);
    out.insert(out.end(), id.begin(), id.end());
    const size_t mapBytes = (seed.mapEntrySize + 7u) / 8u;
    for (size_t i = 0; i < seed.mapLength * mapBytes; ++i)
        out.push_back(static_cast<uint8_t>(i * 37 + 11));

    const size_t pixelBytes = (seed.pixelSize + 7u) / 8u;
    auto appendPixel = [&](unsigned value) {
        for (size_t i = 0; i < pixelBytes; ++i)
            out.push_back(static_cast<uint8_t>(value * 29 + i * 53));
    };
    const unsigned pixelCount = kWidth * kHeight;
    if (!rle) {
        for (unsigned i = 0; i < pixelCount; ++i)
            appendPixel(seed.mapLength ? i % seed.mapLength : i);
        return out;
    }
    for (unsigned done = 0; done < pixelCount;) {
        const unsigned run = done % 2 == 0 ? 3 : 2;
        if (done % 2 == 0) {
            out.push_back(static_cast<uint8_t>(0x80 | (run - 1)));
            appendPixel(1);
        } else {
            out.push_back(static_cast<uint8_t>(run - 1));
            for (unsigned i = 0; i < run; ++i)
                appendPixel(i);
        }
        done += run;
    }
    return out;
}

void WriteTgaSeeds()
{
    const TgaSeed seeds[] = {
        {"true24-bottom-up", 2, 24, 0x00, 0, 0},
        {"true32-top-down", 2, 32, 0x28, 0, 0},
        {"true16", 2, 16, 0x20, 0, 0},
        {"true15-interlaced2", 2, 15, 0x40, 0, 0},
        {"gray8-interlaced4", 3, 8, 0x80, 0, 0},
        {"mapped8-map24", 1, 8, 0x20, 24, 4},
        {"mapped16-map16", 1, 16, 0x00, 16, 3},
        {"mapped8-map32", 1, 8, 0x20, 32, 2},
        {"true24-with-map8", 2, 24, 0x20, 8, 2},
        {"rle-true32", 10, 32, 0x20, 0, 0},
        {"rle-true24", 10, 24, 0x00, 0, 0},
        {"rle-gray8", 11, 8, 0x20, 0, 0},
        {"rle-mapped8-map15", 9, 8, 0x20, 15, 4},
    };
    for (const TgaSeed& seed : seeds) {
        const Bytes bytes = TgaBytes(seed);
        WriteSeed("tga", seed.name, bytes);
        WriteSeed("image", std::string("tga-") + seed.name, bytes);
    }
}

// ---- PCX ------------------------------------------------------------------------------

// An 8-bit PCX of the given size whose rows mix single bytes and runs, with
// `padding` extra bytes per encoded row.
Bytes PcxBytes(uint16_t width, uint16_t height, uint16_t padding)
{
    Bytes out(128, 0);
    out[0] = 10;
    out[1] = 5;
    out[2] = 1;
    out[3] = 8;
    PutU16(&out[8], width - 1u);
    PutU16(&out[10], height - 1u);
    out[65] = 1;
    PutU16(&out[66], width + padding);
    for (unsigned y = 0; y < height; ++y) {
        unsigned x = 0;
        while (x < width + padding) {
            const unsigned run = (x + y) % 3 == 0 ? std::min(3u, width + padding - x) : 1;
            const uint8_t value = static_cast<uint8_t>(x * 7 + y * 13);
            if (run > 1 || value >= 0xC0) {
                out.push_back(static_cast<uint8_t>(0xC0 | run));
            }
            out.push_back(value);
            x += run;
        }
    }
    out.push_back(12);
    for (unsigned i = 0; i < 768; ++i)
        out.push_back(static_cast<uint8_t>(i * 5));
    return out;
}

void WritePcxSeeds()
{
    const struct {
        const char* name;
        uint16_t width, height, padding;
    } seeds[] = {{"5x4", 5, 4, 0}, {"1x1", 1, 1, 0}, {"5x3-padded", 5, 3, 1}};
    for (const auto& seed : seeds) {
        const Bytes bytes = PcxBytes(seed.width, seed.height, seed.padding);
        WriteSeed("pcx", seed.name, bytes);
        WriteSeed("image", std::string("pcx-") + seed.name, bytes);
    }
}

// ---- DDS ------------------------------------------------------------------------------

Bytes DdsBytes(const char* fourCc, uint32_t width, uint32_t height, size_t bodySize)
{
    Bytes out(128, 0);
    std::memcpy(out.data(), "DDS ", 4);
    PutU32(&out[4], 124);
    PutU32(&out[12], height);
    PutU32(&out[16], width);
    PutU32(&out[76], 32);  // pixel format: its size, then flags saying a code follows
    PutU32(&out[80], 4);
    std::memcpy(&out[84], fourCc, 4);
    for (size_t i = 0; i < bodySize; ++i)
        out.push_back(static_cast<uint8_t>(i * 3));
    return out;
}

void WriteDdsSeeds()
{
    WriteSeed("dds", "dxt1", DdsBytes("DXT1", 8, 4, 16));
    WriteSeed("dds", "dxt3", DdsBytes("DXT3", 4, 4, 16));
    WriteSeed("dds", "dxt5-no-body", DdsBytes("DXT5", 4, 4, 0));
    WriteSeed("dds", "unknown-code", DdsBytes("DXT2", 4, 4, 16));
}

}  // namespace

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds <corpus folder>\n");
        return 2;
    }
    g_CorpusRoot = argv[1];
    WriteTgaSeeds();
    WritePcxSeeds();
    WriteDdsSeeds();
    return g_Failures ? 1 : 0;
}
