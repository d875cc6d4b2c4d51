"""Frames per second of the anti-aliasing and dering filters, with the time split between plugins.

Usage: python bench/restoration.py [--frames N] [--size 1920x1080] [--threads N]
Runs fullaa kernels 1, 2 and 3 (cycle 1) and dr_only with the pipeline's
arguments on a YUV420P16 picture, and compares each EEDI2 kernel with the
nnedi3-based kernel 2.
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
from orvo import plugins as orvo_plugins  # noqa: E402


def walk(clip):
    """Every node once (wrappers of one node compare equal; their ids differ)."""
    seen, todo = {}, [clip]
    while todo:
        n = todo.pop()
        if n in seen:
            continue
        seen[n] = n
        todo.extend(n.dependencies)
    return list(seen)


def measure(out, frames):
    """fps over `frames` frames after a warm-up frame, and node seconds per frame by 'namespace.name'."""
    out.get_frame(0)
    nodes = walk(out)
    before = {id(n): n.timings for n in nodes}
    start = time.perf_counter()
    for _ in out[1 : frames + 1].frames(close=True):
        pass
    elapsed = time.perf_counter() - start
    split = defaultdict(float)
    for n in nodes:
        split[f"{n._plugin_ns}.{n._name}"] += (n.timings - before[id(n)]) / 1e9 / frames
    return frames / elapsed, split


def main(argv=None) -> int:
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--frames", type=int, default=8)
    ap.add_argument("--size", default="1920x1080")
    ap.add_argument("--threads", type=int, default=0, help="core threads (0: all)")
    args = ap.parse_args(argv)
    core = vs.core
    if args.threads:
        core.num_threads = args.threads
    core.timings.enabled = True
    orvo_plugins.ensure_all()
    ctx = orvolib._context(make_options())
    w, h = (int(v) for v in args.size.split("x"))
    src = picture(vs.YUV420P16, w, h, frames=args.frames + 1)
    print(f"VapourSynth {vs.__version__}, {core.num_threads} threads, {args.frames} frames, {w}x{h} YUV420P16")
    cases = {
        "fullaa kernel 1": lambda: ctx.fullaa(src, 1, 1),
        "fullaa kernel 2": lambda: ctx.fullaa(src, 2, 1),
        "fullaa kernel 3": lambda: ctx.fullaa(src, 3, 1),
        "dr_only": lambda: ctx.dr_only(src, False, 0, 0, 50, 50),
    }
    results = {}
    for label, build in cases.items():
        try:
            fps, split = measure(build(), args.frames)
        except (vs.Error, AttributeError) as e:
            print(f"{label:<16} unavailable: {e}")
            continue
        results[label] = (fps, split)
        total = sum(split.values()) or 1.0
        by_ns = defaultdict(float)
        for key, t in split.items():
            by_ns[key.split(".")[0]] += t
        parts = ", ".join(f"{ns} {100 * t / total:.0f}%" for ns, t in sorted(by_ns.items(), key=lambda x: -x[1])
                          if t / total >= 0.01)
        top = ", ".join(f"{k} {1000 * t:.0f} ms" for k, t in sorted(split.items(), key=lambda x: -x[1])[:3])
        print(f"{label:<16} {fps:7.2f} fps   node time: {parts}\n{'':<16} per frame: {top}")
    anchor = results.get("fullaa kernel 2")
    if anchor:
        nn = anchor[1].get("znedi3.nnedi3", 0.0) + anchor[1].get("nnedi3.nnedi3", 0.0)
        for label in ("fullaa kernel 1", "fullaa kernel 3"):
            if label in results:
                fps, split = results[label]
                eedi2 = split.get("eedi2.EEDI2", 0.0)
                print(f"{label} vs kernel 2: {fps / anchor[0]:.2f}x the fps; EEDI2 {1000 * eedi2:.0f} ms/frame "
                      f"against nnedi3 {1000 * nn:.0f} ms/frame ({eedi2 / nn if nn else float('nan'):.1f}x)")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
