// Fuzz target bodies: each feeds arbitrary bytes to one parser and checks, beyond the
// sanitizers, the promises the parser makes about what it hands back.
#include "fuzz/FuzzTargets.h"

#include "archive/Lzss.h"
#include "archive/ResFile.h"
#include "builder/DdsTexture.h"
#include "archive/MipTexture.h"
#include "common/ByteReader.h"
#include "extractor/ExtractTexture.h"
#include "image/GifImage.h"
#include "image/Image.h"
#include "image/PcxImage.h"
#include "image/TgaImage.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <system_error>
#include <vector>

namespace {

[[noreturn]] void CheckFailed(const char* condition, const char* file, int line)
{
    std::fprintf(stderr, "%s:%d: fuzz check failed: %s\n", file, line, condition);
    std::abort();
}

#define FUZZ_CHECK(condition) ((condition) ? void() : CheckFailed(#condition, __FILE__, __LINE__))

// Keeps reads of the planes from being optimised away.
volatile uint32_t g_Sink;

using Bytes = std::vector<uint8_t>;

// A folder of this process's own that is also its working directory, so that files
// the code under test makes beside itself (the compaction's staging file) land there.
// It lives in memory when the host offers a RAM-backed folder, and goes at exit.
void EnterScratchFolder()
{
    static bool entered = false;
    if (entered)
        return;
    namespace fs = std::filesystem;
    static fs::path folder;
    std::random_device random;
    for (const fs::path& base : {fs::path("/dev/shm"), fs::temp_directory_path()}) {
        std::error_code error;
        folder = base / ("mtx-fuzz-" + std::to_string(random()));
        if (fs::create_directory(folder, error))
            break;
        folder.clear();
    }
    FUZZ_CHECK(!folder.empty());
    fs::current_path(folder);
    std::atexit([] {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    });
    entered = true;
}

void WriteWholeFile(const char* path, const uint8_t* data, size_t size)
{
    std::FILE* file = std::fopen(path, "wb");
    FUZZ_CHECK(file != nullptr);
    FUZZ_CHECK(size == 0 || std::fwrite(data, 1, size, file) == size);
    FUZZ_CHECK(std::fclose(file) == 0);
}

Bytes ReadWholeFile(const char* path)
{
    Bytes bytes;
    std::FILE* file = std::fopen(path, "rb");
    FUZZ_CHECK(file != nullptr);
    uint8_t chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + got);
    std::fclose(file);
    return bytes;
}

bool FileExists(const char* path)
{
    std::error_code error;
    return std::filesystem::exists(path, error);
}

// ---- Extraction -------------------------------------------------------------------------

constexpr char kExtractPackage[] = "extract.mtx";
constexpr char kOutputFolder[] = "out";
constexpr char kOutputPrefix[] = "out/";
constexpr char kDefaultEntryName[] = "texture";
constexpr uint8_t kWithPaletteFlag = 1;
constexpr uint8_t kPackedPaletteFlag = 2;
constexpr uint8_t kDdsFlag = 4;
constexpr int32_t kPcxMaxWidth = 640;
constexpr int32_t kPcxMaxHeight = 480;

// A package written through the archive: an optional "Palette" entry, then the record.
void WriteExtractPackage(const Bytes& palette, int32_t paletteMethod, const char* name, const Bytes& record)
{
    CResFile writer(kExtractPackage);
    FUZZ_CHECK(writer.Open(RA_WRITE | RA_CREATE) == 1);
    auto add = [&writer](const char* entryName, const Bytes& bytes, int32_t type, int32_t method) {
        DirEntry entry{};
        std::snprintf(entry.name, sizeof entry.name, "%s", entryName);
        entry.size = static_cast<int32_t>(bytes.size());
        entry.type = type;
        entry.method = method;
        entry.data = bytes.data();
        return writer.mfFileAdd(&entry);
    };
    if (!palette.empty())
        FUZZ_CHECK(add(kPaletteEntryName, palette, RT_PALETTE, paletteMethod) == 1);
    add(name, record, RT_TEXTURE, RC_NONE);
    FUZZ_CHECK(writer.mfFlush() == 1);
    writer.mfClose();
}

// The file the extraction wrote must read back, through the project's own decoders, as
// the record's pixels (PCX only up to the size its decoder takes); a DDS file through the
// builder's intake as the record's size, format and body.
void CheckExtractedImage(const std::string& path, const Bytes& record, const RgbaPalette& palette)
{
    FUZZ_CHECK(record.size() >= kMipHeaderSize);
    const MipTexture header = DecodeMipTexture(record.data());
    const auto extensionIs = [&path](const char* extension) {
        return path.size() > 4 && path.compare(path.size() - 4, 4, extension) == 0;
    };
    if (extensionIs(".dds")) {
        const Bytes file = ReadWholeFile(path.c_str());
        DdsSurface surface;
        FUZZ_CHECK(ReadDdsSurface(file.data(), file.size(), surface) == DdsKind::Dxt);
        FUZZ_CHECK(surface.format == header.format && surface.width == header.width &&
                   surface.height == header.height);
        FUZZ_CHECK(Bytes(file.begin() + kDdsFileHeaderSize, file.end()) ==
                   Bytes(record.begin() + kMipHeaderSize, record.end()));
        return;
    }
    FUZZ_CHECK(header.width > 0 && header.height > 0 && header.dataOffset >= static_cast<int32_t>(kMipHeaderSize));
    const size_t pixelCount = static_cast<size_t>(header.width) * static_cast<size_t>(header.height);
    const Bytes file = ReadWholeFile(path.c_str());
    const bool pcx = extensionIs(".pcx");
    const bool ownPalette = (header.ownPalette & 1) != 0;

    if (pcx) {
        FUZZ_CHECK(header.format == TEX_INDEXED8);
        const size_t indexStart = static_cast<size_t>(header.dataOffset) + (ownPalette ? kRgbaPaletteSize : 0);
        FUZZ_CHECK(indexStart + pixelCount <= record.size());
        if (header.width > kPcxMaxWidth || header.height > kPcxMaxHeight)
            return;
        CPcxImage image(file.data(), static_cast<uint32_t>(file.size()));
        FUZZ_CHECK(g_ImageError == IMGERR_NONE);
        FUZZ_CHECK(image.m_Width == header.width && image.m_Height == header.height);
        FUZZ_CHECK(std::memcmp(image.m_pIndices, record.data() + indexStart, pixelCount) == 0);
        for (size_t i = 0; i < kRgbaPaletteEntries; ++i) {
            const RgbaColor& colour = palette.entries[i];
            FUZZ_CHECK(image.m_pPalette[i * 3] == colour.red && image.m_pPalette[i * 3 + 1] == colour.green &&
                       image.m_pPalette[i * 3 + 2] == colour.blue);
        }
        return;
    }
    FUZZ_CHECK(header.format == TEX_RGB24 || header.format == TEX_RGBA32);
    const size_t pixelBytes = header.format == TEX_RGB24 ? 3 : 4;
    const size_t dataStart = static_cast<size_t>(header.dataOffset);
    FUZZ_CHECK(dataStart + pixelCount * pixelBytes <= record.size());
    CTgaImage image(file.data(), static_cast<uint32_t>(file.size()));
    FUZZ_CHECK(g_ImageError == IMGERR_NONE);
    FUZZ_CHECK(image.m_Width == header.width && image.m_Height == header.height);
    for (size_t i = 0; i < pixelCount; ++i) {
        const uint8_t* stored = record.data() + dataStart + i * pixelBytes;
        const uint8_t* decoded = image.m_pPixels + i * 4;
        FUZZ_CHECK(std::memcmp(decoded, stored, 3) == 0);
        FUZZ_CHECK(decoded[3] == (pixelBytes == 4 ? stored[3] : 255));
    }
}

// Input: a flags byte (kWithPaletteFlag: the package has a "Palette" entry;
// kPackedPaletteFlag: stored with LZSS; kDdsFlag: DXT records are extracted as DDS
// files), the palette entry's length as two bytes, its bytes, then the texture record,
// whose entry is named after the record's name field.
// The record is extracted into a folder of its own; nothing may appear elsewhere.
void FuzzExtract(const uint8_t* data, size_t size)
{
    EnterScratchFolder();
    ByteReader reader(data, size);
    const uint8_t flags = reader.u8();
    const uint16_t paletteLength = reader.u16();
    if (!reader.ok())
        return;
    const size_t paletteSize = std::min<size_t>(paletteLength, reader.remaining());
    const uint8_t* paletteBytes = reader.take(paletteSize);
    Bytes palette;
    if (flags & kWithPaletteFlag)
        palette.assign(paletteBytes, paletteBytes + paletteSize);
    if (reader.remaining() == 0)
        return;  // the archive takes no empty entry
    Bytes record(reader.remaining());
    reader.read(record.data(), record.size());

    char name[kMipNameSize] = {};
    std::memcpy(name, record.data(), std::min(record.size(), kMipNameSize - 1));
    if (name[0] == '\0')
        std::snprintf(name, sizeof name, "%s", kDefaultEntryName);
    WriteExtractPackage(palette, (flags & kPackedPaletteFlag) ? RC_LZSS : RC_NONE, name, record);

    namespace fs = std::filesystem;
    fs::create_directory(kOutputFolder);
    RgbaPalette table{};
    {
        CResFile package(kExtractPackage);
        FUZZ_CHECK(package.Open(RA_READ) == 1);
        ExtractTexture(package, package.mfGetCount() - 1, kOutputPrefix, kExtractPackage, table,
                       (flags & kDdsFlag) != 0);
        std::fflush(stdout);
    }

    for (const fs::directory_entry& entry : fs::directory_iterator(".")) {
        const std::string found = entry.path().filename().string();
        FUZZ_CHECK(found == kExtractPackage || found == kOutputFolder);
    }
    int written = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(kOutputFolder)) {
        FUZZ_CHECK(entry.is_regular_file() && ++written == 1);
        CheckExtractedImage(entry.path().string(), record, table);
        fs::remove(entry.path());
    }
    std::remove(kExtractPackage);
}

// ---- LZSS ------------------------------------------------------------------------------

constexpr int32_t kMaxDecodeLength = 1 << 20;  // output buffers stay small whatever is asked
constexpr int32_t kWindowSize = 4096;
constexpr int32_t kWindowStart = 4078;
constexpr int32_t kMinMatch = 3;

// The stream decoded the plain way, token by token through a ring of 4096 bytes
// (spaces below the start position, zeros from it on), as the reference the
// archive's decoder must agree with.
Bytes ReferenceLzssDecode(const uint8_t* src, size_t srcLen, int64_t limit)
{
    Bytes out;
    uint8_t ring[kWindowSize];
    std::memset(ring, ' ', kWindowStart);
    std::memset(ring + kWindowStart, 0, kWindowSize - kWindowStart);
    int32_t r = kWindowStart;
    size_t in = 0;
    auto emit = [&](uint8_t byte) {
        out.push_back(byte);
        ring[r] = byte;
        r = (r + 1) & (kWindowSize - 1);
    };
    while (in < srcLen && static_cast<int64_t>(out.size()) < limit) {
        unsigned flags = src[in++];
        for (int bit = 0; bit < 8 && static_cast<int64_t>(out.size()) < limit; ++bit, flags >>= 1) {
            if (flags & 1) {
                if (in >= srcLen)
                    return out;
                emit(src[in++]);
                continue;
            }
            if (in + 2 > srcLen)
                return out;
            const int32_t position = src[in] | ((src[in + 1] & 0xF0) << 4);
            const int32_t length = (src[in + 1] & 0x0F) + kMinMatch;
            in += 2;
            for (int32_t k = 0; k < length && static_cast<int64_t>(out.size()) < limit; ++k)
                emit(ring[(position + k) & (kWindowSize - 1)]);
        }
    }
    return out;
}

// The input as a whole round-trips through the encoder, and the input after its first
// four bytes is decoded as a stream with those bytes as the output length.
void FuzzLzss(const uint8_t* data, size_t size)
{
    const int32_t length = static_cast<int32_t>(size);
    Bytes packed(static_cast<size_t>(LzssMaxEncodedSize(length)));
    const int32_t packedLength = LzssEncode(data, packed.data(), length);
    FUZZ_CHECK(packedLength >= 0 && packedLength <= static_cast<int64_t>(packed.size()));
    Bytes unpacked(size);
    FUZZ_CHECK(LzssDecode(packed.data(), unpacked.data(), packedLength, length) == length);
    FUZZ_CHECK(size == 0 || std::memcmp(unpacked.data(), data, size) == 0);
    FUZZ_CHECK(ReferenceLzssDecode(packed.data(), static_cast<size_t>(packedLength), length) == unpacked);

    ByteReader reader(data, size);
    int32_t dstLen = reader.i32();
    if (!reader.ok())
        return;
    if (dstLen > kMaxDecodeLength)
        dstLen %= kMaxDecodeLength + 1;
    const uint8_t* stream = data + reader.position();
    const size_t streamSize = reader.remaining();
    // Exactly as large as asked, so that a write past `dstLen` is caught.
    std::unique_ptr<uint8_t[]> decoded(new uint8_t[dstLen > 0 ? static_cast<size_t>(dstLen) : 1]);
    const int32_t produced = LzssDecode(stream, decoded.get(), static_cast<int32_t>(streamSize), dstLen);
    const Bytes expected = ReferenceLzssDecode(stream, streamSize, dstLen);
    FUZZ_CHECK(produced == static_cast<int32_t>(expected.size()));
    FUZZ_CHECK(produced == 0 || std::memcmp(decoded.get(), expected.data(), expected.size()) == 0);
}

// ---- Package ---------------------------------------------------------------------------

constexpr char kPackageFile[] = "fuzz.mtx";
constexpr int32_t kWholeReadCapacity = 1 << 16;
constexpr int64_t kPieceBudget = 1 << 20;  // most bytes read piecewise from one entry
constexpr int32_t kPieceLengths[] = {108, 1, 4096, 0, 333};

// Whether bytes [offset, offset + count) lie inside an input of `size` bytes.
bool InInput(int64_t offset, int64_t count, size_t size)
{
    return offset >= 0 && count >= 0 && offset + count <= static_cast<int64_t>(size);
}

// Reads every entry whole and piece by piece; every byte handed back must be the
// input's byte at that place (or, for an LZSS entry, its plain decoding).
void ReadEveryEntry(CResFile& package, const uint8_t* data, size_t size)
{
    std::vector<uint8_t> whole(kWholeReadCapacity);
    for (int32_t index = 0; index < package.mfGetCount(); ++index) {
        const DirEntry entry = package.mfGetEntry(index);
        const int32_t found = package.mfFileGetNum(entry.name);
        FUZZ_CHECK(found >= 0 && found <= index);

        const int32_t delivered = package.mfFileRead(index, whole.data(), kWholeReadCapacity);
        FUZZ_CHECK(delivered >= 0 && delivered <= kWholeReadCapacity);
        if (delivered > 0 && entry.method == RC_NONE) {
            FUZZ_CHECK(delivered == entry.size && InInput(entry.offset, entry.size, size));
            FUZZ_CHECK(std::memcmp(whole.data(), data + entry.offset, static_cast<size_t>(delivered)) == 0);
        } else if (delivered > 0) {
            FUZZ_CHECK(InInput(entry.offset, entry.size, size) && entry.size >= 4);
            const Bytes expected =
                ReferenceLzssDecode(data + entry.offset + 4, static_cast<size_t>(entry.size) - 4, delivered);
            FUZZ_CHECK(expected.size() == static_cast<size_t>(delivered));
            FUZZ_CHECK(std::memcmp(whole.data(), expected.data(), expected.size()) == 0);
        }

        int64_t position = 0;
        const int64_t wanted = std::min<int64_t>(entry.size, kPieceBudget) + 16;  // a little past the end
        for (size_t piece = 0; position < wanted; ++piece) {
            const int32_t length = static_cast<int32_t>(
                std::min<int64_t>(kPieceLengths[piece % std::size(kPieceLengths)], wanted - position));
            uint8_t* bytes = package.mfFileRead2(index, length);
            if (!bytes) {
                FUZZ_CHECK(package.mfGetEntry(index).readPos == position);
                break;
            }
            FUZZ_CHECK(InInput(int64_t{entry.offset} + position, length, size));
            FUZZ_CHECK(length == 0 || std::memcmp(bytes, data + entry.offset + position, static_cast<size_t>(length)) == 0);
            std::free(bytes);
            position += length;
            FUZZ_CHECK(package.mfGetEntry(index).readPos == position);
        }
    }
}

// Compacts the open package. On success the handle is open on the compacted file,
// which holds every entry's stored bytes unchanged, back to back behind the records,
// and compacts to itself again. On failure the package file is untouched. Neither
// leaves the staging file behind.
void CheckCompaction(CResFile& package, const uint8_t* data, size_t size)
{
    const int32_t count = package.mfGetCount();
    std::vector<DirEntry> before;
    for (int32_t index = 0; index < count; ++index)
        before.push_back(package.mfGetEntry(index));

    if (package.mfOptimize(0) != 1) {
        FUZZ_CHECK(package.mfGetError() != nullptr);
        FUZZ_CHECK(!FileExists(kOptimizeTempName));
        FUZZ_CHECK(ReadWholeFile(kPackageFile) == Bytes(data, data + size));
        return;
    }
    FUZZ_CHECK(!FileExists(kOptimizeTempName));
    const Bytes compacted = ReadWholeFile(kPackageFile);
    FUZZ_CHECK(package.mfGetCount() == count);
    int64_t dataPosition = static_cast<int64_t>(kHeaderSize) + static_cast<int64_t>(kRecordSize) * count;
    for (int32_t index = 0; index < count; ++index) {
        const DirEntry& old = before[static_cast<size_t>(index)];
        const DirEntry& now = package.mfGetEntry(index);
        FUZZ_CHECK(std::strcmp(now.name, old.name) == 0 && now.size == old.size &&
                   now.type == old.type && now.method == old.method);
        FUZZ_CHECK(now.offset == dataPosition);
        // An empty entry has nothing to copy, wherever its offset points.
        if (old.size > 0) {
            FUZZ_CHECK(InInput(old.offset, old.size, size) && InInput(now.offset, now.size, compacted.size()));
            FUZZ_CHECK(std::memcmp(compacted.data() + now.offset, data + old.offset, static_cast<size_t>(old.size)) == 0);
        }
        dataPosition += now.size;
    }
    FUZZ_CHECK(static_cast<int64_t>(compacted.size()) == dataPosition);

    FUZZ_CHECK(package.mfOptimize(0) == 1);
    FUZZ_CHECK(ReadWholeFile(kPackageFile) == compacted);
}

// The bytes as a package file: open for reading, every entry looked up and read, then
// the package compacted.
void FuzzPackage(const uint8_t* data, size_t size)
{
    EnterScratchFolder();
    WriteWholeFile(kPackageFile, data, size);
    {
        CResFile package(kPackageFile);
        if (package.Open(RA_READ) == 1) {
            // The directory never outgrows the file it came from.
            FUZZ_CHECK(package.mfGetCount() >= 1 && static_cast<size_t>(package.mfGetCount()) <= size);
            ReadEveryEntry(package, data, size);
            CheckCompaction(package, data, size);
        } else {
            FUZZ_CHECK(package.mfGetError() != nullptr);
        }
    }
    std::remove(kPackageFile);
}

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

void FuzzGif(const uint8_t* data, size_t size)
{
    RunDecoder<CGifImage>(data, size, IMG_GIF);
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
    if (ReadDdsSurface(data, size, surface) != DdsKind::Dxt)
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
    {"package", FuzzPackage},
    {"lzss", FuzzLzss},
    {"extract", FuzzExtract},
    {"image", FuzzImage},
    {"gif", FuzzGif},
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
