"""Shared pieces of the benchmarks: test pictures, timing, case tables."""

from __future__ import annotations

import time
from dataclasses import dataclass
from typing import Callable

import numpy as np
import vapoursynth as vs


@dataclass
class Case:
    group: str  # cases of one group are printed side by side
    name: str
    build: Callable[[vs.Core], vs.VideoNode]
    reference: bool = False  # the core's equivalent the group is compared with


def picture(fmt: int, width: int = 1920, height: int = 1080, frames: int = 100_000, seed: int = 1) -> vs.VideoNode:
    """A textured test picture (gradients, edges and noise), repeated `frames` times.

    The one frame is made once and looped, so the source costs next to nothing.
    """
    core = vs.core
    blank = core.std.BlankClip(width=width, height=height, format=fmt, length=1, keep=True)
    f = blank.get_frame(0)
    rng = np.random.default_rng(seed)
    planes = []
    for p in range(f.format.num_planes):
        h, w = np.asarray(f[p]).shape
        yy, xx = np.mgrid[0:h, 0:w].astype(np.float64)
        base = 0.5 + 0.25 * np.sin(xx / 37.0) * np.cos(yy / 23.0)
        base += 0.2 * ((xx // 64 + yy // 64) % 2)
        base += rng.normal(0.0, 0.03, size=(h, w))
        base = np.clip(base, 0.0, 1.0)
        if f.format.sample_type == vs.FLOAT:
            planes.append(base.astype(np.float32))
        else:
            peak = (1 << f.format.bits_per_sample) - 1
            planes.append(np.round(base * peak).astype(np.asarray(f[p]).dtype))

    def fill(n, f):
        out = f.copy()
        for p, arr in enumerate(planes):
            np.copyto(np.asarray(out[p]), arr)
        return out

    one = blank.std.ModifyFrame(blank, fill)
    return one.std.Loop(times=frames)


def fps(clip: vs.VideoNode, frames: int, min_seconds: float = 1.0) -> float:
    """Frames per second over at least `frames` frames and `min_seconds` (as far as the clip reaches),
    after one warm-up frame. Each frame is requested once, so no cache serves it; the time floor keeps
    fast filters from being timed over a few milliseconds of start-up."""
    clip.get_frame(0)
    done = 0
    start = time.perf_counter()
    for _ in clip[1:].frames(close=True):
        done += 1
        if done >= frames and time.perf_counter() - start >= min_seconds:
            break
    return done / (time.perf_counter() - start)


def run(cases: list[Case], frames: int, match: str | None = None) -> list[dict]:
    """Times every case; prints one block per group with ratios against its reference."""
    rows = []
    groups: dict[str, list[Case]] = {}
    for c in cases:
        if match and match not in c.group and match not in c.name:
            continue
        groups.setdefault(c.group, []).append(c)
    for group, members in groups.items():
        print(f"\n{group}")
        ref_fps = None
        results = []
        for c in members:
            try:
                value = fps(c.build(vs.core), frames)
            except (vs.Error, AttributeError) as e:
                print(f"  {c.name:<52} unavailable: {e}")
                continue
            results.append((c, value))
            if c.reference:
                ref_fps = value
        for c, value in results:
            ratio = "" if ref_fps is None or c.reference else f"  ratio {value / ref_fps:5.2f}"
            tag = " (reference)" if c.reference else ""
            print(f"  {c.name:<52} {value:8.1f} fps{ratio}{tag}")
            rows.append({"group": group, "name": c.name, "fps": value,
                         "ratio": None if ref_fps is None or c.reference else value / ref_fps})
    return rows


def walk(clip: vs.VideoNode) -> list[vs.VideoNode]:
    """Every node of the graph behind `clip`, once each.

    `dependencies` hands out new wrapper objects on every access, so nodes are told
    apart by equality (the underlying node), not by identity.
    """
    seen, todo = set(), [clip]
    while todo:
        n = todo.pop()
        if n not in seen:
            seen.add(n)
            todo.extend(n.dependencies)
    return list(seen)


def timed(clip: vs.VideoNode, frames: int, first: int = 1,
          exclude: list[vs.VideoNode] = ()) -> tuple[float, dict[str, float]]:
    """fps over `frames` frames from `first` (after frame 0 as warm-up), and node seconds per frame by
    "namespace.name", leaving out the nodes in `exclude` (a test source, say). Needs
    ``core.timings.enabled`` and graph introspection."""
    clip.get_frame(0)
    skip = set(exclude)
    nodes = [n for n in walk(clip) if n not in skip]
    before = [n.timings for n in nodes]
    start = time.perf_counter()
    for _ in clip[first : first + frames].frames(close=True):
        pass
    elapsed = time.perf_counter() - start
    split: dict[str, float] = {}
    for n, t0 in zip(nodes, before):
        key = f"{n._plugin_ns}.{n._name}"
        split[key] = split.get(key, 0.0) + (n.timings - t0) / 1e9 / frames
    return frames / elapsed, split


def shares(split: dict[str, float], by_namespace: bool = True, floor: float = 0.01) -> str:
    """"ns 80%, ns 12%, ..." of a node-time split."""
    total = sum(split.values()) or 1.0
    groups: dict[str, float] = {}
    for key, t in split.items():
        k = key.split(".")[0] if by_namespace else key
        groups[k] = groups.get(k, 0.0) + t
    return ", ".join(f"{k} {100 * t / total:.0f}%" for k, t in sorted(groups.items(), key=lambda x: -x[1])
                     if t / total >= floor)
