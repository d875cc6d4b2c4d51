"""Line mask of the luma and chroma edge mask: expressions, tables, graph and pixels."""

import numpy as np
import pytest
import vapoursynth as vs
from conftest import as_list, clip_from_planes, graph_nodes, need, planes_of

CROSS = [0, 1, 0, 1, 1, 0, 1, 0]


@pytest.fixture(autouse=True)
def plugins():
    for ns in ("tcanny", "rgvs", "fmtc", "misc"):
        need(ns)


def yuv16(y, u=None, v=None):
    h, w = y.shape
    u = np.full((h // 2, w // 2), 32768, np.uint16) if u is None else u
    v = np.full((h // 2, w // 2), 32768, np.uint16) if v is None else v
    return clip_from_planes([y.astype(np.uint16), u, v], vs.YUV420P16)


def texture(seed=1, h=32, w=64):
    return np.random.default_rng(seed).integers(4096, 60000, (h, w))


def exprs(clip):
    return [as_list(n._inputs["expr"]) for n in graph_nodes(clip, "std", "Expr")]


@pytest.mark.parametrize(
    "c1, c2, flt1, cut",
    [
        (29952, 12032, "x 29952 < 0 y ?", "x 12032 < 0 x ?"),
        (299.5, 12032.9, "x 299.5 < 0 y ?", "x 12032 < 0 x ?"),
        (0, -1.5, "x 0 < 0 y ?", "x -1 < 0 x ?"),
    ],
)
def test_gammaed_lmask2_expressions(ctx, core, c1, c2, flt1, cut):
    clip = core.std.BlankClip(format=vs.GRAY16, width=32, height=32, length=1)
    res = ctx.gammaed_lmask2(clip, 1.08, c1, c2)
    assert as_list(res._inputs["expr"]) == [cut]
    found = exprs(res)
    assert [flt1] in found and ["y 65535 = x 0 ?"] in found


def test_gammaed_lmask2_graph(ctx, core):
    clip = core.std.BlankClip(format=vs.GRAY8, width=32, height=32, length=1)
    res = ctx.gammaed_lmask2(clip)
    # cut <- RemoveGrain(20) <- RemoveGrain(20) <- Expr(dsc2, o_l)
    rg2 = res.dependencies[0]
    rg1 = rg2.dependencies[0]
    assert (rg2._name, rg1._name) == ("RemoveGrain", "RemoveGrain")
    assert as_list(rg2._inputs["mode"]) == as_list(rg1._inputs["mode"]) == [20]
    flted = rg1.dependencies[0]
    dsc2, o_l = flted.dependencies[:2]
    assert (dsc2._name, dsc2.dependencies[0]._name) == ("Minimum", "Maximum")
    assert "coordinates" not in dsc2._inputs and "coordinates" not in dsc2.dependencies[0]._inputs
    eroded, flt1 = o_l.dependencies[:2]
    assert o_l._name == "Hysteresis" and eroded._inputs["coordinates"] == CROSS
    assert eroded.dependencies[0] == flt1
    (tc,) = graph_nodes(res, "tcanny", "TCanny")
    assert {k: v for k, v in tc._inputs.items() if k != "clip"} == dict(sigma=0.0, mode=1, op=2)
    # An 8-bit luma goes to 16 bits first.
    assert any(n._inputs.get("bits") == 16 for n in graph_nodes(res, "fmtc", "bitdepth"))
    assert res.format.name == "Gray16"


def test_gammaed_lmask2_yuv_equals_its_luma(ctx, core):
    clip = yuv16(texture())
    a = planes_of(ctx.gammaed_lmask2(clip).get_frame(0))[0]
    b = planes_of(ctx.gammaed_lmask2(core.std.ShufflePlanes(clip, 0, vs.GRAY)).get_frame(0))[0]
    assert a.max() == 65535 and np.array_equal(a, b)
    # Values below c2 are cut; c2 past the peak leaves nothing.
    assert not planes_of(ctx.gammaed_lmask2(clip, c2=65536).get_frame(0))[0].any()
    assert a[a > 0].min() >= 12032


def test_gammaed_lmask2_flat_is_zero(ctx):
    assert not planes_of(ctx.gammaed_lmask2(yuv16(np.full((32, 64), 30000))).get_frame(0))[0].any()


@pytest.mark.parametrize(
    "args, template, low2, low3",
    [
        ({}, "x 245 > 1023 y 245 > 1023 z 265 > 1023 0 ? ? ?", "x 341 < 0 y ?", "x 129 < 0 y ?"),
        (dict(plimitY=300.5, plimitC=100, lowlimit2=12, lowlimit3=7.25),
         "x 100 > 1023 y 100 > 1023 z 300.5 > 1023 0 ? ? ?", "x 12 < 0 y ?", "x 7.25 < 0 y ?"),
    ],
)
def test_chromamask2_expressions(ctx, core, args, template, low2, low3):
    clip = core.std.BlankClip(format=vs.YUV420P10, width=32, height=32, length=1)
    found = exprs(ctx.chromamask2(clip, **args))
    assert [template] in found and [low2] in found and [low3] in found


@pytest.mark.parametrize("extra", [{}, dict(lowlimit1=0, delta=5)])
def test_chromamask2_table_ignores_lowlimit1_and_delta(ctx, core, extra):
    clip = core.std.BlankClip(format=vs.YUV420P10, width=32, height=32, length=1)
    (lut,) = graph_nodes(ctx.chromamask2(clip, **extra), "std", "Lut")
    table = lut._inputs["lut"]
    assert len(table) == 1024
    assert [table[x] for x in (0, 412, 413, 450, 511, 512, 1023)] == [0, 0, 826, 900, 1022, 1023, 1023]


@pytest.mark.parametrize("radius, passes", [(1.8, 2), (1, 1), (3, 3)])
def test_chromamask2_graph(ctx, core, radius, passes):
    clip = core.std.BlankClip(format=vs.YUV420P16, width=32, height=32, length=1)
    res = ctx.chromamask2(clip, sigma=0.7, t_h=5, t_l=1, radius=radius, blursigma=2.5)
    assert res.format.name == "YUV420P10"
    # Both chroma branches deflate `radius` times.
    assert len(graph_nodes(res, "std", "Deflate")) == 2 * passes
    tcs = graph_nodes(res, "tcanny", "TCanny")
    grad = [n for n in tcs if n._inputs.get("mode") == 1]
    blur = [n for n in tcs if n._inputs.get("mode") == -1]
    assert len(grad) == 1 and len(blur) == 2
    assert {k: as_list(v) for k, v in grad[0]._inputs.items() if k != "clip"} == dict(
        mode=[1], sigma=[0.7], t_h=[5.0], t_l=[1.0], planes=[0, 1, 2], op=[2])
    assert all(as_list(n._inputs["sigma"]) == [2.5] for n in blur)
    (conv,) = graph_nodes(res, "std", "Convolution")
    assert conv._inputs["matrix"] == [1] * 12 + [0] + [1] * 12
    spl = graph_nodes(res, "resize", "Spline16")
    assert len(spl) == 2 and all((n.width, n.height) == (32, 32) for n in spl)
    (hy,) = graph_nodes(res, "misc", "Hysteresis")
    assert hy.dependencies[0]._inputs["coordinates"] == CROSS


def test_chromamask2_pixels(ctx):
    y = np.full((32, 64), 4096)
    u = np.full((16, 32), 32768, np.uint16)
    u[:, 16:] = 50000
    clip = yuv16(y, u)
    res = ctx.chromamask2(clip)
    got = planes_of(res.get_frame(0))
    ref = planes_of(ctx.Depth(clip, 10).get_frame(0))
    # A chroma edge marks plane 0 near the edge only; chroma is the 10-bit input.
    assert set(np.unique(got[0])) == {0, 1023}
    assert got[0][:, 30:34].all() and not got[0][:, :20].any() and not got[0][:, 44:].any()
    assert np.array_equal(got[1], ref[1]) and np.array_equal(got[2], ref[2])
    assert not planes_of(ctx.chromamask2(yuv16(y)).get_frame(0))[0].any()
