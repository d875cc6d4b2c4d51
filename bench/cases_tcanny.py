"""TCanny: the Gaussian blur beside std.Convolution with the same taps, and the edge modes alone."""

from __future__ import annotations

import math

import vapoursynth as vs
from common import Case, picture

SIGMA = 1.5  # the default: 11 taps


def _taps(sigma: float) -> list[float]:
    radius = max(int(sigma * 3 + 0.5), 1)
    w = [math.exp(-(k * k) / (2 * sigma * sigma)) for k in range(-radius, radius + 1)]
    return [v / sum(w) for v in w]


def _int_taps(sigma: float) -> list[int]:
    # Integer clips take integer coefficients (at most 1023); same shape, scaled.
    w = _taps(sigma)
    return [max(1, round(v / max(w) * 1023)) for v in w]


def _cases(fmt: int, label: str) -> list[Case]:
    group = f"TCanny blur sigma {SIGMA} 1080p {label}"
    src = lambda: picture(fmt)  # noqa: E731
    return [
        Case(group, "std.Convolution mode=hv, same taps",
             lambda core: src().std.Convolution(matrix=_int_taps(SIGMA), mode="hv"), reference=True),
        Case(group, "tcanny.TCanny mode=-1",
             lambda core: src().tcanny.TCanny(sigma=SIGMA, mode=-1)),
        Case(group, "tcanny.TCanny mode=-1 opt=1 (scalar)",
             lambda core: src().tcanny.TCanny(sigma=SIGMA, mode=-1, opt=1)),
        Case(f"TCanny edges 1080p {label}", "tcanny.TCanny mode=1 op=2 sigma=0.5",
             lambda core: src().tcanny.TCanny(sigma=0.5, mode=1, op=2)),
        Case(f"TCanny edges 1080p {label}", "tcanny.TCanny mode=0 (defaults)",
             lambda core: src().tcanny.TCanny()),
        Case(f"TCanny edges 1080p {label}", "tcanny.TCanny mode=0 sigma=1.0",
             lambda core: src().tcanny.TCanny(sigma=1.0)),
        Case(f"TCanny edges 1080p {label}", "tcanny.TCanny mode=1 (sigma 1.5)",
             lambda core: src().tcanny.TCanny(mode=1)),
    ]


CASES = _cases(vs.GRAY8, "8-bit") + _cases(vs.GRAY16, "16-bit")
