// Scalar reference of the line doubler.  Each step reads one buffer and writes
// another, in the order listed in README.md; the map buffers hold sample-range
// values (P = peak means "edge" in masks and "no direction" in direction maps).
#include "kernel.h"
#include "kernel_impl.h"
#include "cpu.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace orvo::eedi2 {

using namespace detail;

namespace {

inline int sat_int(int64_t v) { return int(std::min<int64_t>(v, int64_t(1) << 30)); }

} // namespace

template <class T>
struct Pipeline {
    using Map = uint16_t;

    const T *src;
    ptrdiff_t ss;
    T *dst;
    ptrdiff_t ds;
    int w, h, f, s, q, P, N, md, r4;
    int64_t MT, VT;
    int LT, estr, dstr, map, pp;
    int nt4, nt7, nt8, nt13, nt19;
    Workspace &ws;
    Isa isa;

    Pipeline(const T *src_, ptrdiff_t ss_, T *dst_, ptrdiff_t ds_, int w_, int h_, int bits, int field, int ssw,
             const Params &p, Workspace &ws_, Isa isa_)
        : src(src_), ss(ss_), dst(dst_), ds(ds_), w(w_), h(h_), f(field), ws(ws_), isa(isa_) {
        s = bits - 8;
        q = s + 2;
        P = (1 << bits) - 1;
        N = 1 << (bits - 1);
        md = p.maxd >> ssw;
        r4 = 4 >> ssw;
        MT = int64_t(p.mthresh) * p.mthresh;
        VT = int64_t(p.vthresh) * 81;
        LT = p.lthresh;
        estr = p.estr;
        dstr = p.dstr;
        map = p.map;
        pp = p.pp;
        int64_t NT = int64_t(p.nt) << s;
        nt4 = sat_int(4 * NT);
        nt7 = sat_int(7 * NT);
        nt8 = sat_int(8 * NT);
        nt13 = sat_int(13 * NT);
        nt19 = sat_int(19 * NT);
    }

    const T *srow(int i) const { return src + i * ss; }
    T *orow(int y) const { return dst + y * ds; }
    static Map *row(std::vector<Map> &m, int i, int w) { return m.data() + size_t(i) * size_t(w); }
    Map *mrow(std::vector<Map> &m, int i) const { return row(m, i, w); }

    int lim2(int v) const { return detail::lim2(v, N, q, s); }

    // ---- edge mask -------------------------------------------------------
    void edge_mask(std::vector<Map> &E) const {
        std::fill(E.begin(), E.end(), Map(0));
        const EdgeArgs ea{s, P, LT, MT, VT};
        for (int y = 1; y < h - 1; y++) {
            const T *a = srow(y - 1), *c = srow(y), *n = srow(y + 1);
            Map *e = mrow(E, y);
            if (isa == Isa::avx2) {
                edge_row_avx2(a, c, n, e, w, ea);
                continue;
            }
            for (int x = 1; x < w - 1; x++)
                e[x] = Map(edge_px(a, c, n, x, ea));
        }
    }

    // ---- erode / dilate ----------------------------------------------------
    void morph(const std::vector<Map> &in, std::vector<Map> &out, bool erode) const {
        out = in;
        for (int y = 1; y < h - 1; y++) {
            const Map *a = in.data() + (y - 1) * w, *c = a + w, *n = c + w;
            Map *o = out.data() + y * w;
            if (isa == Isa::avx2) {
                morph_row_avx2(a, c, n, o, w, P, erode ? estr : dstr, erode);
                continue;
            }
            for (int x = 1; x < w - 1; x++) {
                if (erode ? c[x] != P : c[x] != 0)
                    continue;
                int k = (a[x - 1] == P) + (a[x] == P) + (a[x + 1] == P) + (c[x - 1] == P) + (c[x + 1] == P) +
                        (n[x - 1] == P) + (n[x] == P) + (n[x + 1] == P);
                if (erode && k < estr)
                    o[x] = 0;
                else if (!erode && k >= dstr)
                    o[x] = Map(P);
            }
        }
    }

    // ---- small horizontal gaps ---------------------------------------------
    void remove_gaps(const std::vector<Map> &in, std::vector<Map> &out) const {
        out = in;
        for (int y = 1; y < h - 1; y++) {
            const Map *c = in.data() + y * w;
            Map *o = out.data() + y * w;
            for (int x = 3; x < w - 3; x++) {
                if (c[x]) {
                    if (!c[x - 1] && !c[x - 2] && !c[x - 3] && !c[x + 1] && !c[x + 2] && !c[x + 3])
                        o[x] = 0;
                } else if ((c[x + 1] && (c[x - 1] || c[x - 2] || c[x - 3])) || (c[x + 2] && (c[x - 1] || c[x - 2])) ||
                           (c[x + 3] && c[x - 1])) {
                    o[x] = Map(P);
                }
            }
        }
    }

    // ---- direction estimate ------------------------------------------------
    void estimate_dirs(const std::vector<Map> &E, std::vector<Map> &D) const {
        std::fill(D.begin(), D.end(), Map(P));
        for (int y = 1; y < h - 1; y++) {
            const bool has_up2 = y > 1, has_dn2 = y < h - 2;
            const T *r2 = has_up2 ? srow(y - 2) : nullptr, *r1 = srow(y - 1), *r0 = srow(y), *n1 = srow(y + 1);
            const T *n2 = has_dn2 ? srow(y + 2) : nullptr;
            const Map *eu = E.data() + (y - 1) * w, *ec = eu + w, *ed = ec + w;
            Map *d = D.data() + y * w;
            // Column reads on the mirrored side are clamped to the row.
            auto cl = [&](int c) { return clampi(c, 0, w - 1); };
            auto sad = [&](const T *ra, int xa, const T *rb, int xb) {
                return iabs(ra[xa - 1] - rb[cl(xb - 1)]) + iabs(ra[xa] - rb[cl(xb)]) + iabs(ra[xa + 1] - rb[cl(xb + 1)]);
            };
            for (int x = 1; x < w - 1; x++) {
                if (ec[x] != P || (ec[x - 1] != P && ec[x + 1] != P))
                    continue;
                int z = iabs(r0[x] - n1[x]) + iabs(r0[x] - r1[x]);
                int bestA = std::min(nt19, 9 * z), bestC = bestA;
                int bestB = std::min(nt13, 6 * z), bestD = bestB, bestE = bestB;
                int dA = NO_DIR, dB = NO_DIR, dC = NO_DIR, dD = NO_DIR, dE = NO_DIR;
                const int ulo = std::max(1 - x, -md), uhi = std::min(w - 2 - x, md);
                for (int u = ulo; u <= uhi; u++) {
                    bool up = !has_up2 || eu[x + u - 1] == P || eu[x + u] == P || eu[x + u + 1] == P;
                    bool dn = !has_dn2 || ed[cl(x - u - 1)] == P || ed[cl(x - u)] == P || ed[cl(x - u + 1)] == P;
                    if (!(up && dn))
                        continue;
                    int sn = sad(r0, x, n1, x - u), sp = sad(r0, x, r1, x + u);
                    int ps = sad(r1, x, r0, x - u), ns = sad(n1, x, r0, x + u);
                    int B = sn + sp + ps + ns, Dc = sp + ns, Ec = sn + ps;
                    if (B < bestB) {
                        bestB = B;
                        dB = u;
                    }
                    if (has_up2) {
                        int p2 = sad(r2, x, r1, x - u), q2 = sad(r1, x, r2, x + u);
                        int A = B + p2 + q2;
                        Dc += q2;
                        Ec += p2;
                        if (A < bestA) {
                            bestA = A;
                            dA = u;
                        }
                    }
                    if (has_dn2) {
                        int m2 = sad(n2, x, n1, x + u), w2 = sad(n1, x, n2, x - u);
                        int C = B + m2 + w2;
                        Dc += m2;
                        Ec += w2;
                        if (C < bestC) {
                            bestC = C;
                            dC = u;
                        }
                    }
                    if (Dc < bestD) {
                        bestD = Dc;
                        dD = u;
                    }
                    if (Ec < bestE) {
                        bestE = Ec;
                        dE = u;
                    }
                }
                const int dirs[5] = {dA, dB, dC, dD, dE};
                d[x] = Map(vote_dirs(dirs, N, q));
            }
        }
    }

    // Keeps the entries of sorted L within lim2(median) of the median; returns the count and sum.
    int keep_near_median(int *L, int n, int &mid, int &sum) const {
        sort_small(L, n);
        mid = median_sorted(L, n);
        int lim = lim2(mid), cnt = 0;
        sum = 0;
        for (int i = 0; i < n; i++)
            if (iabs(L[i] - mid) <= lim) {
                sum += L[i];
                cnt++;
            }
        return cnt;
    }

    // ---- filter directions -------------------------------------------------
    void filter_dirs(const std::vector<Map> &E, const std::vector<Map> &Din, std::vector<Map> &Dout) const {
        Dout = Din;
        for (int y = 1; y < h - 1; y++) {
            const Map *e = E.data() + y * w, *t = Din.data() + (y - 1) * w, *m = t + w, *b = m + w;
            Map *o = Dout.data() + y * w;
            if (isa == Isa::avx2) {
                filter_row_avx2(t, m, b, e, e, o, w, P, N, q, s);
                continue;
            }
            for (int x = 1; x < w - 1; x++)
                if (e[x] == P)
                    o[x] = Map(filter_px(t, m, b, x, P, N, q, s));
        }
    }

    // ---- expand directions -------------------------------------------------
    void expand_dirs(const std::vector<Map> &E, const std::vector<Map> &Din, std::vector<Map> &Dout) const {
        Dout = Din;
        for (int y = 1; y < h - 1; y++) {
            const Map *e = E.data() + y * w, *t = Din.data() + (y - 1) * w, *m = t + w, *b = m + w;
            Map *o = Dout.data() + y * w;
            if (isa == Isa::avx2) {
                expand_row_avx2(t, m, b, e, e, o, w, P, N, q, s);
                continue;
            }
            for (int x = 1; x < w - 1; x++)
                if (m[x] == P && e[x] == P)
                    o[x] = Map(expand_px(t, m, b, x, P, N, q, s));
        }
    }

    // ---- consistency of the line ends --------------------------------------
    void consistency(const std::vector<Map> &E, const std::vector<Map> &Din, std::vector<Map> &Dout) const {
        Dout = Din;
        for (int y = 1; y < h - 1; y++) {
            const Map *e = E.data() + y * w;
            const Map *u = Din.data() + (y - 1) * w, *c = u + w, *d = c + w;
            for (int x = 1; x < w - 1; x++) {
                int v = c[x];
                if (v == P || e[x] != P)
                    continue;
                int t = (v - N) / 4;
                int lim = std::max(2 * iabs(t), 12 << s);
                int span = t >> s;
                auto bad = [&](int wv) { return wv != P && iabs(wv - v) > lim; };
                auto side = [&](const Map *other, int j0, int j1) {
                    for (int j = j0; j <= j1; j++)
                        if (bad(other[j]) || (c[j] == P && other[j] == P) || bad(c[j]))
                            return true;
                    return false;
                };
                bool top = span < 0 ? side(u, x + std::max(-x, span), x) : side(u, x, x + std::min(w - 1 - x, span));
                if (!top)
                    continue;
                bool bottom =
                    span < 0 ? side(d, x, x + std::min(w - 1 - x, -span)) : side(d, x + std::max(-x, -span), x);
                if (bottom)
                    Dout[y * w + x] = Map(P);
            }
        }
    }

    // ---- double-height maps: rows are the interpolated rows k = 0..h-1 (output row 2k+f)
    int kbeg() const { return 1 - f; }
    int kend() const { return h - 1 - f; } // inclusive
    // Input rows above and below interpolated row k.
    int above(int k) const { return k + f - 1; }

    // ---- mark 2x directions ------------------------------------------------
    void mark2x(const std::vector<Map> &E, const std::vector<Map> &D, std::vector<Map> &G) const {
        std::fill(G.begin(), G.end(), Map(P));
        for (int k = kbeg(); k <= kend(); k++) {
            const int a = above(k);
            const Map *ea = E.data() + a * w, *ec = ea + w;
            const Map *ua = D.data() + a * w, *uc = ua + w;
            Map *g = G.data() + k * w;
            if (isa == Isa::avx2) {
                mark2x_row_avx2(ua, uc, ea, ec, g, w, P, N, q, s);
                continue;
            }
            for (int x = 1; x < w - 1; x++)
                if (ea[x] == P || ec[x] == P)
                    g[x] = Map(mark2x_px(ua, uc, x, P, N, q, s));
        }
    }

    // Rows of the double-height direction map that border an edge row: `row_avx2`
    // or `px` (per column, scalar) rewrites them; the rows above the first and
    // below the last read as "no direction".
    template <class RowAvx2, class Px>
    void neighbour_pass(const std::vector<Map> &E, const std::vector<Map> &Gin, std::vector<Map> &Gout,
                        RowAvx2 row_avx2, Px px) const {
        Gout = Gin;
        ws.none_row.assign(size_t(w), Map(P));
        for (int k = kbeg(); k <= kend(); k++) {
            const int a = above(k);
            const Map *ea = E.data() + a * w, *ec = ea + w;
            const Map *m = Gin.data() + k * w;
            const Map *t = k >= 1 ? m - w : ws.none_row.data(), *b = k + 1 <= h - 1 ? m + w : ws.none_row.data();
            Map *o = Gout.data() + k * w;
            if (isa == Isa::avx2) {
                row_avx2(t, m, b, ea, ec, o, w, P, N, q, s);
                continue;
            }
            for (int x = 1; x < w - 1; x++)
                px(t, m, b, ea, ec, o, x);
        }
    }

    // ---- filter 2x directions ---------------------------------------------
    void filter2x(const std::vector<Map> &E, const std::vector<Map> &Gin, std::vector<Map> &Gout) const {
        neighbour_pass(E, Gin, Gout, filter_row_avx2,
                       [&](const Map *t, const Map *m, const Map *b, const Map *ea, const Map *ec, Map *o, int x) {
                           if (ea[x] == P || ec[x] == P)
                               o[x] = Map(filter_px(t, m, b, x, P, N, q, s));
                       });
    }

    // ---- expand 2x directions ---------------------------------------------
    void expand2x(const std::vector<Map> &E, const std::vector<Map> &Gin, std::vector<Map> &Gout) const {
        neighbour_pass(E, Gin, Gout, expand_row_avx2,
                       [&](const Map *t, const Map *m, const Map *b, const Map *ea, const Map *ec, Map *o, int x) {
                           if (m[x] == P && (ea[x] == P || ec[x] == P))
                               o[x] = Map(expand_px(t, m, b, x, P, N, q, s));
                       });
    }

    // ---- fill gaps along a row ----------------------------------------------
    void fill2x(const std::vector<Map> &E, const std::vector<Map> &Gin, std::vector<Map> &Gout) const {
        Gout = Gin;
        for (int k = kbeg(); k <= kend(); k++) {
            const int a = above(k);
            const Map *ea = E.data() + a * w, *ec = ea + w;
            const Map *g = Gin.data() + k * w;
            Map *o = Gout.data() + k * w;
            auto off = [&](int j) { return ea[j] != P && ec[j] != P; };
            for (int x = 1; x < w - 1; x++) {
                if (g[x] != P || off(x))
                    continue;
                int l = x - 1, back = INT_MIN;
                for (; l > 0; l--) {
                    if (g[l] != P) {
                        back = g[l];
                        break;
                    }
                    if (off(l))
                        break;
                }
                int r = x + 1, fwd = INT_MIN;
                for (; r < w; r++) {
                    if (g[r] != P) {
                        fwd = g[r];
                        break;
                    }
                    if (off(r))
                        break;
                }
                // Every pixel between l and r finds the same l and r and writes the same values,
                // so the fast path handles the run once.
                const int run_end = isa == Isa::scalar ? x : r - 1;
                if (back == INT_MIN || fwd == INT_MIN) {
                    x = run_end;
                    continue;
                }
                // rows two above / below, with the mask rows around them
                bool top = k >= 1 && a >= 1, bot = k + 1 <= h - 1 && a + 2 <= h - 1;
                int tmin = INT_MAX, tmax = INT_MIN, bmin = INT_MAX, bmax = INT_MIN;
                const Map *gt = top ? g - w : nullptr, *gb = bot ? g + w : nullptr;
                const Map *et = top ? ea - w : nullptr, *eb = bot ? ec + w : nullptr;
                for (int j = l; j <= r; j++) {
                    if (top) {
                        if (gt[j] == P || (et[j] != P && ea[j] != P))
                            top = false;
                        else {
                            tmin = std::min<int>(tmin, gt[j]);
                            tmax = std::max<int>(tmax, gt[j]);
                        }
                    }
                    if (bot) {
                        if (gb[j] == P || (ec[j] != P && eb[j] != P))
                            bot = false;
                        else {
                            bmin = std::min<int>(bmin, gb[j]);
                            bmax = std::max<int>(bmax, gb[j]);
                        }
                    }
                }
                int trange = top ? tmax - tmin : 0, brange = bot ? bmax - bmin : 0;
                int mag = std::max(iabs(fwd - N), iabs(back - N));
                int thresh = std::max({mag >> 2, 8 << s, trange, brange});
                int glim = std::min(mag >> q, 6);
                int gap = r - l - 1;
                if (iabs(fwd - back) <= thresh && (gap <= glim || top || bot)) {
                    float step = float(fwd - back) / float(r - l);
                    for (int j = 0; j < gap; j++)
                        o[l + 1 + j] = Map(back + int(double(float(j) * step) + 0.5));
                }
                x = run_end;
            }
        }
    }

    // ---- interpolation along the directions (updates G in place) ----------
    void interpolate(const std::vector<Map> &D, std::vector<Map> &G) const {
        for (int k = kbeg(); k <= kend(); k++) {
            const int a = above(k);
            const T *A = srow(a), *B = srow(a + 1);
            const Map *UA = D.data() + a * w, *UB = UA + w;
            Map *g = G.data() + k * w;
            T *o = orow(2 * k + f);
            if (isa == Isa::avx2) {
                const InterpArgs ia{w, P, N, q, s, nt4, nt7, nt8, r4};
                interpolate_row_avx2(A, B, UA, UB, g, o, ia, ws);
                continue;
            }
            interpolate_row(A, B, UA, UB, g, o);
        }
    }

    void interpolate_row(const T *A, const T *B, const Map *UA, const Map *UB, Map *G, T *O) const {
        auto Bc = [&](int c) { return int(B[clampi(c, 0, w - 1)]); };
        const int half = 1 << (q - 1);
        for (int x = 0; x < w; x++) {
            const int vavg = (A[x] + B[x] + 1) >> 1;
            const int g = G[x];
            if (g == P) {
                O[x] = T(vavg);
                continue;
            }
            const int lim = lim2(g);
            if (iabs(g - G[x - 1]) > lim && iabs(g - G[x + 1]) > lim) {
                O[x] = T(vavg);
                G[x] = Map(N);
                continue;
            }
            if (lim < (9 << s)) {
                int sum = 0, sq = 0;
                for (int i = x - 1; i <= x + 1; i++) {
                    sum += A[i] + B[i];
                    int va = A[i] >> s, vb = B[i] >> s;
                    sq += va * va + vb * vb;
                }
                sum >>= s;
                if (uint32_t(6 * sq - sum * sum) < 576u) {
                    O[x] = T(vavg);
                    G[x] = Map(P);
                    continue;
                }
            }
            if (x >= 2 && x <= w - 3) {
                const int t3 = 3 << s;
                auto dip = [&](const T *R) {
                    return R[x] < std::max(R[x - 2], R[x - 1]) - t3 && R[x] < std::max(R[x + 1], R[x + 2]) - t3;
                };
                auto bump = [&](const T *R) {
                    return R[x] > std::min(R[x - 2], R[x - 1]) + t3 && R[x] > std::min(R[x + 1], R[x + 2]) + t3;
                };
                if ((dip(A) && dip(B)) || (bump(A) && bump(B))) {
                    O[x] = T(vavg);
                    G[x] = Map(N);
                    continue;
                }
            }
            const int d = (g - N + half) >> q;
            const int m = std::min(x - 1, w - 2 - x);
            const int lo = clampi(d - 2, -m, m), hi = clampi(d + 2, -m, m);
            int best = nt8, val = vavg;
            bool found = false;
            int fu = 0;
            auto near = [&](int wv) { return wv != P && iabs(wv - g) <= lim; };
            for (int u = lo; u <= hi; u++) {
                int cost = 0;
                for (int k = -1; k <= 1; k++)
                    cost += iabs(A[x + k] - B[x + k - u]) + iabs(B[x + k] - A[x + k + u]);
                if (cost >= best)
                    continue;
                if (!(near(UA[x + u - 1]) || near(UA[x + u]) || near(UA[x + u + 1])))
                    continue;
                if (!(near(UB[x - u - 1]) || near(UB[x - u]) || near(UB[x - u + 1])))
                    continue;
                const int h1 = u / 2, h2 = (u + 1) / 2; // truncation toward zero, as upstream
                int c2 = 0;
                for (int k = -1; k <= 1; k++)
                    c2 += iabs(A[x + h1 + k] - B[x - h1 + k]);
                if (c2 >= nt4)
                    continue;
                const int a1 = UA[x + h1], a2 = UA[x + h2], b1 = UB[x - h1], b2 = UB[x - h2];
                bool ok1 = a1 != P && (iabs(a1 - b1) <= lim || iabs(a1 - b2) <= lim);
                bool ok2 = a2 != P && (iabs(a2 - b1) <= lim || iabs(a2 - b2) <= lim);
                if (!(ok1 || ok2))
                    continue;
                if (!((iabs(g - a1) <= lim || iabs(g - a2) <= lim) && (iabs(g - b1) <= lim || iabs(g - b2) <= lim)))
                    continue;
                val = (A[x + h1] + A[x + h2] + B[x - h1] + B[x - h2] + 2) >> 2;
                best = cost;
                found = true;
                fu = u;
            }
            if (found) {
                O[x] = T(val);
                G[x] = Map(N + fu * (1 << q));
                continue;
            }
            // fallback: short search around vertical, result kept between the two vertical neighbours
            const int lo2 = std::max(1 - x, -r4), hi2 = std::min(w - 2 - x, r4);
            const int lowv = std::min(A[x], B[x]), highv = std::max(A[x], B[x]);
            best = nt7;
            for (int u = lo2; u <= hi2; u++) {
                const int h1 = u / 2, h2 = (u + 1) / 2;
                int s1 = A[x + h1] + A[x + h2], s2 = Bc(x - h1) + Bc(x - h2);
                int cost = iabs(s1 - s2);
                for (int k = -1; k <= 1; k++)
                    cost += iabs(A[x + k] - Bc(x + k - u)) + iabs(B[x + k] - A[x + k + u]);
                if (cost < best) {
                    int t = (s1 + s2 + 2) >> 2;
                    if (t >= lowv && t <= highv) {
                        val = t;
                        best = cost;
                        found = true;
                        fu = u;
                    }
                }
            }
            O[x] = T(val);
            G[x] = Map(found ? N + fu * (1 << q) : N);
        }
    }

    // ---- consistency of the final directions ------------------------------
    void post_consistency(const std::vector<Map> &GL, const std::vector<Map> &GS) const {
        for (int k = kbeg(); k <= kend(); k++) {
            const int a = above(k);
            const T *A = srow(a), *B = srow(a + 1);
            const Map *go = GL.data() + k * w, *gn = GS.data() + k * w;
            T *o = orow(2 * k + f);
            if (isa == Isa::avx2) {
                post_row_avx2(A, B, go, gn, o, w, P, N, q, s);
                continue;
            }
            for (int x = 0; x < w; x++) {
                int ov = go[x], nv = gn[x];
                if (ov == P || ov == N)
                    continue;
                if (iabs(nv - ov) > lim2(nv))
                    o[x] = T((A[x] + B[x] + 1) >> 1);
            }
        }
    }

    // ---- corners and junctions --------------------------------------------
    void corner_flags(std::vector<uint8_t> &flags) const {
        static constexpr int k7[7] = {291, 3539, 15862, 26152, 15862, 3539, 291};
        static constexpr int k9[9] = {339, 1951, 6809, 14415, 18508, 14415, 6809, 1951, 339};
        const size_t n = size_t(w) * size_t(h);
        auto &t0 = ws.t0, &t1 = ws.t1, &xx = ws.t2, &yy = ws.t3, &xy = ws.t4;
        t0.resize(n), t1.resize(n), xx.resize(n), yy.resize(n), xy.resize(n);
        // a tap past the edge takes the tap mirrored about the centre
        auto tap = [](int c, int o, int len) {
            int t = c + o;
            if (t < 0 || t >= len)
                t = c - o;
            return clampi(t, 0, len - 1);
        };
        // blur7, horizontal then vertical, rounded to the sample type after each pass
        for (int y = 0; y < h; y++) {
            const T *r = srow(y);
            for (int x = 0; x < w; x++) {
                uint32_t acc = 0;
                for (int i = -3; i <= 3; i++)
                    acc += uint32_t(k7[i + 3]) * r[tap(x, i, w)];
                t0[y * w + x] = int32_t((acc + 32768u) >> 16);
            }
        }
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++) {
                uint32_t acc = 0;
                for (int i = -3; i <= 3; i++)
                    acc += uint32_t(k7[i + 3]) * uint32_t(t0[tap(y, i, h) * w + x]);
                t1[y * w + x] = int32_t((acc + 32768u) >> 16);
            }
        // structure tensor of the blurred plane
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++) {
                const int32_t *bl = t1.data();
                int gx = x == 0       ? bl[y * w + 1] - bl[y * w]
                         : x == w - 1 ? bl[y * w + w - 1] - bl[y * w + w - 2]
                                      : bl[y * w + x + 1] - bl[y * w + x - 1];
                int gy = y == 0       ? bl[x] - bl[w + x]
                         : y == h - 1 ? bl[(h - 2) * w + x] - bl[(h - 1) * w + x]
                                      : bl[(y - 1) * w + x] - bl[(y + 1) * w + x];
                gx >>= s;
                gy >>= s;
                xx[y * w + x] = gx * gx / 2;
                yy[y * w + x] = gy * gy / 2;
                xy[y * w + x] = gx * gy / 2;
            }
        // blur9 of each tensor component, truncating toward zero after each pass
        for (auto *c : {&xx, &yy, &xy}) {
            std::vector<int32_t> &v = *c;
            for (int y = 0; y < h; y++)
                for (int x = 0; x < w; x++) {
                    int32_t acc = 0;
                    for (int i = -4; i <= 4; i++)
                        acc += k9[i + 4] * v[y * w + tap(x, i, w)];
                    t0[y * w + x] = (acc + 32768) / 65536;
                }
            for (int y = 0; y < h; y++)
                for (int x = 0; x < w; x++) {
                    int32_t acc = 0;
                    for (int i = -4; i <= 4; i++)
                        acc += k9[i + 4] * t0[tap(y, i, h) * w + x];
                    v[y * w + x] = (acc + 32768) / 65536;
                }
        }
        flags.assign(n, 0);
        for (size_t i = 0; i < n; i++) {
            float tr = float(xx[i] + yy[i]);
            float c = float(xx[i] * yy[i] - xy[i] * xy[i]) - (0.09f * tr) * tr;
            flags[i] = int(c) > 775;
        }
    }

    void post_corners(const std::vector<Map> &GC) {
        if (h < 8 || w < 9)
            return; // the test below touches nothing on such planes
        corner_flags(ws.corner);
        const uint8_t *cf = ws.corner.data();
        for (int k = kbeg(); k <= kend(); k++) {
            const int y = 2 * k + f;
            if (y < 8 - f || y >= 2 * h - 7)
                continue;
            const int a = above(k);
            const T *A = srow(a), *B = srow(a + 1);
            const Map *gc = GC.data() + k * w;
            T *o = orow(y);
            for (int x = 4; x < w - 4; x++) {
                if (gc[x] == P || gc[x] == N)
                    continue;
                if (cf[a * w + x] || cf[(a + 1) * w + x])
                    o[x] = T((A[x] + B[x] + 1) >> 1);
            }
        }
    }

    // ---- whole plane -----------------------------------------------------------
    void write_map(const std::vector<Map> &m) const {
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++)
                orow(y)[x] = T(m[y * w + x]);
    }

    void run() {
        const size_t n = size_t(w) * size_t(h);
        for (auto *v : {&ws.m0, &ws.m1, &ws.m2, &ws.m3, &ws.g0, &ws.g1, &ws.g2})
            v->resize(n);
        auto &m0 = ws.m0, &m1 = ws.m1, &m2 = ws.m2, &m3 = ws.m3;
        edge_mask(m0);
        morph(m0, m1, true);
        morph(m1, m2, false);
        morph(m2, m0, true);
        remove_gaps(m0, m1); // m1 = final edge mask from here on
        if (map == 1)
            return write_map(m1);
        if (isa == Isa::avx2) {
            std::fill(m2.begin(), m2.end(), Map(P));
            const SearchArgs sa{w, h, md, P, N, q, nt13, nt19};
            estimate_dirs_avx2(src, ss, m1.data(), m2.data(), sa, ws);
        } else {
            estimate_dirs(m1, m2);
        }
        filter_dirs(m1, m2, m3);
        expand_dirs(m1, m3, m0);
        consistency(m1, m0, m2); // m2 = final direction map
        if (map == 2)
            return write_map(m2);

        auto &g0 = ws.g0, &g1 = ws.g1, &g2 = ws.g2;
        mark2x(m1, m2, g0);
        filter2x(m1, g0, g1);
        expand2x(m1, g1, g0);
        fill2x(m1, g0, g1);
        fill2x(m1, g1, g0);
        if (map == 3) {
            for (int y = 0; y < 2 * h; y++)
                std::fill(orow(y), orow(y) + w, T(P));
            for (int k = kbeg(); k <= kend(); k++)
                for (int x = 0; x < w; x++)
                    orow(2 * k + f)[x] = T(g0[k * w + x]);
            return;
        }

        for (int i = 0; i < h; i++)
            std::memcpy(orow(2 * i + 1 - f), srow(i), sizeof(T) * size_t(w));
        std::memcpy(orow(f ? 2 * h - 1 : 0), srow(f ? h - 1 : 0), sizeof(T) * size_t(w));
        interpolate(m2, g0); // g0 = lattice map from here on
        if (pp == 1 || pp == 3) {
            filter2x(m1, g0, g1);
            expand2x(m1, g1, g2);
            post_consistency(g0, g2);
        }
        if (pp == 2 || pp == 3)
            post_corners(g0);
    }
};

Isa best_isa() { return cpu_has_avx2() ? Isa::avx2 : Isa::scalar; }

void process_plane_u8(const uint8_t *src, ptrdiff_t src_stride, uint8_t *dst, ptrdiff_t dst_stride, int w, int h,
                      int field, int ssw, const Params &p, Workspace &ws, Isa isa) {
    Pipeline<uint8_t>(src, src_stride, dst, dst_stride, w, h, 8, field, ssw, p, ws, isa).run();
}

void process_plane_u16(const uint16_t *src, ptrdiff_t src_stride, uint16_t *dst, ptrdiff_t dst_stride, int w,
                       int h, int bits, int field, int ssw, const Params &p, Workspace &ws, Isa isa) {
    // The arithmetic holds for samples within the depth; a plane holding larger ones
    // (any 16-bit value can reach a 10-bit clip) is processed as a copy clamped to the peak.
    const uint16_t peak = uint16_t((1 << bits) - 1);
    uint16_t top = 0;
    for (int y = 0; y < h; y++) {
        const uint16_t *r = src + y * src_stride;
        for (int x = 0; x < w; x++)
            top = std::max(top, r[x]);
    }
    if (top > peak) {
        ws.clamped.resize(size_t(w) * size_t(h));
        for (int y = 0; y < h; y++) {
            const uint16_t *r = src + y * src_stride;
            uint16_t *c = ws.clamped.data() + size_t(y) * size_t(w);
            for (int x = 0; x < w; x++)
                c[x] = std::min(r[x], peak);
        }
        src = ws.clamped.data();
        src_stride = w;
    }
    Pipeline<uint16_t>(src, src_stride, dst, dst_stride, w, h, bits, field, ssw, p, ws, isa).run();
}

} // namespace orvo::eedi2
