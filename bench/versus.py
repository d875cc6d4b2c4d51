"""One build of our plugins against another, case by case: the speed-up of a change.

Every round runs each case once per build, alternating, each in a fresh process that
loads that build's plugins, so load on the machine hits both sides alike. The figure is
the median over the rounds; frames are compared too, so a speed-up that changes output
is reported as such.

Usage: python bench/versus.py --old DIR --new DIR [--match TEXT] [--rounds 5] [--frames 50]
DIR holds <namespace>.so files (save the plugins of the commit before a change with
`cp python/orvo/plugins/*.so DIR`).
"""

from __future__ import annotations

import argparse
import hashlib
import json
import statistics
import subprocess
import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))


def _worker(plugin_dir: str, index: int, frames: int, threads: int) -> None:
    import vapoursynth as vs

    from common import fps
    from plugins import load_cases

    core = vs.core
    if threads:
        core.num_threads = threads
    for so in sorted(Path(plugin_dir).glob("*.so")):
        if not hasattr(core, so.stem):
            core.std.LoadPlugin(str(so))
    clip = load_cases()[index].build(core)
    digest = hashlib.sha1()
    for n in (0, clip.num_frames // 2):
        f = clip.get_frame(n)
        for p in range(f.format.num_planes):
            digest.update(bytes(f[p]))
    print(json.dumps({"fps": fps(clip, frames), "digest": digest.hexdigest()}))


def _one(plugin_dir: Path, index: int, frames: int, threads: int) -> dict:
    out = subprocess.run([sys.executable, __file__, "--worker", str(plugin_dir), "--case", str(index),
                          "--frames", str(frames), "--threads", str(threads)],
                         check=True, capture_output=True, text=True)
    return json.loads(out.stdout.strip().splitlines()[-1])


def main(argv=None) -> int:
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--old", type=Path)
    ap.add_argument("--new", type=Path)
    ap.add_argument("--match", default=None, help="only groups or cases containing this text")
    ap.add_argument("--rounds", type=int, default=5)
    ap.add_argument("--frames", type=int, default=50)
    ap.add_argument("--threads", type=int, default=2, help="core threads (0: all)")
    ap.add_argument("--worker", help=argparse.SUPPRESS)
    ap.add_argument("--case", type=int, help=argparse.SUPPRESS)
    args = ap.parse_args(argv)
    if args.worker:
        _worker(args.worker, args.case, args.frames, args.threads)
        return 0
    if not (args.old and args.new):
        ap.error("--old and --new are required")

    from plugins import load_cases

    print(f"old {args.old}, new {args.new}: median of {args.rounds} rounds, {args.frames} frames, "
          f"{args.threads or 'all'} threads")
    for index, case in enumerate(load_cases()):
        if case.reference or (args.match and args.match not in case.group and args.match not in case.name):
            continue
        runs = {"old": [], "new": []}
        digests = set()
        for _ in range(args.rounds):
            for side, path in (("old", args.old), ("new", args.new)):
                r = _one(path, index, args.frames, args.threads)
                runs[side].append(r["fps"])
                digests.add((side, r["digest"]))
        old, new = statistics.median(runs["old"]), statistics.median(runs["new"])
        same = "same frames" if len({d for _, d in digests}) == 1 else "FRAMES DIFFER"
        print(f"{case.group} | {case.name}: old {old:7.1f} fps, new {new:7.1f} fps, "
              f"speed-up {new / old:5.2f}  ({same})", flush=True)
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
