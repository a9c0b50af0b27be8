// Texture extraction from hand-made packages: console lines, files written, and the
// checks that keep a damaged record from being read beyond its entry.
#include "archive/ResFile.h"
#include "archive/MipTexture.h"
#include "extractor/ExtractTexture.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

constexpr int32_t kFormatUnused = 1;

// An RgbaPalette whose entry i is (i, 2i, 3i, alpha 255).
Bytes TestPalette(uint8_t salt = 0)
{
    Bytes palette(kRgbaPaletteSize);
    for (size_t i = 0; i < kRgbaPaletteEntries; ++i) {
        palette[i * 4] = static_cast<uint8_t>(i + salt);
        palette[i * 4 + 1] = static_cast<uint8_t>(i * 2);
        palette[i * 4 + 2] = static_cast<uint8_t>(i * 3);
        palette[i * 4 + 3] = 255;
    }
    return palette;
}

// The 768-byte PCX palette that TestPalette(salt) becomes.
Bytes PcxPaletteOf(const Bytes& rgba)
{
    Bytes rgb;
    for (size_t i = 0; i < kRgbaPaletteEntries; ++i)
        rgb.insert(rgb.end(), rgba.begin() + static_cast<ptrdiff_t>(i * 4),
                   rgba.begin() + static_cast<ptrdiff_t>(i * 4 + 3));
    return rgb;
}

Bytes Tail(const Bytes& bytes, size_t from)
{
    return Bytes(bytes.begin() + static_cast<ptrdiff_t>(from), bytes.end());
}

// Writes the package into `dir`, extracts every entry in order into dir/out/ and
// returns what was printed.
std::string ExtractAll(const ScratchDir& dir, const std::vector<TestEntry>& entries, bool writeDds = false)
{
    WriteFileBytes(dir / "pak.mtx", MakePackageBytes(entries));
    std::filesystem::create_directory(dir / "out");
    CResFile package((dir / "pak.mtx").c_str());
    EXPECT_EQ(package.Open(RA_READ), 1);
    RgbaPalette palette{};
    testing::internal::CaptureStdout();
    for (int32_t index = 0; index < package.mfGetCount(); ++index)
        ExtractTexture(package, index, dir / "out/", "pak.mtx", palette, writeDds);
    return testing::internal::GetCapturedStdout();
}

}  // namespace

// One entry of every kind, stored plain or, with `packed`, LZSS-packed.
std::vector<TestEntry> EveryKind(bool packed)
{
    Bytes ownBody = TestPalette(7);
    ownBody.insert(ownBody.end(), {1, 200});
    std::vector<TestEntry> entries = {
        {"own", MakeRecordBytes(2, 1, TEX_INDEXED8, ownBody, 1)},
        {"shared", MakeRecordBytes(1, 2, TEX_INDEXED8, {3, 255})},
        {"rgb", MakeRecordBytes(2, 1, TEX_RGB24, {10, 20, 30, 40, 50, 60})},
        {"rgba", MakeRecordBytes(1, 2, TEX_RGBA32, {1, 2, 3, 4, 5, 6, 7, 8})},
        {"d1", MakeRecordBytes(4, 4, TEX_DXT1, Bytes(8), 0, 0)},
        {"d3", MakeRecordBytes(4, 4, TEX_DXT3, Bytes(16), 0, 0)},
        {"d5", MakeRecordBytes(4, 4, TEX_DXT5, Bytes(16), 0, 0)},
        {"odd", MakeRecordBytes(1, 1, kFormatUnused, {0, 0, 0})},
        {"Palette", TestPalette(), RT_PALETTE},
    };
    for (TestEntry& entry : entries) {
        if (packed) {
            entry.data = Packed(entry.data);
            entry.method = RC_LZSS;
        }
    }
    return entries;
}

TEST(ExtractTexture, EveryFormatGetsItsLineAndOnlyPixelFormatsWriteFiles)
{
    const Bytes ownPalette = TestPalette(7);
    ScratchDir dir;
    const std::string out = ExtractAll(dir, EveryKind(false));
    EXPECT_EQ(out,
              "  extract 'own' \t(Ok.)\n"
              "  extract 'shared' \t(Ok.)\n"
              "  extract 'rgb' \t(Ok.)\n"
              "  extract 'rgba' \t(Ok.)\n"
              "  extract 'd1' Warning: Compressed texture -- ignored\n"
              "  extract 'd3' Warning: Compressed texture -- ignored\n"
              "  extract 'd5' Warning: Compressed texture -- ignored\n"
              "  extract 'odd' \t(Ok.)\n"
              "  extract 'Palette' \t(Ok.)\n");

    const Bytes own = ReadFileBytes(dir / "out/own.pcx");
    ASSERT_EQ(own.size(), 128u + 3 + 769);
    Bytes ownTail = {1, 0xC1, 200, 12};
    const Bytes ownRgb = PcxPaletteOf(ownPalette);
    ownTail.insert(ownTail.end(), ownRgb.begin(), ownRgb.end());
    EXPECT_EQ(Tail(own, 128), ownTail);
    const Bytes shared = ReadFileBytes(dir / "out/shared.pcx");
    ASSERT_EQ(shared.size(), 128u + 3 + 769);
    EXPECT_EQ(Tail(shared, 128 + 4), PcxPaletteOf(TestPalette()));

    EXPECT_EQ(Tail(ReadFileBytes(dir / "out/rgb.tga"), 16), (Bytes{24, 0x20, 30, 20, 10, 60, 50, 40}));
    EXPECT_EQ(Tail(ReadFileBytes(dir / "out/rgba.tga"), 16),
              (Bytes{32, 0x28, 3, 2, 1, 4, 7, 6, 5, 8}));
    for (const char* name : {"d1", "d3", "d5", "odd", "Palette"}) {
        EXPECT_FALSE(FileExists(dir / "out/" + name + ".tga")) << name;
        EXPECT_FALSE(FileExists(dir / "out/" + name + ".pcx")) << name;
    }
}

TEST(ExtractTexture, LzssStoredEntriesExtractLikePlainOnes)
{
    ScratchDir plainDir;
    ScratchDir packedDir;
    EXPECT_EQ(ExtractAll(packedDir, EveryKind(true)), ExtractAll(plainDir, EveryKind(false)));
    for (const char* file : {"own.pcx", "shared.pcx", "rgb.tga", "rgba.tga"})
        EXPECT_EQ(ReadFileBytes(packedDir / "out/" + file), ReadFileBytes(plainDir / "out/" + file)) << file;
}

#ifndef _WIN32  // a full disk comes from a link to /dev/full

TEST(ExtractTexture, FileThatCannotBeWrittenIsReportedAndLeavesNothing)
{
    ScratchDir dir;
    // A folder named like an output file is in the way; a full disk takes only part.
    Bytes ownBody = TestPalette();
    ownBody.push_back(0);
    std::filesystem::create_directory(dir / "out");
    std::filesystem::create_directory(dir / "out/rgb.tga");
    ASSERT_EQ(symlink("/dev/full", (dir / "out/idx.pcx").c_str()), 0);
    ASSERT_EQ(symlink("/dev/full", (dir / "out/d.dds").c_str()), 0);
    const std::string out = ExtractAll(dir, {
        {"rgb", MakeRecordBytes(1, 1, TEX_RGB24, {1, 2, 3})},
        {"idx", MakeRecordBytes(1, 1, TEX_INDEXED8, ownBody, 1)},
        {"d_tc", MakeRecordBytes(4, 4, TEX_DXT1, Bytes(8), 0, 0)},
        {"rgba", MakeRecordBytes(1, 1, TEX_RGBA32, {1, 2, 3, 4})},
    }, true);
    EXPECT_EQ(out, "  extract 'rgb' Warning: Can't write file '" + (dir / "out/rgb.tga") + "'\n"
                   "  extract 'idx' Warning: Can't write file '" + (dir / "out/idx.pcx") + "'\n"
                   "  extract 'd_tc' Warning: Can't write file '" + (dir / "out/d.dds") + "'\n"
                   "  extract 'rgba' \t(Ok.)\n");
    struct stat info {};
    EXPECT_NE(lstat((dir / "out/idx.pcx").c_str(), &info), 0);
    EXPECT_NE(lstat((dir / "out/d.dds").c_str(), &info), 0);
}

#endif

TEST(ExtractTexture, PaletteRecordWithoutUsableSharedPaletteIsSkipped)
{
    const struct {
        const char* what;
        std::vector<TestEntry> extra;
    } cases[] = {
        {"no Palette entry", {}},
        {"short Palette entry", {{"Palette", Bytes(1000, 1), RT_PALETTE}}},
        {"long Palette entry", {{"Palette", Bytes(2048, 1), RT_PALETTE}}},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        std::vector<TestEntry> entries = {
            {"idx", MakeRecordBytes(1, 1, TEX_INDEXED8, {4})},
            {"rgb", MakeRecordBytes(1, 1, TEX_RGB24, {1, 2, 3})},
        };
        entries.insert(entries.end(), c.extra.begin(), c.extra.end());
        const std::string out = ExtractAll(dir, entries);
        EXPECT_EQ(out.substr(0, out.find("  extract 'Palette'")),
                  "  extract 'idx' (Can't find palette in pak 'pak.mtx')\n"
                  "  extract 'rgb' \t(Ok.)\n")
            << c.what;
        EXPECT_FALSE(FileExists(dir / "out/idx.pcx")) << c.what;
        EXPECT_TRUE(FileExists(dir / "out/rgb.tga")) << c.what;
    }
}

TEST(ExtractTexture, RecordThatDoesNotFitItsEntryFailsAndTheNextEntryStillExtracts)
{
    const struct {
        const char* what;
        Bytes record;
    } cases[] = {
        {"more pixels than stored", MakeRecordBytes(2, 2, TEX_RGB24, Bytes(11, 1))},
        {"own palette cut short", MakeRecordBytes(1, 1, TEX_INDEXED8, Bytes(1000, 1), 1)},
        {"zero width", MakeRecordBytes(0, 5, TEX_RGBA32, {})},
        {"negative height", MakeRecordBytes(3, -1, TEX_RGB24, Bytes(9, 1))},
        {"size overflowing 64 bits", MakeRecordBytes(0x7FFFFFFF, 0x7FFFFFFF, TEX_RGBA32, Bytes(16, 1))},
        {"data inside the header", MakeRecordBytes(1, 1, TEX_RGB24, {1, 2, 3}, 0, 50)},
        {"data past the entry", MakeRecordBytes(1, 1, TEX_RGB24, {1, 2, 3}, 0, 109)},
        {"negative data offset", MakeRecordBytes(1, 1, TEX_RGB24, {1, 2, 3}, 0, -4)},
        {"entry shorter than a header", Bytes(50, 2)},
        {"DXT body shorter than its top level", MakeRecordBytes(8, 8, TEX_DXT5, Bytes(63), 0, 0)},
        {"DXT zero width", MakeRecordBytes(0, 4, TEX_DXT1, Bytes(8), 0, 0)},
        {"DXT zero height", MakeRecordBytes(4, 0, TEX_DXT1, Bytes(8), 0, 0)},
        {"DXT width -3, one block when taken as unsigned", MakeRecordBytes(-3, 4, TEX_DXT1, Bytes(8), 0, 0)},
        {"DXT sides overflowing 32 bits", MakeRecordBytes(0x7FFFFFFF, 0x7FFFFFFF, TEX_DXT3, Bytes(16))},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        // The good entry's bytes follow the bad one in the file, so a read running
        // past the bad entry would succeed.
        const std::string out = ExtractAll(dir, {
            {"bad", c.record},
            {"good", MakeRecordBytes(1, 1, TEX_RGB24, {1, 2, 3})},
        }, true);
        EXPECT_EQ(out,
                  "  extract 'bad' Warning: Can't load texture 'bad'\n"
                  "  extract 'good' \t(Ok.)\n")
            << c.what;
        EXPECT_FALSE(FileExists(dir / "out/bad.tga")) << c.what;
        EXPECT_FALSE(FileExists(dir / "out/bad.pcx")) << c.what;
        EXPECT_FALSE(FileExists(dir / "out/bad.dds")) << c.what;
    }
}

TEST(ExtractTexture, DdsFilesDropOnlyAWholeTrailingBuilderSuffix)
{
    ScratchDir dir;
    const Bytes record = MakeRecordBytes(4, 4, TEX_DXT1, Bytes(8), 0, 0);
    const std::string out = ExtractAll(dir, {{"sky", record}, {"wall_tc", record}, {"_tc", record}}, true);
    EXPECT_EQ(out, "  extract 'sky' \t(Ok.)\n  extract 'wall_tc' \t(Ok.)\n  extract '_tc' \t(Ok.)\n");
    for (const char* file : {"sky.dds", "wall.dds", "_tc.dds"})
        EXPECT_EQ(ReadFileBytes(dir / "out/" + file).size(), 128u + 8) << file;
}

TEST(ExtractTexture, PixelsAreTakenFromTheDataOffset)
{
    ScratchDir dir;
    EXPECT_EQ(ExtractAll(dir, {{"t", MakeRecordBytes(1, 1, TEX_RGB24, {9, 9, 9, 9, 1, 2, 3}, 0, 112)}}),
              "  extract 't' \t(Ok.)\n");
    EXPECT_EQ(Tail(ReadFileBytes(dir / "out/t.tga"), 18), (Bytes{3, 2, 1}));
}

TEST(ExtractTexture, DuplicateNamesEachReadTheirOwnEntry)
{
    ScratchDir dir;
    const std::string out = ExtractAll(dir, {
        {"wall", MakeRecordBytes(1, 1, TEX_RGB24, {1, 2, 3})},
        {"wall", MakeRecordBytes(2, 1, TEX_RGBA32, {5, 6, 7, 8, 9, 10, 11, 12})},
    });
    EXPECT_EQ(out, "  extract 'wall' \t(Ok.)\n  extract 'wall' \t(Ok.)\n");
    const Bytes second = ReadFileBytes(dir / "out/wall.tga");
    ASSERT_EQ(second.size(), 18u + 8);
    EXPECT_EQ(Tail(second, 18), (Bytes{7, 6, 5, 8, 11, 10, 9, 12}));
}

TEST(ExtractTexture, SeparatorsInNamesStayInsideTheOutputFolder)
{
    ScratchDir dir;
    std::filesystem::create_directory(dir / "a");
    const std::string out = ExtractAll(dir, {
        {"../../x", MakeRecordBytes(1, 1, TEX_RGB24, {1, 2, 3})},
        {"a\\b/c", MakeRecordBytes(1, 1, TEX_RGB24, {1, 2, 3})},
    });
    EXPECT_EQ(out, "  extract '../../x' \t(Ok.)\n  extract 'a\\b/c' \t(Ok.)\n");
    EXPECT_TRUE(FileExists(dir / "out/.._.._x.tga"));
    EXPECT_TRUE(FileExists(dir / "out/a_b_c.tga"));
    EXPECT_FALSE(FileExists(dir / "x.tga"));
    EXPECT_FALSE(FileExists(dir / "a/b/c.tga"));
}
