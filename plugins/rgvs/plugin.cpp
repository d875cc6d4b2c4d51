// rgvs: RemoveGrain and Repair.
#include "kernel.h"
#include "plugin_common.h"

#include <cstdlib>
#include <memory>

namespace {

using namespace orvo;

struct Data {
    Node clip;
    Node rep; // Repair only
    std::array<int, 3> mode{};
    rgvs::Isa isa = rgvs::Isa::c;
};

std::array<int, 3> parse_modes(const Args &args, int num_planes, const char *invalid_msg) {
    std::vector<int64_t> modes = args.ints("mode");
    if (modes.empty())
        throw ArgError("mode must hold at least one value (0-24)");
    if (int(modes.size()) > num_planes)
        throw ArgError("Number of modes specified must be equal or fewer than the number of input planes (" +
                       std::to_string(modes.size()) + " modes for " + std::to_string(num_planes) + " planes)");
    for (int64_t m : modes)
        if (m < 0 || m > rgvs::kMaxMode)
            throw ArgError(std::string(invalid_msg) + " (got " + std::to_string(m) + ")");
    std::array<int, 3> out{};
    for (int p = 0; p < 3; p++)
        out[size_t(p)] = int(modes[size_t(std::min<int>(p, int(modes.size()) - 1))]);
    return out;
}

// ORVO_RGVS_ISA=c|avx2 caps the kernel build used by filters created
// afterwards (for comparing the builds); the CPU's best build otherwise.
rgvs::Isa chosen_isa() {
    rgvs::Isa best = rgvs::best_isa();
    const char *env = std::getenv("ORVO_RGVS_ISA");
    if (!env)
        return best;
    std::string v(env);
    rgvs::Isa want = v == "c" ? rgvs::Isa::c : best;
    return int(want) < int(best) ? want : best;
}

void check_sample_type(const VSVideoFormat &f) {
    bool ok = (f.sampleType == stInteger && f.bitsPerSample >= 8 && f.bitsPerSample <= 16) ||
              (f.sampleType == stFloat && f.bitsPerSample == 32);
    if (!ok)
        throw ArgError("Only 8-16 bit int and 32 bit float formats supported (got " +
                       std::string(f.sampleType == stFloat ? "float " : "int ") + std::to_string(f.bitsPerSample) +
                       " bit)");
}

template <class T>
void run_plane(const Data &d, const VSFrame *src, const VSFrame *rep, VSFrame *dst, int p, const VSAPI *api) {
    int w = api->getFrameWidth(src, p), h = api->getFrameHeight(src, p);
    const T *s = reinterpret_cast<const T *>(api->getReadPtr(src, p));
    ptrdiff_t ss = api->getStride(src, p) / ptrdiff_t(sizeof(T));
    T *o = reinterpret_cast<T *>(api->getWritePtr(dst, p));
    ptrdiff_t os = api->getStride(dst, p) / ptrdiff_t(sizeof(T));
    int mode = d.mode[size_t(p)];
    if (rep) {
        const T *r = reinterpret_cast<const T *>(api->getReadPtr(rep, p));
        ptrdiff_t rs = api->getStride(rep, p) / ptrdiff_t(sizeof(T));
        if (d.isa == rgvs::Isa::avx2)
            rgvs::repair_avx2(s, ss, r, rs, o, os, w, h, mode);
        else
            rgvs::repair_c(s, ss, r, rs, o, os, w, h, mode);
    } else {
        if (d.isa == rgvs::Isa::avx2)
            rgvs::remove_grain_avx2(s, ss, o, os, w, h, mode);
        else
            rgvs::remove_grain_c(s, ss, o, os, w, h, mode);
    }
}

const VSFrame *VS_CC get_frame(int n, int activation, void *instance, void **, VSFrameContext *ctx, VSCore *core,
                               const VSAPI *api) {
    auto *d = static_cast<Data *>(instance);
    if (activation == arInitial) {
        api->requestFrameFilter(n, d->clip.get(), ctx);
        if (d->rep)
            api->requestFrameFilter(n, d->rep.get(), ctx);
        return nullptr;
    }
    if (activation != arAllFramesReady)
        return nullptr;
    FrameRef src(api->getFrameFilter(n, d->clip.get(), ctx), api);
    FrameRef rep(d->rep ? api->getFrameFilter(n, d->rep.get(), ctx) : nullptr, api);
    const VSVideoFormat *f = api->getVideoFrameFormat(src.get());
    std::array<bool, 3> process{};
    for (int p = 0; p < f->numPlanes; p++)
        process[size_t(p)] = d->mode[size_t(p)] != 0;
    VSFrame *dst = new_frame_sharing(src.get(), process, core, api);
    for (int p = 0; p < f->numPlanes; p++) {
        if (!process[size_t(p)])
            continue;
        if (f->sampleType == stFloat)
            run_plane<float>(*d, src.get(), rep.get(), dst, p, api);
        else if (f->bytesPerSample == 1)
            run_plane<uint8_t>(*d, src.get(), rep.get(), dst, p, api);
        else
            run_plane<uint16_t>(*d, src.get(), rep.get(), dst, p, api);
    }
    return dst;
}

void VS_CC remove_grain_create(const VSMap *in, VSMap *out, void *, VSCore *core, const VSAPI *api) {
    guarded_create("RemoveGrain", out, api, [&] {
        Args args(in, api);
        args.require_finite();
        auto d = std::make_unique<Data>();
        d->clip = args.node("clip");
        const VSVideoInfo *vi = d->clip.vi();
        // Frame sizes may vary; each frame is processed at its own size.
        if (vi->format.colorFamily == cfUndefined)
            throw ArgError("Only constant format input supported");
        check_sample_type(vi->format);
        d->mode = parse_modes(args, vi->format.numPlanes, "Invalid mode specified, only modes 0-24 supported");
        d->isa = chosen_isa();
        std::vector<VSNode *> deps{d->clip.get()};
        create_video_filter(out, "RemoveGrain", vi, get_frame, d.release(), deps, core, api);
    });
}

void VS_CC repair_create(const VSMap *in, VSMap *out, void *, VSCore *core, const VSAPI *api) {
    guarded_create("Repair", out, api, [&] {
        Args args(in, api);
        args.require_finite();
        auto d = std::make_unique<Data>();
        d->clip = args.node("clip");
        d->rep = args.node("repairclip");
        const VSVideoInfo *vi = d->clip.vi();
        if (!is_constant_format(vi))
            throw ArgError("Only constant format input supported");
        if (!same_format_and_size(vi, d->rep.vi()))
            throw ArgError("Input clips must have the same format (and the same width and height)");
        check_sample_type(vi->format);
        d->mode = parse_modes(args, vi->format.numPlanes, "Invalid mode specified, only 0-24 supported");
        d->isa = chosen_isa();
        std::vector<VSNode *> deps{d->clip.get(), d->rep.get()};
        create_video_filter(out, "Repair", vi, get_frame, d.release(), deps, core, api);
    });
}

} // namespace

VS_EXTERNAL_API(void) VapourSynthPluginInit2(VSPlugin *plugin, const VSPLUGINAPI *vspapi) {
    vspapi->configPlugin("org.orvo.rgvs", "rgvs", "RemoveGrain and Repair (orvo)", VS_MAKE_VERSION(1, 0),
                         VAPOURSYNTH_API_VERSION, 0, plugin);
    vspapi->registerFunction("RemoveGrain", "clip:vnode;mode:int[];", "clip:vnode;", remove_grain_create, nullptr,
                             plugin);
    vspapi->registerFunction("Repair", "clip:vnode;repairclip:vnode;mode:int[];", "clip:vnode;", repair_create,
                             nullptr, plugin);
}
