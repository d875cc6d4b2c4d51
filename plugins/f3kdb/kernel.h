// Deband kernels: the seeded reference-offset table, the grain buffers and the
// per-plane deband + depth conversion. Nothing here knows about VapourSynth.
//
// All pixel work happens on a 16-bit scale: a sample s of depth d becomes
// s << (16 - d) (no bit replication). Thresholds and grain amplitudes are on
// that scale too (the filter multiplies the user values by 4).
//
// Borders: the table limits every offset by the pixel's distance to the
// nearest border (rows only in sample mode 1, rows and columns in mode 2),
// measured in luma coordinates, so every reference lies inside the plane and
// the outermost rows (and columns in mode 2) are never averaged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace f3kdb {

enum RandomAlgo : int { random_legacy = 0, random_uniform = 1, random_gaussian = 2 };

enum DitherAlgo : int { dither_none = 1, dither_ordered = 2, dither_floyd = 3, dither_pass16 = 4 };

// 32-bit generator shared by the offset table and the grain buffers.
class Rng {
public:
    explicit Rng(uint32_t state) : state_(state) {}
    // Initial state for a seed and the clip's luma size and length.
    static uint32_t initial_state(int32_t seed, int width, int height, int frames);

    double uniform();                         // [-1, 1)
    double next(int algo, double sigma);      // [-1, 1), by algorithm
    // round(next() * amplitude), halves away from zero; advances the state even when amplitude is 0.
    int64_t draw(int algo, double sigma, int64_t amplitude);
    uint32_t state() const { return state_; }

private:
    double legacy();
    double gaussian(double sigma);
    uint32_t state_;
};

// Maps a generator state to [-1, 1) exactly (52-bit mantissa from the rotated state).
double state_to_unit(uint32_t u);

struct RefOffset {
    uint8_t a; // first offset, 0..31 luma pixels
    uint8_t b; // second offset (sample mode 2 only)
};

// plugin.cpp shares tables between instances keyed on every field here.
struct TableParams {
    int width = 0, height = 0, frames = 1; // luma size and clip length
    int ssw = 0, ssh = 0;                  // chroma subsampling (log2)
    int range = 15;
    int sample_mode = 2;
    int32_t seed = 0;
    int algo_ref = random_uniform, algo_grain = random_uniform;
    double sigma_ref = 1.0, sigma_grain = 1.0;
    int grain_y = 0, grain_c = 0; // amplitudes on the 16-bit scale
    bool dynamic_grain = false;
};

struct Tables {
    int width = 0, height = 0;
    std::vector<RefOffset> ref;        // width * height, luma raster order
    std::vector<int16_t> grain_luma;   // grain_size values, empty when the luma amplitude is 0
    std::vector<int16_t> grain_chroma; // grain_size values, empty when the chroma amplitude is 0
    std::vector<int64_t> frame_offset; // per frame with dynamic grain, else empty
    size_t grain_size = 0;

    // Start of frame n's grain pattern inside a grain buffer.
    int64_t grain_offset(int n) const {
        return frame_offset.empty() ? 0 : frame_offset[size_t(n) % frame_offset.size()];
    }
};

// Builds the table and grain buffers; the result depends only on the parameters.
Tables build_tables(const TableParams &p);

// Grain buffer row stride of a plane of this width.
inline ptrdiff_t grain_stride(int plane_width) { return (ptrdiff_t(plane_width) + 15) & ~ptrdiff_t(15); }

struct PlaneParams {
    int width = 0, height = 0; // plane size
    int ssw = 0, ssh = 0;      // this plane's subsampling (0 for plane 0)
    int in_depth = 8, out_depth = 8;
    int threshold = 0;         // 16-bit scale; differences strictly below it count as banding
    int sample_mode = 2;
    bool blur_first = true;
    int dither = dither_floyd; // ignored for 16-bit output; 4 means truncation below 16 bits
    uint16_t lo = 0, hi = 65535; // output clamp on the 16-bit scale
    const int16_t *grain = nullptr; // this frame's pattern for the plane (already offset), or null
    ptrdiff_t grain_stride = 0;
    int range = 31;    // the table's range (luma pixels); bounds how far references reach
    bool avx2 = false; // use the AVX2 row kernel where it can run (same results)
};

// Scratch elements deband_plane needs for a plane of this width.
size_t scratch_size(int width);

// Debands one plane. src holds 1-byte samples for in_depth 8, 2-byte otherwise;
// dst likewise for out_depth. Strides are in bytes. `table` is the luma-sized
// offset table with `table_width` entries per row.
void deband_plane(const void *src, ptrdiff_t src_stride, void *dst, ptrdiff_t dst_stride, const PlaneParams &p,
                  const RefOffset *table, int table_width, int32_t *scratch);

// AVX2 forms of the row kernel (kernel_avx2.cpp): fill out[0, n) for n a multiple
// of 8 and return n. Reads up to 3 bytes past a reference sample, so the caller
// runs them only on rows whose references never reach the plane's last row.
int deband_row_u8_avx2(const uint8_t *s_row, ptrdiff_t stride, const RefOffset *tab_row, const PlaneParams &p,
                       int32_t *out);
int deband_row_u16_avx2(const uint16_t *s_row, ptrdiff_t stride, const RefOffset *tab_row, const PlaneParams &p,
                        int32_t *out);

// 16-bit output of a row (kernel_avx2.cpp): dst[c] = clamp(v[c] + grain[c], lo, hi)
// (grain may be null) for c in [0, e), e the largest multiple of 16 <= width;
// returns e. Needs 0 <= lo <= hi <= 65535, where it equals the grain step's
// clamp to 16 bits followed by the output clamp.
int finish_row_u16_avx2(const int32_t *v, const int16_t *grain, uint16_t *dst, int width, int32_t lo, int32_t hi);

// The 16x16 ordered-dither matrix, values 0..255 (recursive 2x2 [[0,2],[3,1]] pattern).
struct Bayer16 {
    uint8_t v[16][16];
};
extern const Bayer16 bayer16;

} // namespace f3kdb
