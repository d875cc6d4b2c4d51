// AVX2 row passes. Same operation order per sample as resample_c.cpp (the
// kernels library is built with -ffp-contract=off, so nothing is fused).
#include "kernel.h"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#include <algorithm>
#include <cmath>

namespace fmtc {

namespace {

inline __m256 load8(const uint8_t *p) {
    return _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(p))));
}
inline __m256 load8(const uint16_t *p) {
    return _mm256_cvtepi32_ps(_mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p))));
}
inline __m256 load8(const float *p) { return _mm256_loadu_ps(p); }

} // namespace

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
    for (; x < width; x++) {
        float v = std::min(std::max(src[x], 0.f), 65535.f);
        dst[x] = uint16_t(std::nearbyint(v));
    }
}

template void filter_v_avx2<uint8_t>(const uint8_t *const *, int, const float *, float, float *, int);
template void filter_v_avx2<uint16_t>(const uint16_t *const *, int, const float *, float, float *, int);
template void filter_v_avx2<float>(const float *const *, int, const float *, float, float *, int);
template void to_float_row_avx2<uint8_t>(const uint8_t *, float *, int);
template void to_float_row_avx2<uint16_t>(const uint16_t *, float *, int);
template void to_float_row_avx2<float>(const float *, float *, int);

} // namespace fmtc

#endif
