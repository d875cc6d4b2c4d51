// misc: Hysteresis.
#include "kernel.h"
#include "plugin_common.h"

#include <memory>

namespace {

using namespace orvo;

struct Data {
    Node a, b;
    std::array<bool, 3> process{};
};

template <class T>
void run_plane(const VSFrame *fa, const VSFrame *fb, VSFrame *dst, int p, T peak, std::vector<uint32_t> &stack,
               const VSAPI *api) {
    int w = api->getFrameWidth(fa, p), h = api->getFrameHeight(fa, p);
    auto stride = [&](const VSFrame *f) { return api->getStride(f, p) / ptrdiff_t(sizeof(T)); };
    misc::hysteresis(reinterpret_cast<const T *>(api->getReadPtr(fa, p)), stride(fa),
                     reinterpret_cast<const T *>(api->getReadPtr(fb, p)), stride(fb),
                     reinterpret_cast<T *>(api->getWritePtr(dst, p)), stride(dst), w, h, peak, stack);
}

const VSFrame *VS_CC get_frame(int n, int activation, void *instance, void **, VSFrameContext *ctx, VSCore *core,
                               const VSAPI *api) {
    auto *d = static_cast<Data *>(instance);
    if (activation == arInitial) {
        api->requestFrameFilter(n, d->a.get(), ctx);
        api->requestFrameFilter(n, d->b.get(), ctx);
        return nullptr;
    }
    if (activation != arAllFramesReady)
        return nullptr;
    FrameRef fa(api->getFrameFilter(n, d->a.get(), ctx), api);
    FrameRef fb(api->getFrameFilter(n, d->b.get(), ctx), api);
    const VSVideoFormat *f = api->getVideoFrameFormat(fa.get());
    VSFrame *dst = new_frame_sharing(fa.get(), d->process, core, api);
    try {
        std::vector<uint32_t> stack;
        for (int p = 0; p < f->numPlanes; p++) {
            if (!d->process[size_t(p)])
                continue;
            if (f->sampleType == stFloat)
                run_plane<float>(fa.get(), fb.get(), dst, p, 1.0f, stack, api);
            else if (f->bytesPerSample == 1)
                run_plane<uint8_t>(fa.get(), fb.get(), dst, p, uint8_t((1 << f->bitsPerSample) - 1), stack, api);
            else
                run_plane<uint16_t>(fa.get(), fb.get(), dst, p, uint16_t((1 << f->bitsPerSample) - 1), stack, api);
        }
    } catch (const std::bad_alloc &) {
        api->freeFrame(dst);
        api->setFilterError("Hysteresis: out of memory", ctx);
        return nullptr;
    }
    return dst;
}

void VS_CC create(const VSMap *in, VSMap *out, void *, VSCore *core, const VSAPI *api) {
    guarded_create("Hysteresis", out, api, [&] {
        Args args(in, api);
        args.require_finite();
        auto d = std::make_unique<Data>();
        d->a = args.node("clipa");
        d->b = args.node("clipb");
        const VSVideoInfo *vi = d->a.vi();
        const VSVideoFormat &f = vi->format;
        bool ok = is_constant_format(vi) &&
                  ((f.sampleType == stInteger && f.bitsPerSample >= 8 && f.bitsPerSample <= 16) ||
                   (f.sampleType == stFloat && f.bitsPerSample == 32));
        if (!ok)
            throw ArgError("only constant format 8-16 bits integer and 32 bits float input supported");
        if (!same_format_and_size(vi, d->b.vi()))
            throw ArgError("both clips must have the same dimensions and the same format");
        // Indices are checked against 3, not the plane count: planes=[1] on GRAY is
        // accepted and returns clipa unchanged.
        std::vector<int64_t> planes = args.ints("planes");
        std::array<bool, 3> listed{};
        for (int64_t p : planes) {
            if (p < 0 || p >= 3)
                throw ArgError("plane index out of range (got " + std::to_string(p) + ", allowed 0-2)");
            if (listed[size_t(p)])
                throw ArgError("plane specified twice (plane " + std::to_string(p) + ")");
            listed[size_t(p)] = true;
        }
        for (int p = 0; p < f.numPlanes; p++)
            d->process[size_t(p)] = planes.empty() || listed[size_t(p)];
        std::vector<VSNode *> deps{d->a.get(), d->b.get()};
        create_video_filter(out, "Hysteresis", vi, get_frame, d.release(), deps, core, api);
    });
}

} // namespace

VS_EXTERNAL_API(void) VapourSynthPluginInit2(VSPlugin *plugin, const VSPLUGINAPI *vspapi) {
    vspapi->configPlugin("org.orvo.misc", "misc", "Hysteresis (orvo)", VS_MAKE_VERSION(1, 0), VAPOURSYNTH_API_VERSION,
                         0, plugin);
    vspapi->registerFunction("Hysteresis", "clipa:vnode;clipb:vnode;planes:int[]:opt;", "clip:vnode;", create, nullptr,
                             plugin);
}
