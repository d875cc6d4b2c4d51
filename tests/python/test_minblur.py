"""sbr and MinBlur: expressions per depth, radius rules, plane rules and pixel results."""

import numpy as np
import pytest
import vapoursynth as vs
from conftest import clip_from_planes, need, planes_of

K121 = [1, 2, 1, 2, 4, 2, 1, 2, 1]
K111 = [1] * 9

SBR8 = "x y - x 128 - * 0 < 128 x y - abs x 128 - abs < x y - 128 + x ? ?"
SBR16 = "x y - x 32768 - * 0 < 32768 x y - abs x 32768 - abs < x y - 32768 + x ? ?"
MB8 = "x 128 - y 128 - * 0 < 128 x 128 - abs y 128 - abs < x y ? ?"
MB16 = "x 32768 - y 32768 - * 0 < 32768 x 32768 - abs y 32768 - abs < x y ? ?"


def blank(core, fmt, w=16, h=12):
    return core.std.BlankClip(format=fmt, width=w, height=h, length=1)


def walk(node):
    """Every node of the graph under `node`, each once, parents before children."""
    seen, order, todo = set(), [], [node]
    while todo:
        n = todo.pop(0)
        if n in seen:
            continue
        seen.add(n)
        order.append(n)
        todo.extend(n.dependencies)
    return order


def as_list(v):
    return v if isinstance(v, list) else [v]


def final_expr(res):
    """The Expr that the last MakeDiff subtracts from the input."""
    assert res._name == "MakeDiff"
    e = res.dependencies[1]
    assert e._name == "Expr"
    return e


@pytest.mark.parametrize(
    "fmt, sbr_text, mb_text",
    [
        (vs.GRAY8, SBR8, MB8),
        (vs.YUV420P10, SBR8.replace("128", "512"), MB8.replace("128", "512")),
        (vs.YUV444P16, SBR16, MB16),
    ],
)
def test_expressions_per_depth(ctx, core, fmt, sbr_text, mb_text):
    clip = blank(core, fmt)
    got = as_list(final_expr(ctx.sbr(clip))._inputs["expr"])
    assert got == [sbr_text] * clip.format.num_planes
    if fmt == vs.YUV420P10:
        assert sbr_text.count("512") == 4
    need("rgvs")
    got = as_list(final_expr(ctx.MinBlur(clip))._inputs["expr"])
    assert got == [mb_text] * clip.format.num_planes


@pytest.mark.parametrize("r, kernels", [(0, [K121]), (1, [K121]), (2, [K121, K111]), (3, [K121, K111, K111]),
                                        (5, [K121, K111, K111]), (1.5, [K121, K111, K111])])
def test_sbr_blur_by_radius(ctx, core, r, kernels):
    clip = blank(core, vs.YUV420P8)
    res = ctx.sbr(clip, r, [0, 2])
    expr = final_expr(res)
    assert as_list(expr._inputs["expr"]) == [SBR8, "", SBR8]
    diff, blurred = expr.dependencies
    assert diff._name == "MakeDiff" and list(diff.dependencies[:1]) == [clip]

    def chain(node, stop):
        out = []
        while node != stop:
            assert node._name == "Convolution" and as_list(node._inputs["planes"]) == [0, 2]
            out.append(node._inputs["matrix"])
            node = node.dependencies[0]
        return out[::-1]

    assert chain(diff.dependencies[1], clip) == kernels
    assert chain(blurred, diff) == kernels


def test_sbr_gray_and_int_planes(ctx, core):
    gray = blank(core, vs.GRAY8)
    assert as_list(ctx.sbr(gray, planes=[1, 2])._inputs["planes"]) == [0]
    yuv = blank(core, vs.YUV420P8)
    assert as_list(final_expr(ctx.sbr(yuv, planes=1))._inputs["expr"]) == ["", SBR8, ""]


@pytest.mark.parametrize("func, text", [("sbr", "sbr: This is not a clip"), ("MinBlur", "MinBlur: This is not a clip")])
def test_not_a_clip(ctx, func, text):
    with pytest.raises(TypeError) as e:
        getattr(ctx, func)("clip")
    assert str(e.value) == text


@pytest.mark.parametrize("func", ["sbr", "MinBlur"])
def test_float_clip_rejected(ctx, core, func):
    with pytest.raises(ValueError, match=f"^{func}: .*integer format.*GrayS"):
        getattr(ctx, func)(blank(core, vs.GRAYS))


def noise(shape, seed, lo=100, hi=157):
    return np.random.default_rng(seed).integers(lo, hi, shape).astype(np.uint8)


def sbr_oracle(core, c, clip_planes, p):
    """Reference from the description: subtract the part of the blur difference the second blur confirms."""
    blur = core.std.Convolution(c, K121)
    d_clip = core.std.MakeDiff(c, blur)
    ds_clip = core.std.Convolution(d_clip, K121)
    d = planes_of(d_clip.get_frame(0))[p].astype(int) - 128
    e = planes_of(ds_clip.get_frame(0))[p].astype(int) - 128
    corr = np.where((d - e) * d < 0, 0, np.where(np.abs(d - e) < np.abs(d), d - e, d))
    return np.clip(clip_planes[p].astype(int) - corr, 0, 255)


def test_sbr_pixels(ctx, core):
    planes = [noise((10, 14), s) for s in (1, 2, 3)]
    c = clip_from_planes(planes, vs.YUV444P8)
    got = planes_of(ctx.sbr(c, planes=[0, 2]).get_frame(0))
    np.testing.assert_array_equal(got[0], sbr_oracle(core, c, planes, 0))
    np.testing.assert_array_equal(got[1], planes[1])
    np.testing.assert_array_equal(got[2], sbr_oracle(core, c, planes, 2))


def minblur_oracle(x, rg11, rg4):
    a, b = x.astype(int) - rg11.astype(int), x.astype(int) - rg4.astype(int)
    move = np.where(a * b < 0, 0, np.where(np.abs(a) < np.abs(b), a, b))
    return x.astype(int) - move


def test_minblur_gray_ignores_planes(ctx, core):
    rgvs = need("rgvs")
    img = noise((12, 16), 5)
    c = clip_from_planes([img], vs.GRAY8)
    res = ctx.MinBlur(c, 1, [1, 2])
    rg = [n for n in walk(res) if n._name == "RemoveGrain"]
    assert len(rg) == 1 and as_list(rg[0]._inputs["mode"]) == [11]
    rg11 = planes_of(rgvs.RemoveGrain(c, 11).get_frame(0))[0]
    rg4 = planes_of(core.std.Median(c).get_frame(0))[0]
    got = planes_of(res.get_frame(0))[0]
    np.testing.assert_array_equal(got, minblur_oracle(img, rg11, rg4))
    assert np.any(got != img)


def test_minblur_single_plane(ctx, core):
    rgvs = need("rgvs")
    planes = [noise((12, 16), s) for s in (7, 8, 9)]
    c = clip_from_planes(planes, vs.YUV444P8)
    res = ctx.MinBlur(c, planes=1)
    (rg,) = [n for n in walk(res) if n._name == "RemoveGrain"]
    assert as_list(rg._inputs["mode"]) == [0, 11, 0]
    assert as_list(final_expr(res)._inputs["expr"]) == ["", MB8, ""]
    got = planes_of(res.get_frame(0))
    np.testing.assert_array_equal(got[0], planes[0])
    np.testing.assert_array_equal(got[2], planes[2])
    rg11 = planes_of(rgvs.RemoveGrain(c, [0, 11, 0]).get_frame(0))[1]
    rg4 = planes_of(core.std.Median(c, planes=1).get_frame(0))[1]
    np.testing.assert_array_equal(got[1], minblur_oracle(planes[1], rg11, rg4))


def test_minblur_radius_zero_uses_sbr(ctx, core):
    c = blank(core, vs.YUV420P8)
    names = [n._name for n in walk(ctx.MinBlur(c, r=0))]
    assert "RemoveGrain" not in names and "Median" in names
    assert names.count("Convolution") == 2  # sbr's two K121 blurs


@pytest.mark.parametrize("fmt, r, kernels", [(vs.YUV420P8, 2, 1), (vs.YUV420P10, 3, 2), (vs.GRAY8, 7, 2)])
def test_minblur_wide_radius_direct_median(ctx, core, fmt, r, kernels):
    need("rgvs")
    need("ctmf")
    nodes = walk(ctx.MinBlur(blank(core, fmt), r=r))
    (ctmf,) = [n for n in nodes if n._name == "CTMF"]
    assert ctmf._inputs["radius"] == min(r, 3) and ctmf.dependencies[0]._name == "BlankClip"
    assert [n._inputs["matrix"] for n in nodes if n._name == "Convolution"] == [K111] * kernels
    assert not [n for n in nodes if n._name == "bitdepth"]


def test_minblur_16bit_median_through_12_bits(ctx, core):
    need("rgvs")
    need("ctmf")
    need("fmtc")
    clip = blank(core, vs.YUV420P16)
    res = ctx.MinBlur(clip, r=2, planes=[0, 1])
    rg4d = final_expr(res).dependencies[1]
    limit = rg4d.dependencies[1]
    assert limit._name == "Expr" and list(limit.dependencies[:1]) == [clip]
    up = limit.dependencies[1]
    assert up._name == "bitdepth" and up._inputs["bits"] == 16 and as_list(up._inputs["planes"]) == [0, 1]
    med = up.dependencies[0]
    assert med._name == "CTMF" and med._inputs["radius"] == 2
    down = med.dependencies[0]
    assert down._name == "bitdepth" and (down._inputs["bits"], down._inputs["dmode"]) == (12, 1)
    assert down.dependencies[0] == clip
    le = as_list(limit._inputs["expr"])
    assert le[0] == le[1] != "" and le[2] == ""


def test_minblur_16bit_wide_radius_renders(ctx):
    need("rgvs")
    need("ctmf")
    need("fmtc")
    planes = [noise((12, 16), s).astype(np.uint16) * 256 for s in (11, 12, 13)]
    c = clip_from_planes(planes, vs.YUV444P16)
    got = planes_of(ctx.MinBlur(c, r=2, planes=[0]).get_frame(0))
    np.testing.assert_array_equal(got[1], planes[1])
    np.testing.assert_array_equal(got[2], planes[2])
    # Smoothing never leaves the range of the input plane.
    assert np.any(got[0] != planes[0])
    assert planes[0].min() <= got[0].min() and got[0].max() <= planes[0].max()
