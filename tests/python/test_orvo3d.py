"""The BM3D / KNLMeansCL denoise wrapper."""

import numpy as np
import pytest
import vapoursynth as vs
from conftest import as_list, clip_from_planes, graph_nodes, need

core = vs.core


def blank(fmt=vs.YUV420P16, w=64, h=48):
    return core.std.BlankClip(format=fmt, width=w, height=h, length=2)


@pytest.mark.parametrize("w, h, expected", [(1920, 1080, 6), (1280, 720, 5), (1282, 722, 6), (960, 540, 4),
                                            (962, 540, 5), (1920, 540, 5), (640, 720, 5), (64, 48, 4)])
def test_bm_range_from_frame_size(ctx, w, h, expected):
    out = ctx.orvo3d(blank(w=w, h=h), nrchroma=1.6)
    basics = graph_nodes(out, "bm3d", "Basic")
    luma = [n for n in basics if as_list(n._inputs["sigma"])[0] != 0]
    chroma = [n for n in basics if as_list(n._inputs["sigma"])[0] == 0]
    assert [n._inputs["bm_range"] for n in luma] == [expected]
    assert [n._inputs["bm_range"] for n in chroma] == [expected - 2]
    for n in graph_nodes(out, "bm3d", "Final"):
        assert n._inputs["matrix"] == 100 and n._inputs["profile"] == "np"


def test_knlm_path_below_1_6_passes_device_through(ctx):
    need("knlm")
    out = ctx.orvo3d(blank(), nrluma=2.0, nrchroma=1.15, d=0, a=1, s=2, device_type="cpu", device_id=0)
    [knlm] = graph_nodes(out, "knlm", "KNLMeansCL")
    args = knlm._inputs
    assert (args["d"], args["a"], args["s"], args["h"], args["wmode"]) == (0, 1, 2, 1.15, 2)
    assert (args["device_type"], args["device_id"], args["channels"]) == ("cpu", 0, "UV")
    assert not graph_nodes(out, "fmtc", "resample")
    [luma_basic] = graph_nodes(out, "bm3d", "Basic")
    assert as_list(luma_basic._inputs["sigma"]) == [2.0, 0, 0]


def test_gpu_device_fails_at_creation_without_a_gpu(ctx):
    need("knlm")
    kinds = {}
    for dt in ("gpu", "cpu"):
        try:
            core.knlm.KNLMeansCL(blank(), channels="UV", device_type=dt)
            kinds[dt] = True
        except vs.Error:
            kinds[dt] = False
    if kinds["gpu"]:
        pytest.skip("this machine has a GPU")
    with pytest.raises(vs.Error, match="KNLMeansCL"):
        ctx.orvo3d(blank())  # the default device_type is "gpu"


@pytest.mark.parametrize("nrchroma, sigma", [(1.6, 1.0), (3.6, 2.0), (2, 1.2), (1.65, 1.02)])
def test_bm3d_chroma_path(ctx, nrchroma, sigma):
    need("fmtc")
    out = ctx.orvo3d(blank(), nrchroma=nrchroma)
    assert not graph_nodes(out, "knlm")
    [resample] = graph_nodes(out, "fmtc", "resample")
    args = resample._inputs
    assert (args["w"], args["h"], args["sx"], args["css"], as_list(args["planes"])) == (32, 24, -0.5, "444",
                                                                                        [3, 2, 2])
    chroma = [n for n in graph_nodes(out, "bm3d", "Basic") if as_list(n._inputs["sigma"])[0] == 0]
    assert as_list(chroma[0]._inputs["sigma"]) == [0, sigma, sigma]


@pytest.mark.parametrize(
    "fmt, path_to_16",
    [(vs.YUV420P16, False), (vs.YUV420P8, True), (vs.YUV444PS, True)],
)
def test_yuv_input_reaches_knlm_at_16_bits(ctx, fmt, path_to_16):
    need("knlm")
    src = blank(fmt)
    out = ctx.orvo3d(src, device_type="cpu")
    assert out.format.id == fmt
    [knlm] = graph_nodes(out, "knlm", "KNLMeansCL")
    clip_in = knlm.dependencies[0]
    assert clip_in.format.id == (vs.YUV420P16 if fmt != vs.YUV444PS else vs.YUV444P16)
    assert (clip_in == src) != path_to_16


@pytest.mark.parametrize("fmt", [vs.YUV420P16, vs.YUV420P8, vs.RGB24, vs.GRAY8, vs.YUV444PS, vs.RGBS])
def test_output_format_follows_input(ctx, fmt):
    need("fmtc")
    src = blank(fmt)
    out = ctx.orvo3d(src, nrchroma=1.6)
    assert out.format.id == fmt and (out.width, out.height) == (64, 48)
    out.get_frame(0)
    if fmt == vs.RGBS:
        assert graph_nodes(out, "bm3d", "RGB2OPP")[0].dependencies[0] == src


def test_profile_must_be_a_string(ctx):
    with pytest.raises(TypeError, match="profile.*str.*int"):
        ctx.orvo3d(blank(), profile=3)
    ctx.orvo3d(blank(), profile=None, nrchroma=1.6)


# KNLMeansCL with h around 1 only smooths light chroma noise; BM3D takes a stronger one.
@pytest.mark.parametrize("nrchroma, chroma_sd, device", [(1.15, 150, "cpu"), (1.15, 150, "auto"), (6.0, 600, None)])
def test_noise_goes_down(ctx, nrchroma, chroma_sd, device):
    need("knlm")
    need("fmtc")
    rng = np.random.default_rng(7)
    w, h = 64, 64
    planes = [np.clip(rng.normal(mean, sd, size=shape), 0, 65535).astype(np.uint16)
              for mean, sd, shape in ((30000, 1200, (h, w)), (32768, chroma_sd, (h // 2, w // 2)),
                                      (32768, chroma_sd, (h // 2, w // 2)))]
    noisy = clip_from_planes(planes, vs.YUV420P16, length=3)
    out = ctx.orvo3d(noisy, nrluma=10.0, nrchroma=nrchroma, device_type=device or "gpu")
    f = out.get_frame(1)
    for p, before in enumerate(planes):
        after = np.asarray(f[p]).astype(np.float64)
        assert after.std() < 0.6 * before.std(), p
        assert abs(after.mean() - before.mean()) < 300


# The conversions are BT.709, limited range, whatever the source's tags say; the current resizer lets
# tags override its *_in arguments, so a BT.601 or full-range tag used to shift the denoised luma.
@pytest.mark.parametrize("tags", [dict(_Matrix=6), dict(_Matrix=5, _Range=1), dict(_Range=1)], ids=str)
@pytest.mark.parametrize("nrchroma", [1.15, 2.0])
def test_source_tags_do_not_change_the_result(ctx, tags, nrchroma):
    need("knlm")
    need("fmtc")
    rng = np.random.default_rng(3)
    planes = [rng.integers(8000, 50000, size=shape, dtype=np.uint16) for shape in ((48, 64), (24, 32), (24, 32))]
    src = clip_from_planes(planes, vs.YUV420P16)
    plain = ctx.orvo3d(src, 3.0, nrchroma, device_type="cpu").get_frame(0)
    tagged = ctx.orvo3d(src.std.SetFrameProps(**tags), 3.0, nrchroma, device_type="cpu").get_frame(0)
    for p in range(3):
        np.testing.assert_array_equal(np.asarray(tagged[p]), np.asarray(plain[p]))
