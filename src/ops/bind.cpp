#include "format/resize.h"
#include "module/bindings.h"
#include "ops/limit_filter.h"
#include "ops/minblur.h"
#include "ops/morphology.h"
#include "ops/operators.h"

namespace orvo {

void bind_ops(ContextClass &cls) {
    namespace py = pybind11;
    // The shared [0, 1, 2] default, like a default list of the host made once.
    py::list planes3 = default_planes();

    cls.def("mt_expand_multi", &mt_expand_multi, py::arg("src"), py::arg("mode") = "rectangle",
            py::arg("planes") = planes3, py::arg("sw") = 1, py::arg("sh") = 1);
    cls.def("mt_inpand_multi", &mt_inpand_multi, py::arg("src"), py::arg("mode") = "rectangle",
            py::arg("planes") = planes3, py::arg("sw") = 1, py::arg("sh") = 1);
    cls.def("mt_inflate_multi", &mt_inflate_multi, py::arg("src"), py::arg("planes") = planes3,
            py::arg("radius") = 1);
    cls.def("mt_deflate_multi", &mt_deflate_multi, py::arg("src"), py::arg("planes") = planes3,
            py::arg("radius") = 1);
    cls.def("m4", [](Context &, py::object x) { return m4(x); }, py::arg("x"));

    cls.def("_operator2", &_operator2, py::arg("clip1"), py::arg("clip2"), py::arg("mode"), py::arg("neutral"),
            py::arg("funcName"));
    cls.def("Max", &Max, py::arg("clip1"), py::arg("clip2"), py::arg("mode") = py::none(),
            py::arg("neutral") = py::none());
    cls.def("Levels", &Levels, py::arg("clip"), py::arg("gamma") = py::none(), py::arg("input_low") = 0,
            py::arg("input_high") = 65536, py::arg("output_low") = 0, py::arg("output_high") = 65536,
            py::arg("planes") = py::none(), py::arg("coring") = true);

    cls.def("LimitFilter", &LimitFilter, py::arg("flt"), py::arg("src"), py::arg("ref") = py::none(),
            py::arg("thr") = py::none(), py::arg("elast") = py::none(), py::arg("brighten_thr") = py::none(),
            py::arg("thrc") = py::none(), py::arg("force_expr") = py::none(), py::arg("planes") = py::none());
    cls.def(
        "_limit_filter_expr",
        [](Context &, py::object defref, py::object thr, py::object elast, py::object largen_thr,
           py::object value_range) {
            return _limit_filter_expr(py::bool_(defref), vs::to_num(thr), vs::to_num(elast),
                                      vs::to_num(largen_thr), vs::to_num(value_range));
        },
        py::arg("defref"), py::arg("thr"), py::arg("elast"), py::arg("largen_thr"), py::arg("value_range"));
    cls.def("_limit_diff_lut", &_limit_diff_lut, py::arg("diff"), py::arg("thr"), py::arg("elast"),
            py::arg("largen_thr"), py::arg("planes"));

    cls.def("sbr", &sbr, py::arg("c"), py::arg("r") = 1, py::arg("planes") = planes3);
    cls.def("MinBlur", &MinBlur, py::arg("clp"), py::arg("r") = 1, py::arg("planes") = planes3);

    // Resize lives with the format helpers; it is bound here with the pixel operators.
    cls.def(
        "Resize",
        [](Context &ctx, py::object src, py::object w, py::object h,
           py::object sx, py::object sy, py::object sw, py::object sh, py::object kernel,
           py::object taps, py::object a1, py::object a2, py::object invks, py::object invkstaps,
           py::object css, py::object planes, py::object center, py::object cplace, py::object cplaces,
           py::object cplaced, py::object interlaced, py::object interlacedd, py::object tff, py::object tffd,
           py::object flt, py::object noring, py::object bits, py::object fulls, py::object fulld,
           py::object dmode, py::object ampo, py::object ampn, py::object dyn, py::object staticnoise,
           py::object patsize) {
            ResizeOptions o;
            o.sx = sx;
            o.sy = sy;
            o.sw = sw;
            o.sh = sh;
            o.kernel = kernel;
            o.taps = taps;
            o.a1 = a1;
            o.a2 = a2;
            o.invks = invks;
            o.invkstaps = invkstaps;
            o.css = css;
            o.planes = planes;
            o.center = center;
            o.cplace = cplace;
            o.cplaces = cplaces;
            o.cplaced = cplaced;
            o.interlaced = interlaced;
            o.interlacedd = interlacedd;
            o.tff = tff;
            o.tffd = tffd;
            o.flt = flt;
            o.noring = noring;
            o.bits = bits;
            o.fulls = fulls;
            o.fulld = fulld;
            o.dmode = dmode;
            o.ampo = ampo;
            o.ampn = ampn;
            o.dyn = dyn;
            o.staticnoise = staticnoise;
            o.patsize = patsize;
            return Resize(ctx, src, w, h, o);
        },
        py::arg("src"), py::arg("w"), py::arg("h"),
        py::arg("sx") = py::none(), py::arg("sy") = py::none(), py::arg("sw") = py::none(),
        py::arg("sh") = py::none(), py::arg("kernel") = py::none(), py::arg("taps") = py::none(),
        py::arg("a1") = py::none(), py::arg("a2") = py::none(), py::arg("invks") = py::none(),
        py::arg("invkstaps") = py::none(), py::arg("css") = py::none(), py::arg("planes") = py::none(),
        py::arg("center") = py::none(), py::arg("cplace") = py::none(), py::arg("cplaces") = py::none(),
        py::arg("cplaced") = py::none(), py::arg("interlaced") = py::none(), py::arg("interlacedd") = py::none(),
        py::arg("tff") = py::none(), py::arg("tffd") = py::none(), py::arg("flt") = py::none(),
        py::arg("noring") = false, py::arg("bits") = py::none(), py::arg("fulls") = py::none(),
        py::arg("fulld") = py::none(), py::arg("dmode") = py::none(), py::arg("ampo") = py::none(),
        py::arg("ampn") = py::none(), py::arg("dyn") = py::none(), py::arg("staticnoise") = py::none(),
        py::arg("patsize") = py::none());
    cls.def(
        "_resize_ratio",
        [](Context &, py::object src_width, py::object src_height, py::object w, py::object h) {
            const ResizeRatio r = resize_ratio(src_width, src_height, w, h);
            return py::make_tuple(r.sr, r.nrb, r.nrr, r.nrv);
        },
        py::arg("src_width"), py::arg("src_height"), py::arg("w"), py::arg("h"));
}

} // namespace orvo
