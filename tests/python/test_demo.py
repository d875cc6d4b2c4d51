"""The demo's pictures, degradations and measurements on a tiny clip."""

import math

import numpy as np
import pytest
import vapoursynth as vs

demo = pytest.importorskip("orvo.demo")
pytest.importorskip("skimage")


@pytest.fixture(scope="module")
def clean():
    art = demo.line_art(64 + 6, 48 + 3)
    return demo.clip_from_rgb(demo.pan(art, 64, 48, 4))


def test_sample_clips():
    photo = demo.photograph()
    assert photo.ndim == 3 and photo.shape[2] == 3 and 0 <= photo.min() < photo.max() <= 1
    frames = demo.pan(photo, 96, 64, 5, step=(2, 1))
    assert [f.shape for f in frames] == [(64, 96, 3)] * 5
    np.testing.assert_array_equal(frames[1][:-1, :-2], frames[0][1:, 2:])  # the window moves by (2, 1)
    art = demo.line_art(80, 60)
    dark = (art.max(axis=2) < 0.2).mean()
    assert 0.01 < dark < 0.3  # outlines present, not everywhere


@pytest.mark.parametrize(
    "degrade, low, high",
    [
        (lambda c: demo.add_noise(c, 4), 35.0, 37.0),  # sigma 4 on the 8-bit scale: 20 log10(255 / 4) = 36.1 dB
        (lambda c: demo.add_noise(c, 8), 29.5, 31.0),
        (demo.ring, 18.0, 32.0),
        (lambda c: demo.band(c, 8), 39.0, 43.0),  # uniform error of 8 steps: 20 log10(255 / (8 / sqrt 12)) = 40.9
        (lambda c: demo.jpeg(c, 20), 22.0, 34.0),
        (demo.alias, 17.0, 26.0),
    ],
)
def test_degradations_are_measured(clean, degrade, low, high):
    degraded = degrade(clean)
    assert (degraded.format.id, degraded.width, degraded.height, degraded.num_frames) == \
        (vs.YUV420P16, clean.width, clean.height, clean.num_frames)
    psnr, ssim = demo.measure(clean, degraded)
    assert low < psnr < high and 0 < ssim < 1


def test_measure_and_table(clean):
    assert demo.measure(clean, clean) == (math.inf, 1.0)
    mild, strong = demo.measure(clean, demo.add_noise(clean, 2)), demo.measure(clean, demo.add_noise(clean, 6))
    assert mild[0] > strong[0] and mild[1] > strong[1]
    text = demo.table([demo.Row("lineart", "noise", "degraded", *strong),
                       demo.Row("lineart", "noise", "plain BM3D", *mild, 1.0, baseline=True),
                       demo.Row("lineart", "noise", "preset default", note="chain not available")])
    lines = text.splitlines()
    assert len(lines) == 5
    assert lines[2].startswith(f"| lineart | noise | degraded | {strong[0]:.2f} | {strong[0] - mild[0]:+.2f} |")
    assert lines[3].startswith(f"| lineart | noise | plain BM3D | {mild[0]:.2f} | – |")
    assert lines[4].endswith("| – | – | – | – | chain not available |")


def test_matched_bm3d_baseline_removes_the_noise(clean):
    noisy = demo.add_noise(clean, 3)
    before, after = demo.measure(clean, noisy)[0], demo.measure(clean, demo.bm3d_pass(noisy, 6, "cpu"))[0]
    assert after > before + 2
