// Plane access, 8-bit value scaling and colour-space frame properties.
#pragma once

#include "module/context.h"

namespace orvo {

py::object GetPlane(Context &ctx, py::object clip, py::object plane = py::none());

// val * (2^d - 1) // 255 with the host's int/float rules.
Num scale(const Num &val, int d);
py::object scale_obj(py::object val, py::object d);

py::object SetColorSpace(Context &ctx, py::object clip, py::object ChromaLocation = py::none(),
                         py::object ColorRange = py::none(), py::object Primaries = py::none(),
                         py::object Matrix = py::none(), py::object Transfer = py::none());

} // namespace orvo
