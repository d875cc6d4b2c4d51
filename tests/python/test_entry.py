"""Module import, main()'s input check and the reading of the option groups."""

import subprocess
import sys
from collections import OrderedDict

import pytest
import vapoursynth as vs
from options import GROUPS, make_options

from orvo import orvolib

core = vs.core


def clip(fmt=vs.YUV420P16):
    return core.std.BlankClip(width=64, height=48, format=fmt, length=2)


def test_import_sets_traceback_limit_and_binds_siblings():
    code = "import sys; import orvo.orvolib as m; print(sys.tracebacklimit, m.ToYUV.__module__, m.ToRGB.__name__)"
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True).stdout.split()
    assert out == ["0", "orvo.mvsfunc1610", "ToRGB"]


def test_main_signature():
    with pytest.raises(TypeError):
        orvolib.main(clip())
    with pytest.raises(TypeError):
        orvolib.main(clip(), make_options(), 1)


@pytest.mark.parametrize("fmt", [vs.YUV420P8, vs.YUV444P16, vs.YUV420P10, vs.GRAY16, vs.RGB48, vs.YUV420PS])
def test_wrong_format_refused_before_options_are_read(fmt):
    # An options object without any group: the format check must come first.
    with pytest.raises(TypeError, match=r"^Only YUV420P16 format input is available\.$"):
        orvolib.main(clip(fmt), object())


@pytest.mark.parametrize("src", [None, 3, "clip", core.std.BlankClip(format=vs.YUV420P16, varformat=True)])
def test_non_clip_or_variable_format_refused(src):
    with pytest.raises(TypeError, match="Only YUV420P16"):
        orvolib.main(src, make_options())


def test_main_returns_the_chain_in_the_source_format():
    src = clip()
    res = orvolib.main(src, make_options())
    assert (res.format.id, res.width, res.height, res.num_frames, res.fps) == (
        vs.YUV420P16, src.width, src.height, src.num_frames, src.fps)


@pytest.mark.parametrize("missing", list(GROUPS))
def test_missing_group_is_attribute_error(missing):
    opts = make_options()
    delattr(opts, missing)
    with pytest.raises(AttributeError, match=missing):
        orvolib._context(opts)


def test_missing_f3str_is_key_error():
    with pytest.raises(KeyError, match="f3str"):
        orvolib._context(make_options(f3kdb={"strength": 1.0}))


@pytest.mark.parametrize(
    "group, count",
    [("nr", 10), ("nr", 8), ("misc", 1), ("gaussain", 4), ("dbmod", 15), ("masks", 15), ("post_wf2x", 0)],
)
def test_wrong_value_count_is_value_error(group, count):
    expected = len(GROUPS[group])
    message = (f"too many values to unpack \\(expected {expected}\\)" if count > expected
               else f"not enough values to unpack \\(expected {expected}, got {count}\\)")
    with pytest.raises(ValueError, match=message):
        orvolib._context(make_options(**{group: {f"k{i}": i for i in range(count)}}))


def test_values_are_taken_by_position_not_by_key():
    gauss = OrderedDict([("x", 2.5), ("y", 4), ("z", 0.7)])
    ctx = orvolib._context(make_options(gaussain=gauss))
    assert ctx.bsigma == 2.5
    # values() is what is read: a mapping whose keys say otherwise still gives positions
    ctx = orvolib._context(make_options(gaussain={"pdgp": 9.0, "dgmode": 1, "bsigma": 3.0}))
    assert ctx.bsigma == 9.0


@pytest.mark.parametrize(
    "value, scaled",
    [(299.52, 29952), (299.529, 29952), (-1.5, -150), (3, 300), (0.289, 28), (-0.009, 0), (True, 100)],
)
def test_glmest_scaling_truncates(value, scaled):
    ctx = orvolib._context(make_options(masks__glmest1=value, masks__glmest2=value))
    assert ctx.glmest1 == scaled and type(ctx.glmest1) is int
    assert ctx.glmest2 == scaled


def test_context_keeps_option_values():
    ctx = orvolib._context(make_options(f3kdb={"f3str": 0.75}, masks__glmgama=0.8, misc__VSMaxPlaneNum=2))
    assert (ctx.f3str, ctx.glmgama, ctx.VSMaxPlaneNum) == (0.75, 0.8, 2)
    assert isinstance(ctx.core, (vs.Core, type(vs.core)))


@pytest.mark.parametrize(
    "hy, hc, hy2, hc2, expected",
    [
        (1, 1.5, 2, None, 2.0),  # 3.0 is capped
        (1, 1.5, 1, None, 1.5),
        (2, 1, 4, None, 2.0),  # exactly 2.0 is not above the cap
        (4, 1, 1, None, 0.25),
        (1, 1, 1, 0.7, 0.7),  # an explicit value is kept
    ],
)
def test_hc2_default(hy, hc, hy2, hc2, expected):
    value = orvolib._resolve_hc2(hy, hc, hy2, hc2)
    assert value == expected and isinstance(value, float)


def test_hc2_default_with_zero_hy_divides_by_zero():
    with pytest.raises(ZeroDivisionError):
        orvolib.main(clip(), make_options(nr__hy=0, nr__hc2=None))
    # with an explicit hc2 nothing is divided
    assert orvolib.main(clip(), make_options(nr__hy=0, nr__hc2=1.0)).format.id == vs.YUV420P16
