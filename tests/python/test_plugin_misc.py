"""misc.Hysteresis: scipy labelling oracle, connectivity, values, planes, tiny frames, arguments."""

import numpy as np
import pytest
import vapoursynth as vs
from scipy import ndimage

from conftest import clip_from_planes, need, planes_of


@pytest.fixture(scope="module")
def misc():
    return need("misc")


def fmt(family, bits, st=vs.INTEGER, ssw=0, ssh=0):
    return vs.core.query_video_format(family, st, bits, ssw, ssh).id


def dtype_of(f):
    fo = vs.core.get_video_format(f)
    return np.float32 if fo.sample_type == vs.FLOAT else (np.uint8 if fo.bytes_per_sample == 1 else np.uint16)


def clip(f, *planes, length=1):
    return clip_from_planes([np.asarray(p).astype(dtype_of(f)) for p in planes], f, length=length)


def render(c, n=0):
    return planes_of(c.get_frame(n))


def expected(a, b, peak):
    """Regions of b > 0 (8-connected) that contain a pixel with a > 0 and b > 0."""
    labels, _ = ndimage.label(b > 0, structure=np.ones((3, 3)))
    seeds = np.unique(labels[(a > 0) & (b > 0)])
    keep = np.isin(labels, seeds[seeds > 0])
    return np.where(keep, peak, 0)


def test_signature_is_upstreams(misc):
    assert misc.Hysteresis.signature == "clipa:vnode;clipb:vnode;planes:int[]:opt;"


@pytest.mark.parametrize("f,peak", [(vs.GRAY8, 255), (fmt(vs.GRAY, 10), 1023), (vs.GRAY16, 65535),
                                    (vs.GRAYS, 1.0)])
@pytest.mark.parametrize("density", [0.35, 0.6])
def test_matches_scipy_labelling(misc, f, peak, density):
    rng = np.random.default_rng(int(density * 100))
    h, w = 47, 83
    b = (rng.random((h, w)) < density) * rng.integers(1, 200, (h, w))
    a = (rng.random((h, w)) < 0.01) * rng.integers(1, 200, (h, w))
    out = render(clip(f, a).misc.Hysteresis(clip(f, b)))[0]
    np.testing.assert_array_equal(out, expected(a, b, peak).astype(out.dtype))


def test_seeds_need_both_clips_and_regions_stay_apart(misc):
    b = np.zeros((6, 10), int)
    b[1:3, 1:3] = 9          # blob 1
    b[1:3, 6:9] = 9          # blob 2
    a = np.zeros_like(b)
    a[2, 2] = 1              # inside blob 1
    a[5, 5] = 1              # where b is off: seeds nothing
    out = render(clip(vs.GRAY8, a).misc.Hysteresis(clip(vs.GRAY8, b)))[0]
    assert (out[1:3, 1:3] == 255).all()
    assert out.sum() == 4 * 255


def test_diagonal_neighbours_connect_but_rows_do_not_wrap(misc):
    b = np.zeros((6, 6), int)
    for i in range(4):
        b[i, i] = 1
    b[4, 5] = 1              # end of row 4 ...
    b[5, 0] = 1              # ... is not next to the start of row 5
    a = np.zeros_like(b)
    a[0, 0] = a[4, 5] = 1
    out = render(clip(vs.GRAY8, a).misc.Hysteresis(clip(vs.GRAY8, b)))[0]
    assert [out[i, i] for i in range(4)] == [255] * 4
    assert out[4, 5] == 255 and out[5, 0] == 0


def test_float_on_means_strictly_positive(misc):
    b = np.array([[0.001, -0.5, 0.0, 0.25]], np.float32)
    a = np.array([[1.0, 1.0, 1.0, 0.0]], np.float32)
    out = render(clip(vs.GRAYS, a).misc.Hysteresis(clip(vs.GRAYS, b)))[0]
    np.testing.assert_array_equal(out, [[1.0, 0.0, 0.0, 0.0]])


def test_planes_are_independent_and_unlisted_planes_come_from_clipa(misc):
    rng = np.random.default_rng(5)
    b = (rng.random((20, 30)) < 0.5).astype(int)
    a = (rng.random((20, 30)) < 0.05).astype(int)
    ca, cb = clip(vs.YUV444P8, a, a, a), clip(vs.YUV444P8, b, b, b)
    want = expected(a, b, 255)
    for p in render(ca.misc.Hysteresis(cb)):   # every plane gets the full result
        np.testing.assert_array_equal(p, want)
    out = render(ca.misc.Hysteresis(cb, planes=[1]))
    np.testing.assert_array_equal(out[1], want)
    np.testing.assert_array_equal(out[0], a)
    np.testing.assert_array_equal(out[2], a)
    # indices are checked against 3: plane 1 of a GRAY clip is accepted and changes nothing
    g = clip(vs.GRAY8, a)
    np.testing.assert_array_equal(render(g.misc.Hysteresis(clip(vs.GRAY8, b), planes=[1]))[0], a)


@pytest.mark.parametrize("width,height", [(1, 1), (1, 5), (17, 1), (2, 3), (13, 2)])
def test_tiny_frames(misc, width, height):
    rng = np.random.default_rng(width * 10 + height)
    b = (rng.random((height, width)) < 0.7).astype(int)
    a = (rng.random((height, width)) < 0.3).astype(int)
    out = render(clip(vs.GRAY8, a).misc.Hysteresis(clip(vs.GRAY8, b)))[0]
    np.testing.assert_array_equal(out, expected(a, b, 255))


def test_odd_420_chroma_and_threads(misc):
    rng = np.random.default_rng(8)
    shapes = [(18, 26), (9, 13), (9, 13)]
    bs = [(rng.random(s) < 0.55).astype(int) for s in shapes]
    as_ = [(rng.random(s) < 0.05).astype(int) for s in shapes]
    ca, cb = clip(vs.YUV420P8, *as_, length=4), clip(vs.YUV420P8, *bs, length=4)
    core = vs.core
    old = core.num_threads
    try:
        results = []
        for t in (1, 4):
            core.num_threads = t
            results.append([render(ca.misc.Hysteresis(cb), n) for n in range(4)])
    finally:
        core.num_threads = old
    for n in range(4):
        for p in range(3):
            np.testing.assert_array_equal(results[0][n][p], expected(as_[p], bs[p], 255))
            np.testing.assert_array_equal(results[1][n][p], results[0][n][p])


@pytest.mark.parametrize("make,message", [
    (lambda a: a.misc.Hysteresis(a.resize.Point(format=vs.GRAY16)), "same dimensions and the same format"),
    (lambda a: a.misc.Hysteresis(a.resize.Point(width=8)), "same dimensions and the same format"),
    (lambda a: a.resize.Point(format=vs.GRAYH).misc.Hysteresis(a.resize.Point(format=vs.GRAYH)),
     "only constant format 8-16 bits integer and 32 bits float"),
    (lambda a: a.misc.Hysteresis(a, planes=[3]), "plane index out of range (got 3"),
    (lambda a: a.misc.Hysteresis(a, planes=[0, 0]), "plane specified twice"),
])
def test_argument_errors(misc, make, message):
    a = clip(vs.GRAY8, np.zeros((4, 6)))
    with pytest.raises(vs.Error) as err:
        make(a)
    assert "Hysteresis: " in str(err.value) and message in str(err.value)


def test_output_length_is_clipas(misc):
    a = clip(vs.GRAY8, np.ones((4, 6)), length=2)
    b = clip(vs.GRAY8, np.ones((4, 6)), length=5)
    assert a.misc.Hysteresis(b).num_frames == 2
