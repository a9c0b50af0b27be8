// LZSS encoder (binary search trees over the window, walked two at a time where they
// are independent) and decoder (copies straight from the output, which doubles as the
// window).
#include "archive/Lzss.h"

#include <cstddef>
#include <cstring>

namespace {

constexpr uint32_t N = kLzssWindowSize;
constexpr int32_t F = kLzssMaxMatch;
constexpr uint32_t kMask = N - 1;
constexpr uint32_t kNil = N;             // "no node" in the trees
constexpr uint32_t kRoots = N + 1;       // nodes N+1 .. N+256: the roots, one per first byte
constexpr uint32_t kNodes = kRoots + 256;
constexpr uint32_t kSpareLink = 2 * kNodes;  // written instead of a link a deletion leaves alone
constexpr uint8_t kWindowFill = 0x20;    // initial content of positions 0..N-F-1
constexpr bool kLittleEndian = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

// Window bytes as the encoder and decoder see them before the first byte is coded:
// positions 0..4077 hold spaces, positions 4078..4095 hold zeros.
struct InitialWindow {
    uint8_t bytes[N];
    InitialWindow()
    {
        std::memset(bytes, kWindowFill, N);
        std::memset(bytes + kLzssStartPos, 0, N - kLzssStartPos);
    }
};
const InitialWindow g_InitialWindow;

uint64_t Load64(const uint8_t* bytes)
{
    uint64_t value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

// The 8 bytes at `bytes` as a number that orders as the strings do; the highest
// differing bit of two such numbers lies in their first differing byte.
uint64_t OrderedWord(const uint8_t* bytes)
{
    const uint64_t value = Load64(bytes);
    return kLittleEndian ? __builtin_bswap64(value) : value;
}

// Which way a search turns is a coin toss on most data: choosing without a branch beats
// a mispredicted one. Select asks the compiler for a conditional move, which it keeps in
// the search loop; Blend is plain arithmetic, for code where the compiler would turn the
// conditions back into branches.
inline uint32_t Select(bool condition, uint32_t whenSet, uint32_t whenClear)
{
    return __builtin_expect_with_probability(condition, 1, 0.5) ? whenSet : whenClear;
}

inline uint32_t Blend(bool condition, uint32_t whenSet, uint32_t whenClear)
{
    return whenClear ^ ((whenClear ^ whenSet) & (0u - static_cast<uint32_t>(condition)));
}

struct Match {
    int32_t length;
    uint32_t position;
};

// One insertion's walk down its tree.
struct Search {
    const uint8_t* key;     // the string being inserted
    uint64_t keyHead;       // OrderedWord of its bytes 1..8
    uint32_t node;          // the node to compare next; kNil once the walk is over
    uint32_t link;          // index in m_Link of the link that led to `node`
    uint32_t duplicate;     // the node holding the same 18 bytes, or kNil
    Match best;             // of equally long candidates the first met
};

class Encoder {
public:
    int32_t Run(const uint8_t* src, uint8_t* dst, int32_t srcLen);

private:
    uint16_t& Left(uint32_t node) { return m_Link[2 * node]; }
    uint16_t& Right(uint32_t node) { return m_Link[2 * node + 1]; }
    // Both links of a node in one load, the left one in the low half.
    uint32_t Children(uint32_t node) const
    {
        uint32_t pair;
        std::memcpy(&pair, &m_Link[2 * node], sizeof pair);
        return kLittleEndian ? pair : (pair >> 16) | (pair << 16);
    }
    bool InTree(uint32_t node) const { return m_Parent[node] != kNil; }
    // The last two bytes one by one: the newest string's last byte has just been stored,
    // and a wider load across it would wait for that store.
    bool SameString(uint32_t a, uint32_t b) const
    {
        return Load64(&m_Text[a]) == Load64(&m_Text[b]) && Load64(&m_Text[a + 8]) == Load64(&m_Text[b + 8]) &&
               m_Text[a + F - 2] == m_Text[b + F - 2] && m_Text[a + F - 1] == m_Text[b + F - 1];
    }
    void Store(uint32_t position, uint8_t byte)
    {
        m_Text[position] = byte;
        if (position < F - 1)
            m_Text[position + N] = byte;
    }

    // Inserts position r into its tree; with kTrack the result holds the longest match
    // for the string at r, otherwise only a replaced duplicate's.
    template <bool kTrack>
    Match Insert(uint32_t r);
    template <bool kTrack>
    Match Walk(uint32_t r);
    // Two insertions into different trees, their walks interleaved.
    template <bool kTrackFirst, bool kTrackSecond>
    void InsertPair(uint32_t first, uint32_t second, Match& firstMatch, Match& secondMatch);
    void Begin(Search& search, uint32_t r);
    template <bool kTrack>
    void Step(Search& search);
    void Finish(const Search& search, uint32_t r);
    void Replace(uint32_t p, uint32_t r);
    void Delete(uint32_t p)
    {
        if (InTree(p))
            Unlink(p);
    }
    void Unlink(uint32_t p);

    // Ring buffer plus a mirror of its first F-1 bytes so that comparisons never wrap,
    // and slack for the 8-byte loads.
    uint8_t m_Text[N + F - 1 + 8];
    // Left and right child of every node, then the spare: m_Link[2n] and m_Link[2n+1].
    // The roots use their right link only; kNil's links stay kNil.
    uint16_t m_Link[kSpareLink + 1];
    uint16_t m_Parent[N + 1];
    uint32_t m_Replaced = kNil;   // the node the last insertion replaced
};

template <bool kTrack>
inline Match Encoder::Insert(uint32_t r)
{
    // After a replacement the next string often repeats the replaced node's successor
    // (runs, repeated rows); the tree holds one node per string, so that node is the match.
    const uint32_t next = (m_Replaced + 1) & kMask;
    if (m_Replaced != kNil && InTree(next) && SameString(next, r)) {
        Replace(next, r);
        return Match{F, next};
    }
    return Walk<kTrack>(r);
}

template <bool kTrack>
__attribute__((noinline)) Match Encoder::Walk(uint32_t r)
{
    Search search;
    Begin(search, r);
    while (search.node != kNil)
        Step<kTrack>(search);
    Finish(search, r);
    return search.best;
}

template <bool kTrackFirst, bool kTrackSecond>
void Encoder::InsertPair(uint32_t first, uint32_t second, Match& firstMatch, Match& secondMatch)
{
    Search a;
    Search b;
    Begin(a, first);
    Begin(b, second);
    while (a.node != kNil && b.node != kNil) {
        Step<kTrackFirst>(a);
        Step<kTrackSecond>(b);
    }
    while (a.node != kNil)
        Step<kTrackFirst>(a);
    while (b.node != kNil)
        Step<kTrackSecond>(b);
    Finish(a, first);
    Finish(b, second);
    firstMatch = a.best;
    secondMatch = b.best;
}

void Encoder::Begin(Search& search, uint32_t r)
{
    search.key = &m_Text[r];
    search.keyHead = OrderedWord(search.key + 1);
    search.link = 2 * (kRoots + search.key[0]) + 1;
    search.node = m_Link[search.link];
    search.duplicate = kNil;
    search.best = Match{0, 0};
    Left(r) = Right(r) = kNil;
}

// Compares the key with one node: strings in a tree share their first byte, so bytes 1..8
// decide almost always, 9..16 and 17 seldom.
template <bool kTrack>
inline void Encoder::Step(Search& search)
{
    const uint32_t p = search.node;
    const uint64_t head = OrderedWord(&m_Text[p + 1]);
    const uint32_t children = Children(p);
    int32_t length;
    bool right;
    if (__builtin_expect(head == search.keyHead, 0)) {
        const uint64_t keyMiddle = OrderedWord(search.key + 9);
        const uint64_t middle = OrderedWord(&m_Text[p + 9]);
        if (keyMiddle != middle) {
            length = 9 + (__builtin_clzll(keyMiddle ^ middle) >> 3);
            right = keyMiddle > middle;
        } else if (search.key[F - 1] != m_Text[p + F - 1]) {
            length = F - 1;
            right = search.key[F - 1] > m_Text[p + F - 1];
        } else {
            search.duplicate = p;
            search.best = Match{F, p};
            search.node = kNil;
            return;
        }
    } else {
        length = 1 + (__builtin_clzll(head ^ search.keyHead) >> 3);
        right = search.keyHead > head;
    }
    if (kTrack) {
        search.best.position = length > search.best.length ? p : search.best.position;
        search.best.length = length > search.best.length ? length : search.best.length;
    }
    search.link = 2 * p + right;
    search.node = Select(right, children >> 16, children & 0xFFFF);
}

void Encoder::Finish(const Search& search, uint32_t r)
{
    if (search.duplicate != kNil) {
        Replace(search.duplicate, r);
        return;
    }
    m_Link[search.link] = static_cast<uint16_t>(r);
    m_Parent[r] = static_cast<uint16_t>(search.link / 2);
    m_Replaced = kNil;
}

// r holds the same 18 bytes as p: r takes p's place, so the newest copy stays.
void Encoder::Replace(uint32_t p, uint32_t r)
{
    const uint32_t parent = m_Parent[p];
    m_Parent[r] = static_cast<uint16_t>(parent);
    Left(r) = Left(p);
    Right(r) = Right(p);
    m_Parent[Left(p)] = static_cast<uint16_t>(r);
    m_Parent[Right(p)] = static_cast<uint16_t>(r);
    m_Link[2 * parent + (Right(parent) == p)] = static_cast<uint16_t>(r);
    m_Parent[p] = kNil;
    m_Replaced = p;
}

// With one child or none, that child (or nothing) takes p's place; with two, the
// rightmost node of the left subtree does. Writes that a case does not make go to the
// spare link or kNil's parent.
__attribute__((noinline)) void Encoder::Unlink(uint32_t p)
{
    const uint32_t parent = m_Parent[p];
    const uint32_t left = Left(p);
    const uint32_t right = Right(p);
    const bool both = (left != kNil) & (right != kNil);
    uint32_t q = Blend(left == kNil, right, left);
    uint32_t walk = Blend(both, Right(left), kNil);
    if (walk != kNil) {
        do {
            q = walk;
            walk = Right(q);
        } while (walk != kNil);
        Right(m_Parent[q]) = Left(q);
        m_Parent[Left(q)] = m_Parent[q];
        Left(q) = static_cast<uint16_t>(left);
        m_Parent[left] = static_cast<uint16_t>(q);
    }
    m_Link[Blend(both, 2 * q + 1, kSpareLink)] = static_cast<uint16_t>(right);
    m_Parent[Blend(both, right, kNil)] = static_cast<uint16_t>(q);
    m_Parent[q] = static_cast<uint16_t>(parent);
    m_Link[2 * parent + (Right(parent) == p)] = static_cast<uint16_t>(q);
    m_Parent[p] = kNil;
}

// Groups of a flag byte and up to eight tokens; a group's flag byte is written once the
// group is complete.
class TokenWriter {
public:
    explicit TokenWriter(uint8_t* dst) : m_Dst(dst) {}
    void Literal(uint8_t byte)
    {
        m_Flags |= m_Mask;
        m_Dst[m_Out++] = byte;
        Advance();
    }
    void Reference(uint32_t position, int32_t length)
    {
        m_Dst[m_Out++] = static_cast<uint8_t>(position);
        m_Dst[m_Out++] = static_cast<uint8_t>(((position >> 4) & 0xF0) | (length - (kLzssThreshold + 1)));
        Advance();
    }
    // Writes the last group's flag byte and returns the stream's length.
    int32_t Close()
    {
        if (m_Mask == 1)
            return static_cast<int32_t>(m_Out - 1);   // the last group is empty: no flag byte
        m_Dst[m_FlagAt] = m_Flags;
        return static_cast<int32_t>(m_Out);
    }

private:
    void Advance()
    {
        m_Mask = static_cast<uint8_t>(m_Mask << 1);
        if (m_Mask == 0) {
            m_Dst[m_FlagAt] = m_Flags;
            m_FlagAt = m_Out++;
            m_Flags = 0;
            m_Mask = 1;
        }
    }

    uint8_t* m_Dst;
    size_t m_FlagAt = 0;
    size_t m_Out = 1;
    uint8_t m_Flags = 0;
    uint8_t m_Mask = 1;
};

// Every step deletes the oldest position, stores the next input byte there and inserts
// the newest position; the search of a position where a token starts gives that token.
// Steps do not depend on the tokens, so two steps can be taken together.
int32_t Encoder::Run(const uint8_t* src, uint8_t* dst, int32_t srcLen)
{
    if (!src || !dst || srcLen <= 0)
        return 0;
    for (uint32_t i = kNil; i < kNodes; ++i)
        Left(i) = Right(i) = kNil;
    for (uint32_t i = 0; i < N; ++i)
        m_Parent[i] = kNil;
    m_Replaced = kNil;
    // Positions past the spaces start at zero for every call, so the output depends on
    // the input alone.
    std::memcpy(m_Text, g_InitialWindow.bytes, N);
    std::memset(m_Text + N, 0, sizeof m_Text - N);

    const uint8_t* in = src;
    const uint8_t* const inEnd = src + srcLen;
    uint32_t s = 0;
    uint32_t r = kLzssStartPos;
    int32_t len = 0;
    while (len < F && in < inEnd)
        m_Text[r + len++] = *in++;
    for (uint32_t i = 1; i <= F; ++i)
        Insert<false>(r - i);

    TokenWriter tokens(dst);
    // Emits the token at r, its match cut to the bytes left; returns the steps it covers.
    const auto emit = [&](Match match) {
        if (match.length > len)
            match.length = len;
        if (match.length <= kLzssThreshold) {
            tokens.Literal(m_Text[r]);
            return 1;
        }
        tokens.Reference(match.position, match.length);
        return match.length;
    };
    int32_t untilToken = emit(Insert<true>(r));

    while (in < inEnd) {
        const uint32_t first = (r + 1) & kMask;
        const uint32_t second = (r + 2) & kMask;
        const uint32_t nextOldest = (s + 1) & kMask;
        // Together when the two insertions go into different trees and the second
        // deletion, moved before the first insertion, leaves that one's tree alone. After
        // a replacement the single step's shortcut is likelier to pay.
        if (inEnd - in >= 2 && m_Replaced == kNil && m_Text[first] != m_Text[second] &&
            (!InTree(nextOldest) || m_Text[nextOldest] != m_Text[first])) {
            Delete(s);
            Store(s, in[0]);
            Delete(nextOldest);
            Store(nextOldest, in[1]);
            in += 2;
            s = (s + 2) & kMask;
            Match firstMatch;
            Match secondMatch;
            if (untilToken == 1)
                InsertPair<true, true>(first, second, firstMatch, secondMatch);
            else if (untilToken == 2)
                InsertPair<false, true>(first, second, firstMatch, secondMatch);
            else
                InsertPair<false, false>(first, second, firstMatch, secondMatch);
            r = first;
            if (--untilToken == 0)
                untilToken = emit(firstMatch);
            r = second;
            if (--untilToken == 0)
                untilToken = emit(secondMatch);
            continue;
        }
        Delete(s);
        Store(s, *in++);
        s = (s + 1) & kMask;
        r = first;
        const Match match = untilToken == 1 ? Insert<true>(r) : Insert<false>(r);
        if (--untilToken == 0)
            untilToken = emit(match);
    }
    // The input is used up: the window slides on over the last bytes.
    while (len > 0) {
        Delete(s);
        s = (s + 1) & kMask;
        r = (r + 1) & kMask;
        Match match{0, 0};
        if (--len > 0)
            match = Insert<true>(r);
        if (--untilToken == 0 && len > 0)
            untilToken = emit(match);
    }
    return tokens.Close();
}

// Copies one match of `length` bytes taken from window position `position` to dst[out..].
// Output byte k sits at window position (4078 + k) mod 4096, so the position names the
// most recent output byte at that spot, `distance` bytes back; before the output is that
// long it names a byte of the initial window. The caller guarantees room for `length`
// bytes, and for F bytes when `roomy`.
inline void CopyMatch(uint8_t* dst, size_t out, int32_t position, int32_t length, bool roomy)
{
    const int32_t current = static_cast<int32_t>((kLzssStartPos + out) & (N - 1));
    int32_t distance = (current - position) & (N - 1);
    if (distance == 0)
        distance = N;
    if (out < static_cast<size_t>(distance)) {
        // Starts in the initial window, possibly running on into the output.
        const int64_t from = static_cast<int64_t>(out) - distance;
        for (int32_t k = 0; k < length; ++k) {
            const int64_t index = from + k;
            dst[out + k] = index < 0 ? g_InitialWindow.bytes[(kLzssStartPos + index) & (N - 1)]
                                     : dst[static_cast<size_t>(index)];
        }
        return;
    }
    uint8_t* to = dst + out;
    const uint8_t* from = to - distance;
    if (distance >= F && roomy) {
        // The source lies wholly before the destination: one fixed-size copy, the bytes
        // past `length` are overwritten by what follows.
        std::memcpy(to, from, F);
    } else if (distance == 1) {
        std::memset(to, *from, static_cast<size_t>(length));
    } else if (distance >= length) {
        std::memcpy(to, from, static_cast<size_t>(length));
    } else {
        // Overlapping: each byte may be one this match has just produced.
        for (int32_t k = 0; k < length; ++k)
            to[k] = from[k];
    }
}

}  // namespace

int32_t LzssEncode(const uint8_t* src, uint8_t* dst, int32_t srcLen)
{
    Encoder encoder;
    return encoder.Run(src, dst, srcLen);
}

int32_t LzssDecode(const uint8_t* src, uint8_t* dst, int32_t srcLen, int32_t dstLen)
{
    if (!src || !dst || srcLen <= 0 || dstLen <= 0)
        return 0;
    const size_t inEnd = static_cast<size_t>(srcLen);
    const size_t outEnd = static_cast<size_t>(dstLen);
    // A whole group takes at most 1 + 16 input bytes and yields at most 8 * F output bytes.
    constexpr size_t kGroupInput = 1 + 8 * 2;
    constexpr size_t kGroupOutput = 8 * F;
    size_t in = 0;
    size_t out = 0;

    while (in + kGroupInput <= inEnd && out + kGroupOutput <= outEnd) {
        unsigned flags = src[in++];
        if (flags == 0xFF) {
            std::memcpy(dst + out, src + in, 8);
            in += 8;
            out += 8;
            continue;
        }
        for (int bit = 0; bit < 8; ++bit, flags >>= 1) {
            if (flags & 1) {
                dst[out++] = src[in++];
            } else {
                const int32_t position = src[in] | ((src[in + 1] & 0xF0) << 4);
                const int32_t length = (src[in + 1] & 0x0F) + kLzssThreshold + 1;
                in += 2;
                CopyMatch(dst, out, position, length, true);
                out += static_cast<size_t>(length);
            }
        }
    }

    // Near either end: token by token, with every bound checked.
    while (in < inEnd && out < outEnd) {
        unsigned flags = src[in++];
        for (int bit = 0; bit < 8; ++bit, flags >>= 1) {
            if (out >= outEnd || in >= inEnd)
                return static_cast<int32_t>(out);
            if (flags & 1) {
                dst[out++] = src[in++];
            } else {
                if (in + 2 > inEnd)
                    return static_cast<int32_t>(out);
                const int32_t position = src[in] | ((src[in + 1] & 0xF0) << 4);
                int32_t length = (src[in + 1] & 0x0F) + kLzssThreshold + 1;
                in += 2;
                if (static_cast<size_t>(length) > outEnd - out)
                    length = static_cast<int32_t>(outEnd - out);
                CopyMatch(dst, out, position, length, false);
                out += static_cast<size_t>(length);
            }
        }
    }
    return static_cast<int32_t>(out);
}
