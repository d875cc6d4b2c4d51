#include "masks/masks.h"
#include "module/bindings.h"

namespace orvo {

void bind_masks(ContextClass &cls) {
    namespace py = pybind11;
    cls.def("gammaed_lmask2", &gammaed_lmask2, py::arg("clip"), py::arg("gamma") = 1.08, py::arg("c1") = 29952,
            py::arg("c2") = 12032);
    cls.def("chromamask2", &chromamask2, py::arg("clip"), py::arg("sigma") = 0, py::arg("t_h") = 6,
            py::arg("t_l") = 2, py::arg("plimitY") = 265, py::arg("plimitC") = 245, py::arg("lowlimit1") = 312,
            py::arg("lowlimit2") = 341, py::arg("lowlimit3") = 129, py::arg("delta") = 2, py::arg("radius") = 1.8,
            py::arg("blursigma") = 1.5);
}

} // namespace orvo
