// Pieces shared by fmtc.bitdepth and fmtc.resample: the range model that maps
// code values of one format onto another.
#pragma once

#include "plugin_common.h"

#include <cmath>
#include <string>

namespace fmtc {

// Normalised value = (X - min) / scale.
struct PlaneRange {
    double scale;
    double min;
};

inline bool is_chroma(const VSVideoFormat &f, int plane) { return f.colorFamily == cfYUV && plane > 0; }

inline PlaneRange plane_range(const VSVideoFormat &f, int plane, bool full) {
    const bool chroma = is_chroma(f, plane);
    if (f.sampleType == stFloat)
        return {1.0, chroma ? -0.5 : 0.0};
    const int n = f.bitsPerSample;
    if (full)
        return {double((1 << n) - 1), chroma ? 0.5 : 0.0};
    const double u = std::ldexp(1.0, n - 8);
    return {(chroma ? 224.0 : 219.0) * u, 16.0 * u};
}

// X_dst = gain * X_src + add.
struct RangeMap {
    double gain;
    double add;
};

inline RangeMap range_map(const VSVideoFormat &src, bool fulls, const VSVideoFormat &dst, bool fulld, int plane) {
    PlaneRange s = plane_range(src, plane, fulls), d = plane_range(dst, plane, fulld);
    double gain = d.scale / s.scale;
    return {gain, d.min - s.min * gain};
}

inline bool default_full(const VSVideoFormat &f) { return f.colorFamily == cfRGB; }

inline std::string format_desc(const VSVideoFormat &f) {
    return std::string(f.sampleType == stFloat ? "float " : "integer ") + std::to_string(f.bitsPerSample) + "-bit";
}

} // namespace fmtc
