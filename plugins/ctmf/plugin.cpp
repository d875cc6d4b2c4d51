// ctmf: CTMF, an exact median filter.
#include "cpu.h"
#include "kernel.h"
#include "plugin_common.h"

#include <memory>

namespace {

using namespace orvo;

struct Data {
    Node clip;
    int radius = 2;
    bool avx2 = false;
    std::array<bool, 3> process{};
};

template <class T> void run_plane(const Data &d, const VSFrame *src, VSFrame *dst, int p, int bits, const VSAPI *api) {
    int w = api->getFrameWidth(src, p), h = api->getFrameHeight(src, p);
    const T *s = reinterpret_cast<const T *>(api->getReadPtr(src, p));
    ptrdiff_t ss = api->getStride(src, p) / ptrdiff_t(sizeof(T));
    T *o = reinterpret_cast<T *>(api->getWritePtr(dst, p));
    ptrdiff_t os = api->getStride(dst, p) / ptrdiff_t(sizeof(T));
    if constexpr (std::is_same_v<T, float>) {
        (void)bits;
        d.avx2 ? ctmf::median_avx2(s, ss, o, os, w, h, d.radius) : ctmf::median_c(s, ss, o, os, w, h, d.radius);
    } else {
        d.avx2 ? ctmf::median_avx2(s, ss, o, os, w, h, d.radius, bits)
               : ctmf::median_c(s, ss, o, os, w, h, d.radius, bits);
    }
}

const VSFrame *VS_CC get_frame(int n, int activation, void *instance, void **, VSFrameContext *ctx, VSCore *core,
                               const VSAPI *api) {
    auto *d = static_cast<Data *>(instance);
    FrameRef src = source_frame(n, activation, d->clip.get(), ctx, api);
    if (!src.get())
        return nullptr;
    const VSVideoFormat *f = api->getVideoFrameFormat(src.get());
    VSFrame *dst = new_frame_sharing(src.get(), d->process, core, api);
    try {
        for (int p = 0; p < f->numPlanes; p++) {
            if (!d->process[size_t(p)])
                continue;
            if (f->sampleType == stFloat)
                run_plane<float>(*d, src.get(), dst, p, 32, api);
            else if (f->bytesPerSample == 1)
                run_plane<uint8_t>(*d, src.get(), dst, p, f->bitsPerSample, api);
            else
                run_plane<uint16_t>(*d, src.get(), dst, p, f->bitsPerSample, api);
        }
    } catch (const std::bad_alloc &) {
        api->freeFrame(dst);
        api->setFilterError("CTMF: out of memory", ctx);
        return nullptr;
    }
    return dst;
}

void VS_CC create(const VSMap *in, VSMap *out, void *, VSCore *core, const VSAPI *api) {
    guarded_create("CTMF", out, api, [&] {
        Args args(in, api);
        args.require_finite();
        auto d = std::make_unique<Data>();
        d->clip = args.node("clip");
        const VSVideoInfo *vi = d->clip.vi();
        const VSVideoFormat &f = vi->format;
        bool ok = is_constant_format(vi) &&
                  ((f.sampleType == stInteger && f.bitsPerSample >= 8 && f.bitsPerSample <= 16) ||
                   (f.sampleType == stFloat && f.bitsPerSample == 32));
        if (!ok)
            throw ArgError("only constant format 8-16 bit integer and 32 bit float input supported");
        std::vector<int64_t> planes = args.ints("planes");
        for (int64_t p : planes) {
            if (p < 0 || p >= f.numPlanes)
                throw ArgError("plane index out of range (got " + std::to_string(p) + ", the clip has " +
                               std::to_string(f.numPlanes) + " planes)");
            if (d->process[size_t(p)])
                throw ArgError("plane specified twice (plane " + std::to_string(p) + ")");
            d->process[size_t(p)] = true;
        }
        if (planes.empty())
            for (int p = 0; p < f.numPlanes; p++)
                d->process[size_t(p)] = true;
        int64_t radius = args.get_int("radius", 2);
        if (radius < 1 || radius > ctmf::kMaxRadius)
            throw ArgError("radius must be between 1 and 127 (inclusive), got " + std::to_string(radius));
        d->radius = int(radius);
        // memsize only tuned upstream's cache blocking; it is validated and otherwise unused.
        int64_t memsize = args.get_int("memsize", 1048576);
        if (memsize < 1024)
            throw ArgError("memsize must be greater than or equal to 1024, got " + std::to_string(memsize));
        int64_t opt = args.get_int("opt", 0);
        if (opt < 0 || opt > 4)
            throw ArgError("opt must be 0, 1, 2, 3, or 4, got " + std::to_string(opt));
        // opt=1 selects the baseline build; any other value the best the CPU runs.
        d->avx2 = opt != 1 && cpu_has_avx2();
        std::vector<VSNode *> deps{d->clip.get()};
        create_video_filter(out, "CTMF", vi, get_frame, d.release(), deps, core, api);
    });
}

} // namespace

VS_EXTERNAL_API(void) VapourSynthPluginInit2(VSPlugin *plugin, const VSPLUGINAPI *vspapi) {
    vspapi->configPlugin("org.orvo.ctmf", "ctmf", "Exact median filter (orvo)", VS_MAKE_VERSION(1, 0),
                         VAPOURSYNTH_API_VERSION, 0, plugin);
    vspapi->registerFunction("CTMF", "clip:vnode;radius:int:opt;memsize:int:opt;planes:int[]:opt;opt:int:opt;",
                             "clip:vnode;", create, nullptr, plugin);
}
