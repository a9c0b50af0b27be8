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
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <memory>
#include <tuple>
#include <utility>

namespace {

const std::string kBanner = std::string("Img (Gif,Jpg,Pcx,Png,Tga,DDS) to MTX package converter v1.0") +
                            kMakerNotice + "\n \n";


std::string Created(const std::string& package) { return kBanner + "\nCreate package: <" + package + ">...\n\n"; }
std::string Updated(const std::string& package) { return kBanner + "\nUpdate package: <" + package + ">...\n\n"; }
const std::string kUpdateDone = "\nDone update package <pak.mtx>\n\n";
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
        // Skipped without a word: dot files and the package itself; what no decoder takes is named.
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
            return shared ? "Warning: Colours of <" + std::string(file) + "> differ from the shared palette; it keeps its own\n"
                          : "";
        };
        const RunResult run = RunTool(MTXMAKE_EXE, {"pak", "*.*", "+jobs", "4"}, dir.path(), answer);
        EXPECT_TRUE(run.status == 0 && run.err == "") << run.err;  // no prompt when the answer comes from a pipe
        EXPECT_EQ(run.out, Created("pak.mtx") +
                               "Add file <a.gif>...\nAdd file <A.tga>...\nWarning: Duplicate texture name A\n"
                               "Add file <b.pcx>...\nAdd file <c.pcx>...\n" + colours("c.pcx") +
                               "Add file <d.pcx>...\n" + colours("d.pcx") +
                               "Add file <e.tga>...\nAdd file <f.tga>...\nAdd file <g.tga>...\n"
                               "Add file <h.png>...\nAdd file <i.png>...\nAdd file <j.jpg>...\n"
                               "Add DXT1 texture <k.dds>...\nAdd DXT3 texture <l.dds>...\n"
                               "Add DXT5 texture <m.dds>...\n"
                               "Skip file <n.dds>: a DDS file whose block format is not DXT1, DXT3 or DXT5\n"
                               "Skip file <notes.txt>: not an image this tool reads\n"
                               "Skip file <o.dds>: not an image this tool reads\n"
                               "Skip file <q.tga>: an image without pixels\n"
                               "Add DXT1 texture <" + longDds + ">...\nWarning: Texture name of <" + longDds +
                               "> cut to <" + cutDds + ">\nAdd file <" + fullName + ".tga>...\n" + Done("pak.mtx"));
        std::vector<Entry> expected = {
            {"a", RT_TEXTURE, PictureRecord(indexed, TEX_INDEXED8, 2, !shared)},
            {"A", RT_TEXTURE, PictureRecord(tiny, TEX_RGB24)},
            {"b", RT_TEXTURE, PictureRecord(unusedChanged, TEX_INDEXED8, -1, !shared)},
            // Colours that differ where the pixels use them keep the image's own palette.
            {"c", RT_TEXTURE, PictureRecord(firstChanged, TEX_INDEXED8, -1, true)},
            {"d", RT_TEXTURE, PictureRecord(lastChanged, TEX_INDEXED8, -1, true)},
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
        // One worker reads and decodes as four do: the same text, the same bytes.
        const RunResult single = RunTool(MTXMAKE_EXE, {"+jobs", "1", "pak", "*.*"}, dir.path(), answer);
        EXPECT_EQ(single.out, run.out);
        EXPECT_EQ(ReadFileBytes(dir / "pak.mtx"), previous[shared]);
    }
}

TEST(Mtxmake, CommandLinesPackageNamesAndFailures)
{
    const std::string usage = "usage: Mtxmake packname file(s) (*.* for all files)\n"
                              "       Mtxmake +update packname file(s)  add new textures, replace changed ones\n"
                              "       Mtxmake +sync packname file(s)    as +update, and remove textures no file gave\n"
                              "       Mtxmake +remove packname name(s)  remove the entries whose names match\n"
                              "       +jobs N (anywhere) reads and decodes on N threads; the default is one per core\n";
    const std::string longest = std::string(123, 'p') + ".mtx", stars = std::string(126, 'x') + "*";
    const std::string added = "Add file <tile.tga>...\n", noImage = "Warning: no image among the files matching ";
    const std::string skipped = "Skip file <notes.txt>: not an image this tool reads\n";
    // The package as printed (none when refused first) and what follows "Create package".
    const struct { std::vector<std::string> args; std::string package, tail; int status; } cases[] = {
        {{}, "", usage, 1}, {{"pak"}, "", usage, 1}, {{"", "*.*"}, "", usage, 1}, {{".mtx", "*.*"}, "", usage, 1},
        {{std::string(128, 'p'), "*.*"}, "", usage, 1}, {{"pak", "x" + stars}, "", usage, 1},
        {{std::string(124, 'p'), "*.*"}, "", usage, 1},  // 128 characters with ".mtx"
        {{"+update", "+sync", "pak", "*.tga"}, "", usage, 1}, {{"+jobs", "0", "pak", "*.tga"}, "", usage, 1},
        {{"pak", "*.tga", "+jobs"}, "", usage, 1}, {{"+jobs", "2x", "pak", "*.tga"}, "", usage, 1},
        {{"+JOBS", "3", "pak", "*.tga"}, "pak.mtx", added + Done("pak.mtx"), 0},
        {{"pak", "+bogus", "*.tga"}, "", "Unknown option \"+bogus\"\n", 1},
        {{longest, "*.tga"}, longest, added + Done(longest), 0},
        {{"pak", stars}, "pak.mtx", "Warning: no file matches " + stars + "\n", 2},
        {{"walls", "texturs/*.*"}, "walls.mtx", "Warning: no file matches texturs/*.*\n", 2},
        {{"pak", "*.txt"}, "pak.mtx", skipped + noImage + "*.txt\n", 2},
        {{"pak", "*.txt", "notes.*"}, "pak.mtx", skipped + noImage + "*.txt notes.*\n", 2},  // each file once
        {{"pak", "*.tga"}, "pak.mtx", added + Done("pak.mtx"), 0},
        {{"pak.mtx", "*.tga"}, "pak.mtx", added + Done("pak.mtx"), 0},
        {{"pak.old", "*.tga"}, "pak.mtx", added + Done("pak.mtx"), 0},
        {{"my.pak.mtx", "*.tga"}, "my.mtx", added + Done("my.mtx"), 0},
        {{"..\\pak", "*.tga"}, "..\\pak", added + Done("..\\pak"), 0},
        {{"../pak", "*.tga"}, "../pak.mtx", added + Done("../pak.mtx"), 0},
        {{"missing/pak", "*.*"}, "missing/pak.mtx",
         "CResFile::Open - Can't create resource file <missing/pak.mtx> (" + kNoSuchFolder + ")\n", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.empty() ? "no arguments" : c.args[0]);
        ScratchDir dir;
        std::filesystem::create_directory(dir / "work");
        WriteFileBytes(dir / "work/notes.txt", ToBytes("no image"));
        WriteFileBytes(dir / "work/walls.mtx", ToBytes("not even a package"));
        WriteFileBytes(dir / "work/tile.tga", EncodeTga(Picture(1, 1, 1), {}));
        const RunResult run = RunTool(MTXMAKE_EXE, c.args, dir / "work");
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.out, (c.package.empty() ? kBanner : Created(c.package)) + c.tail);
        // Only a finished run leaves a package; nothing else changes and no staging file stays.
        EXPECT_EQ(ReadFileBytes(dir / "work/walls.mtx"), ToBytes("not even a package"));
        EXPECT_EQ(std::distance(std::filesystem::recursive_directory_iterator(dir.path()), {}), c.status == 0 ? 5 : 4);
    }
}

// The update modes against packages the tests lay out themselves: a.tga and b.tga are
// true-colour files, g.gif an indexed one.
class MtxmakeUpdate : public testing::Test {
protected:
    MtxmakeUpdate()
    {
        WriteFileBytes(m_dir / "a.tga", EncodeTga(m_a, {}));
        WriteFileBytes(m_dir / "b.tga", EncodeTga(m_b, {}));
        WriteFileBytes(m_dir / "g.gif", EncodeGifPicture(m_indexed, GifGraphicControl(true, 2)));
    }
    RunResult Make(const std::vector<std::string>& args, const std::string& answers = "")
    {
        return RunTool(MTXMAKE_EXE, args, m_dir.path(), answers);
    }
    void WritePackage(const std::vector<TestEntry>& entries)
    {
        WriteFileBytes(m_dir / "pak.mtx", MakePackageBytes(entries));
    }
    Bytes Package() { return ReadFileBytes(m_dir / "pak.mtx"); }
    // The record a file gives, its name set.
    static Bytes Named(Bytes record, const std::string& name)
    {
        std::copy(name.begin(), name.end(), record.begin());
        return record;
    }
    Bytes RecordA() const { return Named(PictureRecord(m_a, TEX_RGB24), "a"); }
    Bytes RecordB() const { return Named(PictureRecord(m_b, TEX_RGB24), "b"); }
    Bytes RecordG(bool ownPalette) const { return Named(PictureRecord(m_indexed, TEX_INDEXED8, 2, ownPalette), "g"); }

    ScratchDir m_dir;
    SamplePicture m_a = Picture(2, 1, 1), m_b = Picture(1, 2, 2), m_indexed = Picture(3, 2, 3);
};

TEST_F(MtxmakeUpdate, AddsNewFilesBehindTheEntriesItKeepsAsStored)
{
    const TestEntry packed{"old", Packed(ToBytes("packed bytes")), RT_TEXTURE, RC_LZSS};
    WritePackage({packed});
    const RunResult run = Make({"+update", "pak", "*.tga"});
    EXPECT_EQ(run.out, Updated("pak.mtx") + "Add file <a.tga>...\nAdd file <b.tga>...\n" + kUpdateDone);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(Package(), Compacted(MakePackageBytes({packed, {"a", RecordA()}, {"b", RecordB()}})));
}

TEST_F(MtxmakeUpdate, StartsAnEmptyPackageWhenThereIsNone)
{
    const RunResult run = Make({"+update", "pak", "a.tga"});
    EXPECT_EQ(run.out, Updated("pak.mtx") + "Add file <a.tga>...\n" + kUpdateDone);
    EXPECT_EQ(Package(), Compacted(MakePackageBytes({{"a", RecordA()}})));
}

TEST_F(MtxmakeUpdate, ReplacesAChangedRecordInItsPlace)
{
    WritePackage({{"A", Bytes(5, 1)}, {"z", Bytes{9}}});
    const RunResult run = Make({"pak", "a.tga", "+Update"});  // an option anywhere, in any letter case
    EXPECT_EQ(run.out, Updated("pak.mtx") + "Replace file <a.tga>...\n" + kUpdateDone);
    EXPECT_EQ(Package(), Compacted(MakePackageBytes({{"a", RecordA()}, {"z", Bytes{9}}})));
}

TEST_F(MtxmakeUpdate, AnUnchangedPackageIsNotWrittenAgain)
{
    WritePackage({{"a", RecordA()}, {"old", Packed(Bytes(300, 4)), RT_TEXTURE, RC_LZSS}});
    const auto lastWrite = std::filesystem::last_write_time(m_dir / "pak.mtx") - std::chrono::hours(1);
    std::filesystem::last_write_time(m_dir / "pak.mtx", lastWrite);
    const auto inode = FileIdentity(m_dir / "pak.mtx");
    const Bytes before = Package();
    const RunResult run = Make({"+update", "pak", "a.tga"});
    EXPECT_EQ(run.out, Updated("pak.mtx") + "Keep file <a.tga>...\n\nNothing to change in package <pak.mtx>\n\n");
    EXPECT_EQ(Package(), before);
    EXPECT_EQ(std::filesystem::last_write_time(m_dir / "pak.mtx"), lastWrite);
    EXPECT_EQ(FileIdentity(m_dir / "pak.mtx"), inode);
}

TEST_F(MtxmakeUpdate, TheNextRunRemovesAStagingFileAKilledRunLeft)
{
    WritePackage({{"a", RecordA()}});
    WriteFileBytes(m_dir / ".pak.mtx.staging", ToBytes("half a package"));
    EXPECT_EQ(Make({"+update", "pak", "a.tga"}).status, 0);  // nothing to change
    EXPECT_FALSE(FileExists(m_dir / ".pak.mtx.staging"));
}

TEST_F(MtxmakeUpdate, SyncRemovesTexturesNoFileGaveAndThePaletteNoRecordUses)
{
    const Bytes sharedIndexed = MakeRecordBytes(1, 1, TEX_INDEXED8, {0});
    WritePackage({{"Palette", Bytes(1024, 7), RT_PALETTE}, {"gone", sharedIndexed}, {"a", RecordA()},
                  {"notes", ToBytes("not a texture"), 9}});
    const RunResult run = Make({"+sync", "pak", "a.tga"});
    const std::string lines = "Keep file <a.tga>...\nRemove entry <Palette>...\nRemove entry <gone>...\n";
    EXPECT_EQ(run.out, Updated("pak.mtx") + lines + kUpdateDone);
    EXPECT_EQ(Package(), Compacted(MakePackageBytes({{"a", RecordA()}, {"notes", ToBytes("not a texture"), 9}})));
}

TEST_F(MtxmakeUpdate, SyncKeepsThePaletteWhileARecordUsesIt)
{
    const Bytes palette = Expanded(m_indexed.palette, 2);
    WritePackage({{"Palette", palette, RT_PALETTE}, {"gone", RecordA()}});
    const RunResult run = Make({"+sync", "pak", "g.gif"});
    EXPECT_EQ(run.out, Updated("pak.mtx") + "Add file <g.gif>...\nRemove entry <gone>...\n" + kUpdateDone);
    EXPECT_EQ(Package(), Compacted(MakePackageBytes({{"Palette", palette, RT_PALETTE}, {"g", RecordG(false)}})));
}

TEST_F(MtxmakeUpdate, ThePackagesPaletteIsSharedWithoutAQuestion)
{
    const Bytes palette = Expanded(m_indexed.palette, 2);
    WritePackage({{"Palette", palette, RT_PALETTE}});
    const RunResult run = Make({"+update", "pak", "g.gif"}, "n\n");  // a question would take the no
    EXPECT_EQ(run.out, Updated("pak.mtx") + "Add file <g.gif>...\n" + kUpdateDone);
    EXPECT_EQ(Package(), Compacted(MakePackageBytes({{"Palette", palette, RT_PALETTE}, {"g", RecordG(false)}})));
}

TEST_F(MtxmakeUpdate, IndexedRecordsWithoutAPaletteMakeImagesKeepTheirOwn)
{
    const Bytes ownIndexed = MakeRecordBytes(1, 1, TEX_INDEXED8, Bytes(1025, 0), 1);
    WritePackage({{"x", ownIndexed}});
    const RunResult run = Make({"+update", "pak", "g.gif"}, "y\n");  // a question would take the yes
    EXPECT_EQ(run.out, Updated("pak.mtx") + "Add file <g.gif>...\n" + kUpdateDone);
    EXPECT_EQ(Package(), Compacted(MakePackageBytes({{"x", ownIndexed}, {"g", RecordG(true)}})));
}

TEST_F(MtxmakeUpdate, AQuestionIsAskedWhenThePackageHasNoIndexedRecord)
{
    WritePackage({{"a", RecordA()}});
    const RunResult run = Make({"+update", "pak", "g.gif"}, "y\n");
    EXPECT_EQ(run.out, Updated("pak.mtx") + "Add file <g.gif>...\n" + kUpdateDone);
    EXPECT_EQ(Package(), Compacted(MakePackageBytes({{"a", RecordA()},
                                                     {"Palette", Expanded(m_indexed.palette, 2), RT_PALETTE},
                                                     {"g", RecordG(false)}})));
}

TEST_F(MtxmakeUpdate, RemoveDropsTheEntriesWhoseNamesMatch)
{
    WritePackage({{"wall1", Bytes{1}}, {"sky", Bytes{2}}, {"Wall2", Bytes{3}}});
    const RunResult run = Make({"+remove", "pak", "WALL*"});
    EXPECT_EQ(run.out, Updated("pak.mtx") + "Remove entry <wall1>...\nRemove entry <Wall2>...\n" + kUpdateDone);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(Package(), Compacted(MakePackageBytes({{"sky", Bytes{2}}})));
}

TEST_F(MtxmakeUpdate, RemoveWithoutAMatchWarnsAndLeavesThePackage)
{
    WritePackage({{"sky", Bytes{2}}});
    const Bytes before = Package();
    const RunResult run = Make({"+remove", "pak", "wall?"});
    EXPECT_EQ(run.out, Updated("pak.mtx") + "Warning: no entry matches wall?\n");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(Package(), before);
}

TEST_F(MtxmakeUpdate, NoImageAmongTheFilesLeavesThePackage)
{
    WritePackage({{"a", RecordA()}});
    const Bytes before = Package();
    WriteFileBytes(m_dir / "notes.txt", ToBytes("text"));
    const RunResult run = Make({"+sync", "pak", "*.txt"});
    EXPECT_EQ(run.out, Updated("pak.mtx") + "Skip file <notes.txt>: not an image this tool reads\n"
                           "Warning: no image among the files matching *.txt\n");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(Package(), before);
}

TEST_F(MtxmakeUpdate, AReadOnlyPackageIsLeftAloneWithTheSystemsReason)
{
    WritePackage({{"a", Bytes{1}}});
    const Bytes before = Package();
    std::filesystem::permissions(m_dir / "pak.mtx", std::filesystem::perms::owner_write |
                                 std::filesystem::perms::group_write | std::filesystem::perms::others_write,
                                 std::filesystem::perm_options::remove);
    const std::string refusal = "CResFile::Open - Resource file <pak.mtx> is read-only (" + kAccessDenied + ")\n";
    const struct { std::vector<std::string> args; std::string start; } cases[] = {
        {{"pak", "a.tga"}, Created("pak.mtx")}, {{"+update", "pak", "a.tga"}, Updated("pak.mtx")},
        {{"+sync", "pak", "a.tga"}, Updated("pak.mtx")}, {{"+remove", "pak", "a"}, Updated("pak.mtx")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0]);
        const RunResult run = Make(c.args);
        EXPECT_EQ(run.out, c.start + refusal);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(Package(), before);
    }
}

#ifndef _WIN32  // file-size limits and signals are POSIX's
// A run killed at every 512-byte step of its staged write leaves the old package or the
// finished new one, and the next run leaves no staging file behind.
TEST_F(MtxmakeUpdate, AKillAtAnyWriteLeavesTheOldOrTheNewPackage)
{
    for (int i = 0; i < 12; ++i)
        WriteFileBytes(m_dir / ("t" + std::to_string(i) + ".tga"), EncodeTga(Picture(9, 7, i), {}));
    const Bytes old = MakePackageBytes({{"a", Bytes(700, 1)}, {"t3", Bytes(40, 2)}});
    for (const char* mode : {"+create", "+update"}) {
        SCOPED_TRACE(mode);
        std::vector<std::string> args = {"pak", "t*.tga"};
        if (mode == std::string("+update"))
            args.insert(args.begin(), mode);
        WriteFileBytes(m_dir / "pak.mtx", old);
        ASSERT_EQ(Make(args).status, 0);
        const Bytes finished = Package();
        for (size_t limit = 0; limit <= finished.size() + 512; limit += 512) {
            WriteFileBytes(m_dir / "pak.mtx", old);
            const std::string shell = "ulimit -f " + std::to_string(limit / 512) + "; exec \"$0\" \"$@\"";
            std::vector<std::string> limited = {"-c", shell, MTXMAKE_EXE};
            limited.insert(limited.end(), args.begin(), args.end());
            const int status = RunTool("/bin/sh", limited, m_dir.path()).status;
            const Bytes now = Package();
            EXPECT_TRUE(now == old || now == finished) << limit;
            EXPECT_EQ(status, now == finished ? 0 : 128 + SIGXFSZ) << limit;
            ASSERT_EQ(Make(args).status, 0);
            EXPECT_EQ(Package(), finished) << limit;
            EXPECT_FALSE(FileExists(m_dir / ".pak.mtx.staging")) << limit;
        }
    }
}
#endif

TEST(Mtxmake, FilesTheShellExpandedGiveThePackageTheirPatternGives)
{
    ScratchDir dir;
    WriteFileBytes(dir / "b.tga", EncodeTga(Picture(2, 2, 1), {}));
    WriteFileBytes(dir / "A.tga", EncodeTga(Picture(1, 3, 2), {}));
    ASSERT_EQ(RunTool(MTXMAKE_EXE, {"quoted", "*.tga"}, dir.path()).status, 0);
    const RunResult expanded = RunTool(MTXMAKE_EXE, {"expanded", "b.tga", "A.tga", "b.tga"}, dir.path());
    EXPECT_EQ(expanded.out, Created("expanded.mtx") + "Add file <A.tga>...\nAdd file <b.tga>...\n" +
                                Done("expanded.mtx"));
    EXPECT_EQ(ReadFileBytes(dir / "expanded.mtx"), ReadFileBytes(dir / "quoted.mtx"));
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
