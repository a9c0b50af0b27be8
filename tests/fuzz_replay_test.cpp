// Every fuzz corpus file, seeds and fixed crash reproducers alike, runs through the
// same bodies as the libFuzzer programs, so a regression fails here without clang.
#include "fuzz/FuzzTargets.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const fs::path kCorpusRoot = fs::path(MTX_SOURCE_DIR) / "fuzz" / "corpus";

std::vector<fs::path> CorpusFiles(const std::string& target)
{
    std::vector<fs::path> files;
    for (const fs::directory_entry& entry : fs::directory_iterator(kCorpusRoot / target)) {
        if (entry.is_regular_file())
            files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

class FuzzReplay : public testing::TestWithParam<const FuzzTarget*> {};

TEST_P(FuzzReplay, EveryCorpusFileRunsCleanly)
{
    const FuzzTarget& target = *GetParam();
    const std::vector<fs::path> files = CorpusFiles(target.name);
    ASSERT_FALSE(files.empty()) << "no seeds for " << target.name;
    for (const fs::path& file : files) {
        SCOPED_TRACE(file.string());
        const Bytes bytes = ReadFileBytes(file.string());
        target.run(bytes.data(), bytes.size());
    }
}

std::vector<const FuzzTarget*> AllTargets()
{
    std::vector<const FuzzTarget*> targets;
    for (size_t i = 0; i < kFuzzTargetCount; ++i)
        targets.push_back(&kFuzzTargets[i]);
    return targets;
}

INSTANTIATE_TEST_SUITE_P(Corpus, FuzzReplay, testing::ValuesIn(AllTargets()),
                         [](const testing::TestParamInfo<const FuzzTarget*>& info) {
                             return std::string(info.param->name);
                         });

TEST(FuzzCorpus, EveryFolderBelongsToATarget)
{
    for (const fs::directory_entry& entry : fs::directory_iterator(kCorpusRoot))
        EXPECT_NE(FindFuzzTarget(entry.path().filename().string().c_str()), nullptr) << entry.path();
}

}  // namespace
