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
#include <functional>
#include <memory>
#include <random>

namespace {

std::string Err(const CResFile& package) { return package.mfGetError() ? package.mfGetError() : ""; }
std::string In(const std::string& path) { return " in resource file <" + path + ">"; }

// Records at 20, 308 and 596; the file could hold nine records.
Bytes Three()
{
    return MakePackageBytes({{"alpha", Bytes(200, 1)}, {"beta", Bytes(200, 2), 5, RC_LZSS}, {"gamma", Bytes(200, 3)}});
}

Bytes With(Bytes bytes, const std::function<void(Bytes&)>& change)
{
    change(bytes);
    return bytes;
}

// Adds an entry from a buffer that is wiped at once: the handle must keep its own copy.
int32_t Add(CResFile& package, const std::string& name, const Bytes& data, int32_t method = RC_NONE, int32_t type = 2)
{
    Bytes copy = data;
    DirEntry entry{};
    std::memcpy(entry.name, name.data(), std::min(name.size(), kNameSize));
    entry.size = static_cast<int32_t>(copy.size());
    entry.type = type;
    entry.method = method;
    entry.data = copy.data();
    const int32_t count = package.mfFileAdd(&entry);
    std::fill(copy.begin(), copy.end(), 0xEE);
    return count;
}

Bytes ReadWhole(CResFile& package, int32_t index)
{
    Bytes out(static_cast<size_t>(std::max<int64_t>(package.mfFileSize(index), 0)));
    out.resize(static_cast<size_t>(package.mfFileRead(index, out.data(), static_cast<int64_t>(out.size()))));
    return out;
}

Bytes ReadPiece(CResFile& package, int32_t index, int32_t len)
{
    uint8_t* piece = package.mfFileRead2(index, len);
    const Bytes out = piece ? Bytes(piece, piece + len) : Bytes{'-'};
    std::free(piece);
    return out;
}

TEST(ResFileOpen, DamagedPackagesFailWithTheirMessage)
{
    const std::string count = "CResFile::Open - Error number directory files in resource file";
    const std::string directory = "CResFile::Open - Error read directory in resource file";
    const std::string access = "CResFile::Open - Error access mode for file";
    const Bytes good = Three();
    const struct {
        const char* label;
        bool exists;
        Bytes bytes;
        int32_t mode;
        std::string message;  // empty: opens
    } cases[] = {
        {"missing", false, {}, RA_READ, "CResFile::Open - Can't open for read resource file"},
        {"missing, update", false, {}, RA_READ | RA_WRITE, "CResFile::Open - Can't open for write resource file"},
        {"empty file", true, {}, RA_READ, "CResFile::Open - Error read header in resource file"},
        {"19 bytes", true, Bytes(good.begin(), good.begin() + 19), RA_READ, "CResFile::Open - Error read header in resource file"},
        {"magic", true, With(good, [](Bytes& b) { b[3] = 'k'; }), RA_READ, "CResFile::Open - Error header-id in resource file"},
        {"version", true, With(good, [](Bytes& b) { SetI32(b, 4, 2); }), RA_READ,
         "CResFile::Open - Error version number in resource file"},
        {"no entries", true, MakePackageBytes({}), RA_READ | RA_WRITE, "CResFile::Open - Empty resource file"},
        {"count negative", true, With(good, [](Bytes& b) { SetI32(b, 12, -3); }), RA_READ, count},
        {"count huge", true, With(good, [](Bytes& b) { SetI32(b, 12, INT_MAX); }), RA_READ, count},
        {"count past what fits", true, With(good, [](Bytes& b) { SetI32(b, 12, 10); }), RA_READ, count},
        {"chain too short", true, With(good, [](Bytes& b) { SetI32(b, 12, 4); }), RA_READ, count},
        {"chain too long", true, With(good, [](Bytes& b) { SetI32(b, 12, 2); }), RA_READ, count},
        {"no first record", true, With(good, [](Bytes& b) { SetI32(b, 16, -1); }), RA_READ, count},
        {"chain loops", true, With(good, [](Bytes& b) { SetI32(b, 596 + 72, 308); }), RA_READ, count},
        {"record past end", true, With(good, [](Bytes& b) { SetI32(b, 308 + 72, 1 << 30); }), RA_READ, directory},
        {"record cut short", true, With(good, [](Bytes& b) { SetI32(b, 308 + 72, 884 - 87); }), RA_READ, directory},
        {"records fill the file", true, MakePackageBytes({{"a", {}}, {"b", {}}}), RA_READ, ""},
        {"mode 0", true, good, 0, access},
        {"mode write only", true, good, RA_WRITE, access},
        {"mode read create", true, good, RA_READ | RA_CREATE, access},
        {"mode 8", true, good, 8, access},
        {"mode -1", true, good, -1, access},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        const std::string path = dir / "p.mtx";
        if (c.exists)
            WriteFileBytes(path, c.bytes);
        CResFile package(path.c_str());
        EXPECT_EQ(package.Open(c.mode), c.message.empty() ? 1 : 0) << c.label;
        EXPECT_EQ(Err(package), c.message.empty() ? "" : c.message + " <" + path + ">")
            << c.label;
        EXPECT_EQ(ReadFileBytes(path), c.bytes) << c.label;
        EXPECT_EQ(FileExists(path), c.exists) << c.label;
    }
    ScratchDir dir;
    const std::string unreachable = dir / "missing/p.mtx";
    CResFile created(unreachable.c_str());
    EXPECT_EQ(created.Open(RA_WRITE | RA_CREATE), 0);
    EXPECT_EQ(Err(created), "CResFile::Open - Can't create resource file <" + unreachable + ">");
    CResFile unnamed("");
    EXPECT_EQ(unnamed.Open(RA_READ), 0);
    EXPECT_EQ(Err(unnamed), "CResFile::Open - No Resource name");

    // Every prefix that holds the whole directory opens; every shorter one fails.
    for (size_t length = 0; length <= good.size(); ++length) {
        WriteFileBytes(dir / "p.mtx", Bytes(good.begin(), good.begin() + static_cast<long>(length)));
        CResFile package((dir / "p.mtx").c_str());
        ASSERT_EQ(package.Open(RA_READ), length >= 596 + 88 ? 1 : 0) << length;
    }
}

TEST(ResFileOpen, LoadsTheChainInChainOrderAndClosesToANamelessHandle)
{
    ScratchDir dir;
    Bytes bytes = Three();
    SetI32(bytes, 16, 596);  // chain: gamma, alpha, beta
    SetI32(bytes, 596 + 72, 20);
    SetI32(bytes, 20 + 72, 308);
    SetI32(bytes, 308 + 72, -7);  // any negative offset ends the chain
    SetI32(bytes, 8, -1);  // compactFlag is not read
    std::fill(bytes.begin() + 596 + 6, bytes.begin() + 596 + 64, 'Z');  // "gamma\0" then garbage
    std::fill(bytes.begin() + 20, bytes.begin() + 20 + 64, 'n');  // no terminator at all
    WriteFileBytes(dir / "p.mtx", bytes);
    CResFile package((dir / "p.mtx").c_str());
    ASSERT_EQ(package.Open(0), 0);
    ASSERT_EQ(package.Open(RA_READ), 1);
    EXPECT_EQ(Err(package), "CResFile::Open - Error access mode for file <" + dir / "p.mtx>");  // kept
    ASSERT_EQ(package.mfGetCount(), 3);
    EXPECT_EQ(package.mfGetCapacity(), 3);
    const std::string names[] = {"gamma", std::string(63, 'n'), "beta"};
    const int32_t offsets[] = {684, 108, 396};
    for (int32_t i = 0; i < 3; ++i) {
        const DirEntry& entry = package.mfGetEntry(i);
        EXPECT_EQ(entry.name, names[i]);
        EXPECT_EQ(entry.size, 200);
        EXPECT_EQ(entry.offset, offsets[i]);
        EXPECT_EQ(entry.type, i == 2 ? 5 : 2);
        EXPECT_EQ(entry.method, i == 2 ? RC_LZSS : RC_NONE);
        EXPECT_TRUE(entry.readPos == 0 && entry.data == nullptr && entry.flags == 0);
    }
    EXPECT_EQ(package.mfClose(), 1);
    EXPECT_STREQ(package.mfGetName(), "");
    EXPECT_EQ(package.Open(RA_READ), 0);
    EXPECT_EQ(Err(package), "CResFile::Open - No Resource name");
}

TEST(ResFileRead, WholeSizedAndPiecewiseReadsAndTheirFailures)
{
    ScratchDir dir;
    const std::string path = dir / "p.mtx";
    const Bytes text = ToBytes(std::string(500, 'q') + "end");
    Bytes cut = Packed(text);
    cut.pop_back();
    Bytes edge(4 + 17, 0);  // 17 stream bytes can unpack to at most 144
    SetI32(edge, 0, 144);
    const Bytes plain = ToBytes("plain bytes");
    Bytes file = MakePackageBytes({{"Plain", plain},
                                   {"packed", Packed(text), 2, RC_LZSS},
                                   {"cut", cut, 2, RC_LZSS},
                                   {"huge", With(Packed(text), [](Bytes& b) { SetI32(b, 0, -1); }), 2, RC_LZSS},
                                   {"tiny", {5, 0, 0}, 2, RC_LZSS},
                                   {"edge", edge, 2, RC_LZSS},
                                   {"over", With(edge, [](Bytes& b) { SetI32(b, 0, 145); }), 2, RC_LZSS},
                                   {"header", {}},
                                   {"short", Bytes(300, 7)}});
    file.resize(file.size() - 10);
    WriteFileBytes(path, file);
    CResFile package(path.c_str());
    ASSERT_EQ(package.Open(RA_READ), 1);
    EXPECT_EQ(package.mfFileGetNum("PLAIN"), 0);
    EXPECT_EQ(package.mfFileGetNum("Edge"), 5);
    EXPECT_EQ(Err(package), "");
    EXPECT_EQ(package.mfFileGetNum("edg"), -1);
    EXPECT_EQ(Err(package), "CResFile::mfFileGetNum - Can't find file <edg>" + In(path));

    Bytes buffer(600, 0xAB);
    EXPECT_EQ(package.mfFileRead("plain", buffer.data()), 11);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 12), With(plain, [](Bytes& b) { b.push_back(0xAB); }));
    EXPECT_EQ(package.mfFileRead(1, buffer.data(), 503), 503);  // exactly the unpacked length fits
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 503), text);
    const std::string badIndex = "error file number" + In(path);
    const auto readError = [&](const char* name) { return "Error read file <" + std::string(name) + ">" + In(path); };
    const struct {
        int32_t index;
        void* dst;
        int64_t capacity;
        std::string message;
    } failures[] = {
        {-1, buffer.data(), 600, badIndex}, {9, buffer.data(), 600, badIndex},
        {0, nullptr, 600, "data is NULL for file <Plain>" + In(path)},
        {0, buffer.data(), 10, readError("Plain")}, {1, buffer.data(), 502, readError("packed")},
        {2, buffer.data(), 600, readError("cut")}, {3, buffer.data(), LLONG_MAX, readError("huge")},
        {4, buffer.data(), 600, readError("tiny")}, {8, buffer.data(), 600, readError("short")},
    };
    for (const auto& c : failures) {
        EXPECT_EQ(package.mfFileRead(c.index, c.dst, c.capacity), 0) << c.index;
        EXPECT_EQ(Err(package), "CResFile::mfFileRead - " + c.message) << c.index;
    }
    const int64_t sizes[] = {11, 503, 503, -1, -1, 144, -1, 0, 300, -1};
    for (int32_t i = -1; i < 10; ++i) {
        EXPECT_EQ(package.mfFileSize(i), sizes[i < 0 ? 9 : i]) << i;
        if (sizes[i < 0 ? 9 : i] < 0) {
            EXPECT_EQ(Err(package), "CResFile::mfFileSize - " + (i < 0 || i == 9 ? badIndex : readError(package.mfGetEntry(i).name)));
        }
    }
    // Piecewise reads give stored bytes and run on past the entry into the file.
    EXPECT_EQ(ReadPiece(package, 0, 5), ToBytes("plain"));
    EXPECT_EQ(ReadPiece(package, 0, 6), ToBytes(" bytes"));
    EXPECT_EQ(ReadPiece(package, 0, 4), ToBytes("pack"));  // the next record's name
    EXPECT_EQ(package.mfGetEntry(0).readPos, 15);
    EXPECT_EQ(ReadPiece(package, 1, 4), Bytes({247, 1, 0, 0}));  // stored: the unpacked length first
    EXPECT_EQ(ReadPiece(package, 8, 290), Bytes(290, 7));
    EXPECT_EQ(ReadPiece(package, 8, 0), Bytes{});
    EXPECT_EQ(ReadPiece(package, 8, 1), Bytes{'-'});  // the file ends; the position stays
    EXPECT_EQ(Err(package), "CResFile::mfFileRead2 - Error read file <short>" + In(path));
    EXPECT_EQ(package.mfGetEntry(8).readPos, 290);
    EXPECT_EQ(ReadPiece(package, 8, -1), Bytes{'-'});
    EXPECT_EQ(ReadPiece(package, 9, 1), Bytes{'-'});
    EXPECT_EQ(Err(package), "CResFile::mfFileRead2 - " + badIndex);
    EXPECT_EQ(package.mfFileRead2("nothing", 1), nullptr);
    EXPECT_EQ(Err(package), "CResFile::mfFileRead2 - " + badIndex);
}

TEST(ResFileRead, EntryAtTheStartOfTheFileReadsTheHeader)
{
    ScratchDir dir;
    Bytes file = MakePackageBytes({{"head", Bytes(20, 0)}});
    SetI32(file, 20 + 68, 0);
    WriteFileBytes(dir / "p.mtx", file);
    CResFile package((dir / "p.mtx").c_str());
    ASSERT_EQ(package.Open(RA_READ), 1);
    EXPECT_EQ(ReadPiece(package, 0, 20), Bytes(file.begin(), file.begin() + 20));
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
        std::memcpy(&file[position], entry.name.data(), std::min<size_t>(entry.name.size(), 63));
        const int32_t at = static_cast<int32_t>(position);
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
        ASSERT_EQ(ReadFileBytes(path), expected);
        int32_t tail = -1;
        std::vector<TestEntry> all;
        for (int batch = 0; batch < 3; ++batch) {
            std::vector<TestEntry> added;
            for (uint32_t k = random() % 4; k-- > 0;) {
                std::string name = "N" + std::to_string(all.size() + added.size()) + "_";
                name.append(random() % 3 ? random() % 8 : 70 - name.size(), "xYzW"[random() % 4]);
                Bytes data(1 + random() % 400);
                for (size_t i = 0; i < data.size(); ++i)
                    data[i] = random() % 4 ? static_cast<uint8_t>(i / 9) : static_cast<uint8_t>(random());
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
        for (size_t i = 0; i < all.size(); ++i) {
            std::string shouted = all[i].name;
            std::transform(shouted.begin(), shouted.end(), shouted.begin(), [](char c) {
                return static_cast<char>(std::isalpha(static_cast<unsigned char>(c)) ? c ^ 0x20 : c);
            });
            EXPECT_EQ(reader.mfFileGetNum(shouted.c_str()), static_cast<int32_t>(i));
            EXPECT_EQ(reader.mfFileSize(static_cast<int32_t>(i)), static_cast<int64_t>(all[i].data.size()));
            EXPECT_EQ(ReadWhole(reader, static_cast<int32_t>(i)), all[i].data);
            const Bytes stored = all[i].method == RC_LZSS ? Packed(all[i].data) : all[i].data;
            EXPECT_EQ(ReadPiece(reader, static_cast<int32_t>(i), static_cast<int32_t>(stored.size())), stored);
        }
    }
}

TEST(ResFileFlush, RefusalsAndPendingEntries)
{
    ScratchDir dir;
    const std::string path = dir / "p.mtx";
    CResFile unopened(path.c_str());
    ASSERT_EQ(Add(unopened, "a", {1}), 1);
    EXPECT_EQ(unopened.mfFlush(), 0);
    EXPECT_EQ(Err(unopened), "CResFile::mfFlush - No open stream for resource file <" + path + ">");
    EXPECT_FALSE(FileExists(path));

    CResFile package(path.c_str());
    ASSERT_EQ(package.Open(RA_WRITE | RA_CREATE), 1);
    EXPECT_EQ(package.mfFlush(), 1);
    EXPECT_EQ(package.mfGetCapacity(), 0);
    uint8_t byte = 1;
    DirEntry incomplete{};
    incomplete.data = &byte;
    incomplete.size = 1;
    EXPECT_EQ(package.mfFileAdd(&incomplete), 0);  // no name
    EXPECT_EQ(package.mfFileAdd(nullptr), 0);
    EXPECT_EQ(Add(package, "odd", {1}, 7), 0);
    EXPECT_EQ(Err(package), "CResFile::mfFileAdd - Unknown storage method 7 for file <odd>" + In(path));
    Bytes data(64);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 5);
    ASSERT_EQ(Add(package, "pending", data, RC_LZSS), 1);
    EXPECT_EQ(package.mfGetCapacity(), 33);
    EXPECT_EQ(ReadPiece(package, 0, 60), Bytes(data.begin(), data.begin() + 60));
    EXPECT_EQ(ReadPiece(package, 0, 5), Bytes{'-'});  // never past a pending entry's bytes
    EXPECT_EQ(Err(package), "CResFile::mfFileRead2 - Error read file <pending>" + In(path));
    EXPECT_EQ(ReadPiece(package, 0, 4), Bytes(data.end() - 4, data.end()));
    EXPECT_EQ(package.mfFileSize(0), -1);  // nothing on disk yet
    Bytes buffer(64);
    EXPECT_EQ(package.mfFileRead(0, buffer.data()), 0);
    EXPECT_EQ(Err(package), "CResFile::mfFileRead - Error read file <pending>" + In(path));
    for (int32_t i = 2; i <= 34; ++i)
        ASSERT_EQ(Add(package, "e" + std::to_string(i), {2}), i);
    EXPECT_EQ(package.mfGetCapacity(), 74);  // grows by a quarter and 32
    ASSERT_EQ(package.mfFlush(), 1);
    // Nothing pending: a flush writes nothing, so a header damaged behind its back stays.
    const Bytes damaged = With(ReadFileBytes(path), [](Bytes& b) { SetI32(b, 8, 77); });
    WriteFileBytes(path, damaged);
    EXPECT_EQ(package.mfFlush(), 1);
    EXPECT_EQ(ReadFileBytes(path), damaged);
    package.mfClose();

    CResFile reader(path.c_str());
    ASSERT_EQ(reader.Open(RA_READ), 1);
    EXPECT_EQ(ReadWhole(reader, 0), data);
    EXPECT_EQ(Add(reader, "b", {2}), -1);
    EXPECT_EQ(Err(reader), "CResFile::mfFileAdd - Operation 'Add' during RA_READ access mode" + In(path));
    EXPECT_EQ(reader.mfFlush(), -1);
    EXPECT_EQ(Err(reader), "CResFile::mfFlush - Operation 'Flush' during RA_READ access mode" + In(path));

    // An empty package fails to open for update but keeps its stream, so it can be filled.
    CResFile fresh((dir / "fresh.mtx").c_str());
    ASSERT_EQ(fresh.Open(RA_WRITE | RA_CREATE), 1);
    CResFile filler((dir / "fresh.mtx").c_str());
    EXPECT_EQ(filler.Open(RA_READ | RA_WRITE), 0);
    ASSERT_EQ(Add(filler, "first", {9, 8}), 1);
    ASSERT_EQ(filler.mfFlush(), 1);
    EXPECT_EQ(ReadFileBytes(dir / "fresh.mtx"), MakePackageBytes({{"first", {9, 8}}}));
}

TEST(ResFileFlush, FailedFlushesLeaveThePackageAsItWas)
{
    ScratchDir dir;
    const std::string path = dir / "p.mtx";
    // Another handle made the chain longer than this handle's directory.
    WriteFileBytes(path, MakePackageBytes({{"one", {1}}}));
    CResFile stale(path.c_str());
    ASSERT_EQ(stale.Open(RA_READ | RA_WRITE), 1);
    {
        CResFile other(path.c_str());
        ASSERT_EQ(other.Open(RA_READ | RA_WRITE), 1);
        Add(other, "two", {2});
        Add(other, "three", {3});
        ASSERT_EQ(other.mfFlush(), 1);
    }
    const Bytes before = ReadFileBytes(path);
    Add(stale, "four", {4});
    EXPECT_EQ(stale.mfFlush(), 0);
    EXPECT_EQ(Err(stale), "CResFile::mfFlush - Error number directory files" + In(path));
    EXPECT_EQ(ReadFileBytes(path), before);
    stale.mfClose();

    // No offset may pass the signed 32-bit range; ending exactly at it is fine.
    const int64_t end = INT32_MAX - 88 - 1000;
    std::filesystem::resize_file(path, static_cast<uintmax_t>(end));
    for (size_t size : {1001, 1000}) {
        CResFile package(path.c_str());
        ASSERT_EQ(package.Open(RA_READ | RA_WRITE), 1);
        Add(package, "big", Bytes(size, 4));
        EXPECT_EQ(package.mfFlush(), size == 1000 ? 1 : 0);
        EXPECT_EQ(Err(package), size == 1000 ? "" : "CResFile::mfFlush - Error write directory" + In(path));
        EXPECT_EQ(std::filesystem::file_size(path), static_cast<uintmax_t>(size == 1000 ? INT32_MAX : end));
    }
    std::filesystem::remove(path);

#ifndef _WIN32  // a full disk comes from the file-size limit
    // Room for part of the record, or for the record and part of its data.
    for (size_t room : {50, 500}) {
        CResFile package(path.c_str());
        ASSERT_EQ(package.Open(RA_WRITE | RA_CREATE), 1);
        Add(package, "first", Bytes(500, 1));
        ASSERT_EQ(package.mfFlush(), 1);
        const Bytes old = ReadFileBytes(path);
        Add(package, "second", Bytes(1000, 2), RC_NONE, 5);
        {
            FileSizeLimit limit(old.size() + room);
            EXPECT_EQ(package.mfFlush(), 0);
        }
        EXPECT_EQ(Err(package), "CResFile::mfFlush - Error write " +
                                    std::string(room == 50 ? "directory" : "file <second>") + In(path));
        EXPECT_EQ(package.mfGetEntry(1).flags, DE_PENDING);
        const Bytes now = ReadFileBytes(path);
        EXPECT_EQ(Bytes(now.begin(), now.begin() + static_cast<long>(old.size())), old);
        CResFile reader(path.c_str());
        ASSERT_EQ(reader.Open(RA_READ), 1);
        EXPECT_EQ(reader.mfGetCount(), 1);
        ASSERT_EQ(package.mfFlush(), 1);  // with room again the pending entry is written
        package.mfClose();
        CResFile after(path.c_str());
        ASSERT_EQ(after.Open(RA_READ), 1);
        EXPECT_EQ(ReadWhole(after, 1), Bytes(1000, 2));
        std::filesystem::remove(path);
    }
#endif
}

}  // namespace
