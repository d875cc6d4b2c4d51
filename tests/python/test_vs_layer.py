"""The package's plugin loading and the dependency report."""

import subprocess
import sys

import vapoursynth as vs

from orvo import plugins


def test_our_plugins_are_named_after_their_namespace():
    for ns, path in plugins.available().items():
        assert path.name == f"{ns}.so"


def test_ensure_keeps_an_existing_namespace():
    # std is built in: nothing is loaded and the call still succeeds
    assert plugins.ensure("std")
    assert not plugins.ensure("no_such_namespace_here")


def test_doctor_lists_every_namespace():
    out = subprocess.run([sys.executable, "-m", "orvo", "doctor"], capture_output=True, text=True)
    lines = out.stdout.splitlines()
    for ns in ("std", "resize", "text", "fmtc", "rgvs", "misc", "tcanny", "f3kdb", "knlm", "bm3d", "nnedi3",
               "eedi2", "sangnom", "warp", "ctmf"):
        assert any(line.split()[:1] == [ns] for line in lines), ns
    problems = [line for line in lines if "MISSING" in line or "no usable" in line]
    assert (out.returncode != 0) == bool(problems)
    assert any(line.startswith("  bm3d") and "installed" in line for line in lines)
    assert vs.__version__.release_major >= 74


def test_helper_calls_leave_out_none_keywords():
    from orvo import orvolib

    clip = orvolib._call("std", "BlankClip", [], {"width": None, "height": 32, "format": vs.GRAY8})
    assert (clip.width, clip.height) == (640, 32)  # width kept the plugin's default


def test_missing_namespaces_are_reached_through_ours_or_znedi3():
    from orvo import orvolib

    if not hasattr(vs.core, "nnedi3") and hasattr(vs.core, "znedi3"):
        assert orvolib._namespace("nnedi3").nnedi3.plugin.namespace == "znedi3"
    for ns in plugins.available():
        assert orvolib._namespace(ns) is not None and hasattr(vs.core, ns)
    import pytest

    with pytest.raises(AttributeError):
        orvolib._namespace("no_such_namespace_here")
