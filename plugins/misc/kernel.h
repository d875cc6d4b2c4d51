// Hysteresis kernel: one plane, no VapourSynth types.
//
// A pixel is "on" in a plane when its value is > 0 (float: strictly greater
// than 0.0, so NaN is off). The on-pixels of `b` form regions under
// 8-connectivity (no wrap at row ends, nothing outside the plane). Every
// region holding at least one pixel that is on in both `a` and `b` becomes
// `peak` in `out`; all other pixels become 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orvo::misc {

// `stack` is scratch space (grown to w*h entries at most; reuse it across calls).
// Strides are in samples; `out` must not overlap the inputs.
void hysteresis(const uint8_t *a, ptrdiff_t as, const uint8_t *b, ptrdiff_t bs, uint8_t *out, ptrdiff_t os, int w,
                int h, uint8_t peak, std::vector<uint32_t> &stack);
void hysteresis(const uint16_t *a, ptrdiff_t as, const uint16_t *b, ptrdiff_t bs, uint16_t *out, ptrdiff_t os, int w,
                int h, uint16_t peak, std::vector<uint32_t> &stack);
void hysteresis(const float *a, ptrdiff_t as, const float *b, ptrdiff_t bs, float *out, ptrdiff_t os, int w, int h,
                float peak, std::vector<uint32_t> &stack);

} // namespace orvo::misc
