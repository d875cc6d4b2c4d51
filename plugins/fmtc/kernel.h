// fmtc kernels: resampling filter tables and row passes, bit depth conversion
// with dithering. Nothing here knows about VapourSynth.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fmtc {

// ---------------------------------------------------------------- resampling

enum class KernelKind { point, rect, bilinear, bicubic, lanczos, blackman, sinc, spline16, spline36, spline64, gauss };

struct KernelDef {
    KernelKind kind = KernelKind::spline36;
    int taps = 4;      // lanczos, blackman, sinc, gauss
    double b = 1.0 / 3; // bicubic a1
    double c = 1.0 / 3; // bicubic a2
    double p = 30;      // gauss a1

    double support() const;
    double eval(double x) const;
};

// Parses a kernel name (case-insensitive, first word only). False when unknown.
bool parse_kernel_name(const std::string &name, KernelKind &kind);

// Coefficients of one direction of one plane. Every output position reads
// `taps` consecutive source samples from `start[j]`, all inside [0, src_size);
// taps that fell outside the picture were merged into the edge sample.
struct FilterTable {
    int src_size = 0;
    int dst_size = 0;
    int taps = 0;
    float add = 0;
    std::vector<int32_t> start;  // dst_size rounded up to 8 (padding rows read sample 0 with weight 0)
    std::vector<float> coef;     // row-major [j][k]
    std::vector<float> coef_blk; // blocks of 8 outputs: [(j/8)][k][j%8], for the vector passes

    const float *row(int j) const { return coef.data() + size_t(j) * size_t(taps); }
};

struct TableParams {
    int src_size;        // S
    int dst_size;        // D
    double start;        // window start X (source plane units)
    double size;         // window size Wn
    double src_center;   // cs
    double dst_center;   // cd
    double f = 1;        // |fh| or |fv|
    double gain = 1;     // folded into the weights
    double add = 0;      // constant of the pass
    bool cnorm = true;
    double total = 0;
};

// Builds the table; returns false when the size would exceed `max_taps`.
bool build_table(const KernelDef &k, const TableParams &s, FilterTable &t, int max_taps = 65536);

// Row passes. Accumulation is acc = add; acc += x_k * w_k in tap order, plain
// float32 multiply then add, so the scalar and AVX2 forms agree bit for bit.
void filter_h_c(const float *src, float *dst, const FilterTable &t);
template <class T>
void filter_v_c(const T *const *rows, int taps, const float *w, float add, float *dst, int width);
template <class T>
void to_float_row_c(const T *src, float *dst, int width);
// Round half to even, clamp to [0, 65535].
void store_u16_c(const float *src, uint16_t *dst, int width);
// Vertical pass straight to 16-bit output: filter_v then store_u16 (`tmp`: width floats).
template <class T>
void filter_v_u16_c(const T *const *rows, int taps, const float *w, float add, uint16_t *dst, int width, float *tmp);
// One sample of it. NaN gives 0, as the vector max against 0 does.
inline uint16_t store_u16_one(float v) {
    v = v > 0.f ? v : 0.f;
    v = v < 65535.f ? v : 65535.f;
    return uint16_t(std::nearbyint(v));
}

// Eight rows at once (the same table for all): source rows converted to
// float, filtered, and stored as float or rounded 16-bit (store_u16).
// `scratch` holds at least 8 * (src_size + dst_size + 16) floats.
template <class Tin, class Tout>
void filter_h8_c(const Tin *const *src, Tout *const *dst, const FilterTable &t, float *scratch);
// The (input, output) types the row passes are built for, as X(Tin, Tout).
#define FMTC_PASS_TYPES(X) \
    X(uint8_t, float) X(uint16_t, float) X(float, float) X(uint8_t, uint16_t) X(uint16_t, uint16_t) X(float, uint16_t)

template <class Tin, class Tout>
void filter_h8_avx2(const Tin *const *src, Tout *const *dst, const FilterTable &t, float *scratch);
template <class T>
void filter_v_avx2(const T *const *rows, int taps, const float *w, float add, float *dst, int width);
template <class T>
void filter_v_u16_avx2(const T *const *rows, int taps, const float *w, float add, uint16_t *dst, int width,
                       float *tmp);

// Two vertical outputs at once (AVX2): row a filters rows[0, taps) with wa,
// row b rows[d, d + taps) with wb; 0 <= d, taps + d <= kPairRows. Same bits
// as two filter_v_avx2 / filter_v_u16_avx2 calls.
constexpr int kPairRows = 16;
template <class T, class Tout>
void filter_v2_avx2(const T *const *rows, int taps, int d, const float *wa, const float *wb, float add, Tout *da,
                    Tout *db, int width);

// One direction of a plane: either a filter table or an integer crop offset.
struct DirPlan {
    bool filtered = false;
    int offset = 0; // first source sample when not filtered
    FilterTable table;
};

// Separable resampling of one plane. Tin: uint8_t, uint16_t or float;
// Tout: uint16_t or float. `h_first` selects the pass order when both
// directions are filtered. Strides are in elements.
template <class Tin, class Tout>
void resample_plane(const Tin *src, ptrdiff_t src_stride, int src_w, int src_h, Tout *dst, ptrdiff_t dst_stride,
                    int dst_w, int dst_h, const DirPlan &h, const DirPlan &v, bool h_first, bool avx2);

// Unfiltered plane copy with depth change: integer to 16-bit integer is a
// left shift by `shift`; every other pair maps v * gain + add (rounded half
// to even and clamped for integer output).
template <class Tin, class Tout>
void convert_plane(const Tin *src, ptrdiff_t src_stride, Tout *dst, ptrdiff_t dst_stride, int w, int h, float gain,
                   float add, int shift);

// AVX2 form of convert_plane's integer to 16-bit left shift.
template <class Tin>
void shift_plane_u16_avx2(const Tin *src, ptrdiff_t src_stride, uint16_t *dst, ptrdiff_t dst_stride, int w, int h,
                          int shift);

// ---------------------------------------------------------------- bit depth

// Bayer threshold pattern of size P (power of two, 4..1024), rotated by
// `rot` quarter turns; values in [-128, 127], row-major P*P.
std::vector<int16_t> bayer_pattern(int patsize, int rot);

struct DitherParams {
    int dmode = 3;          // 0 ordered, 1 round, 2 fast, 3 error diffusion
    bool int_variant = true; // integer shift arithmetic, else float map
    int src_bits = 16;       // integer input depth (unused for float input)
    int dst_bits = 8;
    float gain = 1, add = 0; // float variant map to destination LSB
    bool simple = true;      // no noise, plain pattern
    int ao = 32, an = 0;     // amplitudes in 1/32 LSB (ordered) / noise
    int ae = 0;              // integer error diffusion push, (ampo-1)*4096
    float push = 0;          // float error diffusion push, ampo-1 (clamped to [0, 8])
    float ampn = 0;          // float error diffusion noise amplitude
    bool tpdfn = false;
    int patsize = 32;
};

// Uniform draws of the dither noise.
struct NoiseGen {
    uint32_t state;
    explicit NoiseGen(uint32_t seed) : state(seed) {}
    int draw() {
        state = state * 1664525u + 1013904223u;
        return int(int8_t(uint8_t(state >> 24)));
    }
    void end_of_row() {
        state = state * 1103515245u + 12345u;
        if (state & 0x2000000u)
            state = state * 134775813u + 1u;
    }
};

// Dithered conversion of one plane to an integer format. `pattern` is the
// P*P table for ordered dithering (may be null otherwise). `seed` starts the
// noise generator. Tin: uint8_t, uint16_t, float; Tout: uint8_t, uint16_t.
template <class Tin, class Tout>
void dither_plane(const Tin *src, ptrdiff_t src_stride, Tout *dst, ptrdiff_t dst_stride, int w, int h,
                  const DitherParams &p, const int16_t *pattern, uint32_t seed);

// True where dither_plane on 16-bit storage reduces to min((v + half) >> shift, hi):
// the integer variant of round without pattern or noise, or of fast.
inline bool is_round_shift(const DitherParams &p) {
    return p.int_variant && (p.dmode == 2 || (p.dmode == 1 && p.simple));
}
// AVX2 form of that case (1 <= shift <= 8); `half` is 0 for fast, 1 << (shift - 1) for round.
template <class Tout>
void round_shift_plane_avx2(const uint16_t *src, ptrdiff_t src_stride, Tout *dst, ptrdiff_t dst_stride, int w, int h,
                            int shift, int half, int hi);

// Integer to float: float32(v) * gain + add.
template <class Tin>
void int_to_float_plane(const Tin *src, ptrdiff_t src_stride, float *dst, ptrdiff_t dst_stride, int w, int h,
                        float gain, float add);

// Left shift by `shift` (integer up-conversion, limited range).
template <class Tin, class Tout>
void shift_plane(const Tin *src, ptrdiff_t src_stride, Tout *dst, ptrdiff_t dst_stride, int w, int h, int shift);

} // namespace fmtc
