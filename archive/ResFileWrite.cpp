// CResFile adding and flushing: pending entries are appended behind the package's chain,
// and only then linked in, so a failed append leaves the old package intact.
#include "archive/Lzss.h"
#include "archive/ResFile.h"

#include "common/ByteReader.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <stdexcept>
#include <sys/uio.h>
#include <unistd.h>

namespace {

constexpr int64_t kMaxOffset = std::numeric_limits<int32_t>::max();
constexpr size_t kLzssPrefixSize = 4;   // unpacked length in front of an LZSS stream
constexpr size_t kNextField = 72;       // offset of `next` inside a directory record

int64_t GrownCapacity(int64_t count)
{
    return count + count / 4 + 32;
}

struct FreeDeleter {
    void operator()(void* block) const { std::free(block); }
};

// One pending entry as it goes to disk: where its record lies and the bytes stored.
struct PendingWrite {
    size_t index = 0;
    int64_t recordPos = 0;
    int64_t span = 0;                   // distance from the record to the next one
    const uint8_t* stored = nullptr;
    int32_t storedSize = 0;
    std::unique_ptr<uint8_t[], FreeDeleter> packed;   // LZSS entries only
};

// One piece of bytes for WriteAt.
iovec Piece(const void* bytes, size_t count)
{
    return {const_cast<void*>(bytes), count};
}

// Writes the pieces one after another at `position` of the file, past any stream buffer,
// in one call when the system takes them whole; returns how many bytes reached the file
// (fewer when the disk fills up or a write fails).
size_t WriteAt(int descriptor, int64_t position, iovec* pieces, int pieceCount)
{
    size_t done = 0;
    while (pieceCount > 0) {
        const ssize_t written =
            pwritev(descriptor, pieces, pieceCount, static_cast<off_t>(position + static_cast<int64_t>(done)));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            break;
        done += static_cast<size_t>(written);
        // Step over what went out: whole pieces, then the front of a partly written one.
        size_t left = static_cast<size_t>(written);
        while (pieceCount > 0 && left >= pieces->iov_len) {
            left -= pieces->iov_len;
            ++pieces;
            --pieceCount;
        }
        if (pieceCount > 0) {
            pieces->iov_base = static_cast<uint8_t*>(pieces->iov_base) + left;
            pieces->iov_len -= left;
        }
    }
    return done;
}

}  // namespace

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
    const int64_t newCount = static_cast<int64_t>(count) + 1;
    if (newCount > m_Capacity) {
        const int64_t capacity = std::min(GrownCapacity(newCount), kMaxOffset);
        bool grown = newCount <= kMaxOffset;
        if (grown) {
            try {
                m_Dir.reserve(static_cast<size_t>(capacity));
            } catch (const std::bad_alloc&) {
                grown = false;
            } catch (const std::length_error&) {
                grown = false;
            }
        }
        if (!grown) {
            mfSetError("CResFile::mfFileAdd - Can't allocate memory for directory in resource file <%s>", m_Name);
            return count;
        }
        m_Capacity = static_cast<int32_t>(capacity);
    }
    DirEntry added = *entry;
    added.name[kNameSize - 1] = '\0';
    added.flags |= DE_PENDING;
    m_Dir.push_back(added);
    return static_cast<int32_t>(newCount);
}

// Learns the header, the last record of the chain on disk, the record count and where the
// file ends; done once per Open, later flushes keep the results up to date.
int32_t CResFile::mfLoadChainTail()
{
    // Drop what the stream buffered while reading, so the walk sees the file as it is now.
    std::fflush(m_File);
    uint8_t headerBytes[kHeaderSize];
    if (!mfReadAt(0, headerBytes, kHeaderSize)) {
        mfSetError("CResFile::mfFlush - Error read directory in resource file <%s>", m_Name);
        return 0;
    }
    const PackageHeader header = DecodeHeader(headerBytes);
    int32_t position = header.firstRecord;
    int32_t tail = kNoRecord;
    int32_t records = 0;
    uint8_t recordBytes[kRecordSize];
    while (position >= 0) {
        // More records than the directory holds: the package is not what this handle knows.
        if (records == mfGetCount()) {
            mfSetError("CResFile::mfFlush - Error number directory files in resource file <%s>", m_Name);
            return 0;
        }
        if (!mfReadAt(position, recordBytes, kRecordSize)) {
            mfSetError("CResFile::mfFlush - Error read directory in resource file <%s>", m_Name);
            return 0;
        }
        tail = position;
        ++records;
        std::memcpy(m_TailRecord, recordBytes, kRecordSize);
        position = DecodeRecord(recordBytes).next;
    }
    if (fseeko(m_File, 0, SEEK_END) != 0) {
        mfSetError("CResFile::mfFlush - Error write directory in resource file <%s>", m_Name);
        return 0;
    }
    m_EndOffset = ftello(m_File);
    m_DiskHeader = header;
    m_TailOffset = tail;
    m_DiskCount = records;
    m_TailKnown = true;
    return 1;
}

// Writes `count` bytes at `position`, past the stream, whose buffer must be empty.
bool CResFile::mfWriteAt(int64_t position, const void* src, size_t count)
{
    iovec piece = Piece(src, count);
    return WriteAt(fileno(m_File), position, &piece, 1) == count;
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
    if (!m_TailKnown && !mfLoadChainTail())
        return 0;
    const int32_t count = mfGetCount();
    if (m_DiskCount == count)
        return 1;

    // The entries the disk lacks are the directory's last ones, and each must be pending,
    // or the header would disagree with the chain.
    std::vector<PendingWrite> writes;
    for (size_t index = static_cast<size_t>(std::max(m_DiskCount, 0)); index < m_Dir.size(); ++index) {
        if (!(m_Dir[index].flags & DE_PENDING))
            break;
        writes.emplace_back();
        writes.back().index = index;
    }
    if (m_DiskCount + static_cast<int64_t>(writes.size()) != count) {
        mfSetError("CResFile::mfFlush - Error number directory files in resource file <%s>", m_Name);
        return 0;
    }
    const int64_t appendPos = m_EndOffset;

    // Lay the new entries out: each record is followed by its stored bytes, and the next
    // record starts after the unpacked length, or after the stored bytes when packing made
    // them longer. Nothing is written unless every offset fits a signed 32-bit field.
    int64_t position = appendPos;
    bool fits = appendPos >= 0;
    for (PendingWrite& write : writes) {
        const DirEntry& entry = m_Dir[write.index];
        write.recordPos = position;
        write.stored = entry.data;
        write.storedSize = entry.size;
        if (entry.method == RC_LZSS) {
            const int64_t bound = LzssMaxEncodedSize(entry.size) + static_cast<int64_t>(kLzssPrefixSize);
            if (bound > kMaxOffset) {
                fits = false;
                break;
            }
            write.packed.reset(static_cast<uint8_t*>(std::malloc(static_cast<size_t>(bound))));
            if (!write.packed) {
                mfSetError("CResFile::mfFlush - Can't allocate %i memory for file <%s> in resource file <%s>",
                           entry.size, entry.name, m_Name);
                return 0;
            }
            PutU32(write.packed.get(), static_cast<uint32_t>(entry.size));
            write.storedSize = LzssEncode(entry.data, write.packed.get() + kLzssPrefixSize, entry.size) +
                               static_cast<int32_t>(kLzssPrefixSize);
            write.stored = write.packed.get();
        }
        write.span = static_cast<int64_t>(kRecordSize) + std::max(entry.size, write.storedSize);
        position += write.span;
        if (position > kMaxOffset) {
            fits = false;
            break;
        }
    }
    if (!fits) {
        mfSetError("CResFile::mfFlush - Error write directory in resource file <%s>", m_Name);
        return 0;
    }

    // From here on the bytes go to the file at their offsets, past the stream: whatever
    // it still buffers is written or dropped first.
    if (std::fflush(m_File) != 0) {
        mfSetError("CResFile::mfFlush - Error write directory in resource file <%s>", m_Name);
        return mfAbandonFlush();
    }
    const int descriptor = fileno(m_File);

    // Append records and data; the old chain does not reach them yet.
    int64_t previous = m_TailOffset;
    uint8_t recordBytes[kRecordSize];
    for (size_t k = 0; k < writes.size(); ++k) {
        const PendingWrite& write = writes[k];
        const DirEntry& entry = m_Dir[write.index];
        DirRecord record{};
        std::memcpy(record.name, entry.name, strnlen(entry.name, kNameSize - 1));
        record.size = write.storedSize;
        record.offset = static_cast<int32_t>(write.recordPos + static_cast<int64_t>(kRecordSize));
        record.next = k + 1 < writes.size() ? static_cast<int32_t>(write.recordPos + write.span) : kNoRecord;
        record.prev = static_cast<int32_t>(previous);
        record.type = entry.type;
        record.method = entry.method;
        EncodeRecord(record, recordBytes);
        const size_t storedSize = static_cast<size_t>(write.storedSize);
        iovec pieces[] = {Piece(recordBytes, kRecordSize), Piece(write.stored, storedSize)};
        const size_t written = WriteAt(descriptor, write.recordPos, pieces, 2);
        if (written < kRecordSize) {
            mfSetError("CResFile::mfFlush - Error write directory in resource file <%s>", m_Name);
            return mfAbandonFlush();
        }
        if (written < kRecordSize + storedSize) {
            mfSetError("CResFile::mfFlush - Error write file <%s> in resource file <%s>", entry.name, m_Name);
            return mfAbandonFlush();
        }
        previous = write.recordPos;
    }

    // Link the new records in, then publish the new count.
    PackageHeader header = m_DiskHeader;
    uint8_t oldTail[kRecordSize];
    std::memcpy(oldTail, m_TailRecord, kRecordSize);
    bool linked;
    if (m_TailOffset >= 0) {
        PutU32(m_TailRecord + kNextField, static_cast<uint32_t>(appendPos));
        linked = mfWriteAt(m_TailOffset, m_TailRecord, kRecordSize);
    } else {
        header.firstRecord = static_cast<int32_t>(appendPos);
        linked = true;
    }
    header.entryCount = count;
    uint8_t headerBytes[kHeaderSize];
    EncodeHeader(header, headerBytes);
    if (!linked || !mfWriteAt(0, headerBytes, kHeaderSize)) {
        // Best effort: put the old link and header back so the old chain stays whole.
        if (m_TailOffset >= 0)
            mfWriteAt(m_TailOffset, oldTail, kRecordSize);
        EncodeHeader(m_DiskHeader, headerBytes);
        mfWriteAt(0, headerBytes, kHeaderSize);
        mfSetError("CResFile::mfFlush - Error write directory in resource file <%s>", m_Name);
        return mfAbandonFlush();
    }

    for (const PendingWrite& write : writes) {
        DirEntry& entry = m_Dir[write.index];
        entry.flags &= ~DE_PENDING;
        entry.data = nullptr;
        entry.size = write.storedSize;
        entry.offset = static_cast<int32_t>(write.recordPos + static_cast<int64_t>(kRecordSize));
    }
    const PendingWrite& last = writes.back();
    m_TailOffset = static_cast<int32_t>(last.recordPos);
    std::memcpy(m_TailRecord, recordBytes, kRecordSize);
    m_DiskHeader = header;
    m_EndOffset = last.recordPos + static_cast<int64_t>(kRecordSize) + last.storedSize;
    m_DiskCount = count;
    return 1;
}

// After a failed append the entries stay pending with their data, so a later flush can
// write them again; the chain on disk is looked up afresh then.
int32_t CResFile::mfAbandonFlush()
{
    std::clearerr(m_File);
    m_TailKnown = false;
    return 0;
}
