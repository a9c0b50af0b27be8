// Where the builder's records go: straight into a new package, or into an update of an
// existing one that decides per record whether to add, keep or replace.
#pragma once

#include "archive/MipTexture.h"

#include <cstddef>
#include <cstdint>
#include <string>

// How palette images are to be stored when the package, not the user, decides it.
struct PaletteChoice {
    bool decided = false;  // false: the user is asked
    bool shared = false;   // indexed records use `palette`, stored as "Palette"
    RgbaPalette palette{};
};

class RecordSink {
public:
    virtual ~RecordSink() = default;
    // A matched file is about to give a record; `line` is how a fresh build announces it.
    virtual void Announce(const char* line) = 0;
    // Asked once, at the first palette image: whether the package itself decides how palette
    // images are stored. False when the run must stop, with the message in `fatalMessage`.
    virtual bool PaletteRule(PaletteChoice& choice, std::string& fatalMessage) = 0;
    // Takes the next entry in file order: the texture record made from `fileName`, or the
    // shared "Palette" (type RT_PALETTE). False when the run must stop, with the message in
    // `fatalMessage`.
    virtual bool Put(const char* name, int32_t type, const uint8_t* data, size_t size, const std::string& fileName,
                     std::string& fatalMessage) = 0;
};
