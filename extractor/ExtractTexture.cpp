// Texture extraction: header read, record checks, pixel conversion and the writers.
#include "extractor/ExtractTexture.h"

#include "extractor/ImageWriters.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr int32_t kOwnPaletteBit = 1;
constexpr uint8_t kOpaqueAlpha = 255;

struct FreeDeleter {
    void operator()(void* block) const { std::free(block); }
};
using ReadBuffer = std::unique_ptr<uint8_t, FreeDeleter>;

void PrintCantLoad(const char* entryName)
{
    std::printf("Warning: Can't load texture '%s'\n", entryName);
}

void PrintOk()
{
    std::printf("\t(Ok.)\n");
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

// Reads the record's data after its header has been read: `bytesPerPixel` bytes per
// pixel plus `extraBytes`, found at `dataOffset`. The data must lie behind the header
// and inside the entry's stored bytes; null when it does not or when the read fails.
// `*data` receives where the data starts.
ReadBuffer ReadRecordData(CResFile& package, int32_t index, const MipTexture& header,
                          int64_t bytesPerPixel, int64_t extraBytes, const uint8_t** data)
{
    const DirEntry& entry = package.mfGetEntry(index);
    // The header was read from readPos - 108; the record's bytes end with the entry's.
    const int64_t recordBytes = static_cast<int64_t>(entry.size) - entry.readPos +
                                static_cast<int64_t>(kMipHeaderSize);
    const int64_t dataOffset = header.dataOffset;
    if (header.width < 1 || header.height < 1 || dataOffset < static_cast<int64_t>(kMipHeaderSize))
        return nullptr;
    const int64_t pixelCount = static_cast<int64_t>(header.width) * header.height;
    if (pixelCount > recordBytes / bytesPerPixel)
        return nullptr;
    const int64_t dataBytes = pixelCount * bytesPerPixel + extraBytes;
    if (dataOffset + dataBytes > recordBytes)
        return nullptr;
    const int64_t skip = dataOffset - static_cast<int64_t>(kMipHeaderSize);
    ReadBuffer block(package.mfFileRead2(index, static_cast<int32_t>(skip + dataBytes)));
    if (block)
        *data = block.get() + skip;
    return block;
}

// Palette record: own palette from the record or the package's shared one, then PCX.
void ExtractIndexed(CResFile& package, int32_t index, const char* entryName,
                    const MipTexture& header, const std::string& outputPrefix,
                    const std::string& packageFileName, RgbaPalette& palette)
{
    const bool ownPalette = (header.ownPalette & kOwnPaletteBit) != 0;
    if (!ownPalette && !LoadSharedPalette(package, palette)) {
        std::printf("(Can't find palette in pak '%s')\n", packageFileName.c_str());
        return;
    }
    const uint8_t* data = nullptr;
    const ReadBuffer block = ReadRecordData(package, index, header, 1,
                                            ownPalette ? static_cast<int64_t>(kRgbaPaletteSize) : 0, &data);
    if (!block) {
        PrintCantLoad(entryName);
        return;
    }
    if (ownPalette) {
        std::memcpy(&palette, data, kRgbaPaletteSize);
        data += kRgbaPaletteSize;
    }
    uint8_t pcxPalette[kPcxPaletteSize];
    for (size_t i = 0; i < kRgbaPaletteEntries; ++i) {
        pcxPalette[i * 3] = palette.entries[i].red;
        pcxPalette[i * 3 + 1] = palette.entries[i].green;
        pcxPalette[i * 3 + 2] = palette.entries[i].blue;
    }
    WritePcx(ExtractFileName(outputPrefix, entryName, ".pcx"), data, pcxPalette, header.width,
             header.height);
    PrintOk();
}

// RGB or RGBA record: pixels as R, G, B, A for the TGA writers.
void ExtractTrueColour(CResFile& package, int32_t index, const char* entryName,
                       const MipTexture& header, const std::string& outputPrefix)
{
    const bool withAlpha = header.format == TEX_RGBA32;
    const uint8_t* data = nullptr;
    const ReadBuffer block = ReadRecordData(package, index, header, withAlpha ? 4 : 3, 0, &data);
    if (!block) {
        PrintCantLoad(entryName);
        return;
    }
    const std::string fileName = ExtractFileName(outputPrefix, entryName, ".tga");
    if (withAlpha) {
        WriteTga32(data, header.width, header.height, fileName);
    } else {
        const size_t pixelCount = static_cast<size_t>(header.width) * static_cast<size_t>(header.height);
        std::vector<uint8_t> pixels(pixelCount * 4);
        for (size_t i = 0; i < pixelCount; ++i) {
            std::memcpy(&pixels[i * 4], data + i * 3, 3);
            pixels[i * 4 + 3] = kOpaqueAlpha;
        }
        WriteTga24(pixels.data(), header.width, header.height, fileName);
    }
    PrintOk();
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
                    const std::string& packageFileName, RgbaPalette& palette)
{
    const DirEntry& entry = package.mfGetEntry(index);
    char entryName[kNameSize];
    std::memcpy(entryName, entry.name, kNameSize);
    entryName[kNameSize - 1] = '\0';
    std::printf("  extract '%s' ", entryName);

    // An entry too short for a header would be read on into whatever follows it.
    if (entry.size - static_cast<int64_t>(entry.readPos) < static_cast<int64_t>(kMipHeaderSize)) {
        PrintCantLoad(entryName);
        return;
    }
    const ReadBuffer headerBytes(package.mfFileRead2(index, static_cast<int32_t>(kMipHeaderSize)));
    if (!headerBytes) {
        PrintCantLoad(entryName);
        return;
    }
    const MipTexture header = DecodeMipTexture(headerBytes.get());
    switch (header.format) {
    case TEX_DXT1:
    case TEX_DXT3:
    case TEX_DXT5:
        std::printf("Warning: Compressed texture -- ignored\n");
        break;
    case TEX_INDEXED8:
        ExtractIndexed(package, index, entryName, header, outputPrefix, packageFileName, palette);
        break;
    case TEX_RGB24:
    case TEX_RGBA32:
        ExtractTrueColour(package, index, entryName, header, outputPrefix);
        break;
    default:
        // Not a texture format (the "Palette" entry lands here): nothing to write.
        PrintOk();
        break;
    }
}
