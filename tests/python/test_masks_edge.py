"""Ring, edge-enhancement, text, anti-aliasing and warp masks."""

import numpy as np
import pytest
import vapoursynth as vs
from conftest import as_list, clip_from_planes, graph_nodes, need, planes_of

CROSS = [0, 1, 0, 1, 1, 0, 1, 0]


@pytest.fixture(autouse=True)
def plugins():
    for ns in ("tcanny", "rgvs", "fmtc"):
        need(ns)


def blank(core, fmt=vs.YUV420P16, w=64, h=48, color=None):
    return core.std.BlankClip(format=fmt, width=w, height=h, length=1, color=color)


def exprs(clip):
    return [as_list(n._inputs["expr"]) for n in graph_nodes(clip, "std", "Expr")]


def from_input(clip, src, ns, name):
    return [n for n in graph_nodes(clip, ns, name) if n.dependencies[0] == src]


@pytest.mark.parametrize("rx, size", [(2, (960, 540)), (2.5, (768, 432)), (3, (640, 360))])
def test_ringmask2_down_size(ctx, core, rx, size):
    res = ctx.ringmask2(blank(core, w=1920, h=1080), rx, 4)
    rs = graph_nodes(res, "fmtc", "resample")
    down = {(n._inputs["w"], n._inputs["h"]) for n in rs if n.dependencies[0]._name != "resample"}
    up = sorted((n._inputs.get("a1"), n._inputs.get("a2")) for n in rs if n.dependencies[0]._name == "resample")
    assert down == {size} and up == [(1.0, 0.0), (1.5, -0.25)]
    assert all(n._inputs["kernel"] == "bicubic" and n._inputs["fulls"] == n._inputs["fulld"] == 0 for n in rs)
    assert (res.format.name, res.width, res.height) == ("Gray16", 1920, 1080)


@pytest.mark.parametrize(
    "fmt, args, diff, limit",
    [
        (vs.YUV420P16, dict(rx=2, amp=4), "x y - 4 *", "x 0 < 0 x 65535 >= 65535 x ? ?"),
        (vs.GRAY16, dict(rx=2, amp=1.5, mode=2), "y x - 1.5 *", "x 0 < 0 x 65535 >= 65535 x ? ?"),
        (vs.GRAY16, dict(rx=2, amp=4, thY1=10, thY2=200), "x y - 4 *", "x 2570 < 0 x 51400 >= 65535 x ? ?"),
        (vs.GRAY16, dict(rx=2, amp=4, thY1=10.0), "x y - 4 *", "x 2570.0 < 0 x 65535 >= 65535 x ? ?"),
        (vs.YUV420P8, dict(rx=2, amp=4, thY1=10, thY2=200), "x y - 4 *", "x 10 < 0 x 200 >= 255 x ? ?"),
    ],
)
def test_ringmask2_expressions(ctx, core, fmt, args, diff, limit):
    res = ctx.ringmask2(blank(core, fmt), **args)
    assert as_list(res._inputs["expr"]) == [limit]
    (bd,) = graph_nodes(res, "fmtc", "bitdepth")
    assert as_list(bd.dependencies[0]._inputs["expr"]) == [diff]
    kw = bd._inputs
    assert (kw["bits"], kw["fulls"], kw["fulld"], kw["dmode"]) == (res.format.bits_per_sample, 1, 1, 1)


def test_ringmask2_pixels(ctx, core):
    assert not planes_of(ctx.ringmask2(blank(core, color=[30000, 20000, 40000]), 2, 4).get_frame(0))[0].any()
    y = np.full((48, 64), 8000, np.uint16)
    y[:, 30:] = 50000
    c = np.full((24, 32), 32768, np.uint16)
    mask = planes_of(ctx.ringmask2(clip_from_planes([y, c, c], vs.YUV420P16), 2, 4).get_frame(0))[0]
    # The halo lies beside the edge, not far from it.
    assert mask[:, 24:36].max() > 0 and not mask[:, :12].any()


def test_eemask(ctx, core):
    y = np.full((32, 64), 16 << 8, np.uint16)
    y[:, 32:] = 235 << 8
    c = np.full((16, 32), 32768, np.uint16)
    src = clip_from_planes([y, c, c], vs.YUV420P16)
    res = ctx.eemask(src)
    assert res.format.name == "YUV420P16" and as_list(res._inputs["mode"]) == [20, 11]
    # A 16-bit clip is taken to 8 bits first.
    assert from_input(res, src, "fmtc", "bitdepth")[0]._inputs["bits"] == 8
    (tc,) = graph_nodes(res, "tcanny", "TCanny")
    kw = {k: as_list(v) for k, v in tc._inputs.items() if k != "clip"}
    assert kw == dict(sigma=[0.5], op=[2], gmmax=[255.0], mode=[1], planes=[0, 1, 2])
    assert ["x 2 / y + z + 256 /"] in exprs(res)
    assert ["x x * 35 * 255 y - dup * 0.30 * + 55706 min"] in exprs(res)
    mask = planes_of(res.get_frame(0))[0]
    # Capped on the edge; away from it only the darkness term of the 8-bit luma is left.
    assert mask[:, 31:33].min() == 55706 and mask.max() == 55706
    assert mask[16, 2] == round(0.30 * (255 - 16) ** 2) and mask[16, 60] == round(0.30 * 20 ** 2)


def caption(w, h, u, v):
    y = np.full((h, w), 16 << 8, np.uint16)
    cu = np.full((h // 2, w // 2), 32768, np.uint16)
    cv = cu.copy()
    y[h // 2 - 8:h // 2 + 8, w // 4:3 * w // 4] = 60000
    cu[h // 4 - 4:h // 4 + 4, w // 8:3 * w // 8] = u
    cv[h // 4 - 4:h // 4 + 4, w // 8:3 * w // 8] = v
    return clip_from_planes([y, cu, cv], vs.YUV420P16)


@pytest.mark.parametrize("u, v, kept", [(32768, 32768, True), (16000, 36000, False)])
def test_textmask_caption(ctx, u, v, kept):
    need("misc")
    res = ctx.textmask(caption(1280, 720, u, v))
    assert (res.format.name, res.width, res.height) == ("YUV420P16", 1280, 720)
    got = planes_of(res.get_frame(0))
    assert not got[1].any() and not got[2].any()
    if kept:
        assert got[0][352:368, 320:960].min() == 65535 and not got[0][:300].any()
    else:
        assert not got[0].any()


@pytest.mark.parametrize(
    "args, loose, strict",
    [
        ({}, "x 53000 > y 32768 - abs 512 < and z 32768 - abs 512 < and 65535 0 ?",
         "x 58000 > y 32768 - abs 1280 < and z 32768 - abs 1280 < and 65535 0 ?"),
        (dict(lim0=1000, lim1=2000.5), "x 53000 > y 32768 - abs 1000 < and z 32768 - abs 1000 < and 65535 0 ?",
         "x 58000 > y 32768 - abs 2000.5 < and z 32768 - abs 2000.5 < and 65535 0 ?"),
    ],
)
@pytest.mark.parametrize("w, h", [(1920, 1080), (1280, 720)])
def test_textmask_graph(ctx, core, args, loose, strict, w, h):
    need("misc")
    res = ctx.textmask(blank(core, vs.YUV420P8, w, h), **args)
    assert res._name == "Maximum" and res._inputs["planes"] == 0
    hy = res.dependencies[0]
    assert hy._name == "Hysteresis" and hy._inputs["planes"] == 0
    strict_node, loose_node = hy.dependencies[:2]
    assert as_list(strict_node._inputs["expr"]) == [strict, "0"]
    assert as_list(loose_node._inputs["expr"]) == [loose, "0"]
    bic = graph_nodes(res, "resize", "Bicubic")
    assert len(bic) == 3
    for n in bic:
        kw = n._inputs
        assert (kw["width"], kw["height"], kw["filter_param_a"], kw["filter_param_b"]) == (w, h, 0.0, 0.5)
        assert kw["format"] == vs.YUV420P16
    assert (res.width, res.height) == (w, h)


def test_vcbaamask(ctx, core):
    src = blank(core, vs.YUV420P10)
    res = ctx.vcbaamask(src)
    assert res.format.name == "YUV420P16" and as_list(res._inputs["mode"]) == [20, 0]
    assert from_input(res, src, "fmtc", "bitdepth")[0]._inputs["bits"] == 8
    assert ["y 64 < x 32 < 0 65535 ? x 64 < 0 65535 ? ? ", "x"] in exprs(res)
    (bic,) = [n for n in graph_nodes(res, "resize", "Bicubic") if n._inputs.get("format") == vs.GRAY16]
    assert bic._inputs["matrix_s"] == "709" and bic._inputs["dither_type"] == "random"
    assert (bic._inputs["filter_param_a_uv"], bic._inputs["filter_param_b_uv"], bic._inputs["range_s"]) == (
        0.0, 0.5, "limited")
    assert bic.dependencies[0].format.color_family == vs.RGB
    mn = res.dependencies[0]
    assert (mn._name, mn.dependencies[0]._name) == ("Minimum", "Maximum")


def test_vcbaamask_pixels(ctx):
    # One edge in a dark area (threshold 32) and one in a bright area (64).
    y = np.full((32, 64), 16 << 8, np.uint16)
    y[:, 16:] = 60 << 8
    y[:, 48:] = 235 << 8
    c = np.full((16, 32), 32768, np.uint16)
    mask = planes_of(ctx.vcbaamask(clip_from_planes([y, c, c], vs.YUV420P16)).get_frame(0))
    assert mask[0][8:24, 15:17].min() > 0 and mask[0][8:24, 47:49].min() > 0
    assert not mask[0][:, 24:40].any() and not mask[1].any()


def test_warpmask(ctx, core):
    src = blank(core, vs.YUV420P8)
    res = ctx.warpmask(src)
    assert res._name == "Maximum" and res._inputs["coordinates"] == CROSS and res._inputs["planes"] == 0
    tc = res.dependencies[0]
    assert tc._name == "TCanny"
    assert (tc._inputs["sigma"], tc._inputs["t_h"], tc._inputs["t_l"], tc._inputs["planes"]) == (1.5, 18.0, 6.0, 0)
    assert "mode" not in tc._inputs
    assert tc.dependencies[0]._inputs["bits"] == 16 and res.format.name == "YUV420P16"
    assert not planes_of(res.get_frame(0))[0].any()
    y = np.full((32, 64), 16 << 8, np.uint16)
    y[:, 32:] = 235 << 8
    c = np.full((16, 32), 32768, np.uint16)
    mask = planes_of(ctx.warpmask(clip_from_planes([y, c, c], vs.YUV420P16)).get_frame(0))[0]
    assert set(np.unique(mask)) == {0, 65535} and mask[16, 30:34].any() and not mask[:, :24].any()
