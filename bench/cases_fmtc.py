"""fmtc.resample and fmtc.bitdepth beside the core resizer doing the same work."""

import vapoursynth as vs

from common import Case, picture


def _src(w, h):
    return picture(vs.YUV420P16, w, h)


CASES = [
    Case("fmtc.resample 1920x1080 -> 1280x720 bicubic 16-bit", "fmtc.resample",
         lambda core: core.fmtc.resample(_src(1920, 1080), 1280, 720, kernel="bicubic")),
    Case("fmtc.resample 1920x1080 -> 1280x720 bicubic 16-bit", "fmtc.resample cpuopt=0 (scalar)",
         lambda core: core.fmtc.resample(_src(1920, 1080), 1280, 720, kernel="bicubic", cpuopt=0)),
    Case("fmtc.resample 1920x1080 -> 1280x720 bicubic 16-bit", "resize.Bicubic",
         lambda core: core.resize.Bicubic(_src(1920, 1080), 1280, 720, filter_param_a=1 / 3, filter_param_b=1 / 3),
         reference=True),
    Case("fmtc.resample 1280x720 -> 1920x1080 bicubic 16-bit", "fmtc.resample",
         lambda core: core.fmtc.resample(_src(1280, 720), 1920, 1080, kernel="bicubic")),
    Case("fmtc.resample 1280x720 -> 1920x1080 bicubic 16-bit", "fmtc.resample cpuopt=0 (scalar)",
         lambda core: core.fmtc.resample(_src(1280, 720), 1920, 1080, kernel="bicubic", cpuopt=0)),
    Case("fmtc.resample 1280x720 -> 1920x1080 bicubic 16-bit", "resize.Bicubic",
         lambda core: core.resize.Bicubic(_src(1280, 720), 1920, 1080, filter_param_a=1 / 3, filter_param_b=1 / 3),
         reference=True),
    Case("fmtc.bitdepth 16 -> 8 error diffusion 1920x1080", "fmtc.bitdepth dmode=3",
         lambda core: core.fmtc.bitdepth(_src(1920, 1080), bits=8, dmode=3)),
    Case("fmtc.bitdepth 16 -> 8 error diffusion 1920x1080", "resize.Bicubic error_diffusion",
         lambda core: core.resize.Bicubic(_src(1920, 1080), format=vs.YUV420P8, dither_type="error_diffusion"),
         reference=True),
    Case("fmtc.bitdepth 16 -> 8 rounding 1920x1080", "fmtc.bitdepth dmode=1",
         lambda core: core.fmtc.bitdepth(_src(1920, 1080), bits=8, dmode=1)),
    Case("fmtc.bitdepth 16 -> 8 rounding 1920x1080", "resize.Point, no dither",
         lambda core: core.resize.Point(_src(1920, 1080), format=vs.YUV420P8, dither_type="none"),
         reference=True),
    Case("fmtc.bitdepth rounding, other depths 1920x1080", "16 -> 10 dmode=1",
         lambda core: core.fmtc.bitdepth(_src(1920, 1080), bits=10, dmode=1)),
    Case("fmtc.bitdepth rounding, other depths 1920x1080", "8 -> 16 dmode=1 full range",
         lambda core: core.fmtc.bitdepth(picture(vs.YUV420P8), bits=16, dmode=1, fulls=1, fulld=1)),
]
for _fmt, _label in ((vs.YUV420P16, "16-bit"), (vs.YUV420P8, "8-bit")):
    CASES += [
        Case(f"fmtc.resample 4:2:0 -> 4:4:4 1920x1080 {_label}", "fmtc.resample css=444",
             lambda core, f=_fmt: core.fmtc.resample(picture(f), css="444")),
        # fmtc hands back 16 bits for integer input, and its default kernel is Spline36.
        Case(f"fmtc.resample 4:2:0 -> 4:4:4 1920x1080 {_label}", "resize.Spline36 to 4:4:4 16-bit",
             lambda core, f=_fmt: core.resize.Spline36(picture(f), format=vs.YUV444P16),
             reference=True),
    ]
