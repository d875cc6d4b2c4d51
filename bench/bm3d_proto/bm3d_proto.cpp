#include "bm3d_proto.h"

#include <immintrin.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <vector>

#define AVX2 __attribute__((target("avx2,fma")))
// Stages stay separate functions so that a sampling profiler can tell them apart.
#define STAGE __attribute__((noinline))

namespace bm3dp {

namespace {

constexpr int B = 8; // block size of the profile
constexpr int G = 8; // largest group
constexpr int kMaxRange = 16; // largest bm_range of the vector matching (its table is on the stack)

struct Match {
    float d;
    int y, x;
};

// Group order: smaller distance, then upper, then left (scan order breaks ties).
bool before(const Match &a, const Match &b) {
    if (a.d != b.d)
        return a.d < b.d;
    return a.y != b.y ? a.y < b.y : a.x < b.x;
}

// The `cap` best candidates so far, sorted.
struct Best {
    Match m[G];
    int n = 0, cap;
    explicit Best(int c) : cap(c) {}
    void offer(const Match &c) {
        if (n == cap && !before(c, m[n - 1]))
            return;
        int i = n < cap ? n++ : n - 1;
        for (; i > 0 && before(c, m[i - 1]); --i)
            m[i] = m[i - 1];
        m[i] = c;
    }
};

// Orthonormal DCT-II: c[n] transforms n samples (n = 8 also serves the blocks); ct[n] is its inverse.
struct Tables {
    float c[G + 1][G][G] = {}, ct[G + 1][G][G] = {};
    Tables() {
        for (int n = 1; n <= G; ++n)
            for (int i = 0; i < n; ++i)
                for (int k = 0; k < n; ++k) {
                    double s = std::sqrt((i ? 2.0 : 1.0) / n) * std::cos(M_PI * (k + 0.5) * i / n);
                    c[n][i][k] = ct[n][k][i] = float(s);
                }
    }
};
const Tables T;

struct Window {
    int t, b, l, r;
};

Window window(int y, int x, int w, int h, int range) {
    return {y - std::min(range, y), y + std::min(range, h - B - y), x - std::min(range, x),
            x + std::min(range, w - B - x)};
}

// Reference block positions along one axis: every `step`, the last one flush with the edge.
std::vector<int> positions(int len, int step) {
    std::vector<int> v;
    for (int j = 0; j < len - B + step; j += step)
        v.push_back(std::min(j, len - B));
    return v;
}

// ---------------------------------------------------------------- scalar

STAGE int match_scalar(const float *p, ptrdiff_t s, int w, int h, int y0, int x0, const Params &P, Match *g) {
    g[0] = {0, y0, x0};
    Best best(P.group_size - 1);
    if (best.cap == 0)
        return 1;
    const Window win = window(y0, x0, w, h, P.bm_range);
    const float *r = p + y0 * s + x0;
    for (int y = win.t; y <= win.b; ++y)
        for (int x = win.l; x <= win.r; ++x) {
            if (y == y0 && x == x0)
                continue;
            const float *c = p + y * s + x;
            float d = 0;
            for (int i = 0; i < B; ++i)
                for (int j = 0; j < B; ++j) {
                    float e = r[i * s + j] - c[i * s + j];
                    d += e * e;
                }
            if (d <= P.th_sse)
                best.offer({d, y, x});
        }
    std::copy(best.m, best.m + best.n, g + 1);
    return best.n + 1;
}

// out = M in M^T on an 8x8 block (M = C forward, C^T inverse).
void dct2_scalar(float *blk, const float (*m)[G]) {
    float tmp[B * B], out[B * B];
    for (int i = 0; i < B; ++i)
        for (int x = 0; x < B; ++x) {
            float a = 0;
            for (int k = 0; k < B; ++k)
                a += m[i][k] * blk[k * B + x];
            tmp[i * B + x] = a;
        }
    for (int i = 0; i < B; ++i)
        for (int j = 0; j < B; ++j) {
            float a = 0;
            for (int k = 0; k < B; ++k)
                a += tmp[i * B + k] * m[j][k];
            out[i * B + j] = a;
        }
    std::memcpy(blk, out, sizeof out);
}

// Along the group, for every coefficient position.
void dct1_scalar(float *grp, int n, const float (*m)[G]) {
    for (int q = 0; q < B * B; ++q) {
        float v[G], o[G];
        for (int k = 0; k < n; ++k)
            v[k] = grp[k * B * B + q];
        for (int i = 0; i < n; ++i) {
            float a = 0;
            for (int k = 0; k < n; ++k)
                a += m[i][k] * v[k];
            o[i] = a;
        }
        for (int i = 0; i < n; ++i)
            grp[i * B * B + q] = o[i];
    }
}

STAGE void gather_scalar(const float *p, ptrdiff_t s, const Match *g, int n, float *grp) {
    for (int k = 0; k < n; ++k)
        for (int i = 0; i < B; ++i)
            std::memcpy(grp + (k * B + i) * B, p + (g[k].y + i) * s + g[k].x, B * sizeof(float));
}

STAGE void forward_scalar(float *grp, int n) {
    for (int k = 0; k < n; ++k)
        dct2_scalar(grp + k * B * B, T.c[B]);
    dct1_scalar(grp, n, T.c[n]);
}

STAGE void inverse_scalar(float *grp, int n) {
    dct1_scalar(grp, n, T.ct[n]);
    for (int k = 0; k < n; ++k)
        dct2_scalar(grp + k * B * B, T.ct[B]);
}

// Returns the aggregation weight; grp holds the filtered blocks.
STAGE float filter_scalar(bool final, const float *src, const float *ref, ptrdiff_t s, const Match *g, int n,
                          const Params &P, float *grp) {
    gather_scalar(src, s, g, n, grp);
    forward_scalar(grp, n);
    float weight;
    if (!final) {
        const float thr = P.lambda * P.sigma;
        int kept = 0;
        for (int q = 0; q < n * B * B; ++q) {
            if (std::fabs(grp[q]) > thr)
                ++kept;
            else
                grp[q] = 0;
        }
        weight = kept < 1 ? 1.f : 1.f / float(kept);
    } else {
        alignas(32) float rg[G * B * B];
        gather_scalar(ref, s, g, n, rg);
        forward_scalar(rg, n);
        const float s2 = P.sigma * P.sigma;
        float l2 = 0;
        for (int q = 0; q < n * B * B; ++q) {
            float r2 = rg[q] * rg[q], wc = r2 / (r2 + s2);
            grp[q] *= wc;
            l2 += wc * wc;
        }
        weight = 1.f / std::max(FLT_EPSILON, l2);
    }
    inverse_scalar(grp, n);
    return weight;
}

STAGE void aggregate_scalar(float *num, float *den, ptrdiff_t s, const Match *g, int n, const float *grp,
                            float w) {
    for (int k = 0; k < n; ++k)
        for (int i = 0; i < B; ++i)
            for (int j = 0; j < B; ++j) {
                ptrdiff_t o = (g[k].y + i) * s + g[k].x + j;
                num[o] += w * grp[(k * B + i) * B + j];
                den[o] += w;
            }
}

// ---------------------------------------------------------------- AVX2

// Lane k = sum of the lanes of a[k].
AVX2 inline __m256 hsum8(const __m256 a[8]) {
    __m256 t0 = _mm256_hadd_ps(_mm256_hadd_ps(a[0], a[1]), _mm256_hadd_ps(a[2], a[3]));
    __m256 t1 = _mm256_hadd_ps(_mm256_hadd_ps(a[4], a[5]), _mm256_hadd_ps(a[6], a[7]));
    return _mm256_add_ps(_mm256_permute2f128_ps(t0, t1, 0x20), _mm256_permute2f128_ps(t0, t1, 0x31));
}

// Needs 7 readable floats past the right end of each row (the planes are padded).
// All SSDs of the window go to a table first (+inf where a candidate does not qualify), then
// the best ones are picked by vector minimum: a running top list costs more in branches
// than the SSDs themselves.
STAGE AVX2 int match_avx2(const float *p, ptrdiff_t s, int w, int h, int y0, int x0, const Params &P, Match *g) {
    g[0] = {0, y0, x0};
    const int cap = P.group_size - 1;
    if (cap == 0)
        return 1;
    const Window win = window(y0, x0, w, h, P.bm_range);
    const int cols = ((win.r - win.l) / 8 + 1) * 8, size = (win.b - win.t + 1) * cols;
    alignas(32) float dist[(2 * kMaxRange + 1) * (2 * kMaxRange + 8)];
    const __m256 inf = _mm256_set1_ps(INFINITY), th = _mm256_set1_ps(P.th_sse);
    const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    __m256 r[B];
    for (int i = 0; i < B; ++i)
        r[i] = _mm256_loadu_ps(p + (y0 + i) * s + x0);
    for (int y = win.t; y <= win.b; ++y)
        for (int x = win.l; x <= win.r; x += 8) {
            // eight candidates side by side, one SSD per vector, then summed across
            __m256 acc[8];
            for (int k = 0; k < 8; ++k) {
                const float *c = p + y * s + x + k;
                __m256 e = _mm256_sub_ps(r[0], _mm256_loadu_ps(c));
                __m256 a = _mm256_mul_ps(e, e);
                for (int i = 1; i < B; ++i) {
                    e = _mm256_sub_ps(r[i], _mm256_loadu_ps(c + i * s));
                    a = _mm256_fmadd_ps(e, e, a);
                }
                acc[k] = a;
            }
            __m256 d = hsum8(acc);
            __m256 ok = _mm256_cmp_ps(d, th, _CMP_LE_OQ);
            // lanes past the window's right edge, and the reference block itself
            __m256i pos = _mm256_add_epi32(lane, _mm256_set1_epi32(x));
            __m256i out = _mm256_cmpgt_epi32(pos, _mm256_set1_epi32(win.r));
            if (y == y0)
                out = _mm256_or_si256(out, _mm256_cmpeq_epi32(pos, _mm256_set1_epi32(x0)));
            ok = _mm256_andnot_ps(_mm256_castsi256_ps(out), ok);
            _mm256_store_ps(dist + (y - win.t) * cols + (x - win.l), _mm256_blendv_ps(inf, d, ok));
        }
    // smallest distance first; among equals the first in scan order (upper, then left)
    int n = 1;
    for (; n <= cap; ++n) {
        __m256 mn = _mm256_load_ps(dist);
        for (int i = 8; i < size; i += 8)
            mn = _mm256_min_ps(mn, _mm256_load_ps(dist + i));
        mn = _mm256_min_ps(mn, _mm256_permute2f128_ps(mn, mn, 1));
        mn = _mm256_min_ps(mn, _mm256_shuffle_ps(mn, mn, 0x4E));
        mn = _mm256_min_ps(mn, _mm256_shuffle_ps(mn, mn, 0xB1));
        const float m = _mm256_cvtss_f32(mn);
        if (m == INFINITY)
            break;
        int i = 0;
        unsigned hit = 0;
        for (; !(hit = _mm256_movemask_ps(_mm256_cmp_ps(_mm256_load_ps(dist + i), mn, _CMP_EQ_OQ))); i += 8) {
        }
        i += __builtin_ctz(hit);
        g[n] = {m, win.t + i / cols, win.l + i % cols};
        dist[i] = INFINITY;
    }
    return n;
}

AVX2 inline void transpose8(__m256 *r) {
    __m256 t0 = _mm256_unpacklo_ps(r[0], r[1]), t1 = _mm256_unpackhi_ps(r[0], r[1]);
    __m256 t2 = _mm256_unpacklo_ps(r[2], r[3]), t3 = _mm256_unpackhi_ps(r[2], r[3]);
    __m256 t4 = _mm256_unpacklo_ps(r[4], r[5]), t5 = _mm256_unpackhi_ps(r[4], r[5]);
    __m256 t6 = _mm256_unpacklo_ps(r[6], r[7]), t7 = _mm256_unpackhi_ps(r[6], r[7]);
    __m256 u0 = _mm256_shuffle_ps(t0, t2, 0x44), u1 = _mm256_shuffle_ps(t0, t2, 0xEE);
    __m256 u2 = _mm256_shuffle_ps(t1, t3, 0x44), u3 = _mm256_shuffle_ps(t1, t3, 0xEE);
    __m256 u4 = _mm256_shuffle_ps(t4, t6, 0x44), u5 = _mm256_shuffle_ps(t4, t6, 0xEE);
    __m256 u6 = _mm256_shuffle_ps(t5, t7, 0x44), u7 = _mm256_shuffle_ps(t5, t7, 0xEE);
    r[0] = _mm256_permute2f128_ps(u0, u4, 0x20), r[1] = _mm256_permute2f128_ps(u1, u5, 0x20);
    r[2] = _mm256_permute2f128_ps(u2, u6, 0x20), r[3] = _mm256_permute2f128_ps(u3, u7, 0x20);
    r[4] = _mm256_permute2f128_ps(u0, u4, 0x31), r[5] = _mm256_permute2f128_ps(u1, u5, 0x31);
    r[6] = _mm256_permute2f128_ps(u2, u6, 0x31), r[7] = _mm256_permute2f128_ps(u3, u7, 0x31);
}

// out[i * si + r * sr] = sum over k < n of m[i][k] * in[k * si + r * sr], for i < n and R lanes r:
// each coefficient is broadcast once and serves R vectors.
template <int R>
AVX2 inline void mix(const __m256 *in, __m256 *out, int si, int sr, const float (*m)[G], int n) {
    for (int i = 0; i < n; ++i) {
        __m256 acc[R], c = _mm256_set1_ps(m[i][0]);
        for (int r = 0; r < R; ++r)
            acc[r] = _mm256_mul_ps(c, in[r * sr]);
        for (int k = 1; k < n; ++k) {
            c = _mm256_set1_ps(m[i][k]);
            for (int r = 0; r < R; ++r)
                acc[r] = _mm256_fmadd_ps(c, in[k * si + r * sr], acc[r]);
        }
        for (int r = 0; r < R; ++r)
            out[i * si + r * sr] = acc[r];
    }
}

// A group is always G blocks of B rows (the blocks past n are scratch), so that the 2-D passes
// run on all blocks at once; the 2-D pass leaves each block transposed, every later step is
// elementwise or runs along the group, and the inverse transposes back.
AVX2 void dct2_group(__m256 (*g)[B], const float (*m)[G]) {
    __m256 t[G][B];
    mix<G>(g[0], t[0], 1, B, m, B);
    for (int k = 0; k < G; ++k)
        transpose8(t[k]);
    mix<G>(t[0], g[0], 1, B, m, B);
}

STAGE AVX2 void forward_avx2(__m256 (*g)[B], int n) {
    dct2_group(g, T.c[B]);
    __m256 t[G][B];
    mix<B>(g[0], t[0], B, 1, T.c[n], n);
    std::memcpy(g, t, sizeof(__m256) * B * n);
}

STAGE AVX2 void inverse_avx2(__m256 (*g)[B], int n) {
    __m256 t[G][B];
    mix<B>(g[0], t[0], B, 1, T.ct[n], n);
    std::memcpy(g, t, sizeof(__m256) * B * n);
    dct2_group(g, T.ct[B]);
}

STAGE AVX2 void gather_avx2(const float *p, ptrdiff_t s, const Match *g, int n, __m256 (*grp)[B]) {
    for (int k = n; k < G; ++k)
        for (int i = 0; i < B; ++i)
            grp[k][i] = _mm256_setzero_ps();
    for (int k = 0; k < n; ++k)
        for (int i = 0; i < B; ++i)
            grp[k][i] = _mm256_loadu_ps(p + (g[k].y + i) * s + g[k].x);
}

STAGE AVX2 float filter_avx2(bool final, const float *src, const float *ref, ptrdiff_t s, const Match *g, int n,
                             const Params &P, float *out) {
    __m256 grp[G][B];
    gather_avx2(src, s, g, n, grp);
    forward_avx2(grp, n);
    float weight;
    if (!final) {
        const __m256 thr = _mm256_set1_ps(P.lambda * P.sigma), sign = _mm256_set1_ps(-0.f);
        int kept = 0;
        for (int k = 0; k < n; ++k)
            for (int i = 0; i < B; ++i) {
                __m256 keep = _mm256_cmp_ps(_mm256_andnot_ps(sign, grp[k][i]), thr, _CMP_GT_OQ);
                grp[k][i] = _mm256_and_ps(grp[k][i], keep);
                kept += __builtin_popcount(_mm256_movemask_ps(keep));
            }
        weight = kept < 1 ? 1.f : 1.f / float(kept);
    } else {
        __m256 rg[G][B];
        gather_avx2(ref, s, g, n, rg);
        forward_avx2(rg, n);
        const __m256 s2 = _mm256_set1_ps(P.sigma * P.sigma);
        __m256 l2 = _mm256_setzero_ps();
        for (int k = 0; k < n; ++k)
            for (int i = 0; i < B; ++i) {
                __m256 r2 = _mm256_mul_ps(rg[k][i], rg[k][i]);
                __m256 wc = _mm256_div_ps(r2, _mm256_add_ps(r2, s2));
                grp[k][i] = _mm256_mul_ps(grp[k][i], wc);
                l2 = _mm256_fmadd_ps(wc, wc, l2);
            }
        alignas(32) float l[8];
        _mm256_store_ps(l, l2);
        float sum = 0;
        for (float v : l)
            sum += v;
        weight = 1.f / std::max(FLT_EPSILON, sum);
    }
    inverse_avx2(grp, n);
    for (int k = 0; k < n; ++k)
        for (int i = 0; i < B; ++i)
            _mm256_store_ps(out + (k * B + i) * B, grp[k][i]);
    return weight;
}

STAGE AVX2 void aggregate_avx2(float *num, float *den, ptrdiff_t s, const Match *g, int n, const float *grp,
                               float w) {
    const __m256 wv = _mm256_set1_ps(w);
    for (int k = 0; k < n; ++k)
        for (int i = 0; i < B; ++i) {
            float *pn = num + (g[k].y + i) * s + g[k].x, *pd = den + (g[k].y + i) * s + g[k].x;
            _mm256_storeu_ps(pn, _mm256_fmadd_ps(wv, _mm256_load_ps(grp + (k * B + i) * B), _mm256_loadu_ps(pn)));
            _mm256_storeu_ps(pd, _mm256_add_ps(wv, _mm256_loadu_ps(pd)));
        }
}

// ---------------------------------------------------------------- driver

// A copy with 8 spare floats at the end of each row for the vector loads.
struct Padded {
    ptrdiff_t stride;
    std::vector<float> v;
    Padded(const float *p, int w, int h, ptrdiff_t s) : stride((w + 15) & ~7), v(stride * h) {
        for (int y = 0; y < h; ++y)
            std::memcpy(v.data() + y * stride, p + y * s, w * sizeof(float));
    }
};

void estimate(bool final, const float *src, const float *basic, float *dst, int w, int h, ptrdiff_t stride,
              const Params &P, Impl impl) {
    const bool vec = impl == Impl::avx2;
    Padded S(src, w, h, stride);
    // the basic estimate matches on the noisy plane, the final one on the basic estimate
    Padded R(final ? basic : src, w, h, stride);
    const ptrdiff_t s = S.stride;
    std::vector<float> num(s * h), den(s * h);
    alignas(32) float grp[G * B * B];
    Match g[G];
    const auto ys = positions(h, P.block_step), xs = positions(w, P.block_step);
    for (int y0 : ys)
        for (int x0 : xs) {
            int n = vec ? match_avx2(R.v.data(), s, w, h, y0, x0, P, g)
                        : match_scalar(R.v.data(), s, w, h, y0, x0, P, g);
            float wt = vec ? filter_avx2(final, S.v.data(), R.v.data(), s, g, n, P, grp)
                           : filter_scalar(final, S.v.data(), R.v.data(), s, g, n, P, grp);
            if (vec)
                aggregate_avx2(num.data(), den.data(), s, g, n, grp, wt);
            else
                aggregate_scalar(num.data(), den.data(), s, g, n, grp, wt);
        }
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            dst[y * stride + x] = num[y * s + x] / den[y * s + x];
}

} // namespace

Params fast_params(bool final, double sigma8, int bm_range, double norm) {
    Params p;
    p.block_step = final ? 7 : 8;
    p.group_size = 8;
    p.bm_range = bm_range;
    p.sigma = float(sigma8 / 255.0 * norm);
    double th_mse = (final ? 200 + sigma8 * 10 : 400 + sigma8 * 80) * norm; // 8-bit MSE
    p.th_sse = float(th_mse * B * B / (255.0 * 255.0));
    return p;
}

bool have_avx2() { return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"); }

void basic(const float *src, float *dst, int w, int h, ptrdiff_t stride, const Params &p, Impl impl) {
    estimate(false, src, nullptr, dst, w, h, stride, p, impl);
}

void final_estimate(const float *src, const float *basic, float *dst, int w, int h, ptrdiff_t stride,
                    const Params &p, Impl impl) {
    estimate(true, src, basic, dst, w, h, stride, p, impl);
}

} // namespace bm3dp

extern "C" int bm3dp_run(int final, int impl, const float *src, const float *ref, float *dst, int w, int h,
                         double sigma8, int bm_range, double norm) {
    using namespace bm3dp;
    if (w < 8 || h < 8 || bm_range < 1 || bm_range > 16 || (impl == 1 && !have_avx2()) || (final && !ref))
        return -1;
    Params p = fast_params(final != 0, sigma8, bm_range, norm);
    Impl m = impl ? Impl::avx2 : Impl::scalar;
    if (final)
        final_estimate(src, ref, dst, w, h, w, p, m);
    else
        basic(src, dst, w, h, w, p, m);
    return 0;
}
