// CResFile: Open on damaged packages, reading entries, adding them and the bytes flushing writes.
#include "archive/ResFile.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>

namespace {

std::string Err(const CResFile& package) { return ErrorOf(package); }
Bytes Set(Bytes bytes, size_t at, int32_t value) { return SetI32(bytes, at, value), bytes; }

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

TEST(ResFile, OpenOnDamageAndWholeSizedAndPiecewiseReads)
{
    ScratchDir dir;
    const std::string path = dir / "p.mtx";
    // Records at 20, 308 and 596, the directory ends at 684; the file could hold nine records.
    const Bytes good = MakePackageBytes({{"alpha", Bytes(200, 1)}, {"beta", Bytes(200, 2)}, {"gamma", Bytes(200, 3)}});
    const std::string inFile = " in resource file", count = "Error number directory files" + inFile;
    const std::string directory = "Error read directory" + inFile, access = "Error access mode for file";
    const auto cut = [&](long size) { return Bytes(good.begin(), good.begin() + size); };
    // No bytes: no file; no message: opens.
    const struct { Bytes bytes; std::string message; int32_t mode = RA_READ; } cases[] = {
        {{}, "Can't open for read resource file"}, {{}, "Can't open for write resource file", RA_READ | RA_WRITE},
        {MakePackageBytes({}), "Empty resource file", RA_READ | RA_WRITE}, {cut(19), "Error read header" + inFile},
        {Set(good, 0, 0x6B43504D), "Error header-id" + inFile}, {Set(good, 4, 2), "Error version number" + inFile},
        {Set(good, 12, -3), count}, {Set(good, 12, INT32_MAX), count}, {Set(good, 12, 4), count},
        {Set(good, 12, 2), count}, {Set(good, 12, 10), count},  // more than the file could hold
        {Set(good, 16, -1), count}, {Set(good, 596 + 72, 308), count},  // the chain loops
        {Set(good, 308 + 72, 1 << 30), directory}, {Set(good, 308 + 72, 884 - 87), directory}, {cut(683), directory},
        {MakePackageBytes({{"a", {}}, {"b", {}}}), ""},  // records fill the file
        {good, access, 0}, {good, access, RA_WRITE}, {good, access, RA_READ | RA_CREATE}, {good, access, 8},
        {good, access, -1}, {cut(684), ""},  // data cut off is found later
    };
    for (const auto& c : cases) {
        std::filesystem::remove(path);
        if (!c.bytes.empty())
            WriteFileBytes(path, c.bytes);
        CResFile package(path.c_str());
        EXPECT_EQ(package.Open(c.mode), c.message.empty() ? 1 : 0) << c.message;
        EXPECT_EQ(Err(package), c.message.empty() ? "" : "CResFile::Open - " + c.message + " <" + path + ">");
        EXPECT_EQ(ReadFileBytes(path), c.bytes) << c.message;
    }
    CResFile created((dir / "missing/p.mtx").c_str());
    EXPECT_EQ(created.Open(RA_WRITE | RA_CREATE), 0);
    EXPECT_EQ(Err(created), "CResFile::Open - Can't create resource file <" + dir / "missing/p.mtx>");
    const std::string in = " in resource file <" + path + ">";
    const Bytes text = ToBytes(std::string(500, 'q') + "end"), packed = Packed(text);
    const Bytes edge = Set(Bytes(4 + 17, 0), 0, 144);  // 17 stream bytes give at most 144
    Bytes file = MakePackageBytes({{"Plain", ToBytes("plain bytes")}, {"packed", packed, 2, RC_LZSS},
                                   {"cut", Bytes(packed.begin(), packed.end() - 1), 2, RC_LZSS},
                                   {"huge", Set(packed, 0, -1), 2, RC_LZSS}, {"tiny", {5, 0, 0}, 2, RC_LZSS},
                                   {"edge", edge, 2, RC_LZSS}, {"over", Set(edge, 0, 145), 2, RC_LZSS},
                                   {"head", Bytes(20, 0)}, {"short", Bytes(300, 7)}});
    const size_t head = 20 + 7 * 88 + 11 + 3 * packed.size() - 1 + 3 + 2 * 21;  // the record of "head"
    SetI32(file, head + 68, 0);  // "head" starts at the header
    SetI32(file, 20 + 3 * 88 + 11 + 2 * packed.size() - 1 + 64, 1 << 30);  // "huge" claims a GiB stored
    std::fill(file.begin() + head, file.begin() + head + 64, 'h');  // a name without terminator
    file.resize(file.size() - 10);
    WriteFileBytes(path, file);
    CResFile package(path.c_str());
    ASSERT_EQ(package.Open(RA_READ), 1);
    EXPECT_EQ(package.mfGetEntry(7).name, std::string(63, 'h'));
    EXPECT_EQ(package.mfFileGetNum("PLAIN"), 0);
    EXPECT_EQ(package.mfFileGetNum("Edge"), 5);
    EXPECT_EQ(package.mfGetCapacity(), 9);
    EXPECT_EQ(Outcome(package.mfFileGetNum("edg"), package), "-1 CResFile::mfFileGetNum - Can't find file <edg>" + in);
    const std::string refused = " during RA_READ access mode" + in;
    EXPECT_EQ(Outcome(Add(package, "b", {2}), package), "-1 CResFile::mfFileAdd - Operation 'Add'" + refused);
    EXPECT_EQ(Outcome(package.mfFlush(), package), "-1 CResFile::mfFlush - Operation 'Flush'" + refused);
    Bytes buffer(600, 0xAB);
    EXPECT_EQ(package.mfFileRead("plain", buffer.data()), 11);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 12), ToBytes("plain bytes\xAB"));
    EXPECT_EQ(package.mfFileRead(1, buffer.data(), 503), 503);  // exactly the unpacked length fits
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 503), text);
    const std::string badIndex = "error file number" + in;
    const auto readError = [&](const std::string& name) { return "Error read file <" + name + ">" + in; };
    const struct { int32_t index; int64_t capacity; std::string message; } failures[] = {  // capacity 0: no buffer
        {-1, 600, badIndex}, {9, 600, badIndex}, {0, 0, "data is NULL for file <Plain>" + in},
        {0, 10, readError("Plain")}, {1, 502, readError("packed")}, {2, 600, readError("cut")},
        {3, INT64_MAX, readError("huge")}, {4, 600, readError("tiny")}, {8, 600, readError("short")},
    };
    for (const auto& c : failures)
        EXPECT_EQ(Outcome(package.mfFileRead(c.index, c.capacity ? buffer.data() : nullptr, c.capacity), package),
                  "0 CResFile::mfFileRead - " + c.message);
    const int64_t sizes[] = {-1, 11, 503, 503, -1, -1, 144, -1, 20, -1, -1};  // the file cuts "short" off
    for (int32_t i = -1; i < 10; ++i) {
        EXPECT_EQ(package.mfFileSize(i), sizes[i + 1]) << i;
        const std::string error = i < 0 || i == 9 ? badIndex : readError(package.mfGetEntry(i).name);
        EXPECT_TRUE(sizes[i + 1] >= 0 || Err(package) == "CResFile::mfFileSize - " + error) << i;
    }
    // Piecewise reads give stored bytes (the unpacked length first) and run on past the entry into the file.
    const struct { int32_t index, len; Bytes out; } pieces[] = {
        {0, 5, ToBytes("plain")}, {0, 6, ToBytes(" bytes")}, {0, 4, ToBytes("pack")}, {1, 4, {247, 1, 0, 0}},
        {7, 20, Bytes(file.begin(), file.begin() + 20)}, {8, 290, Bytes(290, 7)}, {8, 0, {}}, {8, -1, {'-'}},
        {8, 1, {'-'}},  // the file ends
    };
    for (const auto& c : pieces)
        EXPECT_EQ(ReadPiece(package, c.index, c.len), c.out) << c.index << " " << c.len;
    EXPECT_EQ(Err(package), "CResFile::mfFileRead2 - " + readError("short"));
    EXPECT_EQ(package.mfFileRead2("nothing", 1), nullptr);
    EXPECT_EQ(Err(package), "CResFile::mfFileRead2 - " + badIndex);
    EXPECT_EQ(package.mfClose(), 1);  // the handle forgets its name
    EXPECT_EQ(Outcome(package.Open(RA_READ), package), "0 CResFile::Open - No Resource name");
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
        file.resize(position);
        file.insert(file.end(), alone.begin() + 20, alone.end());
        SetI32(file, position + 68, at + 88);
        SetI32(file, position + 76, tail);
        SetI32(file, tail < 0 ? 16 : static_cast<size_t>(tail) + 72, at);
        SetI32(file, 12, GetI32(file, 12) + 1);
        tail = at;
        position += 88 + std::max(entry.data.size(), stored.size());
    }
}

// The first bytes of entries stored as they are and packed, as mfFileReadHead delivers them.
class ResFileReadHead : public testing::Test {
protected:
    ResFileReadHead()
    {
        WriteFileBytes(m_dir / "p.mtx", MakePackageBytes({{"plain", m_text}, {"packed", Packed(m_text), 2, RC_LZSS}}));
        EXPECT_EQ(m_package.Open(RA_READ), 1);
    }
    // The first `count` bytes of entry `index`, as many as were delivered.
    Bytes Head(int32_t index, int32_t count)
    {
        Bytes head(static_cast<size_t>(count));
        head.resize(static_cast<size_t>(m_package.mfFileReadHead(index, head.data(), count)));
        return head;
    }
    ScratchDir m_dir;
    Bytes m_text = ToBytes("abcabcabcabc, then some words that do not repeat, and abcabc once more");
    CResFile m_package{(m_dir / "p.mtx").c_str()};
};

TEST_F(ResFileReadHead, DeliversTheFirstBytesOfAStoredEntry)
{
    EXPECT_EQ(Head(0, 20), Bytes(m_text.begin(), m_text.begin() + 20));
}

TEST_F(ResFileReadHead, DeliversTheFirstBytesOfAPackedEntry)
{
    EXPECT_EQ(Head(1, 20), Bytes(m_text.begin(), m_text.begin() + 20));
}

TEST(ResFileFlush, RandomBatchesWriteExactBytesAndReadBack)
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
                all.push_back({name.substr(0, 63), data, static_cast<int32_t>(random() % 6),
                               random() % 2 ? RC_LZSS : RC_NONE});
                const auto count = static_cast<int32_t>(all.size());
                ASSERT_EQ(Add(*package, name, data, all.back().method, all.back().type), count);
                ASSERT_EQ(Add(*package, "empty", {}), count);  // refused without a word
            }
            ASSERT_EQ(package->mfFlush(), 1) << Err(*package);
            AppendFlushed(expected, tail, {all.begin() + flushed, all.end()});
            ASSERT_EQ(ReadFileBytes(path), expected) << round << " " << batch;
            CResFile fresh(path.c_str());
            ASSERT_EQ(fresh.Open(RA_READ), all.empty() ? 0 : 1);
            ASSERT_EQ(fresh.mfGetCount(), static_cast<int32_t>(all.size()));
            for (size_t i = 0; i < all.size(); ++i) {  // the flushing handle and a new one read every entry
                const auto index = static_cast<int32_t>(i);
                ASSERT_EQ(ReadWhole(*package, index), all[i].data);
                EXPECT_EQ(fresh.mfFileGetNum(all[i].name.c_str()), index);
                EXPECT_EQ(fresh.mfFileSize(index), static_cast<int64_t>(all[i].data.size()));
                EXPECT_EQ(ReadWhole(fresh, index), all[i].data);
            }
            if (random() % 2 && !all.empty()) {  // go on through a handle opened for update
                package = std::make_unique<CResFile>(path.c_str());
                ASSERT_EQ(package->Open(RA_READ | RA_WRITE), 1);
            }
        }
    }
}

// A handle's pending entry must not be flushed once another handle has appended to the package.
TEST(ResFileFlush, PendingFlushFailsAfterAnotherHandleAppended)
{
    ScratchDir dir;
    const std::string path = dir / "p.mtx";
    WriteFileBytes(path, MakePackageBytes({{"one", Bytes(5, 1)}}));
    CResFile a(path.c_str()), b(path.c_str());
    ASSERT_EQ(a.Open(RA_READ | RA_WRITE), 1);
    ASSERT_EQ(Add(a, "mine", Bytes(7, 2)), 2);
    ASSERT_EQ(b.Open(RA_READ | RA_WRITE), 1);
    ASSERT_EQ(Add(b, "theirs", Bytes(9, 3)), 2);
    ASSERT_EQ(b.mfFlush(), 1) << Err(b);
    const Bytes written = ReadFileBytes(path);
    EXPECT_EQ(Outcome(a.mfFlush(), a),
              "0 CResFile::mfFlush - Error number directory files in resource file <" + path + ">");
    EXPECT_EQ(ReadFileBytes(path), written);
}

TEST(ResFileFlush, RefusalsPendingEntriesAndFailures)
{
    ScratchDir dir;
    const std::string path = dir / "p.mtx", in = " in resource file <" + path + ">";
    CResFile unopened(path.c_str());
    ASSERT_EQ(Add(unopened, "a", {1}), 1);
    EXPECT_EQ(Outcome(unopened.mfFlush(), unopened),
              "0 CResFile::mfFlush - No open stream for resource file <" + path + ">");
    unopened.mfClose();
    EXPECT_EQ(unopened.mfGetCount(), 0);  // closing drops the pending entry
    CResFile package(path.c_str());
    ASSERT_EQ(package.Open(RA_WRITE | RA_CREATE), 1);
    ASSERT_EQ(package.mfFlush(), 1);
    EXPECT_EQ(package.mfFileAdd(nullptr), 0);
    EXPECT_EQ(Add(package, "", {1}), 0);
    EXPECT_EQ(package.mfGetCapacity(), 0);
    EXPECT_EQ(Add(package, "odd", {1}, 7), 0);
    EXPECT_EQ(Err(package), "CResFile::mfFileAdd - Unknown storage method 7 for file <odd>" + in);
    const Bytes data = ToBytes("0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ+/");
    ASSERT_EQ(Add(package, "pending", data, RC_LZSS), 1);
    EXPECT_EQ(package.mfGetCapacity(), 33);
    EXPECT_EQ(ReadPiece(package, 0, 60), Bytes(data.begin(), data.begin() + 60));
    EXPECT_EQ(ReadPiece(package, 0, 5), Bytes{'-'});  // never past a pending entry's bytes
    EXPECT_EQ(Err(package), "CResFile::mfFileRead2 - Error read file <pending>" + in);
    EXPECT_EQ(ReadPiece(package, 0, 4), Bytes(data.end() - 4, data.end()));
    EXPECT_EQ(package.mfFileSize(0), -1);  // nothing on disk yet
    EXPECT_EQ(package.mfFileRead(0, Bytes(64).data()), 0);
    EXPECT_EQ(Err(package), "CResFile::mfFileRead - Error read file <pending>" + in);
    for (int32_t i = 2; i <= 34; ++i)
        ASSERT_EQ(Add(package, "e" + std::to_string(i), {2}, RC_LZSS), i);
    EXPECT_EQ(package.mfGetCapacity(), 74);  // grows by a quarter and 32
    ASSERT_EQ(package.mfFlush(), 1);
    package.mfClose();
    // No offset may pass the signed 32-bit range; ending exactly at it is fine.
    std::filesystem::resize_file(path, INT32_MAX - 88 - 1000);
    for (size_t size : {1001, 1000}) {
        CResFile big(path.c_str());
        ASSERT_EQ(big.Open(RA_READ | RA_WRITE), 1);
        ASSERT_EQ(Add(big, "big", Bytes(size, 4)), 35);
        const std::string error = "0 CResFile::mfFlush - Error write directory" + in;
        EXPECT_EQ(Outcome(big.mfFlush(), big), size == 1000 ? "1 " : error);
        EXPECT_EQ(std::filesystem::file_size(path), uintmax_t{INT32_MAX} - (size == 1000 ? 0 : 88 + 1000));
    }
    std::filesystem::remove(path);
#ifndef _WIN32  // a full disk comes from the file-size limit; room for part of the record, or for part of the data
    for (const auto& [room, what] : {std::pair<size_t, std::string>{50, "directory"}, {500, "file <second>"}}) {
        CResFile package(path.c_str());
        ASSERT_EQ(package.Open(RA_WRITE | RA_CREATE), 1);
        ASSERT_EQ(Add(package, "first", Bytes(500, 1)), 1);
        ASSERT_EQ(package.mfFlush(), 1);
        const Bytes old = ReadFileBytes(path);
        Add(package, "second", Bytes(1000, 2), RC_NONE, 5);
        auto limit = std::make_unique<FileSizeLimit>(old.size() + room);
        const std::string outcome = Outcome(package.mfFlush(), package);
        limit.reset();
        EXPECT_EQ(outcome, "0 CResFile::mfFlush - Error write " + what + in);
        Bytes now = ReadFileBytes(path);
        EXPECT_EQ((now.resize(old.size()), now), old);
        ASSERT_EQ(package.mfFlush(), 1);  // with room again the pending entry is written
        CResFile reader(path.c_str());
        EXPECT_EQ(reader.Open(RA_READ) == 1 ? ReadWhole(reader, 1) : Bytes(), Bytes(1000, 2));
        std::filesystem::remove(path);
    }
#endif
}

}  // namespace
