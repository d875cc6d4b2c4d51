// tcanny.TCanny: Gaussian blur, gradient magnitude or thin binary edges.
#include "cpu.h"
#include "kernel.h"
#include "plugin_common.h"

#include <cmath>
#include <cstdio>
#include <memory>
#include <mutex>

namespace {

using namespace orvo;
namespace tc = orvo::tcanny;

// Scratch memory reused across frames: one workspace per frame in flight, kept
// until the filter is freed (fresh allocations each frame cost page faults).
class WorkspacePool {
public:
    std::unique_ptr<tc::Workspace> take() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (free_.empty())
            return std::make_unique<tc::Workspace>();
        auto ws = std::move(free_.back());
        free_.pop_back();
        return ws;
    }
    // Never throws: a workspace that cannot be kept is dropped.
    void give(std::unique_ptr<tc::Workspace> ws) noexcept {
        try {
            std::lock_guard<std::mutex> lock(mutex_);
            free_.push_back(std::move(ws));
        } catch (...) {
        }
    }

private:
    std::mutex mutex_;
    std::vector<std::unique_ptr<tc::Workspace>> free_;
};

struct TCannyData {
    Node node;
    WorkspacePool pool;
    const VSVideoInfo *vi = nullptr;
    std::array<bool, 3> process{};
    std::array<std::vector<float>, 3> taps_h, taps_v;
    std::array<tc::PlaneJob, 3> jobs{};
    const tc::RowKernels *kernels = nullptr;
};

std::string num(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%g", v);
    return buf;
}

const VSFrame *VS_CC tcanny_get_frame(int n, int reason, void *instance, void **, VSFrameContext *ctx, VSCore *core,
                                      const VSAPI *api) {
    auto *d = static_cast<TCannyData *>(instance);
    FrameRef src = source_frame(n, reason, d->node.get(), ctx, api);
    if (!src.get())
        return nullptr;
    VSFrame *dst = new_frame_sharing(src.get(), d->process, core, api);
    const VSVideoFormat &f = d->vi->format;
    std::unique_ptr<tc::Workspace> held;
    try {
        held = d->pool.take();
        tc::Workspace &ws = *held;
        for (int p = 0; p < f.numPlanes; p++) {
            if (!d->process[p])
                continue;
            const tc::PlaneJob &job = d->jobs[p];
            ws.prepare(job);
            const uint8_t *s = api->getReadPtr(src.get(), p);
            uint8_t *o = api->getWritePtr(dst, p);
            const ptrdiff_t ss = api->getStride(src.get(), p) / f.bytesPerSample;
            const ptrdiff_t ds = api->getStride(dst, p) / f.bytesPerSample;
            if (f.sampleType == stFloat)
                tc::process_plane_f32(reinterpret_cast<const float *>(s), ss, reinterpret_cast<float *>(o), ds, job,
                                      ws, *d->kernels);
            else if (f.bytesPerSample == 2)
                tc::process_plane_u16(reinterpret_cast<const uint16_t *>(s), ss, reinterpret_cast<uint16_t *>(o), ds,
                                      job, ws, *d->kernels);
            else
                tc::process_plane_u8(s, ss, o, ds, job, ws, *d->kernels);
        }
    } catch (const std::bad_alloc &) {
        api->freeFrame(dst);
        api->setFilterError("TCanny: out of memory", ctx);
        return nullptr; // the workspace is dropped with `held`
    } catch (const std::exception &e) {
        api->freeFrame(dst);
        api->setFilterError((std::string("TCanny: ") + e.what()).c_str(), ctx);
        return nullptr;
    }
    d->pool.give(std::move(held));
    return dst;
}

const char *const kPlaneNames[3] = {"first", "second", "third"};

void VS_CC tcanny_create(const VSMap *in, VSMap *out, void *, VSCore *core, const VSAPI *api) {
    guarded_create("TCanny", out, api, [&] {
        Args args(in, api);
        args.require_finite();
        auto d = std::make_unique<TCannyData>();
        d->node = args.node("clip");
        d->vi = d->node.vi();
        const VSVideoInfo *vi = d->vi;
        const VSVideoFormat &f = vi->format;

        if (!is_constant_format(vi) ||
            !((f.sampleType == stInteger && f.bitsPerSample >= 8 && f.bitsPerSample <= 16) ||
              (f.sampleType == stFloat && f.bitsPerSample == 32))) {
            std::string got = "variable format or size";
            if (is_constant_format(vi)) {
                char name[32] = {};
                api->getVideoFormatName(&f, name);
                got = name;
            }
            throw ArgError("only constant format 8-16 bit integer and 32 bit float input supported (got " + got + ")");
        }
        if (vi->height < 3)
            throw ArgError("clip's height must be at least 3 (it is " + std::to_string(vi->height) + ")");
        const int np = f.numPlanes;

        const std::vector<double> sigma = args.floats("sigma"), sigma_v = args.floats("sigma_v");
        if (int(sigma.size()) > np)
            throw ArgError("more sigma given than there are planes (" + std::to_string(sigma.size()) + " for " +
                           std::to_string(np) + ")");
        if (int(sigma_v.size()) > np)
            throw ArgError("more sigma_v given than there are planes (" + std::to_string(sigma_v.size()) + " for " +
                           std::to_string(np) + ")");

        // Empty or absent: every plane.
        const std::vector<int64_t> planes = args.ints("planes");
        for (int p = 0; p < 3; p++)
            d->process[p] = planes.empty() && p < np;
        for (int64_t p : planes) {
            if (p < 0 || p >= np)
                throw ArgError("plane index out of range (" + std::to_string(p) + "; the clip has " +
                               std::to_string(np) + " planes)");
            if (d->process[p])
                throw ArgError("plane specified twice (" + std::to_string(p) + ")");
            d->process[p] = true;
        }

        // Per-plane sigma: chroma defaults follow plane 0 divided by the subsampling,
        // and an explicit sigma also stands in for a missing sigma_v.
        std::array<double, 3> sh{}, sv{};
        for (int i = 0; i < np; i++) {
            if (i < int(sigma.size()))
                sh[i] = sigma[i];
            else
                sh[i] = i == 0 ? 1.5 : i == 1 ? sh[0] / double(1 << f.subSamplingW) : sh[1];
            if (i < int(sigma_v.size()))
                sv[i] = sigma_v[i];
            else if (i < int(sigma.size()))
                sv[i] = sh[i];
            else
                sv[i] = i == 0 ? 1.5 : i == 1 ? sv[0] / double(1 << f.subSamplingH) : sv[1];
        }
        for (int i = 0; i < np; i++)
            if (!(sh[i] >= 0.0))
                throw ArgError("sigma must be greater than or equal to 0.0 (plane " + std::to_string(i) + ": " +
                               num(sh[i]) + ")");
        for (int i = 0; i < np; i++)
            if (!(sv[i] >= 0.0))
                throw ArgError("sigma_v must be greater than or equal to 0.0 (plane " + std::to_string(i) + ": " +
                               num(sv[i]) + ")");

        const double t_h = args.get_float("t_h", 8.0), t_l = args.get_float("t_l", 1.0);
        if (t_l >= t_h)
            throw ArgError("t_h must be greater than t_l (t_h " + num(t_h) + ", t_l " + num(t_l) + ")");
        const int64_t mode = args.get_int("mode", 0);
        if (mode < -1 || mode > 1)
            throw ArgError("mode must be -1, 0, or 1 (got " + std::to_string(mode) + ")");
        const int64_t op = args.get_int("op", 1);
        if (op < 0 || op > 6)
            throw ArgError("op must be 0, 1, 2, 3, 4, 5, or 6 (got " + std::to_string(op) + ")");
        if (op == 5 && mode == 0)
            throw ArgError("op=5 cannot be used when mode=0");
        const double scale = args.get_float("scale", 1.0);
        if (!(scale > 0.0) || !std::isfinite(float(scale)))
            throw ArgError("scale must be greater than 0.0 and finite (got " + num(scale) + ")");
        const bool has_gmmax = args.has("gmmax");
        const double gmmax = args.get_float("gmmax", 255.0);
        if (!(gmmax >= 1.0))
            throw ArgError("gmmax must be greater than or equal to 1.0 (got " + num(gmmax) + ")");
        const int64_t opt = args.get_int("opt", 0);
        if (opt < 0 || opt > 4)
            throw ArgError("opt must be 0, 1, 2, 3, or 4 (got " + std::to_string(opt) + ")");

        for (int i = 0; i < np; i++) {
            if (!d->process[i])
                continue;
            const int w = plane_width(vi, i), h = plane_height(vi, i);
            const int rh = tc::gaussian_radius(float(sh[i])), rv = tc::gaussian_radius(float(sv[i]));
            if (rh > 0 && w < rh + 1)
                throw ArgError(std::string("the ") + kPlaneNames[i] + " plane's width must be at least " +
                               std::to_string(rh + 1) + " for specified sigma (it is " + std::to_string(w) + ")");
            if (rv > 0 && h < rv + 1)
                throw ArgError(std::string("the ") + kPlaneNames[i] + " plane's height must be at least " +
                               std::to_string(rv + 1) + " for specified sigma_v (it is " + std::to_string(h) + ")");
            if (uint64_t(w + 2) * uint64_t(h + 2) > UINT32_MAX)
                throw ArgError("planes of more than 2^32 samples are not supported");
        }

        const bool is_float = f.sampleType == stFloat;
        const int peak = is_float ? 0 : (1 << f.bitsPerSample) - 1;
        const double to_samples = is_float ? 1.0 / 255.0 : double(peak) / 255.0;
        for (int i = 0; i < np; i++) {
            // Planes passed through need no taps (and their sigma was never checked against their size).
            if (!d->process[i])
                continue;
            d->taps_h[i] = tc::gaussian_taps(float(sh[i]));
            d->taps_v[i] = tc::gaussian_taps(float(sv[i]));
            tc::PlaneJob &j = d->jobs[i];
            j.width = plane_width(vi, i);
            j.height = plane_height(vi, i);
            j.taps_h = d->taps_h[i].data();
            j.radius_h = int(d->taps_h[i].size() / 2);
            j.taps_v = d->taps_v[i].data();
            j.radius_v = int(d->taps_v[i].size() / 2);
            j.mode = int(mode);
            j.op = int(op);
            j.scale = float(scale);
            j.t_h = float(t_h * to_samples);
            j.t_l = float(t_l * to_samples);
            j.gain = has_gmmax ? float(255.0 / gmmax) : 1.0f;
            j.peak = peak;
        }

        const tc::RowKernels *simd = tc::row_kernels_avx2();
        const bool want_simd = opt == 0 || opt >= 3;
        d->kernels = want_simd && simd && cpu_has_avx2() ? simd : &tc::row_kernels_c();

        VSNode *src = d->node.get();
        create_video_filter(out, "TCanny", vi, tcanny_get_frame, d.release(), {src}, core, api);
    });
}

} // namespace

VS_EXTERNAL_API(void) VapourSynthPluginInit2(VSPlugin *plugin, const VSPLUGINAPI *vspapi) {
    vspapi->configPlugin("org.orvo.tcanny", "tcanny", "Gaussian blur, gradient magnitude and thin edge maps",
                         VS_MAKE_VERSION(1, 0), VAPOURSYNTH_API_VERSION, 0, plugin);
    vspapi->registerFunction("TCanny",
                             "clip:vnode;sigma:float[]:opt;sigma_v:float[]:opt;t_h:float:opt;t_l:float:opt;"
                             "mode:int:opt;op:int:opt;scale:float:opt;gmmax:float:opt;opt:int:opt;planes:int[]:opt;",
                             "clip:vnode;", tcanny_create, nullptr, plugin);
}
