"""A complete options object for main() and orvolib._context(), with per-group overrides."""

from __future__ import annotations

from types import SimpleNamespace

GROUPS = {
    "nr": dict(d=1, a=2, s=4, hy=1.2, hc=1.0, hy2=0.6, hc2=None, device_type="cpu", device_id=0),
    "f3kdb": dict(f3str=0.5),
    "gaussain": dict(bsigma=1.5, dgmode=11, pdgp=1.5),
    "aamod": dict(aakernel=1, cycle=1, eesigma=1.0, elsigma=1.0, Text_Protect=False),
    "dbmod": dict(left=0.3, right=0.8, anc_x=0.5, anc_y=0.5, dbsty=1.0, dbstc=1.0, range1=15, range2=25,
                  range3=31, thr=0.6, thc=0.5, est=1, dbamp=1.0, chroma=True, tp=1, Time_domain_p=False),
    "dering": dict(rbias=1, drgamma=1.5, drrx=2, dramp=1.0, limited_dering=False),
    "linedarken": dict(Line_Darken=False, ldamp=0.5, limit=8, thrs=4),
    "warp": dict(Warpline=False, wthresh=128, wblur=2, wdepth=16, wplane=0),
    "post_wf2x": {f"v{i}": 0 for i in range(9)},
    "masks": dict(mainsigma=1.5, mainhigh=20, mainlow=10, glmgama=0.6, glmest1=299.52, glmest2=-1.5,
                  **{f"cm{i}": 0 for i in range(8)}),
    "misc": dict(VSMaxPlaneNum=3, debugmode=False),
}


def make_options(**overrides) -> SimpleNamespace:
    """Options with the given groups replaced (a dict) or updated (values by name via `<group>__<name>`)."""
    groups = {name: dict(values) for name, values in GROUPS.items()}
    for key, value in overrides.items():
        if "__" in key:
            group, name = key.split("__", 1)
            groups[group][name] = value
        else:
            groups[key] = value
    return SimpleNamespace(**groups)
