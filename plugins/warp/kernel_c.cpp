// Scalar reference kernels; see kernel.h for the border and rounding rules.
#include "kernel.h"
#include "warp_impl.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace warp {
namespace {

inline int avg(int a, int b) { return (a + b + 1) >> 1; }

// The blurs keep every intermediate in the pixel type (avg never leaves the
// range), which lets the compiler use the packed rounding average.
template <class T>
inline T avg_t(T a, T b) {
    if constexpr (sizeof(T) == 1)
        return T((a + b + 1) >> 1);
    else // same value without widening; the vectoriser handles this form for 16 bit
        return T((a | b) - ((a ^ b) >> 1));
}

// Final combination shared by both sides and the middle of the 13-tap blur.
template <class T>
inline T blur0_combine(T c0, T q12, T q34, T q56) {
    T a = avg_t(c0, q12);
    T b = avg_t(q34, q56);
    return avg_t(a, avg_t(a, b));
}

template <class T>
inline T blur1_combine(T m2, T m1, T c0, T p1, T p2) {
    T t = avg_t(avg_t(m2, p2), c0);
    t = avg_t(t, c0);
    return avg_t(t, avg_t(m1, p1));
}

template <class T>
void blur0_row(const T *__restrict src, T *__restrict dst, int n) {
    for (int i = 0; i < 6; i++) {
        const T *c = src + i;
        dst[i] = blur0_combine(c[0], avg_t(c[1], c[2]), avg_t(c[3], c[4]), avg_t(c[5], c[6]));
    }
    for (int i = 6; i < n - 6; i++) {
        const T *c = src + i;
        T p1 = avg_t(c[-1], c[1]), p2 = avg_t(c[-2], c[2]), p3 = avg_t(c[-3], c[3]);
        T p4 = avg_t(c[-4], c[4]), p5 = avg_t(c[-5], c[5]), p6 = avg_t(c[-6], c[6]);
        dst[i] = blur0_combine(c[0], avg_t(p1, p2), avg_t(p3, p4), avg_t(p5, p6));
    }
    for (int i = n - 6; i < n; i++) {
        const T *c = src + i;
        dst[i] = blur0_combine(c[0], avg_t(c[-1], c[-2]), avg_t(c[-3], c[-4]), avg_t(c[-5], c[-6]));
    }
}

// Vertical pass of one output row. `r` points at the source row of the output
// row; `s` is the row stride. Rows outside the window are never formed.
template <class T>
void blur0_col_row(const T *__restrict r, ptrdiff_t s, T *__restrict dst, int width, int side) {
    if (side < 0) { // top rows: window below
        for (int x = 0; x < width; x++) {
            const T *c = r + x;
            dst[x] = blur0_combine(c[0], avg_t(c[s], c[2 * s]), avg_t(c[3 * s], c[4 * s]), avg_t(c[5 * s], c[6 * s]));
        }
    } else if (side > 0) { // bottom rows: window above
        for (int x = 0; x < width; x++) {
            const T *c = r + x;
            dst[x] = blur0_combine(c[0], avg_t(c[-s], c[-2 * s]), avg_t(c[-3 * s], c[-4 * s]),
                                   avg_t(c[-5 * s], c[-6 * s]));
        }
    } else {
        for (int x = 0; x < width; x++) {
            const T *c = r + x;
            T p1 = avg_t(c[-s], c[s]), p2 = avg_t(c[-2 * s], c[2 * s]), p3 = avg_t(c[-3 * s], c[3 * s]);
            T p4 = avg_t(c[-4 * s], c[4 * s]), p5 = avg_t(c[-5 * s], c[5 * s]), p6 = avg_t(c[-6 * s], c[6 * s]);
            dst[x] = blur0_combine(c[0], avg_t(p1, p2), avg_t(p3, p4), avg_t(p5, p6));
        }
    }
}

template <class T>
void blur1_row(const T *__restrict src, T *__restrict dst, int n) {
    auto at = [&](int i) { return src[std::clamp(i, 0, n - 1)]; };
    int lo = std::min(2, n), hi = std::max(lo, n - 2);
    for (int i = 0; i < lo; i++)
        dst[i] = blur1_combine(at(i - 2), at(i - 1), src[i], at(i + 1), at(i + 2));
    for (int i = lo; i < hi; i++)
        dst[i] = blur1_combine(src[i - 2], src[i - 1], src[i], src[i + 1], src[i + 2]);
    for (int i = hi; i < n; i++)
        dst[i] = blur1_combine(at(i - 2), at(i - 1), src[i], at(i + 1), at(i + 2));
}

template <class T>
void blur1_col_row(const T *__restrict m2, const T *__restrict m1, const T *__restrict c0, const T *__restrict p1,
                   const T *__restrict p2, T *__restrict dst, int width) {
    for (int x = 0; x < width; x++)
        dst[x] = blur1_combine(m2[x], m1[x], c0[x], p1[x], p2[x]);
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
    for (int y = 0; y < height; y++) {
        int side = y < 6 ? -1 : (y >= height - 6 ? 1 : 0);
        blur0_col_row(tmp + y * tmp_stride, tmp_stride, mask + y * stride, width, side);
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
        blur1_col_row(m2, m1, c0, p1, p2, mask + y * stride, width);
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
    warp_rows<T>(mask, mask_stride, dst, dst_stride, width, height, depth, bits,
                 [&](const WarpChunk &c, int n, T *d) { bilinear_c(src, src_stride, c, 0, n, d); });
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
