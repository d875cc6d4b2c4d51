// Scalar reference kernels of TCanny and the per-plane driver shared by all paths.
#include "kernel.h"
#include "gradient_impl.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <new>
#include <type_traits>

namespace orvo::tcanny {

int gaussian_radius(float sigma) {
    if (!(sigma > 0.0f))
        return 0;
    const float r = sigma * 3.0f + 0.5f;
    if (!(r < float(kHugeRadius)))
        return kHugeRadius;
    return std::max(int(r), 1);
}

std::vector<float> gaussian_taps(float sigma) {
    const int radius = gaussian_radius(sigma);
    if (radius == 0)
        return {1.0f};
    std::vector<float> w(size_t(2 * radius + 1));
    const float denom = 2.0f * sigma * sigma;
    float sum = 0.0f;
    for (int k = -radius; k <= radius; k++) {
        // k = 0 is exp(0) even when denom underflows to 0 (avoids 0/0).
        float v = k == 0 ? 1.0f : std::exp(-float(k * k) / denom);
        w[size_t(k + radius)] = v;
        sum += v;
    }
    for (float &v : w)
        v /= sum;
    return w;
}

namespace {

template <class T>
__attribute__((noinline)) void vsum_c(const T *const *rows, const float *taps, int ntaps, int width, float *dst) {
    const float t0 = taps[0];
    const T *r0 = rows[0];
    for (int x = 0; x < width; x++)
        dst[x] = t0 * float(r0[x]);
    for (int k = 1; k < ntaps; k++) {
        const float t = taps[k];
        const T *r = rows[k];
        for (int x = 0; x < width; x++)
            dst[x] += t * float(r[x]);
    }
}

void vsum2_c(const float *const *rows, const float *taps, int ntaps, int width, float *dst0, float *dst1) {
    vsum_c<float>(rows, taps, ntaps, width, dst0);
    vsum_c<float>(rows + 1, taps, ntaps, width, dst1);
}

void hsum_c(const float *src, const float *taps, int ntaps, int width, float *dst) {
    const float t0 = taps[0];
    for (int x = 0; x < width; x++)
        dst[x] = t0 * src[x];
    for (int k = 1; k < ntaps; k++) {
        const float t = taps[k];
        const float *s = src + k;
        for (int x = 0; x < width; x++)
            dst[x] += t * s[x];
    }
}

template <class T>
void store_c(const float *src, int width, float gain, int peak, T *dst) {
    const float fpeak = float(peak);
    for (int x = 0; x < width; x++) {
        float v = src[x] * gain + 0.5f;
        // Nothing out of range (nor NaN, which lands on peak) reaches the cast.
        v = v < fpeak ? v : fpeak;
        v = v > 0.0f ? v : 0.0f;
        dst[x] = T(int(v));
    }
}

void directions_c(const float *gx, const float *gy, int width, uint8_t *dst) {
    for (int x = 0; x < width; x++)
        dst[x] = uint8_t(direction_bin(gx[x], gy[x]));
}

template <class T>
void hsum_store_c(const float *src, const float *taps, int ntaps, int width, int peak, T *dst) {
    float buf[256];
    for (int x = 0; x < width; x += 256) {
        const int n = std::min(256, width - x);
        hsum_c(src + x, taps, ntaps, n, buf);
        store_c<T>(buf, n, 1.0f, peak, dst + x);
    }
}

void suppress_c(const float *gr, const float *up, const float *dn, const uint8_t *dr, int w, float t_l, float t_h,
                uint8_t *cr) {
    // All four neighbour pairs, then a select: no data-dependent branches or loads.
    for (int x = 0; x < w; x++) {
        const float v = gr[x];
        const float m0 = std::max(gr[x - 1], gr[x + 1]);
        const float m1 = std::max(up[x + 1], dn[x - 1]);
        const float m2 = std::max(up[x], dn[x]);
        const float m3 = std::max(up[x - 1], dn[x + 1]);
        const float ms[4] = {m0, m1, m2, m3};
        const float m = ms[dr[x] & 3];
        // Ties kept; t_l < t_h, so strong pixels count both comparisons.
        const int level = (v >= t_l) + (v >= t_h);
        cr[x] = uint8_t(level & -int(v >= m));
    }
}

const RowKernels kScalar = {
    vsum_c<uint8_t>, vsum_c<uint16_t>, vsum_c<float>, vsum2_c, hsum_c, hsum_store_c<uint8_t>, hsum_store_c<uint16_t>,
    directions_c, store_c<uint8_t>, store_c<uint16_t>, gradient_any, suppress_c,
};

// ---------------------------------------------------------------------------
// Per-plane stages

// Blurs every row of the plane. out_row(y) gives where the vertical pass of row
// y goes when there is no horizontal pass; finish(y, mid, line) then completes
// the row (mid: vertical result, line: the same with mirrored ends).
// Rows are made two at a time, which lets the vertical pass load each source
// row once for both. Integer rows are converted to float once and kept in a
// ring of 2 * radius_v + 2 rows: the rows a pair of output rows needs are a run
// of at most that many consecutive source rows (or all rows of a smaller
// plane), so `row % ring` never collides within it.
template <class T, class VSum, class Out, class Finish>
void blur_plane(const T *src, ptrdiff_t stride, const PlaneJob &j, Workspace &ws, VSum vsum, const RowKernels &rk,
                Out out_row, Finish finish) {
    constexpr bool is_float = std::is_same_v<T, float>;
    const int w = j.width, h = j.height, rv = j.radius_v, rh = j.radius_h;
    const int nv = 2 * rv + 1, slots = nv + 1;
    std::vector<const float *> rows(static_cast<size_t>(slots));
    std::vector<int> held(static_cast<size_t>(slots), -1);
    float *ring = ws.ring.get();
    const ptrdiff_t ring_stride = ptrdiff_t(aligned_floats(size_t(w)));
    // Each line keeps its middle (the vertical result) 64-byte aligned.
    const size_t lead = aligned_floats(size_t(rh)) - size_t(rh);
    const ptrdiff_t line_stride = ptrdiff_t(aligned_floats(aligned_floats(size_t(rh)) + size_t(w) + size_t(rh)));
    float *lines[2] = {ws.line.get() + lead, ws.line.get() + lead + line_stride};
    static const float one = 1.0f;
    for (int y = 0; y < h; y += 2) {
        const int count = std::min(2, h - y);
        for (int k = 0; k < nv + count - 1; k++) {
            const int r = mirror_index(y - rv + k, h);
            if constexpr (is_float) {
                rows[size_t(k)] = src + ptrdiff_t(r) * stride;
            } else {
                const int slot = r % slots;
                float *dst = ring + ptrdiff_t(slot) * ring_stride;
                if (held[size_t(slot)] != r) {
                    const T *s = src + ptrdiff_t(r) * stride;
                    vsum(&s, &one, 1, w, dst); // 1 * x: exact conversion
                    held[size_t(slot)] = r;
                }
                rows[size_t(k)] = dst;
            }
        }
        float *mid[2];
        for (int i = 0; i < count; i++)
            mid[i] = rh == 0 ? out_row(y + i) : lines[i] + rh;
        if (count == 2)
            rk.vsum2_f32(rows.data(), j.taps_v, nv, w, mid[0], mid[1]);
        else
            rk.vsum_f32(rows.data(), j.taps_v, nv, w, mid[0]);
        for (int i = 0; i < count; i++) {
            float *m = mid[i];
            for (int e = 1; e <= rh; e++) {
                m[-e] = m[mirror_index(-e, w)];
                m[w - 1 + e] = m[mirror_index(w - 1 + e, w)];
            }
            finish(y + i, m, lines[i]);
        }
    }
}

// Fills a `pad`-sample mirrored frame around a w x h float plane at `origin`.
void mirror_frame(float *origin, ptrdiff_t stride, int w, int h, int pad) {
    for (int y = 0; y < h; y++) {
        float *r = origin + y * stride;
        for (int i = 1; i <= pad; i++) {
            r[-i] = r[mirror_index(-i, w)];
            r[w - 1 + i] = r[mirror_index(w - 1 + i, w)];
        }
    }
    for (int i = 1; i <= pad; i++) {
        std::copy_n(origin + mirror_index(-i, h) * stride - pad, w + 2 * pad, origin - i * stride - pad);
        std::copy_n(origin + mirror_index(h - 1 + i, h) * stride - pad, w + 2 * pad,
                    origin + (h - 1 + i) * stride - pad);
    }
}

// Weak pixels of row c next to a strong pixel in rows u, c, d become 5. Only
// bit 1 marks strong (weak 1, marked 5), so rows marked earlier read the same.
// Two plain loops through `tmp` (w + 2 + w bytes) so that both vectorise.
__attribute__((noinline)) void or3_row(const uint8_t *__restrict u, const uint8_t *__restrict c,
                                       const uint8_t *__restrict d, uint8_t *__restrict t, int n) {
    for (int x = 0; x < n; x++)
        t[x] = uint8_t(u[x] | c[x] | d[x]);
}
__attribute__((noinline)) void mark_row(const uint8_t *__restrict t, const uint8_t *__restrict c,
                                        uint8_t *__restrict o, int n) {
    for (int x = 0; x < n; x++) {
        const uint8_t near = uint8_t((t[x] | t[x + 1] | t[x + 2]) >> 1);
        const uint8_t v = c[x];
        o[x] = uint8_t(v | (uint8_t(v == 1) & near) << 2);
    }
}
void mark_near_strong(uint8_t *c, ptrdiff_t cs, int w, uint8_t *tmp) {
    or3_row(c - cs - 1, c - 1, c + cs - 1, tmp, w + 2);
    mark_row(tmp, c, tmp + w + 2, w);
    std::memcpy(c, tmp + w + 2, size_t(w));
}

// Classes after non-maximum suppression: 0 none, 1 weak (>= t_l), 2 strong
// (>= t_h); weak pixels touching a strong one are marked 5 as each row is
// done, while its neighbours are still in cache. `cls` has a one-pixel frame
// of zeros (stride w + 2) so the growth needs no bounds checks.
void suppress(const float *g, ptrdiff_t gs, const uint8_t *dirs, uint8_t *cls, uint8_t *tmp, const PlaneJob &j,
              const RowKernels &rk) {
    const int w = j.width, h = j.height;
    const ptrdiff_t cs = w + 2;
    std::fill_n(cls - cs - 1, cs, uint8_t(0));
    std::fill_n(cls + h * cs - 1, cs, uint8_t(0));
    const float t_l = j.t_l, t_h = j.t_h;
    for (int y = 0; y < h; y++) {
        const float *gr = g + y * gs, *up = gr - gs, *dn = gr + gs;
        const uint8_t *dr = dirs + ptrdiff_t(y) * w;
        uint8_t *cr = cls + y * cs;
        cr[-1] = cr[w] = 0;
        rk.suppress(gr, up, dn, dr, w, t_l, t_h, cr);
        if (y > 0)
            mark_near_strong(cr - cs, cs, w, tmp);
    }
    mark_near_strong(cls + (h - 1) * cs, cs, w, tmp);
}

// 8-connected growth through weak pixels from the marked ones (5), depth
// first; reached weak pixels become 3. Strong pixels need no visit: all their
// weak neighbours are marked. Afterwards every class >= 2 is an edge.
void hysteresis(uint8_t *cls, uint32_t *stack, int w, int h) {
    const ptrdiff_t cs = w + 2;
    const ptrdiff_t around[8] = {-cs - 1, -cs, -cs + 1, -1, 1, cs - 1, cs, cs + 1};
    auto grow_from = [&](uint8_t *p) {
        size_t top = 0;
        stack[top++] = uint32_t(p - cls);
        while (top) {
            uint8_t *c = cls + stack[--top];
            for (ptrdiff_t o : around) {
                uint8_t &n = c[o];
                if (n == 1) {
                    n = 3;
                    stack[top++] = uint32_t(&n - cls);
                }
            }
        }
    };
    constexpr uint64_t low7 = 0x7f7f7f7f7f7f7f7full, fives = 0x0505050505050505ull;
    for (int y = 0; y < h; y++) {
        uint8_t *row = cls + y * cs;
        int x = 0;
        for (; x + 8 <= w; x += 8) {
            // Bytes equal to 5 as set high bits, without a carry between bytes.
            uint64_t v;
            std::memcpy(&v, row + x, 8);
            const uint64_t t = v ^ fives;
            uint64_t z = ~(((t & low7) + low7) | t | low7);
            while (z) {
                grow_from(row + x + (__builtin_ctzll(z) >> 3));
                z &= z - 1;
            }
        }
        for (; x < w; x++)
            if (row[x] == 5)
                grow_from(row + x);
    }
}

template <class T>
void vsum_for(const RowKernels &rk, const T *const *rows, const float *taps, int n, int w, float *dst) {
    if constexpr (sizeof(T) == 1)
        rk.vsum_u8(rows, taps, n, w, dst);
    else if constexpr (sizeof(T) == 2)
        rk.vsum_u16(rows, taps, n, w, dst);
    else
        rk.vsum_f32(rows, taps, n, w, dst);
}

template <class T>
void store_for(const RowKernels &rk, const float *src, int w, float gain, int peak, T *dst) {
    if constexpr (sizeof(T) == 1)
        rk.store_u8(src, w, gain, peak, dst);
    else
        rk.store_u16(src, w, gain, peak, dst);
}

template <class T>
void hsum_store_for(const RowKernels &rk, const float *src, const float *taps, int n, int w, int peak, T *dst) {
    if constexpr (sizeof(T) == 1)
        rk.hsum_store_u8(src, taps, n, w, peak, dst);
    else
        rk.hsum_store_u16(src, taps, n, w, peak, dst);
}

template <class T>
void process_plane(const T *src, ptrdiff_t ss, T *dst, ptrdiff_t ds, const PlaneJob &j, Workspace &ws,
                   const RowKernels &rk) {
    constexpr bool is_float = std::is_same_v<T, float>;
    const int w = j.width, h = j.height;
    auto vsum = [&rk](const T *const *rows, const float *taps, int n, int width, float *out) {
        vsum_for<T>(rk, rows, taps, n, width, out);
    };

    const int nh = 2 * j.radius_h + 1;
    if (j.mode == kBlur) {
        if constexpr (is_float) {
            blur_plane<T>(src, ss, j, ws, vsum, rk, [&](int y) { return dst + y * ds; },
                          [&](int y, float *, float *line) {
                              if (nh > 1)
                                  rk.hsum(line, j.taps_h, nh, w, dst + y * ds);
                          });
        } else {
            float *row = ws.row.get();
            const ptrdiff_t rs = ptrdiff_t(aligned_floats(size_t(w)));
            blur_plane<T>(src, ss, j, ws, vsum, rk, [row, rs](int y) { return row + (y & 1) * rs; },
                          [&](int y, float *mid, float *line) {
                              if (nh > 1)
                                  hsum_store_for<T>(rk, line, j.taps_h, nh, w, j.peak, dst + y * ds);
                              else
                                  store_for<T>(rk, mid, w, 1.0f, j.peak, dst + y * ds);
                          });
        }
        return;
    }

    // The blurred rows go through a ring of six, each with two mirrored samples
    // either side: gradient row g reads rows g - 2 .. g + 2 (mirrored), all
    // made by the time row g + 2 is, and the blur writes at most two rows
    // ahead of the one it has just finished.
    const ptrdiff_t bs = w + 4;
    auto brow = [&](int y) { return ws.blur.get() + 2 + (y % 6) * bs; };
    const ptrdiff_t gs = w + 2;
    float *g = j.mode == kEdges ? ws.grad.get() + gs + 1 : nullptr; // no plane in mode 1
    uint8_t *dirs = ws.dir.get();
    float *tx = ws.row.get(), *ty = tx + aligned_floats(size_t(w));
    auto gradient_row = [&](int y) {
        const float *rows[5];
        for (int k = 0; k < 5; k++)
            rows[k] = brow(mirror_index(y - 2 + k, h));
        if (j.mode == kMagnitude) {
            // The magnitude plane would only be written and read back.
            rk.gradient(j.op, false, rows, tx, nullptr, nullptr, w, j.scale);
            T *out = dst + y * ds;
            if constexpr (is_float) {
                for (int x = 0; x < w; x++)
                    out[x] = std::clamp(tx[x] * j.gain, 0.0f, 1.0f);
            } else {
                store_for<T>(rk, tx, w, j.gain, j.peak, out);
            }
            return;
        }
        rk.gradient(j.op, true, rows, g + y * gs, tx, ty, w, j.scale);
        // Directions in a second loop so that both loops vectorise.
        if (j.op == 5)
            std::fill_n(dirs + ptrdiff_t(y) * w, w, uint8_t(0));
        else
            rk.directions(tx, ty, w, dirs + ptrdiff_t(y) * w);
    };
    blur_plane<T>(src, ss, j, ws, vsum, rk, brow, [&](int y, float *, float *line) {
        float *r = brow(y);
        if (nh > 1)
            rk.hsum(line, j.taps_h, nh, w, r);
        for (int e = 1; e <= 2; e++) {
            r[-e] = r[mirror_index(-e, w)];
            r[w - 1 + e] = r[mirror_index(w - 1 + e, w)];
        }
        if (y >= 2)
            gradient_row(y - 2);
    });
    for (int y = std::max(0, h - 2); y < h; y++)
        gradient_row(y);
    if (j.mode == kMagnitude)
        return;

    uint8_t *cls = ws.cls.get() + (w + 2) + 1;
    mirror_frame(g, gs, w, h, 1);
    suppress(g, gs, dirs, cls, ws.near.get(), j, rk);
    hysteresis(cls, ws.stack.get(), w, h);
    const T on = is_float ? T(1) : T(j.peak);
    for (int y = 0; y < h; y++) {
        const uint8_t *cr = cls + ptrdiff_t(y) * (w + 2);
        T *out = dst + y * ds;
        for (int x = 0; x < w; x++)
            out[x] = cr[x] >= 2 ? on : T(0);
    }
}

template <class T>
void grow(Buffer<T> &p, size_t &cap, size_t n) {
    if (cap >= n)
        return;
    const size_t bytes = (n * sizeof(T) + 63) & ~size_t(63);
    p.reset(static_cast<T *>(std::aligned_alloc(64, bytes)));
    if (!p) {
        cap = 0;
        throw std::bad_alloc();
    }
    cap = n;
}

} // namespace

const RowKernels &row_kernels_c() { return kScalar; }

void Workspace::prepare(const PlaneJob &j) {
    const size_t w = size_t(j.width), h = size_t(j.height);
    const size_t rh = size_t(j.radius_h);
    grow(line, line_cap, 2 * aligned_floats(aligned_floats(rh) + w + rh));
    grow(row, row_cap, 2 * aligned_floats(w));
    grow(ring, ring_cap, (2 * size_t(j.radius_v) + 2) * aligned_floats(w));
    if (j.mode != kBlur)
        grow(blur, blur_cap, 6 * (w + 4));
    if (j.mode == kEdges) {
        grow(grad, grad_cap, (w + 2) * (h + 2));
        grow(dir, dir_cap, w * h);
        grow(cls, cls_cap, (w + 2) * (h + 2));
        grow(near, near_cap, 2 * w + 2);
        grow(stack, stack_cap, w * h);
    }
}

void process_plane_u8(const uint8_t *src, ptrdiff_t ss, uint8_t *dst, ptrdiff_t ds, const PlaneJob &j,
                      Workspace &ws, const RowKernels &rk) {
    process_plane(src, ss, dst, ds, j, ws, rk);
}
void process_plane_u16(const uint16_t *src, ptrdiff_t ss, uint16_t *dst, ptrdiff_t ds, const PlaneJob &j,
                       Workspace &ws, const RowKernels &rk) {
    process_plane(src, ss, dst, ds, j, ws, rk);
}
void process_plane_f32(const float *src, ptrdiff_t ss, float *dst, ptrdiff_t ds, const PlaneJob &j,
                       Workspace &ws, const RowKernels &rk) {
    process_plane(src, ss, dst, ds, j, ws, rk);
}

} // namespace orvo::tcanny
