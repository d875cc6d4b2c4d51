"""f3kdb.Deband at 1080p: no core equivalent, the figures are a baseline."""

import vapoursynth as vs

from common import Case, picture


def _deband(fmt, **kw):
    return lambda core: core.f3kdb.Deband(picture(fmt), **kw)


CASES = [
    Case("f3kdb.Deband 1080p 8-bit", "YUV420P8 defaults (grain, Floyd-Steinberg)", _deband(vs.YUV420P8)),
    Case("f3kdb.Deband 1080p 8-bit", "YUV420P8 15,96,64,64,0,0 -> 16 bit",
         lambda core: core.f3kdb.Deband(picture(vs.YUV420P8), 15, 96, 64, 64, 0, 0, output_depth=16)),
    Case("f3kdb.Deband 1080p 8-bit", "YUV420P8 defaults, opt=0 (scalar)", _deband(vs.YUV420P8, opt=0)),
    Case("f3kdb.Deband 1080p 8-bit", "YUV420P8 sample_mode=1, no grain",
         _deband(vs.YUV420P8, grainy=0, grainc=0, sample_mode=1)),
    Case("f3kdb.Deband 1080p 16-bit", "YUV420P16 defaults (grain)", _deband(vs.YUV420P16)),
    Case("f3kdb.Deband 1080p 16-bit", "YUV420P16 defaults, no grain", _deband(vs.YUV420P16, grainy=0, grainc=0)),
    Case("f3kdb.Deband 1080p 16-bit", "YUV420P16 defaults, opt=0 (scalar)", _deband(vs.YUV420P16, opt=0)),
    Case("f3kdb.Deband 1080p 16-bit", "YUV420P16 15,96,64,64,0,0",
         lambda core: core.f3kdb.Deband(picture(vs.YUV420P16), 15, 96, 64, 64, 0, 0, output_depth=16)),
    Case("f3kdb.Deband 1080p 16-bit", "YUV420P16 -> 8 bit, Floyd-Steinberg",
         _deband(vs.YUV420P16, grainy=0, grainc=0, output_depth=8)),
]
