// LZSS codec: hand-made streams, and generated inputs, cut streams and arbitrary streams
// checked against the plain decoder, plus the exact streams the encoder makes.
#include "archive/Lzss.h"
#include "fuzz/FuzzTargets.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <tuple>

namespace {

static_assert(LzssMaxEncodedSize(0) == 0 && LzssMaxEncodedSize(8) == 9 && LzssMaxEncodedSize(9) == 11);

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
    const int32_t produced =
        LzssDecode(stream.data(), out.data(), static_cast<int32_t>(srcLen), static_cast<int32_t>(limit));
    EXPECT_EQ(Bytes(out.begin() + static_cast<std::ptrdiff_t>(limit), out.end()), Bytes(64, 0xA5));
    out.resize(static_cast<size_t>(std::max(produced, 0)));
    EXPECT_EQ(out, ReferenceLzssDecode(stream.data(), srcLen, static_cast<int64_t>(limit)))
        << srcLen << " bytes, limit " << limit;
    return out;
}

TEST(Lzss, DecodesHandMadeStreamsUpToTheirEndOrTheOutputBoundAndEncodesKnownInputs)
{
    const std::tuple<Bytes, size_t, std::string> cases[] = {  // stream, output bound, output
        {{0x00, 0x00, 0x0F}, 99, std::string(18, ' ')},  // the window starts as spaces, zeros from 4078
        {{0x00, 0xF6, 0xFF}, 99, std::string(10, '\0') + std::string(8, ' ')},
        {{0x03, 'a', 'b', 0xEE, 0xF2}, 99, "abababa"},  // a match overlapping its own output
        {{0x01, 'a', 0xEE, 0xFF}, 5, "aaaaa"},          // matches and literals cut at the bound
        {{0xFF, 'a', 'b'}, 1, "a"},
        {{0x03, 'a'}, 99, "a"},        // the second literal is missing
        {{0x01, 'a', 0xEE}, 99, "a"},  // the match lacks its second byte
        {{0xFF, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 0x01}, 99, "abcdefgh"},
    };
    for (const auto& [stream, limit, expected] : cases)
        EXPECT_EQ(Decode(stream, limit), ToBytes(expected)) << testing::PrintToString(stream) << " " << limit;
    // Groups of eight longest matches yield the most a stream of that length can, and stop
    // exactly at any output bound.
    Bytes matches(17 * 40, 0xFF);
    for (size_t i = 0; i < matches.size(); i += 17)
        matches[i] = 0;
    EXPECT_EQ(static_cast<int64_t>(Decode(matches, 1 << 16).size()), LzssMaxDecodedSize(17 * 40));
    for (size_t limit = 0; limit < 1000 && !HasFailure(); ++limit)
        Decode(matches, limit);
    uint8_t out[8];  // a missing buffer decodes nothing
    EXPECT_TRUE(LzssDecode(nullptr, out, 3, 8) == 0 && LzssDecode(matches.data(), nullptr, 17, 8) == 0);
    // Spaces match the pre-filled window; a remainder under three bytes goes out as literals.
    EXPECT_EQ(Encode(ToBytes(std::string(20, ' '))), Bytes({0x06, 0xDC, 0xFF, 0x20, 0x20}));
    EXPECT_EQ(Encode(ToBytes("abcabcabc")), Bytes({0x07, 0x61, 0x62, 0x63, 0xEE, 0xF3}));
}

// Inputs of every size class: random, text-like, runs, all spaces, and streams of mostly
// matches (overlapping, reaching far back), which the lzss target also decodes as streams.
TEST(Lzss, GeneratedInputsRoundTripAndDecodeAsStreamsLikeThePlainDecoder)
{
    std::mt19937 rng(1);
    const auto makeInput = [&rng](int shape, size_t size) {
        Bytes data(size);
        for (size_t i = 0; i < size; ++i)
            data[i] = static_cast<uint8_t>(shape == 0   ? rng()
                                           : shape == 1 ? "the lazy dog, the fox. "[(i * 7 + rng() % 3) % 23]
                                           : shape == 2 ? i / (1 + i % 23)
                                           : shape == 3 ? ' '
                                                        : rng() % (i % 17 ? 256 : 4));
        return data;
    };
    uint32_t hash = 2166136261u;  // of all the streams: the encoder's choices never change
    for (size_t size : {0, 1, 2, 3, 17, 18, 19, 143, 144, 145, 4095, 4096, 4097, 8193, 70000, 300, 1234, 3999}) {
        for (int shape = 0; shape < 5; ++shape) {
            const Bytes input = makeInput(shape, size);
            FindFuzzTarget("lzss")->run(input.data(), input.size());  // round trip and more, checked there
            for (uint8_t byte : Encode(input))
                hash = (hash ^ byte) * 16777619u;
        }
    }
    EXPECT_EQ(hash, 3127854226u);
    for (int round = 0; round < 300; ++round) {
        const Bytes input = makeInput(round % 2 ? 0 : 4, rng() % 3000);  // arbitrary streams, bounds and cuts
        FindFuzzTarget("lzss")->run(input.data(), input.size());
    }
    // A stream cut anywhere, with the rest still in memory behind the cut, yields a prefix.
    const Bytes input = makeInput(1, 3000), stream = Encode(input);
    for (size_t cut = 0; cut <= stream.size(); ++cut) {
        const Bytes decoded = Decode(stream, input.size(), cut);
        ASSERT_TRUE(std::equal(decoded.begin(), decoded.end(), input.begin()) &&
                    (decoded.size() == input.size()) == (cut == stream.size())) << cut;
    }
}

}  // namespace
