#include "ops/operators.h"

#include <cmath>
#include <string>

#include "format/plane.h"

namespace orvo {

namespace {

int64_t plane_limit(Context &ctx) { return py::cast<int64_t>(ctx.VSMaxPlaneNum); }

py::list to_list(const std::vector<int64_t> &values) {
    py::list out(values.size());
    for (size_t i = 0; i < values.size(); i++)
        out[i] = py::int_(values[i]);
    return out;
}

} // namespace

py::object _operator2(Context &ctx, py::object clip1, py::object clip2, py::object mode, py::object neutral,
                      py::object funcName) {
    const std::string func = py::str(funcName);
    if (!vs::is_clip(clip1))
        vs::type_error(func, ": \"clip1\" must be a clip!");
    if (!vs::is_clip(clip2))
        vs::type_error(func, ": \"clip2\" must be a clip!");
    const vs::Format f1 = vs::format_of(clip1), f2 = vs::format_of(clip2);
    if (f1.id != f2.id)
        vs::value_error(func, ": \"clip1\" and \"clip2\" must be of the same format!");
    if (py::cast<int64_t>(clip1.attr("width")) != py::cast<int64_t>(clip2.attr("width")) ||
        py::cast<int64_t>(clip1.attr("height")) != py::cast<int64_t>(clip2.attr("height")))
        vs::value_error(func, ": \"clip1\" and \"clip2\" must be of the same width and height!");

    // One mode per plane; short lists repeat their last entry. The list is
    // also long enough for every plane of the clip when VSMaxPlaneNum is smaller.
    const size_t count = size_t(std::max<int64_t>(plane_limit(ctx), f1.num_planes));
    std::vector<int64_t> modes;
    if (mode.is_none()) {
        modes.assign(count, 1);
    } else if (vs::is_int(mode)) {
        modes.assign(count, py::cast<int64_t>(mode));
    } else if (PyList_Check(mode.ptr())) {
        for (py::handle m : py::reinterpret_borrow<py::list>(mode)) {
            if (!vs::is_int(m))
                vs::type_error(func, ": \"mode\" must be a (list of) int!");
            modes.push_back(py::cast<int64_t>(m));
        }
        if (modes.empty())
            vs::type_error(func, ": \"mode\" must be a (list of) int!");
        while (modes.size() < count)
            modes.push_back(modes.back());
    } else {
        vs::type_error(func, ": \"mode\" must be a (list of) int!");
    }

    Num n;
    if (neutral.is_none())
        n = f1.sample_type == 0 ? Num(int64_t(1) << (f1.bits - 1)) : Num(0);
    else if (vs::is_number(neutral))
        n = vs::to_num(neutral);
    else
        vs::type_error(func, ": \"neutral\" must be an int or a float!");
    const std::string ns = n.str();

    py::list exprs;
    for (int i = 0; i < f1.num_planes; i++) {
        const int64_t m = modes[size_t(i)];
        std::string e;
        if (func == "Min")
            e = m >= 2 ? "y " + ns + " - abs x " + ns + " - abs < y x ?" : m == 1 ? "x y min" : "";
        else if (func == "Max")
            e = m >= 2 ? "y " + ns + " - abs x " + ns + " - abs > y x ?" : m == 1 ? "x y max" : "";
        else if (func == "Avg")
            e = m >= 1 ? "x y + 2 /" : "";
        else
            vs::value_error("_operator2", ": Unknown \"funcName\" specified!");
        exprs.append(e);
    }
    py::list clips;
    clips.append(clip1);
    clips.append(clip2);
    return vs::call("std", "Expr", {clips, exprs});
}

py::object Max(Context &ctx, py::object clip1, py::object clip2, py::object mode, py::object neutral) {
    return _operator2(ctx, clip1, clip2, mode, neutral, py::str("Max"));
}

std::vector<int64_t> levels_luma_table(int bits, double exponent) {
    const int64_t peak = (int64_t(1) << bits) - 1;
    const int64_t tv_low = 16 * peak / 255, h0 = 235 * peak / 255;
    const double scale_f = double(h0 - tv_low);
    std::vector<int64_t> t(size_t(peak) + 1);
    for (int64_t x = 0; x <= peak; x++) {
        if (x <= tv_low)
            t[size_t(x)] = tv_low;
        else if (x < h0) {
            const double v = std::pow(double(x - tv_low) / scale_f, exponent) * scale_f + double(tv_low) + 0.5;
            // Only a negative gamma leaves the range; never convert inf or NaN.
            if (!(v >= 0 && v < double(peak + 1)))
                vs::value_error("Levels", ": 1 / \"gamma\" = " + float_text(exponent) +
                                              " gives table values outside [0, " + std::to_string(peak) + "]!");
            t[size_t(x)] = int64_t(v);
        } else
            t[size_t(x)] = h0;
    }
    return t;
}

std::vector<int64_t> levels_chroma_table(int bits) {
    const int64_t peak = (int64_t(1) << bits) - 1;
    const int64_t tv_low = 16 * peak / 255, h1 = 240 * peak / 255;
    std::vector<int64_t> t(size_t(peak) + 1);
    for (int64_t x = 0; x <= peak; x++)
        t[size_t(x)] = x <= tv_low ? tv_low : x < h1 ? x : h1;
    return t;
}

py::object Levels(Context &, py::object clip, py::object gamma, py::object, py::object, py::object, py::object,
                  py::object, py::object) {
    if (!vs::is_clip(clip))
        vs::type_error("Levels", ": \"clip\" must be a clip!");
    const vs::Format f = vs::format_of(clip);
    // 1 / gamma in the host's arithmetic: None or 0 fail the way the host fails.
    const double exponent = py::cast<double>(py::float_(py::int_(1) / gamma));
    if (f.sample_type != 0 || f.bits > 16)
        vs::value_error("Levels", ": \"clip\" must be of integer format up to 16 bits, not " + f.name + "!");

    py::list luma_planes;
    luma_planes.append(0);
    py::object res = vs::call("std", "Lut", {clip},
                              {{"planes", luma_planes}, {"lut", to_list(levels_luma_table(f.bits, exponent))}});
    if (f.color_family != vs::gray_family()) {
        py::list chroma_planes;
        chroma_planes.append(1);
        chroma_planes.append(2);
        res = vs::call("std", "Lut", {res}, {{"planes", chroma_planes}, {"lut", to_list(levels_chroma_table(f.bits))}});
    }
    return res;
}

} // namespace orvo
