#include "filters/deband.h"

#include <cmath>
#include <mutex>
#include <vector>

#include "ops/limit_filter.h"

namespace orvo {

namespace {

const char *const kFunc = "dbmbk_light";

using vs::raise;

double real(py::handle v, const char *name) { return vs::real_arg(kFunc, v, name); }

py::dict copy(const py::dict &d) { return py::reinterpret_steal<py::dict>(PyDict_Copy(d.ptr())); }

// Graphs built for a strength are kept for the frames that follow: the average
// luma of neighbouring frames is close, so strengths repeat.
constexpr size_t kCachedGraphs = 16;

// Everything the per-frame function reads. Fixed once the graph is built,
// except the cache of finished graphs, which has its own lock.
class DebandPlan {
public:
    ContextPtr ctx;
    py::object clip;
    py::dict base; // f3kdb arguments with y, cb and cr at their base values
    BezierCurve curve;
    double amp = 1.0;
    bool chroma_follows = false;
    double ratio_cb = 0, ratio_cr = 0; // base cb and cr over base y
    bool second_pass = true;
    py::object range1, range2, thr, thc, est;

    py::object frame(py::handle props_frame) {
        py::object props = py::reinterpret_borrow<py::object>(props_frame).attr("props");
        const double average = real(props["propsAverage"], "propsAverage");
        return passes(strength(curve.y(curve.t_for(average)) * amp + 0.5));
    }

private:
    struct Entry {
        int64_t y;
        py::object node;
        uint64_t used;
    };
    // The lock is never held across a call into the host: building a node
    // releases the interpreter lock, and another frame may then come in.
    std::mutex mutex_;
    std::vector<Entry> cache_;
    uint64_t tick_ = 0;

    py::object cached(int64_t y) {
        for (Entry &e : cache_)
            if (e.y == y) {
                e.used = ++tick_;
                return e.node;
            }
        return py::object();
    }

    // cb and cr follow from y and the fixed base values, so y is the whole key.
    py::object passes(int64_t y) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (py::object node = cached(y))
                return node;
        }
        py::object node = build(y);
        py::object dropped; // released once the lock is gone
        std::lock_guard<std::mutex> lock(mutex_);
        if (py::object other = cached(y))
            return other;
        if (cache_.size() >= kCachedGraphs) {
            auto oldest = cache_.begin();
            for (auto it = cache_.begin(); it != cache_.end(); ++it)
                if (it->used < oldest->used)
                    oldest = it;
            dropped = std::move(oldest->node);
            cache_.erase(oldest);
        }
        cache_.push_back({y, node, ++tick_});
        return node;
    }

    py::object build(int64_t y) const {
        py::dict args = copy(base);
        args["y"] = py::int_(y);
        if (chroma_follows) {
            args["cb"] = py::int_(strength(ratio_cb * double(y)));
            args["cr"] = py::int_(strength(ratio_cr * double(y)));
        }
        py::object deband = vs::fn("f3kdb", "Deband");
        args["range"] = range1;
        py::object dbed = deband(clip, **args);
        if (second_pass) {
            // Products as they are: the plugin's integer parameters truncate them.
            py::dict weaker = copy(args);
            for (const char *key : {"y", "cb", "cr"})
                weaker[key] = py::object(args[key]) * py::float_(0.7);
            weaker["range"] = range2;
            dbed = deband(dbed, **weaker);
        }
        py::list planes;
        for (int p : {0, 1, 2})
            planes.append(p);
        return LimitFilter(*ctx, dbed, clip, py::none(), thr, est, py::none(), thc, py::none(), planes);
    }
};

// min(max(v, 0), 128) with the host's choice of operand.
py::object plot_ordinate(double v) {
    if (0 > v)
        return py::int_(0);
    if (128 < v)
        return py::int_(128);
    return py::float_(v);
}

void plot_curve(const BezierCurve &curve, double amp) {
    py::object plt;
    try {
        plt = py::module_::import("matplotlib.pyplot");
    } catch (py::error_already_set &e) {
        if (!e.matches(PyExc_Exception))
            throw;
        throw py::value_error("Matplotlib is required to run this function");
    }
    py::list xs, ys;
    for (int i = 0; i < 1000; i++) {
        const double x = double(i) / 1000;
        xs.append(x);
        ys.append(plot_ordinate(curve.y(curve.t_for(x)) * amp));
    }
    plt.attr("plot")(xs, ys);
    py::list axis;
    for (int v : {0, 1, 0, 128})
        axis.append(v);
    plt.attr("axis")(axis);
    plt.attr("show")();
}

} // namespace

double BezierCurve::x(double t) const { return 2 * anc_x * t * (1 - t) + std::pow(t, 2.0); }

double BezierCurve::y(double t) const {
    return left * std::pow(1 - t, 2.0) + 2 * anc_y * t * (1 - t) + right * std::pow(t, 2.0);
}

double BezierCurve::t_for(double abscissa) const {
    double t = 0, last = 0;
    while (t <= 1) {
        if (std::fabs(x(t) - abscissa) < accur)
            return t;
        last = t;
        t += accur;
    }
    return last;
}

int64_t strength(double v) {
    if (std::isnan(v))
        raise(PyExc_ValueError, std::string(kFunc) + ": cannot convert float NaN to an integer strength");
    if (std::isinf(v))
        raise(PyExc_OverflowError, std::string(kFunc) + ": cannot convert float infinity to an integer strength");
    const double t = std::trunc(v);
    return t <= 0 ? 0 : t >= 128 ? 128 : int64_t(t);
}

py::object dbmbk_light(const ContextPtr &ctx, py::object clip, py::object left, py::object right, py::object anc_x,
                       py::object anc_y, py::object accur, py::object amp, py::object dbsty, py::object dbstc,
                       py::object showcurve, py::object grainy, py::object grainc, py::object chroma, py::object tp,
                       py::object range1, py::object range2, py::object thr, py::object thc, py::object est,
                       py::dict f3kargs) {
    py::dict args = copy(f3kargs);
    args["output_depth"] = clip.attr("format").attr("bits_per_sample");
    args["grainy"] = grainy;
    args["grainc"] = grainc;
    auto base_value = [&](const char *key, py::object fallback) {
        if (!args.contains(key))
            args[key] = fallback;
        return py::object(args[key]);
    };
    const py::object f3k_y = base_value("y", dbsty);
    const py::object f3k_cb = base_value("cb", dbstc);
    const py::object f3k_cr = base_value("cr", dbstc);

    BezierCurve curve;
    curve.left = real(left, "left");
    curve.right = real(right, "right");
    curve.anc_x = real(anc_x, "anc_x");
    curve.anc_y = real(anc_y, "anc_y");
    curve.accur = real(accur, "accur");
    const double gain = real(amp, "amp");
    // The search steps by accur until t passes 1: without a positive step it never ends.
    if (!(curve.accur > 0))
        vs::value_error(kFunc, ": \"accur\" must be above 0, got " + py::repr(accur).cast<std::string>());

    if (PyObject_RichCompareBool(showcurve.ptr(), Py_True, Py_EQ) == 1) {
        plot_curve(curve, gain);
        return py::none();
    }
    if (PyErr_Occurred())
        throw py::error_already_set();

    if (args.contains("range"))
        vs::type_error(kFunc, ": \"range\" cannot be given: it collides with the ranges of the two passes, use "
                              "\"range1\" and \"range2\"");

    auto plan = std::make_shared<DebandPlan>();
    plan->ctx = ctx;
    plan->clip = clip;
    plan->base = args;
    plan->curve = curve;
    plan->amp = gain;
    plan->chroma_follows = chroma.ptr() == Py_True;
    if (plan->chroma_follows) {
        auto ratio = [&](const py::object &c) {
            PyObject *r = PyNumber_TrueDivide(c.ptr(), f3k_y.ptr());
            if (!r) {
                if (PyErr_ExceptionMatches(PyExc_ZeroDivisionError)) {
                    PyErr_Clear();
                    raise(PyExc_ZeroDivisionError,
                          std::string(kFunc) + ": the base luma strength \"y\" is 0, so cb and cr cannot follow the "
                                               "luma strength (give \"y\" above 0, or chroma=False)");
                }
                throw py::error_already_set();
            }
            return real(py::reinterpret_steal<py::object>(r), "cb");
        };
        plan->ratio_cb = ratio(f3k_cb);
        plan->ratio_cr = ratio(f3k_cr);
    }
    const int truth = PyObject_IsTrue(tp.ptr());
    if (truth < 0)
        throw py::error_already_set();
    plan->second_pass = truth != 0;
    plan->range1 = range1;
    plan->range2 = range2;
    plan->thr = thr;
    plan->thc = thc;
    plan->est = est;

    py::object props_clip = vs::call("std", "PlaneStats", {clip}, {{"plane", py::int_(0)}, {"prop", py::str("props")}});
    // Shared ownership: the function keeps the context and the plan alive as
    // long as the FrameEval node holds it, and nothing holds the node back.
    py::cpp_function eval([plan](py::object, py::object f) { return plan->frame(f); }, py::arg("n"), py::arg("f"));
    return vs::call("std", "FrameEval", {clip, eval}, {{"prop_src", props_clip}});
}

} // namespace orvo
