"""The prototype against the registry's bm3d.Basic/Final on the same float plane, side by side.

Usage: python bench/bm3d_proto/compare.py [--cases 1920x1080:6,1280x720:5] [--sigmas 1.9,10] [--reps 3]
Needs `make bm3d-proto` first. Each case is WxH:bm_range; the plane is a synthetic picture
plus Gaussian noise of the deviation the filter is told (OPP luma, matrix=100).
Times are CPU seconds of the process (the machine is shared, wall time counts the other jobs),
median of --reps frames; the plugin runs on one VapourSynth thread, the prototype on one thread.
"""

from __future__ import annotations

import argparse
import ctypes
import statistics
import time
from pathlib import Path

import numpy as np
import vapoursynth as vs

NORM = 1 / np.sqrt(3.0)  # length of the OPP luma row: sigma and th_mse are scaled by it
LIB = Path(__file__).resolve().parents[2] / "build" / "bm3d_proto" / "libbm3d_proto.so"


def clean_picture(w: int, h: int) -> np.ndarray:
    yy, xx = np.mgrid[0:h, 0:w].astype(np.float64)
    v = 0.5 + 0.25 * np.sin(xx / 37.0) * np.cos(yy / 23.0) + 0.2 * ((xx // 64 + yy // 64) % 2)
    return v.astype(np.float32)


def clip_of(arr: np.ndarray, frames: int) -> vs.VideoNode:
    core = vs.core
    h, w = arr.shape
    blank = core.std.BlankClip(width=w, height=h, format=vs.GRAYS, length=1, keep=True)

    def fill(n, f):
        out = f.copy()
        np.copyto(np.asarray(out[0]), arr)
        return out

    return blank.std.ModifyFrame(blank, fill).std.Loop(times=frames)


def timed(fn, reps: int):
    """Median CPU and wall seconds of fn(i) for i = 1..reps, and the last result."""
    cpu, wall, out = [], [], None
    for i in range(1, reps + 1):
        c0, w0 = time.process_time(), time.perf_counter()
        out = fn(i)
        cpu.append(time.process_time() - c0)
        wall.append(time.perf_counter() - w0)
    return statistics.median(cpu), statistics.median(wall), out


def psnr(a: np.ndarray, b: np.ndarray) -> float:
    return float(10 * np.log10(1.0 / np.mean((a.astype(np.float64) - b) ** 2)))


def agreement(a: np.ndarray, b: np.ndarray) -> str:
    d = np.abs(a.astype(np.float64) - b) * 65535  # in 16-bit codes
    return (f"max {d.max():.2f}, mean {d.mean():.4f}, > 0.5: {100 * np.mean(d > 0.5):.3f}% of pixels "
            f"(16-bit codes)")


def main(argv=None) -> int:
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--cases", default="1920x1080:6,1280x720:5")
    ap.add_argument("--sigmas", default="1.9,10")
    ap.add_argument("--reps", type=int, default=3)
    args = ap.parse_args(argv)
    if not LIB.exists():
        raise SystemExit(f"{LIB} is missing: run `make bm3d-proto` first")
    lib = ctypes.CDLL(str(LIB))
    fptr = ctypes.POINTER(ctypes.c_float)
    lib.bm3dp_run.argtypes = [ctypes.c_int, ctypes.c_int, fptr, fptr, fptr, ctypes.c_int, ctypes.c_int,
                              ctypes.c_double, ctypes.c_int, ctypes.c_double]
    core = vs.core
    core.num_threads = 1

    def proto(final: int, impl: int, src, ref, w, h, sigma, rng):
        dst = np.empty_like(src)
        p = lambda a: a.ctypes.data_as(fptr) if a is not None else None  # noqa: E731
        if lib.bm3dp_run(final, impl, p(src), p(ref), p(dst), w, h, sigma, rng, NORM) != 0:
            raise SystemExit("the prototype refused the call (no AVX2?)")
        return dst

    print(f"VapourSynth {vs.__version__}, plugin on 1 thread, prototype on 1 thread, median of {args.reps}")
    for case in args.cases.split(","):
        size, rng = case.split(":")
        w, h = (int(v) for v in size.split("x"))
        rng = int(rng)
        clean = clean_picture(w, h)
        for sigma in (float(s) for s in args.sigmas.split(",")):
            noise = np.random.default_rng(1).normal(0, sigma / 255 * NORM, clean.shape).astype(np.float32)
            noisy = np.ascontiguousarray(clean + noise)
            kw = dict(sigma=[sigma], profile="fast", bm_range=rng, matrix=100)
            src = clip_of(noisy, args.reps + 1)
            basic_node = core.bm3d.Basic(src, **kw)
            pb_cpu, pb_wall, f = timed(lambda i: basic_node.get_frame(i), args.reps)
            pbasic = np.array(f[0], dtype=np.float32)
            final_node = core.bm3d.Final(src, clip_of(pbasic, args.reps + 1), **kw)
            pf_cpu, pf_wall, f = timed(lambda i: final_node.get_frame(i), args.reps)
            pfinal = np.array(f[0], dtype=np.float32)

            vb_cpu, vb_wall, vbasic = timed(lambda i: proto(0, 1, noisy, None, w, h, sigma, rng), args.reps)
            # fed with the plugin's basic estimate, so the final estimates compare alone
            vf_cpu, vf_wall, vfinal = timed(lambda i: proto(1, 1, noisy, pbasic, w, h, sigma, rng), args.reps)
            vchain = proto(1, 1, noisy, vbasic, w, h, sigma, rng)

            print(f"\n{w}x{h} bm_range {rng}, sigma {sigma} (noisy plane PSNR {psnr(clean, noisy):.2f} dB)")
            print(f"  {'':14} {'plugin CPU s':>12} {'proto CPU s':>12} {'speed-up':>9} "
                  f"{'plugin wall':>12} {'proto wall':>11}")
            for name, a, b, aw, bw in (("Basic", pb_cpu, vb_cpu, pb_wall, vb_wall),
                                       ("Final", pf_cpu, vf_cpu, pf_wall, vf_wall),
                                       ("Basic+Final", pb_cpu + pf_cpu, vb_cpu + vf_cpu, pb_wall + pf_wall,
                                        vb_wall + vf_wall)):
                print(f"  {name:<14} {a:12.3f} {b:12.3f} {a / b:8.1f}x {aw:12.3f} {bw:11.3f}")
            print(f"  PSNR vs clean: plugin basic {psnr(clean, pbasic):.2f}, final {psnr(clean, pfinal):.2f} dB; "
                  f"prototype basic {psnr(clean, vbasic):.2f}, final {psnr(clean, vchain):.2f} dB")
            print(f"  basic, prototype vs plugin: {agreement(vbasic, pbasic)}")
            print(f"  final (same basic), prototype vs plugin: {agreement(vfinal, pfinal)}")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
