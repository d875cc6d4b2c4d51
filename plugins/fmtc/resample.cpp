// fmtc.resample: separable resizing, window shifts, chroma subsampling
// changes and range/depth conversion to 16-bit integer or float output.
#include "cpu.h"
#include "fmtc_common.h"
#include "kernel.h"

#include <cctype>
#include <cfloat>
#include <cstdio>
#include <memory>

namespace fmtc {

using orvo::ArgError;
using orvo::Args;
using orvo::Node;

namespace {

enum class CPlace { mpeg1, mpeg2, dv, top_left };
enum FieldState { progressive = 0, top = 1, bottom = 2 };
enum class PlaneMode { process, copy, fill };

struct Geometry { // one direction of one plane, one field state
    DirPlan plan;
};

struct PlanePlan {
    PlaneMode mode = PlaneMode::process;
    double fill = 0;
    int src_w = 0, src_h = 0, dst_w = 0, dst_h = 0;
    float gain = 1, add = 0; // unfiltered conversion
    DirPlan h;
    // Vertical direction for [src state][dst state]; h_first likewise.
    DirPlan v[3][3];
    bool h_first[3][3] = {};
    // Which combinations may occur (the others are not built).
};

struct ResampleData {
    Node node;
    VSVideoInfo vi{};
    VSVideoFormat src_fmt{};
    std::array<PlanePlan, 3> planes;
    int interlaced = 2, interlacedd = 2, tff = 2, tffd = 2;
    bool avx2 = false;
    int set_range = -1;
    int set_chromaloc = -1;
};

// Source window positions and sizes beyond this many luma pixels are refused: far
// larger than any picture, and they would leave the range of the sample positions.
constexpr double kMaxWindow = 1 << 20;

std::string number(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.10g", v);
    return buf;
}

std::string lower(std::string s) {
    for (char &c : s)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

CPlace parse_cplace(const std::string &s) {
    const std::string v = lower(s);
    if (v == "mpeg1" || v == "jpeg" || v == "center")
        return CPlace::mpeg1;
    if (v == "mpeg2" || v == "left")
        return CPlace::mpeg2;
    if (v == "dv")
        return CPlace::dv;
    if (v == "top_left" || v == "tl")
        return CPlace::top_left;
    throw ArgError("unexpected cplace string \"" + s + "\" (allowed: mpeg1, jpeg, center, mpeg2, left, dv, top_left, tl).");
}

// Destination subsampling (log2 h, log2 v) from a css string.
bool parse_css(const std::string &s, int &ssh, int &ssv) {
    const std::string v = lower(s);
    struct E {
        const char *a, *b;
        int h, v;
    };
    static const E names[] = {{"444", "4:4:4", 0, 0}, {"422", "4:2:2", 1, 0}, {"420", "4:2:0", 1, 1}, {"411", "4:1:1", 2, 0}};
    for (const E &e : names)
        if (v == e.a || v == e.b) {
            ssh = e.h, ssv = e.v;
            return true;
        }
    auto lg = [](char c) { return c == '1' ? 0 : c == '2' ? 1 : c == '4' ? 2 : c == '8' ? 3 : -1; };
    if (v.size() == 2 && lg(v[0]) >= 0 && lg(v[1]) >= 0) {
        ssh = lg(v[0]), ssv = lg(v[1]);
        return true;
    }
    return false;
}

double center_x(const VSVideoFormat &f, int plane, CPlace cp, bool center) {
    if (!center)
        return 0;
    if (!is_chroma(f, plane) || f.subSamplingW == 0)
        return 0.5;
    return cp == CPlace::mpeg1 ? 0.5 : 0.5 / double(1 << f.subSamplingW);
}

double center_y(const VSVideoFormat &f, int plane, CPlace cp, bool center, FieldState st) {
    if (!center)
        return 0;
    const bool sited = is_chroma(f, plane) && f.subSamplingH == 1 && (cp == CPlace::dv || cp == CPlace::top_left);
    if (!sited)
        return st == progressive ? 0.5 : st == top ? 0.25 : 0.75;
    double c = st == progressive ? 0.25 : st == top ? 0.125 : 0.375;
    if (cp == CPlace::dv && plane == 2)
        c += 0.5;
    return c;
}

template <class T>
T pick(const std::vector<T> &v, int i, T def) {
    if (v.empty())
        return def;
    return v[size_t(std::min<int>(i, int(v.size()) - 1))];
}

// A per-plane array with a fallback array (kernelh falls back to kernel, ...).
template <class T>
std::vector<T> either(const std::vector<T> &specific, const std::vector<T> &general) {
    return specific.empty() ? general : specific;
}

std::vector<std::string> strings(const Args &args, const VSMap *in, const VSAPI *api, const char *key) {
    std::vector<std::string> v;
    for (int i = 0; i < args.count(key); i++) {
        int err = 0;
        const char *s = api->mapGetData(in, key, i, &err);
        v.push_back(err || !s ? std::string() : std::string(s));
    }
    return v;
}

struct Window {
    double x, y, w, h;
};

bool near_int(double v) { return std::fabs(v - std::round(v)) <= 1e-5; }

// Plans one direction: an integer crop when nothing needs filtering.
void plan_direction(DirPlan &out, const KernelDef &k, int S, int D, double X, double Wn, double cs, double cd,
                    double f_signed, double gain, double add, bool gain_here, bool cnorm, double total,
                    const char *dir) {
    const double f = std::fabs(f_signed);
    const bool filter = !near_int(X) || X < -1e-5 || X + Wn > S + 1e-5 || std::fabs(Wn - D) > 1e-5 ||
                        std::fabs(f - 1) > 1e-9 || f_signed < 0 || std::fabs(cs - cd) > 1e-9;
    out.filtered = filter;
    out.offset = filter ? 0 : int(std::lround(X));
    if (!filter)
        return;
    TableParams s{S, D, X, Wn, cs, cd, f, gain_here ? gain : 1.0, gain_here ? add : 0.0, cnorm, total};
    if (!build_table(k, s, out.table))
        throw ArgError(std::string("resizing ratio too low or kernel support too high (") + dir + " direction).");
}

bool decide_h_first(const DirPlan &h, const DirPlan &v, double rh, double rv) {
    if (!h.filtered || !v.filtered)
        return h.filtered;
    bool hf = (rv < 1 && rv < rh) || (rv > 1 && rh > 1);
    if (rv / rh > 8 && rv > 4)
        hf = true;
    if (rh / rv > 8 && rh > 4)
        hf = false;
    return hf;
}

FieldState field_state(const VSMap *props, const VSAPI *api, int n, int interlaced, int tff) {
    if (interlaced == 0)
        return progressive;
    int e1 = 0, e2 = 0;
    const int64_t fb = api->mapGetInt(props, "_FieldBased", 0, &e1);
    const int64_t fld = api->mapGetInt(props, "_Field", 0, &e2);
    const bool has_fb = !e1, has_fld = !e2;
    const bool field = interlaced == 1 || (has_fb && fb != 0);
    if (!field)
        return progressive;
    if (tff == 1)
        return (n & 1) ? bottom : top;
    if (tff == 0)
        return (n & 1) ? top : bottom;
    if (!has_fb && !has_fld)
        return progressive;
    if (has_fld)
        return fld == 1 ? top : bottom;
    if (fb == 1 || fb == 2)
        return ((fb == 2) == ((n & 1) == 0)) ? top : bottom;
    return progressive;
}

// Unfiltered conversion: the integer to 16-bit shift has an AVX2 form.
template <class Tin, class Tout>
void convert(const Tin *src, ptrdiff_t ss, Tout *dst, ptrdiff_t ds, int w, int h, float gain, float add, int shift,
             bool avx2) {
#if defined(__x86_64__) || defined(__i386__)
    if constexpr (!std::is_same_v<Tin, float> && std::is_same_v<Tout, uint16_t>) {
        if (avx2) {
            shift_plane_u16_avx2(src, ss, dst, ds, w, h, shift);
            return;
        }
    }
#endif
    (void)avx2;
    convert_plane(src, ss, dst, ds, w, h, gain, add, shift);
}

template <class Tin, class Tout>
void run_plane(const VSFrame *src, VSFrame *dst, int p, const PlanePlan &pp, int ss, int ds, bool avx2,
               int src_bits, const VSAPI *api) {
    const Tin *sp = reinterpret_cast<const Tin *>(api->getReadPtr(src, p));
    Tout *dp = reinterpret_cast<Tout *>(api->getWritePtr(dst, p));
    const ptrdiff_t sst = api->getStride(src, p) / ptrdiff_t(sizeof(Tin));
    const ptrdiff_t dst_ = api->getStride(dst, p) / ptrdiff_t(sizeof(Tout));
    const int shift = std::is_same_v<Tin, float> ? 0 : 16 - src_bits;
    if (pp.mode == PlaneMode::fill) {
        for (int y = 0; y < pp.dst_h; y++)
            std::fill(dp + y * dst_, dp + y * dst_ + pp.dst_w, Tout(pp.fill));
        return;
    }
    if (pp.mode == PlaneMode::copy) {
        // Top-left area; the rest repeats the last copied column and row.
        const int cw = std::min(pp.src_w, pp.dst_w), ch = std::min(pp.src_h, pp.dst_h);
        convert(sp, sst, dp, dst_, cw, ch, pp.gain, pp.add, shift, avx2);
        for (int y = 0; y < pp.dst_h; y++) {
            Tout *row = dp + y * dst_;
            if (y >= ch)
                std::copy(dp + (ch - 1) * dst_, dp + (ch - 1) * dst_ + cw, row);
            std::fill(row + cw, row + pp.dst_w, row[cw - 1]);
        }
        return;
    }
    const DirPlan &v = pp.v[ss][ds];
    if (!pp.h.filtered && !v.filtered) {
        convert(sp + v.offset * sst + pp.h.offset, sst, dp, dst_, pp.dst_w, pp.dst_h, pp.gain, pp.add, shift, avx2);
        return;
    }
    resample_plane(sp, sst, pp.src_w, pp.src_h, dp, dst_, pp.dst_w, pp.dst_h, pp.h, v, pp.h_first[ss][ds], avx2);
}

// A plane that would come out bit-identical to the source plane.
bool is_identity(const ResampleData &d, const PlanePlan &pp, int ss, int ds) {
    const VSVideoFormat &s = d.src_fmt, &o = d.vi.format;
    if (s.sampleType != o.sampleType || s.bitsPerSample != o.bitsPerSample)
        return false;
    if (pp.src_w != pp.dst_w || pp.src_h != pp.dst_h || pp.mode == PlaneMode::fill)
        return false;
    if (s.sampleType == stFloat && (pp.gain != 1 || pp.add != 0))
        return false;
    if (pp.mode == PlaneMode::copy)
        return true;
    const DirPlan &v = pp.v[ss][ds];
    return !pp.h.filtered && !v.filtered && pp.h.offset == 0 && v.offset == 0;
}

const VSFrame *VS_CC resample_get_frame(int n, int activation, void *instance, void **, VSFrameContext *ctx,
                                        VSCore *core, const VSAPI *api) {
    auto *d = static_cast<ResampleData *>(instance);
    orvo::FrameRef src = orvo::source_frame(n, activation, d->node.get(), ctx, api);
    if (!src.get())
        return nullptr;
    const VSMap *sprops = api->getFramePropertiesRO(src.get());
    const FieldState ss = field_state(sprops, api, n, d->interlaced, d->tff);
    const FieldState ds = field_state(sprops, api, n, d->interlacedd, d->tffd);

    const int np = d->vi.format.numPlanes;
    const VSFrame *plane_src[3] = {nullptr, nullptr, nullptr};
    int plane_idx[3] = {0, 1, 2};
    for (int p = 0; p < np; p++)
        if (is_identity(*d, d->planes[p], ss, ds))
            plane_src[p] = src.get();
    VSFrame *dst = api->newVideoFrame2(&d->vi.format, d->vi.width, d->vi.height, plane_src, plane_idx, src.get(), core);

    const VSVideoFormat &sf = d->src_fmt;
    const bool out_float = d->vi.format.sampleType == stFloat;
    for (int p = 0; p < np; p++) {
        if (plane_src[p])
            continue;
        const PlanePlan &pp = d->planes[p];
        if (sf.sampleType == stFloat)
            out_float ? run_plane<float, float>(src.get(), dst, p, pp, ss, ds, d->avx2, 32, api)
                      : run_plane<float, uint16_t>(src.get(), dst, p, pp, ss, ds, d->avx2, 32, api);
        else if (sf.bytesPerSample == 1)
            out_float ? run_plane<uint8_t, float>(src.get(), dst, p, pp, ss, ds, d->avx2, sf.bitsPerSample, api)
                      : run_plane<uint8_t, uint16_t>(src.get(), dst, p, pp, ss, ds, d->avx2, sf.bitsPerSample, api);
        else
            out_float ? run_plane<uint16_t, float>(src.get(), dst, p, pp, ss, ds, d->avx2, sf.bitsPerSample, api)
                      : run_plane<uint16_t, uint16_t>(src.get(), dst, p, pp, ss, ds, d->avx2, sf.bitsPerSample, api);
    }

    VSMap *props = api->getFramePropertiesRW(dst);
    if (d->set_range >= 0)
        api->mapSetInt(props, "_ColorRange", d->set_range, maReplace);
    if (d->set_chromaloc >= 0)
        api->mapSetInt(props, "_ChromaLocation", d->set_chromaloc, maReplace);
    if (d->interlacedd != 2) {
        if (ds == progressive) {
            api->mapSetInt(props, "_FieldBased", 0, maReplace);
            api->mapDeleteKey(props, "_Field");
        } else if (d->tffd != 2) {
            api->mapSetInt(props, "_FieldBased", d->tffd ? 2 : 1, maReplace);
            api->mapSetInt(props, "_Field", ds == top ? 1 : 0, maReplace);
        }
    }
    return dst;
}

bool valid_input(const VSVideoFormat &f) {
    if (f.sampleType == stFloat)
        return f.bitsPerSample == 32;
    switch (f.bitsPerSample) {
    case 8: case 9: case 10: case 12: case 14: case 16: return true;
    default: return false;
    }
}

} // namespace

void VS_CC resample_create(const VSMap *in, VSMap *out, void *, VSCore *core, const VSAPI *api) {
    orvo::guarded_create("resample", out, api, [&] {
        Args args(in, api);
        args.require_finite();
        auto d = std::make_unique<ResampleData>();
        d->node = args.node("clip");
        const VSVideoInfo *vi = d->node.vi();
        if (!orvo::is_constant_format(vi))
            throw ArgError("only constant pixel formats are supported.");
        const VSVideoFormat sf = vi->format;
        if (!valid_input(sf))
            throw ArgError("input pixel bitdepth not supported (" + format_desc(sf) +
                           "; allowed: integer 8, 9, 10, 12, 14 or 16 bits, float 32 bits).");
        d->src_fmt = sf;

        // Arguments this build does not implement: accepted at their defaults only.
        auto refuse_nonzero = [&](const char *key) {
            for (int64_t v : args.ints(key))
                if (v != 0)
                    throw ArgError(std::string(key) + "=" + std::to_string(v) +
                                   " (kernel inversion) is not supported by this build; only 0 is accepted.");
        };
        refuse_nonzero("invks");
        refuse_nonzero("invksh");
        refuse_nonzero("invksv");
        for (const char *key : {"invkstaps", "invkstapsh", "invkstapsv"})
            for (int64_t v : args.ints(key))
                if (v < 1 || v > 128)
                    throw ArgError(std::string(key) + " must be in the 1-128 range (got " + std::to_string(v) + ").");
        for (int64_t v : args.ints("kovrspl"))
            if (v != 1)
                throw ArgError("kovrspl=" + std::to_string(v) + " (kernel oversampling) is not supported by this build; only 1 is accepted.");
        for (const char *key : {"impulse", "impulseh", "impulsev"})
            if (args.has(key))
                throw ArgError(std::string(key) + ": custom impulse kernels are not supported by this build.");

        // Output format.
        VSVideoFormat of = sf;
        if (sf.sampleType == stInteger)
            api->queryVideoFormat(&of, sf.colorFamily, stInteger, 16, sf.subSamplingW, sf.subSamplingH, core);
        if (args.has("csp")) {
            int64_t csp = args.get_int("csp", 0);
            VSVideoFormat cf{};
            if (!api->getVideoFormatByID(&cf, uint32_t(csp), core) || cf.colorFamily == cfUndefined)
                throw ArgError("unknown output colorspace (csp=" + std::to_string(csp) + ").");
            if (cf.colorFamily != sf.colorFamily || cf.numPlanes != sf.numPlanes)
                throw ArgError("specified output colorspace is not compatible with input.");
            if (cf.sampleType == stInteger && cf.bitsPerSample < 16)
                throw ArgError("cannot output " + std::to_string(cf.bitsPerSample) +
                               "-bit data directly. Output to 16 bits then dither with fmtc.bitdepth.");
            if (!((cf.sampleType == stInteger && cf.bitsPerSample == 16) ||
                  (cf.sampleType == stFloat && cf.bitsPerSample == 32)))
                throw ArgError("specified output pixel bitdepth not supported (" + format_desc(cf) +
                               "; allowed: integer 16 bits or float 32 bits).");
            of = cf;
        }
        int ssh = of.subSamplingW, ssv = of.subSamplingH;
        if (args.has("css")) {
            const std::string css = args.get_str("css", "");
            if (!parse_css(css, ssh, ssv))
                throw ArgError("unsupported css value \"" + css + "\" (allowed: 444, 422, 420, 411 or two digits of 1, 2, 4, 8).");
        }
        if (of.colorFamily != cfYUV && (ssh || ssv))
            throw ArgError("chroma subsampling not compatible with the output format.");
        if (!api->queryVideoFormat(&of, of.colorFamily, of.sampleType, of.bitsPerSample, ssh, ssv, core))
            throw ArgError("chroma subsampling not compatible with the output format.");

        // Output dimensions.
        const double scale = args.get_float("scale", 0);
        const double scaleh = args.get_float("scaleh", scale), scalev = args.get_float("scalev", scale);
        if (scale < 0 || scaleh < 0 || scalev < 0)
            throw ArgError("scale parameters must be positive or 0.");
        // Sizes are checked in floating point first: a huge scale must not reach the integer conversion.
        auto scaled = [&](int size, double s, int ss, const char *key) {
            const double units = std::max(std::nearbyint(size * s / double(1 << ss)), 1.0);
            if (!(units <= 65536))
                throw ArgError(std::string("output size is too large (") + key + "=" + number(s) + ").");
            return int64_t(units) << ss;
        };
        int64_t dw = vi->width, dh = vi->height;
        if (scaleh > 0)
            dw = scaled(vi->width, scaleh, ssh, args.has("scaleh") ? "scaleh" : "scale");
        if (scalev > 0)
            dh = scaled(vi->height, scalev, ssv, args.has("scalev") ? "scalev" : "scale");
        dw = args.get_int("w", dw);
        dh = args.get_int("h", dh);
        if (dw <= 0)
            throw ArgError("w must be positive (w=" + std::to_string(dw) + ").");
        if (dw % (1 << ssh))
            throw ArgError("w is not compatible with the output chroma subsampling (w=" + std::to_string(dw) + ").");
        if (dh <= 0)
            throw ArgError("h must be positive (h=" + std::to_string(dh) + ").");
        if (dh % (1 << ssv))
            throw ArgError("h is not compatible with the output chroma subsampling (h=" + std::to_string(dh) + ").");
        if (dw > 65536 || dh > 65536)
            throw ArgError("output size " + std::to_string(dw) + "x" + std::to_string(dh) + " is too large.");
        d->vi = *vi;
        d->vi.format = of;
        d->vi.width = int(dw);
        d->vi.height = int(dh);

        // Range.
        const bool fulls = args.get_bool("fulls", default_full(sf));
        const bool fulld = args.get_bool("fulld", fulls);
        if (args.has("fulld"))
            d->set_range = fulld ? 0 : 1;

        // Chroma placement and fields.
        const std::string cplace = args.get_str("cplace", "mpeg2");
        const CPlace cp = parse_cplace(cplace);
        const CPlace cps = args.has("cplaces") ? parse_cplace(args.get_str("cplaces", "")) : cp;
        const CPlace cpd = args.has("cplaced") ? parse_cplace(args.get_str("cplaced", "")) : cp;
        if (args.has("cplaced")) {
            if (cpd == CPlace::mpeg2 || (cpd == CPlace::dv && ssh == 2 && ssv == 0))
                d->set_chromaloc = 0;
            else if (cpd == CPlace::mpeg1)
                d->set_chromaloc = 1;
            else if (cpd == CPlace::top_left)
                d->set_chromaloc = 2;
        }
        auto tri = [&](const char *key, int def) {
            int64_t v = args.get_int(key, def);
            if (v < 0 || v > 2)
                throw ArgError(std::string(key) + " argument out of range (" + std::to_string(v) + "; allowed: 0, 1, 2).");
            return int(v);
        };
        d->interlaced = tri("interlaced", 2);
        d->interlacedd = tri("interlacedd", d->interlaced);
        d->tff = tri("tff", 2);
        d->tffd = tri("tffd", d->tff);

        // Per-plane modes.
        const std::vector<double> planes = args.floats("planes");
        if (planes.size() > 3)
            throw ArgError("too many specified plane filters (" + std::to_string(planes.size()) + "; at most 3).");

        // Kernels and their parameters.
        const auto kern = strings(args, in, api, "kernel");
        const auto kernh = either(strings(args, in, api, "kernelh"), kern);
        const auto kernv = either(strings(args, in, api, "kernelv"), kern);
        const auto taps = args.ints("taps");
        const auto tapsh = either(args.ints("tapsh"), taps), tapsv = either(args.ints("tapsv"), taps);
        const auto a1 = args.floats("a1"), a2 = args.floats("a2");
        const auto a1h = either(args.floats("a1h"), a1), a1v = either(args.floats("a1v"), a1);
        const auto a2h = either(args.floats("a2h"), a2), a2v = either(args.floats("a2v"), a2);
        const auto fh = args.floats("fh"), fv = args.floats("fv");
        const auto total = args.floats("total");
        const auto totalh = either(args.floats("totalh"), total), totalv = either(args.floats("totalv"), total);
        const auto center = args.ints("center");
        const bool cnorm = args.get_int("cnorm", 1) != 0;
        for (const auto *t : {&tapsh, &tapsv})
            for (int64_t v : *t)
                if (v < 1 || v > 128)
                    throw ArgError("taps* must be in the 1-128 range (got " + std::to_string(v) + ").");
        for (double v : fh)
            if (v == 0)
                throw ArgError("fh cannot be null.");
        for (double v : fv)
            if (v == 0)
                throw ArgError("fv cannot be null.");
        for (double v : totalh)
            if (v < 0)
                throw ArgError("totalh must be positive or null (got " + number(v) + ").");
        for (double v : totalv)
            if (v < 0)
                throw ArgError("totalv must be positive or null (got " + number(v) + ").");

        auto make_kernel = [&](const std::vector<std::string> &names, const std::vector<int64_t> &tp,
                               const std::vector<double> &pa1, const std::vector<double> &pa2, int p) {
            KernelDef k;
            const std::string name = pick<std::string>(names, p, "spline36");
            if (!parse_kernel_name(name, k.kind))
                throw ArgError("unknown kernel \"" + name +
                               "\" (supported: point, rect, box, linear, bilinear, cubic, bicubic, lanczos, "
                               "blackman, sinc, spline16, spline36, spline64, gauss, gaussian).");
            k.taps = int(pick<int64_t>(tp, p, 4));
            if (k.kind == KernelKind::bicubic) {
                k.b = pick(pa1, p, 1.0 / 3);
                k.c = pick(pa2, p, 1.0 / 3);
            } else if (k.kind == KernelKind::gauss) {
                k.p = pick(pa1, p, 30.0);
                if (k.p < 1 || k.p > 100)
                    throw ArgError("For the gaussian kernel, a1 must be in the range 1-100 (got " + number(k.p) + ").");
            }
            return k;
        };

        // Source windows, in luma units; each plane starts from the previous one.
        const auto sx = args.floats("sx"), sy = args.floats("sy"), sw = args.floats("sw"), sh = args.floats("sh");
        for (const auto &[key, values] : {std::pair{"sx", &sx}, {"sy", &sy}, {"sw", &sw}, {"sh", &sh}})
            for (double v : *values)
                if (!(std::fabs(v) <= kMaxWindow))
                    throw ArgError(std::string(key) + " must be between -" + number(kMaxWindow) + " and " +
                                   number(kMaxWindow) + " (got " + number(v) + ").");
        Window win{0, 0, 0, 0};
        const int np = sf.numPlanes;
        for (int p = 0; p < np; p++) {
            if (p < int(sx.size())) win.x = sx[p];
            if (p < int(sy.size())) win.y = sy[p];
            if (p < int(sw.size())) win.w = sw[p];
            if (p < int(sh.size())) win.h = sh[p];
            // Sizes of 0 or below count from the far edge; the raw values are what the next plane inherits.
            const double ww = win.w > 0 ? win.w : vi->width + win.w - win.x;
            const double wh = win.h > 0 ? win.h : vi->height + win.h - win.y;
            if (ww <= 1e-9)
                throw ArgError("sw must be positive (resulting window width " + number(ww) + ").");
            if (wh <= 1e-9)
                throw ArgError("sh must be positive (resulting window height " + number(wh) + ").");

            PlanePlan &pp = d->planes[p];
            pp.src_w = orvo::plane_width(vi, p);
            pp.src_h = orvo::plane_height(vi, p);
            pp.dst_w = orvo::plane_width(&d->vi, p);
            pp.dst_h = orvo::plane_height(&d->vi, p);
            const RangeMap rm = range_map(sf, fulls, of, fulld, p);
            pp.gain = float(rm.gain);
            pp.add = float(rm.add);

            const double pv = p < int(planes.size()) ? planes[p] : 3.0;
            double stored = pv;
            if (of.sampleType == stInteger) // nearest, so -32768 fills 32768
                stored = std::floor(pv + 0.5);
            const double mode = std::trunc(pv + 0.5);
            if (mode >= 6)
                throw ArgError("invalid plane filter (planes[" + std::to_string(p) + "]=" + number(pv) + ").");
            if (mode <= 0) {
                pp.mode = PlaneMode::fill;
                pp.fill = -stored;
                if (of.sampleType == stInteger ? pp.fill >= 65536 : !(pp.fill <= FLT_MAX))
                    throw ArgError("invalid plane filter (planes[" + std::to_string(p) + "]=" + number(pv) +
                                   " fills outside the " + (of.sampleType == stInteger ? "16-bit" : "float") +
                                   " range).");
                continue;
            }
            const int m = int(mode);
            if (m != 3) { // 2 copy; 1, 4 and 5 have no defined content, copy as well
                pp.mode = PlaneMode::copy;
                continue;
            }

            const double fx = double(vi->width) / pp.src_w, fy = double(vi->height) / pp.src_h;
            const KernelDef kh = make_kernel(kernh, tapsh, a1h, a2h, p);
            const KernelDef kv = make_kernel(kernv, tapsv, a1v, a2v, p);
            const bool cen = pick<int64_t>(center, p, 1) != 0;
            const double fhp = pick(fh, p, 1.0), fvp = pick(fv, p, 1.0);
            const double th = pick(totalh, p, 0.0), tv = pick(totalv, p, 0.0);
            const double X = win.x / fx, Wn = ww / fx, Y = win.y / fy, Hn = wh / fy;
            plan_direction(pp.h, kh, pp.src_w, pp.dst_w, X, Wn, center_x(sf, p, cps, cen), center_x(of, p, cpd, cen),
                           fhp, rm.gain, rm.add, true, cnorm, th, "horizontal");
            const double rh = pp.dst_w / Wn, rv = pp.dst_h / Hn;
            const bool src_fields = d->interlaced != 0, dst_fields = d->interlacedd != 0;
            for (int s = 0; s < 3; s++)
                for (int t = 0; t < 3; t++) {
                    if ((s && !src_fields) || (t && !dst_fields))
                        continue;
                    DirPlan &vp = pp.v[s][t];
                    plan_direction(vp, kv, pp.src_h, pp.dst_h, Y, Hn, center_y(sf, p, cps, cen, FieldState(s)),
                                   center_y(of, p, cpd, cen, FieldState(t)), fvp, rm.gain, rm.add, !pp.h.filtered,
                                   cnorm, tv, "vertical");
                    pp.h_first[s][t] = decide_h_first(pp.h, vp, rh, rv);
                }
        }

        const int64_t cpuopt = args.get_int("cpuopt", -1);
        d->avx2 = cpuopt != 0 && orvo::cpu_has_avx2();
        (void)args.get_int("flt", 0); // arithmetic is always float32

        VSNode *src = d->node.get();
        VSVideoInfo outvi = d->vi;
        orvo::create_video_filter(out, "resample", &outvi, resample_get_frame, d.release(), {src}, core, api);
    });
}

} // namespace fmtc
