// Pieces shared by the scalar reference and the AVX2 file.
#pragma once

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "kernel.h"

namespace orvo::eedi2::detail {

// Tolerance per direction magnitude (pixels), in 8-bit map units.  The last two
// entries are hit only by "no direction" and make every comparison fail.
constexpr int LIM[33] = {6,  6,  7,  7,  8,  8,  9,  9,  9,  10, 10, 11, 11, 12, 12, 12, 12,
                         12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, -1, -1};

constexpr int NO_DIR = INT_MIN;

inline int iabs(int v) { return v < 0 ? -v : v; }
inline int clampi(int v, int lo, int hi) { return v < lo ? lo : (v > hi ? hi : v); }

// Insertion sort for the short neighbour lists (at most 9 entries).
inline void sort_small(int *v, int n) {
    for (int i = 1; i < n; i++) {
        int t = v[i], j = i - 1;
        while (j >= 0 && v[j] > t) {
            v[j + 1] = v[j];
            j--;
        }
        v[j + 1] = t;
    }
}

// Median of a sorted list; an even count averages the middle pair, truncating toward 0.
inline int median_sorted(const int *v, int n) { return (n & 1) ? v[n / 2] : (v[n / 2 - 1] + v[n / 2] + 1) / 2; }

// Sum and count of the values of L[0..n) within lim of mid.
inline void sum_near(const int *L, int n, int mid, int lim, int &sum, int &cnt) {
    for (int i = 0; i < n; i++)
        if (iabs(L[i] - mid) <= lim) {
            sum += L[i];
            cnt++;
        }
}

// Combines the five winners of the direction search (NO_DIR = none) into one map value.
inline int vote_dirs(const int *dirs, int N, int q) {
    int L[5], n = 0;
    for (int i = 0; i < 5; i++)
        if (dirs[i] != NO_DIR)
            L[n++] = dirs[i];
    if (n < 2)
        return N;
    sort_small(L, n);
    const int mid = median_sorted(L, n);
    const int lim = LIM[iabs(mid)] / 4 > 2 ? LIM[iabs(mid)] / 4 : 2;
    int sum = 0, cnt = 0;
    sum_near(L, n, mid, lim, sum, cnt);
    if (cnt < 2)
        return N;
    return N + int(float(sum) / float(cnt)) * (1 << q);
}

// Tolerance for a stored direction v (negative for "no direction", so every test fails).
inline int lim2(int v, int N, int q, int s) {
    int i = iabs(v - N) >> q;
    return LIM[i > 32 ? 32 : i] * (1 << s);
}

// Single-precision rounded average, as the map smoothing steps do it.
inline int round_div(int t, int n) { return int(float(t) / float(n) + 0.5f); }

// 3x3 smoothing of a direction map at column x (rows t, m, b; a missing row is all P):
// at least four values near their median, five when the centre has none.
inline int filter_px(const uint16_t *t, const uint16_t *m, const uint16_t *b, int x, int P, int N, int q, int s) {
    int L[9], n = 0;
    for (const uint16_t *r : {t, m, b})
        for (int i = x - 1; i <= x + 1; i++)
            if (r[i] != P)
                L[n++] = r[i];
    if (n < 4)
        return P;
    sort_small(L, n);
    const int mid = median_sorted(L, n), lim = lim2(mid, N, q, s);
    int sum = 0, cnt = 0;
    sum_near(L, n, mid, lim, sum, cnt);
    if (cnt < 4 || (cnt < 5 && m[x] == P))
        return P;
    return round_div(sum + mid, cnt + 1);
}

// Direction of an interpolated pixel from the two kept rows' directions (ua above, uc below);
// P when they do not agree well enough.
inline int mark2x_px(const uint16_t *ua, const uint16_t *uc, int x, int P, int N, int q, int s) {
    int L[6], n = 0;
    for (int v : {int(ua[x - 1]), int(ua[x]), int(ua[x + 1]), int(uc[x - 1]), int(uc[x]), int(uc[x + 1])})
        if (v != P)
            L[n++] = v;
    if (n < 3)
        return P;
    sort_small(L, n);
    const int mid = median_sorted(L, n), lim = lim2(mid, N, q, s);
    int agree = 0;
    agree += iabs(ua[x - 1] - uc[x - 1]) <= lim || ua[x - 1] == P || uc[x - 1] == P;
    agree += iabs(ua[x] - uc[x]) <= lim || ua[x] == P || uc[x] == P;
    // upstream pairs upper-right with lower-left here (while testing lower-right for "none"); kept on purpose
    agree += iabs(ua[x + 1] - uc[x - 1]) <= lim || ua[x + 1] == P || uc[x + 1] == P;
    if (agree < 2)
        return P;
    int sum = 0, cnt = 0;
    sum_near(L, n, mid, lim, sum, cnt);
    if (cnt < n - 2 || cnt < 2)
        return P;
    return round_div(sum + mid, cnt + 1);
}

// mark2x_px over columns 1..w-2 where ea or ec is P; `out` must hold P elsewhere.
void mark2x_row_avx2(const uint16_t *ua, const uint16_t *uc, const uint16_t *ea, const uint16_t *ec, uint16_t *out,
                     int w, int P, int N, int q, int s);

// Fills an empty direction from its 8 neighbours when at least five of them agree.
inline int expand_px(const uint16_t *t, const uint16_t *m, const uint16_t *b, int x, int P, int N, int q, int s) {
    int L[8], n = 0;
    for (int v : {int(t[x - 1]), int(t[x]), int(t[x + 1]), int(m[x - 1]), int(m[x + 1]), int(b[x - 1]), int(b[x]),
                  int(b[x + 1])})
        if (v != P)
            L[n++] = v;
    if (n < 5)
        return P;
    sort_small(L, n);
    const int mid = median_sorted(L, n), lim = lim2(mid, N, q, s);
    int sum = 0, cnt = 0;
    sum_near(L, n, mid, lim, sum, cnt);
    return cnt < 5 ? P : round_div(sum + mid, cnt + 1);
}

// expand_px over columns 1..w-2 where m is P and g1 or g2 is P; `out` holds m's values elsewhere.
void expand_row_avx2(const uint16_t *t, const uint16_t *m, const uint16_t *b, const uint16_t *g1,
                     const uint16_t *g2, uint16_t *out, int w, int P, int N, int q, int s);

// filter_px over columns 1..w-2 where g1 or g2 is P; other columns of `out` are left alone.
void filter_row_avx2(const uint16_t *t, const uint16_t *m, const uint16_t *b, const uint16_t *g1,
                     const uint16_t *g2, uint16_t *out, int w, int P, int N, int q, int s);

// Edge mask at column x of row c, with rows a above and n below.
struct EdgeArgs {
    int s, P, lt;
    int64_t mt, vt; // mthresh^2 and 81*vthresh, unscaled
};

template <class T>
inline int edge_px(const T *a, const T *c, const T *n, int x, const EdgeArgs &ea) {
    const int s = ea.s, flat = 10 << s;
    auto vflat = [&](int i) {
        return iabs(a[i] - c[i]) < flat && iabs(c[i] - n[i]) < flat && iabs(a[i] - n[i]) < flat;
    };
    if (vflat(x) || (vflat(x - 1) && vflat(x + 1)))
        return 0;
    int sum = 0, sq = 0;
    for (int i = x - 1; i <= x + 1; i++) {
        sum += a[i] + c[i] + n[i];
        const int va = a[i] >> s, vc = c[i] >> s, vn = n[i] >> s;
        sq += va * va + vc * vc + vn * vn;
    }
    sum >>= s; // the sum is shifted after adding, each square before: the difference can wrap
    const uint32_t var = uint32_t(9 * sq - sum * sum);
    if (int64_t(var) < ea.vt)
        return 0;
    const int gx = iabs(c[x + 1] - c[x - 1]) >> s;
    int gy = iabs(a[x] - n[x]);
    gy = std::max(gy, iabs(a[x] - c[x]));
    gy = std::max(gy, iabs(c[x] - n[x])) >> s;
    if (int64_t(gx) * gx + int64_t(gy) * gy >= ea.mt)
        return ea.P;
    const int lx = iabs(c[x - 1] - 2 * c[x] + c[x + 1]) >> s;
    const int ly = iabs(a[x] - 2 * c[x] + n[x]) >> s;
    return lx + ly >= ea.lt ? ea.P : 0;
}

void edge_row_avx2(const uint8_t *a, const uint8_t *c, const uint8_t *n, uint16_t *e, int w, const EdgeArgs &ea);
void edge_row_avx2(const uint16_t *a, const uint16_t *c, const uint16_t *n, uint16_t *e, int w, const EdgeArgs &ea);

// Erosion or dilation of interior columns 1..w-2 of one mask row (c; a above, n below).
void morph_row_avx2(const uint16_t *a, const uint16_t *c, const uint16_t *n, uint16_t *o, int w, int P, int thr,
                    bool erode);

// pp=1 check of one interpolated row: go = final directions, gn = the same re-smoothed.
void post_row_avx2(const uint8_t *A, const uint8_t *B, const uint16_t *go, const uint16_t *gn, uint8_t *o, int w,
                   int P, int N, int q, int s);
void post_row_avx2(const uint16_t *A, const uint16_t *B, const uint16_t *go, const uint16_t *gn, uint16_t *o, int w,
                   int P, int N, int q, int s);

// Interpolation of one row along the double-height directions.
struct InterpArgs {
    int w, P, N, q, s;
    int nt4, nt7, nt8; // saturated multiples of NT
    int r4;            // radius of the fallback search
};

// Same result as the scalar row interpolation; G is updated in place the same way.
void interpolate_row_avx2(const uint8_t *A, const uint8_t *B, const uint16_t *UA, const uint16_t *UB, uint16_t *G,
                          uint8_t *O, const InterpArgs &a, Workspace &ws);
void interpolate_row_avx2(const uint16_t *A, const uint16_t *B, const uint16_t *UA, const uint16_t *UB, uint16_t *G,
                          uint16_t *O, const InterpArgs &a, Workspace &ws);

// Inputs of the direction search: source plane, final edge mask, output map.
struct SearchArgs {
    int w, h, md, P, N, q;
    int nt13, nt19; // 13*NT and 19*NT, saturated
};

// Vectorised direction search; D must be pre-filled with P.
void estimate_dirs_avx2(const uint8_t *src, ptrdiff_t ss, const uint16_t *E, uint16_t *D, const SearchArgs &a,
                        Workspace &ws);
void estimate_dirs_avx2(const uint16_t *src, ptrdiff_t ss, const uint16_t *E, uint16_t *D, const SearchArgs &a,
                        Workspace &ws);

} // namespace orvo::eedi2::detail
