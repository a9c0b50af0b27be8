// CResFile: the handle through which every tool opens, reads, extends and compacts
// one MTX package.
#pragma once

#include "archive/PackageChain.h"
#include "archive/PackageFormat.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

// Access modes for Open.
constexpr int32_t RA_READ = 1;
constexpr int32_t RA_WRITE = 2;
constexpr int32_t RA_CREATE = 4;

// DirEntry flags.
constexpr int32_t DE_PENDING = 1;  // added and not yet written

constexpr size_t kResNameCapacity = 1024;
constexpr size_t kErrorCapacity = 1024;

// The staging file of mfOptimize, in the process's working directory.
constexpr char kOptimizeTempName[] = "_Temp";

// One directory entry in memory; also what a caller fills and hands to mfFileAdd.
//
// Who owns an entry's bytes: mfFileAdd copies the `size` bytes at `data` into the
// handle. The caller's buffer stays the caller's, whatever its source, and may be freed
// or reused as soon as mfFileAdd returns. While the entry is pending, `data` points at
// the handle's copy, which the flush that writes the entry, mfClose and the destructor
// release; every entry that is not pending has `data` null.
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
    uint8_t* mfFileRead2(const char* name, int32_t len);

    // Adding and flushing.
    int32_t mfFileAdd(const DirEntry* entry);
    int32_t mfFlush();

    // Compaction.
    int32_t mfOptimize(int32_t unused);

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
    bool mfWriteCompacted(std::FILE* staging);
    bool mfReadChainAgain(PackageHeader& header, std::vector<ChainLink>& links);
    bool mfCopyStoredData(std::FILE* staging);

    char m_Name[kResNameCapacity];
    std::FILE* m_File = nullptr;
    std::vector<DirEntry> m_Dir;
    int32_t m_Capacity = 0;
    int32_t m_Mode = 0;
    char m_Error[kErrorCapacity];
    // Copies of the pending entries' bytes, in directory order; pending entries are
    // always the directory's last ones.
    std::vector<std::unique_ptr<uint8_t[]>> m_PendingBytes;
    DiskState m_Disk;
};
