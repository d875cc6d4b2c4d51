// AVX2 form of the warp: the bilinear reads of eight pixels at a time with
// gathers. Same results as warp_c; positions come from the shared row loop.
#include "kernel.h"
#include "warp_impl.h"

#include <immintrin.h>

#include <climits>
#include <cstring>

namespace warp {
namespace {

// Each gather reads the 4 bytes that end at the wanted sample, so it never
// reads past the plane; it would read before it for the first samples of the
// plane, and groups touching those fall back to the scalar reads.
template <class T>
inline __m256i gather(const char *base, __m256i idx) {
    constexpr int kShift = 32 - 8 * int(sizeof(T));
    return _mm256_srli_epi32(_mm256_i32gather_epi32(reinterpret_cast<const int *>(base), idx, int(sizeof(T))),
                             kShift);
}

inline __m256i lerp7(__m256i a, __m256i b, __m256i w) {
    const __m256i full = _mm256_set1_epi32(128), half = _mm256_set1_epi32(64);
    __m256i s = _mm256_add_epi32(_mm256_mullo_epi32(a, _mm256_sub_epi32(full, w)), _mm256_mullo_epi32(b, w));
    return _mm256_srai_epi32(_mm256_add_epi32(s, half), 7);
}

template <class T>
inline void store8(T *d, __m256i v) {
    __m256i w = _mm256_packus_epi32(v, v); // 16 bit: 0-3 0-3 | 4-7 4-7
    if constexpr (sizeof(T) == 1) {
        w = _mm256_packus_epi16(w, w);
        int lo = _mm_cvtsi128_si32(_mm256_castsi256_si128(w)), hi = _mm_cvtsi128_si32(_mm256_extracti128_si256(w, 1));
        std::memcpy(d, &lo, 4);
        std::memcpy(d + 4, &hi, 4);
    } else {
        _mm_storel_epi64(reinterpret_cast<__m128i *>(d), _mm256_castsi256_si128(w));
        _mm_storel_epi64(reinterpret_cast<__m128i *>(d + 4), _mm256_extracti128_si256(w, 1));
    }
}

template <class T>
void bilinear_avx2(const T *src, ptrdiff_t stride, const WarpChunk &c, int n, T *d) {
    const char *base = reinterpret_cast<const char *>(src) - (4 - int(sizeof(T)));
    const int min_index = 4 / int(sizeof(T)) - 1; // first sample a 4-byte read can end at
    const __m256i vstride = _mm256_set1_epi32(int(stride));
    const __m256i too_low = _mm256_set1_epi32(min_index);
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        auto ld = [&](const int *p) { return _mm256_load_si256(reinterpret_cast<const __m256i *>(p + i)); };
        __m256i c0 = ld(c.col0), c1 = ld(c.col1);
        __m256i b0 = _mm256_mullo_epi32(ld(c.row0), vstride), b1 = _mm256_mullo_epi32(ld(c.row1), vstride);
        __m256i i00 = _mm256_add_epi32(b0, c0);
        if (_mm256_movemask_epi8(_mm256_cmpgt_epi32(too_low, i00))) {
            bilinear_c(src, stride, c, i, i + 8, d);
            continue;
        }
        __m256i fx = ld(c.wx), fy = ld(c.wy);
        __m256i r0 = lerp7(gather<T>(base, i00), gather<T>(base, _mm256_add_epi32(b0, c1)), fx);
        __m256i r1 = lerp7(gather<T>(base, _mm256_add_epi32(b1, c0)), gather<T>(base, _mm256_add_epi32(b1, c1)), fx);
        store8(d + i, lerp7(r0, r1, fy));
    }
    bilinear_c(src, stride, c, i, n, d);
}

} // namespace

template <class T>
void warp_avx2(const T *src, ptrdiff_t src_stride, const T *mask, ptrdiff_t mask_stride, T *dst,
               ptrdiff_t dst_stride, int width, int height, int depth, int bits) {
    // Gather indices are 32-bit.
    if (int64_t(src_stride) * height > INT_MAX) {
        warp_c<T>(src, src_stride, mask, mask_stride, dst, dst_stride, width, height, depth, bits);
        return;
    }
    warp_rows<T>(mask, mask_stride, dst, dst_stride, width, height, depth, bits,
                 [&](const WarpChunk &c, int n, T *d) { bilinear_avx2(src, src_stride, c, n, d); });
}

template void warp_avx2<uint8_t>(const uint8_t *, ptrdiff_t, const uint8_t *, ptrdiff_t, uint8_t *, ptrdiff_t, int,
                                 int, int, int);
template void warp_avx2<uint16_t>(const uint16_t *, ptrdiff_t, const uint16_t *, ptrdiff_t, uint16_t *, ptrdiff_t,
                                  int, int, int, int);

} // namespace warp
