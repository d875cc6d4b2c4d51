// Per-pixel formulas of RemoveGrain and Repair and the row loops around them.
// Included by kernel_c.cpp and kernel_avx2.cpp, which compile the very same
// code for different instruction sets; everything here has internal linkage so
// the two copies never merge at link time.
//
// The code is branch-free min/max/select over whole rows so the compiler can
// vectorise it. Neighbourhood names:
//   a1 a2 a3
//   a4 c  a5
//   a6 a7 a8
// Opposite pairs: P1 = (a1, a8), P2 = (a2, a7), P3 = (a3, a6), P4 = (a4, a5).
// When several pairs share the minimal key, the first of P4, P2, P3, P1 wins.
#pragma once

#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <type_traits>
#include <utility>

// The per-pixel lambdas must be inlined into the column loops or nothing
// gets vectorised.
#define ORVO_FORCE_INLINE inline __attribute__((always_inline))
#define ORVO_FORCE_INLINE_LAMBDA __attribute__((always_inline))

namespace {

template <class T> struct Tr;
template <> struct Tr<uint8_t> {
    using W = uint16_t; // unsigned, room for sums of 16 samples
    using S = int16_t;  // signed differences
};
template <> struct Tr<uint16_t> {
    using W = uint32_t;
    using S = int32_t;
};
template <> struct Tr<float> {
    using W = float;
    using S = float;
};

template <class T> inline T mn(T a, T b) { return b < a ? b : a; }
template <class T> inline T mx(T a, T b) { return a < b ? b : a; }
// Only used where lo <= hi holds.
template <class T> inline T clampv(T x, T lo, T hi) { return mn(mx(x, lo), hi); }
template <class T> inline T med3(T a, T b, T c) { return mx(mn(a, b), mn(mx(a, b), c)); }
template <class T> inline T absdiff(T a, T b) { return mx(a, b) - mn(a, b); }
template <class T> inline void sort2(T &a, T &b) {
    T lo = mn(a, b);
    b = mx(a, b);
    a = lo;
}

template <class T> inline T avg_up(T a, T b) {
    if constexpr (std::is_floating_point_v<T>)
        return (a + b) * 0.5f;
    else
        return T((typename Tr<T>::W(a) + b + 1) >> 1);
}
template <class T> inline T avg_down(T a, T b) {
    if constexpr (std::is_floating_point_v<T>)
        return (a + b) * 0.5f;
    else
        return T((typename Tr<T>::W(a) + b) >> 1);
}

// Keys of modes 6 and 8 saturate at 65535 (only reachable from 16-bit input).
template <class W> inline W sat_key(W k) {
    if constexpr (std::is_same_v<W, uint32_t>)
        return mn<W>(k, 65535u);
    else
        return k;
}

// Ascending order of 8 values (19 comparators).
template <class T> inline void sort8(T v[8]) {
    sort2(v[0], v[2]); sort2(v[1], v[3]); sort2(v[4], v[6]); sort2(v[5], v[7]);
    sort2(v[0], v[4]); sort2(v[1], v[5]); sort2(v[2], v[6]); sort2(v[3], v[7]);
    sort2(v[0], v[1]); sort2(v[2], v[3]); sort2(v[4], v[5]); sort2(v[6], v[7]);
    sort2(v[2], v[4]); sort2(v[3], v[5]);
    sort2(v[1], v[4]); sort2(v[3], v[6]);
    sort2(v[1], v[2]); sort2(v[3], v[4]); sort2(v[5], v[6]);
}

// Ascending order of 9 values (25 comparators).
template <class T> inline void sort9(T v[9]) {
    sort2(v[0], v[3]); sort2(v[1], v[7]); sort2(v[2], v[5]); sort2(v[4], v[8]);
    sort2(v[0], v[7]); sort2(v[2], v[4]); sort2(v[3], v[8]); sort2(v[5], v[6]);
    sort2(v[0], v[2]); sort2(v[1], v[3]); sort2(v[4], v[5]); sort2(v[7], v[8]);
    sort2(v[1], v[4]); sort2(v[3], v[6]); sort2(v[5], v[7]);
    sort2(v[0], v[1]); sort2(v[2], v[4]); sort2(v[3], v[5]); sort2(v[6], v[8]);
    sort2(v[2], v[3]); sort2(v[4], v[5]); sort2(v[6], v[7]);
    sort2(v[1], v[2]); sort2(v[3], v[4]); sort2(v[5], v[6]);
}

// Second smallest of 8 values (equal to the smallest when it occurs twice).
template <class T> inline T second_smallest(const T d[8]) {
    T m1 = mn(d[0], d[1]), m2 = mx(d[0], d[1]);
    for (int i = 2; i < 8; i++) {
        m2 = mn(m2, mx(m1, d[i]));
        m1 = mn(m1, d[i]);
    }
    return m2;
}

// Pair bounds in tie order P4, P2, P3, P1.
template <class T> struct Pairs {
    T lo[4], hi[4];
    Pairs(T a1, T a2, T a3, T a4, T a5, T a6, T a7, T a8) {
        lo[0] = mn(a4, a5); hi[0] = mx(a4, a5);
        lo[1] = mn(a2, a7); hi[1] = mx(a2, a7);
        lo[2] = mn(a3, a6); hi[2] = mx(a3, a6);
        lo[3] = mn(a1, a8); hi[3] = mx(a1, a8);
    }
};

// Index-free selection: the value of the first minimal key in tie order.
template <class K, class V> inline V pick_min(const K key[], const V val[], int n) {
    K best = key[0];
    V out = val[0];
    for (int i = 1; i < n; i++) {
        bool better = key[i] < best;
        best = better ? key[i] : best;
        out = better ? val[i] : out;
    }
    return out;
}

template <int Mode, class T>
inline T rg_pixel(T a1, T a2, T a3, T a4, T c, T a5, T a6, T a7, T a8) {
    using W = typename Tr<T>::W;
    using S = typename Tr<T>::S;
    constexpr bool flt = std::is_floating_point_v<T>;
    if constexpr (Mode == 1) {
        T lo = mn(mn(mn(a1, a2), mn(a3, a4)), mn(mn(a5, a6), mn(a7, a8)));
        T hi = mx(mx(mx(a1, a2), mx(a3, a4)), mx(mx(a5, a6), mx(a7, a8)));
        return clampv(c, lo, hi);
    } else if constexpr (Mode == 4) {
        // Clamping c between the 4th and 5th smallest neighbour gives the 5th
        // smallest of all nine: the 3x3 median, from sorted columns. Computed
        // per pixel in registers; keeping the sorted columns in a buffer to
        // share them between neighbours was slower (bound by loads/stores).
        T l0 = mn(mn(a1, a4), a6), h0 = mx(mx(a1, a4), a6), m0 = med3(a1, a4, a6);
        T l1 = mn(mn(a2, c), a7), h1 = mx(mx(a2, c), a7), m1 = med3(a2, c, a7);
        T l2 = mn(mn(a3, a5), a8), h2 = mx(mx(a3, a5), a8), m2 = med3(a3, a5, a8);
        return med3(mx(mx(l0, l1), l2), med3(m0, m1, m2), mn(mn(h0, h1), h2));
    } else if constexpr (Mode >= 2 && Mode <= 4) {
        T s[8] = {a1, a2, a3, a4, a5, a6, a7, a8};
        sort8(s);
        return clampv(c, s[Mode - 1], s[8 - Mode]);
    } else if constexpr (Mode >= 5 && Mode <= 8) {
        Pairs<T> p(a1, a2, a3, a4, a5, a6, a7, a8);
        W key[4];
        T cl[4];
        for (int i = 0; i < 4; i++) {
            cl[i] = clampv(c, p.lo[i], p.hi[i]);
            W d = W(absdiff(c, cl[i]));
            W r = W(p.hi[i] - p.lo[i]);
            if constexpr (Mode == 5)
                key[i] = d;
            else if constexpr (Mode == 6)
                key[i] = sat_key<W>(W(d + d + r));
            else if constexpr (Mode == 7)
                key[i] = W(d + r);
            else
                key[i] = sat_key<W>(W(d + r + r));
        }
        return pick_min(key, cl, 4);
    } else if constexpr (Mode == 9 || Mode == 18) {
        Pairs<T> p(a1, a2, a3, a4, a5, a6, a7, a8);
        T key[4];
        for (int i = 0; i < 4; i++) {
            if constexpr (Mode == 9)
                key[i] = T(p.hi[i] - p.lo[i]);
            else
                key[i] = mx(absdiff(c, p.lo[i]), absdiff(c, p.hi[i]));
        }
        T lo = pick_min(key, p.lo, 4), hi = pick_min(key, p.hi, 4);
        return clampv(c, lo, hi);
    } else if constexpr (Mode == 10) {
        const T v[8] = {a7, a8, a6, a2, a3, a1, a5, a4};
        T key[8];
        for (int i = 0; i < 8; i++)
            key[i] = absdiff(c, v[i]);
        return pick_min(key, v, 8);
    } else if constexpr (Mode == 11 || Mode == 12) {
        if constexpr (flt)
            return (4 * c + 2 * (a2 + a4 + a5 + a7) + a1 + a3 + a6 + a8) * (1.0f / 16);
        else
            return T(W(4 * W(c) + 2 * (W(a2) + a4 + a5 + a7) + a1 + a3 + a6 + a8 + 8) >> 4);
    } else if constexpr (Mode >= 13 && Mode <= 16) {
        // P2, P3, P1 in this tie order; the horizontal pair and c are not used.
        const T lo[3] = {mn(a2, a7), mn(a3, a6), mn(a1, a8)};
        const T hi[3] = {mx(a2, a7), mx(a3, a6), mx(a1, a8)};
        const T key[3] = {T(hi[0] - lo[0]), T(hi[1] - lo[1]), T(hi[2] - lo[2])};
        T l = pick_min(key, lo, 3), h = pick_min(key, hi, 3);
        if constexpr (Mode <= 14)
            return avg_up(l, h);
        T m;
        if constexpr (flt)
            m = (2 * (a2 + a7) + a1 + a3 + a6 + a8) * 0.125f;
        else
            m = T(W(2 * (W(a2) + a7) + a1 + a3 + a6 + a8 + 4) >> 3);
        return clampv(m, l, h);
    } else if constexpr (Mode == 17) {
        Pairs<T> p(a1, a2, a3, a4, a5, a6, a7, a8);
        T l = mx(mx(p.lo[0], p.lo[1]), mx(p.lo[2], p.lo[3]));
        T u = mn(mn(p.hi[0], p.hi[1]), mn(p.hi[2], p.hi[3]));
        return clampv(c, mn(l, u), mx(l, u));
    } else if constexpr (Mode == 19) {
        if constexpr (flt)
            return (a1 + a2 + a3 + a4 + a5 + a6 + a7 + a8) * 0.125f;
        else
            return T(W(W(a1) + a2 + a3 + a4 + a5 + a6 + a7 + a8 + 4) >> 3);
    } else if constexpr (Mode == 20) {
        if constexpr (flt)
            return (a1 + a2 + a3 + a4 + c + a5 + a6 + a7 + a8) / 9.0f;
        else
            return T(W(W(a1) + a2 + a3 + a4 + c + a5 + a6 + a7 + a8 + 4) / 9u);
    } else if constexpr (Mode == 21 || Mode == 22) {
        Pairs<T> p(a1, a2, a3, a4, a5, a6, a7, a8);
        T l, u;
        if constexpr (Mode == 21) {
            l = mn(mn(avg_down(p.lo[0], p.hi[0]), avg_down(p.lo[1], p.hi[1])),
                   mn(avg_down(p.lo[2], p.hi[2]), avg_down(p.lo[3], p.hi[3])));
            u = mx(mx(avg_up(p.lo[0], p.hi[0]), avg_up(p.lo[1], p.hi[1])),
                   mx(avg_up(p.lo[2], p.hi[2]), avg_up(p.lo[3], p.hi[3])));
        } else {
            T v[4];
            for (int i = 0; i < 4; i++)
                v[i] = avg_up(p.lo[i], p.hi[i]);
            l = mn(mn(v[0], v[1]), mn(v[2], v[3]));
            u = mx(mx(v[0], v[1]), mx(v[2], v[3]));
        }
        return clampv(c, l, u);
    } else if constexpr (Mode == 23 || Mode == 24) {
        Pairs<T> p(a1, a2, a3, a4, a5, a6, a7, a8);
        S up = 0, dn = 0;
        const S sc = S(c);
        for (int i = 0; i < 4; i++) {
            S r = S(S(p.hi[i]) - S(p.lo[i]));
            S tu = S(sc - S(p.hi[i]));
            S td = S(S(p.lo[i]) - sc);
            if constexpr (Mode == 23) {
                up = mx(up, mn(tu, r));
                dn = mx(dn, mn(td, r));
            } else {
                up = mx(up, mn(tu, S(r - tu)));
                dn = mx(dn, mn(td, S(r - td)));
            }
        }
        return T(sc - up + dn);
    } else {
        static_assert(Mode >= 1 && Mode <= 24, "mode");
        return c;
    }
}

// Repair: `cr` from the clip being repaired, `c` and a1..a8 from the repair clip.
template <int Mode, class T>
inline T rp_pixel(T cr, T a1, T a2, T a3, T a4, T c, T a5, T a6, T a7, T a8) {
    using W = typename Tr<T>::W;
    using S = typename Tr<T>::S;
    if constexpr (Mode >= 1 && Mode <= 4) {
        T t[9] = {a1, a2, a3, a4, c, a5, a6, a7, a8};
        sort9(t);
        return clampv(cr, t[Mode - 1], t[9 - Mode]);
    } else if constexpr (Mode == 11) {
        T lo = mn(mn(mn(mn(a1, a2), mn(a3, a4)), mn(mn(a5, a6), mn(a7, a8))), c);
        T hi = mx(mx(mx(mx(a1, a2), mx(a3, a4)), mx(mx(a5, a6), mx(a7, a8))), c);
        return clampv(cr, lo, hi);
    } else if constexpr (Mode >= 5 && Mode <= 9) {
        Pairs<T> p(a1, a2, a3, a4, a5, a6, a7, a8);
        T lo[4], hi[4];
        W key[4];
        T cl[4];
        for (int i = 0; i < 4; i++) {
            lo[i] = mn(p.lo[i], c);
            hi[i] = mx(p.hi[i], c);
            cl[i] = clampv(cr, lo[i], hi[i]);
            W d = W(absdiff(cr, cl[i]));
            W r = W(hi[i] - lo[i]);
            if constexpr (Mode == 5)
                key[i] = d;
            else if constexpr (Mode == 6)
                key[i] = sat_key<W>(W(d + d + r));
            else if constexpr (Mode == 7)
                key[i] = W(d + r);
            else if constexpr (Mode == 8)
                key[i] = sat_key<W>(W(d + r + r));
            else
                key[i] = r;
        }
        return pick_min(key, cl, 4);
    } else if constexpr (Mode == 10) {
        const T v[9] = {a7, a8, a6, a2, a3, a1, a5, c, a4};
        T key[9];
        for (int i = 0; i < 9; i++)
            key[i] = absdiff(cr, v[i]);
        return pick_min(key, v, 9);
    } else if constexpr (Mode >= 12 && Mode <= 14) {
        T s[8] = {a1, a2, a3, a4, a5, a6, a7, a8};
        sort8(s);
        return clampv(cr, mn(s[Mode - 11], c), mx(s[18 - Mode], c));
    } else if constexpr (Mode == 15 || Mode == 16 || Mode == 18) {
        Pairs<T> p(a1, a2, a3, a4, a5, a6, a7, a8);
        W key[4];
        for (int i = 0; i < 4; i++) {
            if constexpr (Mode == 18) {
                key[i] = W(mx(absdiff(c, p.lo[i]), absdiff(c, p.hi[i])));
            } else {
                W d = W(absdiff(c, clampv(c, p.lo[i], p.hi[i])));
                key[i] = Mode == 15 ? d : sat_key<W>(W(d + d + W(p.hi[i] - p.lo[i])));
            }
        }
        T lo = pick_min(key, p.lo, 4), hi = pick_min(key, p.hi, 4);
        return clampv(cr, mn(lo, c), mx(hi, c));
    } else if constexpr (Mode == 17) {
        Pairs<T> p(a1, a2, a3, a4, a5, a6, a7, a8);
        T l = mx(mx(p.lo[0], p.lo[1]), mx(p.lo[2], p.lo[3]));
        T u = mn(mn(p.hi[0], p.hi[1]), mn(p.hi[2], p.hi[3]));
        return clampv(cr, mn(mn(l, u), c), mx(mx(l, u), c));
    } else if constexpr (Mode == 19 || Mode == 20 || Mode == 22 || Mode == 23) {
        // 19/20: band around the repair centre; 22/23: roles swapped.
        constexpr bool swap = Mode >= 22;
        const T centre = swap ? cr : c;
        const T d[8] = {absdiff(centre, a1), absdiff(centre, a2), absdiff(centre, a3), absdiff(centre, a4),
                        absdiff(centre, a5), absdiff(centre, a6), absdiff(centre, a7), absdiff(centre, a8)};
        T m;
        if constexpr (Mode == 19 || Mode == 22)
            m = mn(mn(mn(d[0], d[1]), mn(d[2], d[3])), mn(mn(d[4], d[5]), mn(d[6], d[7])));
        else
            m = second_smallest(d);
        const S lo = S(S(centre) - S(m)), hi = S(S(centre) + S(m));
        return T(clampv(S(swap ? c : cr), lo, hi));
    } else if constexpr (Mode == 21 || Mode == 24) {
        constexpr bool swap = Mode == 24;
        const S centre = S(swap ? cr : c);
        Pairs<T> p(a1, a2, a3, a4, a5, a6, a7, a8);
        S u = 0;
        for (int i = 0; i < 4; i++) {
            S ui = mx(mx(S(S(p.hi[i]) - centre), S(centre - S(p.lo[i]))), S(0));
            u = i == 0 ? ui : mn(u, ui);
        }
        return T(clampv(S(swap ? c : cr), S(centre - u), S(centre + u)));
    } else {
        static_assert(Mode >= 1 && Mode <= 24, "mode");
        return cr;
    }
}

// Calls body(x) for x = 1 .. w-2. Full runs of Chunk columns go through a
// loop of constant length, which the compiler turns into straight vector code;
// the last run overlaps the previous one instead of ending in a scalar tail
// (outputs depend on the input only, so computing a column twice is harmless).
template <int Chunk, class F> ORVO_FORCE_INLINE void inner_columns(int w, F &&body) {
    if (w - 2 < Chunk) {
        for (int x = 1; x < w - 1; x++)
            body(x);
        return;
    }
    int x0 = 1;
    for (; x0 + Chunk <= w - 1; x0 += Chunk)
        for (int i = 0; i < Chunk; i++)
            body(x0 + i);
    if (x0 < w - 1) {
        x0 = w - 1 - Chunk;
        for (int i = 0; i < Chunk; i++)
            body(x0 + i);
    }
}

constexpr int kChunk = 64;

template <class T> inline void copy_row(const T *src, T *dst, int w) { std::memcpy(dst, src, sizeof(T) * size_t(w)); }

// Which rows a mode filters: 0 all inner rows, 1 even rows only, 2 odd rows only.
constexpr int row_parity(int mode) {
    return (mode == 13 || mode == 15) ? 1 : (mode == 14 || mode == 16) ? 2 : 0;
}

// Modes whose 3x3 result factors into a per-column pass shared by three
// outputs and a short horizontal pass: the integer kernels 11/12/20 are
// exact sums, so splitting them into column sums changes nothing.
template <int Mode, class T> constexpr bool blocked_mode() {
    return (!std::is_floating_point_v<T> && (Mode == 11 || Mode == 12 || Mode == 20));
}

constexpr int kBlock = 512;

// Hand-written rows of one build (kernel_avx2.cpp specialises this for the
// modes where they pay). run() fills out[1, w-1) and needs w >= min_width.
template <int Mode, class T> struct FastRow {
    static constexpr bool value = false;
    static constexpr int min_width = 0;
    static void run(const T *, const T *, const T *, T *, int) {}
};

// Outputs x0 .. x0+n-1 (n <= kBlock) of one row from rows up/mid/dn.
template <int Mode, class T> void rg_block(const T *up, const T *mid, const T *dn, T *out, int x0, int n) {
    using W = typename Tr<T>::W;
    const T *__restrict u = up + x0 - 1;
    const T *__restrict m = mid + x0 - 1;
    const T *__restrict d = dn + x0 - 1;
    T *__restrict o = out + x0;
    if constexpr (Mode == 11 || Mode == 12) {
        W v[kBlock + 2];
        for (int i = 0; i < n + 2; i++)
            v[i] = W(W(u[i]) + 2 * W(m[i]) + d[i]);
        for (int i = 0; i < n; i++)
            o[i] = T(W(v[i] + 2 * v[i + 1] + v[i + 2] + 8) >> 4);
    } else {
        W v[kBlock + 2];
        for (int i = 0; i < n + 2; i++)
            v[i] = W(W(u[i]) + m[i] + d[i]);
        for (int i = 0; i < n; i++)
            o[i] = T(W(v[i] + v[i + 1] + v[i + 2] + 4) / 9u);
    }
}

template <int Mode, class T> void rg_row_blocked(const T *up, const T *mid, const T *dn, T *out, int w) {
    for (int x0 = 1; x0 < w - 1; x0 += kBlock)
        rg_block<Mode, T>(up, mid, dn, out, x0, std::min(kBlock, w - 1 - x0));
}

template <int Mode, class T>
void rg_plane(const T *src, ptrdiff_t ss, T *dst, ptrdiff_t ds, int w, int h) {
    for (int y = 0; y < h; y++) {
        const T *s = src + y * ss;
        T *d = dst + y * ds;
        constexpr int parity = row_parity(Mode);
        bool filtered = y > 0 && y < h - 1 && w > 2 &&
                        (parity == 0 || (parity == 1 && y % 2 == 0) || (parity == 2 && y % 2 == 1));
        if (!filtered) {
            copy_row(s, d, w);
            continue;
        }
        const T *__restrict up = s - ss;
        const T *__restrict mid = s;
        const T *__restrict dn = s + ss;
        T *__restrict out = d;
        out[0] = mid[0];
        auto pixel = [&](int x) ORVO_FORCE_INLINE_LAMBDA {
            out[x] = rg_pixel<Mode, T>(up[x - 1], up[x], up[x + 1], mid[x - 1], mid[x], mid[x + 1], dn[x - 1], dn[x],
                                       dn[x + 1]);
        };
        if constexpr (FastRow<Mode, T>::value) {
            if (w >= FastRow<Mode, T>::min_width)
                FastRow<Mode, T>::run(up, mid, dn, out, w);
            else
                inner_columns<kChunk>(w, pixel);
        } else if constexpr (blocked_mode<Mode, T>())
            rg_row_blocked<Mode, T>(up, mid, dn, out, w);
        else
            inner_columns<kChunk>(w, pixel);
        out[w - 1] = mid[w - 1];
    }
}

template <int Mode, class T>
void rp_plane(const T *src, ptrdiff_t ss, const T *rep, ptrdiff_t rs, T *dst, ptrdiff_t ds, int w, int h) {
    for (int y = 0; y < h; y++) {
        const T *s = src + y * ss;
        T *d = dst + y * ds;
        if (y == 0 || y == h - 1 || w < 3) {
            copy_row(s, d, w);
            continue;
        }
        const T *r = rep + y * rs;
        const T *__restrict cr = s;
        const T *__restrict up = r - rs;
        const T *__restrict mid = r;
        const T *__restrict dn = r + rs;
        T *__restrict out = d;
        out[0] = cr[0];
        inner_columns<kChunk>(w, [&](int x) ORVO_FORCE_INLINE_LAMBDA {
            out[x] = rp_pixel<Mode, T>(cr[x], up[x - 1], up[x], up[x + 1], mid[x - 1], mid[x], mid[x + 1],
                                       dn[x - 1], dn[x], dn[x + 1]);
        });
        out[w - 1] = cr[w - 1];
    }
}

template <class T> void copy_plane(const T *src, ptrdiff_t ss, T *dst, ptrdiff_t ds, int w, int h) {
    for (int y = 0; y < h; y++)
        copy_row(src + y * ss, dst + y * ds, w);
}

template <class T> using RgFn = void (*)(const T *, ptrdiff_t, T *, ptrdiff_t, int, int);
template <class T> using RpFn = void (*)(const T *, ptrdiff_t, const T *, ptrdiff_t, T *, ptrdiff_t, int, int);

template <class T, int... M> constexpr RgFn<T> rg_table_entry(int mode, std::integer_sequence<int, M...>) {
    RgFn<T> fns[] = {rg_plane<M + 1, T>...};
    return fns[mode - 1];
}
template <class T, int... M> constexpr RpFn<T> rp_table_entry(int mode, std::integer_sequence<int, M...>) {
    RpFn<T> fns[] = {rp_plane<M + 1, T>...};
    return fns[mode - 1];
}

template <class T> void remove_grain_any(const T *src, ptrdiff_t ss, T *dst, ptrdiff_t ds, int w, int h, int mode) {
    if (mode <= 0 || mode > 24) {
        copy_plane(src, ss, dst, ds, w, h);
        return;
    }
    rg_table_entry<T>(mode, std::make_integer_sequence<int, 24>())(src, ss, dst, ds, w, h);
}

template <class T>
void repair_any(const T *src, ptrdiff_t ss, const T *rep, ptrdiff_t rs, T *dst, ptrdiff_t ds, int w, int h,
                int mode) {
    if (mode <= 0 || mode > 24) {
        copy_plane(src, ss, dst, ds, w, h);
        return;
    }
    rp_table_entry<T>(mode, std::make_integer_sequence<int, 24>())(src, ss, rep, rs, dst, ds, w, h);
}

} // namespace

#define ORVO_RGVS_DEFINE(isa)                                                                                      \
    namespace orvo::rgvs {                                                                                         \
    void remove_grain_##isa(const uint8_t *src, ptrdiff_t ss, uint8_t *dst, ptrdiff_t ds, int w, int h, int mode) { \
        remove_grain_any(src, ss, dst, ds, w, h, mode);                                                            \
    }                                                                                                              \
    void remove_grain_##isa(const uint16_t *src, ptrdiff_t ss, uint16_t *dst, ptrdiff_t ds, int w, int h,          \
                            int mode) {                                                                            \
        remove_grain_any(src, ss, dst, ds, w, h, mode);                                                            \
    }                                                                                                              \
    void remove_grain_##isa(const float *src, ptrdiff_t ss, float *dst, ptrdiff_t ds, int w, int h, int mode) {     \
        remove_grain_any(src, ss, dst, ds, w, h, mode);                                                            \
    }                                                                                                              \
    void repair_##isa(const uint8_t *src, ptrdiff_t ss, const uint8_t *rep, ptrdiff_t rs, uint8_t *dst,            \
                      ptrdiff_t ds, int w, int h, int mode) {                                                      \
        repair_any(src, ss, rep, rs, dst, ds, w, h, mode);                                                         \
    }                                                                                                              \
    void repair_##isa(const uint16_t *src, ptrdiff_t ss, const uint16_t *rep, ptrdiff_t rs, uint16_t *dst,         \
                      ptrdiff_t ds, int w, int h, int mode) {                                                      \
        repair_any(src, ss, rep, rs, dst, ds, w, h, mode);                                                         \
    }                                                                                                              \
    void repair_##isa(const float *src, ptrdiff_t ss, const float *rep, ptrdiff_t rs, float *dst, ptrdiff_t ds,     \
                      int w, int h, int mode) {                                                                    \
        repair_any(src, ss, rep, rs, dst, ds, w, h, mode);                                                         \
    }                                                                                                              \
    }
