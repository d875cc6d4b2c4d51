// The per-call context: the core and the option values the helpers read.
// Every call of main makes a fresh one; nodes that call back into helpers while
// frames are produced hold it by shared ownership.
#pragma once

#include <memory>

#include "vs/vs.h"

namespace orvo {

namespace py = pybind11;

struct Context {
    py::object core;
    py::object f3str;
    py::object bsigma;
    py::object glmgama;
    Num glmest1; // already scaled by 100
    Num glmest2;
    py::object VSMaxPlaneNum;
};

using ContextPtr = std::shared_ptr<Context>;

} // namespace orvo
