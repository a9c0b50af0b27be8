// Test helpers every host shares: file bytes, scratch folders and hand-made packages.
#include "support/TestSupport.h"

#include "archive/Lzss.h"
#include "archive/MipTexture.h"
#include "archive/PackageFormat.h"
#include "common/ByteReader.h"
#include "common/ByteWriter.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>

namespace fs = std::filesystem;

Bytes ToBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes Prefix(const Bytes& bytes, size_t length)
{
    return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length));
}

Bytes operator+(Bytes first, const Bytes& second)
{
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

Bytes ReadFileBytes(const std::string& path)
{
    // One read of the whole file: tests compare packages of several megabytes.
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in)
        return Bytes();
    Bytes bytes(static_cast<size_t>(in.tellg()));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<size_t>(in.gcount()));
    return bytes;
}

std::string ReadFileText(const std::string& path)
{
    const Bytes bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

void WriteFileBytes(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

bool FileExists(const std::string& path)
{
    std::error_code error;
    return fs::exists(fs::symlink_status(path, error));
}

bool IsDirectory(const std::string& path)
{
    std::error_code error;
    return fs::is_directory(path, error);
}

std::set<std::string> FilesIn(const std::string& path)
{
    std::set<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(path, error), end; !error && it != end; it.increment(error))
        names.insert(it->path().filename().string());
    return names;
}

std::unique_ptr<CImage> DecodeImageFile(const std::string& path)
{
    const Bytes bytes = ReadFileBytes(path);
    return std::unique_ptr<CImage>(LoadImageMemory(bytes.data(), static_cast<uint32_t>(bytes.size())));
}

testing::AssertionResult IsHostError(const std::string& text, const std::string& prefix, const char* posixText)
{
    const bool startsWithPrefix = text.size() > prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
    if (kWindowsHost ? startsWithPrefix : text == prefix + posixText)
        return testing::AssertionSuccess();
    const std::string wanted = kWindowsHost ? prefix + "\" and a text" : prefix + posixText + "\"";
    return testing::AssertionFailure() << "\"" << text << "\" is not \"" << wanted;
}

std::string HostLineEnds(const std::string& text)
{
    std::string out;
    for (char c : text)
        out += (c == '\n' && kWindowsHost) ? std::string("\r\n") : std::string(1, c);
    return out;
}

ScratchDir::ScratchDir()
{
    const fs::path parent = fs::temp_directory_path();
    std::random_device random;
    for (int attempt = 0; attempt < 100 && m_path.empty(); ++attempt) {
        const fs::path candidate = parent / ("mtxtest-" + std::to_string(random()));
        if (fs::create_directory(candidate))
            m_path = candidate.string();
    }
    if (m_path.empty())
        throw std::runtime_error("cannot make a scratch directory in " + parent.string());
}

ScratchDir::~ScratchDir()
{
    // Make everything removable again (tests may drop write bits or set read-only
    // attributes), then remove it all. Links are left alone, never their targets.
    std::error_code error;
    for (fs::recursive_directory_iterator it(m_path, error), end; !error && it != end; it.increment(error)) {
        if (!it->is_symlink(error))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
    }
    fs::remove_all(m_path, error);
}

WorkingDirectory::WorkingDirectory(const std::string& path) : m_previous(fs::current_path().string())
{
    fs::current_path(path);
}

WorkingDirectory::~WorkingDirectory()
{
    std::error_code error;
    fs::current_path(m_previous, error);
}

// Through the reader and writer (at() checks the bounds): the tests check those on their own.
int32_t GetI32(const Bytes& bytes, size_t offset) { return ByteReader(&bytes.at(offset + 3) - 3, 4).i32(); }

void SetI32(Bytes& bytes, size_t offset, int32_t value) { ByteWriter(&bytes.at(offset + 3) - 3, 4).i32(value); }

Bytes WithI32(Bytes bytes, size_t offset, int32_t value)
{
    SetI32(bytes, offset, value);
    return bytes;
}

bool operator==(const TestEntry& first, const TestEntry& second)
{
    return first.name == second.name && first.data == second.data && first.type == second.type &&
           first.method == second.method;
}

void PrintTo(const TestEntry& entry, std::ostream* out)
{
    *out << "{\"" << entry.name << "\", type " << entry.type << ", method " << entry.method << ", "
         << testing::PrintToString(entry.data) << "}";
}

Bytes MakeRecordBytes(int32_t width, int32_t height, int32_t format, const Bytes& body,
                      int32_t ownPalette, int32_t dataOffset)
{
    Bytes record(kMipHeaderSize + body.size(), 0);
    for (size_t i = 0; i < body.size(); ++i)  // a plain loop: GCC 12's bounds warning misreads std::copy here
        record[kMipHeaderSize + i] = body[i];
    SetI32(record, kMipWidthOffset, width);
    SetI32(record, kMipHeightOffset, height);
    SetI32(record, kMipDataOffsetOffset, dataOffset);
    SetI32(record, kMipFormatOffset, format);
    SetI32(record, kMipOwnPaletteOffset, ownPalette);
    return record;
}

Bytes MakePackageBytes(const std::vector<TestEntry>& entries, size_t gap)
{
    Bytes out(kHeaderSize, 0);
    std::memcpy(out.data(), kPackageMagic, sizeof kPackageMagic);
    SetI32(out, kHeaderVersionOffset, kPackageVersion);
    SetI32(out, kHeaderCountOffset, static_cast<int32_t>(entries.size()));
    SetI32(out, kHeaderFirstRecordOffset, entries.empty() ? kNoRecord : static_cast<int32_t>(kHeaderSize));
    int32_t previous = kNoRecord;
    for (size_t i = 0; i < entries.size(); ++i) {
        const TestEntry& entry = entries[i];
        const size_t recordAt = out.size();
        const bool last = i + 1 == entries.size();
        out.resize(recordAt + kRecordSize, 0);
        std::memcpy(out.data() + recordAt, entry.name.data(), std::min(entry.name.size(), kNameSize - 1));
        const auto dataAt = static_cast<int32_t>(recordAt + kRecordSize);
        const auto size = static_cast<int32_t>(entry.data.size());
        SetI32(out, recordAt + kRecordSizeOffset, size);
        SetI32(out, recordAt + kRecordOffsetOffset, dataAt);
        SetI32(out, recordAt + kRecordNextOffset, last ? kNoRecord : dataAt + size + static_cast<int32_t>(gap));
        SetI32(out, recordAt + kRecordPrevOffset, previous);
        SetI32(out, recordAt + kRecordTypeOffset, entry.type);
        SetI32(out, recordAt + kRecordMethodOffset, entry.method);
        out.insert(out.end(), entry.data.begin(), entry.data.end());
        if (!last)
            out.insert(out.end(), gap, 0xEE);
        previous = static_cast<int32_t>(recordAt);
    }
    return out;
}

size_t RecordAt(const Bytes& package, size_t index)
{
    auto at = static_cast<size_t>(GetI32(package, kHeaderFirstRecordOffset));
    for (; index > 0; --index)
        at = static_cast<size_t>(GetI32(package, at + kRecordNextOffset));
    return at;
}

std::vector<TestEntry> ReadEntries(const std::string& path)
{
    CResFile package(path.c_str());
    std::vector<TestEntry> entries;
    EXPECT_EQ(package.Open(RA_READ), 1) << path;
    for (int32_t index = 0; index < package.mfGetCount(); ++index) {
        const DirEntry& entry = package.mfGetEntry(index);
        Bytes data(static_cast<size_t>(std::max<int64_t>(package.mfFileSize(index), 0)));
        EXPECT_EQ(package.mfFileRead(index, data.data(), static_cast<int64_t>(data.size())), int64_t(data.size()));
        entries.push_back({entry.name, data, entry.type, entry.method});
    }
    return entries;
}

Bytes Compacted(const Bytes& package)
{
    std::vector<size_t> records;
    int32_t at = GetI32(package, kHeaderFirstRecordOffset);
    for (; at >= 0; at = GetI32(package, static_cast<size_t>(at) + kRecordNextOffset))
        records.push_back(static_cast<size_t>(at));
    const size_t count = records.size();
    const auto recordOffset = [](size_t index) { return static_cast<int32_t>(kHeaderSize + kRecordSize * index); };
    Bytes out = Prefix(package, kHeaderSize);
    Bytes data;
    SetI32(out, kHeaderCompactOffset, kCompactedFlag);
    SetI32(out, kHeaderFirstRecordOffset, count > 0 ? recordOffset(0) : kNoRecord);
    for (size_t i = 0; i < count; ++i) {
        const size_t record = out.size();
        const auto stored = package.begin() + GetI32(package, records[i] + kRecordOffsetOffset);
        const auto recordBytes = package.begin() + static_cast<std::ptrdiff_t>(records[i]);
        out.insert(out.end(), recordBytes, recordBytes + kRecordSize);
        SetI32(out, record + kRecordOffsetOffset, recordOffset(count) + static_cast<int32_t>(data.size()));
        SetI32(out, record + kRecordNextOffset, i + 1 < count ? recordOffset(i + 1) : kNoRecord);
        SetI32(out, record + kRecordPrevOffset, i > 0 ? recordOffset(i - 1) : kNoRecord);
        data.insert(data.end(), stored, stored + GetI32(package, records[i] + kRecordSizeOffset));
    }
    return out + data;
}

Bytes Packed(const Bytes& data)
{
    const auto length = static_cast<int32_t>(data.size());
    Bytes stored(kLzssPrefixSize + static_cast<size_t>(LzssMaxEncodedSize(length)));
    SetI32(stored, 0, length);
    const int32_t written = LzssEncode(data.data(), stored.data() + kLzssPrefixSize, length);
    stored.resize(kLzssPrefixSize + static_cast<size_t>(written));
    return stored;
}

std::string ErrorOf(const CResFile& package) { return package.mfGetError() ? package.mfGetError() : ""; }

std::string Outcome(int64_t result, const CResFile& package) { return std::to_string(result) + " " + ErrorOf(package); }
