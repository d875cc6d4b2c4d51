"""Two-clip operators (_operator2 / Max) and the Levels tables."""

import numpy as np
import pytest
import vapoursynth as vs
from conftest import clip_from_planes, planes_of

MAX2_16 = "y 32768 - abs x 32768 - abs > y x ?"


def blank(core, fmt=vs.YUV420P16, w=16, h=12):
    return core.std.BlankClip(format=fmt, width=w, height=h, length=1)


def exprs(node):
    e = node._inputs["expr"]
    return e if isinstance(e, list) else [e]


@pytest.mark.parametrize(
    "func, mode, neutral, expected",
    [
        ("Max", None, None, ["x y max"] * 3),
        ("Max", 2, None, [MAX2_16] * 3),
        ("Max", [2, 0], None, [MAX2_16, "", ""]),
        ("Max", [0, 1, 5], 0.5, ["", "x y max", "y 0.5 - abs x 0.5 - abs > y x ?"]),
        ("Max", -1, None, ["", "", ""]),
        ("Min", [2, 1], 100, ["y 100 - abs x 100 - abs < y x ?", "x y min", "x y min"]),
        ("Avg", [0, 1, 3], None, ["", "x y + 2 /", "x y + 2 /"]),
    ],
)
def test_operator2_expressions(ctx, core, func, mode, neutral, expected):
    a, b = blank(core), blank(core).std.Invert()
    res = ctx._operator2(a, b, mode, neutral, func)
    assert res._name == "Expr" and list(res.dependencies) == [a, b]
    assert exprs(res) == expected
    if func == "Max":
        assert exprs(ctx.Max(a, b, mode=mode, neutral=neutral)) == expected



def test_operator2_unknown_name(ctx, core):
    with pytest.raises(ValueError, match=r'^_operator2: Unknown "funcName" specified!$'):
        ctx._operator2(blank(core), blank(core), 1, None, "Med")


@pytest.mark.parametrize(
    "args, exc, text",
    [
        (dict(clip1=1), TypeError, ': "clip1" must be a clip!'),
        (dict(clip2="x"), TypeError, ': "clip2" must be a clip!'),
        (dict(clip2="fmt"), ValueError, ': "clip1" and "clip2" must be of the same format!'),
        (dict(clip2="size"), ValueError, ': "clip1" and "clip2" must be of the same width and height!'),
        (dict(mode=1.5), TypeError, ': "mode" must be a (list of) int!'),
        (dict(mode=[1, "2"]), TypeError, ': "mode" must be a (list of) int!'),
        (dict(mode=(1, 2)), TypeError, ': "mode" must be a (list of) int!'),
        (dict(neutral="128"), TypeError, ': "neutral" must be an int or a float!'),
    ],
)
def test_max_errors(ctx, core, args, exc, text):
    a = blank(core)
    kw = dict(clip1=a, clip2=a, mode=None, neutral=None)
    kw.update(args)
    if kw["clip2"] == "fmt":
        kw["clip2"] = blank(core, vs.YUV444P16)
    elif kw["clip2"] == "size":
        kw["clip2"] = blank(core, h=14)
    with pytest.raises(exc) as e:
        ctx.Max(**kw)
    assert str(e.value) == "Max" + text


def test_max_pixels(ctx):
    rng = np.random.default_rng(1)
    x = [rng.integers(0, 256, (6, 10), dtype=np.uint8) for _ in range(3)]
    y = [rng.integers(0, 256, (6, 10), dtype=np.uint8) for _ in range(3)]
    # A tie in distance keeps x.
    x[0][0, 0], y[0][0, 0] = 120, 136
    a, b = clip_from_planes(x, vs.YUV444P8), clip_from_planes(y, vs.YUV444P8)
    got = planes_of(ctx.Max(a, b, mode=[2, 1, 0]).get_frame(0))
    far = np.where(np.abs(y[0].astype(int) - 128) > np.abs(x[0].astype(int) - 128), y[0], x[0])
    np.testing.assert_array_equal(got[0], far)
    assert got[0][0, 0] == 120
    np.testing.assert_array_equal(got[1], np.maximum(x[1], y[1]))
    np.testing.assert_array_equal(got[2], x[2])


def luts(node):
    """(planes, table) of each Lut node from the first to the last."""
    out = []
    while node._name == "Lut":
        p = node._inputs["planes"]
        out.append((p if isinstance(p, list) else [p], node._inputs["lut"]))
        node = node.dependencies[0]
    return out[::-1]


def test_levels_gamma_one_tables_16bit(ctx, core):
    (p0, luma), (p1, chroma) = luts(ctx.Levels(blank(core), 1.0))
    assert p0 == [0] and p1 == [1, 2]
    assert len(luma) == len(chroma) == 65536
    x = np.arange(65536)
    np.testing.assert_array_equal(luma, np.clip(x, 4112, 60395))
    np.testing.assert_array_equal(chroma, np.clip(x, 4112, 61680))


def test_levels_gamma_table(ctx, core):
    """8-bit, gamma 2: square-root curve inside [16, 235], checked against host float arithmetic."""
    ((_, luma), _) = luts(ctx.Levels(blank(core, vs.YUV420P8), 2))
    assert luma[:17] == [16] * 17 and luma[235:] == [235] * 21
    for x in range(17, 235):
        assert luma[x] == int(((x - 16) / 219) ** 0.5 * 219 + 16 + 0.5)
    assert (luma[17], luma[71], luma[234]) == (31, 126, 234)
    assert luma[71] > 71  # gamma above 1 brightens


def test_levels_gamma_below_one_darkens_16bit(ctx, core):
    ((_, luma), _) = luts(ctx.Levels(blank(core), 1 / 1.5))
    mid = 32000
    assert luma[mid] == int(((mid - 4112) / 56283) ** 1.5 * 56283 + 4112 + 0.5)
    assert luma[mid] < mid and luma[4113] == 4112 and luma[60394] == 60394


def test_levels_gray_and_ignored_arguments(ctx, core):
    g = ctx.Levels(blank(core, vs.GRAY16), 1.0)
    assert [p for p, _ in luts(g)] == [[0]]
    y = ctx.Levels(blank(core), 1.0, 0, 100, 5, 200, planes=[1], coring=False)
    assert [p for p, _ in luts(y)] == [[0], [1, 2]]


def test_levels_clamps_pixels(ctx):
    row = np.array([[0, 4000, 4112, 30000, 60395, 62000, 65535]], np.uint16)
    clip = clip_from_planes([row, row, row], vs.YUV444P16)
    got = planes_of(ctx.Levels(clip, 1.0).get_frame(0))
    np.testing.assert_array_equal(got[0], [[4112, 4112, 4112, 30000, 60395, 60395, 60395]])
    for p in (1, 2):
        np.testing.assert_array_equal(got[p], [[4112, 4112, 4112, 30000, 60395, 61680, 61680]])


@pytest.mark.parametrize("gamma, exc", [(0, ZeroDivisionError), (None, TypeError)])
def test_levels_bad_gamma(ctx, core, gamma, exc):
    with pytest.raises(exc):
        ctx.Levels(blank(core), gamma)


def test_levels_rejects_float_clip(ctx, core):
    with pytest.raises(ValueError, match="^Levels: .*YUV420PS"):
        ctx.Levels(blank(core, vs.YUV420PS), 1.0)



def test_levels_rejects_non_clip(ctx):
    with pytest.raises(TypeError, match='^Levels: "clip" must be a clip!$'):
        ctx.Levels([1], 1.0)


def test_levels_negative_gamma_is_refused(ctx, core):
    with pytest.raises(ValueError, match=r"^Levels: 1 / \"gamma\" = -1000.0 gives table values outside \[0, 255\]!$"):
        ctx.Levels(blank(core, vs.GRAY8), -0.001)
