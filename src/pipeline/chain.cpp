#include "pipeline/chain.h"

namespace orvo::chain {

py::list planes(std::initializer_list<int> values) {
    py::list out;
    for (int v : values)
        out.append(v);
    return out;
}

py::object gray(py::object clip) { return vs::call("std", "ShufflePlanes", {clip, py::int_(0), vs::attr("GRAY")}); }

py::object masked_merge(py::object a, py::object b, py::object mask, py::object planes, py::object first_plane) {
    return vs::call("std", "MaskedMerge", {a, b, mask, planes, first_plane});
}

py::object make_diff(py::object a, py::object b) { return vs::call("std", "MakeDiff", {a, b}); }

py::object merge_diff(py::object a, py::object b) { return vs::call("std", "MergeDiff", {a, b}); }

py::object remove_grain(py::object clip, py::object mode) { return vs::call("rgvs", "RemoveGrain", {clip, mode}); }

bool truthy(const py::object &v) {
    int r = PyObject_IsTrue(v.ptr());
    if (r < 0)
        throw py::error_already_set();
    return r == 1;
}

} // namespace orvo::chain
