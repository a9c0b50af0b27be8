// Writes the seed inputs of the fuzz targets into <corpus>/<target>/seed-*: small
// files in each format variant the parsers know, so that fuzzing starts past the
// signatures and headers. The image seeds are completed by the pictures that
// samples/make_samples draws (copied in as seed-sample-*).
// Usage: make_seeds <corpus folder>
#include "archive/Lzss.h"
#include "archive/ResFile.h"
#include "archive/MipTexture.h"
#include "common/ByteReader.h"
#include "samples/ImageEncoders.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

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

// ---- TGA ------------------------------------------------------------------------------

struct TgaSeed {
    const char* name;
    uint8_t imageType;
    uint8_t pixelSize;
    uint8_t descriptor;
    uint8_t mapEntrySize;  // 0: no colour map
    uint16_t mapLength;
};

// A 4 x 3 picture in the seed's encoding, with an identifier; runs of three values
// between single ones, so run-length forms hold both kinds of packet.
Bytes TgaBytes(const TgaSeed& seed)
{
    constexpr unsigned kPixels = 4 * 3;
    TgaHeader header;
    header.colorMapType = seed.mapEntrySize ? 1 : 0;
    header.imageType = seed.imageType;
    header.mapLength = seed.mapLength;
    header.mapEntrySize = seed.mapEntrySize;
    header.width = 4;
    header.height = 3;
    header.pixelSize = seed.pixelSize;
    header.descriptor = seed.descriptor;
    header.id = {'i', 'd'};
    const size_t mapBytes = (seed.mapEntrySize + 7u) / 8u;
    for (size_t i = 0; i < seed.mapLength * mapBytes; ++i)
        header.map.push_back(static_cast<uint8_t>(i * 37 + 11));

    const size_t pixelBytes = (seed.pixelSize + 7u) / 8u;
    std::vector<Bytes> values;
    for (unsigned i = 0; i < kPixels; ++i) {
        const unsigned key = seed.mapLength ? i % seed.mapLength : (i / 3) % 2 == 0 ? 1 : i;
        Bytes value;
        for (size_t b = 0; b < pixelBytes; ++b)
            value.push_back(static_cast<uint8_t>(key * 29 + b * 53));
        values.push_back(value);
    }
    Bytes body;
    if (seed.imageType >= 9) {
        body = TgaRunLength(values);
    } else {
        for (const Bytes& value : values)
            AppendBytes(body, value);
    }
    return TgaFile(header, body);
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

// An 8-bit PCX whose rows mix single bytes, runs and values that need a run byte, with
// `padding` extra bytes per encoded row.
Bytes PcxBytes(int width, int height, int padding)
{
    SamplePicture picture(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            picture.indices[static_cast<size_t>(y) * width + x] = static_cast<uint8_t>((x / 3) * 71 + y * 13);
    for (size_t i = 0; i < picture.palette.size(); ++i)
        picture.palette[i] = static_cast<uint8_t>(i * 5);
    return EncodePcx(picture, {static_cast<uint16_t>(width + padding)});
}

void WritePcxSeeds()
{
    const struct {
        const char* name;
        int width, height, padding;
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
    Bytes out = DdsHeader(fourCc, width, height, static_cast<uint32_t>(bodySize));
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

struct GifSeed {
    const char* name;
    const char* version;
    bool interlaced;
    bool transparent;
    bool comment;
    bool localTable;
};

// A 10 x 9 picture of four colours in stripes and blocks, in short data sub-blocks.
Bytes GifBytes(const GifSeed& seed)
{
    GifLayout layout;
    layout.version = seed.version;
    layout.width = 10;
    layout.height = 9;
    for (int y = 0; y < layout.height; ++y)
        for (int x = 0; x < layout.width; ++x)
            layout.pixels.push_back(static_cast<uint8_t>(y < 4 ? (x / 3) % 4 : (x + y) % 4));
    if (seed.comment)
        layout.extensions = {0x21, 0xFE, 3, 'f', 'o', 'o', 0};
    if (seed.transparent)
        AppendBytes(layout.extensions, GifGraphicControl(true, 2));
    layout.interlaced = seed.interlaced;
    layout.localSizeBits = seed.localTable ? 1 : -1;
    layout.subBlockSize = 7;
    return EncodeGif(layout);
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
        for (const std::vector<SeedEntry>& group : flushes) {
            for (const SeedEntry& seed : group) {
                DirEntry entry{};
                std::snprintf(entry.name, sizeof entry.name, "%s", seed.name.c_str());
                entry.size = static_cast<int32_t>(seed.data.size());
                entry.type = seed.type;
                entry.method = seed.method;
                entry.data = seed.data.data();
                package.mfFileAdd(&entry);
            }
            if (package.mfFlush() != 1) {
                std::fprintf(stderr, "make_seeds: flush failed: %s\n", package.mfGetError());
                ++g_Failures;
            }
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
// LZSS, bit 2: DXT as DDS), the palette's length as two bytes, the palette, then the record.
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
    WriteSeed("extract", "dxt-as-dds", ExtractSeed(4, {}, records.dxt));
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
