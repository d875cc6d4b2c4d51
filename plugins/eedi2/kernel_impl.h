// Pieces shared by the scalar reference and the AVX2 file.
#pragma once

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
    for (int i = 0; i < n; i++)
        if (iabs(L[i] - mid) <= lim) {
            sum += L[i];
            cnt++;
        }
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
    for (int i = 0; i < n; i++)
        if (iabs(L[i] - mid) <= lim) {
            sum += L[i];
            cnt++;
        }
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
    for (int i = 0; i < n; i++)
        if (iabs(L[i] - mid) <= lim) {
            sum += L[i];
            cnt++;
        }
    if (cnt < n - 2 || cnt < 2)
        return P;
    return round_div(sum + mid, cnt + 1);
}

// mark2x_px over columns 1..w-2 where ea or ec is P; `out` must hold P elsewhere.
void mark2x_row_avx2(const uint16_t *ua, const uint16_t *uc, const uint16_t *ea, const uint16_t *ec, uint16_t *out,
                     int w, int P, int N, int q, int s);

// filter_px over columns 1..w-2 where g1 or g2 is P; other columns of `out` are left alone.
void filter_row_avx2(const uint16_t *t, const uint16_t *m, const uint16_t *b, const uint16_t *g1,
                     const uint16_t *g2, uint16_t *out, int w, int P, int N, int q, int s);

// Interpolation of one row along the double-height directions (6.13 of the notes).
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

// Inputs of the direction search (6.4 of the notes): source plane, final edge mask, output map.
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
