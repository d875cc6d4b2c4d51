#include "format/depth.h"

#include <climits>
#include <string>
#include <vector>

#include "format/quantization.h"

namespace orvo {

using quant::to_i64;
using quant::truthy;

namespace {

constexpr int kInteger = 0;
constexpr int kFloat = 1;

// The thin layer resolves namespaces on the global core only; the zimg entry
// points are looked up on whichever core zDepth was given.
py::object call_fn(const py::object &fn, py::object clip, const std::vector<vs::Kw> &kw) {
    return vs::call_object(fn, {clip}, kw);
}

// The standalone zimg plugin registers namespace "z"; which of its two
// conversion functions it offers.
struct ZPlugin {
    bool loaded = false, format = false, depth = false;
};

ZPlugin find_z_plugin(const py::object &core) {
    ZPlugin z;
    for (py::handle plugin : core.attr("plugins")()) {
        if (py::str(plugin.attr("namespace")).cast<std::string>() != "z")
            continue;
        z.loaded = true;
        for (py::handle f : plugin.attr("functions")()) {
            std::string name = py::str(f.attr("name"));
            z.format |= name == "Format";
            z.depth |= name == "Depth";
        }
    }
    return z;
}

int clamp_int(int64_t v) { return v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : int(v); }

} // namespace

py::object zdepth_on(py::object core, py::object clip, py::object sample, py::object depth, py::object range,
                     py::object range_in, py::object dither_type, py::object cpu_type, py::object prefer_props) {
    const std::string func = "zDepth";
    if (!vs::is_clip(clip))
        vs::type_error(func, ": \"clip\" must be a clip!");
    vs::Format in = quant::clip_format(clip, func);
    if (sample.is_none())
        sample = py::int_(in.sample_type);
    else if (!vs::is_int(sample))
        vs::type_error(func, ": \"sample\" must be an int!");
    if (depth.is_none())
        depth = py::int_(in.bits);
    else if (!vs::is_int(depth))
        vs::type_error(func, ": \"depth\" must be an int!");

    int out_id = vs::query_format(in.color_family, clamp_int(to_i64(sample)), clamp_int(to_i64(depth)), in.ssw,
                                  in.ssh);

    bool builtin_resizer = vs::has_attr(core, "resize");
    ZPlugin z = find_z_plugin(core);

    if (builtin_resizer) {
        // The resizer always lets frame properties override range_in. Without
        // prefer_props the argument is meant to win, so the input frames are
        // told the same range first.
        py::object src = clip;
        if (!truthy(prefer_props) && vs::is_int(range_in))
            src = vs::call("std", "SetFrameProp", {clip},
                           {{"prop", py::str("_Range")}, {"intval", py::int_(to_i64(range_in))}});
        return call_fn(core.attr("resize").attr("Bicubic"), src,
                       {{"format", py::int_(out_id)},
                        {"range", range},
                        {"range_in", range_in},
                        {"dither_type", dither_type}});
    }
    if (z.loaded && z.format)
        return call_fn(core.attr("z").attr("Format"), clip,
                       {{"format", py::int_(out_id)},
                        {"range", range},
                        {"range_in", range_in},
                        {"dither_type", dither_type},
                        {"cpu_type", cpu_type}});
    if (z.loaded && z.depth)
        return call_fn(core.attr("z").attr("Depth"), clip,
                       {{"dither", dither_type},
                        {"sample", sample},
                        {"depth", depth},
                        {"fullrange_in", range_in},
                        {"fullrange_out", range}});
    throw py::attribute_error(func + ": Available zimg not found!");
}

py::object zDepth(Context &ctx, py::object clip, py::object sample, py::object depth, py::object range,
                  py::object range_in, py::object dither_type, py::object cpu_type, py::object prefer_props) {
    return zdepth_on(ctx.core, clip, sample, depth, range, range_in, dither_type, cpu_type, prefer_props);
}

py::object Depth(Context &ctx, py::object input, py::object depth, py::object sample, py::object fulls,
                 py::object fulld, py::object dither, py::object useZ, py::object prefer_props, py::object ampo,
                 py::object ampn, py::object dyn, py::object staticnoise) {
    const std::string func = "Depth";
    const py::str func_name(func);
    if (!vs::is_clip(input))
        vs::type_error(func, ": \"input\" must be a clip!");
    py::object clip = input;
    // The COMPAT family no longer exists, so there is nothing to refuse here.
    vs::Format in = quant::clip_format(input, func);
    bool yuv_or_gray = in.color_family == vs::yuv_family() || in.color_family == vs::gray_family();
    int64_t sbits = in.bits;
    int s_type = in.sample_type;

    bool fs;
    if (fulls.is_none())
        fs = !yuv_or_gray;
    else if (!vs::is_int(fulls))
        vs::type_error(func, ": \"fulls\" must be a bool!");
    else
        fs = truthy(fulls);

    bool low_depth = false;
    int64_t dbits, depth_v = 0;
    if (depth.is_none()) {
        dbits = sbits;
    } else if (!vs::is_int(depth)) {
        vs::type_error(func, ": \"depth\" must be an int!");
    } else {
        depth_v = to_i64(depth);
        low_depth = depth_v < 8;
        dbits = low_depth ? 8 : depth_v;
    }

    int d_type;
    if (sample.is_none()) {
        if (depth.is_none()) {
            d_type = s_type;
            depth_v = dbits;
        } else {
            d_type = dbits >= 32 ? kFloat : kInteger;
        }
    } else {
        if (!vs::is_int(sample))
            vs::type_error(func, ": \"sample\" must be an int!");
        int64_t s = to_i64(sample);
        if (s != kInteger && s != kFloat)
            vs::value_error(func, ": \"sample\" must be either 0(vs.INTEGER) or 1(vs.FLOAT)!");
        d_type = int(s);
    }

    if (d_type == kInteger && (dbits < 1 || dbits > 16))
        vs::value_error(func, ": " + std::to_string(dbits) + "-bit integer output is not supported!");
    if (d_type == kFloat && dbits != 16 && dbits != 32)
        vs::value_error(func, ": " + std::to_string(dbits) + "-bit float output is not supported!");

    bool fd;
    if (fulld.is_none())
        fd = fs;
    else if (!vs::is_int(fulld))
        vs::type_error(func, ": \"fulld\" must be a bool!");
    else
        fd = truthy(fulld);

    const py::bool_ no(false);
    bool full = fd;
    if (low_depth) {
        // Compared before any normalisation, the way the caller wrote it.
        if (dither.equal(py::str("none")) || dither.equal(py::int_(1))) {
            py::object coded = _quantization_conversion(ctx, clip, py::int_(sbits), py::int_(depth_v),
                                                        py::int_(kInteger), py::bool_(fs), py::bool_(fd), no, no,
                                                        py::int_(8), py::int_(0), func_name);
            return _quantization_conversion(ctx, coded, py::int_(depth_v), py::int_(8), py::int_(kInteger),
                                            py::bool_(fd), py::bool_(fd), no, no, py::int_(8), py::int_(0),
                                            func_name);
        }
        // depth-bit codes x256 in 16 bits, so the engine below dithers them
        // down to depth-bit codes in an 8-bit container.
        clip = _quantization_conversion(ctx, clip, py::int_(sbits), py::int_(depth_v), py::int_(kInteger),
                                        py::bool_(fs), py::bool_(full), no, no, py::int_(16), py::int_(1), func_name);
        s_type = kInteger;
        sbits = 16;
        fs = fd = false;
    }

    bool use_z = false;
    if (!useZ.is_none()) {
        if (!vs::is_int(useZ))
            vs::type_error(func, ": \"useZ\" must be a bool!");
        use_z = truthy(useZ);
    }
    // fmtc handles neither 13/15-bit integers nor half floats.
    if ((s_type == kInteger && (sbits == 13 || sbits == 15)) || (d_type == kInteger && (dbits == 13 || dbits == 15)) ||
        (s_type == kFloat && sbits < 32) || (d_type == kFloat && dbits < 32))
        use_z = true;

    bool pp = false;
    if (!prefer_props.is_none()) {
        if (!vs::is_int(prefer_props))
            vs::type_error(func, ": \"prefer_props\" must be a bool!");
        pp = truthy(prefer_props);
    }

    if (!ampn.is_none() && !vs::is_number(ampn))
        vs::type_error(func, ": \"ampn\" must be an int or a float!");
    auto ampn_positive = [&] { return !ampn.is_none() && vs::to_num(ampn).f() > 0; };

    // One vocabulary per engine: names for zimg, dmode numbers for fmtc.
    std::string zname;
    int64_t dmode = 0;
    if (dither.is_none()) {
        bool plain = dbits == 32 || (dbits >= sbits && fd == fs && !fd);
        zname = plain ? "none" : "error_diffusion";
        dmode = plain ? 1 : 3;
    } else if (vs::is_int(dither)) {
        dmode = to_i64(dither);
        if (dmode < 0 || dmode > 7)
            vs::value_error(func, ": Unsupported \"dither\" specified!");
        zname = dmode == 0 ? "ordered" : dmode <= 2 ? (ampn_positive() ? "random" : "none") : "error_diffusion";
    } else if (PyUnicode_Check(dither.ptr())) {
        zname = py::str(dither.attr("lower")());
        if (zname == "none" || zname == "ordered" || zname == "error_diffusion") {
            dmode = zname == "ordered" ? 0 : zname == "none" ? 1 : 3;
        } else if (zname == "random") {
            if (ampn.is_none()) {
                if (!use_z)
                    ampn = py::int_(1);
                dmode = 1;
            } else {
                dmode = ampn_positive() ? 1 : 3;
            }
        } else {
            vs::value_error(func, ": Unsupported \"dither\" specified!");
        }
    } else {
        vs::type_error(func, ": \"dither\" must be an int or a str!");
    }

    if (!use_z) {
        if (ampo.is_none())
            ampo = dmode == 0 ? py::object(py::float_(1.5)) : py::object(py::int_(1));
        else if (!vs::is_number(ampo))
            vs::type_error(func, ": \"ampo\" must be an int or a float!");
    }

    if (d_type == s_type && dbits == sbits && (s_type == kFloat || (fd == fs && !pp)) && !low_depth)
        return clip;

    if (use_z) {
        clip = zDepth(ctx, clip, py::int_(d_type), py::int_(dbits), py::int_(fd ? 1 : 0), py::int_(fs ? 1 : 0),
                      py::str(zname), py::none(), py::bool_(pp));
    } else {
        clip = vs::call("fmtc", "bitdepth", {clip},
                        {{"bits", py::int_(dbits)},
                         {"flt", py::int_(d_type)},
                         {"fulls", py::int_(fs ? 1 : 0)},
                         {"fulld", py::int_(fd ? 1 : 0)},
                         {"dmode", py::int_(dmode)},
                         {"ampo", ampo},
                         {"ampn", ampn},
                         {"dyn", dyn},
                         {"staticnoise", staticnoise}});
    }

    if (low_depth)
        clip = _quantization_conversion(ctx, clip, py::int_(depth_v), py::int_(8), py::int_(kInteger),
                                        py::bool_(full), py::bool_(full), no, no, py::int_(8), py::int_(0), func_name);
    return clip;
}

} // namespace orvo
