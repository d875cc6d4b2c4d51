"""eedi2.EEDI2: geometry, kept rows, line-doubling limits, directions, errors, threading."""

import numpy as np
import pytest
import vapoursynth as vs
from conftest import clip_from_planes, need, planes_of


@pytest.fixture(scope="module")
def eedi2():
    return need("eedi2")


def vavg(a, b):
    return (a.astype(np.int64) + b + 1) >> 1


def random_planes(fmt, width, height, seed=0):
    f = vs.core.get_video_format(fmt)
    rng = np.random.default_rng(seed)
    peak = (1 << f.bits_per_sample) - 1
    dtype = np.uint8 if f.bytes_per_sample == 1 else np.uint16
    shapes = [(height, width)] + [(height >> f.subsampling_h, width >> f.subsampling_w)] * (f.num_planes - 1)
    return [rng.integers(0, peak + 1, s).astype(dtype) for s in shapes]


def textured(height, width, bits, seed=3):
    """Smooth shapes with diagonal edges plus a little noise, so edges and directions are found."""
    yy, xx = np.mgrid[0:height, 0:width].astype(np.float64)
    rng = np.random.default_rng(seed)
    v = 0.5 + 0.3 * np.sin((xx + 1.7 * yy) / 6.0) * np.cos((xx - 0.6 * yy) / 9.0)
    v += 0.35 * ((xx + 2 * yy) % 40 < 20) - 0.1 * ((2 * xx - yy) % 50 < 10)
    v = np.clip(v + rng.normal(0, 0.01, v.shape), 0, 1)
    peak = (1 << bits) - 1
    return np.round(v * peak).astype(np.uint8 if bits == 8 else np.uint16)


def render(clip, n=0):
    return planes_of(clip.get_frame(n))


FORMATS = [vs.GRAY8, vs.GRAY10, vs.GRAY16, vs.YUV420P8, vs.YUV444P16, vs.YUV422P10]


@pytest.mark.parametrize("fmt", FORMATS)
@pytest.mark.parametrize("field", [0, 1])
def test_geometry_and_kept_rows(eedi2, fmt, field):
    src = random_planes(fmt, 40, 24, seed=field)
    clip = clip_from_planes(src, fmt, length=3)
    clip = clip.std.SetFrameProps(_FieldBased=2, _SARNum=4, _SARDen=3, custom=7)
    out = eedi2.EEDI2(clip, field=field)
    assert (out.width, out.height, out.num_frames, out.fps) == (40, 48, 3, clip.fps)
    assert out.format.id == clip.format.id
    frame = out.get_frame(1)
    props = dict(frame.props)
    assert props == dict(clip.get_frame(1).props)
    for s, o in zip(src, planes_of(frame)):
        assert o.shape == (2 * s.shape[0], s.shape[1])
        if field == 1:
            np.testing.assert_array_equal(o[0::2], s)
            np.testing.assert_array_equal(o[-1], s[-1])
        else:
            np.testing.assert_array_equal(o[1::2], s)
            np.testing.assert_array_equal(o[0], s[0])
        # columns 0 and W-1 of interpolated rows never get a direction
        inner = o[2 - field : 2 * s.shape[0] - 1 : 2]
        expect = vavg(s[:-1], s[1:])
        np.testing.assert_array_equal(inner[:, [0, -1]], expect[:, [0, -1]])


def test_alternating_fields(eedi2):
    frames = [random_planes(vs.GRAY8, 32, 16, seed=s) for s in range(2)]
    blank = vs.core.std.BlankClip(width=32, height=16, format=vs.GRAY8, length=2, keep=True)

    def fill(n, f):
        out = f.copy()
        np.copyto(np.asarray(out[0]), frames[n][0])
        return out

    clip = blank.std.ModifyFrame(blank, fill)
    by_field = {f: [render(eedi2.EEDI2(clip, field=f), n)[0] for n in range(2)] for f in range(4)}
    np.testing.assert_array_equal(by_field[2][0], by_field[0][0])
    np.testing.assert_array_equal(by_field[2][1], by_field[1][1])
    np.testing.assert_array_equal(by_field[3][0], by_field[1][0])
    np.testing.assert_array_equal(by_field[3][1], by_field[0][1])


@pytest.mark.parametrize("fmt", [vs.GRAY8, vs.GRAY12, vs.GRAY16, vs.YUV420P8])
@pytest.mark.parametrize("field", [0, 1])
@pytest.mark.parametrize("pp", [0, 1, 2, 3])
def test_nt0_is_line_doubling(eedi2, fmt, field, pp):
    src = random_planes(fmt, 48, 30, seed=pp)
    out = render(eedi2.EEDI2(clip_from_planes(src, fmt), field=field, nt=0, pp=pp))
    for s, o in zip(src, out):
        h = s.shape[0]
        np.testing.assert_array_equal(o[2 - field : 2 * h - 1 : 2], vavg(s[:-1], s[1:]))


@pytest.mark.parametrize("fmt", [vs.GRAY8, vs.GRAY16])
@pytest.mark.parametrize("value", ["zero", "mid", "peak"])
def test_flat_stays_flat(eedi2, fmt, value):
    peak = (1 << vs.core.get_video_format(fmt).bits_per_sample) - 1
    c = {"zero": 0, "mid": peak // 2 + 1, "peak": peak}[value]
    clip = vs.core.std.BlankClip(width=64, height=20, format=fmt, color=c)
    for pp in (1, 3):
        (o,) = render(eedi2.EEDI2(clip, field=1, pp=pp))
        assert o.shape == (40, 64) and np.all(o == c)


@pytest.mark.parametrize("bits", [8, 16])
def test_inputs_without_edges_give_vertical_average(eedi2, bits):
    peak = (1 << bits) - 1
    dtype = np.uint8 if bits == 8 else np.uint16
    fmt = vs.GRAY8 if bits == 8 else vs.GRAY16
    # a horizontal ramp and vertical stripes: vertically flat, so no edges at all
    ramp = np.tile(np.linspace(0, peak, 70).round().astype(dtype), (25, 1))
    stripes = np.tile(np.where(np.arange(70) % 6 < 3, peak, 0).astype(dtype), (25, 1))
    for img in (ramp, stripes):
        (o,) = render(eedi2.EEDI2(clip_from_planes([img], fmt), field=1, pp=3))
        np.testing.assert_array_equal(o[1:-1:2], vavg(img[:-1], img[1:]))


def test_row_constant_input_interior_is_vertical_average(eedi2):
    rng = np.random.default_rng(5)
    img = np.repeat(rng.integers(0, 256, (30, 1)), 60, axis=1).astype(np.uint8)
    (o,) = render(eedi2.EEDI2(clip_from_planes([img], vs.GRAY8), field=1))
    np.testing.assert_array_equal(o[1:-1:2, 5:-5], vavg(img[:-1], img[1:])[:, 5:-5])


def step_edge(height, width, slope):
    """0/255 step; row y is 255 from column x0 - slope*y on."""
    yy, xx = np.mgrid[0:height, 0:width]
    x0 = width // 2 + slope * height // 2
    return np.where(xx >= x0 - slope * yy, 255, 0).astype(np.uint8), x0


def test_diagonal_edge_follows_its_direction(eedi2):
    img, x0 = step_edge(24, 80, 2)  # moves 2 px left per row
    (o,) = render(eedi2.EEDI2(clip_from_planes([img], vs.GRAY8), field=1))
    plain = vavg(img[:-1], img[1:])
    for i in range(4, 19):
        row, edge = o[2 * i + 1], x0 - 2 * i - 1
        # a clean step halfway between the two source edges
        np.testing.assert_array_equal(row[edge - 6 : edge + 6], [0] * 6 + [255] * 6)
        assert np.count_nonzero((plain[i] > 0) & (plain[i] < 255)) == 2
    # the mirrored edge: the half-pixel taps truncate toward zero, which gives 64/191 here
    mirrored = 255 - img[:, ::-1]  # 0 on the left, moving 2 px right per row
    (m,) = render(eedi2.EEDI2(clip_from_planes([mirrored], vs.GRAY8), field=1))
    for i in range(4, 19):
        row = m[2 * i + 1]
        first = int(np.argmax(row > 0))
        np.testing.assert_array_equal(row[first - 2 : first + 4], [0, 0, 64, 191, 255, 255])


def test_smooth_diagonal_closer_to_truth_than_vertical_average(eedi2):
    # a soft diagonal edge sampled at double height: the true odd rows are known
    full = 2 * 40
    yy, xx = np.mgrid[0:full, 0:96].astype(np.float64)
    truth = np.round(255 / (1 + np.exp(-(xx + 1.5 * yy / 2 - 70) / 1.2)))
    img = truth[0::2].astype(np.uint8)
    (o,) = render(eedi2.EEDI2(clip_from_planes([img], vs.GRAY8), field=1))
    inner = (slice(9, full - 9, 2), slice(20, 76))
    err_eedi = np.abs(o[inner].astype(int) - truth[inner]).mean()
    plain = np.zeros_like(o, dtype=np.int64)
    plain[1:-1:2] = vavg(img[:-1], img[1:])
    err_plain = np.abs(plain[inner] - truth[inner]).mean()
    assert err_eedi < 0.5 * err_plain


@pytest.mark.parametrize("field", [0, 1])
def test_16bit_matches_8bit_times_256(eedi2, field):
    img8 = textured(60, 96, 8)
    img16 = img8.astype(np.uint16) * 256
    c8, c16 = clip_from_planes([img8], vs.GRAY8), clip_from_planes([img16], vs.GRAY16)
    # the edge mask is identical: its thresholds stay in 8-bit units
    (m8,), (m16,) = render(eedi2.EEDI2(c8, field=field, map=1)), render(eedi2.EEDI2(c16, field=field, map=1))
    assert m8.max() == 255 and np.count_nonzero(m8) > 500
    np.testing.assert_array_equal(m16, m8.astype(np.uint16) * 257)
    # the output agrees up to the finer 16-bit rounding of two- and four-tap averages (<= 128),
    # except where the finer direction averages tip a decision
    (o8,), (o16,) = render(eedi2.EEDI2(c8, field=field)), render(eedi2.EEDI2(c16, field=field))
    diff = np.abs(o16.astype(np.int64) - o8.astype(np.int64) * 256)
    # directions were actually used, so the comparison covers more than plain averaging
    assert np.count_nonzero(o8[2 - field : 119 : 2] != vavg(img8[:-1], img8[1:])) > 1000
    assert np.mean(diff <= 128) > 0.995


@pytest.mark.parametrize("bits", [8, 16])
def test_post_processing_only_falls_back_to_vertical_average(eedi2, bits):
    img = textured(64, 120, bits, seed=9)
    clip = clip_from_planes([img], vs.GRAY8 if bits == 8 else vs.GRAY16)
    out = {pp: render(eedi2.EEDI2(clip, field=1, pp=pp))[0].astype(np.int64) for pp in range(4)}
    plain = np.repeat(img.astype(np.int64), 2, axis=0)
    plain[1:-1:2] = vavg(img[:-1], img[1:])
    changed1, changed2 = out[1] != out[0], out[2] != out[0]
    assert changed1.any() and changed2.any()
    np.testing.assert_array_equal(out[1][changed1], plain[changed1])
    np.testing.assert_array_equal(out[2][changed2], plain[changed2])
    np.testing.assert_array_equal(out[3], np.where(changed1 | changed2, plain, out[0]))
    # the corner pass skips the first and last three row pairs and four columns at each side
    assert not changed2[:7].any() and not changed2[-7:].any()
    assert not changed2[:, :4].any() and not changed2[:, -4:].any()


@pytest.mark.parametrize("fmt", [vs.GRAY8, vs.GRAY16])
def test_map_outputs(eedi2, fmt):
    peak = (1 << vs.core.get_video_format(fmt).bits_per_sample) - 1
    flat = vs.core.std.BlankClip(width=40, height=20, format=fmt, color=peak // 3)
    sizes = {}
    for m, expect in ((1, 0), (2, peak), (3, peak)):
        (o,) = render(eedi2.EEDI2(flat, field=1, map=m))
        sizes[m] = o.shape
        assert np.all(o == expect)
    assert sizes == {1: (20, 40), 2: (20, 40), 3: (40, 40)}
    img, _ = step_edge(24, 80, 2)
    if fmt == vs.GRAY16:
        img = img.astype(np.uint16) * 257
    (d,) = render(eedi2.EEDI2(clip_from_planes([img], fmt), field=1, map=2))
    n, unit = (peak + 1) // 2, (peak + 1) // 64
    dirs = d[d != peak].astype(int)
    assert dirs.size > 40 and np.median(dirs) == n + 2 * unit


def test_yuv444_planes_match_gray(eedi2):
    planes = [textured(40, 64, 8, seed=s) for s in range(3)]
    yuv = render(eedi2.EEDI2(clip_from_planes(planes, vs.YUV444P8), field=1))
    for p, o in zip(planes, yuv):
        (g,) = render(eedi2.EEDI2(clip_from_planes([p], vs.GRAY8), field=1))
        np.testing.assert_array_equal(o, g)


def test_threads_give_identical_output(eedi2):
    img = textured(270, 480, 16)
    clip = clip_from_planes([img], vs.GRAY16, length=8)
    out = eedi2.EEDI2(clip, field=3, pp=3)
    core = vs.core
    saved = core.num_threads
    try:
        results = []
        for threads in (1, 4):
            core.num_threads = threads
            results.append([planes_of(f)[0] for f in out.frames()])
    finally:
        core.num_threads = saved
    for a, b in zip(*results):
        np.testing.assert_array_equal(a, b)


@pytest.mark.parametrize(
    "kwargs, message",
    [
        (dict(field=4), "field must be 0, 1, 2 or 3, got 4"),
        (dict(field=-1), "field must be 0, 1, 2 or 3, got -1"),
        (dict(mthresh=-1), "mthresh must be greater than or equal to 0, got -1"),
        (dict(lthresh=-2), "lthresh must be greater than or equal to 0"),
        (dict(vthresh=-3), "vthresh must be greater than or equal to 0"),
        (dict(estr=-1), "estr must be greater than or equal to 0"),
        (dict(dstr=-1), "dstr must be greater than or equal to 0"),
        (dict(maxd=0), "maxd must be between 1 and 29 (inclusive), got 0"),
        (dict(maxd=30), "maxd must be between 1 and 29 (inclusive), got 30"),
        (dict(map=4), "map must be 0, 1, 2 or 3, got 4"),
        (dict(nt=-1), "nt must be greater than or equal to 0"),
        (dict(pp=4), "pp must be 0, 1, 2 or 3, got 4"),
        (dict(field=5, maxd=0), "field must be"),  # first failing check wins
    ],
)
def test_argument_errors(eedi2, kwargs, message):
    clip = vs.core.std.BlankClip(width=16, height=16, format=vs.GRAY8)
    kwargs = {"field": 1, **kwargs}
    with pytest.raises(vs.Error, match="EEDI2: " + message.replace("(", r"\(").replace(")", r"\)")):
        eedi2.EEDI2(clip, **kwargs)


@pytest.mark.parametrize(
    "make, message",
    [
        (lambda c: c.std.BlankClip(width=7, height=16, format=vs.GRAY8), "width must be greater than or equal to 8"),
        (lambda c: c.std.BlankClip(width=16, height=6, format=vs.GRAY8), "height must be greater than or equal to 7"),
        (lambda c: c.std.BlankClip(width=16, height=16, format=vs.GRAYS), "only constant format 8-16 bits"),
        (lambda c: c.std.Splice([c.std.BlankClip(width=16, height=16), c.std.BlankClip(width=32, height=16)],
                                mismatch=True), "only constant format 8-16 bits"),
    ],
)
def test_clip_errors(eedi2, make, message):
    with pytest.raises(vs.Error, match="EEDI2: .*" + message):
        eedi2.EEDI2(make(vs.core), field=1)


def test_limits_accepted_and_field_required(eedi2):
    clip = vs.core.std.BlankClip(width=8, height=7, format=vs.GRAY8)
    out = eedi2.EEDI2(clip, field=0, maxd=29, mthresh=0, lthresh=0, vthresh=0, estr=0, dstr=0, nt=0, pp=3)
    assert out.height == 14
    render(out)
    with pytest.raises(vs.Error):
        eedi2.EEDI2(clip)
    with pytest.raises(vs.Error):
        eedi2.EEDI2(clip, field=1, planes=[0])
