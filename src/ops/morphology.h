// Multi-pass grey-scale morphology built from the core's 3x3 operators, and m4.
#pragma once

#include "module/context.h"

namespace orvo {

// A fresh [0, 1, 2] list: the default plane list of the pixel operators.
py::list default_planes();

py::object mt_expand_multi(Context &ctx, py::object src, py::object mode = py::str("rectangle"),
                           py::object planes = default_planes(), py::object sw = py::int_(1),
                           py::object sh = py::int_(1));
py::object mt_inpand_multi(Context &ctx, py::object src, py::object mode = py::str("rectangle"),
                           py::object planes = default_planes(), py::object sw = py::int_(1),
                           py::object sh = py::int_(1));
py::object mt_inflate_multi(Context &ctx, py::object src, py::object planes = default_planes(),
                            py::object radius = py::int_(1));
py::object mt_deflate_multi(Context &ctx, py::object src, py::object planes = default_planes(),
                            py::object radius = py::int_(1));

// x rounded to the nearest multiple of 4 (halves up), at least 16.
int64_t m4(py::object x);

} // namespace orvo
