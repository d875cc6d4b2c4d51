"""tcanny.TCanny: blur against std.Convolution, hand-worked edge cases, arguments, sizes, threads."""

import numpy as np
import pytest
import vapoursynth as vs

from conftest import clip_from_planes, need, planes_of


@pytest.fixture(scope="module")
def tc():
    return need("tcanny")


def render(clip, n=0):
    return planes_of(clip.get_frame(n))


def gray(arr, fmt=vs.GRAY8):
    return clip_from_planes([np.ascontiguousarray(arr)], fmt)


def taps(sigma):
    """The blur taps, in float32 like the plugin builds them."""
    s = np.float32(sigma)
    r = max(int(s * np.float32(3) + np.float32(0.5)), 1)
    k = np.arange(-r, r + 1).astype(np.float32)
    w = np.exp(-(k * k) / (np.float32(2) * s * s)).astype(np.float32)
    return w / w.sum(dtype=np.float32)


def convolution_blur(arr, sigma_h, sigma_v):
    """Separable Gaussian with std.Convolution (vertical, then horizontal) on a float clip.

    std.Convolution repeats the edge sample at the border while TCanny mirrors without
    repeating it, so the picture is mirror-padded by the radius first and cropped after.
    A sigma of 0 skips that direction.
    """
    th = taps(sigma_h) if sigma_h else [1.0]
    tv = taps(sigma_v) if sigma_v else [1.0]
    rh, rv = len(th) // 2, len(tv) // 2
    padded = np.pad(arr.astype(np.float32), ((rv, rv), (rh, rh)), mode="reflect")
    c = gray(padded, vs.GRAYS)
    if sigma_v:
        c = c.std.Convolution(matrix=[float(v) for v in tv], mode="v", divisor=1.0)
    if sigma_h:
        c = c.std.Convolution(matrix=[float(v) for v in th], mode="h", divisor=1.0)
    return render(c.std.Crop(left=rh, right=rh, top=rv, bottom=rv))[0]


def step(width=10, height=5, lo=0, hi=10, at=5, dtype=np.uint8):
    a = np.full((height, width), lo, dtype=dtype)
    a[:, at:] = hi
    return a


RNG = np.random.default_rng(4)


# ---------------------------------------------------------------------------
# mode -1 against std.Convolution with the same taps


@pytest.mark.parametrize("sigma,sigma_v", [(1.5, 1.5), (0.5, 2.5), (3.0, 0.8), (1.0, 0.0), (0.0, 1.0)])
def test_blur_float_matches_convolution(tc, sigma, sigma_v):
    a = RNG.random((41, 57), dtype=np.float32)
    out = render(gray(a, vs.GRAYS).tcanny.TCanny(sigma=sigma, sigma_v=sigma_v, mode=-1))[0]
    ref = convolution_blur(a, sigma, sigma_v)
    np.testing.assert_allclose(out, ref, rtol=0, atol=2e-6)


@pytest.mark.parametrize("fmt,peak", [(vs.GRAY8, 255), (vs.GRAY10, 1023), (vs.GRAY16, 65535)])
def test_blur_integer_matches_rounded_convolution(tc, fmt, peak):
    a = RNG.integers(0, peak + 1, size=(48, 64)).astype(np.uint8 if peak == 255 else np.uint16)
    out = render(gray(a, fmt).tcanny.TCanny(sigma=1.5, sigma_v=1.2, mode=-1))[0].astype(np.int64)
    ref = convolution_blur(a, 1.5, 1.2)
    expect = np.minimum(np.trunc(ref + np.float32(0.5)), peak).astype(np.int64)
    # Summation order differs between the two by a few float ulps, which only
    # matters within those ulps of a .5 tie.
    assert np.abs(out - ref).max() <= 0.5 + 2e-6 * peak
    assert np.count_nonzero(out != expect) <= out.size // 200


@pytest.mark.parametrize("fmt", [vs.GRAY8, vs.GRAY16, vs.GRAYS])
def test_sigma_zero_blur_is_identity(tc, fmt):
    c = clip_from_planes([RNG.random((20, 23), dtype=np.float32)], vs.GRAYS)
    if fmt != vs.GRAYS:
        c = c.resize.Point(format=fmt)
    assert np.array_equal(render(c.tcanny.TCanny(sigma=0, mode=-1))[0], render(c)[0])


@pytest.mark.parametrize("x,row", [
    (0, [102, 62, 14, 1, 0, 0, 0, 0]),   # mirror without repeating the edge
    (3, [2, 14, 62, 102, 62, 14, 1, 0]),  # the 2 at x=0 is the mirrored tail
])
def test_blur_border_rule(tc, x, row):
    a = np.zeros((3, 8), np.uint8)
    a[1, x] = 255
    out = render(gray(a).tcanny.TCanny(sigma=1, sigma_v=0, mode=-1))[0]
    assert out[1].tolist() == row


# ---------------------------------------------------------------------------
# modes 0 and 1 on hand-worked frames (sigma 0)


@pytest.mark.parametrize("op,profile", [
    (0, [0, 0, 0, 0, 10, 10, 0, 0, 0, 0]),
    (1, [0, 0, 0, 0, 15, 15, 0, 0, 0, 0]),
    (2, [0, 0, 0, 0, 40, 40, 0, 0, 0, 0]),
    (3, [0, 0, 0, 0, 160, 160, 0, 0, 0, 0]),
    (4, [0, 0, 0, 0, 255, 255, 0, 0, 0, 0]),  # 950 clamped
    (5, [0, 0, 0, 0, 150, 150, 0, 0, 0, 0]),
    (6, [0, 0, 0, 90, 180, 180, 90, 0, 0, 0]),
])
def test_operator_step_profiles(tc, op, profile):
    out = render(gray(step()).tcanny.TCanny(sigma=0, mode=1, op=op))[0]
    assert (out == np.array(profile)).all()  # every row, borders included


def test_kroon_16bit_is_not_clamped(tc):
    out = render(gray(step(dtype=np.uint16), vs.GRAY16).tcanny.TCanny(sigma=0, mode=1, op=4))[0]
    assert out[2, 3:7].tolist() == [0, 950, 950, 0]


DIAG = np.array([[0, 0, 0, 0, 0],
                 [0, 0, 0, 0, 20],
                 [0, 0, 0, 20, 20],
                 [0, 0, 20, 20, 20],
                 [0, 20, 20, 20, 20]], np.uint8)


def test_magnitude_on_5x5_diagonal(tc):
    # Diagonal step: gx and gy both contribute; values worked out by hand.
    a = DIAG
    out = render(gray(a).tcanny.TCanny(sigma=0, mode=1, op=0))[0]
    # Centre (2, 2): f - d = 20, b - h = 0 - 20 -> sqrt(800) = 28.28 -> 28
    assert out[2, 2] == 28
    # (1, 1): f - d = 0, b - h = 0 - 0 = 0
    assert out[1, 1] == 0
    # (0, 4): mirror makes column 5 equal column 3 -> gx = 0; rows -1 -> row 1: gy = 20 - 20 = 0
    assert out[0, 4] == 0
    # Bottom row, x=1: f - d = 20 - 0; row 5 mirrors row 3, so b - h = 0 - 0 -> 20
    # (repeating the edge row instead would give 28).
    assert out[4, 1] == 20
    # Bottom-left corner: column -1 mirrors column 1 -> gx = 20 - 20 = 0, gy = 0.
    assert out[4, 0] == 0
    sobel = render(gray(a).tcanny.TCanny(sigma=0, mode=1, op=2))[0]
    # Centre: gx = (20+40+20) - (0+0+20) = 60, gy = (0+0+20) - (20+40+20) = -60 -> 84.85
    assert sobel[2, 2] == 85


@pytest.mark.parametrize("t_h,t_l,rows", [
    # The 28s (diagonal gradient, compared along 135 degrees) are strong; the 20s
    # at (4, 1) and (1, 4) are strong with t_h=8, weak but attached with t_h=25,
    # and below t_l=21.
    (8, 1, [".....", "...##", "..##.", ".##..", ".#..."]),
    (25, 1, [".....", "...##", "..##.", ".##..", ".#..."]),
    (25, 21, [".....", "...#.", "..##.", ".##..", "....."]),
    (30, 1, ["....."] * 5),
])
def test_edges_on_5x5_diagonal(tc, t_h, t_l, rows):
    out = render(gray(DIAG).tcanny.TCanny(sigma=0, mode=0, op=0, t_h=t_h, t_l=t_l))[0]
    assert ["".join("#" if v == 255 else "." for v in r) for r in out] == rows


def test_scale_rounds_half_up(tc):
    out = render(gray(step(hi=255)).tcanny.TCanny(sigma=0, mode=1, op=0, scale=0.5))[0]
    assert out[2].tolist() == [0, 0, 0, 0, 128, 128, 0, 0, 0, 0]


def test_nms_keeps_ties(tc):
    out = render(gray(step(hi=255)).tcanny.TCanny(sigma=0, mode=0, op=1))[0]
    assert (out[:, 4:6] == 255).all() and out[:, :4].max() == 0 and out[:, 6:].max() == 0


def test_nms_thins_a_ramp_to_its_ridge(tc):
    # Gradient strongest between columns 4 and 5 of a ramp 0 0 0 10 40 70 80 80 ...
    row = np.array([0, 0, 0, 10, 40, 70, 80, 80, 80, 80], np.uint8)
    a = np.tile(row, (5, 1))
    mag = render(gray(a).tcanny.TCanny(sigma=0, mode=1, op=0))[0][2]
    assert mag.tolist() == [0, 0, 10, 40, 60, 40, 10, 0, 0, 0]
    edges = render(gray(a).tcanny.TCanny(sigma=0, mode=0, op=0))[0]
    assert (edges == np.where(np.arange(10) == 4, 255, 0)).all()


@pytest.mark.parametrize("fmt,dtype,below,at,on", [
    (vs.GRAY8, np.uint8, 7, 8, 255),
    (vs.GRAY10, np.uint16, 32, 33, 1023),
    (vs.GRAY16, np.uint16, 2055, 2056, 65535),
    (vs.GRAYS, np.float32, 0.031, 0.032, 1.0),
])
def test_threshold_scales_with_depth(tc, fmt, dtype, below, at, on):
    for c, want in ((below, 0), (at, on)):
        out = render(gray(step(hi=c, dtype=dtype), fmt).tcanny.TCanny(sigma=0, mode=0, op=0))[0]
        assert out.max() == want


HYST = np.zeros((12, 16), np.uint8)
HYST[0:3, 4] = 100
HYST[3:, 4] = 30
HYST[:, 11] = 30


@pytest.mark.parametrize("t_l,rows", [
    (10, ["...#.#..........", "...#.#..........", "...###..........", "....#..........."]
     + ["...#.#.........."] * 8),
    (40, ["...#.#..........", "...#.#..........", "...###..........", "....#..........."]
     + ["................"] * 8),
])
def test_hysteresis_connectivity(tc, t_l, rows):
    out = render(gray(HYST).tcanny.TCanny(sigma=0, op=0, mode=0, t_h=50, t_l=t_l))[0]
    assert ["".join("#" if v == 255 else "." for v in r) for r in out] == rows
    assert set(np.unique(out)) <= {0, 255}


def test_float_output_ranges(tc):
    c = gray(step(lo=0, hi=1, dtype=np.float32), vs.GRAYS)
    mag = render(c.tcanny.TCanny(sigma=0, mode=1, op=2))[0]
    assert mag[2].tolist() == [0, 0, 0, 0, 1, 1, 0, 0, 0, 0]  # 4.0 clamped to 1.0
    edges = render(c.tcanny.TCanny(sigma=0, mode=0, op=2))[0]
    assert set(np.unique(edges)) == {0.0, 1.0}


# ---------------------------------------------------------------------------
# scale and gmmax


def test_gmmax_scales_magnitude_output_only(tc):
    c = gray(step())
    assert render(c.tcanny.TCanny(sigma=0, mode=1, op=0, gmmax=50))[0][2, 4] == 51  # 10 * 255/50
    plain = render(c.tcanny.TCanny(sigma=0, mode=1, op=2))[0]
    assert np.array_equal(render(c.tcanny.TCanny(sigma=0, mode=1, op=2, gmmax=255))[0], plain)
    # Thresholds see the unscaled magnitude: 7 stays below t_h=8 whatever gmmax says.
    weak = gray(step(hi=7))
    assert render(weak.tcanny.TCanny(sigma=0, mode=0, op=0, gmmax=1))[0].max() == 0


def test_scale_moves_edges_across_thresholds(tc):
    c = gray(step(hi=10))
    assert render(c.tcanny.TCanny(sigma=0, mode=0, op=0))[0].max() == 255
    assert render(c.tcanny.TCanny(sigma=0, mode=0, op=0, scale=0.5))[0].max() == 0


def test_scale_and_gmmax_combine(tc):
    out = render(gray(step()).tcanny.TCanny(sigma=0, mode=1, op=0, scale=2, gmmax=127.5))[0]
    assert out[2, 4] == 40  # 10 * 2 * 2


# ---------------------------------------------------------------------------
# planes and per-plane sigma


def yuv420(width=32, height=24, fmt=vs.YUV420P8, seed=0):
    rng = np.random.default_rng(seed)
    cw, ch = width >> 1, height >> 1
    dtype = np.uint8 if fmt == vs.YUV420P8 else np.uint16
    peak = 255 if fmt == vs.YUV420P8 else 65535
    planes = [rng.integers(0, peak + 1, size=s).astype(dtype) for s in ((height, width), (ch, cw), (ch, cw))]
    return clip_from_planes(planes, fmt), planes


@pytest.mark.parametrize("kwargs,expect_h,expect_v", [
    ({}, [1.5, 0.75, 0.75], [1.5, 0.75, 0.75]),
    ({"sigma": 2}, [2, 1, 1], [2, 1, 1]),
    ({"sigma": [2, 3]}, [2, 3, 3], [2, 3, 3]),
    ({"sigma": 2, "sigma_v": 4}, [2, 1, 1], [4, 2, 2]),
    ({"sigma_v": [1, 0.5, 0]}, [1.5, 0.75, 0.75], [1, 0.5, 0]),
])
def test_per_plane_sigma_defaults(tc, kwargs, expect_h, expect_v):
    c, planes = yuv420()
    out = render(c.tcanny.TCanny(mode=-1, **kwargs))
    for p in range(3):
        alone = render(gray(planes[p]).tcanny.TCanny(sigma=expect_h[p], sigma_v=expect_v[p], mode=-1))[0]
        assert np.array_equal(out[p], alone), p


@pytest.mark.parametrize("mode", [-1, 0, 1])
def test_unprocessed_planes_are_untouched(tc, mode):
    c, planes = yuv420()
    out = render(c.tcanny.TCanny(mode=mode, planes=[0]))
    assert np.array_equal(out[1], planes[1]) and np.array_equal(out[2], planes[2])
    assert not np.array_equal(out[0], planes[0])
    only_u = render(c.tcanny.TCanny(mode=mode, planes=1))
    assert np.array_equal(only_u[0], planes[0]) and np.array_equal(only_u[2], planes[2])


def test_positional_sigma_and_properties(tc):
    c, _ = yuv420()
    c = c.std.SetFrameProps(Marker=7)
    out = c.tcanny.TCanny(1.5, t_h=18.0, t_l=6.0, planes=[0])
    assert out.format.id == c.format.id and (out.width, out.height, out.num_frames) == (32, 24, 1)
    assert out.get_frame(0).props["Marker"] == 7
    same = render(c.tcanny.TCanny(sigma=1.5, t_h=18.0, t_l=6.0, planes=[0]))
    assert all(np.array_equal(a, b) for a, b in zip(render(out), same))


# ---------------------------------------------------------------------------
# sizes


@pytest.mark.parametrize("width", range(1, 18))
@pytest.mark.parametrize("height", [3, 4])
def test_tiny_widths_with_sigma_zero(tc, width, height):
    a = RNG.integers(0, 256, size=(height, width)).astype(np.uint8)
    c = gray(a)
    assert np.array_equal(render(c.tcanny.TCanny(sigma=0, mode=-1))[0], a)
    # Central difference with numpy's reflect padding as the oracle, at every width.
    p = np.pad(a.astype(np.float32), 1, mode="reflect")
    gx, gy = p[1:-1, 2:] - p[1:-1, :-2], p[:-2, 1:-1] - p[2:, 1:-1]
    expect = np.minimum(np.trunc(np.sqrt(gx * gx + gy * gy) + np.float32(0.5)), 255)
    assert np.array_equal(render(c.tcanny.TCanny(sigma=0, mode=1, op=0))[0], expect)
    for op in range(7):
        assert render(c.tcanny.TCanny(sigma=0, mode=1, op=op))[0].shape == a.shape
        if op != 5:
            edges = render(c.tcanny.TCanny(sigma=0, mode=0, op=op))[0]
            assert set(np.unique(edges)) <= {0, 255}
    flat = gray(np.full((height, width), 77, np.uint8))
    assert render(flat.tcanny.TCanny(sigma=0, mode=1, op=6))[0].max() == 0


@pytest.mark.parametrize("width,height", [(2, 4), (6, 6), (10, 14), (14, 6), (34, 10)])
def test_odd_chroma_sizes(tc, width, height):
    c, planes = yuv420(width, height)
    for kwargs in ({"sigma": 0}, {"sigma": 0.1}, {"sigma": [1.0, 0.3]}):
        try:
            out = render(c.tcanny.TCanny(mode=0, **kwargs))
        except vs.Error as e:
            assert "must be at least" in str(e)
            continue
        assert [o.shape for o in out] == [p.shape for p in planes]


# ---------------------------------------------------------------------------
# arguments


@pytest.mark.parametrize("kwargs,fmt,size,message", [
    ({}, vs.GRAYH, (16, 16), "only constant format 8-16 bit integer and 32 bit float input supported"),
    ({}, vs.GRAY8, (16, 2), "clip's height must be at least 3"),
    ({"sigma": [1, 1, 1, 1]}, vs.YUV444P8, (16, 16), "more sigma given than there are planes"),
    ({"sigma_v": [1, 1]}, vs.GRAY8, (16, 16), "more sigma_v given than there are planes"),
    ({"planes": 3}, vs.YUV444P8, (16, 16), "plane index out of range"),
    ({"planes": [0, 0]}, vs.YUV444P8, (16, 16), "plane specified twice"),
    ({"sigma": -1}, vs.GRAY8, (16, 16), r"sigma must be greater than or equal to 0.0"),
    ({"sigma_v": [1, -0.5]}, vs.YUV444P8, (16, 16), r"sigma_v must be greater than or equal to 0.0"),
    ({"t_h": 2, "t_l": 2}, vs.GRAY8, (16, 16), "t_h must be greater than t_l"),
    ({"mode": 2}, vs.GRAY8, (16, 16), "mode must be -1, 0, or 1"),
    ({"op": 7}, vs.GRAY8, (16, 16), "op must be 0, 1, 2, 3, 4, 5, or 6"),
    ({"op": 5}, vs.GRAY8, (16, 16), "op=5 cannot be used when mode=0"),
    ({"scale": 0}, vs.GRAY8, (16, 16), "scale must be greater than 0.0"),
    ({"gmmax": 0.5}, vs.GRAY8, (16, 16), r"gmmax must be greater than or equal to 1.0"),
    ({"opt": 5}, vs.GRAY8, (16, 16), "opt must be 0, 1, 2, 3, or 4"),
    ({"sigma": 1.5}, vs.GRAY8, (5, 8), "the first plane's width must be at least 6 for specified sigma"),
    ({"sigma": 0.84}, vs.GRAY8, (3, 8), "the first plane's width must be at least 4 for specified sigma"),
    ({"sigma": 0.5}, vs.GRAY8, (2, 8), "the first plane's width must be at least 3 for specified sigma"),
    ({"sigma": 0.1}, vs.GRAY8, (1, 8), "the first plane's width must be at least 2 for specified sigma"),
    ({"sigma": 0, "sigma_v": 1}, vs.GRAY8, (8, 3), "the first plane's height must be at least 4 for specified sigma_v"),
    ({"sigma": [1.5, 0.9]}, vs.YUV420P8, (24, 6), "the second plane's height must be at least 4 for specified sigma_v"),
])
def test_argument_errors(tc, kwargs, fmt, size, message):
    c = vs.core.std.BlankClip(width=size[0], height=size[1], format=fmt, length=1)
    with pytest.raises(vs.Error, match="^TCanny: " + message):
        c.tcanny.TCanny(**kwargs)


@pytest.mark.parametrize("kwargs,size", [
    ({"sigma": 0.83}, (3, 8)),  # radius 2 fits
    ({"sigma": 0.1}, (2, 3)),
    ({"sigma": 1.5, "planes": [0]}, (12, 12)),  # 4:2:0 chroma too small but not processed
])
def test_sizes_accepted(tc, kwargs, size):
    fmt = vs.YUV420P8 if "planes" in kwargs else vs.GRAY8
    c = vs.core.std.BlankClip(width=size[0], height=size[1], format=fmt, length=1)
    frame = c.tcanny.TCanny(**kwargs).get_frame(0)
    assert (frame.width, frame.height) == size


def test_variable_format_is_refused(tc):
    c = vs.core.std.BlankClip(format=vs.GRAY8, varformat=True, length=1)
    with pytest.raises(vs.Error, match="^TCanny: only constant format"):
        c.tcanny.TCanny()


# ---------------------------------------------------------------------------
# threads and code paths


@pytest.mark.parametrize("kwargs", [
    {"mode": -1}, {"mode": 0}, {"mode": 1, "op": 2, "sigma": 0.5, "gmmax": 255}, {"mode": 1, "op": 6},
])
def test_threads_and_simd_give_the_same_frames(tc, kwargs):
    core = vs.core
    rng = np.random.default_rng(9)
    frames = [rng.integers(0, 256, size=(70, 101)).astype(np.uint8) for _ in range(6)]
    blank = core.std.BlankClip(width=101, height=70, format=vs.GRAY8, length=6)

    def fill(n, f):
        out = f.copy()
        np.copyto(np.asarray(out[0]), frames[n])
        return out

    c = blank.std.ModifyFrame(blank, fill)
    saved = core.num_threads
    try:
        results = []
        for threads in (1, 4):
            core.num_threads = threads
            for opt in (0, 1):
                clip = c.tcanny.TCanny(opt=opt, **kwargs)
                results.append([render(clip, n)[0] for n in range(6)])
    finally:
        core.num_threads = saved
    for other in results[1:]:
        assert all(np.array_equal(a, b) for a, b in zip(results[0], other))


# ---------------------------------------------------------------------------
# mode 0 against numpy/scipy on random frames


def canny_oracle(a, op, t_h, t_l, peak):
    """Suppression and hysteresis rebuilt with numpy (angles by arctan2) and scipy labelling."""
    from scipy import ndimage

    p = np.pad(a.astype(np.float64), 1, mode="reflect")
    A, B, C = p[:-2, :-2], p[:-2, 1:-1], p[:-2, 2:]
    D, F = p[1:-1, :-2], p[1:-1, 2:]
    G, H, I = p[2:, :-2], p[2:, 1:-1], p[2:, 2:]
    if op == 0:
        gx, gy = F - D, B - H
    else:  # Sobel
        gx, gy = (C + 2 * F + I) - (A + 2 * D + G), (A + 2 * B + C) - (G + 2 * H + I)
    mag = np.sqrt(gx * gx + gy * gy).astype(np.float32)
    theta = np.arctan2(gy, gx)
    theta[theta < 0] += np.pi
    bins = np.trunc(theta * 4 / np.pi + 0.5).astype(int) % 4
    m = np.pad(mag, 1, mode="reflect")
    h, w = a.shape
    shifted = {(dx, dy): m[1 + dy:1 + dy + h, 1 + dx:1 + dx + w] for dx in (-1, 0, 1) for dy in (-1, 0, 1)}
    pairs = {0: ((-1, 0), (1, 0)), 1: ((1, -1), (-1, 1)), 2: ((0, -1), (0, 1)), 3: ((-1, -1), (1, 1))}
    keep = np.zeros_like(mag, dtype=bool)
    for b, (n1, n2) in pairs.items():
        keep |= (bins == b) & (mag >= np.maximum(shifted[n1], shifted[n2]))
    unit = np.float32(peak / 255)
    weak = keep & (mag >= np.float32(t_l) * unit)
    strong = keep & (mag >= np.float32(t_h) * unit)
    labels, _ = ndimage.label(weak, structure=np.ones((3, 3)))
    return np.isin(labels, np.unique(labels[strong & (labels > 0)]))


@pytest.mark.parametrize("op,t_h,t_l", [(0, 10, 4), (2, 40, 12)])
@pytest.mark.parametrize("shape", [(31, 47), (3, 17), (64, 5)])
def test_edges_match_numpy_oracle(tc, op, t_h, t_l, shape):
    rng = np.random.default_rng(op * 100 + shape[1])
    # Random walk in both directions: smooth areas, ridges, and ties here and there.
    a = np.cumsum(np.cumsum(rng.integers(-3, 4, size=shape), axis=1), axis=0)
    a = np.clip(128 + a - int(np.median(a)), 0, 255).astype(np.uint8)
    out = render(gray(a).tcanny.TCanny(sigma=0, mode=0, op=op, t_h=t_h, t_l=t_l))[0]
    expect = canny_oracle(a, op, t_h, t_l, 255)
    assert expect.any() and not expect.all()
    assert np.array_equal(out == 255, expect)
