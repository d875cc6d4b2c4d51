// `sped` to `res`: the second denoise pass, anti-aliasing and edge
// enhancement, text protection, deband, dering, line darkening and warp.
// Stages that only a switch needs are built only when it is on.
#include "filters/antialias.h"
#include "filters/deband.h"
#include "filters/dering.h"
#include "filters/detail.h"
#include "filters/orvo3d.h"
#include "format/depth.h"
#include "masks/masks.h"
#include "ops/operators.h"
#include "pipeline/chain.h"

namespace orvo {

using namespace chain;
using vs::truthy;

py::object second_half(const ContextPtr &ctxp, const Options &o, const FirstHalf &h) {
    Context &ctx = *ctxp;
    const py::object one = py::int_(1);

    // Second denoise, anti-aliasing and edge enhancement.
    py::object rclip = orvo3d(ctx, h.sped, o.hy, o.hc, py::str("fast"), o.d, o.a, o.s, o.device_type, o.device_id);
    py::object rclip8 = Depth(ctx, rclip, py::int_(8));
    py::object aamask = gray(vcbaamask(ctx, rclip8));
    py::object ee_mask = gray(eemask(ctx, rclip8));
    py::object aaclip = fullaa(ctx, rclip, o.aakernel, o.cycle);
    py::object aaed = masked_merge(rclip, aaclip, aamask, vs::int_list({0, 1, 2}), one);
    py::object blur = vs::call("tcanny", "TCanny", {aaed}, {{"sigma", o.eesigma}, {"mode", py::int_(-1)}});
    py::object eeed = masked_merge(aaed, merge_diff(aaed, make_diff(aaed, blur)), ee_mask, vs::int_list({0, 1, 2}), one);
    if (truthy(o.Text_Protect))
        eeed = masked_merge(eeed, rclip, textmask(ctx, h.nr16), vs::int_list({0, 1, 2}), one);

    // Frequency split and deband of the low frequencies.
    py::object dbed = eeed;
    if (truthy(o.Time_domain_p)) {
        py::object prehigh = remove_grain(eeed, vs::int_list({4, 0}));
        py::object prelow = remove_grain(eeed, vs::int_list({11, 0}));
        py::object lowFre = masked_merge(prelow, prehigh, h.mainmask, vs::int_list({0, 1, 2}), py::bool_(true));
        lowFre = remove_grain(remove_grain(lowFre, py::int_(11)), py::int_(11));
        py::object highFre = make_diff(eeed, lowFre);
        py::object debanded = dbmbk_light(ctxp, lowFre, o.left, o.right, o.anc_x, o.anc_y, py::float_(0.001),
                                          o.dbamp, o.dbsty, o.dbstc, py::bool_(false), py::int_(0), py::int_(0),
                                          o.chroma, o.tp, o.range1, o.range2, o.thr, o.thc, o.est);
        py::object dbclip = merge_diff(debanded, highFre);
        py::object dbmask = orvodbmask(ctx, h.src16, h.src16y);
        dbmask = Max(ctx, h.glmask, dbmask);
        dbed = masked_merge(dbclip, eeed, dbmask, vs::int_list({0, 1, 2}), one);
    }

    // Dering of the luma, in a gamma-shifted picture.
    py::object drmask = ringmask2(ctx, aaed, o.drrx, o.dramp);
    PyObject *inv = PyNumber_TrueDivide(py::int_(1).ptr(), o.drgamma.ptr());
    if (!inv)
        throw py::error_already_set();
    py::object pre = Levels(ctx, dbed, py::reinterpret_steal<py::object>(inv));
    py::object dr = dr_only(ctx, pre, py::bool_(false), py::int_(0), py::int_(0), py::int_(50), py::int_(50),
                            py::none(), py::int_(0));
    dr = Levels(ctx, dr, o.drgamma);
    if (truthy(o.limited_dering)) {
        py::object diff = vs::call("std", "MakeDiff", {dbed, dr}, {{"planes", py::int_(0)}});
        diff = vs::call("warp", "AWarpSharp2", {diff},
                        {{"blur", py::int_(2)}, {"type", py::int_(1)}, {"depth", py::int_(8)}, {"planes", py::int_(0)}});
        dr = vs::call("std", "MakeDiff", {dbed, diff}, {{"planes", py::int_(0)}});
    }
    py::object dred = masked_merge(dbed, dr, drmask, vs::int_list({0}), one);

    // Line darkening and warp sharpening.
    py::object dled = dred;
    if (truthy(o.Line_Darken))
        dled = line_darken(ctx, dred, o.ldamp, o.limit, Depth(ctx, h.src16, py::int_(8)), o.thrs);
    if (!truthy(o.Warpline))
        return dled;
    py::object wmask = warpmask(ctx, h.src16);
    py::object warped = vs::call("warp", "AWarpSharp2", {dled, o.wthresh, o.wblur, one, o.wdepth}, {{"planes", o.wplane}});
    return masked_merge(dled, warped, wmask, o.wplane, one);
}

} // namespace orvo
