// Detail layers and line darkening: a low/high frequency split, the
// enhancement of a difference clip, and darkening of thin dark lines.
#pragma once

#include <cstdint>
#include <vector>

#include "module/context.h"

namespace orvo {

// (highFre, lowFre): the high-frequency rest and the low-pass layer of a
// pre-smoothed clip, both taken from the pre-smoothed clip.
py::tuple fresp(Context &ctx, py::object clip, py::object mask = py::none(), py::object lowPassC = py::int_(1));

// The 65536-entry table of mwenhance for a difference clip of `bits` bits:
// moderate differences amplified, large ones pulled back towards neutral.
std::vector<int64_t> mwenhance_table(int bits, double Strength, double Szrp8, double Spwr);

py::object mwenhance(Context &ctx, py::object diffClip, py::object Strength = py::float_(2.0),
                     py::object Szrp8 = py::int_(8), py::object Spwr = py::int_(4), py::object Soft = py::int_(0));

// Thin dark lines of the luma darkened (and warped); bright areas keep the
// input through a mask from an 8-bit copy. Always 16-bit out.
py::object line_darken(Context &ctx, py::object clip, py::object amp = py::int_(1), py::object limit = py::none(),
                       py::object clip8 = py::none(), py::object thrs = py::int_(512));

} // namespace orvo
