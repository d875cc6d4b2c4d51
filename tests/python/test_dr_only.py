"""dr_only: expression texts, geometry, the strength2 blend, halo removal, the mask view and the pre-blur."""

from collections import Counter

import numpy as np
import pytest
import vapoursynth as vs
from conftest import clip_from_planes, graph_nodes, need, planes_of


@pytest.fixture(autouse=True)
def plugins():
    need("fmtc")
    need("rgvs")


def mask_expr(m, los, his):
    return f"y {m} / x {m} / - y {m} / 0.001 + / 255 * {los} - y {m} / 256 + 512 / {his} + * {m} *"


def render(ctx, img, fmt=vs.GRAY16, **kwargs):
    return planes_of(ctx.dr_only(clip_from_planes([img], fmt), **kwargs).get_frame(0))[0].astype(int)


@pytest.mark.parametrize("fmt, kwargs, mask, p1, p2", [
    (vs.GRAY16, {}, mask_expr(257, 50, 0.5), 0, 1),
    (vs.YUV420P16, dict(strength2=1, highsens=100), mask_expr(257, 50, 1.0), 1, 0),
    (vs.GRAY8, dict(lowsens=20.5, highsens=75, strength2=0.25), mask_expr(1, 20.5, 0.75), 0.25, 0.75),
    (vs.YUV420P10, dict(lowsens=0, highsens=5), mask_expr(4, 0, 0.05), 0, 1),
])
def test_expression_texts(ctx, core, fmt, kwargs, mask, p1, p2):
    src = core.std.BlankClip(format=fmt, width=64, height=48, length=1)
    out = ctx.dr_only(src, **kwargs)
    final = f"x y < x x y - {p1} * - x x y - {p2} * - ?"
    exprs = Counter(str(n._inputs["expr"]) for n in graph_nodes(out, name="Expr"))
    assert exprs == Counter({"x y -": 2, mask: 1, "x y min": 1, "x y max": 1, final: 1})
    assert out._inputs["expr"] == final and out.format.id == src.format.id


def test_odd_geometry(ctx, core):
    out = ctx.dr_only(core.std.BlankClip(format=vs.GRAY16, width=1919, height=1079, length=1))
    resamples = Counter((n._inputs.get("kernel"), n.width, n.height) for n in graph_nodes(out, "fmtc", "resample"))
    assert resamples == Counter({
        ("bicubic", 959, 539): 1, ("bicubic", 1919, 1079): 1,  # half-size reference
        ("lanczos", 2878, 1618): 1, ("gauss", 2878, 1618): 1,  # enlargement with ringing cut
        ("bicubic", 2878, 1618): 2,  # local maximum and minimum of the mix
        ("spline36", 1919, 1079): 1,
    })
    assert (out.width, out.height) == (1919, 1079)


def test_strength2_chooses_the_side(ctx):
    img = (np.random.default_rng(3).random((48, 64)) * 60000).astype(np.uint16)
    img[:, 20:30] = 50000
    s = img.astype(int)
    kept_dark, kept_bright = render(ctx, img, strength2=0), render(ctx, img, strength2=1)
    # 0: only what is brighter than the cleaned picture comes down; 1: only what is darker goes up.
    assert np.all(kept_dark <= s) and np.all(kept_bright >= s)
    assert np.all((kept_dark == s) | (kept_bright == s))
    assert np.any(kept_dark < s) and np.any(kept_bright > s)


# Mid-grey rows with a dark two-pixel line flanked by bright overshoots (8-bit values).
HALO_ROW = np.array([128.0] * 27 + [150, 200, 200, 40, 40, 200, 200, 150] + [128.0] * 29)


@pytest.mark.parametrize("fmt, step, dtype", [(vs.GRAY16, 257, np.uint16), (vs.GRAY8, 1, np.uint8)])
def test_halo_is_reduced_and_line_kept(ctx, fmt, step, dtype):
    img = np.tile(HALO_ROW * step, (48, 1)).astype(dtype)
    got = render(ctx, img, fmt)
    assert got[:, [28, 29, 32, 33]].max() <= 190 * step
    np.testing.assert_array_equal(got[:, 30:32], img[:, 30:32])
    np.testing.assert_array_equal(got[:, :20], img[:, :20])
    np.testing.assert_array_equal(got[:, 44:], img[:, 44:])
    mask = render(ctx, img, fmt, show=True)
    assert np.all(mask[:, :20] == 0) and mask[:, 29:33].min() > 80 * step


def test_preblur_mask_argument(ctx, core):
    src = core.std.BlankClip(format=vs.GRAY16, width=64, height=48, length=1)
    mask = core.std.BlankClip(src, color=65535)
    assert mask not in graph_nodes(ctx.dr_only(src, dering_line_mask2=mask))
    used = graph_nodes(ctx.dr_only(src, preblur=True, dering_line_mask2=mask))
    (merge,) = [n for n in used if n._name == "MaskedMerge" and n._inputs["clipa"] == src]
    assert merge._inputs["mask"] == mask and not graph_nodes(merge, name="Levels")


@pytest.mark.parametrize("fmt, strength1, final", [
    (vs.GRAY16, 100, (15420, 35980, 3.0, 0, 25700)),
    (vs.GRAY8, 255, (60, 140, 3.0, 0, 255)),
])
def test_preblur_curves(ctx, core, fmt, strength1, final):
    out = ctx.dr_only(core.std.BlankClip(format=fmt, length=1), preblur=True, strength1=strength1)
    peak = (1 << core.get_video_format(fmt).bits_per_sample) - 1
    got = Counter(tuple(n._inputs[k] for k in ("min_in", "max_in", "gamma", "min_out", "max_out"))
                  for n in graph_nodes(out, name="Levels"))
    assert got == Counter({(0, 90 * peak // 255, 3.3, 0, peak): 3, final: 1})


def test_preblur_skips_faint_texture(ctx):
    img = ((128 + np.random.default_rng(5).integers(-1, 2, (48, 64))) * 257).astype(np.uint16)
    np.testing.assert_array_equal(render(ctx, img, preblur=True, strength1=255), render(ctx, img))
    img[:, 20:26] = 30 * 257  # a thick line: its surroundings are smoothed
    assert np.any(render(ctx, img, preblur=True, strength1=255) != render(ctx, img))


def test_float_clip_rejected(ctx, core):
    with pytest.raises(ValueError, match='^dr_only: "clp" must be of integer format, not GrayS!$'):
        ctx.dr_only(core.std.BlankClip(format=vs.GRAYS, length=1))
