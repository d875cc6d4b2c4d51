#include "filters/detail.h"
#include "filters/orvo3d.h"
#include "module/bindings.h"

namespace orvo {

void bind_filters(ContextClass &cls) {
    cls.def("orvo3d", &orvo3d, py::arg("clip"), py::arg("nrluma") = py::float_(1.9),
            py::arg("nrchroma") = py::float_(1.15), py::arg("profile") = py::str("np"), py::arg("d") = py::int_(1),
            py::arg("a") = py::int_(2), py::arg("s") = py::int_(3), py::arg("device_type") = py::str("gpu"),
            py::arg("device_id") = py::int_(0));

    cls.def("fresp", &fresp, py::arg("clip"), py::arg("mask") = py::none(), py::arg("lowPassC") = py::int_(1));
    cls.def("mwenhance", &mwenhance, py::arg("diffClip"), py::arg("Strength") = py::float_(2.0),
            py::arg("Szrp8") = py::int_(8), py::arg("Spwr") = py::int_(4), py::arg("Soft") = py::int_(0));
    cls.def("line_darken", &line_darken, py::arg("clip"), py::arg("amp") = py::int_(1),
            py::arg("limit") = py::none(), py::arg("clip8") = py::none(), py::arg("thrs") = py::int_(512));
}

} // namespace orvo
