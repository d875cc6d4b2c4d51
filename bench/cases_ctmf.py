"""CTMF beside the core's 3x3 median (radius 1); larger radii on their own (no core equivalent)."""

import vapoursynth as vs

from common import Case, picture

CASES = []
for _bits, _fmt in ((8, vs.GRAY8), (16, vs.GRAY16)):
    _src = lambda core, f=_fmt: picture(f)  # noqa: E731
    _g = f"CTMF radius 1 vs Median, 1080p {_bits}-bit"
    CASES += [
        Case(_g, "std.Median", lambda core, s=_src: s(core).std.Median(), reference=True),
        Case(_g, "ctmf.CTMF(radius=1)", lambda core, s=_src: s(core).ctmf.CTMF(radius=1)),
    ]
    _g = f"CTMF larger radii, 1080p {_bits}-bit"
    CASES += [Case(_g, f"ctmf.CTMF(radius={r})", lambda core, s=_src, r=r: s(core).ctmf.CTMF(radius=r))
              for r in (2, 3, 4)]
