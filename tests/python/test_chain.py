"""main(): the restoration chain read from its graph, its switches, renders and one content check."""

from collections import Counter

import numpy as np
import pytest
import vapoursynth as vs
from conftest import as_list, clip_from_planes, graph_nodes, need, planes_of, tagged
from options import make_options

from orvo import orvolib

SWITCHES = {"Text_Protect": "aamod", "Time_domain_p": "dbmod", "limited_dering": "dering",
            "Line_Darken": "linedarken", "Warpline": "warp"}

# Values that can be told apart in the graph.
DISTINCT = dict(nr=dict(d=2, a=3, s=2, hy=1.7, hc=1.25, hy2=0.9, hc2=None, device_type="cpu", device_id=0),
                gaussain__bsigma=1.25, gaussain__dgmode=17, gaussain__pdgp=3.0, aamod__eesigma=0.75,
                dbmod__range1=13, dbmod__range2=18, dbmod__thr=0.45, dbmod__thc=0.35, dbmod__est=1.7,
                dering__drrx=2, dering__dramp=1.75, warp__wthresh=100, warp__wblur=3, warp__wdepth=12,
                warp__wplane=[0])


def options(on=(), **kw):
    args = dict(DISTINCT)
    args.update({f"{SWITCHES[s]}__{s}": s in on for s in SWITCHES})
    args.update(kw)
    return make_options(**args)


def source(core, w=320, h=240, length=3):
    return tagged(core.std.BlankClip(format=vs.YUV420P16, width=w, height=h, length=length,
                                     color=[24000, 30000, 36000]))


@pytest.fixture(scope="module")
def plugins_loaded():
    for ns in ("fmtc", "rgvs", "tcanny", "f3kdb", "eedi2", "warp", "ctmf", "misc", "bm3d", "knlm"):
        need(ns)


def counts(clip):
    return Counter(f"{n._plugin_ns}.{n._name}" for n in graph_nodes(clip))


def test_graph_with_every_switch_on(core, plugins_loaded):
    res = orvolib.main(source(core), options(on=SWITCHES))
    n = counts(res)
    assert (n["bm3d.Basic"], n["bm3d.Final"], n["knlm.KNLMeansCL"]) == (2, 2, 2)
    assert (n["eedi2.EEDI2"], n["std.FrameEval"], n["std.PlaneStats"], n["warp.AWarpSharp2"]) == (2, 1, 1, 3)
    assert n["f3kdb.Deband"] == 1  # the deband's passes are built per frame

    # Both denoise passes: luma sigma, chroma strength, KNLMeansCL radii and device.
    basic = sorted(as_list(b._inputs["sigma"])[0] for b in graph_nodes(res, "bm3d", "Basic"))
    assert basic == [0.9, 1.7]
    knlm = sorted((k._inputs["h"], k._inputs["d"], k._inputs["a"], k._inputs["s"], k._inputs["device_type"])
                  for k in graph_nodes(res, "knlm", "KNLMeansCL"))
    assert knlm == [(1.25 / 1.7 * 0.9, 1, 2, 3, "cpu"), (1.25, 2, 3, 2, "cpu")]

    blurs = {(t._inputs["sigma"], t._inputs["mode"]) for t in graph_nodes(res, "tcanny", "TCanny")
             if t._inputs.get("mode") == -1}
    assert {(1.25, -1), (0.75, -1)} <= blurs
    assert any(as_list(r._inputs["mode"]) == [17, 0] for r in graph_nodes(res, "rgvs", "RemoveGrain"))
    exprs = [as_list(e._inputs["expr"]) for e in graph_nodes(res, "std", "Expr")]
    assert ["x y - abs 3.0 *"] in exprs
    assert any(e[0] == "x y - 1.75 *" for e in exprs)  # ring mask amplification
    assert any((r._inputs["w"], r._inputs["h"]) == (160, 120) for r in graph_nodes(res, "fmtc", "resample"))

    warped = [w._inputs for w in graph_nodes(res, "warp", "AWarpSharp2") if w._inputs.get("thresh") == 100]
    assert len(warped) == 1
    assert (warped[0]["blur"], warped[0]["type"], warped[0]["depth"], as_list(warped[0]["planes"])) == (3, 1, 12, [0])
    last = res
    assert (last._name, as_list(last._inputs["planes"])) == ("MaskedMerge", [0])

    # The deband's per-frame passes carry the dbmod values.
    frame_eval = graph_nodes(res, "std", "FrameEval")[0]
    props = source(core).std.SetFrameProps(propsAverage=0.5).get_frame(0)
    limit = frame_eval._inputs["eval"](n=0, f=props)
    outside = set(graph_nodes(res))
    bands = [n._inputs for n in graph_nodes(limit, "f3kdb", "Deband") if n not in outside]
    assert sorted(b["range"] for b in bands) == [13, 18]
    [luma, chroma, _] = [as_list(e._inputs["expr"]) for e in graph_nodes(limit, "std", "Expr") if e not in outside][0]
    # thr 0.45 and thc 0.35 on the 16-bit scale, est 1.7 times them
    assert "115.65 <=" in luma and "196.60500000000002 >=" in luma
    assert "89.95 <=" in chroma and "152.915 >=" in chroma


@pytest.mark.parametrize("pdgp, text", [(3, "x y - abs 3 *"), (3.0, "x y - abs 3.0 *"), (1.5, "x y - abs 1.5 *")])
def test_pdgp_text(core, plugins_loaded, pdgp, text):
    res = orvolib.main(source(core), options(gaussain__pdgp=pdgp))
    assert [text] in [as_list(e._inputs["expr"]) for e in graph_nodes(res, "std", "Expr")]


# What turning one switch off must remove (functions that identify its stages), every
# first-plane merge on 4:2:0 included with the six mask resizes the core adds for it.
SWITCH_STAGES = {
    "Text_Protect": {"misc.Hysteresis": 1, "std.MaskedMerge": 1, "resize.Bilinear": 6},
    "Time_domain_p": {"std.FrameEval": 1, "std.PlaneStats": 1, "std.MaskedMerge": 3, "rgvs.RemoveGrain": 4,
                      "std.MergeDiff": 1, "resize.Bilinear": 18},
    "limited_dering": {"warp.AWarpSharp2": 1, "std.MakeDiff": 2},
    "Line_Darken": {"warp.AWarpSharp2": 1, "std.MaskedMerge": 1},
    "Warpline": {"warp.AWarpSharp2": 1, "std.MaskedMerge": 1},
}


# BM3D on chroma (hc, hc2 >= 1.6): no OpenCL program to build for each graph.
BM3D_CHROMA = dict(nr=dict(DISTINCT["nr"], hc=2.0, hc2=1.8))


@pytest.fixture(scope="module")
def everything(plugins_loaded):
    return counts(orvolib.main(source(vs.core), options(on=SWITCHES, **BM3D_CHROMA)))


@pytest.mark.parametrize("switch", list(SWITCHES))
def test_switch_off_removes_only_its_stages(core, everything, switch):
    without = counts(orvolib.main(source(core), options(on=[s for s in SWITCHES if s != switch], **BM3D_CHROMA)))
    assert not without - everything  # nothing appears
    removed = everything - without
    assert {k: removed[k] for k in SWITCH_STAGES[switch]} == SWITCH_STAGES[switch]
    # and nothing the other switches build goes with it
    for other, stages in SWITCH_STAGES.items():
        if other != switch:
            for name in set(stages) - set(SWITCH_STAGES[switch]):
                assert without[name] >= stages[name]


def test_all_switches_off(core, plugins_loaded):
    n = counts(orvolib.main(source(core), options(**BM3D_CHROMA)))
    assert (n["std.FrameEval"], n["warp.AWarpSharp2"], n["std.PlaneStats"]) == (0, 0, 0)


RENDERS = [(), tuple(SWITCHES), ("Text_Protect", "limited_dering", "Warpline"), ("Time_domain_p", "Line_Darken")]


@pytest.mark.parametrize("on", RENDERS, ids=["off", "all", "odd", "even"])
def test_renders_same_frames_with_1_and_4_threads(core, plugins_loaded, on):
    rng = np.random.default_rng(len(on))
    planes = [rng.integers(20000, 40000, (240, 320), dtype=np.uint16)]
    planes += [rng.integers(28000, 36000, (120, 160), dtype=np.uint16) for _ in range(2)]
    src = tagged(clip_from_planes(planes, vs.YUV420P16, length=3))
    kw = {} if len(on) in (0, 5) else BM3D_CHROMA  # KNLMeansCL in the two full cases
    frames = []
    for threads in (1, 4):
        core.num_threads = threads
        try:
            res = orvolib.main(src, options(on=on, **kw))
            frames.append([planes_of(f) for f in res.frames(close=True)])
        finally:
            core.num_threads = 2
    assert (res.format.id, res.width, res.height, res.num_frames) == (vs.YUV420P16, 320, 240, 3)
    assert res.fps == src.fps
    for a, b in zip(*frames):
        for pa, pb in zip(a, b):
            np.testing.assert_array_equal(pa, pb)


def line_art(w=320, h=240, frames=3, sigma=3.0):
    """Flat colour areas with dark outlines and a soft gradient, clean and with noise (8-bit scale)."""
    yy, xx = np.mgrid[0:h, 0:w]
    luma = np.full((h, w), 180.0)
    luma[:, : w // 2] = 120 + 40 * xx[:, : w // 2] / (w // 2)  # soft gradient
    inside = (xx - 220) ** 2 + (yy - 120) ** 2 < 60**2
    luma[inside] = 90.0
    ring = np.abs(np.hypot(xx - 220, yy - 120) - 60) < 1.5
    luma[ring] = 30.0
    luma[100:104, 20:140] = 30.0  # a dark bar on the gradient
    rng = np.random.default_rng(7)
    clean = np.clip(luma * 257, 0, 65535)
    outs = [np.clip(clean + rng.normal(0, sigma * 257, clean.shape), 0, 65535).astype(np.uint16)
            for _ in range(frames)]
    interior = np.hypot(xx - 220, yy - 120) < 50
    return clean, outs, ring, interior


def test_line_art_noise_falls_and_outlines_stay(core, plugins_loaded):
    clean, noisy, ring, flat = line_art()
    chroma = np.full((120, 160), 32768, np.uint16)
    blank = tagged(core.std.BlankClip(format=vs.YUV420P16, width=320, height=240, length=len(noisy)))

    def fill(n, f):
        out = f.copy()
        for p, arr in enumerate((noisy[n], chroma, chroma)):
            np.copyto(np.asarray(out[p]), arr)
        return out

    src = blank.std.ModifyFrame(blank, fill)
    opts = options(nr=dict(DISTINCT["nr"], hy=5.0, hc=1.2, hy2=3.0))
    res = orvolib.main(src, opts)
    out = np.asarray(planes_of(res.get_frame(1))[0], np.float64)
    before = np.asarray(noisy[1], np.float64)
    assert np.std((out - clean)[flat]) <= 0.5 * np.std((before - clean)[flat])
    contrast_in = clean[flat].mean() - clean[ring].mean()
    assert out[flat].mean() - out[ring].mean() >= 0.8 * contrast_in
