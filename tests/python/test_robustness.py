"""Hostile input found by tests/fuzz/driver.py: samples above the declared depth,
non-finite or absurd arguments, and work that grew without bound."""

import math
import re

import numpy as np
import pytest
import vapoursynth as vs

from conftest import clip_from_planes, graph_nodes, need, planes_of

core = vs.core
INF, NAN = math.inf, math.nan


def wide(fmt_id, width=24, height=16, value=None):
    """A clip whose samples span the whole 16-bit container (or all hold `value`)."""
    fmt = core.get_video_format(fmt_id)
    rng = np.random.default_rng(3)
    shapes = [(height >> (p and fmt.subsampling_h), width >> (p and fmt.subsampling_w)) for p in range(fmt.num_planes)]
    return clip_from_planes([np.full(s, value, np.uint16) if value is not None else
                             rng.integers(0, 65535, s, endpoint=True).astype(np.uint16) for s in shapes], fmt_id)


def at_peak(clip):
    """The same clip with every sample above the depth replaced by the peak."""
    return clip.std.Expr(f"x {(1 << clip.format.bits_per_sample) - 1} min")


def frames(clip):
    return [p.tolist() for p in planes_of(clip.get_frame(0))]


# Each filter must read a sample above the depth as the peak (where it could
# otherwise index past a table or overflow), so both clips give the same frame.
ABOVE_DEPTH = [
    (lambda c: need("ctmf").CTMF(c, radius=4), wide(vs.GRAY10, 16, 16, value=65535)),  # wrote past its histogram
    (lambda c: need("ctmf").CTMF(c, radius=6), wide(vs.YUV420P12)),
    (lambda c: need("eedi2").EEDI2(c, field=1), wide(vs.GRAY10)),  # signed overflow in the edge mask
    (lambda c: need("eedi2").EEDI2(c, field=0, pp=3), wide(vs.YUV444P9)),
    (lambda c: need("fmtc").bitdepth(c, bits=8), wide(vs.GRAY9)),  # error diffusion shifted past 31 bits
]


@pytest.mark.parametrize("make, clip", ABOVE_DEPTH)
def test_samples_above_the_depth_count_as_the_peak(make, clip):
    assert frames(make(clip)) == frames(make(at_peak(clip)))


def test_nan_samples_store_as_zero_in_16_bit():
    nan = clip_from_planes([np.full((16, 16), np.nan, np.float32)], vs.GRAYS)
    assert np.all(planes_of(need("fmtc").resample(nan, w=8, h=8, csp=vs.GRAY16).get_frame(0))[0] == 0)


def test_sigma_of_a_plane_passed_through_is_not_used():
    rgb = core.std.BlankClip(format=vs.RGB30, width=33, height=11, color=[100, 200, 300])
    out = need("tcanny").TCanny(rgb, sigma_v=[3.5e38, 0.0, 0.0], planes=[1])  # built 2^25 taps, k*k overflowed
    assert planes_of(out.get_frame(0))[0].tolist() == planes_of(rgb.get_frame(0))[0].tolist()


YUV = core.std.BlankClip(format=vs.YUV420P8, width=64, height=48)

REFUSED = [
    (lambda: need("fmtc").resample(YUV, sy=-INF), "resample: sy must be a finite number, got -inf"),
    (lambda: need("fmtc").resample(YUV, scale=INF), "resample: scale must be a finite number, got inf"),
    (lambda: need("fmtc").resample(YUV, scale=NAN), "resample: scale must be a finite number, got nan"),
    (lambda: need("fmtc").resample(YUV, scale=1e38), "resample: output size is too large (scale=1e+38)."),
    (lambda: need("fmtc").resample(YUV, sx=[0, 1e300]), "resample: sx must be between -1048576 and 1048576"),
    (lambda: need("fmtc").resample(YUV, fh=1e-300), "resample: resizing ratio too low or kernel support too high"),
    (lambda: need("fmtc").resample(YUV, planes=-1e300, csp=vs.YUV420PS), "fills outside the float range"),
    (lambda: need("fmtc").bitdepth(YUV, bits=10, ampn=NAN), "bitdepth: ampn must be a finite number, got nan"),
    (lambda: need("tcanny").TCanny(YUV, t_h=NAN), "TCanny: t_h must be a finite number, got nan"),
    (lambda: need("tcanny").TCanny(YUV, sigma=[1, INF]), "TCanny: sigma[1] must be a finite number, got inf"),
    (lambda: need("f3kdb").Deband(YUV, random_param_grain=-INF), "Deband: random_param_grain must be a finite"),
    (lambda: need("warp").AWarpSharp2(YUV, blur=2**31 - 1), "AWarpSharp2: blur must be at most 1000, not 2147483647"),
]


@pytest.mark.parametrize("make, message", REFUSED)
def test_absurd_arguments_are_refused(make, message):
    with pytest.raises(vs.Error, match=re.escape(message)):
        make()


GRAY = core.std.BlankClip(format=vs.GRAY8, width=32, height=16)

HELPER_REFUSED = [
    (lambda ctx: ctx.scale(1, 2**63 - 1), ValueError, 'scale: "d" must be at most 65536'),
    (lambda ctx: ctx.scale("x", 8), TypeError, "unsupported operand type(s) for //: 'str' and 'int'"),
    (lambda ctx: ctx.mt_expand_multi(GRAY, sw=100000), ValueError, 'mt_expand_multi: "sw" and "sh" must be at most 48'),
    (lambda ctx: ctx.mt_inflate_multi(GRAY, radius=653802.7), ValueError, 'mt_inflate_multi: "radius" must be at most'),
    (lambda ctx: ctx.mt_deflate_multi(GRAY, radius=INF), ValueError, 'mt_deflate_multi: "radius" must be at most 48'),
    (lambda ctx: ctx.check(GRAY, GRAY), ValueError, "check: the labels need clips of at least 40x48, got 32x16"),
]


@pytest.mark.parametrize("make, error, message", HELPER_REFUSED)
def test_helpers_refuse_what_cannot_make_a_graph(ctx, make, error, message):
    with pytest.raises(error, match=re.escape(message)):
        make(ctx)


def expr_of(clip):
    return graph_nodes(clip, "std", "Expr")[0]._inputs["expr"]


# Ints beyond 64 bits are the host's: exact, and written out in full.
HELPER_TEXTS = [
    (lambda ctx: expr_of(ctx.Max(GRAY, GRAY, mode=2, neutral=2**70)), "y 1180591620717411303424 - abs"),
    (lambda ctx: ctx._limit_filter_expr(False, 200, 1, 200, 2**60), repr(200 * 2**60 / 255)),
    (lambda ctx: ctx._limit_filter_expr(True, 3, 2, 2**62 + 1, 2**62), repr((2**62 + 1) * 2**62 / 255)),
]


@pytest.mark.parametrize("make, text", HELPER_TEXTS)
def test_helpers_keep_big_ints_exact(ctx, make, text):
    assert text in make(ctx)
