// TCanny kernels: SIMD rows against scalar rows, whole planes of every size
// and mode against a direct per-pixel blur, borders, guard bytes.
#include <cstddef> // check.h uses ptrdiff_t

#include "check.h"
#include "cpu.h"
#include "kernel.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <cstdio>

using namespace orvo::tcanny;

namespace {

std::mt19937 rng(12345);

int rand_int(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }

void test_radius_and_taps() {
    CHECK(gaussian_radius(0.0f) == 0);
    CHECK(gaussian_radius(1.5f) == 5);
    CHECK(gaussian_radius(1.0f) == 3);
    CHECK(gaussian_radius(0.84f) == 3);
    CHECK(gaussian_radius(0.83f) == 2);
    CHECK(gaussian_radius(0.75f) == 2);
    CHECK(gaussian_radius(0.1f) == 1);
    CHECK(gaussian_radius(1e30f) == kHugeRadius);
    CHECK(gaussian_radius(INFINITY) == kHugeRadius);
    CHECK(gaussian_taps(0.0f).size() == 1 && gaussian_taps(0.0f)[0] == 1.0f);
    for (float s : {0.1f, 0.5f, 1.5f, 3.0f, 1e-30f}) {
        std::vector<float> t = gaussian_taps(s);
        int r = gaussian_radius(s);
        CHECK(int(t.size()) == 2 * r + 1);
        double sum = 0;
        bool symmetric = true, finite = true;
        for (int k = 0; k < int(t.size()); k++) {
            sum += t[size_t(k)];
            symmetric &= t[size_t(k)] == t[t.size() - 1 - size_t(k)];
            finite &= std::isfinite(t[size_t(k)]);
        }
        CHECK(std::fabs(sum - 1.0) < 1e-6);
        CHECK(symmetric && finite);
        CHECK(t[size_t(r)] >= t[0]);
    }
}

void test_mirror() {
    const int n5[] = {2, 1, 0, 1, 2, 3, 4, 3, 2};
    bool ok = true;
    for (int i = -2; i <= 6; i++)
        ok &= mirror_index(i, 5) == n5[i + 2];
    CHECK(ok);
    CHECK(mirror_index(-3, 1) == 0 && mirror_index(5, 1) == 0);
    CHECK(mirror_index(-1, 2) == 1 && mirror_index(2, 2) == 0 && mirror_index(-2, 2) == 0);
    // Far outside still lands inside.
    bool inside = true;
    for (int n = 1; n < 9; n++)
        for (int i = -40; i < 40; i++)
            inside &= mirror_index(i, n) >= 0 && mirror_index(i, n) < n;
    CHECK(inside);
}

void test_direction() {
    CHECK(direction_bin(0.0f, 0.0f) == 0);
    CHECK(direction_bin(5.0f, 0.0f) == 0 && direction_bin(-5.0f, 0.0f) == 0);
    CHECK(direction_bin(0.0f, 5.0f) == 2 && direction_bin(0.0f, -5.0f) == 2);
    CHECK(direction_bin(3.0f, 3.0f) == 1 && direction_bin(-3.0f, -3.0f) == 1);
    CHECK(direction_bin(-3.0f, 3.0f) == 3 && direction_bin(3.0f, -3.0f) == 3);
    // Against the rounded folded angle, away from the sector boundaries.
    std::uniform_real_distribution<float> d(-100.0f, 100.0f);
    int mismatches = 0, tested = 0;
    for (int i = 0; i < 20000; i++) {
        float gx = d(rng), gy = d(rng);
        double t = std::atan2(double(gy), double(gx));
        if (t < 0)
            t += M_PI;
        double sector = t * 4.0 / M_PI + 0.5;
        if (std::fabs(sector - std::round(sector)) < 1e-4)
            continue;
        int bin = int(sector);
        if (bin >= 4)
            bin = 0;
        tested++;
        mismatches += direction_bin(gx, gy) != bin;
    }
    CHECK(tested > 19000);
    CHECK(mismatches == 0);

    // Integer gradients right next to the 22.5 and 67.5 degree lines, against a
    // long double angle (which resolves them at these magnitudes).
    int near_mismatches = 0;
    for (int i = 0; i < 20000; i++) {
        const long ax = rand_int(1, 1 << 20);
        const long double slope = rand_int(0, 1) ? 0.41421356237309504880L : 2.41421356237309504880L;
        const long ay = std::lround(double(ax * slope)) + rand_int(-1, 1);
        const float gx = float(rand_int(0, 1) ? ax : -ax), gy = float(rand_int(0, 1) ? ay : -ay);
        long double t = std::atan2((long double)gy, (long double)gx);
        if (t < 0)
            t += 3.14159265358979323846264338327950288L;
        int bin = int(t * 4 / 3.14159265358979323846264338327950288L + 0.5L) & 3;
        near_mismatches += direction_bin(gx, gy) != bin;
    }
    CHECK(near_mismatches == 0);
}

template <class T>
std::vector<const T *> row_ptrs(const std::vector<std::vector<T>> &rows) {
    std::vector<const T *> p;
    for (auto &r : rows)
        p.push_back(r.data());
    return p;
}

bool same_bits(const float *a, const float *b, int n) { return std::memcmp(a, b, sizeof(float) * size_t(n)) == 0; }

// SIMD row kernels give the scalar bits for every width and tap count.
void test_rows_simd(const RowKernels &simd) {
    const RowKernels &c = row_kernels_c();
    for (int iter = 0; iter < 300; iter++) {
        const int width = rand_int(1, 97);
        const int ntaps = 2 * rand_int(0, 7) + 1;
        const size_t nt = static_cast<size_t>(ntaps), wz = static_cast<size_t>(width);
        std::vector<float> taps(nt);
        for (float &t : taps)
            t = std::uniform_real_distribution<float>(-0.3f, 1.0f)(rng);
        std::vector<std::vector<uint8_t>> r8(nt, std::vector<uint8_t>(wz));
        std::vector<std::vector<uint16_t>> r16(nt, std::vector<uint16_t>(wz));
        std::vector<std::vector<float>> rf(nt, std::vector<float>(wz));
        for (int k = 0; k < ntaps; k++)
            for (int x = 0; x < width; x++) {
                r8[size_t(k)][size_t(x)] = uint8_t(rand_int(0, 255));
                r16[size_t(k)][size_t(x)] = uint16_t(rand_int(0, 65535));
                rf[size_t(k)][size_t(x)] = std::uniform_real_distribution<float>(-1.0f, 2.0f)(rng);
            }
        std::vector<float> a(wz + 8, 7.0f), b(wz + 8, 7.0f);
        c.vsum_u8(row_ptrs(r8).data(), taps.data(), ntaps, width, a.data());
        simd.vsum_u8(row_ptrs(r8).data(), taps.data(), ntaps, width, b.data());
        CHECK(same_bits(a.data(), b.data(), width + 8));
        c.vsum_u16(row_ptrs(r16).data(), taps.data(), ntaps, width, a.data());
        simd.vsum_u16(row_ptrs(r16).data(), taps.data(), ntaps, width, b.data());
        CHECK(same_bits(a.data(), b.data(), width + 8));
        c.vsum_f32(row_ptrs(rf).data(), taps.data(), ntaps, width, a.data());
        simd.vsum_f32(row_ptrs(rf).data(), taps.data(), ntaps, width, b.data());
        CHECK(same_bits(a.data(), b.data(), width + 8));

        // Two rows at once equal two single rows.
        std::vector<std::vector<float>> rf2 = rf;
        rf2.push_back(rf[0]);
        for (float &v : rf2.back())
            v = std::uniform_real_distribution<float>(0.0f, 1000.0f)(rng);
        std::vector<float> a2(wz + 8, 7.0f), b2(wz + 8, 7.0f);
        c.vsum_f32(row_ptrs(rf2).data() + 1, taps.data(), ntaps, width, a2.data());
        simd.vsum2_f32(row_ptrs(rf2).data(), taps.data(), ntaps, width, b.data(), b2.data());
        c.vsum_f32(row_ptrs(rf2).data(), taps.data(), ntaps, width, a.data());
        CHECK(same_bits(a.data(), b.data(), width + 8));
        CHECK(same_bits(a2.data(), b2.data(), width + 8));
        c.vsum2_f32(row_ptrs(rf2).data(), taps.data(), ntaps, width, b.data(), b2.data());
        CHECK(same_bits(a.data(), b.data(), width + 8));
        CHECK(same_bits(a2.data(), b2.data(), width + 8));

        std::vector<float> line(wz + nt - 1);
        for (float &v : line)
            v = std::uniform_real_distribution<float>(-10.0f, 300.0f)(rng);
        c.hsum(line.data(), taps.data(), ntaps, width, a.data());
        simd.hsum(line.data(), taps.data(), ntaps, width, b.data());
        CHECK(same_bits(a.data(), b.data(), width + 8));
        {
            // Fused sum and conversion equal the two steps.
            check::GuardedPlane<uint8_t> q0(width, 1), q1(width, 1), q2(width, 1);
            c.store_u8(a.data(), width, 1.0f, 255, q0.data());
            c.hsum_store_u8(line.data(), taps.data(), ntaps, width, 255, q1.data());
            simd.hsum_store_u8(line.data(), taps.data(), ntaps, width, 255, q2.data());
            CHECK(q0.buf == q1.buf && q1.buf == q2.buf && q2.guards_intact());
            std::vector<float> big(line);
            for (float &v : big)
                v *= 230.0f;
            c.hsum(big.data(), taps.data(), ntaps, width, a.data());
            check::GuardedPlane<uint16_t> r0(width, 1), r1(width, 1), r2(width, 1);
            c.store_u16(a.data(), width, 1.0f, 65535, r0.data());
            c.hsum_store_u16(big.data(), taps.data(), ntaps, width, 65535, r1.data());
            simd.hsum_store_u16(big.data(), taps.data(), ntaps, width, 65535, r2.data());
            CHECK(r0.buf == r1.buf && r1.buf == r2.buf && r2.guards_intact());
        }

        // Directions, zeros and signs included.
        {
            std::vector<float> gx(wz), gy(wz);
            for (size_t x = 0; x < wz; x++) {
                gx[x] = rand_int(0, 4) ? float(rand_int(-40, 40)) : 0.0f;
                gy[x] = rand_int(0, 4) ? std::uniform_real_distribution<float>(-90.0f, 90.0f)(rng) : 0.0f;
            }
            check::GuardedPlane<uint8_t> e1(width, 1), e2(width, 1);
            c.directions(gx.data(), gy.data(), width, e1.data());
            simd.directions(gx.data(), gy.data(), width, e2.data());
            CHECK(e1.buf == e2.buf && e2.guards_intact());
        }

        // Gradient of every operator (magnitude alone and with gx, gy) and the
        // suppression, on rows with 2 (1) readable samples either side; the
        // magnitudes repeat values so ties with neighbours and thresholds occur.
        {
            std::vector<std::vector<float>> br(5, std::vector<float>(wz + 4));
            for (auto &r : br)
                for (float &v : r)
                    v = rand_int(0, 3) ? std::uniform_real_distribution<float>(0.0f, 300.0f)(rng) : float(rand_int(0, 4));
            const float *rows[5];
            for (int k = 0; k < 5; k++)
                rows[k] = br[size_t(k)].data() + 2;
            for (int op = 0; op <= 6; op++)
                for (bool dirs : {false, true}) {
                    std::vector<float> g1(wz, 7.0f), g2(wz, 7.0f), x1(wz), x2(wz), y1(wz), y2(wz);
                    c.gradient(op, dirs, rows, g1.data(), x1.data(), y1.data(), width, 0.7f);
                    simd.gradient(op, dirs, rows, g2.data(), x2.data(), y2.data(), width, 0.7f);
                    CHECK(same_bits(g1.data(), g2.data(), width));
                    if (dirs && op != 5)
                        CHECK(same_bits(x1.data(), x2.data(), width) && same_bits(y1.data(), y2.data(), width));
                }
            std::vector<std::vector<float>> mag(3, std::vector<float>(wz + 2));
            for (auto &r : mag)
                for (float &v : r)
                    v = float(rand_int(0, 12)) * (rand_int(0, 5) ? 1.0f : std::numeric_limits<float>::quiet_NaN());
            std::vector<uint8_t> bins(wz);
            for (uint8_t &b : bins)
                b = uint8_t(rand_int(0, 3));
            check::GuardedPlane<uint8_t> s1(width, 1), s2(width, 1);
            c.suppress(mag[1].data() + 1, mag[0].data() + 1, mag[2].data() + 1, bins.data(), width, 2.0f, 8.0f,
                       s1.data());
            simd.suppress(mag[1].data() + 1, mag[0].data() + 1, mag[2].data() + 1, bins.data(), width, 2.0f, 8.0f,
                          s2.data());
            CHECK(s1.buf == s2.buf && s2.guards_intact());
        }

        // Values around the clamps and the .5 ties; gain as in mode 1.
        std::vector<float> vals(wz);
        for (float &v : vals)
            v = rand_int(0, 3) == 0 ? float(rand_int(-3, 70000)) + 0.5f
                                    : std::uniform_real_distribution<float>(-50.0f, 70000.0f)(rng);
        const float gain = rand_int(0, 1) ? 1.0f : 5.1f;
        for (int peak : {255, 1023, 65535}) {
            check::GuardedPlane<uint16_t> o1(width, 1), o2(width, 1);
            c.store_u16(vals.data(), width, gain, peak, o1.data());
            simd.store_u16(vals.data(), width, gain, peak, o2.data());
            CHECK(o1.buf == o2.buf && o2.guards_intact());
        }
        check::GuardedPlane<uint8_t> p1(width, 1), p2(width, 1);
        c.store_u8(vals.data(), width, gain, 255, p1.data());
        simd.store_u8(vals.data(), width, gain, 255, p2.data());
        CHECK(p1.buf == p2.buf && p2.guards_intact());
    }
}

// Per-pixel blur straight from the rules: vertical sum over mirrored rows, then
// horizontal sum over mirrored columns of that result, taps in index order.
template <class T>
std::vector<float> direct_blur(const check::GuardedPlane<T> &src, const std::vector<float> &th,
                               const std::vector<float> &tv) {
    const int w = src.width, h = src.height, rh = int(th.size() / 2), rv = int(tv.size() / 2);
    const size_t n = static_cast<size_t>(w * h);
    std::vector<float> v(n), out(n);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            float s = 0.0f;
            for (int k = 0; k < int(tv.size()); k++)
                s += tv[size_t(k)] * float(src.at(x, mirror_index(y - rv + k, h)));
            v[size_t(y * w + x)] = s;
        }
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            float s = 0.0f;
            for (int k = 0; k < int(th.size()); k++)
                s += th[size_t(k)] * v[size_t(y * w + mirror_index(x - rh + k, w))];
            out[size_t(y * w + x)] = s;
        }
    return out;
}

// The source goes in a heap block that ends right after the last sample, so the
// sanitizer build catches any read outside the plane.
template <class T>
void run_plane(const check::GuardedPlane<T> &src, check::GuardedPlane<T> &dst, const PlaneJob &j, Workspace &ws,
               const RowKernels &rk) {
    std::unique_ptr<T[]> tight(new T[size_t(src.stride * (src.height - 1) + src.width)]);
    std::copy_n(src.data(), src.stride * (src.height - 1) + src.width, tight.get());
    if constexpr (sizeof(T) == 1)
        process_plane_u8(tight.get(), src.stride, dst.data(), dst.stride, j, ws, rk);
    else if constexpr (sizeof(T) == 2)
        process_plane_u16(tight.get(), src.stride, dst.data(), dst.stride, j, ws, rk);
    else
        process_plane_f32(tight.get(), src.stride, dst.data(), dst.stride, j, ws, rk);
}

template <class T>
void test_planes(int bits, const RowKernels *simd) {
    const bool is_float = std::is_same_v<T, float>;
    const int peak = is_float ? 1 : (1 << bits) - 1;
    int blur_mismatch = 0, simd_mismatch = 0, bad_guard = 0, bad_values = 0, runs = 0;
    Workspace shared; // reused across sizes, as a frame reuses it across planes
    for (int iter = 0; iter < 400; iter++) {
        const int w = rand_int(1, 40), h = rand_int(1, 24);
        check::GuardedPlane<T> src(w, h, rand_int(0, 9));
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++)
                src.at(x, y) = is_float ? T(std::uniform_real_distribution<float>(0.0f, 1.0f)(rng))
                                        : T(rand_int(0, peak));
        // Sigma within the size the plugin allows, sometimes 0.
        const float smax_h = (float(w - 1) - 0.5f) / 3.0f, smax_v = (float(h - 1) - 0.5f) / 3.0f;
        auto pick = [&](float smax) {
            return smax < 0.1f || rand_int(0, 4) == 0 ? 0.0f
                                                      : std::uniform_real_distribution<float>(0.1f, std::min(smax, 4.0f))(rng);
        };
        std::vector<float> th = gaussian_taps(pick(smax_h)), tv = gaussian_taps(pick(smax_v));
        PlaneJob j;
        j.width = w;
        j.height = h;
        j.taps_h = th.data();
        j.radius_h = int(th.size() / 2);
        j.taps_v = tv.data();
        j.radius_v = int(tv.size() / 2);
        j.mode = rand_int(-1, 1);
        j.op = rand_int(0, 6);
        if (j.mode == kEdges && j.op == 5)
            j.op = 2;
        j.scale = rand_int(0, 1) ? 1.0f : 0.7f;
        j.gain = rand_int(0, 1) ? 1.0f : 5.1f;
        j.peak = peak;
        const float unit = is_float ? 1.0f / 255.0f : float(peak) / 255.0f;
        j.t_h = 8.0f * unit;
        j.t_l = 1.0f * unit;

        const T marker = is_float ? T(-7.25f) : T(0x5A);
        check::GuardedPlane<T> d1(w, h, rand_int(0, 9), marker);
        Workspace fresh;
        fresh.prepare(j);
        run_plane(src, d1, j, fresh, row_kernels_c());
        runs++;
        bad_guard += !d1.guards_intact();

        if (j.mode == kBlur) {
            std::vector<float> ref = direct_blur(src, th, tv);
            for (int y = 0; y < h; y++)
                for (int x = 0; x < w; x++) {
                    float r = ref[size_t(y * w + x)];
                    T expect = is_float ? T(r) : T(std::min<int>(int(r + 0.5f), peak));
                    blur_mismatch += std::memcmp(&expect, &d1.at(x, y), sizeof(T)) != 0;
                }
        } else {
            for (int y = 0; y < h; y++)
                for (int x = 0; x < w; x++) {
                    T v = d1.at(x, y);
                    if (j.mode == kEdges)
                        bad_values += !(v == T(0) || v == T(peak));
                    else
                        bad_values += !(v >= T(0) && v <= T(peak));
                }
        }

        if (simd) {
            check::GuardedPlane<T> d2(w, h, d1.stride - w, marker);
            shared.prepare(j);
            run_plane(src, d2, j, shared, *simd);
            simd_mismatch += d1.buf != d2.buf;
            bad_guard += !d2.guards_intact();
        }
    }
    std::printf("  %d-bit%s: %d planes\n", bits, is_float ? " float" : "", runs);
    CHECK(blur_mismatch == 0);
    CHECK(simd_mismatch == 0);
    CHECK(bad_guard == 0);
    CHECK(bad_values == 0);
}

} // namespace

int main() {
    const RowKernels *simd = orvo::cpu_has_avx2() ? row_kernels_avx2() : nullptr;
    std::printf("AVX2 path: %s\n", simd ? "tested" : "not available");
    test_radius_and_taps();
    test_mirror();
    test_direction();
    if (simd)
        test_rows_simd(*simd);
    test_planes<uint8_t>(8, simd);
    test_planes<uint16_t>(10, simd);
    test_planes<uint16_t>(16, simd);
    test_planes<float>(32, simd);
    return check::finish();
}
