// CResFile adding and flushing: pending entries are appended behind the package's chain
// and only then linked in, so a failed append leaves the old package intact.
#include "archive/Lzss.h"
#include "archive/ResFile.h"

#include "host/FileIO.h"

#include <algorithm>
#include <cstring>

namespace {

int64_t GrownCapacity(int64_t count)
{
    return count + count / 4 + 32;
}

}  // namespace

// One pending entry as it goes to disk: where its record lies and the bytes stored.
struct CResFile::PlannedWrite {
    size_t index = 0;
    int64_t recordPos = 0;
    int64_t span = 0;                   // from the record to the next one
    const uint8_t* stored = nullptr;
    int32_t storedSize = 0;
    HeapBytes packed;                   // LZSS entries only
};

int32_t CResFile::mfFileAdd(const DirEntry* entry)
{
    if (m_Mode == RA_READ) {
        mfSetError("CResFile::mfFileAdd - Operation 'Add' during RA_READ access mode in resource file <%s>", m_Name);
        return -1;
    }
    const int32_t count = mfGetCount();
    if (!entry || entry->size <= 0 || entry->name[0] == '\0' || !entry->data)
        return count;
    if (entry->method != RC_NONE && entry->method != RC_LZSS) {
        mfSetError("CResFile::mfFileAdd - Unknown storage method %i for file <%.63s> in resource file <%s>",
                   entry->method, entry->name, m_Name);
        return count;
    }
    if (!mfGrowDirectory(static_cast<int64_t>(count) + 1))
        return count;
    HeapBytes copy = AllocateBytes(static_cast<size_t>(entry->size));
    if (!copy) {
        mfSetError("CResFile::mfFileAdd - Can't allocate %i memory for file <%.63s> in resource file <%s>",
                   entry->size, entry->name, m_Name);
        return count;
    }
    std::memcpy(copy.get(), entry->data, static_cast<size_t>(entry->size));
    DirEntry added = *entry;
    added.name[kNameSize - 1] = '\0';
    added.flags |= DE_PENDING;
    added.data = copy.release();  // the entry's own now, until mfReleasePending
    m_Dir.Append(added);          // mfGrowDirectory made room
    ++m_PendingCount;
    return count + 1;
}

bool CResFile::mfGrowDirectory(int64_t count)
{
    if (count <= m_Capacity)
        return true;
    const int64_t capacity = std::min(GrownCapacity(count), kMaxPackageOffset);
    if (count > kMaxPackageOffset || !m_Dir.Reserve(static_cast<size_t>(capacity))) {
        mfSetError("CResFile::mfFileAdd - Can't allocate memory for directory in resource file <%s>", m_Name);
        return false;
    }
    m_Capacity = static_cast<int32_t>(capacity);
    return true;
}

int32_t CResFile::mfFlush()
{
    if (m_Mode == RA_READ) {
        mfSetError("CResFile::mfFlush - Operation 'Flush' during RA_READ access mode in resource file <%s>", m_Name);
        return -1;
    }
    if (!m_File) {
        mfSetError("CResFile::mfFlush - No open stream for resource file <%s>", m_Name);
        return 0;
    }
    if (!m_Disk.known && !mfLearnDisk())
        return 0;
    // Only pending entries are written; a count that already matches the disk may be
    // another handle's appends, which mfPlanAppend refuses.
    if (m_PendingCount == 0)
        return 1;
    std::vector<PlannedWrite> writes;
    if (!mfPlanAppend(writes))
        return 0;
    uint8_t lastRecord[kRecordSize];
    PackageHeader header{};
    if (!mfAppend(writes, lastRecord) || !mfLinkAppended(writes.front().recordPos, header))
        return mfAbandonFlush();
    mfCommitFlush(writes, lastRecord, header);
    return 1;
}

// Learns the header, the chain's last record, the record count and where the file ends.
int32_t CResFile::mfLearnDisk()
{
    uint8_t headerBytes[kHeaderSize];
    DiskState disk;
    ChainStatus status = ChainStatus::ReadFailed;
    if (mfReadAt(0, headerBytes, kHeaderSize)) {
        disk.header = DecodeHeader(headerBytes);
        status = WalkChain(mfReader(), disk.header.firstRecord, m_Dir.size(), [&disk](const ChainLink& link) {
            disk.tail = link;
            ++disk.records;
        });
    }
    if (status == ChainStatus::TooLong) {
        // More records than the directory holds: the package is not what this handle knows.
        mfSetError("CResFile::mfFlush - Error number directory files in resource file <%s>", m_Name);
        return 0;
    }
    disk.end = FileLength(m_File);
    if (status != ChainStatus::Complete || disk.end < 0) {
        mfSetError("CResFile::mfFlush - Error read directory in resource file <%s>", m_Name);
        return 0;
    }
    disk.known = true;
    m_Disk = disk;
    return 1;
}

// Lays the pending entries out behind the file's end: each record is followed by its
// stored bytes, and the next record starts after the unpacked length, or after the
// stored bytes when packing made them longer. Nothing is written unless every offset
// fits a signed 32-bit field.
bool CResFile::mfPlanAppend(std::vector<PlannedWrite>& writes)
{
    const size_t count = m_Dir.size();
    const size_t onDisk = static_cast<size_t>(m_Disk.records);
    // The entries the disk lacks must be the pending ones, or the header would disagree
    // with the chain.
    if (onDisk + m_PendingCount != count) {
        mfSetError("CResFile::mfFlush - Error number directory files in resource file <%s>", m_Name);
        return false;
    }
    int64_t position = m_Disk.end;
    for (size_t index = onDisk; index < count; ++index) {
        const DirEntry& entry = m_Dir[index];
        PlannedWrite write;
        write.index = index;
        write.recordPos = position;
        write.stored = entry.data;
        write.storedSize = entry.size;
        if (entry.method == RC_LZSS && !mfPack(entry, write))
            return false;
        write.span = static_cast<int64_t>(kRecordSize) + std::max(entry.size, write.storedSize);
        position += write.span;
        if (position > kMaxPackageOffset) {
            mfSetError("CResFile::mfFlush - Error write directory in resource file <%s>", m_Name);
            return false;
        }
        writes.push_back(std::move(write));
    }
    return true;
}

// Packs an LZSS entry: its unpacked length, then the stream.
bool CResFile::mfPack(const DirEntry& entry, PlannedWrite& write)
{
    const int64_t bound = LzssMaxEncodedSize(entry.size) + static_cast<int64_t>(kLzssPrefixSize);
    if (bound <= kMaxPackageOffset)
        write.packed = AllocateBytes(static_cast<size_t>(bound));
    if (!write.packed) {
        mfSetError("CResFile::mfFlush - Can't allocate %i memory for file <%s> in resource file <%s>", entry.size,
                   entry.name, m_Name);
        return false;
    }
    EncodeLzssPrefix(static_cast<uint32_t>(entry.size), write.packed.get());
    write.storedSize = LzssEncode(entry.data, write.packed.get() + kLzssPrefixSize, entry.size) +
                       static_cast<int32_t>(kLzssPrefixSize);
    write.stored = write.packed.get();
    return true;
}

// Appends every record with its bytes; the old chain does not reach them yet.
bool CResFile::mfAppend(const std::vector<PlannedWrite>& writes, uint8_t lastRecord[kRecordSize])
{
    int64_t previous = m_Disk.tail.offset;
    for (size_t k = 0; k < writes.size(); ++k) {
        const PlannedWrite& write = writes[k];
        const DirEntry& entry = m_Dir[write.index];
        DirRecord record{};
        std::memcpy(record.name, entry.name, strnlen(entry.name, kNameSize - 1));
        record.size = write.storedSize;
        record.offset = static_cast<int32_t>(write.recordPos + static_cast<int64_t>(kRecordSize));
        record.next = k + 1 < writes.size() ? static_cast<int32_t>(write.recordPos + write.span) : kNoRecord;
        record.prev = static_cast<int32_t>(previous);
        record.type = entry.type;
        record.method = entry.method;
        EncodeRecord(record, lastRecord);
        const ByteSpan spans[] = {{lastRecord, kRecordSize}, {write.stored, static_cast<size_t>(write.storedSize)}};
        const size_t written = WriteAt(m_File, write.recordPos, spans, 2);
        if (written < kRecordSize) {
            mfSetError("CResFile::mfFlush - Error write directory in resource file <%s>", m_Name);
            return false;
        }
        if (written < kRecordSize + spans[1].size) {
            mfSetError("CResFile::mfFlush - Error write file <%s> in resource file <%s>", entry.name, m_Name);
            return false;
        }
        previous = write.recordPos;
    }
    return true;
}

// Links the appended records in behind the old tail (or from the header), then publishes
// the new count; `header` receives the header written.
bool CResFile::mfLinkAppended(int64_t appendPos, PackageHeader& header)
{
    header = m_Disk.header;
    header.entryCount = mfGetCount();
    uint8_t tailBytes[kRecordSize];
    uint8_t headerBytes[kHeaderSize];
    const ByteSpan tailSpan{tailBytes, kRecordSize};
    const ByteSpan headerSpan{headerBytes, kHeaderSize};
    const bool hasTail = m_Disk.tail.offset >= 0;
    bool linked = true;
    if (hasTail) {
        DirRecord tail = m_Disk.tail.record;
        tail.next = static_cast<int32_t>(appendPos);
        EncodeRecord(tail, tailBytes);
        linked = WriteAt(m_File, m_Disk.tail.offset, &tailSpan, 1) == kRecordSize;
    } else {
        header.firstRecord = static_cast<int32_t>(appendPos);
    }
    EncodeHeader(header, headerBytes);
    if (linked && WriteAt(m_File, 0, &headerSpan, 1) == kHeaderSize)
        return true;
    // Best effort: put the old link and header back so the old chain stays whole.
    if (hasTail) {
        EncodeRecord(m_Disk.tail.record, tailBytes);
        WriteAt(m_File, m_Disk.tail.offset, &tailSpan, 1);
    }
    EncodeHeader(m_Disk.header, headerBytes);
    WriteAt(m_File, 0, &headerSpan, 1);
    mfSetError("CResFile::mfFlush - Error write directory in resource file <%s>", m_Name);
    return false;
}

void CResFile::mfCommitFlush(const std::vector<PlannedWrite>& writes, const uint8_t lastRecord[kRecordSize],
                             const PackageHeader& header)
{
    for (const PlannedWrite& write : writes) {
        DirEntry& entry = m_Dir[write.index];
        entry.flags &= ~DE_PENDING;
        mfReleasePending(entry);
        entry.size = write.storedSize;
        entry.offset = static_cast<int32_t>(write.recordPos + static_cast<int64_t>(kRecordSize));
    }
    m_PendingCount = 0;
    const PlannedWrite& last = writes.back();
    m_Disk.header = header;
    m_Disk.tail = {static_cast<int32_t>(last.recordPos), DecodeRecord(lastRecord)};
    m_Disk.end = last.recordPos + static_cast<int64_t>(kRecordSize) + last.storedSize;
    m_Disk.records = mfGetCount();
}

// After a failed append the entries stay pending with their bytes, so a later flush can
// write them again; the chain on disk is looked up afresh then.
int32_t CResFile::mfAbandonFlush()
{
    m_Disk.known = false;
    return 0;
}
