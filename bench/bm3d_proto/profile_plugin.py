"""Where the registry's bm3d.Basic/Final spend their time on one 1920x1080 float plane (profile "fast").

Usage:
  python bench/bm3d_proto/profile_plugin.py perf [--what basic,final]
      CPU-time samples (perf, cpu-clock) of the installed wheel, per shared object, in the
      VapourSynth worker thread: bm3d.so = matching + gather + shrinkage + aggregation,
      libfftw3f = the 3-D transforms, libc = allocation and memset.
  python bench/bm3d_proto/profile_plugin.py callgrind --sdist DIR [--what basic,final]
      Instruction counts per function of a profiling build of the same source (the registry's
      sdist unpacked in DIR): same flags as the wheel (-O3, LTO) plus -g, the group gather and
      the two aggregation loops kept out of line, namespace renamed so that both load at once.
The machine's load does not distort these shares much (samples and counts are per thread).
"""

from __future__ import annotations

import argparse
import re
import shutil
import subprocess
import sys
from collections import defaultdict
from pathlib import Path

HERE = Path(__file__).resolve().parent
ROOT = HERE.parents[1]
OUT = ROOT / "build" / "bm3d_proto"
PY = sys.executable


def run_worker(ns: str, what: str, frames: int, lib: str | None) -> None:
    import numpy as np
    import vapoursynth as vs

    sys.path.insert(0, str(HERE))
    from compare import NORM, clean_picture, clip_of

    core = vs.core
    core.num_threads = 1
    if lib:
        core.std.LoadPlugin(lib)
    w, h, rng, sigma = 1920, 1080, 6, 1.2
    clean = clean_picture(w, h)
    noisy = clean + np.random.default_rng(1).normal(0, sigma / 255 * NORM, clean.shape).astype(np.float32)
    kw = dict(sigma=[sigma], profile="fast", bm_range=rng, matrix=100)
    src = clip_of(noisy, frames)
    f = getattr(core, ns)
    node = f.Basic(src, **kw) if what == "basic" else f.Final(src, clip_of(clean, frames), **kw)
    for i in range(frames):
        node.get_frame(i)


def perf(whats: list[str]) -> None:
    for what in whats:
        data = OUT / f"perf_{what}.data"
        subprocess.run(["perf", "record", "-q", "-e", "cpu-clock", "-o", str(data), PY, __file__, "_run", "bm3d",
                        what, "3"], check=True)
        rep = subprocess.run(["perf", "report", "-i", str(data), "--stdio", "--sort", "pid,dso"],
                             capture_output=True, text=True, check=True).stdout
        rows = [re.match(r"\s*([\d.]+)%\s+(\d+):\S+\s+(\S+)", line) for line in rep.splitlines()]
        rows = [(float(m[1]), m[2], m[3]) for m in rows if m]
        worker = next(tid for _, tid, dso in rows if dso == "bm3d.so")
        mine = [(p, dso) for p, tid, dso in rows if tid == worker]
        total = sum(p for p, _ in mine)
        print(f"\nwheel bm3d.{what.capitalize()}, 1920x1080, worker thread, {total:.1f}% of the samples:")
        for p, dso in mine:
            if p / total >= 0.005:
                print(f"  {dso:<34} {100 * p / total:5.1f}%")


CATEGORIES = (  # first match wins, on the demangled 'file:function [object]' of callgrind_annotate
    ("block matching", r"BlockMatching|sort|merge"),
    ("3-D transforms (fftw)", r"libfftw3f"),
    ("aggregation", r"::AddTo|::CountTo"),
    ("group gather + malloc", r"BlockGroup<float, float>::BlockGroup|malloc|_int_free|free\b|memset|memcpy|operator new|operator delete"),
    ("shrinkage + rest of the group filter", r"CollaborativeFilter"),
)


def callgrind(sdist: Path, whats: list[str]) -> None:
    prof = OUT / "prof"
    src = prof / "src"
    shutil.rmtree(src, ignore_errors=True)
    shutil.copytree(sdist, src)
    block = src / "include" / "Block.h"
    text = block.read_text()
    text = text.replace("    BlockGroup(const _St1 *src, PCType src_stride, const PosPairCode &code,",
                        "    __attribute__((noinline)) BlockGroup(const _St1 *src, PCType src_stride, const PosPairCode &code,")
    for name, args in (("AddTo", "(_Dt1 *dst, PCType dst_stride, _Gt1 gain) const"),
                       ("CountTo", "(_Dt1 *dst, PCType dst_stride, _Dt1 value) const")):
        text = text.replace(f"    void {name}{args}", f"    __attribute__((noinline)) void {name}{args}")
    block.write_text(text)
    plug = src / "source" / "VSPlugin.cpp"
    plug.write_text(plug.read_text().replace('"com.vapoursynth.bm3d", "bm3d"', '"com.orvo.bm3dprof", "bm3dprof"'))
    import vapoursynth as vs

    lib = prof / "bm3dprof.so"
    subprocess.run(["g++", "-std=c++20", "-O3", "-flto=auto", "-g", "-fPIC", "-shared", "-fvisibility=hidden",
                    "-DNDEBUG", "-DVS_USE_API_42", "-Wno-unused-local-typedefs", f"-I{src / 'include'}",
                    f"-I{vs.get_include()}", *map(str, sorted((src / "source").glob("*.cpp"))), "-o", str(lib),
                    "-lfftw3f"], check=True)
    for what in whats:
        out = prof / f"callgrind_{what}.out"
        subprocess.run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}",
                        "--toggle-collect=BM3D_Process_Base::Kernel(float*, float const*, float const*) const",
                        PY, __file__, "_run", "bm3dprof", what, "1", str(lib)], check=True, capture_output=True)
        ann = subprocess.run(["callgrind_annotate", "--threshold=100", "--auto=no", str(out)], capture_output=True, text=True,
                             check=True).stdout
        split, total = defaultdict(int), 0
        for line in ann.splitlines():
            m = re.match(r"\s*([\d,]+) \(\s*[\d.]+%\)\s+(.*)", line)
            if not m or "PROGRAM TOTALS" in line:
                continue
            n, where = int(m[1].replace(",", "")), m[2]
            total += n
            cat = next((c for c, rx in CATEGORIES if re.search(rx, where)), "other")
            split[cat] += n
        print(f"\nprofiling build bm3dprof.{what.capitalize()}, 1920x1080, {total / 1e9:.2f} G instructions:")
        for cat, n in sorted(split.items(), key=lambda x: -x[1]):
            print(f"  {cat:<38} {100 * n / total:5.1f}%")


def main(argv=None) -> int:
    argv = sys.argv[1:] if argv is None else argv
    if argv and argv[0] == "_run":
        run_worker(argv[1], argv[2], int(argv[3]), argv[4] if len(argv) > 4 else None)
        return 0
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("mode", choices=["perf", "callgrind"])
    ap.add_argument("--what", default="basic,final")
    ap.add_argument("--sdist", type=Path)
    args = ap.parse_args(argv)
    OUT.mkdir(parents=True, exist_ok=True)
    whats = args.what.split(",")
    if args.mode == "perf":
        perf(whats)
    else:
        if not args.sdist:
            raise SystemExit("callgrind needs --sdist DIR (the unpacked vapoursynth-bm3d sdist)")
        callgrind(args.sdist, whats)
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
