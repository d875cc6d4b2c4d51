// Resize: fmtc.resample with optional ringing suppression, then fmtc.bitdepth
// when the depth or any depth option asks for it.
#pragma once

#include "module/context.h"

namespace orvo {

// Every argument after the size; None leaves it out of the plugin call.
struct ResizeOptions {
    py::object sx = py::none(), sy = py::none(), sw = py::none(), sh = py::none();
    py::object kernel = py::none(), taps = py::none(), a1 = py::none(), a2 = py::none();
    py::object invks = py::none(), invkstaps = py::none();
    py::object css = py::none(), planes = py::none(), center = py::none();
    py::object cplace = py::none(), cplaces = py::none(), cplaced = py::none();
    py::object interlaced = py::none(), interlacedd = py::none(), tff = py::none(), tffd = py::none();
    py::object flt = py::none();
    py::object noring = py::bool_(false);
    py::object bits = py::none(), fulls = py::none(), fulld = py::none(), dmode = py::none();
    py::object ampo = py::none(), ampn = py::none(), dyn = py::none(), staticnoise = py::none();
    py::object patsize = py::none();
};

// The scale ratio (up or down, >= 1) and the ringing-suppression blend.
struct ResizeRatio {
    double sr = 1;
    bool nrb = false; // fade the suppression out (sr > 2.5)
    double nrr = 0;   // weight of the plain result when nrb
    int64_t nrv = 0;  // 8-bit mask value of the suppressed result when nrb
};
ResizeRatio resize_ratio(py::object src_width, py::object src_height, py::object w, py::object h);

py::object Resize(Context &ctx, py::object src, py::object w, py::object h, const ResizeOptions &opt = {});

} // namespace orvo
