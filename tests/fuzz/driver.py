"""Fuzz driver for our VapourSynth plugins.

Every function of our plugins gets random formats (tiny and odd sizes included),
random sample values (outside the declared bit depth, NaN and infinities
included) and random arguments (out of range, non-finite, wrong types). Cases
run in batches, each batch in a child process, so a crash, a sanitizer report
or a hang is caught and its case printed as a reproducer. Cases are numbered
and derived from the run's seed alone, so any case can be replayed.

    python tests/fuzz/driver.py [--seconds 180] [--jobs 2] [--plugins DIR] [--seed N]
    python tests/fuzz/driver.py --replay 'CASE' [--plugins DIR]

`--plugins` names the folder of plugin .so files to load (default: the package's
own). A folder of sanitizer builds (`make sanitize-plugins`) is recognised and
the children get the ASan runtime preloaded. Exit status 1 when anything failed.
"""

from __future__ import annotations

import argparse
import json
import math
import os
import random
import shlex
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
DEFAULT_PLUGINS = ROOT / "python" / "orvo" / "plugins"
NAMESPACES = ("rgvs", "misc", "ctmf", "tcanny", "f3kdb", "eedi2", "warp", "fmtc")
# Outputs larger than this are created (argument checks run) but not rendered.
MAX_RENDER_AREA = 1 << 20

# ---------------------------------------------------------------- case generation

INT_EDGES = [0, 1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 24, 29, 30, 31, 32, 64, 127, 128, 255, 256, 511, 512,
             1023, 1024, 4096, 4097, 65535, 65536]
INT_ABSURD = [-1, -2, -128, -129, -65536, 2**31 - 1, 2**31, -2**31, 2**32, 2**40, 2**62, 2**63 - 1, -2**63]
FLOAT_EDGES = [0.0, -0.0, 1.0, -1.0, 0.5, 2.0, 3.0, 8.0, 100.0, 255.0, 65535.0]
FLOAT_ABSURD = [math.nan, math.inf, -math.inf, 1e38, -1e38, 3.5e38, 1e300, -1e300, 5e-324, 1e-300, 2.0**31,
                -(2.0**31), 2.0**63, 1e-9]
STRING_JUNK = ["", "x", "0", "none", "\u00fc\u00df", "a" * 300, "MPEG2", " mpeg1", "4:2:0 ", "/,:"]

SIZES = [1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 12, 13, 16, 17, 24, 31, 32, 33, 48, 64]

# Plausible values per argument, so the deep paths are reached as often as the refusals.
HINTS: dict[str, dict[str, list]] = {
    "rgvs.RemoveGrain": {"mode": list(range(-1, 26))},
    "rgvs.Repair": {"mode": list(range(-1, 26))},
    "misc.Hysteresis": {"planes": [0, 0, 1, 1, 2, 2, 3, -1]},
    "ctmf.CTMF": {"radius": [1, 2, 3, 4, 5, 6, 8, 12, 16, 127, 128, 0], "memsize": [1023, 1024, 1 << 20],
                  "planes": [0, 1, 2, 3], "opt": [0, 1, 2, 3, 4, 5]},
    "tcanny.TCanny": {"sigma": [0.0, 0.5, 1.0, 1.5, 3.0, 8.0, 40.0], "sigma_v": [0.0, 0.5, 1.5, 4.0],
                      "t_h": [0.0, 1.0, 8.0, 20.0], "t_l": [0.0, 1.0, 4.0], "mode": [-1, 0, 1, 2],
                      "op": list(range(-1, 8)), "scale": [0.5, 1.0, 2.0, 1e-30], "gmmax": [1.0, 50.0, 255.0, 0.5],
                      "opt": [0, 1, 2, 3, 4, 5], "planes": [0, 1, 2]},
    "f3kdb.Deband": {"range": [0, 1, 4, 15, 31, 32], "y": [0, 64, 511, 512], "cb": [0, 64, 511],
                     "cr": [0, 64, 511], "grainy": [0, 64, 4096, 4097], "grainc": [0, 64, 4096],
                     "sample_mode": [0, 1, 2, 3], "seed": [0, 1, 12345], "blur_first": [0, 1],
                     "dynamic_grain": [0, 1], "opt": [-1, 0, 1, 3, 4], "dither_algo": [0, 1, 2, 3, 4, 5],
                     "keep_tv_range": [0, 1], "output_depth": [-1, 8, 9, 10, 12, 16, 7, 17],
                     "random_algo_ref": [0, 1, 2, 3], "random_algo_grain": [0, 1, 2, 3],
                     "random_param_ref": [0.0, 1.0, 10.0, 11.0], "random_param_grain": [0.0, 1.0, 10.0],
                     "preset": ["depth", "low", "medium", "high", "veryhigh", "nograin", "luma", "chroma",
                                "high/nograin", "medium,luma:chroma", "bogus"]},
    "eedi2.EEDI2": {"field": [0, 1, 2, 3, 4], "mthresh": [0, 10, 255], "lthresh": [0, 20, 255],
                    "vthresh": [0, 20, 255], "estr": [0, 2, 9], "dstr": [0, 4, 9], "maxd": [1, 4, 24, 29, 30],
                    "map": [0, 1, 2, 3, 4], "nt": [0, 50, 255], "pp": [0, 1, 2, 3, 4]},
    "warp.AWarpSharp2": {"thresh": [0, 1, 128, 255, 256], "blur": [0, 1, 2, 3, 5, 20, 1000, 1001],
                         "type": [0, 1, 2], "depth": [-128, -16, 0, 8, 16, 127, 128], "chroma": [0, 1, 2],
                         "planes": [0, 1, 2], "opt": [0, 1], "cplace": ["mpeg1", "mpeg2"]},
    "fmtc.bitdepth": {"bits": [8, 9, 10, 11, 12, 14, 16, 32, 7, 33], "flt": [0, 1], "planes": [0, 1, 2],
                      "fulls": [0, 1], "fulld": [0, 1], "dmode": list(range(-1, 11)) + [0x10003],
                      "ampo": [0.0, 0.5, 1.0, 1.5, 8.0], "ampn": [0.0, 0.5, 1.0, 4.0], "dyn": [0, 1],
                      "staticnoise": [0, 1], "cpuopt": [-1, 0, 1], "patsize": [4, 8, 16, 32, 64, 1024, 3, 2048],
                      "tpdfo": [0, 1], "tpdfn": [0, 1], "corplane": [0, 1]},
    "fmtc.resample": {"w": [1, 2, 4, 8, 16, 17, 32, 48, 64, 100], "h": [1, 2, 4, 8, 16, 17, 32, 48, 64, 100],
                      "sx": [0.0, 0.5, -3.0, 10.0, 1000.0], "sy": [0.0, 0.25, -2.0, 7.0, -1000.0],
                      "sw": [0.0, 4.0, -4.0, 0.5, 2000.0], "sh": [0.0, 4.0, -4.0, 0.5],
                      "scale": [0.0, 0.5, 1.0, 2.0, 3.0], "scaleh": [0.5, 1.0, 2.0], "scalev": [0.5, 1.0, 2.0],
                      "kernel": ["point", "rect", "box", "linear", "bilinear", "cubic", "bicubic", "lanczos",
                                 "blackman", "sinc", "spline16", "spline36", "spline64", "gauss", "gaussian",
                                 "spline"],
                      "taps": [1, 2, 3, 4, 6, 8, 32, 128, 129], "a1": [0.0, 0.33, 1.0, 30.0, 100.0, 101.0],
                      "a2": [0.0, 0.33, 0.5], "fh": [1.0, 0.5, 2.0, -1.0, 0.0, 1e-6], "fv": [1.0, 0.5, -2.0, 1e-6],
                      "total": [0.0, 1.0, 2.0], "cnorm": [0, 1], "invks": [0, 1], "invkstaps": [1, 4, 128, 129],
                      "kovrspl": [1, 2],
                      "css": ["444", "422", "420", "411", "4:2:0", "11", "22", "44", "88", "21", "x"],
                      "planes": [3.0, 2.0, 1.0, 0.0, -1.0, -512.0, -65535.0, -65536.0, 2.5, 6.0],
                      "fulls": [0, 1], "fulld": [0, 1], "center": [0, 1],
                      "cplace": ["mpeg1", "mpeg2", "dv", "top_left", "jpeg", "left", "tl"],
                      "cplaces": ["mpeg1", "mpeg2", "dv"], "cplaced": ["mpeg1", "mpeg2", "dv", "top_left"],
                      "interlaced": [0, 1, 2, 3], "interlacedd": [0, 1, 2], "tff": [0, 1, 2], "tffd": [0, 1, 2],
                      "flt": [0, 1], "cpuopt": [-1, 0, 1]},
}
# Arguments that select the scalar kernels; every rendered case of these is rendered
# both ways and must agree bit for bit (rgvs reads ORVO_RGVS_ISA when a filter is made).
SCALAR = {"ctmf.CTMF": {"opt": 1}, "tcanny.TCanny": {"opt": 1}, "f3kdb.Deband": {"opt": 0},
          "warp.AWarpSharp2": {"opt": 0}, "fmtc.resample": {"cpuopt": 0}, "rgvs.RemoveGrain": "ORVO_RGVS_ISA",
          "rgvs.Repair": "ORVO_RGVS_ISA"}
# Smallest frame side each function accepts (with its defaults).
LEAST_SIZE = {"f3kdb.Deband": 16, "eedi2.EEDI2": 8, "warp.AWarpSharp2": 12, "tcanny.TCanny": 3}
# Output format ids for `csp`, by name (looked up in the child).
CSP_NAMES = ["GRAY8", "GRAY16", "GRAYS", "YUV420P8", "YUV420P10", "YUV420P16", "YUV444P16", "YUV444PS",
             "YUV422P10", "RGB24", "RGB48", "RGBS", "YUV420PS", "GRAYH"]


def _pick_format(rng: random.Random) -> dict:
    family = rng.choices(["GRAY", "YUV", "RGB"], [35, 45, 20])[0]
    if rng.random() < 0.15:
        st, bits = "FLOAT", rng.choice([32, 32, 32, 16])
    else:
        st, bits = "INTEGER", rng.choice([8, 8, 9, 10, 10, 11, 12, 13, 14, 15, 16, 16])
    ssw = ssh = 0
    if family == "YUV":
        ssw, ssh = rng.choice([0, 0, 1, 1, 2]), rng.choice([0, 0, 1, 1, 2])
    return {"family": family, "sample": st, "bits": bits, "ssw": ssw, "ssh": ssh}


def _pick_clip(rng: random.Random, fmt: dict | None = None, least: int = 1) -> dict:
    fmt = fmt or _pick_format(rng)
    r = rng.random()
    units = lambda: rng.choice(SIZES) if r < 0.75 else rng.randint(1, 160)  # noqa: E731
    w, h = units() << fmt["ssw"], units() << fmt["ssh"]
    if rng.random() < 0.8:  # mostly at least the size the function accepts, so the kernels run
        w = max(w, -(-least >> fmt["ssw"]) << fmt["ssw"])
        h = max(h, -(-least >> fmt["ssh"]) << fmt["ssh"])
    fills = ["range", "range", "wide", "const", "extremes", "smooth"]
    if fmt["sample"] == "FLOAT":
        fills += ["special", "special"]
    return {"format": fmt, "width": w, "height": h, "frames": rng.choice([1, 1, 2, 3]),
            "fill": rng.choice(fills), "fill_seed": rng.getrandbits(32)}


def _scalar(rng: random.Random, kind: str, hints: list | None):
    if hints and rng.random() < 0.75:
        v = rng.choice(hints)
        if kind == "float" and isinstance(v, int):
            v = float(v)
        if kind != "data" or isinstance(v, str):
            return v
    r = rng.random()
    if r < 0.03:  # a value of the wrong type
        return rng.choice(["x", 1.5, {"$clip": "src"}, [1, 2, 3], None, {"$bytes": "\u00ff"}])
    if kind == "int":
        if r < 0.45:
            return rng.randint(-3, 12)
        return rng.choice(INT_EDGES) if r < 0.8 else rng.choice(INT_ABSURD)
    if kind == "float":
        if r < 0.4:
            return round(rng.uniform(-10, 10), 3)
        return rng.choice(FLOAT_EDGES) if r < 0.8 else rng.choice(FLOAT_ABSURD)
    if kind == "data":
        return rng.choice(STRING_JUNK)
    if kind == "vnode":
        return {"$clip": "other"}
    raise ValueError(kind)


def _value(rng: random.Random, kind: str, is_array: bool, hints: list | None, arg: str):
    if kind == "int" and arg == "csp" and rng.random() < 0.7:
        return {"$format": rng.choice(CSP_NAMES)}
    if not is_array:
        return _scalar(rng, kind, hints)
    r = rng.random()
    if r < 0.1:
        return _scalar(rng, kind, hints)  # a bare value where a list is expected
    return [_scalar(rng, kind, hints) for _ in range(rng.choice([0, 1, 1, 1, 1, 2, 2, 3, 4]))]


def parse_signature(sig: str) -> list[tuple[str, str, bool, bool]]:
    """(name, type, is_array, optional) of each argument of a plugin signature."""
    out = []
    for part in filter(None, sig.split(";")):
        bits = part.split(":")
        kind = bits[1]
        out.append((bits[0], kind.rstrip("[]"), kind.endswith("[]"), "opt" in bits[2:]))
    return out


def make_case(seed: int, index: int, signatures: dict[str, str]) -> dict:
    rng = random.Random(f"{seed}:{index}")
    func = rng.choice(sorted(signatures))
    src = _pick_clip(rng, least=LEAST_SIZE.get(func, 1))
    case = {"id": f"{seed}:{index}", "func": func, "src": src, "args": {}}
    hints = HINTS.get(func, {})
    params = parse_signature(signatures[func])
    # Mostly one to four optional arguments, whatever their number: the defaults and the combinations both get their turn.
    p_opt = min(0.6, rng.choice([1, 2, 4]) / max(1, sum(1 for p in params if p[3])))
    for i, (name, kind, is_array, optional) in enumerate(params):
        if i == 0:
            continue  # the source clip
        if kind == "vnode":
            r = rng.random()
            if r < 0.85:  # same format and size, its own samples
                other = dict(src, fill=rng.choice(["range", "wide", "smooth"]), fill_seed=rng.getrandbits(32))
            elif r < 0.93:
                other = _pick_clip(rng, src["format"])
            else:
                other = _pick_clip(rng)
            case["other"] = other
            case["args"][name] = {"$clip": "other"}
            continue
        if optional and rng.random() >= p_opt:
            continue
        case["args"][name] = _value(rng, kind, is_array, hints.get(name), name)
    return case


def describe(case: dict) -> str:
    src = case["src"]
    f = src["format"]
    fmt = f"{f['family']} {f['sample'].lower()} {f['bits']}b ss{f['ssw']}{f['ssh']}"
    args = ", ".join(f"{k}={v!r}" for k, v in case["args"].items())
    return f"{case['func']}(<{fmt} {src['width']}x{src['height']} fill={src['fill']}>, {args})"


# ---------------------------------------------------------------- running a case (child side)

class Runner:
    def __init__(self, plugin_dir: Path, threads: int):
        import vapoursynth as vs

        self.vs = vs
        self.core = vs.core
        if threads:
            self.core.num_threads = threads
        self.core.max_cache_size = 256
        # A namespace some other plugin already holds is not ours to fuzz.
        self.foreign = [ns for ns in NAMESPACES if hasattr(self.core, ns)]
        ours = [ns for ns in NAMESPACES if ns not in self.foreign]
        for ns in ours:
            self.core.std.LoadPlugin(str(plugin_dir / f"{ns}.so"))
        self.signatures = {f"{ns}.{fn.name}": fn.signature for ns in ours
                           for fn in getattr(self.core, ns).functions()}

    def clip(self, desc: dict):
        import numpy as np

        vs, core = self.vs, self.core
        want = desc["format"]
        fmt = core.query_video_format(getattr(vs, want["family"]), getattr(vs, want["sample"]), want["bits"],
                                      want["ssw"], want["ssh"])
        blank = core.std.BlankClip(format=fmt, width=desc["width"], height=desc["height"], length=desc["frames"])
        is_float = want["sample"] == "FLOAT"
        peak = 1.0 if is_float else (1 << want["bits"]) - 1
        container = 1.0 if is_float else (1 << (8 * fmt.bytes_per_sample)) - 1
        kind, seed = desc["fill"], desc["fill_seed"]

        def fill(n, f):
            out = f.copy()
            g = np.random.default_rng([seed, n])
            for p in range(out.format.num_planes):
                a = np.asarray(out[p])
                shape = a.shape
                if kind == "range":
                    v = g.random(shape) * peak if is_float else g.integers(0, peak, shape, endpoint=True)
                elif kind == "wide":
                    v = g.uniform(-2.0, 3.0, shape) if is_float else g.integers(0, container, shape, endpoint=True)
                elif kind == "const":
                    v = g.choice([0, peak, min(peak + 1, container), container, -1.0 if is_float else 0])
                elif kind == "extremes":
                    v = g.choice([0, peak, container], shape)
                elif kind == "smooth":
                    yy, xx = np.indices(shape)
                    v = (np.sin(xx * 0.7 + yy * 0.3 + n) * 0.5 + 0.5) * peak
                    v = v + g.normal(0, peak / 64, shape)
                    v = np.clip(v, 0, peak)
                    if not is_float:
                        v = np.rint(v)
                else:  # special floats
                    v = g.choice([np.nan, np.inf, -np.inf, 1e30, -1e30, 1e-40, -0.0, 0.5, 1.0, 65535.0], shape)
                a[...] = v
            return out

        return core.std.ModifyFrame(blank, blank, fill)

    def decode(self, v, clips):
        if isinstance(v, list):
            return [self.decode(x, clips) for x in v]
        if isinstance(v, dict):
            if "$clip" in v:
                return clips[v["$clip"]]
            if "$bytes" in v:
                return v["$bytes"].encode("latin-1")
            if "$format" in v:
                return getattr(self.vs, v["$format"]).value
        return v

    def run(self, case: dict) -> str:
        import numpy as np

        vs = self.vs
        clips = {"src": self.clip(case["src"])}
        clips["other"] = self.clip(case["other"]) if "other" in case else clips["src"]
        ns, name = case["func"].split(".")
        kwargs = {k: self.decode(v, clips) for k, v in case["args"].items()}
        try:
            out = getattr(getattr(self.core, ns), name)(clips["src"], **kwargs)
        except vs.Error:
            return "refused"
        except (TypeError, ValueError, OverflowError):
            return "refused"  # the Python layer's own argument conversion
        if out.width * out.height > MAX_RENDER_AREA or slow_by_design(case, kwargs, out):
            return "created"
        scalar = self.scalar_twin(case["func"], ns, name, clips["src"], kwargs)
        for n in sorted({0, out.num_frames - 1}):
            frame = out.get_frame(n)  # a frame error escapes: filters validate at create time
            if out.format is not None and frame.format.id != out.format.id:
                raise AssertionError(f"frame {n} has format {frame.format.name}, the clip {out.format.name}")
            if out.width and (frame.width, frame.height) != (out.width, out.height):
                raise AssertionError(f"frame {n} is {frame.width}x{frame.height}, the clip {out.width}x{out.height}")
            if scalar is not None:
                other = scalar.get_frame(n)
                for p in range(frame.format.num_planes):
                    x, y = np.asarray(frame[p]), np.asarray(other[p])
                    # NaN is NaN: which operand's NaN survives depends on the order of a sum.
                    if not np.array_equal(x, y, equal_nan=x.dtype.kind == "f"):
                        raise AssertionError(f"frame {n} plane {p}: the SIMD and scalar kernels differ")
        return "rendered"

    def scalar_twin(self, func, ns, name, src, kwargs):
        """The same filter with its scalar kernels, or None where it has no switch."""
        switch = SCALAR.get(func)
        if switch is None:
            return None
        fn = getattr(getattr(self.core, ns), name)
        if isinstance(switch, dict):
            return fn(src, **{**kwargs, **switch})
        os.environ[switch] = "c"
        try:
            return fn(src, **kwargs)
        finally:
            del os.environ[switch]


def slow_by_design(case: dict, kwargs: dict, out) -> bool:
    """Work that is large but bounded, and would pass for a hang under the sanitizers."""
    if case["func"] == "ctmf.CTMF" and case["src"]["format"]["sample"] == "FLOAT":
        # Float planes above radius 3 select each median from (2r+1)^2 samples.
        radius = kwargs.get("radius", 2)
        side = 2 * (radius[0] if isinstance(radius, list) else radius) + 1
        return out.width * out.height * side * side > 5e7
    return False


def worker(args) -> int:
    runner = Runner(Path(args.plugins), args.threads)
    if args.replay:
        case = json.loads(args.replay)
        print(describe(case), flush=True)
        print(runner.run(case), flush=True)
        return 0
    progress = open(args.progress, "a", buffering=1)
    if runner.foreign:
        progress.write(json.dumps({"note": f"not fuzzed, the core already has them: {', '.join(runner.foreign)}"}) + "\n")
    for index in range(args.first, args.first + args.count):
        if time.time() > args.deadline:
            break
        case = make_case(args.seed, index, runner.signatures)
        progress.write(json.dumps({"start": index, "case": case}) + "\n")
        t0 = time.monotonic()
        try:
            outcome = runner.run(case)
        except Exception as e:  # noqa: BLE001 - every escape is a finding, reported with its case
            outcome = f"error: {type(e).__name__}: {e}"
        progress.write(json.dumps({"end": index, "outcome": outcome, "secs": time.monotonic() - t0}) + "\n")
    return 0


# ---------------------------------------------------------------- the parent

def sanitizer_env(plugin_dir: Path) -> dict[str, str]:
    """Environment for children: the ASan runtime preloaded when the plugins are sanitizer builds."""
    env = dict(os.environ)
    probe = next(iter(sorted(plugin_dir.glob("*.so"))), None)
    if probe is None:
        raise SystemExit(f"no plugins in {plugin_dir}")
    ldd = subprocess.run(["ldd", str(probe)], capture_output=True, text=True).stdout
    libs = {line.split("=>")[0].strip().split(".so")[0]: line.split("=>")[1].split("(")[0].strip()
            for line in ldd.splitlines() if "=>" in line}
    if "libasan" in libs:
        # ASan must come first; libstdc++ too, or its exception interceptor finds no __cxa_throw to call.
        env["LD_PRELOAD"] = ":".join(libs[k] for k in ("libasan", "libstdc++") if k in libs)
        # The interpreter's own allocations are not ours to report; memory errors and UB are.
        env["ASAN_OPTIONS"] = "detect_leaks=0:abort_on_error=0:exitcode=86"
        env["UBSAN_OPTIONS"] = "halt_on_error=1:print_stacktrace=1:exitcode=87"
    return env


class Batch:
    def __init__(self, driver, first: int, count: int):
        self.first, self.count = first, count
        self.progress = Path(tempfile.mktemp(prefix="fuzz-progress-", dir=driver.tmp))
        self.stderr = open(tempfile.mktemp(prefix="fuzz-stderr-", dir=driver.tmp), "w+")
        cmd = [sys.executable, __file__, "--worker", "--seed", str(driver.seed), "--first", str(first),
               "--count", str(count), "--plugins", str(driver.plugins), "--progress", str(self.progress),
               "--deadline", str(driver.deadline), "--threads", str(driver.threads)]
        self.proc = subprocess.Popen(cmd, env=driver.env, stdout=subprocess.DEVNULL, stderr=self.stderr,
                                     start_new_session=True)
        self.last_seen = time.monotonic()
        self.lines_seen = 0

    def events(self) -> list[dict]:
        if not self.progress.exists():
            return []
        out = []
        for line in self.progress.read_text().splitlines():
            try:
                out.append(json.loads(line))
            except json.JSONDecodeError:
                break  # a line being written
        return out

    def kill(self):
        try:
            os.killpg(self.proc.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        self.proc.wait()


class Driver:
    def __init__(self, args):
        self.seed = args.seed if args.seed is not None else random.SystemRandom().getrandbits(31)
        self.plugins = Path(args.plugins).resolve()
        self.env = sanitizer_env(self.plugins)
        self.threads = args.threads
        self.jobs = args.jobs
        self.batch_size = args.batch
        self.case_timeout = args.case_timeout
        self.start = time.time()
        self.deadline = self.start + args.seconds
        self.tmp = tempfile.mkdtemp(prefix="orvo-fuzz-")
        self.outcomes: dict[str, int] = {}
        self.failures: list[str] = []
        self.slowest: list[tuple[float, str]] = []
        self.notes: set[str] = set()
        self.next_index = args.first
        self.last_index = args.first + args.cases if args.cases else math.inf

    def record(self, events: list[dict]) -> tuple[dict | None, int]:
        """Counts finished cases; returns the case started but not finished (if any) and the next index."""
        open_case, nxt = None, None
        for e in events:
            if "note" in e:
                if e["note"] not in self.notes:
                    self.notes.add(e["note"])
                    print(e["note"], flush=True)
            elif "start" in e:
                open_case, nxt = e["case"], e["start"] + 1
            else:
                open_case = None
                key = e["outcome"] if not e["outcome"].startswith("error") else "error"
                self.outcomes[key] = self.outcomes.get(key, 0) + 1
                self.slowest = sorted(self.slowest + [(e["secs"], f"{self.seed}:{e['end']}")], reverse=True)[:3]
                if e["outcome"].startswith("error"):
                    self.fail("exception", case_of(events, e["end"]), e["outcome"])
        return open_case, nxt

    def fail(self, what: str, case: dict | None, detail: str, batch: tuple[int, int] | None = None):
        text = [f"FAIL ({what}) case {case['id'] if case else '?'}"]
        if not case and batch:  # died between cases, or at exit: the whole batch reproduces it
            text.append(f"  outside any case; the batch: {sys.executable} {Path(__file__).relative_to(ROOT)} "
                        f"--plugins {self.plugins} --seed {self.seed} --first {batch[0]} --cases {batch[1]} --jobs 1")
        if case:
            text.append("  " + describe(case))
            replay = json.dumps(case)
            text.append(f"  replay: {sys.executable} {Path(__file__).relative_to(ROOT)} --plugins {self.plugins}"
                        f" --replay {shlex.quote(replay)}")
        text += ["  " + line for line in detail.strip().splitlines()[-40:]]
        msg = "\n".join(text)
        self.failures.append(msg)
        print(msg, flush=True)

    def finish(self, b: Batch, killed_for_hang: bool):
        events = b.events()
        open_case, nxt = self.record(events)
        rc = b.proc.returncode
        b.stderr.seek(0)
        err = b.stderr.read()
        if killed_for_hang:
            self.fail(f"hang: no result after {self.case_timeout:.0f} s", open_case, err, (b.first, b.count))
        elif rc != 0:
            self.fail(f"child died, exit status {rc}", open_case, err, (b.first, b.count))
        # Cases of the batch not reached because of a failure run in a later batch.
        if (killed_for_hang or rc != 0) and nxt is not None and nxt < b.first + b.count:
            self.pending.append((nxt, b.first + b.count - nxt))

    def run(self) -> int:
        print(f"fuzzing {self.plugins} with seed {self.seed}, {self.jobs} jobs, {self.deadline - self.start:.0f} s"
              + (" (sanitizer build)" if "LD_PRELOAD" in self.env else ""), flush=True)
        running: list[Batch] = []
        self.pending: list[tuple[int, int]] = []
        while True:
            now = time.time()
            while len(running) < self.jobs and now < self.deadline and (self.pending or
                                                                       self.next_index < self.last_index):
                if self.pending:
                    first, count = self.pending.pop(0)
                else:
                    first, count = self.next_index, int(min(self.batch_size, self.last_index - self.next_index))
                    self.next_index += count
                running.append(Batch(self, first, count))
            if not running:
                break
            time.sleep(0.2)
            for b in list(running):
                if b.proc.poll() is not None:
                    running.remove(b)
                    self.finish(b, False)
                    continue
                size = b.progress.stat().st_size if b.progress.exists() else 0
                if size != b.lines_seen:
                    b.lines_seen, b.last_seen = size, time.monotonic()
                elif time.monotonic() - b.last_seen > self.case_timeout:
                    b.kill()
                    running.remove(b)
                    self.finish(b, True)
        total = sum(self.outcomes.values())
        summary = ", ".join(f"{v} {k}" for k, v in sorted(self.outcomes.items()))
        slow = ", ".join(f"{case} {secs:.1f} s" for secs, case in self.slowest)
        print(f"{total} cases in {time.time() - self.start:.0f} s ({summary}); seed {self.seed}; slowest: {slow}; "
              f"{len(self.failures)} failure(s)", flush=True)
        return 1 if self.failures else 0


def case_of(events: list[dict], index: int) -> dict | None:
    for e in events:
        if e.get("start") == index:
            return e["case"]
    return None


def main(argv=None) -> int:
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--seconds", type=float, default=180.0, help="time budget (default 180)")
    ap.add_argument("--jobs", type=int, default=2, help="child processes at a time (default 2)")
    ap.add_argument("--plugins", default=str(DEFAULT_PLUGINS), help="folder of the plugin .so files")
    ap.add_argument("--seed", type=int, default=None)
    ap.add_argument("--first", type=int, default=0, help="number of the first case (default 0)")
    ap.add_argument("--cases", type=int, default=0, help="stop after this many cases (default: the budget decides)")
    ap.add_argument("--batch", type=int, default=100, help="cases per child process")
    ap.add_argument("--threads", type=int, default=1, help="core threads in each child (0: all)")
    ap.add_argument("--case-timeout", type=float, default=120.0, help="seconds one case may take")
    ap.add_argument("--replay", help="run one case (the JSON a failure printed) and print its outcome")
    ap.add_argument("--worker", action="store_true", help=argparse.SUPPRESS)
    ap.add_argument("--count", type=int, default=0, help=argparse.SUPPRESS)
    ap.add_argument("--progress", help=argparse.SUPPRESS)
    ap.add_argument("--deadline", type=float, default=math.inf, help=argparse.SUPPRESS)
    args = ap.parse_args(argv)
    if args.worker:
        return worker(args)
    if args.replay:
        # A child, so the sanitizer runtime can be preloaded.
        env = sanitizer_env(Path(args.plugins))
        cmd = [sys.executable, __file__, "--worker", "--plugins", args.plugins, "--replay", args.replay,
               "--threads", str(args.threads)]
        return subprocess.run(cmd, env=env).returncode
    return Driver(args).run()


if __name__ == "__main__":
    sys.path.insert(0, str(ROOT / "python"))
    raise SystemExit(main())
