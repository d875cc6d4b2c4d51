// eedi2.EEDI2: edge-directed doubling of the frame height (every plane).
#include "kernel.h"
#include "plugin_common.h"

#include <climits>
#include <memory>
#include <mutex>

namespace {

using namespace orvo;
using eedi2::Params;
using eedi2::Workspace;

struct EEDI2Data {
    Node node;
    VSVideoInfo vi{};
    Params params;
    int field = 1;
    eedi2::Isa isa = eedi2::Isa::scalar;

    // Scratch buffers are large (several planes' worth), so frames reuse them.
    std::mutex mu;
    std::vector<std::unique_ptr<Workspace>> pool;

    std::unique_ptr<Workspace> take() {
        std::lock_guard<std::mutex> lock(mu);
        if (pool.empty())
            return std::make_unique<Workspace>();
        auto ws = std::move(pool.back());
        pool.pop_back();
        return ws;
    }
    void give(std::unique_ptr<Workspace> ws) {
        std::lock_guard<std::mutex> lock(mu);
        pool.push_back(std::move(ws));
    }
};

const VSFrame *VS_CC eedi2_get_frame(int n, int activation, void *instance, void **, VSFrameContext *ctx,
                                     VSCore *core, const VSAPI *api) {
    auto *d = static_cast<EEDI2Data *>(instance);
    FrameRef src = source_frame(n, activation, d->node.get(), ctx, api);
    if (!src.get())
        return nullptr;
    const VSVideoFormat *fmt = api->getVideoFrameFormat(src.get());
    // modes 2 and 3 alternate the parity from frame to frame
    int f = d->field;
    if (f == 2)
        f = (n & 1) ? 1 : 0;
    else if (f == 3)
        f = (n & 1) ? 0 : 1;

    VSFrame *dst = api->newVideoFrame(fmt, d->vi.width, d->vi.height, src.get(), core);
    try {
        auto ws = d->take();
        for (int p = 0; p < fmt->numPlanes; p++) {
            const int w = api->getFrameWidth(src.get(), p), h = api->getFrameHeight(src.get(), p);
            const int ssw = p ? fmt->subSamplingW : 0;
            const uint8_t *sp = api->getReadPtr(src.get(), p);
            uint8_t *dp = api->getWritePtr(dst, p);
            const ptrdiff_t sst = api->getStride(src.get(), p), dst_stride = api->getStride(dst, p);
            if (fmt->bytesPerSample == 1)
                eedi2::process_plane_u8(sp, sst, dp, dst_stride, w, h, f, ssw, d->params, *ws, d->isa);
            else
                eedi2::process_plane_u16(reinterpret_cast<const uint16_t *>(sp), sst / 2,
                                         reinterpret_cast<uint16_t *>(dp), dst_stride / 2, w, h,
                                         fmt->bitsPerSample, f, ssw, d->params, *ws, d->isa);
        }
        d->give(std::move(ws));
    } catch (const std::bad_alloc &) {
        api->freeFrame(dst);
        api->setFilterError("EEDI2: out of memory while processing a frame", ctx);
        return nullptr;
    }
    return dst;
}

int saturate(int64_t v) { return int(std::clamp<int64_t>(v, INT_MIN, INT_MAX)); }

void VS_CC eedi2_create(const VSMap *in, VSMap *out, void *, VSCore *core, const VSAPI *api) {
    guarded_create("EEDI2", out, api, [&] {
        Args args(in, api);
        args.require_finite();
        auto d = std::make_unique<EEDI2Data>();
        d->node = args.node("clip");
        const VSVideoInfo *vi = d->node.vi();
        if (!is_constant_format(vi) || vi->format.sampleType != stInteger || vi->format.bitsPerSample > 16)
            throw ArgError("only constant format 8-16 bits integer input supported");
        if (vi->width < 8)
            throw ArgError("the clip's width must be greater than or equal to 8, got " + std::to_string(vi->width));
        if (vi->height < 7)
            throw ArgError("the clip's height must be greater than or equal to 7, got " +
                           std::to_string(vi->height));

        Params &p = d->params;
        const int field = saturate(args.get_int("field", 1));
        p.mthresh = saturate(args.get_int("mthresh", 10));
        p.lthresh = saturate(args.get_int("lthresh", 20));
        p.vthresh = saturate(args.get_int("vthresh", 20));
        p.estr = saturate(args.get_int("estr", 2));
        p.dstr = saturate(args.get_int("dstr", 4));
        p.maxd = saturate(args.get_int("maxd", 24));
        p.map = saturate(args.get_int("map", 0));
        p.nt = saturate(args.get_int("nt", 50));
        p.pp = saturate(args.get_int("pp", 1));

        auto got = [](int v) { return ", got " + std::to_string(v); };
        auto non_negative = [&](const char *name, int v) {
            if (v < 0)
                throw ArgError(std::string(name) + " must be greater than or equal to 0" + got(v));
        };
        if (field < 0 || field > 3)
            throw ArgError("field must be 0, 1, 2 or 3" + got(field));
        non_negative("mthresh", p.mthresh);
        non_negative("lthresh", p.lthresh);
        non_negative("vthresh", p.vthresh);
        non_negative("estr", p.estr);
        non_negative("dstr", p.dstr);
        if (p.maxd < 1 || p.maxd > 29)
            throw ArgError("maxd must be between 1 and 29 (inclusive)" + got(p.maxd));
        if (p.map < 0 || p.map > 3)
            throw ArgError("map must be 0, 1, 2 or 3" + got(p.map));
        non_negative("nt", p.nt);
        if (p.pp < 0 || p.pp > 3)
            throw ArgError("pp must be 0, 1, 2 or 3" + got(p.pp));

        d->field = field;
        d->isa = eedi2::best_isa();
        d->vi = *vi;
        if (p.map == 0 || p.map == 3)
            d->vi.height *= 2;

        VSNode *dep = d->node.get();
        const VSVideoInfo out_vi = d->vi;
        create_video_filter(out, "EEDI2", &out_vi, eedi2_get_frame, d.release(), {dep}, core, api);
    });
}

} // namespace

VS_EXTERNAL_API(void) VapourSynthPluginInit2(VSPlugin *plugin, const VSPLUGINAPI *vspapi) {
    vspapi->configPlugin("org.orvo.eedi2", "eedi2", "Edge-directed line doubling", VS_MAKE_VERSION(1, 0),
                         VAPOURSYNTH_API_VERSION, 0, plugin);
    vspapi->registerFunction("EEDI2",
                             "clip:vnode;field:int;mthresh:int:opt;lthresh:int:opt;vthresh:int:opt;estr:int:opt;"
                             "dstr:int:opt;maxd:int:opt;map:int:opt;nt:int:opt;pp:int:opt;",
                             "clip:vnode;", eedi2_create, nullptr, plugin);
}
