// SPDX-License-Identifier: GPL-3.0-or-later

#include "scan/Md5Lanes.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <vector>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define KESTREL_MD5_LANES 1
#endif

namespace {

Md5Digest Md5Of(std::string_view message) {
    Md5Context context;
    context.Update(message.data(), message.size());
    return context.Finish();
}

#if KESTREL_MD5_LANES

// Two sets of eight lanes, hashed step by step side by side: one set's
// steps wait on each other, two keep the processor's units busy.
constexpr size_t kLanes = 16;
constexpr size_t kSet = 8;

// The state of sixteen messages, word by word: a[lane], b[lane], ...
struct LaneState {
    alignas(32) uint32_t a[kLanes];
    alignas(32) uint32_t b[kLanes];
    alignas(32) uint32_t c[kLanes];
    alignas(32) uint32_t d[kLanes];
};

#define LANE_ROTATE(x, s)                                                                          \
    _mm256_or_si256(_mm256_slli_epi32((x), (s)), _mm256_srli_epi32((x), 32 - (s)))
#define LANE_F(x, y, z) _mm256_xor_si256((z), _mm256_and_si256((x), _mm256_xor_si256((y), (z))))
#define LANE_G(x, y, z) _mm256_or_si256(_mm256_and_si256((x), (z)), _mm256_andnot_si256((z), (y)))
#define LANE_H(x, y, z) _mm256_xor_si256(_mm256_xor_si256((x), (y)), (z))
#define LANE_I(x, y, z) _mm256_xor_si256((y), _mm256_or_si256((x), _mm256_xor_si256((z), ones)))
#define LANE_STEP2(f, a, b, c, d, k, t, s)                                                         \
    do {                                                                                           \
        LANE_STEP(f, a##0, b##0, c##0, d##0, x0[k], t, s);                                         \
        LANE_STEP(f, a##1, b##1, c##1, d##1, x1[k], t, s);                                         \
    } while (0)
#define LANE_STEP(f, a, b, c, d, x, t, s)                                                          \
    do {                                                                                           \
        (a) = _mm256_add_epi32((a), _mm256_add_epi32((x), _mm256_set1_epi32(int(t))));             \
        (a) = _mm256_add_epi32((a), f((b), (c), (d)));                                             \
        (a) = _mm256_add_epi32(LANE_ROTATE((a), (s)), (b));                                        \
    } while (0)

// Word k of the eight 32-byte rows r, for k = 0..7, into w.
__attribute__((target("avx2"))) inline void Transpose(const __m256i r[8], __m256i w[8]) {
    const __m256i t0 = _mm256_unpacklo_epi32(r[0], r[1]), t1 = _mm256_unpackhi_epi32(r[0], r[1]);
    const __m256i t2 = _mm256_unpacklo_epi32(r[2], r[3]), t3 = _mm256_unpackhi_epi32(r[2], r[3]);
    const __m256i t4 = _mm256_unpacklo_epi32(r[4], r[5]), t5 = _mm256_unpackhi_epi32(r[4], r[5]);
    const __m256i t6 = _mm256_unpacklo_epi32(r[6], r[7]), t7 = _mm256_unpackhi_epi32(r[6], r[7]);
    const __m256i u0 = _mm256_unpacklo_epi64(t0, t2), u1 = _mm256_unpackhi_epi64(t0, t2);
    const __m256i u2 = _mm256_unpacklo_epi64(t1, t3), u3 = _mm256_unpackhi_epi64(t1, t3);
    const __m256i u4 = _mm256_unpacklo_epi64(t4, t6), u5 = _mm256_unpackhi_epi64(t4, t6);
    const __m256i u6 = _mm256_unpacklo_epi64(t5, t7), u7 = _mm256_unpackhi_epi64(t5, t7);
    w[0] = _mm256_permute2x128_si256(u0, u4, 0x20);
    w[1] = _mm256_permute2x128_si256(u1, u5, 0x20);
    w[2] = _mm256_permute2x128_si256(u2, u6, 0x20);
    w[3] = _mm256_permute2x128_si256(u3, u7, 0x20);
    w[4] = _mm256_permute2x128_si256(u0, u4, 0x31);
    w[5] = _mm256_permute2x128_si256(u1, u5, 0x31);
    w[6] = _mm256_permute2x128_si256(u2, u6, 0x31);
    w[7] = _mm256_permute2x128_si256(u3, u7, 0x31);
}

// nBlocks 64-byte blocks of each lane's message from p[lane] on, advancing
// p[lane] by step[lane] (0 for a lane with no message) after each block.
__attribute__((target("avx2"))) void Blocks(LaneState& state, const uint8_t* p[kLanes],
                                            const size_t step[kLanes], size_t nBlocks) {
    const __m256i ones = _mm256_set1_epi32(-1);
#define LANE_LOAD(pWords) _mm256_load_si256(reinterpret_cast<const __m256i*>(pWords))
    __m256i a0 = LANE_LOAD(state.a), b0 = LANE_LOAD(state.b), c0 = LANE_LOAD(state.c),
            d0 = LANE_LOAD(state.d);
    __m256i a1 = LANE_LOAD(state.a + kSet), b1 = LANE_LOAD(state.b + kSet),
            c1 = LANE_LOAD(state.c + kSet), d1 = LANE_LOAD(state.d + kSet);
    for (size_t n = 0; n < nBlocks; ++n) {
        __m256i r[kSet], x0[16], x1[16];
        for (size_t h = 0; h < 2; ++h) {
            __m256i* x = h == 0 ? x0 : x1;
            for (size_t half = 0; half < 2; ++half) {
                for (size_t l = 0; l < kSet; ++l)
                    r[l] = _mm256_loadu_si256(
                        reinterpret_cast<const __m256i*>(p[h * kSet + l] + 32 * half));
                Transpose(r, x + 8 * half);
            }
        }
        for (size_t l = 0; l < kLanes; ++l)
            p[l] += step[l];
        const __m256i sa0 = a0, sb0 = b0, sc0 = c0, sd0 = d0;
        const __m256i sa1 = a1, sb1 = b1, sc1 = c1, sd1 = d1;

        LANE_STEP2(LANE_F, a, b, c, d, 0, 0xd76aa478, 7);
        LANE_STEP2(LANE_F, d, a, b, c, 1, 0xe8c7b756, 12);
        LANE_STEP2(LANE_F, c, d, a, b, 2, 0x242070db, 17);
        LANE_STEP2(LANE_F, b, c, d, a, 3, 0xc1bdceee, 22);
        LANE_STEP2(LANE_F, a, b, c, d, 4, 0xf57c0faf, 7);
        LANE_STEP2(LANE_F, d, a, b, c, 5, 0x4787c62a, 12);
        LANE_STEP2(LANE_F, c, d, a, b, 6, 0xa8304613, 17);
        LANE_STEP2(LANE_F, b, c, d, a, 7, 0xfd469501, 22);
        LANE_STEP2(LANE_F, a, b, c, d, 8, 0x698098d8, 7);
        LANE_STEP2(LANE_F, d, a, b, c, 9, 0x8b44f7af, 12);
        LANE_STEP2(LANE_F, c, d, a, b, 10, 0xffff5bb1, 17);
        LANE_STEP2(LANE_F, b, c, d, a, 11, 0x895cd7be, 22);
        LANE_STEP2(LANE_F, a, b, c, d, 12, 0x6b901122, 7);
        LANE_STEP2(LANE_F, d, a, b, c, 13, 0xfd987193, 12);
        LANE_STEP2(LANE_F, c, d, a, b, 14, 0xa679438e, 17);
        LANE_STEP2(LANE_F, b, c, d, a, 15, 0x49b40821, 22);

        LANE_STEP2(LANE_G, a, b, c, d, 1, 0xf61e2562, 5);
        LANE_STEP2(LANE_G, d, a, b, c, 6, 0xc040b340, 9);
        LANE_STEP2(LANE_G, c, d, a, b, 11, 0x265e5a51, 14);
        LANE_STEP2(LANE_G, b, c, d, a, 0, 0xe9b6c7aa, 20);
        LANE_STEP2(LANE_G, a, b, c, d, 5, 0xd62f105d, 5);
        LANE_STEP2(LANE_G, d, a, b, c, 10, 0x02441453, 9);
        LANE_STEP2(LANE_G, c, d, a, b, 15, 0xd8a1e681, 14);
        LANE_STEP2(LANE_G, b, c, d, a, 4, 0xe7d3fbc8, 20);
        LANE_STEP2(LANE_G, a, b, c, d, 9, 0x21e1cde6, 5);
        LANE_STEP2(LANE_G, d, a, b, c, 14, 0xc33707d6, 9);
        LANE_STEP2(LANE_G, c, d, a, b, 3, 0xf4d50d87, 14);
        LANE_STEP2(LANE_G, b, c, d, a, 8, 0x455a14ed, 20);
        LANE_STEP2(LANE_G, a, b, c, d, 13, 0xa9e3e905, 5);
        LANE_STEP2(LANE_G, d, a, b, c, 2, 0xfcefa3f8, 9);
        LANE_STEP2(LANE_G, c, d, a, b, 7, 0x676f02d9, 14);
        LANE_STEP2(LANE_G, b, c, d, a, 12, 0x8d2a4c8a, 20);

        LANE_STEP2(LANE_H, a, b, c, d, 5, 0xfffa3942, 4);
        LANE_STEP2(LANE_H, d, a, b, c, 8, 0x8771f681, 11);
        LANE_STEP2(LANE_H, c, d, a, b, 11, 0x6d9d6122, 16);
        LANE_STEP2(LANE_H, b, c, d, a, 14, 0xfde5380c, 23);
        LANE_STEP2(LANE_H, a, b, c, d, 1, 0xa4beea44, 4);
        LANE_STEP2(LANE_H, d, a, b, c, 4, 0x4bdecfa9, 11);
        LANE_STEP2(LANE_H, c, d, a, b, 7, 0xf6bb4b60, 16);
        LANE_STEP2(LANE_H, b, c, d, a, 10, 0xbebfbc70, 23);
        LANE_STEP2(LANE_H, a, b, c, d, 13, 0x289b7ec6, 4);
        LANE_STEP2(LANE_H, d, a, b, c, 0, 0xeaa127fa, 11);
        LANE_STEP2(LANE_H, c, d, a, b, 3, 0xd4ef3085, 16);
        LANE_STEP2(LANE_H, b, c, d, a, 6, 0x04881d05, 23);
        LANE_STEP2(LANE_H, a, b, c, d, 9, 0xd9d4d039, 4);
        LANE_STEP2(LANE_H, d, a, b, c, 12, 0xe6db99e5, 11);
        LANE_STEP2(LANE_H, c, d, a, b, 15, 0x1fa27cf8, 16);
        LANE_STEP2(LANE_H, b, c, d, a, 2, 0xc4ac5665, 23);

        LANE_STEP2(LANE_I, a, b, c, d, 0, 0xf4292244, 6);
        LANE_STEP2(LANE_I, d, a, b, c, 7, 0x432aff97, 10);
        LANE_STEP2(LANE_I, c, d, a, b, 14, 0xab9423a7, 15);
        LANE_STEP2(LANE_I, b, c, d, a, 5, 0xfc93a039, 21);
        LANE_STEP2(LANE_I, a, b, c, d, 12, 0x655b59c3, 6);
        LANE_STEP2(LANE_I, d, a, b, c, 3, 0x8f0ccc92, 10);
        LANE_STEP2(LANE_I, c, d, a, b, 10, 0xffeff47d, 15);
        LANE_STEP2(LANE_I, b, c, d, a, 1, 0x85845dd1, 21);
        LANE_STEP2(LANE_I, a, b, c, d, 8, 0x6fa87e4f, 6);
        LANE_STEP2(LANE_I, d, a, b, c, 15, 0xfe2ce6e0, 10);
        LANE_STEP2(LANE_I, c, d, a, b, 6, 0xa3014314, 15);
        LANE_STEP2(LANE_I, b, c, d, a, 13, 0x4e0811a1, 21);
        LANE_STEP2(LANE_I, a, b, c, d, 4, 0xf7537e82, 6);
        LANE_STEP2(LANE_I, d, a, b, c, 11, 0xbd3af235, 10);
        LANE_STEP2(LANE_I, c, d, a, b, 2, 0x2ad7d2bb, 15);
        LANE_STEP2(LANE_I, b, c, d, a, 9, 0xeb86d391, 21);

        a0 = _mm256_add_epi32(a0, sa0);
        b0 = _mm256_add_epi32(b0, sb0);
        c0 = _mm256_add_epi32(c0, sc0);
        d0 = _mm256_add_epi32(d0, sd0);
        a1 = _mm256_add_epi32(a1, sa1);
        b1 = _mm256_add_epi32(b1, sb1);
        c1 = _mm256_add_epi32(c1, sc1);
        d1 = _mm256_add_epi32(d1, sd1);
    }
#define LANE_STORE(pWords, v) _mm256_store_si256(reinterpret_cast<__m256i*>(pWords), (v))
    LANE_STORE(state.a, a0);
    LANE_STORE(state.b, b0);
    LANE_STORE(state.c, c0);
    LANE_STORE(state.d, d0);
    LANE_STORE(state.a + kSet, a1);
    LANE_STORE(state.b + kSet, b1);
    LANE_STORE(state.c + kSet, c1);
    LANE_STORE(state.d + kSet, d1);
}

bool HasLanes() {
    static const bool bAvx2 = __builtin_cpu_supports("avx2");
    return bAvx2;
}

#endif

} // namespace

void Md5OfMessages(std::span<const std::string_view> messages, std::span<Md5Digest> digests) {
    size_t nNext = 0;
#if KESTREL_MD5_LANES
    // Each lane takes the next message when its own is done; a lane left
    // without one reads a block of zeros and is ignored. The whole blocks
    // are hashed together, each message's tail and padding on its own.
    static constexpr uint8_t kIdle[64] = {};
    // Below four messages at once the lanes would mostly hash nothing.
    constexpr size_t kFewest = 4;
    if (HasLanes() && messages.size() >= kFewest) {
        // The longest first: the lanes then run out of work at about the
        // same time, and little is left for the one at a time at the end.
        std::vector<size_t> order(messages.size());
        for (size_t i = 0; i < order.size(); ++i)
            order[i] = i;
        std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
            return messages[a].size() > messages[b].size();
        });
        LaneState state;
        const uint8_t* p[kLanes];
        size_t step[kLanes], nLeft[kLanes], nMessage[kLanes];
        size_t nActive = 0;
        auto assign = [&](size_t l) {
            step[l] = 0;
            p[l] = kIdle;
            nLeft[l] = 0;
            if (nNext == messages.size())
                return false;
            nMessage[l] = order[nNext++];
            const std::string_view message = messages[nMessage[l]];
            state.a[l] = 0x67452301;
            state.b[l] = 0xefcdab89;
            state.c[l] = 0x98badcfe;
            state.d[l] = 0x10325476;
            p[l] = reinterpret_cast<const uint8_t*>(message.data());
            step[l] = 64;
            nLeft[l] = message.size() / 64;
            return true;
        };
        auto finish = [&](size_t l) {
            const std::string_view message = messages[nMessage[l]];
            const size_t nWhole = message.size() / 64 * 64;
            const uint32_t words[4] = {state.a[l], state.b[l], state.c[l], state.d[l]};
            Md5Context context;
            context.Resume(words, nWhole);
            context.Update(message.data() + nWhole, message.size() - nWhole);
            digests[nMessage[l]] = context.Finish();
        };
        for (size_t l = 0; l < kLanes; ++l)
            nActive += assign(l);
        for (;;) {
            // Lanes with no whole block left end their message and take
            // the next one.
            for (size_t l = 0; l < kLanes; ++l) {
                while (step[l] != 0 && nLeft[l] == 0) {
                    finish(l);
                    if (!assign(l))
                        --nActive;
                }
            }
            if (nActive < kFewest)
                break;
            size_t nBlocks = SIZE_MAX;
            for (size_t l = 0; l < kLanes; ++l)
                if (step[l] != 0)
                    nBlocks = std::min(nBlocks, nLeft[l]);
            Blocks(state, p, step, nBlocks);
            for (size_t l = 0; l < kLanes; ++l)
                if (step[l] != 0)
                    nLeft[l] -= nBlocks;
        }
        // The few lanes still busy go on one at a time from where they are.
        for (size_t l = 0; l < kLanes; ++l) {
            if (step[l] == 0)
                continue;
            const std::string_view message = messages[nMessage[l]];
            const size_t nDone = message.size() / 64 * 64 - nLeft[l] * 64;
            const uint32_t words[4] = {state.a[l], state.b[l], state.c[l], state.d[l]};
            Md5Context context;
            context.Resume(words, nDone);
            context.Update(message.data() + nDone, message.size() - nDone);
            digests[nMessage[l]] = context.Finish();
        }
    }
#endif
    for (; nNext < messages.size(); ++nNext)
        digests[nNext] = Md5Of(messages[nNext]);
}
