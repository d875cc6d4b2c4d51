#include "vs/num.h"

#include <pybind11/pybind11.h>

#include <cmath>
#include <limits>

namespace orvo {

namespace py = pybind11;

namespace {
[[noreturn]] void zero_division(const char *text) {
    PyErr_SetString(PyExc_ZeroDivisionError, text);
    throw py::error_already_set();
}

py::object checked(PyObject *result) {
    if (!result)
        throw py::error_already_set();
    return py::reinterpret_steal<py::object>(result);
}

// The host's object for a number, and back.
py::object host(const Num &n) {
    if (n.is_big())
        return checked(PyLong_FromString(n.str().c_str(), nullptr, 10));
    return n.is_int() ? py::object(py::int_(n.i())) : py::object(py::float_(n.f()));
}

Num from_host(const py::object &o) {
    if (!PyLong_Check(o.ptr()))
        return Num(py::cast<double>(o));
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(o.ptr(), &overflow);
    if (overflow)
        return Num::integer(std::string(py::str(o)));
    if (v == -1 && PyErr_Occurred())
        throw py::error_already_set();
    return Num(int64_t(v));
}

// Ints beyond 64 bits, and results that would leave them, go through the host's own arithmetic.
Num host_op(PyObject *(*op)(PyObject *, PyObject *), const Num &a, const Num &b) {
    return from_host(checked(op(host(a).ptr(), host(b).ptr())));
}

// Above 2^53 an int converts to float inexactly; the host divides exactly.
bool exact_in_double(int64_t v) { return v >= -(int64_t(1) << 53) && v <= (int64_t(1) << 53); }
} // namespace

std::string float_text(double v) {
    // The interpreter's own repr conversion, so the text is exactly the host's.
    char *s = PyOS_double_to_string(v, 'r', 0, Py_DTSF_ADD_DOT_0, nullptr);
    if (!s)
        throw std::bad_alloc();
    std::string out(s);
    PyMem_Free(s);
    return out;
}

Num Num::integer(const std::string &decimal) {
    py::object o = checked(PyLong_FromString(decimal.c_str(), nullptr, 10));
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(o.ptr(), &overflow);
    if (!overflow)
        return Num(int64_t(v));
    Num n;
    n.big_ = std::string(py::str(o));
    n.i_ = overflow > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
    n.f_ = PyLong_AsDouble(o.ptr());
    if (n.f_ == -1.0 && PyErr_Occurred()) { // beyond the float range
        PyErr_Clear();
        n.f_ = overflow * std::numeric_limits<double>::infinity();
    }
    return n;
}

std::string Num::str() const {
    if (is_big())
        return big_;
    return is_int_ ? std::to_string(i_) : float_text(f_);
}

int Num::compare_big(const Num &a, const Num &b) {
    const py::object x = host(a), y = host(b);
    if (PyObject_RichCompareBool(x.ptr(), y.ptr(), Py_EQ) == 1)
        return 0;
    if (PyObject_RichCompareBool(x.ptr(), y.ptr(), Py_LT) == 1)
        return -1;
    if (PyObject_RichCompareBool(x.ptr(), y.ptr(), Py_GT) == 1)
        return 1;
    if (PyErr_Occurred())
        throw py::error_already_set();
    return 2;
}

Num operator+(const Num &a, const Num &b) {
    int64_t r;
    if (a.is_big() || b.is_big() || (a.is_int_ && b.is_int_ && __builtin_add_overflow(a.i_, b.i_, &r)))
        return host_op(PyNumber_Add, a, b);
    return a.is_int_ && b.is_int_ ? Num(r) : Num(a.f_ + b.f_);
}

Num operator-(const Num &a, const Num &b) {
    int64_t r;
    if (a.is_big() || b.is_big() || (a.is_int_ && b.is_int_ && __builtin_sub_overflow(a.i_, b.i_, &r)))
        return host_op(PyNumber_Subtract, a, b);
    return a.is_int_ && b.is_int_ ? Num(r) : Num(a.f_ - b.f_);
}

Num operator*(const Num &a, const Num &b) {
    int64_t r;
    if (a.is_big() || b.is_big() || (a.is_int_ && b.is_int_ && __builtin_mul_overflow(a.i_, b.i_, &r)))
        return host_op(PyNumber_Multiply, a, b);
    return a.is_int_ && b.is_int_ ? Num(r) : Num(a.f_ * b.f_);
}

Num operator/(const Num &a, const Num &b) {
    if (a.is_big() || b.is_big() ||
        (a.is_int_ && b.is_int_ && !(exact_in_double(a.i_) && exact_in_double(b.i_))))
        return host_op(PyNumber_TrueDivide, a, b);
    if (b.f_ == 0.0)
        zero_division(a.is_int_ && b.is_int_ ? "division by zero" : "float division by zero");
    if (a.is_int_ && b.is_int_) {
        // Both exact in double, so the quotient is correctly rounded like the host's.
        return Num(double(a.i_) / double(b.i_));
    }
    return Num(a.f_ / b.f_);
}

Num operator-(const Num &a) {
    if (a.is_big() || (a.is_int_ && a.i_ == std::numeric_limits<int64_t>::min()))
        return from_host(checked(PyNumber_Negative(host(a).ptr())));
    return a.is_int_ ? Num(-a.i_) : Num(-a.f_);
}

Num Num::floordiv(const Num &b) const {
    if (is_big() || b.is_big() || (is_int_ && b.is_int_ && i_ == std::numeric_limits<int64_t>::min() && b.i_ == -1))
        return host_op(PyNumber_FloorDivide, *this, b);
    if (b.f_ == 0.0)
        zero_division(is_int_ && b.is_int_ ? "integer division or modulo by zero" : "float floor division by zero");
    if (is_int_ && b.is_int_) {
        int64_t q = i_ / b.i_;
        if ((i_ % b.i_ != 0) && ((i_ < 0) != (b.i_ < 0)))
            q--;
        return Num(q);
    }
    return Num(std::floor(f_ / b.f_));
}

Num Num::pow(const Num &b) const {
    if (is_int_ && b.is_int_ && !is_big() && !b.is_big() && b.i_ >= 0) {
        if (i_ == 0 || i_ == 1 || i_ == -1)
            return Num(b.i_ == 0 ? int64_t(1) : i_ == -1 && (b.i_ & 1) == 0 ? int64_t(1) : i_);
        int64_t r = 1;
        bool overflow = false;
        for (int64_t k = 0; k < b.i_ && !overflow; k++) // |i_| >= 2: overflows within 64 steps
            overflow = __builtin_mul_overflow(r, i_, &r);
        if (!overflow)
            return Num(r);
    }
    if (is_big() || b.is_big() || (is_int_ && b.is_int_ && b.i_ >= 0))
        return from_host(checked(PyNumber_Power(host(*this).ptr(), host(b).ptr(), Py_None)));
    return Num(std::pow(f_, b.f_));
}

} // namespace orvo
