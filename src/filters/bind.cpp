#include "filters/antialias.h"
#include "filters/deband.h"
#include "filters/dering.h"
#include "filters/detail.h"
#include "filters/orvo3d.h"
#include "module/bindings.h"

namespace orvo {

void bind_filters(ContextClass &cls) {
    cls.def("fullaa", &fullaa, py::arg("clip"), py::arg("kernel") = py::int_(1), py::arg("cycle") = py::int_(1));
    cls.def("dr_only", &dr_only, py::arg("clp"), py::arg("preblur") = py::bool_(false),
            py::arg("strength1") = py::int_(0), py::arg("strength2") = py::int_(0), py::arg("lowsens") = py::int_(50),
            py::arg("highsens") = py::int_(50), py::arg("dering_line_mask2") = py::none(),
            py::arg("show") = py::bool_(false));
    cls.def("orvo3d", &orvo3d, py::arg("clip"), py::arg("nrluma") = py::float_(1.9),
            py::arg("nrchroma") = py::float_(1.15), py::arg("profile") = py::str("np"), py::arg("d") = py::int_(1),
            py::arg("a") = py::int_(2), py::arg("s") = py::int_(3), py::arg("device_type") = py::str("gpu"),
            py::arg("device_id") = py::int_(0));

    cls.def(
        "dbmbk_light",
        [](const ContextPtr &ctx, py::object clip, py::object left, py::object right, py::object anc_x,
           py::object anc_y, py::object accur, py::object amp, py::object dbsty, py::object dbstc,
           py::object showcurve, py::object grainy, py::object grainc, py::object chroma, py::object tp,
           py::object range1, py::object range2, py::object thr, py::object thc, py::object est, py::kwargs f3kargs) {
            return dbmbk_light(ctx, clip, left, right, anc_x, anc_y, accur, amp, dbsty, dbstc, showcurve, grainy,
                               grainc, chroma, tp, range1, range2, thr, thc, est, f3kargs);
        },
        py::arg("clip"), py::arg("left") = py::int_(64), py::arg("right") = py::int_(22),
        py::arg("anc_x") = py::float_(0.38), py::arg("anc_y") = py::int_(96), py::arg("accur") = py::float_(0.001),
        py::arg("amp") = py::float_(1.0), py::arg("dbsty") = py::int_(48), py::arg("dbstc") = py::int_(32),
        py::arg("showcurve") = py::bool_(false), py::arg("grainy") = py::int_(0), py::arg("grainc") = py::int_(0),
        py::arg("chroma") = py::bool_(true), py::arg("tp") = py::bool_(true), py::arg("range1") = py::int_(12),
        py::arg("range2") = py::int_(16), py::arg("thr") = py::float_(0.6), py::arg("thc") = py::float_(0.4),
        py::arg("est") = py::float_(1.6));
    cls.def("fresp", &fresp, py::arg("clip"), py::arg("mask") = py::none(), py::arg("lowPassC") = py::int_(1));
    cls.def("mwenhance", &mwenhance, py::arg("diffClip"), py::arg("Strength") = py::float_(2.0),
            py::arg("Szrp8") = py::int_(8), py::arg("Spwr") = py::int_(4), py::arg("Soft") = py::int_(0));
    cls.def("line_darken", &line_darken, py::arg("clip"), py::arg("amp") = py::int_(1),
            py::arg("limit") = py::none(), py::arg("clip8") = py::none(), py::arg("thrs") = py::int_(512));
}

} // namespace orvo
