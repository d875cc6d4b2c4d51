// Study prototype: BM3D basic and final estimates of one float plane, with the
// steps and parameters of the "fast" profile (8x8 blocks, groups of up to 8,
// full search, orthonormal 3-D DCT, box aggregation). Scalar reference and AVX2.
#pragma once

#include <cstddef>

namespace bm3dp {

struct Params {
    int block_step = 8; // 8 for the basic estimate, 7 for the final one
    int group_size = 8; // at most 8 here
    int bm_range = 9;   // search window is (2 * bm_range + 1)^2, clipped to the plane; at most 16
    float sigma = 0;    // noise deviation in plane units
    float th_sse = 0;   // a candidate joins when its 8x8 SSD is at or below this
    float lambda = 2.7f; // hard threshold of the basic estimate, in sigmas
};

// The "fast" profile for `sigma8` on the 8-bit scale; `norm` is the length of the
// plane's row of the RGB matrix (1/sqrt(3) for OPP luma).
Params fast_params(bool final, double sigma8, int bm_range, double norm);

enum class Impl { scalar, avx2 };

// Planes are w x h floats, rows `stride` floats apart; dst may not alias the inputs.
void basic(const float *src, float *dst, int w, int h, ptrdiff_t stride, const Params &p, Impl impl);
void final_estimate(const float *src, const float *basic, float *dst, int w, int h, ptrdiff_t stride,
                    const Params &p, Impl impl);

bool have_avx2();

} // namespace bm3dp

// For ctypes (compare.py): final = 0 gives the basic estimate (ref ignored), impl 0 scalar / 1 AVX2.
extern "C" int bm3dp_run(int final, int impl, const float *src, const float *ref, float *dst, int w, int h,
                         double sigma8, int bm_range, double norm);
