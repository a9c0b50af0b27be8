// Writes the seed inputs of the fuzz targets into <corpus>/<target>/seed-*: small
// files in each format variant the parsers know, so that fuzzing starts past the
// signatures and headers. The image seeds are completed by the pictures that
// samples/make_samples draws (copied in as seed-sample-*).
// Usage: make_seeds <corpus folder>
#include "archive/Lzss.h"
#include "archive/ResFile.h"
#include "builder/MipTexture.h"
#include "common/ByteReader.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
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

// ---- GIF ------------------------------------------------------------------------------

// Packs codes least significant bit first, as GIF stores them.
class CodePacker {
public:
    void Put(uint32_t code, int width)
    {
        m_Bits |= static_cast<uint64_t>(code) << m_Count;
        m_Count += width;
        while (m_Count >= 8) {
            m_Bytes.push_back(static_cast<uint8_t>(m_Bits));
            m_Bits >>= 8;
            m_Count -= 8;
        }
    }
    Bytes Finish()
    {
        if (m_Count > 0)
            m_Bytes.push_back(static_cast<uint8_t>(m_Bits));
        return m_Bytes;
    }

private:
    Bytes m_Bytes;
    uint64_t m_Bits = 0;
    int m_Count = 0;
};

// Plain LZW with a growing code width and a clear code when the table fills.
Bytes LzwCodes(const Bytes& pixels, int minCodeSize)
{
    const uint32_t clear = 1u << minCodeSize;
    const uint32_t end = clear + 1;
    CodePacker packer;
    std::map<std::pair<uint32_t, uint8_t>, uint32_t> table;
    uint32_t next = clear + 2;
    int width = minCodeSize + 1;
    packer.Put(clear, width);
    uint32_t current = pixels[0];
    for (size_t i = 1; i < pixels.size(); ++i) {
        const auto key = std::make_pair(current, pixels[i]);
        const auto found = table.find(key);
        if (found != table.end()) {
            current = found->second;
            continue;
        }
        packer.Put(current, width);
        if (next == 4096) {
            packer.Put(clear, width);
            table.clear();
            next = clear + 2;
            width = minCodeSize + 1;
        } else {
            table[key] = next++;
            if (next > (1u << width) && width < 12)
                ++width;
        }
        current = pixels[i];
    }
    packer.Put(current, width);
    packer.Put(end, width);
    return packer.Finish();
}

struct GifSeed {
    const char* name;
    const char* version;
    bool interlaced;
    bool transparent;
    bool comment;
    bool localTable;
};

// A 10 x 9 picture of four colours in stripes and blocks.
Bytes GifBytes(const GifSeed& seed)
{
    constexpr uint16_t kWidth = 10;
    constexpr uint16_t kHeight = 9;
    constexpr int kMinCodeSize = 2;
    Bytes out(seed.version, seed.version + 6);
    Append16(out, kWidth);
    Append16(out, kHeight);
    out.insert(out.end(), {0x81, 0, 0});  // global table of 4 entries
    for (int i = 0; i < 4 * 3; ++i)
        out.push_back(static_cast<uint8_t>(i * 21));
    if (seed.comment)
        out.insert(out.end(), {0x21, 0xFE, 3, 'f', 'o', 'o', 0});
    if (seed.transparent)
        out.insert(out.end(), {0x21, 0xF9, 4, 0x01, 0, 0, 2, 0});
    out.push_back(0x2C);
    Append16(out, 0);
    Append16(out, 0);
    Append16(out, kWidth);
    Append16(out, kHeight);
    out.push_back(static_cast<uint8_t>((seed.interlaced ? 0x40 : 0) | (seed.localTable ? 0x81 : 0)));
    if (seed.localTable) {
        for (int i = 0; i < 4 * 3; ++i)
            out.push_back(static_cast<uint8_t>(255 - i * 13));
    }
    out.push_back(kMinCodeSize);
    Bytes pixels;
    for (unsigned y = 0; y < kHeight; ++y) {
        for (unsigned x = 0; x < kWidth; ++x)
            pixels.push_back(static_cast<uint8_t>(y < 4 ? (x / 3) % 4 : (x + y) % 4));
    }
    const Bytes codes = LzwCodes(pixels, kMinCodeSize);
    for (size_t at = 0; at < codes.size(); at += 7) {  // short sub-blocks
        const size_t length = std::min<size_t>(7, codes.size() - at);
        out.push_back(static_cast<uint8_t>(length));
        out.insert(out.end(), codes.begin() + static_cast<long>(at), codes.begin() + static_cast<long>(at + length));
    }
    out.push_back(0);
    out.push_back(0x3B);
    return out;
}

void WriteGifSeeds()
{
    const GifSeed seeds[] = {
        {"gif89a", "GIF89a", false, false, false, false},
        {"gif89a-interlaced-transparent", "GIF89a", true, true, false, false},
        {"gif87a-comment", "GIF87a", false, false, true, false},
        {"local-table", "GIF89a", false, true, true, true},
    };
    for (const GifSeed& seed : seeds) {
        const Bytes bytes = GifBytes(seed);
        WriteSeed("gif", seed.name, bytes);
        WriteSeed("image", std::string("gif-") + seed.name, bytes);
    }
}

// ---- LZSS ------------------------------------------------------------------------------

// A seed of the lzss target: the output length, then the stream.
Bytes LzssSeed(const std::string& text, int32_t outputLength)
{
    Bytes out(4);
    PutU32(out.data(), static_cast<uint32_t>(outputLength));
    Bytes packed(static_cast<size_t>(LzssMaxEncodedSize(static_cast<int64_t>(text.size()))));
    const int32_t packedLength = LzssEncode(reinterpret_cast<const uint8_t*>(text.data()), packed.data(),
                                            static_cast<int32_t>(text.size()));
    out.insert(out.end(), packed.begin(), packed.begin() + packedLength);
    return out;
}

void WriteLzssSeeds()
{
    const std::string prose = "the quick brown fox jumps over the lazy dog; the lazy dog sleeps. ";
    WriteSeed("lzss", "prose", LzssSeed(prose + prose + prose, static_cast<int32_t>(prose.size() * 3)));
    WriteSeed("lzss", "prose-cut-short", LzssSeed(prose + prose, 50));
    WriteSeed("lzss", "spaces", LzssSeed(std::string(40, ' '), 40));
    WriteSeed("lzss", "abc", LzssSeed("abcabcabc", 9));
    std::string ramp;
    for (int i = 0; i < 600; ++i)
        ramp += static_cast<char>(i % 7 == 0 ? i : 'a' + i % 5);
    WriteSeed("lzss", "ramp-asks-more", LzssSeed(ramp, 5000));
}

// ---- Packages ---------------------------------------------------------------------------

struct SeedEntry {
    std::string name;
    Bytes data;
    int32_t type;
    int32_t method;
};

// Writes the entries through the archive, one flush per group, compacts the package
// when asked, and returns the bytes.
Bytes PackageBytes(const std::vector<std::vector<SeedEntry>>& flushes, bool compact = false)
{
    const char* path = "make_seeds.tmp.mtx";
    {
        CResFile package(path);
        package.Open(RA_WRITE | RA_CREATE);
        std::vector<Bytes> keep;  // pending data must outlive the flush
        for (const std::vector<SeedEntry>& group : flushes) {
            for (const SeedEntry& seed : group) {
                DirEntry entry{};
                std::snprintf(entry.name, sizeof entry.name, "%s", seed.name.c_str());
                entry.size = static_cast<int32_t>(seed.data.size());
                entry.type = seed.type;
                entry.method = seed.method;
                keep.push_back(seed.data);
                entry.data = keep.back().data();
                package.mfFileAdd(&entry);
            }
            if (package.mfFlush() != 1) {
                std::fprintf(stderr, "make_seeds: flush failed: %s\n", package.mfGetError());
                ++g_Failures;
            }
            keep.clear();
        }
        package.mfClose();
    }
    if (compact) {
        CResFile package(path);
        if (package.Open(RA_READ) != 1 || package.mfOptimize(0) != 1) {
            std::fprintf(stderr, "make_seeds: compaction failed: %s\n", package.mfGetError());
            ++g_Failures;
        }
    }
    Bytes bytes;
    if (std::FILE* file = std::fopen(path, "rb")) {
        uint8_t chunk[4096];
        size_t got;
        while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
            bytes.insert(bytes.end(), chunk, chunk + got);
        std::fclose(file);
    }
    std::remove(path);
    return bytes;
}

// A texture record: the 108-byte header and `body` behind it.
Bytes RecordBytes(const char* name, int32_t width, int32_t height, int32_t format, int32_t ownPalette,
                  const Bytes& body)
{
    MipTexture header{};
    std::snprintf(header.name, sizeof header.name, "%s", name);
    header.width = width;
    header.height = height;
    header.dataOffset = static_cast<int32_t>(kMipHeaderSize);
    header.format = format;
    header.ownPalette = ownPalette;
    Bytes out(kMipHeaderSize);
    EncodeMipTexture(header, out.data());
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Bytes Ramp(size_t count, unsigned step)
{
    Bytes out(count);
    for (size_t i = 0; i < count; ++i)
        out[i] = static_cast<uint8_t>(i * step);
    return out;
}

// The records that the package and extraction seeds hold.
struct SeedRecords {
    Bytes palette = Ramp(kRgbaPaletteSize, 3);
    Bytes rgb = RecordBytes("wall", 3, 2, TEX_RGB24, 0, Ramp(3 * 2 * 3, 11));
    Bytes rgba = RecordBytes("glass", 2, 2, TEX_RGBA32, 0, Ramp(2 * 2 * 4, 17));
    Bytes indexed = RecordBytes("grass", 4, 2, TEX_INDEXED8, 0, Ramp(8, 29));
    Bytes indexedOwn = RecordBytes("rings", 3, 2, TEX_INDEXED8, 1, Ramp(kRgbaPaletteSize + 6, 7));
    Bytes dxt = RecordBytes("metal_tc", 4, 4, TEX_DXT1, 0, Ramp(8, 5));
};

void WritePackageSeeds()
{
    const SeedRecords records;
    WriteSeed("package", "one-entry", PackageBytes({{{"wall", records.rgb, RT_TEXTURE, RC_NONE}}}));
    WriteSeed("package", "palette-and-texture",
              PackageBytes({{{"Palette", records.palette, RT_PALETTE, RC_NONE},
                             {"grass", records.indexed, RT_TEXTURE, RC_NONE}}}));
    WriteSeed("package", "lzss-entries",
              PackageBytes({{{"Palette", records.palette, RT_PALETTE, RC_LZSS},
                             {"wall", records.rgb, RT_TEXTURE, RC_LZSS},
                             {"glass", records.rgba, RT_TEXTURE, RC_NONE}}}));
    WriteSeed("package", "lzss-entries-compacted",
              PackageBytes({{{"Palette", records.palette, RT_PALETTE, RC_LZSS},
                             {"wall", records.rgb, RT_TEXTURE, RC_LZSS},
                             {"glass", records.rgba, RT_TEXTURE, RC_NONE}}},
                           true));
    WriteSeed("package", "three-flushes",
              PackageBytes({{{"wall", records.rgb, RT_TEXTURE, RC_NONE}},
                            {{"glass", records.rgba, RT_TEXTURE, RC_LZSS}},
                            {{"WALL", records.dxt, RT_TEXTURE, RC_NONE}}}));
}

// The extraction target's input: flags (bit 0: a "Palette" entry, bit 1: stored with
// LZSS), the palette's length as two bytes, the palette, then the record.
Bytes ExtractSeed(uint8_t flags, const Bytes& palette, const Bytes& record)
{
    Bytes out = {flags, 0, 0};
    PutU16(&out[1], static_cast<uint32_t>(palette.size()));
    out.insert(out.end(), palette.begin(), palette.end());
    out.insert(out.end(), record.begin(), record.end());
    return out;
}

void WriteExtractSeeds()
{
    const SeedRecords records;
    WriteSeed("extract", "rgb", ExtractSeed(0, {}, records.rgb));
    WriteSeed("extract", "rgba", ExtractSeed(0, {}, records.rgba));
    WriteSeed("extract", "indexed-shared-palette", ExtractSeed(1, records.palette, records.indexed));
    WriteSeed("extract", "indexed-packed-palette", ExtractSeed(3, records.palette, records.indexed));
    WriteSeed("extract", "indexed-no-palette", ExtractSeed(0, {}, records.indexed));
    WriteSeed("extract", "indexed-own-palette", ExtractSeed(0, {}, records.indexedOwn));
    WriteSeed("extract", "dxt", ExtractSeed(0, {}, records.dxt));
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
    WriteGifSeeds();
    WriteDdsSeeds();
    WriteLzssSeeds();
    WritePackageSeeds();
    WriteExtractSeeds();
    return g_Failures ? 1 : 0;
}
