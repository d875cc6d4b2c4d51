#include "format/plane.h"

#include <string>

namespace orvo {

py::object GetPlane(Context &, py::object clip, py::object plane) {
    const std::string func = "GetPlane";
    if (!vs::is_clip(clip))
        vs::type_error(func, ": \"clip\" must be a clip!");
    int num_planes = vs::format_of(clip).num_planes;
    int64_t index = 0;
    if (!plane.is_none()) {
        if (!vs::is_int(plane))
            vs::type_error(func, ": \"plane\" must be an int!");
        index = plane.cast<int64_t>();
        if (index < 0 || index >= num_planes)
            vs::value_error(func, ": valid range of \"plane\" is [0, " + std::to_string(num_planes) + ")!");
    }
    return vs::call("std", "ShufflePlanes", {clip, py::int_(index), vs::attr("GRAY")});
}

Num scale(const Num &val, int d) { return (val * Num((int64_t(1) << d) - 1)).floordiv(Num(255)); }

namespace {
// 2 ** d for a d beyond this would take the host practically forever; no depth comes near it.
constexpr int64_t kMaxScaleBits = 1 << 16;

py::object host_result(PyObject *r) {
    if (!r)
        throw py::error_already_set();
    return py::reinterpret_steal<py::object>(r);
}
} // namespace

py::object scale_obj(py::object val, py::object d) {
    if (PyLong_Check(d.ptr()) && d > py::int_(kMaxScaleBits))
        vs::value_error("scale", ": \"d\" must be at most " + std::to_string(kMaxScaleBits) + ", got " +
                                     std::string(py::str(d)) + "!");
    // The host's operators, so a non-number fails with the host's own TypeError.
    py::object two(py::int_(2)), one(py::int_(1)), d255(py::int_(255));
    py::object peak = host_result(PyNumber_Subtract(host_result(PyNumber_Power(two.ptr(), d.ptr(), Py_None)).ptr(),
                                                    one.ptr()));
    py::object product = host_result(PyNumber_Multiply(val.ptr(), peak.ptr()));
    return host_result(PyNumber_FloorDivide(product.ptr(), d255.ptr()));
}

namespace {

struct Tag {
    const char *name;
    const char *prop;
    int lo, hi; // accepted integers; lo > hi means any
};

// ColorRange keeps the old numbering (0 full, 1 limited); current frames carry
// _Range with 0 limited, 1 full, so the value is flipped when written.
py::object apply_tag(py::object clip, const Tag &tag, py::object value, const std::string &func) {
    if (value.is_none())
        return clip;
    if (PyBool_Check(value.ptr())) {
        if (value.cast<bool>())
            return clip;
        py::list props;
        props.append(tag.prop);
        if (std::string(tag.prop) == "_Range")
            props.append("_ColorRange");
        return vs::call("std", "RemoveFrameProps", {clip}, {{"props", props}});
    }
    if (!vs::is_int(value))
        vs::type_error(func, std::string(": \"") + tag.name + "\" must be an int or a bool!");
    int64_t v = value.cast<int64_t>();
    if (tag.lo <= tag.hi && (v < tag.lo || v > tag.hi))
        vs::value_error(func, std::string(": valid range of \"") + tag.name + "\" is [" + std::to_string(tag.lo) +
                                  ", " + std::to_string(tag.hi) + "]!");
    if (std::string(tag.prop) == "_Range")
        v = 1 - v;
    return vs::call("std", "SetFrameProp", {clip}, {{"prop", py::str(tag.prop)}, {"intval", py::int_(v)}});
}

} // namespace

py::object SetColorSpace(Context &, py::object clip, py::object ChromaLocation, py::object ColorRange,
                         py::object Primaries, py::object Matrix, py::object Transfer) {
    const std::string func = "SetColorSpace";
    if (!vs::is_clip(clip))
        vs::type_error(func, ": \"clip\" must be a clip!");
    static const Tag tags[] = {
        {"ChromaLocation", "_ChromaLocation", 0, 5}, {"ColorRange", "_Range", 0, 1},
        {"Primaries", "_Primaries", 1, 0},           {"Matrix", "_Matrix", 1, 0},
        {"Transfer", "_Transfer", 1, 0},
    };
    py::object values[] = {ChromaLocation, ColorRange, Primaries, Matrix, Transfer};
    for (int i = 0; i < 5; i++)
        clip = apply_tag(clip, tags[i], values[i], func);
    return clip;
}

} // namespace orvo
