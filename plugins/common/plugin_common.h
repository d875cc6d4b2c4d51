// Shared scaffolding of our VapourSynth plugins: node ownership, argument access,
// plane selection, the create-time error boundary and the per-plane frame loop.
#pragma once

#include <VSHelper4.h>
#include <VapourSynth4.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace orvo {

// Thrown while validating arguments; guarded_create prefixes the filter name.
struct ArgError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Owns one node reference.
class Node {
public:
    Node() = default;
    Node(VSNode *node, const VSAPI *api) : node_(node), api_(api) {}
    Node(const Node &) = delete;
    Node &operator=(const Node &) = delete;
    Node(Node &&o) noexcept : node_(std::exchange(o.node_, nullptr)), api_(o.api_) {}
    Node &operator=(Node &&o) noexcept {
        if (this != &o) {
            reset();
            node_ = std::exchange(o.node_, nullptr);
            api_ = o.api_;
        }
        return *this;
    }
    ~Node() { reset(); }

    void reset() {
        if (node_)
            api_->freeNode(node_);
        node_ = nullptr;
    }
    VSNode *get() const { return node_; }
    explicit operator bool() const { return node_ != nullptr; }
    const VSVideoInfo *vi() const { return api_->getVideoInfo(node_); }

private:
    VSNode *node_ = nullptr;
    const VSAPI *api_ = nullptr;
};

// Owns one frame reference (used on error paths of get-frame functions).
class FrameRef {
public:
    FrameRef(const VSFrame *f, const VSAPI *api) : f_(f), api_(api) {}
    FrameRef(const FrameRef &) = delete;
    FrameRef &operator=(const FrameRef &) = delete;
    ~FrameRef() {
        if (f_)
            api_->freeFrame(f_);
    }
    const VSFrame *get() const { return f_; }

private:
    const VSFrame *f_;
    const VSAPI *api_;
};

// The one source frame of a get-frame call: requested on the initial call,
// returned once ready; empty (no frame) otherwise.
inline FrameRef source_frame(int n, int activation, VSNode *node, VSFrameContext *ctx, const VSAPI *api) {
    if (activation == arInitial)
        api->requestFrameFilter(n, node, ctx);
    if (activation != arAllFramesReady)
        return FrameRef(nullptr, api);
    return FrameRef(api->getFrameFilter(n, node, ctx), api);
}

// Read access to the argument map of a create call.
class Args {
public:
    Args(const VSMap *in, const VSAPI *api) : in_(in), api_(api) {}

    int count(const char *key) const {
        int n = api_->mapNumElements(in_, key);
        return n < 0 ? 0 : n;
    }
    bool has(const char *key) const { return count(key) > 0; }

    int64_t get_int(const char *key, int64_t def, int index = 0) const {
        int err = 0;
        int64_t v = api_->mapGetInt(in_, key, index, &err);
        return err ? def : v;
    }
    double get_float(const char *key, double def, int index = 0) const {
        int err = 0;
        double v = api_->mapGetFloat(in_, key, index, &err);
        return err ? def : v;
    }
    bool get_bool(const char *key, bool def) const { return get_int(key, def ? 1 : 0) != 0; }
    std::string get_str(const char *key, const std::string &def) const {
        int err = 0;
        const char *v = api_->mapGetData(in_, key, 0, &err);
        return err || !v ? def : std::string(v);
    }
    std::vector<int64_t> ints(const char *key) const {
        std::vector<int64_t> v(count(key));
        for (size_t i = 0; i < v.size(); i++)
            v[i] = api_->mapGetInt(in_, key, int(i), nullptr);
        return v;
    }
    std::vector<double> floats(const char *key) const {
        std::vector<double> v(count(key));
        for (size_t i = 0; i < v.size(); i++)
            v[i] = api_->mapGetFloat(in_, key, int(i), nullptr);
        return v;
    }
    // Returns an empty Node when the (optional) clip argument is absent.
    Node node(const char *key) const {
        int err = 0;
        VSNode *n = api_->mapGetNode(in_, key, 0, &err);
        return err ? Node() : Node(n, api_);
    }
    // Refuses NaN and infinities in every float argument: no filter has a use
    // for them, and they turn into undefined conversions further down.
    void require_finite() const {
        for (int k = 0; k < api_->mapNumKeys(in_); k++) {
            const char *key = api_->mapGetKey(in_, k);
            if (api_->mapGetType(in_, key) != ptFloat)
                continue;
            const int n = count(key);
            for (int i = 0; i < n; i++) {
                const double v = api_->mapGetFloat(in_, key, i, nullptr);
                if (!std::isfinite(v))
                    throw ArgError(std::string(key) + (n > 1 ? "[" + std::to_string(i) + "]" : std::string()) +
                                   " must be a finite number, got " + (v != v ? "nan" : v > 0 ? "inf" : "-inf"));
            }
        }
    }

private:
    const VSMap *in_;
    const VSAPI *api_;
};

// Per-plane values: the last given value repeats; `def` when nothing is given.
// More values than planes is an error.
template <class T>
std::array<T, 3> per_plane(const std::vector<T> &v, int num_planes, T def, const char *key) {
    if (int(v.size()) > num_planes)
        throw ArgError(std::string(key) + " has more values than the clip has planes");
    std::array<T, 3> out{def, def, def};
    for (int i = 0; i < 3; i++)
        if (!v.empty())
            out[i] = v[size_t(std::min<int>(i, int(v.size()) - 1))];
    return out;
}

// `planes` as a list of plane indices; absent means all planes.
inline std::array<bool, 3> parse_planes(const Args &args, const char *key, int num_planes) {
    std::array<bool, 3> process{false, false, false};
    if (!args.has(key)) {
        for (int i = 0; i < num_planes; i++)
            process[i] = true;
        return process;
    }
    for (int64_t p : args.ints(key)) {
        if (p < 0 || p >= num_planes)
            throw ArgError("plane index " + std::to_string(p) + " is out of range [0, " + std::to_string(num_planes) + ")");
        if (process[p])
            throw ArgError("plane " + std::to_string(p) + " is specified twice");
        process[p] = true;
    }
    return process;
}

inline bool is_constant_format(const VSVideoInfo *vi) {
    return vi->format.colorFamily != cfUndefined && vi->width > 0 && vi->height > 0;
}

// Constant format, integer 8-16 bit, or 32-bit float when allowed.
inline void require_format(const VSVideoInfo *vi, bool allow_float) {
    if (!is_constant_format(vi))
        throw ArgError("only constant format and size input is supported");
    const VSVideoFormat &f = vi->format;
    bool ok_int = f.sampleType == stInteger && f.bitsPerSample >= 8 && f.bitsPerSample <= 16;
    bool ok_float = allow_float && f.sampleType == stFloat && f.bitsPerSample == 32;
    if (!ok_int && !ok_float)
        throw ArgError(allow_float ? "only 8-16 bit integer or 32 bit float input is supported"
                                   : "only 8-16 bit integer input is supported");
}

inline bool same_format_and_size(const VSVideoInfo *a, const VSVideoInfo *b) {
    return a->width == b->width && a->height == b->height && a->format.colorFamily == b->format.colorFamily &&
           a->format.sampleType == b->format.sampleType && a->format.bitsPerSample == b->format.bitsPerSample &&
           a->format.subSamplingW == b->format.subSamplingW && a->format.subSamplingH == b->format.subSamplingH;
}

inline int plane_width(const VSVideoInfo *vi, int plane) {
    return plane ? (vi->width >> vi->format.subSamplingW) : vi->width;
}
inline int plane_height(const VSVideoInfo *vi, int plane) {
    return plane ? (vi->height >> vi->format.subSamplingH) : vi->height;
}

// Runs `body` and turns any exception into the filter's error: "Name: message".
template <class F>
void guarded_create(const char *name, VSMap *out, const VSAPI *api, F &&body) {
    try {
        body();
    } catch (const ArgError &e) {
        api->mapSetError(out, (std::string(name) + ": " + e.what()).c_str());
    } catch (const std::bad_alloc &) {
        api->mapSetError(out, (std::string(name) + ": out of memory").c_str());
    } catch (const std::exception &e) {
        api->mapSetError(out, (std::string(name) + ": " + e.what()).c_str());
    }
}

template <class D>
void VS_CC free_filter(void *instance, VSCore *, const VSAPI *) {
    delete static_cast<D *>(instance);
}

// A new frame for `src`'s format where the planes not processed are shared
// with `src` (no copy); processed planes are left for the caller to fill.
inline VSFrame *new_frame_sharing(const VSFrame *src, const std::array<bool, 3> &process, VSCore *core,
                                  const VSAPI *api, const VSVideoFormat *fmt = nullptr, int width = -1,
                                  int height = -1) {
    const VSVideoFormat *f = fmt ? fmt : api->getVideoFrameFormat(src);
    int w = width > 0 ? width : api->getFrameWidth(src, 0);
    int h = height > 0 ? height : api->getFrameHeight(src, 0);
    const VSFrame *plane_src[3] = {nullptr, nullptr, nullptr};
    int planes[3] = {0, 1, 2};
    for (int p = 0; p < f->numPlanes; p++)
        plane_src[p] = process[p] ? nullptr : src;
    return api->newVideoFrame2(f, w, h, plane_src, planes, src, core);
}

// Creates a filter from `data` (ownership passes to the core) with the given dependencies.
template <class D>
void create_video_filter(VSMap *out, const char *name, const VSVideoInfo *vi, VSFilterGetFrame get_frame,
                         D *data, std::vector<VSNode *> deps, VSCore *core, const VSAPI *api,
                         int mode = fmParallel) {
    std::vector<VSFilterDependency> d;
    for (VSNode *n : deps)
        d.push_back({n, rpStrictSpatial});
    api->createVideoFilter(out, name, vi, get_frame, free_filter<D>, mode, d.data(), int(d.size()), data, core);
}

} // namespace orvo
