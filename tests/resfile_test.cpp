// CResFile: Open on damaged packages, reading entries, adding them and the bytes flushing writes.
#include "support/TestSupport.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>

namespace {

// Adds an entry from a buffer that is wiped at once: the handle must keep its own copy.
int32_t Add(CResFile& package, const std::string& name, Bytes data, int32_t method = RC_NONE, int32_t type = 2)
{
    DirEntry entry{{}, static_cast<int32_t>(data.size()), 0, 0, type, method, data.data(), 0};
    std::memcpy(entry.name, name.data(), std::min(name.size(), kNameSize));
    const int32_t count = package.mfFileAdd(&entry);
    std::fill(data.begin(), data.end(), 0xEE);
    return count;
}

Bytes ReadWhole(CResFile& package, int32_t index)
{
    Bytes out(static_cast<size_t>(std::max<int64_t>(package.mfFileSize(index), 0)));
    out.resize(static_cast<size_t>(package.mfFileRead(index, out.data(), static_cast<int64_t>(out.size()))));
    return out;
}

// The next `len` bytes of an entry, or "-" when the read fails.
Bytes ReadPiece(CResFile& package, int32_t index, int32_t len)
{
    const std::unique_ptr<uint8_t, void (*)(void*)> piece(package.mfFileRead2(index, len), std::free);
    return piece ? Bytes(piece.get(), piece.get() + len) : Bytes{'-'};
}

TEST(ResFileOpen, RefusesEachDamageWithItsText)
{
    ScratchDir dir;
    const std::string path = dir / "p.mtx";
    // The file could hold nine records.
    const Bytes good = MakePackageBytes({{"alpha", Bytes(200, 1)}, {"beta", Bytes(200, 2)}, {"gamma", Bytes(200, 3)}});
    const size_t second = RecordAt(good, 1);
    const size_t third = RecordAt(good, 2);
    const auto pastTheEnd = static_cast<int32_t>(good.size() - kRecordSize + 1);
    const std::string inFile = " in resource file";
    const std::string count = "Error number directory files" + inFile;
    const std::string directory = "Error read directory" + inFile;
    const std::string access = "Error access mode for file";
    // No bytes: no file; no message: it opens.
    const struct { const char* name; Bytes bytes; std::string message; int32_t mode = RA_READ; } cases[] = {
        {"no file", {}, "Can't open for read resource file"},
        {"no file to update", {}, "Can't open for write resource file", RA_READ | RA_WRITE},
        {"no entries", MakePackageBytes({}), "Empty resource file", RA_READ | RA_WRITE},
        {"header cut", Prefix(good, kHeaderSize - 1), "Error read header" + inFile},
        {"another magic", WithI32(good, 0, 0x6B43504D), "Error header-id" + inFile},
        {"version 2", WithI32(good, kHeaderVersionOffset, 2), "Error version number" + inFile},
        {"count negative", WithI32(good, kHeaderCountOffset, -3), count},
        {"count the largest", WithI32(good, kHeaderCountOffset, INT32_MAX), count},
        {"count one over", WithI32(good, kHeaderCountOffset, 4), count},
        {"count one under", WithI32(good, kHeaderCountOffset, 2), count},
        {"count past what the file holds", WithI32(good, kHeaderCountOffset, 10), count},
        {"no first record", WithI32(good, kHeaderFirstRecordOffset, -1), count},
        {"the chain loops", WithI32(good, third + kRecordNextOffset, static_cast<int32_t>(second)), count},
        {"a link far past the end", WithI32(good, second + kRecordNextOffset, 1 << 30), directory},
        {"a record one byte past the end", WithI32(good, second + kRecordNextOffset, pastTheEnd), directory},
        {"the last record cut", Prefix(good, third + kRecordSize - 1), directory},
        {"records fill the file", MakePackageBytes({{"a", {}}, {"b", {}}}), ""},
        {"data cut off, found later", Prefix(good, third + kRecordSize), ""},
        {"mode 0", good, access, 0}, {"write alone", good, access, RA_WRITE},
        {"create without write", good, access, RA_READ | RA_CREATE}, {"unknown bit", good, access, 8},
        {"every bit", good, access, -1},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(path);
        if (!c.bytes.empty())
            WriteFileBytes(path, c.bytes);
        CResFile package(path.c_str());
        EXPECT_EQ(package.Open(c.mode), c.message.empty() ? 1 : 0) << c.name;
        EXPECT_EQ(ErrorOf(package), c.message.empty() ? "" : "CResFile::Open - " + c.message + " <" + path + ">");
        EXPECT_EQ(ReadFileBytes(path), c.bytes) << c.name;
    }
}

// Ten entries, some damaged as a read must survive: 0 "Plain" stored; 1 "packed" with LZSS; 2 "cut", its stream a
// byte short; 3 "huge", claiming a GiB stored and unpacked; 4 "tiny", a length without a stream; 5 "edge", 17 stream
// bytes that may give 144; 6 "over", claiming 145 from them; 7 "head", stored at the file's start, its name filling
// the field; 8 "before", stored before the file's start; 9 "short", which the file's end cuts.
class ResFileReading : public testing::Test {
protected:
    ResFileReading()
    {
        const Bytes edge = WithI32(Bytes(kLzssPrefixSize + 17, 0), 0, 144);
        Bytes file = MakePackageBytes({{"Plain", ToBytes("plain bytes")}, {"packed", m_packed, 2, RC_LZSS},
                                       {"cut", Prefix(m_packed, m_packed.size() - 1), 2, RC_LZSS},
                                       {"huge", WithI32(m_packed, 0, -1), 2, RC_LZSS}, {"tiny", {5, 0, 0}, 2, RC_LZSS},
                                       {"edge", edge, 2, RC_LZSS}, {"over", WithI32(edge, 0, 145), 2, RC_LZSS},
                                       {"head", Bytes(20, 0)}, {"before", Bytes(4, 1)}, {"short", Bytes(300, 7)}});
        SetI32(file, RecordAt(file, 3) + kRecordSizeOffset, 1 << 30);
        SetI32(file, RecordAt(file, 7) + kRecordOffsetOffset, 0);
        SetI32(file, RecordAt(file, 8) + kRecordOffsetOffset, -1);
        std::fill_n(file.begin() + static_cast<std::ptrdiff_t>(RecordAt(file, 7)), kNameSize, 'h');
        file.resize(file.size() - 10);
        WriteFileBytes(m_path, file);
        m_file = file;
        EXPECT_EQ(m_package.Open(RA_READ), 1);
    }
    std::string ReadError(const std::string& name) const { return "Error read file <" + name + ">" + m_in; }

    ScratchDir m_dir;
    const std::string m_path = m_dir / "p.mtx";
    const std::string m_in = " in resource file <" + m_path + ">";
    const std::string m_badIndex = "error file number" + m_in;
    const Bytes m_text = ToBytes(std::string(500, 'q') + "end");
    const Bytes m_packed = Packed(m_text);
    Bytes m_file;
    CResFile m_package{m_path.c_str()};
};

TEST_F(ResFileReading, OpenLoadsEveryRecordWithItsNameCutToTheField)
{
    EXPECT_EQ(m_package.mfGetCount(), 10);
    EXPECT_EQ(m_package.mfGetCapacity(), 10);
    EXPECT_EQ(m_package.mfGetEntry(7).name, std::string(kNameSize - 1, 'h'));
}

TEST_F(ResFileReading, ReadModeRefusesToWrite)
{
    const std::string refused = " during RA_READ access mode" + m_in;
    EXPECT_EQ(Outcome(Add(m_package, "b", {2}), m_package), "-1 CResFile::mfFileAdd - Operation 'Add'" + refused);
    EXPECT_EQ(Outcome(m_package.mfFlush(), m_package), "-1 CResFile::mfFlush - Operation 'Flush'" + refused);
}

// Stored bytes, or unpacked ones, exactly filling the buffer at most; else nothing, naming the entry.
TEST_F(ResFileReading, WholeReadsDeliverTheEntryOrFailNamingIt)
{
    Bytes buffer(600, 0xAB);
    EXPECT_EQ(m_package.mfFileRead("plain", buffer.data()), 11);
    EXPECT_EQ(Prefix(buffer, 12), ToBytes("plain bytes\xAB"));
    EXPECT_EQ(m_package.mfFileRead(1, buffer.data(), 503), 503);
    EXPECT_EQ(Prefix(buffer, 503), m_text);
    const struct { const char* name; int32_t index; int64_t capacity; std::string message; } cases[] = {
        {"index below", -1, 600, m_badIndex}, {"index above", 10, 600, m_badIndex},
        {"no buffer", 0, 0, "data is NULL for file <Plain>" + m_in},
        {"stored bytes do not fit", 0, 10, ReadError("Plain")},
        {"unpacked bytes do not fit", 1, 502, ReadError("packed")}, {"stream cut", 2, 600, ReadError("cut")},
        {"a GiB claimed", 3, INT64_MAX, ReadError("huge")}, {"no stream", 4, 600, ReadError("tiny")},
        {"stored before the file", 8, 600, ReadError("before")}, {"cut by the file's end", 9, 600, ReadError("short")},
    };
    for (const auto& c : cases) {
        uint8_t* into = c.capacity ? buffer.data() : nullptr;
        EXPECT_EQ(Outcome(m_package.mfFileRead(c.index, into, c.capacity), m_package),
                  "0 CResFile::mfFileRead - " + c.message) << c.name;
    }
}

// What a whole read would deliver, or -1 where it would fail, naming the entry.
TEST_F(ResFileReading, SizesAreWhatWholeReadsDeliver)
{
    const struct { const char* name; int32_t index; int64_t size; std::string error; } cases[] = {
        {"index below", -1, -1, m_badIndex}, {"Plain", 0, 11, ""}, {"packed", 1, 503, ""}, {"cut", 2, 503, ""},
        {"huge", 3, -1, ReadError("huge")}, {"tiny", 4, -1, ReadError("tiny")}, {"edge", 5, 144, ""},
        {"over", 6, -1, ReadError("over")}, {"head", 7, 20, ""}, {"before", 8, -1, ReadError("before")},
        {"short", 9, -1, ReadError("short")}, {"index above", 10, -1, m_badIndex},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(m_package.mfFileSize(c.index), c.size) << c.name;
        if (c.size < 0) {
            EXPECT_EQ(ErrorOf(m_package), "CResFile::mfFileSize - " + c.error) << c.name;
        }
    }
}

// Pieces are stored bytes (an LZSS entry's length first) and run on past the entry into the file, up to its end.
TEST_F(ResFileReading, PiecewiseReadsGiveStoredBytesUpToTheFilesEnd)
{
    const struct { const char* name; int32_t index, len; Bytes out; } cases[] = {
        {"first piece", 0, 5, ToBytes("plain")}, {"second piece", 0, 6, ToBytes(" bytes")},
        {"past the entry", 0, 4, ToBytes("pack")}, {"an LZSS entry's length", 1, 4, {247, 1, 0, 0}},
        {"stored at the start", 7, 20, Prefix(m_file, 20)}, {"up to the end", 9, 290, Bytes(290, 7)},
        {"nothing", 9, 0, {}}, {"a negative length", 9, -1, {'-'}}, {"past the end", 9, 1, {'-'}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ReadPiece(m_package, c.index, c.len), c.out) << c.name;
    EXPECT_EQ(ErrorOf(m_package), "CResFile::mfFileRead2 - " + ReadError("short"));
    EXPECT_EQ(m_package.mfFileRead2("nothing", 1), nullptr);
    EXPECT_EQ(ErrorOf(m_package), "CResFile::mfFileRead2 - " + m_badIndex);
}

// The bytes a flush of `batch` appends to `file`: records at the end, each followed by its stored bytes, the
// next record after the longer of stored and unpacked length; the old tail (or the header) links to the first.
void AppendFlushed(Bytes& file, int32_t& tail, const std::vector<TestEntry>& batch)
{
    size_t position = file.size();
    for (const TestEntry& entry : batch) {
        const Bytes stored = entry.method == RC_LZSS ? Packed(entry.data) : entry.data;
        const auto at = static_cast<int32_t>(position);
        const Bytes alone = MakePackageBytes({{entry.name, stored, entry.type, entry.method}});
        const size_t link = tail < 0 ? kHeaderFirstRecordOffset : static_cast<size_t>(tail) + kRecordNextOffset;
        file.resize(position);
        file.insert(file.end(), alone.begin() + kHeaderSize, alone.end());
        SetI32(file, position + kRecordOffsetOffset, at + static_cast<int32_t>(kRecordSize));
        SetI32(file, position + kRecordPrevOffset, tail);
        SetI32(file, link, at);
        SetI32(file, kHeaderCountOffset, GetI32(file, kHeaderCountOffset) + 1);
        tail = at;
        position += kRecordSize + std::max(entry.data.size(), stored.size());
    }
}

TEST(ResFileFlush, RandomBatchesAppendExactlyTheirBytes)
{
    std::mt19937 random(1207);
    for (int round = 0; round < 24; ++round) {
        ScratchDir dir;
        const std::string path = dir / "p.mtx";
        auto package = std::make_unique<CResFile>(path.c_str());
        ASSERT_EQ(package->Open(RA_WRITE | RA_CREATE), 1);
        Bytes expected = MakePackageBytes({});
        int32_t tail = -1;
        std::vector<TestEntry> all;
        for (int batch = 0; batch < 3; ++batch) {
            const size_t flushed = all.size();
            for (uint32_t k = random() % 4; k-- > 0;) {
                std::string name = "N" + std::to_string(all.size()) + "_";
                name.append(random() % 3 ? random() % 8 : 70 - name.size(), "xYzW"[random() % 4]);
                Bytes data(1 + random() % 400);
                for (size_t i = 0; i < data.size(); ++i)
                    data[i] = static_cast<uint8_t>(random() % 4 ? i / 9 : random());
                const auto type = static_cast<int32_t>(random() % 6);
                all.push_back({name.substr(0, kNameSize - 1), data, type, random() % 2 ? RC_LZSS : RC_NONE});
                const auto count = static_cast<int32_t>(all.size());
                ASSERT_EQ(Add(*package, name, data, all.back().method, all.back().type), count);
                ASSERT_EQ(Add(*package, "empty", {}), count);  // refused without a word
            }
            ASSERT_EQ(package->mfFlush(), 1) << ErrorOf(*package);
            AppendFlushed(expected, tail, {all.begin() + static_cast<std::ptrdiff_t>(flushed), all.end()});
            ASSERT_EQ(ReadFileBytes(path), expected) << round << " " << batch;
            if (!all.empty()) {
                EXPECT_EQ(ReadEntries(path), all);  // as a new handle reads them
            }
            for (size_t i = 0; i < all.size(); ++i)  // and the flushing handle
                ASSERT_EQ(ReadWhole(*package, static_cast<int32_t>(i)), all[i].data);
            if (random() % 2 && !all.empty()) {  // go on through a handle opened for update
                package = std::make_unique<CResFile>(path.c_str());
                ASSERT_EQ(package->Open(RA_READ | RA_WRITE), 1);
            }
        }
    }
}

// A handle's pending entry is not flushed once the package changed under it, and the file keeps its bytes.
TEST(ResFileFlush, APendingFlushFailsWhenThePackageChangedMeanwhile)
{
    ScratchDir dir;
    const std::string path = dir / "p.mtx";
    const std::string in = " in resource file <" + path + ">";
    const Bytes two = MakePackageBytes({{"one", Bytes(5, 1)}, {"two", Bytes(5, 2)}});
    const auto appendElsewhere = [&] {
        CResFile other(path.c_str());
        ASSERT_EQ(other.Open(RA_READ | RA_WRITE), 1);
        ASSERT_EQ(Add(other, "theirs", Bytes(9, 3)), 3);
        ASSERT_EQ(other.mfFlush(), 1) << ErrorOf(other);
    };
    const auto cutTheLastRecord = [&] { std::filesystem::resize_file(path, RecordAt(two, 1) + 10); };
    const struct { const char* name; std::function<void()> change; std::string error; } cases[] = {
        {"another handle appended", appendElsewhere, "Error number directory files" + in},
        {"the file was cut", cutTheLastRecord, "Error read directory" + in},
    };
    for (const auto& c : cases) {
        WriteFileBytes(path, two);
        CResFile mine(path.c_str());
        ASSERT_EQ(mine.Open(RA_READ | RA_WRITE), 1);
        ASSERT_EQ(Add(mine, "mine", Bytes(7, 2)), 3);
        c.change();
        const Bytes changed = ReadFileBytes(path);
        EXPECT_EQ(Outcome(mine.mfFlush(), mine), "0 CResFile::mfFlush - " + c.error) << c.name;
        EXPECT_EQ(ReadFileBytes(path), changed) << c.name;
    }
}

// A handle on a new, flushed package "p.mtx".
class ResFileWriting : public testing::Test {
protected:
    ResFileWriting()
    {
        EXPECT_EQ(m_package.Open(RA_WRITE | RA_CREATE), 1);
        EXPECT_EQ(m_package.mfFlush(), 1);
    }
    ScratchDir m_dir;
    const std::string m_path = m_dir / "p.mtx";
    const std::string m_in = " in resource file <" + m_path + ">";
    CResFile m_package{m_path.c_str()};
};

TEST_F(ResFileWriting, AnUnopenedHandleNeverWritesItsEntries)
{
    CResFile unopened((m_dir / "other.mtx").c_str());
    ASSERT_EQ(Add(unopened, "a", {1}), 1);
    EXPECT_EQ(Outcome(unopened.mfFlush(), unopened),
              "0 CResFile::mfFlush - No open stream for resource file <" + m_dir / "other.mtx>");
    unopened.mfClose();
    EXPECT_EQ(unopened.mfGetCount(), 0);
}

TEST_F(ResFileWriting, AddRefusesEntriesItCannotStore)
{
    EXPECT_EQ(m_package.mfFileAdd(nullptr), 0);
    EXPECT_EQ(Add(m_package, "", {1}), 0);
    EXPECT_EQ(m_package.mfGetCapacity(), 0);
    EXPECT_EQ(Add(m_package, "odd", {1}, 7), 0);
    EXPECT_EQ(ErrorOf(m_package), "CResFile::mfFileAdd - Unknown storage method 7 for file <odd>" + m_in);
}

// Pieces of a pending entry come from the handle's copy, never past its bytes; whole reads need it flushed.
TEST_F(ResFileWriting, PendingEntriesReadOnlyPiecewise)
{
    const Bytes data = ToBytes("0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ+/");
    ASSERT_EQ(Add(m_package, "pending", data, RC_LZSS), 1);
    EXPECT_EQ(ReadPiece(m_package, 0, 60), Prefix(data, 60));
    EXPECT_EQ(ReadPiece(m_package, 0, 5), Bytes{'-'});
    EXPECT_EQ(ErrorOf(m_package), "CResFile::mfFileRead2 - Error read file <pending>" + m_in);
    EXPECT_EQ(ReadPiece(m_package, 0, 4), Bytes(data.end() - 4, data.end()));
    EXPECT_EQ(m_package.mfFileSize(0), -1);
    EXPECT_EQ(m_package.mfFileRead(0, Bytes(64).data()), 0);
    EXPECT_EQ(ErrorOf(m_package), "CResFile::mfFileRead - Error read file <pending>" + m_in);
}

TEST_F(ResFileWriting, TheDirectoryGrowsByAQuarterPlusThirtyTwo)
{
    ASSERT_EQ(Add(m_package, "e1", {1}), 1);
    EXPECT_EQ(m_package.mfGetCapacity(), 33);
    for (int32_t i = 2; i <= 34; ++i)
        ASSERT_EQ(Add(m_package, "e" + std::to_string(i), {2}, RC_LZSS), i);
    EXPECT_EQ(m_package.mfGetCapacity(), 74);
    ASSERT_EQ(m_package.mfFlush(), 1);
    EXPECT_EQ(ReadEntries(m_path).size(), 34u);
}

// No offset may pass the signed 32-bit range; a package ending exactly at its end is fine.
TEST_F(ResFileWriting, NoFlushPassesTheOffsetRange)
{
    ASSERT_EQ(Add(m_package, "first", {1}), 1);
    ASSERT_EQ(m_package.mfFlush(), 1);
    ASSERT_EQ(m_package.mfClose(), 1);
    const uintmax_t roomForOneEntry = uintmax_t{INT32_MAX} - kRecordSize - 1000;
    std::filesystem::resize_file(m_path, roomForOneEntry);
    for (size_t size : {1001, 1000}) {
        CResFile big(m_path.c_str());
        ASSERT_EQ(big.Open(RA_READ | RA_WRITE), 1);
        ASSERT_EQ(Add(big, "big", Bytes(size, 4)), 2);
        const bool fits = size == 1000;
        EXPECT_EQ(Outcome(big.mfFlush(), big), fits ? "1 " : "0 CResFile::mfFlush - Error write directory" + m_in);
        EXPECT_EQ(std::filesystem::file_size(m_path), fits ? uintmax_t{INT32_MAX} : roomForOneEntry);
    }
}

#ifndef _WIN32  // a full disk comes from the file-size limit
// Room for part of the record, or for part of the data: the flush fails, the file keeps its bytes, and the pending
// entry is written by the next flush.
TEST_F(ResFileWriting, AFullDiskLeavesTheEntryPending)
{
    const std::string path = m_dir / "full.mtx";
    for (const auto& [room, what] : {std::pair<size_t, std::string>{50, "directory"}, {500, "file <second>"}}) {
        std::filesystem::remove(path);
        CResFile package(path.c_str());
        ASSERT_EQ(package.Open(RA_WRITE | RA_CREATE), 1);
        ASSERT_EQ(Add(package, "first", Bytes(500, 1)), 1);
        ASSERT_EQ(package.mfFlush(), 1);
        const Bytes old = ReadFileBytes(path);
        Add(package, "second", Bytes(1000, 2), RC_NONE, 5);
        auto limit = std::make_unique<FileSizeLimit>(old.size() + room);
        const std::string outcome = Outcome(package.mfFlush(), package);
        limit.reset();
        EXPECT_EQ(outcome, "0 CResFile::mfFlush - Error write " + what + " in resource file <" + path + ">");
        EXPECT_EQ(Prefix(ReadFileBytes(path), old.size()), old);
        ASSERT_EQ(package.mfFlush(), 1);
        EXPECT_EQ(ReadEntries(path).at(1), (TestEntry{"second", Bytes(1000, 2), 5}));
    }
}
#endif

}  // namespace
