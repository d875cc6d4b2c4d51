// Row loop of the warp shared by the scalar and AVX2 kernels. Everything here
// has internal linkage so each file keeps code built with its own flags.
#pragma once

#include <algorithm>
#include <cstddef>

namespace warp {
namespace {

constexpr int kWarpChunk = 256;

// Sample positions and 7-bit weights of up to kWarpChunk pixels of one row. A
// tap of weight 0 points at the sample beside it, so no read leaves the plane.
struct WarpChunk {
    alignas(32) int col0[kWarpChunk];
    alignas(32) int col1[kWarpChunk];
    alignas(32) int row0[kWarpChunk];
    alignas(32) int row1[kWarpChunk];
    alignas(32) int wx[kWarpChunk];
    alignas(32) int wy[kWarpChunk];
};

// Bilinear reads of pixels [i0, n) of a chunk into d[i0..n).
template <class T>
inline void bilinear_c(const T *src, ptrdiff_t stride, const WarpChunk &c, int i0, int n, T *d) {
    for (int i = i0; i < n; i++) {
        const T *s0 = src + c.row0[i] * stride;
        const T *s1 = src + c.row1[i] * stride;
        int fx = c.wx[i], fy = c.wy[i];
        int r0 = (s0[c.col0[i]] * (128 - fx) + s0[c.col1[i]] * fx + 64) >> 7;
        int r1 = (s1[c.col0[i]] * (128 - fx) + s1[c.col1[i]] * fx + 64) >> 7;
        d[i] = T((r0 * (128 - fy) + r1 * fy + 64) >> 7);
    }
}

// Fills a chunk per row segment (branch-free, so it vectorises), then hands it
// to `read(chunk, n, dst)` for the bilinear reads.
template <class T, class Read>
inline void warp_rows(const T *mask, ptrdiff_t mask_stride, T *dst, ptrdiff_t dst_stride, int width, int height,
                      int depth, int bits, Read &&read) {
    const int shift = bits - 8;
    WarpChunk c;
    for (int y = 0; y < height; y++) {
        const T *m = mask + y * mask_stride;
        const T *mu = y > 0 ? m - mask_stride : m;
        const T *md = y < height - 1 ? m + mask_stride : m;
        // Keeps iy + 1 inside the plane whenever it is read. The last row may not
        // move down at all, so there the limit is 0 (no forced upward shift).
        const int dv_min = -128 * y;
        const int dv_max = y < height - 1 ? 128 * (height - 1 - y) - 1 : 0;
        T *d = dst + y * dst_stride;
        auto place = [&](int i, int x, int left, int right) {
            int dh = ((left - right) >> shift) * depth >> 1; // arithmetic shifts: floor
            int dv = ((mu[x] - md[x]) >> shift) * depth >> 1;
            dv = std::clamp(dv, dv_min, dv_max);
            int fx = dh & 127, fy = dv & 127;
            int ix = x + (dh >> 7), iy = y + (dv >> 7);
            bool outside = ix < 0 || ix >= width - 1;
            fx = outside ? 0 : fx;
            ix = std::clamp(ix, 0, width - 1);
            c.col0[i] = ix;
            c.col1[i] = fx ? ix + 1 : ix;
            c.row0[i] = iy;
            c.row1[i] = fy ? iy + 1 : iy;
            c.wx[i] = fx;
            c.wy[i] = fy;
        };
        for (int x0 = 0; x0 < width; x0 += kWarpChunk) {
            const int n = std::min(kWarpChunk, width - x0);
            const int lo = std::max(x0, 1), hi = std::min(x0 + n, width - 1);
            if (x0 == 0)
                place(0, 0, m[0], m[width > 1 ? 1 : 0]);
            for (int x = lo; x < hi; x++)
                place(x - x0, x, m[x - 1], m[x + 1]);
            if (x0 + n == width && width > 1)
                place(n - 1, width - 1, m[width - 2], m[width - 1]);
            read(static_cast<const WarpChunk &>(c), n, d + x0);
        }
    }
}

} // namespace
} // namespace warp
