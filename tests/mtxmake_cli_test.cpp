// Mtxmake runs: console output byte for byte, exit status, and the package written.
#include "archive/ResFile.h"
#include "archive/MipTexture.h"
#include "common/Banner.h"
#include "host/DirectorySearch.h"
#include "samples/ImageEncoders.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

const std::string kBanner = std::string("Img (Gif,Jpg,Pcx,Png,Tga,DDS) to MTX package converter v1.0") +
                            kMakerNotice + "\n \n";

std::string Created(const std::string& package)
{
    return kBanner + "\nCreate package: <" + package + ">...\n\n";
}

std::string Done(const std::string& package)
{
    return "\nDone produce package <" + package + ">\n\n";
}

RunResult Mtxmake(const std::vector<std::string>& args, const std::string& cwd,
                  const std::string& answer = "")
{
    return RunTool(MTXMAKE_EXE, args, cwd, answer);
}

struct Entry {
    std::string name;
    int32_t type;
    Bytes data;
};

// The entries of a package, read back through the archive.
std::vector<Entry> ReadEntries(const std::string& path)
{
    CResFile package(path.c_str());
    std::vector<Entry> entries;
    EXPECT_EQ(package.Open(RA_READ), 1) << path;
    for (int32_t index = 0; index < package.mfGetCount(); ++index) {
        const DirEntry& entry = package.mfGetEntry(index);
        EXPECT_EQ(entry.method, RC_NONE) << entry.name;
        Bytes data(static_cast<size_t>(entry.size));
        EXPECT_EQ(package.mfFileRead(index, data.data(), entry.size), entry.size);
        entries.push_back({entry.name, entry.type, data});
    }
    return entries;
}

std::vector<std::string> Names(const std::vector<Entry>& entries)
{
    std::vector<std::string> names;
    for (const Entry& entry : entries)
        names.push_back(entry.name);
    return names;
}

// An uncompressed top-down 24-bit TGA; `bgr` holds B, G, R per pixel.
Bytes TgaBytes(int width, int height, const Bytes& bgr)
{
    TgaHeader header;
    header.width = uint16_t(width);
    header.height = uint16_t(height);
    header.descriptor = 0x20;
    return TgaFile(header, bgr);
}

Bytes DdsBytes(const char* code, const Bytes& body)
{
    Bytes bytes = DdsHeader(code, 0, 0, 0);
    AppendBytes(bytes, body);
    return bytes;
}

const Bytes kRedTga = TgaBytes(1, 1, {50, 100, 200});

class MtxmakeTest : public testing::Test {
protected:
    // The project's generated samples, made once for all tests.
    static void SetUpTestSuite()
    {
        s_samples = new ScratchDir;
        ASSERT_EQ(RunTool(MAKE_SAMPLES_EXE, {s_samples->path()}, s_samples->path()).status, 0);
    }
    static void TearDownTestSuite() { delete s_samples; }
    static Bytes Sample(const std::string& name) { return ReadFileBytes(*s_samples / name); }

    void Put(const std::string& name, const Bytes& bytes) { WriteFileBytes(m_dir / name, bytes); }
    std::vector<Entry> Entries() { return ReadEntries(m_dir / "pak.mtx"); }

    ScratchDir m_dir;
    static ScratchDir* s_samples;
};
ScratchDir* MtxmakeTest::s_samples = nullptr;

}  // namespace

TEST_F(MtxmakeTest, WholeRunOverEverySampleFormat)
{
    for (const char* name : {"brick.tga", "glass.tga", "grass.pcx", "metal.dds", "rings.gif",
                             "sky.png", "stone.jpg"})
        Put(name, Sample(name));
    const RunResult run = Mtxmake({"pak", "*.*"}, m_dir.path(), "y\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, Created("pak.mtx") +
                           "Add file <brick.tga>...\nAdd file <glass.tga>...\nAdd file <grass.pcx>...\n"
                           "Add DXT1 texture <metal.dds>...\nAdd file <rings.gif>...\n"
                           "Warning: Colours of <rings.gif> differ from the shared palette\n"
                           "Add file <sky.png>...\nAdd file <stone.jpg>...\n" +
                           Done("pak.mtx"));
    EXPECT_EQ(run.err, "");  // no prompt when the answer comes from a pipe

    const std::vector<Entry> entries = Entries();
    ASSERT_EQ(Names(entries), (std::vector<std::string>{"brick", "glass", "Palette", "grass",
                                                        "metal_tc", "rings", "sky", "stone"}));
    const int32_t formats[] = {TEX_RGB24, TEX_RGBA32, -1, TEX_INDEXED8, TEX_DXT1, TEX_INDEXED8, -1, TEX_RGB24};
    for (size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(entries[i].type, i == 2 ? 5 : 2) << entries[i].name;
        if (formats[i] >= 0) {
            EXPECT_EQ(GetI32(entries[i].data, kMipFormatOffset), formats[i]) << entries[i].name;
        }
    }
    EXPECT_EQ(entries[2].data.size(), kRgbaPaletteSize);

    // The same inputs give the same package, byte for byte.
    const Bytes first = ReadFileBytes(m_dir / "pak.mtx");
    EXPECT_EQ(Mtxmake({"pak", "*.*"}, m_dir.path(), "y\n").out, run.out);
    EXPECT_EQ(ReadFileBytes(m_dir / "pak.mtx"), first);
}

TEST_F(MtxmakeTest, PaletteQuestionIsAskedOnceAndDecidesWherePalettesGo)
{
    const Bytes grass = Sample("grass.pcx");
    Bytes expanded;  // the file's last 768 bytes, opaque
    for (auto rgb = grass.end() - 768; rgb != grass.end(); rgb += 3)
        expanded.insert(expanded.end(), {rgb[0], rgb[1], rgb[2], 255});
    for (const std::string answer : {"y\n", "", "  No\n", "n\n"}) {
        SCOPED_TRACE("answer '" + answer + "'");
        const bool shared = answer.find_first_of("nN") == std::string::npos;
        ScratchDir dir;
        WriteFileBytes(dir / "a.pcx", grass);
        WriteFileBytes(dir / "b.pcx", grass);
        WriteFileBytes(dir / "c.tga", kRedTga);
        const RunResult run = Mtxmake({"pak", "*.*"}, dir.path(), answer);
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.out, Created("pak.mtx") +
                               "Add file <a.pcx>...\nAdd file <b.pcx>...\nAdd file <c.tga>...\n" +
                               Done("pak.mtx"));
        std::vector<Entry> entries = ReadEntries(dir / "pak.mtx");
        if (shared) {
            ASSERT_FALSE(entries.empty());
            EXPECT_EQ(entries[0].name, "Palette");
            EXPECT_EQ(entries[0].data, expanded);
            entries.erase(entries.begin());
        }
        ASSERT_EQ(Names(entries), (std::vector<std::string>{"a", "b", "c"}));
        for (size_t i = 0; i < 2; ++i) {
            const Bytes& record = entries[i].data;
            EXPECT_EQ(GetI32(record, kMipOwnPaletteOffset), shared ? 0 : 1);
            ASSERT_EQ(record.size(), 108u + 32 * 32 + (shared ? 0 : 1024));
            if (!shared) {
                EXPECT_EQ(Bytes(record.begin() + 108, record.begin() + 108 + 1024), expanded);
            }
        }
    }
}

TEST_F(MtxmakeTest, SharedPaletteWarnsOnlyWhenUsedIndicesChangeColour)
{
    // Pixels use indices 0 and 1 only.
    SamplePicture picture(2, 1);
    picture.indices = {0, 1};
    const auto pcxWith = [&](size_t index, uint8_t red) {
        SamplePicture changed = picture;
        changed.palette[index * 3] = red;
        return EncodePcx(changed);
    };
    Put("a.pcx", EncodePcx(picture));
    Put("b.pcx", pcxWith(200, 77));  // an unused index differs
    Put("c.pcx", pcxWith(1, 77));    // a used index differs
    const RunResult run = Mtxmake({"pak", "*.pcx"}, m_dir.path(), "y\n");
    EXPECT_EQ(run.out, Created("pak.mtx") + "Add file <a.pcx>...\nAdd file <b.pcx>...\nAdd file <c.pcx>...\n"
                           "Warning: Colours of <c.pcx> differ from the shared palette\n" + Done("pak.mtx"));
    EXPECT_EQ(Names(Entries()), (std::vector<std::string>{"Palette", "a", "b", "c"}));
}

TEST_F(MtxmakeTest, PatternMatchingNothingLeavesAnExistingPackageAlone)
{
    Put("walls.mtx", ToBytes("not even a package"));
    const RunResult run = Mtxmake({"walls", "texturs/*.*"}, m_dir.path());
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, Created("walls.mtx") + "Warning: no file matches texturs/*.*\n");
    EXPECT_EQ(ReadFileBytes(m_dir / "walls.mtx"), ToBytes("not even a package"));
    EXPECT_EQ(Mtxmake({"fresh", "*.none"}, m_dir.path()).status, 2);
    EXPECT_FALSE(FileExists(m_dir / "fresh.mtx"));
}

TEST_F(MtxmakeTest, PackageNameRulesAndEmptyPackageWhenNoFileDecodes)
{
    const struct {
        const char* argument;
        const char* package;
    } cases[] = {
        {"pak", "pak.mtx"},       {"pak.mtx", "pak.mtx"}, {"pak.old", "pak.mtx"},
        {"my.pak.mtx", "my.mtx"}, {"..\\pak", "..\\pak"}, {"../pak", "../pak.mtx"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.argument);
        ScratchDir dir;
        std::filesystem::create_directory(dir / "work");
        WriteFileBytes(dir / "work/notes.txt", ToBytes("no image"));
        const RunResult run = Mtxmake({c.argument, "*.txt"}, dir / "work");
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, Created(c.package) + Done(c.package));
        EXPECT_EQ(ReadFileBytes(dir / (std::string("work/") + c.package)),
                  MakePackageBytes({}));
    }
}

TEST_F(MtxmakeTest, RefusedCommandLinesPrintUsageAndCreateNothing)
{
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"pak"},
        {"", "*.*"},
        {".mtx", "*.*"},
        {std::string(128, 'p'), "*.*"},
        {std::string(125, 'p'), "*.*"},  // 129 characters with ".mtx"
        {"pak", std::string(127, 'x') + "*"},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(args.size());
        ScratchDir dir;
        const RunResult run = Mtxmake(args, dir.path());
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, kBanner + "usage: Mtxmake packname file(s) (*.* for all files)\n");
        DirectorySearch search;
        FoundFile created;
        EXPECT_FALSE(search.Start(dir / "*") && search.Next(created)) << created.name;
    }
}

TEST_F(MtxmakeTest, SkipsPackageDotFilesDirectoriesPipesAndUndecodableFiles)
{
    std::filesystem::create_directory(m_dir / "in");
    Put("in/PAK.MTX", kRedTga);  // the package's name, letter case aside
    Put("in/.hidden.tga", kRedTga);
    Put("in/.tga", kRedTga);
    std::filesystem::create_directory(m_dir / "in/dir.tga");
    MakeFifo(m_dir / "in/pipe.tga");  // opening it would block
    Put("in/notes.txt", ToBytes("hello, not an image"));
    Put("in/empty.tga", TgaBytes(4, 0, {}));  // decodes, but has no pixels
    GifLayout noPixels;
    noPixels.width = 0;
    Put("in/flat.gif", EncodeGif(noPixels));  // likewise
    const Bytes jpeg = EncodeJpegRgb(SamplePicture(8, 8), 90);
    Put("in/cut.jpg", Bytes(jpeg.begin(), jpeg.begin() + static_cast<ptrdiff_t>(jpeg.size() / 2)));
    Put("in/wall.01.tga", kRedTga);
    Put("in/WALL.02.tga", kRedTga);  // the same texture name, letter case aside
    const RunResult run = Mtxmake({"in/pak", "in/*.*"}, m_dir.path());
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");  // libraries' warnings stay silent
    EXPECT_EQ(run.out, Created("in/pak.mtx") +
                           "Add file <empty.tga>...\nAdd file <flat.gif>...\nAdd file <wall.01.tga>...\n"
                           "Add file <WALL.02.tga>...\nWarning: Duplicate texture name WALL\n" +
                           Done("in/pak.mtx"));
    EXPECT_EQ(Names(ReadEntries(m_dir / "in/pak.mtx")), (std::vector<std::string>{"wall", "WALL"}));
}

TEST_F(MtxmakeTest, DdsIntakeAndLongTextureNames)
{
    const std::string stem(40, 'w'), cut(31, 'w'), cutDds = std::string(28, 'w') + "_tc";
    const Bytes dxt1 = DdsBytes("DXT1", {});
    Put("sky.dds", DdsBytes("DXT2", {9, 9}));            // falls through, no decoder takes it
    Put("short.dds", Bytes(dxt1.begin(), dxt1.end() - 1));  // not a DDS texture at all
    Put("wall.dds", DdsBytes("DXT5", {1, 2, 3, 4}));
    Put(stem + ".tga", kRedTga);
    Put(stem + ".dds", dxt1);
    const RunResult run = Mtxmake({"pak", "*.*"}, m_dir.path());
    EXPECT_EQ(run.err, "");  // no palette image, no question
    EXPECT_EQ(run.out, Created("pak.mtx") + " Unknown DXT format\n" +
                           "Add DXT5 texture <wall.dds>...\n" +
                           "Add DXT1 texture <" + stem + ".dds>...\n" +
                           "Warning: Texture name of <" + stem + ".dds> cut to <" + cutDds + ">\n" +
                           "Add file <" + stem + ".tga>...\n" + "Warning: Texture name of <" +
                           stem + ".tga> cut to <" + cut + ">\n" + Done("pak.mtx"));
    const std::vector<Entry> entries = Entries();
    ASSERT_EQ(Names(entries), (std::vector<std::string>{"wall_tc", cutDds, cut}));
    EXPECT_EQ(entries[0].data.size(), 112u);
    EXPECT_EQ(entries[1].data.size(), 108u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(entries[2].data.data())), cut);
}

TEST_F(MtxmakeTest, UncreatablePackageStopsWithTheArchiveMessage)
{
    Put("red.tga", kRedTga);
    const RunResult run = Mtxmake({"missing/pak", "*.*"}, m_dir.path());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, Created("missing/pak.mtx") +
                           "CResFile::Open - Can't create resource file <missing/pak.mtx>\n");
}

#ifdef _WIN32  // drive letters and '\\' as a separator are Windows's

TEST_F(MtxmakeTest, PatternsWithDriveLettersAndBackslashes)
{
    std::filesystem::create_directory(m_dir / "in");
    Put("in/red.tga", kRedTga);
    std::string folder = std::filesystem::absolute(m_dir / "in").string();
    std::replace(folder.begin(), folder.end(), '/', '\\');
    ASSERT_EQ(folder[1], ':');
    // An absolute pattern, and a drive alone, which stands for that drive's working directory.
    for (const auto& [cwd, pattern] : {std::pair(m_dir.path(), folder + "\\*.TGA"), std::pair(folder, folder.substr(0, 2) + "r*")}) {
        SCOPED_TRACE(pattern);
        const RunResult run = Mtxmake({"pak", pattern}, cwd);
        EXPECT_EQ(run.out, Created("pak.mtx") + "Add file <red.tga>...\n" + Done("pak.mtx"));
        EXPECT_EQ(Names(ReadEntries(cwd + "/pak.mtx")), std::vector<std::string>{"red"});
    }
}

#endif
