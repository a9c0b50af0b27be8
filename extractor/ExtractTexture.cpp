// Texture extraction: the entry read whole and unpacked, record checks, pixel conversion
// and the writers.
#include "extractor/ExtractTexture.h"

#include "extractor/ImageWriters.h"
#include "image/DdsFormat.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace {

constexpr int32_t kOwnPaletteBit = 1;
constexpr uint8_t kOpaqueAlpha = 255;
constexpr size_t kRgbBytes = 3;
constexpr size_t kRgbaBytes = 4;

// An entry's bytes as mfFileRead delivers them: unpacked when stored with LZSS.
struct EntryBytes {
    std::unique_ptr<uint8_t[]> data;
    size_t size = 0;
};

void PrintCantLoad(const char* entryName)
{
    std::printf("Warning: Can't load texture '%s'\n", entryName);
}

// Ends the entry's line: "(Ok.)" when its file was written, a warning when not.
void PrintWritten(bool written, const std::string& fileName)
{
    if (written)
        std::printf("\t(Ok.)\n");
    else
        std::printf("Warning: Can't write file '%s'\n", fileName.c_str());
}

bool ReadEntry(CResFile& package, int32_t index, EntryBytes& bytes)
{
    const int64_t size = package.mfFileSize(index);
    if (size < 0)
        return false;
    bytes.data.reset(new (std::nothrow) uint8_t[size ? static_cast<size_t>(size) : 1]);
    bytes.size = static_cast<size_t>(size);
    return bytes.data && package.mfFileRead(index, bytes.data.get(), size) == size;
}

// Reads the package's "Palette" entry into `palette`; false when it is missing,
// unreadable or not exactly one 1024-byte table.
bool LoadSharedPalette(CResFile& package, RgbaPalette& palette)
{
    const int32_t index = package.mfFileGetNum(kPaletteEntryName);
    if (index < 0)
        return false;
    RgbaPalette loaded;
    if (package.mfFileRead(index, &loaded, static_cast<int64_t>(kRgbaPaletteSize)) !=
        static_cast<int32_t>(kRgbaPaletteSize))
        return false;
    palette = loaded;
    return true;
}

// Where the record's pixel data starts: `extraBytes` then width × height pixels of the
// header's format, at dataOffset. Null unless all of it lies behind the header and
// inside the record.
const uint8_t* RecordData(const EntryBytes& record, const MipTexture& header, int64_t extraBytes)
{
    const int64_t recordSize = static_cast<int64_t>(record.size);
    const int64_t dataOffset = header.dataOffset;
    const int64_t bytesPerPixel = BytesPerPixel(header.format);
    if (header.width < 1 || header.height < 1 || dataOffset < static_cast<int64_t>(kMipHeaderSize) ||
        dataOffset > recordSize)
        return nullptr;
    const int64_t room = recordSize - dataOffset - extraBytes;
    const int64_t pixelCount = static_cast<int64_t>(header.width) * header.height;
    if (room < 0 || pixelCount > room / bytesPerPixel)
        return nullptr;
    return record.data.get() + dataOffset;
}

// Palette record: own palette from the record or the package's shared one, then PCX.
void ExtractIndexed(CResFile& package, const EntryBytes& record, const char* entryName,
                    const MipTexture& header, const std::string& outputPrefix,
                    const std::string& packageFileName, RgbaPalette& palette)
{
    const bool ownPalette = (header.ownPalette & kOwnPaletteBit) != 0;
    if (!ownPalette && !LoadSharedPalette(package, palette)) {
        std::printf("(Can't find palette in pak '%s')\n", packageFileName.c_str());
        return;
    }
    const uint8_t* data = RecordData(record, header, ownPalette ? static_cast<int64_t>(kRgbaPaletteSize) : 0);
    if (!data) {
        PrintCantLoad(entryName);
        return;
    }
    if (ownPalette) {
        std::memcpy(&palette, data, kRgbaPaletteSize);
        data += kRgbaPaletteSize;
    }
    uint8_t pcxPalette[kPcxPaletteSize];
    for (size_t i = 0; i < kRgbaPaletteEntries; ++i) {
        pcxPalette[i * kRgbBytes] = palette.entries[i].red;
        pcxPalette[i * kRgbBytes + 1] = palette.entries[i].green;
        pcxPalette[i * kRgbBytes + 2] = palette.entries[i].blue;
    }
    const std::string fileName = ExtractFileName(outputPrefix, entryName, ".pcx");
    PrintWritten(WritePcx(fileName, data, pcxPalette, header.width, header.height), fileName);
}

// RGB or RGBA record: pixels as R, G, B, A for the TGA writers.
void ExtractTrueColour(const EntryBytes& record, const char* entryName, const MipTexture& header,
                       const std::string& outputPrefix)
{
    const uint8_t* data = RecordData(record, header, 0);
    if (!data) {
        PrintCantLoad(entryName);
        return;
    }
    const std::string fileName = ExtractFileName(outputPrefix, entryName, ".tga");
    if (header.format == TEX_RGBA32) {
        PrintWritten(WriteTga32(data, header.width, header.height, fileName), fileName);
        return;
    }
    const size_t pixelCount = static_cast<size_t>(header.width) * static_cast<size_t>(header.height);
    std::vector<uint8_t> pixels(pixelCount * kRgbaBytes);
    for (size_t i = 0; i < pixelCount; ++i) {
        std::memcpy(&pixels[i * kRgbaBytes], data + i * kRgbBytes, kRgbBytes);
        pixels[i * kRgbaBytes + 3] = kOpaqueAlpha;
    }
    PrintWritten(WriteTga24(pixels.data(), header.width, header.height, fileName), fileName);
}

// DXT record: its body as stored, behind a DDS header that describes it. The file is
// named like the DDS file the builder makes this entry from.
void ExtractDxt(const EntryBytes& record, const char* entryName, const MipTexture& header,
                const std::string& outputPrefix)
{
    const size_t bodySize = record.size - kMipHeaderSize;
    DdsSurfaceHeader surface;
    if (!DescribeDxtSurface(DxtFormatName(header.format), header.width, header.height, bodySize, surface)) {
        PrintCantLoad(entryName);
        return;
    }
    std::string stem = entryName;
    const size_t suffixLength = sizeof kDxtNameSuffix - 1;
    if (stem.size() > suffixLength && stem.compare(stem.size() - suffixLength, suffixLength, kDxtNameSuffix) == 0)
        stem.resize(stem.size() - suffixLength);
    const std::string fileName = ExtractFileName(outputPrefix, stem.c_str(), ".dds");
    PrintWritten(WriteDds(fileName, surface, record.data.get() + kMipHeaderSize, bodySize), fileName);
}

}  // namespace

std::string ExtractFileName(const std::string& outputPrefix, const char* entryName,
                            const char* extension)
{
    std::string fileName = outputPrefix;
    for (const char* c = entryName; *c; ++c)
        fileName += (*c == '/' || *c == '\\') ? '_' : *c;
    return fileName + extension;
}

void ExtractTexture(CResFile& package, int32_t index, const std::string& outputPrefix,
                    const std::string& packageFileName, RgbaPalette& palette, bool writeDds)
{
    char entryName[kNameSize];
    std::memcpy(entryName, package.mfGetEntry(index).name, kNameSize);
    entryName[kNameSize - 1] = '\0';
    std::printf("  extract '%s' ", entryName);

    EntryBytes record;
    if (!ReadEntry(package, index, record) || record.size < kMipHeaderSize) {
        PrintCantLoad(entryName);
        return;
    }
    const MipTexture header = DecodeMipTexture(record.data.get());
    switch (header.format) {
    case TEX_DXT1:
    case TEX_DXT3:
    case TEX_DXT5:
        if (writeDds)
            ExtractDxt(record, entryName, header, outputPrefix);
        else
            std::printf("Warning: Compressed texture -- ignored\n");
        break;
    case TEX_INDEXED8:
        ExtractIndexed(package, record, entryName, header, outputPrefix, packageFileName, palette);
        break;
    case TEX_RGB24:
    case TEX_RGBA32:
        ExtractTrueColour(record, entryName, header, outputPrefix);
        break;
    default:
        // Not a texture format (the "Palette" entry lands here): nothing to write.
        std::printf("\t(Ok.)\n");
        break;
    }
}
