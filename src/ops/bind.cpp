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
}

} // namespace orvo
