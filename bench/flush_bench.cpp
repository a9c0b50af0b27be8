// Building a package the way the builder does: add one small entry, flush, repeat.
// The time per entry should not grow with the package.
#include "archive/ResFile.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr size_t kEntrySize = 256;

std::string ScratchPackagePath()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/mtxbench-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data()))
        return std::string();
    return std::string(buffer.data()) + "/bench.mtx";
}

void BM_AddAndFlushEach(benchmark::State& state)
{
    const std::string path = ScratchPackagePath();
    if (path.empty()) {
        state.SkipWithError("cannot make a scratch directory");
        return;
    }
    const int32_t entries = static_cast<int32_t>(state.range(0));
    std::vector<uint8_t> data(kEntrySize, 0x5A);
    for (auto _ : state) {
        CResFile package(path.c_str());
        if (package.Open(RA_WRITE | RA_CREATE) != 1) {
            state.SkipWithError("cannot create the package");
            break;
        }
        for (int32_t i = 0; i < entries; ++i) {
            DirEntry entry{};
            std::snprintf(entry.name, sizeof entry.name, "texture%06d", i);
            entry.size = static_cast<int32_t>(data.size());
            entry.type = RT_TEXTURE;
            entry.method = RC_NONE;
            entry.data = data.data();
            package.mfFileAdd(&entry);
            if (package.mfFlush() != 1) {
                state.SkipWithError("flush failed");
                break;
            }
        }
        package.mfClose();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * entries);
    std::remove(path.c_str());
    rmdir(path.substr(0, path.rfind('/')).c_str());
}

}  // namespace

BENCHMARK(BM_AddAndFlushEach)->ArgName("entries")->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
