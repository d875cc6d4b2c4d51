#include "vs/vs.h"

#include <stdexcept>

namespace orvo::vs {

py::module_ module() {
    static py::module_ *mod = new py::module_(py::module_::import("vapoursynth"));
    return *mod;
}

py::object core() { return module().attr("core"); }

py::object attr(const char *name) { return module().attr(name); }

bool has_attr(const py::object &obj, const char *name) {
    PyObject *v = PyObject_GetAttrString(obj.ptr(), name);
    if (v) {
        Py_DECREF(v);
        return true;
    }
    if (!PyErr_ExceptionMatches(PyExc_AttributeError))
        throw py::error_already_set();
    PyErr_Clear();
    return false;
}

py::object call_object(const py::object &fn, const std::vector<py::object> &pos, const std::vector<Kw> &kw) {
    py::tuple args(pos.size());
    for (size_t i = 0; i < pos.size(); i++)
        args[i] = pos[i];
    py::dict kwargs;
    for (const auto &[key, value] : kw)
        if (value && !value.is_none())
            kwargs[key] = value;
    return fn(*args, **kwargs);
}

py::object ns(const std::string &name) {
    py::object c = core();
    if (has_attr(c, name.c_str()))
        return c.attr(name.c_str());
    if (name == "nnedi3" && has_attr(c, "znedi3"))
        return c.attr("znedi3");
    // Our own plugin for a namespace the core lacks.
    py::module_::import("orvo.plugins").attr("ensure")(name, c);
    return c.attr(name.c_str());
}

bool has_ns(const std::string &name) {
    try {
        ns(name);
        return true;
    } catch (py::error_already_set &e) {
        if (!e.matches(PyExc_AttributeError))
            throw;
        return false;
    }
}

py::object fn(const std::string &ns_name, const std::string &fn_name) {
    return ns(ns_name).attr(fn_name.c_str());
}

namespace {

// The resizer lets the input's colour properties override its *_in arguments
// (the old prefer_props=True, now the only rule). Our callers mean the argument
// to win, so the properties they name are removed from the input first.
py::list props_named_by(const std::vector<Kw> &kw) {
    static const std::pair<const char *, const char *> names[] = {
        {"matrix_in", "_Matrix"},       {"transfer_in", "_Transfer"}, {"primaries_in", "_Primaries"},
        {"range_in", "_Range"},         {"chromaloc_in", "_ChromaLocation"}};
    py::list props;
    for (const auto &[key, value] : kw) {
        if (!value || value.is_none())
            continue;
        std::string k = key;
        if (k.size() > 2 && k.compare(k.size() - 2, 2, "_s") == 0)
            k.resize(k.size() - 2);
        for (const auto &[arg, prop] : names)
            if (k == arg)
                props.append(prop);
    }
    return props;
}

} // namespace

py::object call(const std::string &ns_name, const std::string &fn_name, const std::vector<py::object> &pos,
                const std::vector<Kw> &kw) {
    if (ns_name == "resize" && !pos.empty() && is_clip(pos[0])) {
        py::list props = props_named_by(kw);
        if (!props.empty()) {
            std::vector<py::object> args = pos;
            args[0] = call_object(fn("std", "RemoveFrameProps"), {pos[0]}, {{"props", props}});
            return call_object(fn(ns_name, fn_name), args, kw);
        }
    }
    return call_object(fn(ns_name, fn_name), pos, kw);
}

py::object call(const std::string &ns_name, const std::string &fn_name, std::initializer_list<py::object> pos,
                std::initializer_list<Kw> kw) {
    return call(ns_name, fn_name, std::vector<py::object>(pos), std::vector<Kw>(kw));
}

namespace {
py::object *to_yuv_fn = nullptr;
py::object *to_rgb_fn = nullptr;
} // namespace

void set_sibling(py::object to_yuv, py::object to_rgb) {
    // Kept for the life of the process, like the module's own bindings.
    to_yuv_fn = new py::object(std::move(to_yuv));
    to_rgb_fn = new py::object(std::move(to_rgb));
}

py::object sibling(const std::string &name, py::object clip, const std::vector<Kw> &kw) {
    py::object *f = name == "ToYUV" ? to_yuv_fn : name == "ToRGB" ? to_rgb_fn : nullptr;
    if (!f)
        throw std::logic_error("sibling conversion " + name + " is not bound");
    return call_object(*f, {clip}, kw);
}

bool is_clip(py::handle obj) { return py::isinstance(obj, module().attr("VideoNode")); }

bool is_int(py::handle obj) { return PyLong_Check(obj.ptr()); }

bool is_number(py::handle obj) { return PyLong_Check(obj.ptr()) || PyFloat_Check(obj.ptr()); }

Num to_num(py::handle obj) {
    if (PyLong_Check(obj.ptr())) {
        int overflow = 0;
        const long long v = PyLong_AsLongLongAndOverflow(obj.ptr(), &overflow);
        if (overflow) // kept exact, as the host keeps it
            return Num::integer(std::string(py::str(obj)));
        if (v == -1 && PyErr_Occurred())
            throw py::error_already_set();
        return Num(int64_t(v));
    }
    return Num(py::cast<double>(py::float_(py::reinterpret_borrow<py::object>(obj))));
}

py::object from_num(const Num &n) {
    if (n.is_big())
        return py::reinterpret_steal<py::object>(PyLong_FromString(n.str().c_str(), nullptr, 10));
    return n.is_int() ? py::object(py::int_(n.i())) : py::object(py::float_(n.f()));
}

Format format_of(py::handle clip) {
    py::object f = clip.attr("format");
    Format out;
    out.id = f.attr("id").cast<int>();
    out.name = f.attr("name").cast<std::string>();
    out.color_family = f.attr("color_family").cast<int>();
    out.sample_type = f.attr("sample_type").cast<int>();
    out.bits = f.attr("bits_per_sample").cast<int>();
    out.bytes = f.attr("bytes_per_sample").cast<int>();
    out.ssw = f.attr("subsampling_w").cast<int>();
    out.ssh = f.attr("subsampling_h").cast<int>();
    out.num_planes = f.attr("num_planes").cast<int>();
    return out;
}

int gray_family() { return attr("GRAY").cast<int>(); }
int rgb_family() { return attr("RGB").cast<int>(); }
int yuv_family() { return attr("YUV").cast<int>(); }

int query_format(int color_family, int sample_type, int bits, int ssw, int ssh) {
    return core().attr("query_video_format")(color_family, sample_type, bits, ssw, ssh).attr("id").cast<int>();
}

bool truthy(py::handle obj) {
    const int r = PyObject_IsTrue(obj.ptr());
    if (r < 0)
        throw py::error_already_set();
    return r != 0;
}

py::list int_list(std::initializer_list<int> values) {
    py::list out;
    for (int v : values)
        out.append(v);
    return out;
}

double real_arg(const std::string &func, py::handle v, const char *name) {
    const double d = PyFloat_AsDouble(v.ptr());
    if (d == -1.0 && PyErr_Occurred()) {
        if (!PyErr_ExceptionMatches(PyExc_TypeError))
            throw py::error_already_set();
        PyErr_Clear();
        type_error(func, std::string(": \"") + name + "\" must be an int or a float, not " +
                             py::str(py::type::handle_of(v).attr("__name__")).cast<std::string>());
    }
    return d;
}

void raise(PyObject *type, const std::string &text) {
    PyErr_SetString(type, text.c_str());
    throw py::error_already_set();
}

void type_error(const std::string &func, const std::string &text) { throw py::type_error(func + text); }

void value_error(const std::string &func, const std::string &text) { throw py::value_error(func + text); }

} // namespace orvo::vs
