// AVX2 direction search.  The scalar search visits each edge pixel and loops over
// the candidate shifts; here one lane holds one pixel and the shift loop runs over a
// block of pixels, so the five running minima stay in registers.  Lanes are int16
// for 8-bit input (every cost fits: at most 6 * 765) and int32 above 8 bits.
//
// Rows are copied into padded lane buffers whose padding repeats the edge sample;
// that is the column clamp of the reference on the mirrored side, and it keeps the
// lanes of a partial last block inside the buffer.  Results are identical to the
// scalar reference (tests/cpp/test_eedi2.cpp).
#include "kernel_impl.h"

#include <immintrin.h>

#include <algorithm>
#include <cstring>
#include <limits>

namespace orvo::eedi2::detail {

namespace {

template <class L>
struct Lanes;
template <>
struct Lanes<int16_t> {
    typedef int16_t V __attribute__((vector_size(32)));
    static constexpr int n = 16;
    static std::vector<int16_t> &buf(Workspace &ws) { return ws.lanes16; }
};
template <>
struct Lanes<int32_t> {
    typedef int32_t V __attribute__((vector_size(32)));
    static constexpr int n = 8;
    static std::vector<int32_t> &buf(Workspace &ws) { return ws.lanes32; }
};

template <class V>
inline V load(const void *p) {
    V v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <class V>
inline bool any(V m) {
    __m256i x = reinterpret_cast<__m256i>(m);
    return !_mm256_testz_si256(x, x);
}

template <class V>
inline V vabs(V d) {
    return d < V{} ? -d : d;
}

template <class V>
inline V vmin(V a, V b) {
    return a < b ? a : b;
}

// Sum over k = -1..1 of |a[k] - b[k]|.
template <class V, class L>
inline V sad3(const L *a, const L *b) {
    return vabs(load<V>(a - 1) - load<V>(b - 1)) + vabs(load<V>(a) - load<V>(b)) + vabs(load<V>(a + 1) - load<V>(b + 1));
}

typedef int32_t V8 __attribute__((vector_size(32)));
typedef uint16_t U8x16 __attribute__((vector_size(16)));
typedef float F8 __attribute__((vector_size(32)));

inline V8 ld16(const uint16_t *p) { return __builtin_convertvector(load<U8x16>(p), V8); }

inline void cswap(V8 &a, V8 &b) {
    V8 lo = vmin(a, b);
    b = a < b ? b : a;
    a = lo;
}

typedef int16_t I16x8 __attribute__((vector_size(16)));
inline V8 widen8(const int32_t *p) { return load<V8>(p); }
inline V8 widen8(const int16_t *p) { return __builtin_convertvector(load<I16x8>(p), V8); }

constexpr int NET5[9][2] = {{0, 1}, {3, 4}, {2, 4}, {2, 3}, {0, 3}, {0, 2}, {1, 4}, {1, 3}, {1, 2}};

// vote_dirs() per lane: d[] holds the five winners, `none` where a search found nothing.
inline V8 vote_v(V8 *d, int none, int N, int q) {
    const V8 big = V8{} + (1 << 29); // above any map value, and sums of two cannot overflow
    V8 n = V8{};
    #pragma GCC unroll 32
    for (int j = 0; j < 5; j++) {
        const V8 absent = d[j] == none;
        n -= ~absent;
        d[j] = absent ? big : d[j];
    }
    #pragma GCC unroll 32
    for (const auto &c : NET5)
        cswap(d[c[0]], d[c[1]]);
    const V8 half = n >> 1;
    V8 hi = V8{}, lo = V8{};
    #pragma GCC unroll 32
    for (int j = 0; j < 5; j++) {
        hi |= (half == j) & d[j];
        lo |= (half == j + 1) & d[j];
    }
    const V8 mid = (n & 1) != 0 ? hi : (lo + hi + 1) / 2; // truncation toward zero
    const V8 lim = (mid >= 13) | (mid <= -13) ? V8{} + 3 : V8{} + 2;
    V8 cnt = V8{}, sum = V8{};
    #pragma GCC unroll 32
    for (int j = 0; j < 5; j++) {
        const V8 dj = d[j] - mid;
        const V8 keep = (n > j) & ((dj < 0 ? -dj : dj) <= lim);
        cnt -= keep;
        sum += keep & d[j];
    }
    const V8 safe = cnt < 1 ? V8{} + 1 : cnt;
    const V8 avg = __builtin_convertvector(__builtin_convertvector(sum, F8) / __builtin_convertvector(safe, F8), V8);
    return (n < 2) | (cnt < 2) ? V8{} + N : N + avg * (1 << q);
}

// Every cost of the search is a 3-tap SAD between two adjacent rows i and i+1,
//   Q[i][u](p) = sum over k of |row_i[p+k] - row_{i+1}[p-u+k]|,
// read at p = x or p = x+u; row y uses the pairs y-2 .. y+1.  Each pair's arrays are
// computed once for all u and kept in a ring of four, so a pair serves four rows.
constexpr int PAD = 96; // >= 2*maxd + lanes + 2: the reach of Q's inputs past the row

template <class T, class L>
void search(const T *src, ptrdiff_t ss, const uint16_t *E, uint16_t *D, const SearchArgs &a, Workspace &ws) {
    using V = typename Lanes<L>::V;
    constexpr int NV = Lanes<L>::n;
    const int w = a.w, h = a.h, md = a.md, P = a.P;
    const int nu = 2 * md + 1;
    const int rstride = w + 2 * PAD; // padded rows
    // The plane is processed in column strips narrow enough for a strip's four pairs
    // of Q arrays (all shifts) to stay in a 512 KiB L2 share.
    int tw = int(393216 / (4 * nu * sizeof(L))) - 2 * md - 2 * NV;
    tw = std::max(NV, tw / NV * NV);
    const int qw = tw + 2 * md + 2 * NV + 2;
    const size_t rows_size = size_t(rstride) * size_t(h), gate_size = size_t(rstride) * 3;
    const size_t q_size = size_t(qw) * size_t(nu) * 4;
    auto &buf = Lanes<L>::buf(ws);
    buf.resize(rows_size + gate_size + q_size);
    L *rows = buf.data(), *up3 = rows + rows_size + PAD, *dn3 = up3 + rstride, *cand = dn3 + rstride;
    L *qbase = buf.data() + rows_size + gate_size;
    auto row = [&](int i) { return rows + size_t(i) * rstride + PAD; };
    for (int i = 0; i < h; i++) {
        const T *s = src + i * ss;
        L *d = row(i);
        for (int x = -PAD; x < 0; x++)
            d[x] = L(s[0]);
        for (int x = 0; x < w; x++)
            d[x] = L(s[x]);
        for (int x = w; x < w + PAD; x++)
            d[x] = L(s[w - 1]);
    }

    const L costcap = L(std::numeric_limits<L>::max() / 2);
    const V nt13 = V{} + L(std::min<int>(a.nt13, costcap)), nt19 = V{} + L(std::min<int>(a.nt19, costcap));
    const L none = L(-1000);
    V iota;
    for (int i = 0; i < NV; i++)
        iota[i] = L(i);

    for (int X0 = 1; X0 < w - 1; X0 += tw) {
    const int X1 = std::min(X0 + tw, w - 1); // blocks start in [X0, X1)
    const int qlo = X0 - md - 1;              // Q(p) of this strip is stored at index p - qlo
    int slot_pair[4] = {-1, -1, -1, -1};
    auto qrow = [&](int pair, int u) { return qbase + size_t((pair & 3) * nu + (u + md)) * qw; };
    auto ensure_pair = [&](int i) {
        if (slot_pair[i & 3] == i)
            return;
        slot_pair[i & 3] = i;
        const L *ra = row(i), *rb = row(i + 1);
        for (int u = -md; u <= md; u++) {
            L *qd = qrow(i, u) - qlo;
            for (int p = qlo; p <= X1 + NV + md; p += NV) {
                const V v = sad3<V>(ra + p, rb + p - u);
                std::memcpy(qd + p, &v, sizeof v);
            }
        }
    };

    for (int y = 1; y < h - 1; y++) {
        const uint16_t *eu = E + (y - 1) * w, *ec = eu + w, *ed = ec + w;
        bool any_cand = false;
        for (int x = X0; x < X1 + NV; x++) {
            const bool c = x < w - 1 && ec[x] == P && (ec[x - 1] == P || ec[x + 1] == P);
            cand[x] = c ? L(-1) : L(0);
            any_cand |= c;
        }
        if (!any_cand)
            continue;
        const bool has_up2 = y > 1, has_dn2 = y < h - 2;
        // gate lookups: an edge pixel within one column of j; the reference clamps the
        // mirrored (lower) side, so past the row that lookup repeats the border column
        auto at = [&](const uint16_t *e, int c) { return c >= 0 && c < w && e[c] == P; };
        for (int j = X0 - md - 1; j <= X1 + NV + md; j++) {
            up3[j] = (at(eu, j - 1) || at(eu, j) || at(eu, j + 1)) ? L(-1) : L(0);
            const bool dn = j < 0 ? ed[0] == P : j >= w ? ed[w - 1] == P : (at(ed, j - 1) || at(ed, j) || at(ed, j + 1));
            dn3[j] = dn ? L(-1) : L(0);
        }
        if (has_up2)
            ensure_pair(y - 2);
        ensure_pair(y - 1);
        ensure_pair(y);
        if (has_dn2)
            ensure_pair(y + 1);
        const L *r1 = row(y - 1), *r0 = row(y), *n1 = row(y + 1);

        for (int x0 = X0; x0 < X1; x0 += NV) {
            const int xo = x0 - qlo;
            const V cm = load<V>(cand + x0);
            if (!any(cm))
                continue;
            const V xv = iota + L(x0);
            const V z = vabs(load<V>(r0 + x0) - load<V>(n1 + x0)) + vabs(load<V>(r0 + x0) - load<V>(r1 + x0));
            V bestA = vmin(nt19, z * L(9)), bestC = bestA;
            V bestB = vmin(nt13, z * L(6)), bestD = bestB, bestE = bestB;
            V dA = V{} + none, dB = dA, dC = dA, dD = dA, dE = dA;
            for (int u = -md; u <= md; u++) {
                // lanes whose x keeps x+u inside [1, w-2]
                V m = cm & (xv >= L(1 - u)) & (xv <= L(w - 2 - u));
                if (has_up2)
                    m &= load<V>(up3 + x0 + u);
                if (has_dn2)
                    m &= load<V>(dn3 + x0 - u);
                if (!any(m))
                    continue;
                const L *q0 = qrow(y, u) + xo, *qm = qrow(y - 1, u) + xo;
                const V sn = load<V>(q0), ns = load<V>(q0 + u);
                const V ps = load<V>(qm), sp = load<V>(qm + u);
                V B = sn + sp + ps + ns, Dc = sp + ns, Ec = sn + ps;
                const V uv = V{} + L(u);
                V t = m & (B < bestB);
                bestB = t ? B : bestB;
                dB = t ? uv : dB;
                if (has_up2) {
                    const L *q2r = qrow(y - 2, u) + xo;
                    const V p2 = load<V>(q2r), q2 = load<V>(q2r + u);
                    V A = B + p2 + q2;
                    Dc += q2;
                    Ec += p2;
                    t = m & (A < bestA);
                    bestA = t ? A : bestA;
                    dA = t ? uv : dA;
                }
                if (has_dn2) {
                    const L *q1r = qrow(y + 1, u) + xo;
                    const V w2 = load<V>(q1r), m2 = load<V>(q1r + u);
                    V C = B + m2 + w2;
                    Dc += m2;
                    Ec += w2;
                    t = m & (C < bestC);
                    bestC = t ? C : bestC;
                    dC = t ? uv : dC;
                }
                t = m & (Dc < bestD);
                bestD = t ? Dc : bestD;
                dD = t ? uv : dD;
                t = m & (Ec < bestE);
                bestE = t ? Ec : bestE;
                dE = t ? uv : dE;
            }
            // vote in groups of 8 lanes
            L lanes[5][NV];
            std::memcpy(lanes[0], &dA, sizeof dA);
            std::memcpy(lanes[1], &dB, sizeof dB);
            std::memcpy(lanes[2], &dC, sizeof dC);
            std::memcpy(lanes[3], &dD, sizeof dD);
            std::memcpy(lanes[4], &dE, sizeof dE);
            uint16_t *d = D + y * w;
            for (int g = 0; g < NV; g += 8) {
                V8 dv[5];
                for (int j = 0; j < 5; j++)
                    dv[j] = widen8(lanes[j] + g);
                int32_t res[8];
                const V8 r = vote_v(dv, none, a.N, a.q);
                std::memcpy(res, &r, sizeof res);
                for (int i = 0; i < 8 && x0 + g + i < w - 1; i++)
                    if (cm[g + i])
                        d[x0 + g + i] = uint16_t(res[i]);
            }
        }
    }
    }
}

// ---- 3x3 median smoothing of a direction map, 8 pixels per step ------------------

// Optimal sorting networks (checked exhaustively with 0/1 inputs).
constexpr int NET9[25][2] = {{0, 3}, {1, 7}, {2, 5}, {4, 8}, {0, 7}, {2, 4}, {3, 8}, {5, 6}, {0, 2},
                             {1, 3}, {4, 5}, {7, 8}, {1, 4}, {3, 6}, {5, 7}, {0, 1}, {2, 4}, {3, 5},
                             {6, 8}, {2, 3}, {4, 5}, {6, 7}, {1, 2}, {3, 4}, {5, 6}};
constexpr int NET8[19][2] = {{0, 2}, {1, 3}, {4, 6}, {5, 7}, {0, 4}, {1, 5}, {2, 6}, {3, 7}, {0, 1}, {2, 3},
                             {4, 5}, {6, 7}, {2, 4}, {3, 5}, {1, 4}, {3, 6}, {1, 2}, {3, 4}, {5, 6}};
constexpr int NET6[12][2] = {{0, 5}, {1, 3}, {2, 4}, {1, 2}, {3, 4}, {0, 3},
                             {2, 5}, {0, 1}, {2, 3}, {4, 5}, {1, 2}, {3, 4}};

inline V8 vabs8(V8 d) { return d < 0 ? -d : d; }

// lim2() per lane: the tolerance table as a staircase of compares.
inline V8 lim2_v(V8 mid, int N, int q, int s) {
    const V8 idx = vabs8(mid - N) >> q;
    V8 lim = V8{} + 6;
    for (int step : {2, 4, 6, 9, 11, 13})
        lim -= idx >= step;
    lim = idx >= 31 ? V8{} - 1 : lim;
    return lim * (1 << s);
}

// Median of the n present values per lane, and the count and sum of those within lim2 of it.
// `v` holds C values with "no direction" (P) in any position; it is sorted in place.
template <int C>
struct NearMedian {
    V8 n, mid, lim, cnt, sum;
};

template <int C, class Net>
inline NearMedian<C> near_median(V8 *v, const Net &net, V8 vP, int N, int q, int s) {
    const V8 big = V8{} + (1 << 29); // above any map value, and sums of two cannot overflow
    NearMedian<C> r;
    r.n = V8{};
    #pragma GCC unroll 32
    for (int j = 0; j < C; j++) {
        const V8 none = v[j] == vP;
        r.n -= ~none;
        v[j] = none ? big : v[j]; // sorts last and is never counted
    }
    #pragma GCC unroll 32
    for (const auto &c : net)
        cswap(v[c[0]], v[c[1]]);
    const V8 half = r.n >> 1;
    V8 hi = V8{}, lo = V8{};
    #pragma GCC unroll 32
    for (int j = 0; j < C; j++) {
        hi |= (half == j) & v[j];
        lo |= (half == j + 1) & v[j];
    }
    r.mid = (r.n & 1) != 0 ? hi : (lo + hi + 1) >> 1;
    r.lim = lim2_v(r.mid, N, q, s);
    r.cnt = V8{};
    r.sum = V8{};
    #pragma GCC unroll 32
    for (int j = 0; j < C; j++) {
        const V8 keep = (r.n > j) & (vabs8(v[j] - r.mid) <= r.lim);
        r.cnt -= keep;
        r.sum += keep & v[j];
    }
    return r;
}

// R(sum + mid, cnt + 1) in single precision, as the scalar code rounds it.
inline V8 round_div_v(V8 t, V8 n) {
    const F8 r = __builtin_convertvector(t, F8) / __builtin_convertvector(n, F8) + 0.5f;
    return __builtin_convertvector(r, V8);
}

inline void st16(uint16_t *p, V8 v) {
    const U8x16 packed = __builtin_convertvector(v, U8x16);
    std::memcpy(p, &packed, sizeof packed);
}

} // namespace

void filter_row_avx2(const uint16_t *t, const uint16_t *m, const uint16_t *b, const uint16_t *g1,
                     const uint16_t *g2, uint16_t *out, int w, int P, int N, int q, int s) {
    const V8 vP = V8{} + P;
    int x = 1;
    for (; x + 8 < w; x += 8) { // reads columns x-1 .. x+8
        const V8 gate = (ld16(g1 + x) == vP) | (ld16(g2 + x) == vP);
        if (!any(gate))
            continue;
        V8 v[9];
        int i = 0;
        for (const uint16_t *r : {t, m, b})
            for (int k = -1; k <= 1; k++)
                v[i++] = ld16(r + x + k);
        const V8 centre_none = v[4] == vP;
        const NearMedian<9> r = near_median<9>(v, NET9, vP, N, q, s);
        const V8 reject = (r.n < 4) | (r.cnt < 4) | ((r.cnt < 5) & centre_none);
        st16(out + x, gate ? (reject ? vP : round_div_v(r.sum + r.mid, r.cnt + 1)) : ld16(out + x));
    }
    for (; x < w - 1; x++)
        if (g1[x] == P || g2[x] == P)
            out[x] = uint16_t(filter_px(t, m, b, x, P, N, q, s));
}

void expand_row_avx2(const uint16_t *t, const uint16_t *m, const uint16_t *b, const uint16_t *g1,
                     const uint16_t *g2, uint16_t *out, int w, int P, int N, int q, int s) {
    const V8 vP = V8{} + P;
    int x = 1;
    for (; x + 8 < w; x += 8) {
        const V8 centre = ld16(m + x);
        const V8 gate = (centre == vP) & ((ld16(g1 + x) == vP) | (ld16(g2 + x) == vP));
        if (!any(gate))
            continue;
        V8 v[8] = {ld16(t + x - 1), ld16(t + x),     ld16(t + x + 1), ld16(m + x - 1),
                   ld16(m + x + 1), ld16(b + x - 1), ld16(b + x),     ld16(b + x + 1)};
        const NearMedian<8> r = near_median<8>(v, NET8, vP, N, q, s);
        const V8 ok = gate & (r.n >= 5) & (r.cnt >= 5);
        if (!any(ok))
            continue;
        st16(out + x, ok ? round_div_v(r.sum + r.mid, r.cnt + 1) : ld16(out + x));
    }
    for (; x < w - 1; x++)
        if (m[x] == P && (g1[x] == P || g2[x] == P))
            out[x] = uint16_t(expand_px(t, m, b, x, P, N, q, s));
}

void mark2x_row_avx2(const uint16_t *ua, const uint16_t *uc, const uint16_t *ea, const uint16_t *ec, uint16_t *out,
                     int w, int P, int N, int q, int s) {
    const V8 vP = V8{} + P;
    int x = 1;
    for (; x + 8 < w; x += 8) {
        const V8 gate = (ld16(ea + x) == vP) | (ld16(ec + x) == vP);
        if (!any(gate))
            continue;
        const V8 a0 = ld16(ua + x - 1), a1 = ld16(ua + x), a2 = ld16(ua + x + 1);
        const V8 c0 = ld16(uc + x - 1), c1 = ld16(uc + x), c2 = ld16(uc + x + 1);
        V8 v[6] = {a0, a1, a2, c0, c1, c2};
        const NearMedian<6> r = near_median<6>(v, NET6, vP, N, q, s);
        const V8 lim = r.lim;
        // the third pair compares upper-right with lower-left, as the scalar code does
        const V8 agree = -(((vabs8(a0 - c0) <= lim) | (a0 == vP) | (c0 == vP)) +
                           ((vabs8(a1 - c1) <= lim) | (a1 == vP) | (c1 == vP)) +
                           ((vabs8(a2 - c0) <= lim) | (a2 == vP) | (c2 == vP)));
        const V8 ok = gate & (r.n >= 3) & (agree >= 2) & (r.cnt >= r.n - 2) & (r.cnt >= 2);
        if (!any(ok))
            continue;
        st16(out + x, ok ? round_div_v(r.sum + r.mid, r.cnt + 1) : ld16(out + x));
    }
    for (; x < w - 1; x++)
        if (ea[x] == P || ec[x] == P)
            out[x] = uint16_t(mark2x_px(ua, uc, x, P, N, q, s));
}

namespace {

} // namespace

// ---- small data-parallel steps -----------------------------------------------------

// Erosion (erode) or dilation of one interior row of a 0/P mask.
void morph_row_avx2(const uint16_t *a, const uint16_t *c, const uint16_t *n, uint16_t *o, int w, int P, int thr,
                    bool erode) {
    const uint16_t p = uint16_t(P);
    if (erode) {
        for (int x = 1; x < w - 1; x++) {
            const int k = (a[x - 1] == p) + (a[x] == p) + (a[x + 1] == p) + (c[x - 1] == p) + (c[x + 1] == p) +
                          (n[x - 1] == p) + (n[x] == p) + (n[x + 1] == p);
            o[x] = (c[x] == p && k < thr) ? 0 : c[x];
        }
    } else {
        for (int x = 1; x < w - 1; x++) {
            const int k = (a[x - 1] == p) + (a[x] == p) + (a[x + 1] == p) + (c[x - 1] == p) + (c[x + 1] == p) +
                          (n[x - 1] == p) + (n[x] == p) + (n[x + 1] == p);
            o[x] = (c[x] == 0 && k >= thr) ? p : c[x];
        }
    }
}

namespace {

typedef uint32_t U8v __attribute__((vector_size(32)));
typedef uint8_t B8 __attribute__((vector_size(8)));

inline V8 ld8(const uint8_t *p) { return __builtin_convertvector(load<B8>(p), V8); }
inline V8 ldv(const uint8_t *p) { return ld8(p); }
inline V8 ldv(const uint16_t *p) { return ld16(p); }
inline V8 vmax8(V8 a, V8 b) { return a > b ? a : b; }

template <class T>
void edge_row(const T *a, const T *c, const T *n, uint16_t *e, int w, const EdgeArgs &ea) {
    const int s = ea.s, fl = 10 << s;
    const uint32_t vt = uint32_t(std::min<int64_t>(ea.vt, UINT32_MAX));
    const bool var_never = ea.vt > int64_t(UINT32_MAX);
    const int mt = int(std::min<int64_t>(ea.mt, INT32_MAX));
    int x = 1;
    if (!var_never) {
        for (; x + 8 < w; x += 8) { // reads columns x-1 .. x+8
            V8 A[3], C[3], Nn[3], fla[3];
            for (int k = 0; k < 3; k++) {
                A[k] = ldv(a + x + k - 1);
                C[k] = ldv(c + x + k - 1);
                Nn[k] = ldv(n + x + k - 1);
                fla[k] = (vabs8(A[k] - C[k]) < fl) & (vabs8(C[k] - Nn[k]) < fl) & (vabs8(A[k] - Nn[k]) < fl);
            }
            const V8 skip = fla[1] | (fla[0] & fla[2]);
            V8 sum = V8{}, sq = V8{};
            for (int k = 0; k < 3; k++) {
                sum += A[k] + C[k] + Nn[k];
                const V8 va = A[k] >> s, vc = C[k] >> s, vn = Nn[k] >> s;
                sq += va * va + vc * vc + vn * vn;
            }
            sum >>= s;
            const U8v var = reinterpret_cast<U8v>(sq * 9 - sum * sum);
            const V8 var_ok = reinterpret_cast<V8>(var >= vt);
            const V8 gx = vabs8(C[2] - C[0]) >> s;
            const V8 gy = vmax8(vmax8(vabs8(A[1] - Nn[1]), vabs8(A[1] - C[1])), vabs8(C[1] - Nn[1])) >> s;
            const V8 lx = vabs8(C[0] - 2 * C[1] + C[2]) >> s, ly = vabs8(A[1] - 2 * C[1] + Nn[1]) >> s;
            const V8 edge = ~skip & var_ok & ((gx * gx + gy * gy >= mt) | (lx + ly >= ea.lt));
            st16(e + x, edge & ea.P);
        }
    }
    for (; x < w - 1; x++)
        e[x] = uint16_t(edge_px(a, c, n, x, ea));
}

// pp=1: pixels whose direction disagrees with the re-smoothed map fall back to the vertical average.
inline void stv(uint8_t *p, V8 v) {
    const B8 packed = __builtin_convertvector(v, B8);
    std::memcpy(p, &packed, sizeof packed);
}
inline void stv(uint16_t *p, V8 v) { st16(p, v); }

template <class T>
void post_row(const T *A, const T *B, const uint16_t *go, const uint16_t *gn, T *o, int w, int P, int N, int q,
              int s) {
    int x = 0;
    for (; x + 8 <= w; x += 8) {
        const V8 ov = ld16(go + x), nv = ld16(gn + x);
        const V8 fire = (ov != P) & (ov != N) & (vabs8(nv - ov) > lim2_v(nv, N, q, s));
        if (!any(fire))
            continue;
        const V8 vavg = (ldv(A + x) + ldv(B + x) + 1) >> 1;
        stv(o + x, fire ? vavg : ldv(o + x));
    }
    for (; x < w; x++) {
        const int ov = go[x], nv = gn[x];
        if (ov != P && ov != N && iabs(nv - ov) > lim2(nv, N, q, s))
            o[x] = T((A[x] + B[x] + 1) >> 1);
    }
}

} // namespace

void edge_row_avx2(const uint8_t *a, const uint8_t *c, const uint8_t *n, uint16_t *e, int w, const EdgeArgs &ea) {
    edge_row(a, c, n, e, w, ea);
}
void edge_row_avx2(const uint16_t *a, const uint16_t *c, const uint16_t *n, uint16_t *e, int w, const EdgeArgs &ea) {
    edge_row(a, c, n, e, w, ea);
}
void post_row_avx2(const uint8_t *A, const uint8_t *B, const uint16_t *go, const uint16_t *gn, uint8_t *o, int w,
                   int P, int N, int q, int s) {
    post_row(A, B, go, gn, o, w, P, N, q, s);
}
void post_row_avx2(const uint16_t *A, const uint16_t *B, const uint16_t *go, const uint16_t *gn, uint16_t *o, int w,
                   int P, int N, int q, int s) {
    post_row(A, B, go, gn, o, w, P, N, q, s);
}

namespace {

// ---- interpolation along the directions -----------------------------------------
// The decisions depend on the direction just written to the left, so the pass over a
// row stays serial; what does not depend on it is computed for the whole row first
// with plain loops the compiler vectorises: the shift costs for |u| <= 4, the
// low-variance and dip/bump flags, and edge-padded copies of the two rows.

constexpr int IPAD = 8; // >= 4 + 1 + 2 columns of reach past the row

template <class T>
void interp_row(const T *A, const T *B, const uint16_t *UA, const uint16_t *UB, uint16_t *G, T *O,
                const InterpArgs &ia, Workspace &ws) {
    const int w = ia.w, P = ia.P, N = ia.N, q = ia.q, s = ia.s;
    const int stride = w + 2 * IPAD;
    auto &buf = ws.row_costs;
    buf.resize(size_t(stride) * 13);
    int32_t *Ap = buf.data() + IPAD, *Bp = Ap + stride, *flags = Bp + stride;
    int32_t *cost[9];
    for (int u = -4; u <= 4; u++)
        cost[u + 4] = flags + stride * (u + 5);
    for (int x = -IPAD; x < w + IPAD; x++) {
        Ap[x] = A[clampi(x, 0, w - 1)];
        Bp[x] = B[clampi(x, 0, w - 1)];
    }
    // bit 0: low variance of the six samples around x; bit 1: dip or bump on both rows
    const int t3 = 3 << s;
    for (int x = 1; x < w - 1; x++) {
        int sum = 0, sq = 0;
        for (int i = -1; i <= 1; i++) {
            sum += Ap[x + i] + Bp[x + i];
            const int va = Ap[x + i] >> s, vb = Bp[x + i] >> s;
            sq += va * va + vb * vb;
        }
        sum >>= s;
        flags[x] = uint32_t(6 * sq - sum * sum) < 576u;
    }
    for (int x = 2; x < w - 2; x++) { // branch-free so that it vectorises
        const int a0 = Ap[x], b0 = Bp[x];
        const int amax_l = std::max(Ap[x - 2], Ap[x - 1]), amax_r = std::max(Ap[x + 1], Ap[x + 2]);
        const int amin_l = std::min(Ap[x - 2], Ap[x - 1]), amin_r = std::min(Ap[x + 1], Ap[x + 2]);
        const int bmax_l = std::max(Bp[x - 2], Bp[x - 1]), bmax_r = std::max(Bp[x + 1], Bp[x + 2]);
        const int bmin_l = std::min(Bp[x - 2], Bp[x - 1]), bmin_r = std::min(Bp[x + 1], Bp[x + 2]);
        const int dip = (a0 < amax_l - t3) & (a0 < amax_r - t3) & (b0 < bmax_l - t3) & (b0 < bmax_r - t3);
        const int bump = (a0 > amin_l + t3) & (a0 > amin_r + t3) & (b0 > bmin_l + t3) & (b0 > bmin_r + t3);
        flags[x] |= (dip | bump) << 1;
    }
    for (int u = -4; u <= 4; u++) {
        int32_t *c = cost[u + 4];
        for (int x = 0; x < w; x++)
            c[x] = std::abs(Ap[x - 1] - Bp[x - 1 - u]) + std::abs(Bp[x - 1] - Ap[x - 1 + u]) +
                   std::abs(Ap[x] - Bp[x - u]) + std::abs(Bp[x] - Ap[x + u]) + std::abs(Ap[x + 1] - Bp[x + 1 - u]) +
                   std::abs(Bp[x + 1] - Ap[x + 1 + u]);
    }
    auto shift_cost = [&](int x, int u) {
        if (u >= -4 && u <= 4)
            return int(cost[u + 4][x]);
        int c = 0;
        for (int k = -1; k <= 1; k++)
            c += std::abs(Ap[x + k] - Bp[x + k - u]) + std::abs(Bp[x + k] - Ap[x + k + u]);
        return c;
    };

    const int half = 1 << (q - 1);
    for (int x = 0; x < w; x++) {
        const int vavg = (Ap[x] + Bp[x] + 1) >> 1;
        const int g = G[x];
        if (g == P) {
            O[x] = T(vavg);
            continue;
        }
        const int lim = lim2(g, N, q, s);
        if (iabs(g - G[x - 1]) > lim && iabs(g - G[x + 1]) > lim) {
            O[x] = T(vavg);
            G[x] = uint16_t(N);
            continue;
        }
        if (lim < (9 << s) && (flags[x] & 1)) {
            O[x] = T(vavg);
            G[x] = uint16_t(P);
            continue;
        }
        if (flags[x] & 2) {
            O[x] = T(vavg);
            G[x] = uint16_t(N);
            continue;
        }
        const int d = (g - N + half) >> q;
        const int m = std::min(x - 1, w - 2 - x);
        const int lo = clampi(d - 2, -m, m), hi = clampi(d + 2, -m, m);
        int best = ia.nt8, val = vavg, fu = 0;
        bool found = false;
        auto near = [&](int wv) { return wv != P && iabs(wv - g) <= lim; };
        for (int u = lo; u <= hi; u++) {
            const int cst = shift_cost(x, u);
            if (cst >= best)
                continue;
            if (!(near(UA[x + u - 1]) || near(UA[x + u]) || near(UA[x + u + 1])))
                continue;
            if (!(near(UB[x - u - 1]) || near(UB[x - u]) || near(UB[x - u + 1])))
                continue;
            const int h1 = u / 2, h2 = (u + 1) / 2;
            if (std::abs(Ap[x + h1 - 1] - Bp[x - h1 - 1]) + std::abs(Ap[x + h1] - Bp[x - h1]) +
                    std::abs(Ap[x + h1 + 1] - Bp[x - h1 + 1]) >=
                ia.nt4)
                continue;
            const int a1 = UA[x + h1], a2 = UA[x + h2], b1 = UB[x - h1], b2 = UB[x - h2];
            const bool ok1 = a1 != P && (iabs(a1 - b1) <= lim || iabs(a1 - b2) <= lim);
            const bool ok2 = a2 != P && (iabs(a2 - b1) <= lim || iabs(a2 - b2) <= lim);
            if (!(ok1 || ok2))
                continue;
            if (!((iabs(g - a1) <= lim || iabs(g - a2) <= lim) && (iabs(g - b1) <= lim || iabs(g - b2) <= lim)))
                continue;
            val = (Ap[x + h1] + Ap[x + h2] + Bp[x - h1] + Bp[x - h2] + 2) >> 2;
            best = cst;
            found = true;
            fu = u;
        }
        if (found) {
            O[x] = T(val);
            G[x] = uint16_t(N + fu * (1 << q));
            continue;
        }
        const int lo2 = std::max(1 - x, -ia.r4), hi2 = std::min(w - 2 - x, ia.r4);
        const int lowv = std::min(Ap[x], Bp[x]), highv = std::max(Ap[x], Bp[x]);
        best = ia.nt7;
        for (int u = lo2; u <= hi2; u++) {
            const int h1 = u / 2, h2 = (u + 1) / 2;
            const int s1 = Ap[x + h1] + Ap[x + h2], s2 = Bp[x - h1] + Bp[x - h2];
            const int cst = int(cost[u + 4][x]) + iabs(s1 - s2);
            if (cst < best) {
                const int t = (s1 + s2 + 2) >> 2;
                if (t >= lowv && t <= highv) {
                    val = t;
                    best = cst;
                    found = true;
                    fu = u;
                }
            }
        }
        O[x] = T(val);
        G[x] = uint16_t(found ? N + fu * (1 << q) : N);
    }
}

} // namespace

void estimate_dirs_avx2(const uint8_t *src, ptrdiff_t ss, const uint16_t *E, uint16_t *D, const SearchArgs &a,
                        Workspace &ws) {
    search<uint8_t, int16_t>(src, ss, E, D, a, ws);
}

void estimate_dirs_avx2(const uint16_t *src, ptrdiff_t ss, const uint16_t *E, uint16_t *D, const SearchArgs &a,
                        Workspace &ws) {
    search<uint16_t, int32_t>(src, ss, E, D, a, ws);
}

} // namespace orvo::eedi2::detail

namespace orvo::eedi2::detail {

void interpolate_row_avx2(const uint8_t *A, const uint8_t *B, const uint16_t *UA, const uint16_t *UB, uint16_t *G,
                          uint8_t *O, const InterpArgs &a, Workspace &ws) {
    interp_row(A, B, UA, UB, G, O, a, ws);
}

void interpolate_row_avx2(const uint16_t *A, const uint16_t *B, const uint16_t *UA, const uint16_t *UB, uint16_t *G,
                          uint16_t *O, const InterpArgs &a, Workspace &ws) {
    interp_row(A, B, UA, UB, G, O, a, ws);
}

} // namespace orvo::eedi2::detail
