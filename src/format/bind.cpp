#include "format/plane.h"
#include "module/bindings.h"

namespace orvo {

void bind_format(ContextClass &cls) {
    namespace py = pybind11;
    cls.def("GetPlane", &GetPlane, py::arg("clip"), py::arg("plane") = py::none());
    cls.def("scale", [](Context &, py::object val, py::object d) { return scale_obj(val, d); }, py::arg("val"),
            py::arg("d"));
    cls.def("SetColorSpace", &SetColorSpace, py::arg("clip"), py::arg("ChromaLocation") = py::none(),
            py::arg("ColorRange") = py::none(), py::arg("Primaries") = py::none(), py::arg("Matrix") = py::none(),
            py::arg("Transfer") = py::none());
}

} // namespace orvo
