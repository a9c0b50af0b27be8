// LZSS encode and decode throughput, memory to memory, on 16 MiB of mixed data (8-bit
// texture with runs, then random bytes) and on 16 MiB of English-like text, beside the
// plain codec kept with the fuzz targets, which is compiled here with -O2. Rates in MiB/s.
#include "archive/Lzss.h"
#include "bench/PairedRuns.h"
#include "samples/PlainLzss.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr size_t kMiB = 1024 * 1024;
constexpr size_t kInputSize = 16 * kMiB;
constexpr int kMixed = 0;
constexpr int kText = 1;

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
    return kind == kMixed ? mixed : text;
}

int32_t Size(const std::vector<uint8_t>& bytes)
{
    return static_cast<int32_t>(bytes.size());
}

void Encode(benchmark::State& state, int kind)
{
    const std::vector<uint8_t>& input = Input(kind);
    std::vector<uint8_t> packed(static_cast<size_t>(LzssMaxEncodedSize(Size(input))));
    std::vector<uint8_t> plain(packed.size());
    int32_t packedSize = 0;
    int32_t plainSize = 0;
    paired::Run(state, static_cast<double>(input.size()) / kMiB,
                [&] { packedSize = LzssEncode(input.data(), packed.data(), Size(input)); },
                [&] { plainSize = PlainLzssEncode(input.data(), plain.data(), Size(input)); });
    if (packedSize != plainSize || packed != plain)
        state.SkipWithError("the stream differs from the plain encoder's");
    state.counters["packed"] = static_cast<double>(packedSize) / static_cast<double>(input.size());
}

void Decode(benchmark::State& state, int kind)
{
    const std::vector<uint8_t>& input = Input(kind);
    std::vector<uint8_t> packed(static_cast<size_t>(LzssMaxEncodedSize(Size(input))));
    packed.resize(static_cast<size_t>(LzssEncode(input.data(), packed.data(), Size(input))));
    std::vector<uint8_t> output(input.size());
    std::vector<uint8_t> plain(input.size());
    paired::Run(state, static_cast<double>(input.size()) / kMiB,
                [&] { LzssDecode(packed.data(), output.data(), Size(packed), Size(output)); },
                [&] { PlainLzssDecode(packed.data(), plain.data(), Size(packed), Size(plain)); });
    if (output != input || plain != input)
        state.SkipWithError("decoded bytes differ from the input");
}

// Rounds: a plain encoding of 16 MiB takes seconds, a decoding a fraction of one.
constexpr int kEncodeRounds = 7;
constexpr int kDecodeRounds = 21;

void RegisterAll()
{
    for (const auto& [name, kind] : {std::pair<const char*, int>{"mixed", kMixed}, {"text", kText}}) {
        benchmark::RegisterBenchmark((std::string("lzss/encode/") + name).c_str(), Encode, kind)
            ->Iterations(kEncodeRounds)->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((std::string("lzss/decode/") + name).c_str(), Decode, kind)
            ->Iterations(kDecodeRounds)->Unit(benchmark::kMillisecond);
    }
}

[[maybe_unused]] const bool g_registered = (RegisterAll(), true);

}  // namespace
