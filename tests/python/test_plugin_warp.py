"""warp.AWarpSharp2: behaviour on hand-worked frames, plane handling and argument checks."""

import re

import numpy as np
import pytest
import vapoursynth as vs

from conftest import clip_from_planes, need, planes_of

RAMP32 = np.array([0] * 14 + [51, 102, 153, 204] + [255] * 14)


@pytest.fixture(scope="module")
def warp():
    return need("warp")


def run(clip, **kw):
    return planes_of(vs.core.warp.AWarpSharp2(clip, **kw).get_frame(0))


def random_planes(fmt, width, height, seed, smooth=False):
    f = vs.core.get_video_format(fmt)
    rng = np.random.default_rng(seed)
    peak = (1 << f.bits_per_sample) - 1
    dtype = np.uint8 if f.bytes_per_sample == 1 else np.uint16
    out = []
    for p in range(f.num_planes):
        w = width >> (f.subsampling_w if p else 0)
        h = height >> (f.subsampling_h if p else 0)
        if smooth:  # small row-to-row steps
            a = np.cumsum(rng.integers(-2, 3, size=(h, w)), axis=0) + peak // 2
        else:
            a = rng.integers(0, peak + 1, size=(h, w))
        out.append(np.clip(a, 0, peak).astype(dtype))
    return out


def ramp_clip(fmt=vs.GRAY8, scale=1, width=32):
    row = RAMP32 if width == 32 else np.array([0] * 10 + [51, 102, 153, 204] + [255] * 10)
    dtype = np.uint8 if scale == 1 else np.uint16
    return clip_from_planes([np.tile(row * scale, (len(row), 1)).astype(dtype)], fmt)


@pytest.mark.parametrize("fmt", [vs.GRAY8, vs.YUV420P8, vs.YUV422P10, vs.YUV440P8, vs.YUV444P16])
@pytest.mark.parametrize("kw", [{}, {"type": 1}, {"chroma": 1, "depth": -128}, {"cplace": "mpeg2", "blur": 5}])
def test_flat_frame_unchanged(warp, fmt, kw):
    f = vs.core.get_video_format(fmt)
    peak = (1 << f.bits_per_sample) - 1
    color = [peak // 3] + [peak // 5, peak - 7][: f.num_planes - 1]
    clip = vs.core.std.BlankClip(width=48, height=40, format=fmt, color=color, length=1)
    for got, want in zip(run(clip, **kw), planes_of(clip.get_frame(0))):
        np.testing.assert_array_equal(got, want)


# Columns of a vertical soft edge, worked out by hand from the mask, blur and
# warp rules; every row of the output must equal them.
@pytest.mark.parametrize(
    "fmt, scale, width, kw, cols, expect",
    [
        (vs.GRAY8, 1, 32, {}, slice(10, 22), [0, 0, 0, 0, 10, 83, 172, 245, 255, 255, 255, 255]),
        (vs.GRAY8, 1, 32, {"type": 1}, slice(10, 22), [0, 0, 0, 0, 0, 61, 194, 255, 255, 255, 255, 255]),
        # the raw mask is a flat plateau over the ramp: nothing on the ramp moves
        (vs.GRAY8, 1, 32, {"blur": 0}, slice(10, 22), [0, 0, 0, 0, 51, 102, 153, 204, 255, 255, 255, 255]),
        (vs.GRAY10, 4, 32, {}, slice(10, 22), [0, 0, 0, 0, 26, 332, 676, 982, 1020, 1020, 1020, 1020]),
        (vs.GRAY8, 1, 24, {"depth": -16}, slice(6, 18), [0, 0, 45, 83, 89, 118, 137, 166, 172, 210, 255, 255]),
    ],
)
def test_soft_edge_profiles(warp, fmt, scale, width, kw, cols, expect):
    out = run(ramp_clip(fmt, scale, width), **kw)[0]
    assert (out == out[0]).all()
    assert out[0, cols].tolist() == expect


def rise_10_90(row):
    """Samples between the 10 % and 90 % crossings of a rising edge (linear interpolation)."""
    lo, hi = row.min(), row.max()

    def cross(level):
        i = int(np.argmax(row >= level))
        return i - 1 + (level - row[i - 1]) / (row[i] - row[i - 1])

    return cross(lo + 0.9 * (hi - lo)) - cross(lo + 0.1 * (hi - lo))


@pytest.mark.parametrize(
    "fmt, kw, gain",
    [
        (vs.YUV420P8, {}, 1.0),
        (vs.YUV420P16, {}, 1.0),
        (vs.YUV420P8, {"type": 1}, 1.0),
        (vs.YUV420P16, {"thresh": 56, "depth": 8}, 0.1),
        (vs.GRAY8, {"depth": 40}, 2.0),
        (vs.GRAY8, {"depth": -16}, -0.5),  # negative depth softens: the rise must get longer
    ],
)
def test_soft_edge_rise(warp, fmt, kw, gain):
    f = vs.core.get_video_format(fmt)
    peak = (1 << f.bits_per_sample) - 1
    w, h = 96, 32
    x = np.arange(w, dtype=np.float64)
    edge = 0.15 + 0.7 / (1 + np.exp(-(x - 47.5) / 1.5))  # 10-90 % rise of about 6.7 samples
    dtype = np.uint8 if f.bytes_per_sample == 1 else np.uint16
    luma = np.tile(np.round(edge * peak), (h, 1)).astype(dtype)
    planes = [luma] + [np.full((h // 2, w // 2), peak // 2, dtype)] * (f.num_planes - 1)
    out = run(clip_from_planes(planes, fmt), **kw)[0].astype(np.float64)
    shorter_by = rise_10_90(luma[h // 2].astype(np.float64)) - rise_10_90(out[h // 2])
    assert shorter_by > gain if gain > 0 else shorter_by < gain
    # the plateaus either side keep their level
    assert out[:, :8].tolist() == luma[:, :8].tolist() and out[:, -8:].tolist() == luma[:, -8:].tolist()


U16 = np.array([16] * 7 + [80, 144] + [208] * 7)


@pytest.mark.parametrize(
    "kw, u_row, v_row",
    [
        ({"chroma": 0, "cplace": "mpeg1"}, [42, 182], [213, 73]),
        ({"chroma": 0, "cplace": "mpeg2"}, [22, 164], [233, 91]),
        ({"chroma": 1}, [64, 160], [191, 95]),
    ],
)
def test_chroma_paths(warp, kw, u_row, v_row):
    u = np.tile(U16, (16, 1)).astype(np.uint8)
    y = np.tile(RAMP32, (32, 1)).astype(np.uint8)
    clip = clip_from_planes([y, u, 255 - u], vs.YUV420P8)
    _, out_u, out_v = run(clip, **kw)
    assert (out_u == out_u[0]).all() and (out_v == out_v[0]).all()
    assert out_u[0].tolist() == [16] * 7 + u_row + [208] * 7
    assert out_v[0].tolist() == [239] * 7 + v_row + [47] * 7


@pytest.mark.parametrize("fmt", [vs.GRAY8, vs.YUV420P8, vs.YUV444P16])
@pytest.mark.parametrize("kw", [{"depth": 0}, {"depth": [0, 0, 0], "chroma": 1}, {"thresh": 0, "type": 1}])
def test_no_displacement_is_identity(warp, fmt, kw):
    # depth 0 moves nothing; thresh 0 gives an all-zero mask, which moves nothing either
    planes = random_planes(fmt, 40, 36, seed=3)
    for got, want in zip(run(clip_from_planes(planes, fmt), **kw), planes):
        np.testing.assert_array_equal(got, want)


@pytest.mark.parametrize("fmt, peak", [(vs.GRAY8, 255), (vs.GRAY16, 65535)])
def test_bottom_row_not_pulled_up(warp, fmt, peak):
    # The original forces a 1/128 shift towards the row above on the last row
    # (giving 253 / 65023 here); with a zero mask we leave every row alone.
    a = np.zeros((20, 24), np.uint8 if peak == 255 else np.uint16)
    a[-1] = peak
    np.testing.assert_array_equal(run(clip_from_planes([a], fmt), thresh=0)[0], a)


def test_planes_not_processed_pass_through(warp):
    fmt = vs.YUV420P8
    planes = random_planes(fmt, 64, 48, seed=5, smooth=True)
    clip = clip_from_planes(planes, fmt)
    full = run(clip)
    assert not np.array_equal(full[0], planes[0]) and not np.array_equal(full[1], planes[1])

    luma_only = run(clip, planes=[0])
    np.testing.assert_array_equal(luma_only[0], full[0])
    np.testing.assert_array_equal(luma_only[1], planes[1])
    np.testing.assert_array_equal(luma_only[2], planes[2])

    chroma_only = run(clip, planes=[1, 2], chroma=0)
    np.testing.assert_array_equal(chroma_only[0], planes[0])
    np.testing.assert_array_equal(chroma_only[1], full[1])
    np.testing.assert_array_equal(chroma_only[2], full[2])

    v_only = run(clip, planes=2, chroma=1)
    np.testing.assert_array_equal(v_only[1], planes[1])
    np.testing.assert_array_equal(v_only[2], run(clip, chroma=1)[2])


def test_positional_arguments(warp):
    planes = random_planes(vs.YUV420P8, 64, 48, seed=7, smooth=True)
    clip = clip_from_planes(planes, vs.YUV420P8)
    positional = planes_of(vs.core.warp.AWarpSharp2(clip, 64, 2, 1, 8).get_frame(0))
    keyword = run(clip, thresh=64, blur=2, type=1, depth=8)
    for a, b in zip(positional, keyword):
        np.testing.assert_array_equal(a, b)
    # chroma depth defaults to half of luma's, truncated toward zero
    for a, b in zip(run(clip, depth=-7), run(clip, depth=[-7, -3, -3])):
        np.testing.assert_array_equal(a, b)


def test_format_and_props_kept(warp):
    clip = vs.core.std.BlankClip(width=64, height=48, format=vs.YUV422P10, length=3)
    clip = clip.std.SetFrameProps(_Matrix=1, tag=5)
    out = vs.core.warp.AWarpSharp2(clip)
    assert (out.format.id, out.width, out.height, out.num_frames) == (clip.format.id, 64, 48, 3)
    props = out.get_frame(1).props
    assert props["_Matrix"] == 1 and props["tag"] == 5


def test_thread_count_does_not_change_output(warp):
    fmt = vs.YUV420P16
    frames = [random_planes(fmt, 96, 64, seed=s, smooth=s % 2 == 0) for s in range(8)]
    blank = vs.core.std.BlankClip(width=96, height=64, format=fmt, length=len(frames), keep=True)

    def fill(n, f):
        out = f.copy()
        for p, arr in enumerate(frames[n]):
            np.copyto(np.asarray(out[p]), arr)
        return out

    src = blank.std.ModifyFrame(blank, fill)
    old = vs.core.num_threads
    results = []
    try:
        for threads in (1, 4):
            vs.core.num_threads = threads
            out = vs.core.warp.AWarpSharp2(src, chroma=1, type=1)
            results.append([planes_of(f) for f in out.frames()])
    finally:
        vs.core.num_threads = old
    for a, b in zip(*results):
        for pa, pb in zip(a, b):
            np.testing.assert_array_equal(pa, pb)


YUV = dict(width=32, height=32, format=vs.YUV420P8)


@pytest.mark.parametrize(
    "clip_kw, kw, message",
    [
        (YUV, {"thresh": 256}, "thresh must be between 0 and 255 (inclusive), not 256"),
        (YUV, {"thresh": -1}, "thresh must be between 0 and 255 (inclusive), not -1"),
        (YUV, {"blur": -1}, "blur must be at least 0, not -1"),
        (YUV, {"type": 2}, "type must be 0 or 1, not 2"),
        (YUV, {"depth": [0, 200]}, "depth must be between -128 and 127 (inclusive), not 200"),
        (YUV, {"depth": [16, 8, -129]}, "depth must be between -128 and 127 (inclusive), not -129"),
        (YUV, {"chroma": 2}, "chroma must be 0 or 1, not 2"),
        (YUV, {"cplace": "MPEG2"}, "cplace must be either 'mpeg1' or 'mpeg2', not 'MPEG2'"),
        (YUV, {"planes": 3}, "plane index 3 is out of range"),
        (YUV, {"planes": [0, 0]}, "plane 0 is specified twice"),
        (dict(width=32, height=32, format=vs.GRAY8), {"planes": 1}, "plane index 1 is out of range"),
        (dict(width=32, height=32, format=vs.YUV420PS), {}, "8..16 bit integer, not RGB clips"),
        (dict(width=32, height=32, format=vs.RGB24), {}, "8..16 bit integer, not RGB clips"),
        (dict(width=32, height=32, format=vs.YUV411P8), {},
         "the chroma subsampling ratio cannot be greater than 2, not YUV411P8"),
        # parameter errors are reported before the clip is looked at
        (dict(width=32, height=32, format=vs.RGB24), {"thresh": 256}, "thresh must be between"),
        (dict(width=32, height=32, format=vs.RGB24), {"cplace": "x", "thresh": 256}, "cplace must be"),
        # planes too small for the mask or blur windows
        (dict(width=11, height=40, format=vs.GRAY8), {},
         "plane 0 is 11x40, but blur type 0 needs planes of at least 12x12"),
        (dict(width=2, height=40, format=vs.GRAY8), {"blur": 0},
         "plane 0 is 2x40, but the edge mask needs planes of at least 3x3"),
        (dict(width=40, height=20, format=vs.YUV420P8), {"chroma": 1}, "plane 1 is 20x10, but blur type 0"),
        (dict(width=40, height=4, format=vs.YUV420P8), {"type": 1, "chroma": 1}, "plane 1 is 20x2, but the edge mask"),
    ],
)
def test_argument_errors(warp, clip_kw, kw, message):
    clip = vs.core.std.BlankClip(**clip_kw, length=1)
    with pytest.raises(vs.Error, match="^AWarpSharp2: " + re.escape(message)):
        vs.core.warp.AWarpSharp2(clip, **kw)


@pytest.mark.parametrize(
    "clip_kw, kw",
    [
        (dict(width=11, height=11, format=vs.GRAY8), {"type": 1}),  # 5-tap blur clamps at the edges
        (dict(width=11, height=11, format=vs.GRAY8), {"blur": 0}),
        (dict(width=40, height=20, format=vs.YUV420P8), {"chroma": 1, "blur": 0}),
        (dict(width=40, height=20, format=vs.YUV420P8), {"chroma": 0}),  # chroma uses the luma mask
        (dict(width=12, height=12, format=vs.GRAY8), {}),
    ],
)
def test_small_frames_accepted(warp, clip_kw, kw):
    planes = vs.core.get_video_format(clip_kw["format"]).num_planes
    clip = vs.core.std.BlankClip(**clip_kw, length=1, color=[100] * planes)
    for got, want in zip(run(clip, **kw), planes_of(clip.get_frame(0))):
        np.testing.assert_array_equal(got, want)


def test_variable_format_refused(warp):
    a = vs.core.std.BlankClip(width=32, height=32, format=vs.YUV420P8, length=1)
    b = vs.core.std.BlankClip(width=32, height=32, format=vs.GRAY8, length=1)
    with pytest.raises(vs.Error, match="^AWarpSharp2: 8..16 bit integer.*variable format"):
        vs.core.warp.AWarpSharp2(vs.core.std.Splice([a, b], mismatch=True))


@pytest.mark.parametrize("fmt", [vs.YUV420P8, vs.YUV444P10, vs.GRAY16])
def test_opt_paths_identical(warp, fmt):
    # opt=False forces the scalar warp; the SIMD one must match it exactly
    planes = random_planes(fmt, 134, 70, seed=11)  # not a multiple of 8 or 16
    clip = clip_from_planes(planes, fmt)
    for kw in ({"depth": 127, "blur": 0}, {"depth": -128, "type": 1, "chroma": 1}):
        for a, b in zip(run(clip, opt=True, **kw), run(clip, opt=False, **kw)):
            np.testing.assert_array_equal(a, b)
