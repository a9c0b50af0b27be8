// The plain LZSS codec: the scheme written straight, one byte at a time, without
// shortcuts. Tests check the archive's fast codec against it byte for byte, and the
// benchmark measures it as the fast one's peer.
#include "samples/PlainLzss.h"

#include "archive/Lzss.h"

#include <algorithm>
#include <iterator>
#include <memory>

// The codec as the scheme describes it, one byte at a time: a 4096-byte ring with spaces below the start position and
// zeros from it on, trees searched by comparing the strings byte by byte.
namespace {

constexpr int32_t kRing = kLzssWindowSize, kNone = kRing, kLongest = kLzssMaxMatch;

class PlainEncoder {
public:
    int32_t Run(const uint8_t* src, uint8_t* dst, int32_t srcLen);

private:
    void Insert(int32_t r);
    void Remove(int32_t p);
    // The link in p's parent that points to p.
    int32_t& LinkTo(int32_t p) { return m_Right[m_Parent[p]] == p ? m_Right[m_Parent[p]] : m_Left[m_Parent[p]]; }

    uint8_t m_Ring[kRing + kLongest - 1] = {};
    int32_t m_Left[kRing + 1], m_Right[kRing + 257], m_Parent[kRing + 1];
    int32_t m_MatchPosition = 0, m_MatchLength = 0;
};

void PlainEncoder::Insert(int32_t r)
{
    int32_t cmp = 1, p = kRing + 1 + m_Ring[r];
    m_Left[r] = m_Right[r] = kNone;
    m_MatchLength = 0;
    for (;;) {
        int32_t& link = cmp >= 0 ? m_Right[p] : m_Left[p];
        if (link == kNone) {
            link = r;
            m_Parent[r] = p;
            return;
        }
        p = link;
        int32_t i = 1;
        while (i < kLongest && (cmp = m_Ring[r + i] - m_Ring[p + i]) == 0)
            ++i;
        if (i > m_MatchLength) {
            m_MatchPosition = p;
            m_MatchLength = i;
        }
        if (i == kLongest)
            break;
    }
    m_Parent[r] = m_Parent[p];  // r holds the same string as p and takes its place
    m_Left[r] = m_Left[p];
    m_Right[r] = m_Right[p];
    m_Parent[m_Left[p]] = m_Parent[m_Right[p]] = r;
    LinkTo(p) = r;
    m_Parent[p] = kNone;
}

void PlainEncoder::Remove(int32_t p)
{
    if (m_Parent[p] == kNone)
        return;
    int32_t q;
    if (m_Right[p] == kNone) {
        q = m_Left[p];
    } else if (m_Left[p] == kNone) {
        q = m_Right[p];
    } else {  // the rightmost node of p's left subtree takes p's place
        q = m_Left[p];
        if (m_Right[q] != kNone) {
            while (m_Right[q] != kNone)
                q = m_Right[q];
            m_Right[m_Parent[q]] = m_Left[q];
            m_Parent[m_Left[q]] = m_Parent[q];
            m_Left[q] = m_Left[p];
            m_Parent[m_Left[p]] = q;
        }
        m_Right[q] = m_Right[p];
        m_Parent[m_Right[p]] = q;
    }
    m_Parent[q] = m_Parent[p];
    LinkTo(p) = q;
    m_Parent[p] = kNone;
}

int32_t PlainEncoder::Run(const uint8_t* src, uint8_t* dst, int32_t srcLen)
{
    std::fill_n(m_Right + kRing + 1, 256, kNone);
    std::fill_n(m_Parent, kRing, kNone);
    std::fill_n(m_Ring, kLzssStartPos, ' ');
    int32_t in = 0, s = 0, r = kLzssStartPos, len = 0;
    for (; len < kLongest && in < srcLen; ++len)
        m_Ring[r + len] = src[in++];
    if (len == 0)
        return 0;
    for (int32_t i = 1; i <= kLongest; ++i)
        Insert(r - i);
    Insert(r);
    int32_t out = 1, flagAt = 0;
    uint8_t flags = 0, mask = 1;
    while (len > 0) {
        m_MatchLength = std::min(m_MatchLength, len);
        if (m_MatchLength <= kLzssThreshold) {
            m_MatchLength = 1;
            flags |= mask;
            dst[out++] = m_Ring[r];
        } else {
            dst[out++] = uint8_t(m_MatchPosition);
            dst[out++] = uint8_t(((m_MatchPosition >> 4) & 0xF0) | (m_MatchLength - kLzssThreshold - 1));
        }
        if ((mask = uint8_t(mask << 1)) == 0) {
            dst[flagAt] = flags;
            flags = 0;
            mask = 1;
            flagAt = out++;
        }
        for (int32_t step = 0, last = m_MatchLength; step < last; ++step) {
            Remove(s);
            if (in < srcLen) {
                m_Ring[s] = src[in++];
                if (s < kLongest - 1)
                    m_Ring[s + kRing] = m_Ring[s];
            } else {
                --len;
            }
            s = (s + 1) & (kRing - 1);
            r = (r + 1) & (kRing - 1);
            if (len > 0)
                Insert(r);
        }
    }
    if (mask == 1)
        return out - 1;  // the last group is empty: no flag byte
    dst[flagAt] = flags;
    return out;
}

}  // namespace

int32_t PlainLzssEncode(const uint8_t* src, uint8_t* dst, int32_t srcLen)
{
    return std::make_unique<PlainEncoder>()->Run(src, dst, srcLen);
}

int32_t PlainLzssDecode(const uint8_t* src, uint8_t* dst, int32_t srcLen, int32_t dstLen)
{
    uint8_t ring[kRing];
    std::fill(std::fill_n(ring, kLzssStartPos, ' '), std::end(ring), 0);
    int32_t in = 0, out = 0, r = kLzssStartPos;
    for (unsigned flags = 0;; flags >>= 1) {
        if (!(flags & 0x100u)) {
            if (in >= srcLen)
                return out;
            flags = src[in++] | 0xFF00u;
        }
        if (flags & 1) {
            if (in >= srcLen || out >= dstLen)
                return out;
            dst[out++] = ring[r] = src[in++];
            r = (r + 1) & (kRing - 1);
            continue;
        }
        if (in + 2 > srcLen)
            return out;
        const int32_t position = src[in] | ((src[in + 1] & 0xF0) << 4);
        const int32_t length = (src[in + 1] & 0x0F) + kLzssThreshold + 1;
        in += 2;
        for (int32_t k = 0; k < length; ++k) {
            if (out >= dstLen)
                return out;
            dst[out++] = ring[r] = ring[(position + k) & (kRing - 1)];
            r = (r + 1) & (kRing - 1);
        }
    }
}
