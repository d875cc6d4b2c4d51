// Baseline build of the RemoveGrain / Repair formulas: the reference behaviour.
#include "kernel.h"
#include "kernel_impl.h"

ORVO_RGVS_DEFINE(c)

namespace orvo::rgvs {
Isa best_isa() {
#if defined(__x86_64__) || defined(__i386__)
    if (__builtin_cpu_supports("avx2"))
        return Isa::avx2;
#endif
    return Isa::c;
}
} // namespace orvo::rgvs
