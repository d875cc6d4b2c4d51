// Deband kernels: generator, offset table, and the plane kernel against a
// direct per-pixel model that checks every reference lies inside the plane.
#include <cstddef> // check.h uses ptrdiff_t without including it

#include "check.h"
#include "cpu.h"
#include "kernel.h"

#include <algorithm>
#include <cmath>
#include <set>

#include <sys/mman.h>
#include <unistd.h>

using namespace f3kdb;

namespace {

bool near(double a, double b) { return std::fabs(a - b) < 5e-7; }

void test_generator() {
    // Known start: seed 0, 64x64, one frame.
    uint32_t s = Rng::initial_state(0, 64, 64, 1);
    CHECK(s == 0x92978CE3u);
    Rng r(s);
    CHECK(near(r.uniform(), 0.643999));
    CHECK(near(r.uniform(), 0.458183));
    CHECK(near(r.uniform(), -0.177801));
    CHECK(state_to_unit(0) == -1.0);
    CHECK(state_to_unit(0xFFFFFFFFu) < 1.0);
    CHECK(state_to_unit(0xFFFFFFFFu) > 0.9999);

    // Draws stay within the amplitude for every algorithm; gaussian stays inside (-1, 1).
    for (int algo = 0; algo <= 2; algo++) {
        Rng g(Rng::initial_state(7, 100, 50, 3));
        int64_t lo = 0, hi = 0;
        for (int i = 0; i < 20000; i++) {
            int64_t v = g.draw(algo, 3.0, 31);
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
        CHECK(lo >= -31 && hi <= 31);
        CHECK(lo < -20 && hi > 20); // spread over the range, not stuck
    }
    // A zero amplitude still advances the state.
    Rng a(123), b(123);
    a.draw(random_uniform, 1.0, 0);
    CHECK(a.state() != b.state());
}

void test_bayer() {
    const uint8_t row0[6] = {0, 128, 32, 160, 8, 136};
    const uint8_t row1[4] = {192, 64, 224, 96};
    CHECK(std::equal(row0, row0 + 6, bayer16.v[0]));
    CHECK(std::equal(row1, row1 + 4, bayer16.v[1]));
    std::set<int> seen;
    for (auto &row : bayer16.v)
        for (uint8_t v : row)
            seen.insert(v);
    CHECK(seen.size() == 256);
}

void test_tables(std::mt19937 &rng) {
    for (int iter = 0; iter < 40; iter++) {
        TableParams p;
        p.width = 1 + int(rng() % 90);
        p.height = 1 + int(rng() % 70);
        p.frames = 1 + int(rng() % 5);
        p.range = int(rng() % 32);
        p.sample_mode = 1 + int(rng() % 2);
        p.seed = int32_t(rng());
        p.ssw = int(rng() % 3);
        p.ssh = int(rng() % 3);
        p.algo_ref = int(rng() % 3);
        p.algo_grain = int(rng() % 3);
        p.sigma_ref = 0.5 + (rng() % 4);
        p.grain_y = int(rng() % 3) * 100;
        p.grain_c = int(rng() % 3) * 100;
        p.dynamic_grain = rng() % 2;
        Tables t = build_tables(p);
        bool within = true, b_zero = true;
        for (int y = 0; y < p.height; y++)
            for (int x = 0; x < p.width; x++) {
                int r = std::min({p.range, y, p.height - 1 - y});
                if (p.sample_mode == 2)
                    r = std::min({r, x, p.width - 1 - x});
                RefOffset o = t.ref[size_t(y * p.width + x)];
                within = within && o.a <= r && o.b <= r;
                b_zero = b_zero && (p.sample_mode == 2 || o.b == 0);
            }
        CHECK(within);
        CHECK(b_zero);
        // Grain amplitude and buffer room for the furthest frame offset.
        bool grain_ok = true;
        for (int16_t g : t.grain_luma)
            grain_ok = grain_ok && std::abs(g) <= p.grain_y;
        for (int16_t g : t.grain_chroma)
            grain_ok = grain_ok && std::abs(g) <= p.grain_c;
        CHECK(grain_ok);
        if (p.grain_y > 0 || p.grain_c > 0) {
            int64_t far = 0;
            for (int n = 0; n < p.frames; n++)
                far = std::max(far, t.grain_offset(n));
            CHECK(far + grain_stride(p.width) * p.height <= int64_t(t.grain_size));
        }
        // Same parameters, same table.
        Tables again = build_tables(p);
        CHECK(std::equal(t.ref.begin(), t.ref.end(), again.ref.begin(),
                         [](RefOffset x, RefOffset y) { return x.a == y.a && x.b == y.b; }));
        CHECK(t.grain_luma == again.grain_luma && t.frame_offset == again.frame_offset);
    }
    // The seed and the clip length both change the pattern.
    TableParams p;
    p.width = 64;
    p.height = 64;
    auto differs = [](const Tables &a, const Tables &b) {
        for (size_t i = 0; i < a.ref.size(); i++)
            if (a.ref[i].a != b.ref[i].a || a.ref[i].b != b.ref[i].b)
                return true;
        return false;
    };
    Tables base = build_tables(p);
    p.seed = 1;
    CHECK(differs(base, build_tables(p)));
    p.seed = 0;
    p.frames = 2;
    CHECK(differs(base, build_tables(p)));
}

// Direct per-pixel model of the plane kernel. Every sample read goes through
// `at`, which records reads outside the plane.
struct Model {
    const std::vector<int> &src;
    int w, h;
    bool out_of_plane = false;
    int at(int r, int c) {
        if (r < 0 || r >= h || c < 0 || c >= w) {
            out_of_plane = true;
            return 0;
        }
        return src[size_t(r * w + c)];
    }
};

std::vector<int> model_plane(const std::vector<int> &src, const PlaneParams &p, const Tables &t, bool &oob) {
    Model m{src, p.width, p.height};
    const int shift = 16 - p.in_depth, k = 16 - p.out_depth;
    std::vector<int> out(src.size());
    std::vector<int> err(size_t(p.width + 2) * size_t(p.height + 1), 0); // Floyd-Steinberg error, +1 column offset
    auto E = [&](int r, int c) -> int & { return err[size_t(r) * size_t(p.width + 2) + size_t(c + 1)]; };
    for (int row = 0; row < p.height; row++)
        for (int col = 0; col < p.width; col++) {
            RefOffset o = t.ref[size_t(row << p.ssh) * size_t(t.width) + size_t(col << p.ssw)];
            int s = m.at(row, col) << shift;
            int q[4];
            int nq = p.sample_mode == 1 ? 2 : 4;
            int avg;
            if (p.sample_mode == 1) {
                q[0] = m.at(row + (o.a >> p.ssh), col) << shift;
                q[1] = m.at(row - (o.a >> p.ssh), col) << shift;
                avg = (q[0] + q[1] + 1) / 2;
            } else {
                int qq[4] = {m.at(row + (o.b >> p.ssh), col + (o.a >> p.ssw)) << shift,
                     m.at(row - (o.a >> p.ssh), col + (o.b >> p.ssw)) << shift,
                     m.at(row - (o.b >> p.ssh), col - (o.a >> p.ssw)) << shift,
                     m.at(row + (o.a >> p.ssh), col - (o.b >> p.ssw)) << shift};
                std::copy(qq, qq + 4, q);
                int m1 = std::max((q[0] + q[1] + 1) / 2 - 1, 0);
                avg = (m1 + (q[2] + q[3] + 1) / 2 + 1) / 2;
            }
            bool banded = std::abs(avg - s) < p.threshold;
            if (!p.blur_first) {
                banded = true;
                for (int i = 0; i < nq; i++)
                    banded = banded && std::abs(q[i] - s) < p.threshold;
            }
            int v = banded ? avg : s;
            if (p.grain)
                v = std::clamp(v + p.grain[row * p.grain_stride + col], 0, 65535);
            int res;
            if (k == 0) {
                res = std::clamp<int>(v, p.lo, p.hi);
            } else if (p.dither == dither_ordered) {
                res = std::clamp<int>(std::min(v + (bayer16.v[row & 15][col & 15] >> (p.out_depth - 8)), 65535), p.lo,
                                      p.hi) >> k;
            } else if (p.dither == dither_floyd) {
                int x = std::clamp(v + E(row, col), 0, 65535);
                int e = x & ((1 << k) - 1);
                if (col + 1 < p.width)
                    E(row, col + 1) += 7 * e / 16;
                if (col > 0)
                    E(row + 1, col - 1) += 3 * e / 16;
                E(row + 1, col) += 5 * e / 16;
                if (col + 1 < p.width)
                    E(row + 1, col + 1) += e / 16;
                res = std::clamp<int>(x, p.lo, p.hi) >> k;
            } else {
                res = std::clamp<int>(v, p.lo, p.hi) >> k;
            }
            out[size_t(row * p.width + col)] = res;
        }
    oob = m.out_of_plane;
    return out;
}

// An input plane placed flush against inaccessible pages on both sides, so any
// read outside it faults. Vector gathers escape the sanitizer; this catches them.
template <class T>
struct FencedPlane {
    size_t page = size_t(sysconf(_SC_PAGESIZE));
    size_t bytes, span;
    uint8_t *base;
    T *data;
    explicit FencedPlane(const std::vector<int> &v) : bytes(v.size() * sizeof(T)) {
        span = (bytes + page - 1) / page * page;
        base = static_cast<uint8_t *>(mmap(nullptr, span + 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        mprotect(base, page, PROT_NONE);
        mprotect(base + page + span, page, PROT_NONE);
        data = reinterpret_cast<T *>(base + page + span - bytes); // ends at the fence
        for (size_t i = 0; i < v.size(); i++)
            data[i] = T(v[i]);
    }
    FencedPlane(const FencedPlane &) = delete;
    FencedPlane &operator=(const FencedPlane &) = delete;
    ~FencedPlane() { munmap(base, span + 2 * page); }
};

// Runs the kernel on a fenced input with no row padding and a guarded output
// with row padding.
template <class Tin, class Tout>
std::vector<int> run_kernel(const std::vector<int> &src, const PlaneParams &p, const Tables &t, bool &guards_ok) {
    FencedPlane<Tin> fenced(src);
    const Tin *in = fenced.data;
    check::GuardedPlane<Tout> out(p.width, p.height, 3, Tout(0xA5));
    std::vector<int32_t> scratch(scratch_size(p.width));
    deband_plane(in, ptrdiff_t(p.width * sizeof(Tin)), out.data(), ptrdiff_t(out.stride * sizeof(Tout)), p,
                 t.ref.data(), t.width, scratch.data());
    guards_ok = out.guards_intact();
    std::vector<int> res(src.size());
    for (int y = 0; y < p.height; y++)
        for (int x = 0; x < p.width; x++)
            res[size_t(y * p.width + x)] = out.at(x, y);
    return res;
}

std::vector<int> run_any(const std::vector<int> &src, const PlaneParams &p, const Tables &t, bool &guards_ok) {
    bool in8 = p.in_depth == 8, out8 = p.out_depth == 8;
    if (in8 && out8)
        return run_kernel<uint8_t, uint8_t>(src, p, t, guards_ok);
    if (in8)
        return run_kernel<uint8_t, uint16_t>(src, p, t, guards_ok);
    if (out8)
        return run_kernel<uint16_t, uint8_t>(src, p, t, guards_ok);
    return run_kernel<uint16_t, uint16_t>(src, p, t, guards_ok);
}

// Smooth ramps with noise: enough near-equal neighbours for banding decisions to go both ways.
std::vector<int> textured(std::mt19937 &rng, int w, int h, int depth) {
    const int peak = (1 << depth) - 1;
    std::uniform_int_distribution<int> noise(-2, 2);
    std::vector<int> v(size_t(w) * size_t(h));
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            int base = (x * 3 + y * 2) * (peak / 255 + 1) / 4 + ((x / 11) % 2) * (peak / 16);
            v[size_t(y * w + x)] = std::clamp(base % (peak + 1) + noise(rng), 0, peak);
        }
    return v;
}

void test_plane_against_model(std::mt19937 &rng) {
    const int depths[] = {8, 10, 16};
    int mismatches = 0, oob = 0, bad_guards = 0, runs = 0, simd_runs = 0;
    for (int iter = 0; iter < 150; iter++) {
        TableParams tp;
        tp.ssw = int(rng() % 3);
        tp.ssh = int(rng() % 3);
        // Luma sizes from a handful of pixels up, multiples of the subsampling.
        tp.width = (1 + int(rng() % 60)) << tp.ssw;
        tp.height = (1 + int(rng() % 50)) << tp.ssh;
        tp.frames = 1 + int(rng() % 3);
        tp.range = int(rng() % 32);
        tp.sample_mode = 1 + int(rng() % 2);
        tp.seed = int32_t(rng());
        tp.grain_y = (rng() % 2) ? 4 * int(rng() % 200) : 0;
        tp.grain_c = (rng() % 2) ? 4 * int(rng() % 200) : 0;
        tp.dynamic_grain = rng() % 2;
        Tables t = build_tables(tp);
        for (int plane = 0; plane < 2; plane++) {
            PlaneParams p;
            p.ssw = plane ? tp.ssw : 0;
            p.ssh = plane ? tp.ssh : 0;
            p.width = tp.width >> p.ssw;
            p.height = tp.height >> p.ssh;
            p.in_depth = depths[rng() % 3];
            p.out_depth = 8 + int(rng() % 9);
            p.threshold = 4 * int(rng() % 200);
            p.sample_mode = tp.sample_mode;
            p.blur_first = rng() % 2;
            p.dither = 1 + int(rng() % 4);
            if (rng() % 2) {
                p.lo = 16 << 8;
                p.hi = uint16_t((plane ? 240 : 235) << 8);
            }
            const std::vector<int16_t> &g = plane ? t.grain_chroma : t.grain_luma;
            if (!g.empty()) {
                p.grain = g.data() + t.grain_offset(tp.frames - 1);
                p.grain_stride = grain_stride(p.width);
            }
            p.range = tp.range;
            std::vector<int> src = textured(rng, p.width, p.height, p.in_depth);
            bool model_oob = false, guards_ok = false;
            std::vector<int> want = model_plane(src, p, t, model_oob);
            oob += model_oob;
            // The scalar kernel, then the AVX2 rows, both against the model.
            for (bool simd : {false, true}) {
                if (simd && !orvo::cpu_has_avx2())
                    continue;
                p.avx2 = simd;
                std::vector<int> got = run_any(src, p, t, guards_ok);
                runs++;
                simd_runs += simd;
                mismatches += got != want;
                bad_guards += !guards_ok;
            }
        }
    }
    CHECK(runs == 300 + simd_runs);
    if (!orvo::cpu_has_avx2())
        std::printf("no AVX2 on this CPU: vector rows not tested\n");
    CHECK(mismatches == 0);
    CHECK(oob == 0);
    CHECK(bad_guards == 0);
}

// Threshold strictness on a hand-made plane, independent of the model: rows
// alternating a and a+d on the 16-bit scale, every reference compared.
void test_threshold_is_strict() {
    TableParams tp;
    tp.width = 48;
    tp.height = 40;
    Tables t = build_tables(tp);
    PlaneParams p;
    p.width = tp.width;
    p.height = tp.height;
    p.threshold = 256;
    p.in_depth = p.out_depth = 16;
    p.blur_first = false;
    for (bool simd : {false, true}) {
        p.avx2 = simd && orvo::cpu_has_avx2();
        for (int d : {256, 255}) {
            std::vector<int> rows(size_t(p.width * p.height));
            for (int y = 0; y < p.height; y++)
                for (int x = 0; x < p.width; x++)
                    rows[size_t(y * p.width + x)] = 30000 + (y % 2) * d;
            bool guards = false;
            std::vector<int> out = run_any(rows, p, t, guards);
            int changed = 0;
            for (size_t i = 0; i < out.size(); i++)
                changed += out[i] != rows[i];
            CHECK(d == 256 ? changed == 0 : changed > int(out.size()) / 4);
        }
    }
}

} // namespace

int main() {
    std::mt19937 rng(20240607);
    test_generator();
    test_bayer();
    test_tables(rng);
    test_plane_against_model(rng);
    test_threshold_is_strict();
    return check::finish();
}
