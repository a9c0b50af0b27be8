// CResFile::mfOptimize: rewrites a package in compacted form (header, records back to
// back in chain order, data back to back) into a staging file, which then replaces the
// package in one step.
#include "archive/ResFile.h"

#include "host/FileIO.h"
#include "host/ReplaceFile.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr size_t kCopyChunk = 1 << 20;
// How the staging file is named in messages.
constexpr char kTempLabel[] = "Temp";

// The staging file: closed, and deleted unless it was moved over the package, when it
// goes out of scope.
class StagingFile {
public:
    ~StagingFile()
    {
        if (m_file)
            std::fclose(m_file);
        if (m_created)
            std::remove(kOptimizeTempName);
    }
    bool Create()
    {
        m_file = std::fopen(kOptimizeTempName, "wb");
        m_created = m_file != nullptr;
        return m_created;
    }
    std::FILE* get() const { return m_file; }
    // Flushes and closes; false when any write turns out to have failed.
    bool Finish()
    {
        const bool flushed = std::fflush(m_file) == 0 && !std::ferror(m_file);
        const bool closed = std::fclose(m_file) == 0;
        m_file = nullptr;
        return flushed && closed;
    }
    void Release() { m_created = false; }

private:
    std::FILE* m_file = nullptr;
    bool m_created = false;
};

bool Write(std::FILE* file, const void* bytes, size_t size)
{
    return std::fwrite(bytes, 1, size, file) == size;
}

// The compacted header and records: record i at CompactedRecordOffset(i), its data behind
// all records, in chain order.
bool WriteCompactedDirectory(std::FILE* staging, PackageHeader header, const std::vector<ChainLink>& links)
{
    const int64_t count = static_cast<int64_t>(links.size());
    header.compactFlag = kCompactedFlag;
    header.firstRecord = static_cast<int32_t>(CompactedRecordOffset(0));
    uint8_t headerBytes[kHeaderSize];
    EncodeHeader(header, headerBytes);
    bool written = Write(staging, headerBytes, kHeaderSize);
    int64_t dataPosition = CompactedDataOffset(count);
    for (int64_t i = 0; written && i < count; ++i) {
        DirRecord record = links[static_cast<size_t>(i)].record;
        record.prev = i == 0 ? kNoRecord : static_cast<int32_t>(CompactedRecordOffset(i - 1));
        record.next = i + 1 == count ? kNoRecord : static_cast<int32_t>(CompactedRecordOffset(i + 1));
        record.offset = static_cast<int32_t>(dataPosition);
        dataPosition += record.size;
        uint8_t recordBytes[kRecordSize];
        EncodeRecord(record, recordBytes);
        written = Write(staging, recordBytes, kRecordSize);
    }
    return written;
}

}  // namespace

int32_t CResFile::mfOptimize(int32_t /*unused*/)
{
    if (!m_File) {
        mfSetError("CResFile::mfOptimize - Resource file <%s> is not open", m_Name);
        return 0;
    }
    if (m_Dir.empty()) {
        mfSetError("CResFile::mfOptimize - Empty resource file <%s>", m_Name);
        return 0;
    }
    // A package the user may not write is left exactly as it is.
    if (!IsWritableFile(m_Name)) {
        mfSetError("CResFile::mfOptimize - Resource file <%s> is read-only", m_Name);
        return 0;
    }
    if (!m_PendingBytes.empty()) {
        mfSetError("CResFile::mfOptimize - Unflushed files in resource file <%s>", m_Name);
        return 0;
    }
    int64_t compactedSize = CompactedDataOffset(mfGetCount());
    for (const DirEntry& entry : m_Dir) {
        if (entry.size < 0 || entry.offset < 0) {
            mfSetError("CResFile::mfOptimize - Error read data in resource file <%s>", m_Name);
            return 0;
        }
        compactedSize += entry.size;
    }
    // Offsets are 32-bit: entries that share data in the package could not all fit.
    if (compactedSize > kMaxPackageOffset) {
        mfSetError("CResFile::mfOptimize - Resource file <%s> is too large to compact", m_Name);
        return 0;
    }
    // Creating the staging file would truncate the package itself.
    StagingFile staging;
    if (IsSameFile(m_Name, kOptimizeTempName) || !staging.Create()) {
        mfSetError("CResFile::mfOptimize - Can't create resource file <%s>", kTempLabel);
        return 0;
    }
    if (!mfWriteCompacted(staging.get()))
        return 0;
    if (!staging.Finish()) {
        mfSetError("CResFile::mfOptimize - Error write resource file <%s>", kTempLabel);
        return 0;
    }
    // The handle's own stream is closed first: some hosts never replace an open file.
    mfCloseStream();
    std::string hostError;
    if (!MoveFileOver(m_Name, kOptimizeTempName, hostError)) {
        mfSetError("CResFile::mfOptimize - Can't replace resource file <%s> (%s)", m_Name, hostError.c_str());
        m_File = std::fopen(m_Name, (m_Mode & RA_WRITE) ? "r+b" : "rb");  // the old package, as before
        return 0;
    }
    staging.Release();

    // The package is compacted; reopen it so that the directory holds the new offsets.
    char name[kResNameCapacity];
    std::snprintf(name, sizeof name, "%s", m_Name);
    mfClose();
    std::snprintf(m_Name, sizeof m_Name, "%s", name);
    return Open(RA_READ);
}

// Writes the compacted package to `staging`: the header with compactFlag set, the chain's
// records with new links and offsets, then every entry's stored bytes in chain order.
bool CResFile::mfWriteCompacted(std::FILE* staging)
{
    PackageHeader header{};
    std::vector<ChainLink> links;
    if (!mfReadChainAgain(header, links))
        return false;
    if (!WriteCompactedDirectory(staging, header, links)) {
        mfSetError("CResFile::mfOptimize - Error write resource file <%s>", kTempLabel);
        return false;
    }
    return mfCopyStoredData(staging);
}

// Every byte of a record but its links and offset is carried over, so the chain is read
// again from the file; it must still match the directory.
bool CResFile::mfReadChainAgain(PackageHeader& header, std::vector<ChainLink>& links)
{
    uint8_t headerBytes[kHeaderSize];
    if (!mfReadAt(0, headerBytes, kHeaderSize)) {
        mfSetError("CResFile::mfOptimize - Error read header in resource file <%s>", m_Name);
        return false;
    }
    header = DecodeHeader(headerBytes);
    if (header.entryCount != mfGetCount()) {
        mfSetError("CResFile::mfOptimize - Error number directory files in resource file <%s>", m_Name);
        return false;
    }
    const ChainStatus status = WalkChain(mfReader(), header.firstRecord, m_Dir.size(), links);
    bool matches = status == ChainStatus::Complete && links.size() == m_Dir.size();
    for (size_t i = 0; matches && i < links.size(); ++i)
        matches = links[i].record.size == m_Dir[i].size && links[i].record.offset == m_Dir[i].offset;
    if (!matches)
        mfSetError("CResFile::mfFlush - Error read directory in resource file <%s>", m_Name);
    return matches;
}

// Copies every entry's stored bytes, one bounded chunk at a time.
bool CResFile::mfCopyStoredData(std::FILE* staging)
{
    std::vector<uint8_t> chunk(kCopyChunk);
    for (const DirEntry& entry : m_Dir) {
        for (int64_t done = 0; done < entry.size;) {
            const size_t piece = static_cast<size_t>(std::min<int64_t>(entry.size - done, kCopyChunk));
            if (!mfReadAt(entry.offset + done, chunk.data(), piece)) {
                mfSetError("CResFile::mfOptimize - Error read data in resource file <%s>", m_Name);
                return false;
            }
            if (!Write(staging, chunk.data(), piece)) {
                mfSetError("CResFile::mfOptimize - Error write resource file <%s>", kTempLabel);
                return false;
            }
            done += static_cast<int64_t>(piece);
        }
    }
    return true;
}
