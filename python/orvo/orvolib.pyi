"""The restoration chain for YUV420P16 clips (compiled extension)."""

from functools import partial as partial
from inspect import currentframe as currentframe, getframeinfo as getframeinfo
from re import search as search
from typing import Any, Protocol
import math as math
import sys as sys

import vapoursynth as vs

from .mvsfunc1610 import ToRGB as ToRGB, ToYUV as ToYUV

class _Group(Protocol):
    def values(self) -> Any: ...
    def __getitem__(self, key: str, /) -> Any: ...

class _OptionsLike(Protocol):
    """Eleven groups read by position through values(); f3kdb by its key "f3str"."""

    nr: _Group
    f3kdb: _Group
    gaussain: _Group
    aamod: _Group
    dbmod: _Group
    dering: _Group
    linedarken: _Group
    warp: _Group
    post_wf2x: _Group
    masks: _Group
    misc: _Group

def main(src16: vs.VideoNode, options: _OptionsLike) -> vs.VideoNode:
    """Build the restoration chain for a YUV420P16 clip."""

class _Context:
    """Internal: the per-call context with its helpers, for tests and the package's tools."""

    @property
    def core(self) -> vs.Core: ...
    @property
    def f3str(self) -> Any: ...
    @property
    def bsigma(self) -> Any: ...
    @property
    def glmgama(self) -> Any: ...
    @property
    def glmest1(self) -> int | float: ...
    @property
    def glmest2(self) -> int | float: ...
    @property
    def VSMaxPlaneNum(self) -> Any: ...
    def check(self, clipa: vs.VideoNode, *clipbs: vs.VideoNode, **kwargs: Any) -> vs.VideoNode | list[vs.VideoNode]: ...
    def diff(
        self,
        clipa: vs.VideoNode,
        clipb: vs.VideoNode,
        amp: float = 10,
        planes: int | list[int] | None = None,
        binarize: bool = False,
        maskedmerge: bool = False,
    ) -> vs.VideoNode: ...
    def orvo3d(
        self,
        clip: vs.VideoNode,
        nrluma: float = 1.9,
        nrchroma: float = 1.15,
        profile: str | None = "np",
        d: int = 1,
        a: int = 2,
        s: int = 3,
        device_type: str | None = "gpu",
        device_id: int | None = 0,
    ) -> vs.VideoNode: ...
    def Depth(self, input: vs.VideoNode, depth: int | None = None, sample: int | None = None, fulls: bool | None = None,
              fulld: bool | None = None, dither: Any = None, useZ: bool | None = None, prefer_props: Any = None,
              ampo: float | None = None, ampn: float | None = None, dyn: bool | None = None,
              staticnoise: bool | None = None) -> vs.VideoNode: ...
    def GetPlane(self, clip: vs.VideoNode, plane: int | None = None) -> vs.VideoNode: ...
    # The other helpers (masks, morphology, limiters, filters) take clips and values and return clips.
    def __getattr__(self, name: str) -> Any: ...

def _context(options: _OptionsLike) -> _Context:
    """Internal: a per-call context built from `options`."""
