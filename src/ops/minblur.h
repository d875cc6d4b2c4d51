// Detail-preserving smoothers on integer clips: sbr and MinBlur.
#pragma once

#include <string>

#include "module/context.h"
#include "ops/morphology.h"

namespace orvo {

py::object sbr(Context &ctx, py::object c, py::object r = py::int_(1), py::object planes = default_planes());
py::object MinBlur(Context &ctx, py::object clp, py::object r = py::int_(1), py::object planes = default_planes());

// The per-plane expressions for a neutral value n (2^(bits-1)).
std::string sbr_expr(int64_t n);
std::string minblur_expr(int64_t n);

} // namespace orvo
