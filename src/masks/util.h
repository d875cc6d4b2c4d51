// Small graph-building shorthands shared by the mask builders.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "vs/vs.h"

namespace orvo::masks {

namespace py = pybind11;

using vs::int_list;

inline py::list to_list(const std::vector<int64_t> &values) {
    py::list out(values.size());
    for (size_t i = 0; i < values.size(); i++)
        out[i] = py::int_(values[i]);
    return out;
}

inline py::list clips(std::initializer_list<py::object> nodes) {
    py::list out;
    for (const auto &n : nodes)
        out.append(n);
    return out;
}

// Top, left, right and bottom neighbours for std.Minimum / std.Maximum.
inline py::list cross() { return int_list({0, 1, 0, 1, 1, 0, 1, 0}); }

// A value in the text the host would print for it, so ints stay "256" and
// floats stay "256.0".
inline std::string text(py::handle value) { return py::str(value).cast<std::string>(); }

// A host str.format template filled with host values.
template <class... Args>
std::string format(const char *tmpl, Args &&...args) {
    return py::str(tmpl).attr("format")(std::forward<Args>(args)...).template cast<std::string>();
}

inline py::object expr(py::list inputs, const std::string &e) {
    py::list exprs;
    exprs.append(e);
    return vs::call("std", "Expr", {inputs, exprs});
}

inline py::object gray_plane(py::object clip, int plane) {
    return vs::call("std", "ShufflePlanes", {clip, py::int_(plane), vs::attr("GRAY")});
}

inline int bits_of(py::handle clip) { return vs::format_of(clip).bits; }

inline py::object width_of(py::handle clip) { return clip.attr("width"); }
inline py::object height_of(py::handle clip) { return clip.attr("height"); }

// The builders check only that they were given clips; everything else is left
// to the core and the plugins, whose messages name the failing filter.
inline void require_clip(const char *func, const char *name, py::handle value) {
    if (!vs::is_clip(value))
        vs::type_error(func, std::string(": \"") + name + "\" must be a clip!");
}

} // namespace orvo::masks
