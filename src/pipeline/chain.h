// The restoration chain in two halves. The first makes the masks and working
// copies of the source, denoises once and adds two masked, limited sharpening
// layers (`sped`); the second denoises again, anti-aliases, edge-enhances,
// optionally protects text and debands, derings, and optionally darkens and
// warp-sharpens lines (`res`).
#pragma once

#include "module/options.h"

namespace orvo {

// Stages of the first half that the second half reads. Those only some
// switches need stay empty (None) until asked for.
struct FirstHalf {
    py::object src16, src16y, nr16, glmask, mainmask, sped;
};

FirstHalf first_half(Context &ctx, Options &opts, py::object src16);
py::object second_half(const ContextPtr &ctx, const Options &opts, const FirstHalf &h);

// Small graph shorthands used by both halves.
namespace chain {
py::object gray(py::object clip); // plane 0 as a GRAY clip
py::object masked_merge(py::object a, py::object b, py::object mask, py::object planes, py::object first_plane);
py::object make_diff(py::object a, py::object b);
py::object merge_diff(py::object a, py::object b);
py::object remove_grain(py::object clip, py::object mode);
} // namespace chain

} // namespace orvo
