// Runtime CPU feature checks for the optional SIMD kernels.
#pragma once

namespace orvo {

inline bool cpu_has_avx2() {
#if defined(__x86_64__) || defined(__i386__)
    static const bool has = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    return has;
#else
    return false;
#endif
}

inline bool cpu_has_sse41() {
#if defined(__x86_64__) || defined(__i386__)
    static const bool has = __builtin_cpu_supports("sse4.1");
    return has;
#else
    return false;
#endif
}

} // namespace orvo
