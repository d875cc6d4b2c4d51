// fmtc kernels: filter weights against hand-derived values, AVX2 against the
// scalar passes, and the dither loops inside guarded planes.
#include <algorithm>
#include <cstddef> // check.h uses ptrdiff_t

#include "check.h"
#include "cpu.h"
#include "kernel.h"

#include <cmath>
#include <type_traits>

using namespace fmtc;

namespace {

// Weight of source sample i for output j (0 outside the row's span).
double weight(const FilterTable &t, int j, int i) {
    int k = i - t.start[j];
    return (k >= 0 && k < t.taps) ? t.row(j)[k] : 0.0;
}

bool weights_are(const FilterTable &t, int j, int first, std::vector<double> expect) {
    bool ok = true;
    for (size_t k = 0; k < expect.size(); k++)
        ok &= std::fabs(weight(t, j, first + int(k)) - expect[k]) < 2e-7;
    // Nothing outside the listed span.
    for (int i = 0; i < t.src_size; i++)
        if (i < first || i >= first + int(expect.size()))
            ok &= weight(t, j, i) == 0.0;
    if (!ok) {
        std::fprintf(stderr, "output %d:", j);
        for (int i = 0; i < t.src_size; i++)
            std::fprintf(stderr, " %.8f", weight(t, j, i));
        std::fprintf(stderr, "\n");
    }
    return ok;
}

FilterTable table(KernelKind kind, int S, int D, double cs, double cd, int taps = 4, double a = 0, double b = 0) {
    KernelDef k;
    k.kind = kind;
    k.taps = taps;
    if (kind == KernelKind::bicubic)
        k.b = a, k.c = b;
    if (kind == KernelKind::gauss)
        k.p = a;
    FilterTable t;
    TableParams s{S, D, 0.0, double(S), cs, cd};
    CHECK(build_table(k, s, t));
    return t;
}

void test_weights() {
    auto bc = table(KernelKind::bicubic, 16, 8, 0.5, 0.5, 4, 0, 0.5);
    CHECK(weights_are(bc, 3, 3, {-0.01171875, -0.03515625, 0.11328125, 0.43359375, 0.43359375, 0.11328125, -0.03515625, -0.01171875}));
    CHECK(weights_are(bc, 0, 0, {0.5, 0.43359375, 0.11328125, -0.03515625, -0.01171875}));
    // Mirror image at the far edge.
    CHECK(weights_are(bc, 7, 11, {-0.01171875, -0.03515625, 0.11328125, 0.43359375, 0.5}));

    auto bl = table(KernelKind::bilinear, 16, 8, 0.5, 0.5);
    CHECK(weights_are(bl, 4, 7, {0.125, 0.375, 0.375, 0.125}));
    CHECK(weights_are(bl, 0, 0, {0.5, 0.375, 0.125}));

    auto s36 = table(KernelKind::spline36, 8, 16, 0.5, 0.5);
    CHECK(weights_are(s36, 0, 0, {1.09531998, -0.11438397, 0.01906400}));
    CHECK(weights_are(s36, 1, 0, {0.78409091, 0.26861543, -0.06324761, 0.01054127}));
    CHECK(weights_are(s36, 7, 1, {0.01906400, -0.11438397, 0.87941089, 0.26861543, -0.06324761, 0.01054127}));

    auto l3 = table(KernelKind::lanczos, 8, 16, 0.5, 0.5, 3);
    CHECK(weights_are(l3, 1, 0, {0.78960842, 0.27101057, -0.06799726, 0.00737827}));
    auto l4 = table(KernelKind::lanczos, 8, 16, 0.5, 0.5, 4);
    CHECK(weights_are(l4, 1, 0, {0.78147949, 0.28268394, -0.09166057, 0.03146775, -0.00397062}));
    auto g = table(KernelKind::gauss, 8, 16, 0.5, 0.5, 4, 10);
    CHECK(weights_are(g, 1, 0, {0.62320198, 0.31806011, 0.05622561, 0.00248484, 0.00002745}));

    // 4:2:0 mpeg2 chroma -> 4:4:4 horizontally: even outputs copy, odd ones interpolate.
    auto up = table(KernelKind::spline36, 8, 16, 0.25, 0.5);
    CHECK(weights_are(up, 8, 4, {1.0}));
    CHECK(weights_are(up, 7, 1, {0.01973684, -0.11842105, 0.59868421, 0.59868421, -0.11842105, 0.01973684}));
    auto up4 = table(KernelKind::spline36, 4, 8, 0.25, 0.5);
    CHECK(weights_are(up4, 3, 0, {-0.09868421, 0.59868421, 0.59868421, -0.09868421}));
    // 4:4:4 -> 4:2:0 mpeg2 horizontally.
    auto dn = table(KernelKind::spline36, 32, 16, 0.5, 0.25);
    CHECK(weights_are(dn, 8, 11, {0.00986842, 0, -0.05921053, 0, 0.29934211, 0.5, 0.29934211, 0, -0.05921053, 0, 0.00986842}));
    CHECK(weights_are(dn, 1, 0, {-0.04934211, 0.29934211, 0.5, 0.29934211, 0, -0.05921053, 0, 0.00986842}));

    // Every row sums to the gain; every span stays inside the picture.
    KernelDef k;
    k.kind = KernelKind::lanczos;
    FilterTable t;
    TableParams s{37, 101, -3.3, 45.5, 0.5, 0.5, 1.0, 256.0, 7.0};
    CHECK(build_table(k, s, t));
    bool ok = true;
    for (int j = 0; j < t.dst_size; j++) {
        double sum = 0;
        for (int i = 0; i < t.taps; i++)
            sum += t.row(j)[i];
        ok &= std::fabs(sum - 256.0) < 1e-3 && t.start[j] >= 0 && t.start[j] + t.taps <= 37;
    }
    CHECK(ok);
    CHECK(t.add == 7.0f);
}

template <class T>
T rand_sample(std::mt19937 &rng) {
    if constexpr (std::is_same_v<T, float>)
        return std::uniform_real_distribution<float>(-0.2f, 1.2f)(rng);
    else if constexpr (std::is_same_v<T, uint8_t>)
        return T(rng() & 0xFF);
    else
        return T(rng() & 0xFFFF);
}

// Whole-plane resampling, scalar against AVX2, with guard bytes around the output.
template <class Tin, class Tout>
void compare_plane(std::mt19937 &rng, int sw, int sh, int dw, int dh, KernelKind kind, double x0, bool force_h_first,
                   double cs = 0.5, double cd = 0.5) {
    check::GuardedPlane<Tin> src(sw, sh, 5);
    for (int y = 0; y < sh; y++)
        for (int x = 0; x < sw; x++)
            src.at(x, y) = rand_sample<Tin>(rng);
    KernelDef k;
    k.kind = kind;
    DirPlan h, v;
    h.filtered = v.filtered = true;
    CHECK(build_table(k, TableParams{sw, dw, x0, sw - x0, cs, cd, 1.0, 3.0, 5.0}, h.table));
    CHECK(build_table(k, TableParams{sh, dh, -x0, double(sh), cs, cd}, v.table));
    for (int order = 0; order < 2; order++) {
        const bool hf = force_h_first ? true : order == 1;
        check::GuardedPlane<Tout> a(dw, dh, 3, Tout(77)), b(dw, dh, 3, Tout(77));
        resample_plane(src.data(), src.stride, sw, sh, a.data(), a.stride, dw, dh, h, v, hf, false);
        resample_plane(src.data(), src.stride, sw, sh, b.data(), b.stride, dw, dh, h, v, hf, orvo::cpu_has_avx2());
        CHECK(a.buf == b.buf);
        CHECK(a.guards_intact());
        CHECK(src.guards_intact());
        // One direction only, both ways.
        DirPlan none;
        none.offset = 1;
        resample_plane(src.data(), src.stride, sw, sh, a.data(), a.stride, dw, std::min(dh, sh - 1), h, none, hf, false);
        resample_plane(src.data(), src.stride, sw, sh, b.data(), b.stride, dw, std::min(dh, sh - 1), h, none, hf,
                       orvo::cpu_has_avx2());
        CHECK(a.buf == b.buf && a.guards_intact());
    }
}

void test_simd_matches_scalar() {
    std::mt19937 rng(7);
    const int sizes[][4] = {{64, 48, 32, 24}, {61, 37, 97, 59}, {17, 9, 5, 31}, {200, 120, 133, 80}, {9, 9, 9, 9},
                           {700, 30, 1037, 45}};
    for (auto &s : sizes) {
        compare_plane<uint8_t, uint16_t>(rng, s[0], s[1], s[2], s[3], KernelKind::spline36, 0.3, false);
        compare_plane<uint16_t, uint16_t>(rng, s[0], s[1], s[2], s[3], KernelKind::bicubic, -1.7, false);
        compare_plane<float, float>(rng, s[0], s[1], s[2], s[3], KernelKind::lanczos, 2.25, false);
        compare_plane<uint16_t, float>(rng, s[0], s[1], s[2], s[3], KernelKind::gauss, 0, true);
        compare_plane<float, uint16_t>(rng, s[0], s[1], s[2], s[3], KernelKind::bilinear, 0.5, true);
    }
    // Left-sited chroma doubled and halved: tables whose outputs mix single
    // taps and zero weights.
    const int pairs[][2] = {{61, 37}, {8, 9}, {100, 40}, {301, 22}};
    for (auto &s : pairs) {
        compare_plane<uint8_t, uint16_t>(rng, s[0], s[1], s[0] * 2, s[1] * 2, KernelKind::spline36, 0, false, 0.25, 0.5);
        compare_plane<uint16_t, float>(rng, s[0], s[1], s[0] * 2, s[1] * 2, KernelKind::spline36, 0, false, 0.25, 0.5);
        compare_plane<float, uint16_t>(rng, s[0], s[1], s[0] * 2, s[1] * 2, KernelKind::spline36, 0, false, 0.25, 0.5);
        compare_plane<uint16_t, uint16_t>(rng, s[0] * 2, s[1] * 2, s[0], s[1], KernelKind::bicubic, 0, false, 0.5, 0.25);
    }
    // Output rounding: ties to even, clamped.
    const float in[] = {-3.f, 0.5f, 1.5f, 2.5f, 65534.5f, 65535.4f, 70000.f, 12.49f, 3.5f, 4.5f, 0.f, 1.f, 2.f, 3.f, 4.f, 5.f, 6.5f};
    uint16_t a[17];
    store_u16_c(in, a, 17);
    const uint16_t expect[] = {0, 0, 2, 2, 65534, 65535, 65535, 12, 4, 4, 0, 1, 2, 3, 4, 5, 6};
    CHECK(std::equal(a, a + 17, expect));
}

void test_convert_plane() {
    check::GuardedPlane<uint8_t> s8(13, 3, 2);
    std::mt19937 rng(3);
    s8.fill_random(rng, 255);
    check::GuardedPlane<uint16_t> o(13, 3, 2, uint16_t(9));
    convert_plane(s8.data(), s8.stride, o.data(), o.stride, 13, 3, 1.f, 0.f, 8);
    bool ok = true;
    for (int y = 0; y < 3; y++)
        for (int x = 0; x < 13; x++)
            ok &= o.at(x, y) == uint16_t(s8.at(x, y) << 8);
    CHECK(ok && o.guards_intact());
    if (!orvo::cpu_has_avx2())
        return;
    // AVX2 shift against the scalar one: odd widths, samples above the input depth.
    for (int w : {1, 15, 16, 47}) {
        check::GuardedPlane<uint8_t> a8(w, 3, 2);
        check::GuardedPlane<uint16_t> a16(w, 3, 2);
        a8.fill_random(rng, 255);
        a16.fill_random(rng, 65535);
        for (int shift : {0, 2, 6, 8}) {
            check::GuardedPlane<uint16_t> r(w, 3, 2, uint16_t(9)), v(w, 3, 2, uint16_t(9));
            convert_plane(a16.data(), a16.stride, r.data(), r.stride, w, 3, 1.f, 0.f, shift);
            shift_plane_u16_avx2(a16.data(), a16.stride, v.data(), v.stride, w, 3, shift);
            CHECK(r.buf == v.buf && v.guards_intact());
            convert_plane(a8.data(), a8.stride, r.data(), r.stride, w, 3, 1.f, 0.f, shift);
            shift_plane_u16_avx2(a8.data(), a8.stride, v.data(), v.stride, w, 3, shift);
            CHECK(r.buf == v.buf && v.guards_intact());
        }
    }
}

// ------------------------------------------------------------------ dither

void test_bayer() {
    auto t = bayer_pattern(32, 0);
    const int expect[4][8] = {{-128, 0, -96, 32, -120, 8, -88, 40},
                              {64, -64, 96, -32, 72, -56, 104, -24},
                              {-80, 48, -112, 16, -72, 56, -104, 24},
                              {112, -16, 80, -48, 120, -8, 88, -40}};
    bool ok = true;
    for (int y = 0; y < 4; y++)
        for (int x = 0; x < 8; x++)
            ok &= t[size_t(y) * 32 + x] == expect[y][x];
    CHECK(ok);
    // 16x16 period with 256 distinct levels; rotation keeps the level set.
    std::vector<int> seen(256, 0);
    for (int y = 0; y < 16; y++)
        for (int x = 0; x < 16; x++)
            seen[t[size_t(y) * 32 + x] + 128]++;
    CHECK(std::count(seen.begin(), seen.end(), 1) == 256);
    CHECK(t[size_t(17) * 32 + 18] == t[size_t(1) * 32 + 2]);
    auto r1 = bayer_pattern(32, 1);
    CHECK(r1[size_t(5) * 32 + 3] == t[size_t(3) * 32 + ((32 - 5) & 31)]);
}

template <class Tout>
void dither_guarded(int mode, bool int_variant, int w, int h, bool noise) {
    std::mt19937 rng(11);
    check::GuardedPlane<uint16_t> src(w, h, 3);
    src.fill_random(rng, 65535);
    check::GuardedPlane<Tout> dst(w, h, 5, Tout(0x5A));
    DitherParams p;
    p.dmode = mode;
    p.int_variant = int_variant;
    p.src_bits = 16;
    p.dst_bits = sizeof(Tout) == 1 ? 8 : 10;
    p.gain = float(((1 << p.dst_bits) - 1) / 65535.0);
    if (int_variant)
        p.gain = float(std::ldexp(1.0, p.dst_bits - 16));
    if (noise)
        p.simple = false, p.ao = 40, p.an = 64, p.ae = 2048, p.push = 0.5f, p.ampn = 2.f;
    auto pat = bayer_pattern(32, 0);
    dither_plane(src.data(), src.stride, dst.data(), dst.stride, w, h, p, pat.data(), 99);
    CHECK(dst.guards_intact());
    double err = 0;
    bool in_range = true;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            err += dst.at(x, y) - src.at(x, y) * double(p.gain);
            in_range &= dst.at(x, y) < (1 << p.dst_bits);
        }
    CHECK(in_range);
    // Error diffusion keeps the mean almost exactly, the others within a fraction of a code
    // (the fast integer mode truncates: half a code low).
    if (w * h >= 1000) {
        const double bias = (mode == 2 && int_variant) ? -0.5 : 0.0;
        CHECK(std::fabs(err / (w * h) - bias) < (mode == 3 ? 0.02 : 0.1) + (noise ? 0.1 : 0.0));
    }
    // Deterministic.
    check::GuardedPlane<Tout> again(w, h, 5, Tout(0x5A));
    dither_plane(src.data(), src.stride, again.data(), again.stride, w, h, p, pat.data(), 99);
    CHECK(again.buf == dst.buf);
}

void test_dither() {
    for (int mode : {0, 1, 2, 3})
        for (bool iv : {true, false})
            for (bool noise : {false, true}) {
                dither_guarded<uint8_t>(mode, iv, 97, 33, noise);
                dither_guarded<uint16_t>(mode, iv, 1, 7, noise);
                dither_guarded<uint8_t>(mode, iv, 2, 1, noise);
            }
    // Error diffusion of a flat 100.25 (16 -> 8, integer variant).
    check::GuardedPlane<uint16_t> flat(8, 4, 0, uint16_t(25664));
    for (int y = 0; y < 4; y++)
        for (int x = 0; x < 8; x++)
            flat.at(x, y) = 25664;
    check::GuardedPlane<uint8_t> out(8, 4);
    DitherParams p;
    dither_plane(flat.data(), flat.stride, out.data(), out.stride, 8, 4, p, nullptr, 0);
    const int expect[4][8] = {{100, 100, 100, 100, 100, 100, 100, 100},
                              {101, 100, 101, 100, 101, 100, 101, 100},
                              {100, 100, 100, 100, 100, 100, 101, 100},
                              {100, 100, 101, 100, 101, 100, 100, 100}};
    bool ok = true;
    for (int y = 0; y < 4; y++)
        for (int x = 0; x < 8; x++)
            ok &= out.at(x, y) == expect[y][x];
    CHECK(ok);
}

// The AVX2 round/fast reduction against the scalar dither loop: every depth pair it
// serves, samples anywhere in 16 bits (above the input depth too), odd widths.
template <class Tout>
void compare_round_shift(std::mt19937 &rng, int src_bits, int dst_bits, int mode, int w, int h) {
    check::GuardedPlane<uint16_t> src(w, h, 3);
    src.fill_random(rng, 65535);
    for (int x = 0; x < w; x++) // the extremes, where the saturated add matters
        src.at(x, 0) = uint16_t(x & 1 ? 65535 : (1 << src_bits) - 1);
    DitherParams p;
    p.dmode = mode;
    p.src_bits = src_bits;
    p.dst_bits = dst_bits;
    p.ao = mode == 2 ? 50 : 32; // fast ignores the amplitudes
    p.simple = mode == 1;
    CHECK(is_round_shift(p));
    check::GuardedPlane<Tout> a(w, h, 5, Tout(0x5A)), b(w, h, 5, Tout(0x5A));
    dither_plane(src.data(), src.stride, a.data(), a.stride, w, h, p, nullptr, 1);
    const int shift = src_bits - dst_bits;
    round_shift_plane_avx2(src.data(), src.stride, b.data(), b.stride, w, h, shift, mode == 2 ? 0 : 1 << (shift - 1),
                           (1 << dst_bits) - 1);
    CHECK(a.buf == b.buf);
    CHECK(b.guards_intact());
}

void test_round_shift_simd() {
    if (!orvo::cpu_has_avx2())
        return;
    std::mt19937 rng(5);
    for (int mode : {1, 2})
        for (int w : {1, 31, 32, 67, 130}) {
            for (int sb : {9, 10, 12, 14, 16})
                compare_round_shift<uint8_t>(rng, sb, 8, mode, w, 4);
            for (auto [sb, db] : {std::pair{10, 9}, {12, 10}, {14, 12}, {16, 10}, {16, 12}})
                compare_round_shift<uint16_t>(rng, sb, db, mode, w, 4);
        }
}

} // namespace

int main() {
    test_weights();
    test_simd_matches_scalar();
    test_convert_plane();
    test_bayer();
    test_dither();
    test_round_shift_simd();
    if (!orvo::cpu_has_avx2())
        std::printf("note: no AVX2 on this CPU, SIMD comparisons ran the scalar path twice\n");
    return check::finish();
}
