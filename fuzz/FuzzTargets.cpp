// Fuzz target bodies: arbitrary bytes into one parser each, checking beyond the sanitizers what the parser promises.
#include "fuzz/FuzzTargets.h"
#include "samples/PlainLzss.h"

#include "archive/Lzss.h"
#include "archive/MipTexture.h"
#include "archive/PackageStaging.h"
#include "archive/ResFile.h"
#include "builder/DdsTexture.h"
#include "common/ByteReader.h"
#include "extractor/ExtractTexture.h"
#include "image/DxtDecode.h"
#include "image/GifImage.h"
#include "image/PcxImage.h"
#include "image/PngImage.h"
#include "image/TgaImage.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <numeric>
#include <random>
#include <string>

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

#define FUZZ_CHECK(condition) \
    ((condition) ? void() : (std::fprintf(stderr, "check failed at line %d: %s\n", __LINE__, #condition), std::abort()))

constexpr char kPackage[] = "fuzz.mtx";
fs::path g_Scratch;
volatile unsigned g_Sink;  // keeps the reads of decoded planes from being optimised away

// Works in a fresh folder (in memory where the host has one; removed at exit): the code writes beside the package.
void EnterScratchFolder()
{
    if (!g_Scratch.empty())
        return;
    const fs::path base = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    g_Scratch = base / ("mtx-fuzz-" + std::to_string(std::random_device()()));
    FUZZ_CHECK(fs::create_directory(g_Scratch));
    fs::current_path(g_Scratch);
    std::atexit([] { std::error_code ignored; fs::remove_all(g_Scratch, ignored); });
}

Bytes ReadWholeFile(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), {});
}

// The input encodes to the plain encoder's stream and round-trips. After its first four bytes, less up to 63 at its end
// that must not be read, it decodes into a bound those bytes choose as the plain decoder does, nothing past.
void FuzzLzss(const uint8_t* data, size_t size)
{
    const int32_t length = static_cast<int32_t>(size);
    Bytes packed(static_cast<size_t>(LzssMaxEncodedSize(length))), plain(packed.size()), unpacked(size);
    const int32_t packedLength = LzssEncode(data, packed.data(), length);
    FUZZ_CHECK(packedLength >= 0 && packedLength <= static_cast<int64_t>(packed.size()) &&
               LzssDecode(packed.data(), unpacked.data(), packedLength, length) == length);
    plain.resize(static_cast<size_t>(PlainLzssEncode(data, plain.data(), length)));
    FUZZ_CHECK(plain == Bytes(packed.begin(), packed.begin() + packedLength));
    FUZZ_CHECK(unpacked == Bytes(data, data + size) &&
               ReferenceLzssDecode(packed.data(), size_t(packedLength), length) == unpacked);
    if (size < 4)
        return;
    const uint32_t choice = ByteReader(data, size).u32();
    const size_t limit = choice % (16 * size), streamSize = size - 4 - std::min<size_t>(size - 4, choice >> 26);
    Bytes decoded(limit + 32, 0xA5);
    const int32_t produced = LzssDecode(data + 4, decoded.data(), int32_t(streamSize), int32_t(limit));
    FUZZ_CHECK(produced >= 0 && produced <= LzssMaxDecodedSize(static_cast<int64_t>(streamSize)));
    FUZZ_CHECK(Bytes(decoded.begin() + std::ptrdiff_t(limit), decoded.end()) == Bytes(32, 0xA5));
    decoded.resize(static_cast<size_t>(produced));
    FUZZ_CHECK(decoded == ReferenceLzssDecode(data + 4, streamSize, static_cast<int64_t>(limit)));
}

// The bytes an entry reads as when the input is the package: its stored bytes, an LZSS entry's decoded to the length
// its prefix gives. Empty when the input does not hold them or the stream ends short.
Bytes EntryInInput(const uint8_t* data, size_t size, const DirEntry& entry)
{
    if (entry.offset < 0 || entry.size < 0 || static_cast<int64_t>(entry.offset) + entry.size > int64_t(size))
        return {};
    const uint8_t* stored = data + entry.offset;
    if (entry.method == RC_NONE)
        return Bytes(stored, stored + entry.size);
    ByteReader reader(stored, static_cast<size_t>(entry.size));
    const uint32_t unpacked = reader.u32();
    if (!reader.ok() || unpacked > LzssMaxDecodedSize(static_cast<int64_t>(reader.remaining())))
        return {};
    Bytes decoded = ReferenceLzssDecode(stored + kLzssPrefixSize, reader.remaining(), unpacked);
    return decoded.size() == unpacked ? decoded : Bytes();
}

// The bytes as a package: every entry is found by name and reads as the input's bytes at its place (an LZSS entry as
// their plain decoding). Compaction keeps every entry's stored bytes, back to back behind the records, and then changes
// nothing more, or fails leaving the file alone; neither leaves the staging file behind.
void FuzzPackage(const uint8_t* data, size_t size)
{
    EnterScratchFolder();
    std::ofstream(kPackage, std::ios::binary).write(reinterpret_cast<const char*>(data), std::streamsize(size));
    const auto inInput = [size](int64_t offset, int64_t count, size_t end = 0) {
        return offset >= 0 && count >= 0 && offset + count <= static_cast<int64_t>(end ? end : size);
    };
    CResFile package(kPackage);
    if (package.Open(RA_READ) != 1)
        return FUZZ_CHECK(package.mfGetError() != nullptr);
    const int32_t count = package.mfGetCount();
    FUZZ_CHECK(count >= 1 && static_cast<size_t>(count) <= size);
    std::vector<DirEntry> before;  // the directory before compaction
    Bytes whole(1 << 16);
    for (int32_t index = 0; index < count; ++index) {
        const DirEntry& entry = before.emplace_back(package.mfGetEntry(index));
        const int32_t found = package.mfFileGetNum(entry.name);
        const int32_t delivered = package.mfFileRead(index, whole.data(), 1 << 16);
        const bool packed = entry.method != RC_NONE;
        FUZZ_CHECK(found >= 0 && found <= index && delivered >= 0 && delivered <= 1 << 16 && (delivered == 0 ||
                   (inInput(entry.offset, entry.size) && (packed ? entry.size >= 4 : delivered == entry.size))));
        // The head of an entry is the start of what a whole read delivers.
        uint8_t head[128];
        const int32_t headCount = package.mfFileReadHead(index, head, sizeof head);
        FUZZ_CHECK(headCount >= 0 && headCount <= 128);
        FUZZ_CHECK(delivered == 0 || (headCount == std::min(delivered, 128) &&
                                      std::equal(head, head + headCount, whole.begin())));
        FUZZ_CHECK(delivered == 0 ||
                   Bytes(whole.begin(), whole.begin() + delivered) == EntryInInput(data, size, entry));
    }
    const bool compacted = package.mfOptimize(0) == 1;
    const Bytes after = ReadWholeFile(kPackage);
    FUZZ_CHECK(!fs::exists(StagingPathFor(kPackage)) &&
               (compacted ? package.mfGetCount() == count : after == Bytes(data, data + size)));
    int64_t position = static_cast<int64_t>(kHeaderSize) + static_cast<int64_t>(kRecordSize) * count;
    for (int32_t index = 0; compacted && index < count; ++index) {
        const DirEntry &old = before[static_cast<size_t>(index)], &now = package.mfGetEntry(index);
        FUZZ_CHECK(std::strcmp(now.name, old.name) == 0 && now.size == old.size && now.type == old.type &&
                   now.method == old.method && now.offset == position);
        // An empty entry has nothing to copy, wherever its offset pointed.
        FUZZ_CHECK(old.size == 0 || (inInput(old.offset, old.size) && inInput(now.offset, now.size, after.size()) &&
                   std::equal(data + old.offset, data + old.offset + old.size, after.begin() + now.offset)));
        position += now.size;
    }
    FUZZ_CHECK(!compacted || (static_cast<int64_t>(after.size()) == position && package.mfOptimize(0) == 1 &&
                              ReadWholeFile(kPackage) == after));
}

// The decoded pixels are the record's: palette entries for indices (and, from PCX, the indices themselves), else RGB
// and the stored alpha. Without a stored alpha TGA gives 255 and PNG 0; PNG keeps a palette's alphas only when one is
// below 255.
void CheckStoredPixels(const CImage& image, const Bytes& record, const MipTexture& header, const RgbaPalette& palette,
                       bool png)
{
    const bool indexed = header.format == TEX_INDEXED8;
    const size_t pixelCount = static_cast<size_t>(header.width) * static_cast<size_t>(header.height);
    const size_t pixelBytes = indexed ? 1 : header.format == TEX_RGB24 ? 3 : 4;
    const size_t start = size_t(header.dataOffset) + (indexed && (header.ownPalette & 1) ? kRgbaPaletteSize : 0);
    FUZZ_CHECK((indexed || header.format == TEX_RGB24 || header.format == TEX_RGBA32) && header.width > 0 &&
               header.height > 0 && header.dataOffset >= static_cast<int32_t>(kMipHeaderSize) &&
               start + pixelCount * pixelBytes <= record.size());
    const bool paletteAlpha = std::any_of(std::begin(palette.entries), std::end(palette.entries),
                                          [](const RgbaColor& entry) { return entry.alpha != 255; });
    const uint8_t noAlpha = png ? 0 : 255;
    for (size_t i = 0; i < pixelCount; ++i) {
        const uint8_t *stored = record.data() + start + i * pixelBytes, *decoded = image.m_pPixels + i * 4;
        RgbaColor want = indexed ? palette.entries[*stored]
                                 : RgbaColor{stored[0], stored[1], stored[2], pixelBytes == 4 ? stored[3] : noAlpha};
        want.alpha = indexed && png && !paletteAlpha ? 0 : want.alpha;
        FUZZ_CHECK(decoded[0] == want.red && decoded[1] == want.green && decoded[2] == want.blue &&
                   (indexed && !png ? image.m_pIndices[i] == *stored : decoded[3] == want.alpha));
    }
}

// Extracts entry `index` into the output folder "out" and checks it against `record`, the entry's bytes (empty when
// the package does not hold them): at most one file, only into that folder, which our decoders read back as the record
// (DDS: size, format, body; DXT as PNG: the decoded blocks; else the stored pixels). The folder is removed.
void ExtractAndCheck(CResFile& package, int32_t index, PackageOutput& output, ExtractRun& run, const Bytes& record)
{
    fs::create_directory("out");
    std::string errorText;
    ExtractOutcome outcome;
    const ExtractStatus status = ExtractTexture(package, index, output, kPackage, run, outcome, errorText);
    const RgbaPalette& palette = run.palette;
    const std::vector<fs::path> written(fs::directory_iterator("out"), fs::directory_iterator{});
    const Bytes file = written.size() == 1 ? ReadWholeFile(written[0]) : Bytes();
    FUZZ_CHECK(std::distance(fs::directory_iterator("."), {}) == 2 && fs::remove_all("out") == written.size() + 1 &&
               written.size() <= 1 && (written.empty() || record.size() >= kMipHeaderSize) &&
               status != ExtractStatus::FolderFailed && (written.empty() || status == ExtractStatus::Done));
    if (written.empty())
        return;
    const MipTexture header = DecodeMipTexture(record.data());
    FUZZ_CHECK(outcome.texture && outcome.fileName == written[0].filename().string());
    // The file's kind by the end of its name: an empty entry name gives ".pcx", which has no extension as a path.
    const std::string& name = outcome.fileName;
    const std::string extension = name.substr(name.size() - std::min<size_t>(name.size(), 4));
    const bool png = extension == ".png";
    const char* dxt = DxtFormatName(header.format);
    if (extension == ".dds") {
        DdsSurface surface;
        FUZZ_CHECK(ReadDdsSurface(file.data(), file.size(), surface) == DdsKind::Dxt);
        FUZZ_CHECK(surface.format == header.format && surface.width == header.width && surface.height == header.height);
        return FUZZ_CHECK(std::equal(file.begin() + kDdsFileHeaderSize, file.end(), record.begin() + kMipHeaderSize,
                                     record.end()));
    }
    const bool pcx = extension == ".pcx";
    FUZZ_CHECK(png || pcx == (header.format == TEX_INDEXED8));
    const auto fileSize = uint32_t(file.size());
    const std::unique_ptr<CImage> image(png   ? static_cast<CImage*>(new CPngImage(file.data(), fileSize))
                                        : pcx ? static_cast<CImage*>(new CPcxImage(file.data(), fileSize))
                                              : new CTgaImage(file.data(), fileSize));
    FUZZ_CHECK(g_ImageError == IMGERR_NONE && image->m_Width == header.width && image->m_Height == header.height);
    if (!dxt)
        return CheckStoredPixels(*image, record, header, palette, png);
    const size_t pixelCount = static_cast<size_t>(header.width) * static_cast<size_t>(header.height);
    const auto pixels = DecodeDxtTopLevel(dxt, header.width, header.height, record.data() + kMipHeaderSize,
                                          record.size() - kMipHeaderSize);
    FUZZ_CHECK(png && pixels && std::equal(pixels.get(), pixels.get() + pixelCount * 4, image->m_pPixels));
}

// The bytes as a package file, its directory, records and "Palette" entry as found: every entry is extracted in each
// set of formats with the checks above, against its bytes as the input holds them.
void FuzzExtractRaw(const uint8_t* data, size_t size)
{
    EnterScratchFolder();
    std::ofstream(kPackage, std::ios::binary).write(reinterpret_cast<const char*>(data), std::streamsize(size));
    CResFile package(kPackage);
    if (package.Open(RA_READ) != 1)
        return;
    for (const ExtractFormats formats : {ExtractFormats{false, false}, {true, false}, {false, true}}) {
        OrderedOutput console(1);
        ExtractRun run{formats, console};
        PackageOutput output("out");
        for (int32_t index = 0; index < package.mfGetCount(); ++index) {
            const Bytes record = EntryInInput(data, size, package.mfGetEntry(index));
            ExtractAndCheck(package, index, output, run, record);
        }
    }
}

// Decodes with the loader chain (IMG_NONE) or one decoder on its own, which rejects the bytes or yields an image that
// owns every byte its size claims (all read, for AddressSanitizer); an indexed one also has a palette, a transparent
// index in range and zero alpha.
template <class Decoder> CImage* Decode(const uint8_t* data, uint32_t size) { return new Decoder(data, size); }

template <int32_t kFormat, CImage* (*kDecode)(const uint8_t*, uint32_t)>
void FuzzImage(const uint8_t* data, size_t size)
{
    const std::unique_ptr<CImage> image(kDecode(data, uint32_t(size)));
    if (!image || g_ImageError != IMGERR_NONE)
        return FUZZ_CHECK(kFormat == IMG_NONE ? !image && g_ImageError != IMGERR_NONE
                                              : g_ImageError == IMGERR_BADFORMAT);
    const int32_t format = image->m_Format;
    FUZZ_CHECK((format == kFormat || kFormat == IMG_NONE) && format >= IMG_PCX && format <= IMG_PNG);
    FUZZ_CHECK(image->m_Width >= 0 && image->m_Height >= 0 && image->m_pPixels && image->m_pIndices);
    const bool indexed = format == IMG_PCX || format == IMG_GIF;
    const size_t pixelCount = static_cast<size_t>(image->m_Width) * static_cast<size_t>(image->m_Height);
    g_Sink = std::accumulate(image->m_pPixels, image->m_pPixels + pixelCount * 4,
                             std::accumulate(image->m_pIndices, image->m_pIndices + pixelCount, 0u));
    for (size_t i = 0; indexed && i < pixelCount; ++i)
        FUZZ_CHECK(image->m_pPixels[i * 4 + 3] == 0);
    FUZZ_CHECK(indexed ? image->m_pPalette && image->m_TransIndex >= -1 && image->m_TransIndex < kPaletteEntries
                       : image->m_TransIndex == -1);
    g_Sink = indexed ? std::accumulate(image->m_pPalette, image->m_pPalette + kPaletteSize, 0u) : 0;
}

// A DXT file's record: a header of the file's size and format, then all after the DDS header.
void FuzzDds(const uint8_t* data, size_t size)
{
    DdsSurface surface;
    MipTexture header{};
    size_t recordSize = 0;
    if (ReadDdsSurface(data, size, surface) != DdsKind::Dxt)
        return;
    const RecordBuffer record = BuildDxtRecord(data, size, surface, header, recordSize);
    FUZZ_CHECK(size >= kDdsFileHeaderSize && record && recordSize == kMipHeaderSize + size - kDdsFileHeaderSize);
    FUZZ_CHECK(header.format == surface.format && header.width == surface.width && header.height == surface.height);
    FUZZ_CHECK(std::equal(data + kDdsFileHeaderSize, data + size, record.get() + kMipHeaderSize));
}

}  // namespace

const FuzzTarget kFuzzTargets[8] = {
    {"package", FuzzPackage}, {"lzss", FuzzLzss}, {"extract_raw", FuzzExtractRaw}, {"dds", FuzzDds},
    {"image", FuzzImage<IMG_NONE, LoadImageMemory>}, {"gif", FuzzImage<IMG_GIF, Decode<CGifImage>>},
    {"pcx", FuzzImage<IMG_PCX, Decode<CPcxImage>>}, {"tga", FuzzImage<IMG_TGA, Decode<CTgaImage>>},
};

const FuzzTarget* FindFuzzTarget(const char* name)
{
    const auto named = [name](const FuzzTarget& target) { return std::strcmp(target.name, name) == 0; };
    const FuzzTarget* found = std::find_if(std::begin(kFuzzTargets), std::end(kFuzzTargets), named);
    return found == std::end(kFuzzTargets) ? nullptr : found;
}

Bytes ReferenceLzssDecode(const uint8_t* src, size_t srcLen, int64_t limit)
{
    Bytes out(static_cast<size_t>(limit));
    out.resize(static_cast<size_t>(PlainLzssDecode(src, out.data(), int32_t(srcLen), int32_t(limit))));
    return out;
}
