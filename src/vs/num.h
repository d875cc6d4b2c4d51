// A host number: an int or a float with the host's arithmetic and text form.
//
// Expression texts are built from numbers whose printed form depends on whether
// the host would hold an int ("256") or a float ("256.0"), so helpers compute
// with Num wherever the kind of a value reaches a template.
#pragma once

#include <cstdint>
#include <string>

namespace orvo {

class Num {
public:
    Num() = default;
    Num(int v) : is_int_(true), i_(v), f_(v) {}
    Num(int64_t v) : is_int_(true), i_(v), f_(double(v)) {}
    Num(double v) : is_int_(false), i_(0), f_(v) {}

    static Num integer(int64_t v) { return Num(v); }
    static Num real(double v) { return Num(v); }
    // An int of any size from its decimal text; one beyond 64 bits is kept exact
    // and its arithmetic is the host's own.
    static Num integer(const std::string &decimal);

    bool is_int() const { return is_int_; }
    // An int beyond 64 bits: i() saturates and f() is the nearest float (or an infinity).
    bool is_big() const { return !big_.empty(); }
    int64_t i() const { return is_int_ ? i_ : int64_t(f_); }
    double f() const { return f_; }

    // The host's default text form: "256", "256.0", "1.783675799086758e-05".
    std::string str() const;

    friend Num operator+(const Num &a, const Num &b);
    friend Num operator-(const Num &a, const Num &b);
    friend Num operator*(const Num &a, const Num &b);
    friend Num operator/(const Num &a, const Num &b); // true division: always a float
    friend Num operator-(const Num &a);
    friend bool operator==(const Num &a, const Num &b) {
        if (a.is_big() || b.is_big())
            return compare_big(a, b) == 0;
        return a.f_ == b.f_ && (!a.is_int_ || !b.is_int_ || a.i_ == b.i_);
    }
    friend bool operator!=(const Num &a, const Num &b) { return !(a == b); }
    friend bool operator<(const Num &a, const Num &b) {
        if (a.is_big() || b.is_big())
            return compare_big(a, b) < 0;
        return a.is_int_ && b.is_int_ ? a.i_ < b.i_ : a.f_ < b.f_;
    }
    friend bool operator>(const Num &a, const Num &b) { return b < a; }
    friend bool operator<=(const Num &a, const Num &b) { return !(b < a); }
    friend bool operator>=(const Num &a, const Num &b) { return !(a < b); }

    // Floor division and power with the host's int/float rules.
    Num floordiv(const Num &b) const;
    Num pow(const Num &b) const;

private:
    // -1, 0 or 1 by the host's comparison; 2 when unordered (NaN).
    static int compare_big(const Num &a, const Num &b);

    bool is_int_ = true;
    int64_t i_ = 0;
    double f_ = 0.0;
    std::string big_; // decimal text of an int beyond 64 bits, else empty
};

// Text form of a float as the host prints it (shortest round trip, ".0" kept).
std::string float_text(double v);

} // namespace orvo
