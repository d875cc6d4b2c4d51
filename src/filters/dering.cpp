#include "filters/dering.h"

#include "format/plane.h"
#include "format/resize.h"
#include "ops/minblur.h"
#include "ops/morphology.h"

namespace orvo {

namespace {

using vs::int_list;

py::object expr(std::initializer_list<py::object> clips, const std::string &e) {
    py::list cl, ex;
    for (const auto &c : clips)
        cl.append(c);
    ex.append(e);
    return vs::call("std", "Expr", {cl}, {{"expr", ex}});
}

py::object range_expr(py::object hi, py::object lo) { return expr({hi, lo}, "x y -"); }

py::object maximum(py::object c) { return vs::call("std", "Maximum", {c}); }
py::object minimum(py::object c) { return vs::call("std", "Minimum", {c}); }

// A gamma curve between input_low and input_high onto output_low..output_high.
py::object levels(py::object c, const Num &in_low, double gamma, const Num &in_high, const Num &out_low,
                  const Num &out_high) {
    return vs::call("std", "Levels", {c},
                    {{"min_in", vs::from_num(in_low)},
                     {"max_in", vs::from_num(in_high)},
                     {"gamma", py::float_(gamma)},
                     {"min_out", vs::from_num(out_low)},
                     {"max_out", vs::from_num(out_high)}});
}

py::object remove_grain11(py::object c) { return vs::call("rgvs", "RemoveGrain", {c, int_list({11})}); }

// Mask of the pre-blur: thick-line surroundings where there are no thin lines.
py::object preblur_mask(Context &ctx, py::object clp, int bits, const Num &strength1) {
    const Num white = scale(Num(255), bits);
    py::object mask1 = vs::call("std", "Convolution", {clp},
                                {{"matrix", int_list({0, -1, 0, -1, 0, 1, 0, 1, 0})},
                                 {"divisor", py::int_(2)},
                                 {"saturate", py::bool_(false)}});
    // Gradients below 4 steps are noise: they go to black before the gamma
    // curves below would lift them.
    mask1 = expr({mask1}, "x " + scale(Num(4), bits).str() + " < 0 x " + white.str() + " > " + white.str() +
                              " x ? ?");
    auto curve = [&](py::object c) { return levels(c, Num(0), 3.3, scale(Num(90), bits), Num(0), white); };
    py::object ps1mask = remove_grain11(curve(mask1));
    py::object thick = mt_inflate_multi(ctx, mask1, default_planes(), py::int_(3));
    thick = remove_grain11(curve(thick));
    thick = curve(mt_inflate_multi(ctx, thick, default_planes(), py::int_(3)));
    thick = mt_inflate_multi(ctx, thick, default_planes(), py::int_(2));
    py::object mask2 = expr({vs::call("std", "Invert", {ps1mask}), thick}, "x y * " + white.str() + " /");
    return levels(mask2, scale(Num(60), bits), 3.0, scale(Num(140), bits), Num(0), scale(strength1, bits));
}

// Clip brought to w x h by the bicubic resampler and back to `bits`.
py::object bicubic_to(py::object c, int64_t w, int64_t h, int bits) {
    c = vs::call("fmtc", "resample", {c, py::int_(w), py::int_(h)}, {{"kernel", py::str("bicubic")}});
    return vs::call("fmtc", "bitdepth", {c}, {{"bits", py::int_(bits)}});
}

} // namespace

std::string dering_mask_expr(const Num &multiple, const Num &lowsens, const Num &highsens) {
    const std::string m = multiple.str();
    return "y " + m + " / x " + m + " / - y " + m + " / 0.001 + / 255 * " + lowsens.str() + " - y " + m +
           " / 256 + 512 / " + (highsens / Num(100)).str() + " + * " + m + " *";
}

std::string dering_blend_expr(const Num &strength2) {
    return "x y < x x y - " + strength2.str() + " * - x x y - " + (Num(1) - strength2).str() + " * - ?";
}

py::object dr_only(Context &ctx, py::object clp, py::object preblur, py::object strength1, py::object strength2,
                   py::object lowsens, py::object highsens, py::object dering_line_mask2, py::object show) {
    if (!vs::is_clip(clp))
        vs::type_error("dr_only", ": \"clp\" must be a clip!");
    const vs::Format f = vs::format_of(clp);
    // The expressions work on the 8-bit scale times one 8-bit step.
    if (f.sample_type != 0)
        vs::value_error("dr_only", ": \"clp\" must be of integer format, not " + f.name + "!");
    const int bits = f.bits;
    const Num multiple = scale(Num(1), bits);
    const int64_t x = clp.attr("width").cast<int64_t>(), y = clp.attr("height").cast<int64_t>();
    const int64_t x2 = x / 2, y2 = y / 2, xs = x * 3 / 2, ys = y * 3 / 2;

    py::object ps1 = clp;
    if (py::bool_(preblur)) {
        if (dering_line_mask2.is_none())
            dering_line_mask2 = preblur_mask(ctx, clp, bits, vs::to_num(strength1));
        ps1 = vs::call("std", "MaskedMerge", {clp, MinBlur(ctx, clp, py::int_(1)), dering_line_mask2});
    }

    const py::bool_ no(false);
    py::object halo = vs::call("fmtc", "resample", {ps1, py::int_(x2), py::int_(y2)},
                               {{"kernel", py::str("bicubic")}, {"fulls", no}, {"fulld", no}});
    halo = vs::call("fmtc", "resample", {halo, py::int_(x), py::int_(y)},
                    {{"kernel", py::str("bicubic")},
                     {"a1", py::int_(1)},
                     {"a2", py::int_(0)},
                     {"fulls", no},
                     {"fulld", no}});
    halo = vs::call("fmtc", "bitdepth", {halo}, {{"bits", py::int_(bits)}, {"fulls", no}, {"fulld", no}});

    py::object halo_mask1 = range_expr(maximum(ps1), minimum(clp));
    py::object halotomask = range_expr(maximum(halo), minimum(halo));
    py::object halotomask2 = expr({halotomask, halo_mask1},
                                  dering_mask_expr(multiple, vs::to_num(lowsens), vs::to_num(highsens)));
    py::object pshalo = vs::call("std", "MaskedMerge", {halo, ps1, halotomask2});

    ResizeOptions up;
    up.bits = py::int_(bits);
    up.kernel = py::str("lanczos");
    up.taps = py::int_(4);
    up.noring = py::bool_(true);
    py::object pshalo2 = Resize(ctx, ps1, py::int_(xs), py::int_(ys), up);
    // The mix's local extremes are brought to the working size before each clamp.
    pshalo2 = expr({pshalo2, bicubic_to(maximum(pshalo), xs, ys, bits)}, "x y min");
    pshalo2 = expr({pshalo2, bicubic_to(minimum(pshalo), xs, ys, bits)}, "x y max");
    ResizeOptions down;
    down.bits = py::int_(bits);
    down.kernel = py::str("spline36");
    pshalo2 = Resize(ctx, pshalo2, py::int_(x), py::int_(y), down);

    py::object ps2 = expr({ps1, pshalo2}, dering_blend_expr(vs::to_num(strength2)));
    return py::bool_(show) ? halotomask2 : ps2;
}

} // namespace orvo
