// Mtxmake: texture records of every input kind, checked against records laid out by hand,
// and whole runs of the program (console text, status, the package written).
#include "archive/MipTexture.h"
#include "archive/ResFile.h"
#include "builder/MipConvert.h"
#include "common/Banner.h"
#include "image/Image.h"
#include "samples/ImageEncoders.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>

namespace {

const std::string kBanner = std::string("Img (Gif,Jpg,Pcx,Png,Tga,DDS) to MTX package converter v1.0") +
                            kMakerNotice + "\n \n";

std::string Created(const std::string& package) { return kBanner + "\nCreate package: <" + package + ">...\n\n"; }
std::string Done(const std::string& package) { return "\nDone produce package <" + package + ">\n\n"; }

struct Entry {
    std::string name;
    int32_t type;  // RT_TEXTURE or RT_PALETTE
    Bytes data;
};

std::vector<Entry> ReadPackage(const std::string& path)
{
    CResFile package(path.c_str());
    std::vector<Entry> entries;
    EXPECT_EQ(package.Open(RA_READ), 1) << path;
    for (int32_t index = 0; index < package.mfGetCount(); ++index) {
        const DirEntry& entry = package.mfGetEntry(index);
        EXPECT_EQ(entry.method, RC_NONE) << entry.name;
        entries.push_back({entry.name, entry.type, Bytes(static_cast<size_t>(entry.size))});
        EXPECT_EQ(package.mfFileRead(index, entries.back().data.data(), entry.size), entry.size);
    }
    return entries;
}

// A picture whose every byte differs from its neighbours; pixel i uses palette index i + 1.
SamplePicture Picture(int width, int height, int seed)
{
    SamplePicture picture(width, height);
    for (size_t i = 0; i < picture.rgba.size(); ++i)
        picture.rgba[i] = static_cast<uint8_t>(i * 47 + size_t(seed));
    for (size_t i = 0; i < picture.indices.size(); ++i)
        picture.indices[i] = static_cast<uint8_t>(i + 1);
    for (size_t i = 0; i < picture.palette.size(); ++i)
        picture.palette[i] = static_cast<uint8_t>(i * 13 + size_t(seed));
    return picture;
}

// A record laid out by hand, name left empty: size, format, own-palette flag, data offset,
// the averages of the channel `sums` over all pixels (zero without), then the body.
Bytes Record(int width, int height, int32_t format, const Bytes& body, int32_t ownPalette = 0,
             const uint64_t* sums = nullptr, int32_t dataOffset = 108)
{
    Bytes record = MakeRecordBytes(width, height, format, body, ownPalette, dataOffset);
    for (size_t channel = 0; sums && channel < 3; ++channel)
        SetI32(record, kMipAverageRedOffset + 4 * channel,
               static_cast<int32_t>(sums[channel] / (uint64_t(width) * uint64_t(height))));
    return record;
}

Bytes TrueColourRecord(const SamplePicture& picture, bool alpha)
{
    Bytes body;
    uint64_t sums[3] = {};
    for (size_t at = 0; at < picture.rgba.size(); at += 4) {
        body.insert(body.end(), picture.rgba.begin() + long(at), picture.rgba.begin() + long(at + (alpha ? 4 : 3)));
        for (size_t channel = 0; channel < 3; ++channel)
            sums[channel] += picture.rgba[at + channel];
    }
    return Record(picture.width, picture.height, alpha ? TEX_RGBA32 : TEX_RGB24, body, 0, sums);
}

// 256 RGB triplets as RGBA, alpha 0 at `transIndex` only.
Bytes Expanded(const Bytes& palette, int transIndex)
{
    Bytes rgba;
    for (int index = 0; index < 256; ++index)
        rgba.insert(rgba.end(), {palette[size_t(index) * 3], palette[size_t(index) * 3 + 1],
                                 palette[size_t(index) * 3 + 2], uint8_t(index == transIndex ? 0 : 255)});
    return rgba;
}

Bytes IndexedRecord(const SamplePicture& picture, int transIndex, bool ownPalette)
{
    Bytes body = ownPalette ? Expanded(picture.palette, transIndex) : Bytes{};
    AppendBytes(body, picture.indices);
    uint64_t sums[3] = {};
    for (const uint8_t index : picture.indices)
        for (size_t channel = 0; channel < 3; ++channel)
            sums[channel] += picture.palette[index * 3u + channel];
    return Record(picture.width, picture.height, TEX_INDEXED8, body, ownPalette ? 1 : 0, sums);
}

Bytes Tail(const Bytes& bytes, size_t from) { return Bytes(bytes.begin() + long(from), bytes.end()); }

std::unique_ptr<CImage> MakeImage(int32_t format, int32_t width, int32_t height, bool palette)
{
    auto image = std::make_unique<CImage>();
    image->m_Format = format;
    image->mfSetSize(width, height);
    if (palette)
        image->m_pPalette = static_cast<uint8_t*>(std::calloc(kPaletteSize, 1));
    return image;
}

}  // namespace

TEST(Mtxmake, BuildsEveryInputKindAsksForThePaletteOnceAndSkipsTheRest)
{
    // Indexed pictures: pixels use indices 1 to 6; b, c and d change one colour each of
    // an unused index, of the first pixel's and of the last pixel's.
    const SamplePicture indexed = Picture(3, 2, 1);
    SamplePicture unusedChanged = indexed, firstChanged = indexed, lastChanged = indexed;
    for (const size_t at : {size_t{0}, size_t{7 * 3 + 1}, size_t{255 * 3 + 2}})
        unusedChanged.palette[at] ^= 1;
    firstChanged.palette[1 * 3 + 1] ^= 1;
    lastChanged.palette[6 * 3 + 2] ^= 1;
    // True colour: odd sizes, with and without alpha, grey, and a flat JPEG that decodes exactly.
    const SamplePicture tiny = Picture(1, 1, 9), odd = Picture(5, 3, 2), alpha = Picture(3, 3, 3);
    const SamplePicture png = Picture(2, 3, 4), pngRgb = Picture(3, 1, 5);
    SamplePicture grey = Picture(3, 2, 6), flat(8, 8);
    for (size_t at = 0; at < grey.rgba.size(); at += 4)
        grey.rgba[at + 1] = grey.rgba[at + 2] = grey.rgba[at];
    std::fill(flat.rgba.begin(), flat.rgba.end(), uint8_t{128});
    TgaOptions withAlpha, mono;
    withAlpha.pixelSize = 32;
    mono.imageType = 3;
    mono.pixelSize = 8;
    JpegLayout jpeg;
    jpeg.width = jpeg.height = 8;
    jpeg.components = jpeg.inputSpace = 1;
    TgaHeader noRows;
    noRows.width = 4;
    // DDS: one level, a whole mip chain, no data, an unknown code, a cut header.
    const Bytes dxt1 = EncodeDdsDxt1(Picture(8, 4, 7));
    Bytes dxt3 = DdsHeader("DXT3", 8, 8, 64), chain(64 + 16 * 3), dxt2 = DdsHeader("DXT2", 4, 4, 16);
    for (size_t i = 0; i < chain.size(); ++i)
        chain[i] = static_cast<uint8_t>(i * 3 + 1);
    dxt3[28] = 4;  // mip-map count
    AppendBytes(dxt3, chain);
    AppendBytes(dxt2, {9, 9});
    // Texture names: cut to fit with the DDS suffix, and a stem that just fits.
    const std::string longDds = std::string(29, 'w') + ".dds", cutDds = std::string(28, 'w') + "_tc";
    const std::string fullName = std::string(31, 'x');
    const std::pair<std::string, Bytes> files[] = {
        {"a.gif", EncodeGifPicture(indexed, GifGraphicControl(true, 2))}, {"b.pcx", EncodePcx(unusedChanged)},
        {"c.pcx", EncodePcx(firstChanged)}, {"d.pcx", EncodePcx(lastChanged)},
        {"A.tga", EncodeTga(tiny, {})},  // the texture name of a.gif, letter case aside
        {"e.tga", EncodeTga(odd, {})}, {"f.tga", EncodeTga(alpha, withAlpha)}, {"g.tga", EncodeTga(grey, mono)},
        {"h.png", EncodePngRgba(png, true)}, {"i.png", EncodePngRgba(pngRgb, false)},
        {"j.jpg", EncodeJpeg(jpeg, Bytes(64, 128))}, {"k.dds", dxt1}, {"l.dds", dxt3},
        {"m.dds", DdsHeader("DXT5", 4, 4, 16)}, {"n.dds", dxt2}, {"o.dds", Bytes(dxt1.begin(), dxt1.begin() + 127)},
        {"q.tga", TgaFile(noRows, {})},  // decodes, but has no pixels
        {longDds, dxt1}, {fullName + ".tga", EncodeTga(tiny, {})},
        // Skipped without a word: dot files, what no decoder takes, the package itself.
        {".hidden.tga", EncodeTga(tiny, {})}, {"notes.txt", ToBytes("not an image")}, {"PAK.MTX", EncodeTga(tiny, {})},
    };
    ScratchDir dir;
    for (const auto& [name, bytes] : files)
        WriteFileBytes(dir / name, bytes);
    std::filesystem::create_directory(dir / "dir.tga");  // directories and pipes too
    MakeFifo(dir / "pipe.tga");

    Bytes previous[2];
    for (const std::string answer : {"n\n", "  No\n", "y\n", ""}) {
        SCOPED_TRACE("answer '" + answer + "'");
        const bool shared = answer.find_first_of("nN") == std::string::npos;
        const auto colours = [&](const char* file) {
            return shared ? "Warning: Colours of <" + std::string(file) + "> differ from the shared palette\n" : "";
        };
        const RunResult run = RunTool(MTXMAKE_EXE, {"pak", "*.*"}, dir.path(), answer);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.err, "");  // no prompt when the answer comes from a pipe
        EXPECT_EQ(run.out, Created("pak.mtx") +
                               "Add file <a.gif>...\nAdd file <A.tga>...\nWarning: Duplicate texture name A\n"
                               "Add file <b.pcx>...\nAdd file <c.pcx>...\n" + colours("c.pcx") +
                               "Add file <d.pcx>...\n" + colours("d.pcx") +
                               "Add file <e.tga>...\nAdd file <f.tga>...\nAdd file <g.tga>...\n"
                               "Add file <h.png>...\nAdd file <i.png>...\nAdd file <j.jpg>...\n"
                               "Add DXT1 texture <k.dds>...\nAdd DXT3 texture <l.dds>...\n"
                               "Add DXT5 texture <m.dds>...\n Unknown DXT format\nAdd file <q.tga>...\n"
                               "Add DXT1 texture <" + longDds + ">...\nWarning: Texture name of <" + longDds +
                               "> cut to <" + cutDds + ">\nAdd file <" + fullName + ".tga>...\n" + Done("pak.mtx"));

        std::vector<Entry> expected = {
            {"a", RT_TEXTURE, IndexedRecord(indexed, 2, !shared)}, {"A", RT_TEXTURE, TrueColourRecord(tiny, false)},
            {"b", RT_TEXTURE, IndexedRecord(unusedChanged, -1, !shared)},
            {"c", RT_TEXTURE, IndexedRecord(firstChanged, -1, !shared)},
            {"d", RT_TEXTURE, IndexedRecord(lastChanged, -1, !shared)}, {"e", RT_TEXTURE, TrueColourRecord(odd, false)},
            {"f", RT_TEXTURE, TrueColourRecord(alpha, true)}, {"g", RT_TEXTURE, TrueColourRecord(grey, false)},
            {"h", RT_TEXTURE, TrueColourRecord(png, true)}, {"i", RT_TEXTURE, TrueColourRecord(pngRgb, false)},
            {"j", RT_TEXTURE, TrueColourRecord(flat, false)},
            {"k_tc", RT_TEXTURE, Record(8, 4, TEX_DXT1, Tail(dxt1, 128), 0, nullptr, 0)},
            {"l_tc", RT_TEXTURE, Record(8, 8, TEX_DXT3, chain, 0, nullptr, 0)},
            {"m_tc", RT_TEXTURE, Record(4, 4, TEX_DXT5, {}, 0, nullptr, 0)},
            {cutDds, RT_TEXTURE, Record(8, 4, TEX_DXT1, Tail(dxt1, 128), 0, nullptr, 0)},
            {fullName, RT_TEXTURE, TrueColourRecord(tiny, false)},
        };
        for (Entry& entry : expected)
            std::copy(entry.name.begin(), entry.name.end(), entry.data.begin());
        if (shared)  // the first indexed file's palette, its transparent index included
            expected.insert(expected.begin(), {"Palette", RT_PALETTE, Expanded(indexed.palette, 2)});
        const std::vector<Entry> entries = ReadPackage(dir / "pak.mtx");
        EXPECT_EQ(entries.size(), expected.size());
        for (size_t i = 0; i < std::min(entries.size(), expected.size()); ++i) {
            EXPECT_EQ(entries[i].name, expected[i].name);
            EXPECT_EQ(entries[i].type, expected[i].type) << entries[i].name;
            EXPECT_EQ(entries[i].data, expected[i].data) << entries[i].name;
        }
        // The same files and the same decision give the same package, byte for byte.
        const Bytes package = ReadFileBytes(dir / "pak.mtx");
        EXPECT_TRUE(previous[shared].empty() || package == previous[shared]);
        previous[shared] = package;
    }
}

TEST(Mtxmake, CommandLinesPackageNamesAndFailures)
{
    const std::string usage = "usage: Mtxmake packname file(s) (*.* for all files)\n";
    const struct {
        std::vector<std::string> args;
        std::string package;  // as printed; empty when refused before
        std::string tail;     // what follows "Create package"
        int status;
    } cases[] = {
        {{}, "", usage, 1}, {{"pak"}, "", usage, 1}, {{"", "*.*"}, "", usage, 1}, {{".mtx", "*.*"}, "", usage, 1},
        {{std::string(128, 'p'), "*.*"}, "", usage, 1},
        {{std::string(124, 'p'), "*.*"}, "", usage, 1},  // 128 characters with ".mtx"
        {{"pak", std::string(127, 'x') + "*"}, "", usage, 1},
        {{std::string(123, 'p') + ".mtx", "*.txt"}, std::string(123, 'p') + ".mtx", Done(std::string(123, 'p') + ".mtx"), 0},
        {{"pak", std::string(126, 'x') + "*"}, "pak.mtx", "Warning: no file matches " + std::string(126, 'x') + "*\n", 2},
        {{"walls", "texturs/*.*"}, "walls.mtx", "Warning: no file matches texturs/*.*\n", 2},
        {{"pak", "*.txt"}, "pak.mtx", Done("pak.mtx"), 0}, {{"pak.mtx", "*.txt"}, "pak.mtx", Done("pak.mtx"), 0},
        {{"pak.old", "*.txt"}, "pak.mtx", Done("pak.mtx"), 0}, {{"my.pak.mtx", "*.txt"}, "my.mtx", Done("my.mtx"), 0},
        {{"..\\pak", "*.txt"}, "..\\pak", Done("..\\pak"), 0}, {{"../pak", "*.txt"}, "../pak.mtx", Done("../pak.mtx"), 0},
        {{"missing/pak", "*.*"}, "missing/pak.mtx", "CResFile::Open - Can't create resource file <missing/pak.mtx>\n", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.empty() ? "no arguments" : c.args[0]);
        ScratchDir dir;
        std::filesystem::create_directory(dir / "work");
        WriteFileBytes(dir / "work/notes.txt", ToBytes("no image"));
        WriteFileBytes(dir / "work/walls.mtx", ToBytes("not even a package"));
        const RunResult run = RunTool(MTXMAKE_EXE, c.args, dir / "work");
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.out, (c.package.empty() ? kBanner : Created(c.package)) + c.tail);
        // Only a finished run leaves a package, here one without entries; nothing else changes.
        if (c.status == 0) {
            EXPECT_EQ(ReadFileBytes(dir / ("work/" + c.package)), MakePackageBytes({}));
        }
        EXPECT_EQ(ReadFileBytes(dir / "work/walls.mtx"), ToBytes("not even a package"));
        const auto files = std::distance(std::filesystem::recursive_directory_iterator(dir.path()),
                                         std::filesystem::recursive_directory_iterator());
        EXPECT_EQ(files, c.status == 0 ? 4 : 3);
    }
}

TEST(BuildMipTexture, RefusesImagesWithoutFormatPixelsOrPaletteAndLeavesTheHeader)
{
    std::unique_ptr<CImage> images[] = {
        MakeImage(IMG_NONE, 1, 1, false), MakeImage(7, 1, 1, false),   MakeImage(IMG_TGA, 4, 0, false),
        MakeImage(IMG_GIF, 0, 3, true),   MakeImage(IMG_PCX, 1, 1, false),
    };
    for (const auto& image : images) {
        MipTexture header{};
        size_t size = 55;
        EXPECT_FALSE(CanBuildMipTexture(*image));
        EXPECT_FALSE(BuildMipTexture(*image, header, size, true));
        EXPECT_TRUE(size == 55 && header.format == 0 && header.dataOffset == 0);
        EXPECT_FALSE(UsesOtherColours(*image, RgbaPalette{}));
    }
    EXPECT_FALSE(AllocateRecord(uint64_t{1} << 31));  // beyond an entry's 32-bit size
}

TEST(BuildMipTexture, AveragesOfAHugeWhiteImageDoNotWrap)
{
    // 4113 x 4096 pixels of 255 add up to more than 32 bits hold, over more than one block.
    auto image = MakeImage(IMG_TGA, 4113, 4096, false);
    const size_t pixels = size_t{4113} * 4096;
    std::memset(image->m_pPixels, 255, pixels * 4);
    MipTexture header{};
    size_t size = 0;
    const RecordBuffer record = BuildMipTexture(*image, header, size, false);
    ASSERT_EQ(size, kMipHeaderSize + pixels * 3);
    EXPECT_EQ(Bytes(record.get() + size - 3, record.get() + size), (Bytes{255, 255, 255}));
    EXPECT_EQ((std::vector<int32_t>{header.averageRed, header.averageGreen, header.averageBlue}),
              std::vector<int32_t>(3, 255));
}
