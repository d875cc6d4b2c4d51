// Ring, edge-enhancement, text, anti-aliasing and warp masks.
#include "format/depth.h"
#include "format/plane.h"
#include "masks/masks.h"
#include "masks/util.h"
#include "ops/morphology.h"

namespace orvo {

using namespace masks;

namespace {

py::object fmt(const char *name) { return vs::attr(name); }

py::object gradient8(py::object clip) {
    // Plain gradient magnitude of every plane on the 8-bit scale.
    return vs::call("tcanny", "TCanny", {clip},
                    {{"sigma", py::float_(0.5)},
                     {"op", py::int_(2)},
                     {"gmmax", py::int_(255)},
                     {"mode", py::int_(1)},
                     {"planes", int_list({0, 1, 2})}});
}

} // namespace

py::object ringmask2(Context &ctx, py::object clip, py::object rx, py::object amp, py::object thY1, py::object thY2,
                     py::object mode) {
    require_clip("ringmask2", "clip", clip);
    if (vs::format_of(clip).color_family != vs::gray_family())
        clip = GetPlane(ctx, clip, py::int_(0));
    py::object w = width_of(clip), h = height_of(clip);
    const int bits = bits_of(clip);
    const py::int_ peak((int64_t(1) << bits) - 1);
    py::object ry = rx;
    thY1 = scale_obj(thY1, py::int_(bits));
    thY2 = scale_obj(thY2, py::int_(bits));

    // Two up-scalings of one down-scaling: a sharp and a soft bicubic.
    const py::int_ dw(m4(w / rx)), dh(m4(h / ry));
    auto resampled = [&](py::object a1, py::object a2) {
        py::object down = vs::call("fmtc", "resample", {clip, dw, dh},
                                   {{"kernel", py::str("bicubic")}, {"fulls", py::bool_(false)},
                                    {"fulld", py::bool_(false)}});
        return vs::call("fmtc", "resample", {down, w, h},
                        {{"kernel", py::str("bicubic")},
                         {"a1", a1},
                         {"a2", a2},
                         {"fulls", py::bool_(false)},
                         {"fulld", py::bool_(false)}});
    };
    py::object smooth = resampled(py::int_(1), py::int_(0));
    py::object smoother = resampled(py::float_(1.5), py::float_(-0.25));

    const std::string e = mode.equal(py::int_(1)) ? "x y - " + text(amp) + " *" : "y x - " + text(amp) + " *";
    py::object mask = expr(clips({smooth, smoother}), e);
    mask = vs::call("fmtc", "bitdepth", {mask},
                    {{"bits", py::int_(bits)}, {"fulls", py::bool_(true)}, {"fulld", py::bool_(true)},
                     {"dmode", py::int_(1)}});
    const std::string limit =
        "x " + text(thY1) + " < 0 x " + text(thY2) + " >= " + text(peak) + " x ? ?";
    return expr(clips({mask}), limit);
}

py::object eemask(Context &ctx, py::object clip) {
    require_clip("eemask", "clip", clip);
    if (bits_of(clip) != 8)
        clip = Depth(ctx, clip, py::int_(8));
    py::object width = width_of(clip), height = height_of(clip);

    py::object grad = gradient8(clip);
    py::object ey = vs::call("fmtc", "bitdepth", {GetPlane(ctx, grad, py::int_(0))}, {{"bits", py::int_(16)}});
    py::object eu = vs::call("fmtc", "resample", {GetPlane(ctx, grad, py::int_(1)), width, height},
                             {{"sx", py::float_(0.25)}});
    py::object ev = vs::call("fmtc", "resample", {GetPlane(ctx, grad, py::int_(2)), width, height},
                             {{"sx", py::float_(0.25)}});
    py::list e1;
    e1.append("x 2 / y + z + 256 /");
    ey = vs::call("std", "Expr", {clips({ey, eu, ev}), e1, fmt("GRAY8")});
    // Edges and dark areas: 35 e^2 + 0.3 (255 - luma)^2, capped.
    py::list e2;
    e2.append("x x * 35 * 255 y - dup * 0.30 * + 55706 min");
    py::object mask = vs::call("std", "Expr", {clips({ey, GetPlane(ctx, clip, py::int_(0))}), e2, fmt("GRAY16")});
    mask = vs::call("std", "ShufflePlanes", {mask, int_list({0, 0, 0}), vs::attr("YUV")});
    mask = vs::call("resize", "Bilinear", {mask}, {{"format", fmt("YUV420P16")}});
    return vs::call("rgvs", "RemoveGrain", {mask, int_list({20, 11})});
}

py::object textmask(Context &ctx, py::object clip, py::object lim0, py::object lim1) {
    require_clip("textmask", "clip", clip);
    if (bits_of(clip) != 16)
        clip = Depth(ctx, clip, py::int_(16));
    // The mask takes the size of the clip it is made from, so it fits the
    // clips it is merged with at any frame size.
    py::object width = width_of(clip), height = height_of(clip);
    auto at_luma_size = [&](py::object c) {
        return vs::call("resize", "Bicubic", {c, width, height},
                        {{"format", fmt("YUV420P16")}, {"filter_param_a", py::int_(0)},
                         {"filter_param_b", py::float_(0.5)}});
    };
    py::object clipy = GetPlane(ctx, clip, py::int_(0));
    py::object Y = at_luma_size(vs::call("std", "ShufflePlanes", {clipy, py::int_(0), vs::attr("YUV")}));
    py::object U = at_luma_size(vs::call("std", "ShufflePlanes", {clip, int_list({1, 1, 1}), vs::attr("YUV")}));
    py::object V = at_luma_size(vs::call("std", "ShufflePlanes", {clip, int_list({2, 2, 2}), vs::attr("YUV")}));

    // Bright and nearly colourless: a loose and a strict test.
    auto test = [&](const char *tmpl, py::object lim) {
        py::list exprs;
        exprs.append(format(tmpl, lim));
        exprs.append("0");
        return vs::call("std", "Expr", {clips({Y, U, V}), exprs});
    };
    py::object textmaskb =
        test("x 53000 > y 32768 - abs {0} < and z 32768 - abs {0} < and 65535 0 ?", lim0);
    py::object textmasks =
        test("x 58000 > y 32768 - abs {0} < and z 32768 - abs {0} < and 65535 0 ?", lim1);
    py::object grown = vs::call("misc", "Hysteresis", {textmasks, textmaskb}, {{"planes", py::int_(0)}});
    return vs::call("std", "Maximum", {grown, py::int_(0)});
}

py::object vcbaamask(Context &ctx, py::object clip) {
    require_clip("vcbaamask", "clip", clip);
    if (bits_of(clip) != 8)
        clip = Depth(ctx, clip, py::int_(8));
    // The clip's colours read as OPP, then a BT.709 luma of them.
    py::object luma = vs::sibling("ToRGB", clip, {{"matrix", py::str("OPP")}});
    luma = vs::call("resize", "Bicubic", {luma},
                    {{"format", fmt("GRAY16")},
                     {"matrix_s", py::str("709")},
                     {"filter_param_a_uv", py::int_(0)},
                     {"filter_param_b_uv", py::float_(0.5)},
                     {"range_s", py::str("limited")},
                     {"dither_type", py::str("random")}});
    luma = vs::call("resize", "Bilinear", {luma}, {{"format", fmt("YUV420P8")}});

    py::object mask = gradient8(clip);
    // A lower edge threshold in dark areas. The chroma planes are copied with
    // "x": the current core leaves a plane unwritten for an empty expression
    // when the output depth differs from the input's.
    py::list exprs;
    exprs.append("y 64 < x 32 < 0 65535 ? x 64 < 0 65535 ? ? ");
    exprs.append("x");
    py::object aamask = vs::call("std", "Expr", {clips({mask, luma}), exprs, fmt("YUV420P16")});
    aamask = vs::call("std", "Maximum", {aamask, py::int_(0)});
    aamask = vs::call("std", "Minimum", {aamask, py::int_(0)});
    return vs::call("rgvs", "RemoveGrain", {aamask, int_list({20, 0})});
}

py::object warpmask(Context &ctx, py::object clip) {
    require_clip("warpmask", "clip", clip);
    if (bits_of(clip) != 16)
        clip = Depth(ctx, clip, py::int_(16));
    py::object edges = vs::call("tcanny", "TCanny", {clip, py::float_(1.5)},
                                {{"t_h", py::float_(18.0)}, {"t_l", py::float_(6.0)}, {"planes", int_list({0})}});
    return mt_expand_multi(ctx, edges, py::str("losange"), int_list({0}), py::int_(1), py::int_(1));
}

} // namespace orvo
