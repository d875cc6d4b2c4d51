// Scalar bit depth conversion: ordered (Bayer), round, fast and
// error-diffusion dithering, plus the exact integer and float paths.
#include "kernel.h"

#include <algorithm>
#include <cmath>
#include <type_traits>

namespace fmtc {

std::vector<int16_t> bayer_pattern(int patsize, int rot) {
    const int P = patsize;
    int L = 0;
    while ((1 << L) < P)
        L++;
    static const int m2[2][2] = {{0, 3}, {2, 1}}; // m2[x][y]
    auto base = [&](int x, int y) {
        int v = -128;
        for (int k = 0; k < std::min(L, 4); k++)
            v += (64 >> (2 * k)) * m2[(x >> k) & 1][(y >> k) & 1];
        return v;
    };
    std::vector<int16_t> t(size_t(P) * P);
    const int m = P - 1;
    for (int y = 0; y < P; y++)
        for (int x = 0; x < P; x++) {
            int sx = x, sy = y;
            switch (rot & 3) {
            case 1: sx = -y, sy = x; break;
            case 2: sx = -x, sy = -y; break;
            case 3: sx = y, sy = -x; break;
            default: break;
            }
            t[size_t(y) * P + x] = int16_t(base(sx & m, sy & m));
        }
    return t;
}

namespace {

// Clamp a rounded float to [0, hi]; NaN goes to 0.
inline int clamp_out(float q, int hi) {
    if (!(q >= 0))
        return 0;
    return q >= float(hi) ? hi : int(q);
}
inline int clamp_out(int q, int hi) { return q < 0 ? 0 : (q > hi ? hi : q); }

inline float rhe(float v) { return std::nearbyint(v); }

template <class Tin, class Tout>
void ordered(const Tin *src, ptrdiff_t ss, Tout *dst, ptrdiff_t ds, int w, int h, const DitherParams &p,
             const int16_t *pattern, uint32_t seed) {
    const int hi = (1 << p.dst_bits) - 1;
    const int P = p.patsize, pm = P - 1;
    const bool noise = !p.simple && p.dmode != 2;
    NoiseGen rng(seed);
    const int dif = p.src_bits - p.dst_bits;
    const int half = dif > 0 ? 1 << (dif - 1) : 0;
    for (int y = 0; y < h; y++, src += ss, dst += ds) {
        const int16_t *prow = pattern ? pattern + size_t(y & pm) * P : nullptr;
        for (int x = 0; x < w; x++) {
            const int pv = prow ? prow[x & pm] : 0;
            int n = 0;
            if (noise) {
                n = rng.draw();
                if (p.tpdfn)
                    n += rng.draw();
            }
            if constexpr (!std::is_same_v<Tin, float>) {
                if (p.int_variant) {
                    const int v = src[x];
                    int q;
                    if (p.dmode == 2)
                        q = v >> dif;
                    else if (p.simple)
                        q = (v + (pv >> (8 - dif)) + half) >> dif;
                    else
                        q = (v + ((pv * p.ao + n * p.an) >> (13 - dif)) + half) >> dif;
                    dst[x] = Tout(clamp_out(q, hi));
                    continue;
                }
            }
            const float s = float(src[x]) * p.gain + p.add;
            float q;
            if (p.dmode == 2)
                q = rhe(s);
            else if (p.simple)
                q = rhe(s + float(pv) / 256.f);
            else
                q = rhe(s + float(pv * p.ao + n * p.an) / 8192.f);
            dst[x] = Tout(clamp_out(q, hi));
        }
        if (noise)
            rng.end_of_row();
    }
}

// One row of the integer error diffusion; direction and noise fixed at
// compile time so the per-pixel dependency chain stays short.
template <class Tin, class Tout>
struct IntDiffusion {
    int k, in_shift, half, nshift, hi, ae, an;
    int32_t in_peak; // samples above the input depth count as its peak, so the shift cannot overflow
    bool tpdfn;

    // K > 0: the quantisation shift as a constant (the common 16 -> 8 and
    // 24-bit-precision cases); 0 reads it from `k`.
    template <int D, bool Noise, int K = 0>
    int32_t row(const Tin *s, Tout *o, int32_t *E, int w, int32_t carry, NoiseGen &rng) const {
        if constexpr (K == 0) {
            if (k == 8)
                return row<D, Noise, 8>(s, o, E, w, carry, rng);
            if (k == 16)
                return row<D, Noise, 16>(s, o, E, w, carry, rng);
        }
        const int kk = K ? K : k;
        const int32_t hh = K ? (1 << (K - 1)) : half;
        int x = D > 0 ? 0 : w - 1;
        for (int i = 0; i < w; i++, x += D) {
            const int32_t e_in = carry;
            const int32_t preq = (std::min(int32_t(s[x]), in_peak) << in_shift) + e_in;
            int32_t sum = preq;
            if constexpr (Noise) {
                int n = rng.draw();
                if (tpdfn)
                    n += rng.draw();
                const int32_t nv = n * an + (e_in < 0 ? -ae : ae);
                sum += nshift >= 0 ? (nv >> nshift) : nv * (1 << -nshift);
            }
            const int32_t q = (sum + hh) >> kk;
            const int32_t err = preq - q * (1 << kk);
            o[x] = Tout(clamp_out(q, hi));
            const int32_t a = (err + 2) >> 2;
            carry = E[x + D] + (err - 2 * a);
            E[x - D] += a;
            E[x] = a;
        }
        return carry;
    }
};

// Serpentine "Filter Lite" error diffusion. E holds the next row's errors;
// the running carry feeds the next pixel in scan order, including the first
// pixel of the following row.
template <class Tin, class Tout>
void diffuse(const Tin *src, ptrdiff_t ss, Tout *dst, ptrdiff_t ds, int w, int h, const DitherParams &p,
             uint32_t seed) {
    const int hi = (1 << p.dst_bits) - 1;
    const bool noise = !p.simple;
    NoiseGen rng(seed);
    auto draw = [&]() {
        int n = rng.draw();
        if (p.tpdfn)
            n += rng.draw();
        return n;
    };
    bool use_int = p.int_variant;
    if constexpr (std::is_same_v<Tin, float>)
        use_int = false;
    if (use_int) {
        const int dif = p.src_bits - p.dst_bits;
        const int T = dif < 6 ? 24 : p.src_bits;
        IntDiffusion<Tin, Tout> st;
        st.k = T - p.dst_bits;
        st.in_shift = T - p.src_bits;
        st.in_peak = (1 << p.src_bits) - 1;
        st.half = 1 << (st.k - 1);
        st.nshift = 13 - st.k;
        st.hi = hi;
        st.ae = p.ae;
        st.an = p.an;
        st.tpdfn = p.tpdfn;
        std::vector<int32_t> ebuf(size_t(w) + 4, 0);
        int32_t *E = ebuf.data() + 2;
        int32_t carry = 0;
        for (int y = 0; y < h; y++) {
            const Tin *s = src + ptrdiff_t(y) * ss;
            Tout *o = dst + ptrdiff_t(y) * ds;
            if (y & 1) {
                carry = noise ? st.template row<-1, true>(s, o, E, w, carry, rng) : st.template row<-1, false>(s, o, E, w, carry, rng);
                E[-1] = 0;
            } else {
                carry = noise ? st.template row<1, true>(s, o, E, w, carry, rng) : st.template row<1, false>(s, o, E, w, carry, rng);
                E[w] = 0;
            }
            if (noise)
                rng.end_of_row();
        }
        return;
    }
    std::vector<float> ebuf(size_t(w) + 4, 0.f);
    float *E = ebuf.data() + 2;
    float carry = 0;
    for (int y = 0; y < h; y++) {
        const Tin *s = src + ptrdiff_t(y) * ss;
        Tout *o = dst + ptrdiff_t(y) * ds;
        const int d = (y & 1) ? -1 : 1;
        int x = d > 0 ? 0 : w - 1;
        for (int i = 0; i < w; i++, x += d) {
            const float e_in = carry;
            const float preq = (float(s[x]) * p.gain + p.add) + e_in;
            float sum = preq;
            if (noise) {
                const float push = e_in > 0 ? p.push : (e_in < 0 ? -p.push : 0.f);
                sum += float(draw()) * p.ampn / 256.f + push;
            }
            const float q = rhe(sum);
            const float err = preq - q;
            o[x] = Tout(clamp_out(q, hi));
            const float a = err * 0.25f;
            const float b = err * 0.5f;
            carry = E[x + d] + b;
            E[x - d] += a;
            E[x] = a;
        }
        if (d > 0)
            E[w] = 0;
        else
            E[-1] = 0;
        if (noise)
            rng.end_of_row();
    }
}

} // namespace

template <class Tin, class Tout>
void dither_plane(const Tin *src, ptrdiff_t src_stride, Tout *dst, ptrdiff_t dst_stride, int w, int h,
                  const DitherParams &p, const int16_t *pattern, uint32_t seed) {
    if (p.dmode == 3)
        diffuse(src, src_stride, dst, dst_stride, w, h, p, seed);
    else
        ordered(src, src_stride, dst, dst_stride, w, h, p, p.dmode == 0 ? pattern : nullptr, seed);
}

template <class Tin>
void int_to_float_plane(const Tin *src, ptrdiff_t src_stride, float *dst, ptrdiff_t dst_stride, int w, int h,
                        float gain, float add) {
    for (int y = 0; y < h; y++, src += src_stride, dst += dst_stride)
        for (int x = 0; x < w; x++)
            dst[x] = float(src[x]) * gain + add;
}

template <class Tin, class Tout>
void shift_plane(const Tin *src, ptrdiff_t src_stride, Tout *dst, ptrdiff_t dst_stride, int w, int h, int shift) {
    for (int y = 0; y < h; y++, src += src_stride, dst += dst_stride)
        for (int x = 0; x < w; x++)
            dst[x] = Tout(unsigned(src[x]) << shift);
}

#define FMTC_DITHER(TI, TO)                                                                                           \
    template void dither_plane<TI, TO>(const TI *, ptrdiff_t, TO *, ptrdiff_t, int, int, const DitherParams &,     \
                                       const int16_t *, uint32_t);
FMTC_DITHER(uint8_t, uint8_t)
FMTC_DITHER(uint8_t, uint16_t)
FMTC_DITHER(uint16_t, uint8_t)
FMTC_DITHER(uint16_t, uint16_t)
FMTC_DITHER(float, uint8_t)
FMTC_DITHER(float, uint16_t)
#undef FMTC_DITHER

template void int_to_float_plane<uint8_t>(const uint8_t *, ptrdiff_t, float *, ptrdiff_t, int, int, float, float);
template void int_to_float_plane<uint16_t>(const uint16_t *, ptrdiff_t, float *, ptrdiff_t, int, int, float, float);
template void shift_plane<uint8_t, uint8_t>(const uint8_t *, ptrdiff_t, uint8_t *, ptrdiff_t, int, int, int);
template void shift_plane<uint8_t, uint16_t>(const uint8_t *, ptrdiff_t, uint16_t *, ptrdiff_t, int, int, int);
template void shift_plane<uint16_t, uint16_t>(const uint16_t *, ptrdiff_t, uint16_t *, ptrdiff_t, int, int, int);

} // namespace fmtc
