#include "module/bindings.h"
#include "tools/check.h"

namespace orvo {

namespace {

// The source line of the Python code that called check, for its labels.
std::string caller_line() {
    py::module_ inspect = py::module_::import("inspect");
    py::object frame = inspect.attr("currentframe")();
    if (frame.is_none())
        return "";
    py::object context = inspect.attr("getframeinfo")(frame)[py::int_(3)];
    if (context.is_none() || py::len(context) == 0)
        return "";
    return context[py::int_(0)].cast<std::string>();
}

py::object check_entry(Context &ctx, py::object clipa, py::args clipbs, py::kwargs kwargs) {
    std::vector<py::object> rest;
    if (!vs::is_clip(clipa))
        throw py::type_error("Input attributes should all be type of vs.VideoNode");
    for (py::handle c : clipbs) {
        if (!vs::is_clip(c))
            throw py::type_error("Input attributes should all be type of vs.VideoNode");
        rest.push_back(py::reinterpret_borrow<py::object>(c));
    }
    bool mode_1_flag = kwargs.contains("mode") && !py::object(kwargs["mode"]).equal(py::int_(0));
    std::vector<std::string> labels;
    if (!mode_1_flag) {
        std::string fallback = py::str(clipa).cast<std::string>();
        std::string line;
        try {
            line = caller_line();
        } catch (py::error_already_set &) {
            line.clear();
        }
        labels = check_labels(line, fallback);
    }
    return check(ctx, clipa, rest, mode_1_flag, labels);
}

} // namespace

void bind_tools(ContextClass &cls) {
    cls.def("check", &check_entry, py::arg("clipa"));
    cls.def("diff", &diff, py::arg("clipa"), py::arg("clipb"), py::arg("amp") = py::int_(10),
            py::arg("planes") = py::none(), py::arg("binarize") = py::bool_(false),
            py::arg("maskedmerge") = py::bool_(false));
}

} // namespace orvo
