"""fmtc.resample and fmtc.bitdepth: the core resizer as oracle for the kernels and
window arithmetic, numpy for the exact rounding paths."""

import numpy as np
import pytest
import vapoursynth as vs

from conftest import clip_from_planes, need, planes_of

core = vs.core
# _ColorRange 0 (full) reads back through the core's newer range enum.
FULL = vs.Range.RANGE_FULL


@pytest.fixture(scope="module")
def fmtc():
    return need("fmtc")


def textured(fmt, w, h, *, seed=1, margin=0, length=1):
    """Smooth texture plus noise, kept away from clipping; a flat border of
    `margin` luma pixels makes edge handling irrelevant."""
    rng = np.random.default_rng(seed)
    blank = core.std.BlankClip(width=w, height=h, format=fmt, length=1)
    f = blank.get_frame(0)
    planes = []
    for p in range(f.format.num_planes):
        ph, pw = np.asarray(f[p]).shape
        yy, xx = np.mgrid[0:ph, 0:pw]
        v = 0.5 + 0.2 * np.sin(xx / 5.0) * np.cos(yy / 7.0) + rng.normal(0, 0.05, (ph, pw))
        v = np.clip(v, 0.15, 0.85)
        if margin:
            mx, my = margin * pw // w, margin * ph // h
            v[:my, :] = v[-my:, :] = 0.5
            v[:, :mx] = v[:, -mx:] = 0.5
        if f.format.sample_type == vs.FLOAT:
            planes.append((v - (0.5 if p and f.format.color_family == vs.YUV else 0)).astype(np.float32))
        else:
            planes.append(np.round(v * ((1 << f.format.bits_per_sample) - 1)).astype(np.asarray(f[p]).dtype))
    return clip_from_planes(planes, fmt, length=length)


def arrays(clip, n=0):
    return planes_of(clip.get_frame(n))


def max_diff(a, b, margin=0):
    out = []
    for x, y in zip(arrays(a), arrays(b)):
        d = np.abs(x.astype(np.float64) - y.astype(np.float64))
        if margin:
            d = d[margin:-margin, margin:-margin]
        out.append(d.max())
    return max(out)


# ------------------------------------------------------------------ resample

KERNELS = [
    ("bicubic b=0 c=0.5", dict(kernel="bicubic", a1=0, a2=0.5), "Bicubic", dict(filter_param_a=0, filter_param_b=0.5)),
    ("bicubic default", dict(kernel="bicubic"), "Bicubic", dict(filter_param_a=1 / 3, filter_param_b=1 / 3)),
    ("bilinear", dict(kernel="bilinear"), "Bilinear", {}),
    ("spline16", dict(kernel="spline16"), "Spline16", {}),
    ("spline36", dict(kernel="spline36"), "Spline36", {}),
    ("spline64", dict(kernel="spline64"), "Spline64", {}),
    ("lanczos3", dict(kernel="lanczos", taps=3), "Lanczos", dict(filter_param_a=3)),
    ("lanczos4", dict(kernel="lanczos", taps=4), "Lanczos", dict(filter_param_a=4)),
]
SIZES = [(160, 120), (480, 360), (400, 180)]  # down, up, mixed from 320x240


@pytest.mark.parametrize("fmt", [vs.YUV420P8, vs.YUV420P10, vs.YUV420P16, vs.GRAY16])
@pytest.mark.parametrize("size", SIZES, ids=str)
@pytest.mark.parametrize("name,fm,rz,rzargs", KERNELS, ids=[k[0] for k in KERNELS])
def test_resample_matches_core_resizer(fmtc, fmt, size, name, fm, rz, rzargs):
    w, h = size
    out_fmt = core.query_video_format(vs.GRAY if fmt == vs.GRAY16 else vs.YUV, vs.INTEGER, 16, 1 if fmt != vs.GRAY16 else 0,
                                      1 if fmt != vs.GRAY16 else 0).id
    # Textured interior: edges excluded.
    src = textured(fmt, 320, 240)
    ours = fmtc.resample(src, w, h, **fm)
    assert ours.format.id == out_fmt
    # The core resizes integer clips at their own depth: widen to 16 bits first (an exact shift).
    ref = getattr(core.resize, rz)(src.resize.Point(format=out_fmt), w, h, **rzargs)
    assert max_diff(ours, ref, margin=10) <= 3
    # Whole frame, where the border is flat so both edge rules agree.
    src = textured(fmt, 320, 240, margin=24)
    ours = fmtc.resample(src, w, h, **fm)
    ref = getattr(core.resize, rz)(src.resize.Point(format=out_fmt), w, h, **rzargs)
    assert max_diff(ours, ref) <= 3


@pytest.mark.parametrize("fmt", [vs.YUV444PS, vs.GRAYS, vs.YUV420PS])
def test_resample_float_in_float_out(fmtc, fmt):
    src = textured(fmt, 320, 240, margin=24)
    for w, h in SIZES:
        ours = fmtc.resample(src, w, h, kernel="spline36")
        assert ours.format.id == fmt
        assert max_diff(ours, src.resize.Spline36(w, h)) < 2e-5


@pytest.mark.parametrize("win", [(3.25, -1.5, 300, 200), (-4.5, 7.75, 0, 0), (10, 6, -20.5, -12), (0.5, 0.5, 160, 120)],
                         ids=str)
@pytest.mark.parametrize("fmt", [vs.YUV420P16, vs.YUV444P16])
def test_resample_window_matches_core(fmtc, win, fmt):
    sx, sy, sw, sh = win
    src = textured(fmt, 320, 240)
    ours = fmtc.resample(src, 256, 192, sx, sy, sw, sh, kernel="spline36")
    ref_w = sw if sw > 0 else 320 + sw - sx
    ref_h = sh if sh > 0 else 240 + sh - sy
    ref = src.resize.Spline36(256, 192, src_left=sx, src_top=sy, src_width=ref_w, src_height=ref_h)
    assert max_diff(ours, ref, margin=12) <= 3


def test_resample_per_plane_window_inherits(fmtc):
    src = textured(vs.YUV444P16, 128, 96)
    # Plane 1 inherits plane 0's window; plane 2 overrides sx only.
    ours = fmtc.resample(src, 128, 96, sx=[4.5, 4.5, 0], kernel="bilinear")
    a = arrays(ours)
    b = arrays(fmtc.resample(src, 128, 96, sx=4.5, kernel="bilinear"))
    c = arrays(fmtc.resample(src, 128, 96, kernel="bilinear"))
    assert np.array_equal(a[1], b[1]) and not np.array_equal(a[1], c[1])
    assert np.array_equal(a[2], c[2])


@pytest.mark.parametrize("src_fmt,css,ref_fmt", [
    (vs.YUV420P16, "444", vs.YUV444P16),
    (vs.YUV420P8, "444", vs.YUV444P16),
    (vs.YUV444P16, "420", vs.YUV420P16),
    (vs.YUV444P16, "422", vs.YUV422P16),
    (vs.YUV422P10, "4:2:0", vs.YUV420P16),
])
def test_resample_css_matches_core(fmtc, src_fmt, css, ref_fmt):
    src = textured(src_fmt, 320, 240)
    ours = fmtc.resample(src, css=css, kernel="spline36")
    assert ours.format.id == ref_fmt and (ours.width, ours.height) == (320, 240)
    ref = src.resize.Point(format=src.format.replace(bits_per_sample=16)).resize.Spline36(format=ref_fmt)
    assert max_diff(ours, ref, margin=8) <= 3
    # Luma is not filtered: an exact shift to 16 bits.
    shift = 16 - src.format.bits_per_sample
    assert np.array_equal(arrays(ours)[0], arrays(src)[0].astype(np.uint16) << shift)


@pytest.mark.parametrize("cplace,loc", [("mpeg2", "left"), ("left", "left"), ("center", "center"), ("jpeg", "center"),
                                        ("top_left", "top_left")])
def test_resample_chroma_placement(fmtc, cplace, loc):
    src = textured(vs.YUV420P16, 320, 240)
    ours = fmtc.resample(src, css="444", cplace=cplace, kernel="spline36")
    ref = src.resize.Spline36(format=vs.YUV444P16, chromaloc_in_s=loc)
    assert max_diff(ours, ref, margin=8) <= 3
    assert "_ChromaLocation" not in ours.get_frame(0).props


def test_resample_mpeg2_upsampling_copies_even_chroma(fmtc):
    src = textured(vs.YUV420P16, 64, 48)
    c = arrays(fmtc.resample(src, css="444"))
    s = arrays(src)
    # Horizontal phase 0 lands on source samples: the even columns of the
    # vertically filtered chroma are the vertical filter alone.
    v_only = arrays(fmtc.resample(src.std.ShufflePlanes([1, 1, 1], vs.YUV), 32, 48, kernel="spline36"))
    assert np.array_equal(c[1][:, 0::2], v_only[0])
    assert c[1].shape == s[0].shape


def test_resample_cplaced_writes_chroma_location(fmtc):
    src = textured(vs.YUV444P16, 64, 48)
    assert fmtc.resample(src, css="420", cplaced="mpeg1").get_frame(0).props["_ChromaLocation"] == 1
    assert fmtc.resample(src, css="420", cplaced="top_left").get_frame(0).props["_ChromaLocation"] == 2
    assert fmtc.resample(src, css="420", cplaced="mpeg2").get_frame(0).props["_ChromaLocation"] == 0


def gauss_expected(row, p, taps, scale):
    """Direct numpy evaluation of the gauss kernel on a 1-row upscale (replicated edges)."""
    n = len(row)
    out = []
    for j in range(n * scale):
        t = (j + 0.5) / scale - 0.5
        b = int(np.floor(t + taps)) - 2 * taps + 1
        idx = np.arange(b, b + 2 * taps)
        k = np.where(np.abs(t - idx) <= taps, 2.0 ** (-(p / 10) * (t - idx) ** 2), 0.0)
        k /= k.sum()
        out.append(np.dot(k, row[np.clip(idx, 0, n - 1)]))
    return np.array(out)


@pytest.mark.parametrize("p,taps", [(30, 4), (10, 4), (5, 6)])
def test_resample_gauss_against_formula(fmtc, p, taps):
    row = np.array([[0.2, 0.2, 0.9, 0.1, 0.5, 0.5, 0.3, 0.8, 0.6, 0.4]], np.float32)
    src = clip_from_planes([row], vs.GRAYS)
    out = arrays(fmtc.resample(src, 30, 1, kernel="gauss", a1=p, taps=taps))[0][0]
    assert np.allclose(out, gauss_expected(row[0].astype(np.float64), p, taps, 3), atol=2e-6)


def test_resample_point_and_rect(fmtc):
    row = np.array([[10, 20, 30, 40]], np.uint8)
    src = clip_from_planes([row], vs.GRAY8)
    assert arrays(fmtc.resample(src, 8, 1, kernel="point"))[0][0].tolist() == [v << 8 for v in [10, 10, 20, 20, 30, 30, 40, 40]]
    assert arrays(fmtc.resample(src, 2, 1, kernel="rect"))[0][0].tolist() == [15 << 8, 35 << 8]


def test_resample_pass_through_and_16bit_output(fmtc):
    # Unchanged size: no filtering, even with a smoothing kernel; integer becomes 16-bit.
    for fmt in (vs.YUV420P8, vs.YUV420P10, vs.YUV420P12, vs.GRAY8):
        src = textured(fmt, 64, 48)
        out = fmtc.resample(src, kernel="gauss")
        assert out.format.bits_per_sample == 16 and out.format.sample_type == vs.INTEGER
        for a, b in zip(arrays(out), arrays(src)):
            assert np.array_equal(a, b.astype(np.uint16) << (16 - fmt_bits(fmt)))
    # A negative fv forces filtering.
    src = textured(vs.GRAY16, 64, 48)
    assert not np.array_equal(arrays(fmtc.resample(src, kernel="gauss", fv=-1))[0], arrays(src)[0])


def fmt_bits(fmt):
    return core.get_video_format(fmt).bits_per_sample


def test_resample_ranges(fmtc):
    # Full-range RGB gets x257 when filtered, a plain shift when not; limited gets x256.
    flat = core.std.BlankClip(width=32, height=32, format=vs.RGB24, color=[200, 100, 0])
    assert [a[4, 4] for a in arrays(fmtc.resample(flat, 16, 16))] == [200 * 257, 100 * 257, 0]
    assert [a[4, 4] for a in arrays(fmtc.resample(flat))] == [200 << 8, 100 << 8, 0]
    yuv = core.std.BlankClip(width=32, height=32, format=vs.YUV420P8, color=[235, 128, 72])
    assert [a[4, 4] for a in arrays(fmtc.resample(yuv, 16, 16))] == [235 << 8, 128 << 8, 72 << 8]
    # Limited 8-bit to full 16-bit (filtered): (v - 16) / 219 * 65535, chroma (v - 16) / 224 * 65535 + 0.5.
    out = fmtc.resample(yuv, 16, 16, fulld=1)
    a = arrays(out)
    assert a[0][4, 4] == 65535 and a[1][4, 4] == 32768 and a[2][4, 4] == round(56 / 224 * 65535 + 0.5)
    assert out.get_frame(0).props["_Range"] == FULL
    assert "_ColorRange" not in fmtc.resample(yuv, 16, 16, fulls=0).get_frame(0).props
    # Float input: limited 16-bit output of 0.5 luma.
    g = core.std.BlankClip(width=32, height=32, format=vs.GRAYS, color=0.5)
    assert arrays(fmtc.resample(g, 16, 16, csp=vs.GRAY16))[0][4, 4] == round((16 + 0.5 * 219) * 256)


def test_resample_planes_modes(fmtc):
    src = textured(vs.YUV444P16, 64, 48)
    s = arrays(src)
    # Same size: copy is exact and shared.
    out = arrays(fmtc.resample(src, 32, 24, planes=[3, 2, 0]))
    assert np.array_equal(out[1], s[1][:24, :32])
    assert (out[2] == 0).all()
    out = arrays(fmtc.resample(src, 64, 48, sx=2.5, planes=[3, -32768, 2]))
    assert (out[1] == 32768).all() and np.array_equal(out[2], s[2])
    assert not np.array_equal(out[0], s[0])
    # Mode 1 has no defined content: only the processed plane is checked.
    full = arrays(fmtc.resample(src, 32, 24))
    assert np.array_equal(arrays(fmtc.resample(src, 32, 24, planes=[3, 1]))[0], full[0])
    # Remaining planes default to processing.
    assert np.array_equal(arrays(fmtc.resample(src, 32, 24, planes=[2]))[2], full[2])
    # Float output fills with -v.
    f = arrays(fmtc.resample(textured(vs.YUV444PS, 64, 48), planes=[3, 0.25, -0.5]))
    assert (f[1] == -0.25).all() and (f[2] == 0.5).all()


def test_resample_fields_follow_props(fmtc):
    src = textured(vs.YUV420P16, 64, 48)
    tff = src.std.SetFrameProps(_FieldBased=2)
    prog = arrays(fmtc.resample(src, 64, 96))
    top = fmtc.resample(tff, 64, 96)
    assert not np.array_equal(arrays(top)[0], prog[0])
    assert "_Field" not in top.get_frame(0).props
    # interlaced=0: progressive regardless of the props; interlacedd=0 marks the output.
    forced = fmtc.resample(tff, 64, 96, interlaced=0)
    assert np.array_equal(arrays(forced)[0], prog[0])
    assert forced.get_frame(0).props["_FieldBased"] == 0
    # A top field and a bottom field of the same picture land half a line apart.
    bottom = fmtc.resample(tff.std.SetFrameProps(_Field=0), 64, 96)
    assert not np.array_equal(arrays(bottom)[0], arrays(top)[0])


RESAMPLE_ERRORS = [
    (dict(w=0), "w must be positive"),
    (dict(w=33, css="420"), "w is not compatible"),
    (dict(h=-2), "h must be positive"),
    (dict(kernel="blurry"), "unknown kernel"),
    (dict(taps=0, kernel="lanczos"), "1-128"),
    (dict(kernel="gauss", a1=0.5), "a1 must be in the range 1-100"),
    (dict(css="433"), "unsupported css"),
    (dict(cplace="middle"), "unexpected cplace"),
    (dict(csp=vs.YUV420P8), "cannot output 8-bit"),
    (dict(csp=vs.RGB48), "not compatible with input"),
    (dict(planes=[3, 3, 3, 3]), "too many"),
    (dict(planes=[6]), "invalid plane filter"),
    (dict(planes=[-70000]), "invalid plane filter"),
    (dict(sx=10, sw=-330), "sw must be positive"),
    (dict(fh=0), "fh cannot be null"),
    (dict(scale=-1), "scale parameters"),
    (dict(interlaced=3), "interlaced argument out of range"),
    (dict(invks=1), "not supported"),
    (dict(impulse=[1.0]), "not supported"),
]


@pytest.mark.parametrize("kwargs,msg", RESAMPLE_ERRORS, ids=[m for _, m in RESAMPLE_ERRORS])
def test_resample_errors(fmtc, kwargs, msg):
    src = core.std.BlankClip(width=320, height=240, format=vs.YUV420P8)
    with pytest.raises(vs.Error, match=rf"resample: .*{msg}"):
        fmtc.resample(src, **kwargs)


def test_resample_format_errors(fmtc):
    with pytest.raises(vs.Error, match="resample: input pixel bitdepth not supported"):
        fmtc.resample(core.std.BlankClip(format=vs.GRAY16).resize.Point(format=core.query_video_format(vs.GRAY, vs.INTEGER, 11).id))
    with pytest.raises(vs.Error, match="resample: chroma subsampling not compatible"):
        fmtc.resample(core.std.BlankClip(format=vs.RGB24), css="420")


# ------------------------------------------------------------------ bitdepth

def gray(arr, fmt, length=1):
    return clip_from_planes([arr], fmt, length=length)


@pytest.mark.parametrize("cpuopt", [-1, 0])
@pytest.mark.parametrize("dmode", [1, 2])
@pytest.mark.parametrize("src_fmt,dst_bits", [(vs.GRAY16, 8), (vs.GRAY10, 8), (vs.GRAY16, 10), (vs.GRAY12, 9), (vs.GRAY16, 12)])
def test_bitdepth_round_limited_exact(fmtc, src_fmt, dst_bits, dmode, cpuopt):
    sb = fmt_bits(src_fmt)
    v = np.arange(1 << sb, dtype=np.uint16)[: 64 * 64]
    # Odd width; the last rows hold samples above the input depth.
    v = np.resize(v, (64, 67))
    v[-3:] = np.resize(np.arange(65535, 0, -97, dtype=np.uint16), (3, 67))
    out = arrays(fmtc.bitdepth(gray(v, src_fmt), bits=dst_bits, dmode=dmode, cpuopt=cpuopt))[0]
    dif = sb - dst_bits
    half = (1 << (dif - 1)) if dmode == 1 else 0
    expect = np.minimum((v.astype(np.int64) + half) >> dif, (1 << dst_bits) - 1)
    assert np.array_equal(out, expect)


def test_bitdepth_round_full_and_float_exact(fmtc):
    v = np.resize(np.arange(0, 65536, 7, dtype=np.uint16), (64, 64))
    out = arrays(fmtc.bitdepth(gray(v, vs.GRAY16), bits=8, dmode=1, fulls=1, fulld=1))[0]
    s = v.astype(np.float32) * np.float32(255 / 65535)
    assert np.array_equal(out, np.clip(np.rint(s), 0, 255))
    f = np.resize(np.linspace(-0.1, 1.1, 4096, dtype=np.float32), (64, 64))
    out = arrays(fmtc.bitdepth(gray(f, vs.GRAYS), bits=8, dmode=1))[0]
    s = f * np.float32(219) + np.float32(16)
    assert np.array_equal(out, np.clip(np.rint(s), 0, 255))
    # Chroma of float YUV: 0 -> 128, -0.5 -> 16, +0.5 -> 240.
    yuv = core.std.BlankClip(width=8, height=8, format=vs.YUV444PS, color=[0.5, 0.0, -0.5])
    assert [a[0, 0] for a in arrays(fmtc.bitdepth(yuv, bits=8, dmode=1))] == [126, 128, 16]


def test_bitdepth_ordered_matches_bayer(fmtc):
    v = np.full((32, 32), 25664, np.uint16)
    out = arrays(fmtc.bitdepth(gray(v, vs.GRAY16), bits=8, dmode=0))[0]
    # 16x16 Bayer thresholds built from the 2x2 index matrix.
    m2 = np.array([[0, 2], [3, 1]])
    yy, xx = np.mgrid[0:32, 0:32]
    t = -128 + sum((64 >> (2 * k)) * m2[(yy >> k) & 1, (xx >> k) & 1] for k in range(4))
    assert np.array_equal(out, (25664 + t + 128) >> 8)
    assert out.mean() == pytest.approx(100.25)


def test_bitdepth_error_diffusion_examples(fmtc):
    flat = np.full((4, 8), 25664, np.uint16)
    expect = [[100] * 8, [101, 100] * 4, [100] * 6 + [101, 100], [100, 100, 101, 100, 101, 100, 100, 100]]
    assert arrays(fmtc.bitdepth(gray(flat, vs.GRAY16), bits=8))[0].tolist() == expect
    assert arrays(fmtc.bitdepth(gray(np.full((4, 8), 401, np.uint16), vs.GRAY10), bits=8))[0].tolist() == expect
    ramp = np.array([[x * 1000 + 37 * y for x in range(8)] for y in range(3)], np.uint16)
    assert arrays(fmtc.bitdepth(gray(ramp, vs.GRAY16), bits=8, dmode=3))[0].tolist() == [
        [0, 4, 8, 12, 15, 20, 23, 27], [0, 4, 8, 12, 16, 20, 24, 28], [0, 4, 8, 12, 16, 19, 24, 27]]
    assert arrays(fmtc.bitdepth(gray(ramp, vs.GRAY16), bits=8, dmode=3, fulls=1))[0].tolist() == [
        [0, 4, 8, 12, 15, 20, 23, 27], [0, 4, 8, 12, 16, 20, 23, 28], [0, 4, 8, 12, 15, 20, 24, 27]]


@pytest.mark.parametrize("fmt,kw", [(vs.GRAY16, {}), (vs.GRAY16, dict(fulls=1, fulld=1)), (vs.GRAYS, {}),
                                    (vs.GRAY16, dict(ampn=1.5)), (vs.GRAY16, dict(ampo=1.5))])
def test_bitdepth_error_diffusion_keeps_mean(fmtc, fmt, kw):
    src = textured(fmt, 256, 128)
    out = arrays(fmtc.bitdepth(src, bits=8, dmode=3, **kw))[0].astype(np.float64)
    s = arrays(src)[0].astype(np.float64)
    if fmt == vs.GRAYS:
        ideal = s * 219 + 16
    elif kw.get("fulls"):
        ideal = s / 257
    else:
        ideal = s / 256
    assert abs(out.mean() - ideal.mean()) < 0.01
    # Local means follow too (8x8 blocks within a third of a code value).
    blocks = (out - ideal).reshape(16, 8, 32, 8).mean(axis=(1, 3))
    assert np.abs(blocks).max() < 0.35
    assert np.abs(out - ideal).max() <= 2 + 4 * kw.get("ampn", 0)


def test_bitdepth_noise_and_determinism(fmtc):
    src = textured(vs.GRAY16, 128, 64, length=3)
    a = fmtc.bitdepth(src, bits=8, dmode=0, ampn=1.0)
    assert np.array_equal(arrays(a, 1)[0], arrays(a, 1)[0])
    assert not np.array_equal(arrays(a, 0)[0], arrays(a, 1)[0])  # noise changes per frame
    s = fmtc.bitdepth(src, bits=8, dmode=0, ampn=1.0, staticnoise=1)
    assert np.array_equal(arrays(s, 0)[0], arrays(s, 2)[0])
    plain = arrays(fmtc.bitdepth(src, bits=8, dmode=0))[0]
    assert not np.array_equal(arrays(a, 0)[0], plain)
    # dyn rotates the Bayer pattern from frame to frame.
    d = fmtc.bitdepth(src, bits=8, dmode=0, dyn=1)
    assert np.array_equal(arrays(d, 0)[0], plain) and not np.array_equal(arrays(d, 1)[0], plain)
    # patsize 4 gives 16 levels only.
    flat = gray(np.full((16, 16), 25664 + 37, np.uint16), vs.GRAY16)
    assert not np.array_equal(arrays(fmtc.bitdepth(flat, bits=8, dmode=0, patsize=4))[0],
                              arrays(fmtc.bitdepth(flat, bits=8, dmode=0))[0])


def test_bitdepth_exact_paths_and_props(fmtc):
    v = np.resize(np.arange(256, dtype=np.uint8), (16, 16))
    assert np.array_equal(arrays(fmtc.bitdepth(gray(v, vs.GRAY8), bits=16))[0], v.astype(np.uint16) << 8)
    assert np.array_equal(arrays(fmtc.bitdepth(gray(v, vs.GRAY8), bits=16, fulls=1, fulld=1))[0], v.astype(np.uint16) * 257)
    f = arrays(fmtc.bitdepth(gray(v, vs.GRAY8), flt=1))[0]
    assert np.array_equal(f, v.astype(np.float32) * np.float32(1 / 219) + np.float32(-16 / 219))
    rgb = core.std.BlankClip(width=8, height=8, format=vs.RGB48, color=[32896, 65535, 32767])
    assert [a[0, 0] for a in arrays(fmtc.bitdepth(rgb, bits=8, dmode=1))] == [128, 255, 127]
    yuv = core.std.BlankClip(width=8, height=8, format=vs.YUV420P8, color=[16, 128, 128])
    out = fmtc.bitdepth(yuv, bits=16, fulls=0, fulld=1, dmode=1)
    assert [a[0, 0] for a in arrays(out)] == [0, 32768, 32768]
    assert out.get_frame(0).props["_Range"] == FULL
    assert "_ColorRange" not in fmtc.bitdepth(yuv, bits=16).get_frame(0).props
    same = fmtc.bitdepth(yuv)
    assert same.format.id == vs.YUV420P8 and np.array_equal(arrays(same)[1], arrays(yuv)[1])


def test_bitdepth_planes(fmtc):
    src = textured(vs.YUV420P16, 64, 48)
    full = arrays(fmtc.bitdepth(src, bits=8))
    part = arrays(fmtc.bitdepth(src, bits=8, planes=[0, 2]))
    assert np.array_equal(part[0], full[0]) and np.array_equal(part[2], full[2])
    # Same format: unlisted planes stay untouched.
    same = arrays(fmtc.bitdepth(src, bits=16, fulls=1, fulld=0, planes=[0]))
    assert np.array_equal(same[1], arrays(src)[1])


BITDEPTH_ERRORS = [
    (dict(bits=14), "output pixel bitdepth not supported"),
    (dict(bits=11), "output pixel bitdepth not supported"),
    (dict(bits=16, flt=1), "output pixel bitdepth not supported"),
    (dict(bits=4), "couldn't get a pixel format"),
    (dict(csp=vs.YUV420P8, bits=8), "cannot specify both"),
    (dict(csp=vs.YUV444P8), "not compatible with input"),
    (dict(dmode=10), "invalid dmode"),
    (dict(dmode=-2), "invalid dmode"),
    (dict(ampo=-1), "ampo cannot be negative"),
    (dict(ampn=-0.5), "ampn cannot be negative"),
    (dict(patsize=48), "Wrong value for patsize"),
    (dict(planes=[3]), "out of range"),
    (dict(planes=[0, 0]), "twice"),
]


@pytest.mark.parametrize("kwargs,msg", BITDEPTH_ERRORS, ids=[m for _, m in BITDEPTH_ERRORS])
def test_bitdepth_errors(fmtc, kwargs, msg):
    with pytest.raises(vs.Error, match=rf"bitdepth: .*{msg}"):
        fmtc.bitdepth(core.std.BlankClip(format=vs.YUV420P16), **kwargs)


# ------------------------------------------------------------------ both

def test_threads_give_identical_output(fmtc):
    src = textured(vs.YUV420P16, 200, 120, length=6)
    chain = lambda: fmtc.bitdepth(fmtc.resample(src, 300, 180, kernel="lanczos", sx=0.3), bits=8, dmode=3, ampn=0.5)
    results = []
    for threads in (1, 4):
        core.num_threads = threads
        results.append([arrays(chain(), n) for n in range(6)])
    core.num_threads = 0
    for a, b in zip(*results):
        assert all(np.array_equal(x, y) for x, y in zip(a, b))


def test_scalar_and_simd_identical(fmtc):
    src = textured(vs.YUV420P10, 334, 202)
    for w, h in [(250, 150), (481, 362), (333, 402)]:
        a = arrays(fmtc.resample(src, w - w % 2, h - h % 2, 0.7, 0.2, kernel="spline64"))
        b = arrays(fmtc.resample(src, w - w % 2, h - h % 2, 0.7, 0.2, kernel="spline64", cpuopt=0))
        assert all(np.array_equal(x, y) for x, y in zip(a, b))
