#include "module/options.h"

#include <string>

namespace orvo {

namespace {

// values() of one group unpacked into exactly `count` values.
std::vector<py::object> unpack(py::handle options, const char *group, size_t count) {
    py::object mapping = options.attr(group);
    std::vector<py::object> out;
    for (py::handle v : mapping.attr("values")()) {
        if (out.size() == count)
            throw py::value_error("too many values to unpack (expected " + std::to_string(count) + ")");
        out.push_back(py::reinterpret_borrow<py::object>(v));
    }
    if (out.size() < count)
        throw py::value_error("not enough values to unpack (expected " + std::to_string(count) + ", got " +
                              std::to_string(out.size()) + ")");
    return out;
}

} // namespace

Options read_options(py::handle options) {
    Options o;
    auto nr = unpack(options, "nr", 9);
    o.d = nr[0], o.a = nr[1], o.s = nr[2], o.hy = nr[3], o.hc = nr[4], o.hy2 = nr[5], o.hc2 = nr[6];
    o.device_type = nr[7], o.device_id = nr[8];

    o.f3str = options.attr("f3kdb")[py::str("f3str")];

    auto g = unpack(options, "gaussain", 3);
    o.bsigma = g[0], o.dgmode = g[1], o.pdgp = g[2];

    auto aa = unpack(options, "aamod", 5);
    o.aakernel = aa[0], o.cycle = aa[1], o.eesigma = aa[2], o.elsigma = aa[3], o.Text_Protect = aa[4];

    auto db = unpack(options, "dbmod", 16);
    o.left = db[0], o.right = db[1], o.anc_x = db[2], o.anc_y = db[3], o.dbsty = db[4], o.dbstc = db[5];
    o.range1 = db[6], o.range2 = db[7], o.range3 = db[8], o.thr = db[9], o.thc = db[10], o.est = db[11];
    o.dbamp = db[12], o.chroma = db[13], o.tp = db[14], o.Time_domain_p = db[15];

    auto dr = unpack(options, "dering", 5);
    o.rbias = dr[0], o.drgamma = dr[1], o.drrx = dr[2], o.dramp = dr[3], o.limited_dering = dr[4];

    auto ld = unpack(options, "linedarken", 4);
    o.Line_Darken = ld[0], o.ldamp = ld[1], o.limit = ld[2], o.thrs = ld[3];

    auto w = unpack(options, "warp", 5);
    o.Warpline = w[0], o.wthresh = w[1], o.wblur = w[2], o.wdepth = w[3], o.wplane = w[4];

    o.post_wf2x = unpack(options, "post_wf2x", 9);

    auto m = unpack(options, "masks", 14);
    o.mainsigma = m[0], o.mainhigh = m[1], o.mainlow = m[2], o.glmgama = m[3], o.glmest1 = m[4], o.glmest2 = m[5];
    o.masks_unused.assign(m.begin() + 6, m.end());

    auto misc = unpack(options, "misc", 2);
    o.VSMaxPlaneNum = misc[0], o.debugmode = misc[1];
    return o;
}

Num scale_glmest(py::handle value) {
    // int(value * 100) in the host's arithmetic: truncation toward zero.
    py::object scaled = py::reinterpret_borrow<py::object>(value) * py::int_(100);
    return vs::to_num(py::int_(scaled));
}

py::object resolve_hc2(py::object hy, py::object hc, py::object hy2, py::object hc2) {
    if (!hc2.is_none())
        return hc2;
    PyObject *q = PyNumber_TrueDivide(hc.ptr(), hy.ptr());
    if (!q)
        throw py::error_already_set();
    py::object product = py::reinterpret_steal<py::object>(q) * hy2;
    if (product > py::float_(2.0))
        return py::float_(2.0);
    return product;
}

ContextPtr make_context(const Options &opts) {
    auto ctx = std::make_shared<Context>();
    ctx->core = vs::core();
    ctx->f3str = opts.f3str;
    ctx->bsigma = opts.bsigma;
    ctx->glmgama = opts.glmgama;
    ctx->glmest1 = scale_glmest(opts.glmest1);
    ctx->glmest2 = scale_glmest(opts.glmest2);
    ctx->VSMaxPlaneNum = opts.VSMaxPlaneNum;
    return ctx;
}

} // namespace orvo
