// The options object: eleven groups read in a fixed order, by position.
#pragma once

#include <vector>

#include "module/context.h"

namespace orvo {

struct Options {
    // nr
    py::object d, a, s, hy, hc, hy2, hc2, device_type, device_id;
    // f3kdb
    py::object f3str;
    // gaussain
    py::object bsigma, dgmode, pdgp;
    // aamod
    py::object aakernel, cycle, eesigma, elsigma, Text_Protect;
    // dbmod
    py::object left, right, anc_x, anc_y, dbsty, dbstc, range1, range2, range3, thr, thc, est, dbamp, chroma, tp,
        Time_domain_p;
    // dering
    py::object rbias, drgamma, drrx, dramp, limited_dering;
    // linedarken
    py::object Line_Darken, ldamp, limit, thrs;
    // warp
    py::object Warpline, wthresh, wblur, wdepth, wplane;
    // post_wf2x: read and not used
    std::vector<py::object> post_wf2x;
    // masks
    py::object mainsigma, mainhigh, mainlow, glmgama, glmest1, glmest2;
    std::vector<py::object> masks_unused;
    // misc
    py::object VSMaxPlaneNum, debugmode;
};

// Reads the groups in order; raises the host's AttributeError, KeyError or
// ValueError (failed unpacking) like plain attribute access and unpacking would.
Options read_options(py::handle options);

// glmest1/glmest2: the integer part of value * 100.
Num scale_glmest(py::handle value);

// The default of hc2 when it is None: min(hc / hy * hy2, 2.0).
py::object resolve_hc2(py::object hy, py::object hc, py::object hy2, py::object hc2);

ContextPtr make_context(const Options &opts);

} // namespace orvo
