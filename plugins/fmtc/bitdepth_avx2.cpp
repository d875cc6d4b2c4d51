// AVX2 form of the plain integer depth reduction: min((v + half) >> shift, hi)
// on 16-bit storage, the same result as the scalar ordered() loop for round
// (no pattern, no noise) and fast modes.
#include "kernel.h"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#include <algorithm>

namespace fmtc {

namespace {

// A saturated add can only lose values whose result is clamped to hi anyway:
// 65535 >> shift is at least hi because hi < 2^(16 - shift).
inline __m256i reduce16(__m256i v, __m256i half, __m128i shift, __m256i hi) {
    return _mm256_min_epu16(_mm256_srl_epi16(_mm256_adds_epu16(v, half), shift), hi);
}

template <class Tout>
inline Tout reduce_one(uint16_t v, int half, int shift, int hi) {
    return Tout(std::min((int(v) + half) >> shift, hi));
}

} // namespace

template <class Tout>
void round_shift_plane_avx2(const uint16_t *src, ptrdiff_t ss, Tout *dst, ptrdiff_t ds, int w, int h, int shift,
                            int half, int hi) {
    const __m256i vhalf = _mm256_set1_epi16(int16_t(half)), vhi = _mm256_set1_epi16(int16_t(hi));
    const __m128i vshift = _mm_cvtsi32_si128(shift);
    for (int y = 0; y < h; y++, src += ss, dst += ds) {
        int x = 0;
        for (; x + 32 <= w; x += 32) {
            const __m256i a = reduce16(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(src + x)), vhalf, vshift, vhi);
            const __m256i b = reduce16(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(src + x + 16)), vhalf, vshift, vhi);
            if constexpr (sizeof(Tout) == 1) {
                const __m256i p = _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), 0xD8);
                _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + x), p);
            } else {
                _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + x), a);
                _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + x + 16), b);
            }
        }
        for (; x < w; x++)
            dst[x] = reduce_one<Tout>(src[x], half, shift, hi);
    }
}

template void round_shift_plane_avx2<uint8_t>(const uint16_t *, ptrdiff_t, uint8_t *, ptrdiff_t, int, int, int, int, int);
template void round_shift_plane_avx2<uint16_t>(const uint16_t *, ptrdiff_t, uint16_t *, ptrdiff_t, int, int, int, int,
                                               int);

} // namespace fmtc

#endif
