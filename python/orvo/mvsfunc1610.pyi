"""RGB/YUV conversions used by the chain, including BM3D's opponent colour space (matrix="OPP")."""

import vapoursynth as vs

def ToYUV(
    input: vs.VideoNode,
    matrix: str | None = None,
    css: str | None = None,
    depth: int | None = None,
    full: bool | None = None,
) -> vs.VideoNode:
    """Convert to YUV with subsampling `css`, `depth` bits and `full` range (limited by default)."""

def ToRGB(
    input: vs.VideoNode,
    matrix: str | None = None,
    depth: int | None = None,
    full: bool | None = None,
) -> vs.VideoNode:
    """Convert to RGB with `depth` bits and `full` range (full by default)."""
