"""fullaa: the node chain of each kernel and a render of a jagged edge in several formats."""

import numpy as np
import pytest
import vapoursynth as vs
from conftest import clip_from_planes, need, planes_of


def need_kernel(*kernels):
    """Skip unless the plugins of these kernels are there (nnedi3 may come as znedi3)."""
    need("fmtc")
    for k in kernels:
        for ns in {1: ["eedi2"], 2: ["nnedi3"], 3: ["eedi2", "sangnom"]}.get(k, []):
            if not (ns == "nnedi3" and hasattr(vs.core, "znedi3")):
                need(ns)


def luma_chain(out, src):
    """'name WxH' of every node between the luma extraction and the luma result."""
    if src.format.color_family != vs.GRAY:
        assert out._name == "ShufflePlanes" and out._inputs["planes"] == [0, 1, 2]
        assert out._inputs["colorfamily"] == src.format.color_family and out._inputs["clips"][1] == src
        out = out._inputs["clips"][0]
    steps = []
    while out != src and not (out._name == "ShufflePlanes" and out.dependencies[0] == src):
        steps.append(f"{out._name} {out.width}x{out.height}")
        out = out.dependencies[0]
    return steps[::-1]


K1 = ["EEDI2 1920x2160", "resample 1920x1080", "Transpose 1080x1920",
      "EEDI2 1080x3840", "resample 1080x1920", "Transpose 1920x1080"]
K2_ODD = ["resample 1535x863",
          "Transpose 863x1535", "bitdepth 863x1535", "nnedi3 863x3070", "resample 863x1535",
          "Transpose 1535x863", "bitdepth 1535x863", "nnedi3 1535x1726", "resample 1535x863",
          "resample 1919x1079"]
K3 = ["resample 1536x864", "Transpose 864x1536", "EEDI2 864x3072", "Transpose 3072x864", "EEDI2 3072x1728",
      "resample 3072x1728", "Transpose 1728x3072", "bitdepth 1728x3072", "SangNom 1728x3072",
      "Transpose 3072x1728", "SangNom 3072x1728", "resample 1920x1080"]


@pytest.mark.parametrize("fmt, size, kernel, cycle, chain", [
    (vs.YUV420P16, (1920, 1080), 1, 1, K1),
    (vs.YUV420P16, (1920, 1080), 1, 2, K1 + K1),
    (vs.YUV420P16, (1920, 1080), 1, 0, []),
    (vs.GRAY16, (1919, 1079), 2, 1, K2_ODD),
    (vs.GRAY16, (1919, 1079), 2.0, 2, K2_ODD[:-1] + K2_ODD[1:]),  # kernels compare by equality
    (vs.YUV420P16, (1920, 1080), 2, 0, ["resample 1536x864", "resample 1920x1080"]),
    (vs.YUV420P16, (1920, 1080), 3, 1, K3),
    (vs.YUV420P16, (1920, 1080), 3, 0, K3),
    (vs.GRAY16, (1920, 1080), 3, 5, K3),
    (vs.YUV420P16, (1920, 1080), 4, 1, []),
    (vs.GRAY16, (1920, 1080), 4, 1, []),
])
def test_node_chain(ctx, core, fmt, size, kernel, cycle, chain):
    need_kernel(kernel)
    src = core.std.BlankClip(format=fmt, width=size[0], height=size[1], length=1)
    out = ctx.fullaa(src, kernel, cycle)
    assert out.format.id == src.format.id and (out.width, out.height) == size
    assert luma_chain(out, src) == chain
    if fmt == vs.GRAY16 and not chain:
        assert out == src


def test_resampler_and_nnedi3_arguments(ctx, core):
    need_kernel(1, 2, 3)
    src = core.std.BlankClip(format=vs.GRAY16, width=64, height=48, length=1)

    def calls(kernel):
        out, found = ctx.fullaa(src, kernel), []
        while out != src:
            if out._name in ("resample", "nnedi3"):
                found.append({k: v for k, v in out._inputs.items() if k != "clip"})
            out = out.dependencies[0]
        return found[::-1]

    assert calls(1) == [dict(w=64, h=48, sx=0.0, sy=-0.5), dict(w=48, h=64, sx=0.0, sy=-0.5)]
    nn = dict(field=1, dh=1, pscrn=2, qual=2, nsize=3, nns=2)
    assert calls(2) == [dict(w=51, h=38), nn, dict(w=38, h=51, sy=-0.5), nn, dict(w=51, h=38, sy=-0.5),
                        dict(w=64, h=48)]
    assert calls(3) == [dict(w=51, h=38), dict(w=102, h=76, sx=-0.5, sy=-0.5), dict(w=64, h=48)]


# A staircase edge (slope 1/5) between two flat areas.
YY, XX = np.mgrid[0:120, 0:160]
EDGE = YY > 30 + XX / 5.0
FAR = np.abs(YY - (30 + XX / 5.0)) > 12


def jaggedness(luma, lo, hi):
    """Mean distance of the per-column edge position from its straight-line fit."""
    pos = ((luma[:, 20:140].astype(float) - lo) / (hi - lo)).sum(axis=0)
    c = np.arange(pos.size)
    return np.abs(pos - np.polyval(np.polyfit(c, pos, 1), c)).mean()


@pytest.mark.parametrize("fmt", [vs.YUV420P16, vs.YUV420P8, vs.YUV444PS])
@pytest.mark.parametrize("kernel, gain", [(1, 0.3), (2, 0.75), (3, 0.3)])
def test_jagged_edge_gets_smoother(ctx, core, fmt, kernel, gain):
    need_kernel(kernel)
    f = core.get_video_format(fmt)
    if f.sample_type == vs.FLOAT:
        step, peak, dtype = 1 / 219, 1.0, np.float32
    else:
        step, peak = 1 << (f.bits_per_sample - 8), (1 << f.bits_per_sample) - 1
        dtype = np.uint8 if f.bits_per_sample == 8 else np.uint16
    lo, hi = 64 * step, 192 * step
    rng = np.random.default_rng(1)
    planes = [np.where(EDGE, hi, lo).astype(dtype)]
    planes += [(rng.random((120 >> f.subsampling_h, 160 >> f.subsampling_w)) * peak).astype(dtype) for _ in (1, 2)]
    res = ctx.fullaa(clip_from_planes(planes, fmt), kernel)
    assert res.format.id == fmt
    out = planes_of(res.get_frame(0))
    assert jaggedness(out[0], lo, hi) < gain * jaggedness(planes[0], lo, hi)
    assert np.abs(out[0].astype(float) - planes[0])[FAR].max() <= 0.25 * step
    for got, want in zip(out[1:], planes[1:]):
        np.testing.assert_array_equal(got, want)
