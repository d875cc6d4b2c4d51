// fmtc.bitdepth: bit depth and range conversion with dithering.
#include "cpu.h"
#include "fmtc_common.h"
#include "kernel.h"

#include <memory>

namespace fmtc {

using orvo::ArgError;
using orvo::Args;
using orvo::Node;

namespace {

enum class Path { copy, to_float, shift, dither };

struct BitdepthData {
    Node node;
    VSVideoInfo vi{};
    VSVideoFormat src_fmt{};
    Path path = Path::copy;
    std::array<bool, 3> process{true, true, true};
    std::array<DitherParams, 3> params{};
    std::array<float, 3> gain{1, 1, 1}, add{0, 0, 0};
    int shift = 0;
    bool dyn = false, corplane = false, staticnoise = false;
    bool avx2 = false;
    std::array<std::vector<int16_t>, 4> patterns;
    int set_range = -1; // -1: leave _ColorRange alone
};

template <class Tin, class Tout>
void dither_typed(const VSFrame *src, VSFrame *dst, int p, int w, int h, const BitdepthData &d, int n,
                  const VSAPI *api) {
    const DitherParams &dp = d.params[p];
    const int pat = d.dyn ? ((d.corplane ? 0 : p) + n) & 3 : 0;
    const uint32_t seed = uint32_t(d.corplane ? 0 : p << 16) + uint32_t(d.staticnoise ? 55555 : n);
    dither_plane<Tin, Tout>(reinterpret_cast<const Tin *>(api->getReadPtr(src, p)), api->getStride(src, p) / ptrdiff_t(sizeof(Tin)),
                            reinterpret_cast<Tout *>(api->getWritePtr(dst, p)), api->getStride(dst, p) / ptrdiff_t(sizeof(Tout)),
                            w, h, dp, d.patterns[pat].data(), seed);
}

void process_plane(const VSFrame *src, VSFrame *dst, int p, const BitdepthData &d, int n, const VSAPI *api) {
    const int w = api->getFrameWidth(src, p), h = api->getFrameHeight(src, p);
    const int sb = d.src_fmt.bytesPerSample, db = d.vi.format.bytesPerSample;
    const uint8_t *sp = api->getReadPtr(src, p);
    uint8_t *dp = api->getWritePtr(dst, p);
    const ptrdiff_t ss = api->getStride(src, p), ds = api->getStride(dst, p);
    switch (d.path) {
    case Path::copy:
        vsh::bitblt(dp, ds, sp, ss, size_t(w) * size_t(sb), h);
        return;
    case Path::to_float:
        if (sb == 1)
            int_to_float_plane(sp, ss, reinterpret_cast<float *>(dp), ds / 4, w, h, d.gain[p], d.add[p]);
        else
            int_to_float_plane(reinterpret_cast<const uint16_t *>(sp), ss / 2, reinterpret_cast<float *>(dp), ds / 4, w,
                               h, d.gain[p], d.add[p]);
        return;
    case Path::shift:
        if (sb == 1 && db == 1)
            shift_plane(sp, ss, dp, ds, w, h, d.shift);
        else if (sb == 1)
            shift_plane(sp, ss, reinterpret_cast<uint16_t *>(dp), ds / 2, w, h, d.shift);
        else
            shift_plane(reinterpret_cast<const uint16_t *>(sp), ss / 2, reinterpret_cast<uint16_t *>(dp), ds / 2, w, h,
                        d.shift);
        return;
    case Path::dither:
        break;
    }
    const bool src_float = d.src_fmt.sampleType == stFloat;
    const DitherParams &prm = d.params[p];
#if defined(__x86_64__) || defined(__i386__)
    if (d.avx2 && !src_float && sb == 2 && is_round_shift(prm)) {
        const int shift = prm.src_bits - prm.dst_bits, half = prm.dmode == 2 ? 0 : 1 << (shift - 1);
        const int hi = (1 << prm.dst_bits) - 1;
        const auto *s16 = reinterpret_cast<const uint16_t *>(sp);
        if (db == 1)
            round_shift_plane_avx2(s16, ss / 2, dp, ds, w, h, shift, half, hi);
        else
            round_shift_plane_avx2(s16, ss / 2, reinterpret_cast<uint16_t *>(dp), ds / 2, w, h, shift, half, hi);
        return;
    }
#endif
    if (src_float)
        db == 1 ? dither_typed<float, uint8_t>(src, dst, p, w, h, d, n, api)
                : dither_typed<float, uint16_t>(src, dst, p, w, h, d, n, api);
    else if (sb == 1)
        db == 1 ? dither_typed<uint8_t, uint8_t>(src, dst, p, w, h, d, n, api)
                : dither_typed<uint8_t, uint16_t>(src, dst, p, w, h, d, n, api);
    else
        db == 1 ? dither_typed<uint16_t, uint8_t>(src, dst, p, w, h, d, n, api)
                : dither_typed<uint16_t, uint16_t>(src, dst, p, w, h, d, n, api);
}

const VSFrame *VS_CC bitdepth_get_frame(int n, int activation, void *instance, void **, VSFrameContext *ctx,
                                        VSCore *core, const VSAPI *api) {
    auto *d = static_cast<BitdepthData *>(instance);
    orvo::FrameRef src = orvo::source_frame(n, activation, d->node.get(), ctx, api);
    if (!src.get())
        return nullptr;
    const bool same = vsh::isSameVideoFormat(&d->vi.format, &d->src_fmt);
    VSFrame *dst;
    std::array<bool, 3> compute{true, true, true};
    if (same) {
        // Same format: planes that are copied or not selected are shared.
        for (int p = 0; p < 3; p++)
            compute[p] = d->process[p] && d->path != Path::copy;
        dst = orvo::new_frame_sharing(src.get(), compute, core, api);
    } else {
        dst = api->newVideoFrame(&d->vi.format, d->vi.width, d->vi.height, src.get(), core);
    }
    for (int p = 0; p < d->vi.format.numPlanes; p++)
        if (compute[p])
            process_plane(src.get(), dst, p, *d, n, api);
    if (d->set_range >= 0)
        api->mapSetInt(api->getFramePropertiesRW(dst), "_ColorRange", d->set_range, maReplace);
    return dst;
}

bool valid_input_depth(const VSVideoFormat &f) {
    if (f.sampleType == stFloat)
        return f.bitsPerSample == 32;
    switch (f.bitsPerSample) {
    case 8: case 9: case 10: case 11: case 12: case 14: case 16: return true;
    default: return false;
    }
}

bool valid_output_depth(const VSVideoFormat &f) {
    if (f.sampleType == stFloat)
        return f.bitsPerSample == 32;
    switch (f.bitsPerSample) {
    case 8: case 9: case 10: case 12: case 16: return true;
    default: return false;
    }
}

float rhe32(double v) { return std::nearbyint(float(v)); }

} // namespace

void VS_CC bitdepth_create(const VSMap *in, VSMap *out, void *, VSCore *core, const VSAPI *api) {
    orvo::guarded_create("bitdepth", out, api, [&] {
        Args args(in, api);
        args.require_finite();
        auto d = std::make_unique<BitdepthData>();
        d->node = args.node("clip");
        const VSVideoInfo *vi = d->node.vi();
        if (!orvo::is_constant_format(vi))
            throw ArgError("only constant pixel formats are supported.");
        const VSVideoFormat &sf = vi->format;
        if (!valid_input_depth(sf))
            throw ArgError("input pixel bitdepth not supported (" + format_desc(sf) +
                           "; allowed: integer 8-12, 14 or 16 bits, float 32 bits).");
        d->src_fmt = sf;
        d->vi = *vi;

        // Output format.
        VSVideoFormat df{};
        const bool has_csp = args.has("csp"), has_bits = args.has("bits"), has_flt = args.has("flt");
        if (has_csp) {
            if (has_bits || has_flt)
                throw ArgError("you cannot specify both a colorspace and a pixel format.");
            int64_t csp = args.get_int("csp", 0);
            if (!api->getVideoFormatByID(&df, uint32_t(csp), core) || df.colorFamily == cfUndefined)
                throw ArgError("unknown output colorspace (csp=" + std::to_string(csp) + ").");
            if (df.colorFamily != sf.colorFamily || df.subSamplingW != sf.subSamplingW ||
                df.subSamplingH != sf.subSamplingH || df.numPlanes != sf.numPlanes)
                throw ArgError("specified output colorspace is not compatible with input.");
        } else {
            int st = sf.sampleType, bits = sf.bitsPerSample;
            if (has_flt) {
                st = args.get_int("flt", 0) ? stFloat : stInteger;
                if (st == stFloat && !has_bits)
                    bits = 32;
            }
            if (has_bits) {
                bits = int(args.get_int("bits", 8));
                if (!has_flt)
                    st = bits < 32 ? stInteger : stFloat;
            }
            if (bits < 8 || bits > 32 ||
                !api->queryVideoFormat(&df, sf.colorFamily, st, bits, sf.subSamplingW, sf.subSamplingH, core))
                throw ArgError("couldn't get a pixel format identifier for the output clip (bits=" +
                               std::to_string(bits) + ").");
        }
        if (!valid_output_depth(df))
            throw ArgError("output pixel bitdepth not supported (" + format_desc(df) +
                           "; allowed: integer 8, 9, 10, 12 or 16 bits, float 32 bits).");
        d->vi.format = df;

        const int np = sf.numPlanes;
        d->process = orvo::parse_planes(args, "planes", np);
        const bool fulls = args.get_bool("fulls", default_full(sf));
        const bool fulld = args.get_bool("fulld", fulls);
        if (args.has("fulls") || args.has("fulld"))
            d->set_range = fulld ? 0 : 1;

        int64_t dmode = args.get_int("dmode", 3);
        if (dmode == -1)
            dmode = 1;
        if (dmode < 0 || (dmode & 0xFFFF) >= 10)
            throw ArgError("invalid dmode (" + std::to_string(dmode) + "; allowed: -1 to 9).");
        int mode = int(dmode & 0xFFFF);
        // Modes without an implementation of their own fall back to the closest family.
        if (mode >= 4 && mode <= 7)
            mode = 3;
        else if (mode >= 8)
            mode = 0;
        const double ampo = args.get_float("ampo", 1.0), ampn = args.get_float("ampn", 0.0);
        if (ampo < 0)
            throw ArgError("ampo cannot be negative (ampo=" + std::to_string(ampo) + ").");
        if (ampn < 0)
            throw ArgError("ampn cannot be negative (ampn=" + std::to_string(ampn) + ").");
        d->dyn = args.get_bool("dyn", false);
        d->staticnoise = args.get_bool("staticnoise", false);
        d->corplane = args.get_bool("corplane", false);
        const int64_t patsize = args.get_int("patsize", 32);
        if (patsize < 4 || patsize > 1024 || (patsize & (patsize - 1)))
            throw ArgError("Wrong value for patsize (" + std::to_string(patsize) +
                           "; allowed: a power of two from 4 to 1024).");
        const bool tpdfo = args.get_bool("tpdfo", false) && mode != 3;
        const bool tpdfn = args.get_bool("tpdfn", false);
        const int64_t cpuopt = args.get_int("cpuopt", -1);
        d->avx2 = cpuopt != 0 && orvo::cpu_has_avx2();

        // Processing path, once per clip.
        const bool sflt = sf.sampleType == stFloat, dflt = df.sampleType == stFloat;
        if (sflt && dflt)
            d->path = Path::copy;
        else if (dflt)
            d->path = Path::to_float;
        else if (!sflt && !fulls && !fulld && df.bitsPerSample >= sf.bitsPerSample)
            d->path = df.bitsPerSample == sf.bitsPerSample && df.bytesPerSample == sf.bytesPerSample ? Path::copy
                                                                                                      : Path::shift;
        else
            d->path = Path::dither;
        d->shift = df.bitsPerSample - sf.bitsPerSample;

        const double amp_o = ampo * (tpdfo ? std::sqrt(0.5) : 1.0);
        const double amp_n = ampn * (tpdfn ? std::sqrt(0.5) : 1.0);
        const float ro = rhe32(amp_o * 32), rn = rhe32(amp_n * 32);
        for (int p = 0; p < np; p++) {
            RangeMap m = range_map(sf, fulls, df, fulld, p);
            d->gain[p] = float(m.gain);
            d->add[p] = float(m.add);
            DitherParams &dp = d->params[p];
            dp.dmode = mode;
            dp.src_bits = sflt ? 32 : sf.bitsPerSample;
            dp.dst_bits = df.bitsPerSample;
            dp.gain = float(m.gain);
            dp.add = float(m.add);
            const int dif = dp.src_bits - dp.dst_bits;
            dp.int_variant = !sflt && dif > 0 && std::fabs(m.gain * std::ldexp(1.0, dif) - 1) < 1e-6 &&
                             std::fabs(m.add) < 1e-6;
            dp.simple = ro == 32 && rn == 0;
            dp.ao = int(std::min(ro, 127.f));
            dp.an = int(std::min(rn, 127.f));
            dp.ae = int(std::clamp(rhe32((ampo - 1) * 4096), 0.f, 65535.f));
            dp.push = float(std::clamp(ampo - 1, 0.0, 8.0));
            dp.ampn = float(amp_n);
            dp.tpdfn = tpdfn;
            dp.patsize = int(patsize);
        }
        if (d->path == Path::dither && mode == 0)
            for (int r = 0; r < 4; r++)
                d->patterns[r] = bayer_pattern(int(patsize), r);

        VSNode *src = d->node.get();
        VSVideoInfo outvi = d->vi;
        orvo::create_video_filter(out, "bitdepth", &outvi, bitdepth_get_frame, d.release(), {src}, core, api);
    });
}

} // namespace fmtc
