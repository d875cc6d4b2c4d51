// The same formulas as kernel_c.cpp, compiled with AVX2 so the row loops use
// 256-bit min/max (the baseline build has no unsigned 16-bit min/max at all).
// The 16-bit averaging modes get hand-written rows on top.
#include "kernel.h"
#include "kernel_impl.h"

#include <immintrin.h>

namespace {

// 16-bit averages in 16-bit lanes. A weighted sum S of samples (weights adding
// up to 2^K) needs up to 16 + K bits, but it splits exactly into
//   H = sum of w * (x >> K)   (at most 2^K * (2^(16-K) - 1), fits 16 bits)
//   L = S - (H << K)          (sum of w * (x & (2^K - 1)), small)
// and (S + 2^(K-1)) >> K == H + ((L + 2^(K-1)) >> K). L comes from S modulo
// 2^16, which plain wrapping adds give. Sums of three rows are kept per column
// in a block buffer and read back at three offsets for the horizontal pass.
enum class Avg { smooth, ring }; // 11/12: [1 2 1] x [1 2 1] / 16; 19: eight neighbours / 8

inline __m256i ld(const uint16_t *p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p)); }
inline void st(uint16_t *p, __m256i v) { _mm256_storeu_si256(reinterpret_cast<__m256i *>(p), v); }

template <Avg A> void avg_row_u16(const uint16_t *up, const uint16_t *mid, const uint16_t *dn, uint16_t *out, int w) {
    constexpr int K = A == Avg::smooth ? 4 : 3;
    constexpr int V = 16; // lanes
    alignas(32) uint16_t vs[kBlock + 2], vh[kBlock + 2];
    const __m256i half = _mm256_set1_epi16(1 << (K - 1));
    // Blocks of n outputs, n >= V; the last one may overlap the one before.
    for (int x0 = 1; x0 < w - 1; x0 += kBlock) {
        int n = w - 1 - x0;
        if (n > kBlock)
            n = kBlock;
        else if (w - 2 >= kBlock)
            n = kBlock, x0 = w - 1 - kBlock;
        const int c0 = x0 - 1; // column of vs[0]
        for (int i = 0;; i += V) {
            if (i > n + 2 - V)
                i = n + 2 - V;
            const __m256i u = ld(up + c0 + i), m = ld(mid + c0 + i), d = ld(dn + c0 + i);
            const __m256i mh = _mm256_srli_epi16(m, K);
            __m256i s = _mm256_add_epi16(_mm256_add_epi16(u, d), m);
            __m256i h = _mm256_add_epi16(_mm256_add_epi16(_mm256_srli_epi16(u, K), _mm256_srli_epi16(d, K)), mh);
            if (A == Avg::smooth) {
                s = _mm256_add_epi16(s, m);
                h = _mm256_add_epi16(h, mh);
            }
            st(vs + i, s);
            st(vh + i, h);
            if (i == n + 2 - V)
                break;
        }
        for (int i = 0;; i += V) {
            if (i > n - V)
                i = n - V;
            __m256i s, h;
            if (A == Avg::smooth) {
                const __m256i s1 = ld(vs + i + 1), h1 = ld(vh + i + 1);
                s = _mm256_add_epi16(_mm256_add_epi16(ld(vs + i), ld(vs + i + 2)), _mm256_add_epi16(s1, s1));
                h = _mm256_add_epi16(_mm256_add_epi16(ld(vh + i), ld(vh + i + 2)), _mm256_add_epi16(h1, h1));
            } else {
                const __m256i c = ld(mid + x0 + i);
                s = _mm256_sub_epi16(_mm256_add_epi16(_mm256_add_epi16(ld(vs + i), ld(vs + i + 2)), ld(vs + i + 1)), c);
                h = _mm256_sub_epi16(_mm256_add_epi16(_mm256_add_epi16(ld(vh + i), ld(vh + i + 2)), ld(vh + i + 1)),
                                     _mm256_srli_epi16(c, K));
            }
            const __m256i l = _mm256_sub_epi16(s, _mm256_slli_epi16(h, K));
            st(out + x0 + i, _mm256_add_epi16(h, _mm256_srli_epi16(_mm256_add_epi16(l, half), K)));
            if (i == n - V)
                break;
        }
    }
}

template <Avg A> struct AvgRowU16 {
    static constexpr bool value = true;
    static constexpr int min_width = 16 + 2;
    static void run(const uint16_t *up, const uint16_t *mid, const uint16_t *dn, uint16_t *out, int w) {
        avg_row_u16<A>(up, mid, dn, out, w);
    }
};

template <> struct FastRow<11, uint16_t> : AvgRowU16<Avg::smooth> {};
template <> struct FastRow<12, uint16_t> : AvgRowU16<Avg::smooth> {};
template <> struct FastRow<19, uint16_t> : AvgRowU16<Avg::ring> {};

} // namespace

ORVO_RGVS_DEFINE(avx2)
