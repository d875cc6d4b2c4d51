#include "filters/orvo3d.h"

#include "format/depth.h"

namespace orvo {

int bm_range_for(int width, int height) {
    if (width > 1280 && height > 720)
        return 6;
    if (width <= 960 && height <= 540)
        return 4;
    return 5;
}

namespace {

py::list list3(py::object a, py::object b, py::object c) {
    py::list l;
    l.append(a), l.append(b), l.append(c);
    return l;
}

// The Bicubic conversions of this filter: 709, limited, chroma b=0 c=0.5
// unless `plain` (the chroma-resolution path uses the resizer's defaults).
py::object bicubic(py::object clip, int format, bool to_rgb, bool plain = false) {
    std::vector<vs::Kw> kw = {{"format", py::int_(format)}};
    kw.push_back({to_rgb ? "matrix_in_s" : "matrix_s", py::str("709")});
    if (!plain) {
        kw.push_back({"filter_param_a_uv", py::int_(0)});
        kw.push_back({"filter_param_b_uv", py::float_(0.5)});
    }
    kw.push_back({to_rgb ? "range_in_s" : "range_s", py::str("limited")});
    return vs::call("resize", "Bicubic", {clip}, kw);
}

// Basic then Final estimate of bm3d on an OPP clip.
py::object bm3d_pass(py::object opp, py::list sigma, py::object profile, int bm_range) {
    std::vector<vs::Kw> kw = {{"matrix", py::int_(100)}, {"sigma", sigma}, {"profile", profile},
                              {"bm_range", py::int_(bm_range)}};
    py::object basic = vs::call("bm3d", "Basic", {opp}, kw);
    return vs::call("bm3d", "Final", {opp, basic}, kw);
}

} // namespace

py::object orvo3d(Context &ctx, py::object clip, py::object nrluma, py::object nrchroma, py::object profile,
                  py::object d, py::object a, py::object s, py::object device_type, py::object device_id) {
    if (!profile.is_none() && !py::isinstance<py::str>(profile))
        throw py::type_error("orvo3d() argument 'profile' must be str or None, not " +
                             py::str(py::type::handle_of(profile).attr("__name__")).cast<std::string>());
    vs::Format sformat = vs::format_of(clip);
    int bit_depth = sformat.bits;
    int width = clip.attr("width").cast<int>(), height = clip.attr("height").cast<int>();
    const int RGBS = vs::attr("RGBS").cast<int>(), GRAYS = vs::attr("GRAYS").cast<int>();

    py::object clipS;
    if (sformat.color_family == vs::rgb_family())
        clipS = bit_depth == 32 ? clip : Depth(ctx, clip, py::int_(32));
    else
        clipS = bicubic(clip, RGBS, true);
    int bm_range = bm_range_for(width, height);

    py::object flt;
    if (sformat.color_family == vs::rgb_family() || sformat.color_family == vs::gray_family()) {
        py::object opp = vs::call("bm3d", "RGB2OPP", {clipS});
        flt = bm3d_pass(opp, list3(nrluma, nrchroma, nrchroma), profile, bm_range);
        flt = vs::call("bm3d", "OPP2RGB", {flt});
        if (sformat.color_family == vs::gray_family())
            flt = bicubic(flt, GRAYS, false);
    } else if (sformat.color_family == vs::yuv_family()) {
        py::object opp_luma = vs::sibling("ToYUV", clipS, {{"matrix", py::str("OPP")}});
        py::object flt_luma = bm3d_pass(opp_luma, list3(nrluma, py::int_(0), py::int_(0)), profile, bm_range);
        flt_luma = vs::sibling("ToRGB", flt_luma, {{"matrix", py::str("OPP")}});
        py::object nry = bicubic(flt_luma, GRAYS, false);
        py::object tmp_clip = bit_depth == 16 ? clip : Depth(ctx, clip, py::int_(16));
        py::object nruv;
        if (nrchroma < py::float_(1.6)) {
            nruv = vs::call("knlm", "KNLMeansCL", {tmp_clip},
                            {{"d", d}, {"a", a}, {"s", s}, {"h", nrchroma}, {"wmode", py::int_(2)},
                             {"device_type", device_type}, {"device_id", device_id}, {"channels", py::str("UV")}});
        } else {
            PyObject *x = PyNumber_Subtract(nrchroma.ptr(), py::float_(1.6).ptr());
            if (!x)
                throw py::error_already_set();
            py::object sigma_c = py::reinterpret_steal<py::object>(x) / py::int_(2) + py::float_(1.0);
            sigma_c = py::module_::import("builtins").attr("round")(sigma_c, 2);
            int downrate_w = 1 << sformat.ssw, downrate_h = 1 << sformat.ssh;
            py::object down = vs::call(
                "fmtc", "resample", {tmp_clip, py::int_(width / downrate_w), py::int_(height / downrate_h)},
                {{"sx", py::float_(-0.5)}, {"css", py::str("444")}, {"planes", list3(py::int_(3), py::int_(2), py::int_(2))}});
            py::object rgb_chroma = vs::call("resize", "Bicubic", {down},
                                             {{"format", py::int_(RGBS)}, {"matrix_in_s", py::str("709")},
                                              {"range_in_s", py::str("limited")}});
            py::object opp_chroma = vs::sibling("ToYUV", rgb_chroma, {{"matrix", py::str("OPP")}});
            py::object flt_chroma =
                bm3d_pass(opp_chroma, list3(py::int_(0), sigma_c, sigma_c), profile, bm_range - 2);
            flt_chroma = vs::sibling("ToRGB", flt_chroma, {{"matrix", py::str("OPP")}});
            nruv = bicubic(flt_chroma, vs::attr("YUV444P16").cast<int>(), false);
        }
        if (bit_depth == 32)
            nruv = Depth(ctx, nruv, py::int_(32));
        else
            nry = Depth(ctx, nry, py::int_(16));
        py::list clips;
        clips.append(nry), clips.append(nruv);
        flt = vs::call("std", "ShufflePlanes", {clips, list3(py::int_(0), py::int_(1), py::int_(2)), vs::attr("YUV")});
    } else {
        throw py::value_error("orvo3d: only RGB, GRAY and YUV clips are supported");
    }
    if (vs::format_of(flt).bits != bit_depth)
        flt = Depth(ctx, flt, py::int_(bit_depth));
    return flt;
}

} // namespace orvo
