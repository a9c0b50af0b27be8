// LZSS encoder (binary search trees over the window) and decoder (copies straight from
// the output, which doubles as the window).
#include "archive/Lzss.h"

#include <cstddef>
#include <cstring>

namespace {

constexpr int32_t N = kLzssWindowSize;
constexpr int32_t F = kLzssMaxMatch;
constexpr int32_t kNil = N;              // "no node" in the trees
constexpr uint8_t kWindowFill = 0x20;    // initial content of positions 0..N-F-1

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

// Compares strings 8 bytes at a time. Loaded little-endian, the lowest differing byte of
// two words is the first differing byte of the strings; byte-swapped, the words compare
// as the strings do. Deciding the direction from the swapped words keeps the work before
// the descent's next branch short.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr bool kWordCompare = true;
#else
constexpr bool kWordCompare = false;
#endif

// The 17 bytes after a string's first byte, loaded once per search. The first byte needs
// no comparison: every string in a tree starts with the tree's byte.
struct SearchKey {
    explicit SearchKey(const uint8_t* key)
        : bytes(key), head(Load64(key + 1)), middle(Load64(key + 9)),
          headOrder(__builtin_bswap64(head)), middleOrder(__builtin_bswap64(middle)) {}
    const uint8_t* bytes;
    uint64_t head;          // bytes 1..8
    uint64_t middle;        // bytes 9..16
    uint64_t headOrder;     // the same, byte-swapped for ordering
    uint64_t middleOrder;
};

// Number of leading equal bytes of the key and the 18-byte string at `other` (at least 1).
// `cmp` gets a value of the sign of key[i] - other[i] (unsigned bytes) at the first
// difference; only its sign is used.
inline int32_t MatchLength(const SearchKey& key, const uint8_t* other, int32_t& cmp)
{
    if (kWordCompare) {
        const uint64_t head = Load64(other + 1);
        if (head != key.head) {
            cmp = key.headOrder > __builtin_bswap64(head) ? 1 : -1;
            return 1 + (__builtin_ctzll(head ^ key.head) >> 3);
        }
        const uint64_t middle = Load64(other + 9);
        if (middle != key.middle) {
            cmp = key.middleOrder > __builtin_bswap64(middle) ? 1 : -1;
            return 9 + (__builtin_ctzll(middle ^ key.middle) >> 3);
        }
        cmp = key.bytes[17] - other[17];
        return cmp ? 17 : F;
    }
    for (int32_t i = 1; i < F; ++i) {
        cmp = key.bytes[i] - other[i];
        if (cmp)
            return i;
    }
    return F;
}

class Encoder {
public:
    int32_t Run(const uint8_t* src, uint8_t* dst, int32_t srcLen);

private:
    using Node = uint16_t;   // a window position 0..N-1, kNil, or a tree root N+1..N+256
    static constexpr int kLeft = 0;
    static constexpr int kRight = 1;

    // Inserts position r into its tree. With kFindMatch, also leaves the longest match for
    // the string at r in m_MatchLength and m_MatchPosition; insertions whose match is never
    // used skip that bookkeeping.
    template <bool kFindMatch>
    void InsertNode(int32_t r);
    void DeleteNode(int32_t p);
    Node& Left(int32_t node) { return m_Child[node][kLeft]; }
    Node& Right(int32_t node) { return m_Child[node][kRight]; }
    // The link in p's parent that points to p.
    Node& LinkTo(int32_t p)
    {
        Node* children = m_Child[m_Parent[p]];
        return children[kRight] == p ? children[kRight] : children[kLeft];
    }

    // Ring buffer plus a mirror of its first F-1 bytes so that comparisons never wrap,
    // and slack for the 8-byte loads of MatchLength.
    uint8_t m_Text[N + F - 1 + 8];
    // Left and right child of every position; N+1 .. N+256 are the roots of 256 trees,
    // one per first byte, which use their right link only.
    Node m_Child[N + 257][2];
    Node m_Parent[N + 1];
    int32_t m_MatchPosition = 0;
    int32_t m_MatchLength = 0;
};

template <bool kFindMatch>
void Encoder::InsertNode(int32_t r)
{
    const SearchKey key(&m_Text[r]);
    int32_t cmp = 1;
    int32_t p = N + 1 + key.bytes[0];
    Left(r) = Right(r) = kNil;
    int32_t bestLength = 0;
    int32_t bestPosition = m_MatchPosition;
    for (;;) {
        // A branch, not an index computed from cmp: the descent then runs ahead speculatively.
        Node* link;
        if (cmp >= 0)
            link = &Right(p);
        else
            link = &Left(p);
        if (*link == kNil) {
            *link = static_cast<Node>(r);
            m_Parent[r] = static_cast<Node>(p);
            if (kFindMatch) {
                m_MatchLength = bestLength;
                m_MatchPosition = bestPosition;
            }
            return;
        }
        p = *link;
        const int32_t length = MatchLength(key, &m_Text[p], cmp);
        // Of equally long candidates the first met wins. Written as selections, not a
        // branch: whether a node improves the match is hard to predict.
        if (kFindMatch) {
            bestPosition = length > bestLength ? p : bestPosition;
            bestLength = length > bestLength ? length : bestLength;
        }
        if (length >= F)
            break;
    }
    if (kFindMatch) {
        m_MatchLength = F;
        m_MatchPosition = p;
    }
    // r holds the same 18 bytes as p: r takes p's place, so the newest copy stays.
    m_Parent[r] = m_Parent[p];
    Left(r) = Left(p);
    Right(r) = Right(p);
    m_Parent[Left(p)] = static_cast<Node>(r);
    m_Parent[Right(p)] = static_cast<Node>(r);
    LinkTo(p) = static_cast<Node>(r);
    m_Parent[p] = kNil;
}

void Encoder::DeleteNode(int32_t p)
{
    if (m_Parent[p] == kNil)
        return;
    int32_t q;
    if (Right(p) == kNil) {
        q = Left(p);
    } else if (Left(p) == kNil) {
        q = Right(p);
    } else {
        // The rightmost node of p's left subtree takes p's place.
        q = Left(p);
        if (Right(q) != kNil) {
            do {
                q = Right(q);
            } while (Right(q) != kNil);
            Right(m_Parent[q]) = Left(q);
            m_Parent[Left(q)] = m_Parent[q];
            Left(q) = Left(p);
            m_Parent[Left(p)] = static_cast<Node>(q);
        }
        Right(q) = Right(p);
        m_Parent[Right(p)] = static_cast<Node>(q);
    }
    m_Parent[q] = m_Parent[p];
    LinkTo(p) = static_cast<Node>(q);
    m_Parent[p] = kNil;
}

int32_t Encoder::Run(const uint8_t* src, uint8_t* dst, int32_t srcLen)
{
    if (!src || !dst || srcLen <= 0)
        return 0;
    for (int32_t i = N + 1; i <= N + 256; ++i)
        Right(i) = kNil;
    for (int32_t i = 0; i < N; ++i)
        m_Parent[i] = kNil;
    // Positions past the spaces start at zero for every call, so the output depends on
    // the input alone.
    std::memcpy(m_Text, g_InitialWindow.bytes, N);
    std::memset(m_Text + N, 0, sizeof m_Text - N);

    const uint8_t* in = src;
    const uint8_t* const inEnd = src + srcLen;
    int32_t s = 0;
    int32_t r = kLzssStartPos;
    int32_t len = 0;
    while (len < F && in < inEnd)
        m_Text[r + len++] = *in++;
    for (int32_t i = 1; i <= F; ++i)
        InsertNode<false>(r - i);
    InsertNode<true>(r);

    size_t out = 0;
    size_t flagPos = out++;   // the group's flag byte, written once the group is known
    uint8_t flags = 0;
    uint8_t mask = 1;
    do {
        if (m_MatchLength > len)
            m_MatchLength = len;
        if (m_MatchLength <= kLzssThreshold) {
            m_MatchLength = 1;
            flags |= mask;
            dst[out++] = m_Text[r];
        } else {
            dst[out++] = static_cast<uint8_t>(m_MatchPosition);
            dst[out++] = static_cast<uint8_t>(((m_MatchPosition >> 4) & 0xF0) |
                                              (m_MatchLength - (kLzssThreshold + 1)));
        }
        mask = static_cast<uint8_t>(mask << 1);
        if (mask == 0) {
            dst[flagPos] = flags;
            flagPos = out++;
            flags = 0;
            mask = 1;
        }
        const int32_t lastMatchLength = m_MatchLength;
        int32_t i = 0;
        for (; i < lastMatchLength && in < inEnd; ++i) {
            DeleteNode(s);
            const uint8_t c = *in++;
            m_Text[s] = c;
            if (s < F - 1)
                m_Text[s + N] = c;
            s = (s + 1) & (N - 1);
            r = (r + 1) & (N - 1);
            // Only the step's last insertion yields the next token's match.
            if (i + 1 == lastMatchLength)
                InsertNode<true>(r);
            else
                InsertNode<false>(r);
        }
        for (; i < lastMatchLength; ++i) {
            DeleteNode(s);
            s = (s + 1) & (N - 1);
            r = (r + 1) & (N - 1);
            if (--len) {
                if (i + 1 == lastMatchLength)
                    InsertNode<true>(r);
                else
                    InsertNode<false>(r);
            }
        }
    } while (len > 0);

    if (mask != 1) {
        dst[flagPos] = flags;
        return static_cast<int32_t>(out);
    }
    return static_cast<int32_t>(out - 1);   // the last group is empty: drop its flag byte
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
