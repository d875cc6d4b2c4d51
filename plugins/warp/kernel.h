// Scalar reference kernels of the warp sharpener: edge mask, mask blurs,
// chroma mask downscaling and the warp itself. No VapourSynth here.
//
// Pixels are uint8_t (8 bit) or uint16_t (9-16 bit); strides are in elements.
// avg(a, b) means (a + b + 1) >> 1 everywhere; the blurs are chains of avg()
// and their order of rounding is part of the result.
#pragma once

#include <cstddef>
#include <cstdint>

namespace warp {

// Smallest plane the kernels accept; the filter refuses smaller planes at create time.
constexpr int kMaskMinSize = 3;   // edge mask: 3x3 window
constexpr int kBlur0MinSize = 12; // type 0 blur: 13 taps, one-sided within 6 of an edge
constexpr int kMaxBlur = 1000;    // mask blur passes the filter accepts

// Edge strength, clipped to min(thresh, peak). width, height >= 3.
// Border: columns 0 and W-1 repeat columns 1 and W-2 of the same row, then
// rows 0 and H-1 repeat rows 1 and H-2.
template <class T>
void edge_mask_c(const T *src, ptrdiff_t src_stride, T *dst, ptrdiff_t dst_stride, int width, int height, int thresh,
                 int bits);

// One pass of the 13-tap blur: every row into `tmp`, then every column of `tmp`
// back into `mask`. width, height >= 12. Within 6 samples of an edge the window
// is one-sided (pointing into the plane) instead of mirrored.
template <class T>
void blur0_c(T *mask, ptrdiff_t stride, T *tmp, ptrdiff_t tmp_stride, int width, int height);

// One pass of the 5-tap blur, same order as blur0_c. Indices are clamped to the
// plane (edge replicated), so any size >= 1 works.
template <class T>
void blur1_c(T *mask, ptrdiff_t stride, T *tmp, ptrdiff_t tmp_stride, int width, int height);

// Luma-size mask -> chroma-size mask for subsampling (ssw, ssh), each 0 or 1.
// dst_width/dst_height are the chroma plane size; the source is twice that in a
// subsampled direction. mpeg2 centres horizontal taps on the even luma column.
template <class T>
void downscale_mask_c(const T *src, ptrdiff_t src_stride, T *dst, ptrdiff_t dst_stride, int dst_width,
                      int dst_height, int ssw, int ssh, bool mpeg2);

// Moves every pixel along the mask gradient by depth/2 per mask step, in
// 1/128 pixel, bilinear. width >= 1, height >= 2. Displacements are clamped so
// every read stays inside the plane.
template <class T>
void warp_c(const T *src, ptrdiff_t src_stride, const T *mask, ptrdiff_t mask_stride, T *dst, ptrdiff_t dst_stride,
            int width, int height, int depth, int bits);

// Same result as warp_c; needs a CPU with AVX2 (see cpu_has_avx2()).
template <class T>
void warp_avx2(const T *src, ptrdiff_t src_stride, const T *mask, ptrdiff_t mask_stride, T *dst,
               ptrdiff_t dst_stride, int width, int height, int depth, int bits);

} // namespace warp
