import vapoursynth as vs

# Graph inspection must be switched on before anything touches vs.core.
vs._try_enable_introspection(0)

import numpy as np  # noqa: E402
import pytest  # noqa: E402

from orvo import plugins as orvo_plugins  # noqa: E402


@pytest.fixture(scope="session")
def core():
    return vs.core


def need(namespace: str):
    """The namespace on the core (loading our plugin if needed), or skip."""
    if not orvo_plugins.ensure(namespace):
        pytest.skip(f"namespace {namespace!r} is not available")
    return getattr(vs.core, namespace)


def planes_of(frame) -> list[np.ndarray]:
    """Copies of every plane of a frame as numpy arrays."""
    return [np.array(frame[p], copy=True) for p in range(frame.format.num_planes)]


def clip_from_planes(planes, fmt, *, length: int = 1):
    """A clip of `length` frames whose planes hold the given arrays (same list for every frame)."""
    height, width = planes[0].shape
    blank = vs.core.std.BlankClip(width=width, height=height, format=fmt, length=length, keep=True)

    def fill(n, f):
        out = f.copy()
        for p, arr in enumerate(planes):
            np.copyto(np.asarray(out[p]), arr)
        return out

    return blank.std.ModifyFrame(blank, fill)


@pytest.fixture
def ctx():
    """A per-call context of the extension with default options (its helpers are methods)."""
    from options import make_options

    from orvo import orvolib

    return orvolib._context(make_options())


def graph_nodes(clip, namespace=None, name=None):
    """Every node of the graph behind `clip` (each once), optionally only those of namespace.name."""
    seen, order, todo = set(), [], [clip]
    while todo:
        node = todo.pop()
        if node in seen:
            continue
        seen.add(node)
        order.append(node)
        todo.extend(node.dependencies)
    return [n for n in order
            if (namespace is None or n._plugin_ns == namespace) and (name is None or n._name == name)]


def as_list(value):
    """A graph argument as a list (single values come back as scalars)."""
    return list(value) if isinstance(value, (list, tuple)) else [value]


# The colour tags a real BT.709 video carries; test sources get them so that
# a conversion that hands on a wrong tag fails here as it would on real input.
REAL_VIDEO_TAGS = dict(_Matrix=1, _Transfer=1, _Primaries=1, _Range=0, _ChromaLocation=0, _FieldBased=0)


def tagged(clip):
    """`clip` with the tags of a real BT.709 limited-range video."""
    return clip.std.SetFrameProps(**REAL_VIDEO_TAGS)
