// LZSS codec: exact streams for known inputs, hand-made streams, and generated inputs, cut
// streams and arbitrary streams checked against the plain decoder.
#include "archive/Lzss.h"
#include "fuzz/FuzzTargets.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace {

static_assert(LzssMaxEncodedSize(0) == 0 && LzssMaxEncodedSize(8) == 9 && LzssMaxEncodedSize(9) == 11);
static_assert(LzssMaxDecodedSize(0) == 0 && LzssMaxDecodedSize(1) == 144 && LzssMaxDecodedSize(18) == 288);

Bytes Encode(const Bytes& input)
{
    Bytes out(static_cast<size_t>(LzssMaxEncodedSize(static_cast<int64_t>(input.size()))));
    out.resize(static_cast<size_t>(LzssEncode(input.data(), out.data(), static_cast<int32_t>(input.size()))));
    return out;
}

// Decodes the first `srcLen` stream bytes (those behind them must not count) into `limit`
// bytes followed by guard bytes that must stay untouched; the plain decoder must agree.
Bytes Decode(const Bytes& stream, size_t limit, size_t srcLen = SIZE_MAX)
{
    srcLen = std::min(srcLen, stream.size());
    Bytes out(limit + 64, 0xA5);
    const int32_t produced = LzssDecode(stream.data(), out.data(), static_cast<int32_t>(srcLen), static_cast<int32_t>(limit));
    EXPECT_TRUE(std::all_of(out.begin() + static_cast<std::ptrdiff_t>(limit), out.end(), [](uint8_t b) { return b == 0xA5; }));
    out.resize(static_cast<size_t>(std::max(produced, 0)));
    EXPECT_EQ(out, ReferenceLzssDecode(stream.data(), srcLen, static_cast<int64_t>(limit))) << srcLen << " bytes, limit " << limit;
    return out;
}

TEST(Lzss, EncodesKnownInputsExactly)
{
    Bytes noise(5000);
    std::generate(noise.begin(), noise.end(), std::mt19937(5));
    Encode(noise);  // nothing of one call may leak into the next
    const std::pair<std::string, Bytes> cases[] = {
        {"", {}},
        {"A", {0x01, 0x41}},
        {"abcabcabc", {0x07, 0x61, 0x62, 0x63, 0xEE, 0xF3}},
        // Spaces match the pre-filled window; a remainder under three bytes goes out as
        // literals, one of three as a match.
        {std::string(18, ' '), {0x00, 0xDC, 0xFF}},
        {std::string(20, ' '), {0x06, 0xDC, 0xFF, 0x20, 0x20}},
        {std::string(21, ' '), {0x00, 0xDC, 0xFF, 0xF1, 0xF0}},
        {std::string(40, 'a'), {0x01, 0x61, 0xEE, 0xFF, 0x00, 0x0F, 0x04, 0x00}},
        {"abababababab  ab", {0x03, 0x61, 0x62, 0xEE, 0xF7, 0xEC, 0xF1}},
        {"Hello, hello, hello world! Hello world.",
         {0xFF, 0x48, 0x65, 0x6C, 0x6C, 0x6F, 0x2C, 0x20, 0x68, 0xFE, 0xEF, 0xF8, 0x20, 0x77, 0x6F, 0x72,
          0x6C, 0x64, 0x21, 0x04, 0xED, 0xF3, 0x01, 0x03, 0x2E}},
    };
    for (const auto& [input, stream] : cases) {
        EXPECT_EQ(Encode(ToBytes(input)), stream) << input;
        EXPECT_EQ(Decode(stream, input.size()), ToBytes(input)) << input;
    }
}

TEST(Lzss, DecodesHandMadeStreamsUpToTheirEndOrTheOutputBound)
{
    const struct {
        Bytes stream;
        size_t limit;
        std::string expected;
    } cases[] = {
        {{0x00, 0x00, 0x0F}, 99, std::string(18, ' ')},  // the window starts as spaces, zeros from 4078
        {{0x00, 0xF6, 0xFF}, 99, std::string(10, '\0') + std::string(8, ' ')},
        {{0x01, 'a', 0xEE, 0xFF}, 99, std::string(19, 'a')},  // a match repeating its last byte
        {{0x03, 'a', 'b', 0xEE, 0xF2}, 99, "abababa"},       // overlapping its own output
        {{0x01, 'a', 0xEE, 0xFF}, 5, "aaaaa"},               // matches and literals cut at the bound
        {{0x01, 'a', 0xEE, 0xFF}, 1, "a"},
        {{0xFF, 'a', 'b'}, 1, "a"},
        {{0x01, 'a', 0xEE, 0xFF}, 0, ""},
        {{0x03, 'a'}, 99, "a"},        // the second literal is missing
        {{0x01, 'a', 0xEE}, 99, "a"},  // the match lacks its second byte
        {{0xFF, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 0x01}, 99, "abcdefgh"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Decode(c.stream, c.limit), ToBytes(c.expected)) << testing::PrintToString(c.stream) << " " << c.limit;
    // Groups of eight longest matches yield the most a stream of that length can, and stop
    // exactly at any output bound.
    Bytes matches(17 * 40, 0xFF);
    for (size_t i = 0; i < matches.size(); i += 17)
        matches[i] = 0;
    EXPECT_EQ(static_cast<int64_t>(Decode(matches, 1 << 16).size()), LzssMaxDecodedSize(17 * 40));
    for (size_t limit = 0; limit < 1000 && !HasFailure(); ++limit)
        Decode(matches, limit);
}

// Inputs of every size class (random, text-like, runs, all spaces) and arbitrary streams.
TEST(Lzss, GeneratedInputsRoundTripAndStreamsDecodeLikeThePlainDecoder)
{
    std::mt19937 rng(1);
    const auto makeInput = [&rng](int shape, size_t size) {
        Bytes data(size);
        for (size_t i = 0; i < size; ++i) {
            const uint32_t r = rng();
            data[i] = static_cast<uint8_t>(shape == 0 ? r : shape == 1 ? "the lazy dog, the fox. "[(i * 7 + r % 3) % 23]
                                                          : shape == 2 ? i / (1 + i % 23) : ' ');
        }
        return data;
    };
    for (size_t size : {0, 1, 2, 3, 17, 18, 19, 143, 144, 145, 4095, 4096, 4097, 8193, 70000, 300, 1234, 3999}) {
        for (int shape = 0; shape < 4; ++shape) {
            const Bytes input = makeInput(shape, size);
            FindFuzzTarget("lzss")->run(input.data(), input.size());  // round trip and more, checked there
        }
    }
    // A stream cut anywhere, with the rest still in memory behind the cut, yields a prefix.
    const Bytes input = makeInput(1, 3000), stream = Encode(input);
    for (size_t cut = 0; cut <= stream.size(); ++cut) {
        const Bytes decoded = Decode(stream, input.size(), cut);
        ASSERT_TRUE(std::equal(decoded.begin(), decoded.end(), input.begin())) << cut;
        ASSERT_EQ(decoded.size() == input.size(), cut == stream.size()) << cut;
    }
    for (int round = 0; round < 300 && !HasFailure(); ++round) {
        Bytes stream(rng() % 2000 + 40);
        std::generate(stream.begin(), stream.end(), rng);
        for (size_t i = 0; round % 3 == 0 && i < stream.size(); i += 17)
            stream[i] = static_cast<uint8_t>(rng() % 4);  // mostly matches: overlapping, reaching far back
        const size_t limit = rng() % 40000;
        Decode(stream, limit, stream.size() - rng() % 40);
    }
}

}  // namespace
