"""``make demo``: sample clips, degraded, restored with each preset and a plain BM3D pass, measured.

Two short pans at a small size, one over a real photograph shipped with
scikit-image and one over a synthetic line-art picture, are degraded (noise,
banding, and ringing + banding + noise + JPEG blocking combined; ringing,
blocking and aliasing alone on request), restored with ``orvo restore`` and each
preset, and compared with the clean clip beside a plain BM3D pass of matched
strength: luma PSNR and SSIM, and the time each restore took. The clips,
comparison pictures and ``metrics.md`` are written under the output folder
(``demo/``).

Run: python -m orvo.demo --out demo [--size 320x192] [--frames 24] [--degradations noise,banding,combined]
"""

from __future__ import annotations

import argparse
import math
import subprocess
import sys
import time
from dataclasses import dataclass, field
from pathlib import Path
from typing import Callable

import numpy as np
import vapoursynth as vs

core = vs.core

FPS = 24


# --- pictures and clips ------------------------------------------------------------------------

def photograph() -> np.ndarray:
    """The astronaut photograph of scikit-image's sample data, RGB floats in [0, 1]."""
    from skimage import data

    return data.astronaut().astype(np.float32) / 255


def line_art(width: int, height: int, seed: int = 1) -> np.ndarray:
    """A drawing: flat colour shapes with dark outlines over a soft gradient, RGB floats in [0, 1].

    Drawn at four times the size and averaged down, so edges are anti-aliased as in real line art.
    """
    rng = np.random.default_rng(seed)
    k = 4
    h, w = height * k, width * k
    y, x = np.mgrid[0:h, 0:w].astype(np.float32)
    top, bottom = np.array([0.55, 0.70, 0.90]), np.array([0.95, 0.85, 0.70])
    t = (y / h)[..., None]
    img = (top * (1 - t) + bottom * t).astype(np.float32)
    line = 1.6 * k
    for _ in range(max(6, width * height // 6000)):
        cx, cy = rng.uniform(0, w), rng.uniform(0, h)
        colour = rng.uniform(0.1, 1.0, 3)
        if rng.random() < 0.5:
            rx, ry = rng.uniform(0.04, 0.15, 2) * min(w, h) * (1.0, rng.uniform(0.6, 1.4))
            dist = np.sqrt(((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2)
            inside, edge = dist < 1, np.abs(dist - 1) * min(rx, ry) < line / 2
        else:
            hw, hh = rng.uniform(0.05, 0.18, 2) * min(w, h)
            dx, dy = np.abs(x - cx) - hw, np.abs(y - cy) - hh
            outside = np.maximum(dx, dy)
            inside, edge = outside < 0, np.abs(outside) < line / 2
        img[inside] = colour
        img[edge] = 0.08
    return img.reshape(height, k, width, k, 3).mean(axis=(1, 3))


SOURCES = ("photo", "lineart")


def source_picture(name: str, width: int, height: int, frames: int) -> np.ndarray:
    """The picture a `frames`-long pan of width x height runs over: "photo" or "lineart"."""
    if name == "photo":
        return photograph()
    if name == "lineart":
        return line_art(width + 2 * frames, height + frames)
    raise ValueError(f"source_picture: unknown picture {name!r}; choose from {', '.join(SOURCES)}")


def pan(image: np.ndarray, width: int, height: int, frames: int, step: tuple[int, int] = (2, 1)) -> list:
    """`frames` windows of width x height moving `step` pixels a frame over `image` (scaled up if small)."""
    need_w, need_h = width + step[0] * (frames - 1), height + step[1] * (frames - 1)
    if image.shape[1] < need_w or image.shape[0] < need_h:
        from skimage.transform import rescale

        factor = max(need_w / image.shape[1], need_h / image.shape[0])
        image = rescale(image, factor, channel_axis=2, anti_aliasing=False).astype(np.float32)
    # Centred: the middle of a photograph is where its subject is.
    x0, y0 = (image.shape[1] - need_w) // 2, (image.shape[0] - need_h) // 2
    return [image[y0 + i * step[1]:y0 + i * step[1] + height, x0 + i * step[0]:x0 + i * step[0] + width]
            for i in range(frames)]


def _matrix(width: int, height: int) -> str:
    # The matrix a y4m reader assumes for this size, so the files read back as written.
    from .io import _guess_matrix, str_matrix

    return str_matrix(_guess_matrix(width, height))


def clip_from_rgb(frames: list) -> vs.VideoNode:
    """YUV420P16 clip of RGB float frames, tagged like real video."""
    height, width = frames[0].shape[:2]
    blank = core.std.BlankClip(width=width, height=height, format=vs.RGBS, length=len(frames),
                               fpsnum=FPS, fpsden=1, keep=True)

    def fill(n, f):
        out = f.copy()
        for p in range(3):
            np.copyto(np.asarray(out[p]), frames[n][..., p])
        return out

    rgb = blank.std.ModifyFrame(blank, fill)
    yuv = core.resize.Bicubic(rgb, format=vs.YUV420P16, matrix_s=_matrix(width, height), range_s="limited")
    code = 1 if _matrix(width, height) == "709" else 6
    return yuv.std.SetFrameProps(_Primaries=code, _Transfer=code, _FieldBased=0, _ChromaLocation=0)


def luma(clip: vs.VideoNode) -> list[np.ndarray]:
    """Plane 0 of every frame, as float arrays on the 8-bit scale."""
    scale = 2.0 ** (clip.format.bits_per_sample - 8)
    return [np.asarray(f[0]).astype(np.float64) / scale for f in clip.frames()]


def _per_frame(clip: vs.VideoNode, fn: Callable[[int, list], None]) -> vs.VideoNode:
    """`clip` with fn(n, planes) applied in place to writable copies of its planes."""
    def modify(n, f):
        out = f.copy()
        fn(n, [np.asarray(out[p]) for p in range(out.format.num_planes)])
        return out

    return clip.std.ModifyFrame(clip, modify)


# --- degradations (YUV420P16 in, YUV420P16 out) ------------------------------------------------

def add_noise(clip: vs.VideoNode, sigma: float, seed: int = 7) -> vs.VideoNode:
    """Gaussian noise of `sigma` 8-bit steps on luma and half that on chroma, new every frame."""
    def noise(n, planes):
        rng = np.random.default_rng([seed, n])
        for p, plane in enumerate(planes):
            s = sigma * 256 * (1 if p == 0 else 0.5)
            plane[...] = np.clip(plane + rng.normal(0, s, plane.shape), 0, 65535).round()

    return _per_frame(clip, noise)


def ring(clip: vs.VideoNode, amount: float = 0.8) -> vs.VideoNode:
    """Blur by a half-size round trip, then oversharpen it: soft edges with halos on both sides."""
    w, h = clip.width, clip.height
    soft = core.resize.Bicubic(core.resize.Bicubic(clip, w // 2 & ~1, h // 2 & ~1), w, h)
    blurred = soft.std.BoxBlur(hradius=2, vradius=2)
    return core.std.Expr([soft, blurred], f"x x y - {amount} * +")


def alias(clip: vs.VideoNode) -> vs.VideoNode:
    """A cheap upscale: every other pixel dropped, then scaled back up: jagged, stair-stepped lines."""
    w, h = clip.width, clip.height
    return core.resize.Bicubic(core.resize.Point(clip, w // 2 & ~1, h // 2 & ~1), w, h)


def band(clip: vs.VideoNode, step: float = 4) -> vs.VideoNode:
    """Quantize every plane to `step` 8-bit steps: flat gradients turn into visible bands."""
    q = step * 256

    def quantize(n, planes):
        for plane in planes:
            plane[...] = np.clip(np.round(plane / q) * q, 0, 65535)

    return _per_frame(clip, quantize)


def jpeg(clip: vs.VideoNode, quality: int = 30) -> vs.VideoNode:
    """Every frame through a JPEG round trip at `quality`: 8x8 blocking and mosquito noise."""
    import io as bytesio

    from PIL import Image

    matrix = _matrix(clip.width, clip.height)
    rgb = core.resize.Bicubic(clip, format=vs.RGB24, matrix_in_s=matrix, dither_type="ordered")

    def compress(n, planes):
        picture = Image.fromarray(np.dstack(planes), "RGB")
        buffer = bytesio.BytesIO()
        picture.save(buffer, format="JPEG", quality=quality)
        decoded = np.asarray(Image.open(buffer).convert("RGB"))
        for p, plane in enumerate(planes):
            plane[...] = decoded[..., p]

    rgb = _per_frame(rgb, compress)
    out = core.resize.Bicubic(rgb, format=vs.YUV420P16, matrix_s=matrix, range_s="limited")
    return out.std.CopyFrameProps(clip)


@dataclass(frozen=True)
class Degradation:
    name: str
    apply: Callable[[vs.VideoNode], vs.VideoNode]
    # Strength of the plain BM3D baseline matched to it. BM3D's sigma is on the 8-bit scale of the OPP
    # luma of full-range RGB, so noise of sigma s on limited-range luma needs about 2 s (measured with
    # bench/presets.py: s = 3 gives the best PSNR at sigma 6-7); where little noise is added, the best
    # of sigma 1, 2, 4, 6.
    bm3d_sigma: float
    what: str


DEGRADATIONS = {
    "noise": Degradation("noise", lambda c: add_noise(c, 3), 6, "Gaussian noise, sigma 3 (8-bit luma)"),
    "banding": Degradation("banding", band, 2, "every plane quantized to 4 8-bit steps"),
    "ringing": Degradation("ringing", ring, 2, "half-size round trip, oversharpened: soft edges with halos"),
    "blocking": Degradation("blocking", jpeg, 6, "JPEG at quality 30"),
    "aliasing": Degradation("aliasing", alias, 2, "every other pixel dropped, scaled back up: jagged lines"),
    "combined": Degradation("combined", lambda c: jpeg(add_noise(band(ring(c), 2), 3), 60), 6,
                            "ringing, banding (2 steps), noise sigma 3, JPEG at quality 60"),
}

# --- measuring -----------------------------------------------------------------------------------

def measure(reference: vs.VideoNode, test: vs.VideoNode) -> tuple[float, float]:
    """Mean luma PSNR (dB, 8-bit scale) and SSIM of `test` against `reference` over every frame."""
    from skimage.metrics import peak_signal_noise_ratio, structural_similarity

    if (reference.num_frames, reference.width, reference.height) != (test.num_frames, test.width, test.height):
        raise ValueError("measure: the clips differ in length or size")
    psnrs, ssims = [], []
    for ref, out in zip(luma(reference), luma(test)):
        psnrs.append(math.inf if np.array_equal(ref, out) else peak_signal_noise_ratio(ref, out, data_range=255))
        ssims.append(structural_similarity(ref, out, data_range=255))
    return float(np.mean(psnrs)), float(np.mean(ssims))


@dataclass
class Row:
    clip: str
    degradation: str
    version: str
    psnr: float | None = None
    ssim: float | None = None
    seconds: float | None = None
    note: str = ""
    baseline: bool = False  # the plain BM3D pass the other versions are compared with


def table(rows: list[Row]) -> str:
    """The figures as a Markdown table, with each version's PSNR less the BM3D baseline's."""
    def num(v, fmt):
        return "–" if v is None else ("inf" if v == math.inf else format(v, fmt))

    base = {(r.clip, r.degradation): r.psnr for r in rows if r.baseline}
    lines = ["| clip | degradation | version | luma PSNR (dB) | vs BM3D (dB) | SSIM | time (s) | note |",
             "|---|---|---|---:|---:|---:|---:|---|"]
    for r in rows:
        b = base.get((r.clip, r.degradation))
        gap = None if r.baseline or r.psnr is None or b is None or math.inf in (r.psnr, b) else r.psnr - b
        lines.append(f"| {r.clip} | {r.degradation} | {r.version} | {num(r.psnr, '.2f')} | {num(gap, '+.2f')} | "
                     f"{num(r.ssim, '.4f')} | {num(r.seconds, '.1f')} | {r.note} |")
    return "\n".join(lines) + "\n"


# --- the run --------------------------------------------------------------------------------------

@dataclass
class Settings:
    out: Path
    width: int = 320
    height: int = 192
    frames: int = 24
    degradations: list[str] = field(default_factory=lambda: ["noise", "banding", "combined"])
    presets: list[str] = field(default_factory=list)
    device: str = "auto"


def write(clip: vs.VideoNode, path: Path) -> None:
    from .io import write_y4m

    with open(path, "wb") as f:
        write_y4m(clip, f)


def bm3d_pass(clip: vs.VideoNode, sigma: float, device: str = "auto") -> vs.VideoNode:
    """The baseline: one plain ``orvo3d`` pass (BM3D luma of strength `sigma`, KNLMeansCL chroma)."""
    from .chain import helpers

    return helpers().orvo3d(clip, sigma, 1.2, "fast", device_type=device)


def _restore(source: Path, output: Path, preset: str, device: str) -> tuple[float | None, str]:
    """Runs `orvo restore`; (seconds, "") on success, (None, its error) otherwise."""
    cmd = [sys.executable, "-m", "orvo", "restore", str(source), "-o", str(output), "--preset", preset,
           "--device", device, "--force"]
    began = time.monotonic()
    done = subprocess.run(cmd, capture_output=True, text=True)
    spent = time.monotonic() - began
    if done.returncode != 0:
        lines = done.stderr.strip().splitlines()
        return None, (lines[-1] if lines else f"exit status {done.returncode}").removeprefix("orvo: error: ")
    return spent, ""


def run(s: Settings) -> list[Row]:
    from .compare import picture
    from .io import open_y4m
    from .options import preset_names

    s.out.mkdir(parents=True, exist_ok=True)
    presets = s.presets or preset_names()
    rows: list[Row] = []
    middle = s.frames // 2
    for clip_name in SOURCES:
        image = source_picture(clip_name, s.width, s.height, s.frames)
        clean_path = s.out / f"{clip_name}-clean.y4m"
        write(clip_from_rgb(pan(image, s.width, s.height, s.frames)), clean_path)
        clean = open_y4m(clean_path)
        for dname in s.degradations:
            d = DEGRADATIONS[dname]
            stem = f"{clip_name}-{dname}"
            degraded_path = s.out / f"{stem}.y4m"
            write(d.apply(clean), degraded_path)
            degraded = open_y4m(degraded_path)
            rows.append(Row(clip_name, dname, "degraded", *measure(clean, degraded)))
            picture(clean, degraded, middle, ("clean", dname)).save(s.out / f"{stem}.png")

            began = time.monotonic()
            base_path = s.out / f"{stem}-bm3d.y4m"
            write(bm3d_pass(degraded, d.bm3d_sigma, s.device), base_path)
            spent = time.monotonic() - began
            base = open_y4m(base_path)
            rows.append(Row(clip_name, dname, f"plain BM3D (sigma {d.bm3d_sigma:g})", *measure(clean, base), spent,
                            baseline=True))
            picture(degraded, base, middle, (dname, "plain BM3D")).save(s.out / f"{stem}-bm3d.png")

            for preset in presets:
                out_path = s.out / f"{stem}-{preset}.y4m"
                spent, error = _restore(degraded_path, out_path, preset, s.device)
                if error:
                    rows.append(Row(clip_name, dname, f"preset {preset}", note=error))
                    continue
                restored = open_y4m(out_path)
                rows.append(Row(clip_name, dname, f"preset {preset}", *measure(clean, restored), spent))
                picture(degraded, restored, middle, (dname, f"preset {preset}")).save(s.out / f"{stem}-{preset}.png")
            print(table([r for r in rows if r.clip == clip_name and r.degradation == dname]), flush=True)
    what = "\n".join(f"- {name}: {DEGRADATIONS[name].what}" for name in s.degradations)
    (s.out / "metrics.md").write_text(
        f"{s.width}x{s.height}, {s.frames} frames at {FPS} fps, a slow pan over each picture. Luma PSNR and SSIM "
        f"against the clean clip, averaged over frames; vs BM3D is the PSNR less that of a plain BM3D pass of "
        f"the strength matched to the degradation; time is the wall time of `orvo restore` (process start "
        f"included) or of the BM3D pass.\n\n{what}\n\n{table(rows)}")
    return rows


def main(argv=None) -> int:
    ap = argparse.ArgumentParser(prog="python -m orvo.demo", description=__doc__.splitlines()[0])
    ap.add_argument("--out", type=Path, default=Path("demo"))
    ap.add_argument("--size", default="320x192", help="WIDTHxHEIGHT of the clips")
    ap.add_argument("--frames", type=int, default=24)
    ap.add_argument("--degradations", default="noise,banding,combined", help=f"comma list of {', '.join(DEGRADATIONS)}")
    ap.add_argument("--presets", default="", help="comma list (default: every preset)")
    ap.add_argument("--device", default="auto", choices=("cpu", "gpu", "auto"))
    args = ap.parse_args(argv)
    try:
        width, height = (int(v) for v in args.size.lower().split("x"))
    except ValueError:
        ap.error(f"--size {args.size!r} must be WIDTHxHEIGHT")
    wanted = [d for d in args.degradations.split(",") if d]
    unknown = [d for d in wanted if d not in DEGRADATIONS]
    if unknown:
        ap.error(f"unknown degradation(s) {', '.join(unknown)}; choose from {', '.join(DEGRADATIONS)}")
    settings = Settings(args.out, width, height, args.frames, wanted,
                        [p for p in args.presets.split(",") if p], args.device)
    rows = run(settings)
    print(f"figures in {args.out / 'metrics.md'}")
    return 0 if rows else 1


if __name__ == "__main__":
    raise SystemExit(main())
