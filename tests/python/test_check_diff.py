"""The clip comparison viewer and the difference view."""

import numpy as np
import pytest
import vapoursynth as vs
from conftest import clip_from_planes, graph_nodes, planes_of

core = vs.core


@pytest.fixture
def src():
    return core.std.BlankClip(format=vs.YUV420P16, width=64, height=48, length=4, color=[20000, 30000, 40000])


@pytest.mark.parametrize(
    "line, labels",
    [
        ("check(src, core.tcanny.TCanny(src)).set_output()", ["src", "core.tcanny.TCanny(src)"]),
        ("check( a , b )", ["a", "b"]),
        ("x = check(a, f(b,c))", ["a", "f(b, c)"]),
        ("check(a, g(f(b), c), d)", ["a", "g(f(b), c)", "d"]),
        ("check(a, 'x y')", ["a", "'xy'"]),
        ("check  (a)", ["a"]),
        ("no call on this line", ["FALLBACK"]),
        ("check(a))", ["FALLBACK"]),
    ],
)
def test_label_parser(line, labels):
    from orvo.orvolib import _check_labels

    assert _check_labels(line, "FALLBACK") == labels


def test_labels_come_from_the_calling_line(ctx, src):
    out = ctx.check(src, core.std.Invert(src), src.std.Expr("x 2 /"))
    assert out.num_frames == 12
    texts = {n._inputs["text"] for n in graph_nodes(out, "text", "Text")}
    assert texts == {"src", "core.std.Invert(src)", 'src.std.Expr("x2/")'}


def test_labels_when_the_line_is_not_a_check_call(ctx, src):
    clips = [src, src]
    out = ctx.check(*clips)  # "*clips" is one text: the second clip gets a placeholder
    texts = {n._inputs["text"] for n in graph_nodes(out, "text", "Text")}
    assert texts == {"*clips", "clip 1"}


def test_single_clip_is_labelled_alone(ctx, src):
    out = ctx.check(src)
    assert out.num_frames == src.num_frames
    assert [n._inputs["text"] for n in graph_nodes(out, "text", "Text")] == ["src"]


def test_interleaving_order(ctx):
    a = core.std.BlankClip(format=vs.GRAY8, width=64, height=64, length=2, color=10)
    b = core.std.BlankClip(format=vs.GRAY8, width=64, height=64, length=2, color=200)
    out = ctx.check(a, b, mode=1)
    assert isinstance(out, list) and out[0] is a
    mixed = ctx.check(a, b)
    # text is drawn in the top-left corner; compare a pixel far from it
    values = [np.asarray(f[0])[63, 63] for f in mixed.frames()]
    assert values == [10, 200, 10, 200]


@pytest.mark.parametrize(
    "fmt, w, h, expect",
    [
        (vs.YUV444P16, 64, 48, vs.YUV420P16),
        (vs.RGB24, 64, 48, vs.YUV420P16),
        (vs.GRAY8, 32, 24, vs.YUV420P16),
        (vs.YUV420P8, 128, 96, vs.YUV420P16),
        (vs.YUV420P10, 64, 48, vs.YUV420P16),
    ],
)
def test_list_mode_matches_format_size_and_rate(ctx, src, fmt, w, h, expect):
    other = core.std.BlankClip(format=fmt, width=w, height=h, length=4, fpsnum=30000, fpsden=1001)
    a, b = ctx.check(src, other, mode=1)
    assert b.format.id == expect and (b.width, b.height) == (64, 48)
    assert (b.fps_num, b.fps_den) == (src.fps_num, src.fps_den)
    assert not graph_nodes(b, "text")
    if (w, h) != (64, 48):
        assert graph_nodes(b, "resize", "Spline16")


def test_rgb_and_gray_targets(ctx):
    rgb = core.std.BlankClip(format=vs.RGB48, width=32, height=32)
    yuv = core.std.BlankClip(format=vs.YUV420P8, width=32, height=32)
    assert ctx.check(rgb, yuv, mode=1)[1].format.id == vs.RGB48
    gray = core.std.BlankClip(format=vs.GRAY16, width=32, height=32)
    assert ctx.check(gray, yuv, mode=1)[1].format.id == vs.GRAY16


def test_variable_rate_target_keeps_rates(ctx, src):
    vfr = core.std.BlankClip(format=vs.YUV420P16, width=64, height=48, length=4, fpsnum=0, fpsden=1)
    other = core.std.BlankClip(format=vs.YUV420P16, width=64, height=48, length=4, fpsnum=25)
    assert ctx.check(vfr, other, mode=1)[1].fps_num == 25


@pytest.mark.parametrize(
    "args, message",
    [
        ((1,), "Input attributes should all be type of vs.VideoNode"),
        (("src", None), "Input attributes should all be type of vs.VideoNode"),
        (("s411", "src"), "Only YUV420/422/444 is supported"),
    ],
)
def test_check_errors(ctx, src, args, message):
    s411 = core.std.BlankClip(format=vs.YUV411P8, width=64, height=48)
    named = {"src": src, "s411": s411, None: None}
    with pytest.raises(TypeError, match=message):
        ctx.check(*(named.get(a, a) for a in args), mode=1)


def one_step(fmt=vs.YUV420P16, delta=1):
    """Two clips equal but for one luma pixel that differs by `delta` code values."""
    a = core.std.BlankClip(format=fmt, width=16, height=16, color=[1000, 32768, 32768])
    y = np.full((16, 16), 1000, np.uint16)
    y[5, 7] += delta
    b = clip_from_planes([y, np.full((8, 8), 32768, np.uint16), np.full((8, 8), 32768, np.uint16)], fmt)
    return a, b


def test_diff_identical_is_zero(ctx, src):
    for kwargs in ({}, {"binarize": True}):
        out = ctx.diff(src, src, **kwargs)
        assert all(not np.any(p) for p in planes_of(out.get_frame(0)))
    painted = ctx.diff(src, src, maskedmerge=True)
    for a, b in zip(planes_of(painted.get_frame(0)), planes_of(src.get_frame(0))):
        assert np.array_equal(a, b)


def test_diff_amplifies_and_binarizes(ctx):
    a, b = one_step()
    res = np.asarray(ctx.diff(a, b).get_frame(0)[0])
    assert res[5, 7] == 10 and res.sum() == 10
    res_b = np.asarray(ctx.diff(a, b, binarize=True).get_frame(0)[0])
    assert res_b[5, 7] == 65535 and res_b.sum() == 65535


@pytest.mark.parametrize("amp, expr", [(10, "x y - abs 10 *"), (2.5, "x y - abs 2.5 *"), (25, "x y - abs 25 *")])
def test_diff_expression(ctx, src, amp, expr):
    out = ctx.diff(src, src, amp)
    [node] = [n for n in graph_nodes(out, "std", "Expr")]
    assert node._inputs["expr"] == expr


def test_diff_single_plane_gives_gray(ctx):
    a, b = one_step()
    out = ctx.diff(a, b, planes=0)
    assert out.format.id == vs.GRAY16
    painted = ctx.diff(a, b, planes=0, maskedmerge=True)
    assert painted.format.id == vs.YUV444P16
    y, u, v = (np.asarray(p) for p in planes_of(painted.get_frame(0)))
    assert (y[5, 7], u[5, 7], v[5, 7]) == (64000, 15360, 29440)
    assert (y[0, 0], u[0, 0], v[0, 0]) == (1000, 32768, 32768)


def test_diff_painted_picture(ctx):
    a, b = one_step()
    out = ctx.diff(a, b, maskedmerge=True, binarize=True)
    assert out.format.id == vs.YUV420P16
    y = np.asarray(out.get_frame(0)[0])
    assert y[5, 7] == 64000 and y[0, 0] == 1000


def test_diff_converts_the_second_clip(ctx, src):
    rgb8 = core.std.BlankClip(format=vs.RGB24, width=32, height=24, length=4)
    out = ctx.diff(src, rgb8)
    assert out.format.id == vs.YUV420P16 and (out.width, out.height) == (64, 48)
