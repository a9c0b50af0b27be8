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
#include <tuple>
#include <utility>

namespace {

const std::string kBanner = std::string("Img (Gif,Jpg,Pcx,Png,Tga,DDS) to MTX package converter v1.0") +
                            kMakerNotice + "\n \n";

std::string Created(const std::string& package) { return kBanner + "\nCreate package: <" + package + ">...\n\n"; }
std::string Done(const std::string& package) { return "\nDone produce package <" + package + ">\n\n"; }

using Entry = std::tuple<std::string, int32_t, Bytes>;  // name, RT_TEXTURE or RT_PALETTE, data

std::vector<Entry> ReadPackage(const std::string& path)
{
    CResFile package(path.c_str());
    std::vector<Entry> entries;
    EXPECT_EQ(package.Open(RA_READ), 1) << path;
    for (int32_t index = 0; index < package.mfGetCount(); ++index) {
        const DirEntry& entry = package.mfGetEntry(index);
        EXPECT_EQ(entry.method, RC_NONE) << entry.name;
        entries.emplace_back(entry.name, entry.type, Bytes(static_cast<size_t>(entry.size)));
        EXPECT_EQ(package.mfFileRead(index, std::get<2>(entries.back()).data(), entry.size), entry.size);
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

// 256 RGB triplets as RGBA, alpha 0 at `transIndex` only.
Bytes Expanded(const Bytes& palette, int transIndex)
{
    Bytes rgba;
    for (int index = 0; index < 256; ++index)
        rgba.insert(rgba.end(), {palette[size_t(index) * 3], palette[size_t(index) * 3 + 1],
                                 palette[size_t(index) * 3 + 2], uint8_t(index == transIndex ? 0 : 255)});
    return rgba;
}

// A picture's record laid out by hand, name left empty: RGB or RGBA pixels, or indices behind the palette expanded
// to RGBA when the texture has its own; the header holds the averages of red, green and blue over all pixels.
Bytes PictureRecord(const SamplePicture& picture, int32_t format, int transIndex = -1, bool ownPalette = false)
{
    const bool indexed = format == TEX_INDEXED8;
    Bytes body = ownPalette ? Expanded(picture.palette, transIndex) : Bytes{};
    uint64_t sums[3] = {};
    for (size_t i = 0; i < picture.indices.size(); ++i) {
        const uint8_t* colour = indexed ? &picture.palette[picture.indices[i] * 3u] : &picture.rgba[i * 4];
        const uint8_t* stored = indexed ? &picture.indices[i] : colour;
        body.insert(body.end(), stored, stored + (indexed ? 1 : format == TEX_RGBA32 ? 4 : 3));
        for (size_t channel = 0; channel < 3; ++channel)
            sums[channel] += colour[channel];
    }
    Bytes record = MakeRecordBytes(picture.width, picture.height, format, body, ownPalette ? 1 : 0);
    for (size_t channel = 0; channel < 3; ++channel)
        SetI32(record, kMipAverageRedOffset + 4 * channel, int32_t(sums[channel] / picture.indices.size()));
    return record;
}

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
    firstChanged.palette[1 * 3 + 1] ^= 1, lastChanged.palette[6 * 3 + 2] ^= 1;
    // True colour: odd sizes, with and without alpha, grey, and a flat JPEG that decodes exactly.
    const SamplePicture tiny = Picture(1, 1, 9), odd = Picture(5, 3, 2), alpha = Picture(3, 3, 3);
    SamplePicture grey = Picture(3, 2, 6), flat(8, 8), png = Picture(2, 3, 4), pngRgb = Picture(3, 1, 5);
    for (size_t at = 0; at < grey.rgba.size(); at += 4)
        grey.rgba[at + 1] = grey.rgba[at + 2] = grey.rgba[at];
    std::fill(flat.rgba.begin(), flat.rgba.end(), uint8_t{128});
    const TgaOptions withAlpha{2, 32}, mono{3, 8};  // true colour and grey
    const JpegLayout jpeg{8, 8, 1, 1};              // grey
    TgaHeader noRows;
    noRows.width = 4;
    // DDS: one level, a whole mip chain, no data, an unknown code, a cut header.
    const Bytes dxt1 = EncodeDdsDxt1(Picture(8, 4, 7));
    const Bytes dxt1Record = MakeRecordBytes(8, 4, TEX_DXT1, Bytes(dxt1.begin() + 128, dxt1.end()), 0, 0);
    Bytes dxt3 = DdsHeader("DXT3", 8, 8, 64), chain(64 + 16 * 3), dxt2 = DdsHeader("DXT2", 4, 4, 16);
    for (size_t i = 0; i < chain.size(); ++i)
        chain[i] = static_cast<uint8_t>(i * 3 + 1);
    dxt3[28] = 4;  // mip-map count
    AppendBytes(dxt3, chain), AppendBytes(dxt2, {9, 9});
    // Texture names: cut to fit with the DDS suffix, and a stem that just fits.
    const std::string longDds = std::string(29, 'w') + ".dds", cutDds = std::string(28, 'w') + "_tc", fullName(31, 'x');
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
    std::filesystem::create_directory(dir / "dir.tga"), MakeFifo(dir / "pipe.tga");  // directories and pipes too

    Bytes previous[2];
    for (const std::string answer : {"n\n", "  No\n", "y\n", ""}) {
        SCOPED_TRACE("answer '" + answer + "'");
        const bool shared = answer.find_first_of("nN") == std::string::npos;
        const auto colours = [&](const char* file) {
            return shared ? "Warning: Colours of <" + std::string(file) + "> differ from the shared palette\n" : "";
        };
        const RunResult run = RunTool(MTXMAKE_EXE, {"pak", "*.*"}, dir.path(), answer);
        EXPECT_TRUE(run.status == 0 && run.err == "") << run.err;  // no prompt when the answer comes from a pipe
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
            {"a", RT_TEXTURE, PictureRecord(indexed, TEX_INDEXED8, 2, !shared)},
            {"A", RT_TEXTURE, PictureRecord(tiny, TEX_RGB24)},
            {"b", RT_TEXTURE, PictureRecord(unusedChanged, TEX_INDEXED8, -1, !shared)},
            {"c", RT_TEXTURE, PictureRecord(firstChanged, TEX_INDEXED8, -1, !shared)},
            {"d", RT_TEXTURE, PictureRecord(lastChanged, TEX_INDEXED8, -1, !shared)},
            {"e", RT_TEXTURE, PictureRecord(odd, TEX_RGB24)}, {"f", RT_TEXTURE, PictureRecord(alpha, TEX_RGBA32)},
            {"g", RT_TEXTURE, PictureRecord(grey, TEX_RGB24)}, {"h", RT_TEXTURE, PictureRecord(png, TEX_RGBA32)},
            {"i", RT_TEXTURE, PictureRecord(pngRgb, TEX_RGB24)}, {"j", RT_TEXTURE, PictureRecord(flat, TEX_RGB24)},
            {"k_tc", RT_TEXTURE, dxt1Record}, {"l_tc", RT_TEXTURE, MakeRecordBytes(8, 8, TEX_DXT3, chain, 0, 0)},
            {"m_tc", RT_TEXTURE, MakeRecordBytes(4, 4, TEX_DXT5, {}, 0, 0)}, {cutDds, RT_TEXTURE, dxt1Record},
            {fullName, RT_TEXTURE, PictureRecord(tiny, TEX_RGB24)},
        };
        for (auto& [name, type, data] : expected)
            std::copy(name.begin(), name.end(), data.begin());
        if (shared)  // the first indexed file's palette, its transparent index included
            expected.insert(expected.begin(), {"Palette", RT_PALETTE, Expanded(indexed.palette, 2)});
        EXPECT_EQ(ReadPackage(dir / "pak.mtx"), expected);
        // The same files and the same decision give the same package, byte for byte.
        const Bytes before = std::exchange(previous[shared], ReadFileBytes(dir / "pak.mtx"));
        EXPECT_TRUE(before.empty() || before == previous[shared]);
    }
}

TEST(Mtxmake, CommandLinesPackageNamesAndFailures)
{
    const std::string usage = "usage: Mtxmake packname file(s) (*.* for all files)\n";
    const std::string longest = std::string(123, 'p') + ".mtx", stars = std::string(126, 'x') + "*";
    // The package as printed (none when refused first) and what follows "Create package".
    const struct { std::vector<std::string> args; std::string package, tail; int status; } cases[] = {
        {{}, "", usage, 1}, {{"pak"}, "", usage, 1}, {{"", "*.*"}, "", usage, 1}, {{".mtx", "*.*"}, "", usage, 1},
        {{std::string(128, 'p'), "*.*"}, "", usage, 1}, {{"pak", "x" + stars}, "", usage, 1},
        {{std::string(124, 'p'), "*.*"}, "", usage, 1},  // 128 characters with ".mtx"
        {{longest, "*.txt"}, longest, Done(longest), 0},
        {{"pak", stars}, "pak.mtx", "Warning: no file matches " + stars + "\n", 2},
        {{"walls", "texturs/*.*"}, "walls.mtx", "Warning: no file matches texturs/*.*\n", 2},
        {{"pak", "*.txt"}, "pak.mtx", Done("pak.mtx"), 0}, {{"pak.mtx", "*.txt"}, "pak.mtx", Done("pak.mtx"), 0},
        {{"pak.old", "*.txt"}, "pak.mtx", Done("pak.mtx"), 0}, {{"my.pak.mtx", "*.txt"}, "my.mtx", Done("my.mtx"), 0},
        {{"..\\pak", "*.txt"}, "..\\pak", Done("..\\pak"), 0},
        {{"../pak", "*.txt"}, "../pak.mtx", Done("../pak.mtx"), 0},
        {{"missing/pak", "*.*"}, "missing/pak.mtx",
         "CResFile::Open - Can't create resource file <missing/pak.mtx>\n", 1},
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
        EXPECT_TRUE(c.status != 0 || ReadFileBytes(dir / ("work/" + c.package)) == MakePackageBytes({}));
        EXPECT_EQ(ReadFileBytes(dir / "work/walls.mtx"), ToBytes("not even a package"));
        EXPECT_EQ(std::distance(std::filesystem::recursive_directory_iterator(dir.path()), {}), c.status == 0 ? 4 : 3);
    }
}

TEST(BuildMipTexture, RefusesImagesWithoutFormatPixelsOrPaletteAndAveragesOfAHugeWhiteImageDoNotWrap)
{
    std::unique_ptr<CImage> images[] = {
        MakeImage(IMG_NONE, 1, 1, false), MakeImage(7, 1, 1, false),   MakeImage(IMG_TGA, 4, 0, false),
        MakeImage(IMG_GIF, 0, 3, true),   MakeImage(IMG_PCX, 1, 1, false), MakeImage(IMG_GIF, 2, 2, true),
    };
    std::free(images[5]->m_pIndices);  // a palette and a size, but no index plane
    images[5]->m_pIndices = nullptr;
    MipTexture header{};
    size_t size = 55;
    for (const auto& image : images) {  // the header and size stay as they were
        EXPECT_FALSE(CanBuildMipTexture(*image) || BuildMipTexture(*image, header, size, true));
        EXPECT_TRUE(size == 55 && header.format == 0 && header.dataOffset == 0);
        EXPECT_FALSE(UsesOtherColours(*image, RgbaPalette{}));
    }
    EXPECT_FALSE(AllocateRecord(uint64_t{1} << 31));  // beyond an entry's 32-bit size
    // 4113 x 4096 pixels of 255 add up to more than 32 bits hold, over more than one block.
    auto image = MakeImage(IMG_TGA, 4113, 4096, false);
    const size_t pixels = size_t{4113} * 4096;
    std::memset(image->m_pPixels, 255, pixels * 4);
    const RecordBuffer record = BuildMipTexture(*image, header, size, false);
    ASSERT_EQ(size, kMipHeaderSize + pixels * 3);
    EXPECT_EQ(Bytes(record.get() + size - 3, record.get() + size), (Bytes{255, 255, 255}));
    EXPECT_TRUE(header.averageRed == 255 && header.averageGreen == 255 && header.averageBlue == 255);
}
