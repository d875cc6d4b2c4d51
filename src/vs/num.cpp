#include "vs/num.h"

#include <pybind11/pybind11.h>

#include <cmath>

namespace orvo {

namespace {
[[noreturn]] void zero_division(const char *text) {
    PyErr_SetString(PyExc_ZeroDivisionError, text);
    throw pybind11::error_already_set();
}
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

std::string Num::str() const { return is_int_ ? std::to_string(i_) : float_text(f_); }

Num operator+(const Num &a, const Num &b) {
    return a.is_int_ && b.is_int_ ? Num(a.i_ + b.i_) : Num(a.f_ + b.f_);
}

Num operator-(const Num &a, const Num &b) {
    return a.is_int_ && b.is_int_ ? Num(a.i_ - b.i_) : Num(a.f_ - b.f_);
}

Num operator*(const Num &a, const Num &b) {
    return a.is_int_ && b.is_int_ ? Num(a.i_ * b.i_) : Num(a.f_ * b.f_);
}

Num operator/(const Num &a, const Num &b) {
    if (b.f_ == 0.0)
        zero_division(a.is_int_ && b.is_int_ ? "division by zero" : "float division by zero");
    if (a.is_int_ && b.is_int_) {
        // Exact int / int like the host: correctly rounded from the exact quotient.
        return Num(double(a.i_) / double(b.i_));
    }
    return Num(a.f_ / b.f_);
}

Num operator-(const Num &a) { return a.is_int_ ? Num(-a.i_) : Num(-a.f_); }

Num Num::floordiv(const Num &b) const {
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
    if (is_int_ && b.is_int_ && b.i_ >= 0) {
        int64_t r = 1;
        for (int64_t k = 0; k < b.i_; k++)
            r *= i_;
        return Num(r);
    }
    return Num(std::pow(f_, b.f_));
}

} // namespace orvo
