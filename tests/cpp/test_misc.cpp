// Hysteresis kernel against a union-find labelling of the 8-connected
// regions, on random masks of many sizes with guard bytes.
#include "check.h"
#include "kernel.h"

#include <cmath>
#include <numeric>
#include <vector>

using namespace orvo::misc;

namespace {

template <class T> bool on(T v) { return v > T(0); }

// Expected output from labelled regions: a region is kept if any of its
// pixels is on in `a`.
template <class T> std::vector<T> reference(const check::GuardedPlane<T> &a, const check::GuardedPlane<T> &b, T peak) {
    int w = a.width, h = a.height;
    std::vector<int> parent(size_t(w * h));
    std::iota(parent.begin(), parent.end(), 0);
    auto find = [&](int i) {
        while (parent[size_t(i)] != i)
            i = parent[size_t(i)] = parent[size_t(parent[size_t(i)])];
        return i;
    };
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            if (!on(b.at(x, y)))
                continue;
            // earlier neighbours: left, and the three above
            const int nb[4][2] = {{-1, 0}, {-1, -1}, {0, -1}, {1, -1}};
            for (auto &d : nb) {
                int nx = x + d[0], ny = y + d[1];
                if (nx >= 0 && nx < w && ny >= 0 && on(b.at(nx, ny)))
                    parent[size_t(find(y * w + x))] = find(ny * w + nx);
            }
        }
    std::vector<bool> keep(size_t(w * h), false);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            if (on(a.at(x, y)) && on(b.at(x, y)))
                keep[size_t(find(y * w + x))] = true;
    std::vector<T> out(size_t(w * h), T(0));
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            if (on(b.at(x, y)) && keep[size_t(find(y * w + x))])
                out[size_t(y * w + x)] = peak;
    return out;
}

template <class T> void compare(std::mt19937 &rng, int w, int h, double density_b, double density_a, T peak) {
    check::GuardedPlane<T> a(w, h, 2), b(w, h, 3), out(w, h, 1);
    std::bernoulli_distribution db(density_b), da(density_a);
    std::uniform_int_distribution<int> val(1, 200);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            // off values include negatives and NaN for float
            T off = T(0);
            if constexpr (std::is_floating_point_v<T>)
                off = (x + y) % 3 == 0 ? T(-0.5) : (x + y) % 3 == 1 ? T(NAN) : T(0);
            b.at(x, y) = db(rng) ? T(val(rng)) : off;
            a.at(x, y) = da(rng) ? T(val(rng)) : off;
        }
    std::vector<uint32_t> stack;
    hysteresis(a.data(), a.stride, b.data(), b.stride, out.data(), out.stride, w, h, peak, stack);
    std::vector<T> want = reference(a, b, peak);
    int bad = 0;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            bad += out.at(x, y) != want[size_t(y * w + x)];
    CHECK(bad == 0);
    CHECK(out.guards_intact());
}

} // namespace

int main() {
    std::mt19937 rng(99);
    const int sizes[][2] = {{1, 1}, {1, 17}, {17, 1}, {2, 3}, {7, 7}, {33, 5}, {64, 48}, {301, 37}};
    for (auto &sz : sizes)
        for (double db : {0.3, 0.55, 0.9})
            for (double da : {0.0, 0.01, 0.2}) {
                compare<uint8_t>(rng, sz[0], sz[1], db, da, uint8_t(255));
                compare<uint16_t>(rng, sz[0], sz[1], db, da, uint16_t(1023));
                compare<float>(rng, sz[0], sz[1], db, da, 1.0f);
            }
    // one region covering a large plane: the fill must not recurse
    check::GuardedPlane<uint8_t> a(2000, 1500), b(2000, 1500), out(2000, 1500);
    for (int y = 0; y < 1500; y++)
        for (int x = 0; x < 2000; x++)
            a.at(x, y) = 0, b.at(x, y) = 1;
    a.at(1999, 1499) = 1;
    std::vector<uint32_t> stack;
    hysteresis(a.data(), a.stride, b.data(), b.stride, out.data(), out.stride, 2000, 1500, uint8_t(255), stack);
    CHECK(out.at(0, 0) == 255 && out.at(1000, 700) == 255);
    return check::finish();
}
