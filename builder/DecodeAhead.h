// Reading and decoding matched files ahead of the builder, on worker threads: decoding is
// most of a build's work, and the records must still be made and written in file order.
#pragma once

#include "builder/DdsTexture.h"
#include "common/OrderedTasks.h"
#include "host/FileIO.h"
#include "image/Image.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

// What one matched file gives the builder: its bytes when it is a DXT DDS file, else the
// decoded image, or why it gives neither.
struct FileIntake {
    bool readFailed = false;
    std::string readError;             // the host's reason, when the file could not be read
    DdsKind dds = DdsKind::NotDds;
    DdsSurface surface;
    FileBytes file;                    // a DXT DDS file's bytes
    std::unique_ptr<CImage> image;     // null when no decoder took the file
    int32_t imageError = IMGERR_NONE;  // the decoders' last error, when none took it
    std::string imageErrorText;
};

// Reads `path` whole and, unless it is a DXT DDS file, hands it to the image decoders.
FileIntake TakeInFile(const std::string& path, size_t maxFileSize);

// Takes in the files of `paths` (an empty path is a file with nothing to take in) on
// `workers` threads, at most `workers` files ahead of the one Next hands out; one worker
// means no thread at all, each file taken in when Next asks for it.
class DecodeAhead {
public:
    DecodeAhead(std::vector<std::string> paths, size_t maxFileSize, unsigned workers);

    // The intake of the next file in order, once it is ready.
    FileIntake Next();

private:
    const std::vector<std::string> m_paths;
    const size_t m_maxFileSize;
    std::vector<FileIntake> m_intakes;  // a file's slot, filled by its task, emptied by Next
    size_t m_started = 0;               // files given to the tasks
    size_t m_handedOut = 0;             // files Next has returned
    OrderedTasks m_tasks;               // last, so that its threads stop before the slots go
};
