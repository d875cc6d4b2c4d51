// Median filter implementations, included by kernel_c.cpp and kernel_avx2.cpp
// (the same code built for two instruction sets; internal linkage keeps the
// two copies apart). See kernel.h for the border rule.
#pragma once

#include "median25_net.h"

#include <algorithm>
#include <cstring>
#include <type_traits>
#include <utility>
#include <vector>

// Per-element helpers must be inlined into the row loops to be vectorised.
#define ORVO_CTMF_INLINE inline __attribute__((always_inline))
#define ORVO_CTMF_INLINE_LAMBDA __attribute__((always_inline))

namespace {

template <class T> ORVO_CTMF_INLINE T mn(T a, T b) { return b < a ? b : a; }
template <class T> ORVO_CTMF_INLINE T mx(T a, T b) { return a < b ? b : a; }
template <class T> ORVO_CTMF_INLINE T med3(T a, T b, T c) { return mx(mn(a, b), mn(mx(a, b), c)); }

inline int clampi(int v, int lo, int hi) { return v < lo ? lo : (v > hi ? hi : v); }

// ---- radius 1 --------------------------------------------------------------
// Median of nine from sorted columns: med3(max of the lows, median of the
// middles, min of the highs). Computed per pixel in registers (sharing the
// sorted columns through a buffer was bound by loads and stores). Inner
// columns run as whole vectors; columns 0 and w-1 clamp their neighbours.
template <class T> ORVO_CTMF_INLINE T median9(T a0, T a1, T a2, T b0, T b1, T b2, T c0, T c1, T c2) {
    // columns (a0, b0, c0), (a1, b1, c1), (a2, b2, c2)
    T l0 = mn(mn(a0, b0), c0), h0 = mx(mx(a0, b0), c0), m0 = med3(a0, b0, c0);
    T l1 = mn(mn(a1, b1), c1), h1 = mx(mx(a1, b1), c1), m1 = med3(a1, b1, c1);
    T l2 = mn(mn(a2, b2), c2), h2 = mx(mx(a2, b2), c2), m2 = med3(a2, b2, c2);
    return med3(mx(mx(l0, l1), l2), med3(m0, m1, m2), mn(mn(h0, h1), h2));
}

template <class T> void median_r1(const T *src, ptrdiff_t ss, T *dst, ptrdiff_t ds, int w, int h) {
    constexpr int chunk = 64;
    for (int y = 0; y < h; y++) {
        const T *__restrict u = src + clampi(y - 1, 0, h - 1) * ss;
        const T *__restrict m = src + y * ss;
        const T *__restrict d = src + clampi(y + 1, 0, h - 1) * ss;
        T *__restrict o = dst + y * ds;
        auto at = [&](int x) {
            int l = clampi(x - 1, 0, w - 1), c = clampi(x, 0, w - 1), r = clampi(x + 1, 0, w - 1);
            return median9(u[l], u[c], u[r], m[l], m[c], m[r], d[l], d[c], d[r]);
        };
        auto inner = [&](int x) ORVO_CTMF_INLINE_LAMBDA {
            o[x] = median9(u[x - 1], u[x], u[x + 1], m[x - 1], m[x], m[x + 1], d[x - 1], d[x], d[x + 1]);
        };
        o[0] = at(0);
        if (w > 1)
            o[w - 1] = at(w - 1);
        if (w - 2 < chunk) {
            for (int x = 1; x < w - 1; x++)
                inner(x);
            continue;
        }
        // whole chunks of constant length, the last one overlapping its neighbour
        int x0 = 1;
        for (; x0 + chunk <= w - 1; x0 += chunk)
            for (int i = 0; i < chunk; i++)
                inner(x0 + i);
        if (x0 < w - 1)
            for (int i = 0; i < chunk; i++)
                inner(w - 1 - chunk + i);
    }
}

// ---- radius 2 and 3 ---------------------------------------------------------
// Selection network for the median of 25 (49): Batcher's odd-even merge sort
// on 32 (64) inputs whose extra inputs are "larger than everything"
// (comparators with them are resolved while building, as no-ops or renames),
// then pruned to the comparators the middle output depends on: 113 (319)
// comparators remain. Built at compile time so the fully unrolled network
// works on values in registers, one vector of pixels at a time.
template <int Real, int N, int MaxCmp> struct Network {
    int a[MaxCmp] = {}, b[MaxCmp] = {}; // a gets the min, b the max
    int count = 0;
    int out = 0;
};

template <int Real, int N, int MaxCmp> constexpr Network<Real, N, MaxCmp> build_median_network() {
    int bi[MaxCmp] = {}, bj[MaxCmp] = {}; // comparators between real values, in order
    int nreal = 0;
    int slot[N] = {};
    bool big[N] = {};
    for (int i = 0; i < N; i++) {
        slot[i] = i;
        big[i] = i >= Real;
    }
    for (int p = 1; p < N; p *= 2)
        for (int k = p; k >= 1; k /= 2)
            for (int j = k % p; j < N - k; j += 2 * k)
                for (int i = 0; i < (k < N - j - k ? k : N - j - k); i++) {
                    if ((i + j) / (p * 2) != (i + j + k) / (p * 2))
                        continue;
                    const int x = i + j, y = i + j + k;
                    if (big[y])
                        continue; // the maximum is already in place
                    if (big[x]) { // a rename: the real value moves down
                        int t = slot[x];
                        slot[x] = slot[y];
                        slot[y] = t;
                        big[x] = false;
                        big[y] = true;
                        continue;
                    }
                    bi[nreal] = slot[x];
                    bj[nreal] = slot[y];
                    nreal++;
                }
    Network<Real, N, MaxCmp> net;
    net.out = slot[Real / 2];
    bool need[N] = {};
    need[net.out] = true;
    int keep[MaxCmp] = {};
    int nkeep = 0;
    for (int c = nreal - 1; c >= 0; c--)
        if (need[bi[c]] || need[bj[c]]) {
            keep[nkeep++] = c;
            need[bi[c]] = need[bj[c]] = true;
        }
    for (int c = 0; c < nkeep; c++) {
        net.a[c] = bi[keep[nkeep - 1 - c]];
        net.b[c] = bj[keep[nkeep - 1 - c]];
    }
    net.count = nkeep;
    return net;
}

template <int R> struct MedianNet {
    static constexpr int side = 2 * R + 1, real = side * side, n = real <= 32 ? 32 : 64;
    static constexpr auto net = build_median_network<real, n, n * 9>();
};

// Median of the window whose top-left sample is rows[0][x].
template <class T, int R> ORVO_CTMF_INLINE T window_median(const T *const *rows, int x) {
    using M = MedianNet<R>;
    T v[M::real];
#pragma GCC unroll 64
    for (int k = 0; k < M::real; k++)
        v[k] = rows[k / M::side][x + k % M::side];
#pragma GCC unroll 1024
    for (int c = 0; c < M::net.count; c++) {
        T p = v[M::net.a[c]], q = v[M::net.b[c]];
        v[M::net.a[c]] = mn(p, q);
        v[M::net.b[c]] = mx(p, q);
    }
    return v[M::net.out];
}

constexpr int kChunk = 64;

template <class T, int R> void median_net(const T *src, ptrdiff_t ss, T *dst, ptrdiff_t ds, int w, int h) {
    constexpr int side = 2 * R + 1;
    const ptrdiff_t pw = w + 2 * R;
    std::vector<T> pad(size_t(pw) * size_t(h));
    for (int y = 0; y < h; y++) {
        T *p = pad.data() + y * pw;
        const T *s = src + y * ss;
        std::memcpy(p + R, s, sizeof(T) * size_t(w));
        for (int i = 0; i < R; i++) {
            p[i] = s[0];
            p[R + w + i] = s[w - 1];
        }
    }
    const T *rows[side];
    for (int y = 0; y < h; y++) {
        for (int dy = 0; dy < side; dy++)
            rows[dy] = pad.data() + clampi(y + dy - R, 0, h - 1) * pw;
        T *__restrict o = dst + y * ds;
        if (w < kChunk) {
            for (int x = 0; x < w; x++)
                o[x] = window_median<T, R>(rows, x);
            continue;
        }
        // whole chunks of constant length, the last one overlapping its neighbour
        int x0 = 0;
        for (; x0 + kChunk <= w; x0 += kChunk)
            for (int i = 0; i < kChunk; i++)
                o[x0 + i] = window_median<T, R>(rows, x0 + i);
        if (x0 < w)
            for (int i = 0; i < kChunk; i++)
                o[w - kChunk + i] = window_median<T, R>(rows, w - kChunk + i);
    }
}

// ---- radius 2, sorted columns ----------------------------------------------
// Each column of five is sorted once and shared by the five windows holding it;
// a window then needs only the 61 comparators of median25_net.h (113 without
// the sorted columns). Two output rows are made together: their six source rows
// share four, which are sorted once, and each row inserts its own fifth.
template <class T> ORVO_CTMF_INLINE T median_sorted_columns(const T *const *s, int x) {
    using orvo::ctmf::kSortedColumnsNet;
    T v[25];
#pragma GCC unroll 25
    for (int k = 0; k < 25; k++)
        v[k] = s[k % 5][x + k / 5];
#pragma GCC unroll 64
    for (int c = 0; c < orvo::ctmf::kSortedColumnsCount; c++) {
        T p = v[kSortedColumnsNet[c][0]], q = v[kSortedColumnsNet[c][1]];
        v[kSortedColumnsNet[c][0]] = mn(p, q);
        v[kSortedColumnsNet[c][1]] = mx(p, q);
    }
    return v[orvo::ctmf::kSortedColumnsOut];
}

// The sorted column of q0..q3 (sorted) and e.
template <class T> struct Column5 {
    T s0, s1, s2, s3, s4;
};
template <class T> ORVO_CTMF_INLINE Column5<T> insert_sorted(T q0, T q1, T q2, T q3, T e) {
    return {mn(q0, e), mx(q0, mn(q1, e)), mx(q1, mn(q2, e)), mx(q2, mn(q3, e)), mx(q3, e)};
}

// Columns of rows r0..r4 into a0..a4 and of r1..r5 into b0..b4 (restrict
// parameters: the loop vectorises only when the stores cannot alias the rows).
template <class T>
void sort_columns(const T *__restrict r0, const T *__restrict r1, const T *__restrict r2, const T *__restrict r3,
                  const T *__restrict r4, const T *__restrict r5, T *__restrict a0, T *__restrict a1,
                  T *__restrict a2, T *__restrict a3, T *__restrict a4, T *__restrict b0, T *__restrict b1,
                  T *__restrict b2, T *__restrict b3, T *__restrict b4, int w) {
    for (int x = 0; x < w; x++) {
        // sort four: (0,1) (2,3) (0,2) (1,3) (1,2)
        T a = mn(r1[x], r2[x]), b = mx(r1[x], r2[x]), c = mn(r3[x], r4[x]), d = mx(r3[x], r4[x]);
        T q0 = mn(a, c), q2 = mx(a, c), q1 = mn(b, d), q3 = mx(b, d);
        T m1 = mn(q1, q2), m2 = mx(q1, q2);
        Column5<T> u = insert_sorted(q0, m1, m2, q3, r0[x]), v = insert_sorted(q0, m1, m2, q3, r5[x]);
        a0[x] = u.s0, a1[x] = u.s1, a2[x] = u.s2, a3[x] = u.s3, a4[x] = u.s4;
        b0[x] = v.s0, b1[x] = v.s1, b2[x] = v.s2, b3[x] = v.s3, b4[x] = v.s4;
    }
}

template <class T> void median_r2_columns(const T *src, ptrdiff_t ss, T *dst, ptrdiff_t ds, int w, int h) {
    // two rows of five sorted columns, each with two clamped samples either side
    const ptrdiff_t cw = w + 4;
    std::vector<T> buf(size_t(cw) * 10);
    T *sa[5], *sb[5];
    for (int k = 0; k < 5; k++) {
        sa[k] = buf.data() + k * cw;
        sb[k] = buf.data() + (k + 5) * cw;
    }
    auto row = [&](int y) { return src + clampi(y, 0, h - 1) * ss; };
    auto pad = [&](T *const *s) {
        for (int k = 0; k < 5; k++) {
            s[k][0] = s[k][1] = s[k][2];
            s[k][w + 3] = s[k][w + 2] = s[k][w + 1];
        }
    };
    constexpr int kChunk = 32 / sizeof(T);
    auto out_row = [&](T *const *s, T *__restrict o) {
        const T *const c[5] = {s[0], s[1], s[2], s[3], s[4]};
        if (w < kChunk) {
            for (int x = 0; x < w; x++)
                o[x] = median_sorted_columns(c, x);
            return;
        }
        int x0 = 0;
        for (; x0 + kChunk <= w; x0 += kChunk)
            for (int i = 0; i < kChunk; i++)
                o[x0 + i] = median_sorted_columns(c, x0 + i);
        if (x0 < w)
            for (int i = 0; i < kChunk; i++)
                o[w - kChunk + i] = median_sorted_columns(c, w - kChunk + i);
    };
    for (int y = 0; y < h; y += 2) {
        sort_columns(row(y - 2), row(y - 1), row(y), row(y + 1), row(y + 2), row(y + 3), sa[0] + 2, sa[1] + 2,
                     sa[2] + 2, sa[3] + 2, sa[4] + 2, sb[0] + 2, sb[1] + 2, sb[2] + 2, sb[3] + 2, sb[4] + 2, w);
        pad(sa);
        out_row(sa, dst + y * ds);
        if (y + 1 < h) {
            pad(sb);
            out_row(sb, dst + (y + 1) * ds);
        }
    }
}

// ---- radius >= 4 -----------------------------------------------------------
// One window histogram slid one pixel at a time along a snake path, so it is
// never rebuilt: each step removes and adds 2r+1 samples. The median is
// tracked as the value m with lt = number of window samples below m; after a
// step m moves to the neighbouring occupied values until it is the median
// again. Occupied values are kept in a two-level bitmap (one bit per value,
// one bit per 64-value word), so the walk skips empty stretches in O(1): at
// 16 bits a window of 49 samples leaves almost every value empty.
template <bool Clamp> class Histogram {
public:
    explicit Histogram(int bits)
        : count_(size_t(1) << bits, 0), words_((size_t(1) << bits) / 64 + 1, 0),
          groups_(words_.size() / 64 + 1, 0), max_((1 << bits) - 1) {}

    // Branch-free bitmap upkeep: whether a count crosses zero is data-dependent
    // and mispredicts constantly on sparse histograms. With Clamp, samples above
    // the declared depth (a 10-bit plane may hold any 16-bit value) count as its peak.
    void add(int v) {
        if constexpr (Clamp)
            v = mn(v, max_);
        count_[size_t(v)]++;
        words_[size_t(v >> 6)] |= bit(v);
        groups_[size_t(v >> 12)] |= bit(v >> 6);
        lt_ += v < m_;
    }
    void remove(int v) {
        if constexpr (Clamp)
            v = mn(v, max_);
        const uint64_t empty = --count_[size_t(v)] == 0;
        uint64_t &word = words_[size_t(v >> 6)];
        word &= ~(empty << (v & 63));
        groups_[size_t(v >> 12)] &= ~(uint64_t(word == 0) << ((v >> 6) & 63));
        lt_ -= v < m_;
    }
    // The sample at 0-based rank k of the window (k < number of samples).
    int select(int k) {
        while (lt_ > k) {
            m_ = prev_occupied(m_ - 1);
            lt_ -= count_[size_t(m_)];
        }
        while (lt_ + count_[size_t(m_)] <= k) {
            lt_ += count_[size_t(m_)];
            m_ = next_occupied(m_ + 1);
        }
        return m_;
    }

private:
    static uint64_t bit(int v) { return uint64_t(1) << (v & 63); }
    // Smallest occupied value >= v; one exists whenever the walk asks.
    int next_occupied(int v) const {
        int wi = v >> 6;
        uint64_t word = words_[size_t(wi)] & (~uint64_t(0) << (v & 63));
        if (word)
            return (wi << 6) + __builtin_ctzll(word);
        int next = wi + 1, gi = next >> 6;
        uint64_t group = groups_[size_t(gi)] & (~uint64_t(0) << (next & 63));
        while (!group)
            group = groups_[size_t(++gi)];
        int wj = (gi << 6) + __builtin_ctzll(group);
        return (wj << 6) + __builtin_ctzll(words_[size_t(wj)]);
    }
    // Largest occupied value <= v (v >= 0); one exists whenever the walk asks.
    int prev_occupied(int v) const {
        int wi = v >> 6;
        uint64_t word = words_[size_t(wi)] & (~uint64_t(0) >> (63 - (v & 63)));
        if (word)
            return (wi << 6) + 63 - __builtin_clzll(word);
        int prev = wi - 1, gi = prev >> 6;
        uint64_t group = groups_[size_t(gi)] & (~uint64_t(0) >> (63 - (prev & 63)));
        while (!group)
            group = groups_[size_t(--gi)];
        int wj = (gi << 6) + 63 - __builtin_clzll(group);
        return (wj << 6) + 63 - __builtin_clzll(words_[size_t(wj)]);
    }

    std::vector<uint16_t> count_; // a window holds at most 255 * 255 samples
    std::vector<uint64_t> words_, groups_;
    int max_;
    int m_ = 0, lt_ = 0;
};

// Clamp only where a sample exceeds the depth; a scan of the plane costs far less
// than clamping every histogram update.
template <class T> bool exceeds_depth(const T *src, ptrdiff_t ss, int w, int h, int bits) {
    if (bits >= int(8 * sizeof(T)))
        return false;
    T top = 0;
    for (int y = 0; y < h; y++) {
        const T *__restrict r = src + y * ss;
        for (int x = 0; x < w; x++)
            top = mx(top, r[x]);
    }
    return top >> bits != 0;
}

template <class T, bool Clamp>
void median_hist(const T *src, ptrdiff_t ss, T *dst, ptrdiff_t ds, int w, int h, int r, int bits) {
    Histogram<Clamp> hist(bits);
    std::vector<const T *> rowp(size_t(2 * r + 1));
    const int k = 2 * r * r + 2 * r; // rank of the median among (2r+1)^2 samples
    auto set_rows = [&](int y) {
        for (int dy = -r; dy <= r; dy++)
            rowp[size_t(dy + r)] = src + clampi(y + dy, 0, h - 1) * ss;
    };
    auto add_column = [&](int x) {
        const int cx = clampi(x, 0, w - 1);
        for (int i = 0; i <= 2 * r; i++)
            hist.add(int(rowp[size_t(i)][cx]));
    };
    auto remove_column = [&](int x) {
        const int cx = clampi(x, 0, w - 1);
        for (int i = 0; i <= 2 * r; i++)
            hist.remove(int(rowp[size_t(i)][cx]));
    };
    set_rows(0);
    for (int dx = -r; dx <= r; dx++)
        add_column(dx);
    int x = 0;
    for (int y = 0; y < h; y++) {
        if (y > 0) {
            const T *gone = src + clampi(y - 1 - r, 0, h - 1) * ss;
            const T *come = src + clampi(y + r, 0, h - 1) * ss;
            for (int dx = -r; dx <= r; dx++) {
                int cx = clampi(x + dx, 0, w - 1);
                hist.remove(int(gone[cx]));
                hist.add(int(come[cx]));
            }
            set_rows(y);
        }
        T *o = dst + y * ds;
        if (y % 2 == 0) {
            for (x = 0;; x++) {
                o[x] = T(hist.select(k));
                if (x == w - 1)
                    break;
                remove_column(x - r);
                add_column(x + 1 + r);
            }
        } else {
            for (x = w - 1;; x--) {
                o[x] = T(hist.select(k));
                if (x == 0)
                    break;
                remove_column(x + r);
                add_column(x - 1 - r);
            }
        }
    }
}

// Float planes at radius >= 4 (no histogram for float): select the median
// of the gathered window per pixel. Slow, but exact.
template <class T> void median_select(const T *src, ptrdiff_t ss, T *dst, ptrdiff_t ds, int w, int h, int r) {
    const int side = 2 * r + 1;
    std::vector<T> win(size_t(side) * size_t(side));
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            size_t n = 0;
            for (int dy = -r; dy <= r; dy++) {
                const T *row = src + clampi(y + dy, 0, h - 1) * ss;
                for (int dx = -r; dx <= r; dx++)
                    win[n++] = row[clampi(x + dx, 0, w - 1)];
            }
            auto mid = win.begin() + ptrdiff_t(n / 2);
            std::nth_element(win.begin(), mid, win.end());
            dst[y * ds + x] = *mid;
        }
}

template <bool SortedColumns, class T>
void median_any(const T *src, ptrdiff_t ss, T *dst, ptrdiff_t ds, int w, int h, int r, int bits) {
    if (w <= 0 || h <= 0)
        return;
    if (r == 1)
        median_r1(src, ss, dst, ds, w, h);
    else if (r == 2 && SortedColumns && !std::is_floating_point_v<T>)
        median_r2_columns(src, ss, dst, ds, w, h);
    else if (r == 2)
        median_net<T, 2>(src, ss, dst, ds, w, h);
    else if (r == 3)
        median_net<T, 3>(src, ss, dst, ds, w, h);
    else if constexpr (std::is_floating_point_v<T>)
        median_select(src, ss, dst, ds, w, h, r);
    else
        exceeds_depth(src, ss, w, h, bits) ? median_hist<T, true>(src, ss, dst, ds, w, h, r, bits)
                                           : median_hist<T, false>(src, ss, dst, ds, w, h, r, bits);
}

} // namespace

#define ORVO_CTMF_DEFINE(isa, sorted_columns)                                                                      \
    namespace orvo::ctmf {                                                                                        \
    void median_##isa(const uint8_t *src, ptrdiff_t ss, uint8_t *dst, ptrdiff_t ds, int w, int h, int radius,      \
                      int bits) {                                                                                  \
        median_any<sorted_columns>(src, ss, dst, ds, w, h, radius, bits);                                         \
    }                                                                                                              \
    void median_##isa(const uint16_t *src, ptrdiff_t ss, uint16_t *dst, ptrdiff_t ds, int w, int h, int radius,    \
                      int bits) {                                                                                  \
        median_any<sorted_columns>(src, ss, dst, ds, w, h, radius, bits);                                         \
    }                                                                                                              \
    void median_##isa(const float *src, ptrdiff_t ss, float *dst, ptrdiff_t ds, int w, int h, int radius) {         \
        median_any<sorted_columns>(src, ss, dst, ds, w, h, radius, 32);                                           \
    }                                                                                                              \
    }
