#include "format/depth.h"
#include "format/plane.h"
#include "format/quantization.h"
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

    cls.def("_quantization_parameters", &_quantization_parameters, py::arg("sample") = py::none(),
            py::arg("depth") = py::none(), py::arg("full") = py::none(), py::arg("chroma") = py::none(),
            py::arg("funcName") = "_quantization_parameters");
    cls.def("_quantization_conversion", &_quantization_conversion, py::arg("clip"), py::arg("depths") = py::none(),
            py::arg("depthd") = py::none(), py::arg("sample") = py::none(), py::arg("fulls") = py::none(),
            py::arg("fulld") = py::none(), py::arg("chroma") = py::none(), py::arg("clamp") = py::none(),
            py::arg("dbitPS") = py::none(), py::arg("mode") = py::none(),
            py::arg("funcName") = "_quantization_conversion");
    cls.def("Depth", &Depth, py::arg("input"), py::arg("depth") = py::none(), py::arg("sample") = py::none(),
            py::arg("fulls") = py::none(), py::arg("fulld") = py::none(), py::arg("dither") = py::none(),
            py::arg("useZ") = py::none(), py::arg("prefer_props") = py::none(), py::arg("ampo") = py::none(),
            py::arg("ampn") = py::none(), py::arg("dyn") = py::none(), py::arg("staticnoise") = py::none());
    cls.def("zDepth", &zDepth, py::arg("clip"), py::arg("sample") = py::none(), py::arg("depth") = py::none(),
            py::arg("range") = py::none(), py::arg("range_in") = py::none(), py::arg("dither_type") = py::none(),
            py::arg("cpu_type") = py::none(), py::arg("prefer_props") = py::none());
    // Internal, for tests: zDepth's entry-point discovery against a stand-in core.
    cls.def(
        "_zDepth_on",
        [](Context &, py::object core, py::object clip, py::object sample, py::object depth, py::object range,
           py::object range_in, py::object dither_type, py::object cpu_type, py::object prefer_props) {
            return zdepth_on(core, clip, sample, depth, range, range_in, dither_type, cpu_type, prefer_props);
        },
        py::arg("core"), py::arg("clip"), py::arg("sample") = py::none(), py::arg("depth") = py::none(),
        py::arg("range") = py::none(), py::arg("range_in") = py::none(), py::arg("dither_type") = py::none(),
        py::arg("cpu_type") = py::none(), py::arg("prefer_props") = py::none());
}

} // namespace orvo
