#include "pipeline/chain.h"

namespace orvo::chain {

py::object gray(py::object clip) { return vs::call("std", "ShufflePlanes", {clip, py::int_(0), vs::attr("GRAY")}); }

py::object masked_merge(py::object a, py::object b, py::object mask, py::object planes, py::object first_plane) {
    return vs::call("std", "MaskedMerge", {a, b, mask, planes, first_plane});
}

py::object make_diff(py::object a, py::object b) { return vs::call("std", "MakeDiff", {a, b}); }

py::object merge_diff(py::object a, py::object b) { return vs::call("std", "MergeDiff", {a, b}); }

py::object remove_grain(py::object clip, py::object mode) { return vs::call("rgvs", "RemoveGrain", {clip, mode}); }

} // namespace orvo::chain
