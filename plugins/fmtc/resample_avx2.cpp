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

// Eight rows side by side: transposed so that one vector holds the same
// column of all rows, every tap is a broadcast weight times a plain load.
void filter_h8_avx2(const float *const *src, float *const *dst, const FilterTable &t, float *scratch) {
    const int S = t.src_size, D = t.dst_size, K = t.taps;
    float *in = scratch;
    float *out = scratch + size_t(S) * 8 + 64;
    __m256 r[8];
    int x = 0;
    for (; x + 8 <= S; x += 8) {
        for (int i = 0; i < 8; i++)
            r[i] = _mm256_loadu_ps(src[i] + x);
        transpose8(r);
        for (int i = 0; i < 8; i++)
            _mm256_storeu_ps(in + size_t(x + i) * 8, r[i]);
    }
    for (; x < S; x++)
        for (int i = 0; i < 8; i++)
            in[size_t(x) * 8 + i] = src[i][x];

    const __m256 add = _mm256_set1_ps(t.add);
    int j = 0;
    for (; j + 4 <= D; j += 4) {
        const float *x0 = in + size_t(t.start[j]) * 8, *x1 = in + size_t(t.start[j + 1]) * 8;
        const float *x2 = in + size_t(t.start[j + 2]) * 8, *x3 = in + size_t(t.start[j + 3]) * 8;
        const float *w0 = t.row(j), *w1 = t.row(j + 1), *w2 = t.row(j + 2), *w3 = t.row(j + 3);
        __m256 a0 = add, a1 = add, a2 = add, a3 = add;
        for (int k = 0; k < K; k++) {
            a0 = _mm256_add_ps(a0, _mm256_mul_ps(_mm256_loadu_ps(x0 + k * 8), _mm256_broadcast_ss(w0 + k)));
            a1 = _mm256_add_ps(a1, _mm256_mul_ps(_mm256_loadu_ps(x1 + k * 8), _mm256_broadcast_ss(w1 + k)));
            a2 = _mm256_add_ps(a2, _mm256_mul_ps(_mm256_loadu_ps(x2 + k * 8), _mm256_broadcast_ss(w2 + k)));
            a3 = _mm256_add_ps(a3, _mm256_mul_ps(_mm256_loadu_ps(x3 + k * 8), _mm256_broadcast_ss(w3 + k)));
        }
        _mm256_storeu_ps(out + size_t(j) * 8, a0);
        _mm256_storeu_ps(out + size_t(j + 1) * 8, a1);
        _mm256_storeu_ps(out + size_t(j + 2) * 8, a2);
        _mm256_storeu_ps(out + size_t(j + 3) * 8, a3);
    }
    for (; j < D; j++) {
        const float *x0 = in + size_t(t.start[j]) * 8, *w0 = t.row(j);
        __m256 a0 = add;
        for (int k = 0; k < K; k++)
            a0 = _mm256_add_ps(a0, _mm256_mul_ps(_mm256_loadu_ps(x0 + k * 8), _mm256_broadcast_ss(w0 + k)));
        _mm256_storeu_ps(out + size_t(j) * 8, a0);
    }

    j = 0;
    for (; j + 8 <= D; j += 8) {
        for (int i = 0; i < 8; i++)
            r[i] = _mm256_loadu_ps(out + size_t(j + i) * 8);
        transpose8(r);
        for (int i = 0; i < 8; i++)
            _mm256_storeu_ps(dst[i] + j, r[i]);
    }
    for (; j < D; j++)
        for (int i = 0; i < 8; i++)
            dst[i][j] = out[size_t(j) * 8 + i];
}

void filter_h_avx2(const float *src, float *dst, const FilterTable &t) {
    const int K = t.taps, D = t.dst_size;
    const __m256 add = _mm256_set1_ps(t.add);
    for (int j = 0; j < D; j += 8) {
        const __m256i idx = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(t.start.data() + j));
        const float *c = t.coef_blk.data() + size_t(j >> 3) * size_t(K) * 8;
        __m256 acc = add;
        for (int k = 0; k < K; k++) {
            __m256 x = _mm256_i32gather_ps(src + k, idx, 4);
            acc = _mm256_add_ps(acc, _mm256_mul_ps(x, _mm256_loadu_ps(c + k * 8)));
        }
        if (j + 8 <= D) {
            _mm256_storeu_ps(dst + j, acc);
        } else {
            alignas(32) float tmp[8];
            _mm256_store_ps(tmp, acc);
            for (int i = 0; i < D - j; i++)
                dst[j + i] = tmp[i];
        }
    }
}

template <class T>
void filter_v_avx2(const T *const *rows, int taps, const float *w, float add, float *dst, int width) {
    int x = 0;
    const __m256 vadd = _mm256_set1_ps(add);
    for (; x + 32 <= width; x += 32) {
        __m256 a0 = vadd, a1 = vadd, a2 = vadd, a3 = vadd;
        for (int k = 0; k < taps; k++) {
            const __m256 c = _mm256_broadcast_ss(w + k);
            const T *r = rows[k] + x;
            a0 = _mm256_add_ps(a0, _mm256_mul_ps(load8(r), c));
            a1 = _mm256_add_ps(a1, _mm256_mul_ps(load8(r + 8), c));
            a2 = _mm256_add_ps(a2, _mm256_mul_ps(load8(r + 16), c));
            a3 = _mm256_add_ps(a3, _mm256_mul_ps(load8(r + 24), c));
        }
        _mm256_storeu_ps(dst + x, a0);
        _mm256_storeu_ps(dst + x + 8, a1);
        _mm256_storeu_ps(dst + x + 16, a2);
        _mm256_storeu_ps(dst + x + 24, a3);
    }
    for (; x + 8 <= width; x += 8) {
        __m256 a0 = vadd;
        for (int k = 0; k < taps; k++)
            a0 = _mm256_add_ps(a0, _mm256_mul_ps(load8(rows[k] + x), _mm256_broadcast_ss(w + k)));
        _mm256_storeu_ps(dst + x, a0);
    }
    for (; x < width; x++) {
        float acc = add;
        for (int k = 0; k < taps; k++)
            acc += float(rows[k][x]) * w[k];
        dst[x] = acc;
    }
}

template <class T>
void to_float_row_avx2(const T *src, float *dst, int width) {
    int x = 0;
    for (; x + 8 <= width; x += 8)
        _mm256_storeu_ps(dst + x, load8(src + x));
    for (; x < width; x++)
        dst[x] = float(src[x]);
}

void store_u16_avx2(const float *src, uint16_t *dst, int width) {
    const __m256 lo = _mm256_setzero_ps(), hi = _mm256_set1_ps(65535.f);
    int x = 0;
    for (; x + 16 <= width; x += 16) {
        __m256 a = _mm256_min_ps(_mm256_max_ps(_mm256_loadu_ps(src + x), lo), hi);
        __m256 b = _mm256_min_ps(_mm256_max_ps(_mm256_loadu_ps(src + x + 8), lo), hi);
        __m256i p = _mm256_packus_epi32(_mm256_cvtps_epi32(a), _mm256_cvtps_epi32(b));
        p = _mm256_permute4x64_epi64(p, 0xD8);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + x), p);
    }
    for (; x < width; x++)
        dst[x] = store_u16_one(src[x]);
}

template void filter_v_avx2<uint8_t>(const uint8_t *const *, int, const float *, float, float *, int);
template void filter_v_avx2<uint16_t>(const uint16_t *const *, int, const float *, float, float *, int);
template void filter_v_avx2<float>(const float *const *, int, const float *, float, float *, int);
template void to_float_row_avx2<uint8_t>(const uint8_t *, float *, int);
template void to_float_row_avx2<uint16_t>(const uint16_t *, float *, int);
template void to_float_row_avx2<float>(const float *, float *, int);

} // namespace fmtc

#endif
