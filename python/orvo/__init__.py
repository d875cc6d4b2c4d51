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

__all__ = ["main", "Options", "OptionsError", "__version__"]


def main(src16, options):
    """Build the restoration chain for a YUV420P16 clip; see ``orvo.orvolib.main``."""
    from . import orvolib

    return orvolib.main(src16, options)

