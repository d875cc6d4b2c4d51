// Scalar resampling: kernel functions, per-output coefficient tables, row
// passes and the plane driver that chains them.
#include "kernel.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <type_traits>

namespace fmtc {

namespace {

constexpr double pi = 3.14159265358979323846;

double sinc(double x) {
    if (x == 0)
        return 1;
    double px = pi * x;
    return std::sin(px) / px;
}

} // namespace

bool parse_kernel_name(const std::string &name, KernelKind &kind) {
    std::string n;
    for (char ch : name) {
        if (ch == ' ')
            break;
        n += char(std::tolower(static_cast<unsigned char>(ch)));
    }
    struct Entry {
        const char *name;
        KernelKind kind;
    };
    static const Entry table[] = {
        {"point", KernelKind::point},       {"rect", KernelKind::rect},         {"box", KernelKind::rect},
        {"linear", KernelKind::bilinear},   {"bilinear", KernelKind::bilinear}, {"cubic", KernelKind::bicubic},
        {"bicubic", KernelKind::bicubic},   {"lanczos", KernelKind::lanczos},   {"blackman", KernelKind::blackman},
        {"sinc", KernelKind::sinc},         {"spline16", KernelKind::spline16}, {"spline36", KernelKind::spline36},
        {"spline64", KernelKind::spline64}, {"gauss", KernelKind::gauss},       {"gaussian", KernelKind::gauss},
    };
    for (const Entry &e : table)
        if (n == e.name) {
            kind = e.kind;
            return true;
        }
    return false;
}

double KernelDef::support() const {
    switch (kind) {
    case KernelKind::point: return 0;
    case KernelKind::rect: return 0.5;
    case KernelKind::bilinear: return 1;
    case KernelKind::bicubic: return 2;
    case KernelKind::spline16: return 2;
    case KernelKind::spline36: return 3;
    case KernelKind::spline64: return 4;
    case KernelKind::lanczos:
    case KernelKind::blackman:
    case KernelKind::sinc:
    case KernelKind::gauss: return taps;
    }
    return 0;
}

double KernelDef::eval(double x) const {
    if (kind == KernelKind::rect) // half-open box, asymmetric on purpose
        return (x >= -0.5 && x < 0.5) ? 1 : 0;
    x = std::fabs(x);
    switch (kind) {
    case KernelKind::point: return x < 0.5 ? 1 : 0;
    case KernelKind::rect: return 0;
    case KernelKind::bilinear: return std::max(1 - x, 0.0);
    case KernelKind::bicubic:
        if (x < 1)
            return ((12 - 9 * b - 6 * c) * x * x * x + (-18 + 12 * b + 6 * c) * x * x + (6 - 2 * b)) / 6;
        if (x < 2)
            return ((-b - 6 * c) * x * x * x + (6 * b + 30 * c) * x * x + (-12 * b - 48 * c) * x + (8 * b + 24 * c)) / 6;
        return 0;
    case KernelKind::lanczos: return x <= taps ? sinc(x) * sinc(x / taps) : 0;
    case KernelKind::blackman:
        return x <= taps ? sinc(x) * (0.42 + 0.5 * std::cos(pi * x / taps) + 0.08 * std::cos(2 * pi * x / taps)) : 0;
    case KernelKind::sinc: return x <= taps ? sinc(x) : 0;
    case KernelKind::gauss: return x <= taps ? std::pow(2.0, -(p / 10) * x * x) : 0;
    case KernelKind::spline16:
        if (x < 1)
            return ((x - 9.0 / 5) * x - 1.0 / 5) * x + 1;
        if (x < 2) {
            double u = x - 1;
            return ((-1.0 / 3 * u + 4.0 / 5) * u - 7.0 / 15) * u;
        }
        return 0;
    case KernelKind::spline36:
        if (x < 1)
            return ((13.0 / 11 * x - 453.0 / 209) * x - 3.0 / 209) * x + 1;
        if (x < 2) {
            double u = x - 1;
            return ((-6.0 / 11 * u + 270.0 / 209) * u - 156.0 / 209) * u;
        }
        if (x < 3) {
            double u = x - 2;
            return ((1.0 / 11 * u - 45.0 / 209) * u + 26.0 / 209) * u;
        }
        return 0;
    case KernelKind::spline64:
        if (x < 1)
            return ((49.0 / 41 * x - 6387.0 / 2911) * x - 3.0 / 2911) * x + 1;
        if (x < 2) {
            double u = x - 1;
            return ((-24.0 / 41 * u + 4032.0 / 2911) * u - 2328.0 / 2911) * u;
        }
        if (x < 3) {
            double u = x - 2;
            return ((6.0 / 41 * u - 1008.0 / 2911) * u + 582.0 / 2911) * u;
        }
        if (x < 4) {
            double u = x - 3;
            return ((-1.0 / 41 * u + 168.0 / 2911) * u - 97.0 / 2911) * u;
        }
        return 0;
    }
    return 0;
}

bool build_table(const KernelDef &k, const TableParams &s, FilterTable &t, int max_taps) {
    const int S = s.src_size, D = s.dst_size;
    const double step = s.size / D;
    const double zc = std::max(step, 1.0) / s.f;
    const double R = k.support();
    const double sup = R * zc;
    const bool point = k.kind == KernelKind::point;
    // In floating point first: a tiny fh or fv makes the support arbitrarily large.
    const double taps = point ? 1 : std::max(std::ceil(2 * sup), 1.0);
    if (!(taps <= max_taps))
        return false;
    const int N = int(taps);
    if (double(D) * std::min(N, S) > double(1 << 26))
        return false;

    // Per output: merged weights over [lo, lo + len).
    std::vector<int> lo(D), len(D);
    std::vector<double> merged(size_t(D) * size_t(std::min(N, S)));
    std::vector<double> raw(N);
    std::vector<double> acc(S);
    const size_t mstride = size_t(std::min(N, S));
    double t_pos = point ? s.start : s.start + step * s.dst_center - s.src_center;
    int K = 1;
    for (int j = 0; j < D; j++, t_pos += step) {
        int b;
        if (point) {
            b = int(std::floor(s.start + j * step + 0.0001));
            raw[0] = 1;
        } else {
            b = int(std::floor(float(t_pos + sup))) - N + 1;
            double sum = 0;
            for (int i = 0; i < N; i++) {
                raw[i] = k.eval((t_pos - (b + i)) / zc);
                sum += raw[i];
            }
            if (N == 1 && raw[0] == 0)
                raw[0] = 1, sum = 1;
            double norm = s.cnorm ? (s.total > 0 ? s.total : std::fabs(sum)) : 1;
            if (norm == 0)
                norm = 1;
            for (int i = 0; i < N; i++)
                raw[i] /= norm;
        }
        // Replicate the edges: taps outside the picture go to the edge sample.
        int first = std::clamp(b, 0, S - 1), last = std::clamp(b + N - 1, 0, S - 1);
        for (int i = first; i <= last; i++)
            acc[i] = 0;
        for (int i = 0; i < N; i++)
            acc[std::clamp(b + i, 0, S - 1)] += raw[i] * s.gain;
        // Drop negligible end taps.
        const double eps = std::fabs(s.gain) * 1e-6;
        while (last > first && std::fabs(acc[last]) <= eps)
            last--;
        while (first < last && std::fabs(acc[first]) <= eps)
            first++;
        lo[j] = first;
        len[j] = last - first + 1;
        K = std::max(K, len[j]);
        for (int i = 0; i < len[j]; i++)
            merged[size_t(j) * mstride + i] = acc[first + i];
    }

    t.src_size = S;
    t.dst_size = D;
    t.taps = K;
    t.add = float(s.add);
    const int Dp = (D + 7) & ~7;
    t.start.assign(Dp, 0);
    t.coef.assign(size_t(Dp) * K, 0.f);
    t.coef_blk.assign(size_t(Dp) * K, 0.f);
    for (int j = 0; j < D; j++) {
        int st = std::min(lo[j], S - K);
        t.start[j] = st;
        for (int i = 0; i < len[j]; i++)
            t.coef[size_t(j) * K + (lo[j] - st) + i] = float(merged[size_t(j) * mstride + i]);
    }
    for (int j = 0; j < Dp; j++)
        for (int i = 0; i < K; i++)
            t.coef_blk[size_t(j >> 3) * K * 8 + size_t(i) * 8 + (j & 7)] = t.coef[size_t(j) * K + i];
    return true;
}

void filter_h_c(const float *src, float *dst, const FilterTable &t) {
    const int K = t.taps;
    for (int j = 0; j < t.dst_size; j++) {
        const float *x = src + t.start[j];
        const float *w = t.row(j);
        float acc = t.add;
        for (int k = 0; k < K; k++)
            acc += x[k] * w[k];
        dst[j] = acc;
    }
}

template <class Tin, class Tout>
void filter_h8_c(const Tin *const *src, Tout *const *dst, const FilterTable &t, float *scratch) {
    float *in = scratch, *out = scratch + t.src_size + 16;
    for (int i = 0; i < 8; i++) {
        to_float_row_c(src[i], in, t.src_size);
        if constexpr (std::is_same_v<Tout, float>) {
            filter_h_c(in, dst[i], t);
        } else {
            filter_h_c(in, out, t);
            store_u16_c(out, dst[i], t.dst_size);
        }
    }
}

template <class T>
void filter_v_c(const T *const *rows, int taps, const float *w, float add, float *dst, int width) {
    for (int x = 0; x < width; x++) {
        float acc = add;
        for (int k = 0; k < taps; k++)
            acc += float(rows[k][x]) * w[k];
        dst[x] = acc;
    }
}

template <class T>
void to_float_row_c(const T *src, float *dst, int width) {
    for (int x = 0; x < width; x++)
        dst[x] = float(src[x]);
}

void store_u16_c(const float *src, uint16_t *dst, int width) {
    for (int x = 0; x < width; x++)
        dst[x] = store_u16_one(src[x]);
}

template <class T>
void filter_v_u16_c(const T *const *rows, int taps, const float *w, float add, uint16_t *dst, int width, float *tmp) {
    filter_v_c(rows, taps, w, add, tmp, width);
    store_u16_c(tmp, dst, width);
}

#define FMTC_H8(TI, TO) template void filter_h8_c<TI, TO>(const TI *const *, TO *const *, const FilterTable &, float *);
FMTC_PASS_TYPES(FMTC_H8)
#undef FMTC_H8
template void filter_v_u16_c<uint8_t>(const uint8_t *const *, int, const float *, float, uint16_t *, int, float *);
template void filter_v_u16_c<uint16_t>(const uint16_t *const *, int, const float *, float, uint16_t *, int, float *);
template void filter_v_u16_c<float>(const float *const *, int, const float *, float, uint16_t *, int, float *);
template void filter_v_c<uint8_t>(const uint8_t *const *, int, const float *, float, float *, int);
template void filter_v_c<uint16_t>(const uint16_t *const *, int, const float *, float, float *, int);
template void filter_v_c<float>(const float *const *, int, const float *, float, float *, int);
template void to_float_row_c<uint8_t>(const uint8_t *, float *, int);
template void to_float_row_c<uint16_t>(const uint16_t *, float *, int);
template void to_float_row_c<float>(const float *, float *, int);

namespace {

// The row functions of one instruction set, for one input and output type.
template <class Tin, class Tout>
struct Ops {
    void (*h8_in)(const Tin *const *, float *const *, const FilterTable &, float *);     // into the ring
    void (*h8_in_out)(const Tin *const *, Tout *const *, const FilterTable &, float *); // source to output
    void (*h8_f_out)(const float *const *, Tout *const *, const FilterTable &, float *); // vertical result to output
    void (*v_in)(const Tin *const *, int, const float *, float, float *, int);
    void (*v_f)(const float *const *, int, const float *, float, float *, int);
    void (*v_in_u16)(const Tin *const *, int, const float *, float, uint16_t *, int, float *);
    void (*v_f_u16)(const float *const *, int, const float *, float, uint16_t *, int, float *);
    // Two vertical outputs sharing their rows (null: none in this set).
    void (*v2_in_f)(const Tin *const *, int, int, const float *, const float *, float, float *, float *, int);
    void (*v2_in_out)(const Tin *const *, int, int, const float *, const float *, float, Tout *, Tout *, int);
    void (*v2_f_out)(const float *const *, int, int, const float *, const float *, float, Tout *, Tout *, int);
};

template <class Tin, class Tout>
Ops<Tin, Tout> ops_for(bool avx2) {
#if defined(__x86_64__) || defined(__i386__)
    if (avx2)
        return {filter_h8_avx2<Tin, float>, filter_h8_avx2<Tin, Tout>, filter_h8_avx2<float, Tout>,
                filter_v_avx2<Tin>,         filter_v_avx2<float>,      filter_v_u16_avx2<Tin>,
                filter_v_u16_avx2<float>,   filter_v2_avx2<Tin, float>, filter_v2_avx2<Tin, Tout>,
                filter_v2_avx2<float, Tout>};
#else
    (void)avx2;
#endif
    return {filter_h8_c<Tin, float>, filter_h8_c<Tin, Tout>, filter_h8_c<float, Tout>, filter_v_c<Tin>,
            filter_v_c<float>,       filter_v_u16_c<Tin>,    filter_v_u16_c<float>,
            nullptr,                 nullptr,                nullptr};
}

// Float rows: a set of `n` buffers of `width` elements (+ slack).
template <class T = float>
struct RowSet {
    std::vector<T> buf;
    size_t pitch;
    RowSet(int n, int width) : buf(size_t(n) * (size_t(width) + 16)), pitch(size_t(width) + 16) {}
    T *row(int i) { return buf.data() + size_t(i) * pitch; }
};

} // namespace

// The horizontal pass always runs on blocks of 8 rows (short blocks repeat
// their last row and send the extra results to spare rows).
template <class Tin, class Tout>
void resample_plane(const Tin *src, ptrdiff_t src_stride, int src_w, int src_h, Tout *dst, ptrdiff_t dst_stride,
                    int dst_w, int dst_h, const DirPlan &h, const DirPlan &v, bool h_first, bool avx2) {
    const Ops<Tin, Tout> ops = ops_for<Tin, Tout>(avx2);
    const int wide = std::max(src_w, dst_w);
    std::vector<float> scratch(size_t(8) * size_t(src_w + dst_w + 32));
    RowSet<Tout> spare(8, dst_w);
    RowSet<> one(1, wide);
    const Tin *hin[8];
    float *hring[8];
    Tout *hout[8];
    // Output rows j0 .. j0 + 7 of a block of n.
    auto out_rows = [&](int j0, int n) {
        for (int i = 0; i < 8; i++)
            hout[i] = i < n ? dst + ptrdiff_t(j0 + i) * dst_stride : spare.row(i);
    };
    // Vertical pass of output row j into `o` (float rows of `width`, or the output).
    auto v_pass = [&](auto &rows, const FilterTable &tv, int j, auto *o, int width) {
        const auto *r = rows.data();
        const float *w = tv.row(j);
        const int n = tv.taps;
        constexpr bool f_rows = std::is_same_v<std::decay_t<decltype(rows[0])>, const float *>;
        if constexpr (std::is_same_v<std::decay_t<decltype(*o)>, uint16_t>) {
            if constexpr (f_rows)
                ops.v_f_u16(r, n, w, tv.add, o, width, one.row(0));
            else
                ops.v_in_u16(r, n, w, tv.add, o, width, one.row(0));
        } else {
            if constexpr (f_rows)
                ops.v_f(r, n, w, tv.add, o, width);
            else
                ops.v_in(r, n, w, tv.add, o, width);
        }
    };

    if (h.filtered && !v.filtered) {
        for (int j0 = 0; j0 < dst_h; j0 += 8) {
            const int n = std::min(8, dst_h - j0);
            for (int i = 0; i < 8; i++)
                hin[i] = src + ptrdiff_t(v.offset + j0 + std::min(i, n - 1)) * src_stride;
            out_rows(j0, n);
            ops.h8_in_out(hin, hout, h.table, scratch.data());
        }
        return;
    }
    const FilterTable &tv = v.table;
    std::vector<const Tin *> rows_in(tv.taps + 2);
    std::vector<const float *> rows_f(tv.taps + 2);
    // Output rows [j0, j1) of the vertical pass; close pairs of rows go
    // through the two-row kernel (`two`, may be null). `at(r)`: input row r;
    // `out(j)`: where output row j goes.
    auto v_rows = [&](int j0, int j1, auto &rows, auto at, auto out, int width, auto two) {
        for (int j = j0; j < j1; j++) {
            int d = -1;
            if (two && j + 1 < j1) {
                d = tv.start[j + 1] - tv.start[j];
                d = d >= 0 && d <= 2 && tv.taps + d <= kPairRows ? d : -1;
            }
            for (int k = 0; k < tv.taps + std::max(d, 0); k++)
                rows[k] = at(tv.start[j] + k);
            if (d < 0) {
                v_pass(rows, tv, j, out(j), width);
                continue;
            }
            two(rows.data(), tv.taps, d, tv.row(j), tv.row(j + 1), tv.add, out(j), out(j + 1), width);
            j++;
        }
    };
    auto dst_row = [&](int j) { return dst + ptrdiff_t(j) * dst_stride; };
    if (v.filtered && !h.filtered) {
        auto at = [&](int r) { return src + ptrdiff_t(r) * src_stride + h.offset; };
        for (int j0 = 0; j0 < dst_h; j0 += 8)
            v_rows(j0, std::min(j0 + 8, dst_h), rows_in, at, dst_row, dst_w, ops.v2_in_out);
        return;
    }
    const FilterTable &th = h.table;
    if (!h_first) {
        // Vertical then horizontal, eight output rows at a time.
        RowSet<> mid(8, src_w);
        const float *hmid[8];
        auto at = [&](int r) { return src + ptrdiff_t(r) * src_stride; };
        for (int j0 = 0; j0 < dst_h; j0 += 8) {
            const int n = std::min(8, dst_h - j0);
            v_rows(j0, j0 + n, rows_in, at, [&](int j) { return mid.row(j - j0); }, src_w, ops.v2_in_f);
            for (int i = 0; i < 8; i++)
                hmid[i] = mid.row(std::min(i, n - 1));
            out_rows(j0, n);
            ops.h8_f_out(hmid, hout, th, scratch.data());
        }
        return;
    }
    // Horizontal then vertical: a ring of horizontally filtered 8-row blocks.
    // Output rows go in groups whose input rows span at most `reach` rows,
    // i.e. at most cap blocks, so that filling one never evicts another.
    const int cap = (tv.taps + 7) / 8 + 2, reach = 8 * (cap - 1) + 1;
    RowSet<> ring(cap * 8, dst_w);
    std::vector<int> tag(cap, -1);
    auto at = [&](int r) -> const float * { return ring.row((r >> 3) % cap * 8 + (r & 7)); };
    for (int j0 = 0, j1; j0 < dst_h; j0 = j1) {
        int lo = tv.start[j0], hi = lo + tv.taps;
        for (j1 = j0 + 1; j1 < dst_h && j1 - j0 < 16; j1++) {
            const int l = std::min(lo, tv.start[j1]), e = std::max(hi, tv.start[j1] + tv.taps);
            if (e - l > reach)
                break;
            lo = l, hi = e;
        }
        for (int blk = lo >> 3; blk <= (hi - 1) >> 3; blk++) {
            const int slot = blk % cap;
            if (tag[slot] == blk)
                continue;
            const int y0 = blk * 8, n = std::min(8, src_h - y0);
            for (int i = 0; i < 8; i++) {
                hin[i] = src + ptrdiff_t(y0 + std::min(i, n - 1)) * src_stride;
                hring[i] = ring.row(slot * 8 + i);
            }
            ops.h8_in(hin, hring, th, scratch.data());
            tag[slot] = blk;
        }
        v_rows(j0, j1, rows_f, at, dst_row, dst_w, ops.v2_f_out);
    }
}

template <class Tin, class Tout>
void convert_plane(const Tin *src, ptrdiff_t src_stride, Tout *dst, ptrdiff_t dst_stride, int w, int h, float gain,
                   float add, int shift) {
    for (int y = 0; y < h; y++, src += src_stride, dst += dst_stride) {
        for (int x = 0; x < w; x++) {
            if constexpr (std::is_same_v<Tout, float>) {
                dst[x] = float(src[x]) * gain + add;
            } else if constexpr (std::is_same_v<Tin, float>) {
                float v = src[x] * gain + add;
                v = v >= 0 ? (v <= 65535.f ? v : 65535.f) : 0.f;
                dst[x] = Tout(std::nearbyint(v));
            } else {
                dst[x] = Tout(unsigned(src[x]) << shift);
            }
        }
    }
}

#define FMTC_RESAMPLE(TI, TO)                                                                                        \
    template void resample_plane<TI, TO>(const TI *, ptrdiff_t, int, int, TO *, ptrdiff_t, int, int, const DirPlan &, \
                                         const DirPlan &, bool, bool);
FMTC_RESAMPLE(uint8_t, uint16_t)
FMTC_RESAMPLE(uint16_t, uint16_t)
FMTC_RESAMPLE(float, uint16_t)
FMTC_RESAMPLE(uint8_t, float)
FMTC_RESAMPLE(uint16_t, float)
FMTC_RESAMPLE(float, float)
#undef FMTC_RESAMPLE
#define FMTC_CONVERT(TI, TO)                                                                                          \
    template void convert_plane<TI, TO>(const TI *, ptrdiff_t, TO *, ptrdiff_t, int, int, float, float, int);
FMTC_CONVERT(uint8_t, uint16_t)
FMTC_CONVERT(uint16_t, uint16_t)
FMTC_CONVERT(float, uint16_t)
FMTC_CONVERT(uint8_t, float)
FMTC_CONVERT(uint16_t, float)
FMTC_CONVERT(float, float)
#undef FMTC_CONVERT

} // namespace fmtc
