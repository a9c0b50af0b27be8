// Mtxmake runs: console output byte for byte, exit status, and the package written.
#include "builder/MipTexture.h"
#include "common/Banner.h"
#include "host/DirectorySearch.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sys/stat.h>

namespace {

const std::string kBanner = std::string("Img (Gif,Jpg,Pcx,Png,Tga,DDS) to MTX package converter v1.0") +
                            kMakerNotice + "\n \n";
const char kUsage[] = "usage: Mtxmake packname file(s) (*.* for all files)\n";
const char kQuestion[] = "Mtxmake: Use shared palette? [Y/n] ";

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
    int32_t method;
    Bytes data;
};

// The entries of a package file, following its record chain.
std::vector<Entry> ReadEntries(const std::string& path)
{
    const Bytes bytes = ReadFileBytes(path);
    std::vector<Entry> entries;
    if (bytes.size() < 20 || std::memcmp(bytes.data(), "MPCK", 4) != 0) {
        ADD_FAILURE() << "not a package: " << path;
        return entries;
    }
    const int32_t count = GetI32(bytes, 12);
    for (int32_t at = GetI32(bytes, 16); at >= 0 && entries.size() <= static_cast<size_t>(count);
         at = GetI32(bytes, static_cast<size_t>(at) + 72)) {
        const size_t record = static_cast<size_t>(at);
        const size_t offset = static_cast<size_t>(GetI32(bytes, record + 68));
        const size_t size = static_cast<size_t>(GetI32(bytes, record + 64));
        Entry entry;
        entry.name = reinterpret_cast<const char*>(&bytes.at(record));
        entry.type = GetI32(bytes, record + 80);
        entry.method = GetI32(bytes, record + 84);
        entry.data.assign(bytes.begin() + static_cast<long>(offset),
                          bytes.begin() + static_cast<long>(offset + size));
        entries.push_back(entry);
    }
    EXPECT_EQ(entries.size(), static_cast<size_t>(count)) << path;
    return entries;
}

std::vector<std::string> Names(const std::vector<Entry>& entries)
{
    std::vector<std::string> names;
    for (const Entry& entry : entries)
        names.push_back(entry.name);
    return names;
}

// An uncompressed top-down TGA; `pixels` holds B, G, R (and A for 32 bits) per pixel.
Bytes TgaBytes(int width, int height, int bpp, const Bytes& pixels)
{
    Bytes bytes = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, static_cast<uint8_t>(bpp), 0x20};
    bytes[12] = static_cast<uint8_t>(width);
    bytes[14] = static_cast<uint8_t>(height);
    bytes.insert(bytes.end(), pixels.begin(), pixels.end());
    return bytes;
}

Bytes DdsBytes(const char* code, int width, int height, const Bytes& body)
{
    Bytes bytes(128, 0);
    std::memcpy(bytes.data(), "DDS ", 4);
    SetI32(bytes, 4, 124);
    SetI32(bytes, 12, height);
    SetI32(bytes, 16, width);
    std::memcpy(bytes.data() + 84, code, 4);
    bytes.insert(bytes.end(), body.begin(), body.end());
    return bytes;
}

class MtxmakeTest : public testing::Test {
protected:
    // The generated samples, made once for all tests.
    static void SetUpTestSuite()
    {
        s_samples = new ScratchDir;
        const RunResult made = RunTool(MAKE_SAMPLES_EXE, {s_samples->path()}, s_samples->path());
        ASSERT_EQ(made.status, 0) << made.out;
    }
    static void TearDownTestSuite()
    {
        delete s_samples;
        s_samples = nullptr;
    }
    static Bytes Sample(const std::string& name) { return ReadFileBytes(*s_samples / name); }

    void Put(const std::string& name, const Bytes& bytes) { WriteFileBytes(m_dir / name, bytes); }
    void PutSample(const std::string& name, const std::string& as = "")
    {
        Put(as.empty() ? name : as, Sample(name));
    }
    std::vector<Entry> Entries(const std::string& package = "pak.mtx")
    {
        return ReadEntries(m_dir / package);
    }

    ScratchDir m_dir;
    static ScratchDir* s_samples;
};
ScratchDir* MtxmakeTest::s_samples = nullptr;

const Bytes kRedTga = TgaBytes(1, 1, 24, {50, 100, 200});

}  // namespace

TEST_F(MtxmakeTest, WholeRunOverEverySampleFormat)
{
    for (const char* name : {"brick.tga", "glass.tga", "grass.pcx", "metal.dds", "rings.gif",
                             "sky.png", "stone.jpg"})
        PutSample(name);
    const RunResult run = Mtxmake({"pak", "*.*"}, m_dir.path(), "y\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, Created("pak.mtx") + "Add file <brick.tga>...\n"
                                           "Add file <glass.tga>...\n"
                                           "Add file <grass.pcx>...\n"
                                           "Add DXT1 texture <metal.dds>...\n"
                                           "Add file <rings.gif>...\n"
                                           "Add file <sky.png>...\n"
                                           "Add file <stone.jpg>...\n" +
                                           Done("pak.mtx"));
    EXPECT_EQ(run.err, kQuestion);

    const std::vector<Entry> entries = Entries();
    ASSERT_EQ(Names(entries), (std::vector<std::string>{"brick", "glass", "Palette", "grass",
                                                        "metal_tc", "rings", "sky", "stone"}));
    const struct {
        int32_t format;
        size_t size;
    } expected[] = {
        {TEX_RGB24, 108 + 32 * 32 * 3},  {TEX_RGBA32, 108 + 32 * 32 * 4},
        {-1, kRgbaPaletteSize},          {TEX_INDEXED8, 108 + 32 * 32},
        {TEX_DXT1, 108 + 64 * 8},        {TEX_INDEXED8, 108 + 32 * 32},
        {-1, 0},                         {TEX_RGB24, 108 + 32 * 32 * 3},
    };
    for (size_t i = 0; i < entries.size(); ++i) {
        SCOPED_TRACE(entries[i].name);
        EXPECT_EQ(entries[i].method, 0);
        EXPECT_EQ(entries[i].type, entries[i].name == "Palette" ? 5 : 2);
        if (expected[i].format < 0)
            continue;
        EXPECT_EQ(entries[i].data.size(), expected[i].size);
        EXPECT_EQ(GetI32(entries[i].data, kMipFormatOffset), expected[i].format);
        EXPECT_STREQ(reinterpret_cast<const char*>(entries[i].data.data()), entries[i].name.c_str());
    }

    // The same inputs give the same package, byte for byte.
    const Bytes first = ReadFileBytes(m_dir / "pak.mtx");
    EXPECT_EQ(Mtxmake({"pak", "*.*"}, m_dir.path(), "y\n").out, run.out);
    EXPECT_EQ(ReadFileBytes(m_dir / "pak.mtx"), first);
}

TEST_F(MtxmakeTest, SharedPaletteQuestionDecidesWherePalettesGo)
{
    const Bytes grass = Sample("grass.pcx");
    const Bytes filePalette(grass.end() - 768, grass.end());
    Bytes expanded;
    for (size_t i = 0; i < 256; ++i)
        expanded.insert(expanded.end(), {filePalette[i * 3], filePalette[i * 3 + 1],
                                         filePalette[i * 3 + 2], 255});
    const struct {
        const char* answer;
        bool shared;
    } cases[] = {{"y\n", true}, {"\n", true}, {"", true}, {"  No\n", false}, {"n\n", false},
                 {"yes\nn\n", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "answer '" << c.answer << "'");
        ScratchDir dir;
        WriteFileBytes(dir / "a.pcx", grass);
        WriteFileBytes(dir / "b.pcx", grass);
        WriteFileBytes(dir / "c.tga", kRedTga);
        const RunResult run = Mtxmake({"pak", "*.*"}, dir.path(), c.answer);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.err, kQuestion);
        EXPECT_EQ(run.out, Created("pak.mtx") +
                               "Add file <a.pcx>...\nAdd file <b.pcx>...\nAdd file <c.tga>...\n" +
                               Done("pak.mtx"));

        const std::vector<Entry> entries = ReadEntries(dir / "pak.mtx");
        const std::vector<std::string> names =
            c.shared ? std::vector<std::string>{"Palette", "a", "b", "c"}
                     : std::vector<std::string>{"a", "b", "c"};
        ASSERT_EQ(Names(entries), names);
        if (c.shared) {
            EXPECT_EQ(entries[0].data, expanded);
            EXPECT_EQ(entries[0].type, 5);
        }
        for (size_t i = c.shared ? 1 : 0; i + 1 < entries.size(); ++i) {
            const Bytes& record = entries[i].data;
            EXPECT_EQ(GetI32(record, kMipOwnPaletteOffset), c.shared ? 0 : 1);
            EXPECT_EQ(record.size(), 108u + 32 * 32 + (c.shared ? 0 : 1024));
            if (!c.shared) {
                EXPECT_EQ(Bytes(record.begin() + 108, record.begin() + 108 + 1024), expanded);
            }
        }
    }
}

TEST_F(MtxmakeTest, TrueColourRunNeverAsks)
{
    Put("red.tga", kRedTga);
    PutSample("glass.tga");
    const RunResult run = Mtxmake({"pak", "*.tga"}, m_dir.path());
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    const std::vector<Entry> entries = Entries();
    ASSERT_EQ(Names(entries), (std::vector<std::string>{"glass", "red"}));
    Bytes expectedRed(108, 0);
    std::memcpy(expectedRed.data(), "red", 3);
    SetI32(expectedRed, kMipWidthOffset, 1);
    SetI32(expectedRed, kMipHeightOffset, 1);
    SetI32(expectedRed, kMipDataOffsetOffset, 108);
    SetI32(expectedRed, kMipFormatOffset, TEX_RGB24);
    SetI32(expectedRed, kMipAverageRedOffset, 200);
    SetI32(expectedRed, kMipAverageGreenOffset, 100);
    SetI32(expectedRed, kMipAverageBlueOffset, 50);
    expectedRed.insert(expectedRed.end(), {200, 100, 50});
    EXPECT_EQ(entries[1].data, expectedRed);
}

TEST_F(MtxmakeTest, PackageNameRules)
{
    const struct {
        const char* argument;
        const char* package;
    } cases[] = {
        {"pak", "pak.mtx"},       {"pak.mtx", "pak.mtx"},   {"pak.old", "pak.mtx"},
        {"my.pak.mtx", "my.mtx"}, {"..\\pak", "..\\pak"},   {"../pak", "../pak.mtx"},
        {"sub/pak", "sub/pak.mtx"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.argument);
        ScratchDir dir;
        mkdir((dir / "work").c_str(), 0755);
        mkdir((dir / "work/sub").c_str(), 0755);
        const RunResult run = Mtxmake({c.argument, "*.none"}, dir / "work");
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, Created(c.package));
        // Nothing matched: the package exists, empty.
        const Bytes package = ReadFileBytes(dir / (std::string("work/") + c.package));
        ASSERT_EQ(package.size(), 20u);
        EXPECT_EQ(GetI32(package, 12), 0);
        EXPECT_EQ(GetI32(package, 16), -1);
    }
}

TEST_F(MtxmakeTest, RefusedCommandLinesPrintUsage)
{
    const std::string longName(128, 'p');
    const std::vector<std::vector<std::string>> cases = {
        {},          {"pak"},   {"", "*.*"},  {".mtx", "*.*"},
        {longName, "*.*"},      {std::string(125, 'p'), "*.*"},  // ".mtx" would pass 127
        {"pak", std::string(127, 'x') + "*"},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(args.empty() ? "no arguments" : args[0]);
        ScratchDir dir;
        const RunResult run = Mtxmake(args, dir.path());
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, kBanner + kUsage);
        DirectorySearch created;
        FoundFile file;
        EXPECT_FALSE(created.Start(dir / "*") && created.Next(file)) << "no package expected";
    }
}

TEST_F(MtxmakeTest, SkipsPackageDotFilesDirectoriesAndUndecodableFiles)
{
    Put("PAK.MTX", kRedTga);   // named as the package (letter case aside): skipped too
    Put(".hidden.tga", kRedTga);
    Put(".tga", kRedTga);
    mkdir((m_dir / "dir.tga").c_str(), 0755);
    Put("notes.txt", ToBytes("hello, not an image"));
    Put("empty.tga", TgaBytes(4, 0, 24, {}));   // decodes, but has no pixels
    Put("wall.01.tga", kRedTga);
    const RunResult run = Mtxmake({"pak", "*.*"}, m_dir.path());
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, Created("pak.mtx") + "Add file <empty.tga>...\nAdd file <wall.01.tga>...\n" +
                           Done("pak.mtx"));
    EXPECT_EQ(Names(Entries()), std::vector<std::string>{"wall"});
}

TEST_F(MtxmakeTest, PatternDirectoryJoinsMatchedNames)
{
    mkdir((m_dir / "in").c_str(), 0755);
    Put("in/red.tga", kRedTga);
    Put("in/pak.mtx", kRedTga);  // package named with the same directory: skipped
    const RunResult run = Mtxmake({"in/pak", "in/*.*"}, m_dir.path());
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, Created("in/pak.mtx") + "Add file <red.tga>...\n" + Done("in/pak.mtx"));
    EXPECT_EQ(Names(ReadEntries(m_dir / "in/pak.mtx")), std::vector<std::string>{"red"});
}

TEST_F(MtxmakeTest, DdsFilesBecomeDxtRecordsOrFallThrough)
{
    Put("wall.dds", DdsBytes("DXT5", 8, 4, {1, 2, 3, 4}));
    Put("bare.dds", DdsBytes("DXT3", 4, 4, {}));
    Put("sky.dds", DdsBytes("DXT2", 4, 4, {9, 9}));
    Bytes shortDds = DdsBytes("DXT1", 4, 4, {});
    shortDds.resize(127);
    Put("short.dds", shortDds);
    const RunResult run = Mtxmake({"pak", "*.dds"}, m_dir.path());
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, Created("pak.mtx") + "Add DXT3 texture <bare.dds>...\n"
                                           " Unknown DXT format\n"
                                           "Add DXT5 texture <wall.dds>...\n" +
                                           Done("pak.mtx"));
    const std::vector<Entry> entries = Entries();
    ASSERT_EQ(Names(entries), (std::vector<std::string>{"bare_tc", "wall_tc"}));
    EXPECT_EQ(entries[0].data.size(), 108u);
    const Bytes& wall = entries[1].data;
    ASSERT_EQ(wall.size(), 112u);
    EXPECT_EQ(GetI32(wall, kMipFormatOffset), TEX_DXT5);
    EXPECT_EQ(GetI32(wall, kMipWidthOffset), 8);
    EXPECT_EQ(GetI32(wall, kMipHeightOffset), 4);
    EXPECT_EQ(Bytes(wall.begin() + 108, wall.end()), (Bytes{1, 2, 3, 4}));
}

TEST_F(MtxmakeTest, LongTextureNamesAreCutWithAWarning)
{
    const std::string stem(40, 'w');
    Put(stem + ".tga", kRedTga);
    Put(stem + ".dds", DdsBytes("DXT1", 4, 4, {}));
    const RunResult run = Mtxmake({"pak", "*.*"}, m_dir.path());
    EXPECT_EQ(run.status, 0);
    const std::string cut(31, 'w');
    const std::string cutDds = std::string(28, 'w') + "_tc";
    EXPECT_EQ(run.out, Created("pak.mtx") + "Add DXT1 texture <" + stem + ".dds>...\n" +
                           "Warning: Texture name of <" + stem + ".dds> cut to <" + cutDds + ">\n" +
                           "Add file <" + stem + ".tga>...\n" + "Warning: Texture name of <" +
                           stem + ".tga> cut to <" + cut + ">\n" + Done("pak.mtx"));
    const std::vector<Entry> entries = Entries();
    ASSERT_EQ(Names(entries), (std::vector<std::string>{cutDds, cut}));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(entries[1].data.data())), cut);
}

TEST_F(MtxmakeTest, UncreatablePackageStopsWithTheArchiveMessage)
{
    Put("red.tga", kRedTga);
    const RunResult run = Mtxmake({"missing/pak", "*.*"}, m_dir.path());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, Created("missing/pak.mtx") +
                           "CResFile::Open - Can't create resource file <missing/pak.mtx>\n");
}
