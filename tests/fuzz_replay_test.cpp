// Every fuzz corpus file, seeds and fixed crash reproducers alike, runs through the same
// bodies as the libFuzzer programs, so a regression fails here without clang.
#include "fuzz/FuzzTargets.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;

TEST(FuzzReplay, EveryCorpusFileRunsCleanlyThroughItsTarget)
{
    size_t folders = 0;
    for (const fs::directory_entry& folder : fs::directory_iterator(fs::path(MTX_SOURCE_DIR) / "fuzz" / "corpus")) {
        const FuzzTarget* target = FindFuzzTarget(folder.path().filename().string().c_str());
        ASSERT_NE(target, nullptr) << folder.path();
        folders += !fs::is_empty(folder.path());
        for (const fs::directory_entry& file : fs::directory_iterator(folder.path())) {
            const Bytes bytes = ReadFileBytes(file.path().string());
            target->run(bytes.data(), bytes.size());
        }
    }
    EXPECT_EQ(folders, std::size(kFuzzTargets));  // every target has a folder with files
}
