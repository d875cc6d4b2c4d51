"""eedi2.EEDI2 (field=1, defaults) beside znedi3, the other interpolator of the anti-aliasing stage."""

import vapoursynth as vs
from common import Case, picture


def _eedi2(fmt):
    return lambda core: core.eedi2.EEDI2(picture(fmt), field=1)


def _nnedi3(fmt):
    return lambda core: core.znedi3.nnedi3(picture(fmt), field=1, dh=True, pscrn=2, qual=2, nsize=3, nns=2)


CASES = []
for _fmt, _name in ((vs.GRAY8, "GRAY8"), (vs.GRAY16, "GRAY16")):
    _group = f"line doubling 1920x1080 {_name}"
    CASES.append(Case(_group, f"znedi3.nnedi3 field=1 dh {_name}", _nnedi3(_fmt), reference=True))
    CASES.append(Case(_group, f"eedi2.EEDI2 field=1 {_name}", _eedi2(_fmt)))
