// CResFile: the handle through which every tool opens, reads, extends and compacts
// one MTX package.
//
// Failing: every call returns its contract's value and leaves the reason in mfGetError.
// Running out of memory: the directory, an added entry's copy and the buffers for reading
// and packing entries are sized by the file or by the caller's entry, checked against what
// the file holds before anything is allocated, and allocated through common/HeapBuffer.h
// (a HeapVector for the directory); a failure is an ordinary failed call whose text says
// "Can't allocate memory". Working lists that grow only with a directory already in
// memory (compaction's entry list and encoded directory) are standard containers whose
// exhaustion is not caught. Nothing in the archive throws for memory or catches it.
#pragma once

#include "archive/PackageChain.h"
#include "archive/PackageCompact.h"
#include "archive/PackageFormat.h"
#include "common/HeapBuffer.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

// Access modes for Open.
class PackageStaging;
class ReadWindow;

constexpr int32_t RA_READ = 1;
constexpr int32_t RA_WRITE = 2;
constexpr int32_t RA_CREATE = 4;

// DirEntry flags.
constexpr int32_t DE_PENDING = 1;  // added and not yet written

constexpr size_t kResNameCapacity = 1024;
constexpr size_t kErrorCapacity = 1024;

// One directory entry in memory; also what a caller fills and hands to mfFileAdd.
//
// Who owns an entry's bytes: mfFileAdd copies the `size` bytes at `data` into the
// handle. The caller's buffer stays the caller's, whatever its source, and may be freed
// or reused as soon as mfFileAdd returns. While the entry is pending, `data` points at
// the handle's copy, which the flush that writes the entry, mfClose and the destructor
// release; every entry that is not pending has `data` null. (The struct is plain data,
// so that the directory can live in a HeapVector.)
struct DirEntry {
    char name[kNameSize];
    int32_t size;     // stored bytes; for a pending entry, the bytes at `data`
    int32_t offset;   // where the stored bytes lie in the file
    int32_t readPos;  // where the next mfFileRead2 starts within the entry
    int32_t type;
    int32_t method;
    const uint8_t* data;  // the handle's copy of a pending entry's bytes
    int32_t flags;
};

class CResFile {
public:
    explicit CResFile(const char* name);
    ~CResFile();
    CResFile(const CResFile&) = delete;
    CResFile& operator=(const CResFile&) = delete;

    int32_t Open(int32_t mode);
    int32_t mfClose();
    const char* mfGetError() const;

    // Lookup and reading.
    int32_t mfFileGetNum(const char* name);
    // The number of bytes mfFileRead delivers for an entry (the unpacked length of an
    // LZSS entry), or -1 with the error text set; -1 also for a written entry whose
    // stored bytes the file does not hold.
    int64_t mfFileSize(int32_t index);
    int32_t mfFileRead(int32_t index, void* dst);
    int32_t mfFileRead(const char* name, void* dst);
    // As above, but never writes more than `capacity` bytes: an entry that does not fit
    // fails with the short-read message.
    int32_t mfFileRead(int32_t index, void* dst, int64_t capacity);
    uint8_t* mfFileRead2(int32_t index, int32_t len);
    // The first `count` bytes mfFileRead would deliver (fewer when the entry is shorter),
    // without unpacking the rest of an LZSS entry. Returns how many, or 0 with the error
    // text set.
    int32_t mfFileReadHead(int32_t index, void* dst, int32_t count);
    uint8_t* mfFileRead2(const char* name, int32_t len);

    // Adding and flushing.
    int32_t mfFileAdd(const DirEntry* entry);
    int32_t mfFlush();

    // Starts a new, empty package that replaces the file named by the handle only when
    // mfCommit succeeds: until then every flush goes to a staging file beside it, and
    // closing the handle throws the staged package away. An existing package the user may
    // not write is refused. Returns 1, or 0 with the error text set.
    int32_t mfCreateStaged();
    // Replaces the package with the staged one, flushed and synced, and closes the stream.
    // Returns 1, or 0 with the error text set and the old package as it was.
    int32_t mfCommit();

    // Compaction: rewrites the package in compacted layout through a staging file. A
    // package already in that layout is left untouched. On success the handle is open for
    // reading on the result.
    int32_t mfOptimize(int32_t unused);
    // True after an Open that failed only because the package holds no entries.
    bool mfIsEmptyPackage() const { return m_EmptyPackage; }
    // True when the handle's file may be replaced: it does not exist, or the user may
    // write it. Otherwise false, with the error text naming `caller` and the host's reason.
    bool mfCheckWritable(const char* caller);
    // Replaces the package with one in compacted layout that holds `entries` in order
    // (entries of this handle through mfStoredEntry, or bytes from elsewhere). The handle
    // may be open for reading on the old package or not open at all when there is none.
    // The handle is closed on success.
    int32_t mfRewrite(const std::vector<CompactEntry>& entries);
    // Entry `index` as it is stored, for mfRewrite: copied without being unpacked.
    CompactEntry mfStoredEntry(int32_t index);

    // Directory access.
    int32_t mfGetCount() const { return static_cast<int32_t>(m_Dir.size()); }
    int32_t mfGetCapacity() const { return m_Capacity; }
    const DirEntry& mfGetEntry(int32_t index) const { return m_Dir[static_cast<size_t>(index)]; }
    const char* mfGetName() const { return m_Name; }

private:
    // What the file holds as far as this handle knows: learnt by the first flush after
    // Open and kept current by every later one.
    struct DiskState {
        bool known = false;
        PackageHeader header{};
        ChainLink tail{kNoRecord, {}};   // the chain's last record, offset kNoRecord if none
        int32_t records = 0;
        int64_t end = 0;                 // where the next append goes
    };
    struct PlannedWrite;

    void mfSetError(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void mfDropPending();
    void mfReleasePending(DirEntry& entry);
    void mfCloseStream();
    int32_t mfWriteFreshHeader();
    int32_t mfLoadDirectory();
    bool mfReadAt(int64_t position, void* dst, size_t count);
    ReadAtFunction mfReader();
    int64_t mfBytesAvailable(int64_t position);
    int32_t mfReadLzss(const DirEntry& entry, void* dst, int64_t capacity);
    bool mfGrowDirectory(int64_t count);
    int32_t mfLearnDisk();
    bool mfPlanAppend(std::vector<PlannedWrite>& writes);
    bool mfAppend(const std::vector<PlannedWrite>& writes, uint8_t lastRecord[kRecordSize]);
    bool mfPack(const DirEntry& entry, PlannedWrite& write);
    bool mfLinkAppended(int64_t appendPos, PackageHeader& header);
    void mfCommitFlush(const std::vector<PlannedWrite>& writes, const uint8_t lastRecord[kRecordSize],
                       const PackageHeader& header);
    int32_t mfAbandonFlush();
    int32_t mfWriteCompacted(const char* caller, const PackageHeader& header, const std::vector<CompactEntry>& entries,
                             bool ownEntries);
    bool mfIsLaidOutAs(const std::vector<uint8_t>& directory, const std::vector<CompactEntry>& entries,
                       int64_t length);
    bool mfReadChainAgain(PackageHeader& header, std::vector<ChainLink>& links);

    char m_Name[kResNameCapacity];
    std::FILE* m_File = nullptr;
    HeapVector<DirEntry> m_Dir;
    int32_t m_Capacity = 0;
    int32_t m_Mode = 0;
    char m_Error[kErrorCapacity];
    // Pending entries are always the directory's last ones; each owns its copy at `data`.
    size_t m_PendingCount = 0;
    DiskState m_Disk;
    // Set by mfCreateStaged: the staging file that m_File writes, until mfCommit.
    std::unique_ptr<PackageStaging> m_Staging;
    bool m_EmptyPackage = false;
    // The read-ahead through which mfStoredEntry's readers copy stored bytes.
    std::shared_ptr<ReadWindow> m_StoredWindow;
};
