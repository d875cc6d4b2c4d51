#include "filters/detail.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "format/depth.h"
#include "masks/util.h"

namespace orvo {

namespace {

using masks::clips;
using masks::int_list;

using vs::raise;
using vs::truthy;

double real(const char *func, py::handle v, const char *name) { return vs::real_arg(func, v, name); }

py::list exprs(const std::string &plane0) {
    py::list out;
    out.append(plane0);
    out.append("");
    return out;
}

} // namespace

py::tuple fresp(Context &, py::object clip, py::object mask, py::object lowPassC) {
    py::object pref;
    if (!mask.is_none()) {
        py::object prehigh = vs::call("rgvs", "RemoveGrain", {clip, int_list({4, 0})});
        py::object prelow = vs::call("rgvs", "RemoveGrain", {clip, int_list({11, 0})});
        pref = vs::call("std", "MaskedMerge", {prelow, prehigh, mask, int_list({0, 1, 2}), py::bool_(true)});
    } else {
        pref = vs::call("rgvs", "RemoveGrain", {clip, int_list({11, 0})});
    }
    const bool chroma = truthy(lowPassC);
    py::list mode = chroma ? int_list({11, 11}) : int_list({11, 0});
    py::list planes = chroma ? int_list({0, 1, 2}) : int_list({0});
    py::object lowFre = vs::call("rgvs", "RemoveGrain", {vs::call("rgvs", "RemoveGrain", {pref, mode}), mode});
    py::object highFre = vs::call("std", "MakeDiff", {pref, lowFre, planes});
    lowFre = vs::call("std", "MakeDiff", {pref, highFre, planes});
    return py::make_tuple(highFre, lowFre);
}

std::vector<int64_t> mwenhance_table(int bits, double Strength, double Szrp8, double Spwr) {
    const char *func = "mwenhance";
    const double SdmpLo = 4, SdmpHi = 48, floor = 0;
    const double bpsMul8 = std::ldexp(1.0, bits - 8);
    const double ceil = std::ldexp(1.0, bits) - 1;
    const int64_t n = int64_t(1) << (bits - 1);
    if (Spwr == 0)
        raise(PyExc_ZeroDivisionError, std::string(func) + ": \"Spwr\" must not be 0");
    if (Szrp8 == 0)
        raise(PyExc_ZeroDivisionError, std::string(func) + ": \"Szrp8\" must not be 0");
    const double miSpwr = 1 / Spwr;
    const double Szrp = Szrp8 * bpsMul8;
    const double Szrp8Sqr = std::pow(Szrp8, 2.0);
    const double SzrpMulStrength = Szrp * Strength;
    const double Szrp8SqrPlusSdmpLo = Szrp8Sqr + SdmpLo;
    const bool SdmpHiEqual0 = SdmpHi == 0;
    const double Szrp8DivSdmpHiPower4Plus1 = SdmpHiEqual0 ? 1 : std::pow(Szrp8 / SdmpHi, 4.0) + 1;

    std::vector<int64_t> table(65536);
    for (int64_t x = 0; x < 65536; x++) {
        if (x == n) {
            table[size_t(x)] = x;
            continue;
        }
        const double diff = double(x - n);
        const double absDiff = std::fabs(diff);
        const double diff8 = diff / bpsMul8;
        const double absDiff8 = std::fabs(diff8);
        const double diff8Sqr = std::pow(diff8, 2.0);
        const double signMul = diff >= 0 ? 1 : -1;
        const double res1 = std::pow(absDiff / Szrp, miSpwr) * SzrpMulStrength * signMul;
        const double res2 = diff8Sqr * Szrp8SqrPlusSdmpLo / ((diff8Sqr + SdmpLo) * Szrp8Sqr);
        const double res3 = SdmpHiEqual0 ? 0 : std::pow(absDiff8 / SdmpHi, 4.0);
        const double enhanced = res1 * res2 * Szrp8DivSdmpHiPower4Plus1 / (1 + res3);
        // Ties to even under the default rounding mode.
        const double v = std::nearbyint(double(n) + enhanced);
        if (std::isnan(v))
            raise(PyExc_ValueError, std::string(func) + ": the table entry for " + std::to_string(x) +
                                        " is not a number (check Strength, Szrp8 and Spwr)");
        if (std::isinf(v))
            raise(PyExc_OverflowError, std::string(func) + ": the table entry for " + std::to_string(x) +
                                           " is infinite (check Strength, Szrp8 and Spwr)");
        table[size_t(x)] = int64_t(std::min(std::max(v, floor), ceil));
    }
    return table;
}

py::object mwenhance(Context &, py::object diffClip, py::object Strength, py::object Szrp8, py::object Spwr,
                     py::object Soft) {
    const char *func = "mwenhance";
    const int bits = vs::format_of(diffClip).bits;
    if (real(func, Strength, "Strength") <= 0)
        return diffClip;
    const std::vector<int64_t> table =
        mwenhance_table(bits, real(func, Strength, "Strength"), real(func, Szrp8, "Szrp8"), real(func, Spwr, "Spwr"));
    diffClip = vs::call("std", "Lut", {diffClip, int_list({0})}, {{"lut", masks::to_list(table)}});

    const double soft = real(func, Soft, "Soft");
    if (soft <= 0)
        return diffClip;
    py::object diffClipEhSoft = vs::call("rgvs", "RemoveGrain", {diffClip, int_list({19, 0})});
    if (soft < 1) {
        py::list weights;
        weights.append(py::int_(1) - Soft);
        weights.append(Soft);
        diffClipEhSoft = vs::call("std", "Merge", {diffClip, diffClipEhSoft, weights});
    }
    const std::string N = " " + std::to_string(int64_t(1) << (bits - 1)) + " ";
    // Per pixel the value closer to neutral, the enhanced one on ties.
    const std::string closer = "x " + N + " - abs y " + N + " - abs <= x y ?";
    return vs::call("std", "Expr", {clips({diffClip, diffClipEhSoft}), exprs(closer)});
}

py::object line_darken(Context &ctx, py::object clip, py::object amp, py::object limit, py::object clip8,
                       py::object thrs) {
    if (clip8.is_none())
        clip8 = Depth(ctx, clip, py::int_(8));
    if (vs::format_of(clip).bits != 16)
        clip = Depth(ctx, clip, py::int_(16));
    if (limit.is_none())
        limit = amp;
    py::object killline = vs::call(
        "std", "Minimum", {vs::call("std", "Maximum", {clip}, {{"planes", py::int_(0)}})}, {{"planes", py::int_(0)}});
    py::object ldiff = vs::call("std", "MakeDiff", {clip, killline}, {{"planes", py::int_(0)}});
    const std::string E = masks::format(
        "32768 x - {0} < 32768 32768 32768 x - 256 / 0.5 {1} * pow 3 {2} * min 256 * - ?", thrs, amp, limit);
    py::object darken = vs::call("warp", "AWarpSharp2", {vs::call("std", "Expr", {ldiff, exprs(E)})},
                                 {{"thresh", py::int_(56)}, {"planes", py::int_(0)}});
    py::object flt = vs::call("std", "MergeDiff", {clip, darken}, {{"planes", py::int_(0)}});
    py::object lmask =
        vs::call("std", "Expr", {clip8, exprs("x 32 - dup * 2 * 25000 +")}, {{"format", vs::attr("YUV420P16")}});
    return vs::call("std", "MaskedMerge", {flt, clip, lmask, py::int_(0)});
}

} // namespace orvo
