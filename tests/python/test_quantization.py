"""Quantization parameter sets and the one-Expr conversion between quantizations."""

import numpy as np
import pytest
import vapoursynth as vs
from conftest import clip_from_planes

core = vs.core


def blank(fmt, color=None, width=16, height=8):
    return core.std.BlankClip(format=fmt, width=width, height=height, length=1, color=color)


def expr_node(out):
    """The Expr node under the colour-range tag the conversion ends with."""
    assert out._name == "SetFrameProp" and out._inputs["prop"] == "_Range"
    node = out.dependencies[0]
    assert node._name == "Expr"
    return node


def exprs(out):
    e = expr_node(out)._inputs["expr"]
    return e if isinstance(e, list) else [e]


@pytest.mark.parametrize(
    "kw, expected",
    [
        (dict(), (0, 0, 255, 255)),
        (dict(depth=8, full=False), (16, 16, 235, 219)),
        (dict(depth=10, full=False, chroma=True), (64, 512, 960, 896)),
        (dict(depth=16, full=True), (0, 0, 65535, 65535)),
        (dict(depth=16, full=True, chroma=True), (0, 32768, 65535, 65535)),
        (dict(depth=6, full=False), (4, 4, 58, 54)),
        (dict(depth=6, full=False, chroma=True), (4, 32, 60, 56)),
        (dict(depth=1, full=False, chroma=True), (0, 1, 1, 1)),
        (dict(sample=vs.FLOAT, depth=32), (0.0, 0.0, 1.0, 1.0)),
        (dict(sample=vs.FLOAT, depth=16, full=False, chroma=True), (-0.5, 0.0, 0.5, 1.0)),
    ],
)
def test_parameter_sets(ctx, kw, expected):
    qp = ctx._quantization_parameters(**kw)
    got = (qp["floor"], qp["neutral"], qp["ceil"], qp["range"])
    assert got == expected
    # ints for integer samples, floats for float samples
    assert [type(v) for v in got] == [type(v) for v in expected]


# (input format, arguments, luma text, chroma text)
EXPRESSIONS = [
    (vs.YUV420P8, dict(depthd=16, clamp=False), " x  256.0 * ", " x  256.0 * "),
    (vs.YUV420P8, dict(depthd=16, clamp=True), " x  256.0 *  4096 max  60160 min ",
     " x  256.0 *  4096 max  61440 min "),
    (vs.YUV420P8, dict(depthd=32, fulls=True), " x  0.00392156862745098 * ",
     " x  0.00392156862745098 *  -0.5019607843137255 + "),
    (vs.YUV420P16, dict(depthd=32), " x  1.783675799086758e-05 *  -0.0730593607305936 + ",
     " x  1.743861607142857e-05 *  -0.5714285714285714 + "),
    (vs.YUV420P16, dict(depthd=8, clamp=False), " x  0.00390625 * ", " x  0.00390625 * "),
    (vs.YUV420P16, dict(depthd=8, clamp=False, fulls=True), " x  0.0038910505836575876 * ",
     " x  0.0038910505836575876 *  0.49805447470816944 + "),
    (vs.YUV420P16, dict(depthd=10, clamp=True), " x  0.015625 *  64 max  940 min ", " x  0.015625 *  64 max  960 min "),
    (vs.YUV420PS, dict(depthd=16, fulld=False, clamp=False), " x  56064.0 *  4096.0 + ", " x  57344.0 *  32768.0 + "),
    # float output with clamp: the float floor and ceiling are written as floats
    (vs.YUV420P8, dict(depthd=32, clamp=True), " x  0.0045662100456621 *  -0.0730593607305936 +  0.0 max  1.0 min ",
     " x  0.004464285714285714 *  -0.5714285714285714 +  -0.5 max  0.5 min "),
    (vs.YUV420P16, dict(clamp=False), "", ""),
    (vs.YUV420P8, dict(depthd=6, dbitPS=16, mode=1, clamp=False), " x  63.12328767123287 *  14.027397260274029 + ",
     " x  64.0 * "),
    (vs.YUV420P8, dict(depthd=6, dbitPS=16, mode=1, clamp=True),
     " x  63.12328767123287 *  14.027397260274029 +  1024 max  14848 min ", " x  64.0 *  1024 max  15360 min "),
    # depthd 8 turns mode 1 off: identical quantization, plane copied
    (vs.YUV420P8, dict(depthd=8, dbitPS=8, mode=1, clamp=False), "", ""),
    (vs.YUV420P8, dict(depthd=6, clamp=False), " x  0.2465753424657534 *  0.054794520547945424 + ", " x  0.25 * "),
]


@pytest.mark.parametrize("fmt, kw, luma, chroma", EXPRESSIONS)
def test_expression_texts(ctx, fmt, kw, luma, chroma):
    out = ctx._quantization_conversion(blank(fmt), **kw)
    assert exprs(out) == [luma, chroma]


@pytest.mark.parametrize(
    "fmt, chroma, expected",
    [
        (vs.GRAY8, True, " x  256.0 *  4096 max  61440 min "),
        (vs.GRAY8, False, " x  256.0 *  4096 max  60160 min "),
        (vs.GRAY8, None, " x  256.0 *  4096 max  60160 min "),
        # RGB is full range by default and never takes the chroma expression
        (vs.RGB24, True, " x  257.0 * "),
    ],
)
def test_chroma_only_for_gray(ctx, fmt, chroma, expected):
    out = ctx._quantization_conversion(blank(fmt), depthd=16, chroma=chroma)
    assert exprs(out) == [expected]


def test_output_format_and_range_tag(ctx):
    src = blank(vs.YUV420P8, [16, 128, 240])
    out = ctx._quantization_conversion(src, depthd=16, fulld=True)
    assert out.format.id == vs.YUV420P16
    assert expr_node(out)._inputs["format"] == vs.YUV420P16
    frame = out.get_frame(0)
    assert frame.props["_Range"] == vs.RANGE_FULL
    limited = ctx._quantization_conversion(src, depthd=10)
    assert limited.format.id == vs.YUV420P10
    assert limited.get_frame(0).props["_Range"] == vs.RANGE_LIMITED


def test_pixels_follow_the_expression(ctx):
    # 8-bit limited values, including out-of-range ones, through to 16-bit full with clamping
    ramp = np.arange(256, dtype=np.uint8).reshape(16, 16)
    src = clip_from_planes([ramp], vs.GRAY8)
    out = ctx._quantization_conversion(src, depthd=16, fulld=True)
    got = np.asarray(out.get_frame(0)[0])
    gain = np.float32(65535 / 219)
    want = np.clip(np.rint(ramp.astype(np.float32) * gain + np.float32(-16 * 65535 / 219)), 0, 65535)
    assert np.max(np.abs(got.astype(np.int64) - want.astype(np.int64))) <= 1
    assert got[ramp == 16].tolist() == [0] and got[ramp == 235].tolist() == [65535]


def test_identical_quantization_in_another_container_keeps_values(ctx):
    # The quantization stays 8-bit limited, only the container grows: the values are kept.
    src = blank(vs.YUV420P8, [100, 60, 200])
    out = ctx._quantization_conversion(src, depthd=8, dbitPS=16, clamp=False)
    assert out.format.id == vs.YUV420P16
    assert exprs(out) == ["x", "x"]
    frame = out.get_frame(0)
    assert [int(np.asarray(frame[p])[0, 0]) for p in range(3)] == [100, 60, 200]


# A direct call without depthd or dbitPS: a missing depthd is the source depth
# (the container depth when only the sample type and dbitPS are named), a
# missing dbitPS follows depthd; both before the checks that read them.
@pytest.mark.parametrize(
    "fmt, kw, out_fmt, luma",
    [
        (vs.YUV420P8, dict(), vs.YUV420P8, " x  16 max  235 min "),
        (vs.YUV420P8, dict(depthd=32), vs.YUV420PS, " x  0.0045662100456621 *  -0.0730593607305936 + "),
        (vs.YUV420P8, dict(depthd=6, clamp=False), vs.YUV420P8, " x  0.2465753424657534 *  0.054794520547945424 + "),
        (vs.YUV420P8, dict(sample=vs.INTEGER, dbitPS=10, clamp=False), vs.YUV420P10, " x  4.0 * "),
        (vs.YUV420P8, dict(sample=vs.FLOAT, dbitPS=32), vs.YUV420PS,
         " x  0.0045662100456621 *  -0.0730593607305936 + "),
        (vs.YUV420P16, dict(sample=vs.INTEGER, clamp=False), vs.YUV420P16, ""),
    ],
)
def test_defaults_without_depthd_or_dbitps(ctx, fmt, kw, out_fmt, luma):
    out = ctx._quantization_conversion(blank(fmt), **kw)
    assert out.format.id == out_fmt
    assert exprs(out)[0] == luma


def test_missing_dbitps_reports_the_container_it_would_use(ctx):
    with pytest.raises(ValueError) as info:
        ctx._quantization_conversion(blank(vs.YUV420P8), sample=vs.FLOAT)
    assert str(info.value) == "_quantization_conversion: 8-bit float output is not supported!"


Q = "_quantization_conversion"


@pytest.mark.parametrize(
    "clip, kw, exc, message",
    [
        (None, dict(), TypeError, f'{Q}: "clip" must be a clip!'),
        (vs.YUV420P8, dict(depths=8.0), TypeError, f'{Q}: "depths" must be an int!'),
        (vs.YUV420P8, dict(fulls="yes"), TypeError, f'{Q}: "fulls" must be a bool!'),
        (vs.YUV420P8, dict(chroma=0.5), TypeError, f'{Q}: "chroma" must be a bool!'),
        (vs.YUV420P8, dict(depthd="16"), TypeError, f'{Q}: "depthd" must be an int!'),
        (vs.YUV420P8, dict(sample=1.0), TypeError, f'{Q}: "sample" must be an int!'),
        (vs.YUV420P8, dict(sample=2), ValueError, f'{Q}: "sample" must be either 0(vs.INTEGER) or 1(vs.FLOAT)!'),
        (vs.YUV420P8, dict(depthd=17), ValueError, f"{Q}: 17-bit integer output is not supported!"),
        (vs.YUV420P8, dict(depthd=16, dbitPS=17), ValueError, f"{Q}: 17-bit integer output is not supported!"),
        (vs.YUV420P8, dict(depthd=16, dbitPS=0), ValueError, f"{Q}: 0-bit integer output is not supported!"),
        (vs.YUV420P8, dict(sample=1, dbitPS=24), ValueError, f"{Q}: 24-bit float output is not supported!"),
        (vs.YUV420P8, dict(depthd=16, dbitPS=16.0), TypeError, f'{Q}: "dbitPS" must be an int!'),
        (vs.YUV420P8, dict(fulld=[1]), TypeError, f'{Q}: "fulld" must be a bool!'),
        (vs.YUV420P8, dict(clamp="no"), TypeError, f'{Q}: "clamp" must be a bool!'),
        (vs.YUV420P8, dict(mode=1.0), TypeError, f'{Q}: "mode" must be an int!'),
        # the earlier step wins
        (vs.YUV420P8, dict(depths="8", fulls="x", mode=1.0), TypeError, f'{Q}: "depths" must be an int!'),
        (vs.YUV420P8, dict(depthd=17, fulld="x"), ValueError, f"{Q}: 17-bit integer output is not supported!"),
        (vs.YUV420P8, dict(fulld="x", clamp="y", dbitPS=2.5, mode="z"), TypeError, f'{Q}: "fulld" must be a bool!'),
        (vs.YUV420P8, dict(clamp="y", dbitPS=2.5, mode="z"), TypeError, f'{Q}: "clamp" must be a bool!'),
        # errors of the parameter sets carry the caller's name
        (vs.YUV420P8, dict(depthd=0, dbitPS=8, funcName="Caller"), ValueError,
         'Caller: "depth" should not be less than 1!'),
    ],
)
def test_conversion_messages(ctx, clip, kw, exc, message):
    src = 5 if clip is None else blank(clip)
    with pytest.raises(exc) as info:
        ctx._quantization_conversion(src, **kw)
    assert str(info.value) == message


@pytest.mark.parametrize(
    "kw, exc, message",
    [
        (dict(depth=0), ValueError, '_quantization_parameters: "depth" should not be less than 1!'),
        (dict(depth=-3, sample=2), ValueError, '_quantization_parameters: "depth" should not be less than 1!'),
        (dict(sample=2), ValueError, '_quantization_parameters: Unsupported "sample" specified!'),
        (dict(sample="0", funcName="F"), ValueError, 'F: Unsupported "sample" specified!'),
        (dict(depth="8"), TypeError, '_quantization_parameters: "depth" must be an int!'),
        (dict(depth=63), ValueError, '_quantization_parameters: "depth" of integer samples must not exceed 62!'),
    ],
)
def test_parameter_messages(ctx, kw, exc, message):
    with pytest.raises(exc) as info:
        ctx._quantization_parameters(**kw)
    assert str(info.value) == message
