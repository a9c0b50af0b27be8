// The QuArK texture-link file: one folder per package visited and one link per entry,
// written as the walk goes.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

constexpr char kQuarkLinkFileName[] = "DataMirakTxt.qrk";

class CQuarkLinks {
public:
    // Creates (or replaces) the file in text mode and writes its opening block. False
    // when the file cannot be created; every other call is then a no-op.
    bool mfOpen(const char* fileName = kQuarkLinkFileName);
    bool mfIsOpen() const { return m_File != nullptr; }

    // The group of one package; `baseName` is its file name without extension.
    void mfBeginPackage(const std::string& baseName);
    void mfEntry(const std::string& baseName, const char* entryName);
    void mfEndPackage();

    // Writes the closing block and closes the file. False when any write to the file
    // failed (the disk filled up); true when it was never open.
    bool mfClose();

private:
    struct Closer {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    std::unique_ptr<std::FILE, Closer> m_File;
};
