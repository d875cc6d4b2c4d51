#include <pybind11/pybind11.h>
namespace py = pybind11;
PYBIND11_MODULE(orvolib, m) { m.doc() = "orvo restoration chain"; }
