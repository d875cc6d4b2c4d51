"""Frames per second of our plugins beside the core's equivalents.

Every bench/cases_<name>.py contributes a CASES list (see bench/common.py).
Usage: python bench/plugins.py [--frames N] [--threads N] [--match TEXT]
"""

from __future__ import annotations

import argparse
import importlib.util
import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import vapoursynth as vs  # noqa: E402

from common import run  # noqa: E402
from orvo import plugins as orvo_plugins  # noqa: E402


def load_cases():
    cases = []
    for path in sorted(HERE.glob("cases_*.py")):
        found = importlib.util.spec_from_file_location(path.stem, path)
        mod = importlib.util.module_from_spec(found)
        found.loader.exec_module(mod)
        cases.extend(mod.CASES)
    return cases


def main(argv=None) -> int:
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--frames", type=int, default=50)
    ap.add_argument("--threads", type=int, default=0, help="core threads (0: all)")
    ap.add_argument("--match", default=None, help="only groups or cases containing this text")
    args = ap.parse_args(argv)
    if args.threads:
        vs.core.num_threads = args.threads
    orvo_plugins.ensure_all()
    print(f"VapourSynth {vs.__version__}, {vs.core.num_threads} threads, {args.frames} frames per case")
    run(load_cases(), args.frames, args.match)
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
