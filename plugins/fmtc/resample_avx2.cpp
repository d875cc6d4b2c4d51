// AVX2 row passes. Same operation order per sample as resample_c.cpp (the
// kernels library is built with -ffp-contract=off, so nothing is fused).
#include "kernel.h"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#include "avx2_load.h"

#include <algorithm>
#include <cmath>

namespace fmtc {

namespace {

using orvo::avx2::load8;

inline void transpose8(__m256 r[8]) {
    __m256 t0 = _mm256_unpacklo_ps(r[0], r[1]), t1 = _mm256_unpackhi_ps(r[0], r[1]);
    __m256 t2 = _mm256_unpacklo_ps(r[2], r[3]), t3 = _mm256_unpackhi_ps(r[2], r[3]);
    __m256 t4 = _mm256_unpacklo_ps(r[4], r[5]), t5 = _mm256_unpackhi_ps(r[4], r[5]);
    __m256 t6 = _mm256_unpacklo_ps(r[6], r[7]), t7 = _mm256_unpackhi_ps(r[6], r[7]);
    __m256 u0 = _mm256_shuffle_ps(t0, t2, 0x44), u1 = _mm256_shuffle_ps(t0, t2, 0xEE);
    __m256 u2 = _mm256_shuffle_ps(t1, t3, 0x44), u3 = _mm256_shuffle_ps(t1, t3, 0xEE);
    __m256 u4 = _mm256_shuffle_ps(t4, t6, 0x44), u5 = _mm256_shuffle_ps(t4, t6, 0xEE);
    __m256 u6 = _mm256_shuffle_ps(t5, t7, 0x44), u7 = _mm256_shuffle_ps(t5, t7, 0xEE);
    r[0] = _mm256_permute2f128_ps(u0, u4, 0x20);
    r[1] = _mm256_permute2f128_ps(u1, u5, 0x20);
    r[2] = _mm256_permute2f128_ps(u2, u6, 0x20);
    r[3] = _mm256_permute2f128_ps(u3, u7, 0x20);
    r[4] = _mm256_permute2f128_ps(u0, u4, 0x31);
    r[5] = _mm256_permute2f128_ps(u1, u5, 0x31);
    r[6] = _mm256_permute2f128_ps(u2, u6, 0x31);
    r[7] = _mm256_permute2f128_ps(u3, u7, 0x31);
}

} // namespace

namespace {

inline void put8(float *dst, __m256 v) { _mm256_storeu_ps(dst, v); }
inline void put8(uint16_t *dst, __m256 v) {
    v = _mm256_min_ps(_mm256_max_ps(v, _mm256_setzero_ps()), _mm256_set1_ps(65535.f));
    const __m256i i = _mm256_cvtps_epi32(v);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(dst),
                     _mm_packus_epi32(_mm256_castsi256_si128(i), _mm256_extracti128_si256(i, 1)));
}

// Outputs j .. j + 7 of the eight rows (one vector per output), transposed
// back into rows; the last block stops at D.
template <class Tout>
inline void store_block(__m256 r[8], Tout *const *dst, int j, int D) {
    transpose8(r);
    if (j + 8 <= D) {
        for (int i = 0; i < 8; i++)
            put8(dst[i] + j, r[i]);
    } else {
        alignas(32) Tout tmp[8];
        for (int i = 0; i < 8; i++) {
            put8(tmp, r[i]);
            for (int o = 0; o < D - j; o++)
                dst[i][j + o] = tmp[o];
        }
    }
}

} // namespace

// Eight rows side by side: transposed so that one vector holds the same
// column of all rows, every tap is a broadcast weight times a plain load.
// Eight outputs are in flight (the add latency bounds fewer); their block is
// transposed back in registers and stored straight into the rows.
template <class Tin, class Tout>
void filter_h8_avx2(const Tin *const *src, Tout *const *dst, const FilterTable &t, float *scratch) {
    const int S = t.src_size, D = t.dst_size, K = t.taps;
    float *in = scratch;
    __m256 r[8];
    int x = 0;
    for (; x + 8 <= S; x += 8) {
        for (int i = 0; i < 8; i++)
            r[i] = load8(src[i] + x);
        transpose8(r);
        for (int i = 0; i < 8; i++)
            _mm256_storeu_ps(in + size_t(x + i) * 8, r[i]);
    }
    for (; x < S; x++)
        for (int i = 0; i < 8; i++)
            in[size_t(x) * 8 + i] = float(src[i][x]);

    const __m256 add = _mm256_set1_ps(t.add);
    // The table is padded to a multiple of 8 outputs (weight 0 on sample 0).
    for (int j = 0; j < D; j += 8) {
        const float *xs[8];
        // Accumulators in a local array that never escapes: r[] does (it is
        // stored through), and the compiler then writes it back every tap.
        __m256 acc[8];
        for (int o = 0; o < 8; o++) {
            xs[o] = in + size_t(t.start[j + o]) * 8;
            acc[o] = add;
        }
        // Weights of the eight outputs for one tap lie side by side.
        const float *w = t.coef_blk.data() + size_t(j >> 3) * size_t(K) * 8;
        for (int k = 0; k < K; k++, w += 8)
            for (int o = 0; o < 8; o++)
                acc[o] = _mm256_add_ps(acc[o], _mm256_mul_ps(_mm256_loadu_ps(xs[o] + k * 8), _mm256_broadcast_ss(w + o)));
        for (int o = 0; o < 8; o++)
            r[o] = acc[o];
        store_block(r, dst, j, D);
    }
}

namespace {

// Round half to even, clamp to [0, 65535]: 16 floats to 16 samples.
inline __m256i pack_u16(__m256 a, __m256 b) {
    const __m256 lo = _mm256_setzero_ps(), hi = _mm256_set1_ps(65535.f);
    a = _mm256_min_ps(_mm256_max_ps(a, lo), hi);
    b = _mm256_min_ps(_mm256_max_ps(b, lo), hi);
    return _mm256_permute4x64_epi64(_mm256_packus_epi32(_mm256_cvtps_epi32(a), _mm256_cvtps_epi32(b)), 0xD8);
}

inline void put(float *dst, __m256 a, __m256 b) {
    _mm256_storeu_ps(dst, a);
    _mm256_storeu_ps(dst + 8, b);
}
inline void put(uint16_t *dst, __m256 a, __m256 b) {
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst), pack_u16(a, b));
}
inline void put_one(float *dst, float v) { *dst = v; }
inline void put_one(uint16_t *dst, float v) { *dst = store_u16_one(v); }

// Eight accumulators: the add latency, not the loads, bounds fewer.
template <class T, class Tout>
void vpass(const T *const *rows, int taps, const float *w, float add, Tout *dst, int width) {
    int x = 0;
    const __m256 vadd = _mm256_set1_ps(add);
    for (; x + 64 <= width; x += 64) {
        __m256 a[8];
        for (int i = 0; i < 8; i++)
            a[i] = vadd;
        for (int k = 0; k < taps; k++) {
            const __m256 c = _mm256_broadcast_ss(w + k);
            const T *r = rows[k] + x;
            for (int i = 0; i < 8; i++)
                a[i] = _mm256_add_ps(a[i], _mm256_mul_ps(load8(r + 8 * i), c));
        }
        for (int i = 0; i < 8; i += 2)
            put(dst + x + 8 * i, a[i], a[i + 1]);
    }
    for (; x + 16 <= width; x += 16) {
        __m256 a0 = vadd, a1 = vadd;
        for (int k = 0; k < taps; k++) {
            const __m256 c = _mm256_broadcast_ss(w + k);
            a0 = _mm256_add_ps(a0, _mm256_mul_ps(load8(rows[k] + x), c));
            a1 = _mm256_add_ps(a1, _mm256_mul_ps(load8(rows[k] + x + 8), c));
        }
        put(dst + x, a0, a1);
    }
    for (; x < width; x++) {
        float acc = add;
        for (int k = 0; k < taps; k++)
            acc += float(rows[k][x]) * w[k];
        put_one(dst + x, acc);
    }
}

} // namespace

// Two output rows whose windows start d rows apart: row a reads rows[0, taps),
// row b rows[d, d + taps). Each union row is loaded once for both; every
// output still sums its own taps in order, so the bits equal two vpass calls.
template <class T, class Tout>
void filter_v2_avx2(const T *const *rows, int taps, int d, const float *wa, const float *wb, float add, Tout *da,
                    Tout *db, int width) {
    const int n = taps + d, lo = std::min(d, taps), hi = std::max(d, taps);
    const __m256 vadd = _mm256_set1_ps(add);
    int x = 0;
    for (; x + 32 <= width; x += 32) {
        __m256 a0 = vadd, a1 = vadd, a2 = vadd, a3 = vadd, b0 = vadd, b1 = vadd, b2 = vadd, b3 = vadd;
        __m256 x0, x1, x2, x3;
        auto get = [&](int u) {
            const T *r = rows[u] + x;
            x0 = load8(r), x1 = load8(r + 8), x2 = load8(r + 16), x3 = load8(r + 24);
        };
        auto to_a = [&](int u) {
            const __m256 c = _mm256_broadcast_ss(wa + u);
            a0 = _mm256_add_ps(a0, _mm256_mul_ps(x0, c));
            a1 = _mm256_add_ps(a1, _mm256_mul_ps(x1, c));
            a2 = _mm256_add_ps(a2, _mm256_mul_ps(x2, c));
            a3 = _mm256_add_ps(a3, _mm256_mul_ps(x3, c));
        };
        auto to_b = [&](int u) {
            const __m256 c = _mm256_broadcast_ss(wb + u - d);
            b0 = _mm256_add_ps(b0, _mm256_mul_ps(x0, c));
            b1 = _mm256_add_ps(b1, _mm256_mul_ps(x1, c));
            b2 = _mm256_add_ps(b2, _mm256_mul_ps(x2, c));
            b3 = _mm256_add_ps(b3, _mm256_mul_ps(x3, c));
        };
        // Runs without per-row branches: a only, both, b only.
        for (int u = 0; u < lo; u++)
            get(u), to_a(u);
        for (int u = d; u < taps; u++)
            get(u), to_a(u), to_b(u);
        for (int u = hi; u < n; u++)
            get(u), to_b(u);
        put(da + x, a0, a1);
        put(da + x + 16, a2, a3);
        put(db + x, b0, b1);
        put(db + x + 16, b2, b3);
    }
    if (x < width) {
        const T *ra[kPairRows], *rb[kPairRows];
        for (int k = 0; k < taps; k++) {
            ra[k] = rows[k] + x;
            rb[k] = rows[k + d] + x;
        }
        vpass(ra, taps, wa, add, da + x, width - x);
        vpass(rb, taps, wb, add, db + x, width - x);
    }
}

template <class T>
void filter_v_avx2(const T *const *rows, int taps, const float *w, float add, float *dst, int width) {
    vpass(rows, taps, w, add, dst, width);
}

template <class T>
void filter_v_u16_avx2(const T *const *rows, int taps, const float *w, float add, uint16_t *dst, int width,
                       float *) {
    vpass(rows, taps, w, add, dst, width);
}

template <class Tin>
void shift_plane_u16_avx2(const Tin *src, ptrdiff_t src_stride, uint16_t *dst, ptrdiff_t dst_stride, int w, int h,
                          int shift) {
    const __m128i sh = _mm_cvtsi32_si128(shift);
    for (int y = 0; y < h; y++, src += src_stride, dst += dst_stride) {
        int x = 0;
        for (; x + 16 <= w; x += 16) {
            __m256i v;
            if constexpr (sizeof(Tin) == 1)
                v = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(src + x)));
            else
                v = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(src + x));
            _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + x), _mm256_sll_epi16(v, sh));
        }
        for (; x < w; x++)
            dst[x] = uint16_t(unsigned(src[x]) << shift);
    }
}

template void shift_plane_u16_avx2<uint8_t>(const uint8_t *, ptrdiff_t, uint16_t *, ptrdiff_t, int, int, int);
template void shift_plane_u16_avx2<uint16_t>(const uint16_t *, ptrdiff_t, uint16_t *, ptrdiff_t, int, int, int);

template void filter_v_avx2<uint8_t>(const uint8_t *const *, int, const float *, float, float *, int);
template void filter_v_avx2<uint16_t>(const uint16_t *const *, int, const float *, float, float *, int);
template void filter_v_avx2<float>(const float *const *, int, const float *, float, float *, int);
#define FMTC_H8(TI, TO) template void filter_h8_avx2<TI, TO>(const TI *const *, TO *const *, const FilterTable &, float *);
FMTC_PASS_TYPES(FMTC_H8)
#undef FMTC_H8
template void filter_v_u16_avx2<uint8_t>(const uint8_t *const *, int, const float *, float, uint16_t *, int, float *);
template void filter_v_u16_avx2<uint16_t>(const uint16_t *const *, int, const float *, float, uint16_t *, int,
                                          float *);
template void filter_v_u16_avx2<float>(const float *const *, int, const float *, float, uint16_t *, int, float *);

#define FMTC_V2(T, TO)                                                                                                \
    template void filter_v2_avx2<T, TO>(const T *const *, int, int, const float *, const float *, float, TO *, TO *, int);
FMTC_PASS_TYPES(FMTC_V2)
#undef FMTC_V2

} // namespace fmtc

#endif
