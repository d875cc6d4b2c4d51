// Source to `sped`: masks and working copies, the first denoise pass, the
// deband-sharpen layer and the blur-difference layer.
#include "filters/detail.h"
#include "filters/orvo3d.h"
#include "format/depth.h"
#include "format/plane.h"
#include "masks/masks.h"
#include "ops/operators.h"
#include "pipeline/builders.h"
#include "pipeline/chain.h"

namespace orvo {

using namespace chain;
using vs::truthy;

FirstHalf first_half(Context &ctx, Options &o, py::object src16) {
    const py::object one = py::int_(1);

    // Masks and working copies.
    py::object src16y = gray(src16);
    py::object src10 = Depth(ctx, src16, py::int_(10));
    py::object glmask = gammaed_lmask2_subprocess(ctx, src16y);
    py::object chromask = GetPlane(ctx, chromamask2_subprocess(ctx, src10), py::int_(0));
    py::object chromask16 = Depth(ctx, chromask, py::int_(16));
    py::object shrp_mask = Max(ctx, glmask, chromask16);
    py::object mainmask = gray(mainmask_subprocess(ctx, src16));
    py::object mainmaskI = vs::call("std", "Invert", {vs::call("std", "Maximum", {mainmask})});

    // First denoise and the deband-sharpen layer.
    o.hc2 = resolve_hc2(o.hy, o.hc, o.hy2, o.hc2);
    py::object nr16 = orvo3d(ctx, src16, o.hy2, o.hc2, py::str("fast"), py::int_(1), py::int_(2), py::int_(3),
                             o.device_type, o.device_id);
    py::object lowfre = fresp(ctx, nr16, mainmask)[1];
    py::object f3blur = f3blur_subprocess(ctx, lowfre);
    py::object f3layer = remove_grain(make_diff(lowfre, f3blur), py::int_(20));
    py::object f3core = merge_diff(nr16, f3layer);
    py::object f3mask = flatmask(ctx, f3blur, f3core, py::float_(1.5), py::int_(5), py::int_(2), py::int_(3),
                                 py::float_(1.6), py::float_(1.4), py::float_(0.7), py::float_(1.15),
                                 py::float_(0.95), py::float_(0.5), py::float_(1.6), py::float_(1.5),
                                 py::float_(0.75));
    py::object black =
        vs::call("std", "BlankClip", {src16}, {{"format", vs::attr("GRAY16")}, {"color", py::int_(0)}});
    f3mask = masked_merge(black, f3mask, mainmaskI, vs::int_list({0}), one);
    f3mask = remove_grain(remove_grain(f3mask, py::int_(20)), py::int_(20));
    py::object f3shrp = f3limit_subprocess(ctx, merge_diff(src16, f3layer), src16);
    py::object f3ed = masked_merge(src16, f3shrp, f3mask, vs::int_list({0, 1, 2}), one);

    // Blur-difference sharpening.
    py::object sblur = sblur_subprocess(ctx, nr16);
    py::object psblayer = make_diff(nr16, sblur);
    py::object psblayer_sub = remove_grain(psblayer, vs::int_list({4, 0}));
    py::object psbenh = mwenhance(ctx, psblayer_sub, py::int_(3), py::int_(8), py::int_(4), py::int_(0));
    py::list dgmodes;
    dgmodes.append(o.dgmode), dgmodes.append(0);
    py::object psbenh2 = gray(remove_grain(psbenh, dgmodes));
    py::object psbenh3 = gray(psbenh);
    std::string expr = "x y - abs " + py::str(o.pdgp).cast<std::string>() + " *";
    py::list pair;
    pair.append(psbenh2), pair.append(psbenh3);
    py::list exprs;
    exprs.append(expr);
    py::object psbmask = vs::call("std", "Expr", {pair, exprs});
    py::object sblayer = masked_merge(psblayer, psblayer_sub, psbmask, vs::int_list({0}), one);
    py::object sbshrp = sbshrp_limit_subprocess(ctx, merge_diff(f3ed, sblayer), f3ed);
    py::object sped = masked_merge(f3ed, sbshrp, shrp_mask, vs::int_list({0, 1, 2}), one);

    return FirstHalf{src16, src16y, nr16, glmask, mainmask, sped};
}

} // namespace orvo
