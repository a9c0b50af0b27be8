// Mtxmake's update modes: records matched against an existing package by name, and
// entries removed by name, written back in compacted layout only when something changed.
#pragma once

#include "archive/MipTexture.h"
#include "archive/ResFile.h"
#include "builder/RecordSink.h"

#include <cstdio>
#include <string>
#include <vector>

// The message that ends a run after a failure of the package handle: its error text.
std::string PackageFailure(const CResFile& package);

// Takes records in file order and compares each with the existing entry of its name:
// "Add file", "Keep file" or "Replace file". New bytes wait in a scratch file beside
// the package until Finish writes the result.
class UpdateSink : public RecordSink {
public:
    // `package` is open for reading on the existing package, or not open when there is none.
    // Its records' headers are read only when palette images or +sync need them.
    explicit UpdateSink(CResFile& package);
    ~UpdateSink() override;
    UpdateSink(const UpdateSink&) = delete;
    UpdateSink& operator=(const UpdateSink&) = delete;

    void Announce(const char* line) override;
    // The package's "Palette" is used as after a yes; indexed records without one mean
    // each image keeps its own palette; otherwise the user is asked.
    bool PaletteRule(PaletteChoice& choice, std::string& fatalMessage) override;
    bool Put(const char* name, int32_t type, const uint8_t* data, size_t size, const std::string& fileName,
             std::string& fatalMessage) override;
    // Texture records taken, whatever was decided for them.
    int32_t records() const { return m_Records; }
    // Removes, when `sync` is set, every texture entry no record matched and then a
    // "Palette" that no indexed record uses, and replaces the package when anything
    // changed. Sets `changed`. False, with the message, when the package could not be written.
    bool Finish(bool sync, bool& changed, std::string& fatalMessage);

private:
    struct OldEntry {
        bool produced = false;         // some record of this run carried its name
        bool usesSharedPalette = false;
        bool replaced = false;
        CompactEntry replacement;
    };
    void ReadOldHeaders();
    bool SameBytes(int32_t index, const uint8_t* data, size_t size);
    bool Spool(const char* name, int32_t type, const uint8_t* data, size_t size, CompactEntry& entry,
               std::string& fatalMessage);

    CResFile& m_Package;
    std::vector<OldEntry> m_Old;
    std::vector<CompactEntry> m_Added;
    std::vector<bool> m_AddedUsesSharedPalette;
    std::vector<std::string> m_RunNames;
    std::FILE* m_Spool = nullptr;
    int64_t m_SpoolEnd = 0;
    int32_t m_Records = 0;
    bool m_Changed = false;
    bool m_HeadersRead = false;       // the fields below are known
    bool m_HasIndexedRecords = false;
};

// Removes the entries of `package` whose names match any of `patterns`, with a line for
// each and a warning for each pattern that matches none. Returns the exit status: 0 after
// a removal, 2 when some pattern matched nothing (the package untouched when none
// matched), 1 with `fatalMessage` when the package could not be written. `changed` tells
// whether the package was rewritten.
int RemoveMatchingEntries(CResFile& package, const std::vector<std::string>& patterns, bool& changed,
                          std::string& fatalMessage);
