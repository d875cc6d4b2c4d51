"""Depth and zDepth: engine choice and arguments read from the built graph, pixels, messages."""

from types import SimpleNamespace

import numpy as np
import pytest
import vapoursynth as vs
from conftest import clip_from_planes, need

core = vs.core


def blank(fmt, color=None, width=16, height=8):
    return core.std.BlankClip(format=fmt, width=width, height=height, length=1, color=color)


def fmt_of(family, sample, bits, ssw=1, ssh=1):
    if family == vs.GRAY:
        ssw = ssh = 0
    return core.query_video_format(family, sample, bits, ssw, ssh).id


def args(node):
    return {k: v for k, v in node._inputs.items() if k != "clip"}


def plane(clip, p=0):
    return np.array(clip.get_frame(0)[p], copy=True)


# (input format, Depth arguments, fmtc.bitdepth arguments expected)
FMTC = [
    (vs.YUV420P16, dict(depth=8), dict(bits=8, flt=0, fulls=0, fulld=0, dmode=3, ampo=1.0)),
    (vs.YUV420P8, dict(depth=16), dict(bits=16, flt=0, fulls=0, fulld=0, dmode=1, ampo=1.0)),
    (vs.YUV420P8, dict(depth=32), dict(bits=32, flt=1, fulls=0, fulld=0, dmode=1, ampo=1.0)),
    # a range change or a full-range target dithers even upwards
    (vs.YUV420P8, dict(depth=16, fulld=True), dict(bits=16, fulls=0, fulld=1, dmode=3)),
    (vs.RGB24, dict(depth=16), dict(bits=16, fulls=1, fulld=1, dmode=3)),
    (vs.YUV420P16, dict(depth=8, dither="ORDERED"), dict(dmode=0, ampo=1.5)),
    (vs.YUV420P16, dict(depth=8, dither=0, ampo=2), dict(dmode=0, ampo=2.0)),
    (vs.YUV420P16, dict(depth=8, dither="random"), dict(dmode=1, ampn=1.0, ampo=1.0)),
    (vs.YUV420P16, dict(depth=8, dither="random", ampn=0), dict(dmode=3, ampn=0.0)),
    (vs.YUV420P16, dict(depth=8, dither="random", ampn=0.5), dict(dmode=1, ampn=0.5)),
    (vs.YUV420P16, dict(depth=8, dither="None"), dict(dmode=1)),
    (vs.YUV420P16, dict(depth=8, dither=2, dyn=1, staticnoise=1), dict(dmode=2, dyn=1, staticnoise=1)),
    (vs.YUV420P8, dict(prefer_props=True), dict(bits=8, dmode=1)),
]


@pytest.mark.parametrize("fmt, kw, expected", FMTC)
def test_fmtc_engine(ctx, fmt, kw, expected):
    need("fmtc")
    out = ctx.Depth(blank(fmt), **kw)
    assert (out._plugin_ns, out._name) == ("fmtc", "bitdepth")
    got = args(out)
    assert {k: got.get(k) for k in expected} == expected
    if "ampn" not in expected:
        assert "ampn" not in got


# (input format, Depth arguments, output format, resize arguments expected)
ZIMG = [
    (fmt_of(vs.GRAY, 0, 13), dict(depth=16), vs.GRAY16, dict(range=0, range_in=0, dither_type="none")),
    (vs.YUV420P16, dict(depth=15), fmt_of(vs.YUV, 0, 15), dict(dither_type="error_diffusion")),
    (vs.YUV420P8, dict(depth=16, sample=vs.FLOAT), vs.YUV420PH, dict(dither_type="none")),
    (vs.YUV420PH, dict(depth=8), vs.YUV420P8, dict(range=0, range_in=0, dither_type="error_diffusion")),
    (vs.YUV420P16, dict(depth=8, useZ=True), vs.YUV420P8, dict(dither_type="error_diffusion")),
    (vs.YUV420P8, dict(depth=16, useZ=True, fulld=1), vs.YUV420P16, dict(range=1, range_in=0)),
    (vs.RGB24, dict(depth=16, useZ=True), vs.RGB48, dict(range=1, range_in=1, dither_type="error_diffusion")),
    (vs.YUV420P16, dict(depth=8, useZ=True, dither="Random"), vs.YUV420P8, dict(dither_type="random")),
    (vs.YUV420P16, dict(depth=8, useZ=True, dither=0), vs.YUV420P8, dict(dither_type="ordered")),
    (vs.YUV420P16, dict(depth=8, useZ=True, dither=2), vs.YUV420P8, dict(dither_type="none")),
    (vs.YUV420P16, dict(depth=8, useZ=True, dither=2, ampn=0.5), vs.YUV420P8, dict(dither_type="random")),
    (vs.YUV420P16, dict(depth=8, useZ=True, dither=1, ampn=0), vs.YUV420P8, dict(dither_type="none")),
    (vs.YUV420P16, dict(depth=8, useZ=True, dither=7), vs.YUV420P8, dict(dither_type="error_diffusion")),
    (vs.YUV420P8, dict(useZ=True, prefer_props=True), vs.YUV420P8, dict(range=0, range_in=0)),
]


@pytest.mark.parametrize("fmt, kw, out_fmt, expected", ZIMG)
def test_zimg_engine(ctx, fmt, kw, out_fmt, expected):
    out = ctx.Depth(blank(fmt), **kw)
    assert (out._plugin_ns, out._name) == ("resize", "Bicubic")
    got = args(out)
    assert got["format"] == out_fmt and out.format.id == out_fmt
    assert {k: got.get(k) for k in expected} == expected
    # the resizer no longer knows prefer_props: it is never passed
    assert "prefer_props" not in got


def test_zimg_input_range_wins_over_frame_properties(ctx):
    # Frames tagged full range, Depth told limited: the argument decides, as fmtc would.
    src = core.std.SetFrameProps(blank(vs.YUV420P8, [100, 128, 128]), _Range=vs.RANGE_FULL)
    out = ctx.Depth(src, 16, useZ=True)
    tag = out.dependencies[0]
    assert (tag._name, tag._inputs["prop"], tag._inputs["intval"]) == ("SetFrameProp", "_Range", 0)
    assert plane(out)[0, 0] == 100 * 256
    # with prefer_props the frames decide: 100 is read as full range and written limited
    kept = ctx.Depth(src, 16, useZ=True, prefer_props=True)
    assert kept.dependencies[0] == src
    assert plane(kept)[0, 0] == round((100 * 219 / 255 + 16) * 256)


@pytest.mark.parametrize(
    "fmt, kw",
    [
        (vs.YUV420P8, dict()),
        (vs.YUV420P8, dict(depth=8)),
        (vs.RGB24, dict(depth=8, fulls=True, fulld=1)),
        (vs.YUV420P16, dict(depth=16, sample=vs.INTEGER, dither="ordered", useZ=True)),
        # float input ignores the range flags
        (vs.YUV420PS, dict(depth=32, fulls=False, fulld=True)),
        (vs.YUV420PS, dict(prefer_props=True)),
    ],
)
def test_no_op_returns_the_input_itself(ctx, fmt, kw):
    src = blank(fmt)
    assert ctx.Depth(src, **kw) is src


def test_range_change_at_same_depth_is_not_a_no_op(ctx):
    src = blank(vs.YUV420P8, [16, 128, 128])
    out = ctx.Depth(src, fulld=True, useZ=True)
    assert out is not src and plane(out)[0, 0] == 0


def ramp16(lo, hi, shape=(8, 32)):
    return np.linspace(lo, hi, shape[0] * shape[1]).round().astype(np.uint16).reshape(shape)


@pytest.mark.parametrize("engine", ["fmtc", "zimg"])
def test_pixels_8_to_16_limited_is_x256(ctx, engine):
    if engine == "fmtc":
        need("fmtc")
    y = np.arange(256, dtype=np.uint8).reshape(8, 32)
    uv = np.arange(64, dtype=np.uint8).reshape(4, 16) * 4
    out = ctx.Depth(clip_from_planes([y, uv, uv[::-1].copy()], vs.YUV420P8), 16, useZ=engine == "zimg")
    assert out.format.id == vs.YUV420P16
    assert np.array_equal(plane(out, 0), y.astype(np.uint16) * 256)
    assert np.array_equal(plane(out, 1), uv.astype(np.uint16) * 256)


@pytest.mark.parametrize("engine", ["fmtc", "zimg"])
def test_pixels_16_to_8_rounds(ctx, engine):
    if engine == "fmtc":
        need("fmtc")
    # values off the .5 ties, so rounding is unambiguous
    y = ramp16(4096, 60160)
    y[(y % 256) == 128] += 1
    out = ctx.Depth(clip_from_planes([y], vs.GRAY16), 8, dither="none", useZ=engine == "zimg")
    assert out.format.id == vs.GRAY8
    assert np.array_equal(plane(out), np.rint(y / 256).astype(np.uint8))


def six_bit_reference(v):
    """8-bit limited luma to 6-bit limited codes and back to 8-bit codes, rounded."""
    codes = np.rint(v * np.float32(54 / 219) + np.float32(4 - 16 * 54 / 219))
    return codes, np.rint(codes * np.float32(219 / 54) + np.float32(16 - 4 * 219 / 54))


def chain(node):
    """Function names along the first inputs, output first."""
    names = []
    while True:
        names.append(node._name)
        if not node.dependencies:
            return names
        node = node.dependencies[0]


def test_six_bit_without_dither_uses_expressions_only(ctx):
    y = np.arange(16, 236, dtype=np.uint8)[:216].reshape(8, 27)
    out = ctx.Depth(clip_from_planes([y], vs.GRAY8), 6, dither="none")
    # two tagged Expr passes, no engine
    assert chain(out)[:4] == ["SetFrameProp", "Expr", "SetFrameProp", "Expr"]
    assert "ModifyFrame" == chain(out)[4]
    codes, back = six_bit_reference(y.astype(np.float32))
    assert np.array_equal(plane(out), back)
    assert len(np.unique(plane(out))) == len(np.unique(codes))


@pytest.mark.parametrize(
    "engine, names",
    [
        ("fmtc", ["SetFrameProp", "Expr", "bitdepth", "SetFrameProp", "Expr", "BlankClip"]),
        # zimg gets the input range pinned on the frames first
        ("zimg", ["SetFrameProp", "Expr", "Bicubic", "SetFrameProp", "SetFrameProp", "Expr", "BlankClip"]),
    ],
)
def test_six_bit_dithered_path(ctx, engine, names):
    if engine == "fmtc":
        need("fmtc")
    src = blank(vs.YUV420P8, [100, 120, 140], width=64, height=32)
    out = ctx.Depth(src, 6, useZ=engine == "zimg")
    assert out.format.id == vs.YUV420P8
    assert chain(out) == names
    eng = out.dependencies[0].dependencies[0]
    if engine == "zimg":
        assert args(eng)["dither_type"] == "error_diffusion" and args(eng)["range_in"] == 0
    else:
        assert args(eng)["dmode"] == 3 and args(eng)["fulls"] == 0
    assert eng.dependencies[0].format.id == vs.YUV420P16
    # 100 is 6-bit code 24.71: a dithered mix of codes 24 and 25, shown as 97 and 101
    y = plane(out, 0)
    assert set(np.unique(y).tolist()) == {97, 101}
    assert abs(y.mean() - 100) < 0.5
    # chroma 120 is exactly code 30, which comes back as 120
    assert np.all(plane(out, 1) == 120)


D = "Depth"


@pytest.mark.parametrize(
    "clip, kw, exc, message",
    [
        (None, dict(), TypeError, f'{D}: "input" must be a clip!'),
        (vs.YUV420P8, dict(fulls=0.0), TypeError, f'{D}: "fulls" must be a bool!'),
        (vs.YUV420P8, dict(depth=16.0), TypeError, f'{D}: "depth" must be an int!'),
        (vs.YUV420P8, dict(depth=16, sample="1"), TypeError, f'{D}: "sample" must be an int!'),
        (vs.YUV420P8, dict(depth=16, sample=3), ValueError,
         f'{D}: "sample" must be either 0(vs.INTEGER) or 1(vs.FLOAT)!'),
        (vs.YUV420P8, dict(depth=17), ValueError, f"{D}: 17-bit integer output is not supported!"),
        (vs.YUV420P8, dict(sample=vs.FLOAT), ValueError, f"{D}: 8-bit float output is not supported!"),
        (vs.YUV420P8, dict(depth=24, sample=vs.FLOAT), ValueError, f"{D}: 24-bit float output is not supported!"),
        (vs.YUV420P8, dict(depth=32, sample=vs.INTEGER), ValueError, f"{D}: 32-bit integer output is not supported!"),
        (vs.YUV420P8, dict(fulld="full"), TypeError, f'{D}: "fulld" must be a bool!'),
        (vs.YUV420P8, dict(useZ="yes"), TypeError, f'{D}: "useZ" must be a bool!'),
        (vs.YUV420P8, dict(prefer_props=0.0), TypeError, f'{D}: "prefer_props" must be a bool!'),
        (vs.YUV420P8, dict(ampn="1"), TypeError, f'{D}: "ampn" must be an int or a float!'),
        (vs.YUV420P8, dict(depth=16, dither=1.0), TypeError, f'{D}: "dither" must be an int or a str!'),
        (vs.YUV420P8, dict(dither=[3]), TypeError, f'{D}: "dither" must be an int or a str!'),
        (vs.YUV420P8, dict(dither=8), ValueError, f'{D}: Unsupported "dither" specified!'),
        (vs.YUV420P8, dict(dither=-1), ValueError, f'{D}: Unsupported "dither" specified!'),
        (vs.YUV420P8, dict(dither="bayer"), ValueError, f'{D}: Unsupported "dither" specified!'),
        (vs.YUV420P8, dict(ampo="1"), TypeError, f'{D}: "ampo" must be an int or a float!'),
        # order of the steps
        (vs.YUV420P8, dict(depth=17, fulld="x", useZ="y"), ValueError, f"{D}: 17-bit integer output is not supported!"),
        (vs.YUV420P8, dict(dither=9, ampo="1"), ValueError, f'{D}: Unsupported "dither" specified!'),
        (vs.YUV420P8, dict(useZ="y", prefer_props="z", ampn="a"), TypeError, f'{D}: "useZ" must be a bool!'),
        # errors of the expression conversion carry Depth's name
        (vs.YUV420P8, dict(depth=0), ValueError, f'{D}: "depth" should not be less than 1!'),
    ],
)
def test_depth_messages(ctx, clip, kw, exc, message):
    src = 5 if clip is None else blank(clip)
    with pytest.raises(exc) as info:
        ctx.Depth(src, **kw)
    assert str(info.value) == message


def test_ampo_ignored_by_zimg_and_float_dither_in_low_depth(ctx):
    assert ctx.Depth(blank(vs.YUV420P16), 8, useZ=True, ampo="x")._name == "Bicubic"
    # depth below 8: 1.0 equals 1 and takes the expression-only path before any dither check
    out = ctx.Depth(blank(vs.YUV420P8), 6, dither=1.0)
    assert out.dependencies[0]._name == "Expr"


class Stand:
    """A core stand-in: the plugins it lists and the zimg functions it records calls of."""

    def __init__(self, functions, namespace="z"):
        self.calls = []
        plugin = SimpleNamespace(namespace=namespace,
                                 functions=lambda: [SimpleNamespace(name=n) for n in functions])
        self.plugins = lambda: [plugin]
        self.z = SimpleNamespace(**{n: self._recorder(n) for n in functions})

    def _recorder(self, name):
        def record(clip, **kw):
            self.calls.append((name, clip, kw))
            return clip
        return record


def test_zdepth_standalone_depth_function(ctx):
    stand = Stand(["Depth"])
    src = blank(vs.YUV420P16)
    assert ctx._zDepth_on(stand, src, depth=8, range=0, range_in=1, dither_type="ordered") is src
    assert stand.calls == [("Depth", src, dict(dither="ordered", sample=0, depth=8, fullrange_in=1,
                                               fullrange_out=0))]


def test_zdepth_standalone_format_function_preferred(ctx):
    stand = Stand(["Depth", "Format"])
    src = blank(vs.GRAY16)
    ctx._zDepth_on(stand, src, sample=1, depth=32, cpu_type="none", prefer_props=1)
    assert stand.calls == [("Format", src, dict(format=vs.GRAYS, cpu_type="none"))]


@pytest.mark.parametrize("stand", [Stand([]), Stand(["Depth", "Format"], namespace="zz")])
def test_zdepth_without_zimg(ctx, stand):
    with pytest.raises(AttributeError) as info:
        ctx._zDepth_on(stand, blank(vs.GRAY8))
    assert str(info.value) == "zDepth: Available zimg not found!"


def test_zdepth_builtin_resizer(ctx):
    src = blank(vs.YUV420P10)
    out = ctx.zDepth(src, depth=16, dither_type="none")
    assert (out._name, args(out)) == ("Bicubic", dict(format=vs.YUV420P16, dither_type="none"))
    assert out.dependencies[0] == src


@pytest.mark.parametrize(
    "clip, kw, message",
    [
        (None, dict(), 'zDepth: "clip" must be a clip!'),
        (vs.GRAY8, dict(sample=1.0), 'zDepth: "sample" must be an int!'),
        (vs.GRAY8, dict(depth="16"), 'zDepth: "depth" must be an int!'),
    ],
)
def test_zdepth_messages(ctx, clip, kw, message):
    with pytest.raises(TypeError) as info:
        ctx.zDepth(5 if clip is None else blank(clip), **kw)
    assert str(info.value) == message


@pytest.mark.parametrize("helper", ["Depth", "zDepth", "_quantization_conversion"])
def test_variable_format_is_refused_by_name(ctx, helper):
    with pytest.raises(ValueError) as info:
        getattr(ctx, helper)(core.std.BlankClip(varformat=True))
    assert str(info.value) == f"{helper}: clips of variable format are not supported!"
