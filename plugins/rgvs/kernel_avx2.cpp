// The same formulas as kernel_c.cpp, compiled with AVX2 so the row loops use
// 256-bit min/max (the baseline build has no unsigned 16-bit min/max at all).
#include "kernel.h"
#include "kernel_impl.h"

ORVO_RGVS_DEFINE(avx2)
