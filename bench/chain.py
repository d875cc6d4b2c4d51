"""The whole restoration chain: graph-build time of main, interpreted calls while building, and frames
per second with each plugin's share of the node time.

Usage: python bench/chain.py [--frames N] [--sizes 1280x720,1920x1080] [--builds N] [--preset NAME]
                             [--plugins DIR]
KNLMeansCL runs on the OpenCL CPU device (device_type "cpu"). --plugins loads our plugins from DIR
(<namespace>.so files, e.g. an earlier build) instead of the package's, for before/after figures.
"""

from __future__ import annotations

import argparse
import statistics
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

import vapoursynth as vs  # noqa: E402

# node names and namespaces for the time split
vs._try_enable_introspection(0)

from common import picture, shares, timed, walk  # noqa: E402

import orvo  # noqa: E402
from orvo import orvolib  # noqa: E402
from orvo import plugins as orvo_plugins  # noqa: E402

SWITCHES = ("aamod.Text_Protect", "dbmod.Time_domain_p", "dering.limited_dering", "linedarken.Line_Darken",
            "warp.Warpline")


def interpreted_calls(build) -> tuple[int, int]:
    """(all interpreted calls, those in orvo's own Python code) made while `build()` runs."""
    calls = [0, 0]

    def profile(frame, event, arg):
        if event == "call":
            calls[0] += 1
            calls[1] += "/orvo/" in frame.f_code.co_filename
    sys.setprofile(profile)
    try:
        build()
    finally:
        sys.setprofile(None)
    return calls[0], calls[1]


def main(argv=None) -> int:
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--frames", type=int, default=4)
    ap.add_argument("--sizes", default="1280x720,1920x1080")
    ap.add_argument("--builds", type=int, default=20, help="main calls timed for the build time (median)")
    ap.add_argument("--preset", default="default")
    ap.add_argument("--all-switches", action="store_true", help="turn the five switches on")
    ap.add_argument("--plugins", type=Path, help="load our plugins from this folder first")
    args = ap.parse_args(argv)
    core = vs.core
    core.timings.enabled = True
    if args.plugins:
        for so in sorted(args.plugins.glob("*.so")):
            core.std.LoadPlugin(str(so))
    orvo_plugins.ensure_all()
    overrides = {"nr.device_type": "cpu"}
    if args.all_switches:
        overrides.update({s: True for s in SWITCHES})
    options = orvo.Options.from_preset(args.preset, **overrides)
    print(f"VapourSynth {vs.__version__}, {core.num_threads} threads, preset {args.preset}"
          f"{' with every switch on' if args.all_switches else ''}, {args.frames} frames per size")

    for size in args.sizes.split(","):
        w, h = (int(v) for v in size.split("x"))
        src = picture(vs.YUV420P16, w, h, frames=args.frames + 1).std.SetFrameProps(
            _Matrix=1, _Transfer=1, _Primaries=1, _Range=0, _ChromaLocation=0, _FieldBased=0)
        builds = []
        for _ in range(args.builds):
            start = time.perf_counter()
            res = orvolib.main(src, options)
            builds.append(time.perf_counter() - start)
        knlm = []
        for _ in range(min(args.builds, 5)):
            start = time.perf_counter()
            core.knlm.KNLMeansCL(src, d=1, a=2, s=3, h=1.2, wmode=2, device_type="cpu", channels="UV")
            knlm.append(time.perf_counter() - start)
        total_calls, ours = interpreted_calls(lambda: orvolib.main(src, options))
        nodes = len(walk(res))
        print(f"\n{w}x{h}: main builds in {1000 * statistics.median(builds):.0f} ms (median of {args.builds}; "
              f"one KNLMeansCL creation alone {1000 * statistics.median(knlm):.0f} ms), {nodes} nodes")
        print(f"  interpreted calls while building: {ours} in orvo's code; {total_calls} in all "
              f"(the vapoursynth module's own, about {total_calls / nodes:.1f} per node it creates)")
        fps, split = timed(res, args.frames, exclude=walk(src))
        denoise = sum(t for k, t in split.items() if k.split(".")[0] in ("bm3d", "knlm"))
        print(f"  {fps:.3f} fps; node time by plugin: {shares(split)}")
        print(f"  outside BM3D and KNLMeansCL: {100 * (1 - denoise / (sum(split.values()) or 1)):.1f} % "
              f"of {sum(split.values()):.2f} node seconds per frame")
        print(f"  by filter: {shares(split, by_namespace=False, floor=0.02)}")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
