"""rgvs.RemoveGrain / rgvs.Repair: core oracles, borders, plane modes, tiny frames, kernel builds, arguments."""

import numpy as np
import pytest
import vapoursynth as vs

from conftest import clip_from_planes, need, planes_of


@pytest.fixture(scope="module")
def rgvs():
    return need("rgvs")


def fmt(family, bits, ssw=0, ssh=0, st=vs.INTEGER):
    return vs.core.query_video_format(family, st, bits, ssw, ssh).id


def random_clip(f, width, height, seed=0, low=0, high=None, length=1):
    fo = vs.core.get_video_format(f)
    rng = np.random.default_rng(seed)
    planes = []
    for p in range(fo.num_planes):
        w = width >> (fo.subsampling_w if p else 0)
        h = height >> (fo.subsampling_h if p else 0)
        if fo.sample_type == vs.FLOAT:
            planes.append(rng.random((h, w), dtype=np.float32))
        else:
            top = (1 << fo.bits_per_sample) - 1 if high is None else high
            dtype = np.uint8 if fo.bytes_per_sample == 1 else np.uint16
            planes.append(rng.integers(low, top + 1, size=(h, w)).astype(dtype))
    return clip_from_planes(planes, f, length=length)


def render(clip, n=0):
    return planes_of(clip.get_frame(n))


def median3x3(a):
    """3x3 median of the interior pixels (numpy)."""
    h, w = a.shape
    stack = [a[1 + dy:h - 1 + dy, 1 + dx:w - 1 + dx] for dy in (-1, 0, 1) for dx in (-1, 0, 1)]
    return np.median(np.stack(stack), axis=0).astype(a.dtype)


def test_signatures_are_upstreams(rgvs):
    assert rgvs.RemoveGrain.signature == "clip:vnode;mode:int[];"
    assert rgvs.Repair.signature == "clip:vnode;repairclip:vnode;mode:int[];"


@pytest.mark.parametrize("f", [vs.GRAY8, fmt(vs.GRAY, 10), vs.GRAY16, vs.GRAYS])
def test_mode4_is_the_core_median_inside(rgvs, f):
    src = random_clip(f, 97, 41, seed=1)
    ours, ref = render(src.rgvs.RemoveGrain(4))[0], render(src.std.Median())[0]
    np.testing.assert_array_equal(ours[1:-1, 1:-1], ref[1:-1, 1:-1])
    np.testing.assert_array_equal(ours[1:-1, 1:-1], median3x3(render(src)[0]))


def weighted_sum(a, matrix):
    h, w = a.shape
    k = np.asarray(matrix).reshape(3, 3)
    return sum(int(k[dy + 1, dx + 1]) * a[1 + dy:h - 1 + dy, 1 + dx:w - 1 + dx].astype(np.int64)
               for dy in (-1, 0, 1) for dx in (-1, 0, 1))


@pytest.mark.parametrize("mode,matrix,div", [(11, [1, 2, 1, 2, 4, 2, 1, 2, 1], 16),
                                             (12, [1, 2, 1, 2, 4, 2, 1, 2, 1], 16), (20, [1] * 9, 9)])
@pytest.mark.parametrize("f", [vs.GRAY8, fmt(vs.GRAY, 12), vs.GRAY16])
def test_blur_modes_are_the_core_convolution_inside(rgvs, mode, matrix, div, f):
    # Exact halves (sum % 16 == 8) round up here and down in the core, so they
    # are checked against the formula instead; a sum over 9 never ends in a half.
    src = random_clip(f, 301, 23, seed=2)
    ours, ref = render(src.rgvs.RemoveGrain(mode))[0][1:-1, 1:-1], render(src.std.Convolution(matrix))[0][1:-1, 1:-1]
    total = weighted_sum(render(src)[0], matrix)
    half = 2 * (total % div) == div
    np.testing.assert_array_equal(ours[~half], ref[~half])
    np.testing.assert_array_equal(ours[half], (total[half] + div // 2) // div)
    assert mode == 20 or half.any()


@pytest.mark.parametrize("mode,matrix", [(11, [1, 2, 1, 2, 4, 2, 1, 2, 1]), (20, [1] * 9)])
def test_float_blur_modes_match_the_core_convolution(rgvs, mode, matrix):
    src = random_clip(vs.GRAYS, 64, 16, seed=3)
    ours, ref = render(src.rgvs.RemoveGrain(mode))[0], render(src.std.Convolution(matrix))[0]
    np.testing.assert_allclose(ours[1:-1, 1:-1], ref[1:-1, 1:-1], rtol=0, atol=1e-6)


@pytest.mark.parametrize("f", [vs.GRAY8, vs.GRAY16, vs.GRAYS])
def test_borders_are_copied_in_every_mode(rgvs, f):
    src = random_clip(f, 37, 11, seed=4)
    rep = random_clip(f, 37, 11, seed=5)
    a = render(src)[0]
    for mode in range(25):
        for out in (render(src.rgvs.RemoveGrain(mode))[0], render(src.rgvs.Repair(rep, mode))[0]):
            for edge in (np.s_[0, :], np.s_[-1, :], np.s_[:, 0], np.s_[:, -1]):
                np.testing.assert_array_equal(out[edge], a[edge], err_msg=f"mode {mode}")


@pytest.mark.parametrize("mode,changed", [(13, {2, 4, 6}), (14, {1, 3, 5}), (15, {2, 4, 6}), (16, {1, 3, 5})])
def test_field_modes_touch_one_row_parity(rgvs, mode, changed):
    src = random_clip(vs.GRAY8, 24, 8, seed=6)
    diff = render(src.rgvs.RemoveGrain(mode))[0] != render(src)[0]
    assert {int(y) for y in np.nonzero(diff.any(axis=1))[0]} == changed


def test_mode_list_repeats_the_last_entry(rgvs):
    src = random_clip(vs.YUV444P8, 32, 16, seed=7)
    one, three = render(src.rgvs.RemoveGrain([1])), render(src.rgvs.RemoveGrain([1, 1, 1]))
    for a, b in zip(one, three):
        np.testing.assert_array_equal(a, b)
    luma_only = render(src.rgvs.RemoveGrain([4, 0]))
    orig = render(src)
    np.testing.assert_array_equal(luma_only[0], render(src.rgvs.RemoveGrain(4))[0])
    np.testing.assert_array_equal(luma_only[1], orig[1])
    np.testing.assert_array_equal(luma_only[2], orig[2])
    # per plane: [4, 0, 20] gives each plane its own mode
    mixed = render(src.rgvs.RemoveGrain([4, 0, 20]))
    np.testing.assert_array_equal(mixed[2], render(src.rgvs.RemoveGrain(20))[2])


@pytest.mark.parametrize("f", [vs.GRAY8, vs.GRAY16, vs.GRAYS])
def test_repair_with_itself_is_identity(rgvs, f):
    # Every mode whose band contains the repair centre leaves the clip alone;
    # 2-4 clamp into order statistics of all nine values and can move an extreme centre.
    src = random_clip(f, 45, 9, seed=8)
    a = render(src)[0]
    for mode in range(25):
        out = render(src.rgvs.Repair(src, mode))[0]
        if mode in (2, 3, 4):
            assert (out != a).any()
        else:
            np.testing.assert_array_equal(out, a, err_msg=f"mode {mode}")


def test_repair_modes_1_to_4_clamp_to_order_statistics(rgvs):
    src, rep = random_clip(vs.GRAY8, 30, 12, seed=9), random_clip(vs.GRAY8, 30, 12, seed=10)
    a, r = render(src)[0].astype(int), render(rep)[0].astype(int)
    h, w = a.shape
    stack = np.sort(np.stack([r[1 + dy:h - 1 + dy, 1 + dx:w - 1 + dx] for dy in (-1, 0, 1) for dx in (-1, 0, 1)]),
                    axis=0)
    for mode in (1, 2, 3, 4):
        want = np.clip(a[1:-1, 1:-1], stack[mode - 1], stack[9 - mode])
        np.testing.assert_array_equal(render(src.rgvs.Repair(rep, mode))[0][1:-1, 1:-1], want)
    np.testing.assert_array_equal(render(src.rgvs.Repair(rep, 11))[0], render(src.rgvs.Repair(rep, 1))[0])


def embed(center3x3, fill=0, size=5):
    """A size x size 8-bit plane with the 3x3 block at its centre."""
    a = np.full((size, size), fill, np.uint8)
    c = size // 2
    a[c - 1:c + 2, c - 1:c + 2] = np.array(center3x3, np.uint8).reshape(3, 3)
    return a


# 3x3 neighbourhoods (row-major) at the centre of a 5x5 frame, with the result at the centre.
RG_CASES = [
    (5, [0, 30, 40, 20, 10, 15, 40, 30, 5], 15),     # horizontal pair wins a tie with the diagonal
    (10, [50, 8, 50, 50, 10, 50, 50, 12, 50], 12),   # pixel below before pixel above
    (11, [0, 0, 0, 0, 1, 0, 0, 0, 0], 0),            # (4 + 8) >> 4
    (19, [4, 0, 0, 0, 0, 0, 0, 0, 0], 1),            # (4 + 4) >> 3
    (21, [0, 0, 0, 0, 0, 1, 1, 1, 1], 0),
    (22, [0, 0, 0, 0, 0, 1, 1, 1, 1], 1),
    (23, [40, 40, 40, 40, 75, 60, 60, 60, 60], 60),
    (24, [40, 40, 40, 40, 75, 60, 60, 60, 60], 70),
    (23, [40, 40, 40, 40, 100, 60, 60, 60, 60], 80),
    (24, [40, 40, 40, 40, 100, 60, 60, 60, 60], 100),
    (17, [10, 20, 30, 40, 0, 50, 60, 70, 80], 40),   # max of pair minima 40, min of maxima 50
    (9, [10, 100, 200, 11, 90, 250, 0, 100, 60], 100),  # P2 (100, 100) has the smallest range
]


@pytest.mark.parametrize("mode,block,want", RG_CASES)
def test_removegrain_hand_cases(rgvs, mode, block, want):
    clip = clip_from_planes([embed(block)], vs.GRAY8)
    assert render(clip.rgvs.RemoveGrain(mode))[0][2, 2] == want


# (mode, clip centre, repair 3x3, result)
RP_CASES = [
    (20, 40, [55, 44, 51, 59, 50, 59, 59, 59, 59], 45),  # second smallest distance 5
    (19, 40, [55, 44, 51, 59, 50, 59, 59, 59, 59], 49),  # smallest distance 1
    (23, 50, [55, 44, 51, 59, 40, 59, 59, 59, 59], 45),
    (22, 100, [90, 90, 90, 90, 0, 90, 90, 90, 90], 90),  # result built from the repair centre
    (12, 0, [5, 6, 7, 8, 100, 9, 10, 11, 12], 6),       # 2nd smallest neighbour, widened by c
    (14, 255, [5, 6, 7, 8, 1, 9, 10, 11, 12], 9),       # 5th smallest neighbour
    (10, 33, [0, 0, 0, 0, 35, 31, 0, 0, 0], 31),        # a5 (31) comes before c (35), both 2 away
]


@pytest.mark.parametrize("mode,cr,block,want", RP_CASES)
def test_repair_hand_cases(rgvs, mode, cr, block, want):
    clip = clip_from_planes([np.full((5, 5), cr, np.uint8)], vs.GRAY8)
    rep = clip_from_planes([embed(block)], vs.GRAY8)
    assert render(clip.rgvs.Repair(rep, mode))[0][2, 2] == want


SIZES = [(1, 1), (2, 2), (3, 1), (1, 3), (3, 3)] + [(w, h) for w in range(1, 18) for h in (1, 2, 3)][::5]


@pytest.mark.parametrize("width,height", SIZES)
def test_tiny_frames(rgvs, width, height):
    src = random_clip(vs.GRAY8, width, height, seed=width * 7 + height)
    a = render(src)[0]
    for mode in (1, 4, 11, 13, 24):
        out = render(src.rgvs.RemoveGrain(mode))[0]
        if width < 3 or height < 3:
            np.testing.assert_array_equal(out, a)
        elif mode == 4:
            np.testing.assert_array_equal(out[1:-1, 1:-1], median3x3(a))
    for mode in (1, 20):
        np.testing.assert_array_equal(render(src.rgvs.Repair(src, mode))[0], a)


@pytest.mark.parametrize("width,height", [(10, 10), (14, 6), (18, 14), (66, 34), (4, 2)])
def test_odd_420_chroma(rgvs, width, height):
    src = random_clip(vs.YUV420P8, width, height, seed=11)
    out = render(src.rgvs.RemoveGrain(4))
    for p, a in enumerate(render(src)):
        if min(a.shape) >= 3:
            np.testing.assert_array_equal(out[p][1:-1, 1:-1], median3x3(a))
        else:
            np.testing.assert_array_equal(out[p], a)


def test_threads_and_kernel_builds_agree(rgvs, monkeypatch):
    src = random_clip(vs.YUV420P16, 322, 40, seed=12, length=6)
    rep = random_clip(vs.YUV420P16, 322, 40, seed=13, length=6)
    core = vs.core
    old = core.num_threads

    def frames(clip):
        return [render(clip, n) for n in range(clip.num_frames)]

    try:
        results = []
        for threads, isa in ((1, None), (4, None), (4, "c")):
            core.num_threads = threads
            if isa:
                monkeypatch.setenv("ORVO_RGVS_ISA", isa)
            else:
                monkeypatch.delenv("ORVO_RGVS_ISA", raising=False)
            out = []
            for mode in (1, 4, 5, 11, 17, 20, 24):
                out += frames(src.rgvs.RemoveGrain(mode)) + frames(src.rgvs.Repair(rep, mode))
            results.append(out)
    finally:
        core.num_threads = old
    for other in results[1:]:
        for fa, fb in zip(results[0], other):
            for a, b in zip(fa, fb):
                np.testing.assert_array_equal(a, b)


@pytest.mark.parametrize("call,message", [
    (lambda c: c.rgvs.RemoveGrain([1, 1, 1, 1]), "Number of modes specified must be equal or fewer"),
    (lambda c: c.rgvs.RemoveGrain(25), "Invalid mode specified, only modes 0-24 supported (got 25)"),
    (lambda c: c.rgvs.RemoveGrain(-1), "(got -1)"),
    (lambda c: c.rgvs.Repair(c, 25), "Repair: Invalid mode specified, only 0-24 supported (got 25)"),
    (lambda c: c.rgvs.Repair(c.resize.Point(format=vs.YUV444P16), 1), "Repair: Input clips must have the same format"),
    (lambda c: c.rgvs.Repair(c.resize.Point(width=32), 1), "Repair: Input clips must have the same format"),
    (lambda c: c.resize.Point(format=vs.YUV420PH).rgvs.RemoveGrain(1), "Only 8-16 bit int and 32 bit float"),
])
def test_argument_errors(rgvs, call, message):
    src = random_clip(vs.YUV420P8, 16, 8, seed=14)
    with pytest.raises(vs.Error, match=None) as err:
        call(src)
    assert message in str(err.value)


def test_repair_accepts_a_different_length(rgvs):
    src = random_clip(vs.GRAY8, 16, 8, seed=15, length=3)
    rep = random_clip(vs.GRAY8, 16, 8, seed=16, length=5)
    assert src.rgvs.Repair(rep, 1).num_frames == 3
