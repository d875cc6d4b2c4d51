// RemoveGrain / Repair kernels against a direct per-pixel reference written
// from the formulas (sorting, explicit tie orders), on random planes of many
// sizes with guard bytes; both kernel builds must match it exactly.
#include "check.h"
#include "cpu.h"
#include "kernel.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <type_traits>

using namespace orvo::rgvs;

namespace {

// Reference arithmetic: int64 for integer samples, float for float samples
// (float planes hold small integers, so sums are exact and the only rounding
// is the final division, done the same way as the kernel documents).
template <class T> using Num = std::conditional_t<std::is_floating_point_v<T>, float, int64_t>;

template <class N> N avg_up(N a, N b) {
    if constexpr (std::is_floating_point_v<N>) return (a + b) * 0.5f;
    else return (a + b + 1) >> 1;
}
template <class N> N avg_down(N a, N b) {
    if constexpr (std::is_floating_point_v<N>) return (a + b) * 0.5f;
    else return (a + b) >> 1;
}
template <class N> N clampv(N x, N lo, N hi) { return x < lo ? lo : (x > hi ? hi : x); }
template <class N> N ad(N a, N b) { return a > b ? a - b : b - a; }

// Opposite-neighbour pairs in tie order P4, P2, P3, P1, and the first pair
// with the smallest key.
template <class N> struct RefPairs {
    N lo[4], hi[4];
    explicit RefPairs(const N n[9]) {
        const N pp[4] = {n[3], n[1], n[2], n[0]}, pq[4] = {n[5], n[7], n[6], n[8]};
        for (int i = 0; i < 4; i++) {
            lo[i] = std::min(pp[i], pq[i]);
            hi[i] = std::max(pp[i], pq[i]);
        }
    }
};

template <class Key> int best_pair(Key key) {
    int k = 0;
    for (int i = 1; i < 4; i++)
        if (key(i) < key(k))
            k = i;
    return k;
}

// n[0..8] = a1 a2 a3 a4 c a5 a6 a7 a8
template <class N> N ref_rg(int mode, const N n[9], bool is_float) {
    const N a1 = n[0], a2 = n[1], a3 = n[2], a4 = n[3], c = n[4], a5 = n[5], a6 = n[6], a7 = n[7], a8 = n[8];
    N s[8] = {a1, a2, a3, a4, a5, a6, a7, a8};
    std::sort(s, s + 8);
    RefPairs<N> P(n);
    const N *lo = P.lo, *hi = P.hi;
    auto sat = [&](N k) { return is_float ? k : std::min<N>(k, 65535); };
    switch (mode) {
    case 1: return clampv(c, s[0], s[7]);
    case 2: return clampv(c, s[1], s[6]);
    case 3: return clampv(c, s[2], s[5]);
    case 4: return clampv(c, s[3], s[4]);
    case 5: case 6: case 7: case 8: {
        auto key = [&](int i) {
            N d = ad(c, clampv(c, lo[i], hi[i])), r = hi[i] - lo[i];
            return mode == 5 ? d : mode == 6 ? sat(2 * d + r) : mode == 7 ? d + r : sat(d + 2 * r);
        };
        int k = best_pair(key);
        return clampv(c, lo[k], hi[k]);
    }
    case 9: { int k = best_pair([&](int i) { return hi[i] - lo[i]; }); return clampv(c, lo[k], hi[k]); }
    case 18: {
        int k = best_pair([&](int i) { return std::max(ad(c, lo[i]), ad(c, hi[i])); });
        return clampv(c, lo[k], hi[k]);
    }
    case 10: {
        const N v[8] = {a7, a8, a6, a2, a3, a1, a5, a4};
        int k = 0;
        for (int i = 1; i < 8; i++)
            if (ad(c, v[i]) < ad(c, v[k])) k = i;
        return v[k];
    }
    case 11: case 12: {
        N sum = 4 * c + 2 * (a2 + a4 + a5 + a7) + a1 + a3 + a6 + a8;
        if constexpr (std::is_floating_point_v<N>) return sum * (1.0f / 16);
        else return (sum + 8) >> 4;
    }
    case 13: case 14: case 15: case 16: {
        // P2, P3, P1
        const N l3[3] = {lo[1], lo[2], lo[3]}, h3[3] = {hi[1], hi[2], hi[3]};
        int k = 0;
        for (int i = 1; i < 3; i++)
            if (h3[i] - l3[i] < h3[k] - l3[k]) k = i;
        if (mode <= 14) return avg_up(l3[k], h3[k]);
        N sum = 2 * (a2 + a7) + a1 + a3 + a6 + a8;
        N m;
        if constexpr (std::is_floating_point_v<N>) m = sum * 0.125f;
        else m = (sum + 4) >> 3;
        return clampv(m, l3[k], h3[k]);
    }
    case 17: {
        N l = *std::max_element(lo, lo + 4), u = *std::min_element(hi, hi + 4);
        return clampv(c, std::min(l, u), std::max(l, u));
    }
    case 19: {
        N sum = a1 + a2 + a3 + a4 + a5 + a6 + a7 + a8;
        if constexpr (std::is_floating_point_v<N>) return sum * 0.125f;
        else return (sum + 4) >> 3;
    }
    case 20: {
        N sum = a1 + a2 + a3 + a4 + c + a5 + a6 + a7 + a8;
        if constexpr (std::is_floating_point_v<N>) return sum / 9.0f;
        else return (sum + 4) / 9;
    }
    case 21: case 22: {
        N l = 0, u = 0;
        for (int i = 0; i < 4; i++) {
            N vl = mode == 21 ? avg_down(lo[i], hi[i]) : avg_up(lo[i], hi[i]);
            N vu = avg_up(lo[i], hi[i]);
            l = i ? std::min(l, vl) : vl;
            u = i ? std::max(u, vu) : vu;
        }
        return clampv(c, l, u);
    }
    case 23: case 24: {
        N up = 0, dn = 0;
        for (int i = 0; i < 4; i++) {
            N r = hi[i] - lo[i], tu = c - hi[i], td = lo[i] - c;
            up = std::max(up, mode == 23 ? std::min(tu, r) : std::min(tu, r - tu));
            dn = std::max(dn, mode == 23 ? std::min(td, r) : std::min(td, r - td));
        }
        return c - up + dn;
    }
    }
    return c;
}

template <class N> N ref_rp(int mode, N cr, const N n[9], bool is_float) {
    const N a1 = n[0], a2 = n[1], a3 = n[2], a4 = n[3], c = n[4], a5 = n[5], a6 = n[6], a7 = n[7], a8 = n[8];
    N t[9];
    std::copy(n, n + 9, t);
    std::sort(t, t + 9);
    N s[8] = {a1, a2, a3, a4, a5, a6, a7, a8};
    std::sort(s, s + 8);
    RefPairs<N> P(n);
    const N *lo = P.lo, *hi = P.hi;
    auto sat = [&](N k) { return is_float ? k : std::min<N>(k, 65535); };
    // the eight neighbour distances from `centre`, sorted
    auto dists = [&](N centre, N out[8]) {
        for (int i = 0; i < 8; i++) out[i] = ad(centre, s[i]);
        std::sort(out, out + 8);
    };
    switch (mode) {
    case 1: case 11: return clampv(cr, t[0], t[8]);
    case 2: return clampv(cr, t[1], t[7]);
    case 3: return clampv(cr, t[2], t[6]);
    case 4: return clampv(cr, t[3], t[5]);
    case 5: case 6: case 7: case 8: case 9: {
        N L[4], H[4];
        for (int i = 0; i < 4; i++) { L[i] = std::min(lo[i], c); H[i] = std::max(hi[i], c); }
        auto key = [&](int i) {
            N d = ad(cr, clampv(cr, L[i], H[i])), r = H[i] - L[i];
            return mode == 5 ? d : mode == 6 ? sat(2 * d + r) : mode == 7 ? d + r : mode == 8 ? sat(d + 2 * r) : r;
        };
        int k = best_pair(key);
        return clampv(cr, L[k], H[k]);
    }
    case 10: {
        const N v[9] = {a7, a8, a6, a2, a3, a1, a5, c, a4};
        int k = 0;
        for (int i = 1; i < 9; i++)
            if (ad(cr, v[i]) < ad(cr, v[k])) k = i;
        return v[k];
    }
    case 12: return clampv(cr, std::min(s[1], c), std::max(s[6], c));
    case 13: return clampv(cr, std::min(s[2], c), std::max(s[5], c));
    case 14: return clampv(cr, std::min(s[3], c), std::max(s[4], c));
    case 15: case 16: case 18: {
        auto key = [&](int i) {
            if (mode == 18) return std::max(ad(c, lo[i]), ad(c, hi[i]));
            N d = ad(c, clampv(c, lo[i], hi[i]));
            return mode == 15 ? d : sat(2 * d + hi[i] - lo[i]);
        };
        int k = best_pair(key);
        return clampv(cr, std::min(lo[k], c), std::max(hi[k], c));
    }
    case 17: {
        N l = *std::max_element(lo, lo + 4), u = *std::min_element(hi, hi + 4);
        return clampv(cr, std::min({l, u, c}), std::max({l, u, c}));
    }
    case 19: case 20: { N d[8]; dists(c, d); N m = d[mode - 19]; return clampv(cr, c - m, c + m); }
    case 22: case 23: { N d[8]; dists(cr, d); N m = d[mode - 22]; return clampv(c, cr - m, cr + m); }
    case 21: case 24: {
        N centre = mode == 21 ? c : cr;
        N u = 0;
        for (int i = 0; i < 4; i++) {
            N ui = std::max({hi[i] - centre, centre - lo[i], N(0)});
            u = i ? std::min(u, ui) : ui;
        }
        return mode == 21 ? clampv(cr, c - u, c + u) : clampv(c, cr - u, cr + u);
    }
    }
    return cr;
}

template <class T> bool rows_parity_copied(int mode, int y) {
    return (mode == 13 || mode == 15) ? y % 2 == 1 : (mode == 14 || mode == 16) ? y % 2 == 0 : false;
}

template <class T> Num<T> expect_at(const check::GuardedPlane<T> &src, const check::GuardedPlane<T> *rep, int x, int y,
                                    int mode) {
    int w = src.width, h = src.height;
    bool border = x == 0 || y == 0 || x == w - 1 || y == h - 1 || mode == 0;
    if (border || (!rep && rows_parity_copied<T>(mode, y)))
        return Num<T>(src.at(x, y));
    const auto &nb = rep ? *rep : src;
    Num<T> n[9];
    for (int dy = -1, i = 0; dy <= 1; dy++)
        for (int dx = -1; dx <= 1; dx++)
            n[i++] = Num<T>(nb.at(x + dx, y + dy));
    constexpr bool flt = std::is_floating_point_v<T>;
    return rep ? ref_rp<Num<T>>(mode, Num<T>(src.at(x, y)), n, flt) : ref_rg<Num<T>>(mode, n, flt);
}

template <class T> void run_kernel(bool avx2, bool repair, const check::GuardedPlane<T> &s, const check::GuardedPlane<T> &r,
                                   check::GuardedPlane<T> &d, int mode) {
    if (repair) {
        if (avx2) repair_avx2(s.data(), s.stride, r.data(), r.stride, d.data(), d.stride, s.width, s.height, mode);
        else repair_c(s.data(), s.stride, r.data(), r.stride, d.data(), d.stride, s.width, s.height, mode);
    } else {
        if (avx2) remove_grain_avx2(s.data(), s.stride, d.data(), d.stride, s.width, s.height, mode);
        else remove_grain_c(s.data(), s.stride, d.data(), d.stride, s.width, s.height, mode);
    }
}

// Random planes: `max_value` bounds the samples; `narrow` draws values from a
// small range so ties (and the tie rules) are frequent.
template <class T> int compare_random(std::mt19937 &rng, int w, int h, int max_value, bool repair, int mode, bool narrow) {
    check::GuardedPlane<T> src(w, h, 5), rep(w, h, 3);
    int lo = 0, hi = max_value;
    if (narrow) {
        lo = std::uniform_int_distribution<int>(0, max_value - 4)(rng);
        hi = lo + 4;
    }
    std::uniform_int_distribution<int> dist(lo, hi);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            src.at(x, y) = T(dist(rng));
            rep.at(x, y) = T(dist(rng));
        }
    int bad = 0;
    for (int isa = 0; isa < 2; isa++) {
        if (isa == 1 && !orvo::cpu_has_avx2()) continue;
        check::GuardedPlane<T> dst(w, h, 7);
        run_kernel<T>(isa == 1, repair, src, rep, dst, mode);
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++) {
                Num<T> want = expect_at<T>(src, repair ? &rep : nullptr, x, y, mode);
                if (Num<T>(dst.at(x, y)) != want) {
                    if (bad < 3)
                        std::fprintf(stderr, "%s mode %d %dx%d isa %d at (%d,%d): got %g want %g\n",
                                     repair ? "Repair" : "RemoveGrain", mode, w, h, isa, x, y, double(dst.at(x, y)),
                                     double(want));
                    bad++;
                }
            }
        CHECK(dst.guards_intact());
    }
    return bad;
}

template <class T> void sweep(int max_value, std::mt19937 &rng) {
    const int sizes[][2] = {{1, 1}, {2, 5}, {5, 2}, {3, 3}, {4, 3}, {17, 3}, {7, 9}, {66, 4}, {67, 5}, {130, 3},
                            {257, 3}, {258, 4}, {259, 3}, {300, 4}, {515, 3}};
    for (int repair = 0; repair < 2; repair++)
        for (int mode = 0; mode <= 24; mode++)
            for (auto &sz : sizes) {
                CHECK(compare_random<T>(rng, sz[0], sz[1], max_value, repair, mode, false) == 0);
                CHECK(compare_random<T>(rng, sz[0], sz[1], max_value, repair, mode, true) == 0);
            }
    // a few random odd sizes
    std::uniform_int_distribution<int> dw(1, 90), dh(1, 7), dm(1, 24);
    for (int i = 0; i < 60; i++)
        CHECK(compare_random<T>(rng, dw(rng), dh(rng), max_value, i % 2, dm(rng), i % 3 == 0) == 0);
}

// One 3x3 neighbourhood (centre at (1,1) of a 3x3 plane) through the kernel.
template <class T> T one_rg(int mode, std::initializer_list<int> v) {
    check::GuardedPlane<T> s(3, 3), d(3, 3);
    int i = 0;
    for (int x : v) s.data()[(i / 3) * s.stride + i % 3] = T(x), i++;
    remove_grain_c(s.data(), s.stride, d.data(), d.stride, 3, 3, mode);
    return d.at(1, 1);
}
template <class T> T one_rp(int mode, int cr, std::initializer_list<int> v) {
    check::GuardedPlane<T> s(3, 3), r(3, 3), d(3, 3);
    int i = 0;
    for (int x : v) r.data()[(i / 3) * r.stride + i % 3] = T(x), i++;
    s.at(1, 1) = T(cr);
    repair_c(s.data(), s.stride, r.data(), r.stride, d.data(), d.stride, 3, 3, mode);
    return d.at(1, 1);
}

void hand_cases() {
    // P4 wins a tie with P1 (a first-index rule would give 5)
    CHECK(one_rg<uint8_t>(5, {0, 30, 40, 20, 10, 15, 40, 30, 5}) == 15);
    // the pixel below comes before the one above on a distance tie
    CHECK(one_rg<uint8_t>(10, {50, 8, 50, 50, 10, 50, 50, 12, 50}) == 12);
    // exact rounding of the weighted kernels
    CHECK(one_rg<uint8_t>(11, {0, 0, 0, 0, 1, 0, 0, 0, 0}) == 0);
    CHECK(one_rg<uint8_t>(19, {4, 0, 0, 0, 0, 0, 0, 0, 0}) == 1);
    CHECK(one_rg<uint16_t>(20, {0, 0, 0, 0, 32755, 0, 0, 0, 0}) == 3639);
    // averages: pairs (0, 1), centre 0
    CHECK(one_rg<uint8_t>(21, {0, 0, 0, 0, 0, 1, 1, 1, 1}) == 0);
    CHECK(one_rg<uint8_t>(22, {0, 0, 0, 0, 0, 1, 1, 1, 1}) == 1);
    // all pairs (40, 60)
    CHECK(one_rg<uint8_t>(23, {40, 40, 40, 40, 75, 60, 60, 60, 60}) == 60);
    CHECK(one_rg<uint8_t>(24, {40, 40, 40, 40, 75, 60, 60, 60, 60}) == 70);
    CHECK(one_rg<uint8_t>(23, {40, 40, 40, 40, 100, 60, 60, 60, 60}) == 80);
    CHECK(one_rg<uint8_t>(24, {40, 40, 40, 40, 100, 60, 60, 60, 60}) == 100);
    // Repair: true second-smallest distance (5), and the smallest (1) for mode 19
    CHECK(one_rp<uint8_t>(20, 40, {55, 44, 51, 59, 50, 59, 59, 59, 59}) == 45);
    CHECK(one_rp<uint8_t>(19, 40, {55, 44, 51, 59, 50, 59, 59, 59, 59}) == 49);
    CHECK(one_rp<uint8_t>(23, 50, {55, 44, 51, 59, 40, 59, 59, 59, 59}) == 45);
    // 22: the repair centre limited to a band around the clip value
    CHECK(one_rp<uint8_t>(22, 100, {90, 90, 90, 90, 0, 90, 90, 90, 90}) == 90);
    // 16-bit keys saturate at 65535: P4 (131070) ties P2 (65535) at the cap and wins
    CHECK(one_rg<uint16_t>(6, {0, 0, 0, 0, 65535, 0, 0, 65535, 0}) == 0);
}

// The AVX2 build against the baseline build for the modes with hand-written
// 16-bit rows: depths 9-16 with samples anywhere in 16 bits (a 10-bit clip can
// hold any value), widths around the vector and block sizes.
void avx2_matches_c_u16(std::mt19937 &rng) {
    if (!orvo::cpu_has_avx2())
        return;
    const int modes[] = {11, 12, 19};
    const int bits[] = {9, 10, 12, 15, 16};
    const int widths[] = {17, 18, 19, 33, 47, 514, 515, 529, 1027, 1921};
    for (int mode : modes)
        for (int b : bits)
            for (int w : widths) {
                const int h = 3 + w % 4;
                check::GuardedPlane<uint16_t> src(w, h, 3), got(w, h, 5), want(w, h, 5);
                std::uniform_int_distribution<int> in_range(0, (1 << b) - 1), any(0, 65535), pick(0, 3);
                for (int y = 0; y < h; y++)
                    for (int x = 0; x < w; x++)
                        src.at(x, y) = uint16_t(pick(rng) ? in_range(rng) : any(rng));
                remove_grain_c(src.data(), src.stride, want.data(), want.stride, w, h, mode);
                remove_grain_avx2(src.data(), src.stride, got.data(), got.stride, w, h, mode);
                int bad = 0;
                for (int y = 0; y < h; y++)
                    for (int x = 0; x < w; x++)
                        bad += got.at(x, y) != want.at(x, y);
                if (bad)
                    std::fprintf(stderr, "mode %d, %d bits, %dx%d: %d samples differ\n", mode, b, w, h, bad);
                CHECK(bad == 0);
                CHECK(got.guards_intact());
            }
}

} // namespace

int main() {
    std::mt19937 rng(12345);
    hand_cases();
    avx2_matches_c_u16(rng);
    sweep<uint8_t>(255, rng);
    sweep<uint16_t>(1023, rng);
    sweep<uint16_t>(65535, rng);
    sweep<float>(255, rng);
    return check::finish();
}
