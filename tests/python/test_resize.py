"""Resize: ratios, ringing suppression graph, planes for the depth step."""

import numpy as np
import pytest
import vapoursynth as vs
from conftest import clip_from_planes, need, planes_of


@pytest.mark.parametrize(
    "src, dst, sr, nrb, nrr, nrv",
    [
        ((1920, 1080), (1280, 720), 1.5, False, 0.0, 0),
        ((1920, 1080), (640, 360), 3.0, True, 0.5, 128),
        ((1920, 1080), (480, 270), 4.0, True, 1.0, 0),
        ((960, 540), (1920, 1080), 2.0, False, 0.0, 0),
        ((1920, 1080), (1920, 540), 2.0, False, 0.0, 0),
        ((1920, 1080), (720, 405), 2.6666666666666665, True, 0.16666666666666652, 213),
        ((1920, 1080), (768, 432), 2.5, False, 0.0, 0),
    ],
)
def test_ratios(ctx, src, dst, sr, nrb, nrr, nrv):
    assert ctx._resize_ratio(*src, *dst) == (sr, nrb, nrr, nrv)


def test_ratio_errors(ctx):
    with pytest.raises(ZeroDivisionError):
        ctx._resize_ratio(1920, 1080, 0, 1080)
    with pytest.raises(ZeroDivisionError):
        ctx._resize_ratio(0, 1080, 640, 360)
    with pytest.raises(AssertionError):
        ctx._resize_ratio(1920, 1080, -100, 100)


def test_not_a_clip(ctx):
    with pytest.raises(TypeError) as e:
        ctx.Resize([], 640, 360)
    assert str(e.value) == "Resize: This is not a clip"


@pytest.fixture
def hd(core):
    return core.std.BlankClip(format=vs.YUV444P16, width=1920, height=1080, length=1)


def is_resample(node, src, w, h):
    return node._name == "resample" and node.dependencies[0] == src and (node._inputs["w"], node._inputs["h"]) == (w, h)


@pytest.mark.parametrize("w, h", [(1280, 720), (768, 432), (480, 270)])
def test_plain_resample_without_noring(ctx, hd, w, h):
    need("fmtc")
    res = ctx.Resize(hd, w, h, kernel="bicubic", a1=0, a2=0.5)
    assert is_resample(res, hd, w, h)
    assert (res._inputs["kernel"], res._inputs["a1"], res._inputs["a2"]) == ("bicubic", 0, 0.5)


@pytest.mark.parametrize("w, h, mask", [(1280, 720, None), (768, 432, None), (640, 360, 32896), (720, 405, 54741)])
def test_ringing_suppression_graph(ctx, hd, w, h, mask):
    need("fmtc")
    need("rgvs")
    res = ctx.Resize(hd, w, h, 0, 0, kernel="bicubic", a1=0, a2=0.5, noring=True, cplace="mpeg2")
    if mask is None:
        repair = res
    else:
        assert res._name == "MaskedMerge"
        main, repair, blank = res.dependencies[:3]
        assert blank._name == "BlankClip" and blank._inputs["clip"] == main
        assert blank._inputs["color"] == [mask] * 3
        assert repair.dependencies[0] == main
    assert repair._name == "Repair" and repair._inputs["mode"] == 1
    main, nrng = repair.dependencies[:2]
    assert is_resample(main, hd, w, h) and is_resample(nrng, hd, w, h)
    assert (main._inputs["kernel"], main._inputs["a1"], main._inputs["a2"]) == ("bicubic", 0, 0.5)
    assert (nrng._inputs["kernel"], nrng._inputs["a1"]) == ("gauss", 100) and "a2" not in nrng._inputs
    for node in (main, nrng):
        assert (node._inputs["sx"], node._inputs["sy"], node._inputs["cplace"]) == (0, 0, "mpeg2")
        assert "sw" not in node._inputs and "taps" not in node._inputs


def test_no_suppression_from_ratio_four(ctx, hd):
    need("fmtc")
    assert is_resample(ctx.Resize(hd, 480, 270, noring=True), hd, 480, 270)


@pytest.mark.parametrize(
    "kw, planes2",
    [
        (dict(), None),
        (dict(bits=16), None),
        (dict(bits=8), [0, 1, 2]),
        (dict(dmode=1), [0, 1, 2]),
        (dict(bits=8, planes=[3, 1]), [0]),
        (dict(bits=8, planes=3), [0, 1, 2]),
        (dict(bits=8, planes=[1, 3]), [1, 2]),
        (dict(bits=10, planes=[3, 2, 1]), [0, 1]),
    ],
)
def test_depth_step(ctx, hd, kw, planes2):
    need("fmtc")
    res = ctx.Resize(hd, 1280, 720, **kw)
    if planes2 is None:
        assert res._name == "resample"
        return
    assert res._name == "bitdepth" and res.dependencies[0]._name == "resample"
    p = res._inputs["planes"]
    assert (p if isinstance(p, list) else [p]) == planes2
    assert res._inputs["bits"] == kw.get("bits", 16)
    assert res._inputs.get("dmode") == kw.get("dmode")



def test_ringing_is_cut_on_pixels(ctx):
    """A hard step upscaled by 2: the sharp kernel overshoots, the suppressed result stays in range."""
    need("fmtc")
    need("rgvs")
    img = np.full((8, 16), 10000, np.uint16)
    img[:, 8:] = 50000
    clip = clip_from_planes([img], vs.GRAY16)
    plain = planes_of(ctx.Resize(clip, 32, 16, kernel="lanczos").get_frame(0))[0]
    cut = planes_of(ctx.Resize(clip, 32, 16, kernel="lanczos", noring=True).get_frame(0))[0]
    assert plain.max() > 50000 and plain.min() < 10000
    assert cut.shape == (16, 32)
    # Repair leaves the outermost rows and columns as they are.
    inner = cut[1:-1, 1:-1]
    assert inner.max() <= 50000 and inner.min() >= 10000
