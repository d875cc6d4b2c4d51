// The gradient row of every operator, included by kernel_c.cpp and
// kernel_avx2.cpp: the same source compiled for two instruction sets (with
// -ffp-contract=off both round every operation alike, so the bits agree).
#pragma once

#include "kernel.h"

#include <algorithm>
#include <cmath>

namespace orvo::tcanny {
namespace {

// Gradient magnitude of one row of the blurred plane (rows m2..p2 around it,
// 2-sample mirrored frame), and with DIRS the scaled gx, gy for the directions.
// The restrict-qualified parameters let the loop vectorise.
template <int OP, bool DIRS>
void gradient_row(const float *__restrict m2, const float *__restrict m1, const float *__restrict c0,
                  const float *__restrict p1, const float *__restrict p2, float *__restrict gr, float *__restrict rx,
                  float *__restrict ry, int w, float scale) {
    for (int x = 0; x < w; x++) {
        // a b c / d e f / g h i
        const float a = m1[x - 1], bb = m1[x], c = m1[x + 1];
        const float d = c0[x - 1], f = c0[x + 1];
        const float gg = p1[x - 1], hh = p1[x], i = p1[x + 1];
        float gx = 0.0f, gy = 0.0f;
        if constexpr (OP == 5) {
            const float ring[8] = {a, bb, c, f, i, hh, gg, d};
            float total = 0.0f;
            for (float v : ring)
                total += v;
            float best = 0.0f;
            for (int k = 0; k < 8; k++) {
                float run = ring[k] + ring[(k + 1) & 7] + ring[(k + 2) & 7];
                float r = std::fabs(5.0f * run - 3.0f * (total - run));
                best = std::max(best, r);
            }
            gr[x] = scale * best;
            continue;
        } else if constexpr (OP == 0) {
            gx = f - d;
            gy = bb - hh;
        } else if constexpr (OP == 1) {
            gx = (c + f + i - a - d - gg) / 2.0f;
            gy = (a + bb + c - gg - hh - i) / 2.0f;
        } else if constexpr (OP == 2) {
            gx = (c + 2.0f * f + i) - (a + 2.0f * d + gg);
            gy = (a + 2.0f * bb + c) - (gg + 2.0f * hh + i);
        } else if constexpr (OP == 3) {
            gx = 3.0f * c + 10.0f * f + 3.0f * i - 3.0f * a - 10.0f * d - 3.0f * gg;
            gy = 3.0f * a + 10.0f * bb + 3.0f * c - 3.0f * gg - 10.0f * hh - 3.0f * i;
        } else if constexpr (OP == 4) {
            gx = 17.0f * c + 61.0f * f + 17.0f * i - 17.0f * a - 61.0f * d - 17.0f * gg;
            gy = 17.0f * a + 61.0f * bb + 17.0f * c - 17.0f * gg - 61.0f * hh - 17.0f * i;
        } else { // 6: 5x5 FDoG, weights 1 2 3 2 1 across the difference
            const float *r[5] = {m2, m1, c0, p1, p2};
            constexpr float wt[5] = {1.0f, 2.0f, 3.0f, 2.0f, 1.0f};
            for (int k = 0; k < 5; k++) {
                const float *row = r[k];
                gx += wt[k] * (row[x + 1] + row[x + 2] - row[x - 1] - row[x - 2]);
            }
            for (int k = 0; k < 5; k++) {
                const int dx = x + k - 2;
                gy += wt[k] * (m2[dx] + m1[dx] - p1[dx] - p2[dx]);
            }
        }
        const float sx = scale * gx, sy = scale * gy;
        gr[x] = std::sqrt(sx * sx + sy * sy);
        if constexpr (DIRS) {
            rx[x] = sx;
            ry[x] = sy;
        }
    }
}

template <bool DIRS>
void gradient_row_op(int op, const float *const *r, float *gr, float *rx, float *ry, int w, float scale) {
    switch (op) {
    case 0: gradient_row<0, DIRS>(r[0], r[1], r[2], r[3], r[4], gr, rx, ry, w, scale); break;
    case 1: gradient_row<1, DIRS>(r[0], r[1], r[2], r[3], r[4], gr, rx, ry, w, scale); break;
    case 2: gradient_row<2, DIRS>(r[0], r[1], r[2], r[3], r[4], gr, rx, ry, w, scale); break;
    case 3: gradient_row<3, DIRS>(r[0], r[1], r[2], r[3], r[4], gr, rx, ry, w, scale); break;
    case 4: gradient_row<4, DIRS>(r[0], r[1], r[2], r[3], r[4], gr, rx, ry, w, scale); break;
    case 5: gradient_row<5, DIRS>(r[0], r[1], r[2], r[3], r[4], gr, rx, ry, w, scale); break;
    default: gradient_row<6, DIRS>(r[0], r[1], r[2], r[3], r[4], gr, rx, ry, w, scale); break;
    }
}

void gradient_any(int op, bool dirs, const float *const *rows, float *gr, float *rx, float *ry, int w, float scale) {
    dirs ? gradient_row_op<true>(op, rows, gr, rx, ry, w, scale) : gradient_row_op<false>(op, rows, gr, rx, ry, w, scale);
}

} // namespace
} // namespace orvo::tcanny
