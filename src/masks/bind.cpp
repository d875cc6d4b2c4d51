#include "masks/masks.h"
#include "module/bindings.h"

namespace orvo {

void bind_masks(ContextClass &cls) {
    namespace py = pybind11;
    cls.def("ringmask2", &ringmask2, py::arg("clip"), py::arg("rx") = py::none(), py::arg("amp") = py::none(),
            py::arg("thY1") = 0, py::arg("thY2") = 255, py::arg("mode") = 1);
    cls.def("eemask", &eemask, py::arg("clip"));
    cls.def("textmask", &textmask, py::arg("clip"), py::arg("lim0") = 512, py::arg("lim1") = 1280);
    cls.def("vcbaamask", &vcbaamask, py::arg("clip"));
    cls.def("warpmask", &warpmask, py::arg("clip"));

    cls.def("flatmask", &flatmask, py::arg("flaten"), py::arg("coreed"), py::arg("d_gamma") = 1.5,
            py::arg("swh1") = 5, py::arg("swh2") = 2, py::arg("swh3") = 3, py::arg("s0") = 1.8, py::arg("th0") = 1.6,
            py::arg("tl0") = 1, py::arg("sf1") = 1.25, py::arg("thf1") = 1.0, py::arg("tlf1") = 0.5,
            py::arg("sc1") = 1.8, py::arg("thc1") = 1.6, py::arg("tlc1") = 0.8);
    cls.def("orvomainmask", &orvomainmask, py::arg("clip"), py::arg("sigma") = 1.5, py::arg("high") = 38960,
            py::arg("low") = 4897);
    cls.def("orvodbmask", &orvodbmask, py::arg("clip"), py::arg("clip16y") = py::none(), py::arg("d_gamma") = 1.5,
            py::arg("pre") = false, py::arg("d1") = 80, py::arg("d2") = 96, py::arg("d3") = 180, py::arg("d4") = 224,
            py::arg("s0") = 2.4, py::arg("th0") = 1.5, py::arg("tl0") = 0.6, py::arg("s1") = 2.5,
            py::arg("th1") = 1.0, py::arg("tl1") = 0.5, py::arg("s2") = 2.5, py::arg("th2") = 3.0,
            py::arg("tl2") = 1.5, py::arg("swh1") = 5, py::arg("swh2") = 2, py::arg("swh3") = 3,
            py::arg("inflate") = true, py::arg("darkenh") = true);

    cls.def("gammaed_lmask2", &gammaed_lmask2, py::arg("clip"), py::arg("gamma") = 1.08, py::arg("c1") = 29952,
            py::arg("c2") = 12032);
    cls.def("chromamask2", &chromamask2, py::arg("clip"), py::arg("sigma") = 0, py::arg("t_h") = 6,
            py::arg("t_l") = 2, py::arg("plimitY") = 265, py::arg("plimitC") = 245, py::arg("lowlimit1") = 312,
            py::arg("lowlimit2") = 341, py::arg("lowlimit3") = 129, py::arg("delta") = 2, py::arg("radius") = 1.8,
            py::arg("blursigma") = 1.5);
}

} // namespace orvo
