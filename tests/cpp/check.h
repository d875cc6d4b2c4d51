// Minimal test harness for the kernel tests: CHECK macros, seeded random planes
// with guard bytes, and a closing "N passed, N failed" line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

namespace check {

inline int &passed() { static int n = 0; return n; }
inline int &failed() { static int n = 0; return n; }

inline void report(bool ok, const char *expr, const char *file, int line) {
    if (ok) {
        passed()++;
    } else {
        failed()++;
        if (failed() <= 20)
            std::fprintf(stderr, "%s:%d: CHECK failed: %s\n", file, line, expr);
    }
}

inline int finish() {
    std::printf("%d passed, %d failed\n", passed(), failed());
    return failed() ? 1 : 0;
}

// A plane of T with `guard` elements before and after, filled with a marker.
template <class T>
struct GuardedPlane {
    static constexpr int guard = 64;
    int width, height;
    ptrdiff_t stride; // in elements
    std::vector<T> buf;
    T marker;

    GuardedPlane(int w, int h, int pad = 0, T mark = T(0x5A))
        : width(w), height(h), stride(w + pad), buf(size_t(guard * 2 + stride * h), mark), marker(mark) {}
    T *data() { return buf.data() + guard; }
    const T *data() const { return buf.data() + guard; }
    T &at(int x, int y) { return data()[y * stride + x]; }
    T at(int x, int y) const { return data()[y * stride + x]; }
    void fill_random(std::mt19937 &rng, int max_value) {
        std::uniform_int_distribution<int> d(0, max_value);
        for (int y = 0; y < height; y++)
            for (int x = 0; x < width; x++)
                at(x, y) = T(d(rng));
    }
    // Guard bytes and row padding still hold the marker.
    bool guards_intact() const {
        for (int i = 0; i < guard; i++)
            if (buf[size_t(i)] != marker || buf[buf.size() - 1 - size_t(i)] != marker)
                return false;
        for (int y = 0; y < height; y++)
            for (ptrdiff_t x = width; x < stride; x++)
                if (data()[y * stride + x] != marker)
                    return false;
        return true;
    }
};

} // namespace check

#define CHECK(cond) ::check::report(static_cast<bool>(cond), #cond, __FILE__, __LINE__)
