"""Frames per second of the denoise wrapper, with the time split between its plugins.

Usage: python bench/denoise.py [--frames N] [--sizes 1280x720,1920x1080]
Runs orvo3d on YUV420P16 pictures for both chroma paths (KNLMeansCL below
nrchroma 1.6 on the OpenCL CPU device, BM3D at chroma resolution from 1.6).
"""

from __future__ import annotations

import argparse
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "python"))

import vapoursynth as vs  # noqa: E402

# node names and namespaces for the time split
vs._try_enable_introspection(0)

from common import picture, shares, timed  # noqa: E402
from options import make_options  # noqa: E402

from orvo import orvolib  # noqa: E402


def main(argv=None) -> int:
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--frames", type=int, default=4)
    ap.add_argument("--sizes", default="1280x720,1920x1080")
    args = ap.parse_args(argv)
    core = vs.core
    core.timings.enabled = True
    ctx = orvolib._context(make_options())
    print(f"VapourSynth {vs.__version__}, {core.num_threads} threads, {args.frames} frames per case")
    for size in args.sizes.split(","):
        w, h = (int(v) for v in size.split("x"))
        src = picture(vs.YUV420P16, w, h, frames=args.frames + 1)
        for label, nrchroma in (("KNLMeansCL chroma", 1.15), ("BM3D chroma", 2.0)):
            out = ctx.orvo3d(src, nrluma=1.9, nrchroma=nrchroma, device_type="cpu")
            fps, split = timed(out, args.frames)
            parts = shares(split)
            print(f"{w}x{h} {label:<18} {fps:6.2f} fps   node time: {parts}")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
