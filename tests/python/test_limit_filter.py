"""LimitFilter: expression texts, quick exits, the table path and its messages."""

import numpy as np
import pytest
import vapoursynth as vs
from conftest import clip_from_planes, planes_of

E16 = (
    "   x   y  -  abs  257.0 <=  x    x   y  -  abs  514.0 >=  y    y    x   y  -  514.0   x   y  -  abs  - * "
    "0.0038910505836575876 * +  ? ? "
)
E8 = (
    "   x   y  -  abs  1.0 <=  x    x   y  -  abs  2.0 >=  y    y    x   y  -  2.0   x   y  -  abs  - * 1.0 * +  ? ? "
)
E8_REF = (
    "  x   z  >    x   z  -  abs  2.0 <=  x    x   z  -  abs  4.0 >=  y    y    x   y  -  4.0   x   z  -  abs  - * "
    "0.5 * +  ? ?     x   z  -  abs  1.0 <=  x    x   z  -  abs  2.0 >=  y    y    x   y  -  2.0   x   z  -  abs  - "
    "* 1.0 * +  ? ?  ? "
)
E8_HARD = "   x   y  -  abs  1.0 <=  x   y  ? "
EF = (
    "   x   y  -  abs  0.00392156862745098 <=  x    x   y  -  abs  0.00784313725490196 >=  y    y    x   y  -  "
    "0.00784313725490196   x   y  -  abs  - * 255.0 * +  ? ? "
)


def blank(core, fmt, w=16, h=12):
    return core.std.BlankClip(format=fmt, width=w, height=h, length=1)


def exprs(node):
    e = node._inputs["expr"]
    return e if isinstance(e, list) else [e]


@pytest.mark.parametrize(
    "fmt, kw, with_ref, expected",
    [
        (vs.YUV420P16, {}, False, [E16] * 3),
        (vs.GRAY8, dict(thr=1, elast=2), False, [E8]),
        (vs.GRAY8, dict(thr=1, brighten_thr=2, elast=2), True, [E8_REF]),
        (vs.YUV444P8, dict(thr=1, elast=1), False, [E8_HARD] * 3),
        (vs.GRAYS, dict(thr=1, elast=2), False, [EF]),
        (vs.YUV420P8, dict(thr=0, brighten_thr=0, thrc=1), False, ["  y  ", E8, E8]),
        (vs.YUV420P8, dict(planes=[0]), False, [E8, "", ""]),
        (vs.YUV420P8, dict(planes=2), False, ["", "", E8]),
        (vs.YUV420P8, dict(thr=255, thrc=1), False, ["", E8, E8]),
    ],
)
def test_expression_texts(ctx, core, fmt, kw, with_ref, expected):
    flt, src = blank(core, fmt), blank(core, fmt).std.Invert()
    ref = blank(core, fmt).std.Invert().std.Invert() if with_ref else None
    res = ctx.LimitFilter(flt, src, ref, **kw)
    assert res._name == "Expr"
    assert list(res.dependencies) == ([flt, src, ref] if with_ref else [flt, src])
    assert exprs(res) == expected


@pytest.mark.parametrize(
    "args, expected",
    [
        ((False, 1, 2, 1, 255), E8),
        ((True, 1, 2, 2, 255), E8_REF),
        ((False, 0, 2, 0, 255), "  y  "),
        ((True, 0, 2, 0, 255), "  y  "),
        ((False, 255, 2, 255, 255), ""),
        ((False, 300, 2, 256, 255), ""),
        ((False, 1, 1, 7, 255), E8_HARD),  # elast 1 ignores the brightening threshold
        ((False, 1.0, 2.0, 1.0, 65535), E16),
    ],
)
def test_limit_filter_expr(ctx, args, expected):
    assert ctx._limit_filter_expr(*args) == expected


def test_expr_small_threshold_uses_exponent_form(ctx):
    e = ctx._limit_filter_expr(False, 0.001, 2, 0.001, 1)
    assert " 3.92156862745098e-06 <= " in e and " 7.84313725490196e-06 >= " in e and " 255000.0 * + " in e


@pytest.mark.parametrize(
    "thr, bright, expected",
    [
        # Zero darkening threshold: darkening changes go back to src, no soft zone.
        (0, 2, "  x   y  >    x   y  -  abs  2.0 <=  x    x   y  -  abs  4.0 >=  y    y    x   y  -  4.0   x   y  -  abs"
         "  - * 0.5 * +  ? ?     x   y  -  abs  0.0 <=  x   y  ?  ? "),
        (2, 0, "  x   y  >    x   y  -  abs  0.0 <=  x   y  ?     x   y  -  abs  2.0 <=  x    x   y  -  abs  4.0 >=  y"
         "    y    x   y  -  4.0   x   y  -  abs  - * 0.5 * +  ? ?  ? "),
    ],
)
def test_zero_threshold_with_elast_builds(ctx, thr, bright, expected):
    assert ctx._limit_filter_expr(False, thr, 2, bright, 255) == expected


def test_quick_exits_return_inputs(ctx, core):
    for fmt in (vs.GRAY8, vs.YUV420P16, vs.RGB24):
        flt, src = blank(core, fmt), blank(core, fmt).std.Invert()
        assert ctx.LimitFilter(flt, src, thr=0, brighten_thr=0, thrc=0) is src
        assert ctx.LimitFilter(flt, src, thr=255, brighten_thr=300, thrc=255) is flt
    gray = blank(core, vs.GRAY8)
    # GRAY ignores thrc in the quick exit; YUV does not.
    g2 = gray.std.Invert()
    assert ctx.LimitFilter(gray, g2, thr=0, brighten_thr=0, thrc=5) is g2
    yuv = blank(core, vs.YUV420P8)
    assert ctx.LimitFilter(yuv, yuv.std.Invert(), thr=0, brighten_thr=0, thrc=5)._name == "Expr"


def lut_chain(node):
    out = []
    while node._name == "Lut":
        p = node._inputs.get("planes")
        out.append(p if isinstance(p, list) or p is None else [p])
        node = node.dependencies[0]
    return out[::-1], node


@pytest.mark.parametrize(
    "fmt, planes, luts",
    [
        (vs.YUV420P8, None, [[0], [1, 2]]),
        (vs.YUV420P8, [0, 2], [[0], [2]]),
        (vs.YUV420P8, 1, [[1]]),
        (vs.GRAY16, None, [None]),
        (vs.RGB24, [1], [[1]]),
    ],
)
def test_table_path_graph(ctx, core, fmt, planes, luts):
    flt, src = blank(core, fmt), blank(core, fmt).std.Invert()
    res = ctx.LimitFilter(flt, src, thr=2, thrc=3, force_expr=False, planes=planes)
    assert res._name == "MakeDiff" and res.dependencies[0] == flt
    got, first = lut_chain(res.dependencies[1])
    assert first._name == "MakeDiff" and list(first.dependencies) == [flt, src]
    assert got == luts
    norm = [planes] if isinstance(planes, int) else planes
    for node in (res, first):
        p = node._inputs.get("planes")
        assert ([p] if isinstance(p, int) else p) == norm


@pytest.mark.parametrize(
    "fmt, kw",
    [(vs.GRAY8, dict(thr=128)), (vs.GRAY8, dict(brighten_thr=200)), (vs.GRAYS, {}), (vs.GRAY8, dict(ref=True))],
)
def test_table_path_falls_back_to_expr(ctx, core, fmt, kw):
    flt, src = blank(core, fmt), blank(core, fmt).std.Invert()
    if kw.get("ref"):
        kw["ref"] = src
    assert ctx.LimitFilter(flt, src, force_expr=0, **kw)._name == "Expr"


def table(ctx, core, thr, elast, bright=None, fmt=vs.GRAY8):
    res = ctx._limit_diff_lut(blank(core, fmt), thr, elast, thr if bright is None else bright, None)
    return res._inputs["lut"]


def test_diff_lut_examples(ctx, core):
    t = table(ctx, core, 1, 5)
    assert len(t) == 256
    assert [t[x] for x in range(125, 134)] == [126, 128, 128, 128, 128, 128, 130, 131, 133]
    t = table(ctx, core, 1, 3)
    assert (t[126], t[130], t[125], t[131]) == (127, 129, 125, 131)
    # elast 1: a hard step at the threshold, brightening side with its own.
    t = table(ctx, core, 2, 1, bright=4)
    assert t[126] == 128 and t[125] == 125 and t[132] == 128 and t[133] == 133
    # Thresholds from half the range on keep every change.
    assert table(ctx, core, 128, 2) == [128] * 256
    t = table(ctx, core, 1, 2, fmt=vs.GRAY16)
    assert (t[32768 + 257], t[32768 + 300], t[32768 + 514]) == (32768, 32818, 32768 + 514)


def test_diff_lut_zero_thresholds_return_input(ctx, core):
    d = blank(core, vs.GRAY8)
    assert ctx._limit_diff_lut(d, 0, 2, 0, [0]) is d


@pytest.mark.parametrize(
    "diff, exc, text",
    [(5, TypeError, ': "diff" must be a clip!'), ("float", ValueError, ': "diff" must be of integer format!')],
)
def test_diff_lut_errors(ctx, core, diff, exc, text):
    if diff == "float":
        diff = blank(core, vs.GRAYS)
    with pytest.raises(exc) as e:
        ctx._limit_diff_lut(diff, 1, 2, 1, None)
    assert str(e.value) == "_limit_diff_lut" + text


@pytest.mark.parametrize(
    "kw, exc, text",
    [
        (dict(flt=1), TypeError, ': "flt" must be a clip!'),
        (dict(src=None), TypeError, ': "src" must be a clip!'),
        (dict(ref=3), TypeError, ': "ref" must be a clip!'),
        (dict(src="fmt"), ValueError, ': "flt" and "src" must be of the same format!'),
        (dict(src="size"), ValueError, ': "flt" and "src" must be of the same width and height!'),
        (dict(ref="fmt"), ValueError, ': "flt" and "ref" must be of the same format!'),
        (dict(ref="size"), ValueError, ': "flt" and "ref" must be of the same width and height!'),
        (dict(thr="1"), TypeError, ': "thr" must be an int or a float!'),
        (dict(thr=-1), ValueError, ':valid range of "thr" is [0, +inf)'),
        (dict(elast=[2]), TypeError, ': "elast" must be an int or a float!'),
        (dict(elast=0.5), ValueError, ':valid range of "elast" is [1, +inf)'),
        (dict(brighten_thr=None, thr=1, thrc="x"), TypeError, ': "thrc" must be an int or a float!'),
        (dict(brighten_thr="2"), TypeError, ': "brighten_thr" must be an int or a float!'),
        (dict(brighten_thr=-0.1), ValueError, ':valid range of "brighten_thr" is [0, +inf)'),
        (dict(thrc=-2), ValueError, ':valid range of "thrc" is [0, +inf)'),
        (dict(force_expr=1.0), TypeError, ': "force_expr" must be a bool!'),
        (dict(planes=3), ValueError, ': valid range of "planes" is [0, 3)!'),
        (dict(planes=[0, -1]), ValueError, ': valid range of "planes" is [0, 3)!'),
        (dict(planes="0"), TypeError, ': "planes" must be a (list of) int!'),
        (dict(planes=[0, "1"]), TypeError, ': "planes" must be a (list of) int!'),
        (dict(planes=(0,)), TypeError, ': "planes" must be a (list of) int!'),
    ],
)
def test_limit_filter_errors(ctx, core, kw, exc, text):
    a = blank(core, vs.YUV420P8)
    other = {"fmt": blank(core, vs.YUV444P8), "size": blank(core, vs.YUV420P8, h=14)}
    args = dict(flt=a, src=a)
    args.update({k: other.get(v, v) if isinstance(v, str) and k in ("src", "ref") else v for k, v in kw.items()})
    with pytest.raises(exc) as e:
        ctx.LimitFilter(**args)
    assert str(e.value) == "LimitFilter" + text



def test_planes_bound_follows_option(core):
    from options import make_options

    from orvo import orvolib

    c = orvolib._context(make_options(misc__VSMaxPlaneNum=2))
    a = blank(core, vs.YUV420P8)
    with pytest.raises(ValueError, match=r'^LimitFilter: valid range of "planes" is \[0, 2\)!$'):
        c.LimitFilter(a, a, planes=[2])


def oracle(flt, src, thr, bright, elast, peak):
    """The limit in real numbers: whole change up to t1, none from t2, linear between."""
    flt, src = flt.astype(np.float64), src.astype(np.float64)
    dif = flt - src
    t1 = np.where(dif > 0, bright, thr) * peak / 255
    t2 = t1 * elast
    with np.errstate(divide="ignore", invalid="ignore"):
        mid = src + dif * (t2 - np.abs(dif)) / (t2 - t1)
    return np.where(np.abs(dif) <= t1, flt, np.where(np.abs(dif) >= t2, src, mid))


def assert_rounded(got, exact):
    """Nearest integer of the exact value; at (near) halves either neighbour."""
    assert np.all(np.abs(got - exact) <= 0.5 + 1e-3)
    clear = np.abs(np.abs(exact - np.floor(exact)) - 0.5) > 1e-3
    np.testing.assert_array_equal(got[clear], np.round(exact[clear]))


@pytest.mark.parametrize(
    "fmt, dtype, peak, spread, thr, bright, elast",
    [
        (vs.GRAY8, np.uint8, 255, 12, 2, 2, 3),
        (vs.GRAY8, np.uint8, 255, 12, 1.5, 3, 2.5),
        (vs.GRAY8, np.uint8, 255, 10, 2, 2, 1),
        (vs.GRAY16, np.uint16, 65535, 4000, 3, 5, 2),
        # One threshold zero, the other positive, elast above 1.
        (vs.GRAY8, np.uint8, 255, 12, 0, 3, 2),
        (vs.GRAY8, np.uint8, 255, 12, 3, 0, 4),
        (vs.GRAY16, np.uint16, 65535, 3000, 0, 4, 2),
    ],
)
def test_paths_agree_on_pixels(ctx, fmt, dtype, peak, spread, thr, bright, elast):
    rng = np.random.default_rng(7)
    src = rng.integers(spread, peak - spread, (12, 20)).astype(dtype)
    flt = (src.astype(np.int64) + rng.integers(-spread, spread + 1, src.shape)).astype(dtype)
    a, b = clip_from_planes([flt], fmt), clip_from_planes([src], fmt)
    kw = dict(thr=thr, brighten_thr=bright, elast=elast)
    via_expr = planes_of(ctx.LimitFilter(a, b, **kw).get_frame(0))[0].astype(np.int64)
    via_table = planes_of(ctx.LimitFilter(a, b, force_expr=False, **kw).get_frame(0))[0].astype(np.int64)
    exact = oracle(flt, src, thr, bright, elast, peak)
    assert_rounded(via_expr, exact)
    assert_rounded(via_table, exact)
    assert np.all(np.abs(via_expr - via_table) <= 1)
    if thr == 0:
        darker = flt < src
        np.testing.assert_array_equal(via_expr[darker], src[darker])


def test_chroma_threshold_on_pixels(ctx):
    rng = np.random.default_rng(3)
    src = [rng.integers(40, 200, (8, 8)).astype(np.uint8) for _ in range(3)]
    flt = [(s.astype(int) + rng.integers(-6, 7, s.shape)).astype(np.uint8) for s in src]
    a, b = clip_from_planes(flt, vs.YUV444P8), clip_from_planes(src, vs.YUV444P8)
    for force in (True, False):
        got = planes_of(ctx.LimitFilter(a, b, thr=1, thrc=3, elast=2, force_expr=force).get_frame(0))
        assert_rounded(got[0].astype(np.int64), oracle(flt[0], src[0], 1, 1, 2, 255))
        for p in (1, 2):
            assert_rounded(got[p].astype(np.int64), oracle(flt[p], src[p], 3, 3, 2, 255))


def test_elast_one_paths_differ_on_brightening(ctx):
    """With elast 1 the expression uses thr alone; the table keeps its brightening threshold."""
    src = np.full((2, 4), 100, np.uint8)
    flt = src + np.array([[1, 2, 3, 4], [5, 6, 7, 8]], np.uint8)
    a, b = clip_from_planes([flt], vs.GRAY8), clip_from_planes([src], vs.GRAY8)
    kw = dict(thr=2, brighten_thr=5, elast=1)
    via_expr = planes_of(ctx.LimitFilter(a, b, **kw).get_frame(0))[0]
    via_table = planes_of(ctx.LimitFilter(a, b, force_expr=False, **kw).get_frame(0))[0]
    np.testing.assert_array_equal(via_expr, np.where(flt - src <= 2, flt, src))
    np.testing.assert_array_equal(via_table, np.where(flt - src <= 5, flt, src))


def test_diff_lut_nan_is_refused(ctx, core):
    with pytest.raises(ValueError, match="^_limit_diff_lut: thresholds and elast must be finite numbers, got thr nan"):
        ctx._limit_diff_lut(blank(core, vs.GRAY8), float("nan"), 2, 1, None)
