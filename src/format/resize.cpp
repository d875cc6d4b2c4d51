#include "format/resize.h"

#include <cmath>

namespace orvo {

ResizeRatio resize_ratio(py::object src_width, py::object src_height, py::object w, py::object h) {
    // Host division, so zero sizes raise the host's ZeroDivisionError.
    const double sr_h = py::cast<double>(py::float_(w / src_width));
    const double sr_v = py::cast<double>(py::float_(h / src_height));
    const double sr_up = sr_v > sr_h ? sr_v : sr_h;
    const double sr_dw = (Num(1) / Num(sr_v < sr_h ? sr_v : sr_h)).f();
    ResizeRatio r;
    r.sr = sr_dw > sr_up ? sr_dw : sr_up;
    if (!(r.sr >= 1)) {
        PyErr_SetNone(PyExc_AssertionError);
        throw py::error_already_set();
    }
    r.nrb = r.sr > 2.5;
    if (r.nrb) {
        r.nrr = std::min(r.sr - 2.5, 1.0);
        r.nrv = int64_t(std::floor((1 - r.nrr) * 255 + 0.5));
    }
    return r;
}

py::object Resize(Context &, py::object src, py::object w, py::object h, const ResizeOptions &o) {
    if (!vs::is_clip(src))
        throw py::type_error("Resize: This is not a clip");
    const vs::Format f = vs::format_of(src);
    py::object bits = o.bits.is_none() ? py::object(py::int_(f.bits)) : o.bits;
    const ResizeRatio r = resize_ratio(src.attr("width"), src.attr("height"), w, h);
    const bool nrf = r.sr < 3.5 && py::bool_(o.noring);

    auto resample = [&](py::object kernel, py::object a1, py::object a2) {
        return vs::call("fmtc", "resample", {src, w, h, o.sx, o.sy, o.sw, o.sh},
                        {{"kernel", kernel},         {"taps", o.taps},
                         {"a1", a1},                 {"a2", a2},
                         {"invks", o.invks},         {"invkstaps", o.invkstaps},
                         {"css", o.css},             {"planes", o.planes},
                         {"center", o.center},       {"cplace", o.cplace},
                         {"cplaces", o.cplaces},     {"cplaced", o.cplaced},
                         {"interlaced", o.interlaced}, {"interlacedd", o.interlacedd},
                         {"tff", o.tff},             {"tffd", o.tffd},
                         {"flt", o.flt}});
    };
    py::object main = resample(o.kernel, o.a1, o.a2);
    py::object last = main;
    if (nrf) {
        // A soft Gaussian pass bounds the sharp one: ringing beyond it is cut.
        py::object nrng = resample(py::str("gauss"), py::int_(100), py::none());
        last = vs::call("rgvs", "Repair", {main, nrng, py::int_(1)});
        if (r.nrb) {
            py::list color;
            for (int i = 0; i < f.num_planes; i++)
                color.append(r.nrv * 256 + r.nrv);
            py::object nrm = vs::call("std", "BlankClip", {main}, {{"color", color}});
            last = vs::call("std", "MaskedMerge", {main, last, nrm});
        }
    }

    const py::object depth_opts[] = {o.fulls, o.fulld, o.dmode, o.ampo, o.ampn, o.dyn, o.staticnoise, o.patsize};
    bool any_depth_opt = false;
    for (const auto &v : depth_opts)
        any_depth_opt = any_depth_opt || !v.is_none();
    const vs::Format lf = vs::format_of(last);
    if (py::int_(lf.bits).equal(bits) && !any_depth_opt)
        return last;

    // Planes the resampler only copied (entry 1) are not converted either.
    py::list planes2;
    if (o.planes.is_none()) {
        for (int i = 0; i < lf.num_planes; i++)
            planes2.append(i);
    } else {
        std::vector<py::object> entries;
        if (PyList_Check(o.planes.ptr()))
            for (py::handle p : py::reinterpret_borrow<py::list>(o.planes))
                entries.push_back(py::reinterpret_borrow<py::object>(p));
        else
            entries.push_back(o.planes);
        for (int i = 0; i < lf.num_planes; i++) {
            // An empty list leaves every plane at the resampler's default (processed).
            const bool copied = !entries.empty() &&
                                entries[std::min<size_t>(size_t(i), entries.size() - 1)].equal(py::int_(1));
            if (!copied)
                planes2.append(i);
        }
    }
    return vs::call("fmtc", "bitdepth", {last},
                    {{"bits", bits},
                     {"planes", planes2},
                     {"fulls", o.fulls},
                     {"fulld", o.fulld},
                     {"dmode", o.dmode},
                     {"ampo", o.ampo},
                     {"ampn", o.ampn},
                     {"dyn", o.dyn},
                     {"staticnoise", o.staticnoise},
                     {"patsize", o.patsize}});
}

} // namespace orvo
