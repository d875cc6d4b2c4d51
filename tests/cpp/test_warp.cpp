// Kernel tests of the warp sharpener: every kernel against a per-pixel oracle
// on random sizes, strides and bit depths, with guard bytes around each plane.
#include "kernel.h" // before check.h, which needs <cstddef>
#include "check.h"
#include "cpu.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

namespace {

using check::GuardedPlane;

int avg(int a, int b) { return (a + b + 1) >> 1; }

// Oracles, one output sample at a time, written from the rules rather than
// from the kernels' loop structure.

template <class T>
int mask_at(const GuardedPlane<T> &s, int x, int y, int thresh, int bits) {
    // Border samples equal the nearest interior sample.
    x = std::clamp(x, 1, s.width - 2);
    y = std::clamp(y, 1, s.height - 2);
    auto p = [&](int dx, int dy) { return int(s.at(x + dx, y + dy)); };
    int up = avg(p(0, -1), avg(p(-1, -1), p(1, -1)));
    int down = avg(p(0, 1), avg(p(-1, 1), p(1, 1)));
    int left = avg(p(-1, 0), avg(p(-1, 1), p(-1, -1)));
    int right = avg(p(1, 0), avg(p(1, 1), p(1, -1)));
    int dv = std::abs(up - down), dh = std::abs(left - right);
    // Saturating chain: sum, add the larger, triple, double, each clipped at peak.
    int peak = (1 << bits) - 1;
    int v = std::min(dv + dh, peak);
    v = std::min(v + std::max(dv, dh), peak);
    v = std::min(v * 3, peak);
    v = std::min(v * 2, peak);
    return std::min(v, thresh);
}

int blur0_at(const std::vector<int> &c, int i) {
    int n = int(c.size());
    int q12, q34, q56;
    if (i < 6) {
        q12 = avg(c[i + 1], c[i + 2]), q34 = avg(c[i + 3], c[i + 4]), q56 = avg(c[i + 5], c[i + 6]);
    } else if (i >= n - 6) {
        q12 = avg(c[i - 1], c[i - 2]), q34 = avg(c[i - 3], c[i - 4]), q56 = avg(c[i - 5], c[i - 6]);
    } else {
        int p[7];
        for (int k = 1; k <= 6; k++)
            p[k] = avg(c[i - k], c[i + k]);
        q12 = avg(p[1], p[2]), q34 = avg(p[3], p[4]), q56 = avg(p[5], p[6]);
    }
    int a = avg(c[i], q12), b = avg(q34, q56);
    return avg(a, avg(a, b));
}

int blur1_at(const std::vector<int> &c, int i) {
    int n = int(c.size());
    auto at = [&](int k) { return c[std::clamp(i + k, 0, n - 1)]; };
    int p1 = avg(at(-1), at(1)), p2 = avg(at(-2), at(2));
    int t = avg(avg(p2, at(0)), at(0));
    return avg(t, p1);
}

// Separable pass on a w x h grid: rows first, then columns.
std::vector<int> blur_pass_oracle(const std::vector<int> &m, int w, int h, int (*f)(const std::vector<int> &, int)) {
    std::vector<int> rows(m.size()), out(m.size());
    for (int y = 0; y < h; y++) {
        std::vector<int> line(m.begin() + y * w, m.begin() + (y + 1) * w);
        for (int x = 0; x < w; x++)
            rows[size_t(y * w + x)] = f(line, x);
    }
    for (int x = 0; x < w; x++) {
        std::vector<int> line(static_cast<size_t>(h));
        for (int y = 0; y < h; y++)
            line[size_t(y)] = rows[size_t(y * w + x)];
        for (int y = 0; y < h; y++)
            out[size_t(y * w + x)] = f(line, y);
    }
    return out;
}

template <class T>
int warp_at(const GuardedPlane<T> &s, const GuardedPlane<T> &k, int x, int y, int depth, int bits, int &bad_reads) {
    int w = s.width, h = s.height;
    int c = k.at(x, y);
    int l = x > 0 ? k.at(x - 1, y) : c, r = x < w - 1 ? k.at(x + 1, y) : c;
    int u = y > 0 ? k.at(x, y - 1) : c, d = y < h - 1 ? k.at(x, y + 1) : c;
    int dh = (l - r) >> (bits - 8), dv = (u - d) >> (bits - 8);
    // The original fixed-point form: ((d << 7) * (depth << 8)) >> 16, in 64 bit.
    dh = int((int64_t(dh) * 128 * (int64_t(depth) * 256)) >> 16);
    dv = int((int64_t(dv) * 128 * (int64_t(depth) * 256)) >> 16);
    int hi = y == h - 1 ? 0 : 128 * (h - 1 - y) - 1;
    dv = std::clamp(dv, -128 * y, hi);
    int fx = dh & 127, fy = dv & 127;
    int ix = x + (dh >> 7), iy = y + (dv >> 7);
    if (ix >= w - 1 || ix < 0)
        fx = 0;
    ix = std::clamp(ix, 0, w - 1);
    // Samples with weight 0 may lie outside the plane; count any other stray read.
    auto px = [&](int xx, int yy, int weight) {
        if (xx >= 0 && xx < w && yy >= 0 && yy < h)
            return int(s.at(xx, yy));
        if (weight)
            bad_reads++;
        return 0;
    };
    int r0 = (px(ix, iy, 128 - fx) * (128 - fx) + px(ix + 1, iy, fx) * fx + 64) >> 7;
    int r1 = (px(ix, iy + 1, fy) * (128 - fx) + px(ix + 1, iy + 1, fy && fx) * fx + 64) >> 7;
    return std::clamp((r0 * (128 - fy) + r1 * fy + 64) >> 7, 0, (1 << bits) - 1);
}

template <class T>
std::vector<int> to_vec(const GuardedPlane<T> &p) {
    std::vector<int> v;
    for (int y = 0; y < p.height; y++)
        for (int x = 0; x < p.width; x++)
            v.push_back(p.at(x, y));
    return v;
}

template <class T>
bool equals(const GuardedPlane<T> &p, const std::vector<int> &v) {
    return to_vec(p) == v;
}

template <class T>
T marker_for(int bits) {
    return T(bits == 8 ? 0xA5 : 0xA5A5);
}

template <class T>
void test_edge_mask(std::mt19937 &rng, int bits) {
    std::uniform_int_distribution<int> size(3, 40), pad(0, 9), th(0, 255);
    for (int iter = 0; iter < 40; iter++) {
        int w = size(rng), h = size(rng);
        GuardedPlane<T> src(w, h, pad(rng), marker_for<T>(bits)), dst(w, h, pad(rng), marker_for<T>(bits));
        // Mostly small steps so values below the clip limit occur too.
        int range = iter % 2 ? (1 << bits) - 1 : (1 << bits) / 16;
        src.fill_random(rng, range);
        int thresh = (iter % 3 ? th(rng) : 255) << (bits - 8);
        auto before = to_vec(src);
        warp::edge_mask_c<T>(src.data(), src.stride, dst.data(), dst.stride, w, h, thresh, bits);
        bool ok = true;
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++)
                ok &= dst.at(x, y) == mask_at(src, x, y, thresh, bits);
        CHECK(ok);
        CHECK(equals(src, before));
        CHECK(src.guards_intact() && dst.guards_intact());
    }
}

template <class T>
void test_blur(std::mt19937 &rng, int bits, int type) {
    int min = type == 0 ? warp::kBlur0MinSize : 1;
    std::uniform_int_distribution<int> size(min, min + 30), pad(0, 9);
    for (int iter = 0; iter < 40; iter++) {
        int w = size(rng), h = size(rng);
        if (iter == 0)
            w = h = min; // the smallest accepted plane
        GuardedPlane<T> m(w, h, pad(rng), marker_for<T>(bits)), tmp(w, h, pad(rng), marker_for<T>(bits));
        m.fill_random(rng, (1 << bits) - 1);
        auto expect = to_vec(m);
        for (int pass = 0; pass < 2; pass++) {
            expect = blur_pass_oracle(expect, w, h, type == 0 ? blur0_at : blur1_at);
            if (type == 0)
                warp::blur0_c<T>(m.data(), m.stride, tmp.data(), tmp.stride, w, h);
            else
                warp::blur1_c<T>(m.data(), m.stride, tmp.data(), tmp.stride, w, h);
        }
        CHECK(equals(m, expect));
        CHECK(m.guards_intact() && tmp.guards_intact());
    }
}

template <class T>
void test_downscale(std::mt19937 &rng, int bits) {
    std::uniform_int_distribution<int> size(1, 24), pad(0, 9);
    const int sub[4][2] = {{0, 0}, {1, 0}, {0, 1}, {1, 1}};
    for (int iter = 0; iter < 48; iter++) {
        int ssw = sub[iter % 4][0], ssh = sub[iter % 4][1];
        bool mpeg2 = (iter / 4) % 2;
        int cw = size(rng), ch = size(rng);
        GuardedPlane<T> src(cw << ssw, ch << ssh, pad(rng), marker_for<T>(bits));
        GuardedPlane<T> dst(cw, ch, pad(rng), marker_for<T>(bits));
        src.fill_random(rng, (1 << bits) - 1);
        warp::downscale_mask_c<T>(src.data(), src.stride, dst.data(), dst.stride, cw, ch, ssw, ssh, mpeg2);
        bool ok = true;
        for (int y = 0; y < ch; y++) {
            for (int x = 0; x < cw; x++) {
                auto m = [&](int xx, int yy) { return int(src.at(std::max(xx, 0), yy)); };
                int e;
                if (!ssw && !ssh)
                    e = m(x, y);
                else if (!ssw)
                    e = avg(m(x, 2 * y), m(x, 2 * y + 1));
                else if (!mpeg2 && !ssh)
                    e = avg(m(2 * x, y), m(2 * x + 1, y));
                else if (!mpeg2)
                    e = avg(avg(m(2 * x, 2 * y), m(2 * x + 1, 2 * y)),
                            avg(m(2 * x, 2 * y + 1), m(2 * x + 1, 2 * y + 1)));
                else if (!ssh)
                    e = (m(2 * x - 1, y) + 2 * m(2 * x, y) + m(2 * x + 1, y) + 2) >> 2;
                else {
                    auto col = [&](int j) { return m(j, 2 * y) + m(j, 2 * y + 1); };
                    e = (col(2 * x - 1) + 2 * col(2 * x) + col(2 * x + 1) + 4) >> 3;
                }
                ok &= dst.at(x, y) == e;
            }
        }
        CHECK(ok);
        CHECK(src.guards_intact() && dst.guards_intact());
    }
}

template <class T>
void test_warp(std::mt19937 &rng, int bits) {
    std::uniform_int_distribution<int> size(1, 40), pad(0, 9), dep(-128, 127);
    const int peak = (1 << bits) - 1;
    for (int iter = 0; iter < 60; iter++) {
        int w = size(rng), h = std::max(2, size(rng));
        GuardedPlane<T> src(w, h, pad(rng), marker_for<T>(bits)), mask(w, h, pad(rng), marker_for<T>(bits));
        GuardedPlane<T> dst(w, h, pad(rng), marker_for<T>(bits));
        src.fill_random(rng, peak);
        // Full-range masks push displacements into the clamps; small ones stay sub-pixel.
        mask.fill_random(rng, iter % 2 ? peak : std::max(1, peak / 64));
        int depth = iter % 5 == 0 ? (iter % 10 ? 127 : -128) : dep(rng);
        warp::warp_c<T>(src.data(), src.stride, mask.data(), mask.stride, dst.data(), dst.stride, w, h, depth, bits);
        if (orvo::cpu_has_avx2()) {
            GuardedPlane<T> simd(w, h, pad(rng), marker_for<T>(bits));
            warp::warp_avx2<T>(src.data(), src.stride, mask.data(), mask.stride, simd.data(), simd.stride, w, h,
                               depth, bits);
            CHECK(to_vec(simd) == to_vec(dst));
            CHECK(simd.guards_intact());
        }
        int bad_reads = 0;
        bool ok = true;
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++)
                ok &= dst.at(x, y) == warp_at(src, mask, x, y, depth, bits, bad_reads);
        CHECK(ok);
        CHECK(bad_reads == 0);
        CHECK(src.guards_intact() && mask.guards_intact() && dst.guards_intact());
    }
}

// A plane placed right after and right before an inaccessible page: any read
// outside it faults. Full-range masks and extreme depths push every position
// into the corners.
template <class T>
void test_warp_page_fence(std::mt19937 &rng, int bits) {
    const size_t page = size_t(sysconf(_SC_PAGESIZE));
    const int w = 45, h = 23; // odd sizes, no row padding
    const size_t bytes = sizeof(T) * size_t(w) * size_t(h);
    const size_t span = (bytes + page - 1) / page * page;
    void *map = mmap(nullptr, span + 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    char *mem = static_cast<char *>(map);
    if (map == MAP_FAILED) {
        CHECK(!"mmap failed");
        return;
    }
    mprotect(mem, page, PROT_NONE);
    mprotect(mem + page + span, page, PROT_NONE);
    GuardedPlane<T> mask(w, h), ref(w, h), out(w, h);
    for (bool at_end : {true, false}) {
        T *src = reinterpret_cast<T *>(at_end ? mem + page + span - bytes : mem + page);
        for (int i = 0; i < w * h; i++)
            src[i] = T(rng() & ((1u << bits) - 1));
        for (int depth : {127, -128, 37}) {
            mask.fill_random(rng, (1 << bits) - 1);
            warp::warp_c<T>(src, w, mask.data(), mask.stride, ref.data(), ref.stride, w, h, depth, bits);
            if (orvo::cpu_has_avx2()) {
                warp::warp_avx2<T>(src, w, mask.data(), mask.stride, out.data(), out.stride, w, h, depth, bits);
                CHECK(to_vec(out) == to_vec(ref));
            }
        }
    }
    munmap(mem, span + 2 * page);
}

// A flat mask (or depth 0) moves nothing, the last row included.
template <class T>
void test_warp_identity(std::mt19937 &rng, int bits) {
    for (int depth : {0, 16, -128}) {
        int w = 17, h = 9;
        GuardedPlane<T> src(w, h, 3), mask(w, h, 1), dst(w, h, 2);
        src.fill_random(rng, (1 << bits) - 1);
        if (depth == 0)
            mask.fill_random(rng, (1 << bits) - 1);
        else
            for (int y = 0; y < h; y++)
                for (int x = 0; x < w; x++)
                    mask.at(x, y) = T(1 << (bits - 2));
        warp::warp_c<T>(src.data(), src.stride, mask.data(), mask.stride, dst.data(), dst.stride, w, h, depth, bits);
        CHECK(to_vec(dst) == to_vec(src));
    }
}

// Hand-worked numbers: a 32x32 ramp 0 x14, 51, 102, 153, 204, 255 x14, edge
// mask at thresh 128 and two 13-tap passes.
void test_ramp_mask() {
    const int n = 32;
    GuardedPlane<uint8_t> src(n, n), mask(n, n), tmp(n, n);
    const int ramp[4] = {51, 102, 153, 204};
    for (int y = 0; y < n; y++)
        for (int x = 0; x < n; x++)
            src.at(x, y) = uint8_t(x < 14 ? 0 : x < 18 ? ramp[x - 14] : 255);
    warp::edge_mask_c<uint8_t>(src.data(), src.stride, mask.data(), mask.stride, n, n, 128, 8);
    for (int x = 0; x < n; x++)
        CHECK(mask.at(x, 7) == ((x >= 13 && x <= 18) ? 128 : 0));
    for (int i = 0; i < 2; i++)
        warp::blur0_c<uint8_t>(mask.data(), mask.stride, tmp.data(), tmp.stride, n, n);
    const int expect[12] = {27, 38, 49, 68, 75, 81, 81, 75, 68, 49, 38, 27};
    bool ok = true;
    for (int y = 0; y < n; y++)
        for (int x = 10; x < 22; x++)
            ok &= mask.at(x, y) == expect[x - 10];
    CHECK(ok);
}

} // namespace

int main() {
    std::mt19937 rng(20240611);
    std::printf("AVX2 warp %s\n", orvo::cpu_has_avx2() ? "tested" : "not tested (no AVX2 on this CPU)");
    test_ramp_mask();
    for (int bits : {8}) {
        test_edge_mask<uint8_t>(rng, bits);
        test_blur<uint8_t>(rng, bits, 0);
        test_blur<uint8_t>(rng, bits, 1);
        test_downscale<uint8_t>(rng, bits);
        test_warp<uint8_t>(rng, bits);
        test_warp_identity<uint8_t>(rng, bits);
        test_warp_page_fence<uint8_t>(rng, bits);
    }
    for (int bits : {9, 10, 12, 16}) {
        test_edge_mask<uint16_t>(rng, bits);
        test_blur<uint16_t>(rng, bits, 0);
        test_blur<uint16_t>(rng, bits, 1);
        test_downscale<uint16_t>(rng, bits);
        test_warp<uint16_t>(rng, bits);
        test_warp_identity<uint16_t>(rng, bits);
        test_warp_page_fence<uint16_t>(rng, bits);
    }
    return check::finish();
}
