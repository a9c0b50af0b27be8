// CResFile::mfOptimize: rewrites a package in compacted form (header, records back to
// back in chain order, data back to back) through a staging file, then replaces the
// package atomically.
#include "archive/ResFile.h"

#include "host/ReplaceFile.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr size_t kCopyChunk = 256 * 1024;
constexpr int32_t kCompacted = 1;
// How the staging file is named in messages.
constexpr char kTempLabel[] = "Temp";

// The staging file: closed and deleted when it goes out of scope, whatever happened.
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
    bool Write(const void* bytes, size_t size) { return std::fwrite(bytes, 1, size, m_file) == size; }
    // Flushes and closes; false when any write turns out to have failed.
    bool Finish()
    {
        const bool flushed = std::fflush(m_file) == 0 && !std::ferror(m_file);
        const bool closed = std::fclose(m_file) == 0;
        m_file = nullptr;
        return flushed && closed;
    }

private:
    std::FILE* m_file = nullptr;
    bool m_created = false;
};

}  // namespace

int32_t CResFile::mfOptimize(int32_t /*unused*/)
{
    if (!m_File) {
        mfSetError("CResFile::mfOptimize - Resource file <%s> is not open", m_Name);
        return 0;
    }
    const int32_t count = mfGetCount();
    if (count == 0) {
        mfSetError("CResFile::mfOptimize - Empty resource file <%s>", m_Name);
        return 0;
    }
    int64_t compactedSize = static_cast<int64_t>(kHeaderSize) + static_cast<int64_t>(kRecordSize) * count;
    for (const DirEntry& entry : m_Dir) {
        if (entry.flags & DE_PENDING) {
            mfSetError("CResFile::mfOptimize - Unflushed files in resource file <%s>", m_Name);
            return 0;
        }
        if (entry.size < 0 || entry.offset < 0) {
            mfSetError("CResFile::mfOptimize - Error read data in resource file <%s>", m_Name);
            return 0;
        }
        compactedSize += entry.size;
    }
    // Offsets are 32-bit: entries that share data in the package could not all fit.
    if (compactedSize > INT32_MAX) {
        mfSetError("CResFile::mfOptimize - Resource file <%s> is too large to compact", m_Name);
        return 0;
    }
    // Creating the staging file would truncate the package itself.
    if (IsSameFile(m_Name, kOptimizeTempName)) {
        mfSetError("CResFile::mfOptimize - Can't create resource file <%s>", kTempLabel);
        return 0;
    }
    if (m_Mode & RA_WRITE)
        std::fflush(m_File);

    StagingFile staging;
    if (!staging.Create()) {
        mfSetError("CResFile::mfOptimize - Can't create resource file <%s>", kTempLabel);
        return 0;
    }

    uint8_t headerBytes[kHeaderSize];
    if (!mfReadAt(0, headerBytes, kHeaderSize)) {
        mfSetError("CResFile::mfOptimize - Error read header in resource file <%s>", m_Name);
        return 0;
    }
    PackageHeader header = DecodeHeader(headerBytes);
    const int32_t firstRecord = header.firstRecord;
    if (header.entryCount != count) {
        mfSetError("CResFile::mfOptimize - Error number directory files in resource file <%s>", m_Name);
        return 0;
    }
    header.compactFlag = kCompacted;
    header.firstRecord = static_cast<int32_t>(kHeaderSize);
    EncodeHeader(header, headerBytes);
    if (!staging.Write(headerBytes, kHeaderSize)) {
        mfSetError("CResFile::mfOptimize - Error write resource file <%s>", kTempLabel);
        return 0;
    }

    // Records: the chain is read again from the package so that every byte of a record
    // except its links and offset is carried over; it must still match the directory.
    int32_t readPosition = firstRecord;
    int32_t writePosition = static_cast<int32_t>(kHeaderSize);
    int32_t previous = kNoRecord;
    int32_t dataPosition = static_cast<int32_t>(kHeaderSize + kRecordSize * static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i) {
        const DirEntry& entry = m_Dir[static_cast<size_t>(i)];
        uint8_t recordBytes[kRecordSize];
        if (readPosition < 0 || !mfReadAt(readPosition, recordBytes, kRecordSize)) {
            mfSetError("CResFile::mfFlush - Error read directory in resource file <%s>", m_Name);
            return 0;
        }
        DirRecord record = DecodeRecord(recordBytes);
        if (record.size != entry.size || record.offset != entry.offset) {
            mfSetError("CResFile::mfFlush - Error read directory in resource file <%s>", m_Name);
            return 0;
        }
        readPosition = record.next;
        record.prev = previous;
        record.offset = dataPosition;
        dataPosition += entry.size;
        previous = writePosition;
        writePosition += static_cast<int32_t>(kRecordSize);
        record.next = i == count - 1 ? kNoRecord : writePosition;
        EncodeRecord(record, recordBytes);
        if (!staging.Write(recordBytes, kRecordSize)) {
            mfSetError("CResFile::mfOptimize - Error write resource file <%s>", kTempLabel);
            return 0;
        }
    }

    // Data, as stored, one bounded chunk at a time.
    std::vector<uint8_t> chunk(kCopyChunk);
    for (const DirEntry& entry : m_Dir) {
        size_t bytesLeft = static_cast<size_t>(entry.size);
        bool readable = fseeko(m_File, static_cast<off_t>(entry.offset), SEEK_SET) == 0;
        while (readable && bytesLeft > 0) {
            const size_t piece = std::min(bytesLeft, kCopyChunk);
            readable = std::fread(chunk.data(), 1, piece, m_File) == piece;
            if (readable && !staging.Write(chunk.data(), piece)) {
                mfSetError("CResFile::mfOptimize - Error write resource file <%s>", kTempLabel);
                return 0;
            }
            bytesLeft -= piece;
        }
        if (!readable) {
            mfSetError("CResFile::mfOptimize - Error read data in resource file <%s>", m_Name);
            return 0;
        }
    }
    if (!staging.Finish()) {
        mfSetError("CResFile::mfOptimize - Error write resource file <%s>", kTempLabel);
        return 0;
    }

    std::string hostError;
    if (!ReplaceFileFrom(m_Name, kOptimizeTempName, hostError)) {
        mfSetError("CResFile::mfOptimize - Can't replace resource file <%s> (%s)", m_Name, hostError.c_str());
        return 0;
    }

    // The package is compacted; reopen it so that the directory holds the new offsets.
    char name[kResNameCapacity];
    std::snprintf(name, sizeof name, "%s", m_Name);
    mfClose();
    std::snprintf(m_Name, sizeof m_Name, "%s", name);
    return Open(RA_READ);
}
