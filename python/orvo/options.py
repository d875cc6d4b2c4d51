"""Named options for ``main``: the eleven groups in reading order, checked, with presets.

``main`` reads each group's ``values()`` by position (``f3kdb`` by its key
``f3str``) and checks nothing itself, so a wrong value used to surface deep
inside a plugin. :class:`Options` names every value, checks it on
construction and says which group and value was wrong.
"""

from __future__ import annotations

import math
import tomllib
from dataclasses import dataclass
from importlib import resources
from pathlib import Path
from types import MappingProxyType
from typing import Any, Mapping

from .errors import UserError

__all__ = ["Options", "OptionsError", "GROUPS", "preset_names", "preset_description", "preset_text",
           "parse_assignment"]


class OptionsError(UserError, ValueError):
    """A value, name or file that does not make a valid set of options."""


@dataclass(frozen=True)
class OptionInfo:
    """What one value accepts. ``kind``: int, number, bool, choice, planes, any."""

    name: str
    kind: str
    doc: str
    lo: float | None = None
    hi: float | None = None
    positive: bool = False
    auto: bool = False  # None allowed, written "auto" in files
    choices: tuple = ()


def _s(name, kind, doc, **kw) -> OptionInfo:
    return OptionInfo(name, kind, doc, **kw)


_UNUSED = "read by main, not used by the chain"

# The groups and their values in the order main reads them.
GROUPS: dict[str, tuple[OptionInfo, ...]] = {
    "nr": (
        _s("d", "int", "second denoise: KNLMeansCL temporal radius (2*d+1 frames)", lo=0),
        _s("a", "int", "second denoise: KNLMeansCL search radius", lo=1),
        _s("s", "int", "second denoise: KNLMeansCL similarity window radius", lo=0),
        _s("hy", "number", "second denoise: luma strength (BM3D sigma)", positive=True),
        _s("hc", "number", "second denoise: chroma strength (KNLMeansCL h below 1.6, BM3D above)", positive=True),
        _s("hy2", "number", "first denoise: luma strength (BM3D sigma)", lo=0),
        _s("hc2", "number", 'first denoise: chroma strength; "auto" = min(hc / hy * hy2, 2.0)', positive=True,
           auto=True),
        _s("device_type", "choice", "KNLMeansCL OpenCL device", choices=("cpu", "gpu", "accelerator", "auto")),
        _s("device_id", "int", "KNLMeansCL device index among those of device_type", lo=0),
    ),
    "f3kdb": (
        _s("f3str", "number", "limit of the deband-sharpen layer: thresholds 0.4*(1+f3str), 0.3*(1+f3str)", lo=0),
    ),
    "gaussain": (
        _s("bsigma", "number", "Gaussian blur sigma of the blur-difference sharpening", positive=True),
        _s("dgmode", "int", "RemoveGrain mode applied to the sharpening layer's luma", lo=0, hi=24),
        _s("pdgp", "number", "multiplier of the sharpening-layer mask", lo=0),
    ),
    "aamod": (
        _s("aakernel", "int", "anti-aliasing: 1 EEDI2, 2 nnedi3 at 80 %, 3 EEDI2 + SangNom at 80 %, 0 or 4 off",
           lo=0, hi=4),
        _s("cycle", "int", "anti-aliasing passes (kernels 1 and 2)", lo=0),
        _s("eesigma", "number", "edge enhancement: Gaussian blur sigma; 0 turns it off", lo=0),
        _s("elsigma", "any", _UNUSED),
        _s("Text_Protect", "bool", "switch: keep bright, colourless text out of anti-aliasing and enhancement"),
    ),
    "dbmod": (
        _s("left", "number", "deband strength curve at average luma 0", lo=0),
        _s("right", "number", "deband strength curve at average luma 1", lo=0),
        _s("anc_x", "number", "deband curve control point, luma position", lo=0, hi=1),
        _s("anc_y", "number", "deband curve control point, strength", lo=0),
        _s("dbsty", "number", "deband base luma strength", lo=0, hi=511),
        _s("dbstc", "number", "deband base chroma strength", lo=0, hi=511),
        _s("range1", "int", "deband first pass range", lo=0, hi=31),
        _s("range2", "int", "deband second pass range", lo=0, hi=31),
        _s("range3", "any", _UNUSED),
        _s("thr", "number", "deband limit threshold, luma (8-bit steps)", lo=0),
        _s("thc", "number", "deband limit threshold, chroma (8-bit steps)", lo=0),
        _s("est", "number", "deband limit elasticity", lo=1),
        _s("dbamp", "number", "multiplier of the deband strength curve", lo=0),
        _s("chroma", "bool", "chroma deband strength follows the luma curve"),
        _s("tp", "bool", "second, wider deband pass"),
        _s("Time_domain_p", "bool", "switch: adaptive deband"),
    ),
    "dering": (
        _s("rbias", "any", _UNUSED),
        _s("drgamma", "number", "gamma applied around the dering", positive=True),
        _s("drrx", "number", "ring mask: downscale ratio", positive=True),
        _s("dramp", "number", "ring mask: amplification", lo=0),
        _s("limited_dering", "bool", "switch: warp-limited correction of the dering"),
    ),
    "linedarken": (
        _s("Line_Darken", "bool", "switch: darken thin dark lines"),
        _s("ldamp", "number", "line darkening strength (exponent 0.5*ldamp)", lo=0),
        _s("limit", "number", "line darkening cap (3*limit 8-bit steps)", lo=0),
        _s("thrs", "number", "line darkening threshold (16-bit steps; 256 = one 8-bit step)", lo=0),
    ),
    "warp": (
        _s("Warpline", "bool", "switch: warp-sharpen lines"),
        _s("wthresh", "int", "AWarpSharp2 thresh", lo=0, hi=255),
        _s("wblur", "int", "AWarpSharp2 blur passes", lo=0),
        _s("wdepth", "int", "AWarpSharp2 depth", lo=-128, hi=127),
        _s("wplane", "planes", "planes warp-sharpened: 0, 1, 2 or a list of them"),
    ),
    "post_wf2x": tuple(_s(n, "any", _UNUSED) for n in (
        "Limited_wf2x", "matr", "matr0", "matrmode", "wfnoise", "wfscale", "wfslice", "wfmode", "wfshift")),
    "masks": (
        _s("mainsigma", "any", _UNUSED),
        _s("mainhigh", "any", _UNUSED),
        _s("mainlow", "any", _UNUSED),
        _s("glmgama", "number", "line mask: gamma", positive=True),
        _s("glmest1", "number", "line mask: first cut (times 100 on the 16-bit scale)"),
        _s("glmest2", "number", "line mask: second cut (times 100 on the 16-bit scale)"),
        *(_s(n, "any", _UNUSED) for n in (
            "cmplimitY", "cmplimitC", "cmlowlimit1", "cmlowlimit2", "cmlowlimit3", "cmdelta", "cmradius",
            "cmblursigma")),
    ),
    "misc": (
        _s("VSMaxPlaneNum", "int", "exclusive bound of plane indices the helpers accept", lo=1, hi=3),
        _s("debugmode", "any", _UNUSED),
    ),
}

_SPECS = {(g, s.name): s for g, specs in GROUPS.items() for s in specs}


def _is_number(v) -> bool:
    return isinstance(v, (int, float)) and not isinstance(v, bool)


def _range_text(s: OptionInfo) -> str:
    if s.lo is not None and s.hi is not None:
        return f" from {s.lo:g} to {s.hi:g}"
    if s.lo is not None:
        return f" of at least {s.lo:g}"
    return ""


def check_value(group: str, name: str, value):
    """The value as stored, or OptionsError naming group, value and what is accepted."""
    s = _SPECS[group, name]
    q = f"{group}.{name}"
    if s.auto and (value is None or value == "auto"):
        return None
    if s.kind == "bool":
        if not isinstance(value, bool):
            raise OptionsError(f"{q} must be true or false, got {value!r}")
        return value
    if s.kind == "choice":
        if value not in s.choices:
            raise OptionsError(f"{q} must be one of {', '.join(s.choices)}, got {value!r}")
        return value
    if s.kind == "planes":
        items = value if isinstance(value, (list, tuple)) else [value]
        if not items or any(isinstance(p, bool) or not isinstance(p, int) or not 0 <= p <= 2 for p in items):
            raise OptionsError(f"{q} must be a plane index (0, 1 or 2) or a list of them, got {value!r}")
        return list(value) if isinstance(value, (list, tuple)) else value
    if s.kind == "any":
        if not isinstance(value, (bool, int, float, str)):
            raise OptionsError(f"{q} must be a number, text or true/false, got {value!r}")
        return value
    if s.kind == "int":
        if isinstance(value, float) and value.is_integer():
            value = int(value)
        if isinstance(value, bool) or not isinstance(value, int) or (
                s.lo is not None and value < s.lo) or (s.hi is not None and value > s.hi):
            raise OptionsError(f"{q} must be an integer{_range_text(s)}, got {value!r}")
        return value
    # number
    what = "a number" + (' or "auto"' if s.auto else "")
    if not _is_number(value) or not math.isfinite(value):
        raise OptionsError(f"{q} must be {what}, got {value!r}")
    if s.positive and value == 0:
        raise OptionsError(f"{q} must be a non-zero number, got {value!r}")
    if s.positive and value < 0:
        raise OptionsError(f"{q} must be a positive number, got {value!r}")
    if (s.lo is not None and value < s.lo) or (s.hi is not None and value > s.hi):
        raise OptionsError(f"{q} must be a number{_range_text(s)}, got {value!r}")
    return value


def _split_key(key: str) -> tuple[str, str]:
    """ "nr.hy" or "nr__hy" -> ("nr", "hy"), checked against the known names."""
    sep = "." if "." in key else "__"
    group, _, name = key.partition(sep)
    if not name:
        raise OptionsError(f"option {key!r} must be written GROUP.NAME (for example nr.hy)")
    _known(group, name)
    return group, name


def _known(group: str, name: str | None = None) -> None:
    if group not in GROUPS:
        raise OptionsError(f"unknown option group {group!r}; the groups are: {', '.join(GROUPS)}")
    if name is not None and (group, name) not in _SPECS:
        names = ", ".join(s.name for s in GROUPS[group])
        raise OptionsError(f"unknown option {group}.{name}; the values of {group} are: {names}")


class Options:
    """The options object of ``main``: one read-only mapping per group, values in reading order.

    Build it from a preset (``Options.from_preset("default", **{"nr.hy": 1.5})``), a TOML file
    (``Options.from_file(path)``) or complete groups (``Options({"nr": {...}, ...})``). Every
    value is checked on construction; errors name the group and value.
    """

    __slots__ = tuple(GROUPS) + ("source",)

    def __init__(self, groups: Mapping[str, Mapping[str, Any]], *, source: str = "") -> None:
        for group in groups:
            _known(group)
        for group, specs in GROUPS.items():
            given = groups.get(group)
            if given is None:
                raise OptionsError(f"option group {group!r} is missing")
            for name in given:
                _known(group, name)
            missing = [s.name for s in specs if s.name not in given]
            if missing:
                raise OptionsError(f"{group}: missing value(s) {', '.join(missing)}")
            values = {s.name: check_value(group, s.name, given[s.name]) for s in specs}
            object.__setattr__(self, group, MappingProxyType(values))
        object.__setattr__(self, "source", source)

    def __setattr__(self, key, value):
        raise AttributeError("Options are read-only; use replace()")

    # construction -------------------------------------------------------------------------

    @classmethod
    def from_preset(cls, preset: str = "default", /, **overrides) -> Options:
        """A shipped preset by name, with single values replaced.

        Overrides are keyed "group.name" (``**{"nr.hy": 1.5}``) or ``group__name`` (``nr__hy=1.5``).
        """
        return cls(_merge(_preset_groups(str(preset)), overrides), source=f"preset {preset}")

    @classmethod
    def from_file(cls, path: str | Path, *, base: str = "default", **overrides) -> Options:
        """A user's TOML file; values it leaves out come from the preset `base`."""
        groups, _ = _read_toml_file(Path(path))
        merged = _merge(_preset_groups(base), _flatten(groups))
        return cls(_merge(merged, overrides), source=f"{path} over preset {base}")

    def replace(self, **overrides) -> Options:
        """A copy with the given values replaced (keys as in :meth:`from_preset`)."""
        return type(self)(_merge(self.to_dict(), overrides), source=self.source)

    # reading ------------------------------------------------------------------------------

    def to_dict(self) -> dict[str, dict[str, Any]]:
        return {g: dict(getattr(self, g)) for g in GROUPS}

    def __eq__(self, other) -> bool:
        return isinstance(other, Options) and self.to_dict() == other.to_dict()

    def __repr__(self) -> str:
        return f"Options({self.source or 'custom'})"

    def to_toml(self, *, header: str = "") -> str:
        """The options as a TOML document, each value with its explanation as a comment."""
        import tomlkit

        doc = tomlkit.document()
        for line in header.splitlines():
            doc.add(tomlkit.comment(line))
        if header:
            doc.add(tomlkit.nl())
        for group, specs in GROUPS.items():
            table = tomlkit.table()
            for s in specs:
                value = getattr(self, group)[s.name]
                item = tomlkit.item("auto" if value is None else value)
                item.comment(s.doc)
                table.add(s.name, item)
            doc.add(group, table)
        return tomlkit.dumps(doc)


def _flatten(groups: Mapping[str, Mapping[str, Any]]) -> dict[str, Any]:
    return {f"{g}.{n}": v for g, values in groups.items() for n, v in values.items()}


def _merge(groups: Mapping[str, Mapping[str, Any]], overrides: Mapping[str, Any]) -> dict[str, dict[str, Any]]:
    merged = {g: dict(v) for g, v in groups.items()}
    for key, value in overrides.items():
        group, name = _split_key(key)
        merged.setdefault(group, {})[name] = value
    return merged


def _read_toml_text(text: str, where: str) -> tuple[dict[str, dict[str, Any]], str]:
    try:
        data = tomllib.loads(text)
    except tomllib.TOMLDecodeError as e:
        raise OptionsError(f"{where}: not valid TOML: {e}") from None
    description = data.pop("description", "")
    if not isinstance(description, str):
        raise OptionsError(f"{where}: description must be a text")
    groups = {}
    for group, values in data.items():
        try:
            _known(group)
            if not isinstance(values, dict):
                raise OptionsError(f"{group} must be a table ([{group}]) of named values")
            for name in values:
                _known(group, name)
        except OptionsError as e:
            raise OptionsError(f"{where}: {e}") from None
        groups[group] = values
    return groups, description


def _read_toml_file(path: Path) -> tuple[dict[str, dict[str, Any]], str]:
    try:
        text = path.read_text(encoding="utf-8")
    except FileNotFoundError:
        raise OptionsError(f"options file {str(path)!r} does not exist") from None
    except (OSError, UnicodeDecodeError) as e:
        raise OptionsError(f"options file {str(path)!r} cannot be read: {e}") from None
    return _read_toml_text(text, str(path))


# presets ------------------------------------------------------------------------------------

def _preset_dir():
    return resources.files("orvo") / "presets"


def preset_names() -> list[str]:
    """Names of the shipped presets, default first."""
    names = sorted(p.name[:-5] for p in _preset_dir().iterdir() if p.name.endswith(".toml"))
    return sorted(names, key=lambda n: n != "default")


def preset_text(name: str) -> str:
    """The shipped TOML text of a preset, comments included."""
    if name not in preset_names():
        raise OptionsError(f"unknown preset {name!r}; the presets are: {', '.join(preset_names())}")
    return (_preset_dir() / f"{name}.toml").read_text(encoding="utf-8")


def _preset_groups(name: str) -> dict[str, dict[str, Any]]:
    groups, _ = _read_toml_text(preset_text(name), f"preset {name}")
    return groups


def preset_description(name: str) -> str:
    return _read_toml_text(preset_text(name), f"preset {name}")[1]


def parse_assignment(text: str) -> tuple[str, Any]:
    """ "GROUP.NAME=VALUE" (VALUE in TOML syntax, bare words taken as text) -> ("GROUP.NAME", value)."""
    key, eq, raw = text.partition("=")
    key, raw = key.strip(), raw.strip()
    if not eq or not key or not raw:
        raise OptionsError(f"--set {text!r} must be written GROUP.NAME=VALUE (for example nr.hy=1.5)")
    _split_key(key)
    try:
        value = tomllib.loads(f"v = {raw}")["v"]
    except tomllib.TOMLDecodeError:
        value = raw
    return key, value

