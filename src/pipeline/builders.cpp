#include "pipeline/builders.h"

#include "masks/masks.h"
#include "ops/limit_filter.h"

namespace orvo {

py::object gammaed_lmask2_subprocess(Context &ctx, py::object src16y) {
    return gammaed_lmask2(ctx, src16y, ctx.glmgama, vs::from_num(ctx.glmest1), vs::from_num(ctx.glmest2));
}

py::object chromamask2_subprocess(Context &ctx, py::object src10) { return chromamask2(ctx, src10); }

py::object mainmask_subprocess(Context &ctx, py::object src16) { return orvomainmask(ctx, src16); }

py::object f3blur_subprocess(Context &, py::object lowfre) {
    return vs::call("f3kdb", "Deband",
                    {lowfre, py::int_(15), py::int_(96), py::int_(64), py::int_(64), py::int_(0), py::int_(0)},
                    {{"output_depth", py::int_(16)}});
}

py::object f3limit_subprocess(Context &ctx, py::object f3shrp, py::object src16) {
    // Host arithmetic, so an int f3str gives the same floats a script would.
    py::object k = py::int_(1) + ctx.f3str;
    return LimitFilter(ctx, f3shrp, src16, py::none(), py::float_(0.4) * k, py::float_(2.0), py::none(),
                       py::float_(0.3) * k);
}

py::object sblur_subprocess(Context &ctx, py::object nr16) {
    return vs::call("tcanny", "TCanny", {nr16}, {{"sigma", ctx.bsigma}, {"mode", py::int_(-1)}});
}

py::object sbshrp_limit_subprocess(Context &ctx, py::object sbshrp, py::object f3ed) {
    return LimitFilter(ctx, sbshrp, f3ed, py::none(), py::float_(1.4), py::float_(1.5), py::none(),
                       py::float_(1.05));
}

} // namespace orvo
