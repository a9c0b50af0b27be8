// Mtxmake: texture records of every input kind, checked against records laid out by hand,
// and whole runs of the program (console text, status, the package written).
#include "archive/MipTexture.h"
#include "builder/MipConvert.h"
#include "common/Banner.h"
#include "image/DdsFormat.h"
#include "samples/ImageEncoders.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <memory>
#include <optional>

namespace {

namespace fs = std::filesystem;
constexpr size_t kDdsMipCountAt = 28;  // in a DDS file's header

const std::string kBanner = std::string("Img (Gif,Jpg,Pcx,Png,Tga,DDS) to MTX package converter v1.0") +
                            kMakerNotice + "\n \n";

std::string Created(const std::string& package) { return kBanner + "\nCreate package: <" + package + ">...\n\n"; }
std::string Updated(const std::string& package) { return kBanner + "\nUpdate package: <" + package + ">...\n\n"; }
const std::string kUpdateDone = "\nDone update package <pak.mtx>\n\n";
std::string Done(const std::string& package) { return "\nDone produce package <" + package + ">\n\n"; }

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
    for (size_t index = 0; index < kRgbaPaletteEntries; ++index) {
        rgba.insert(rgba.end(), palette.begin() + long(index * 3), palette.begin() + long(index * 3 + 3));
        rgba.push_back(int(index) == transIndex ? 0 : 255);
    }
    return rgba;
}

// A picture's record laid out by hand, named: RGB or RGBA pixels, or indices behind the palette expanded to RGBA
// when the texture has its own; the header holds the averages of red, green and blue over all pixels.
Bytes PictureRecord(const std::string& name, const SamplePicture& picture, int32_t format, int transIndex = -1,
                    bool ownPalette = false)
{
    const bool indexed = format == TEX_INDEXED8;
    Bytes body = ownPalette ? Expanded(picture.palette, transIndex) : Bytes{};
    uint64_t sums[3] = {};
    for (size_t i = 0; i < picture.indices.size(); ++i) {
        const uint8_t* colour = indexed ? &picture.palette[picture.indices[i] * 3u] : &picture.rgba[i * 4];
        const uint8_t* stored = indexed ? &picture.indices[i] : colour;
        body.insert(body.end(), stored, stored + BytesPerPixel(format));
        for (size_t channel = 0; channel < 3; ++channel)
            sums[channel] += colour[channel];
    }
    Bytes record = MakeRecordBytes(picture.width, picture.height, format, body, ownPalette ? 1 : 0);
    std::copy(name.begin(), name.end(), record.begin() + kMipNameOffset);
    for (size_t channel = 0; channel < 3; ++channel)
        SetI32(record, kMipAverageRedOffset + 4 * channel, int32_t(sums[channel] / picture.indices.size()));
    return record;
}

// A DXT record as Mtxmake makes it of a DDS file: named, the body stored as the file holds it.
Bytes DxtRecord(const std::string& name, int32_t width, int32_t height, int32_t format, const Bytes& body)
{
    Bytes record = MakeRecordBytes(width, height, format, body, 0, 0);
    std::copy(name.begin(), name.end(), record.begin() + kMipNameOffset);
    return record;
}

// A folder of files of every input kind: a.gif and the PCX files b, c and d are indexed (pixels use indices 1 to
// 6; b, c and d change one colour each, of an unused index, of the first pixel's and of the last pixel's); A to j
// are true colour (odd sizes, alpha, grey, a flat JPEG that decodes exactly); k to o are DDS files (one level, a
// whole mip chain, no data, an unknown code, a cut header); names too long for a record; files it skips. Without a
// shared palette every indexed record keeps its own; with one, those whose pixels use other colours do. One worker
// gives the text and bytes of four.
TEST(Mtxmake, EveryInputKindGivesItsRecord)
{
    const SamplePicture indexed = Picture(3, 2, 1);
    SamplePicture unusedChanged = indexed, firstChanged = indexed, lastChanged = indexed;
    for (const size_t at : {size_t{0}, size_t{7 * 3 + 1}, size_t{255 * 3 + 2}})
        unusedChanged.palette[at] ^= 1;
    firstChanged.palette[1 * 3 + 1] ^= 1;
    lastChanged.palette[6 * 3 + 2] ^= 1;
    const SamplePicture tiny = Picture(1, 1, 9), odd = Picture(5, 3, 2), alpha = Picture(3, 3, 3);
    SamplePicture grey = Picture(3, 2, 6), flat(8, 8), png = Picture(2, 3, 4), pngRgb = Picture(3, 1, 5);
    for (size_t at = 0; at < grey.rgba.size(); at += 4)
        std::fill_n(&grey.rgba[at + 1], 2, grey.rgba[at]);
    std::fill(flat.rgba.begin(), flat.rgba.end(), uint8_t{128});
    const Bytes dxt1 = EncodeDdsDxt1(Picture(8, 4, 7));
    const Bytes dxtBody(dxt1.begin() + kDdsFileHeaderSize, dxt1.end());
    Bytes chain(64 + 16 * 3);  // DXT3 levels of 8 x 8, 4 x 4, 2 x 2 and 1 x 1
    for (size_t i = 0; i < chain.size(); ++i)
        chain[i] = static_cast<uint8_t>(i * 3 + 1);
    Bytes dxt3 = DdsHeader("DXT3", 8, 8, 64) + chain;
    SetI32(dxt3, kDdsMipCountAt, 4);
    TgaHeader noRows;
    noRows.width = 4;
    // Texture names: cut to fit with the DDS suffix, and a stem that just fits.
    const std::string longDds = std::string(29, 'w') + ".dds", cutDds = std::string(28, 'w') + "_tc";
    const std::string fullName(kMipNameSize - 1, 'x');
    const std::pair<std::string, Bytes> files[] = {
        {"a.gif", EncodeGifPicture(indexed, GifGraphicControl(true, 2))}, {"b.pcx", EncodePcx(unusedChanged)},
        {"c.pcx", EncodePcx(firstChanged)}, {"d.pcx", EncodePcx(lastChanged)},
        {"A.tga", EncodeTga(tiny, {})},  // the texture name of a.gif, letter case aside
        {"e.tga", EncodeTga(odd, {})}, {"f.tga", EncodeTga(alpha, {2, 32})}, {"g.tga", EncodeTga(grey, {3, 8})},
        {"h.png", EncodePngRgba(png, true)}, {"i.png", EncodePngRgba(pngRgb, false)},
        {"j.jpg", EncodeJpeg({8, 8, 1, 1}, Bytes(64, 128))}, {"k.dds", dxt1}, {"l.dds", dxt3},
        {"m.dds", DdsHeader("DXT5", 4, 4, 16)}, {"n.dds", DdsHeader("DXT2", 4, 4, 16) + Bytes{9, 9}},
        {"o.dds", Prefix(dxt1, kDdsFileHeaderSize - 1)}, {"q.tga", TgaFile(noRows, {})},  // no pixels
        {longDds, dxt1}, {fullName + ".tga", EncodeTga(tiny, {})},
        // Skipped without a word: dot files and the package itself; what no decoder takes is named.
        {".hidden.tga", EncodeTga(tiny, {})}, {"notes.txt", ToBytes("not an image")}, {"PAK.MTX", EncodeTga(tiny, {})},
    };
    ScratchDir dir;
    for (const auto& [name, bytes] : files)
        WriteFileBytes(dir / name, bytes);
    fs::create_directory(dir / "dir.tga");  // folders and pipes are skipped too
    MakeFifo(dir / "pipe.tga");
    for (const bool shared : {false, true}) {
        const std::string answer = shared ? "y\n" : "n\n";
        const std::string colours = shared ? "> differ from the shared palette; it keeps its own\n" : "";
        const std::string output = Created("pak.mtx") + "Add file <a.gif>...\nAdd file <A.tga>...\n"
            "Warning: Duplicate texture name A\nAdd file <b.pcx>...\nAdd file <c.pcx>...\n" +
            (shared ? "Warning: Colours of <c.pcx" + colours : "") + "Add file <d.pcx>...\n" +
            (shared ? "Warning: Colours of <d.pcx" + colours : "") + "Add file <e.tga>...\nAdd file <f.tga>...\n"
            "Add file <g.tga>...\nAdd file <h.png>...\nAdd file <i.png>...\nAdd file <j.jpg>...\n"
            "Add DXT1 texture <k.dds>...\nAdd DXT3 texture <l.dds>...\nAdd DXT5 texture <m.dds>...\n"
            "Skip file <n.dds>: a DDS file whose block format is not DXT1, DXT3 or DXT5\n"
            "Skip file <notes.txt>: not an image this tool reads\n"
            "Skip file <o.dds>: not an image this tool reads\nSkip file <q.tga>: an image without pixels\n"
            "Add DXT1 texture <" + longDds + ">...\nWarning: Texture name of <" + longDds + "> cut to <" + cutDds +
            ">\nAdd file <" + fullName + ".tga>...\n" + Done("pak.mtx");
        std::vector<TestEntry> entries = {
            {"a", PictureRecord("a", indexed, TEX_INDEXED8, 2, !shared)}, {"A", PictureRecord("A", tiny, TEX_RGB24)},
            {"b", PictureRecord("b", unusedChanged, TEX_INDEXED8, -1, !shared)},
            {"c", PictureRecord("c", firstChanged, TEX_INDEXED8, -1, true)},
            {"d", PictureRecord("d", lastChanged, TEX_INDEXED8, -1, true)},
            {"e", PictureRecord("e", odd, TEX_RGB24)}, {"f", PictureRecord("f", alpha, TEX_RGBA32)},
            {"g", PictureRecord("g", grey, TEX_RGB24)}, {"h", PictureRecord("h", png, TEX_RGBA32)},
            {"i", PictureRecord("i", pngRgb, TEX_RGB24)}, {"j", PictureRecord("j", flat, TEX_RGB24)},
            {"k_tc", DxtRecord("k_tc", 8, 4, TEX_DXT1, dxtBody)}, {"l_tc", DxtRecord("l_tc", 8, 8, TEX_DXT3, chain)},
            {"m_tc", DxtRecord("m_tc", 4, 4, TEX_DXT5, {})}, {cutDds, DxtRecord(cutDds, 8, 4, TEX_DXT1, dxtBody)},
            {fullName, PictureRecord(fullName, tiny, TEX_RGB24)},
        };
        if (shared)  // the first indexed file's palette, its transparent index included
            entries.insert(entries.begin(), {kPaletteEntryName, Expanded(indexed.palette, 2), RT_PALETTE});
        const RunResult run = RunTool(MTXMAKE_EXE, {"pak", "*.*", "+jobs", "4"}, dir.path(), answer);
        EXPECT_EQ(run.err, "");  // no prompt when the answer comes from a pipe
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, output);
        EXPECT_EQ(ReadEntries(dir / "pak.mtx"), entries);
        const Bytes package = ReadFileBytes(dir / "pak.mtx");
        EXPECT_EQ(RunTool(MTXMAKE_EXE, {"+jobs", "1", "pak", "*.*"}, dir.path(), answer).out, run.out);
        EXPECT_EQ(ReadFileBytes(dir / "pak.mtx"), package);
    }
}

// Only a finished run leaves a package; nothing else changes and no staging file stays.
TEST(Mtxmake, CommandLinesGiveTheirRunsOutcome)
{
    const std::string usage = "usage: Mtxmake packname file(s) (*.* for all files)\n"
                              "       Mtxmake +update packname file(s)  add new textures, replace changed ones\n"
                              "       Mtxmake +sync packname file(s)    as +update, and remove textures no file gave\n"
                              "       Mtxmake +remove packname name(s)  remove the entries whose names match\n"
                              "       +jobs N (anywhere) reads and decodes on N threads; the default is one per core\n";
    const std::string longest = std::string(123, 'p') + ".mtx";
    const std::string stars = std::string(126, 'x') + "*";
    const std::string added = "Add file <tile.tga>...\n";
    const std::string noImage = "Skip file <notes.txt>: not an image this tool reads\n"
                                "Warning: no image among the files matching ";
    const std::string cantCreate = "CResFile::Open - Can't create resource file <missing/pak.mtx> (" + kNoSuchFolder;
    // The package as printed (none when refused first) and what follows "Create package".
    const struct { const char* name; std::vector<std::string> args; std::string package, tail; int status; } cases[] = {
        {"no arguments", {}, "", usage, 1}, {"no pattern", {"pak"}, "", usage, 1},
        {"an empty name", {"", "*.*"}, "", usage, 1}, {"an extension alone", {".mtx", "*.*"}, "", usage, 1},
        {"a name too long", {std::string(128, 'p'), "*.*"}, "", usage, 1},
        {"128 characters with .mtx", {std::string(124, 'p'), "*.*"}, "", usage, 1},
        {"a pattern too long", {"pak", "x" + stars}, "", usage, 1},
        {"two modes", {"+update", "+sync", "pak", "*.tga"}, "", usage, 1},
        {"no workers", {"+jobs", "0", "pak", "*.tga"}, "", usage, 1},
        {"no worker count", {"pak", "*.tga", "+jobs"}, "", usage, 1},
        {"a worker count with letters", {"+jobs", "2x", "pak", "*.tga"}, "", usage, 1},
        {"an unknown option", {"pak", "+bogus", "*.tga"}, "", "Unknown option \"+bogus\"\n", 1},
        {"workers in capitals", {"+JOBS", "3", "pak", "*.tga"}, "pak.mtx", added + Done("pak.mtx"), 0},
        {"the longest name", {longest, "*.tga"}, longest, added + Done(longest), 0},
        {"the longest pattern", {"pak", stars}, "pak.mtx", "Warning: no file matches " + stars + "\n", 2},
        {"no file", {"walls", "texturs/*.*"}, "walls.mtx", "Warning: no file matches texturs/*.*\n", 2},
        {"no image", {"pak", "*.txt"}, "pak.mtx", noImage + "*.txt\n", 2},
        {"each file once", {"pak", "*.txt", "notes.*"}, "pak.mtx", noImage + "*.txt notes.*\n", 2},
        {"files one by one, sorted and each once", {"pak", "tile.tga", "notes.txt", "tile.tga"}, "pak.mtx",
         "Skip file <notes.txt>: not an image this tool reads\n" + added + Done("pak.mtx"), 0},
        // the common rules for a name's extension (StringUtil's tests hold every case)
        {"another extension", {"pak.old", "*.tga"}, "pak.mtx", added + Done("pak.mtx"), 0},
        {"two extensions", {"my.pak.mtx", "*.tga"}, "my.mtx", added + Done("my.mtx"), 0},
        {"a folder above", {"../pak", "*.tga"}, "../pak.mtx", added + Done("../pak.mtx"), 0},
        {"a missing folder", {"missing/pak", "*.*"}, "missing/pak.mtx", cantCreate + ")\n", 1},
        {"an update of what is no package", {"+update", "walls", "tile.tga"}, "",
         "\nUpdate package: <walls.mtx>...\n\nCResFile::Open - Error read header in resource file <walls.mtx>\n", 1},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        fs::create_directory(dir / "work");
        WriteFileBytes(dir / "work/notes.txt", ToBytes("no image"));
        WriteFileBytes(dir / "work/walls.mtx", ToBytes("not even a package"));
        WriteFileBytes(dir / "work/tile.tga", EncodeTga(Picture(1, 1, 1), {}));
        const RunResult run = RunTool(MTXMAKE_EXE, c.args, dir / "work");
        EXPECT_EQ(run.status, c.status) << c.name;
        EXPECT_EQ(run.out, (c.package.empty() ? kBanner : Created(c.package)) + c.tail) << c.name;
        EXPECT_EQ(ReadFileBytes(dir / "work/walls.mtx"), ToBytes("not even a package")) << c.name;
        const auto files = std::distance(fs::recursive_directory_iterator(dir.path()), {});
        EXPECT_EQ(files, c.status == 0 ? 5 : 4) << c.name;
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
        WriteFileBytes(m_dir / "notes.txt", ToBytes("text"));
    }
    RunResult Make(const std::vector<std::string>& args, const std::string& answers = "")
    {
        return RunTool(MTXMAKE_EXE, args, m_dir.path(), answers);
    }
    Bytes Package() { return ReadFileBytes(m_dir / "pak.mtx"); }

    ScratchDir m_dir;
    const SamplePicture m_a = Picture(2, 1, 1), m_b = Picture(1, 2, 2), m_indexed = Picture(3, 2, 3);
    const Bytes m_recordA = PictureRecord("a", m_a, TEX_RGB24);
    const Bytes m_palette = Expanded(m_indexed.palette, 2);
};

// Each mode's lines, status and package, written compacted; no package after: it is left as it was.
TEST_F(MtxmakeUpdate, EachModeGivesItsOutcome)
{
    const TestEntry packed{"old", Packed(ToBytes("packed bytes")), RT_TEXTURE, RC_LZSS};
    const TestEntry a{"a", m_recordA};
    const TestEntry b{"b", PictureRecord("b", m_b, TEX_RGB24)};
    const TestEntry palette{kPaletteEntryName, m_palette, RT_PALETTE};
    const TestEntry g{"g", PictureRecord("g", m_indexed, TEX_INDEXED8, 2)};
    const TestEntry ownG{"g", PictureRecord("g", m_indexed, TEX_INDEXED8, 2, true)};
    const TestEntry ownX{"x", MakeRecordBytes(1, 1, TEX_INDEXED8, Bytes(1025, 0), 1)};
    const TestEntry notes{"notes", ToBytes("not a texture"), 9};
    const std::string noImage = "Skip file <notes.txt>: not an image this tool reads\n"
                                "Warning: no image among the files matching *.txt\n";
    const std::string notOnePalette = "The \"Palette\" entry of <pak.mtx> is not one palette of 1024 bytes\n";
    const struct {
        const char* name;
        std::optional<std::vector<TestEntry>> before;  // none: no package yet
        std::vector<std::string> args;
        std::string answer, lines;
        int status;
        std::optional<std::vector<TestEntry>> after;  // none: the package is left as it was
    } cases[] = {
        {"new files go behind the entries kept as stored", {{packed}}, {"+update", "pak", "*.tga"}, "",
         "Add file <a.tga>...\nAdd file <b.tga>...\n" + kUpdateDone, 0, {{packed, a, b}}},
        {"an update starts a package when there is none", {}, {"+update", "pak", "a.tga"}, "",
         "Add file <a.tga>...\n" + kUpdateDone, 0, {{a}}},
        {"a changed record is replaced in its place; options anywhere, in any case",
         {{{"A", Bytes(5, 1)}, {"z", Bytes{9}}}}, {"pak", "a.tga", "+Update"}, "", "Replace file <a.tga>...\n" +
         kUpdateDone, 0, {{a, {"z", Bytes{9}}}}},
        {"sync removes textures no file gave and the palette no record uses",
         {{palette, {"gone", MakeRecordBytes(1, 1, TEX_INDEXED8, {0})}, a, notes}}, {"+sync", "pak", "a.tga"}, "",
         "Keep file <a.tga>...\nRemove entry <Palette>...\nRemove entry <gone>...\n" + kUpdateDone, 0, {{a, notes}}},
        {"sync keeps the palette a record uses", {{palette, {"gone", m_recordA}}}, {"+sync", "pak", "g.gif"}, "",
         "Add file <g.gif>...\nRemove entry <gone>...\n" + kUpdateDone, 0, {{palette, g}}},
        {"the package's palette is shared without a question", {{palette}}, {"+update", "pak", "g.gif"}, "n\n",
         "Add file <g.gif>...\n" + kUpdateDone, 0, {{palette, g}}},
        {"indexed records without a palette make images keep their own", {{ownX}}, {"+update", "pak", "g.gif"},
         "y\n", "Add file <g.gif>...\n" + kUpdateDone, 0, {{ownX, ownG}}},
        {"a question without an indexed record", {{a}}, {"+update", "pak", "g.gif"}, "y\n",
         "Add file <g.gif>...\n" + kUpdateDone, 0, {{a, palette, g}}},
        {"remove drops the entries whose names match", {{{"wall1", {1}}, {"sky", {2}}, {"Wall2", {3}}}},
         {"+remove", "pak", "WALL*"}, "", "Remove entry <wall1>...\nRemove entry <Wall2>...\n" + kUpdateDone, 0,
         {{{"sky", {2}}}}},
        {"remove without a match warns", {{{"sky", {2}}}}, {"+remove", "pak", "wall?"}, "",
         "Warning: no entry matches wall?\n", 2, {}},
        {"remove with one pattern of two matching removes and warns", {{{"wall1", {1}}, {"sky", {2}}}},
         {"+remove", "pak", "wall*", "moon"}, "", "Warning: no entry matches moon\nRemove entry <wall1>...\n" +
         kUpdateDone, 2, {{{"sky", {2}}}}},
        {"no image among the files", {{a}}, {"+sync", "pak", "*.txt"}, "", noImage, 2, {}},
        {"an empty palette entry stops the update with its reason", {{{kPaletteEntryName, {}, RT_PALETTE}, a}},
         {"+update", "pak", "g.gif"}, "", notOnePalette, 1, {}},
    };
    for (const auto& c : cases) {
        fs::remove(m_dir / "pak.mtx");
        if (c.before)
            WriteFileBytes(m_dir / "pak.mtx", MakePackageBytes(*c.before));
        const Bytes before = Package();
        const RunResult run = Make(c.args, c.answer);
        EXPECT_EQ(run.out, Updated("pak.mtx") + c.lines) << c.name;
        EXPECT_EQ(run.status, c.status) << c.name;
        EXPECT_EQ(Package(), c.after ? Compacted(MakePackageBytes(*c.after)) : before) << c.name;
    }
}

TEST_F(MtxmakeUpdate, AnUnchangedPackageIsNotWrittenAgain)
{
    const TestEntry packed{"old", Packed(Bytes(300, 4)), RT_TEXTURE, RC_LZSS};
    WriteFileBytes(m_dir / "pak.mtx", MakePackageBytes({{"a", m_recordA}, packed}));
    const auto lastWrite = fs::last_write_time(m_dir / "pak.mtx") - std::chrono::hours(1);
    fs::last_write_time(m_dir / "pak.mtx", lastWrite);
    const auto inode = FileIdentity(m_dir / "pak.mtx");
    const Bytes before = Package();
    const RunResult run = Make({"+update", "pak", "a.tga"});
    EXPECT_EQ(run.out, Updated("pak.mtx") + "Keep file <a.tga>...\n\nNothing to change in package <pak.mtx>\n\n");
    EXPECT_EQ(Package(), before);
    EXPECT_EQ(fs::last_write_time(m_dir / "pak.mtx"), lastWrite);
    EXPECT_EQ(FileIdentity(m_dir / "pak.mtx"), inode);
}

TEST_F(MtxmakeUpdate, AReadOnlyPackageIsLeftAloneWithTheSystemsReason)
{
    WriteFileBytes(m_dir / "pak.mtx", MakePackageBytes({{"a", Bytes{1}}}));
    const Bytes before = Package();
    const auto writeBits = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    fs::permissions(m_dir / "pak.mtx", writeBits, fs::perm_options::remove);
    const std::string refusal = "CResFile::Open - Resource file <pak.mtx> is read-only (" + kAccessDenied + ")\n";
    const struct { std::vector<std::string> args; std::string start; } cases[] = {
        {{"pak", "a.tga"}, Created("pak.mtx")}, {{"+update", "pak", "a.tga"}, Updated("pak.mtx")},
        {{"+sync", "pak", "a.tga"}, Updated("pak.mtx")}, {{"+remove", "pak", "a"}, Updated("pak.mtx")},
    };
    for (const auto& c : cases) {
        const RunResult run = Make(c.args);
        EXPECT_EQ(run.out, c.start + refusal) << c.args[0];
        EXPECT_EQ(run.status, 1) << c.args[0];
        EXPECT_EQ(Package(), before) << c.args[0];
    }
}

#ifndef _WIN32  // file-size limits and signals are POSIX's
// Killed at every 512-byte step of its staged write, a run leaves the old package or the finished new one, and the
// next run leaves no staging file behind.
TEST_F(MtxmakeUpdate, AKillAtAnyWriteLeavesTheOldOrTheNewPackage)
{
    for (int i = 0; i < 12; ++i)
        WriteFileBytes(m_dir / ("t" + std::to_string(i) + ".tga"), EncodeTga(Picture(9, 7, i), {}));
    const Bytes old = MakePackageBytes({{"a", Bytes(700, 1)}, {"t3", Bytes(40, 2)}});
    using Args = std::vector<std::string>;
    for (const Args& args : {Args{"pak", "t*.tga"}, Args{"+update", "pak", "t*.tga"}}) {
        WriteFileBytes(m_dir / "pak.mtx", old);
        ASSERT_EQ(Make(args).status, 0);
        const Bytes finished = Package();
        for (size_t limit = 0; limit <= finished.size() + 512; limit += 512) {
            WriteFileBytes(m_dir / "pak.mtx", old);
            const bool killed = limit < finished.size();
            const int status = RunToolWithFileLimit(MTXMAKE_EXE, args, m_dir.path(), limit);
            EXPECT_EQ(status, killed ? 128 + SIGXFSZ : 0) << args[0] << " " << limit;
            EXPECT_EQ(Package(), killed ? old : finished) << args[0] << " " << limit;
            ASSERT_EQ(Make(args).status, 0);
            EXPECT_EQ(Package(), finished) << args[0] << " " << limit;
            EXPECT_FALSE(FileExists(m_dir / ".pak.mtx.staging")) << args[0] << " " << limit;
        }
    }
}
#endif

std::unique_ptr<CImage> MakeImage(int32_t format, int32_t width, int32_t height, bool palette)
{
    auto image = std::make_unique<CImage>();
    image->m_Format = format;
    image->mfSetSize(width, height);
    if (palette)
        image->m_pPalette = static_cast<uint8_t*>(std::calloc(kPaletteSize, 1));
    return image;
}

// The header and size are left as they were.
TEST(BuildMipTexture, RefusesImagesWithoutFormatPixelsOrPalette)
{
    const struct { const char* name; std::unique_ptr<CImage> image; } cases[] = {
        {"no format", MakeImage(IMG_NONE, 1, 1, false)}, {"an unknown format", MakeImage(7, 1, 1, false)},
        {"no rows", MakeImage(IMG_TGA, 4, 0, false)}, {"no columns", MakeImage(IMG_GIF, 0, 3, true)},
        {"indexed without a palette", MakeImage(IMG_PCX, 1, 1, false)},
        {"a palette without indices", MakeImage(IMG_GIF, 2, 2, true)},
    };
    std::free(cases[5].image->m_pIndices);
    cases[5].image->m_pIndices = nullptr;
    for (const auto& c : cases) {
        MipTexture header{};
        size_t size = 55;
        EXPECT_FALSE(CanBuildMipTexture(*c.image)) << c.name;
        EXPECT_EQ(BuildMipTexture(*c.image, header, size, true), nullptr) << c.name;
        EXPECT_EQ(size, 55u) << c.name;
        EXPECT_EQ(header.format, 0) << c.name;
        EXPECT_EQ(header.dataOffset, 0) << c.name;
        EXPECT_FALSE(UsesOtherColours(*c.image, RgbaPalette{})) << c.name;
    }
    EXPECT_EQ(AllocateRecord(uint64_t{1} << 31), nullptr);  // beyond an entry's 32-bit size
}

}  // namespace
