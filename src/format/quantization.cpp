#include "format/quantization.h"

#include <climits>
#include <cmath>
#include <limits>

#include "format/plane.h"

namespace orvo {

namespace quant {

int64_t to_i64(py::handle obj) {
    int overflow = 0;
    long long v = PyLong_AsLongLongAndOverflow(obj.ptr(), &overflow);
    if (overflow)
        return overflow > 0 ? LLONG_MAX : LLONG_MIN;
    if (v == -1 && PyErr_Occurred())
        throw py::error_already_set();
    return v;
}

vs::Format clip_format(py::handle clip, const std::string &func) {
    // A variable format shows as None or as the undefined family (id 0).
    py::object fmt = clip.attr("format");
    if (fmt.is_none() || fmt.attr("id").cast<int64_t>() == 0)
        vs::value_error(func, ": clips of variable format are not supported!");
    return vs::format_of(clip);
}

} // namespace quant

using quant::to_i64;
using quant::truthy;

namespace {

constexpr int kInteger = 0;
constexpr int kFloat = 1;
// Integer code values are held as int64: depths beyond this would overflow.
constexpr int64_t kMaxIntegerDepth = 62;

// v at `depth` bits: shifted left above 8 bits, right (dropping low bits) below.
int64_t shift8(int64_t v, int64_t depth) { return depth >= 8 ? v << (depth - 8) : v >> (8 - depth); }

QuantParams table(int sample, int64_t depth, bool full, bool chroma) {
    QuantParams q;
    if (sample == kFloat) {
        q.floor = Num(chroma ? -0.5 : 0.0);
        q.neutral = Num(0.0);
        q.ceil = Num(chroma ? 0.5 : 1.0);
    } else {
        int64_t peak = (int64_t(1) << depth) - 1;
        q.floor = Num(full ? int64_t(0) : shift8(16, depth));
        q.neutral = chroma ? Num(shift8(128, depth)) : q.floor;
        q.ceil = Num(full ? peak : shift8(chroma ? 240 : 235, depth));
    }
    q.range = q.ceil - q.floor;
    return q;
}

} // namespace

QuantParams quantization_parameters(py::handle sample, py::handle depth, py::handle full, py::handle chroma,
                                    const std::string &func) {
    int64_t bits = 8;
    if (!depth.is_none()) {
        if (!vs::is_number(depth))
            vs::type_error(func, ": \"depth\" must be an int!");
        if (vs::to_num(depth) < Num(1))
            vs::value_error(func, ": \"depth\" should not be less than 1!");
    }
    bool is_full = full.is_none() ? true : truthy(full);
    bool is_chroma = chroma.is_none() ? false : truthy(chroma);
    // Compared the way the host compares, so 0.0 counts as the integer type.
    if (sample.is_none() || sample.equal(py::int_(kInteger))) {
        if (!depth.is_none()) {
            if (!vs::is_int(depth))
                vs::type_error(func, ": \"depth\" must be an int!");
            bits = to_i64(depth);
            if (bits > kMaxIntegerDepth)
                vs::value_error(func, ": \"depth\" of integer samples must not exceed " +
                                          std::to_string(kMaxIntegerDepth) + "!");
        }
        return table(kInteger, bits, is_full, is_chroma);
    }
    if (sample.equal(py::int_(kFloat)))
        return table(kFloat, 0, is_full, is_chroma);
    vs::value_error(func, ": Unsupported \"sample\" specified!");
}

py::dict _quantization_parameters(Context &, py::object sample, py::object depth, py::object full,
                                  py::object chroma, py::object funcName) {
    QuantParams q = quantization_parameters(sample, depth, full, chroma, py::str(funcName));
    py::dict out;
    out["floor"] = vs::from_num(q.floor);
    out["neutral"] = vs::from_num(q.neutral);
    out["ceil"] = vs::from_num(q.ceil);
    out["range"] = vs::from_num(q.range);
    return out;
}

namespace {

// Everything the expression generator reads, resolved.
struct Conversion {
    int s_type = kInteger, d_type = kInteger;
    int64_t depths = 8, depthd = 8;
    bool fulls = false, fulld = false, clamp = false;
    int d_bytes = 1;
    std::string func;
};

std::string gen_expr(const Conversion &c, bool chroma, bool mode1) {
    Num lower, upper;
    if (c.d_type == kInteger) {
        lower = Num(0);
        upper = Num((int64_t(1) << (8 * c.d_bytes)) - 1);
    } else {
        lower = Num(-std::numeric_limits<double>::infinity());
        upper = Num(std::numeric_limits<double>::infinity());
    }
    py::object chroma_obj = py::bool_(chroma);
    QuantParams s = quantization_parameters(py::int_(c.s_type), py::int_(c.depths), py::bool_(c.fulls), chroma_obj,
                                            c.func);
    QuantParams d = quantization_parameters(py::int_(c.d_type), py::int_(c.depthd), py::bool_(c.fulld), chroma_obj,
                                            c.func);
    Num gain = d.range / s.range;
    Num offset = chroma ? d.neutral - s.neutral * gain : d.floor - s.floor * gain;
    Num scale(1);
    if (mode1) {
        scale = Num(256);
        gain = gain * scale;
        offset = offset * scale;
    }
    if (gain == Num(1) && offset == Num(0) && !c.clamp)
        return "";
    std::string expr = " x ";
    if (gain != Num(1))
        expr += " " + gain.str() + " * ";
    if (offset != Num(0))
        expr += " " + offset.str() + " + ";
    if (c.clamp) {
        Num lo = d.floor * scale, hi = d.ceil * scale;
        if (lo > lower)
            expr += " " + lo.str() + " max ";
        if (hi < upper)
            expr += " " + hi.str() + " min ";
    }
    return expr;
}

} // namespace

py::object _quantization_conversion(Context &ctx, py::object clip, py::object depths, py::object depthd,
                                    py::object sample, py::object fulls, py::object fulld, py::object chroma,
                                    py::object clamp, py::object dbitPS, py::object mode, py::object funcName) {
    Conversion c;
    c.func = py::str(funcName);
    const std::string &func = c.func;

    if (!vs::is_clip(clip))
        vs::type_error(func, ": \"clip\" must be a clip!");
    // The COMPAT family no longer exists, so there is nothing to refuse here.
    vs::Format in = quant::clip_format(clip, func);
    bool is_yuv = in.color_family == vs::yuv_family();
    bool is_gray = in.color_family == vs::gray_family();
    c.s_type = in.sample_type;

    if (depths.is_none())
        c.depths = in.bits;
    else if (!vs::is_int(depths))
        vs::type_error(func, ": \"depths\" must be an int!");
    else
        c.depths = to_i64(depths);

    if (fulls.is_none())
        c.fulls = !(is_yuv || is_gray);
    else if (!vs::is_int(fulls))
        vs::type_error(func, ": \"fulls\" must be a bool!");
    else
        c.fulls = truthy(fulls);

    bool as_chroma = false;
    if (!chroma.is_none()) {
        if (!vs::is_int(chroma))
            vs::type_error(func, ": \"chroma\" must be a bool!");
        as_chroma = is_gray && truthy(chroma);
    }

    if (!depthd.is_none() && !vs::is_int(depthd))
        vs::type_error(func, ": \"depthd\" must be an int!");

    // Without depthd or dbitPS the checks below would read unset values. A
    // missing depthd is the source depth (or the given container's depth when
    // only the sample type is named); a missing dbitPS follows depthd. Both
    // are settled here, before the float choice and the output checks.
    if (!depthd.is_none())
        c.depthd = to_i64(depthd);
    else if (!sample.is_none() && vs::is_int(dbitPS))
        c.depthd = to_i64(dbitPS);
    else
        c.depthd = c.depths;
    bool dbits_known = dbitPS.is_none() || vs::is_int(dbitPS);
    int64_t dbits = dbitPS.is_none() ? (c.depthd < 8 ? 8 : c.depthd) : dbits_known ? to_i64(dbitPS) : 0;

    if (!sample.is_none()) {
        if (!vs::is_int(sample))
            vs::type_error(func, ": \"sample\" must be an int!");
        int64_t s = to_i64(sample);
        if (s != kInteger && s != kFloat)
            vs::value_error(func, ": \"sample\" must be either 0(vs.INTEGER) or 1(vs.FLOAT)!");
        c.d_type = int(s);
    } else if (depthd.is_none()) {
        c.d_type = c.s_type;
    } else {
        // A dbitPS of the wrong type is reported below; the choice is moot then.
        c.d_type = dbits_known && dbits >= 32 ? kFloat : kInteger;
    }

    if (dbits_known) {
        if (c.d_type == kInteger && (dbits < 1 || dbits > 16))
            vs::value_error(func, ": " + std::to_string(dbits) + "-bit integer output is not supported!");
        if (c.d_type == kFloat && dbits != 16 && dbits != 32)
            vs::value_error(func, ": " + std::to_string(dbits) + "-bit float output is not supported!");
    }

    if (fulld.is_none())
        c.fulld = c.fulls;
    else if (!vs::is_int(fulld))
        vs::type_error(func, ": \"fulld\" must be a bool!");
    else
        c.fulld = truthy(fulld);

    if (clamp.is_none())
        c.clamp = c.d_type == kInteger;
    else if (!vs::is_int(clamp))
        vs::type_error(func, ": \"clamp\" must be a bool!");
    else
        c.clamp = truthy(clamp);

    if (!dbits_known)
        vs::type_error(func, ": \"dbitPS\" must be an int!");

    bool mode1 = false;
    if (!mode.is_none()) {
        if (!vs::is_int(mode))
            vs::type_error(func, ": \"mode\" must be an int!");
        mode1 = to_i64(mode) == 1 && c.depthd < 8;
    }

    int out_id = vs::query_format(in.color_family, c.d_type, int(dbits), in.ssw, in.ssh);
    c.d_bytes = dbits <= 8 ? 1 : dbits <= 16 ? 2 : 4;

    std::string luma = gen_expr(c, false, mode1);
    std::string chroma_expr = gen_expr(c, true, mode1);

    // An empty expression copies the plane only when the container stays the
    // same; with another container the plane would be left undefined, so
    // the copy is spelled out.
    bool same_container = c.d_type == in.sample_type && dbits == in.bits;
    auto plane_expr = [&](const std::string &e) { return e.empty() && !same_container ? std::string("x") : e; };

    py::object expr;
    if (is_yuv) {
        py::list both;
        both.append(plane_expr(luma));
        both.append(plane_expr(chroma_expr));
        expr = both;
    } else if (is_gray && as_chroma) {
        expr = py::str(plane_expr(chroma_expr));
    } else {
        expr = py::str(plane_expr(luma));
    }

    py::object out = vs::call("std", "Expr", {clip, expr}, {{"format", py::int_(out_id)}});
    return SetColorSpace(ctx, out, py::none(), py::int_(c.fulld ? 0 : 1));
}

} // namespace orvo
