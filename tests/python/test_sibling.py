"""ToYUV / ToRGB as the chain calls them."""

import numpy as np
import pytest
import vapoursynth as vs
from conftest import clip_from_planes, planes_of

from orvo.mvsfunc1610 import ToRGB, ToYUV

core = vs.core


def random_rgbs(seed=3, w=24, h=16):
    rng = np.random.default_rng(seed)
    return clip_from_planes([rng.random((h, w), dtype=np.float32) for _ in range(3)], vs.RGBS)


def test_opp_matches_bm3d_and_round_trips():
    rgb = random_rgbs()
    opp = ToYUV(rgb, matrix="OPP")
    assert opp.format.id == vs.YUV444PS and (opp.width, opp.height, opp.num_frames) == (24, 16, 1)
    ref = core.bm3d.RGB2OPP(rgb, sample=1)
    for ours, theirs in zip(planes_of(opp.get_frame(0)), planes_of(ref.get_frame(0))):
        np.testing.assert_allclose(ours, theirs, atol=1e-6)
    back = ToRGB(opp, matrix="OPP")
    assert back.format.id == vs.RGBS
    for a, b in zip(planes_of(back.get_frame(0)), planes_of(rgb.get_frame(0))):
        np.testing.assert_allclose(a, b, atol=1e-6)


def test_opp_result_is_accepted_by_bm3d():
    opp = ToYUV(random_rgbs(w=32, h=32), matrix="OPP")
    out = core.bm3d.Basic(opp, sigma=[3, 3, 3], matrix=100)
    assert out.format.id == vs.YUV444PS
    out.get_frame(0)


def test_opp_of_8bit_yuv_gives_rgb_of_same_size():
    yuv = core.std.BlankClip(width=32, height=16, format=vs.YUV420P8, color=[120, 128, 128])
    rgb = ToRGB(yuv, matrix="OPP")
    assert rgb.format.color_family == vs.RGB and (rgb.width, rgb.height) == (32, 16)
    r, g, b = (np.asarray(p) for p in planes_of(rgb.get_frame(0)))
    # neutral chroma reads as grey
    assert np.all(r == g) and np.all(g == b)


@pytest.mark.parametrize("src_fmt", [vs.RGB24, vs.RGB48, vs.YUV444P16, vs.YUV420P8, vs.GRAY16, vs.YUV422P10])
@pytest.mark.parametrize("css, ssw, ssh", [("420", 1, 1), ("422", 1, 0), ("444", 0, 0)])
def test_toyuv_as_check_calls_it(src_fmt, css, ssw, ssh):
    src = core.std.BlankClip(width=32, height=16, format=src_fmt, length=3)
    bits = src.format.bits_per_sample
    out = ToYUV(src, css=css, full=False, depth=bits)
    f = out.format
    assert (f.color_family, f.subsampling_w, f.subsampling_h, f.bits_per_sample) == (vs.YUV, ssw, ssh, bits)
    assert (out.width, out.height, out.num_frames) == (32, 16, 3)
    assert out.get_frame(0).props["_Range"] == vs.RANGE_LIMITED


@pytest.mark.parametrize("src_fmt", [vs.YUV420P8, vs.YUV444P16, vs.GRAY8, vs.RGB24])
@pytest.mark.parametrize("full", [False, True])
def test_torgb_range_and_depth(src_fmt, full):
    src = core.std.BlankClip(width=32, height=16, format=src_fmt, length=2)
    bits = src.format.bits_per_sample
    out = ToRGB(src, full=full, depth=bits)
    assert out.format.color_family == vs.RGB and out.format.bits_per_sample == bits
    assert (out.width, out.height, out.num_frames) == (32, 16, 2)
    props = out.get_frame(0).props
    assert props["_Range"] == (vs.RANGE_FULL if full else vs.RANGE_LIMITED)


def test_torgb_full_of_constant_colour():
    # limited-range white in, full-range white out
    yuv = core.std.BlankClip(width=8, height=8, format=vs.YUV444P8, color=[235, 128, 128])
    rgb = ToRGB(yuv, full=True)
    assert all(np.all(np.asarray(p) == 255) for p in planes_of(rgb.get_frame(0)))


@pytest.mark.parametrize(
    "call, exc, text",
    [
        (lambda: ToYUV(5), TypeError, 'ToYUV: "input" must be a clip!'),
        (lambda: ToYUV(core.std.BlankClip(format=vs.YUV420P8), matrix="OPP"), ValueError, "needs an RGB"),
        (lambda: ToYUV(core.std.BlankClip(format=vs.RGB24), css="423"), ValueError, '"css"'),
        (lambda: ToRGB(core.std.BlankClip(format=vs.YUV420P8), depth=7), ValueError, '"depth"'),
        (lambda: ToRGB(core.std.BlankClip(format=vs.YUV420P8), matrix="xyz"), ValueError, "unsupported matrix"),
    ],
)
def test_errors(call, exc, text):
    with pytest.raises(exc, match=text.replace("(", r"\(")):
        call()


@pytest.mark.parametrize("src_fmt, convert", [
    (vs.YUV420P8, lambda c: ToRGB(c, matrix="OPP")),
    (vs.YUV420P16, lambda c: ToRGB(c)),
    (vs.GRAY16, lambda c: ToRGB(c)),
    (vs.RGBS, lambda c: ToYUV(c, matrix="OPP")),
    (vs.RGBS, lambda c: ToRGB(ToYUV(c, matrix="OPP"), matrix="OPP")),
    (vs.RGB24, lambda c: ToYUV(c, css="420")),
])
def test_outputs_carry_tags_of_their_family(src_fmt, convert):
    from conftest import tagged

    src = core.std.BlankClip(width=32, height=16, format=src_fmt)
    if src_fmt in (vs.RGBS, vs.RGB24):
        src = src.std.SetFrameProps(_Matrix=0)
    else:
        src = tagged(src)
    out = convert(src)
    matrix = out.get_frame(0).props["_Matrix"]
    assert (matrix == 0) == (out.format.color_family == vs.RGB)
    # the resizer accepts the result as it is tagged
    if out.format.color_family == vs.RGB:
        core.resize.Bicubic(out, format=vs.YUV444PS, matrix_s="709").get_frame(0)
    else:
        core.resize.Bicubic(out, format=vs.RGBS, matrix_in_s="709").get_frame(0)
