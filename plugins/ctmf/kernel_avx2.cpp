// The median filters of kernel_c.cpp compiled with AVX2 (radius 1 and 2 are
// min/max over rows; the baseline build lacks unsigned 16-bit min/max), with
// integer radius 2 on sorted columns (the baseline keeps the plain network as
// the reference).
#include "kernel.h"
#include "kernel_impl.h"

ORVO_CTMF_DEFINE(avx2, true)
