// Bit-depth conversion: fmtc.bitdepth by default, the zimg resizer on request
// or where fmtc cannot go, and expressions for depths below 8 bits.
#pragma once

#include "module/context.h"

namespace orvo {

py::object Depth(Context &ctx, py::object input, py::object depth = py::none(), py::object sample = py::none(),
                 py::object fulls = py::none(), py::object fulld = py::none(), py::object dither = py::none(),
                 py::object useZ = py::none(), py::object prefer_props = py::none(), py::object ampo = py::none(),
                 py::object ampn = py::none(), py::object dyn = py::none(), py::object staticnoise = py::none());

py::object zDepth(Context &ctx, py::object clip, py::object sample = py::none(), py::object depth = py::none(),
                  py::object range = py::none(), py::object range_in = py::none(),
                  py::object dither_type = py::none(), py::object cpu_type = py::none(),
                  py::object prefer_props = py::none());

// zDepth with the zimg entry points looked up on `core` instead of the
// context's core, so that tests can hand in a core without the built-in
// resizer.
py::object zdepth_on(py::object core, py::object clip, py::object sample, py::object depth, py::object range,
                     py::object range_in, py::object dither_type, py::object cpu_type, py::object prefer_props);

} // namespace orvo
