// Module entry: import-time bindings, main(src16, options) and the private
// `_context(options)` entry that exposes the helpers to the test suite.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "module/bindings.h"
#include "module/options.h"
#include "pipeline/chain.h"
#include "tools/check.h"

namespace py = pybind11;
using namespace orvo;

namespace {

py::object main_entry(py::object src16, py::object options) {
    bool ok = false;
    if (vs::is_clip(src16)) {
        py::object fmt = src16.attr("format");
        ok = !fmt.is_none() && fmt.attr("name").cast<std::string>() == "YUV420P16";
    }
    if (!ok)
        throw py::type_error("Only YUV420P16 format input is available.");
    Options opts = read_options(options);
    ContextPtr ctx = make_context(opts);
    FirstHalf first = first_half(*ctx, opts, src16);
    return second_half(ctx, opts, first);
}

} // namespace

PYBIND11_MODULE(orvolib, m) {
    m.doc() = "orvo restoration chain for YUV420P16 clips: main(src16, options).";

    // Import-time bindings; a missing one fails the import.
    m.attr("partial") = py::module_::import("functools").attr("partial");
    py::module_ inspect = py::module_::import("inspect");
    m.attr("getframeinfo") = inspect.attr("getframeinfo");
    m.attr("currentframe") = inspect.attr("currentframe");
    m.attr("search") = py::module_::import("re").attr("search");
    m.attr("vs") = vs::module();
    m.attr("math") = py::module_::import("math");
    std::string name = m.attr("__name__").cast<std::string>();
    auto dot = name.rfind('.');
    if (dot == std::string::npos)
        throw py::import_error("attempted relative import with no known parent package");
    py::module_ sibling = py::module_::import((name.substr(0, dot) + ".mvsfunc1610").c_str());
    m.attr("ToYUV") = sibling.attr("ToYUV");
    m.attr("ToRGB") = sibling.attr("ToRGB");
    vs::set_sibling(sibling.attr("ToYUV"), sibling.attr("ToRGB"));
    py::module_ sys = py::module_::import("sys");
    m.attr("sys") = sys;
    // Errors print as type and message only, for the whole process.
    sys.attr("tracebacklimit") = 0;

    m.def("main", &main_entry, py::arg("src16"), py::arg("options"),
          "Build the restoration chain for a YUV420P16 clip.");

    ContextClass cls(m, "_Context", "Internal: the per-call context with its helpers, for tests.");
    cls.def_property_readonly("core", [](Context &c) { return c.core; });
    cls.def_property_readonly("f3str", [](Context &c) { return c.f3str; });
    cls.def_property_readonly("bsigma", [](Context &c) { return c.bsigma; });
    cls.def_property_readonly("glmgama", [](Context &c) { return c.glmgama; });
    cls.def_property_readonly("glmest1", [](Context &c) { return vs::from_num(c.glmest1); });
    cls.def_property_readonly("glmest2", [](Context &c) { return vs::from_num(c.glmest2); });
    cls.def_property_readonly("VSMaxPlaneNum", [](Context &c) { return c.VSMaxPlaneNum; });
    bind_format(cls);
    bind_ops(cls);
    bind_masks(cls);
    bind_filters(cls);
    bind_tools(cls);

    m.def(
        "_context", [](py::object options) { return make_context(read_options(options)); }, py::arg("options"),
        "Internal, for tests: a per-call context built from `options`.");
    m.def("_resolve_hc2", &resolve_hc2, py::arg("hy"), py::arg("hc"), py::arg("hy2"), py::arg("hc2"),
          "Internal, for tests: the value of hc2 used by the first denoise pass.");
    m.def("_namespace", [](const std::string &name) { return vs::ns(name); }, py::arg("name"),
          "Internal, for tests: a namespace as the helpers reach it (our plugin loaded when missing).");
    m.def(
        "_call",
        [](const std::string &ns_name, const std::string &fn_name, py::list pos, py::dict kw) {
            std::vector<py::object> args;
            for (py::handle a : pos)
                args.push_back(py::reinterpret_borrow<py::object>(a));
            std::vector<std::pair<std::string, py::object>> keep;
            for (auto item : kw)
                keep.emplace_back(py::str(item.first).cast<std::string>(), py::reinterpret_borrow<py::object>(item.second));
            std::vector<vs::Kw> kws;
            for (auto &[k, v] : keep)
                kws.push_back({k.c_str(), v});
            return vs::call(ns_name, fn_name, args, kws);
        },
        py::arg("namespace"), py::arg("function"), py::arg("args"), py::arg("kwargs"),
        "Internal, for tests: a plugin call as the helpers make it.");
    m.def("_check_labels", &check_labels, py::arg("line"), py::arg("fallback"),
          "Internal, for tests: the labels check() reads from a source line.");
    m.def("_number_text", [](py::object v) { return vs::to_num(v).str(); }, py::arg("value"),
          "Internal, for tests: a number in the text form used in expressions.");
}
