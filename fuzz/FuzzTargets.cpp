// Fuzz target bodies: each feeds arbitrary bytes to one parser and checks, beyond the
// sanitizers, what the parser promises about the results it hands back.
#include "fuzz/FuzzTargets.h"

#include "archive/Lzss.h"
#include "archive/MipTexture.h"
#include "archive/ResFile.h"
#include "builder/DdsTexture.h"
#include "common/ByteReader.h"
#include "extractor/ExtractTexture.h"
#include "image/GifImage.h"
#include "image/PcxImage.h"
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
    ((condition) ? void() : (std::fprintf(stderr, "fuzz check failed, line %d: %s\n", __LINE__, #condition), std::abort()))

constexpr char kPackage[] = "fuzz.mtx";
fs::path g_Scratch;
volatile unsigned g_Sink;  // keeps the reads of decoded planes from being optimised away

// Moves into a folder of its own (in memory where the host has one; removed at exit), as
// the code under test writes files beside the package.
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
    FUZZ_CHECK(file.good());
    return Bytes(std::istreambuf_iterator<char>(file), {});
}

// The input round-trips; the input after its first four bytes, decoded as a stream into as
// many bytes as those say (bounded), matches the plain decoder and writes nothing past them.
void FuzzLzss(const uint8_t* data, size_t size)
{
    const int32_t length = static_cast<int32_t>(size);
    Bytes packed(static_cast<size_t>(LzssMaxEncodedSize(length))), unpacked(size);
    const int32_t packedLength = LzssEncode(data, packed.data(), length);
    FUZZ_CHECK(packedLength >= 0 && packedLength <= static_cast<int64_t>(packed.size()));
    FUZZ_CHECK(LzssDecode(packed.data(), unpacked.data(), packedLength, length) == length);
    FUZZ_CHECK(unpacked == Bytes(data, data + size));
    FUZZ_CHECK(ReferenceLzssDecode(packed.data(), static_cast<size_t>(packedLength), length) == unpacked);
    ByteReader reader(data, size);
    const uint32_t limit = reader.u32() % (1u << 20);
    if (!reader.ok())
        return;
    Bytes decoded(limit + 32, 0xA5);
    const int32_t produced = LzssDecode(data + 4, decoded.data(), length - 4, static_cast<int32_t>(limit));
    FUZZ_CHECK(produced >= 0 && produced <= LzssMaxDecodedSize(length - 4));
    FUZZ_CHECK(std::all_of(decoded.begin() + limit, decoded.end(), [](uint8_t byte) { return byte == 0xA5; }));
    decoded.resize(static_cast<size_t>(produced));
    FUZZ_CHECK(decoded == ReferenceLzssDecode(data + 4, size - 4, limit));
}

// The bytes as a package: every entry is found by name, and read whole and piece by piece
// as the input's bytes (an LZSS entry as their plain decoding). Compaction keeps every
// entry's stored bytes, back to back behind the records, and then changes nothing more,
// or fails leaving the file alone; neither leaves the staging file behind.
void FuzzPackage(const uint8_t* data, size_t size)
{
    EnterScratchFolder();
    std::ofstream(kPackage, std::ios::binary).write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    const auto inInput = [size](int64_t offset, int64_t count, size_t end = 0) {
        return offset >= 0 && count >= 0 && offset + count <= static_cast<int64_t>(end ? end : size);
    };
    CResFile package(kPackage);
    if (package.Open(RA_READ) != 1)
        return FUZZ_CHECK(package.mfGetError() != nullptr);
    const int32_t count = package.mfGetCount();
    FUZZ_CHECK(count >= 1 && static_cast<size_t>(count) <= size);
    std::vector<DirEntry> before;
    Bytes whole(1 << 16);
    for (int32_t index = 0; index < count; ++index) {
        const DirEntry entry = package.mfGetEntry(index);
        before.push_back(entry);
        const int32_t found = package.mfFileGetNum(entry.name), delivered = package.mfFileRead(index, whole.data(), 1 << 16);
        FUZZ_CHECK(found >= 0 && found <= index && delivered >= 0 && delivered <= 1 << 16);
        const bool packed = entry.method != RC_NONE;
        FUZZ_CHECK(delivered == 0 || (inInput(entry.offset, entry.size) && (packed ? entry.size >= 4 : delivered == entry.size)));
        if (const uint8_t* stored = delivered > 0 ? data + entry.offset : nullptr) {
            FUZZ_CHECK(Bytes(whole.begin(), whole.begin() + delivered) ==
                       (packed ? ReferenceLzssDecode(stored + 4, static_cast<size_t>(entry.size) - 4, delivered)
                               : Bytes(stored, stored + delivered)));
        }
        // Pieces of 1..400 bytes in an irregular order, until one runs past the end.
        for (int32_t position = 0, length = 1; position <= std::min(entry.size, 1 << 20); position += length) {
            length = 1 + position * 7 % 400;
            const std::unique_ptr<uint8_t, decltype(&std::free)> bytes(package.mfFileRead2(index, length), &std::free);
            FUZZ_CHECK(!bytes || (inInput(int64_t{entry.offset} + position, length) &&
                                  std::equal(bytes.get(), bytes.get() + length, data + entry.offset + position)));
            FUZZ_CHECK(package.mfGetEntry(index).readPos == position + (bytes ? length : 0));
            if (!bytes)
                break;
        }
    }
    const bool compacted = package.mfOptimize(0) == 1;
    const Bytes after = ReadWholeFile(kPackage);
    FUZZ_CHECK(!fs::exists(kOptimizeTempName) && (compacted ? package.mfGetCount() == count : after == Bytes(data, data + size)));
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

// The file extracted from `record` reads back through the project's own decoders: a DDS
// file as its size, format and body, a PCX file (within the sizes its decoder takes) as its
// indices and the palette, a TGA file as its pixels.
void CheckExtractedImage(const fs::path& path, const Bytes& record, const RgbaPalette& palette)
{
    FUZZ_CHECK(record.size() >= kMipHeaderSize);
    const MipTexture header = DecodeMipTexture(record.data());
    const Bytes file = ReadWholeFile(path);
    if (path.extension() == ".dds") {
        DdsSurface surface;
        FUZZ_CHECK(ReadDdsSurface(file.data(), file.size(), surface) == DdsKind::Dxt);
        FUZZ_CHECK(surface.format == header.format && surface.width == header.width && surface.height == header.height);
        FUZZ_CHECK(std::equal(file.begin() + kDdsFileHeaderSize, file.end(), record.begin() + kMipHeaderSize, record.end()));
        return;
    }
    FUZZ_CHECK(header.width > 0 && header.height > 0 && header.dataOffset >= static_cast<int32_t>(kMipHeaderSize));
    const size_t pixelCount = static_cast<size_t>(header.width) * static_cast<size_t>(header.height);
    const bool pcx = path.extension() == ".pcx";
    const size_t pixelBytes = pcx ? 1 : header.format == TEX_RGB24 ? 3 : 4;
    const size_t start = static_cast<size_t>(header.dataOffset) + (pcx && (header.ownPalette & 1) ? kRgbaPaletteSize : 0);
    FUZZ_CHECK((pcx ? header.format == TEX_INDEXED8 : header.format == TEX_RGB24 || header.format == TEX_RGBA32) &&
               start + pixelCount * pixelBytes <= record.size());
    if (pcx && (header.width > 640 || header.height > 480))
        return;
    const std::unique_ptr<CImage> image(pcx ? static_cast<CImage*>(new CPcxImage(file.data(), static_cast<uint32_t>(file.size())))
                                            : new CTgaImage(file.data(), static_cast<uint32_t>(file.size())));
    FUZZ_CHECK(g_ImageError == IMGERR_NONE && image->m_Width == header.width && image->m_Height == header.height);
    for (size_t i = 0; i < pixelCount; ++i) {
        const uint8_t* stored = record.data() + start + i * pixelBytes;
        const uint8_t* decoded = image->m_pPixels + i * 4;
        FUZZ_CHECK(pcx ? image->m_pIndices[i] == *stored
                       : std::memcmp(decoded, stored, 3) == 0 && decoded[3] == (pixelBytes == 4 ? stored[3] : 255));
    }
    for (size_t i = 0; pcx && i < kRgbaPaletteEntries; ++i) {
        const uint8_t* rgb = image->m_pPalette + i * 3;
        FUZZ_CHECK(rgb[0] == palette.entries[i].red && rgb[1] == palette.entries[i].green && rgb[2] == palette.entries[i].blue);
    }
}

// Input: flags (1: a "Palette" entry, 2: stored with LZSS, 4: DXT records as DDS files),
// the palette's length (u16) and bytes, then the texture record, whose entry takes the
// record's name. Extracting it writes at most one file, in the output folder only.
void FuzzExtract(const uint8_t* data, size_t size)
{
    EnterScratchFolder();
    fs::remove(kPackage);  // the package target's file
    ByteReader reader(data, size);
    const uint8_t flags = reader.u8();
    const size_t paletteLength = reader.u16(), paletteSize = std::min(paletteLength, reader.remaining());
    const uint8_t* paletteBytes = reader.take(paletteSize);
    if (!reader.ok() || reader.remaining() == 0)
        return;  // the archive takes no empty entry
    const Bytes record(data + reader.position(), data + size);
    DirEntry paletteEntry{{}, static_cast<int32_t>(paletteSize), 0, 0, RT_PALETTE, (flags & 2) ? RC_LZSS : RC_NONE, paletteBytes, 0};
    DirEntry textureEntry{{}, static_cast<int32_t>(record.size()), 0, 0, RT_TEXTURE, RC_NONE, record.data(), 0};
    std::snprintf(paletteEntry.name, kNameSize, "%s", kPaletteEntryName);
    std::memcpy(textureEntry.name, record.data(), std::min(record.size(), kMipNameSize - 1));
    if (textureEntry.name[0] == '\0')
        std::strcpy(textureEntry.name, "texture");
    {
        CResFile writer(kPackage);
        FUZZ_CHECK(writer.Open(RA_WRITE | RA_CREATE) == 1);
        FUZZ_CHECK(!(flags & 1) || paletteSize == 0 || writer.mfFileAdd(&paletteEntry) == 1);
        writer.mfFileAdd(&textureEntry);
        FUZZ_CHECK(writer.mfFlush() == 1);
    }
    fs::create_directory("out");
    RgbaPalette palette{};
    {
        CResFile package(kPackage);
        FUZZ_CHECK(package.Open(RA_READ) == 1);
        ExtractTexture(package, package.mfGetCount() - 1, "out/", kPackage, palette, (flags & 4) != 0);
        std::fflush(stdout);
    }
    for (const fs::directory_entry& entry : fs::directory_iterator("."))
        FUZZ_CHECK(entry.path().filename() == kPackage || entry.path().filename() == "out");
    for (const fs::directory_entry& entry : fs::directory_iterator("out"))
        CheckExtractedImage(entry.path(), record, palette);
    FUZZ_CHECK(fs::remove_all("out") <= 2);  // the folder and at most one file
}

// A decoded image owns every byte its size claims (all read, for AddressSanitizer); an
// indexed one has a palette, a transparent index in range and zero alpha.
void CheckDecodedImage(const CImage& image, int32_t format)
{
    FUZZ_CHECK(image.m_Format == format && format >= IMG_PCX && format <= IMG_PNG);
    FUZZ_CHECK(image.m_Width >= 0 && image.m_Height >= 0 && image.m_pPixels && image.m_pIndices);
    const bool indexed = format == IMG_PCX || format == IMG_GIF;
    const size_t pixelCount = static_cast<size_t>(image.m_Width) * static_cast<size_t>(image.m_Height);
    const unsigned sum = std::accumulate(image.m_pIndices, image.m_pIndices + pixelCount, 0u);
    g_Sink = std::accumulate(image.m_pPixels, image.m_pPixels + pixelCount * 4, sum);
    for (size_t i = 0; indexed && i < pixelCount; ++i)
        FUZZ_CHECK(image.m_pPixels[i * 4 + 3] == 0);
    FUZZ_CHECK(indexed ? image.m_pPalette && image.m_TransIndex >= -1 && image.m_TransIndex < kPaletteEntries
                       : image.m_TransIndex == -1);
    g_Sink = indexed ? std::accumulate(image.m_pPalette, image.m_pPalette + kPaletteSize, 0u) : 0;
}

void FuzzImage(const uint8_t* data, size_t size)
{
    const std::unique_ptr<CImage> image(LoadImageMemory(data, static_cast<uint32_t>(size)));
    FUZZ_CHECK((image != nullptr) == (g_ImageError == IMGERR_NONE));
    if (image)
        CheckDecodedImage(*image, image->m_Format);
}

// One decoder on its own either rejects the bytes as not its format or yields a sound image.
template <class Decoder, int32_t kFormat>
void FuzzDecoder(const uint8_t* data, size_t size)
{
    const Decoder image(data, static_cast<uint32_t>(size));
    FUZZ_CHECK(g_ImageError == IMGERR_NONE || g_ImageError == IMGERR_BADFORMAT);
    if (g_ImageError == IMGERR_NONE)
        CheckDecodedImage(image, kFormat);
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
    {"package", FuzzPackage}, {"lzss", FuzzLzss}, {"extract", FuzzExtract}, {"image", FuzzImage},
    {"gif", FuzzDecoder<CGifImage, IMG_GIF>}, {"pcx", FuzzDecoder<CPcxImage, IMG_PCX>},
    {"tga", FuzzDecoder<CTgaImage, IMG_TGA>}, {"dds", FuzzDds},
};

const FuzzTarget* FindFuzzTarget(const char* name)
{
    for (const FuzzTarget& target : kFuzzTargets) {
        if (std::strcmp(target.name, name) == 0)
            return &target;
    }
    return nullptr;
}

Bytes ReferenceLzssDecode(const uint8_t* src, size_t srcLen, int64_t limit)
{
    uint8_t ring[kLzssWindowSize];
    std::fill(std::fill_n(ring, kLzssStartPos, ' '), std::end(ring), 0);
    Bytes out;
    const auto full = [&out, limit] { return static_cast<int64_t>(out.size()) >= limit; };
    for (size_t in = 0; in < srcLen && !full();) {
        for (unsigned flags = src[in++] | 0x100u; flags > 1 && !full(); flags >>= 1) {
            const bool literal = flags & 1;
            if (in + (literal ? 1 : 2) > srcLen)
                return out;
            const size_t position = src[in] | ((src[in + 1 - literal] & 0xF0u) << 4);
            const size_t length = literal ? 1 : (src[in + 1] & 0x0Fu) + kLzssThreshold + 1;
            for (size_t k = 0; k < length && !full(); ++k) {
                out.push_back(literal ? src[in] : ring[(position + k) % kLzssWindowSize]);
                ring[(kLzssStartPos + out.size() - 1) % kLzssWindowSize] = out.back();
            }
            in += literal ? 1 : 2;
        }
    }
    return out;
}
