// Adaptive deband: the f3kdb luma strength of each frame follows a quadratic
// Bezier curve of the frame's average luma, chroma follows in a fixed ratio,
// and the result is limited against the source.
#pragma once

#include "module/context.h"

namespace orvo {

// The curve through (0, left), control point (anc_x, anc_y), (1, right).
struct BezierCurve {
    double left = 64, right = 22, anc_x = 0.38, anc_y = 96, accur = 0.001;

    double x(double t) const;
    double y(double t) const;
    // The first t of the walk 0, accur, 2 accur, ... (accumulated, so it
    // drifts) whose x lies within accur of `abscissa`; the last t walked
    // when none does.
    double t_for(double abscissa) const;
};

// The host's int() of v clamped to [0, 128]; NaN and infinities raise as
// int() would.
int64_t strength(double v);

py::object dbmbk_light(const ContextPtr &ctx, py::object clip, py::object left = py::int_(64),
                       py::object right = py::int_(22), py::object anc_x = py::float_(0.38),
                       py::object anc_y = py::int_(96), py::object accur = py::float_(0.001),
                       py::object amp = py::float_(1.0), py::object dbsty = py::int_(48),
                       py::object dbstc = py::int_(32), py::object showcurve = py::bool_(false),
                       py::object grainy = py::int_(0), py::object grainc = py::int_(0),
                       py::object chroma = py::bool_(true), py::object tp = py::bool_(true),
                       py::object range1 = py::int_(12), py::object range2 = py::int_(16),
                       py::object thr = py::float_(0.6), py::object thc = py::float_(0.4),
                       py::object est = py::float_(1.6), py::dict f3kargs = py::dict());

} // namespace orvo
