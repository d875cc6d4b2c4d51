#include <pybind11/pybind11.h>
namespace py = pybind11;
PYBIND11_MODULE(mvsfunc1610, m) { m.doc() = "RGB/YUV conversions"; }
