// Scalar reference kernels of the deband filter; see kernel.h for the rules.
#include "kernel.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace f3kdb {

namespace {

constexpr Bayer16 make_bayer() {
    Bayer16 m{};
    const uint8_t base[2][2] = {{0, 2}, {3, 1}};
    m.v[0][0] = 0;
    for (int n = 1; n < 16; n *= 2) {
        Bayer16 next{};
        for (int i = 0; i < 2 * n; i++)
            for (int j = 0; j < 2 * n; j++)
                next.v[i][j] = uint8_t(4 * m.v[i % n][j % n] + base[i / n][j / n]);
        m = next;
    }
    return m;
}

} // namespace

const Bayer16 bayer16 = make_bayer();

// ---------------------------------------------------------------------------
// Random numbers

uint32_t Rng::initial_state(int32_t seed, int width, int height, int frames) {
    uint32_t s = 0x92D68CA2u - uint32_t(seed);
    s ^= (uint32_t(width) << 16) ^ uint32_t(height);
    s ^= (uint32_t(frames) << 16) ^ uint32_t(frames);
    return s;
}

double state_to_unit(uint32_t u) {
    // 52 mantissa bits of a double in [1, 2): the state rotated into the top bits.
    uint64_t m = ((uint64_t(u) << 20) | (uint64_t(u) >> 12)) & ((uint64_t(1) << 52) - 1);
    double f = double(m) / double(uint64_t(1) << 52);
    return 2.0 * f - 1.0;
}

double Rng::uniform() {
    state_ = state_ * 1664525u + 1013904223u;
    return state_to_unit(state_);
}

double Rng::legacy() {
    uint32_t s = state_;
    uint32_t t = (((s << 13) ^ s) >> 17) ^ (s << 13) ^ s;
    state_ = (t << 5) ^ t;
    return state_to_unit(state_);
}

double Rng::gaussian(double sigma) {
    // Polar method, keeping only values inside (-1, 1). The filter bounds sigma,
    // so the rejection loop ends quickly.
    for (;;) {
        double x, y, r2;
        do {
            x = uniform();
            y = uniform();
            r2 = x * x + y * y;
        } while (!(r2 > 0.0 && r2 <= 1.0));
        double g = sigma * y * std::sqrt(-2.0 * std::log(r2) / r2);
        if (g > -1.0 && g < 1.0)
            return g;
    }
}

double Rng::next(int algo, double sigma) {
    switch (algo) {
    case random_legacy:
        return legacy();
    case random_gaussian:
        return gaussian(sigma);
    default:
        return uniform();
    }
}

int64_t Rng::draw(int algo, double sigma, int64_t amplitude) {
    return std::llround(next(algo, sigma) * double(amplitude));
}

// ---------------------------------------------------------------------------
// Tables

Tables build_tables(const TableParams &p) {
    Tables t;
    const int W = p.width, H = p.height;
    t.width = W;
    t.height = H;
    t.ref.assign(size_t(W) * size_t(H), RefOffset{0, 0});
    Rng rng(Rng::initial_state(p.seed, W, H, p.frames));
    const int cmask_x = (1 << p.ssw) - 1, cmask_y = (1 << p.ssh) - 1;

    for (int y = 0; y < H; y++) {
        for (int x = 0; x < W; x++) {
            // The grain draws here only keep the sequence in step; their values are unused.
            rng.draw(p.algo_grain, p.sigma_grain, p.grain_y);
            int r = std::min({p.range, y, H - 1 - y});
            if (p.sample_mode == 2)
                r = std::min({r, x, W - 1 - x});
            RefOffset o{0, 0};
            if (r > 0) {
                o.a = uint8_t(std::llabs(rng.draw(p.algo_ref, p.sigma_ref, r)));
                if (p.sample_mode == 2)
                    o.b = uint8_t(std::llabs(rng.draw(p.algo_ref, p.sigma_ref, r)));
            }
            if ((x & cmask_x) == 0 && (y & cmask_y) == 0) {
                rng.draw(p.algo_grain, p.sigma_grain, p.grain_c);
                rng.draw(p.algo_grain, p.sigma_grain, p.grain_c);
            }
            t.ref[size_t(y) * size_t(W) + size_t(x)] = o;
        }
    }

    if (p.grain_y <= 0 && p.grain_c <= 0)
        return t;

    // Room for a frame at any start offset: wider than the widest padded row, three
    // frames deep when the pattern moves per frame.
    const size_t K = ((size_t(W) + 255) & ~size_t(127)) * size_t(H);
    const size_t total = K * (p.dynamic_grain ? 3 : 1);
    t.grain_size = total;
    auto fill = [&](std::vector<int16_t> &buf, int amplitude) {
        if (amplitude > 0) {
            buf.resize(total);
            for (size_t i = 0; i < total; i++)
                buf[i] = int16_t(rng.draw(p.algo_grain, p.sigma_grain, amplitude));
        } else {
            for (size_t i = 0; i < total; i++)
                rng.next(p.algo_grain, p.sigma_grain);
        }
    };
    fill(t.grain_luma, p.grain_y);
    fill(t.grain_chroma, p.grain_c);

    if (p.dynamic_grain) {
        t.frame_offset.resize(size_t(std::max(p.frames, 1)));
        for (auto &off : t.frame_offset)
            off = (int64_t(K) + rng.draw(random_uniform, 1.0, int64_t(K))) & ~int64_t(15);
    }
    return t;
}

// ---------------------------------------------------------------------------
// Deband

size_t scratch_size(int width) { return size_t(width) + 2 * (size_t(width) + 2); }

namespace {

inline int avg2(int a, int b) { return (a + b + 1) >> 1; }

// One row of 16-bit results (before grain). References stay inside the plane
// because the table bounds every offset by the distance to the border.
template <class Tin, int Mode, bool BlurFirst>
void deband_row(const Tin *s_row, ptrdiff_t stride, const RefOffset *tab_row, const PlaneParams &p, int32_t *out,
                int col0) {
    const int shift = 16 - p.in_depth;
    const int T = p.threshold;
    const int ssw = p.ssw, ssh = p.ssh;
    for (int col = col0; col < p.width; col++) {
        const RefOffset r = tab_row[size_t(col) << ssw];
        const int s = int(s_row[col]) << shift;
        int avg;
        bool banded;
        if (Mode == 1) {
            const ptrdiff_t dy = ptrdiff_t(r.a >> ssh) * stride;
            const int q1 = int(s_row[col + dy]) << shift;
            const int q2 = int(s_row[col - dy]) << shift;
            avg = avg2(q1, q2);
            if (BlurFirst)
                banded = std::abs(avg - s) < T;
            else
                banded = std::abs(q1 - s) < T && std::abs(q2 - s) < T;
        } else {
            const int ax = r.a >> ssw, ay = r.a >> ssh;
            const int bx = r.b >> ssw, by = r.b >> ssh;
            const int q1 = int(s_row[by * stride + col + ax]) << shift;
            const int q2 = int(s_row[-ay * stride + col + bx]) << shift;
            const int q3 = int(s_row[-by * stride + col - ax]) << shift;
            const int q4 = int(s_row[ay * stride + col - bx]) << shift;
            // Two rounded-up halvings lean upwards; the -1 on the first pair evens that out.
            int m1 = avg2(q1, q2);
            if (m1 > 0)
                m1--;
            avg = avg2(m1, avg2(q3, q4));
            if (BlurFirst)
                banded = std::abs(avg - s) < T;
            else
                banded = std::abs(q1 - s) < T && std::abs(q2 - s) < T && std::abs(q3 - s) < T &&
                         std::abs(q4 - s) < T;
        }
        out[col] = banded ? avg : s;
    }
}

inline int deband_row_simd(const uint8_t *s_row, ptrdiff_t stride, const RefOffset *tab_row, const PlaneParams &p,
                           int32_t *out) {
    return deband_row_u8_avx2(s_row, stride, tab_row, p, out);
}
inline int deband_row_simd(const uint16_t *s_row, ptrdiff_t stride, const RefOffset *tab_row, const PlaneParams &p,
                           int32_t *out) {
    return deband_row_u16_avx2(s_row, stride, tab_row, p, out);
}

template <class Tin>
void deband_row_dispatch(const Tin *s_row, ptrdiff_t stride, const RefOffset *tab_row, const PlaneParams &p,
                         int32_t *out, bool simd) {
    const int col0 = simd ? deband_row_simd(s_row, stride, tab_row, p, out) : 0;
    if (p.sample_mode == 1)
        p.blur_first ? deband_row<Tin, 1, true>(s_row, stride, tab_row, p, out, col0)
                     : deband_row<Tin, 1, false>(s_row, stride, tab_row, p, out, col0);
    else
        p.blur_first ? deband_row<Tin, 2, true>(s_row, stride, tab_row, p, out, col0)
                     : deband_row<Tin, 2, false>(s_row, stride, tab_row, p, out, col0);
}

inline int32_t clamp16(int32_t v, int32_t lo, int32_t hi) { return std::min(std::max(v, lo), hi); }

// Converts one row of 16-bit values to the output depth. e_cur holds the
// Floyd-Steinberg error carried down from the previous row; e_next receives
// this row's (both valid from index -1 to width).
template <class Tout>
void convert_row(const int32_t *v, Tout *dst, const PlaneParams &p, int row, int32_t *e_cur, int32_t *e_next) {
    const int od = p.out_depth, k = 16 - od;
    const int32_t lo = p.lo, hi = p.hi;
    const int w = p.width;
    if (od == 16) {
        for (int c = 0; c < w; c++)
            dst[c] = Tout(clamp16(v[c], lo, hi));
        return;
    }
    switch (p.dither) {
    case dither_ordered: {
        const uint8_t *bay = bayer16.v[row & 15];
        const int bshift = od - 8;
        for (int c = 0; c < w; c++) {
            int32_t x = std::min<int32_t>(v[c] + (bay[c & 15] >> bshift), 65535);
            dst[c] = Tout(clamp16(x, lo, hi) >> k);
        }
        break;
    }
    case dither_floyd: {
        // Same sums as adding each share into the error rows, but the shares for
        // the right neighbour and the row below travel in registers; every
        // e_next[0, w) is written exactly once, so it needs no clearing.
        const int32_t mask = (1 << k) - 1;
        int32_t right = 0, below_prev = 0, below_cur = 0; // partial sums for e_next[c-1], e_next[c]
        for (int c = 0; c < w; c++) {
            int32_t x = clamp16(v[c] + e_cur[c] + right, 0, 65535);
            int32_t e = x & mask;
            right = (7 * e) >> 4;
            e_next[c - 1] = below_prev + ((3 * e) >> 4); // index -1 is a spare slot: dropped
            below_prev = below_cur + ((5 * e) >> 4);
            below_cur = e >> 4; // for c + 1; dropped after the last column
            dst[c] = Tout(clamp16(x, lo, hi) >> k);
        }
        e_next[w - 1] = below_prev;
        break;
    }
    default: // 1 and 4: truncation
        for (int c = 0; c < w; c++)
            dst[c] = Tout(clamp16(v[c], lo, hi) >> k);
        break;
    }
}

template <class Tin, class Tout>
void deband_plane_t(const uint8_t *src, ptrdiff_t src_stride, uint8_t *dst, ptrdiff_t dst_stride,
                    const PlaneParams &p, const RefOffset *table, int table_width, int32_t *scratch) {
    const int w = p.width;
    int32_t *vals = scratch;
    // Error rows with one spare slot on each side; shares written there are dropped.
    int32_t *e_cur = scratch + w + 1;
    int32_t *e_next = scratch + w + (w + 2) + 1;
    std::fill(scratch + w, scratch + scratch_size(w), 0);
    const ptrdiff_t stride = src_stride / ptrdiff_t(sizeof(Tin));
    // The vector rows read a few bytes past each reference: only rows whose
    // references stay above the last row qualify.
    const int simd_end = p.avx2 && w >= 8 ? p.height - 1 - (p.range >> p.ssh) : 0;

    for (int row = 0; row < p.height; row++) {
        const Tin *s_row = reinterpret_cast<const Tin *>(src + row * src_stride);
        const RefOffset *tab_row = table + (size_t(row) << p.ssh) * size_t(table_width);
        deband_row_dispatch<Tin>(s_row, stride, tab_row, p, vals, row < simd_end);
        if constexpr (sizeof(Tout) == 2) {
            // 16-bit output: grain and clamp in one vector pass, the scalar code finishing the row.
            if (p.avx2 && p.out_depth == 16) {
                Tout *d = reinterpret_cast<Tout *>(dst + row * dst_stride);
                const int16_t *g = p.grain ? p.grain + row * p.grain_stride : nullptr;
                const int done = finish_row_u16_avx2(vals, g, d, w, p.lo, p.hi);
                for (int c = done; c < w; c++)
                    d[c] = Tout(clamp16(clamp16(vals[c] + (g ? g[c] : 0), 0, 65535), p.lo, p.hi));
                continue;
            }
        }
        if (p.grain) {
            const int16_t *g = p.grain + row * p.grain_stride;
            for (int c = 0; c < w; c++)
                vals[c] = clamp16(vals[c] + g[c], 0, 65535);
        }
        convert_row<Tout>(vals, reinterpret_cast<Tout *>(dst + row * dst_stride), p, row, e_cur, e_next);
        if (p.dither == dither_floyd && p.out_depth < 16)
            std::swap(e_cur, e_next);
    }
}

} // namespace

void deband_plane(const void *src, ptrdiff_t src_stride, void *dst, ptrdiff_t dst_stride, const PlaneParams &p,
                  const RefOffset *table, int table_width, int32_t *scratch) {
    auto s = static_cast<const uint8_t *>(src);
    auto d = static_cast<uint8_t *>(dst);
    const bool in8 = p.in_depth == 8, out8 = p.out_depth == 8;
    if (in8 && out8)
        deband_plane_t<uint8_t, uint8_t>(s, src_stride, d, dst_stride, p, table, table_width, scratch);
    else if (in8)
        deband_plane_t<uint8_t, uint16_t>(s, src_stride, d, dst_stride, p, table, table_width, scratch);
    else if (out8)
        deband_plane_t<uint16_t, uint8_t>(s, src_stride, d, dst_stride, p, table, table_width, scratch);
    else
        deband_plane_t<uint16_t, uint16_t>(s, src_stride, d, dst_stride, p, table, table_width, scratch);
}

} // namespace f3kdb
