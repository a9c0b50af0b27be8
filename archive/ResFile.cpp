// CResFile construction, Open with the directory load, closing and error text.
#include "archive/ResFile.h"

#include "archive/PackageStaging.h"
#include "archive/ReadWindow.h"
#include "host/FileIO.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>

namespace {

const char* StreamModeFor(int32_t mode)
{
    if (mode == RA_READ)
        return "rb";
    if (mode == (RA_READ | RA_WRITE))
        return "r+b";
    if ((mode & RA_CREATE) && !(mode & RA_READ))
        return "w+b";
    return nullptr;
}

DirEntry EntryFromRecord(const DirRecord& record)
{
    DirEntry entry{};
    // Only the name up to its terminator counts; the bytes after it are not significant.
    std::memcpy(entry.name, record.name, strnlen(record.name, kNameSize - 1));
    entry.size = record.size;
    entry.offset = record.offset;
    entry.type = record.type;
    entry.method = record.method;
    return entry;
}

}  // namespace

CResFile::CResFile(const char* name)
{
    std::snprintf(m_Name, sizeof m_Name, "%s", name ? name : "");
    m_Error[0] = '\0';
}

CResFile::~CResFile()
{
    if (m_File)
        mfClose();
    mfDropPending();   // entries added to a handle that never opened a stream
    m_Dir.Release();
    m_Capacity = 0;
}

void CResFile::mfSetError(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vsnprintf(m_Error, sizeof m_Error, format, args);
    va_end(args);
}

const char* CResFile::mfGetError() const
{
    return m_Error[0] ? m_Error : nullptr;
}

// Pending entries are dropped, never written: their copies are released and the entries
// leave the directory, so no later flush can meet an entry without its bytes.
void CResFile::mfDropPending()
{
    for (size_t index = m_Dir.size() - m_PendingCount; index < m_Dir.size(); ++index)
        mfReleasePending(m_Dir[index]);
    m_Dir.Truncate(m_Dir.size() - m_PendingCount);
    m_PendingCount = 0;
}

// Frees a pending entry's copy, which mfFileAdd allocated for the handle.
void CResFile::mfReleasePending(DirEntry& entry)
{
    std::free(const_cast<uint8_t*>(entry.data));
    entry.data = nullptr;
}

void CResFile::mfCloseStream()
{
    if (m_Staging) {
        m_File = nullptr;  // the staging file's own stream, thrown away with it
        m_Staging.reset();
    }
    m_StoredWindow.reset();
    if (m_File) {
        std::fclose(m_File);
        m_File = nullptr;
    }
    m_Disk = DiskState();
}

int32_t CResFile::mfClose()
{
    mfDropPending();
    mfCloseStream();
    m_Name[0] = '\0';
    return 1;
}

bool CResFile::mfReadAt(int64_t position, void* dst, size_t count)
{
    return ReadAt(m_File, position, dst, count);
}

ReadAtFunction CResFile::mfReader()
{
    return [this](int64_t offset, void* dst, size_t count) { return mfReadAt(offset, dst, count); };
}

int32_t CResFile::Open(int32_t mode)
{
    if (m_Name[0] == '\0') {
        mfSetError("CResFile::Open - No Resource name");
        return 0;
    }
    const char* streamMode = StreamModeFor(mode);
    if (!streamMode) {
        mfSetError("CResFile::Open - Error access mode for file <%s>", m_Name);
        return 0;
    }
    // A handle reopened while its stream is open drops the old stream first.
    mfDropPending();
    mfCloseStream();
    m_File = std::fopen(m_Name, streamMode);
    if (!m_File) {
        if (mode == RA_READ)
            mfSetError("CResFile::Open - Can't open for read resource file <%s>", m_Name);
        else if (mode == (RA_READ | RA_WRITE))
            mfSetError("CResFile::Open - Can't open for write resource file <%s>", m_Name);
        else
            mfSetError("CResFile::Open - Can't create resource file <%s>", m_Name);
        return 0;
    }
    m_Mode = mode;
    m_EmptyPackage = false;
    return (mode & RA_READ) ? mfLoadDirectory() : mfWriteFreshHeader();
}

int32_t CResFile::mfWriteFreshHeader()
{
    uint8_t bytes[kHeaderSize];
    EncodeHeader(MakeEmptyHeader(), bytes);
    const ByteSpan header{bytes, kHeaderSize};
    if (WriteAt(m_File, 0, &header, 1) != kHeaderSize) {
        mfSetError("CResFile::Open - Error write header in resource file <%s>", m_Name);
        return 0;
    }
    return 1;
}

int32_t CResFile::mfLoadDirectory()
{
    uint8_t headerBytes[kHeaderSize];
    if (!mfReadAt(0, headerBytes, kHeaderSize)) {
        mfSetError("CResFile::Open - Error read header in resource file <%s>", m_Name);
        return 0;
    }
    const PackageHeader header = DecodeHeader(headerBytes);
    if (!HasPackageMagic(header)) {
        mfSetError("CResFile::Open - Error header-id in resource file <%s>", m_Name);
        return 0;
    }
    if (header.version != kPackageVersion) {
        mfSetError("CResFile::Open - Error version number in resource file <%s>", m_Name);
        return 0;
    }
    m_Dir.Truncate(0);
    m_Capacity = 0;
    if (header.entryCount == 0) {
        m_EmptyPackage = true;
        mfSetError("CResFile::Open - Empty resource file <%s>", m_Name);
        return 0;
    }
    // The count is trusted for memory only as far as the file could hold that many records.
    if (header.entryCount < 0 || header.entryCount > MaxRecordsIn(FileLength(m_File))) {
        mfSetError("CResFile::Open - Error number directory files in resource file <%s>", m_Name);
        return 0;
    }
    const size_t count = static_cast<size_t>(header.entryCount);
    HeapVector<DirEntry> directory;
    if (!directory.Reserve(count)) {
        mfSetError("CResFile::Open - Can't allocate memory for directory in resource file <%s>", m_Name);
        return 0;
    }
    // The walk stops after `count` records, so every one finds room.
    const ChainStatus status = WalkChain(mfReader(), header.firstRecord, count, [&directory](const ChainLink& link) {
        directory.Append(EntryFromRecord(link.record));
    });
    if (status == ChainStatus::ReadFailed) {
        mfSetError("CResFile::Open - Error read directory in resource file <%s>", m_Name);
        return 0;
    }
    if (status == ChainStatus::TooLong || directory.size() != count) {
        mfSetError("CResFile::Open - Error number directory files in resource file <%s>", m_Name);
        return 0;
    }
    m_Dir.Swap(directory);
    m_Capacity = header.entryCount;
    return 1;
}
