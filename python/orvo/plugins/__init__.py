"""Our own VapourSynth plugins, one ``<namespace>.so`` each in this folder.

They stand in for plugins that no package registry offers for Linux and are
loaded only when the core lacks their namespace, so an installed upstream
plugin always wins.
"""

from __future__ import annotations

from pathlib import Path

HERE = Path(__file__).resolve().parent


def available() -> dict[str, Path]:
    """Namespace -> path of every plugin shipped in this folder."""
    return {p.stem: p for p in sorted(HERE.glob("*.so"))}


def ensure(namespace: str, core=None) -> bool:
    """Make ``namespace`` exist on ``core``; load our plugin if the core lacks it.

    Returns True when the namespace is present afterwards.
    """
    import vapoursynth as vs

    core = vs.core if core is None else core
    if hasattr(core, namespace):
        return True
    path = available().get(namespace)
    if path is None:
        return False
    core.std.LoadPlugin(str(path))
    return hasattr(core, namespace)


def ensure_all(core=None) -> list[str]:
    """Load every plugin of ours whose namespace is missing; returns those loaded."""
    import vapoursynth as vs

    core = vs.core if core is None else core
    loaded = []
    for ns in available():
        if not hasattr(core, ns) and ensure(ns, core):
            loaded.append(ns)
    return loaded
