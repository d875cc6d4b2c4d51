"""RemoveGrain beside the core filters that compute the same thing."""

import vapoursynth as vs

from common import Case, picture

CASES = []
_KERNEL = [1, 2, 1, 2, 4, 2, 1, 2, 1]
_BOX = [1] * 9
_RING = [1, 1, 1, 1, 0, 1, 1, 1, 1]

for _bits, _fmt in ((8, vs.GRAY8), (16, vs.GRAY16)):
    _src = lambda core, f=_fmt: picture(f)  # noqa: E731
    _g = f"RemoveGrain 4 vs Median, 1080p {_bits}-bit"
    CASES += [
        Case(_g, "std.Median", lambda core, s=_src: s(core).std.Median(), reference=True),
        Case(_g, "rgvs.RemoveGrain(mode=4)", lambda core, s=_src: s(core).rgvs.RemoveGrain(4)),
    ]
    _g = f"RemoveGrain 11 vs Convolution, 1080p {_bits}-bit"
    CASES += [
        Case(_g, "std.Convolution([1,2,1,2,4,2,1,2,1])",
             lambda core, s=_src: s(core).std.Convolution(_KERNEL), reference=True),
        Case(_g, "rgvs.RemoveGrain(mode=11)", lambda core, s=_src: s(core).rgvs.RemoveGrain(11)),
    ]
    _g = f"RemoveGrain 20 vs Convolution, 1080p {_bits}-bit"
    CASES += [
        Case(_g, "std.Convolution([1]*9)", lambda core, s=_src: s(core).std.Convolution(_BOX), reference=True),
        Case(_g, "rgvs.RemoveGrain(mode=20)", lambda core, s=_src: s(core).rgvs.RemoveGrain(20)),
    ]
    # Mode 12 computes what 11 does; 19 is the mean of the eight neighbours.
    _g = f"RemoveGrain 12 vs Convolution, 1080p {_bits}-bit"
    CASES += [
        Case(_g, "std.Convolution([1,2,1,2,4,2,1,2,1])",
             lambda core, s=_src: s(core).std.Convolution(_KERNEL), reference=True),
        Case(_g, "rgvs.RemoveGrain(mode=12)", lambda core, s=_src: s(core).rgvs.RemoveGrain(12)),
    ]
    _g = f"RemoveGrain 19 vs Convolution, 1080p {_bits}-bit"
    CASES += [
        Case(_g, "std.Convolution([1,1,1,1,0,1,1,1,1])",
             lambda core, s=_src: s(core).std.Convolution(_RING), reference=True),
        Case(_g, "rgvs.RemoveGrain(mode=19)", lambda core, s=_src: s(core).rgvs.RemoveGrain(19)),
    ]
