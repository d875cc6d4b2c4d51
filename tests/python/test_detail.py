"""fresp, mwenhance and line_darken: values on tiny frames and the graphs they build."""

import numpy as np
import pytest
import vapoursynth as vs
from conftest import as_list, clip_from_planes, graph_nodes, need, planes_of


def yuv(luma, fmt=vs.YUV420P16, chroma=None):
    """A one-frame clip with the given luma plane; chroma neutral unless given."""
    luma = np.asarray(luma)
    h, w = luma.shape
    dtype = np.uint8 if fmt == vs.YUV420P8 else np.uint16
    neutral = 128 if dtype is np.uint8 else 32768
    if chroma is None:
        chroma = [np.full((h // 2, w // 2), neutral) for _ in range(2)]
    return clip_from_planes([p.astype(dtype) for p in (luma, *chroma)], fmt)


@pytest.mark.parametrize(
    "strength, mapping",
    [
        (3, {32768: 32768, 32769: 32768, 33024: 33545, 32512: 31991, 34816: 38912, 45056: 37872, 0: 32515,
             65535: 33021}),
        (2.0, {33024: 33286, 34816: 36864}),
    ],
)
def test_mwenhance_table(ctx, strength, mapping):
    values = list(mapping)
    values += [32768] * (-len(values) % 4)
    src = yuv(np.array(values * 2).reshape(2, -1))
    got = planes_of(ctx.mwenhance(src, strength).get_frame(0))
    assert [int(v) for v in got[0][0][: len(mapping)]] == list(mapping.values())
    assert all((p == 32768).all() for p in got[1:])  # only plane 0 is mapped


def test_mwenhance_without_strength_returns_input(ctx, core):
    src = core.std.BlankClip(format=vs.YUV420P16, width=16, height=16, length=1)
    assert ctx.mwenhance(src, Strength=0, Soft=0.5) is src
    with pytest.raises(vs.Error):  # the 65536-entry table fits 16-bit clips only
        ctx.mwenhance(src.resize.Point(format=vs.YUV420P8))


@pytest.mark.parametrize("soft, weights", [(0.25, [0.75, 0.25]), (1, None)])
def test_mwenhance_soft(ctx, core, soft, weights):
    need("rgvs")
    src = core.std.BlankClip(format=vs.YUV420P16, width=16, height=16, length=1)
    out = ctx.mwenhance(src, 3, Soft=soft)
    assert out._name == "Expr"
    assert as_list(out._inputs["expr"]) == ["x  32768  - abs y  32768  - abs <= x y ?", ""]
    lut, softened = out.dependencies[:2]
    assert lut._name == "Lut" and as_list(lut._inputs["planes"]) == [0]
    if weights is None:
        assert softened._name == "RemoveGrain" and softened.dependencies[0] == lut
    else:
        assert softened._name == "Merge" and as_list(softened._inputs["weight"]) == weights


def noisy(seed=5, w=32, h=24):
    rng = np.random.default_rng(seed)
    luma = 30000 + rng.integers(-3000, 3000, size=(h, w))
    chroma = [32768 + rng.integers(-2000, 2000, size=(h // 2, w // 2)) for _ in range(2)]
    return yuv(luma, chroma=chroma)


@pytest.mark.parametrize(
    "mask_value, low_pass_c, pref_mode",
    [(None, 1, [11, 0]), (None, 0, [11, 0]), (65535, 1, [4, 0]), (0, 0, [11, 0])],
)
def test_fresp_layers_merge_back(ctx, core, mask_value, low_pass_c, pref_mode):
    rgvs = need("rgvs")
    src = noisy()
    mask = None if mask_value is None else core.std.BlankClip(src, format=vs.GRAY16, color=mask_value)
    high, low = ctx.fresp(src, mask, low_pass_c)
    planes = [0, 1, 2] if low_pass_c else [0]
    merged = planes_of(core.std.MergeDiff(low, high, planes).get_frame(0))
    pref = planes_of(rgvs.RemoveGrain(src, pref_mode).get_frame(0))
    assert all(np.array_equal(a, b) for a, b in zip(merged, pref))
    if not low_pass_c:  # chroma of both layers is the source's
        for layer in (high, low):
            got, want = planes_of(layer.get_frame(0)), planes_of(src.get_frame(0))
            assert all(np.array_equal(got[p], want[p]) for p in (1, 2))


def test_line_darken_mask_values(ctx):
    need("warp")
    values = [0, 32, 128, 175, 255, 100, 100, 100] * 2
    clip8 = yuv(np.array(values * 16).reshape(16, -1), fmt=vs.YUV420P8)
    out = ctx.line_darken(clip8)
    mask_text = "x 32 - dup * 2 * 25000 +"
    (lmask,) = [n for n in graph_nodes(out, "std", "Expr") if as_list(n._inputs["expr"])[0] == mask_text]
    got = planes_of(lmask.get_frame(0))[0][0][:5]
    assert list(got) == [27048, 25000, 43432, 65535, 65535]


@pytest.mark.parametrize("fmt", [vs.YUV420P8, vs.YUV420P16])
def test_line_darken_darkens_thin_dark_lines_only(ctx, fmt):
    need("warp")
    scale = 1 if fmt == vs.YUV420P8 else 257
    luma = np.full((32, 48), 60 * scale)
    luma[:, 20] = 20 * scale  # a thin dark line on a dark-grey area
    luma[:, 32:] = 240 * scale  # a bright area, with a thin darker line that is bright enough to be kept
    luma[:, 40] = 185 * scale
    src = yuv(luma, fmt=fmt, chroma=[np.full((16, 24), 100 * scale)] * 2)
    out = ctx.line_darken(src, amp=1, thrs=512)
    assert out.format.id == vs.YUV420P16
    got, src16 = planes_of(out.get_frame(0)), planes_of(ctx.Depth(src, 16).get_frame(0))
    assert (got[0][4:-4, 20] < src16[0][4:-4, 20]).all()  # darkened
    assert np.array_equal(got[0][:, 32:], src16[0][:, 32:])  # bright area untouched
    assert all(np.array_equal(got[p], src16[p]) for p in (1, 2))


@pytest.mark.parametrize(
    "kw, text",
    [
        ({}, "32768 x - 512 < 32768 32768 32768 x - 256 / 0.5 1 * pow 3 1 * min 256 * - ?"),
        (dict(amp=0.5, thrs=4), "32768 x - 4 < 32768 32768 32768 x - 256 / 0.5 0.5 * pow 3 0.5 * min 256 * - ?"),
        (dict(amp=0.5, limit=8, thrs=2.0),
         "32768 x - 2.0 < 32768 32768 32768 x - 256 / 0.5 0.5 * pow 3 8 * min 256 * - ?"),
    ],
)
def test_line_darken_expression(ctx, core, kw, text):
    need("warp")
    src = core.std.BlankClip(format=vs.YUV420P16, width=32, height=32, length=1)
    (warp,) = graph_nodes(ctx.line_darken(src, **kw), "warp", "AWarpSharp2")
    assert (warp._inputs["thresh"], as_list(warp._inputs["planes"])) == (56, [0])
    assert as_list(warp.dependencies[0]._inputs["expr"]) == [text, ""]
