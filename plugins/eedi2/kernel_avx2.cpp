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

constexpr int PAD = 64; // >= maxd + lanes + 2

template <class T, class L>
void search(const T *src, ptrdiff_t ss, const uint16_t *E, uint16_t *D, const SearchArgs &a, Workspace &ws) {
    using V = typename Lanes<L>::V;
    constexpr int NV = Lanes<L>::n;
    const int w = a.w, h = a.h, md = a.md, P = a.P;
    const int stride = w + 2 * PAD;
    auto &buf = Lanes<L>::buf(ws);
    buf.assign(size_t(stride) * 8, L(0));
    // rows -2..+2, the up/down gates and the candidate flags
    L *rows[5], *up3 = buf.data() + 5 * stride + PAD, *dn3 = up3 + stride, *cand = dn3 + stride;
    for (int i = 0; i < 5; i++)
        rows[i] = buf.data() + i * stride + PAD;
    const L costcap = L(std::numeric_limits<L>::max() / 2);
    const V nt13 = V{} + L(std::min<int>(a.nt13, costcap)), nt19 = V{} + L(std::min<int>(a.nt19, costcap));
    const L none = L(-1000);
    V iota;
    for (int i = 0; i < NV; i++)
        iota[i] = L(i);

    for (int y = 1; y < h - 1; y++) {
        const uint16_t *eu = E + (y - 1) * w, *ec = eu + w, *ed = ec + w;
        bool any_cand = false;
        for (int x = 1; x < w - 1; x++) {
            bool c = ec[x] == P && (ec[x - 1] == P || ec[x + 1] == P);
            cand[x] = c ? L(-1) : L(0);
            any_cand |= c;
        }
        if (!any_cand)
            continue;
        const bool has_up2 = y > 1, has_dn2 = y < h - 2;
        for (int i = 0; i < 5; i++) {
            const int r = y - 2 + i;
            if (r < 0 || r >= h)
                continue;
            const T *s = src + r * ss;
            L *d = rows[i];
            for (int x = -PAD; x < 0; x++)
                d[x] = L(s[0]);
            for (int x = 0; x < w; x++)
                d[x] = L(s[x]);
            for (int x = w; x < w + PAD; x++)
                d[x] = L(s[w - 1]);
        }
        // gate lookups: an edge pixel within one column of j (columns outside the row are not edges)
        for (int j = 0; j < w; j++) {
            auto at = [&](const uint16_t *e, int c) { return c >= 0 && c < w && e[c] == P; };
            up3[j] = (at(eu, j - 1) || at(eu, j) || at(eu, j + 1)) ? L(-1) : L(0);
            dn3[j] = (at(ed, j - 1) || at(ed, j) || at(ed, j + 1)) ? L(-1) : L(0);
        }
        // the reference clamps the mirrored columns, so past the row the lookup repeats the border column
        for (int j = -PAD; j < 0; j++)
            dn3[j] = ed[0] == P ? L(-1) : L(0);
        for (int j = w; j < w + PAD; j++)
            dn3[j] = ed[w - 1] == P ? L(-1) : L(0);
        const L *r2 = rows[0], *r1 = rows[1], *r0 = rows[2], *n1 = rows[3], *n2 = rows[4];

        for (int x0 = 1; x0 < w - 1; x0 += NV) {
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
                const L *p0 = r0 + x0;
                V sn = sad3<V>(p0, n1 + x0 - u), sp = sad3<V>(p0, r1 + x0 + u);
                V ps = sad3<V>(r1 + x0, r0 + x0 - u), ns = sad3<V>(n1 + x0, r0 + x0 + u);
                V B = sn + sp + ps + ns, Dc = sp + ns, Ec = sn + ps;
                const V uv = V{} + L(u);
                V t = m & (B < bestB);
                bestB = t ? B : bestB;
                dB = t ? uv : dB;
                if (has_up2) {
                    V p2 = sad3<V>(r2 + x0, r1 + x0 - u), q2 = sad3<V>(r1 + x0, r2 + x0 + u);
                    V A = B + p2 + q2;
                    Dc += q2;
                    Ec += p2;
                    t = m & (A < bestA);
                    bestA = t ? A : bestA;
                    dA = t ? uv : dA;
                }
                if (has_dn2) {
                    V m2 = sad3<V>(n2 + x0, n1 + x0 + u), w2 = sad3<V>(n1 + x0, n2 + x0 - u);
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
            uint16_t *d = D + y * w;
            for (int i = 0; i < NV && x0 + i < w - 1; i++) {
                if (!cm[i])
                    continue;
                int dirs[5] = {dA[i], dB[i], dC[i], dD[i], dE[i]};
                for (int &v : dirs)
                    if (v == none)
                        v = NO_DIR;
                d[x0 + i] = uint16_t(vote_dirs(dirs, a.N, a.q));
            }
        }
    }
}


// ---- 3x3 median smoothing of a direction map, 8 pixels per step ------------------

typedef int32_t V8 __attribute__((vector_size(32)));
typedef uint16_t U8x16 __attribute__((vector_size(16)));
typedef float F8 __attribute__((vector_size(32)));

inline V8 ld16(const uint16_t *p) { return __builtin_convertvector(load<U8x16>(p), V8); }

inline void cswap(V8 &a, V8 &b) {
    V8 lo = vmin(a, b);
    b = a < b ? b : a;
    a = lo;
}

// Optimal 25-comparator network for 9 inputs (checked exhaustively with 0/1 inputs).
inline void sort9(V8 *v) {
    static constexpr int net[25][2] = {{0, 3}, {1, 7}, {2, 5}, {4, 8}, {0, 7}, {2, 4}, {3, 8}, {5, 6}, {0, 2},
                                       {1, 3}, {4, 5}, {7, 8}, {1, 4}, {3, 6}, {5, 7}, {0, 1}, {2, 4}, {3, 5},
                                       {6, 8}, {2, 3}, {4, 5}, {6, 7}, {1, 2}, {3, 4}, {5, 6}};
    for (const auto &c : net)
        cswap(v[c[0]], v[c[1]]);
}

} // namespace

void filter_row_avx2(const uint16_t *t, const uint16_t *m, const uint16_t *b, const uint16_t *g1,
                     const uint16_t *g2, uint16_t *out, int w, int P, int N, int q, int s) {
    const V8 vP = V8{} + P, big = V8{} + INT32_MAX;
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
        V8 n = V8{};
        for (V8 &e : v) {
            const V8 none = e == vP;
            n -= ~none;
            e = none ? big : e; // "no direction" sorts last and is never counted
        }
        sort9(v);
        const V8 half = n >> 1;
        V8 hi = V8{}, lo = V8{};
        for (int j = 0; j < 9; j++) {
            hi |= (half == j) & v[j];
            lo |= (half == j + 1) & v[j];
        }
        const V8 mid = (n & 1) != 0 ? hi : (lo + hi + 1) >> 1;
        const V8 d = mid - N, idx = (d < 0 ? -d : d) >> q;
        V8 lim = V8{} + 6;
        for (int step : {2, 4, 6, 9, 11, 13})
            lim -= idx >= step;
        lim = idx >= 31 ? V8{} - 1 : lim;
        lim *= (1 << s);
        V8 cnt = V8{}, sum = V8{};
        for (int j = 0; j < 9; j++) {
            const V8 dj = v[j] - mid;
            const V8 keep = (n > j) & ((dj < 0 ? -dj : dj) <= lim);
            cnt -= keep;
            sum += keep & v[j];
        }
        const F8 r = __builtin_convertvector(sum + mid, F8) / __builtin_convertvector(cnt + 1, F8) + 0.5f;
        const V8 val = __builtin_convertvector(r, V8);
        const V8 reject = (n < 4) | (cnt < 4) | ((cnt < 5) & centre_none);
        const V8 res = gate ? (reject ? vP : val) : ld16(out + x);
        const U8x16 packed = __builtin_convertvector(res, U8x16);
        std::memcpy(out + x, &packed, sizeof packed);
    }
    for (; x < w - 1; x++)
        if (g1[x] == P || g2[x] == P)
            out[x] = uint16_t(filter_px(t, m, b, x, P, N, q, s));
}

namespace {
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
