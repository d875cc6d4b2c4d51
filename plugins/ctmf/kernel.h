// Median filter kernels: one plane, no VapourSynth types.
//
// Every output pixel is the median of the (2r+1) x (2r+1) window around it,
// with coordinates clamped into the plane (the edge sample repeats at every
// radius), so a constant plane stays constant and the result is always one
// of the window's samples. Works for any plane size >= 1x1.
//   radius 1: median of nine from sorted column triples, in registers;
//   radius 2, 3: a selection network (113 / 319 comparators) over whole rows;
//                (AVX2, integer radius 2: sorted columns, then 61 comparators per window);
//   radius >= 4: a sliding histogram with an occupancy bitmap, walked in a snake (integer),
//                a per-pixel selection (float, slow).
#pragma once

#include <cstddef>
#include <cstdint>

namespace orvo::ctmf {

constexpr int kMaxRadius = 127;

// `bits` is the sample depth (8-16) of integer planes; 1 <= radius <= 127.
// Samples above 2^bits - 1 are safe: radius >= 4 counts them as 2^bits - 1,
// smaller radii compare them as they are.
// Strides are in samples; `dst` must not overlap `src`. May throw std::bad_alloc.
#define ORVO_CTMF_DECLARE(isa)                                                                                    \
    void median_##isa(const uint8_t *src, ptrdiff_t ss, uint8_t *dst, ptrdiff_t ds, int w, int h, int radius,      \
                      int bits);                                                                                   \
    void median_##isa(const uint16_t *src, ptrdiff_t ss, uint16_t *dst, ptrdiff_t ds, int w, int h, int radius,    \
                      int bits);                                                                                   \
    void median_##isa(const float *src, ptrdiff_t ss, float *dst, ptrdiff_t ds, int w, int h, int radius);

// Baseline build (the reference behaviour).
ORVO_CTMF_DECLARE(c)
// Same code compiled with AVX2; call only when the CPU has it.
ORVO_CTMF_DECLARE(avx2)

#undef ORVO_CTMF_DECLARE

} // namespace orvo::ctmf
