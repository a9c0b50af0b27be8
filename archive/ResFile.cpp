// CResFile construction, Open with the directory load, closing and error text.
#include "archive/ResFile.h"

#include <algorithm>
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

// The most records a file of `fileSize` bytes can hold behind its header.
int64_t MaxRecordsFor(int64_t fileSize)
{
    return fileSize < static_cast<int64_t>(kHeaderSize)
               ? 0
               : (fileSize - static_cast<int64_t>(kHeaderSize)) / static_cast<int64_t>(kRecordSize);
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
    mfReleasePending();   // entries added to a handle that never opened a stream
    m_Dir.clear();
    m_Dir.shrink_to_fit();
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

// Pending entries are dropped, never written: their buffers are freed and the entries
// leave the directory, so no later flush can meet an entry without its bytes.
void CResFile::mfReleasePending()
{
    for (DirEntry& entry : m_Dir) {
        if (entry.data) {
            std::free(entry.data);
            entry.data = nullptr;
        }
    }
    m_Dir.erase(std::remove_if(m_Dir.begin(), m_Dir.end(),
                               [](const DirEntry& entry) { return (entry.flags & DE_PENDING) != 0; }),
                m_Dir.end());
}

void CResFile::mfCloseStream()
{
    if (m_File) {
        std::fclose(m_File);
        m_File = nullptr;
    }
}

int32_t CResFile::mfClose()
{
    mfReleasePending();
    mfCloseStream();
    m_Name[0] = '\0';
    return 1;
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
    if (m_File) {
        // A handle reopened while its stream is open: drop the old stream first.
        mfReleasePending();
        mfCloseStream();
    }
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
    m_TailKnown = false;

    if (!(mode & RA_READ)) {
        uint8_t bytes[kHeaderSize];
        EncodeHeader(MakeEmptyHeader(), bytes);
        if (std::fwrite(bytes, 1, kHeaderSize, m_File) != kHeaderSize) {
            mfSetError("CResFile::Open - Error write header in resource file <%s>", m_Name);
            return 0;
        }
        return 1;
    }
    return mfLoadDirectory();
}

int32_t CResFile::mfLoadDirectory()
{
    uint8_t headerBytes[kHeaderSize];
    if (std::fseek(m_File, 0, SEEK_SET) != 0 ||
        std::fread(headerBytes, 1, kHeaderSize, m_File) != kHeaderSize) {
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

    mfReleasePending();
    m_Dir.clear();
    m_Capacity = 0;
    if (header.entryCount == 0) {
        mfSetError("CResFile::Open - Empty resource file <%s>", m_Name);
        return 0;
    }
    // The count is trusted for memory only as far as the file could hold that many records.
    std::fseek(m_File, 0, SEEK_END);
    const int64_t fileSize = ftello(m_File);
    if (header.entryCount < 0 || header.entryCount > MaxRecordsFor(fileSize)) {
        mfSetError("CResFile::Open - Error number directory files in resource file <%s>", m_Name);
        return 0;
    }
    std::vector<DirEntry> directory;
    try {
        directory.reserve(static_cast<size_t>(header.entryCount));
    } catch (const std::bad_alloc&) {
        mfSetError("CResFile::Open - Can't allocate memory for directory in resource file <%s>", m_Name);
        return 0;
    }

    // Follow the chain; it may not visit more records than the header announces,
    // which also ends a chain that loops.
    int32_t position = header.firstRecord;
    while (position >= 0) {
        if (directory.size() == static_cast<size_t>(header.entryCount)) {
            mfSetError("CResFile::Open - Error number directory files in resource file <%s>", m_Name);
            return 0;
        }
        uint8_t recordBytes[kRecordSize];
        if (std::fseek(m_File, position, SEEK_SET) != 0 ||
            std::fread(recordBytes, 1, kRecordSize, m_File) != kRecordSize) {
            mfSetError("CResFile::Open - Error read directory in resource file <%s>", m_Name);
            return 0;
        }
        const DirRecord record = DecodeRecord(recordBytes);
        DirEntry entry{};
        // Only the name up to its terminator counts; the bytes after it are not significant.
        std::memcpy(entry.name, record.name, strnlen(record.name, kNameSize - 1));
        entry.size = record.size;
        entry.offset = record.offset;
        entry.type = record.type;
        entry.method = record.method;
        directory.push_back(entry);
        position = record.next;
    }
    if (directory.size() != static_cast<size_t>(header.entryCount)) {
        mfSetError("CResFile::Open - Error number directory files in resource file <%s>", m_Name);
        return 0;
    }
    m_Dir.swap(directory);
    m_Capacity = header.entryCount;
    return 1;
}
