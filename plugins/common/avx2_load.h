// Eight samples widened to float lanes; include only from files built with AVX2.
#pragma once

#include <immintrin.h>

#include <cstdint>

namespace orvo::avx2 {

inline __m256 load8(const uint8_t *p) {
    return _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(p))));
}
inline __m256 load8(const uint16_t *p) {
    return _mm256_cvtepi32_ps(_mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p))));
}
inline __m256 load8(const float *p) { return _mm256_loadu_ps(p); }

} // namespace orvo::avx2
