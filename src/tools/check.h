// Clip comparison viewer and difference view.
#pragma once

#include <string>
#include <vector>

#include "module/context.h"

namespace orvo {

// Labels of the arguments of a `check(...)` call found in one source line;
// a single fallback label when the line cannot be parsed.
std::vector<std::string> check_labels(const std::string &line, const std::string &fallback);

// Converts `clipbs` to clipa's family, subsampling, depth, size and frame rate.
// List mode (`mode_1_flag`) returns [clipa, converted...]; otherwise the clips
// are labelled with `labels` and interleaved.
py::object check(Context &ctx, py::object clipa, std::vector<py::object> clipbs, bool mode_1_flag,
                 const std::vector<std::string> &labels = {});

py::object diff(Context &ctx, py::object clipa, py::object clipb, py::object amp = py::int_(10),
                py::object planes = py::none(), py::object binarize = py::bool_(false),
                py::object maskedmerge = py::bool_(false));

} // namespace orvo
