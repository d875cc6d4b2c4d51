"""How the preset values were chosen: the chain with changed options, and plain BM3D passes, measured on
the demo's degraded clips (luma PSNR and SSIM against the clean clip).

Usage:
  python bench/presets.py [--size 256x160] [--frames 6] [--clips photo,lineart] [--degradations noise,combined]
                          TRIAL ...
A TRIAL is `bm3d:SIGMA` (a plain BM3D pass) or `PRESET[,group.name=value,...]` (the chain), for example
  python bench/presets.py bm3d:4 bm3d:8 natural natural,nr.hy=8 default,aamod.aakernel=4
The clips are small and the trials run in this process, so a few dozen finish in minutes on 2 cores.
KNLMeansCL runs on the OpenCL CPU device.
"""

from __future__ import annotations

import argparse
import sys
import tempfile
import time
from pathlib import Path

from orvo import demo
from orvo.chain import helpers, restore
from orvo.io import open_y4m
from orvo.options import Options, parse_assignment


def degraded_clips(size: tuple[int, int], frames: int, clips: list[str], degradations: list[str], folder: Path):
    """{(clip, degradation): (clean, degraded)}, each written once and read back, so trials share the work."""
    width, height = size
    out = {}
    for name in clips:
        clean = demo.clip_from_rgb(demo.pan(demo.source_picture(name, width, height, frames), width, height, frames))
        clean_path = folder / f"{name}.y4m"
        demo.write(clean, clean_path)
        clean = open_y4m(clean_path)
        for dname in degradations:
            path = folder / f"{name}-{dname}.y4m"
            demo.write(demo.DEGRADATIONS[dname].apply(clean), path)
            out[name, dname] = clean, open_y4m(path)
    return out


def build(trial: str, degraded):
    if trial.startswith("bm3d:"):
        return demo.bm3d_pass(degraded, float(trial[5:]), "cpu")
    preset, *sets = trial.split(",")
    overrides = dict(parse_assignment(s) for s in sets)
    overrides.setdefault("nr.device_type", "cpu")
    return restore(degraded, Options.from_preset(preset, **overrides))


def main(argv=None) -> int:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("trials", nargs="+")
    ap.add_argument("--size", default="256x160")
    ap.add_argument("--frames", type=int, default=6)
    ap.add_argument("--clips", default="photo,lineart")
    ap.add_argument("--degradations", default="noise,combined")
    args = ap.parse_args(argv)
    size = tuple(int(v) for v in args.size.split("x"))
    clips, degradations = args.clips.split(","), args.degradations.split(",")
    helpers()  # loads our plugins
    with tempfile.TemporaryDirectory(prefix="orvo-presets-") as tmp:
        pairs = degraded_clips(size, args.frames, clips, degradations, Path(tmp))
        header = "| trial | " + " | ".join(f"{c} {d}" for c, d in pairs) + " | s |"
        print(header)
        print("|---|" + "---:|" * (len(pairs) + 1))
        print("| degraded | " + " | ".join(f"{demo.measure(c, d)[0]:.2f}" for c, d in pairs.values()) + " | |",
              flush=True)
        for trial in args.trials:
            began = time.monotonic()
            cells = []
            for clean, degraded in pairs.values():
                psnr, ssim = demo.measure(clean, build(trial, degraded))
                cells.append(f"{psnr:.2f} / {ssim:.3f}")
            print(f"| {trial} | " + " | ".join(cells) + f" | {time.monotonic() - began:.0f} |", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
