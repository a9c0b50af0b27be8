// Mtxmake's update modes: per-record add, keep or replace against an existing package,
// removal by name, and the compacted rewrite that follows a change.
#include "builder/PackageUpdate.h"

#include "common/StringUtil.h"
#include "host/DirectorySearch.h"
#include "host/FileIO.h"
#include "host/StagedFile.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

bool UsesSharedPalette(const MipTexture& header)
{
    return header.format == TEX_INDEXED8 && header.ownPalette == 0;
}

// The record header of texture entry `index`; false when the entry is no texture record.
bool ReadRecordHeader(CResFile& package, int32_t index, MipTexture& header)
{
    uint8_t bytes[kMipHeaderSize];
    if (package.mfGetEntry(index).type != RT_TEXTURE ||
        package.mfFileReadHead(index, bytes, kMipHeaderSize) != static_cast<int32_t>(kMipHeaderSize))
        return false;
    header = DecodeMipTexture(bytes);
    return true;
}

bool IsPaletteEntry(const DirEntry& entry)
{
    return entry.type == RT_PALETTE && EqualsIgnoringCase(entry.name, kPaletteEntryName);
}

}  // namespace

std::string PackageFailure(const CResFile& package)
{
    const char* text = package.mfGetError();
    return std::string(text ? text : "") + "\n";
}

UpdateSink::UpdateSink(CResFile& package) : m_Package(package), m_Old(static_cast<size_t>(package.mfGetCount()))
{
}

void UpdateSink::ReadOldHeaders()
{
    if (m_HeadersRead)
        return;
    m_HeadersRead = true;
    for (int32_t i = 0; i < m_Package.mfGetCount(); ++i) {
        MipTexture header{};
        if (!ReadRecordHeader(m_Package, i, header))
            continue;
        m_Old[static_cast<size_t>(i)].usesSharedPalette = UsesSharedPalette(header);
        m_HasIndexedRecords = m_HasIndexedRecords || header.format == TEX_INDEXED8;
    }
}

bool UpdateSink::PaletteRule(PaletteChoice& choice, std::string& fatalMessage)
{
    choice = PaletteChoice();
    const int32_t paletteIndex = m_Package.mfFileGetNum(kPaletteEntryName);
    if (paletteIndex < 0) {
        ReadOldHeaders();
        choice.decided = m_HasIndexedRecords;
        return true;
    }
    const int32_t paletteSize = static_cast<int32_t>(kRgbaPaletteSize);
    const int64_t size = m_Package.mfFileSize(paletteIndex);
    if (size >= 0 && size != paletteSize) {  // readable, but no palette: the archive has no error to tell
        fatalMessage = std::string("The \"") + kPaletteEntryName + "\" entry of <" + m_Package.mfGetName() +
                       "> is not one palette of " + std::to_string(paletteSize) + " bytes\n";
        return false;
    }
    if (size != paletteSize || m_Package.mfFileRead(paletteIndex, &choice.palette, paletteSize) != paletteSize) {
        fatalMessage = PackageFailure(m_Package);
        return false;
    }
    choice.decided = true;
    choice.shared = true;
    return true;
}

UpdateSink::~UpdateSink()
{
    if (m_Spool)
        std::fclose(m_Spool);
}

void UpdateSink::Announce(const char* /*line*/)
{
    // An update names its decision once the record is made.
}

bool UpdateSink::Put(const char* name, int32_t type, const uint8_t* data, size_t size, const std::string& fileName,
                     std::string& fatalMessage)
{
    const bool texture = type == RT_TEXTURE;
    bool repeated = false;
    for (const std::string& seen : m_RunNames)
        repeated = repeated || EqualsIgnoringCase(seen.c_str(), name);
    // Lookups find the first entry of a name, so a later one would be out of reach.
    if (repeated)
        std::printf("Warning: Duplicate texture name %s\n", name);
    m_RunNames.push_back(name);
    if (texture)
        ++m_Records;

    const int32_t index = repeated ? -1 : m_Package.mfFileGetNum(name);
    if (index >= 0 && SameBytes(index, data, size)) {
        if (texture)
            std::printf("Keep file <%s>...\n", fileName.c_str());
        m_Old[static_cast<size_t>(index)].produced = true;
        return true;
    }
    CompactEntry entry;
    if (!Spool(name, type, data, size, entry, fatalMessage))
        return false;
    m_Changed = true;
    const bool usesShared = texture && size >= kMipHeaderSize && UsesSharedPalette(DecodeMipTexture(data));
    if (index >= 0) {
        if (texture)
            std::printf("Replace file <%s>...\n", fileName.c_str());
        OldEntry& old = m_Old[static_cast<size_t>(index)];
        old = {true, usesShared, true, entry};
        return true;
    }
    if (texture)
        std::printf("Add file <%s>...\n", fileName.c_str());
    m_Added.push_back(entry);
    m_AddedUsesSharedPalette.push_back(usesShared);
    return true;
}

// Whether entry `index` holds exactly `size` bytes equal to `data` once unpacked.
bool UpdateSink::SameBytes(int32_t index, const uint8_t* data, size_t size)
{
    if (m_Package.mfFileSize(index) != static_cast<int64_t>(size))
        return false;
    const HeapBytes present = AllocateBytes(size);
    const int32_t expected = static_cast<int32_t>(size);
    return present && m_Package.mfFileRead(index, present.get(), static_cast<int64_t>(size)) == expected &&
           std::memcmp(present.get(), data, size) == 0;
}

// Keeps new bytes in the scratch file, so that only one record is in memory at a time.
bool UpdateSink::Spool(const char* name, int32_t type, const uint8_t* data, size_t size, CompactEntry& entry,
                       std::string& fatalMessage)
{
    if (!m_Spool) {
        std::string reason;
        const std::string folder = PatternDirectory(ResolveLinks(m_Package.mfGetName()));
        m_Spool = CreateScratchFile(folder, reason);
        if (!m_Spool) {
            fatalMessage = "Can't create a scratch file in <" + (folder.empty() ? std::string(".") : folder) + "> (" +
                           reason + ")\n";
            return false;
        }
    }
    const ByteSpan span{data, size};
    if (WriteAt(m_Spool, m_SpoolEnd, &span, 1) != size) {
        fatalMessage = std::string("Can't write a scratch file for <") + m_Package.mfGetName() + ">\n";
        return false;
    }
    std::snprintf(entry.record.name, sizeof entry.record.name, "%s", name);
    entry.record.size = static_cast<int32_t>(size);
    entry.record.type = type;
    entry.record.method = RC_NONE;
    std::FILE* spool = m_Spool;
    entry.read = [spool](int64_t offset, void* dst, size_t count) { return ReadAt(spool, offset, dst, count); };
    entry.at = m_SpoolEnd;
    m_SpoolEnd += static_cast<int64_t>(size);
    return true;
}

bool UpdateSink::Finish(bool sync, bool& changed, std::string& fatalMessage)
{
    if (sync)
        ReadOldHeaders();
    std::vector<bool> removed(m_Old.size(), false);
    bool sharedPaletteUsed = false;
    for (size_t i = 0; i < m_Old.size(); ++i) {
        const DirEntry& entry = m_Package.mfGetEntry(static_cast<int32_t>(i));
        removed[i] = sync && entry.type == RT_TEXTURE && !m_Old[i].produced;
        sharedPaletteUsed = sharedPaletteUsed || (!removed[i] && m_Old[i].usesSharedPalette);
    }
    for (const bool usesShared : m_AddedUsesSharedPalette)
        sharedPaletteUsed = sharedPaletteUsed || usesShared;

    std::vector<CompactEntry> entries;
    for (size_t i = 0; i < m_Old.size(); ++i) {
        const DirEntry& entry = m_Package.mfGetEntry(static_cast<int32_t>(i));
        if (sync && !sharedPaletteUsed && IsPaletteEntry(entry))
            removed[i] = true;
        if (removed[i]) {
            std::printf("Remove entry <%s>...\n", entry.name);
            m_Changed = true;
            continue;
        }
        entries.push_back(m_Old[i].replaced ? m_Old[i].replacement : m_Package.mfStoredEntry(static_cast<int32_t>(i)));
    }
    entries.insert(entries.end(), m_Added.begin(), m_Added.end());
    changed = m_Changed;
    if (!m_Changed)
        return true;
    if (m_Package.mfRewrite(entries) != 1) {
        fatalMessage = PackageFailure(m_Package);
        return false;
    }
    return true;
}

int RemoveMatchingEntries(CResFile& package, const std::vector<std::string>& patterns, bool& changed,
                          std::string& fatalMessage)
{
    changed = false;
    std::vector<bool> patternMatched(patterns.size(), false);
    std::vector<CompactEntry> kept;
    std::vector<const char*> removedNames;
    for (int32_t i = 0; i < package.mfGetCount(); ++i) {
        const char* name = package.mfGetEntry(i).name;
        bool matched = false;
        for (size_t p = 0; p < patterns.size(); ++p) {
            const bool matches = WildcardMatch(patterns[p].c_str(), name);
            patternMatched[p] = patternMatched[p] || matches;
            matched = matched || matches;
        }
        if (matched)
            removedNames.push_back(name);
        else
            kept.push_back(package.mfStoredEntry(i));
    }
    for (size_t p = 0; p < patterns.size(); ++p) {
        if (!patternMatched[p])
            std::printf("Warning: no entry matches %s\n", patterns[p].c_str());
    }
    if (removedNames.empty())
        return 2;
    for (const char* name : removedNames)
        std::printf("Remove entry <%s>...\n", name);
    if (package.mfRewrite(kept) != 1) {
        fatalMessage = PackageFailure(package);
        return 1;
    }
    changed = true;
    const bool everyPatternMatched = std::count(patternMatched.begin(), patternMatched.end(), false) == 0;
    return everyPatternMatched ? 0 : 2;
}
