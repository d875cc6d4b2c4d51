// Line mask of the luma and chroma edge mask.
#include "format/depth.h"
#include "masks/masks.h"
#include "masks/util.h"
#include "ops/morphology.h"
#include "ops/operators.h"
#include "tools/check.h"

namespace orvo {

using namespace masks;

std::vector<int64_t> chroma_stretch_table() {
    // The table's own corners (412 and a factor of 2) are fixed; the builder's
    // lowlimit1 and delta arguments never reach it.
    const int64_t lowlimit1 = 412, delta = 2;
    std::vector<int64_t> t(1024);
    for (int64_t x = 0; x < 1024; x++)
        t[size_t(x)] = x <= lowlimit1 ? 0 : delta * x > 1023 ? 1023 : delta * x;
    return t;
}

py::object gammaed_lmask2(Context &ctx, py::object clip, py::object gamma, py::object c1, py::object c2) {
    require_clip("gammaed_lmask2", "clip", clip);
    if (vs::format_of(clip).color_family != vs::gray_family())
        clip = gray_plane(clip, 0);
    if (bits_of(clip) != 16)
        clip = Depth(ctx, clip, py::int_(16));

    // How much a gamma change moves each pixel, amplified, then its gradient.
    py::object invert = diff(ctx, Levels(ctx, clip, gamma), clip, py::int_(25));
    py::object gmask =
        vs::call("tcanny", "TCanny", {invert}, {{"sigma", py::int_(0)}, {"mode", py::int_(1)}, {"op", py::int_(2)}});
    py::object dsc1 = vs::call("rgvs", "RemoveGrain", {gmask, py::int_(20)});
    py::object flt1 = expr(clips({dsc1, gmask}), "x " + text(c1) + " < 0 y ?");

    // Regions that survive a cross erosion, grown back over flt1.
    py::object eroded = vs::call("std", "Minimum", {flt1}, {{"coordinates", cross()}});
    py::object o_l = vs::call("misc", "Hysteresis", {eroded, flt1});
    py::object dsc2 = vs::call("std", "Minimum", {vs::call("std", "Maximum", {flt1})});
    py::object flted = expr(clips({dsc2, o_l}), "y 65535 = x 0 ?");
    flted = vs::call("rgvs", "RemoveGrain", {flted, py::int_(20)});
    flted = vs::call("rgvs", "RemoveGrain", {flted, py::int_(20)});

    // %d in the host's own formatting: a fractional c2 is cut to its integer part.
    std::string cut = py::str("x %d < 0 x ?").attr("__mod__")(c2).cast<std::string>();
    return expr(clips({flted}), cut);
}

namespace {

// Deflated input with the input's own detail (input minus its blur) added back.
py::object soften_keep_detail(Context &ctx, py::object clip, py::object radius, py::object blursigma) {
    py::object de = mt_deflate_multi(ctx, clip, int_list({0}), radius);
    py::object bl = vs::call("tcanny", "TCanny", {clip, blursigma}, {{"mode", py::int_(-1)}});
    py::object di = vs::call("std", "MakeDiff", {clip, bl});
    return vs::call("std", "MergeDiff", {de, di});
}

} // namespace

py::object chromamask2(Context &ctx, py::object clip, py::object sigma, py::object t_h, py::object t_l,
                       py::object plimitY, py::object plimitC, py::object /*lowlimit1*/, py::object lowlimit2,
                       py::object lowlimit3, py::object /*delta*/, py::object radius, py::object blursigma) {
    require_clip("chromamask2", "clip", clip);
    if (bits_of(clip) != 10)
        clip = Depth(ctx, clip, py::int_(10));
    py::object width = width_of(clip), height = height_of(clip);

    py::object maskg = vs::call("tcanny", "TCanny", {clip},
                                {{"mode", py::int_(1)},
                                 {"sigma", sigma},
                                 {"t_h", t_h},
                                 {"t_l", t_l},
                                 {"planes", int_list({0, 1, 2})},
                                 {"op", py::int_(2)}});
    auto plane = [&](int p) {
        return vs::call("std", "ShufflePlanes", {maskg}, {{"planes", int_list({p})}, {"colorfamily", vs::attr("GRAY")}});
    };
    py::object maskA = plane(0);
    py::object maskB =
        soften_keep_detail(ctx, vs::call("resize", "Spline16", {plane(1), width, height}), radius, blursigma);
    py::object maskC =
        soften_keep_detail(ctx, vs::call("resize", "Spline16", {plane(2), width, height}), radius, blursigma);

    py::object clipplus =
        expr(clips({maskB, maskC, maskA}), format("x {0} > 1023 y {0} > 1023 z {1} > 1023 0 ? ? ?", plimitC, plimitY));
    py::object dsc1 = vs::call("rgvs", "RemoveGrain", {clipplus, py::int_(20)});
    py::object flt1 = expr(clips({dsc1, clipplus}), "x " + text(lowlimit2) + " < 0 y ?");

    // Mean of the 24 neighbours, the pixel itself left out.
    py::list ring;
    for (int i = 0; i < 25; i++)
        ring.append(i == 12 ? 0 : 1);
    py::object dsc2 = vs::call("std", "Convolution", {flt1}, {{"matrix", ring}});
    py::object flt2 = expr(clips({dsc2, flt1}), "x " + text(lowlimit3) + " < 0 y ?");
    flt2 = vs::call("rgvs", "RemoveGrain", {flt2, py::int_(20)});
    flt2 = vs::call("rgvs", "RemoveGrain", {flt2, py::int_(20)});
    flt2 = vs::call("std", "Lut", {flt2}, {{"lut", to_list(chroma_stretch_table())}});

    py::object dsc3 = vs::call("std", "Minimum", {flt2}, {{"coordinates", cross()}});
    py::object flted = vs::call("misc", "Hysteresis", {dsc3, flt2});
    return vs::call("std", "ShufflePlanes", {clips({flted, clip}), int_list({0, 1, 2}), vs::attr("YUV")});
}

} // namespace orvo
