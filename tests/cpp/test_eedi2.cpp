// Kernel tests for the line doubler: random sizes (tiny ones included), padded strides
// with guard bytes, kept rows, the nt=0 limit, workspace reuse, and the fast paths
// against the scalar reference.
#include <cstddef> // check.h uses ptrdiff_t

#include "check.h"
#include "kernel.h"

#include <algorithm>
#include <cmath>

using namespace orvo::eedi2;

namespace {

// Diagonal bands plus noise: enough edges for every step of the pipeline to act.
template <class T>
void fill_structured(check::GuardedPlane<T> &p, std::mt19937 &rng, int bits) {
    std::uniform_real_distribution<double> slope(-3.0, 3.0), noise(-0.03, 0.03);
    const double a = slope(rng), b = slope(rng);
    const int peak = (1 << bits) - 1;
    for (int y = 0; y < p.height; y++)
        for (int x = 0; x < p.width; x++) {
            double v = 0.5 + 0.35 * (std::fmod(std::abs(x + a * y), 17.0) < 8 ? 1 : -1) +
                       0.1 * std::sin((x - b * y) / 3.0) + noise(rng);
            p.at(x, y) = T(std::lround(std::clamp(v, 0.0, 1.0) * peak));
        }
}

template <class T>
void run(const check::GuardedPlane<T> &src, check::GuardedPlane<T> &dst, int bits, int field, int ssw,
         const Params &p, Workspace &ws, Isa isa) {
    if constexpr (sizeof(T) == 1)
        process_plane_u8(src.data(), src.stride, dst.data(), dst.stride, src.width, src.height, field, ssw, p, ws,
                         isa);
    else
        process_plane_u16(src.data(), src.stride, dst.data(), dst.stride, src.width, src.height, bits, field, ssw, p,
                          ws, isa);
}

template <class T>
bool same_plane(const check::GuardedPlane<T> &a, const check::GuardedPlane<T> &b) {
    for (int y = 0; y < a.height; y++)
        for (int x = 0; x < a.width; x++)
            if (a.at(x, y) != b.at(x, y))
                return false;
    return true;
}

template <class T>
void random_cases(int bits, int count, uint32_t seed) {
    std::mt19937 rng(seed);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    const int peak = (1 << bits) - 1;
    Workspace shared_ws; // reused across cases on purpose: no state may leak between planes
    for (int c = 0; c < count; c++) {
        const int w = pick(0, 3) == 0 ? pick(1, 9) : pick(10, 90);
        const int h = pick(0, 3) == 0 ? pick(1, 8) : pick(9, 40);
        const int field = pick(0, 1), ssw = pick(0, 3) == 0 ? pick(1, 2) : 0;
        Params p;
        p.map = pick(0, 5) == 0 ? pick(1, 3) : 0;
        p.pp = pick(0, 3);
        if (pick(0, 1)) {
            p.maxd = pick(1, 29);
            p.nt = pick(0, 4) == 0 ? 0 : pick(1, 120);
            p.estr = pick(0, 9);
            p.dstr = pick(0, 9);
            p.mthresh = pick(0, 30);
            p.lthresh = pick(0, 40);
            p.vthresh = pick(0, 40);
        }
        check::GuardedPlane<T> src(w, h, pick(0, 7));
        if (pick(0, 2) == 0)
            src.fill_random(rng, peak);
        else
            fill_structured(src, rng, bits);
        const int out_h = (p.map == 0 || p.map == 3) ? 2 * h : h;
        check::GuardedPlane<T> ref(w, out_h, pick(0, 5)), fast(w, out_h, pick(0, 5)), again(w, out_h, 3);

        Workspace fresh;
        run(src, ref, bits, field, ssw, p, fresh, Isa::scalar);
        CHECK(ref.guards_intact());
        CHECK(src.guards_intact());

        run(src, again, bits, field, ssw, p, shared_ws, Isa::scalar);
        CHECK(same_plane(ref, again));

        run(src, fast, bits, field, ssw, p, shared_ws, best_isa());
        CHECK(fast.guards_intact());
        CHECK(same_plane(ref, fast));

        if (p.map == 0) {
            bool kept = true, doubled = true, in_range = true;
            int lo = peak, hi = 0;
            for (int y = 0; y < h; y++)
                for (int x = 0; x < w; x++) {
                    lo = std::min<int>(lo, src.at(x, y));
                    hi = std::max<int>(hi, src.at(x, y));
                }
            for (int y = 0; y < h; y++)
                for (int x = 0; x < w; x++)
                    kept &= ref.at(x, 2 * y + 1 - field) == src.at(x, y);
            const int dup = field ? 2 * h - 1 : 0, dup_src = field ? 2 * h - 2 : 1;
            for (int x = 0; x < w; x++)
                kept &= ref.at(x, dup) == ref.at(x, dup_src);
            for (int y = 0; y < out_h; y++)
                for (int x = 0; x < w; x++)
                    in_range &= ref.at(x, y) >= lo && ref.at(x, y) <= hi;
            // columns 0 and w-1 never take a direction
            for (int i = 0; i + 1 < h; i++) {
                const int y = 2 * i + 2 - field;
                for (int x : {0, w - 1})
                    doubled &= ref.at(x, y) == ((src.at(x, i) + src.at(x, i + 1) + 1) >> 1);
            }
            CHECK(kept);
            CHECK(in_range);
            CHECK(doubled);
            if (p.nt == 0) {
                bool plain = true;
                for (int i = 0; i + 1 < h; i++)
                    for (int x = 0; x < w; x++)
                        plain &= ref.at(x, 2 * i + 2 - field) == ((src.at(x, i) + src.at(x, i + 1) + 1) >> 1);
                CHECK(plain);
            }
        } else {
            bool valid = true;
            for (int y = 0; y < out_h; y++)
                for (int x = 0; x < w; x++)
                    valid &= ref.at(x, y) <= peak && (p.map != 1 || ref.at(x, y) == 0 || ref.at(x, y) == peak);
            CHECK(valid);
        }
    }
}

// A full-size plane (wide enough for the vector paths to run whole blocks) against the reference.
// Wide planes make the vector search split the row into several column strips.
template <class T>
void large_plane(int bits, int w, int h, uint32_t seed) {
    std::mt19937 rng(seed);
    check::GuardedPlane<T> src(w, h, 5);
    fill_structured(src, rng, bits);
    for (int pp : {1, 3}) {
        Params p;
        p.pp = pp;
        p.maxd = pp == 1 ? 24 : 29;
        check::GuardedPlane<T> ref(w, 2 * h, 0), fast(w, 2 * h, 0);
        Workspace ws;
        run(src, ref, bits, 1, 0, p, ws, Isa::scalar);
        run(src, fast, bits, 1, 0, p, ws, best_isa());
        CHECK(same_plane(ref, fast));
        CHECK(fast.guards_intact());
    }
}

} // namespace

int main() {
    std::printf("best isa: %s\n", best_isa() == Isa::avx2 ? "avx2" : "scalar");
    random_cases<uint8_t>(8, 300, 1);
    random_cases<uint16_t>(10, 150, 2);
    random_cases<uint16_t>(16, 150, 3);
    large_plane<uint8_t>(8, 333, 61, 4);
    large_plane<uint16_t>(16, 301, 47, 5);
    large_plane<uint8_t>(8, 2100, 19, 6);
    large_plane<uint16_t>(16, 1201, 17, 7);
    large_plane<uint16_t>(12, 977, 21, 8);
    return check::finish();
}
