// Hysteresis by flood fill with an explicit stack (a frame-sized region must
// not recurse). `out` doubles as the visited map: a pixel is pushed once, at
// the moment it is set to peak, so the stack never exceeds w*h entries.
#include "kernel.h"

#include <cstring>

namespace orvo::misc {
namespace {

template <class T>
void fill(const T *a, ptrdiff_t as, const T *b, ptrdiff_t bs, T *out, ptrdiff_t os, int w, int h, T peak,
          std::vector<uint32_t> &stack) {
    for (int y = 0; y < h; y++)
        std::memset(out + y * os, 0, sizeof(T) * size_t(w));
    stack.reserve(size_t(w) * size_t(h));
    const T zero = T(0);
    for (int y = 0; y < h; y++) {
        for (int x = 0; x < w; x++) {
            if (out[y * os + x] != zero || !(a[y * as + x] > zero) || !(b[y * bs + x] > zero))
                continue;
            out[y * os + x] = peak;
            stack.clear();
            stack.push_back(uint32_t(y) * uint32_t(w) + uint32_t(x));
            while (!stack.empty()) {
                uint32_t i = stack.back();
                stack.pop_back();
                int cy = int(i / uint32_t(w)), cx = int(i % uint32_t(w));
                int y0 = cy > 0 ? cy - 1 : 0, y1 = cy < h - 1 ? cy + 1 : h - 1;
                int x0 = cx > 0 ? cx - 1 : 0, x1 = cx < w - 1 ? cx + 1 : w - 1;
                for (int ny = y0; ny <= y1; ny++) {
                    T *orow = out + ny * os;
                    const T *brow = b + ny * bs;
                    for (int nx = x0; nx <= x1; nx++) {
                        if (orow[nx] == zero && brow[nx] > zero) {
                            orow[nx] = peak;
                            stack.push_back(uint32_t(ny) * uint32_t(w) + uint32_t(nx));
                        }
                    }
                }
            }
        }
    }
}

} // namespace

void hysteresis(const uint8_t *a, ptrdiff_t as, const uint8_t *b, ptrdiff_t bs, uint8_t *out, ptrdiff_t os, int w,
                int h, uint8_t peak, std::vector<uint32_t> &stack) {
    fill(a, as, b, bs, out, os, w, h, peak, stack);
}
void hysteresis(const uint16_t *a, ptrdiff_t as, const uint16_t *b, ptrdiff_t bs, uint16_t *out, ptrdiff_t os, int w,
                int h, uint16_t peak, std::vector<uint32_t> &stack) {
    fill(a, as, b, bs, out, os, w, h, peak, stack);
}
void hysteresis(const float *a, ptrdiff_t as, const float *b, ptrdiff_t bs, float *out, ptrdiff_t os, int w, int h,
                float peak, std::vector<uint32_t> &stack) {
    fill(a, as, b, bs, out, os, w, h, peak, stack);
}

} // namespace orvo::misc
