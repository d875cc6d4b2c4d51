"""Multi-pass morphology: the chain of core nodes per pass, plane rules, m4."""

import numpy as np
import pytest
import vapoursynth as vs
from conftest import clip_from_planes, planes_of

SQUARE = [1, 1, 1, 1, 1, 1, 1, 1]
CROSS = [0, 1, 0, 1, 1, 0, 1, 0]
HORIZ = [0, 0, 0, 1, 1, 0, 0, 0]
VERT = [0, 1, 0, 0, 0, 0, 1, 0]


def passes(node, src, name):
    """Arguments of each pass from the first to the last, checking the chain ends at src."""
    out = []
    while node._name == name:
        out.append(node._inputs)
        node = node.dependencies[0]
    assert node == src
    return out[::-1]


@pytest.fixture
def yuv(core):
    return core.std.BlankClip(format=vs.YUV420P16, width=32, height=24, length=1)


@pytest.mark.parametrize("func, name", [("mt_expand_multi", "Maximum"), ("mt_inpand_multi", "Minimum")])
@pytest.mark.parametrize(
    "mode, sw, sh, patterns",
    [
        ("rectangle", 2, 2, [SQUARE, SQUARE]),
        ("losange", 2, 2, [CROSS, CROSS]),
        ("ellipse", 4, 4, [SQUARE, CROSS, CROSS, SQUARE]),
        ("losange", 3, 1, [CROSS, HORIZ, HORIZ]),
        ("rectangle", 2, 0, [HORIZ, HORIZ]),
        ("rectangle", 0, 3, [VERT, VERT, VERT]),
        ("ellipse", 1, 3, [SQUARE, VERT, VERT]),
        ("anything", 1, 1, [SQUARE]),
    ],
)
def test_min_max_pass_patterns(ctx, yuv, func, name, mode, sw, sh, patterns):
    res = getattr(ctx, func)(yuv, mode, [0, 2], sw, sh)
    got = passes(res, yuv, name)
    assert [p["coordinates"] for p in got] == patterns
    assert all(p["planes"] == [0, 2] and "threshold" not in p for p in got)


@pytest.mark.parametrize("func", ["mt_expand_multi", "mt_inpand_multi"])
@pytest.mark.parametrize("sw, sh", [(0, 0), (-1, -2), (0, -1)])
def test_min_max_without_radius_returns_input(ctx, yuv, func, sw, sh):
    assert getattr(ctx, func)(yuv, sw=sw, sh=sh) is yuv


@pytest.mark.parametrize("func, name", [("mt_inflate_multi", "Inflate"), ("mt_deflate_multi", "Deflate")])
@pytest.mark.parametrize("radius, count", [(1, 1), (1.8, 2), (2, 2), (2.1, 3), (0, 0), (-3, 0)])
def test_inflate_deflate_pass_count(ctx, yuv, func, name, radius, count):
    res = getattr(ctx, func)(yuv, radius=radius)
    if count == 0:
        assert res is yuv
    got = passes(res, yuv, name)
    assert len(got) == count
    assert all(p["planes"] == [0, 1, 2] and "threshold" not in p for p in got)


@pytest.mark.parametrize(
    "func, name, extra",
    [
        ("mt_expand_multi", "Maximum", dict(sw=2, sh=2)),
        ("mt_inpand_multi", "Minimum", dict(sw=2, sh=2)),
        ("mt_inflate_multi", "Inflate", dict(radius=2)),
        ("mt_deflate_multi", "Deflate", dict(radius=2)),
    ],
)
def test_gray_clip_uses_plane_zero(ctx, core, func, name, extra):
    gray = core.std.BlankClip(format=vs.GRAY16, width=16, height=16, length=1)
    got = passes(getattr(ctx, func)(gray, planes=[1, 2], **extra), gray, name)
    assert len(got) == 2 and all(p["planes"] == 0 for p in got)


@pytest.mark.parametrize("func", ["mt_expand_multi", "mt_inpand_multi", "mt_inflate_multi", "mt_deflate_multi"])
def test_not_a_clip(ctx, func):
    with pytest.raises(TypeError) as e:
        getattr(ctx, func)(42)
    assert str(e.value) == f"{func}: This is not a clip"


def test_passes_shape_pixels(ctx):
    """A lone dot grows into the shape of the passes: diamond for losange, square for rectangle."""
    img = np.zeros((9, 11), np.uint8)
    img[4, 5] = 200
    clip = clip_from_planes([img], vs.GRAY8)
    yy, xx = np.mgrid[0:9, 0:11]
    diamond = np.where(np.abs(yy - 4) + np.abs(xx - 5) <= 2, 200, 0)
    square = np.where((np.abs(yy - 4) <= 2) & (np.abs(xx - 5) <= 3), 200, 0)
    got = planes_of(ctx.mt_expand_multi(clip, "losange", sw=2, sh=2).get_frame(0))[0]
    np.testing.assert_array_equal(got, diamond)
    got = planes_of(ctx.mt_expand_multi(clip, sw=3, sh=2).get_frame(0))[0]
    np.testing.assert_array_equal(got, square)
    # Erosion of the inverted picture is the inverted dilation.
    inv = clip_from_planes([255 - img], vs.GRAY8)
    got = planes_of(ctx.mt_inpand_multi(inv, "losange", sw=2, sh=2).get_frame(0))[0]
    np.testing.assert_array_equal(got, 255 - diamond)


@pytest.mark.parametrize(
    "x, expected",
    [(10, 16), (15.9, 16), (16, 16), (17, 16), (18, 20), (21.9, 20), (22, 24), (30, 32), (1920 / 3, 640)],
)
def test_m4(ctx, x, expected):
    got = ctx.m4(x)
    assert got == expected and isinstance(got, int)


@pytest.mark.parametrize("x", [float("inf"), float("nan"), 1e300])
def test_m4_refuses_unbounded(ctx, x):
    with pytest.raises(ValueError, match='^m4: "x" must be a finite size'):
        ctx.m4(x)
