"""Where BM3D's time goes in one denoise pass: Basic vs Final, luma vs the chroma-resolution path.

Usage: python bench/bm3d_split.py [--frames N] [--sizes 1280x720,1920x1080] [--nrluma 1.2] [--profile fast]
Runs orvo3d as the chain calls it (profile "fast") on YUV420P16 pictures for both chroma paths
(KNLMeansCL below nrchroma 1.6, BM3D at chroma resolution from 1.6) and splits the node time of
the pass between bm3d.Basic/Final on the full-size luma, bm3d.Basic/Final at chroma resolution,
and the rest. Node times are wall time summed over the core's threads; the CPU column times each
BM3D node alone on one thread (its inputs rendered first), which the load of a shared machine
distorts less.
"""

from __future__ import annotations

import argparse
import statistics
import sys
import time
from collections import defaultdict
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "python"))

import vapoursynth as vs  # noqa: E402

vs._try_enable_introspection(0)

from common import picture, walk  # noqa: E402
from options import make_options  # noqa: E402

from orvo import orvolib  # noqa: E402


def label(node, width: int) -> str:
    ns = getattr(node, "_plugin_ns", "?")
    if ns != "bm3d":
        return ns
    res = "luma" if node.width == width else "chroma-res"
    return f"bm3d.{node._name} {res}"


def cpu_alone(node, first: int, frames: int) -> float:
    """Median CPU seconds of one frame of `node` with its inputs already rendered (frames not asked before)."""
    core = vs.core
    threads, core.num_threads = core.num_threads, 1
    times = []
    for i in range(first, first + frames):
        for d in node.dependencies:
            d.get_frame(i)
        c0 = time.process_time()
        node.get_frame(i)
        times.append(time.process_time() - c0)
    core.num_threads = threads
    return statistics.median(times)


def main(argv=None) -> int:
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--frames", type=int, default=3)
    ap.add_argument("--sizes", default="1280x720,1920x1080")
    ap.add_argument("--nrluma", type=float, default=1.2)
    ap.add_argument("--profile", default="fast")
    args = ap.parse_args(argv)
    core = vs.core
    core.timings.enabled = True
    ctx = orvolib._context(make_options())
    print(f"VapourSynth {vs.__version__}, {core.num_threads} threads, {args.frames} frames per case, "
          f"profile {args.profile}, nrluma {args.nrluma}; node seconds per frame (share of the pass)")
    for size in args.sizes.split(","):
        w, h = (int(v) for v in size.split("x"))
        src = picture(vs.YUV420P16, w, h, frames=5 * args.frames + 1)
        for path, nrchroma in (("KNLMeansCL chroma", 1.0), ("BM3D chroma", 2.0)):
            out = ctx.orvo3d(src, nrluma=args.nrluma, nrchroma=nrchroma, profile=args.profile, device_type="cpu")
            out.get_frame(0)  # filter creation, FFTW plans and the OpenCL build outside the timing
            nodes = walk(out)
            before = {id(n): n.timings for n in nodes}
            start = time.perf_counter()
            for _ in out[1 : args.frames + 1].frames(close=True):
                pass
            elapsed = time.perf_counter() - start
            split = defaultdict(float)
            for n in nodes:
                split[label(n, w)] += (n.timings - before[id(n)]) / 1e9 / args.frames
            total = sum(split.values()) or 1.0
            bm3d = sum(t for k, t in split.items() if k.startswith("bm3d."))
            print(f"\n{w}x{h} {path}: {args.frames / elapsed:.2f} fps, node time {total:.2f} s/frame, "
                  f"BM3D {100 * bm3d / total:.0f}%")
            bm3d_nodes = [n for n in nodes if n._plugin_ns == "bm3d"]
            # each node on frames of its own, so that none comes from a cache
            alone = {label(n, w): cpu_alone(n, (1 + i) * args.frames + 1, args.frames)
                     for i, n in enumerate(bm3d_nodes)}
            print(f"  {'':28} {'node s':>7}  {'share':>6}  {'CPU s alone':>11}")
            for k, t in sorted(split.items(), key=lambda x: -x[1]):
                if t / total >= 0.005:
                    cpu = f"{alone[k]:11.3f}" if k in alone else ""
                    print(f"  {k:<28} {t:7.3f}  {100 * t / total:5.1f}%  {cpu}")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
