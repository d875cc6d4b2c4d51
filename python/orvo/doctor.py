"""Dependency report: which namespaces the chain calls are available, and from where."""

from __future__ import annotations

import os
import shutil
import subprocess
import sys

from . import opencl
from . import plugins as own

# Namespace -> the pip package that provides it, for the hint on a missing one.
PACKAGES = {
    "bm3d": "vapoursynth-bm3d",
    "knlm": "vapoursynth-knlmeanscl",
    "nnedi3": "vapoursynth-znedi3",
    "sangnom": "vapoursynth-sangnom",
    "bs": "vapoursynth-bestsource",
}
OPENCL_HINT = 'no OpenCL CPU runtime in this environment: pip install "orvo[opencl]" (the opencl-rt package)'

# Namespace -> what the chain uses it for.
NAMESPACES = {
    "std": "core filters",
    "resize": "zimg resizers",
    "text": "text overlays",
    "fmtc": "bit depth and resampling",
    "rgvs": "RemoveGrain / Repair",
    "misc": "Hysteresis",
    "tcanny": "edge masks",
    "f3kdb": "deband",
    "knlm": "chroma denoise (OpenCL)",
    "bm3d": "denoise",
    "nnedi3": "anti-aliasing",
    "eedi2": "anti-aliasing",
    "sangnom": "anti-aliasing",
    "warp": "warp sharpening",
    "ctmf": "median",
    "bs": "reading video files",
}
BUILTIN = {"std", "resize", "text"}


def _describe(plugin) -> str:
    version = ".".join(str(v) for v in plugin.version)
    where = plugin.plugin_path or "built into VapourSynth"
    return f"{plugin.identifier} {version} ({where})"


def _find(core, namespace):
    for p in core.plugins():
        if p.namespace == namespace:
            return p
    return None


def opencl_devices() -> list[str]:
    """OpenCL devices as listed by clinfo (empty when clinfo is missing or finds none)."""
    exe = shutil.which("clinfo")
    if not exe:
        return []
    try:
        out = subprocess.run([exe, "-l"], capture_output=True, text=True, timeout=30).stdout
    except (OSError, subprocess.SubprocessError):
        return []
    return [line.strip() for line in out.splitlines() if line.strip()]


def knlm_device_types(core) -> dict[str, str]:
    """device_type -> "ok" or the error KNLMeansCL gives when a filter is created with it."""
    import vapoursynth as vs

    clip = core.std.BlankClip(width=64, height=64, format=vs.YUV420P16, length=1)
    result = {}
    for dt in ("cpu", "gpu", "accelerator", "auto"):
        try:
            core.knlm.KNLMeansCL(clip, d=0, channels="UV", device_type=dt).get_frame(0)
            result[dt] = "ok"
        except vs.Error as e:
            result[dt] = " ".join(str(e).split())
    return result


def report(out=sys.stdout) -> int:
    """Prints the report; returns the number of namespaces that are missing or unusable."""
    import vapoursynth as vs

    core = vs.core
    print(f"VapourSynth {vs.__version__} (API {vs.__api_version__}), Python {sys.version.split()[0]}", file=out)
    ours = own.available()
    problems = 0
    for ns, use in NAMESPACES.items():
        found = _find(core, ns)
        if found is not None:
            kind = "built in" if ns in BUILTIN else "installed"
            line = f"{kind}: {_describe(found)}"
        elif ns == "nnedi3" and _find(core, "znedi3") is not None:
            line = f"installed as znedi3: {_describe(_find(core, 'znedi3'))}"
        elif ns in ours:
            try:
                own.ensure(ns, core)
                line = f"orvo plugin: {_describe(_find(core, ns))}"
            except vs.Error as e:
                line = f"MISSING: our plugin failed to load: {e}"
                problems += 1
        else:
            line = "MISSING" + (f": pip install {PACKAGES[ns]}" if ns in PACKAGES else "")
            problems += 1
        print(f"  {ns:<8} {use:<26} {line}", file=out)

    if _find(core, "knlm") is not None:
        devices = opencl_devices()
        vendors = os.environ.get("OCL_ICD_VENDORS", "/etc/OpenCL/vendors")
        print(f"OpenCL devices (clinfo -l, ICDs from {vendors}):", file=out)
        for d in devices or ["none found (is clinfo installed?)"]:
            print(f"  {d}", file=out)
        kinds = knlm_device_types(core)
        print("KNLMeansCL device_type:", file=out)
        for dt, state in kinds.items():
            print(f"  {dt:<12} {state}", file=out)
        if all(state != "ok" for state in kinds.values()):
            print("  no usable OpenCL device: the chroma denoise cannot run", file=out)
            problems += 1
        if opencl.cpu_runtime() is None and kinds.get("cpu") != "ok":
            print(f"  {OPENCL_HINT}", file=out)
    ffmpeg = shutil.which("ffmpeg")
    print(f"ffmpeg (for .mkv/.mp4 output): {ffmpeg or 'not installed; apt install ffmpeg, or write .y4m'}", file=out)
    print("all dependencies available" if not problems else f"{problems} problem(s) found", file=out)
    return problems
