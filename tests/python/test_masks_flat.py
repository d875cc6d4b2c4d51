"""Flat, main and deband masks: tables, edge-detector arguments, graph and pixels."""

import numpy as np
import pytest
import vapoursynth as vs
from conftest import as_list, clip_from_planes, graph_nodes, need, planes_of


@pytest.fixture(autouse=True)
def plugins():
    for ns in ("tcanny", "rgvs", "fmtc"):
        need(ns)


def blank(core, fmt=vs.YUV420P16, w=64, h=48, color=None):
    return core.std.BlankClip(format=fmt, width=w, height=h, length=1, color=color)


def textured(seed=3):
    rng = np.random.default_rng(seed)
    y = rng.integers(4096, 60000, (48, 64)).astype(np.uint16)
    u = rng.integers(20000, 45000, (24, 32)).astype(np.uint16)
    return clip_from_planes([y, u, u[::-1].copy()], vs.YUV420P16)


def canny_args(clip):
    """(sigma, t_h, t_l, planes) of every TCanny node, as plain lists."""
    out = set()
    for n in graph_nodes(clip, "tcanny", "TCanny"):
        kw = n._inputs
        assert "mode" not in kw and "op" not in kw
        out.add((kw["sigma"], kw["t_h"], kw["t_l"], tuple(as_list(kw["planes"]))))
    return out


def lut_of(clip):
    (lut,) = graph_nodes(clip, "std", "Lut")
    return lut._inputs["lut"]


@pytest.mark.parametrize(
    "d, points",
    [
        ((80, 96, 180, 224), {0: 0, 20480: 0, 20481: 15, 22528: 32767, 24576: 65535, 46079: 65535,
                              46080: 65535, 51712: 32767, 57344: 0, 57345: 0, 65535: 0}),
        ((0, 255, 255, 255), {0: 0, 1: 1, 32640: 32767, 65279: 65533, 65280: 65535, 65281: 0}),
    ],
)
def test_orvodbmask_band_table(ctx, core, d, points):
    res = ctx.orvodbmask(blank(core), d1=d[0], d2=d[1], d3=d[2], d4=d[3])
    (mm,) = graph_nodes(res, "std", "MaskedMerge")
    table = mm.dependencies[2]._inputs["lut"]
    assert len(table) == 65536
    assert {x: table[x] for x in points} == points


@pytest.mark.parametrize(
    "high, low, points",
    [
        (38960, 4897, {0: 0, 4896: 0, 4897: 0, 4898: 1, 21928: 32766, 38959: 65533, 38960: 65535, 65535: 65535}),
        (1000.5, 0.5, {0: 0, 1: 32, 500: 32734, 1000: 65502, 1001: 65535}),
    ],
)
def test_orvomainmask_highlight_table(ctx, core, high, low, points):
    table = lut_of(ctx.orvomainmask(blank(core), high=high, low=low))
    assert {x: table[x] for x in points} == points


def test_orvomainmask_chain(ctx, core):
    src = blank(core)
    res = ctx.orvomainmask(src, sigma=2.0)
    chain = []
    node = res
    while node != src:
        chain.append(node)
        node = node.dependencies[0]
    assert [n._name for n in chain] == ["RemoveGrain", "Minimum", "Maximum", "Lut", "TCanny"]
    assert as_list(chain[0]._inputs["mode"]) == [20]
    assert all(n._inputs["planes"] == 0 for n in chain[1:])
    tc = chain[4]._inputs
    assert (tc["mode"], tc["sigma"], tc["t_h"], tc["t_l"], tc["op"]) == (1, 2.0, 6.0, 2.0, 2)


def test_flatmask_graph(ctx, core):
    flaten, coreed = blank(core), blank(core, color=[1000, 2000, 3000])
    res = ctx.flatmask(flaten, coreed, s0=2.0, th0=3.0, tl0=0.5, sf1=1.0, thf1=2.0, tlf1=0.25, sc1=3.0,
                       thc1=4.0, tlc1=1.5)
    assert canny_args(res) == {(2.0, 3.0, 0.5, (0,)), (1.0, 2.0, 0.25, (0, 1, 2)), (3.0, 4.0, 1.5, (0, 1, 2))}
    (gamma_pass,) = [n for n in graph_nodes(res, "tcanny", "TCanny") if n._inputs["sigma"] == 2.0]
    assert gamma_pass.dependencies[0]._name == "Lut"  # Levels of the luma
    (rs,) = graph_nodes(res, "fmtc", "resample")
    kw = rs._inputs
    assert (kw["w"], kw["h"], kw["sx"], kw["sy"], kw["kernel"], kw["fulls"]) == (64, 48, 0.25, 0.0, "bilinear", 1)
    assert rs.dependencies[0].width == 32
    # Diamond dilation of 5 and square erosion of 2 on luma, 3 and 3 on chroma,
    # one more erosion after the chroma resample, then two inflates.
    assert len(graph_nodes(res, "std", "Maximum")) == 5 + 3
    assert len(graph_nodes(res, "std", "Minimum")) == 2 + 3 + 1
    assert [res._name, res.dependencies[0]._name] == ["Inflate", "Inflate"]
    assert (res.format.name, res.width, res.height) == ("Gray16", 64, 48)


def test_orvodbmask_graph(ctx, core):
    res = ctx.orvodbmask(blank(core), s0=2.0, th0=3.0, tl0=0.5, s1=1.0, th1=2.0, tl1=0.25, s2=3.0, th2=4.0,
                         tl2=1.5)
    assert canny_args(res) == {(2.0, 3.0, 0.5, (0,)), (1.0, 2.0, 0.25, (0, 1, 2)), (3.0, 4.0, 1.5, (0, 1, 2))}
    (mm,) = graph_nodes(res, "std", "MaskedMerge")
    assert as_list(mm._inputs["planes"]) == [0, 1, 2] and mm._inputs["first_plane"] == 1
    assert mm.dependencies[2]._name == "Lut"
    assert (res.format.name, res.width, res.height) == ("Gray16", 64, 48)


@pytest.mark.parametrize("fmt, converted", [(vs.YUV420P8, True), (vs.YUV420P10, True), (vs.YUV420P16, False)])
def test_orvodbmask_converts_to_16_bits(ctx, core, fmt, converted):
    src = blank(core, fmt)
    depth = [n for n in graph_nodes(ctx.orvodbmask(src), "fmtc", "bitdepth") if n.dependencies[0] == src]
    assert len(depth) == converted
    if converted:
        assert depth[0]._inputs["bits"] == 16


def test_orvodbmask_without_darkenh(ctx, core):
    clip = textured()
    a = ctx.orvodbmask(clip, darkenh=False)
    b = ctx.orvodbmask(clip, darkenh=False, d_gamma=0.5, s0=1.0, th0=5.0, tl0=0.1)
    # Only the chroma and final maxima remain; the gamma pass is gone.
    maxes = [n for n in graph_nodes(a, "std", "Expr") if as_list(n._inputs["expr"]) == ["x y max"]]
    assert len(maxes) == 2 and not graph_nodes(a, "std", "Lut")[1:]
    assert len(canny_args(a)) == 2
    fa, fb = planes_of(a.get_frame(0))[0], planes_of(b.get_frame(0))[0]
    assert fa.any() and np.array_equal(fa, fb)


def test_orvodbmask_options(ctx, core):
    clip = textured()
    base = planes_of(ctx.orvodbmask(clip).get_frame(0))[0]
    assert np.array_equal(base, planes_of(ctx.orvodbmask(clip, pre=True).get_frame(0))[0])
    bare = ctx.orvodbmask(clip, inflate=False)
    assert bare._name == "Expr" and as_list(bare._inputs["expr"]) == ["x y max"]
    with pytest.raises(TypeError, match="<<"):
        ctx.orvodbmask(clip, d1=80.0)


@pytest.mark.parametrize("build", [
    lambda ctx, c: ctx.flatmask(c, c),
    lambda ctx, c: ctx.orvodbmask(c),
    lambda ctx, c: ctx.orvomainmask(c),
])
def test_zero_on_flat_frame_and_marks_texture(ctx, core, build):
    assert not planes_of(build(ctx, blank(core, color=[30000, 32768, 32768])).get_frame(0))[0].any()
    assert planes_of(build(ctx, textured()).get_frame(0))[0].max() > 0
