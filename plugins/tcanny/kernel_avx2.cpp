// AVX2 row kernels of the blur and the output conversion. Same operations in
// the same order as the scalar kernels (separate multiply and add, no FMA), so
// the output is bit-identical; tails run the scalar formula.
#include "kernel.h"

#if defined(__AVX2__)
#include <immintrin.h>

#include <cstring>

#include "avx2_load.h"
#include "gradient_impl.h"

namespace orvo::tcanny {
namespace {

using orvo::avx2::load8;

// N accumulators of 8 lanes: enough independent add chains to hide the add latency.
template <int N, class T>
inline void vsum_block(const T *const *rows, const float *taps, int ntaps, int x, float *dst) {
    __m256 acc[N];
    const __m256 t0 = _mm256_set1_ps(taps[0]);
    for (int i = 0; i < N; i++)
        acc[i] = _mm256_mul_ps(t0, load8(rows[0] + x + 8 * i));
    for (int k = 1; k < ntaps; k++) {
        const __m256 t = _mm256_set1_ps(taps[k]);
        const T *r = rows[k] + x;
        for (int i = 0; i < N; i++)
            acc[i] = _mm256_add_ps(acc[i], _mm256_mul_ps(t, load8(r + 8 * i)));
    }
    for (int i = 0; i < N; i++)
        _mm256_storeu_ps(dst + x + 8 * i, acc[i]);
}

template <int N>
inline void hsum_block(const float *src, const float *taps, int ntaps, int x, float *dst) {
    __m256 acc[N];
    const __m256 t0 = _mm256_set1_ps(taps[0]);
    for (int i = 0; i < N; i++)
        acc[i] = _mm256_mul_ps(t0, _mm256_loadu_ps(src + x + 8 * i));
    for (int k = 1; k < ntaps; k++) {
        const __m256 t = _mm256_set1_ps(taps[k]);
        const float *s = src + x + k;
        for (int i = 0; i < N; i++)
            acc[i] = _mm256_add_ps(acc[i], _mm256_mul_ps(t, _mm256_loadu_ps(s + 8 * i)));
    }
    for (int i = 0; i < N; i++)
        _mm256_storeu_ps(dst + x + 8 * i, acc[i]);
}

// Two output rows per pass: each loaded row feeds both (rows[k] carries tap k
// for the first row and tap k-1 for the second).
template <int N>
inline void vsum2_block(const float *const *rows, const float *taps, int ntaps, int x, float *d0, float *d1) {
    __m256 a[N], b[N];
    __m256 t = _mm256_set1_ps(taps[0]);
    for (int i = 0; i < N; i++) {
        a[i] = _mm256_mul_ps(t, _mm256_loadu_ps(rows[0] + x + 8 * i));
        b[i] = _mm256_mul_ps(t, _mm256_loadu_ps(rows[1] + x + 8 * i));
    }
    if (ntaps > 1) {
        const __m256 t1 = _mm256_set1_ps(taps[1]);
        for (int i = 0; i < N; i++)
            a[i] = _mm256_add_ps(a[i], _mm256_mul_ps(t1, _mm256_loadu_ps(rows[1] + x + 8 * i)));
    }
    for (int k = 2; k < ntaps; k++) {
        const __m256 prev = _mm256_set1_ps(taps[k - 1]);
        t = _mm256_set1_ps(taps[k]);
        const float *r = rows[k] + x;
        for (int i = 0; i < N; i++) {
            const __m256 v = _mm256_loadu_ps(r + 8 * i);
            a[i] = _mm256_add_ps(a[i], _mm256_mul_ps(t, v));
            b[i] = _mm256_add_ps(b[i], _mm256_mul_ps(prev, v));
        }
    }
    if (ntaps > 1) {
        t = _mm256_set1_ps(taps[ntaps - 1]);
        const float *r = rows[ntaps] + x;
        for (int i = 0; i < N; i++)
            b[i] = _mm256_add_ps(b[i], _mm256_mul_ps(t, _mm256_loadu_ps(r + 8 * i)));
    }
    for (int i = 0; i < N; i++) {
        _mm256_storeu_ps(d0 + x + 8 * i, a[i]);
        _mm256_storeu_ps(d1 + x + 8 * i, b[i]);
    }
}

void vsum2_avx2(const float *const *rows, const float *taps, int ntaps, int width, float *d0, float *d1) {
    int x = 0;
    for (; x + 32 <= width; x += 32)
        vsum2_block<4>(rows, taps, ntaps, x, d0, d1);
    for (; x + 8 <= width; x += 8)
        vsum2_block<1>(rows, taps, ntaps, x, d0, d1);
    for (; x < width; x++) {
        float s0 = taps[0] * rows[0][x], s1 = taps[0] * rows[1][x];
        for (int k = 1; k < ntaps; k++) {
            s0 += taps[k] * rows[k][x];
            s1 += taps[k] * rows[k + 1][x];
        }
        d0[x] = s0;
        d1[x] = s1;
    }
}

template <class T>
void vsum_avx2(const T *const *rows, const float *taps, int ntaps, int width, float *dst) {
    int x = 0;
    for (; x + 32 <= width; x += 32)
        vsum_block<4>(rows, taps, ntaps, x, dst);
    for (; x + 8 <= width; x += 8)
        vsum_block<1>(rows, taps, ntaps, x, dst);
    for (; x < width; x++) {
        float s = taps[0] * float(rows[0][x]);
        for (int k = 1; k < ntaps; k++)
            s += taps[k] * float(rows[k][x]);
        dst[x] = s;
    }
}

void hsum_avx2(const float *src, const float *taps, int ntaps, int width, float *dst) {
    int x = 0;
    for (; x + 32 <= width; x += 32)
        hsum_block<4>(src, taps, ntaps, x, dst);
    for (; x + 8 <= width; x += 8)
        hsum_block<1>(src, taps, ntaps, x, dst);
    for (; x < width; x++) {
        float s = taps[0] * src[x];
        for (int k = 1; k < ntaps; k++)
            s += taps[k] * src[x + k];
        dst[x] = s;
    }
}

// min/max operand order matches the scalar `v < peak ? v : peak`, `v > 0 ? v : 0`.
inline __m256i to_int(__m256 v, __m256 gain, __m256 peak) {
    v = _mm256_add_ps(_mm256_mul_ps(v, gain), _mm256_set1_ps(0.5f));
    v = _mm256_max_ps(_mm256_min_ps(v, peak), _mm256_setzero_ps());
    return _mm256_cvttps_epi32(v);
}

template <class T>
void store_tail(const float *src, int x, int width, float gain, int peak, T *dst) {
    const float fpeak = float(peak);
    for (; x < width; x++) {
        float v = src[x] * gain + 0.5f;
        v = v < fpeak ? v : fpeak;
        v = v > 0.0f ? v : 0.0f;
        dst[x] = T(int(v));
    }
}

void store_u8_avx2(const float *src, int width, float gain, int peak, uint8_t *dst) {
    const __m256 g = _mm256_set1_ps(gain), p = _mm256_set1_ps(float(peak));
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    int x = 0;
    for (; x + 32 <= width; x += 32) {
        __m256i a = to_int(_mm256_loadu_ps(src + x), g, p), b = to_int(_mm256_loadu_ps(src + x + 8), g, p);
        __m256i c = to_int(_mm256_loadu_ps(src + x + 16), g, p), d = to_int(_mm256_loadu_ps(src + x + 24), g, p);
        __m256i packed = _mm256_packus_epi16(_mm256_packus_epi32(a, b), _mm256_packus_epi32(c, d));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + x), _mm256_permutevar8x32_epi32(packed, order));
    }
    store_tail(src, x, width, gain, peak, dst);
}

void store_u16_avx2(const float *src, int width, float gain, int peak, uint16_t *dst) {
    const __m256 g = _mm256_set1_ps(gain), p = _mm256_set1_ps(float(peak));
    int x = 0;
    for (; x + 16 <= width; x += 16) {
        __m256i a = to_int(_mm256_loadu_ps(src + x), g, p), b = to_int(_mm256_loadu_ps(src + x + 8), g, p);
        __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi32(a, b), 0xD8);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + x), packed);
    }
    store_tail(src, x, width, gain, peak, dst);
}

// Blur output straight from the horizontal sums (gain 1: x * 1 is x, so the
// multiply of store() is left out without changing a bit).
inline __m256i round_clamp(__m256 v, __m256 peak) {
    v = _mm256_add_ps(v, _mm256_set1_ps(0.5f));
    v = _mm256_max_ps(_mm256_min_ps(v, peak), _mm256_setzero_ps());
    return _mm256_cvttps_epi32(v);
}

// Horizontal taps over 32 consecutive outputs, in four accumulators
// (multiply then add, no fused rounding, like the scalar kernel).
inline void hsum32(const float *src, const float *taps, int ntaps, __m256 acc[4]) {
    const __m256 t0 = _mm256_set1_ps(taps[0]);
    for (int i = 0; i < 4; i++)
        acc[i] = _mm256_mul_ps(t0, _mm256_loadu_ps(src + 8 * i));
    for (int k = 1; k < ntaps; k++) {
        const __m256 t = _mm256_set1_ps(taps[k]);
        for (int i = 0; i < 4; i++)
            acc[i] = _mm256_add_ps(acc[i], _mm256_mul_ps(t, _mm256_loadu_ps(src + k + 8 * i)));
    }
}

void hsum_store_u8_avx2(const float *src, const float *taps, int ntaps, int width, int peak, uint8_t *dst) {
    const __m256 p = _mm256_set1_ps(float(peak));
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    float tmp[32];
    int x = 0;
    for (; x + 32 <= width; x += 32) {
        __m256 acc[4];
        hsum32(src + x, taps, ntaps, acc);
        __m256i ab = _mm256_packus_epi32(round_clamp(acc[0], p), round_clamp(acc[1], p));
        __m256i cd = _mm256_packus_epi32(round_clamp(acc[2], p), round_clamp(acc[3], p));
        __m256i packed = _mm256_permutevar8x32_epi32(_mm256_packus_epi16(ab, cd), order);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + x), packed);
    }
    if (x < width) {
        const int n = width - x;
        hsum_avx2(src + x, taps, ntaps, n, tmp);
        store_tail(tmp, 0, n, 1.0f, peak, dst + x);
    }
}

void hsum_store_u16_avx2(const float *src, const float *taps, int ntaps, int width, int peak, uint16_t *dst) {
    const __m256 p = _mm256_set1_ps(float(peak));
    float tmp[32];
    int x = 0;
    for (; x + 32 <= width; x += 32) {
        __m256 acc[4];
        hsum32(src + x, taps, ntaps, acc);
        for (int i = 0; i < 4; i += 2) {
            __m256i packed = _mm256_packus_epi32(round_clamp(acc[i], p), round_clamp(acc[i + 1], p));
            _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + x + 8 * i), _mm256_permute4x64_epi64(packed, 0xD8));
        }
    }
    if (x < width) {
        const int n = width - x;
        hsum_avx2(src + x, taps, ntaps, n, tmp);
        store_tail(tmp, 0, n, 1.0f, peak, dst + x);
    }
}

// direction_bin on 4 lanes of double: the same exact products and comparisons.
// Returns the lane masks as bits: vertical, diagonal, and diagonal down-right
// (the bin is diagonal + 2 * (vertical | down-right); vertical and diagonal exclude each other).
inline void direction_bits(const float *gx, const float *gy, int &v, int &d, int &dr) {
    const __m256d sign = _mm256_set1_pd(-0.0), two = _mm256_set1_pd(2.0), zero = _mm256_setzero_pd();
    const __m256d fx = _mm256_cvtps_pd(_mm_loadu_ps(gx)), fy = _mm256_cvtps_pd(_mm_loadu_ps(gy));
    const __m256d a = _mm256_andnot_pd(sign, fx), b = _mm256_andnot_pd(sign, fy);
    const __m256d aa = _mm256_mul_pd(a, a), a2 = _mm256_mul_pd(two, a);
    const int h = _mm256_movemask_pd(_mm256_cmp_pd(_mm256_mul_pd(b, _mm256_add_pd(b, a2)), aa, _CMP_LT_OQ));
    v = _mm256_movemask_pd(_mm256_cmp_pd(_mm256_mul_pd(b, _mm256_sub_pd(b, a2)), aa, _CMP_GT_OQ));
    const int nz = _mm256_movemask_pd(_mm256_cmp_pd(a, zero, _CMP_NEQ_UQ));
    const int px = _mm256_movemask_pd(_mm256_cmp_pd(fx, zero, _CMP_GT_OQ));
    const int py = _mm256_movemask_pd(_mm256_cmp_pd(fy, zero, _CMP_GT_OQ));
    d = ~h & ~v & nz & 15;
    dr = d & (px ^ py);
}

void directions_avx2(const float *gx, const float *gy, int width, uint8_t *dst) {
    constexpr uint64_t kLowBits = 0x0101010101010101ull;
    int x = 0;
    for (; x + 8 <= width; x += 8) {
        int v0, d0, r0, v1, d1, r1;
        direction_bits(gx + x, gy + x, v0, d0, r0);
        direction_bits(gx + x + 4, gy + x + 4, v1, d1, r1);
        // one bit per lane spread to one byte per lane
        const uint64_t d = _pdep_u64(uint64_t(d0 | d1 << 4), kLowBits);
        const uint64_t two = _pdep_u64(uint64_t((v0 | r0) | (v1 | r1) << 4), kLowBits);
        const uint64_t bins = d | two << 1;
        std::memcpy(dst + x, &bins, 8);
    }
    for (; x < width; x++)
        dst[x] = uint8_t(direction_bin(gx[x], gy[x]));
}

// suppress_c on 8 lanes: the four neighbour maxima, the one of the pixel's bin
// picked by blends, then the class. Float max with the operands swapped keeps
// std::max's answer (the first argument) when one is NaN.
inline __m256i suppress8(const float *gr, const float *up, const float *dn, const uint8_t *dr, __m256 tl, __m256 th) {
    auto mx = [](const float *a, const float *b) { return _mm256_max_ps(_mm256_loadu_ps(b), _mm256_loadu_ps(a)); };
    const __m256 v = _mm256_loadu_ps(gr);
    const __m256 m0 = mx(gr - 1, gr + 1), m1 = mx(up + 1, dn - 1), m2 = mx(up, dn), m3 = mx(up - 1, dn + 1);
    const __m256i d = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(dr)));
    const __m256i bit0 = _mm256_slli_epi32(d, 31), bit1 = _mm256_slli_epi32(d, 30);
    // blendv picks by the sign bit: bit 0 of the bin chooses within each pair, bit 1 between pairs
    const __m256 lo = _mm256_blendv_ps(m0, m1, _mm256_castsi256_ps(bit0));
    const __m256 hi = _mm256_blendv_ps(m2, m3, _mm256_castsi256_ps(bit0));
    const __m256 m = _mm256_blendv_ps(lo, hi, _mm256_castsi256_ps(bit1));
    const __m256i keep = _mm256_castps_si256(_mm256_cmp_ps(v, m, _CMP_GE_OQ));
    const __m256i ge_l = _mm256_castps_si256(_mm256_cmp_ps(v, tl, _CMP_GE_OQ));
    const __m256i ge_h = _mm256_castps_si256(_mm256_cmp_ps(v, th, _CMP_GE_OQ));
    // each mask is -1 where true: level = -(ge_l + ge_h)
    return _mm256_and_si256(_mm256_sub_epi32(_mm256_setzero_si256(), _mm256_add_epi32(ge_l, ge_h)), keep);
}

void suppress_avx2(const float *gr, const float *up, const float *dn, const uint8_t *dr, int w, float t_l, float t_h,
                   uint8_t *cr) {
    const __m256 tl = _mm256_set1_ps(t_l), th = _mm256_set1_ps(t_h);
    int x = 0;
    for (; x + 32 <= w; x += 32) {
        __m256i c[4];
        for (int i = 0; i < 4; i++)
            c[i] = suppress8(gr + x + 8 * i, up + x + 8 * i, dn + x + 8 * i, dr + x + 8 * i, tl, th);
        const __m256i p01 = _mm256_packs_epi32(c[0], c[1]), p23 = _mm256_packs_epi32(c[2], c[3]);
        const __m256i p = _mm256_permutevar8x32_epi32(_mm256_packs_epi16(p01, p23),
                                                      _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(cr + x), p);
    }
    for (; x + 8 <= w; x += 8) {
        const __m256i c = suppress8(gr + x, up + x, dn + x, dr + x, tl, th);
        const __m128i p = _mm_packs_epi32(_mm256_castsi256_si128(c), _mm256_extracti128_si256(c, 1));
        _mm_storel_epi64(reinterpret_cast<__m128i *>(cr + x), _mm_packs_epi16(p, p));
    }
    if (x < w)
        row_kernels_c().suppress(gr + x, up + x, dn + x, dr + x, w - x, t_l, t_h, cr + x);
}

const RowKernels kAvx2 = {
    vsum_avx2<uint8_t>, vsum_avx2<uint16_t>, vsum_avx2<float>, vsum2_avx2, hsum_avx2, hsum_store_u8_avx2,
    hsum_store_u16_avx2, directions_avx2, store_u8_avx2, store_u16_avx2, gradient_any, suppress_avx2,
};

} // namespace

const RowKernels *row_kernels_avx2() { return &kAvx2; }

} // namespace orvo::tcanny

#else

namespace orvo::tcanny {
const RowKernels *row_kernels_avx2() { return nullptr; }
} // namespace orvo::tcanny

#endif
