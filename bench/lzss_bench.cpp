// LZSS encode and decode throughput, memory to memory, on 16 MiB of mixed data (8-bit
// texture with runs, then random bytes) and on 16 MiB of English-like text.
#include "archive/Lzss.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr size_t kMiB = 1024 * 1024;
constexpr size_t kInputSize = 16 * kMiB;

// Palette indices laid out like a texture: horizontal runs of one index with a little
// noise, rows that often repeat the row above.
void FillTexture(uint8_t* out, size_t size, std::mt19937& rng)
{
    constexpr size_t kWidth = 256;
    for (size_t i = 0; i < size;) {
        if (i >= kWidth && rng() % 4 == 0) {
            const size_t count = std::min(kWidth, size - i);
            std::memcpy(out + i, out + i - kWidth, count);
            i += count;
            continue;
        }
        const uint8_t value = static_cast<uint8_t>(rng() % 64);
        const size_t run = 1 + rng() % 24;
        for (size_t k = 0; k < run && i < size; ++k, ++i)
            out[i] = (rng() % 16 == 0) ? static_cast<uint8_t>(value + 1) : value;
    }
}

std::vector<uint8_t> MixedInput()
{
    std::vector<uint8_t> data(kInputSize);
    std::mt19937 rng(12345);
    FillTexture(data.data(), kInputSize / 2, rng);
    for (size_t i = kInputSize / 2; i < kInputSize; ++i)
        data[i] = static_cast<uint8_t>(rng());
    return data;
}

// Words drawn with a skewed frequency from a small vocabulary, with punctuation and
// line breaks, so matches are frequent but short, as in prose.
std::vector<uint8_t> TextInput()
{
    static const char* const kWords[] = {
        "the", "of", "and", "to", "a", "in", "is", "it", "that", "was", "for", "on", "with",
        "as", "he", "his", "they", "be", "at", "one", "have", "this", "from", "by", "hot",
        "word", "but", "what", "some", "we", "can", "out", "other", "were", "all", "there",
        "when", "up", "use", "your", "how", "said", "each", "which", "she", "their", "time",
        "will", "way", "about", "many", "then", "them", "write", "would", "like", "these",
        "texture", "package", "window", "river", "mountain", "evening", "question",
        "remember", "together", "children", "beginning", "something", "important",
        "different", "following", "without", "country", "between", "through", "although"};
    constexpr size_t kWordCount = sizeof kWords / sizeof kWords[0];
    std::vector<uint8_t> data;
    data.reserve(kInputSize + 64);
    std::mt19937 rng(777);
    size_t sentenceLength = 0;
    bool capital = true;
    while (data.size() < kInputSize) {
        // Squaring a uniform draw favours the front of the list, as word frequency does.
        const double u = std::uniform_real_distribution<double>(0.0, 1.0)(rng);
        std::string word = kWords[static_cast<size_t>(u * u * kWordCount)];
        if (capital)
            word[0] = static_cast<char>(word[0] - 'a' + 'A');
        capital = false;
        data.insert(data.end(), word.begin(), word.end());
        ++sentenceLength;
        if (sentenceLength > 6 && rng() % 8 == 0) {
            data.push_back('.');
            data.push_back(rng() % 5 == 0 ? '\n' : ' ');
            sentenceLength = 0;
            capital = true;
        } else if (rng() % 12 == 0) {
            data.push_back(',');
            data.push_back(' ');
        } else {
            data.push_back(' ');
        }
    }
    data.resize(kInputSize);
    return data;
}

const std::vector<uint8_t>& Input(int kind)
{
    static const std::vector<uint8_t> mixed = MixedInput();
    static const std::vector<uint8_t> text = TextInput();
    return kind == 0 ? mixed : text;
}

void BM_Encode(benchmark::State& state)
{
    const std::vector<uint8_t>& input = Input(static_cast<int>(state.range(0)));
    std::vector<uint8_t> packed(static_cast<size_t>(LzssMaxEncodedSize(static_cast<int64_t>(input.size()))));
    int32_t packedSize = 0;
    for (auto _ : state) {
        packedSize = LzssEncode(input.data(), packed.data(), static_cast<int32_t>(input.size()));
        benchmark::DoNotOptimize(packed.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(input.size()));
    state.counters["ratio"] = static_cast<double>(packedSize) / static_cast<double>(input.size());
}

void BM_Decode(benchmark::State& state)
{
    const std::vector<uint8_t>& input = Input(static_cast<int>(state.range(0)));
    std::vector<uint8_t> packed(static_cast<size_t>(LzssMaxEncodedSize(static_cast<int64_t>(input.size()))));
    const int32_t packedSize = LzssEncode(input.data(), packed.data(), static_cast<int32_t>(input.size()));
    std::vector<uint8_t> output(input.size());
    for (auto _ : state) {
        const int32_t produced = LzssDecode(packed.data(), output.data(), packedSize,
                                            static_cast<int32_t>(output.size()));
        benchmark::DoNotOptimize(produced);
        benchmark::DoNotOptimize(output.data());
    }
    if (output != input)
        state.SkipWithError("decoded bytes differ from the input");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(input.size()));
}

}  // namespace

BENCHMARK(BM_Encode)->ArgName("text")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Decode)->ArgName("text")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
