"""orvo: a fixed restoration chain for 16-bit YUV 4:2:0 video in VapourSynth.

``orvo.main(src16, orvo.Options.from_preset("default"))`` builds the chain
(see ``orvo.orvolib``); the compiled module is imported on first use because
importing it sets ``sys.tracebacklimit`` to 0 for the whole interpreter.
"""

from __future__ import annotations

__version__ = "0.1.0"

from . import opencl as _opencl
from .options import Options, OptionsError

# KNLMeansCL needs an OpenCL platform it can read; see orvo.opencl.
_opencl.configure()

__all__ = ["main", "restore", "source", "Options", "OptionsError", "__version__"]


def main(src16, options):
    """Build the restoration chain for a YUV420P16 clip; see ``orvo.orvolib.main``."""
    from . import orvolib

    return orvolib.main(src16, options)


def restore(clip, options: Options | str = "default"):
    """`clip` restored as ``orvo restore`` does it, for scripts.

    Any YUV, RGB or GRAY clip: it is converted to YUV420P16 (missing colour tags
    guessed as players do), padded by edge repetition to a size the chain takes,
    restored, and cropped back. `options` is an :class:`Options` or a preset name.
    The result is YUV420P16 (even sizes, as 4:2:0 needs).
    """
    from . import chain, io

    if isinstance(options, str):
        options = Options.from_preset(options)
    prepared = io.prepare(clip)
    return prepared.finish(chain.restore(prepared.clip, options))


def source(path):
    """The clip of a video file: ``.y4m`` read directly, anything else through the bestsource plugin."""
    from . import io

    return io.open_source(path)

