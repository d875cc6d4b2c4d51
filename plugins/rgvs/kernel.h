// RemoveGrain / Repair kernels: one plane at a time, no VapourSynth types.
//
// Border rule: rows 0 and h-1 and columns 0 and w-1 are copied from `src`
// (the clip being filtered), so planes narrower or shorter than 3 come back
// unchanged. Every other pixel is computed from original input values only.
// Modes 13-16 also copy the rows of the parity they do not filter.
// Strides are in samples. The same formulas hold for every integer depth
// from 8 to 16 bits (the 65535 key saturation of modes 6 and 8 is a fixed
// constant, not the format's peak); float planes use exact averages.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orvo::rgvs {

constexpr int kMaxMode = 24;

// `dst` must not overlap `src` or `rep`. 0 <= mode <= 24.
#define ORVO_RGVS_DECLARE(isa)                                                                                    \
    void remove_grain_##isa(const uint8_t *src, ptrdiff_t ss, uint8_t *dst, ptrdiff_t ds, int w, int h, int mode);  \
    void remove_grain_##isa(const uint16_t *src, ptrdiff_t ss, uint16_t *dst, ptrdiff_t ds, int w, int h,          \
                            int mode);                                                                              \
    void remove_grain_##isa(const float *src, ptrdiff_t ss, float *dst, ptrdiff_t ds, int w, int h, int mode);      \
    void repair_##isa(const uint8_t *src, ptrdiff_t ss, const uint8_t *rep, ptrdiff_t rs, uint8_t *dst,             \
                      ptrdiff_t ds, int w, int h, int mode);                                                        \
    void repair_##isa(const uint16_t *src, ptrdiff_t ss, const uint16_t *rep, ptrdiff_t rs, uint16_t *dst,          \
                      ptrdiff_t ds, int w, int h, int mode);                                                        \
    void repair_##isa(const float *src, ptrdiff_t ss, const float *rep, ptrdiff_t rs, float *dst, ptrdiff_t ds,      \
                      int w, int h, int mode);

// Baseline build (the reference behaviour).
ORVO_RGVS_DECLARE(c)
// The same formulas compiled for AVX2; call only when the CPU has it.
ORVO_RGVS_DECLARE(avx2)
enum class Isa { c, avx2 };
// The widest of the builds above this CPU runs.
Isa best_isa();

#undef ORVO_RGVS_DECLARE

} // namespace orvo::rgvs
