// LZSS codec: exact streams for known inputs, the initial window, round trips, cut and
// damaged streams.
#include "archive/Lzss.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

Bytes Encode(const Bytes& input)
{
    Bytes out(static_cast<size_t>(LzssMaxEncodedSize(static_cast<int64_t>(input.size()))));
    const int32_t written = LzssEncode(input.data(), out.data(), static_cast<int32_t>(input.size()));
    out.resize(static_cast<size_t>(written));
    return out;
}

// The output buffer is exactly `limit` bytes long, so the sanitizer catches any write past it.
Bytes Decode(const Bytes& stream, size_t limit)
{
    Bytes out(limit);
    const int32_t produced = LzssDecode(stream.data(), out.data(), static_cast<int32_t>(stream.size()),
                                        static_cast<int32_t>(limit));
    out.resize(static_cast<size_t>(produced));
    return out;
}

// The plain ring-buffer decoder, byte by byte: the yardstick for the fast one.
Bytes ReferenceDecode(const Bytes& stream, size_t limit)
{
    uint8_t window[kLzssWindowSize] = {};
    std::fill(window, window + kLzssStartPos, ' ');
    size_t r = kLzssStartPos;
    Bytes out;
    size_t in = 0;
    for (unsigned flags = 0;; flags >>= 1) {
        if (!(flags & 0x100)) {
            if (in >= stream.size())
                break;
            flags = stream[in++] | 0xFF00u;
        }
        if (flags & 1) {
            if (in >= stream.size() || out.size() >= limit)
                break;
            out.push_back(window[r] = stream[in++]);
            r = (r + 1) % kLzssWindowSize;
        } else {
            if (in + 2 > stream.size())
                break;
            const size_t position = stream[in] | ((stream[in + 1] & 0xF0u) << 4);
            const size_t length = (stream[in + 1] & 0x0Fu) + 3;
            in += 2;
            for (size_t k = 0; k < length && out.size() < limit; ++k) {
                out.push_back(window[r] = window[(position + k) % kLzssWindowSize]);
                r = (r + 1) % kLzssWindowSize;
            }
        }
        if (out.size() >= limit)
            break;
    }
    return out;
}

Bytes Hex(std::initializer_list<int> values)
{
    Bytes bytes;
    for (int value : values)
        bytes.push_back(static_cast<uint8_t>(value));
    return bytes;
}

enum class Shape { Random, Text, Runs, Zeros };

Bytes MakeInput(Shape shape, size_t size, uint32_t seed)
{
    std::mt19937 rng(seed);
    Bytes data(size);
    static const char kText[] = "the quick brown fox jumps over the lazy dog, then the dog sleeps. ";
    for (size_t i = 0; i < size; ++i) {
        switch (shape) {
        case Shape::Random: data[i] = static_cast<uint8_t>(rng()); break;
        case Shape::Text: data[i] = static_cast<uint8_t>(kText[(i * 7 + rng() % 3) % (sizeof kText - 1)]); break;
        case Shape::Runs: data[i] = static_cast<uint8_t>((i / (1 + i % 23)) & 0xFF); break;
        case Shape::Zeros: data[i] = 0; break;
        }
    }
    return data;
}

TEST(Lzss, EncodesKnownInputsExactly)
{
    const struct {
        std::string input;
        Bytes stream;
    } cases[] = {
        {"", {}},
        {"A", Hex({0x01, 0x41})},
        {"abc", Hex({0x07, 0x61, 0x62, 0x63})},
        {"abcabcabc", Hex({0x07, 0x61, 0x62, 0x63, 0xEE, 0xF3})},
        // Spaces match the pre-filled window from the first byte on; a remainder below three
        // bytes goes out as literals, a remainder of three as a match.
        {std::string(18, ' '), Hex({0x00, 0xDC, 0xFF})},
        {std::string(19, ' '), Hex({0x02, 0xDC, 0xFF, 0x20})},
        {std::string(20, ' '), Hex({0x06, 0xDC, 0xFF, 0x20, 0x20})},
        {std::string(21, ' '), Hex({0x00, 0xDC, 0xFF, 0xF1, 0xF0})},
        // Matches that run across the end of the ring.
        {std::string(40, 'a'), Hex({0x01, 0x61, 0xEE, 0xFF, 0x00, 0x0F, 0x04, 0x00})},
        {"abababababab  ab", Hex({0x03, 0x61, 0x62, 0xEE, 0xF7, 0xEC, 0xF1})},
        {"Hello, hello, hello world! Hello world.",
         Hex({0xFF, 0x48, 0x65, 0x6C, 0x6C, 0x6F, 0x2C, 0x20, 0x68, 0xFE, 0xEF, 0xF8, 0x20, 0x77, 0x6F,
              0x72, 0x6C, 0x64, 0x21, 0x04, 0xED, 0xF3, 0x01, 0x03, 0x2E})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("input \"" + c.input + "\"");
        EXPECT_EQ(Encode(ToBytes(c.input)), c.stream);
        EXPECT_EQ(Decode(c.stream, c.input.size()), ToBytes(c.input));
    }
}

TEST(Lzss, EncodingDependsOnTheInputAlone)
{
    const Bytes shortInput = ToBytes("xyzxyzxyz");
    const Bytes first = Encode(shortInput);
    Encode(MakeInput(Shape::Random, 5000, 1));
    EXPECT_EQ(Encode(shortInput), first);
}

TEST(Lzss, DecoderStartsFromSpacesAndZeros)
{
    // Positions 0..4077 hold spaces, 4078..4095 zeros, before anything is decoded.
    EXPECT_EQ(Decode(Hex({0x00, 0x00, 0x0F}), 100), Bytes(18, ' '));
    EXPECT_EQ(Decode(Hex({0x00, 0xEE, 0xFF}), 100), Bytes(18, 0));
    // Ring 4086..4095 and on round to 0..7: ten zeros, then spaces.
    Bytes wrapped(10, 0);
    wrapped.resize(18, ' ');
    EXPECT_EQ(Decode(Hex({0x00, 0xF6, 0xFF}), 100), wrapped);
}

TEST(Lzss, RoundTripsEveryShapeAndSize)
{
    const size_t sizes[] = {0, 1, 2, 3, 17, 18, 19, 35, 4095, 4096, 4097, 8193, 70000};
    for (Shape shape : {Shape::Random, Shape::Text, Shape::Runs, Shape::Zeros}) {
        for (size_t size : sizes) {
            SCOPED_TRACE("shape " + std::to_string(static_cast<int>(shape)) + " size " + std::to_string(size));
            const Bytes input = MakeInput(shape, size, static_cast<uint32_t>(size));
            const Bytes stream = Encode(input);
            EXPECT_LE(static_cast<int64_t>(stream.size()), LzssMaxEncodedSize(static_cast<int64_t>(size)));
            EXPECT_EQ(Decode(stream, size), input);
        }
    }
}

TEST(Lzss, CutStreamDecodesToLastWholeToken)
{
    const Bytes input = MakeInput(Shape::Text, 3000, 7);
    const Bytes stream = Encode(input);
    size_t previous = 0;
    for (size_t cut = 0; cut <= stream.size(); ++cut) {
        const Bytes part(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(cut));
        const Bytes decoded = Decode(part, input.size());
        ASSERT_TRUE(std::equal(decoded.begin(), decoded.end(), input.begin())) << "cut " << cut;
        ASSERT_GE(decoded.size(), previous);
        previous = decoded.size();
    }
    EXPECT_EQ(previous, input.size());
    // "abcabcabc" without the match's second byte: the match is dropped.
    EXPECT_EQ(Decode(Hex({0x07, 0x61, 0x62, 0x63, 0xEE}), 9), ToBytes("abc"));
}

TEST(Lzss, ArbitraryStreamsDecodeLikeThePlainRingBuffer)
{
    std::mt19937 rng(99);
    for (int round = 0; round < 300; ++round) {
        Bytes stream(rng() % 2000);
        for (uint8_t& byte : stream)
            byte = static_cast<uint8_t>(rng());
        if (round % 3 == 0) {
            // Mostly matches, so that copies overlap themselves and reach into the start window.
            for (size_t i = 0; i < stream.size(); i += 17)
                stream[i] = static_cast<uint8_t>(rng() % 4);
        }
        const size_t limit = rng() % 40000;
        ASSERT_EQ(Decode(stream, limit), ReferenceDecode(stream, limit)) << "round " << round;
    }
}

}  // namespace
