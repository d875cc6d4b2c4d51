"""ctmf.CTMF: scipy median oracle with edge replication, core Median, builds, threads, planes, arguments."""

import numpy as np
import pytest
import vapoursynth as vs
from scipy.ndimage import median_filter

from conftest import clip_from_planes, need, planes_of


@pytest.fixture(scope="module")
def ctmf():
    return need("ctmf")


def fmt(family, bits, st=vs.INTEGER, ssw=0, ssh=0):
    return vs.core.query_video_format(family, st, bits, ssw, ssh).id


def random_clip(f, width, height, seed=0, spread=None, length=1):
    fo = vs.core.get_video_format(f)
    rng = np.random.default_rng(seed)
    planes = []
    for p in range(fo.num_planes):
        shape = (height >> (fo.subsampling_h if p else 0), width >> (fo.subsampling_w if p else 0))
        if fo.sample_type == vs.FLOAT:
            planes.append(rng.random(shape, dtype=np.float32))
        else:
            peak = (1 << fo.bits_per_sample) - 1
            lo = 0 if spread is None else int(rng.integers(0, peak - spread))
            hi = peak if spread is None else lo + spread
            planes.append(rng.integers(lo, hi + 1, shape).astype(np.uint8 if peak < 256 else np.uint16))
    return clip_from_planes(planes, f, length=length)


def render(c, n=0):
    return planes_of(c.get_frame(n))


def reference(a, radius):
    return median_filter(a, size=2 * radius + 1, mode="nearest")


def test_signature_is_upstreams(ctmf):
    assert ctmf.CTMF.signature == "clip:vnode;radius:int:opt;memsize:int:opt;planes:int[]:opt;opt:int:opt;"


# A narrow spread makes ties frequent and, at 16 bits, leaves the histogram almost empty.
@pytest.mark.parametrize("f,spread", [(vs.GRAY8, None), (vs.GRAY8, 6), (fmt(vs.GRAY, 10), None),
                                      (fmt(vs.GRAY, 12), 6), (vs.GRAY16, None), (vs.GRAY16, 6), (vs.GRAYS, None)])
@pytest.mark.parametrize("radius", [1, 2, 3, 4, 6])
def test_matches_scipy_nearest(ctmf, f, radius, spread):
    src = random_clip(f, 83, 29, seed=radius, spread=spread)
    np.testing.assert_array_equal(render(src.ctmf.CTMF(radius=radius))[0], reference(render(src)[0], radius))


@pytest.mark.parametrize("f", [vs.GRAY8, vs.GRAY16])
def test_radius1_is_the_core_median_inside(ctmf, f):
    src = random_clip(f, 130, 20, seed=3)
    ours, core = render(src.ctmf.CTMF(radius=1))[0], render(src.std.Median())[0]
    np.testing.assert_array_equal(ours[1:-1, 1:-1], core[1:-1, 1:-1])


@pytest.mark.parametrize("radius", [1, 2, 3, 5])
def test_constant_plane_stays_constant(ctmf, radius):
    src = clip_from_planes([np.full((8, 8), 200, np.uint8)], vs.GRAY8)
    assert (render(src.ctmf.CTMF(radius=radius))[0] == 200).all()   # no dark corners


@pytest.mark.parametrize("width,height", [(1, 1), (1, 7), (17, 1), (2, 3), (5, 2), (16, 3)])
@pytest.mark.parametrize("radius", [1, 2, 4])
def test_tiny_frames(ctmf, width, height, radius):
    src = random_clip(vs.GRAY16, width, height, seed=width + height)
    np.testing.assert_array_equal(render(src.ctmf.CTMF(radius=radius))[0], reference(render(src)[0], radius))


@pytest.mark.parametrize("width,height", [(10, 10), (14, 6), (66, 34)])
def test_odd_420_chroma_and_unprocessed_planes(ctmf, width, height):
    src = random_clip(vs.YUV420P10, width, height, seed=4)
    a = render(src)
    out = render(src.ctmf.CTMF(radius=3))
    for p in range(3):
        np.testing.assert_array_equal(out[p], reference(a[p], 3))
    only_u = render(src.ctmf.CTMF(radius=2, planes=[1]))
    np.testing.assert_array_equal(only_u[1], reference(a[1], 2))
    np.testing.assert_array_equal(only_u[0], a[0])
    np.testing.assert_array_equal(only_u[2], a[2])


def test_opt_memsize_and_threads_do_not_change_output(ctmf):
    src = random_clip(vs.YUV420P16, 200, 40, seed=5, length=4)
    core = vs.core
    old = core.num_threads
    try:
        results = []
        for threads, kwargs in ((1, {}), (4, {}), (4, {"opt": 1}), (4, {"opt": 3, "memsize": 1024})):
            core.num_threads = threads
            results.append([render(src.ctmf.CTMF(radius=r, **kwargs), n) for r in (1, 2, 3, 4) for n in range(4)])
    finally:
        core.num_threads = old
    for other in results[1:]:
        for fa, fb in zip(results[0], other):
            for a, b in zip(fa, fb):
                np.testing.assert_array_equal(a, b)


@pytest.mark.parametrize("kwargs,message", [
    ({"radius": 0}, "radius must be between 1 and 127 (inclusive), got 0"),
    ({"radius": 128}, "radius must be between 1 and 127 (inclusive), got 128"),
    ({"memsize": 1023}, "memsize must be greater than or equal to 1024, got 1023"),
    ({"opt": 5}, "opt must be 0, 1, 2, 3, or 4, got 5"),
    ({"planes": [1]}, "plane index out of range (got 1"),
    ({"planes": [0, 0]}, "plane specified twice"),
])
def test_argument_errors(ctmf, kwargs, message):
    src = random_clip(vs.GRAY8, 8, 8)
    with pytest.raises(vs.Error) as err:
        src.ctmf.CTMF(**kwargs)
    assert "CTMF: " in str(err.value) and message in str(err.value)


def test_half_float_is_refused(ctmf):
    src = random_clip(vs.GRAYS, 8, 8).resize.Point(format=vs.GRAYH)
    with pytest.raises(vs.Error, match="CTMF: only constant format 8-16 bit integer and 32 bit float"):
        src.ctmf.CTMF()
