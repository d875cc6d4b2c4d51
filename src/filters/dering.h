// Halo and ringing removal: the source is clamped, at 1.5x size, between the
// local extremes of a mix of itself and a shrunk-and-enlarged reference.
#pragma once

#include <string>

#include "module/context.h"

namespace orvo {

py::object dr_only(Context &ctx, py::object clp, py::object preblur = py::bool_(false),
                   py::object strength1 = py::int_(0), py::object strength2 = py::int_(0),
                   py::object lowsens = py::int_(50), py::object highsens = py::int_(50),
                   py::object dering_line_mask2 = py::none(), py::object show = py::bool_(false));

// The mixing-mask expression: how much of the source's local range survives
// the smoothing, on the 8-bit scale.
std::string dering_mask_expr(const Num &multiple, const Num &lowsens, const Num &highsens);
// The final blend: strength2 of the correction where the source is darker,
// 1 - strength2 where it is brighter.
std::string dering_blend_expr(const Num &strength2);

} // namespace orvo
