"""warp.AWarpSharp2 at 1080p: no core equivalent, the figures are a baseline."""

import vapoursynth as vs

from common import Case, picture


def _warp(fmt, *args, **kw):
    return lambda core: core.warp.AWarpSharp2(picture(fmt), *args, **kw)


CASES = []
for _bits, _fmt in ((8, vs.YUV420P8), (16, vs.YUV420P16)):
    _g = f"warp.AWarpSharp2 1080p {_bits}-bit"
    CASES += [
        Case(_g, "defaults (thresh=128, blur=2, type=0, depth=16)", _warp(_fmt)),
        Case(_g, "thresh=128, blur=3, type=1, depth=16", _warp(_fmt, 128, 3, 1, 16)),
        Case(_g, "thresh=128, blur=2, type=0, depth=16, chroma=1", _warp(_fmt, 128, 2, 0, 16, chroma=1)),
        Case(_g, "blur=2, type=1, depth=8, planes=0", _warp(_fmt, blur=2, type=1, depth=8, planes=0)),
    ]
