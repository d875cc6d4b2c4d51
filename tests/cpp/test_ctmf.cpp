// Median kernels against a brute-force clamped-window median, both builds,
// every path (radius 1, the networks at 2 and 3, the histogram from 4), on
// random planes of many sizes with guard bytes.
#include "check.h"
#include "cpu.h"
#include "kernel.h"
#include "median25_net.h"

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace orvo::ctmf;

namespace {

template <class T> T brute(const check::GuardedPlane<T> &p, int x, int y, int r) {
    std::vector<T> v;
    for (int dy = -r; dy <= r; dy++)
        for (int dx = -r; dx <= r; dx++)
            v.push_back(p.at(std::clamp(x + dx, 0, p.width - 1), std::clamp(y + dy, 0, p.height - 1)));
    std::nth_element(v.begin(), v.begin() + ptrdiff_t(v.size() / 2), v.end());
    return v[v.size() / 2];
}

template <class T> void run(bool avx2, const check::GuardedPlane<T> &s, check::GuardedPlane<T> &d, int r, int bits) {
    if constexpr (std::is_same_v<T, float>) {
        (void)bits;
        avx2 ? median_avx2(s.data(), s.stride, d.data(), d.stride, s.width, s.height, r)
             : median_c(s.data(), s.stride, d.data(), d.stride, s.width, s.height, r);
    } else {
        avx2 ? median_avx2(s.data(), s.stride, d.data(), d.stride, s.width, s.height, r, bits)
             : median_c(s.data(), s.stride, d.data(), d.stride, s.width, s.height, r, bits);
    }
}

// `spread` < max_value draws from a narrow band so equal values (and, at 16
// bits, long empty stretches of the histogram) both occur.
template <class T> void compare(std::mt19937 &rng, int w, int h, int r, int bits, int spread) {
    const int max_value = std::is_same_v<T, float> ? 1000 : (1 << bits) - 1;
    check::GuardedPlane<T> src(w, h, 3);
    int base = std::uniform_int_distribution<int>(0, max_value - spread)(rng);
    std::uniform_int_distribution<int> dist(base, base + spread);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            src.at(x, y) = T(dist(rng));
    // a few extremes so the walk crosses the whole range
    src.at(0, 0) = T(0);
    src.at(w - 1, h - 1) = T(max_value);
    for (int isa = 0; isa < 2; isa++) {
        if (isa == 1 && !orvo::cpu_has_avx2())
            continue;
        check::GuardedPlane<T> dst(w, h, 5);
        run<T>(isa == 1, src, dst, r, bits);
        int bad = 0;
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++)
                if (dst.at(x, y) != brute(src, x, y, r)) {
                    if (bad++ < 3)
                        std::fprintf(stderr, "r %d bits %d %dx%d isa %d at (%d,%d): got %g want %g\n", r, bits, w, h,
                                     isa, x, y, double(dst.at(x, y)), double(brute(src, x, y, r)));
                }
        CHECK(bad == 0);
        CHECK(dst.guards_intact());
    }
}

template <class T> void sweep(std::mt19937 &rng, int bits) {
    const int sizes[][2] = {{1, 1}, {1, 9}, {9, 1}, {2, 2}, {3, 3}, {5, 4}, {17, 3}, {63, 5}, {64, 4}, {65, 6},
                            {130, 11}};
    const int max_value = std::is_same_v<T, float> ? 1000 : (1 << bits) - 1;
    for (int r : {1, 2, 3, 4, 6})
        for (auto &sz : sizes)
            for (int spread : {max_value, 3}) {
                if (r >= 4 && sz[0] * sz[1] > 800)
                    continue; // brute force is slow at large radius
                compare<T>(rng, sz[0], sz[1], r, bits, spread);
            }
    std::uniform_int_distribution<int> dw(1, 80), dh(1, 9), dr(1, 5);
    for (int i = 0; i < 25; i++)
        compare<T>(rng, dw(rng), dh(rng), dr(rng), bits, i % 2 ? max_value : 5);
}

void constant_plane_stays_constant() {
    for (int r : {1, 2, 3, 5}) {
        check::GuardedPlane<uint8_t> s(8, 8), d(8, 8);
        for (int y = 0; y < 8; y++)
            for (int x = 0; x < 8; x++)
                s.at(x, y) = 200;
        median_c(s.data(), s.stride, d.data(), d.stride, 8, 8, r, 8);
        bool all = true;
        for (int y = 0; y < 8; y++)
            for (int x = 0; x < 8; x++)
                all = all && d.at(x, y) == 200;
        CHECK(all); // no zero padding darkening the corners
    }
}

// The sorted-column network on every window of 0/1 columns (6^5 of them): by the
// 0-1 principle a comparator network that selects the median of these selects it
// for any column-sorted input.
void sorted_columns_network_is_exact() {
    int bad = 0;
    for (int code = 0; code < 6 * 6 * 6 * 6 * 6; code++) {
        int v[25], ones = 0;
        for (int d = 0, c = code; d < 5; d++, c /= 6)
            for (int k = 0; k < 5; k++) {
                v[5 * d + k] = k >= 5 - c % 6; // column d holds c % 6 ones at its top
                ones += v[5 * d + k];
            }
        for (const auto &cmp : kSortedColumnsNet) {
            int a = v[cmp[0]], b = v[cmp[1]];
            v[cmp[0]] = std::min(a, b);
            v[cmp[1]] = std::max(a, b);
        }
        bad += v[kSortedColumnsOut] != (ones >= 13);
    }
    CHECK(bad == 0);
}

// The AVX2 build against the baseline build where they take different paths
// (radius 2 sorts columns first): any 16-bit value in a plane declared 9-15
// bits, widths around the vector and chunk lengths, planes of a few rows.
template <class T> void builds_agree(std::mt19937 &rng) {
    if (!orvo::cpu_has_avx2())
        return;
    const int bits_list[] = {8, 9, 10, 12, 15, 16};
    const int widths[] = {1, 2, 3, 5, 15, 16, 17, 31, 32, 33, 63, 65, 97, 200};
    for (int bits : bits_list) {
        if ((bits > 8) != (sizeof(T) == 2))
            continue;
        for (int w : widths)
            for (int h : {1, 2, 3, 4, 5, 7}) {
                check::GuardedPlane<T> s(w, h, 3), c(w, h, 1), a(w, h, 1);
                s.fill_random(rng, sizeof(T) == 1 ? 255 : 65535);
                median_c(s.data(), s.stride, c.data(), c.stride, w, h, 2, bits);
                median_avx2(s.data(), s.stride, a.data(), a.stride, w, h, 2, bits);
                bool same = true;
                for (int y = 0; y < h; y++)
                    for (int x = 0; x < w; x++)
                        same = same && a.at(x, y) == c.at(x, y);
                CHECK(same);
                CHECK(a.guards_intact());
            }
    }
}

} // namespace

int main() {
    std::mt19937 rng(777);
    constant_plane_stays_constant();
    sorted_columns_network_is_exact();
    builds_agree<uint8_t>(rng);
    builds_agree<uint16_t>(rng);
    sweep<uint8_t>(rng, 8);
    sweep<uint16_t>(rng, 10);
    sweep<uint16_t>(rng, 16);
    sweep<float>(rng, 32);
    return check::finish();
}
