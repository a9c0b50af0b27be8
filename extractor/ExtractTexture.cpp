// Texture extraction: the entry read whole and unpacked, record checks, pixel conversion
// and the writers.
#include "extractor/ExtractTexture.h"

#include "common/HeapBuffer.h"
#include "extractor/ImageWriters.h"
#include "extractor/PngWriter.h"
#include "image/DdsFormat.h"
#include "image/DxtDecode.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace {

constexpr uint8_t kOpaqueAlpha = 255;
constexpr size_t kRgbBytes = 3;
constexpr size_t kRgbaBytes = 4;

// An entry's bytes as mfFileRead delivers them: unpacked when stored with LZSS.
struct EntryBytes {
    HeapBytes data;
    size_t size = 0;
};

// What one entry's extraction needs besides its record: where its file goes, and the
// caller's error text for a folder that cannot be made.
struct EntryJob {
    PackageOutput& output;
    const char* entryName;
    int32_t ordinal;  // the entry's place among the package's entries of its name
    std::string& errorText;
    ExtractOutcome& outcome;  // gets the name of the file written
    ExtractRun& run;
};

// What a PNG file is made from, kept alive until a worker has written it.
struct PngSource {
    HeapBytes bytes;  // the record or the decoded pixels `picture` points into
    RgbaPalette palette{};             // a palette picture's copy of the run's table
    PngPicture picture;
};

ExtractStatus CantLoad(const EntryJob& job)
{
    job.run.console.Print("Warning: Can't load texture '%s'\n", job.entryName);
    return ExtractStatus::Failed;
}

// An entry name as a file name stem: every '/' and '\\' turned into '_', so that no name
// leads outside the package's folder.
std::string FileStem(const std::string& entryName)
{
    std::string stem = entryName;
    for (char& c : stem) {
        if (c == '/' || c == '\\')
            c = '_';
    }
    return stem;
}

// Names the entry's file and makes the package's folder. False, with the entry's status,
// when the size does not fit its format (no folder is made then) or the folder failed.
bool PrepareFile(const EntryJob& job, const std::string& stem, const char* extension, bool fits,
                 OutputFile& file, ExtractStatus& status)
{
    file = job.output.NameFile(stem, extension, job.ordinal);
    if (!fits) {
        job.run.console.Print("Warning: Can't write file '%s' (too large for its format)\n", file.path.c_str());
        status = ExtractStatus::Failed;
        return false;
    }
    if (!job.output.MakeFolder(job.errorText)) {
        status = ExtractStatus::FolderFailed;
        return false;
    }
    return true;
}

// Ends the entry's line once its file was written, or not.
ExtractStatus EndEntry(OrderedOutput& console, const std::string& entryName, const OutputFile& file, bool written,
                       ExtractOutcome& outcome)
{
    if (!written) {
        console.Print("Warning: Can't write file '%s'\n", file.path.c_str());
        return ExtractStatus::Failed;
    }
    console.Print("\t(Ok.)\n");
    outcome.fileName = file.name;
    if (file.renamed)
        console.Print("Warning: Duplicate texture name %s written as %s\n", entryName.c_str(), file.name.c_str());
    return ExtractStatus::Done;
}

// Writes the entry's file with `write` (given the path; false when it could not write).
template <class Write>
ExtractStatus WriteOut(const EntryJob& job, const std::string& stem, const char* extension, bool fits,
                       Write write)
{
    OutputFile file;
    ExtractStatus status = ExtractStatus::Done;
    if (!PrepareFile(job, stem, extension, fits, file, status))
        return status;
    return EndEntry(job.run.console, job.entryName, file, write(file.path), job.outcome);
}

// Writes the entry's PNG file on one of the console's workers; its line ends once it is written.
ExtractStatus WritePngOut(const EntryJob& job, const std::string& stem, std::shared_ptr<const PngSource> source)
{
    OutputFile file;
    ExtractStatus status = ExtractStatus::Done;
    if (!PrepareFile(job, stem, ".png", true, file, status))
        return status;
    OrderedOutput& console = job.run.console;
    ExtractOutcome* outcome = &job.outcome;
    const std::string entryName = job.entryName;
    console.Defer([source, path = file.path] { return WritePng(path, source->picture); },
                  [&console, entryName, file, outcome](bool written) {
                      return EndEntry(console, entryName, file, written, *outcome) == ExtractStatus::Done;
                  });
    return ExtractStatus::Done;
}

bool ReadEntry(CResFile& package, int32_t index, EntryBytes& bytes)
{
    const int64_t size = package.mfFileSize(index);
    if (size < 0)
        return false;
    bytes.data = AllocateBytes(static_cast<size_t>(size));
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
ExtractStatus ExtractIndexed(CResFile& package, EntryBytes& record, const MipTexture& header, const EntryJob& job,
                             const std::string& packageFileName)
{
    RgbaPalette& palette = job.run.palette;
    const bool ownPalette = (header.ownPalette & kOwnPaletteBit) != 0;
    if (!ownPalette && !LoadSharedPalette(package, palette)) {
        job.run.console.Print("(Can't find palette in pak '%s')\n", packageFileName.c_str());
        return ExtractStatus::Failed;
    }
    const uint8_t* data = RecordData(record, header, ownPalette ? static_cast<int64_t>(kRgbaPaletteSize) : 0);
    if (!data)
        return CantLoad(job);
    if (ownPalette) {
        std::memcpy(&palette, data, kRgbaPaletteSize);
        data += kRgbaPaletteSize;
    }
    if (job.run.formats.png) {
        auto source = std::make_shared<PngSource>();
        source->palette = palette;
        source->picture = PngPicture{header.width, header.height, PngColour::Palette, data, &source->palette};
        source->bytes = std::move(record.data);
        return WritePngOut(job, FileStem(job.entryName), std::move(source));
    }
    uint8_t pcxPalette[kPcxPaletteSize];
    for (size_t i = 0; i < kRgbaPaletteEntries; ++i) {
        pcxPalette[i * kRgbBytes] = palette.entries[i].red;
        pcxPalette[i * kRgbBytes + 1] = palette.entries[i].green;
        pcxPalette[i * kRgbBytes + 2] = palette.entries[i].blue;
    }
    return WriteOut(job, FileStem(job.entryName), ".pcx", PcxCanHold(header.width, header.height),
                    [&](const std::string& path) {
                        return WritePcx(path, data, pcxPalette, header.width, header.height);
                    });
}

// RGB or RGBA record: as stored for the PNG writer, or as R, G, B, A for the TGA writers.
ExtractStatus ExtractTrueColour(EntryBytes& record, const MipTexture& header, const EntryJob& job)
{
    const uint8_t* data = RecordData(record, header, 0);
    if (!data)
        return CantLoad(job);
    if (job.run.formats.png) {
        const PngColour colour = header.format == TEX_RGBA32 ? PngColour::Rgba : PngColour::Rgb;
        auto source = std::make_shared<PngSource>();
        source->picture = PngPicture{header.width, header.height, colour, data};
        source->bytes = std::move(record.data);
        return WritePngOut(job, FileStem(job.entryName), std::move(source));
    }
    const bool fits = TgaCanHold(header.width, header.height);
    if (header.format == TEX_RGBA32) {
        return WriteOut(job, FileStem(job.entryName), ".tga", fits, [&](const std::string& path) {
            return WriteTga32(data, header.width, header.height, path);
        });
    }
    return WriteOut(job, FileStem(job.entryName), ".tga", fits, [&](const std::string& path) {
        const size_t pixelCount = static_cast<size_t>(header.width) * static_cast<size_t>(header.height);
        const HeapBytes pixels = AllocateBytes(pixelCount * kRgbaBytes);
        if (!pixels)
            return false;
        for (size_t i = 0; i < pixelCount; ++i) {
            std::memcpy(&pixels[i * kRgbaBytes], data + i * kRgbBytes, kRgbBytes);
            pixels[i * kRgbaBytes + 3] = kOpaqueAlpha;
        }
        return WriteTga24(pixels.get(), header.width, header.height, path);
    });
}

// The file stem of a DXT record: its entry name without the "_tc" the builder adds, so
// the file is named like the DDS file the builder makes this entry from.
std::string DxtFileStem(const char* entryName)
{
    std::string stem = entryName;
    const size_t suffixLength = sizeof kDxtNameSuffix - 1;
    if (stem.size() > suffixLength && stem.compare(stem.size() - suffixLength, suffixLength, kDxtNameSuffix) == 0)
        stem.resize(stem.size() - suffixLength);
    return FileStem(stem);
}

// DXT record: its body as stored, behind a DDS header that describes it.
ExtractStatus ExtractDxt(const EntryBytes& record, const MipTexture& header, const EntryJob& job)
{
    const size_t bodySize = record.size - kMipHeaderSize;
    DdsSurfaceHeader surface;
    if (!DescribeDxtSurface(DxtFormatName(header.format), header.width, header.height, bodySize, surface))
        return CantLoad(job);
    // The DDS header holds every size a record can have.
    return WriteOut(job, DxtFileStem(job.entryName), ".dds", true, [&](const std::string& path) {
        return WriteDds(path, surface, record.data.get() + kMipHeaderSize, bodySize);
    });
}

// DXT record: its top level decoded and written as an RGBA PNG. The record stores no
// average colour, so the outcome gets the decoded pixels' one.
ExtractStatus ExtractDxtPng(const EntryBytes& record, const EntryJob& job)
{
    MipTexture& header = job.outcome.header;
    HeapBytes pixels =
        DecodeDxtTopLevel(DxtFormatName(header.format), header.width, header.height,
                          record.data.get() + kMipHeaderSize, record.size - kMipHeaderSize);
    if (!pixels)
        return CantLoad(job);
    const size_t pixelCount = static_cast<size_t>(header.width) * static_cast<size_t>(header.height);
    uint64_t sums[kRgbBytes] = {};
    for (size_t pixel = 0; pixel < pixelCount; ++pixel) {
        for (size_t channel = 0; channel < kRgbBytes; ++channel)
            sums[channel] += pixels[pixel * kRgbaBytes + channel];
    }
    header.averageRed = static_cast<int32_t>(sums[0] / pixelCount);
    header.averageGreen = static_cast<int32_t>(sums[1] / pixelCount);
    header.averageBlue = static_cast<int32_t>(sums[2] / pixelCount);
    job.outcome.knownAverage = true;
    auto source = std::make_shared<PngSource>();
    source->picture = PngPicture{header.width, header.height, PngColour::Rgba, pixels.get()};
    source->bytes = std::move(pixels);
    return WritePngOut(job, DxtFileStem(job.entryName), std::move(source));
}

}  // namespace

ExtractStatus ExtractTexture(CResFile& package, int32_t index, PackageOutput& output,
                             const std::string& packageFileName, ExtractRun& run, ExtractOutcome& outcome,
                             std::string& errorText)
{
    char entryName[kNameSize];
    std::memcpy(entryName, package.mfGetEntry(index).name, kNameSize);
    entryName[kNameSize - 1] = '\0';
    run.console.Print("  extract '%s' ", entryName);
    outcome = ExtractOutcome();
    const EntryJob job{output, entryName, output.CountEntry(entryName), errorText, outcome, run};

    EntryBytes record;
    if (!ReadEntry(package, index, record) || record.size < kMipHeaderSize)
        return CantLoad(job);
    const MipTexture header = outcome.header = DecodeMipTexture(record.data.get());
    outcome.texture = true;
    outcome.knownAverage = BytesPerPixel(header.format) != 0;
    switch (header.format) {
    case TEX_DXT1:
    case TEX_DXT3:
    case TEX_DXT5:
        if (run.formats.dds)
            return ExtractDxt(record, header, job);
        if (run.formats.png)
            return ExtractDxtPng(record, job);
        run.console.Print("Warning: Compressed texture -- ignored\n");
        return ExtractStatus::Done;
    case TEX_INDEXED8:
        return ExtractIndexed(package, record, header, job, packageFileName);
    case TEX_RGB24:
    case TEX_RGBA32:
        return ExtractTrueColour(record, header, job);
    default:
        // Not a texture format (the "Palette" entry lands here): nothing to write.
        outcome.texture = false;
        run.console.Print("\t(Ok.)\n");
        return ExtractStatus::Done;
    }
}
