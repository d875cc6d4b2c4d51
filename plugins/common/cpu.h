// Runtime CPU feature checks for the optional SIMD kernels.
#pragma once

namespace orvo {

// The *_avx2.cpp files are built with -mavx2 -mfma -mbmi2, so all three are required.
inline bool cpu_has_avx2() {
#if defined(__x86_64__) || defined(__i386__)
    static const bool has =
        __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") && __builtin_cpu_supports("bmi2");
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
