// The only code that talks to the `vapoursynth` Python module.
//
// Namespaces are looked up on the current core; a missing one is loaded from
// our own plugins first. Calls take positional and keyword arguments and leave
// out keywords whose value is None so that the plugin's default applies.
#pragma once

#include <pybind11/pybind11.h>

#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "vs/num.h"

namespace orvo::vs {

namespace py = pybind11;

using Kw = std::pair<const char *, py::object>;

// The imported `vapoursynth` module (cached).
py::module_ module();
// `vs.core` (the proxy of the current environment's core).
py::object core();
// A constant of the module, e.g. attr("GRAY") or attr("INTEGER").
py::object attr(const char *name);

// Namespace `ns` of the core: our own plugin is loaded when the core lacks it,
// and `nnedi3` falls back to `znedi3`. Raises AttributeError when unavailable.
py::object ns(const std::string &name);
// Function `fn` of namespace `ns`.
py::object fn(const std::string &ns_name, const std::string &fn_name);
// Whether the namespace exists now or can be loaded.
bool has_ns(const std::string &name);

// Calls a function object with keywords whose value is None left out.
py::object call_object(const py::object &fn, const std::vector<py::object> &pos, const std::vector<Kw> &kw);
// Whether `obj` has attribute `name` (only AttributeError counts as "no").
bool has_attr(const py::object &obj, const char *name);

// Calls ns.fn(*pos, **kw) leaving out keywords whose value is None. For the
// resizers, the *_in arguments given win over the input's frame properties.
py::object call(const std::string &ns_name, const std::string &fn_name, std::initializer_list<py::object> pos,
                std::initializer_list<Kw> kw = {});
py::object call(const std::string &ns_name, const std::string &fn_name, const std::vector<py::object> &pos,
                const std::vector<Kw> &kw);

// ToYUV / ToRGB of the sibling module, bound when orvolib is imported.
void set_sibling(py::object to_yuv, py::object to_rgb);
py::object sibling(const std::string &name, py::object clip, const std::vector<Kw> &kw);

// Host truth value of an object (its __bool__), errors propagated.
bool truthy(py::handle obj);
// A list of ints, e.g. a plane list or a convolution matrix.
py::list int_list(std::initializer_list<int> values);
// The host's float() of an argument; a non-number raises TypeError naming
// `func` and the argument `name`.
double real_arg(const std::string &func, py::handle v, const char *name);
// Raises a host exception of `type` with `text`.
[[noreturn]] void raise(PyObject *type, const std::string &text);

// Type recognition.
bool is_clip(py::handle obj);
bool is_int(py::handle obj); // an int, bools included
bool is_number(py::handle obj);

// A host number from a Python int or float.
Num to_num(py::handle obj);
py::object from_num(const Num &n);

// Format facts of a clip.
struct Format {
    int id = 0;
    std::string name;
    int color_family = 0; // vs.GRAY/RGB/YUV values
    int sample_type = 0;  // 0 integer, 1 float
    int bits = 0;
    int bytes = 0;
    int ssw = 0, ssh = 0;
    int num_planes = 0;
};
Format format_of(py::handle clip);
int gray_family();
int rgb_family();
int yuv_family();
// The format id for these facts (the current replacement of register_format).
int query_format(int color_family, int sample_type, int bits, int ssw, int ssh);

// Exceptions of the host's types with "funcName: ..." messages.
[[noreturn]] void type_error(const std::string &func, const std::string &text);
[[noreturn]] void value_error(const std::string &func, const std::string &text);

// Optional value as a Python object (None when empty).
template <class T>
py::object opt(const std::optional<T> &v) {
    return v ? py::object(py::cast(*v)) : py::object(py::none());
}

} // namespace orvo::vs
