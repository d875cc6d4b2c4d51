"""Frames of our plugins on random in-range input, pinned by hash.

The clamps that keep out-of-range samples safe must not touch in-range output:
these hashes were taken from the plugins before the clamps existed. Run this file
as a script with a plugin folder to print the table for that build:

    python tests/python/test_plugins_in_range.py python/orvo/plugins
"""

import hashlib
import sys

import numpy as np
import pytest
import vapoursynth as vs

# Integer kernels, and float ones without library maths (their bits do not depend on libm).
CASES = {
    "ctmf r1 GRAY8": ("ctmf.CTMF", vs.GRAY8, {"radius": 1}),
    "ctmf r2 YUV420P10": ("ctmf.CTMF", vs.YUV420P10, {"radius": 2}),
    "ctmf r3 GRAY16": ("ctmf.CTMF", vs.GRAY16, {"radius": 3}),
    "ctmf r4 GRAY10": ("ctmf.CTMF", vs.GRAY10, {"radius": 4}),
    "ctmf r5 YUV444P9": ("ctmf.CTMF", vs.YUV444P9, {"radius": 5}),
    "ctmf r7 GRAY12": ("ctmf.CTMF", vs.GRAY12, {"radius": 7}),
    "ctmf r9 GRAY8": ("ctmf.CTMF", vs.GRAY8, {"radius": 9}),
    "ctmf r6 GRAY16": ("ctmf.CTMF", vs.GRAY16, {"radius": 6}),
    "ctmf r4 GRAYS": ("ctmf.CTMF", vs.GRAYS, {"radius": 4}),
    "eedi2 GRAY8": ("eedi2.EEDI2", vs.GRAY8, {"field": 1}),
    "eedi2 YUV420P10 pp3": ("eedi2.EEDI2", vs.YUV420P10, {"field": 0, "pp": 3}),
    "eedi2 GRAY16 pp2": ("eedi2.EEDI2", vs.GRAY16, {"field": 1, "pp": 2, "maxd": 8}),
    "eedi2 GRAY9 map1": ("eedi2.EEDI2", vs.GRAY9, {"field": 1, "map": 1}),
    "eedi2 GRAY12 map2": ("eedi2.EEDI2", vs.GRAY12, {"field": 0, "map": 2}),
    "eedi2 YUV444P14 map3": ("eedi2.EEDI2", vs.YUV444P14, {"field": 1, "map": 3, "nt": 10}),
    "bitdepth 9 to 8 diffusion": ("fmtc.bitdepth", vs.GRAY9, {"bits": 8}),
    "bitdepth 10 to 8 noise": ("fmtc.bitdepth", vs.YUV420P10, {"bits": 8, "ampn": 1.5, "ampo": 1.5}),
    "bitdepth 16 to 8 ordered": ("fmtc.bitdepth", vs.GRAY16, {"bits": 8, "dmode": 0}),
    "bitdepth 12 to 10 round": ("fmtc.bitdepth", vs.GRAY12, {"bits": 10, "dmode": 1}),
    "bitdepth 16 to 12 fast": ("fmtc.bitdepth", vs.GRAY16, {"bits": 12, "dmode": 2}),
    "bitdepth 10 full to 8": ("fmtc.bitdepth", vs.GRAY10, {"bits": 8, "fulls": 1, "fulld": 0}),
    "bitdepth float to 8": ("fmtc.bitdepth", vs.GRAYS, {"bits": 8}),
    "bitdepth 8 to 16": ("fmtc.bitdepth", vs.YUV420P8, {"bits": 16}),
    "resample spline36 GRAY10": ("fmtc.resample", vs.GRAY10, {"w": 50, "h": 20}),
    "resample bicubic YUV420P8": ("fmtc.resample", vs.YUV420P8, {"w": 20, "h": 40, "kernel": "bicubic"}),
    "resample float to 16": ("fmtc.resample", vs.GRAYS, {"w": 30, "h": 30, "csp": vs.GRAY16}),
    "resample crop": ("fmtc.resample", vs.GRAY16, {"sx": 2, "sy": 1, "w": 30, "h": 20}),
    "rgvs RemoveGrain 17 YUV420P10": ("rgvs.RemoveGrain", vs.YUV420P10, {"mode": [17, 4]}),
    "rgvs Repair 13": ("rgvs.Repair", vs.GRAY16, {"mode": 13}),
    "misc Hysteresis": ("misc.Hysteresis", vs.GRAY8, {}),
    "f3kdb Deband 10 bit": ("f3kdb.Deband", vs.YUV420P10, {"output_depth": 8}),
    "f3kdb Deband 16 bit grain": ("f3kdb.Deband", vs.GRAY16, {"dynamic_grain": 1, "grainy": 200}),
    "warp 10 bit": ("warp.AWarpSharp2", vs.YUV420P10, {"depth": 24}),
    "warp 8 bit type 1": ("warp.AWarpSharp2", vs.GRAY8, {"type": 1, "chroma": 1}),
    "tcanny magnitude 12 bit": ("tcanny.TCanny", vs.GRAY12, {"sigma": 0, "mode": 1}),
    "tcanny edges 8 bit": ("tcanny.TCanny", vs.YUV420P8, {"sigma": 0, "mode": 0, "op": 2}),
}

# Taken from the plugins as they were before out-of-range samples were clamped.
EXPECTED = {
    'ctmf r1 GRAY8': '9b4ce1ad4557e190d753',
    'ctmf r2 YUV420P10': '207308fa3b9ad2d25615',
    'ctmf r3 GRAY16': '00ec825fa42c5bdbe882',
    'ctmf r4 GRAY10': '519b72dc46af4447d4c0',
    'ctmf r5 YUV444P9': '3719a40980e551f0ab8b',
    'ctmf r7 GRAY12': '9d6267578de36ae647b2',
    'ctmf r9 GRAY8': 'b064e4439571e9b805fc',
    'ctmf r6 GRAY16': '2d509a2957cb8477b2c5',
    'ctmf r4 GRAYS': '914af66ee5e346bb34ed',
    'eedi2 GRAY8': '9228013f4f5f4ab81c3a',
    'eedi2 YUV420P10 pp3': 'cb0366dca588033bd575',
    'eedi2 GRAY16 pp2': '9f4606b98850a8499fd1',
    'eedi2 GRAY9 map1': '1286e7d25f749e2b56aa',
    'eedi2 GRAY12 map2': 'daa69c70ca42bf5560a3',
    'eedi2 YUV444P14 map3': 'c58201e24a3c5eeb50ff',
    'bitdepth 9 to 8 diffusion': '7b49cebe4c6abda5d0de',
    'bitdepth 10 to 8 noise': 'bfb54c82c6694978b41b',
    'bitdepth 16 to 8 ordered': '3e8b965d2e6f5bd26c9d',
    'bitdepth 12 to 10 round': '47b1ca5e0a732ed8e3ae',
    'bitdepth 16 to 12 fast': '0e2a0d13800219c0a761',
    'bitdepth 10 full to 8': '6c14992c19c60f6931bc',
    'bitdepth float to 8': 'e8b16fe08f7d895f2e37',
    'bitdepth 8 to 16': '0a4a563904da6bb7a562',
    'resample spline36 GRAY10': '79b564487cdc11ebb5e3',
    'resample bicubic YUV420P8': '82d7743f90d4ca196416',
    'resample float to 16': 'cf5706621045c0ee52ad',
    'resample crop': '06ae9f7530e601c84586',
    'rgvs RemoveGrain 17 YUV420P10': '65d34821315dbefcb5c0',
    'rgvs Repair 13': '58e45ec188bba2724f73',
    'misc Hysteresis': '13d66beff61479ff3877',
    'f3kdb Deband 10 bit': 'eca1daef4e8a1307e0cc',
    'f3kdb Deband 16 bit grain': '0da022c4881f2575ba42',
    'warp 10 bit': 'cdd2dab073f8c1641671',
    'warp 8 bit type 1': '0624f67f85e5c1d3e869',
    'tcanny magnitude 12 bit': '84578b7e9a7c426ac481',
    'tcanny edges 8 bit': 'a19a3f6a770dede72a40',
}


def random_clip(fmt_id, width=38, height=30, seed=17):
    """Two frames of random samples within the format's range."""
    fmt = vs.core.get_video_format(fmt_id)
    peak = 1.0 if fmt.sample_type == vs.FLOAT else (1 << fmt.bits_per_sample) - 1
    blank = vs.core.std.BlankClip(format=fmt_id, width=width, height=height, length=2, keep=True)

    def fill(n, f):
        out = f.copy()
        rng = np.random.default_rng([seed, n])
        for p in range(out.format.num_planes):
            a = np.asarray(out[p])
            a[...] = rng.random(a.shape) if fmt.sample_type == vs.FLOAT else rng.integers(0, peak, a.shape,
                                                                                            endpoint=True)
        return out

    return blank.std.ModifyFrame(blank, fill)


def output_hash(name):
    func, fmt, kwargs = CASES[name]
    ns, fn = func.split(".")
    src = random_clip(fmt)
    args = {"repairclip": random_clip(fmt, seed=5)} if fn == "Repair" else {}
    args = {"clipb": random_clip(fmt, seed=5)} if fn == "Hysteresis" else args
    out = getattr(getattr(vs.core, ns), fn)(src, **args, **kwargs)
    h = hashlib.sha256()
    for n in range(out.num_frames):
        f = out.get_frame(n)
        for p in range(f.format.num_planes):
            h.update(np.ascontiguousarray(np.asarray(f[p])).tobytes())
    return h.hexdigest()[:20]


@pytest.mark.parametrize("name", sorted(CASES))
def test_in_range_output_is_unchanged(name):
    from conftest import need

    need(CASES[name][0].split(".")[0])
    assert output_hash(name) == EXPECTED[name]


if __name__ == "__main__":
    from pathlib import Path

    folder = Path(sys.argv[1])
    for ns in sorted({c[0].split(".")[0] for c in CASES.values()}):
        vs.core.std.LoadPlugin(str(folder / f"{ns}.so"))
    for name in CASES:
        print(f"    {name!r}: {output_hash(name)!r},")
