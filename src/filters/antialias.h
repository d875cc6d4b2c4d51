// Luma anti-aliasing by edge-directed re-interpolation in both directions.
#pragma once

#include "module/context.h"

namespace orvo {

// kernel 1: EEDI2 at full size; 2: nnedi3 at 80 % size; 3: EEDI2 doubling then
// SangNom at 80 % size; anything else leaves the luma as it is. Chroma is kept.
py::object fullaa(Context &ctx, py::object clip, py::object kernel = py::int_(1), py::object cycle = py::int_(1));

} // namespace orvo
