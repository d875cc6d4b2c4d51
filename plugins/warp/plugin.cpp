// warp.AWarpSharp2: sharpening by warping pixels away from the ridges of a
// blurred edge mask. Registration, argument checks and the per-frame plan;
// the pixel work is in kernel_c.cpp.
#include "cpu.h"
#include "kernel.h"
#include "plugin_common.h"

#include <memory>
#include <string>

namespace {

using orvo::ArgError;

constexpr const char *kName = "AWarpSharp2";

struct WarpData {
    orvo::Node node;
    VSVideoInfo vi{};
    VSVideoFormat mask_format{}; // Gray of the clip's bit depth, for scratch frames
    int thresh = 0;              // on the clip's scale
    int64_t blur = 0; // passes, at most kMaxBlur; chroma with chroma=1 gets blur / 2 rounded up
    int type = 0;
    int depth[3] = {0, 0, 0};
    bool chroma_own_mask = false; // chroma=1
    bool mpeg2 = false;
    std::array<bool, 3> active{}; // processed and actually moved (depth != 0)
    bool luma_mask = false;
    bool avx2 = false; // opt and the CPU allow the AVX2 warp
};

// Owns a scratch frame for the duration of one get-frame call.
struct Scratch {
    VSFrame *f = nullptr;
    const VSAPI *api = nullptr;
    Scratch(const VSVideoFormat *fmt, int w, int h, VSCore *core, const VSAPI *a) : api(a) {
        f = api->newVideoFrame(fmt, w, h, nullptr, core);
    }
    Scratch(const Scratch &) = delete;
    Scratch &operator=(const Scratch &) = delete;
    ~Scratch() {
        if (f)
            api->freeFrame(f);
    }
};

template <class T>
struct PlaneRef {
    T *p;
    ptrdiff_t stride; // elements
    int w, h;
};

template <class T>
PlaneRef<T> write_plane(VSFrame *f, int plane, const VSAPI *api) {
    return {reinterpret_cast<T *>(api->getWritePtr(f, plane)), api->getStride(f, plane) / ptrdiff_t(sizeof(T)),
            api->getFrameWidth(f, plane), api->getFrameHeight(f, plane)};
}

template <class T>
PlaneRef<const T> read_plane(const VSFrame *f, int plane, const VSAPI *api) {
    return {reinterpret_cast<const T *>(api->getReadPtr(f, plane)), api->getStride(f, plane) / ptrdiff_t(sizeof(T)),
            api->getFrameWidth(f, plane), api->getFrameHeight(f, plane)};
}

// Edge mask of `src` into `mask`, then `passes` blurs using `tmp`.
template <class T>
void build_mask(const WarpData &d, PlaneRef<const T> src, PlaneRef<T> mask, PlaneRef<T> tmp, int64_t passes) {
    int bits = d.vi.format.bitsPerSample;
    warp::edge_mask_c<T>(src.p, src.stride, mask.p, mask.stride, src.w, src.h, d.thresh, bits);
    for (int64_t i = 0; i < passes; i++) {
        if (d.type == 0)
            warp::blur0_c<T>(mask.p, mask.stride, tmp.p, tmp.stride, src.w, src.h);
        else
            warp::blur1_c<T>(mask.p, mask.stride, tmp.p, tmp.stride, src.w, src.h);
    }
}

template <class T>
void process(const WarpData &d, const VSFrame *src, VSFrame *dst, VSCore *core, const VSAPI *api) {
    const int bits = d.vi.format.bitsPerSample;
    const int num_planes = d.vi.format.numPlanes;
    const int ssw = d.vi.format.subSamplingW, ssh = d.vi.format.subSamplingH;
    const VSVideoFormat *mf = &d.mask_format;
    auto warp_into = [&](int plane, PlaneRef<T> mask) {
        PlaneRef<const T> s = read_plane<T>(src, plane, api);
        PlaneRef<T> o = write_plane<T>(dst, plane, api);
        auto kernel = d.avx2 ? warp::warp_avx2<T> : warp::warp_c<T>;
        kernel(s.p, s.stride, mask.p, mask.stride, o.p, o.stride, s.w, s.h, d.depth[plane], bits);
    };

    if (d.luma_mask) {
        Scratch mask(mf, d.vi.width, d.vi.height, core, api), tmp(mf, d.vi.width, d.vi.height, core, api);
        PlaneRef<T> m = write_plane<T>(mask.f, 0, api);
        build_mask<T>(d, read_plane<T>(src, 0, api), m, write_plane<T>(tmp.f, 0, api), d.blur);
        if (d.active[0])
            warp_into(0, m);
        if (!d.chroma_own_mask && num_planes > 1 && (d.active[1] || d.active[2])) {
            if (ssw == 0 && ssh == 0) {
                for (int p = 1; p < 3; p++)
                    if (d.active[p])
                        warp_into(p, m);
            } else {
                int cw = d.vi.width >> ssw, ch = d.vi.height >> ssh;
                Scratch small(mf, cw, ch, core, api);
                PlaneRef<T> c = write_plane<T>(small.f, 0, api);
                warp::downscale_mask_c<T>(m.p, m.stride, c.p, c.stride, cw, ch, ssw, ssh, d.mpeg2);
                for (int p = 1; p < 3; p++)
                    if (d.active[p])
                        warp_into(p, c);
            }
        }
    }
    if (d.chroma_own_mask && num_planes > 1 && (d.active[1] || d.active[2])) {
        int cw = d.vi.width >> ssw, ch = d.vi.height >> ssh;
        Scratch mask(mf, cw, ch, core, api), tmp(mf, cw, ch, core, api);
        PlaneRef<T> m = write_plane<T>(mask.f, 0, api);
        for (int p = 1; p < 3; p++) {
            if (!d.active[p])
                continue;
            build_mask<T>(d, read_plane<T>(src, p, api), m, write_plane<T>(tmp.f, 0, api), d.blur / 2 + d.blur % 2);
            warp_into(p, m);
        }
    }
}

const VSFrame *VS_CC get_frame(int n, int activation, void *instance, void **, VSFrameContext *ctx, VSCore *core,
                               const VSAPI *api) {
    auto *d = static_cast<WarpData *>(instance);
    if (activation == arInitial) {
        api->requestFrameFilter(n, d->node.get(), ctx);
    } else if (activation == arAllFramesReady) {
        const VSFrame *src = api->getFrameFilter(n, d->node.get(), ctx);
        orvo::FrameRef src_ref(src, api);
        VSFrame *dst = orvo::new_frame_sharing(src, d->active, core, api);
        if (d->vi.format.bytesPerSample == 1)
            process<uint8_t>(*d, src, dst, core, api);
        else
            process<uint16_t>(*d, src, dst, core, api);
        return dst;
    }
    return nullptr;
}

std::string format_name(const VSVideoInfo *vi, const VSAPI *api) {
    if (vi->format.colorFamily == cfUndefined)
        return "a clip of variable format";
    if (vi->width == 0 || vi->height == 0)
        return "a clip of variable size";
    char buf[32] = {};
    api->getVideoFormatName(&vi->format, buf);
    return buf;
}

void check_size(int plane, int w, int h, int min, const char *why) {
    if (w < min || h < min)
        throw ArgError("plane " + std::to_string(plane) + " is " + std::to_string(w) + "x" + std::to_string(h) +
                       ", but " + why + " needs planes of at least " + std::to_string(min) + "x" +
                       std::to_string(min));
}

void VS_CC create(const VSMap *in, VSMap *out, void *, VSCore *core, const VSAPI *api) {
    orvo::guarded_create(kName, out, api, [&] {
        orvo::Args args(in, api);
        args.require_finite();
        auto d = std::make_unique<WarpData>();

        // Argument checks first, in this order, before the clip is looked at.
        if (args.has("cplace")) {
            std::string cplace = args.get_str("cplace", "");
            if (cplace != "mpeg1" && cplace != "mpeg2")
                throw ArgError("cplace must be either 'mpeg1' or 'mpeg2', not '" + cplace + "'");
            d->mpeg2 = cplace == "mpeg2";
        }
        int64_t thresh = args.get_int("thresh", 128);
        if (thresh < 0 || thresh > 255)
            throw ArgError("thresh must be between 0 and 255 (inclusive), not " + std::to_string(thresh));
        int64_t type = args.get_int("type", 0);
        int64_t blur = args.get_int("blur", type == 1 ? 3 : 2);
        if (blur < 0)
            throw ArgError("blur must be at least 0, not " + std::to_string(blur));
        // Each pass costs a full-plane blur; far more than any mask needs, and a bound on the work per frame.
        if (blur > warp::kMaxBlur)
            throw ArgError("blur must be at most " + std::to_string(warp::kMaxBlur) + ", not " + std::to_string(blur));
        if (type != 0 && type != 1)
            throw ArgError("type must be 0 or 1, not " + std::to_string(type));
        std::vector<int64_t> given = args.ints("depth");
        int64_t depth[3];
        depth[0] = given.size() > 0 ? given[0] : 16;
        depth[1] = given.size() > 1 ? given[1] : depth[0] / 2; // truncates toward zero
        depth[2] = given.size() > 2 ? given[2] : depth[1];
        for (int64_t v : depth)
            if (v < -128 || v > 127)
                throw ArgError("depth must be between -128 and 127 (inclusive), not " + std::to_string(v));
        int64_t chroma = args.get_int("chroma", 0);
        if (chroma != 0 && chroma != 1)
            throw ArgError("chroma must be 0 or 1, not " + std::to_string(chroma));

        d->node = args.node("clip");
        const VSVideoInfo *vi = d->node.vi();
        const VSVideoFormat &f = vi->format;
        if (!orvo::is_constant_format(vi) || f.sampleType != stInteger || f.bitsPerSample > 16 ||
            f.colorFamily == cfRGB)
            throw ArgError("8..16 bit integer, not RGB clips with constant format and dimensions supported, not " +
                           format_name(vi, api));
        if (f.subSamplingW > 1 || f.subSamplingH > 1)
            throw ArgError("the chroma subsampling ratio cannot be greater than 2, not " + format_name(vi, api));
        std::array<bool, 3> process = orvo::parse_planes(args, "planes", f.numPlanes);

        d->vi = *vi;
        d->thresh = int(thresh) << (f.bitsPerSample - 8);
        d->blur = blur;
        d->type = int(type);
        d->chroma_own_mask = chroma == 1;
        for (int p = 0; p < 3; p++) {
            d->depth[p] = int(depth[p]);
            d->active[p] = process[p] && depth[p] != 0;
        }
        bool has_chroma = f.numPlanes > 1;
        bool chroma_from_luma = has_chroma && !d->chroma_own_mask && (process[1] || process[2]);
        d->avx2 = args.get_bool("opt", true) && orvo::cpu_has_avx2();
        d->luma_mask = d->active[0] || (chroma_from_luma && (d->active[1] || d->active[2]));

        // Every plane whose mask is built must hold the 3x3 window, and the
        // 13-tap blur's one-sided window must fit when it runs.
        auto check_mask_plane = [&](int plane, int64_t passes) {
            int w = orvo::plane_width(vi, plane), h = orvo::plane_height(vi, plane);
            check_size(plane, w, h, warp::kMaskMinSize, "the edge mask");
            if (passes > 0 && type == 0)
                check_size(plane, w, h, warp::kBlur0MinSize, "blur type 0");
        };
        if (process[0] || chroma_from_luma)
            check_mask_plane(0, d->blur);
        if (has_chroma && d->chroma_own_mask)
            for (int p = 1; p < 3; p++)
                if (process[p])
                    check_mask_plane(p, d->blur / 2 + d->blur % 2);

        if (!api->queryVideoFormat(&d->mask_format, cfGray, stInteger, f.bitsPerSample, 0, 0, core))
            throw ArgError("cannot make a mask format");

        VSNode *source = d->node.get();
        orvo::create_video_filter(out, kName, &d->vi, get_frame, d.get(), {source}, core, api);
        d.release();
    });
}

} // namespace

VS_EXTERNAL_API(void) VapourSynthPluginInit2(VSPlugin *plugin, const VSPLUGINAPI *vspapi) {
    vspapi->configPlugin("org.orvo.warp", "warp", "Warp sharpening", VS_MAKE_VERSION(1, 0), VAPOURSYNTH_API_VERSION,
                         0, plugin);
    vspapi->registerFunction("AWarpSharp2",
                             "clip:vnode;thresh:int:opt;blur:int:opt;type:int:opt;depth:int[]:opt;chroma:int:opt;"
                             "planes:int[]:opt;opt:int:opt;cplace:data:opt;",
                             "clip:vnode;", create, nullptr, plugin);
}
