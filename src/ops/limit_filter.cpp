#include "ops/limit_filter.h"

#include <algorithm>
#include <cmath>

namespace orvo {

namespace {

const char *const kFunc = "LimitFilter";

Num threshold(py::object value, const Num &fallback, const char *name, int low) {
    if (value.is_none())
        return fallback;
    if (!vs::is_number(value))
        vs::type_error(kFunc, std::string(": \"") + name + "\" must be an int or a float!");
    Num v = vs::to_num(value);
    if (v < Num(low))
        vs::value_error(kFunc, std::string(":valid range of \"") + name + "\" is [" + std::to_string(low) + ", +inf)");
    return v;
}

bool same_size(py::handle a, py::handle b) {
    return py::cast<int64_t>(a.attr("width")) == py::cast<int64_t>(b.attr("width")) &&
           py::cast<int64_t>(a.attr("height")) == py::cast<int64_t>(b.attr("height"));
}

py::list plane_list(std::initializer_list<int> planes) {
    py::list out;
    for (int p : planes)
        out.append(p);
    return out;
}

} // namespace

std::string _limit_filter_expr(bool defref, const Num &thr_in, const Num &elast, const Num &largen_in,
                               const Num &value_range) {
    const std::string flt = " x ", src = " y ", ref = defref ? " z " : src;
    const std::string dif = " " + flt + " " + src + " - ";
    const std::string dif_abs = " " + flt + " " + ref + " - " + " abs ";
    const Num thr = thr_in * value_range / Num(255);
    const Num largen_thr = largen_in * value_range / Num(255);

    if (thr <= Num(0) && largen_thr <= Num(0))
        return " " + src + " ";
    if (thr >= value_range && largen_thr >= value_range)
        return "";
    // Keep flt within t, src beyond: the limit without a soft zone.
    auto hard = [&](const Num &t) { return " " + dif_abs + " " + t.str() + " <= " + flt + " " + src + " ? "; };
    if (elast <= Num(1))
        return hard(thr);
    auto soft = [&](const Num &thr_1) {
        const Num thr_2 = thr_1 * elast;
        // A zero threshold leaves no soft zone (thr_2 == thr_1): every change
        // of that direction is dropped, as the table path does.
        if (thr_2 - thr_1 == Num(0))
            return hard(thr_1);
        const Num thr_slope = Num(1) / (thr_2 - thr_1);
        return " " + dif_abs + " " + thr_1.str() + " <= " + flt + " " + dif_abs + " " + thr_2.str() + " >= " + src +
               " " + " " + src + " " + dif + " " + thr_2.str() + " " + dif_abs + " - * " + thr_slope.str() + " * + " +
               " ? ? ";
    };
    std::string expr = soft(thr);
    if (largen_thr != thr)
        expr = " " + flt + " " + ref + " > " + soft(largen_thr) + " " + expr + " ? ";
    return expr;
}

std::vector<int64_t> limit_diff_table(int bits, const Num &thr_in, const Num &elast_in, const Num &largen_in) {
    const int64_t neutral = int64_t(1) << (bits - 1);
    const int64_t peak = (int64_t(1) << bits) - 1;
    const double thr = (thr_in * Num(peak) / Num(255)).f();
    const double largen_thr = (largen_in * Num(peak) / Num(255)).f();
    const double elast = elast_in.f();
    std::vector<int64_t> t(size_t(peak) + 1, neutral);
    if (thr >= double(peak) / 2 && largen_thr >= double(peak) / 2)
        return t;
    for (int64_t x = 0; x <= peak; x++) {
        const int64_t dif = x - neutral;
        const double mag = double(dif < 0 ? -dif : dif);
        const double thr_1 = dif > 0 ? largen_thr : thr;
        if (elast <= 1) {
            t[size_t(x)] = mag <= thr_1 ? neutral : x;
            continue;
        }
        const double thr_2 = thr_1 * elast;
        if (mag <= thr_1) {
            t[size_t(x)] = neutral;
        } else if (mag >= thr_2) {
            t[size_t(x)] = x;
        } else {
            const double thr_slope = 1 / (thr_2 - thr_1);
            // Ties to even under the default rounding mode.
            const double v = std::nearbyint(double(dif) * (mag - thr_1) * thr_slope + double(neutral));
            if (!(v >= 0 && v <= double(peak)))
                vs::value_error("_limit_diff_lut", ": thresholds and elast must be finite numbers, got thr " +
                                                       thr_in.str() + ", elast " + elast_in.str() + ", largen_thr " +
                                                       largen_in.str() + "!");
            t[size_t(x)] = int64_t(v);
        }
    }
    return t;
}

py::object _limit_diff_lut(Context &, py::object diff, py::object thr, py::object elast, py::object largen_thr,
                           py::object planes) {
    const std::string func = "_limit_diff_lut";
    if (!vs::is_clip(diff))
        vs::type_error(func, ": \"diff\" must be a clip!");
    const vs::Format f = vs::format_of(diff);
    if (f.sample_type != 0)
        vs::value_error(func, ": \"diff\" must be of integer format!");
    if (f.bits > 16)
        vs::value_error(func, ": \"diff\" must be of integer format up to 16 bits, not " + f.name + "!");
    const Num t = vs::to_num(thr), e = vs::to_num(elast), l = vs::to_num(largen_thr);
    const Num peak((int64_t(1) << f.bits) - 1);
    if (t * peak / Num(255) <= Num(0) && l * peak / Num(255) <= Num(0))
        return diff;
    const std::vector<int64_t> table = limit_diff_table(f.bits, t, e, l);
    py::list lut(table.size());
    for (size_t i = 0; i < table.size(); i++)
        lut[i] = py::int_(table[i]);
    return vs::call("std", "Lut", {diff}, {{"planes", planes}, {"lut", lut}});
}

py::object LimitFilter(Context &ctx, py::object flt, py::object src, py::object ref, py::object thr_obj,
                       py::object elast_obj, py::object brighten_obj, py::object thrc_obj, py::object force_obj,
                       py::object planes) {
    if (!vs::is_clip(flt))
        vs::type_error(kFunc, ": \"flt\" must be a clip!");
    if (!vs::is_clip(src))
        vs::type_error(kFunc, ": \"src\" must be a clip!");
    const bool has_ref = !ref.is_none();
    if (has_ref && !vs::is_clip(ref))
        vs::type_error(kFunc, ": \"ref\" must be a clip!");
    const vs::Format f = vs::format_of(flt);
    if (vs::format_of(src).id != f.id)
        vs::value_error(kFunc, ": \"flt\" and \"src\" must be of the same format!");
    if (!same_size(flt, src))
        vs::value_error(kFunc, ": \"flt\" and \"src\" must be of the same width and height!");
    if (has_ref) {
        if (vs::format_of(ref).id != f.id)
            vs::value_error(kFunc, ": \"flt\" and \"ref\" must be of the same format!");
        if (!same_size(flt, ref))
            vs::value_error(kFunc, ": \"flt\" and \"ref\" must be of the same width and height!");
    }
    // YCoCg is YUV tagged by _Matrix now, so one family covers both.
    const bool yuv = f.color_family == vs::yuv_family();
    const bool is_integer = f.sample_type == 0;

    const Num thr = threshold(thr_obj, Num(1.0), "thr", 0);
    const Num elast = threshold(elast_obj, Num(2.0), "elast", 1);
    const Num brighten_thr = threshold(brighten_obj, thr, "brighten_thr", 0);
    const Num thrc = threshold(thrc_obj, thr, "thrc", 0);
    bool force_expr = true;
    if (!force_obj.is_none()) {
        if (!vs::is_int(force_obj))
            vs::type_error(kFunc, ": \"force_expr\" must be a bool!");
        force_expr = py::cast<int64_t>(force_obj) != 0;
    }
    if (has_ref || !is_integer)
        force_expr = true;

    const int64_t max_planes = py::cast<int64_t>(ctx.VSMaxPlaneNum);
    // Room for every plane of the clip even when VSMaxPlaneNum is smaller.
    std::vector<int> process(size_t(std::max<int64_t>(max_planes, f.num_planes)), 0);
    auto set_plane = [&](py::handle p) {
        if (!vs::is_int(p))
            vs::type_error(kFunc, ": \"planes\" must be a (list of) int!");
        const int64_t i = py::cast<int64_t>(p);
        if (i < 0 || i >= max_planes)
            vs::value_error(kFunc, ": valid range of \"planes\" is [0, " + std::to_string(max_planes) + ")!");
        process[size_t(i)] = 1;
    };
    if (planes.is_none())
        std::fill(process.begin(), process.end(), 1);
    else if (vs::is_int(planes))
        set_plane(planes);
    else if (PyList_Check(planes.ptr()))
        for (py::handle p : py::reinterpret_borrow<py::list>(planes))
            set_plane(p);
    else
        vs::type_error(kFunc, ": \"planes\" must be a (list of) int!");

    if (thr <= Num(0) && brighten_thr <= Num(0) && (!yuv || thrc <= Num(0)))
        return src;
    if (thr >= Num(255) && brighten_thr >= Num(255) && (!yuv || thrc >= Num(255)))
        return flt;
    if (thr >= Num(128) || brighten_thr >= Num(128))
        force_expr = true;

    if (force_expr) {
        const Num value_range = is_integer ? Num((int64_t(1) << f.bits) - 1) : Num(1);
        const std::string luma = _limit_filter_expr(has_ref, thr, elast, brighten_thr, value_range);
        const std::string chroma = _limit_filter_expr(has_ref, thrc, elast, thrc, value_range);
        py::list exprs;
        for (int i = 0; i < f.num_planes; i++)
            exprs.append(!process[size_t(i)] ? std::string() : (i > 0 && yuv) ? chroma : luma);
        py::list clips;
        clips.append(flt);
        clips.append(src);
        if (has_ref)
            clips.append(ref);
        return vs::call("std", "Expr", {clips, exprs});
    }

    py::object diff = vs::call("std", "MakeDiff", {flt, src}, {{"planes", planes}});
    const py::object t = vs::from_num(thr), e = vs::from_num(elast), b = vs::from_num(brighten_thr);
    if (yuv) {
        if (process[0])
            diff = _limit_diff_lut(ctx, diff, t, e, b, plane_list({0}));
        py::list chroma_planes;
        for (int i = 1; i < 3; i++)
            if (process[size_t(i)])
                chroma_planes.append(i);
        if (!chroma_planes.empty()) {
            const py::object c = vs::from_num(thrc);
            diff = _limit_diff_lut(ctx, diff, c, e, c, chroma_planes);
        }
    } else {
        diff = _limit_diff_lut(ctx, diff, t, e, b, planes);
    }
    return vs::call("std", "MakeDiff", {flt, diff}, {{"planes", planes}});
}

} // namespace orvo
