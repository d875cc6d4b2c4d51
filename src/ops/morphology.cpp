#include "ops/morphology.h"

#include <cmath>
#include <string>

namespace orvo {

namespace {

bool is_gray(py::handle clip) { return vs::format_of(clip).color_family == vs::gray_family(); }

py::list coords(std::initializer_list<int> flags) {
    py::list out;
    for (int f : flags)
        out.append(f);
    return out;
}

// Each 3x3 pass reaches one pixel further, so more passes than the frame's
// width + height (a fixed bound for a variable-size clip) have no use; far more
// would build a chain of nodes for minutes, or forever for a huge float radius.
void check_passes(const char *func, py::object src, const char *names, std::initializer_list<py::object> radii) {
    const int64_t w = src.attr("width").cast<int64_t>(), h = src.attr("height").cast<int64_t>();
    const bool known = w > 0 && h > 0;
    const py::int_ limit(known ? w + h : int64_t(1) << 16);
    for (const py::object &r : radii) {
        if (!(r > limit))
            continue;
        std::string got;
        for (const py::object &v : radii)
            got += (got.empty() ? "" : " and ") + std::string(py::str(py::repr(v)));
        vs::value_error(func, std::string(": ") + names + " must be at most " + std::string(py::str(limit)) +
                                  (known ? " (the frame's width + height, " + std::to_string(w) + "x" +
                                               std::to_string(h) + ")"
                                         : std::string(" for a clip of variable size")) +
                                  ", got " + got + "!");
    }
}

// One pass per step of the radii: pass k sees sw - k and sh - k. Written as a
// loop; the chain of nodes is the same as the recursive formulation's.
py::object min_max_multi(const char *func, const char *filter, py::object src, py::object mode, py::object planes,
                         py::object sw, py::object sh) {
    if (!vs::is_clip(src))
        throw py::type_error(std::string(func) + ": This is not a clip");
    if (is_gray(src))
        planes = coords({0});
    check_passes(func, src, "\"sw\" and \"sh\"", {sw, sh});
    const py::int_ zero(0), one(1), three(3);
    const bool losange = mode.equal(py::str("losange"));
    const bool ellipse = mode.equal(py::str("ellipse"));
    for (;;) {
        const bool h = sw > zero, v = sh > zero;
        py::list pattern;
        if (h && v) {
            bool cross = losange || (ellipse && sw.attr("__mod__")(three).not_equal(one));
            pattern = cross ? coords({0, 1, 0, 1, 1, 0, 1, 0}) : coords({1, 1, 1, 1, 1, 1, 1, 1});
        } else if (h) {
            pattern = coords({0, 0, 0, 1, 1, 0, 0, 0});
        } else if (v) {
            pattern = coords({0, 1, 0, 0, 0, 0, 1, 0});
        } else {
            return src;
        }
        src = vs::call("std", filter, {src}, {{"planes", planes}, {"coordinates", pattern}});
        sw = sw - one;
        sh = sh - one;
    }
}

py::object inflate_deflate_multi(const char *func, const char *filter, py::object src, py::object planes,
                                 py::object radius) {
    if (!vs::is_clip(src))
        throw py::type_error(std::string(func) + ": This is not a clip");
    if (is_gray(src))
        planes = coords({0});
    check_passes(func, src, "\"radius\"", {radius});
    const py::int_ zero(0), one(1);
    // A fractional radius keeps going while anything is left: 1.8 gives two passes.
    while (radius > zero) {
        src = vs::call("std", filter, {src}, {{"planes", planes}});
        radius = radius - one;
    }
    return src;
}

} // namespace

py::list default_planes() {
    py::list out;
    for (int p = 0; p < 3; p++)
        out.append(p);
    return out;
}

py::object mt_expand_multi(Context &, py::object src, py::object mode, py::object planes, py::object sw,
                           py::object sh) {
    return min_max_multi("mt_expand_multi", "Maximum", src, mode, planes, sw, sh);
}

py::object mt_inpand_multi(Context &, py::object src, py::object mode, py::object planes, py::object sw,
                           py::object sh) {
    return min_max_multi("mt_inpand_multi", "Minimum", src, mode, planes, sw, sh);
}

py::object mt_inflate_multi(Context &, py::object src, py::object planes, py::object radius) {
    return inflate_deflate_multi("mt_inflate_multi", "Inflate", src, planes, radius);
}

py::object mt_deflate_multi(Context &, py::object src, py::object planes, py::object radius) {
    return inflate_deflate_multi("mt_deflate_multi", "Deflate", src, planes, radius);
}

int64_t m4(py::object x) {
    if (x < py::int_(16))
        return 16;
    // True division, then floor(x / 4 + 0.5): halves round up.
    double q = py::cast<double>(py::float_(x / py::int_(4)));
    if (!(q < 1e18))
        vs::value_error("m4", ": \"x\" must be a finite size, not " + std::string(py::str(py::repr(x))) + "!");
    return int64_t(std::floor(q + 0.5)) * 4;
}

} // namespace orvo
