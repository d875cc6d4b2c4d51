#include "filters/antialias.h"
#include "filters/dering.h"
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
}

} // namespace orvo
