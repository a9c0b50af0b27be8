// CResFile: construction, Open with every failure text, the directory load, closing.
#include "archive/ResFile.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>

namespace {


// Offsets of the records of a package made by MakePackageBytes, in chain order.
std::vector<size_t> RecordOffsets(const Bytes& package)
{
    std::vector<size_t> offsets;
    for (int32_t at = GetI32(package, 16); at >= 0; at = GetI32(package, static_cast<size_t>(at) + kRecordNextOffset))
        offsets.push_back(static_cast<size_t>(at));
    return offsets;
}

// Three entries with data large enough that the file could hold more records than it has.
Bytes ThreeEntries()
{
    return MakePackageBytes({{"alpha", Bytes(200, 1)}, {"beta", Bytes(200, 2), 5, 2}, {"gamma", Bytes(200, 3)}});
}

std::string Message(const char* format, const std::string& path)
{
    std::string text = format;
    const size_t at = text.find("%s");
    if (at != std::string::npos)
        text.replace(at, 2, path);
    return text;
}

}  // namespace

TEST(ResFileOpen, EveryFailureHasItsMessage)
{
    const Bytes good = ThreeEntries();
    const std::vector<size_t> records = RecordOffsets(good);
    const auto damaged = [&](const std::function<void(Bytes&)>& damage) {
        Bytes bytes = good;
        damage(bytes);
        return bytes;
    };
    const char* const kCount = "CResFile::Open - Error number directory files in resource file <%s>";
    const char* const kAccess = "CResFile::Open - Error access mode for file <%s>";
    const struct {
        const char* label;
        bool exists;
        Bytes bytes;
        int32_t mode;
        const char* message;
    } cases[] = {
        {"missing, read", false, {}, RA_READ, "CResFile::Open - Can't open for read resource file <%s>"},
        {"missing, update", false, {}, RA_READ | RA_WRITE, "CResFile::Open - Can't open for write resource file <%s>"},
        {"empty file", true, {}, RA_READ, "CResFile::Open - Error read header in resource file <%s>"},
        {"10 bytes", true, Bytes(good.begin(), good.begin() + 10), RA_READ,
         "CResFile::Open - Error read header in resource file <%s>"},
        {"magic", true, damaged([](Bytes& b) { b[3] = 'k'; }), RA_READ,
         "CResFile::Open - Error header-id in resource file <%s>"},
        {"version", true, damaged([](Bytes& b) { SetI32(b, 4, 2); }), RA_READ,
         "CResFile::Open - Error version number in resource file <%s>"},
        {"no entries", true, MakePackageBytes({}), RA_READ, "CResFile::Open - Empty resource file <%s>"},
        {"no entries, update", true, MakePackageBytes({}), RA_READ | RA_WRITE,
         "CResFile::Open - Empty resource file <%s>"},
        {"count negative", true, damaged([](Bytes& b) { SetI32(b, 12, -3); }), RA_READ, kCount},
        {"count huge", true, damaged([](Bytes& b) { SetI32(b, 12, INT_MAX); }), RA_READ, kCount},
        {"chain too short", true, damaged([](Bytes& b) { SetI32(b, 12, 4); }), RA_READ, kCount},
        {"chain too long", true, damaged([](Bytes& b) { SetI32(b, 12, 2); }), RA_READ, kCount},
        {"chain loops", true, damaged([&](Bytes& b) { SetI32(b, records[2] + kRecordNextOffset, static_cast<int32_t>(records[1])); }),
         RA_READ, kCount},
        {"record past end", true, damaged([&](Bytes& b) { SetI32(b, records[1] + kRecordNextOffset, 1 << 30); }), RA_READ,
         "CResFile::Open - Error read directory in resource file <%s>"},
        {"record cut short", true, damaged([&](Bytes& b) { SetI32(b, records[1] + kRecordNextOffset, static_cast<int32_t>(b.size() - 40)); }),
         RA_READ, "CResFile::Open - Error read directory in resource file <%s>"},
        {"mode 0", true, good, 0, kAccess},
        {"mode 2", true, good, RA_WRITE, kAccess},
        {"mode 8", true, good, 8, kAccess},
        {"mode -1", true, good, -1, kAccess},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        const std::string path = dir / "p.mtx";
        if (c.exists)
            WriteFileBytes(path, c.bytes);
        CResFile package(path.c_str());
        EXPECT_EQ(package.Open(c.mode), 0) << c.label;
        ASSERT_NE(package.mfGetError(), nullptr) << c.label;
        EXPECT_EQ(package.mfGetError(), Message(c.message, path)) << c.label;
    }

    ScratchDir dir;
    const std::string unreachable = dir / "missing/p.mtx";
    CResFile created(unreachable.c_str());
    EXPECT_EQ(created.Open(RA_WRITE | RA_CREATE), 0);
    EXPECT_EQ(created.mfGetError(), Message("CResFile::Open - Can't create resource file <%s>", unreachable));
}

TEST(ResFileOpen, EmptyNameFailsForEveryMode)
{
    for (int32_t mode : {RA_READ, RA_READ | RA_WRITE, RA_WRITE | RA_CREATE, 0, 5, 7, -1}) {
        CResFile package("");
        EXPECT_EQ(package.Open(mode), 0) << mode;
        EXPECT_STREQ(package.mfGetError(), "CResFile::Open - No Resource name") << mode;
    }
}

TEST(ResFileOpen, RefusedModesLeaveTheDiskAlone)
{
    ScratchDir dir;
    const Bytes good = ThreeEntries();
    WriteFileBytes(dir / "kept.mtx", good);
    for (int32_t mode : {0, RA_WRITE, RA_READ | RA_CREATE, RA_READ | RA_WRITE | RA_CREATE}) {
        CResFile kept((dir / "kept.mtx").c_str());
        EXPECT_EQ(kept.Open(mode), 0) << mode;
        CResFile absent((dir / "absent.mtx").c_str());
        EXPECT_EQ(absent.Open(mode), 0) << mode;
    }
    EXPECT_EQ(ReadFileBytes(dir / "kept.mtx"), good);
    EXPECT_FALSE(FileExists(dir / "absent.mtx"));
}

TEST(ResFileOpen, LoadsTheChainInChainOrderWhateverTheFileOrder)
{
    ScratchDir dir;
    Bytes bytes = ThreeEntries();
    const std::vector<size_t> records = RecordOffsets(bytes);
    // Chain: gamma, alpha, beta.
    SetI32(bytes, 16, static_cast<int32_t>(records[2]));
    SetI32(bytes, records[2] + kRecordNextOffset, static_cast<int32_t>(records[0]));
    SetI32(bytes, records[0] + kRecordNextOffset, static_cast<int32_t>(records[1]));
    SetI32(bytes, records[1] + kRecordNextOffset, -7);  // any negative offset ends the chain
    SetI32(bytes, records[1] + 76, 12345);       // prev and compactFlag are never read
    SetI32(bytes, 8, -1);
    WriteFileBytes(dir / "p.mtx", bytes);

    CResFile package((dir / "p.mtx").c_str());
    ASSERT_EQ(package.Open(RA_READ), 1) << package.mfGetError();
    EXPECT_EQ(package.mfGetError(), nullptr);
    ASSERT_EQ(package.mfGetCount(), 3);
    EXPECT_EQ(package.mfGetCapacity(), 3);
    const char* const names[] = {"gamma", "alpha", "beta"};
    const size_t fileOrder[] = {2, 0, 1};
    for (int32_t i = 0; i < 3; ++i) {
        const DirEntry& entry = package.mfGetEntry(i);
        EXPECT_STREQ(entry.name, names[i]);
        EXPECT_EQ(entry.size, 200);
        EXPECT_EQ(entry.offset, static_cast<int32_t>(records[fileOrder[i]] + kRecordSize));
        EXPECT_EQ(entry.type, i == 2 ? 5 : 2);
        EXPECT_EQ(entry.method, i == 2 ? RC_LZSS : RC_NONE);
        EXPECT_EQ(entry.readPos, 0);
        EXPECT_EQ(entry.data, nullptr);
        EXPECT_EQ(entry.flags, 0);
    }
}

TEST(ResFileOpen, NameEndsAtTerminatorOrAfter63Characters)
{
    ScratchDir dir;
    Bytes bytes = MakePackageBytes({{"short", ToBytes("1")}, {"long", ToBytes("2")}});
    const std::vector<size_t> records = RecordOffsets(bytes);
    for (size_t i = 6; i < kNameSize; ++i)
        bytes[records[0] + i] = 'Z';  // garbage after "short\0"
    for (size_t i = 0; i < kNameSize; ++i)
        bytes[records[1] + i] = 'n';  // no terminator at all
    WriteFileBytes(dir / "p.mtx", bytes);

    CResFile package((dir / "p.mtx").c_str());
    ASSERT_EQ(package.Open(RA_READ), 1);
    EXPECT_STREQ(package.mfGetEntry(0).name, "short");
    EXPECT_EQ(std::string(package.mfGetEntry(1).name), std::string(63, 'n'));
}

TEST(ResFileOpen, EveryPrefixWithoutTheWholeDirectoryFails)
{
    ScratchDir dir;
    const Bytes good = ThreeEntries();
    const size_t directoryEnd = RecordOffsets(good).back() + kRecordSize;
    for (size_t length = 0; length <= good.size(); length += 7) {
        WriteFileBytes(dir / "p.mtx", Bytes(good.begin(), good.begin() + static_cast<long>(length)));
        CResFile package((dir / "p.mtx").c_str());
        EXPECT_EQ(package.Open(RA_READ), length >= directoryEnd ? 1 : 0) << length;
    }
}

TEST(ResFileLifecycle, ErrorTextSurvivesLaterSuccess)
{
    ScratchDir dir;
    WriteFileBytes(dir / "p.mtx", ThreeEntries());
    CResFile package((dir / "p.mtx").c_str());
    EXPECT_EQ(package.mfGetError(), nullptr);
    EXPECT_EQ(package.Open(0), 0);
    const std::string failure = package.mfGetError();
    EXPECT_EQ(package.Open(RA_READ), 1);
    EXPECT_EQ(package.mfGetError(), failure);
    // Opening again while the stream is open starts over on a fresh stream.
    EXPECT_EQ(package.Open(RA_READ), 1);
    EXPECT_EQ(package.mfGetCount(), 3);
}

TEST(ResFileLifecycle, ClosedHandleHasNoNameButKeepsItsDirectory)
{
    ScratchDir dir;
    WriteFileBytes(dir / "p.mtx", ThreeEntries());
    CResFile package((dir / "p.mtx").c_str());
    ASSERT_EQ(package.Open(RA_READ), 1);
    EXPECT_EQ(package.mfClose(), 1);
    EXPECT_STREQ(package.mfGetName(), "");
    EXPECT_EQ(package.mfGetCount(), 3);
    EXPECT_EQ(package.Open(RA_READ), 0);
    EXPECT_STREQ(package.mfGetError(), "CResFile::Open - No Resource name");
}

TEST(ResFileLifecycle, CreateWritesAFreshHeaderThatDoesNotOpenForReading)
{
    ScratchDir dir;
    const std::string path = dir / "new.mtx";
    WriteFileBytes(path, ThreeEntries());
    {
        CResFile package(path.c_str());
        ASSERT_EQ(package.Open(RA_WRITE | RA_CREATE), 1);
    }
    EXPECT_EQ(ReadFileBytes(path), MakePackageBytes({}));
    CResFile reader(path.c_str());
    EXPECT_EQ(reader.Open(RA_READ), 0);
    EXPECT_EQ(reader.mfGetError(), Message("CResFile::Open - Empty resource file <%s>", path));
}
