// Two-clip per-plane operators (Max and its siblings) and the TV-range Levels curve.
#pragma once

#include <vector>

#include "module/context.h"

namespace orvo {

// funcName is "Min", "Max" or "Avg"; it also prefixes every message.
py::object _operator2(Context &ctx, py::object clip1, py::object clip2, py::object mode, py::object neutral,
                      py::object funcName);
py::object Max(Context &ctx, py::object clip1, py::object clip2, py::object mode = py::none(),
               py::object neutral = py::none());

// The two tables of Levels for a clip of `bits` bits (2^bits entries each).
std::vector<int64_t> levels_luma_table(int bits, double exponent);
std::vector<int64_t> levels_chroma_table(int bits);

// input_*/output_*/planes/coring are accepted and ignored: luma always gets
// the gamma curve and chroma (non-GRAY clips) the TV-range clamp.
py::object Levels(Context &ctx, py::object clip, py::object gamma = py::none(), py::object input_low = py::int_(0),
                  py::object input_high = py::int_(65536), py::object output_low = py::int_(0),
                  py::object output_high = py::int_(65536), py::object planes = py::none(),
                  py::object coring = py::bool_(true));

} // namespace orvo
