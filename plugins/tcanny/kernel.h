// Canny-style edge kernels: Gaussian blur, gradient operators, non-maximum
// suppression and hysteresis. No VapourSynth types here.
//
// Rules shared by every stage:
// - All intermediate values are 32-bit floats; every sum is accumulated tap by
//   tap in index order (no fused multiply-add), so the scalar and SIMD paths
//   give identical bits.
// - Borders mirror without repeating the edge sample: index -i reads i and
//   n-1+i reads n-1-i. Planes smaller than the reach are mirrored again
//   (period 2n-2), so any size >= 1 stays inside the plane.
// - The blur runs vertically first on the source samples, then horizontally on
//   that float result.
// - Integer output is min(trunc(v + 0.5), peak) with a lower clamp at 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

namespace orvo::tcanny {

// Radius of the Gaussian for `sigma`: max(trunc(3 sigma + 0.5), 1), 0 when
// sigma is 0. Absurdly large sigmas give kHugeRadius (refused by size checks).
constexpr int kHugeRadius = 1 << 24;
int gaussian_radius(float sigma);

// 2r+1 normalised taps (float arithmetic); {1} when sigma is 0.
std::vector<float> gaussian_taps(float sigma);

inline int mirror_index(int i, int n) {
    if (n <= 1)
        return 0;
    const int period = 2 * (n - 1);
    i %= period;
    if (i < 0)
        i += period;
    return i < n ? i : period - i;
}

// Output of a processed plane.
enum Mode { kBlur = -1, kEdges = 0, kMagnitude = 1 };

struct PlaneJob {
    int width = 0, height = 0;
    const float *taps_h = nullptr; // 2 * radius_h + 1 taps
    int radius_h = 0;
    const float *taps_v = nullptr;
    int radius_v = 0;
    int mode = kEdges;
    int op = 1;          // 0..6
    float scale = 1.0f;  // applied to gx, gy (Kirsch: to the maximum) before the magnitude
    float t_h = 0, t_l = 0; // thresholds in sample units
    float gain = 1.0f;   // factor on the magnitude when it is written out (mode 1)
    int peak = 255;      // integer formats; unused for float
};

// Row kernels, the hot loops of the blur and of the output conversion.
// `rows` holds ntaps row pointers already mirrored by the caller.
struct RowKernels {
    void (*vsum_u8)(const uint8_t *const *rows, const float *taps, int ntaps, int width, float *dst);
    void (*vsum_u16)(const uint16_t *const *rows, const float *taps, int ntaps, int width, float *dst);
    void (*vsum_f32)(const float *const *rows, const float *taps, int ntaps, int width, float *dst);
    // Two neighbouring output rows from ntaps + 1 rows: dst0 from rows[0..ntaps-1],
    // dst1 from rows[1..ntaps]; each the same as vsum_f32 on its rows.
    void (*vsum2_f32)(const float *const *rows, const float *taps, int ntaps, int width, float *dst0, float *dst1);
    // dst[x] = sum_k taps[k] * src[x + k]; src holds width + ntaps - 1 values.
    void (*hsum)(const float *src, const float *taps, int ntaps, int width, float *dst);
    // hsum followed by store with gain 1, without the float row in between.
    void (*hsum_store_u8)(const float *src, const float *taps, int ntaps, int width, int peak, uint8_t *dst);
    void (*hsum_store_u16)(const float *src, const float *taps, int ntaps, int width, int peak, uint16_t *dst);
    // dst[x] = direction_bin(gx[x], gy[x]).
    void (*directions)(const float *gx, const float *gy, int width, uint8_t *dst);
    // dst[x] = min(trunc(src[x] * gain + 0.5), peak), lower clamp 0.
    void (*store_u8)(const float *src, int width, float gain, int peak, uint8_t *dst);
    void (*store_u16)(const float *src, int width, float gain, int peak, uint16_t *dst);
    // Gradient of operator `op` (0..6) for one row from the blurred rows r[0..4]
    // (centre r[2], each readable 2 samples beyond both ends): magnitude into gr,
    // and with `dirs` the scaled gx, gy into rx, ry (op 5: magnitude only).
    void (*gradient)(int op, bool dirs, const float *const *r, float *gr, float *rx, float *ry, int width,
                     float scale);
    // Non-maximum suppression of one row (up, dn: the magnitude rows around gr,
    // each readable 1 sample beyond both ends): cls[x] = 0 unless gr[x] is at
    // least both neighbours across its direction bin, else 1 (>= t_l) + 1 (>= t_h).
    void (*suppress)(const float *gr, const float *up, const float *dn, const uint8_t *dirs, int width, float t_l,
                     float t_h, uint8_t *cls);
};

const RowKernels &row_kernels_c();
// nullptr when this build has no AVX2 path; the caller checks the CPU.
const RowKernels *row_kernels_avx2();

// 64-byte aligned scratch arrays.
struct FreeDeleter {
    void operator()(void *p) const { std::free(p); }
};
template <class T>
using Buffer = std::unique_ptr<T[], FreeDeleter>;

// Rows of the ring and the blur lines start on 64-byte boundaries.
inline size_t aligned_floats(size_t n) { return (n + 15) & ~size_t(15); }

// Scratch memory of one plane; sized by prepare(), reused across planes.
struct Workspace {
    Buffer<float> line;   // two blur rows with mirrored ends
    Buffer<float> row;    // two rows: blurred rows before conversion, or gx and gy
    Buffer<float> ring;   // source rows as float, 2 * radius_v + 2 of them
    Buffer<float> blur;   // ring of 6 blurred rows of w + 4, 2 mirrored samples either side
    Buffer<float> grad;   // (w + 2) x (h + 2), 1-sample mirrored frame
    Buffer<uint8_t> dir;
    Buffer<uint8_t> cls;  // (w + 2) x (h + 2), zero frame
    Buffer<uint8_t> near; // two rows for marking weak pixels beside strong ones
    Buffer<uint32_t> stack;
    size_t line_cap = 0, row_cap = 0, ring_cap = 0, blur_cap = 0, grad_cap = 0, dir_cap = 0, cls_cap = 0, near_cap = 0,
           stack_cap = 0;

    // May throw std::bad_alloc.
    void prepare(const PlaneJob &job);
};

// One whole plane. Strides are in samples. Needs a prepared workspace.
void process_plane_u8(const uint8_t *src, ptrdiff_t src_stride, uint8_t *dst, ptrdiff_t dst_stride,
                      const PlaneJob &job, Workspace &ws, const RowKernels &rk);
void process_plane_u16(const uint16_t *src, ptrdiff_t src_stride, uint16_t *dst, ptrdiff_t dst_stride,
                       const PlaneJob &job, Workspace &ws, const RowKernels &rk);
void process_plane_f32(const float *src, ptrdiff_t src_stride, float *dst, ptrdiff_t dst_stride,
                       const PlaneJob &job, Workspace &ws, const RowKernels &rk);

// Direction bin of a gradient (scaled gx, gy; gy points up): the line's angle
// folded to [0, 180) and rounded to 0 (horizontal), 45 (1), 90 (2) or 135 (3).
// Exact sector test: with a = |gx|, b = |gy| the boundaries b = (sqrt2 -+ 1) a
// become b (b +- 2a) = a^2, and in double those products of floats are exact
// wherever the answer is close (far from a boundary rounding cannot flip it).
// Written without branches: directions of noise are unpredictable.
inline int direction_bin(float gx, float gy) {
    const double a = gx < 0.0f ? -double(gx) : double(gx);
    const double b = gy < 0.0f ? -double(gy) : double(gy);
    const double aa = a * a;
    const int horizontal = b * (b + 2.0 * a) < aa; // below 22.5 degrees
    const int vertical = b * (b - 2.0 * a) > aa;   // above 67.5 degrees
    const int diagonal = (1 - horizontal) & (1 - vertical) & (a != 0.0);
    const int up_right = (gx > 0.0f) == (gy > 0.0f);
    return 2 * vertical + diagonal * (3 - 2 * up_right);
}

} // namespace orvo::tcanny
