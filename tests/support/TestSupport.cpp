// Test helpers every host shares: file bytes, scratch folders and hand-made packages.
#include "support/TestSupport.h"

#include "archive/Lzss.h"
#include "common/ByteReader.h"
#include "common/ByteWriter.h"
#include "image/Image.h"
#include "archive/PackageFormat.h"
#include "archive/MipTexture.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>

namespace fs = std::filesystem;

Bytes ToBytes(const std::string& text)
{
    return Bytes(text.begin(), text.end());
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

CImage* LoadImageFile(const std::string& path)
{
    std::error_code error;
    if (!fs::is_regular_file(path, error))
        return nullptr;
    static const uint8_t kNoBytes = 0;
    const Bytes bytes = ReadFileBytes(path);
    return LoadImageMemory(bytes.empty() ? &kNoBytes : bytes.data(), static_cast<uint32_t>(bytes.size()));
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

std::string HostLineEnds(const std::string& text)
{
    std::string out;
    for (char c : text)
        out += (c == '\n' && kWindowsHost) ? std::string("\r\n") : std::string(1, c);
    return out;
}

ScratchDir::ScratchDir(const char* base)
{
    const fs::path parent = base ? fs::path(base) : fs::temp_directory_path();
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

int32_t GetI32(const Bytes& bytes, size_t offset)
{
    ByteReader reader(&bytes.at(offset + 3) - 3, 4);
    return reader.i32();
}

void SetI32(Bytes& bytes, size_t offset, int32_t value)
{
    ByteWriter writer(&bytes.at(offset + 3) - 3, 4);
    writer.i32(value);
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
    constexpr size_t kHeader = 20, kRecord = 88;
    Bytes out(kHeader, 0);
    std::memcpy(out.data(), "MPCK", 4);
    SetI32(out, 4, 1);
    SetI32(out, 8, 0);
    SetI32(out, 12, static_cast<int32_t>(entries.size()));
    SetI32(out, 16, entries.empty() ? -1 : static_cast<int32_t>(kHeader));
    int32_t previous = -1;
    for (size_t i = 0; i < entries.size(); ++i) {
        const TestEntry& entry = entries[i];
        const size_t recordAt = out.size();
        out.resize(recordAt + kRecord, 0);
        std::memcpy(out.data() + recordAt, entry.name.data(), std::min<size_t>(entry.name.size(), 63));
        const int32_t dataAt = static_cast<int32_t>(recordAt + kRecord);
        const int32_t size = static_cast<int32_t>(entry.data.size());
        SetI32(out, recordAt + 64, size);
        SetI32(out, recordAt + 68, dataAt);
        const int32_t next = i + 1 < entries.size() ? dataAt + size + static_cast<int32_t>(gap) : -1;
        SetI32(out, recordAt + kRecordNextOffset, next);
        SetI32(out, recordAt + 76, previous);
        SetI32(out, recordAt + 80, entry.type);
        SetI32(out, recordAt + 84, entry.method);
        out.insert(out.end(), entry.data.begin(), entry.data.end());
        if (i + 1 < entries.size())
            out.insert(out.end(), gap, 0xEE);
        previous = static_cast<int32_t>(recordAt);
    }
    return out;
}

// What compacting `package` must give: its header with compactFlag 1, the chain's records
// (every byte but the links and offset carried over) back to back, then their data.
Bytes Compacted(const Bytes& package)
{
    std::vector<size_t> records;
    for (int32_t at = GetI32(package, 16); at >= 0; at = GetI32(package, static_cast<size_t>(at) + 72))
        records.push_back(static_cast<size_t>(at));
    const auto count = static_cast<int32_t>(records.size());
    Bytes out(package.begin(), package.begin() + 20), data;
    SetI32(out, 8, 1);
    SetI32(out, 16, count > 0 ? 20 : -1);
    for (int32_t i = 0; i < count; ++i) {
        const size_t at = records[static_cast<size_t>(i)], record = out.size();
        const auto stored = package.begin() + GetI32(package, at + 68);
        out.insert(out.end(), package.begin() + static_cast<long>(at), package.begin() + static_cast<long>(at) + 88);
        SetI32(out, record + 68, 20 + 88 * count + static_cast<int32_t>(data.size()));
        SetI32(out, record + 72, i + 1 < count ? 20 + 88 * (i + 1) : -1);
        SetI32(out, record + 76, i > 0 ? 20 + 88 * (i - 1) : -1);
        data.insert(data.end(), stored, stored + GetI32(package, at + 64));
    }
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

Bytes Packed(const Bytes& data)
{
    Bytes stored(4 + static_cast<size_t>(LzssMaxEncodedSize(static_cast<int64_t>(data.size()))));
    SetI32(stored, 0, static_cast<int32_t>(data.size()));
    const int32_t written = LzssEncode(data.data(), stored.data() + 4, static_cast<int32_t>(data.size()));
    stored.resize(4 + static_cast<size_t>(written));
    return stored;
}
