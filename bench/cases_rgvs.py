"""RemoveGrain beside the core filters that compute the same thing."""

import vapoursynth as vs

from common import Case, picture

_KERNEL = [1, 2, 1, 2, 4, 2, 1, 2, 1]
# mode, the core filter's short name, its label and call (12 computes what 11 does; 19 is the ring mean)
_VERSUS = [
    (4, "Median", "std.Median", lambda c: c.std.Median()),
    (11, "Convolution", "std.Convolution([1,2,1,2,4,2,1,2,1])", lambda c: c.std.Convolution(_KERNEL)),
    (20, "Convolution", "std.Convolution([1]*9)", lambda c: c.std.Convolution([1] * 9)),
    (12, "Convolution", "std.Convolution([1,2,1,2,4,2,1,2,1])", lambda c: c.std.Convolution(_KERNEL)),
    (19, "Convolution", "std.Convolution([1,1,1,1,0,1,1,1,1])",
     lambda c: c.std.Convolution([1, 1, 1, 1, 0, 1, 1, 1, 1])),
]

CASES = []
for _bits, _fmt in ((8, vs.GRAY8), (16, vs.GRAY16)):
    for _mode, _short, _label, _ref in _VERSUS:
        _g = f"RemoveGrain {_mode} vs {_short}, 1080p {_bits}-bit"
        CASES += [
            Case(_g, _label, lambda core, f=_fmt, r=_ref: r(picture(f)), reference=True),
            Case(_g, f"rgvs.RemoveGrain(mode={_mode})",
                 lambda core, f=_fmt, m=_mode: picture(f).rgvs.RemoveGrain(m)),
        ]
