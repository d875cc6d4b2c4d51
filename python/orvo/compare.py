"""A labelled side-by-side picture of one frame of two clips and their amplified difference."""

from __future__ import annotations

from pathlib import Path
from typing import Callable

import numpy as np
import vapoursynth as vs

from .errors import UserError

LABEL_HEIGHT = 24
GAP = 4


def _rgb(clip: vs.VideoNode, n: int) -> np.ndarray:
    """Frame n as an 8-bit RGB array (height, width, 3)."""
    if clip.format.color_family == vs.GRAY:
        clip = clip.std.ShufflePlanes([0, 0, 0], vs.RGB) if clip.format.bits_per_sample == 8 else \
            vs.core.resize.Point(clip, format=vs.GRAY8, range_in_s="full", range_s="full").std.ShufflePlanes(
                [0, 0, 0], vs.RGB)
    if clip.format.id != vs.RGB24:
        from .io import _guess_matrix, str_matrix

        extra = {}
        if clip.format.color_family == vs.YUV and int(clip.get_frame(n).props.get("_Matrix", 2)) in (0, 2, 3):
            extra["matrix_in_s"] = str_matrix(_guess_matrix(clip.width, clip.height))
        clip = vs.core.resize.Bicubic(clip, format=vs.RGB24, dither_type="error_diffusion", **extra)
    frame = clip.get_frame(n)
    return np.dstack([np.asarray(frame[p]) for p in range(3)])


def picture(a: vs.VideoNode, b: vs.VideoNode, n: int, labels: tuple[str, str], amp: float = 10):
    """Pillow image: frame n of a, of b (matched to a) and of |a - b| * amp on the luma, labelled."""
    from PIL import Image, ImageDraw, ImageFont

    from .chain import helpers

    ctx = helpers()
    a, b = ctx.check(a, b, mode=1)
    difference = ctx.diff(a, b, amp, planes=0)
    panels = [_rgb(a, n), _rgb(b, n), _rgb(difference, n)]
    names = [labels[0], labels[1], f"|difference| x {amp:g} (luma)"]
    h, w = panels[0].shape[:2]
    canvas = Image.new("RGB", (3 * w + 2 * GAP, h + LABEL_HEIGHT), (32, 32, 32))
    draw = ImageDraw.Draw(canvas)
    font = ImageFont.load_default(size=14)  # the scalable built-in font: the bitmap one loses spaces
    for i, (panel, name) in enumerate(zip(panels, names)):
        x = i * (w + GAP)
        canvas.paste(Image.fromarray(panel, "RGB"), (x, LABEL_HEIGHT))
        draw.text((x + 4, 4), name, fill=(240, 240, 240), font=font)
    return canvas


def compare_files(path_a: str, path_b: str, *, frame: int, amp: float, output: str, force: bool,
                  note: Callable[[str], None] | None = None) -> None:
    from . import io

    clips = []
    for path in (path_a, path_b):
        clip = io.open_source(path)
        if not 0 <= frame < clip.num_frames:
            raise UserError(f"--frame {frame} is outside {path!r}, which has frames 0 to {clip.num_frames - 1}")
        clips.append(io.prepare(clip, note=None, pad=False).clip)
    if amp <= 0:
        raise UserError(f"--amp must be a positive number, got {amp:g}")
    image = picture(clips[0], clips[1], frame, (f"{Path(path_a).name} [{frame}]", f"{Path(path_b).name} [{frame}]"),
                    amp)
    with io.atomic_path(output, force=force) as tmp:
        image.save(tmp, format="PNG")
