// BM3D denoise in the opponent colour space, with KNLMeansCL or BM3D on chroma.
#pragma once

#include "module/context.h"

namespace orvo {

// BM3D search range for a frame size.
int bm_range_for(int width, int height);

py::object orvo3d(Context &ctx, py::object clip, py::object nrluma = py::float_(1.9),
                  py::object nrchroma = py::float_(1.15), py::object profile = py::str("np"),
                  py::object d = py::int_(1), py::object a = py::int_(2), py::object s = py::int_(3),
                  py::object device_type = py::str("gpu"), py::object device_id = py::int_(0));

} // namespace orvo
