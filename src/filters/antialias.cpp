#include "filters/antialias.h"

#include "format/depth.h"

namespace orvo {

namespace {

py::object transpose(py::object c) { return vs::call("std", "Transpose", {c}); }

py::object to8(py::object c) {
    return vs::call("fmtc", "bitdepth", {c}, {{"bits", py::int_(8)}, {"dmode", py::int_(1)}});
}

py::object nnedi3(py::object c) {
    return vs::call("nnedi3", "nnedi3", {c},
                    {{"field", py::int_(1)},
                     {"dh", py::bool_(true)},
                     {"pscrn", py::int_(2)},
                     {"qual", py::int_(2)},
                     {"nsize", py::int_(3)},
                     {"nns", py::int_(2)}});
}

// Format changes round (no dither), as the conversions to 8 bits here do.
py::object depth_round(Context &ctx, py::object c, int bits, int sample) {
    return Depth(ctx, c, py::int_(bits), py::int_(sample), py::none(), py::none(), py::int_(1));
}

// EEDI2 takes integer samples only; a float luma goes through 16 bits and is
// brought back at the end like any other format change.
py::object eedi2(Context &ctx, py::object c) {
    if (vs::format_of(c).sample_type != 0)
        c = depth_round(ctx, c, 16, 0);
    return vs::call("eedi2", "EEDI2", {c}, {{"field", py::int_(1)}});
}

py::object resample(py::object c, int64_t w, int64_t h, std::initializer_list<vs::Kw> kw = {}) {
    return vs::call("fmtc", "resample", {c, py::int_(w), py::int_(h)}, kw);
}

// range(cycle): the host's integer rules, so a float count is a TypeError.
int64_t repetitions(py::object cycle) {
    PyObject *i = PyNumber_Index(cycle.ptr());
    if (!i)
        throw py::error_already_set();
    return py::reinterpret_steal<py::int_>(i).cast<int64_t>();
}

} // namespace

py::object fullaa(Context &ctx, py::object clip, py::object kernel, py::object cycle) {
    if (!vs::is_clip(clip))
        vs::type_error("fullaa", ": \"clip\" must be a clip!");
    const vs::Format f = vs::format_of(clip);
    const bool gray = f.color_family == vs::gray_family();
    py::object aa_clip = gray ? clip : vs::call("std", "ShufflePlanes", {clip, py::int_(0), vs::attr("GRAY")});
    const int64_t w = clip.attr("width").cast<int64_t>(), h = clip.attr("height").cast<int64_t>();
    const int64_t dw = int64_t(double(w) * 0.8), dh = int64_t(double(h) * 0.8);
    const py::float_ half(-0.5);

    if (kernel.equal(py::int_(1))) {
        for (int64_t i = 0, n = repetitions(cycle); i < n; i++) {
            aa_clip = eedi2(ctx, aa_clip);
            aa_clip = transpose(resample(aa_clip, w, h, {{"sx", py::int_(0)}, {"sy", half}}));
            aa_clip = eedi2(ctx, aa_clip);
            aa_clip = transpose(resample(aa_clip, h, w, {{"sx", py::int_(0)}, {"sy", half}}));
        }
    } else if (kernel.equal(py::int_(2))) {
        aa_clip = resample(aa_clip, dw, dh);
        for (int64_t i = 0, n = repetitions(cycle); i < n; i++) {
            aa_clip = to8(transpose(aa_clip));
            aa_clip = resample(nnedi3(aa_clip), dh, dw, {{"sy", half}});
            aa_clip = to8(transpose(aa_clip));
            aa_clip = resample(nnedi3(aa_clip), dw, dh, {{"sy", half}});
        }
        aa_clip = resample(aa_clip, w, h);
    } else if (kernel.equal(py::int_(3))) {
        aa_clip = resample(aa_clip, dw, dh);
        aa_clip = eedi2(ctx, transpose(aa_clip));
        aa_clip = eedi2(ctx, transpose(aa_clip));
        // The two doublings each shifted by half a pixel.
        aa_clip = resample(aa_clip, dw * 2, dh * 2, {{"sx", half}, {"sy", half}});
        aa_clip = to8(transpose(aa_clip));
        aa_clip = transpose(vs::call("sangnom", "SangNom", {aa_clip}, {{"aa", py::int_(48)}}));
        aa_clip = vs::call("sangnom", "SangNom", {aa_clip}, {{"aa", py::int_(48)}});
        aa_clip = resample(aa_clip, w, h);
    }

    // The resampler hands back 16 bits for integer input.
    const vs::Format af = vs::format_of(aa_clip);
    if (af.bits != f.bits || af.sample_type != f.sample_type)
        aa_clip = depth_round(ctx, aa_clip, f.bits, f.sample_type);
    if (gray)
        return aa_clip;
    py::list clips, planes;
    clips.append(aa_clip), clips.append(clip);
    planes.append(0), planes.append(1), planes.append(2);
    return vs::call("std", "ShufflePlanes", {clips, planes, py::int_(f.color_family)});
}

} // namespace orvo
