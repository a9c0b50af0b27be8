// LZSS codec: hand-made streams, then generated inputs and arbitrary streams checked against the plain codec: the same
// streams out of the encoder, the same bytes out of the decoder.
#include "archive/Lzss.h"
#include "fuzz/FuzzTargets.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <random>

namespace {

static_assert(LzssMaxEncodedSize(0) == 0 && LzssMaxEncodedSize(8) == 9 && LzssMaxEncodedSize(9) == 11);

// Decodes the stream into `limit` bytes followed by guard bytes that must stay untouched; the plain decoder must
// agree.
Bytes Decode(const Bytes& stream, size_t limit)
{
    Bytes out(limit + 64, 0xA5);
    const auto size = static_cast<int32_t>(stream.size());
    const int32_t produced = LzssDecode(stream.data(), out.data(), size, static_cast<int32_t>(limit));
    EXPECT_EQ(Bytes(out.begin() + static_cast<std::ptrdiff_t>(limit), out.end()), Bytes(64, 0xA5));
    out.resize(static_cast<size_t>(std::max(produced, 0)));
    EXPECT_EQ(out, ReferenceLzssDecode(stream.data(), stream.size(), static_cast<int64_t>(limit))) << "limit " << limit;
    return out;
}

TEST(Lzss, DecodesHandMadeStreamsUpToTheirEndOrTheOutputBound)
{
    const struct { const char* name; Bytes stream; size_t limit; std::string out; } cases[] = {
        {"the window starts as spaces", {0x00, 0x00, 0x0F}, 99, std::string(18, ' ')},
        {"zeros from 4078", {0x00, 0xF6, 0xFF}, 99, std::string(10, '\0') + std::string(8, ' ')},
        {"a match overlapping its own output", {0x03, 'a', 'b', 0xEE, 0xF2}, 99, "abababa"},
        {"a match cut at the bound", {0x01, 'a', 0xEE, 0xFF}, 5, "aaaaa"},
        {"literals cut at the bound", {0xFF, 'a', 'b'}, 1, "a"}, {"the second literal missing", {0x03, 'a'}, 99, "a"},
        {"a match without its second byte", {0x01, 'a', 0xEE}, 99, "a"},
        {"a flag byte with nothing behind it", {0xFF, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 0x01}, 99, "abcdefgh"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Decode(c.stream, c.limit), ToBytes(c.out)) << c.name;
}

TEST(Lzss, AMissingBufferDecodesNothing)
{
    const Bytes stream(17, 0);
    uint8_t out[8];
    EXPECT_EQ(LzssDecode(nullptr, out, 3, 8), 0);
    EXPECT_EQ(LzssDecode(stream.data(), nullptr, 17, 8), 0);
}

// The i-th byte of a generated input of the given shape.
uint8_t NextByte(int shape, const Bytes& data, size_t i, std::mt19937& rng)
{
    switch (shape) {
    case 0:  // random
        return static_cast<uint8_t>(rng());
    case 1:  // text-like
        return static_cast<uint8_t>("the lazy dog, the fox. "[(i * 7 + rng() % 3) % 23]);
    case 2:  // ramps
        return static_cast<uint8_t>(i / (1 + i % 23));
    case 3:  // the window's initial fill
        return ' ';
    case 4:  // as a stream mostly matches, overlapping and reaching far back (the lzss target decodes inputs too)
        return static_cast<uint8_t>(rng() % (i % 17 ? 256 : 4));
    case 5:  // two-letter noise: many candidates of equal length
        return static_cast<uint8_t>('a' + rng() % 2);
    case 6:  // a long period, shifted and mutated
        return static_cast<uint8_t>(i < 1000 || rng() % 50 == 0 ? rng() % 8 : data[i - 1000 + rng() % 2]);
    default:  // a short period with sparse changes: strings that repeat an earlier one in all but a few bytes
        return static_cast<uint8_t>(i < 20 || rng() % 64 == 0 ? rng() % 4 : data[i - 20]);
    }
}

constexpr int kShapes = 8;
Bytes MakeInput(int shape, size_t size, std::mt19937& rng)
{
    Bytes data(size);
    for (size_t i = 0; i < size; ++i)
        data[i] = NextByte(shape, data, i, rng);
    return data;
}

constexpr size_t kSizes[] = {0, 1, 2, 3, 17, 18, 19, 34, 35, 143, 144, 145, 300, 3999, 4095, 4096, 4097, 8193, 70000};

// Inputs of every shape, at sizes around the edges of groups and of the window, pass the lzss fuzz target's checks:
// the plain encoder's stream, a round trip, and the input decoded as a stream as the plain decoder does.
TEST(Lzss, GeneratedInputsMeetTheCodecsContract)
{
    std::mt19937 rng(1);
    for (size_t size : kSizes) {
        for (int shape = 0; shape < kShapes; ++shape) {
            const Bytes input = MakeInput(shape, size, rng);
            FindFuzzTarget("lzss")->run(input.data(), input.size());
        }
    }
}

}  // namespace
