"""GetPlane, scale and SetColorSpace on real clips."""

import numpy as np
import pytest
import vapoursynth as vs

core = vs.core


@pytest.fixture
def yuv():
    return core.std.BlankClip(width=64, height=48, format=vs.YUV420P16, color=[1000, 2000, 3000], length=2)


@pytest.mark.parametrize("plane, size, value", [(None, (64, 48), 1000), (0, (64, 48), 1000), (1, (32, 24), 2000),
                                                (2, (32, 24), 3000), (True, (32, 24), 2000)])
def test_getplane(ctx, yuv, plane, size, value):
    out = ctx.GetPlane(yuv, plane) if plane is not None else ctx.GetPlane(yuv)
    assert out.format.id == vs.GRAY16
    assert (out.width, out.height) == size
    assert np.all(np.asarray(out.get_frame(0)[0]) == value)


@pytest.mark.parametrize(
    "clip, plane, exc, message",
    [
        ("yuv", 3, ValueError, 'GetPlane: valid range of "plane" is [0, 3)!'),
        ("yuv", -1, ValueError, 'GetPlane: valid range of "plane" is [0, 3)!'),
        ("gray", 1, ValueError, 'GetPlane: valid range of "plane" is [0, 1)!'),
        ("yuv", 1.0, TypeError, 'GetPlane: "plane" must be an int!'),
        ("yuv", "0", TypeError, 'GetPlane: "plane" must be an int!'),
        (None, 0, TypeError, 'GetPlane: "clip" must be a clip!'),
    ],
)
def test_getplane_errors(ctx, yuv, clip, plane, exc, message):
    clips = {"yuv": yuv, "gray": core.std.BlankClip(format=vs.GRAY8), None: 5}
    with pytest.raises(exc) as info:
        ctx.GetPlane(clips[clip], plane)
    assert str(info.value) == message


@pytest.mark.parametrize(
    "val, d, expected",
    [(16, 16, 4112), (235, 16, 60395), (255, 10, 1023), (128, 10, 513), (16, 8, 16), (235.0, 16, 60395.0),
     (100.5, 16, 25828.0), (0, 12, 0)],
)
def test_scale(ctx, val, d, expected):
    out = ctx.scale(val, d)
    assert out == expected and type(out) is type(expected)


def test_scale_non_number_fails_in_host_arithmetic(ctx):
    with pytest.raises(TypeError):
        ctx.scale(None, 16)


def props(clip):
    return dict(clip.get_frame(0).props)


def test_setcolorspace_writes_values(ctx, yuv):
    out = ctx.SetColorSpace(yuv, ChromaLocation=2, Primaries=1, Matrix=99, Transfer=13)
    p = props(out)
    assert (p["_ChromaLocation"], p["_Primaries"], p["_Matrix"], p["_Transfer"]) == (2, 1, 99, 13)


@pytest.mark.parametrize("value, stored", [(0, vs.RANGE_FULL), (1, vs.RANGE_LIMITED)])
def test_colorrange_old_numbering_reads_back_right(ctx, yuv, value, stored):
    # 0 means full and 1 limited; current frames carry _Range with H.273 numbering.
    out = ctx.SetColorSpace(yuv, ColorRange=value)
    assert props(out)["_Range"] == stored
    # The core's resizer reads the tag the same way: full range luma 0 maps to RGB 0.
    black = ctx.SetColorSpace(core.std.BlankClip(width=16, height=16, format=vs.YUV444P8, color=[16, 128, 128]),
                              ColorRange=value)
    rgb = black.resize.Point(format=vs.RGB24, matrix_in_s="709")
    assert np.asarray(rgb.get_frame(0)[0])[0, 0] == (16 if value == 0 else 0)


def test_bool_true_keeps_and_false_deletes(ctx, yuv):
    tagged = ctx.SetColorSpace(yuv, ChromaLocation=1, ColorRange=1, Matrix=1)
    assert ctx.SetColorSpace(tagged, ColorRange=True, Matrix=True) is tagged
    cleared = ctx.SetColorSpace(tagged, ChromaLocation=False, ColorRange=False, Matrix=False)
    p = props(cleared)
    assert not {"_ChromaLocation", "_Range", "_ColorRange", "_Matrix"} & set(p)


def test_all_none_returns_clip_itself(ctx, yuv):
    assert ctx.SetColorSpace(yuv) is yuv


@pytest.mark.parametrize(
    "kwargs, exc, message",
    [
        (dict(ChromaLocation=6), ValueError, ': valid range of "ChromaLocation" is [0, 5]!'),
        (dict(ChromaLocation=-1), ValueError, ': valid range of "ChromaLocation" is [0, 5]!'),
        (dict(ChromaLocation="left"), TypeError, ': "ChromaLocation" must be an int or a bool!'),
        (dict(ColorRange=2), ValueError, ': valid range of "ColorRange" is [0, 1]!'),
        (dict(ColorRange=0.0), TypeError, ': "ColorRange" must be an int or a bool!'),
        (dict(Primaries=1.5), TypeError, ': "Primaries" must be an int or a bool!'),
        (dict(Matrix="709"), TypeError, ': "Matrix" must be an int or a bool!'),
        (dict(Transfer=[1]), TypeError, ': "Transfer" must be an int or a bool!'),
        # the first parameter is checked first
        (dict(ChromaLocation=9, ColorRange="x"), ValueError, ': valid range of "ChromaLocation" is [0, 5]!'),
    ],
)
def test_setcolorspace_errors(ctx, yuv, kwargs, exc, message):
    with pytest.raises(exc) as info:
        ctx.SetColorSpace(yuv, **kwargs)
    assert str(info.value) == "SetColorSpace" + message


def test_setcolorspace_rejects_non_clip(ctx):
    with pytest.raises(TypeError, match='^SetColorSpace: "clip" must be a clip!$'):
        ctx.SetColorSpace(None, Matrix=1)
