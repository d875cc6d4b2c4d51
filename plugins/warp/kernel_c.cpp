// Scalar reference kernels; see kernel.h for the border and rounding rules.
#include "kernel.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace warp {
namespace {

inline int avg(int a, int b) { return (a + b + 1) >> 1; }

// Final combination shared by both sides and the middle of the 13-tap blur.
inline int blur0_combine(int c0, int q12, int q34, int q56) {
    int a = avg(c0, q12);
    int b = avg(q34, q56);
    return avg(a, avg(a, b));
}

inline int blur1_combine(int m2, int m1, int c0, int p1, int p2) {
    int t = avg(avg(m2, p2), c0);
    t = avg(t, c0);
    return avg(t, avg(m1, p1));
}

template <class T>
void blur0_row(const T *src, T *dst, int n) {
    for (int i = 0; i < 6; i++) {
        const T *c = src + i;
        dst[i] = T(blur0_combine(c[0], avg(c[1], c[2]), avg(c[3], c[4]), avg(c[5], c[6])));
    }
    for (int i = 6; i < n - 6; i++) {
        const T *c = src + i;
        int p1 = avg(c[-1], c[1]), p2 = avg(c[-2], c[2]), p3 = avg(c[-3], c[3]);
        int p4 = avg(c[-4], c[4]), p5 = avg(c[-5], c[5]), p6 = avg(c[-6], c[6]);
        dst[i] = T(blur0_combine(c[0], avg(p1, p2), avg(p3, p4), avg(p5, p6)));
    }
    for (int i = n - 6; i < n; i++) {
        const T *c = src + i;
        dst[i] = T(blur0_combine(c[0], avg(c[-1], c[-2]), avg(c[-3], c[-4]), avg(c[-5], c[-6])));
    }
}

// Vertical pass: r[k] points at row y+k-6 (k = 0..12); only the rows the
// window of this output row uses are dereferenced.
template <class T>
void blur0_col_row(const T *const *r, T *dst, int width, int side) {
    const T *c0 = r[6];
    if (side < 0) { // top rows: window below
        for (int x = 0; x < width; x++)
            dst[x] = T(blur0_combine(c0[x], avg(r[7][x], r[8][x]), avg(r[9][x], r[10][x]), avg(r[11][x], r[12][x])));
    } else if (side > 0) { // bottom rows: window above
        for (int x = 0; x < width; x++)
            dst[x] = T(blur0_combine(c0[x], avg(r[5][x], r[4][x]), avg(r[3][x], r[2][x]), avg(r[1][x], r[0][x])));
    } else {
        for (int x = 0; x < width; x++) {
            int p1 = avg(r[5][x], r[7][x]), p2 = avg(r[4][x], r[8][x]), p3 = avg(r[3][x], r[9][x]);
            int p4 = avg(r[2][x], r[10][x]), p5 = avg(r[1][x], r[11][x]), p6 = avg(r[0][x], r[12][x]);
            dst[x] = T(blur0_combine(c0[x], avg(p1, p2), avg(p3, p4), avg(p5, p6)));
        }
    }
}

template <class T>
void blur1_row(const T *src, T *dst, int n) {
    auto at = [&](int i) { return int(src[std::clamp(i, 0, n - 1)]); };
    int lo = std::min(2, n), hi = std::max(lo, n - 2);
    for (int i = 0; i < lo; i++)
        dst[i] = T(blur1_combine(at(i - 2), at(i - 1), src[i], at(i + 1), at(i + 2)));
    for (int i = lo; i < hi; i++)
        dst[i] = T(blur1_combine(src[i - 2], src[i - 1], src[i], src[i + 1], src[i + 2]));
    for (int i = hi; i < n; i++)
        dst[i] = T(blur1_combine(at(i - 2), at(i - 1), src[i], at(i + 1), at(i + 2)));
}

} // namespace

template <class T>
void edge_mask_c(const T *src, ptrdiff_t src_stride, T *dst, ptrdiff_t dst_stride, int width, int height, int thresh,
                 int bits) {
    const int limit = std::min(thresh, (1 << bits) - 1);
    for (int y = 1; y < height - 1; y++) {
        const T *a = src + (y - 1) * src_stride;
        const T *b = src + y * src_stride;
        const T *c = src + (y + 1) * src_stride;
        T *d = dst + y * dst_stride;
        for (int x = 1; x < width - 1; x++) {
            int up = avg(a[x], avg(a[x - 1], a[x + 1]));
            int down = avg(c[x], avg(c[x - 1], c[x + 1]));
            int left = avg(b[x - 1], avg(c[x - 1], a[x - 1]));
            int right = avg(b[x + 1], avg(c[x + 1], a[x + 1]));
            int dv = std::abs(up - down), dh = std::abs(left - right);
            d[x] = T(std::min(6 * (dv + dh + std::max(dv, dh)), limit));
        }
        d[0] = d[1];
        d[width - 1] = d[width - 2];
    }
    std::memcpy(dst, dst + dst_stride, sizeof(T) * size_t(width));
    std::memcpy(dst + (height - 1) * dst_stride, dst + (height - 2) * dst_stride, sizeof(T) * size_t(width));
}

template <class T>
void blur0_c(T *mask, ptrdiff_t stride, T *tmp, ptrdiff_t tmp_stride, int width, int height) {
    for (int y = 0; y < height; y++)
        blur0_row(mask + y * stride, tmp + y * tmp_stride, width);
    const T *r[13];
    for (int y = 0; y < height; y++) {
        int side = y < 6 ? -1 : (y >= height - 6 ? 1 : 0);
        for (int k = 0; k < 13; k++) {
            int row = y + k - 6;
            bool used = side < 0 ? k >= 6 : (side > 0 ? k <= 6 : true);
            r[k] = used ? tmp + row * tmp_stride : nullptr;
        }
        blur0_col_row(r, mask + y * stride, width, side);
    }
}

template <class T>
void blur1_c(T *mask, ptrdiff_t stride, T *tmp, ptrdiff_t tmp_stride, int width, int height) {
    for (int y = 0; y < height; y++)
        blur1_row(mask + y * stride, tmp + y * tmp_stride, width);
    for (int y = 0; y < height; y++) {
        const T *m2 = tmp + std::max(y - 2, 0) * tmp_stride;
        const T *m1 = tmp + std::max(y - 1, 0) * tmp_stride;
        const T *c0 = tmp + y * tmp_stride;
        const T *p1 = tmp + std::min(y + 1, height - 1) * tmp_stride;
        const T *p2 = tmp + std::min(y + 2, height - 1) * tmp_stride;
        T *d = mask + y * stride;
        for (int x = 0; x < width; x++)
            d[x] = T(blur1_combine(m2[x], m1[x], c0[x], p1[x], p2[x]));
    }
}

template <class T>
void downscale_mask_c(const T *src, ptrdiff_t src_stride, T *dst, ptrdiff_t dst_stride, int dst_width,
                      int dst_height, int ssw, int ssh, bool mpeg2) {
    for (int y = 0; y < dst_height; y++) {
        const T *a = src + (y << ssh) * src_stride;
        const T *b = ssh ? a + src_stride : a;
        T *d = dst + y * dst_stride;
        if (!ssw) {
            for (int x = 0; x < dst_width; x++)
                d[x] = T(avg(a[x], b[x])); // avg(v, v) == v covers 4:4:4
        } else if (!mpeg2) {
            for (int x = 0; x < dst_width; x++)
                d[x] = T(avg(avg(a[2 * x], a[2 * x + 1]), avg(b[2 * x], b[2 * x + 1])));
        } else if (ssh) {
            // Column sums of the two rows; the left neighbour of column 0 is column 0.
            for (int x = 0; x < dst_width; x++) {
                int j = 2 * x, l = j ? j - 1 : 0;
                int s = (a[l] + b[l]) + 2 * (a[j] + b[j]) + (a[j + 1] + b[j + 1]);
                d[x] = T((s + 4) >> 3);
            }
        } else {
            for (int x = 0; x < dst_width; x++) {
                int j = 2 * x, l = j ? j - 1 : 0;
                d[x] = T((a[l] + 2 * a[j] + a[j + 1] + 2) >> 2);
            }
        }
    }
}

template <class T>
void warp_c(const T *src, ptrdiff_t src_stride, const T *mask, ptrdiff_t mask_stride, T *dst, ptrdiff_t dst_stride,
            int width, int height, int depth, int bits) {
    const int shift = bits - 8;
    for (int y = 0; y < height; y++) {
        const T *m = mask + y * mask_stride;
        const T *mu = y > 0 ? m - mask_stride : m;
        const T *md = y < height - 1 ? m + mask_stride : m;
        // Keeps iy + 1 inside the plane whenever it is read. The last row may not
        // move down at all, so there the limit is 0 (no forced upward shift).
        const int dv_min = -128 * y;
        const int dv_max = y < height - 1 ? 128 * (height - 1 - y) - 1 : 0;
        T *d = dst + y * dst_stride;
        for (int x = 0; x < width; x++) {
            int left = m[x > 0 ? x - 1 : x];
            int right = m[x < width - 1 ? x + 1 : x];
            int dh = (left - right) >> shift; // arithmetic shift: floor
            int dv = (mu[x] - md[x]) >> shift;
            dh = (dh * depth) >> 1;
            dv = std::clamp((dv * depth) >> 1, dv_min, dv_max);
            int fx = dh & 127, fy = dv & 127;
            int ix = x + (dh >> 7), iy = y + (dv >> 7);
            if (ix < 0 || ix >= width - 1) {
                fx = 0;
                ix = std::clamp(ix, 0, width - 1);
            }
            const T *s0 = src + iy * src_stride;
            int r0 = fx ? (s0[ix] * (128 - fx) + s0[ix + 1] * fx + 64) >> 7 : s0[ix];
            if (fy) {
                const T *s1 = s0 + src_stride;
                int r1 = fx ? (s1[ix] * (128 - fx) + s1[ix + 1] * fx + 64) >> 7 : s1[ix];
                r0 = (r0 * (128 - fy) + r1 * fy + 64) >> 7;
            }
            d[x] = T(r0);
        }
    }
}

#define WARP_INSTANTIATE(T)                                                                                       \
    template void edge_mask_c<T>(const T *, ptrdiff_t, T *, ptrdiff_t, int, int, int, int);                       \
    template void blur0_c<T>(T *, ptrdiff_t, T *, ptrdiff_t, int, int);                                           \
    template void blur1_c<T>(T *, ptrdiff_t, T *, ptrdiff_t, int, int);                                           \
    template void downscale_mask_c<T>(const T *, ptrdiff_t, T *, ptrdiff_t, int, int, int, int, bool);            \
    template void warp_c<T>(const T *, ptrdiff_t, const T *, ptrdiff_t, T *, ptrdiff_t, int, int, int, int);

WARP_INSTANTIATE(uint8_t)
WARP_INSTANTIATE(uint16_t)

} // namespace warp
