// Compacting a 512 MB package of 2,000 entries with dead space with the Mtxtrim program,
// against copying the same file with cp, and with cp followed by syncing the copy (the
// compaction syncs its result); a second Mtxtrim over the compacted package; and
// Mtxmake +update replacing one record of the package. Each run is a program of its own,
// started under GNU time, whose wall time and peak resident memory are reported. The
// package lives in a temporary directory removed at the end.
#include "archive/PackageFormat.h"
#include "archive/ResFile.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int32_t kEntries = 2000;
constexpr int64_t kPackageBytes = int64_t{512} << 20;
constexpr int32_t kDeadBytes = 4096;  // behind every entry but the last, as packed entries leave
constexpr int kRuns = 3;

class BenchDirectory {
public:
    BenchDirectory()
    {
        char pattern[] = "/tmp/mtxtrim-bench-XXXXXX";
        if (!mkdtemp(pattern))
            throw std::runtime_error("mkdtemp failed");
        m_path = pattern;
    }
    ~BenchDirectory()
    {
        for (const char* name : {"big.mtx", "copy.mtx", "peak.txt", ".big.mtx.staging", "texture0003.tga"})
            std::remove(File(name).c_str());
        rmdir(m_path.c_str());
    }
    std::string File(const char* name) const { return m_path + "/" + name; }
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

// Writes the package in the flushed layout, one entry at a time.
void WritePackage(const std::string& path)
{
    const int64_t overhead = int64_t{kHeaderSize} + int64_t{kRecordSize} * kEntries + int64_t{kDeadBytes} * (kEntries - 1);
    const int32_t entrySize = static_cast<int32_t>((kPackageBytes - overhead) / kEntries);
    std::vector<uint8_t> data(static_cast<size_t>(entrySize) + kDeadBytes);
    uint32_t state = 12345;
    for (uint8_t& byte : data) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<uint8_t>(state >> 24);
    }
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        throw std::runtime_error("cannot create " + path);
    PackageHeader header = MakeEmptyHeader();
    header.entryCount = kEntries;
    header.firstRecord = static_cast<int32_t>(kHeaderSize);
    uint8_t headerBytes[kHeaderSize];
    EncodeHeader(header, headerBytes);
    std::fwrite(headerBytes, 1, kHeaderSize, file);
    int32_t recordAt = static_cast<int32_t>(kHeaderSize);
    for (int32_t i = 0; i < kEntries; ++i) {
        DirRecord record{};
        std::snprintf(record.name, sizeof record.name, "texture%04d", i);
        const bool last = i == kEntries - 1;
        const int32_t stored = entrySize + (last ? 0 : kDeadBytes);
        record.size = entrySize;
        record.offset = recordAt + static_cast<int32_t>(kRecordSize);
        record.next = last ? kNoRecord : record.offset + stored;
        record.prev = i == 0 ? kNoRecord : recordAt - stored - static_cast<int32_t>(kRecordSize);
        record.type = RT_TEXTURE;
        record.method = RC_LZSS;
        uint8_t recordBytes[kRecordSize];
        EncodeRecord(record, recordBytes);
        std::fwrite(recordBytes, 1, kRecordSize, file);
        std::fwrite(data.data(), 1, static_cast<size_t>(stored), file);
        recordAt = record.next;
    }
    if (std::fclose(file) != 0)
        throw std::runtime_error("cannot write " + path);
}

struct ChildRun {
    double seconds;
    double peakMegabytes;
    bool ok;
};

// Runs the shell command in `dir` under GNU time, with the package as $0 and the copy's
// name as $1. A forked child would inherit this process's peak memory; a program started
// afresh under time reports its own.
ChildRun RunCommand(const BenchDirectory& dir, const std::string& command)
{
    sync();  // earlier runs' dirty pages are not this run's cost
    const std::string peakFile = dir.File("peak.txt");
    const std::string timed = "cd \"" + dir.path() + "\" && exec /usr/bin/time -f %M -o \"" + peakFile +
                              "\" sh -c '" + command + "' \"" + dir.File("big.mtx") + "\" \"" + dir.File("copy.mtx") + "\"";
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(timed.c_str());
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    double peakKilobytes = 0;
    if (std::FILE* peak = std::fopen(peakFile.c_str(), "r")) {
        if (std::fscanf(peak, "%lf", &peakKilobytes) != 1)
            peakKilobytes = 0;
        std::fclose(peak);
    }
    return {elapsed.count(), peakKilobytes / 1024.0, status == 0};
}

void Report(benchmark::State& state, const ChildRun& run, double& peak)
{
    if (!run.ok)
        state.SkipWithError("child failed");
    state.SetIterationTime(run.seconds);
    peak = std::max(peak, run.peakMegabytes);
}

// Runs the shell command once per run on the same package.
void BenchCopyCommand(benchmark::State& state, const char* command)
{
    BenchDirectory dir;
    WritePackage(dir.File("big.mtx"));
    double peak = 0;
    for (auto _ : state)
        Report(state, RunCommand(dir, command), peak);
    state.counters["peak_MB"] = peak;
    state.SetBytesProcessed(state.iterations() * kPackageBytes);
}

void BM_CopyWithCp(benchmark::State& state)
{
    BenchCopyCommand(state, "cp \"$0\" \"$1\"");
}

// A copy that is on disk when it ends, as the compaction's result is.
void BM_CopyWithCpAndSync(benchmark::State& state)
{
    BenchCopyCommand(state, "cp \"$0\" \"$1\" && sync \"$1\"");
}

void BM_Compact(benchmark::State& state)
{
    BenchDirectory dir;
    double peak = 0;
    for (auto _ : state) {
        WritePackage(dir.File("big.mtx"));  // fresh dead space for every run
        Report(state, RunCommand(dir, MTXTRIM_EXE " >/dev/null && test -e \"$0\""), peak);
    }
    state.counters["peak_MB"] = peak;
    state.SetBytesProcessed(state.iterations() * kPackageBytes);
}

// Mtxtrim over the package it has just compacted: nothing is left to write.
void BM_CompactAgain(benchmark::State& state)
{
    BenchDirectory dir;
    double peak = 0;
    WritePackage(dir.File("big.mtx"));
    if (!RunCommand(dir, MTXTRIM_EXE " >/dev/null").ok)
        state.SkipWithError("first compaction failed");
    for (auto _ : state)
        Report(state, RunCommand(dir, MTXTRIM_EXE " >/dev/null && test -e \"$0\""), peak);
    state.counters["peak_MB"] = peak;
    state.SetBytesProcessed(state.iterations() * kPackageBytes);
}

// An uncompressed 24-bit TGA of kChangedSide x kChangedSide pixels, named like an entry
// of the package, whose record replaces that entry.
constexpr int kChangedSide = 512;
constexpr int64_t kChangedRecordBytes = 108 + int64_t{kChangedSide} * kChangedSide * 3;

void WriteChangedTexture(const std::string& path)
{
    std::vector<uint8_t> file(18 + size_t{kChangedSide} * kChangedSide * 3, 0x5A);
    const uint8_t header[18] = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, kChangedSide & 255, kChangedSide >> 8,
                                kChangedSide & 255, kChangedSide >> 8, 24, 0x20};
    std::memcpy(file.data(), header, sizeof header);
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (!out || std::fwrite(file.data(), 1, file.size(), out) != file.size() || std::fclose(out) != 0)
        throw std::runtime_error("cannot write " + path);
}

// Mtxmake +update replacing one record of the package; its peak memory is what counts.
void BM_UpdateOneRecord(benchmark::State& state)
{
    BenchDirectory dir;
    WriteChangedTexture(dir.File("texture0003.tga"));
    double peak = 0;
    for (auto _ : state) {
        WritePackage(dir.File("big.mtx"));
        Report(state, RunCommand(dir, MTXMAKE_EXE " +update \"$0\" texture0003.tga </dev/null >/dev/null"), peak);
    }
    state.counters["peak_MB"] = peak;
    state.counters["record_MB"] = static_cast<double>(kChangedRecordBytes) / (1 << 20);
    state.SetBytesProcessed(state.iterations() * kPackageBytes);
}

}  // namespace

BENCHMARK(BM_CompactAgain)->UseManualTime()->Iterations(kRuns)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UpdateOneRecord)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CopyWithCp)->UseManualTime()->Iterations(kRuns)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CopyWithCpAndSync)->UseManualTime()->Iterations(kRuns)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Compact)->UseManualTime()->Iterations(kRuns)->Unit(benchmark::kMillisecond);
