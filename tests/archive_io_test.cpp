// CResFile entry I/O: lookup, whole and piecewise reads, adding, and the exact bytes that
// flushing leaves on disk, including flushes that fail.
#include "archive/Lzss.h"
#include "archive/ResFile.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

namespace {

Bytes Pattern(size_t size, uint32_t seed)
{
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>((i * 31 + seed * 7 + i / 5) & 0xFF);
    return bytes;
}

// Bytes that pack well: long runs.
Bytes Runs(size_t size)
{
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(i / 100);
    return bytes;
}


// Adds an entry from a buffer that dies with this call: the handle keeps its own copy.
int32_t Add(CResFile& package, const std::string& name, const Bytes& data, int32_t method = RC_NONE,
            int32_t type = RT_TEXTURE)
{
    Bytes scratch = data;
    DirEntry entry{};
    std::snprintf(entry.name, sizeof entry.name, "%s", name.c_str());
    entry.size = static_cast<int32_t>(scratch.size());
    entry.type = type;
    entry.method = method;
    entry.data = scratch.data();
    const int32_t result = package.mfFileAdd(&entry);
    std::fill(scratch.begin(), scratch.end(), 0xEE);
    return result;
}

int32_t Flush(CResFile& package)
{
    return package.mfFlush();
}

Bytes ReadWhole(CResFile& package, int32_t index)
{
    const DirEntry& entry = package.mfGetEntry(index);
    Bytes out(entry.method == RC_LZSS ? 1 << 20 : static_cast<size_t>(entry.size));
    const int32_t read = package.mfFileRead(index, out.data(), static_cast<int64_t>(out.size()));
    out.resize(static_cast<size_t>(read));
    return out;
}

Bytes ReadPiece(CResFile& package, int32_t index, int32_t len)
{
    std::unique_ptr<uint8_t, decltype(&std::free)> piece(package.mfFileRead2(index, len), &std::free);
    return piece ? Bytes(piece.get(), piece.get() + len) : Bytes();
}

std::string Error(const CResFile& package)
{
    return package.mfGetError() ? package.mfGetError() : "";
}

class ArchiveIo : public ::testing::Test {
protected:
    const char* PackageWith(const std::vector<TestEntry>& entries)
    {
        WriteFileBytes(m_Path, MakePackageBytes(entries));
        return m_Path.c_str();
    }
    std::string Message(const std::string& text) { return text + " in resource file <" + m_Path + ">"; }

    ScratchDir m_Dir;
    std::string m_Path = m_Dir / "test.mtx";
};

// --- lookup and reading -------------------------------------------------------------

TEST_F(ArchiveIo, LookupIgnoresLetterCaseAndFindsTheFirst)
{
    CResFile package(PackageWith({{"Palette", {1}}, {"A", {2}}, {"a", {3}}, {"wall_01", {4}}}));
    ASSERT_EQ(package.Open(RA_READ), 1);
    EXPECT_EQ(package.mfFileGetNum("palette"), 0);
    EXPECT_EQ(package.mfFileGetNum("PALETTE"), 0);
    EXPECT_EQ(package.mfFileGetNum("A"), 1);
    EXPECT_EQ(package.mfFileGetNum("a"), 1);
    EXPECT_EQ(package.mfFileGetNum("WALL_01"), 3);
    EXPECT_EQ(package.mfGetError(), nullptr);
    EXPECT_EQ(package.mfFileGetNum("wall_0"), -1);
    EXPECT_EQ(Error(package), "CResFile::mfFileGetNum - Can't find file <wall_0>" + Message(""));
}

TEST_F(ArchiveIo, ReadDeliversStoredAndUnpackedEntries)
{
    const Bytes plain = Pattern(1024, 1);
    const Bytes text = ToBytes(std::string(3000, 'x') + "tail");
    CResFile package(PackageWith({{"plain", plain}, {"packed", Packed(text), RT_TEXTURE, RC_LZSS}}));
    ASSERT_EQ(package.Open(RA_READ), 1);

    Bytes buffer(plain.size() + 16, 0xAB);
    EXPECT_EQ(package.mfFileRead(0, buffer.data()), 1024);
    EXPECT_TRUE(std::equal(plain.begin(), plain.end(), buffer.begin()));
    EXPECT_EQ(buffer[1024], 0xAB);   // nothing past the entry

    Bytes unpacked(text.size());
    EXPECT_EQ(package.mfFileRead("PACKED", unpacked.data()), static_cast<int32_t>(text.size()));
    EXPECT_EQ(unpacked, text);
    // The capacity form accepts a buffer of exactly the entry's length.
    EXPECT_EQ(package.mfFileRead(1, unpacked.data(), static_cast<int64_t>(text.size())),
              static_cast<int32_t>(text.size()));
    EXPECT_EQ(package.mfGetError(), nullptr);
}

TEST_F(ArchiveIo, ReadFailuresLeaveTheirMessage)
{
    const Bytes text = ToBytes(std::string(500, 'q'));
    Bytes cutStream = Packed(text);
    cutStream.resize(cutStream.size() - 1);
    Bytes hugePrefix = Packed(text);
    SetI32(hugePrefix, 0, -1);
    Bytes bytes = MakePackageBytes({{"plain", Pattern(100, 2)},
                                    {"packed", Packed(text), RT_TEXTURE, RC_LZSS},
                                    {"cut", cutStream, RT_TEXTURE, RC_LZSS},
                                    {"huge", hugePrefix, RT_TEXTURE, RC_LZSS},
                                    {"tiny", {5, 0}, RT_TEXTURE, RC_LZSS},
                                    {"short", Pattern(300, 3)}});
    bytes.resize(bytes.size() - 10);
    WriteFileBytes(m_Path, bytes);
    CResFile package(m_Path.c_str());
    ASSERT_EQ(package.Open(RA_READ), 1);
    Bytes buffer(1000);
    const std::string badIndex = "CResFile::mfFileRead - error file number" + Message("");
    auto readError = [&](const char* name) {
        return "CResFile::mfFileRead - Error read file <" + std::string(name) + ">" + Message("");
    };
    const struct {
        const char* what;
        int32_t index;
        void* dst;
        int64_t capacity;
        std::string message;
    } cases[] = {
        {"negative index", -1, buffer.data(), 1000, badIndex},
        {"index past the end", 6, buffer.data(), 1000, badIndex},
        {"no buffer", 0, nullptr, 1000, "CResFile::mfFileRead - data is NULL for file <plain>" + Message("")},
        {"plain entry too big", 0, buffer.data(), 99, readError("plain")},
        {"unpacked entry too big", 1, buffer.data(), 499, readError("packed")},
        {"stream ends early", 2, buffer.data(), 1000, readError("cut")},
        {"absurd unpacked length", 3, buffer.data(), std::numeric_limits<int64_t>::max(), readError("huge")},
        {"no room for the length", 4, buffer.data(), 1000, readError("tiny")},
        {"file ends inside the entry", 5, buffer.data(), 1000, readError("short")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(package.mfFileRead(c.index, c.dst, c.capacity), 0);
        EXPECT_EQ(Error(package), c.message);
    }
    EXPECT_EQ(package.mfFileRead("nothing", buffer.data()), 0);
    EXPECT_EQ(Error(package), badIndex);
}

TEST_F(ArchiveIo, PiecewiseReadContinuesWhereItStopped)
{
    const Bytes first = Pattern(400, 4);
    const Bytes second = Pattern(50, 5);
    CResFile package(PackageWith({{"tex", first}, {"next", second}}));
    ASSERT_EQ(package.Open(RA_READ), 1);
    EXPECT_EQ(ReadPiece(package, 0, 108), Bytes(first.begin(), first.begin() + 108));
    EXPECT_EQ(ReadPiece(package, 0, 200), Bytes(first.begin() + 108, first.begin() + 308));
    EXPECT_EQ(ReadPiece(package, 0, 92), Bytes(first.begin() + 308, first.end()));
    // Past the entry's bytes come the bytes that follow it in the file: the next record.
    const Bytes beyond = ReadPiece(package, 0, 88);
    ASSERT_EQ(beyond.size(), 88u);
    EXPECT_EQ(std::string(beyond.begin(), beyond.begin() + 4), std::string("next"));
    EXPECT_EQ(package.mfGetEntry(0).readPos, 488);
    EXPECT_EQ(package.mfGetEntry(1).readPos, 0);

    // Asking for more than the file holds fails and leaves the position, so a smaller retry
    // starts at the same place.
    EXPECT_EQ(package.mfFileRead2("NEXT", 51), nullptr);
    EXPECT_EQ(Error(package), "CResFile::mfFileRead2 - Error read file <next>" + Message(""));
    EXPECT_EQ(package.mfGetEntry(1).readPos, 0);
    EXPECT_EQ(ReadPiece(package, 1, 50), second);

    EXPECT_EQ(package.mfFileRead2(2, 1), nullptr);
    EXPECT_EQ(Error(package), "CResFile::mfFileRead2 - error file number" + Message(""));
    EXPECT_EQ(package.mfFileRead2("missing", 1), nullptr);
    EXPECT_EQ(Error(package), "CResFile::mfFileRead2 - error file number" + Message(""));

    // Packed entries come as stored, length prefix included.
    const Bytes stored = Packed(Runs(2000));
    CResFile packed(PackageWith({{"p", stored, RT_TEXTURE, RC_LZSS}}));
    ASSERT_EQ(packed.Open(RA_READ), 1);
    EXPECT_EQ(ReadPiece(packed, 0, static_cast<int32_t>(stored.size())), stored);
}

TEST_F(ArchiveIo, PiecewiseReadOfPendingEntryStaysInsideItsBytes)
{
    CResFile package(m_Path.c_str());
    ASSERT_EQ(package.Open(RA_WRITE | RA_CREATE), 1);
    const Bytes data = Pattern(64, 6);
    ASSERT_EQ(Add(package, "pending", data), 1);
    EXPECT_EQ(ReadPiece(package, 0, 60), Bytes(data.begin(), data.begin() + 60));
    EXPECT_EQ(package.mfFileRead2(0, 5), nullptr);
    EXPECT_EQ(Error(package), "CResFile::mfFileRead2 - Error read file <pending>" + Message(""));
    EXPECT_EQ(ReadPiece(package, 0, 4), Bytes(data.begin() + 60, data.end()));
    // A whole read has nothing on disk to read yet.
    Bytes buffer(64);
    EXPECT_EQ(package.mfFileRead(0, buffer.data()), 0);
    EXPECT_EQ(Error(package), "CResFile::mfFileRead - Error read file <pending>" + Message(""));
}

// --- adding -------------------------------------------------------------------------

TEST_F(ArchiveIo, AddRefusesIncompleteEntriesSilently)
{
    CResFile package(m_Path.c_str());
    ASSERT_EQ(package.Open(RA_WRITE | RA_CREATE), 1);
    ASSERT_EQ(Add(package, "one", {1}), 1);
    uint8_t byte = 0;
    DirEntry complete{};
    std::strcpy(complete.name, "x");
    complete.size = 1;
    complete.data = &byte;
    DirEntry noSize = complete, noName = complete, noData = complete;
    noSize.size = 0;
    noName.name[0] = '\0';
    noData.data = nullptr;
    const DirEntry* const incomplete[] = {&noSize, &noName, &noData, nullptr};
    for (const DirEntry* entry : incomplete)
        EXPECT_EQ(package.mfFileAdd(entry), 1);
    EXPECT_EQ(package.mfGetError(), nullptr);
    EXPECT_EQ(package.mfGetCount(), 1);
}

TEST_F(ArchiveIo, DirectoryGrowsByAQuarterPlus32)
{
    CResFile package(m_Path.c_str());
    ASSERT_EQ(package.Open(RA_WRITE | RA_CREATE), 1);
    EXPECT_EQ(package.mfGetCapacity(), 0);
    ASSERT_EQ(Add(package, "e1", {1}), 1);
    EXPECT_EQ(package.mfGetCapacity(), 33);
    const DirEntry* array = &package.mfGetEntry(0);
    for (int32_t i = 2; i <= 33; ++i)
        ASSERT_EQ(Add(package, "e" + std::to_string(i), {2}), i);
    EXPECT_EQ(&package.mfGetEntry(0), array);   // no reallocation up to the capacity
    EXPECT_EQ(package.mfGetCapacity(), 33);
    ASSERT_EQ(Add(package, "e34", {3}), 34);
    EXPECT_EQ(package.mfGetCapacity(), 74);
    const DirEntry& added = package.mfGetEntry(33);
    EXPECT_STREQ(added.name, "e34");
    EXPECT_EQ(added.flags, DE_PENDING);
}

TEST_F(ArchiveIo, ReadOnlyHandleRefusesAddAndFlush)
{
    CResFile package(PackageWith({{"a", {1}}}));
    ASSERT_EQ(package.Open(RA_READ), 1);
    EXPECT_EQ(Add(package, "b", {2}), -1);
    EXPECT_EQ(Error(package), "CResFile::mfFileAdd - Operation 'Add' during RA_READ access mode" + Message(""));
    EXPECT_EQ(package.mfFlush(), -1);
    EXPECT_EQ(Error(package), "CResFile::mfFlush - Operation 'Flush' during RA_READ access mode" + Message(""));
    EXPECT_EQ(package.mfGetCount(), 1);
}

TEST_F(ArchiveIo, FlushWithoutStreamFailsCleanly)
{
    CResFile package(m_Path.c_str());
    ASSERT_EQ(Add(package, "a", {1}), 1);
    EXPECT_EQ(Flush(package), 0);
    EXPECT_EQ(Error(package), "CResFile::mfFlush - No open stream for resource file <" + m_Path + ">");
    EXPECT_FALSE(FileExists(m_Path));
}

// --- flushing: the bytes on disk ----------------------------------------------------

TEST_F(ArchiveIo, FirstFlushWritesHeaderRecordAndData)
{
    const Bytes data = Pattern(1000, 7);
    CResFile package(m_Path.c_str());
    ASSERT_EQ(package.Open(RA_WRITE | RA_CREATE), 1);
    ASSERT_EQ(Add(package, "a", data), 1);
    ASSERT_EQ(Flush(package), 1);
    const Bytes file = ReadFileBytes(m_Path);
    ASSERT_EQ(file, MakePackageBytes({{"a", data}}));
    EXPECT_EQ(file.size(), 20u + 88 + 1000);
    EXPECT_EQ(GetI32(file, 12), 1);           // entryCount
    EXPECT_EQ(GetI32(file, 16), 20);          // firstRecord
    EXPECT_EQ(GetI32(file, 20 + 68), 108);    // offset
    EXPECT_EQ(GetI32(file, 20 + kRecordNextOffset), -1);     // next
    EXPECT_EQ(GetI32(file, 20 + 76), -1);     // prev
    EXPECT_EQ(package.mfGetEntry(0).data, nullptr);
    EXPECT_EQ(package.mfGetEntry(0).flags, 0);

    // A second flush appends and relinks the first record.
    ASSERT_EQ(Add(package, "b", Pattern(10, 8)), 2);
    ASSERT_EQ(Flush(package), 1);
    const Bytes after = ReadFileBytes(m_Path);
    ASSERT_EQ(after.size(), 1108u + 88 + 10);
    EXPECT_EQ(GetI32(after, 12), 2);
    EXPECT_EQ(GetI32(after, 20 + kRecordNextOffset), 1108);
    EXPECT_EQ(GetI32(after, 1108 + 68), 1196);
    EXPECT_EQ(GetI32(after, 1108 + kRecordNextOffset), -1);
    EXPECT_EQ(GetI32(after, 1108 + 76), 20);
    EXPECT_TRUE(std::equal(file.begin() + 108, file.end(), after.begin() + 108));
}

TEST_F(ArchiveIo, FlushingTogetherEqualsFlushingOneAtATime)
{
    const Bytes palette = Pattern(1024, 11);
    const Bytes texture = Pattern(5000, 12);
    {
        CResFile together(m_Path.c_str());
        ASSERT_EQ(together.Open(RA_WRITE | RA_CREATE), 1);
        Add(together, "Palette", palette, RC_NONE, RT_PALETTE);
        Add(together, "wall", texture);
        ASSERT_EQ(Flush(together), 1);
    }
    const std::string otherPath = m_Dir / "other.mtx";
    {
        CResFile apart(otherPath.c_str());
        ASSERT_EQ(apart.Open(RA_WRITE | RA_CREATE), 1);
        Add(apart, "Palette", palette, RC_NONE, RT_PALETTE);
        ASSERT_EQ(Flush(apart), 1);
        Add(apart, "wall", texture);
        ASSERT_EQ(Flush(apart), 1);
    }
    EXPECT_EQ(ReadFileBytes(m_Path), MakePackageBytes({{"Palette", palette, RT_PALETTE}, {"wall", texture}}));
    EXPECT_EQ(ReadFileBytes(otherPath), ReadFileBytes(m_Path));
}

TEST_F(ArchiveIo, FlushWithNothingPendingWritesNothing)
{
    CResFile package(m_Path.c_str());
    ASSERT_EQ(package.Open(RA_WRITE | RA_CREATE), 1);
    EXPECT_EQ(Flush(package), 1);
    Add(package, "a", Pattern(10, 13));
    ASSERT_EQ(Flush(package), 1);
    const Bytes before = ReadFileBytes(m_Path);
    // The header on disk is damaged behind the handle's back: a flush that wrote anything
    // would put it right again.
    Bytes damaged = before;
    SetI32(damaged, 8, 77);
    WriteFileBytes(m_Path, damaged);
    EXPECT_EQ(Flush(package), 1);
    EXPECT_EQ(ReadFileBytes(m_Path), damaged);
}

TEST_F(ArchiveIo, PackedEntriesLeaveGapsAndReadBack)
{
    const Bytes first = Runs(5000);
    const Bytes second = Runs(3000);
    const Bytes third = ToBytes("A");   // packs to more than it was
    const Bytes fourth = Pattern(200, 14);
    CResFile package(m_Path.c_str());
    ASSERT_EQ(package.Open(RA_WRITE | RA_CREATE), 1);
    Add(package, "first", first, RC_LZSS);
    Add(package, "second", second, RC_LZSS);
    Add(package, "third", third, RC_LZSS);
    Add(package, "fourth", fourth);
    ASSERT_EQ(Flush(package), 1);

    const Bytes file = ReadFileBytes(m_Path);
    const int32_t packedSize = GetI32(file, 20 + 64);
    EXPECT_EQ(packedSize, static_cast<int32_t>(Packed(first).size()));
    EXPECT_LT(packedSize, 5000);
    EXPECT_EQ(GetI32(file, 20 + kRecordNextOffset), 20 + 88 + 5000);   // next record after the unpacked length
    EXPECT_EQ(GetI32(file, 108), 5000);                 // the unpacked length in front
    // "A" packs to six stored bytes; the next record goes behind them, not over them.
    const int32_t thirdRecord = GetI32(file, 20 + 88 + 5000 + kRecordNextOffset);
    EXPECT_EQ(GetI32(file, thirdRecord + 64), 6);
    EXPECT_EQ(GetI32(file, thirdRecord + kRecordNextOffset), thirdRecord + 88 + 6);
    // The flushing handle knows where its entries went.
    EXPECT_EQ(ReadWhole(package, 0), first);
    EXPECT_EQ(package.mfGetEntry(0).size, packedSize);
    package.mfClose();

    CResFile reader(m_Path.c_str());
    ASSERT_EQ(reader.Open(RA_READ), 1);
    EXPECT_EQ(ReadWhole(reader, 0), first);
    EXPECT_EQ(ReadWhole(reader, 1), second);
    EXPECT_EQ(ReadWhole(reader, 2), third);
    EXPECT_EQ(ReadWhole(reader, 3), fourth);
}

TEST_F(ArchiveIo, UpdateModeAppendsBehindTheChain)
{
    // The chain visits the two records out of file order: the second record in the file
    // is the first in the chain, so the tail to relink is the one at offset 20.
    Bytes bytes = MakePackageBytes({{"one", Pattern(10, 15)}, {"two", Pattern(20, 16)}});
    const int32_t secondRecord = 20 + 88 + 10;
    SetI32(bytes, 16, secondRecord);
    SetI32(bytes, secondRecord + kRecordNextOffset, 20);
    SetI32(bytes, 20 + kRecordNextOffset, -1);
    WriteFileBytes(m_Path, bytes);

    CResFile package(m_Path.c_str());
    ASSERT_EQ(package.Open(RA_READ | RA_WRITE), 1);
    EXPECT_EQ(ReadWhole(package, 0), Pattern(20, 16));
    ASSERT_EQ(Add(package, "three", Pattern(30, 17)), 3);
    ASSERT_EQ(Flush(package), 1);
    const Bytes file = ReadFileBytes(m_Path);
    const int32_t appended = static_cast<int32_t>(bytes.size());
    EXPECT_EQ(GetI32(file, 12), 3);
    EXPECT_EQ(GetI32(file, 20 + kRecordNextOffset), appended);
    EXPECT_EQ(GetI32(file, appended + 76), 20);
    EXPECT_EQ(GetI32(file, secondRecord + kRecordNextOffset), 20);
    package.mfClose();

    CResFile reader(m_Path.c_str());
    ASSERT_EQ(reader.Open(RA_READ), 1);
    ASSERT_EQ(reader.mfGetCount(), 3);
    EXPECT_EQ(ReadWhole(reader, 1), Pattern(10, 15));
    EXPECT_EQ(ReadWhole(reader, 2), Pattern(30, 17));
}

TEST_F(ArchiveIo, UpdateFlushesAppendEachEntryRightBehindTheLastAndReadBackAtOnce)
{
    // The middle round packs its entry to far less than its length: the next entry still
    // goes right behind the stored bytes. Reads between flushes go through the same stream.
    std::vector<TestEntry> stored = {{"one", Pattern(30, 24)}, {"two", Pattern(40, 25)}};
    std::vector<Bytes> unpacked = {stored[0].data, stored[1].data};
    WriteFileBytes(m_Path, MakePackageBytes(stored));
    CResFile package(m_Path.c_str());
    ASSERT_EQ(package.Open(RA_READ | RA_WRITE), 1);
    for (int32_t round = 0; round < 3; ++round) {
        for (int32_t i = 0; i < package.mfGetCount(); ++i)
            ASSERT_EQ(ReadWhole(package, i), unpacked[static_cast<size_t>(i)]) << round << " " << i;
        const std::string name = "added" + std::to_string(round);
        const bool pack = round == 1;
        const Bytes data =
            pack ? Runs(3000) : Pattern(static_cast<size_t>(50 + round), static_cast<uint32_t>(26 + round));
        Add(package, name, data, pack ? RC_LZSS : RC_NONE);
        ASSERT_EQ(Flush(package), 1);
        stored.push_back({name, pack ? Packed(data) : data, RT_TEXTURE, pack ? RC_LZSS : RC_NONE});
        unpacked.push_back(data);
        EXPECT_EQ(ReadWhole(package, package.mfGetCount() - 1), data) << round;
    }
    package.mfClose();
    EXPECT_EQ(ReadFileBytes(m_Path), MakePackageBytes(stored));
}

TEST_F(ArchiveIo, EmptyPackageOpenedForUpdateTakesEntries)
{
    {
        CResFile creator(m_Path.c_str());
        ASSERT_EQ(creator.Open(RA_WRITE | RA_CREATE), 1);
    }
    CResFile package(m_Path.c_str());
    EXPECT_EQ(package.Open(RA_READ | RA_WRITE), 0);
    EXPECT_EQ(Error(package), "CResFile::Open - Empty resource file <" + m_Path + ">");
    // The stream stays open in update mode, so the package can still be filled.
    Add(package, "first", Pattern(40, 23));
    ASSERT_EQ(Flush(package), 1);
    package.mfClose();
    EXPECT_EQ(ReadFileBytes(m_Path), MakePackageBytes({{"first", Pattern(40, 23)}}));
}

TEST_F(ArchiveIo, FlushRefusesADiskChainLongerThanTheDirectory)
{
    WriteFileBytes(m_Path, MakePackageBytes({{"one", {1}}}));
    CResFile stale(m_Path.c_str());
    ASSERT_EQ(stale.Open(RA_READ | RA_WRITE), 1);
    {
        CResFile other(m_Path.c_str());
        ASSERT_EQ(other.Open(RA_READ | RA_WRITE), 1);
        Add(other, "two", {2});
        Add(other, "three", {3});
        ASSERT_EQ(Flush(other), 1);
    }
    const Bytes before = ReadFileBytes(m_Path);
    Add(stale, "four", {4});
    EXPECT_EQ(Flush(stale), 0);
    EXPECT_EQ(Error(stale), "CResFile::mfFlush - Error number directory files" + Message(""));
    EXPECT_EQ(ReadFileBytes(m_Path), before);
}

// --- flushing that cannot complete --------------------------------------------------

TEST_F(ArchiveIo, FlushNeverWritesAnOffsetPastTheSigned32BitRange)
{
    WriteFileBytes(m_Path, MakePackageBytes({{"one", Pattern(10, 18)}}));
    // Dead space up to just below the limit, without using the disk.
    const int64_t end = std::numeric_limits<int32_t>::max() - 88 - 1000;
    std::filesystem::resize_file(m_Path, end);
    CResFile package(m_Path.c_str());
    ASSERT_EQ(package.Open(RA_READ | RA_WRITE), 1);
    Add(package, "big", Pattern(1001, 19));
    EXPECT_EQ(Flush(package), 0);
    EXPECT_EQ(Error(package), "CResFile::mfFlush - Error write directory" + Message(""));
    EXPECT_EQ(std::filesystem::file_size(m_Path), static_cast<uintmax_t>(end));
    package.mfClose();

    // One byte less ends exactly at the limit and is written.
    CResFile again(m_Path.c_str());
    ASSERT_EQ(again.Open(RA_READ | RA_WRITE), 1);
    Add(again, "big", Pattern(1000, 19));
    EXPECT_EQ(Flush(again), 1);
    again.mfClose();
    CResFile reader(m_Path.c_str());
    ASSERT_EQ(reader.Open(RA_READ), 1);
    EXPECT_EQ(ReadWhole(reader, 1), Pattern(1000, 19));
}

#ifndef _WIN32  // a full disk is made with a file-size limit, which Windows lacks

TEST_F(ArchiveIo, FailedAppendLeavesThePackageReadable)
{
    const Bytes first = Pattern(500, 20);
    const Bytes second = Pattern(600, 21);
    const Bytes third = Pattern(5000, 22);
    CResFile package(m_Path.c_str());
    ASSERT_EQ(package.Open(RA_WRITE | RA_CREATE), 1);
    Add(package, "first", first);
    Add(package, "second", second);
    ASSERT_EQ(Flush(package), 1);
    const Bytes before = ReadFileBytes(m_Path);

    Add(package, "third", third);
    {
        FileSizeLimit limit(before.size() + 1000);
        EXPECT_EQ(Flush(package), 0);
    }
    EXPECT_EQ(Error(package), "CResFile::mfFlush - Error write file <third>" + Message(""));
    EXPECT_EQ(package.mfGetEntry(2).flags, DE_PENDING);
    {
        const Bytes now = ReadFileBytes(m_Path);
        EXPECT_TRUE(std::equal(before.begin(), before.end(), now.begin()));
        CResFile reader(m_Path.c_str());
        ASSERT_EQ(reader.Open(RA_READ), 1);
        ASSERT_EQ(reader.mfGetCount(), 2);
        EXPECT_EQ(ReadWhole(reader, 0), first);
        EXPECT_EQ(ReadWhole(reader, 1), second);
    }

    // With room again, the entry is still pending and a retry writes it.
    ASSERT_EQ(Flush(package), 1);
    package.mfClose();
    CResFile reader(m_Path.c_str());
    ASSERT_EQ(reader.Open(RA_READ), 1);
    ASSERT_EQ(reader.mfGetCount(), 3);
    EXPECT_EQ(ReadWhole(reader, 1), second);
    EXPECT_EQ(ReadWhole(reader, 2), third);
}

#endif

}  // namespace

