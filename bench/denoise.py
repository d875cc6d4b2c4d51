"""Frames per second of the denoise wrapper, with the time split between its plugins.

Usage: python bench/denoise.py [--frames N] [--sizes 1280x720,1920x1080]
Runs orvo3d on YUV420P16 pictures for both chroma paths (KNLMeansCL below
nrchroma 1.6 on the OpenCL CPU device, BM3D at chroma resolution from 1.6).
"""

from __future__ import annotations

import argparse
import sys
import time
from collections import defaultdict
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "python"))

import vapoursynth as vs  # noqa: E402

# node names and namespaces for the time split
vs._try_enable_introspection(0)

from common import picture  # noqa: E402
from options import make_options  # noqa: E402

from orvo import orvolib  # noqa: E402


def walk(clip):
    """Every node of the graph once: `dependencies` gives new wrapper objects on each call,
    and wrappers of one node compare equal, so identity would count shared nodes many times."""
    seen, todo = {}, [clip]
    while todo:
        n = todo.pop()
        if n in seen:
            continue
        seen[n] = n
        todo.extend(n.dependencies)
    return list(seen)


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
            out.get_frame(0)  # filter creation and OpenCL build outside the timing
            nodes = walk(out)
            before = {id(n): n.timings for n in nodes}
            start = time.perf_counter()
            for _ in out[1:].frames(close=True):
                pass
            elapsed = time.perf_counter() - start
            split = defaultdict(float)
            for n in nodes:
                ns = getattr(n, "_plugin_ns", "?")
                split[ns] += (n.timings - before[id(n)]) / 1e9
            total = sum(split.values()) or 1.0
            parts = ", ".join(f"{ns} {100 * t / total:.0f}%" for ns, t in sorted(split.items(), key=lambda x: -x[1])
                              if t / total >= 0.01)
            print(f"{w}x{h} {label:<18} {args.frames / elapsed:6.2f} fps   node time: {parts}")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
