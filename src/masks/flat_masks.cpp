// Flat-area masks: the sharpening limit mask, the main gradient mask and the
// deband protection mask.
#include "format/depth.h"
#include "masks/masks.h"
#include "masks/util.h"
#include "ops/morphology.h"
#include "ops/operators.h"

namespace orvo {

using namespace masks;

std::vector<int64_t> band_table(int64_t D1, int64_t D2, int64_t D3, int64_t D4) {
    // Real-valued ramps truncated to ints; operands stay exact in a double.
    std::vector<int64_t> t(65536);
    for (int64_t x = 0; x < 65536; x++) {
        double v;
        if (x <= D1)
            v = 0;
        else if (x <= D2)
            v = double((x - D1) * 65535) / double(D2 - D1);
        else if (x < D3)
            v = 65535;
        else if (x <= D4)
            v = double((D4 - x) * 65535) / double(D4 - D3);
        else
            v = 0;
        t[size_t(x)] = int64_t(v);
    }
    return t;
}

std::vector<int64_t> highlight_table(double high, double low) {
    std::vector<int64_t> t(65536);
    for (int x = 0; x < 65536; x++) {
        if (x >= high)
            t[size_t(x)] = 65535;
        else if (x >= low)
            t[size_t(x)] = int64_t((double(x) - low) * 65535 / (high - low));
        else
            t[size_t(x)] = 0;
    }
    return t;
}

namespace {

py::object edges(py::object clip, py::object sigma, py::object t_h, py::object t_l, py::object planes) {
    return vs::call("tcanny", "TCanny", {clip, sigma}, {{"t_h", t_h}, {"t_l", t_l}, {"planes", planes}});
}

// Luma: diamond dilation then square erosion. Chroma: the same at its own
// radius, brought up to the frame size, then one more erosion.
std::pair<py::object, py::object> close_masks(Context &ctx, py::object emaskY, py::object emaskC, py::object swh1,
                                              py::object swh2, py::object swh3, py::object width,
                                              py::object height) {
    py::list all = default_planes();
    emaskY = mt_inpand_multi(ctx, mt_expand_multi(ctx, emaskY, py::str("losange"), all, swh1, swh1),
                             py::str("rectangle"), all, swh2, swh2);
    emaskC = mt_inpand_multi(ctx, mt_expand_multi(ctx, emaskC, py::str("losange"), all, swh3, swh3),
                             py::str("rectangle"), all, swh3, swh3);
    emaskC = vs::call("fmtc", "resample", {emaskC, width, height, py::float_(0.25), py::int_(0)},
                      {{"kernel", py::str("bilinear")}, {"fulls", py::bool_(true)}});
    emaskC = vs::call("std", "Minimum", {emaskC});
    return {emaskY, emaskC};
}

int64_t corner(const char *name, py::object d) {
    // Integers only, as the host's shift demands; a float fails right here.
    py::object shifted = d << py::int_(8);
    const int64_t limit = int64_t(1) << 40;
    if (shifted < py::int_(-limit) || shifted > py::int_(limit))
        vs::value_error("orvodbmask", std::string(": \"") + name + "\" is out of range: " + text(d));
    return shifted.cast<int64_t>();
}

} // namespace

py::object flatmask(Context &ctx, py::object flaten, py::object coreed, py::object d_gamma, py::object swh1,
                    py::object swh2, py::object swh3, py::object s0, py::object th0, py::object tl0, py::object sf1,
                    py::object thf1, py::object tlf1, py::object sc1, py::object thc1, py::object tlc1) {
    require_clip("flatmask", "flaten", flaten);
    require_clip("flatmask", "coreed", coreed);
    py::object fly = gray_plane(flaten, 0);
    py::object gmed = Levels(ctx, fly, d_gamma);
    py::object emask0 = edges(gmed, s0, th0, tl0, py::int_(0));
    py::object emask1f = edges(flaten, sf1, thf1, tlf1, int_list({0, 1, 2}));
    py::object emask1c = edges(coreed, sc1, thc1, tlc1, int_list({0, 1, 2}));

    py::object emaskY = expr(clips({emask0, gray_plane(emask1f, 0), gray_plane(emask1c, 0)}), "x y max z max");
    py::object emaskC = expr(clips({gray_plane(emask1f, 1), gray_plane(emask1c, 1), gray_plane(emask1f, 2),
                                    gray_plane(emask1c, 2)}),
                             "x y max z max a max");
    auto [y, c] = close_masks(ctx, emaskY, emaskC, swh1, swh2, swh3, width_of(flaten), height_of(flaten));
    py::object nrmask = Max(ctx, y, c);
    return mt_inflate_multi(ctx, nrmask, default_planes(), py::int_(2));
}

py::object orvomainmask(Context &, py::object clip, py::object sigma, py::object high, py::object low) {
    require_clip("orvomainmask", "clip", clip);
    const double hi = py::cast<double>(py::float_(high)), lo = py::cast<double>(py::float_(low));
    py::object res = vs::call("tcanny", "TCanny", {clip},
                              {{"mode", py::int_(1)},
                               {"sigma", sigma},
                               {"t_h", py::int_(6)},
                               {"t_l", py::int_(2)},
                               {"planes", py::int_(0)},
                               {"op", py::int_(2)}});
    res = vs::call("std", "Lut", {res}, {{"planes", py::int_(0)}, {"lut", to_list(highlight_table(hi, lo))}});
    res = vs::call("std", "Maximum", {res}, {{"planes", py::int_(0)}});
    res = vs::call("std", "Minimum", {res}, {{"planes", py::int_(0)}});
    return vs::call("rgvs", "RemoveGrain", {res, int_list({20})});
}

py::object orvodbmask(Context &ctx, py::object clip, py::object clip16y, py::object d_gamma, py::object /*pre*/,
                      py::object d1, py::object d2, py::object d3, py::object d4, py::object s0, py::object th0,
                      py::object tl0, py::object s1, py::object th1, py::object tl1, py::object s2, py::object th2,
                      py::object tl2, py::object swh1, py::object swh2, py::object swh3, py::object inflate,
                      py::object darkenh) {
    require_clip("orvodbmask", "clip", clip);
    if (!clip16y.is_none())
        require_clip("orvodbmask", "clip16y", clip16y);
    if (bits_of(clip) != 16)
        clip = Depth(ctx, clip, py::int_(16));
    const std::vector<int64_t> lut_k =
        band_table(corner("d1", d1), corner("d2", d2), corner("d3", d3), corner("d4", d4));
    if (clip16y.is_none())
        clip16y = gray_plane(clip, 0);
    py::object lmask = vs::call("std", "Lut", {clip16y}, {{"planes", py::int_(0)}, {"lut", to_list(lut_k)}});

    // The gamma pass is built either way, so a bad d_gamma fails as before;
    // without darkenh nothing refers to it and it drops out of the graph.
    py::object gmed = Levels(ctx, clip16y, d_gamma);
    py::object emask0 = gray_plane(edges(gmed, s0, th0, tl0, py::int_(0)), 0);
    py::object emask1 = edges(clip, s1, th1, tl1, int_list({0, 1, 2}));
    if (py::bool_(darkenh)) {
        py::object emask1_s = Max(ctx, gray_plane(emask1, 0), emask0);
        emask1 = vs::call("std", "ShufflePlanes", {clips({emask1_s, emask1}), int_list({0, 1, 2}), vs::attr("YUV")});
    }
    py::object emask2 = edges(clip, s2, th2, tl2, int_list({0, 1, 2}));
    // Inside the mid-tone band the less sensitive edges count.
    py::object emask =
        vs::call("std", "MaskedMerge", {emask1, emask2, lmask, int_list({0, 1, 2}), py::bool_(true)});

    py::object emaskY = gray_plane(emask, 0);
    py::object emaskC = Max(ctx, gray_plane(emask, 1), gray_plane(emask, 2));
    auto [y, c] = close_masks(ctx, emaskY, emaskC, swh1, swh2, swh3, width_of(clip), height_of(clip));
    py::object nrmask = Max(ctx, y, c);
    if (py::bool_(inflate))
        nrmask = mt_inflate_multi(ctx, nrmask, default_planes(), py::int_(2));
    return nrmask;
}

} // namespace orvo
