// Edge-directed line doubling of one plane.  No VapourSynth types here: the plugin
// and the C++ tests both drive process_plane().
//
// Output geometry (map 0 and 3): 2h rows.  Input row i lands on output row 2i+1-f,
// where f is the effective field of the frame; the one output row without an input
// row beside it on both sides (2h-1 for f=1, 0 for f=0) is a copy of its neighbour.
// map 1 and 2 write an h-row debug plane instead.
//
// Rounding and border rules are listed in README.md next to this file.  In short:
// every interpolated sample is an average of kept samples, so no clamping of values
// is needed; column reads that would leave the row are clamped to the row.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace orvo::eedi2 {

struct Params {
    int mthresh = 10;
    int lthresh = 20;
    int vthresh = 20;
    int estr = 2;
    int dstr = 4;
    int maxd = 24;
    int map = 0;
    int nt = 50;
    int pp = 1;
};

// Scratch buffers for one plane; reusable across frames and planes (grows as needed).
struct Workspace {
    std::vector<uint16_t> m0, m1, m2, m3;          // original-size maps (h x w)
    std::vector<uint16_t> g0, g1, g2, g3;          // double-height maps, interpolated rows only (h x w)
    std::vector<uint16_t> none_row;                // all "no direction"
    std::vector<int16_t> lanes16;                  // padded rows for the vector direction search
    std::vector<int32_t> lanes32;
    std::vector<int32_t> row_costs;                // per-row precomputation of the interpolation
    std::vector<int32_t> t0, t1, t2, t3, t4;       // corner pass (pp 2 and 3)
    std::vector<uint8_t> corner;                   // corner flags per input pixel
    std::vector<uint16_t> clamped;                 // the source clamped to its depth, when it exceeds it
};

enum class Isa { scalar, avx2 };

// Best instruction set this CPU can run.
Isa best_isa();

// One plane.  `bits` is 8..16 (samples above 2^bits - 1 count as 2^bits - 1); `ssw` is the
// plane's horizontal subsampling (0 for luma), which scales the search radii as the upstream
// filter does.  Strides are in samples.
// `field` is the effective field (0 or 1) of this frame.
void process_plane_u8(const uint8_t *src, ptrdiff_t src_stride, uint8_t *dst, ptrdiff_t dst_stride, int w, int h,
                      int field, int ssw, const Params &p, Workspace &ws, Isa isa);
void process_plane_u16(const uint16_t *src, ptrdiff_t src_stride, uint16_t *dst, ptrdiff_t dst_stride, int w,
                       int h, int bits, int field, int ssw, const Params &p, Workspace &ws, Isa isa);

} // namespace orvo::eedi2
