#include "ops/minblur.h"

#include "ops/limit_filter.h"

namespace orvo {

namespace {

using vs::int_list;

py::list k121() { return int_list({1, 2, 1, 2, 4, 2, 1, 2, 1}); }
py::list k111() { return int_list({1, 1, 1, 1, 1, 1, 1, 1, 1}); }

py::object convolve(py::object clip, const py::list &matrix, const py::object &planes) {
    return vs::call("std", "Convolution", {clip}, {{"matrix", matrix}, {"planes", planes}});
}

bool contains(const py::object &planes, int i) {
    int r = PySequence_Contains(planes.ptr(), py::int_(i).ptr());
    if (r < 0)
        throw py::error_already_set();
    return r == 1;
}

struct Prepared {
    vs::Format f;
    int64_t n;
    py::object planes;
};

// The checks and plane rules both smoothers share.
Prepared prepare(const char *func, const char *name, py::object clip, py::object planes) {
    if (!vs::is_clip(clip))
        throw py::type_error(std::string(func) + ": This is not a clip");
    Prepared p{vs::format_of(clip), 0, planes};
    // The neutral value and the median plugins assume integer samples.
    if (p.f.sample_type != 0 || p.f.bits > 16)
        vs::value_error(func, std::string(": \"") + name + "\" must be of integer format up to 16 bits, not " +
                                  p.f.name + "!");
    p.n = int64_t(1) << (p.f.bits - 1);
    if (p.f.color_family == vs::gray_family())
        p.planes = int_list({0});
    if (vs::is_int(p.planes)) {
        py::list one;
        one.append(p.planes);
        p.planes = one;
    }
    return p;
}

// Median of radius 2 or 3; 16-bit clips go through 12 bits for the plugin and
// are limited back against the source.
py::object wide_median(Context &ctx, py::object clp, const Prepared &p, int radius) {
    if (p.f.bits == 16) {
        py::object down = vs::call("fmtc", "bitdepth", {clp}, {{"bits", py::int_(12)}, {"planes", p.planes}, {"dmode", py::int_(1)}});
        py::object med = vs::call("ctmf", "CTMF", {down}, {{"radius", py::int_(radius)}, {"planes", p.planes}});
        py::object up = vs::call("fmtc", "bitdepth", {med}, {{"bits", py::int_(16)}, {"planes", p.planes}});
        return LimitFilter(ctx, clp, up, py::none(), py::int_(1), py::int_(2), py::none(), py::none(), py::none(),
                           p.planes);
    }
    return vs::call("ctmf", "CTMF", {clp}, {{"radius", py::int_(radius)}, {"planes", p.planes}});
}

} // namespace

std::string sbr_expr(int64_t n) {
    const std::string N = std::to_string(n);
    return "x y - x " + N + " - * 0 < " + N + " x y - abs x " + N + " - abs < x y - " + N + " + x ? ?";
}

std::string minblur_expr(int64_t n) {
    const std::string N = std::to_string(n);
    return "x " + N + " - y " + N + " - * 0 < " + N + " x " + N + " - abs y " + N + " - abs < x y ? ?";
}

py::object sbr(Context &, py::object c, py::object r, py::object planes_in) {
    const Prepared p = prepare("sbr", "c", c, planes_in);
    const py::int_ one(1), two(2);
    auto blur = [&](py::object x) {
        x = convolve(x, k121(), p.planes);
        if (r <= one)
            return x;
        x = convolve(x, k111(), p.planes);
        return r.equal(two) ? x : convolve(x, k111(), p.planes);
    };
    py::object rg11 = blur(c);
    py::object rg11d = vs::call("std", "MakeDiff", {c, rg11}, {{"planes", p.planes}});
    py::object rg11ds = blur(rg11d);
    const std::string e = sbr_expr(p.n);
    py::list exprs;
    for (int i = 0; i < p.f.num_planes; i++)
        exprs.append(contains(p.planes, i) ? e : std::string());
    py::list clips;
    clips.append(rg11d);
    clips.append(rg11ds);
    py::object rg11dd = vs::call("std", "Expr", {clips, exprs});
    return vs::call("std", "MakeDiff", {c, rg11dd}, {{"planes", p.planes}});
}

py::object MinBlur(Context &ctx, py::object clp, py::object r, py::object planes_in) {
    const Prepared p = prepare("MinBlur", "clp", clp, planes_in);
    const std::string e = minblur_expr(p.n);
    const bool gray = p.f.color_family == vs::gray_family();
    py::list modes, exprs;
    for (int i = 0; i < (gray ? 1 : 3); i++) {
        const bool on = contains(p.planes, i);
        modes.append(on ? 11 : 0);
        exprs.append(on ? e : std::string());
    }
    const py::int_ zero(0), one(1), two(2);
    py::object rg11, rg4;
    if (r <= zero) {
        rg11 = sbr(ctx, clp, py::int_(1), p.planes);
        rg4 = vs::call("std", "Median", {clp}, {{"planes", p.planes}});
    } else if (r.equal(one)) {
        rg11 = vs::call("rgvs", "RemoveGrain", {clp, modes});
        rg4 = vs::call("std", "Median", {clp}, {{"planes", p.planes}});
    } else if (r.equal(two)) {
        rg11 = convolve(vs::call("rgvs", "RemoveGrain", {clp, modes}), k111(), p.planes);
        rg4 = wide_median(ctx, clp, p, 2);
    } else {
        rg11 = vs::call("rgvs", "RemoveGrain", {clp, modes});
        rg11 = convolve(convolve(rg11, k111(), p.planes), k111(), p.planes);
        rg4 = wide_median(ctx, clp, p, 3);
    }
    py::object rg11d = vs::call("std", "MakeDiff", {clp, rg11}, {{"planes", p.planes}});
    py::object rg4d = vs::call("std", "MakeDiff", {clp, rg4}, {{"planes", p.planes}});
    py::list clips;
    clips.append(rg11d);
    clips.append(rg4d);
    py::object dd = vs::call("std", "Expr", {clips, exprs});
    return vs::call("std", "MakeDiff", {clp, dd}, {{"planes", p.planes}});
}

} // namespace orvo
