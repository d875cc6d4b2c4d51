// AVX2 row kernel of the deband: eight pixels per step, references fetched with
// 32-bit gathers. Same arithmetic as deband_row in kernel_c.cpp.
#include "kernel.h"

#include <immintrin.h>

namespace f3kdb {

namespace {

// Eight table entries (a in the low byte, b in the high byte) as 32-bit lanes.
inline __m256i load_entries(const RefOffset *tab_row, int col, int ssw) {
    if (ssw == 0)
        return _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(tab_row + col)));
    if (ssw == 1)
        return _mm256_and_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(tab_row + 2 * col)),
                                _mm256_set1_epi32(0xFFFF));
    // Entry (col + i) << ssw plus its neighbour, which exists because ssw >= 2.
    const __m256i idx = _mm256_sll_epi32(_mm256_add_epi32(_mm256_set1_epi32(col), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7)),
                                         _mm_cvtsi32_si128(ssw));
    return _mm256_and_si256(_mm256_i32gather_epi32(reinterpret_cast<const int *>(tab_row), idx, 2),
                            _mm256_set1_epi32(0xFFFF));
}

template <class Tin>
inline __m256i fetch(const Tin *s_row, __m256i idx, __m128i shift) {
    const __m256i mask = _mm256_set1_epi32(sizeof(Tin) == 1 ? 0xFF : 0xFFFF);
    __m256i v = _mm256_i32gather_epi32(reinterpret_cast<const int *>(s_row), idx, int(sizeof(Tin)));
    return _mm256_sll_epi32(_mm256_and_si256(v, mask), shift);
}

template <class Tin>
inline __m256i load_pixels(const Tin *p, __m128i shift) {
    __m256i v;
    if (sizeof(Tin) == 1)
        v = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(p)));
    else
        v = _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p)));
    return _mm256_sll_epi32(v, shift);
}

inline __m256i avg2(__m256i a, __m256i b) {
    return _mm256_srai_epi32(_mm256_add_epi32(_mm256_add_epi32(a, b), _mm256_set1_epi32(1)), 1);
}

// |q - s| < T for every lane, as a mask.
inline __m256i close(__m256i q, __m256i s, __m256i T) { return _mm256_cmpgt_epi32(T, _mm256_abs_epi32(_mm256_sub_epi32(q, s))); }

template <class Tin, int Mode, bool BlurFirst>
int row_avx2(const Tin *s_row, ptrdiff_t stride, const RefOffset *tab_row, const PlaneParams &p, int32_t *out) {
    const __m128i shift = _mm_cvtsi32_si128(16 - p.in_depth);
    const __m128i sw = _mm_cvtsi32_si128(p.ssw), sh = _mm_cvtsi32_si128(p.ssh);
    const __m256i vstride = _mm256_set1_epi32(int(stride));
    const __m256i T = _mm256_set1_epi32(p.threshold);
    const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    const __m256i zero = _mm256_setzero_si256();
    const int n = p.width & ~7;
    for (int col = 0; col < n; col += 8) {
        const __m256i e = load_entries(tab_row, col, p.ssw);
        const __m256i a = _mm256_and_si256(e, _mm256_set1_epi32(0xFF));
        const __m256i b = _mm256_srli_epi32(e, 8);
        const __m256i vcol = _mm256_add_epi32(_mm256_set1_epi32(col), lanes);
        const __m256i s = load_pixels(s_row + col, shift);
        __m256i avg, banded;
        if (Mode == 1) {
            const __m256i dy = _mm256_mullo_epi32(_mm256_srl_epi32(a, sh), vstride);
            const __m256i q1 = fetch(s_row, _mm256_add_epi32(vcol, dy), shift);
            const __m256i q2 = fetch(s_row, _mm256_sub_epi32(vcol, dy), shift);
            avg = avg2(q1, q2);
            banded = BlurFirst ? close(avg, s, T) : _mm256_and_si256(close(q1, s, T), close(q2, s, T));
        } else {
            const __m256i ax = _mm256_srl_epi32(a, sw), bx = _mm256_srl_epi32(b, sw);
            const __m256i ay = _mm256_mullo_epi32(_mm256_srl_epi32(a, sh), vstride);
            const __m256i by = _mm256_mullo_epi32(_mm256_srl_epi32(b, sh), vstride);
            const __m256i q1 = fetch(s_row, _mm256_add_epi32(_mm256_add_epi32(vcol, by), ax), shift);
            const __m256i q2 = fetch(s_row, _mm256_add_epi32(_mm256_sub_epi32(vcol, ay), bx), shift);
            const __m256i q3 = fetch(s_row, _mm256_sub_epi32(_mm256_sub_epi32(vcol, by), ax), shift);
            const __m256i q4 = fetch(s_row, _mm256_sub_epi32(_mm256_add_epi32(vcol, ay), bx), shift);
            __m256i m1 = avg2(q1, q2);
            m1 = _mm256_add_epi32(m1, _mm256_cmpgt_epi32(m1, zero)); // -1 where positive
            avg = avg2(m1, avg2(q3, q4));
            if (BlurFirst)
                banded = close(avg, s, T);
            else
                banded = _mm256_and_si256(_mm256_and_si256(close(q1, s, T), close(q2, s, T)),
                                          _mm256_and_si256(close(q3, s, T), close(q4, s, T)));
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + col), _mm256_blendv_epi8(s, avg, banded));
    }
    return n;
}

template <class Tin>
int row_dispatch(const Tin *s_row, ptrdiff_t stride, const RefOffset *tab_row, const PlaneParams &p, int32_t *out) {
    if (p.sample_mode == 1)
        return p.blur_first ? row_avx2<Tin, 1, true>(s_row, stride, tab_row, p, out)
                            : row_avx2<Tin, 1, false>(s_row, stride, tab_row, p, out);
    return p.blur_first ? row_avx2<Tin, 2, true>(s_row, stride, tab_row, p, out)
                        : row_avx2<Tin, 2, false>(s_row, stride, tab_row, p, out);
}

} // namespace

int deband_row_u8_avx2(const uint8_t *s_row, ptrdiff_t stride, const RefOffset *tab_row, const PlaneParams &p,
                       int32_t *out) {
    return row_dispatch(s_row, stride, tab_row, p, out);
}

int deband_row_u16_avx2(const uint16_t *s_row, ptrdiff_t stride, const RefOffset *tab_row, const PlaneParams &p,
                        int32_t *out) {
    return row_dispatch(s_row, stride, tab_row, p, out);
}

int finish_row_u16_avx2(const int32_t *v, const int16_t *grain, uint16_t *dst, int width, int32_t lo, int32_t hi) {
    const __m256i vlo = _mm256_set1_epi32(lo), vhi = _mm256_set1_epi32(hi);
    const int n = width & ~15;
    for (int c = 0; c < n; c += 16) {
        __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(v + c));
        __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(v + c + 8));
        if (grain) {
            const __m256i g = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(grain + c));
            a = _mm256_add_epi32(a, _mm256_cvtepi16_epi32(_mm256_castsi256_si128(g)));
            b = _mm256_add_epi32(b, _mm256_cvtepi16_epi32(_mm256_extracti128_si256(g, 1)));
        }
        a = _mm256_min_epi32(_mm256_max_epi32(a, vlo), vhi);
        b = _mm256_min_epi32(_mm256_max_epi32(b, vlo), vhi);
        // packus works per 128-bit half; the permute puts the halves back in order.
        const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi32(a, b), 0xD8);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + c), packed);
    }
    return n;
}

} // namespace f3kdb
