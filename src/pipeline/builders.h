// The seven stage builders of the chain's first half: each fixes the arguments
// of one helper or plugin call, reading the option values kept in the context.
#pragma once

#include "module/context.h"

namespace orvo {

py::object gammaed_lmask2_subprocess(Context &ctx, py::object src16y);
py::object chromamask2_subprocess(Context &ctx, py::object src10);
py::object mainmask_subprocess(Context &ctx, py::object src16);
py::object f3blur_subprocess(Context &ctx, py::object lowfre);
py::object f3limit_subprocess(Context &ctx, py::object f3shrp, py::object src16);
py::object sblur_subprocess(Context &ctx, py::object nr16);
py::object sbshrp_limit_subprocess(Context &ctx, py::object sbshrp, py::object f3ed);

} // namespace orvo
