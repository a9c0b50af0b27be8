// Texture extraction: the entry read whole and unpacked, record checks, pixel conversion
// and the writers.
#include "extractor/ExtractTexture.h"

#include "extractor/ImageWriters.h"
#include "extractor/PngWriter.h"
#include "image/DdsFormat.h"
#include "image/DxtDecode.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace {

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
// Returns the file's name when it was written, else an empty one.
std::string PrintWritten(bool written, const std::string& fileName)
{
    if (written)
        std::printf("\t(Ok.)\n");
    else
        std::printf("Warning: Can't write file '%s'\n", fileName.c_str());
    return written ? fileName : std::string();
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

// Palette record: own palette from the record or the package's shared one, then PCX or PNG.
std::string ExtractIndexed(CResFile& package, const EntryBytes& record, const char* entryName,
                           const MipTexture& header, const std::string& outputPrefix,
                           const std::string& packageFileName, RgbaPalette& palette, bool writePng)
{
    const bool ownPalette = (header.ownPalette & kOwnPaletteBit) != 0;
    if (!ownPalette && !LoadSharedPalette(package, palette)) {
        std::printf("(Can't find palette in pak '%s')\n", packageFileName.c_str());
        return {};
    }
    const uint8_t* data = RecordData(record, header, ownPalette ? static_cast<int64_t>(kRgbaPaletteSize) : 0);
    if (!data) {
        PrintCantLoad(entryName);
        return {};
    }
    if (ownPalette) {
        std::memcpy(&palette, data, kRgbaPaletteSize);
        data += kRgbaPaletteSize;
    }
    if (writePng) {
        const std::string fileName = ExtractFileName(outputPrefix, entryName, ".png");
        const PngPicture picture{header.width, header.height, PngColour::Palette, data, &palette};
        return PrintWritten(WritePng(fileName, picture), fileName);
    }
    uint8_t pcxPalette[kPcxPaletteSize];
    for (size_t i = 0; i < kRgbaPaletteEntries; ++i) {
        pcxPalette[i * kRgbBytes] = palette.entries[i].red;
        pcxPalette[i * kRgbBytes + 1] = palette.entries[i].green;
        pcxPalette[i * kRgbBytes + 2] = palette.entries[i].blue;
    }
    const std::string fileName = ExtractFileName(outputPrefix, entryName, ".pcx");
    return PrintWritten(WritePcx(fileName, data, pcxPalette, header.width, header.height), fileName);
}

// RGB or RGBA record: as stored for the PNG writer, or as R, G, B, A for the TGA writers.
std::string ExtractTrueColour(const EntryBytes& record, const char* entryName, const MipTexture& header,
                              const std::string& outputPrefix, bool writePng)
{
    const uint8_t* data = RecordData(record, header, 0);
    if (!data) {
        PrintCantLoad(entryName);
        return {};
    }
    if (writePng) {
        const std::string fileName = ExtractFileName(outputPrefix, entryName, ".png");
        const PngColour colour = header.format == TEX_RGBA32 ? PngColour::Rgba : PngColour::Rgb;
        return PrintWritten(WritePng(fileName, {header.width, header.height, colour, data}), fileName);
    }
    const std::string fileName = ExtractFileName(outputPrefix, entryName, ".tga");
    if (header.format == TEX_RGBA32)
        return PrintWritten(WriteTga32(data, header.width, header.height, fileName), fileName);
    const size_t pixelCount = static_cast<size_t>(header.width) * static_cast<size_t>(header.height);
    std::vector<uint8_t> pixels(pixelCount * kRgbaBytes);
    for (size_t i = 0; i < pixelCount; ++i) {
        std::memcpy(&pixels[i * kRgbaBytes], data + i * kRgbBytes, kRgbBytes);
        pixels[i * kRgbaBytes + 3] = kOpaqueAlpha;
    }
    return PrintWritten(WriteTga24(pixels.data(), header.width, header.height, fileName), fileName);
}

// The entry name without the "_tc" the builder gives DXT entries: DXT files are named
// like the DDS file the entry was made from.
std::string DxtFileStem(const char* entryName)
{
    std::string stem = entryName;
    const size_t suffixLength = sizeof kDxtNameSuffix - 1;
    if (stem.size() > suffixLength && stem.compare(stem.size() - suffixLength, suffixLength, kDxtNameSuffix) == 0)
        stem.resize(stem.size() - suffixLength);
    return stem;
}

// DXT record: its body as stored, behind a DDS header that describes it.
std::string ExtractDxt(const EntryBytes& record, const char* entryName, const MipTexture& header,
                       const std::string& outputPrefix)
{
    const size_t bodySize = record.size - kMipHeaderSize;
    DdsSurfaceHeader surface;
    if (!DescribeDxtSurface(DxtFormatName(header.format), header.width, header.height, bodySize, surface)) {
        PrintCantLoad(entryName);
        return {};
    }
    const std::string fileName = ExtractFileName(outputPrefix, DxtFileStem(entryName).c_str(), ".dds");
    return PrintWritten(WriteDds(fileName, surface, record.data.get() + kMipHeaderSize, bodySize), fileName);
}

// DXT record: its top level decoded and written as an RGBA PNG. The record stores no
// average colour, so the outcome gets the decoded pixels' one.
void ExtractDxtPng(const EntryBytes& record, const char* entryName, const std::string& outputPrefix,
                   ExtractOutcome& outcome)
{
    MipTexture& header = outcome.header;
    const std::unique_ptr<uint8_t[]> pixels = DecodeDxtTopLevel(
        DxtFormatName(header.format), header.width, header.height, record.data.get() + kMipHeaderSize,
        record.size - kMipHeaderSize);
    if (!pixels) {
        PrintCantLoad(entryName);
        return;
    }
    const size_t pixelCount = static_cast<size_t>(header.width) * static_cast<size_t>(header.height);
    uint64_t sums[kRgbBytes] = {};
    for (size_t pixel = 0; pixel < pixelCount; ++pixel) {
        for (size_t channel = 0; channel < kRgbBytes; ++channel)
            sums[channel] += pixels[pixel * kRgbaBytes + channel];
    }
    header.averageRed = static_cast<int32_t>(sums[0] / pixelCount);
    header.averageGreen = static_cast<int32_t>(sums[1] / pixelCount);
    header.averageBlue = static_cast<int32_t>(sums[2] / pixelCount);
    outcome.knownAverage = true;
    const std::string fileName = ExtractFileName(outputPrefix, DxtFileStem(entryName).c_str(), ".png");
    const PngPicture picture{header.width, header.height, PngColour::Rgba, pixels.get()};
    outcome.fileName = PrintWritten(WritePng(fileName, picture), fileName);
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

ExtractOutcome ExtractTexture(CResFile& package, int32_t index, const std::string& outputPrefix,
                              const std::string& packageFileName, RgbaPalette& palette,
                              const ExtractFormats& formats)
{
    char entryName[kNameSize];
    std::memcpy(entryName, package.mfGetEntry(index).name, kNameSize);
    entryName[kNameSize - 1] = '\0';
    std::printf("  extract '%s' ", entryName);

    ExtractOutcome outcome;
    EntryBytes record;
    if (!ReadEntry(package, index, record) || record.size < kMipHeaderSize) {
        PrintCantLoad(entryName);
        return outcome;
    }
    const MipTexture header = outcome.header = DecodeMipTexture(record.data.get());
    outcome.texture = true;
    outcome.knownAverage = BytesPerPixel(header.format) != 0;
    switch (header.format) {
    case TEX_DXT1:
    case TEX_DXT3:
    case TEX_DXT5:
        if (formats.dds)
            outcome.fileName = ExtractDxt(record, entryName, header, outputPrefix);
        else if (formats.png)
            ExtractDxtPng(record, entryName, outputPrefix, outcome);
        else
            std::printf("Warning: Compressed texture -- ignored\n");
        break;
    case TEX_INDEXED8:
        outcome.fileName = ExtractIndexed(package, record, entryName, header, outputPrefix, packageFileName,
                                          palette, formats.png);
        break;
    case TEX_RGB24:
    case TEX_RGBA32:
        outcome.fileName = ExtractTrueColour(record, entryName, header, outputPrefix, formats.png);
        break;
    default:
        // Not a texture format (the "Palette" entry lands here): nothing to write.
        outcome.texture = false;
        std::printf("\t(Ok.)\n");
        break;
    }
    return outcome;
}
