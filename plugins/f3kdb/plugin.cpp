// f3kdb.Deband: banding removal by comparing each pixel with randomly offset
// neighbours, optional grain, and conversion to the output depth.
#include "cpu.h"
#include "kernel.h"
#include "plugin_common.h"

#include <cctype>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

using namespace orvo;

namespace {

constexpr const char *kName = "Deband";

struct DebandData {
    Node node;
    VSVideoInfo vi{};  // output
    int in_depth = 8;
    std::array<bool, 3> process{false, false, false};
    std::array<f3kdb::PlaneParams, 3> plane{};
    std::shared_ptr<const f3kdb::Tables> tables;
};

struct Settings {
    int64_t range = 15, y = 64, cb = 64, cr = 64, grainy = 64, grainc = 64;
};

// Presets are applied left to right before the explicit arguments.
void apply_preset(const std::string &text, Settings &s) {
    std::string piece;
    auto apply = [&](const std::string &raw) {
        if (raw.empty())
            return;
        std::string name;
        for (char c : raw)
            name += char(std::tolower(static_cast<unsigned char>(c)));
        auto level = [&](int v) { s.y = s.cb = s.cr = s.grainy = s.grainc = v; };
        if (name == "depth")
            level(0);
        else if (name == "low")
            level(32);
        else if (name == "medium")
            level(48);
        else if (name == "high")
            level(64);
        else if (name == "veryhigh")
            level(80);
        else if (name == "nograin")
            s.grainy = s.grainc = 0;
        else if (name == "luma")
            s.cb = s.cr = s.grainc = 0;
        else if (name == "chroma")
            s.y = s.grainy = 0;
        else
            throw ArgError("unknown preset \"" + raw +
                           "\" (allowed: depth, low, medium, high, veryhigh, nograin, luma, chroma, joined by / , or :)");
    };
    for (char c : text) {
        if (c == '/' || c == ',' || c == ':') {
            apply(piece);
            piece.clear();
        } else {
            piece += c;
        }
    }
    apply(piece);
}

int64_t checked(const Args &args, const char *key, int64_t def, int64_t lo, int64_t hi) {
    int64_t v = args.get_int(key, def);
    if (v < lo || v > hi)
        throw ArgError(std::string(key) + " must be between " + std::to_string(lo) + " and " + std::to_string(hi) +
                       ", got " + std::to_string(v));
    return v;
}

double checked_sigma(const Args &args, const char *key, bool used) {
    double v = args.get_float(key, 1.0);
    // Only the gaussian generator reads it; a huge sigma would make its rejection loop spin for ages.
    if (used && !(std::isfinite(v) && std::fabs(v) <= 10.0))
        throw ArgError(std::string(key) + " must be a finite value between -10 and 10 with the gaussian generator, got " +
                       std::to_string(v));
    return v;
}

// Instances that differ only in thresholds or output settings (the adaptive
// deband makes one per strength while frames are produced) share one table:
// building it costs far more than the filtering of a frame.
std::shared_ptr<const f3kdb::Tables> shared_tables(const f3kdb::TableParams &tp) {
    auto bits = [](double v) {
        uint64_t u;
        std::memcpy(&u, &v, sizeof u);
        return int64_t(u);
    };
    // Every field of TableParams: the table depends on nothing else.
    const std::vector<int64_t> key = {tp.width, tp.height, tp.frames, tp.ssw, tp.ssh, tp.range, tp.sample_mode,
                                      tp.seed, tp.algo_ref, tp.algo_grain, bits(tp.sigma_ref),
                                      bits(tp.sigma_grain), tp.grain_y, tp.grain_c, tp.dynamic_grain ? 1 : 0};
    static std::mutex mutex;
    static std::map<std::vector<int64_t>, std::weak_ptr<const f3kdb::Tables>> cache;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (auto found = cache.find(key); found != cache.end())
            if (auto t = found->second.lock())
                return t;
    }
    // Built outside the lock; a concurrent build of the same key gives the same table.
    auto built = std::make_shared<const f3kdb::Tables>(f3kdb::build_tables(tp));
    std::lock_guard<std::mutex> lock(mutex);
    for (auto it = cache.begin(); it != cache.end();)
        it = it->second.expired() ? cache.erase(it) : std::next(it);
    auto &slot = cache[key];
    if (auto t = slot.lock())
        return t;
    slot = built;
    return built;
}

const VSFrame *VS_CC deband_get_frame(int n, int activation, void *instance, void **, VSFrameContext *ctx,
                                      VSCore *core, const VSAPI *api) {
    auto *d = static_cast<DebandData *>(instance);
    FrameRef src = source_frame(n, activation, d->node.get(), ctx, api);
    if (!src.get())
        return nullptr;
    VSFrame *dst = nullptr;
    try {
        dst = new_frame_sharing(src.get(), d->process, core, api, &d->vi.format, d->vi.width, d->vi.height);
        const f3kdb::Tables &t = *d->tables;
        const int64_t goff = t.grain_offset(n);
        std::vector<int32_t> scratch;
        for (int p = 0; p < d->vi.format.numPlanes; p++) {
            if (!d->process[p])
                continue;
            f3kdb::PlaneParams pp = d->plane[p];
            const std::vector<int16_t> &grain = p == 0 ? t.grain_luma : t.grain_chroma;
            pp.grain = grain.empty() ? nullptr : grain.data() + goff;
            scratch.resize(f3kdb::scratch_size(pp.width));
            f3kdb::deband_plane(api->getReadPtr(src.get(), p), api->getStride(src.get(), p), api->getWritePtr(dst, p),
                                api->getStride(dst, p), pp, t.ref.data(), t.width, scratch.data());
        }
    } catch (const std::exception &e) {
        if (dst)
            api->freeFrame(dst);
        api->setFilterError((std::string(kName) + ": " + e.what()).c_str(), ctx);
        return nullptr;
    }
    return dst;
}

void VS_CC deband_create(const VSMap *in, VSMap *out, void *, VSCore *core, const VSAPI *api) {
    guarded_create(kName, out, api, [&] {
        Args args(in, api);
        args.require_finite();
        auto d = std::make_unique<DebandData>();
        d->node = args.node("clip");
        const VSVideoInfo *vi = d->node.vi();
        if (!is_constant_format(vi))
            throw ArgError("only constant format and size input is supported");
        if (vi->format.sampleType != stInteger || vi->format.bitsPerSample < 8 || vi->format.bitsPerSample > 16)
            throw ArgError("only 8-16 bit integer input is supported, got " +
                           std::string(vi->format.sampleType == stFloat ? "float " : "") +
                           std::to_string(vi->format.bitsPerSample) + " bit");
        if (vi->width < 16 || vi->height < 16)
            throw ArgError("the clip must be at least 16x16 pixels, got " + std::to_string(vi->width) + "x" +
                           std::to_string(vi->height));
        const VSVideoFormat &fi = vi->format;

        Settings s;
        if (args.has("preset")) {
            int err = 0;
            const char *text = api->mapGetData(in, "preset", 0, &err);
            if (err || !text)
                throw ArgError("preset must be a string");
            apply_preset(text, s);
        }
        const int64_t i32min = std::numeric_limits<int32_t>::min(), i32max = std::numeric_limits<int32_t>::max();
        s.range = checked(args, "range", s.range, 0, 31);
        s.y = checked(args, "y", s.y, 0, 511);
        s.cb = checked(args, "cb", s.cb, 0, 511);
        s.cr = checked(args, "cr", s.cr, 0, 511);
        s.grainy = checked(args, "grainy", s.grainy, 0, 4096);
        s.grainc = checked(args, "grainc", s.grainc, 0, 4096);
        const int sample_mode = int(checked(args, "sample_mode", 2, 1, 2));
        const int32_t seed = int32_t(checked(args, "seed", 0, i32min, i32max));
        const bool blur_first = args.get_int("blur_first", 1) != 0;
        const bool dynamic_grain = args.get_int("dynamic_grain", 0) != 0;
        // Any SIMD level picks the AVX2 rows when the CPU has them; 0 keeps the scalar kernel. Same results.
        const bool avx2 = checked(args, "opt", -1, -1, 3) != 0 && cpu_has_avx2();
        const bool keep_tv_range = args.get_int("keep_tv_range", 0) != 0;
        int64_t od = args.get_int("output_depth", -1);
        if (od == -1)
            od = fi.bitsPerSample;
        if (od < 8 || od > 16)
            throw ArgError("output_depth must be -1 (input depth) or between 8 and 16, got " + std::to_string(od));
        // With 16-bit output nothing is dithered, so any dither_algo is accepted.
        int dither = od == 16 ? f3kdb::dither_pass16 : int(checked(args, "dither_algo", 3, 1, 4));
        const int algo_ref = int(checked(args, "random_algo_ref", 1, 0, 2));
        const int algo_grain = int(checked(args, "random_algo_grain", 1, 0, 2));
        const double sigma_ref = checked_sigma(args, "random_param_ref", algo_ref == f3kdb::random_gaussian);
        const double sigma_grain = checked_sigma(args, "random_param_grain", algo_grain == f3kdb::random_gaussian);

        d->vi = *vi;
        if (!api->queryVideoFormat(&d->vi.format, fi.colorFamily, stInteger, int(od), fi.subSamplingW,
                                   fi.subSamplingH, core))
            throw ArgError("unable to make the output format with " + std::to_string(od) + " bits");
        d->in_depth = fi.bitsPerSample;

        f3kdb::TableParams tp;
        tp.width = vi->width;
        tp.height = vi->height;
        tp.frames = vi->numFrames;
        tp.ssw = fi.subSamplingW;
        tp.ssh = fi.subSamplingH;
        tp.range = int(s.range);
        tp.sample_mode = sample_mode;
        tp.seed = seed;
        tp.algo_ref = algo_ref;
        tp.algo_grain = algo_grain;
        tp.sigma_ref = sigma_ref;
        tp.sigma_grain = sigma_grain;
        tp.grain_y = int(s.grainy) * 4;
        tp.grain_c = int(s.grainc) * 4;
        tp.dynamic_grain = dynamic_grain;

        const int thresholds[3] = {int(s.y) * 4, int(s.cb) * 4, int(s.cr) * 4};
        for (int p = 0; p < fi.numPlanes; p++) {
            const int grain = p == 0 ? tp.grain_y : tp.grain_c;
            // Same depth, no threshold, no grain: the plane is passed through untouched (no TV-range clamp).
            d->process[p] = !(od == fi.bitsPerSample && grain == 0 && thresholds[p] == 0);
            f3kdb::PlaneParams &pp = d->plane[p];
            pp.width = plane_width(vi, p);
            pp.height = plane_height(vi, p);
            pp.ssw = p ? fi.subSamplingW : 0;
            pp.ssh = p ? fi.subSamplingH : 0;
            pp.in_depth = fi.bitsPerSample;
            pp.out_depth = int(od);
            pp.threshold = thresholds[p];
            pp.sample_mode = sample_mode;
            pp.blur_first = blur_first;
            pp.dither = dither;
            if (keep_tv_range) {
                pp.lo = 16 << 8;
                pp.hi = uint16_t((p == 0 ? 235 : 240) << 8);
            }
            pp.grain_stride = f3kdb::grain_stride(pp.width);
            pp.range = int(s.range);
            pp.avx2 = avx2;
        }
        d->tables = shared_tables(tp);

        VSNode *dep = d->node.get();
        const VSVideoInfo out_vi = d->vi;
        create_video_filter(out, kName, &out_vi, deband_get_frame, d.release(), {dep}, core, api);
    });
}

} // namespace

VS_EXTERNAL_API(void) VapourSynthPluginInit2(VSPlugin *plugin, const VSPLUGINAPI *vspapi) {
    vspapi->configPlugin("org.orvo.f3kdb", "f3kdb", "Deband filter (orvo stand-in)", VS_MAKE_VERSION(1, 0),
                         VAPOURSYNTH_API_VERSION, 0, plugin);
    vspapi->registerFunction("Deband",
                             "clip:vnode;range:int:opt;y:int:opt;cb:int:opt;cr:int:opt;grainy:int:opt;grainc:int:opt;"
                             "sample_mode:int:opt;seed:int:opt;blur_first:int:opt;dynamic_grain:int:opt;opt:int:opt;"
                             "dither_algo:int:opt;keep_tv_range:int:opt;output_depth:int:opt;random_algo_ref:int:opt;"
                             "random_algo_grain:int:opt;random_param_ref:float:opt;random_param_grain:float:opt;"
                             "preset:data:opt;",
                             "clip:vnode;", deband_create, nullptr, plugin);
}
