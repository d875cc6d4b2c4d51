"""OpenCL set-up for KNLMeansCL on machines without a GPU.

KNLMeansCL reads each platform's version into a 64-byte buffer, so it fails on
pocl, whose version text is longer ("CL_INVALID_VALUE" while listing
platforms). The CPU runtime from the `opencl-rt` package has a short one.
When that runtime is installed in this environment and the caller has not
chosen ICDs already, point the OpenCL loader at it alone.
"""

from __future__ import annotations

import os
import sys
from pathlib import Path

VENDOR_FILE = "orvo-intel-cpu.icd"


def cpu_runtime() -> Path | None:
    """The OpenCL CPU runtime library installed with this environment, if any."""
    lib = Path(sys.prefix) / "lib" / "libintelocl.so"
    return lib if lib.exists() else None


def vendors_dir() -> Path:
    return Path(sys.prefix) / "etc" / "OpenCL" / "vendors"


def configure() -> Path | None:
    """Sets OCL_ICD_VENDORS to our vendors folder unless already set; returns the folder used.

    Must run before the first OpenCL call of the process (the loader reads the
    variable once). Writes the one-line ICD file when it is missing.
    """
    if "OCL_ICD_VENDORS" in os.environ or "OCL_ICD_FILENAMES" in os.environ:
        return None
    lib = cpu_runtime()
    if lib is None:
        return None
    folder = vendors_dir()
    icd = folder / VENDOR_FILE
    try:
        if not icd.exists() or icd.read_text().strip() != str(lib):
            folder.mkdir(parents=True, exist_ok=True)
            icd.write_text(f"{lib}\n")
    except OSError:
        return None
    os.environ["OCL_ICD_VENDORS"] = str(folder)
    return folder
