// CResFile: Open on damaged packages, reading entries, adding them and the bytes flushing writes.
#include "archive/ResFile.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>

namespace {

std::string Err(const CResFile& package) { return package.mfGetError() ? package.mfGetError() : ""; }

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
    uint8_t* piece = package.mfFileRead2(index, len);
    const Bytes out = piece ? Bytes(piece, piece + len) : Bytes{'-'};
    std::free(piece);
    return out;
}

TEST(ResFileOpen, EveryDamageHasItsMessage)
{
    // Records at 20, 308 and 596, the directory ends at 684; the file could hold nine records.
    const Bytes good = MakePackageBytes({{"alpha", Bytes(200, 1)}, {"beta", Bytes(200, 2)}, {"gamma", Bytes(200, 3)}});
    const std::string in = " in resource file", count = "Error number directory files" + in;
    const std::string directory = "Error read directory" + in, access = "Error access mode for file";
    // No bytes: no file; no message: opens.
    const struct { Bytes bytes; int32_t mode; std::string message; } cases[] = {
        {{}, RA_READ, "Can't open for read resource file"}, {{}, RA_READ | RA_WRITE, "Can't open for write resource file"},
        {Bytes(good.begin(), good.begin() + 19), RA_READ, "Error read header" + in},
        {Set(good, 0, 0x6B43504D), RA_READ, "Error header-id" + in},
        {Set(good, 4, 2), RA_READ, "Error version number" + in},
        {MakePackageBytes({}), RA_READ | RA_WRITE, "Empty resource file"},
        {Set(good, 12, -3), RA_READ, count}, {Set(good, 12, INT_MAX), RA_READ, count},
        {Set(good, 12, 10), RA_READ, count},  // more than the file could hold
        {Set(good, 12, 4), RA_READ, count}, {Set(good, 12, 2), RA_READ, count}, {Set(good, 16, -1), RA_READ, count},
        {Set(good, 596 + 72, 308), RA_READ, count},  // the chain loops
        {Set(good, 308 + 72, 1 << 30), RA_READ, directory}, {Set(good, 308 + 72, 884 - 87), RA_READ, directory},
        {Bytes(good.begin(), good.begin() + 683), RA_READ, directory},
        {Bytes(good.begin(), good.begin() + 684), RA_READ, ""},  // data cut off is found later
        {MakePackageBytes({{"a", {}}, {"b", {}}}), RA_READ, ""},  // records fill the file
        {good, 0, access}, {good, RA_WRITE, access}, {good, RA_READ | RA_CREATE, access}, {good, 8, access},
        {good, -1, access},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        const std::string path = dir / "p.mtx";
        if (!c.bytes.empty())
            WriteFileBytes(path, c.bytes);
        CResFile package(path.c_str());
        EXPECT_EQ(package.Open(c.mode), c.message.empty() ? 1 : 0) << c.message;
        EXPECT_EQ(Err(package), c.message.empty() ? "" : "CResFile::Open - " + c.message + " <" + path + ">");
        EXPECT_EQ(ReadFileBytes(path), c.bytes) << c.message;
    }
    ScratchDir dir;
    CResFile created((dir / "missing/p.mtx").c_str());
    EXPECT_EQ(created.Open(RA_WRITE | RA_CREATE), 0);
    EXPECT_EQ(Err(created), "CResFile::Open - Can't create resource file <" + dir / "missing/p.mtx>");
    CResFile unnamed("");
    EXPECT_EQ(unnamed.Open(RA_READ), 0);
    EXPECT_EQ(Err(unnamed), "CResFile::Open - No Resource name");
}

TEST(ResFileRead, WholeSizedAndPiecewiseReadsAndTheirFailures)
{
    ScratchDir dir;
    const std::string path = dir / "p.mtx", in = " in resource file <" + path + ">";
    const Bytes text = ToBytes(std::string(500, 'q') + "end");
    const Bytes packed = Packed(text), edge = Set(Bytes(4 + 17, 0), 0, 144);  // 17 stream bytes give at most 144
    Bytes file = MakePackageBytes({{"Plain", ToBytes("plain bytes")}, {"packed", packed, 2, RC_LZSS},
                                   {"cut", Bytes(packed.begin(), packed.end() - 1), 2, RC_LZSS},
                                   {"huge", Set(packed, 0, -1), 2, RC_LZSS}, {"tiny", {5, 0, 0}, 2, RC_LZSS},
                                   {"edge", edge, 2, RC_LZSS}, {"over", Set(edge, 0, 145), 2, RC_LZSS},
                                   {"head", Bytes(20, 0)}, {"short", Bytes(300, 7)}});
    int32_t head = 20;
    for (int i = 0; i < 7; ++i)
        head = GetI32(file, static_cast<size_t>(head) + 72);
    SetI32(file, static_cast<size_t>(head) + 68, 0);  // "head" starts at the header
    std::fill(file.begin() + head, file.begin() + head + 64, 'h');  // a name without terminator
    file.resize(file.size() - 10);
    WriteFileBytes(path, file);
    CResFile package(path.c_str());
    ASSERT_EQ(package.Open(RA_READ), 1);
    EXPECT_EQ(package.mfGetCapacity(), 9);
    EXPECT_EQ(package.mfGetEntry(7).name, std::string(63, 'h'));
    EXPECT_EQ(package.mfFileGetNum("PLAIN") + package.mfFileGetNum("Edge"), 5);
    EXPECT_EQ(Err(package), "");
    EXPECT_EQ(package.mfFileGetNum("edg"), -1);
    EXPECT_EQ(Err(package), "CResFile::mfFileGetNum - Can't find file <edg>" + in);

    Bytes buffer(600, 0xAB);
    EXPECT_EQ(package.mfFileRead("plain", buffer.data()), 11);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 12), ToBytes("plain bytes\xAB"));
    EXPECT_EQ(package.mfFileRead(1, buffer.data(), 503), 503);  // exactly the unpacked length fits
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 503), text);
    const std::string badIndex = "error file number" + in;
    const auto readError = [&](const std::string& name) { return "Error read file <" + name + ">" + in; };
    const struct { int32_t index; void* dst; int64_t capacity; std::string message; } failures[] = {
        {-1, buffer.data(), 600, badIndex}, {9, buffer.data(), 600, badIndex},
        {0, nullptr, 600, "data is NULL for file <Plain>" + in}, {0, buffer.data(), 10, readError("Plain")},
        {1, buffer.data(), 502, readError("packed")}, {2, buffer.data(), 600, readError("cut")},
        {3, buffer.data(), LLONG_MAX, readError("huge")}, {4, buffer.data(), 600, readError("tiny")},
        {8, buffer.data(), 600, readError("short")},
    };
    for (const auto& c : failures) {
        EXPECT_EQ(package.mfFileRead(c.index, c.dst, c.capacity), 0) << c.index;
        EXPECT_EQ(Err(package), "CResFile::mfFileRead - " + c.message) << c.index;
    }
    const int64_t sizes[] = {-1, 11, 503, 503, -1, -1, 144, -1, 20, 300, -1};
    for (int32_t i = -1; i < 10; ++i) {
        EXPECT_EQ(package.mfFileSize(i), sizes[i + 1]) << i;
        const std::string error = i < 0 || i == 9 ? badIndex : readError(package.mfGetEntry(i).name);
        EXPECT_TRUE(sizes[i + 1] >= 0 || Err(package) == "CResFile::mfFileSize - " + error) << i;
    }
    // Piecewise reads give stored bytes and run on past the entry into the file.
    EXPECT_EQ(ReadPiece(package, 0, 5), ToBytes("plain"));
    EXPECT_EQ(ReadPiece(package, 0, 6), ToBytes(" bytes"));
    EXPECT_EQ(ReadPiece(package, 0, 4), ToBytes("pack"));  // the next record's name
    EXPECT_EQ(ReadPiece(package, 1, 4), Bytes({247, 1, 0, 0}));  // the unpacked length first
    EXPECT_EQ(ReadPiece(package, 7, 20), Bytes(file.begin(), file.begin() + 20));
    EXPECT_EQ(ReadPiece(package, 8, 290), Bytes(290, 7));
    EXPECT_EQ(ReadPiece(package, 8, 0), Bytes{});
    EXPECT_EQ(ReadPiece(package, 8, 1), Bytes{'-'});  // the file ends; the position stays
    EXPECT_EQ(Err(package), "CResFile::mfFileRead2 - " + readError("short"));
    EXPECT_EQ(ReadPiece(package, 8, -1), Bytes{'-'});
    EXPECT_EQ(package.mfFileRead2("nothing", 1), nullptr);
    EXPECT_EQ(Err(package), "CResFile::mfFileRead2 - " + badIndex);
    EXPECT_EQ(package.mfClose(), 1);  // the handle forgets its name
    EXPECT_EQ(package.Open(RA_READ), 0);
    EXPECT_EQ(Err(package), "CResFile::Open - No Resource name");
}

// The bytes a flush of `batch` appends to `file`: records at the end, each followed by its
// stored bytes, the next record after the longer of stored and unpacked length; the old
// tail (or the header) links to the first.
void AppendFlushed(Bytes& file, int32_t& tail, const std::vector<TestEntry>& batch)
{
    size_t position = file.size();
    for (const TestEntry& entry : batch) {
        const Bytes stored = entry.method == RC_LZSS ? Packed(entry.data) : entry.data;
        file.resize(position + 88, 0);
        std::memcpy(&file[position], entry.name.data(), entry.name.size());
        const auto at = static_cast<int32_t>(position);
        for (const auto& [field, value] : {std::pair<size_t, int32_t>{64, static_cast<int32_t>(stored.size())},
                                           {68, at + 88}, {72, -1}, {76, tail}, {80, entry.type}, {84, entry.method}})
            SetI32(file, position + field, value);
        SetI32(file, tail < 0 ? 16 : static_cast<size_t>(tail) + 72, at);
        SetI32(file, 12, GetI32(file, 12) + 1);
        file.insert(file.end(), stored.begin(), stored.end());
        tail = at;
        position += 88 + std::max(entry.data.size(), stored.size());
    }
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
            std::vector<TestEntry> added;
            for (uint32_t k = random() % 4; k-- > 0;) {
                std::string name = "N" + std::to_string(all.size() + added.size()) + "_";
                name.append(random() % 3 ? random() % 8 : 70 - name.size(), "xYzW"[random() % 4]);
                Bytes data(1 + random() % 400);
                for (size_t i = 0; i < data.size(); ++i)
                    data[i] = static_cast<uint8_t>(random() % 4 ? i / 9 : random());
                const TestEntry entry{name.substr(0, 63), data, static_cast<int32_t>(random() % 6),
                                      random() % 2 ? RC_LZSS : RC_NONE};
                const auto count = static_cast<int32_t>(all.size() + added.size() + 1);
                ASSERT_EQ(Add(*package, name, data, entry.method, entry.type), count);
                ASSERT_EQ(Add(*package, "empty", {}), count);  // refused without a word
                EXPECT_EQ(package->mfGetEntry(count - 1).flags, DE_PENDING);
                added.push_back(entry);
            }
            ASSERT_EQ(package->mfFlush(), 1) << Err(*package);
            AppendFlushed(expected, tail, added);
            ASSERT_EQ(ReadFileBytes(path), expected) << round << " " << batch;
            all.insert(all.end(), added.begin(), added.end());
            for (size_t i = 0; i < all.size(); ++i)  // the flushing handle reads its entries
                ASSERT_EQ(ReadWhole(*package, static_cast<int32_t>(i)), all[i].data);
            if (random() % 2 && !all.empty()) {  // go on through a handle opened for update
                package = std::make_unique<CResFile>(path.c_str());
                ASSERT_EQ(package->Open(RA_READ | RA_WRITE), 1);
            }
        }
        CResFile reader(path.c_str());
        ASSERT_EQ(reader.Open(RA_READ), all.empty() ? 0 : 1);
        ASSERT_EQ(reader.mfGetCount(), static_cast<int32_t>(all.size()));
        for (int32_t i = 0; i < reader.mfGetCount(); ++i) {
            const TestEntry& entry = all[static_cast<size_t>(i)];
            std::string swapped = entry.name;
            for (char& c : swapped)  // names hold lower and upper case letters
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            EXPECT_EQ(reader.mfFileGetNum(swapped.c_str()), i);
            EXPECT_EQ(reader.mfFileSize(i), static_cast<int64_t>(entry.data.size()));
            EXPECT_EQ(ReadWhole(reader, i), entry.data);
        }
    }
}

TEST(ResFileFlush, RefusalsPendingEntriesAndFailures)
{
    ScratchDir dir;
    const std::string path = dir / "p.mtx", in = " in resource file <" + path + ">";
    CResFile unopened(path.c_str());
    ASSERT_EQ(Add(unopened, "a", {1}), 1);
    EXPECT_EQ(unopened.mfFlush(), 0);
    EXPECT_EQ(Err(unopened), "CResFile::mfFlush - No open stream for resource file <" + path + ">");
    EXPECT_FALSE(FileExists(path));
    EXPECT_EQ(unopened.mfClose() + unopened.mfGetCount(), 1);  // closing drops the pending entry
    CResFile package(path.c_str());
    ASSERT_EQ(package.Open(RA_WRITE | RA_CREATE), 1);
    EXPECT_EQ(package.mfFlush(), 1);
    EXPECT_EQ(package.mfFileAdd(nullptr) + Add(package, "", {1}), 0);
    EXPECT_EQ(Add(package, "odd", {1}, 7), 0);
    EXPECT_EQ(Err(package), "CResFile::mfFileAdd - Unknown storage method 7 for file <odd>" + in);
    EXPECT_EQ(package.mfGetCapacity(), 0);
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
    // Nothing pending: a flush writes nothing, so a header damaged behind its back stays.
    const Bytes damaged = Set(ReadFileBytes(path), 8, 77);
    WriteFileBytes(path, damaged);
    EXPECT_EQ(package.mfFlush(), 1);
    EXPECT_EQ(ReadFileBytes(path), damaged);
    package.mfClose();

    CResFile reader(path.c_str());
    ASSERT_EQ(reader.Open(RA_READ), 1);
    EXPECT_EQ(ReadWhole(reader, 0), data);
    EXPECT_EQ(Add(reader, "b", {2}), -1);
    EXPECT_EQ(Err(reader), "CResFile::mfFileAdd - Operation 'Add' during RA_READ access mode" + in);
    EXPECT_EQ(reader.mfFlush(), -1);
    EXPECT_EQ(Err(reader), "CResFile::mfFlush - Operation 'Flush' during RA_READ access mode" + in);
    reader.mfClose();

    // No offset may pass the signed 32-bit range; ending exactly at it is fine.
    const int64_t end = INT32_MAX - 88 - 1000;
    std::filesystem::resize_file(path, static_cast<uintmax_t>(end));
    for (size_t size : {1001, 1000}) {
        CResFile package(path.c_str());
        ASSERT_EQ(package.Open(RA_READ | RA_WRITE), 1);
        Add(package, "big", Bytes(size, 4));
        EXPECT_EQ(package.mfFlush(), size == 1000 ? 1 : 0);
        EXPECT_EQ(Err(package), size == 1000 ? "" : "CResFile::mfFlush - Error write directory" + in);
        EXPECT_EQ(std::filesystem::file_size(path), static_cast<uintmax_t>(size == 1000 ? INT32_MAX : end));
    }
    std::filesystem::remove(path);

#ifndef _WIN32  // a full disk comes from the file-size limit
    // Room for part of the record, or for the record and part of its data.
    for (size_t room : {50, 500}) {
        CResFile package(path.c_str());
        ASSERT_EQ(package.Open(RA_WRITE | RA_CREATE) + Add(package, "first", Bytes(500, 1)) + package.mfFlush(), 3);
        const Bytes old = ReadFileBytes(path);
        Add(package, "second", Bytes(1000, 2), RC_NONE, 5);
        {
            FileSizeLimit limit(old.size() + room);
            EXPECT_EQ(package.mfFlush(), 0);
        }
        EXPECT_EQ(Err(package), "CResFile::mfFlush - Error write " + std::string(room == 50 ? "directory" : "file <second>") + in);
        EXPECT_EQ(package.mfGetEntry(1).flags, DE_PENDING);
        const Bytes now = ReadFileBytes(path);
        EXPECT_EQ(Bytes(now.begin(), now.begin() + static_cast<long>(old.size())), old);
        ASSERT_EQ(package.mfFlush(), 1);  // with room again the pending entry is written
        CResFile reader(path.c_str());
        EXPECT_EQ(reader.Open(RA_READ) == 1 ? ReadWhole(reader, 1) : Bytes(), Bytes(1000, 2));
        std::filesystem::remove(path);
    }
#endif
}

}  // namespace
