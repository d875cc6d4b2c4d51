"""f3kdb.Deband: behaviour on flat, edge and banded frames, determinism, depth conversion, arguments."""

import numpy as np
import pytest
import vapoursynth as vs

from conftest import clip_from_planes, need, planes_of

SIGNATURE = (
    "clip:vnode;range:int:opt;y:int:opt;cb:int:opt;cr:int:opt;grainy:int:opt;grainc:int:opt;"
    "sample_mode:int:opt;seed:int:opt;blur_first:int:opt;dynamic_grain:int:opt;opt:int:opt;"
    "dither_algo:int:opt;keep_tv_range:int:opt;output_depth:int:opt;random_algo_ref:int:opt;"
    "random_algo_grain:int:opt;random_param_ref:float:opt;random_param_grain:float:opt;preset:data:opt;"
)


@pytest.fixture(scope="module")
def f3kdb():
    return need("f3kdb")


def fmt(family, bits, ssw=0, ssh=0):
    return vs.core.query_video_format(family, vs.INTEGER, bits, ssw, ssh).id


def plane_shapes(f, width, height):
    fo = vs.core.get_video_format(f)
    shapes = [(height, width)]
    if fo.num_planes == 3:
        shapes += [(height >> fo.subsampling_h, width >> fo.subsampling_w)] * 2
    return fo, shapes


def make_clip(f, arrays, length=1):
    fo = vs.core.get_video_format(f)
    dtype = np.uint8 if fo.bits_per_sample == 8 else np.uint16
    return clip_from_planes([np.asarray(a).astype(dtype) for a in arrays], f, length=length)


def render(clip, n=0):
    return planes_of(clip.get_frame(n))


def staircase(width=256, height=64, start=60, step_cols=8):
    """8-bit banding: one code higher every `step_cols` columns."""
    row = start + np.arange(width) // step_cols
    return np.repeat(row[None, :], height, axis=0)


def gradient_clip(f=vs.GRAY8, length=1):
    fo, shapes = plane_shapes(f, 256, 64)
    arrays = [staircase(w, h, step_cols=8 >> (fo.subsampling_w if i else 0)) for i, (h, w) in enumerate(shapes)]
    return make_clip(f, arrays, length)


def test_signature_is_upstreams(f3kdb):
    assert f3kdb.Deband.signature == SIGNATURE


@pytest.mark.parametrize(
    "f",
    [fmt(vs.YUV, 8, 1, 1), fmt(vs.YUV, 10), fmt(vs.YUV, 16, 1, 1), fmt(vs.GRAY, 8), fmt(vs.GRAY, 12)],
    ids=["420p8", "444p10", "420p16", "gray8", "gray12"],
)
@pytest.mark.parametrize("level", [0.0, 0.4, 1.0])
def test_flat_frame_unchanged(f3kdb, f, level):
    fo, shapes = plane_shapes(f, 64, 48)
    peak = (1 << fo.bits_per_sample) - 1
    arrays = [np.full(s, round(level * peak)) for s in shapes]
    clip = make_clip(f, arrays)
    for out, want in zip(render(f3kdb.Deband(clip, 15, 64, 64, 64, 0, 0)), arrays):
        np.testing.assert_array_equal(out, want)
    # 16-bit output of the same frame is the input shifted up, nothing else.
    shift = 16 - fo.bits_per_sample
    for out, want in zip(render(f3kdb.Deband(clip, 15, 64, 64, 64, 0, 0, output_depth=16)), arrays):
        np.testing.assert_array_equal(out, want.astype(np.int64) << shift)
    # keep_tv_range clamps to 16-235 (luma) / 16-240 (chroma) on the 8-bit scale.
    tv = render(f3kdb.Deband(clip, 15, 64, 64, 64, 0, 0, keep_tv_range=True))
    for p, (out, want) in enumerate(zip(tv, arrays)):
        hi = 235 if p == 0 else 240
        np.testing.assert_array_equal(out, np.clip(want, 16 << (fo.bits_per_sample - 8), hi << (fo.bits_per_sample - 8)))


def test_copy_shortcut_skips_tv_clamp(f3kdb):
    f = fmt(vs.YUV, 8, 1, 1)
    fo, shapes = plane_shapes(f, 64, 32)
    rng = np.random.default_rng(3)
    arrays = [rng.choice([0, 255], size=s) for s in shapes]
    clip = make_clip(f, arrays)
    out = render(f3kdb.Deband(clip, y=0, cb=0, cr=0, grainy=0, grainc=0, keep_tv_range=True))
    for o, a in zip(out, arrays):
        np.testing.assert_array_equal(o, a)
    # With a threshold the plane is processed and the clamp applies.
    out = render(f3kdb.Deband(clip, y=1, cb=1, cr=1, grainy=0, grainc=0, keep_tv_range=True))
    assert out[0].min() == 16 and out[0].max() == 235
    assert out[1].min() == 16 and out[1].max() == 240


@pytest.mark.parametrize("sample_mode", [1, 2])
@pytest.mark.parametrize("blur_first", [0, 1])
@pytest.mark.parametrize("f", [fmt(vs.YUV, 8, 1, 1), fmt(vs.YUV, 8, 2, 0)], ids=["420", "411"])
def test_hard_edge_unchanged(f3kdb, sample_mode, blur_first, f):
    fo, shapes = plane_shapes(f, 96, 64)
    # Quadrants 8 codes apart: edges in both directions, so both offset directions cross one.
    arrays = [100 + 8 * ((np.arange(w)[None, :] < w // 2) ^ (np.arange(h)[:, None] < h // 2)) for h, w in shapes]
    clip = make_clip(f, arrays)
    out = render(f3kdb.Deband(clip, 31, 64, 64, 64, 0, 0, sample_mode=sample_mode, blur_first=blur_first,
                              output_depth=16))
    for o, a in zip(out, arrays):
        np.testing.assert_array_equal(o, a.astype(np.int64) << 8)


def test_blur_first_distinguishes_small_step(f3kdb):
    arr = np.where(np.arange(64)[None, :] < 32, 100, 102) + np.zeros((48, 1), int)
    clip = make_clip(fmt(vs.GRAY, 8), [arr])
    kept = render(f3kdb.Deband(clip, 15, 64, 64, 64, 0, 0, blur_first=False, output_depth=16))[0]
    blurred = render(f3kdb.Deband(clip, 15, 64, 64, 64, 0, 0, blur_first=True, output_depth=16))[0]
    np.testing.assert_array_equal(kept, arr << 8)
    assert (blurred != arr << 8).sum() > 100


@pytest.mark.parametrize("sample_mode", [1, 2])
def test_shallow_gradient_gets_smoother(f3kdb, sample_mode):
    arr = staircase()
    # Mode 1 only looks up and down, so it gets the staircase turned on its side.
    turn = (lambda a: a.T) if sample_mode == 1 else (lambda a: a)
    clip = make_clip(fmt(vs.GRAY, 8), [turn(arr)])
    ideal = (60 + (np.arange(256) - 3.5) / 8)[None, :] * 256.0
    inner = np.s_[16:-16, 16:-16]

    def deband(**kw):
        return turn(render(f3kdb.Deband(clip, 15, 64, 64, 64, 0, 0, sample_mode=sample_mode, **kw))[0])

    out16 = deband(output_depth=16).astype(np.float64)
    before = np.abs(arr * 256.0 - ideal)[inner].mean()
    after = np.abs(out16 - ideal)[inner].mean()
    assert after < 0.7 * before
    assert np.abs(out16 - arr * 256.0).max() <= 256  # never more than one code away
    assert abs(out16.mean() - arr.mean() * 256) < 0.005 * 256 * arr.mean()
    # The outermost lines across the offset direction get no offsets and stay.
    np.testing.assert_array_equal(out16[:, [0, -1]], arr[:, [0, -1]] << 8)

    # Back at 8 bits the dither turns the long flat steps into a finer mix: lower local step height.
    out8 = deband().astype(np.float64)
    col_in = arr[inner].mean(axis=0)
    col_out = out8[inner].mean(axis=0)
    assert np.abs(np.diff(col_out)).max() < 0.6 * np.abs(np.diff(col_in)).max()
    assert np.abs(col_out - ideal[0, 16:-16] / 256).mean() < 0.7 * np.abs(col_in - ideal[0, 16:-16] / 256).mean()
    assert abs(out8.mean() - arr.mean()) < 0.1


def test_seed(f3kdb):
    clip = gradient_clip()
    a = render(f3kdb.Deband(clip, seed=5, grainy=0))[0]
    b = render(f3kdb.Deband(clip, seed=5, grainy=0))[0]
    c = render(f3kdb.Deband(clip, seed=6, grainy=0))[0]
    np.testing.assert_array_equal(a, b)
    assert (a != c).sum() > 100
    flat = make_clip(fmt(vs.GRAY, 8), [np.full((32, 32), 90)])
    for seed in (5, 6):
        np.testing.assert_array_equal(render(f3kdb.Deband(flat, seed=seed, grainy=0))[0], 90)


@pytest.mark.parametrize("f", [fmt(vs.YUV, 8, 1, 1), fmt(vs.YUV, 16, 1, 1), fmt(vs.YUV, 10, 2, 0)])
@pytest.mark.parametrize("sample_mode, blur_first", [(1, 1), (2, 0), (2, 1)])
def test_opt_levels_identical(f3kdb, f, sample_mode, blur_first):
    fo, shapes = plane_shapes(f, 200, 120)
    rng = np.random.default_rng(9)
    peak = (1 << fo.bits_per_sample) - 1
    arrays = [(np.add.outer(np.arange(h), np.arange(w)) * peak // (4 * (h + w)) + rng.integers(0, 3, (h, w)))
              for h, w in shapes]
    clip = make_clip(f, arrays)
    kw = dict(sample_mode=sample_mode, blur_first=blur_first, output_depth=8)
    ref = render(f3kdb.Deband(clip, 20, 80, 80, 80, 10, 10, opt=0, **kw))
    for opt in (-1, 3):
        for o, r in zip(render(f3kdb.Deband(clip, 20, 80, 80, 80, 10, 10, opt=opt, **kw)), ref):
            np.testing.assert_array_equal(o, r)


def test_threads_and_request_order(f3kdb):
    f = fmt(vs.YUV, 8, 1, 1)
    clip = gradient_clip(f, length=6)
    core = vs.core
    saved = core.num_threads

    def frames(threads, order):
        core.num_threads = threads
        out = f3kdb.Deband(clip, 15, 64, 64, 64, 40, 40, dynamic_grain=True)
        return {n: render(out, n) for n in order}

    try:
        ref = frames(1, range(6))
        for threads, order in [(4, range(6)), (4, [5, 2, 0, 4, 1, 3]), (1, range(5, -1, -1))]:
            got = frames(threads, order)
            for n in range(6):
                for o, r in zip(got[n], ref[n]):
                    np.testing.assert_array_equal(o, r)
    finally:
        core.num_threads = saved
    # dynamic grain: the pattern moves between frames of a static clip.
    assert any((a != b).any() for a, b in zip(ref[0], ref[1]))


def test_grain(f3kdb):
    f = fmt(vs.YUV, 8, 1, 1)
    fo, shapes = plane_shapes(f, 64, 64)
    clip = make_clip(f, [np.full(s, 128) for s in shapes], length=2)
    static = f3kdb.Deband(clip, 15, 64, 64, 64, 64, 64)
    f0, f1 = render(static, 0), render(static, 1)
    assert f0[0].std() > 0.3 and f0[1].std() > 0.3
    np.testing.assert_array_equal(f0[1], f0[2])  # Cb and Cr read one chroma pattern
    for a, b in zip(f0, f1):
        np.testing.assert_array_equal(a, b)
    assert abs(f0[0].mean() - 128) < 1.0


@pytest.mark.parametrize("od", [8, 10, 16])
@pytest.mark.parametrize("dither", [1, 2, 3])
def test_output_depth_from_16_bit(f3kdb, od, dither):
    v = 100 * 256 + 77
    clip = make_clip(fmt(vs.GRAY, 16), [np.full((64, 64), v)])
    out = f3kdb.Deband(clip, 15, 64, 64, 64, 0, 0, output_depth=od, dither_algo=dither)
    assert out.format.bits_per_sample == od and out.format.color_family == vs.GRAY
    plane = render(out)[0].astype(np.int64)
    k = 16 - od
    if k == 0:
        np.testing.assert_array_equal(plane, v)
    elif dither == 1:
        np.testing.assert_array_equal(plane, v >> k)
    else:
        assert set(np.unique(plane)) <= {v >> k, (v >> k) + 1}
        assert abs(plane.mean() - v / (1 << k)) < 0.05


def test_output_depth_yuv_keeps_props_and_subsampling(f3kdb):
    clip = gradient_clip(fmt(vs.YUV, 16, 1, 1)).std.SetFrameProp("_Matrix", intval=1)
    out = f3kdb.Deband(clip, output_depth=10)
    assert out.format.id == fmt(vs.YUV, 10, 1, 1)
    assert out.get_frame(0).props["_Matrix"] == 1


def test_call_forms(f3kdb):
    clip = gradient_clip()
    positional = render(f3kdb.Deband(clip, 15, 96, 64, 64, 0, 0, output_depth=16))[0]
    keywords = render(f3kdb.Deband(clip, range=15, y=96, cb=64, cr=64, grainy=0, grainc=0, output_depth=16))[0]
    np.testing.assert_array_equal(positional, keywords)
    # The host turns a float for an int argument into an int (truncating).
    truncated = render(f3kdb.Deband(clip, 15, 96.7, 64, 64, 0, 0, output_depth=16))[0]
    np.testing.assert_array_equal(truncated, positional)
    # Presets: case-insensitive pieces, explicit values win.
    np.testing.assert_array_equal(
        render(f3kdb.Deband(clip, preset="Medium/NoGrain"))[0],
        render(f3kdb.Deband(clip, y=48, cb=48, cr=48, grainy=0, grainc=0))[0],
    )
    flat = make_clip(fmt(vs.GRAY, 8), [np.full((32, 32), 90)])
    assert (render(f3kdb.Deband(flat, preset="nograin", grainy=10))[0] != 90).any()
    np.testing.assert_array_equal(render(f3kdb.Deband(flat, preset="nograin"))[0], 90)
    # With 16-bit output the dither choice is irrelevant and not checked.
    f3kdb.Deband(clip, output_depth=16, dither_algo=99)


@pytest.mark.parametrize(
    "kwargs, message",
    [
        ({"range": 32}, "range must be between 0 and 31, got 32"),
        ({"y": 512}, "y must be between 0 and 511, got 512"),
        ({"y": -1}, "y must be between 0 and 511, got -1"),
        ({"cr": 600}, "cr must be between 0 and 511"),
        ({"grainy": 4097}, "grainy must be between 0 and 4096"),
        ({"grainc": -1}, "grainc must be between 0 and 4096"),
        ({"sample_mode": 0}, "sample_mode must be between 1 and 2"),
        ({"sample_mode": 3}, "sample_mode must be between 1 and 2"),
        ({"seed": 2**31}, "seed must be between"),
        ({"opt": 4}, "opt must be between -1 and 3"),
        ({"dither_algo": 0}, "dither_algo must be between 1 and 4"),
        ({"output_depth": 7}, "output_depth must be -1"),
        ({"output_depth": 17}, "output_depth must be -1"),
        ({"random_algo_ref": 3}, "random_algo_ref must be between 0 and 2"),
        ({"random_algo_grain": -1}, "random_algo_grain must be between 0 and 2"),
        ({"random_algo_ref": 2, "random_param_ref": float("nan")}, "random_param_ref must be a finite number, got nan"),
        ({"random_algo_grain": 2, "random_param_grain": 1e6}, "random_param_grain must be a finite value"),
        ({"preset": "medium/strong"}, 'unknown preset "strong"'),
        ({"threshold": 3}, "named threshold"),
    ],
)
def test_argument_errors(f3kdb, kwargs, message):
    clip = gradient_clip()
    with pytest.raises(vs.Error, match="^Deband: .*" + message.replace("(", r"\(")):
        f3kdb.Deband(clip, **kwargs)


@pytest.mark.parametrize(
    "clip, message",
    [
        (lambda: vs.core.std.BlankClip(width=64, height=64, format=vs.GRAYS), "only 8-16 bit integer input"),
        (lambda: vs.core.std.BlankClip(width=15, height=64, format=vs.GRAY8), "at least 16x16 pixels, got 15x64"),
        (lambda: vs.core.std.BlankClip(width=64, height=8, format=vs.YUV420P8), "at least 16x16 pixels, got 64x8"),
    ],
)
def test_format_errors(f3kdb, clip, message):
    with pytest.raises(vs.Error, match="^Deband: .*" + message):
        f3kdb.Deband(clip())


def test_variable_format_rejected(f3kdb):
    a = vs.core.std.BlankClip(width=64, height=64, format=vs.GRAY8, length=1)
    b = vs.core.std.BlankClip(width=32, height=64, format=vs.GRAY8, length=1)
    with pytest.raises(vs.Error, match="^Deband: only constant format"):
        f3kdb.Deband(vs.core.std.Splice([a, b], mismatch=True))


@pytest.mark.parametrize("f, width", [(fmt(vs.YUV, 8, 1, 1), 16), (fmt(vs.YUV, 16, 1, 0), 18), (fmt(vs.YUV, 10, 2, 0), 20)])
def test_smallest_frames(f3kdb, f, width):
    fo, shapes = plane_shapes(f, width, 16)
    rng = np.random.default_rng(1)
    peak = (1 << fo.bits_per_sample) - 1
    arrays = [rng.integers(0, peak + 1, size=s) for s in shapes]
    clip = make_clip(f, arrays)
    out = render(f3kdb.Deband(clip, 31, 511, 511, 511, 4096, 4096, dynamic_grain=True))
    assert [o.shape for o in out] == [a.shape for a in arrays]


@pytest.mark.parametrize(
    "change",
    [dict(seed=6), dict(range=9), dict(sample_mode=1), dict(grainy=30), dict(grainc=30), dict(dynamic_grain=1),
     dict(random_algo_ref=0), dict(random_algo_grain=2), dict(random_algo_ref=2, random_param_ref=0.5),
     dict(length=3)],
)
def test_shared_tables_follow_every_table_argument(f3kdb, change):
    """Instances share their offset tables; one that needs another table never gets a living instance's."""
    change = dict(change)
    f = fmt(vs.YUV, 8, 1, 1)
    clip = gradient_clip(f, length=2)
    other = gradient_clip(f, length=change.pop("length", 2))
    base = dict(range=15, y=64, cb=64, cr=64, grainy=10, grainc=10)
    alone = render(f3kdb.Deband(other, **dict(base, **change)), 1)  # built while no other instance lives
    assert not all(np.array_equal(a, b) for a, b in zip(alone, render(f3kdb.Deband(clip, **base), 1)))
    held = f3kdb.Deband(clip, **dict(base, y=40))  # keeps the base table alive
    again = render(f3kdb.Deband(other, **dict(base, **change)), 1)
    assert all(np.array_equal(a, b) for a, b in zip(alone, again))
    del held
