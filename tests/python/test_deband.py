"""dbmbk_light: per-frame strengths along the curve, the passes it builds, lifetime, errors and the plot."""

import gc
import sys
import types
import weakref

import numpy as np
import pytest
import vapoursynth as vs
from conftest import clip_from_planes, need, planes_of

DEFAULTS = dict(left=64, right=22, anc_x=0.38, anc_y=96, accur=0.001, amp=1.0)


def curve_value(average, left, right, anc_x, anc_y, accur, amp):
    """The unrounded strength of the curve, straight from the description: the drifting walk over t."""
    t = last = 0
    while t <= 1:
        if abs(2 * anc_x * t * (1 - t) + t**2 - average) < accur:
            break
        last = t
        t += accur
    else:
        t = last
    return (left * (1 - t) ** 2 + 2 * anc_y * t * (1 - t) + right * t**2) * amp


def strengths(average, y=48, cb=32, cr=32):
    luma = min(max(int(curve_value(average, **DEFAULTS) + 0.5), 0), 128)
    return luma, int(cb / y * luma), int(cr / y * luma)


def small(core, length=1):
    return core.std.BlankClip(width=64, height=32, format=vs.YUV420P16, length=length)


def passes(out, average):
    """The Deband inputs (first pass, then second or None) and the final node the per-frame function builds."""
    frame = out._inputs["eval"]  # FrameEval's function, called as the core calls it
    props = small(vs.core).std.SetFrameProps(propsAverage=average).get_frame(0)
    final = frame(n=0, f=props)
    chain = []
    node = final.dependencies[0]
    while node._name == "Deband":
        chain.append(node._inputs)
        node = node.dependencies[0]
    chain.reverse()
    return chain[0], (chain[1] if len(chain) > 1 else None), final


@pytest.mark.parametrize(
    "kw, average, first, second",
    [
        ({}, 0.0, (64, 42, 42), (44, 29, 29)),  # 44.8 and 29.4, truncated by the plugin
        ({}, 0.25, (74, 49, 49), (51, 34, 34)),
        ({}, 0.5, (67, 44, 44), (46, 30, 30)),
        ({}, 0.9, (33, 22, 22), (23, 15, 15)),
        ({}, 1.0, (22, 14, 14), (15, 9, 9)),  # no t within the tolerance: the last t walked
        (dict(left=0, anc_x=0, accur=0.6), 1.0, (54, 36, 36), (37, 25, 25)),  # last t 0.6, not 1.2 or 0
        (dict(amp=2), 0.25, (128, 85, 85), (89, 59, 59)),
        (dict(left=-50, right=-50, anc_y=0), 0.5, (0, 0, 0), (0, 0, 0)),
        (dict(y=40), 0.0, (64, 51, 51), (44, 35, 35)),  # the caller's y is only the ratio base
        (dict(cb=16, dbstc=40), 0.0, (64, 21, 53), (44, 14, 37)),
        (dict(chroma=1), 0.0, (64, 32, 32), (44, 22, 22)),  # 1 is not the boolean True
        (dict(chroma=False, cb=20, cr=30), 0.9, (33, 20, 30), (23, 14, 21)),
        (dict(tp=False), 0.0, (64, 42, 42), None),
    ],
)
def test_strengths_per_frame(ctx, core, kw, average, first, second):
    need("f3kdb")
    p1, p2, final = passes(ctx.dbmbk_light(small(core), **kw), average)
    assert (p1["range"], p1["y"], p1["cb"], p1["cr"]) == (12, *first)
    if second is None:
        assert p2 is None
    else:
        assert (p2["range"], p2["y"], p2["cb"], p2["cr"]) == (16, *second)


def test_base_arguments(ctx, core):
    need("f3kdb")
    src = small(core)
    p1, p2, final = passes(ctx.dbmbk_light(src, grainy=3, output_depth=8, seed=7, range1=5, range2=9), 0.0)
    for p, rng in ((p1, 5), (p2, 9)):
        assert (p["range"], p["output_depth"], p["grainy"], p["grainc"], p["seed"]) == (rng, 16, 3, 0, 7)
    assert final._name == "Expr" and final.dependencies[1] == src


def textured(core, levels, seed=3):
    """A YUV420P16 clip whose frame k has average luma near levels[k], with noise around the deband thresholds."""
    rng = np.random.default_rng(seed)
    frames = []
    for level in levels:
        y = np.clip(level * 65535 + rng.integers(-500, 500, size=(64, 96)), 0, 65535).astype(np.uint16)
        uv = [(32768 + rng.integers(-300, 300, size=(32, 48))).astype(np.uint16) for _ in range(2)]
        frames.append(clip_from_planes([y, *uv], vs.YUV420P16))
    return core.std.Splice(frames)


def direct(ctx, src, y, cb, cr):
    base = dict(grainy=0, grainc=0, output_depth=16)
    dbed = src.f3kdb.Deband(range=12, y=y, cb=cb, cr=cr, **base)
    dbed = dbed.f3kdb.Deband(range=16, y=y * 0.7, cb=cb * 0.7, cr=cr * 0.7, **base)
    return ctx.LimitFilter(dbed, src, thr=0.6, thrc=0.4, elast=1.6, planes=[0, 1, 2])


@pytest.mark.parametrize("threads", [1, 4])
def test_render_matches_direct_passes(ctx, core, threads):
    need("f3kdb")
    src = textured(core, [0.02, 0.25, 0.85, 0.25, 0.02, 0.85])
    averages = [src.std.PlaneStats(plane=0).get_frame(n).props["PlaneStatsAverage"] for n in range(len(src))]
    expected = [strengths(a) for a in averages]
    assert len(set(expected)) == 3
    saved = core.num_threads
    try:
        core.num_threads = threads
        out = ctx.dbmbk_light(src)
        got = [planes_of(f) for f in out.frames()]
    finally:
        core.num_threads = saved
    # built on the whole clip: f3kdb's offsets depend on the clip's length
    for n, s in enumerate(expected):
        want = planes_of(direct(ctx, src, *s).get_frame(n))
        assert all(np.array_equal(a, b) for a, b in zip(got[n], want)), f"frame {n}, strengths {s}"
        # the comparison tells neighbouring strengths apart
        other = planes_of(direct(ctx, src, s[0] + 1, s[1] + 1, s[2] + 1).get_frame(n))
        assert not all(np.array_equal(a, b) for a, b in zip(got[n], other))


def test_context_kept_and_everything_freed(core):
    need("f3kdb")
    from options import make_options

    from orvo import orvolib

    ctx = orvolib._context(make_options())
    src = textured(core, [0.2, 0.6])
    alive = weakref.ref(src)
    out = ctx.dbmbk_light(src)
    del ctx, src  # the graph keeps what it needs
    for _ in out.frames():
        pass
    assert alive() is not None
    del out
    gc.collect()
    assert alive() is None


@pytest.mark.parametrize(
    "kw, error, words",
    [
        (dict(y=0), ZeroDivisionError, ["dbmbk_light", '"y"']),
        (dict(dbsty=0), ZeroDivisionError, ["dbmbk_light", '"y"']),
        (dict(range=8), TypeError, ["dbmbk_light", '"range"', "range1"]),
        (dict(accur=0), ValueError, ["dbmbk_light", '"accur"']),
        (dict(left="64"), TypeError, ["dbmbk_light", '"left"']),
    ],
)
def test_build_time_errors(ctx, core, kw, error, words):
    with pytest.raises(error) as e:
        ctx.dbmbk_light(small(core), **kw)
    assert all(w in str(e.value) for w in words)


def test_zero_base_luma_without_chroma_ratio(ctx, core):
    need("f3kdb")
    p1, _, _ = passes(ctx.dbmbk_light(small(core), y=0, chroma=1), 0.0)
    assert (p1["y"], p1["cb"]) == (64, 32)


def test_plot_without_matplotlib(ctx, core, monkeypatch):
    monkeypatch.setitem(sys.modules, "matplotlib", None)
    monkeypatch.setitem(sys.modules, "matplotlib.pyplot", None)
    with pytest.raises(ValueError, match="^Matplotlib is required to run this function$"):
        ctx.dbmbk_light(small(core), showcurve=True)


@pytest.mark.parametrize("kw", [dict(showcurve=1), dict(showcurve=True, amp=1.7, anc_x=0.6, accur=0.003)])
def test_plot(ctx, core, monkeypatch, kw):
    calls = []
    pyplot = types.ModuleType("matplotlib.pyplot")
    for name in ("plot", "axis", "show"):
        setattr(pyplot, name, lambda *a, _name=name: calls.append((_name, a)))
    package = types.ModuleType("matplotlib")
    package.pyplot = pyplot
    monkeypatch.setitem(sys.modules, "matplotlib", package)
    monkeypatch.setitem(sys.modules, "matplotlib.pyplot", pyplot)

    assert ctx.dbmbk_light(small(core), **kw) is None
    assert [c[0] for c in calls] == ["plot", "axis", "show"]
    xs, ys = calls[0][1]
    params = dict(DEFAULTS, **{k: v for k, v in kw.items() if k in DEFAULTS})
    assert xs == [i / 1000 for i in range(1000)]
    # exact equality: any other t than the drifting walk's shows in the unrounded values
    assert ys == [min(max(curve_value(x, **params), 0), 128) for x in xs]
    assert calls[1][1] == ([0, 1, 0, 128],)
