"""The one place the package calls into the extension.

``restore`` is the restoration chain as the command line runs it; ``helpers``
is the internal way to the extension's building blocks (``check``, ``diff``,
``orvo3d``, ...), which are not public API and may change without notice.
"""

from __future__ import annotations

from .options import Options


def restore(src16, options: Options):
    """The restored clip for a YUV420P16 source (lazy, like ``main``'s result)."""
    from . import orvolib

    return orvolib.main(src16, options)


def helpers(options: Options | None = None):
    """Internal: the extension's per-call context, whose methods are its helpers."""
    from . import orvolib

    return orvolib._context(options if options is not None else Options.from_preset("default"))
