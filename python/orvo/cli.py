"""The ``orvo`` command: restore | compare | presets | options | doctor.

Every error the user can act on is one line on stderr and exit status 2;
Ctrl-C (or SIGTERM) stops cleanly with status 130, leaving no output behind.
"""

from __future__ import annotations

import argparse
import signal
import sys
import time
from pathlib import Path

from . import __version__
from .errors import UserError
from .options import Options, OptionsError, parse_assignment, preset_description, preset_names, preset_text

EXIT_USER = 2
EXIT_INTERRUPTED = 130


def _note(text: str) -> None:
    print(f"orvo: {text}", file=sys.stderr)


class _Parser(argparse.ArgumentParser):
    def error(self, message):  # argparse's own errors also exit 2, with our prefix
        self.print_usage(sys.stderr)
        self.exit(EXIT_USER, f"orvo: error: {message}\n")


def build_parser() -> argparse.ArgumentParser:
    ap = _Parser(prog="orvo", description="orvo: a fixed restoration chain for 16-bit YUV 4:2:0 video")
    ap.add_argument("--version", action="version", version=f"orvo {__version__}")
    sub = ap.add_subparsers(dest="command", required=True, parser_class=_Parser)

    def option_args(p):
        p.add_argument("--preset", default="default", help="preset to start from (see `orvo presets`)")
        p.add_argument("--options", metavar="FILE", help="TOML file of values over the preset")
        p.add_argument("--set", metavar="GROUP.NAME=VALUE", action="append", default=[],
                       help="one value, e.g. nr.hy=1.5 (repeatable; applied last)")

    r = sub.add_parser("restore", help="restore a video file")
    r.add_argument("input", help="video file (read with bestsource) or .y4m")
    r.add_argument("-o", "--output", required=True, help=".y4m, .mkv or .mp4 (through ffmpeg), or - for stdout")
    option_args(r)
    r.add_argument("--frames", metavar="START:END", help="only these frames (END excluded)")
    r.add_argument("--threads", type=int, metavar="N", help="VapourSynth worker threads")
    r.add_argument("--device", choices=("cpu", "gpu", "auto"), help="KNLMeansCL's OpenCL device")
    r.add_argument("--force", action="store_true", help="replace an existing output")

    c = sub.add_parser("compare", help="side-by-side picture of one frame of two clips, with their difference")
    c.add_argument("a", help="first clip (the reference)")
    c.add_argument("b", help="second clip")
    c.add_argument("--frame", type=int, default=0, metavar="N", help="frame number (default 0)")
    c.add_argument("--amp", type=float, default=10, help="amplification of the difference (default 10)")
    c.add_argument("-o", "--output", required=True, help="PNG file to write")
    c.add_argument("--force", action="store_true", help="replace an existing output")

    sub.add_parser("presets", help="list the shipped presets")
    o = sub.add_parser("options", help="print options as TOML, to start a file of your own from")
    option_args(o)
    sub.add_parser("doctor", help="report which plugins the chain needs are available, and from where")
    return ap


def resolve_options(args) -> Options:
    overrides = dict(parse_assignment(s) for s in args.set)
    if getattr(args, "device", None):
        overrides["nr.device_type"] = args.device
    if args.options:
        return Options.from_file(args.options, base=args.preset, **overrides)
    return Options.from_preset(args.preset, **overrides)


def cmd_presets(args) -> int:
    for name in preset_names():
        print(f"{name:<10} {preset_description(name)}")
    return 0


def cmd_options(args) -> int:
    if not args.options and not args.set:
        print(preset_text(args.preset), end="")
        return 0
    opts = resolve_options(args)
    what = [f"preset {args.preset}"] + ([f"file {args.options}"] if args.options else []) + \
        [f"--set {s}" for s in args.set]
    print(opts.to_toml(header="orvo options from " + ", ".join(what)), end="")
    return 0


class _Progress:
    """tqdm bar on a terminal; nothing while running otherwise."""

    def __init__(self, total: int):
        self.bar = None
        if sys.stderr.isatty():
            from tqdm import tqdm

            self.bar = tqdm(total=total, unit="frame", file=sys.stderr, dynamic_ncols=True, leave=False)

    def __call__(self, done: int) -> None:
        if self.bar is not None:
            self.bar.update(done - self.bar.n)

    def close(self) -> None:
        if self.bar is not None:
            self.bar.close()


def cmd_restore(args) -> int:
    import vapoursynth as vs

    from . import chain, io

    options = resolve_options(args)
    io.output_kind(args.output)
    io.check_output(args.output, force=args.force, input_path=args.input)
    if args.threads is not None:
        if args.threads < 1:
            raise UserError(f"--threads must be at least 1, got {args.threads}")
        vs.core.num_threads = args.threads

    source = io.open_source(args.input)
    start, end = io.parse_frames(args.frames, source.num_frames) if args.frames else (0, source.num_frames)
    prepared = io.prepare(source, note=_note)
    try:
        result = chain.restore(prepared.clip, options)
    except vs.Error as e:
        raise UserError("the chain cannot be built: " + " ".join(str(e).split())) from None
    # Trimmed after the chain, so temporal filters see the frames around the range.
    result = prepared.finish(result)[start:end]

    total = end - start
    sink = io.open_sink(args.output, force=args.force, props=prepared.clip.get_frame(0).props)
    progress = _Progress(total)
    began = time.monotonic()
    try:
        written = io.write_y4m(result, sink.stream, progress)
        progress.close()
        sink.commit()
    except BaseException as e:
        progress.close()
        sink.abort()
        if isinstance(e, vs.Error):
            raise UserError("processing failed: " + " ".join(str(e).split()) + "; nothing was written") from None
        if isinstance(e, OSError):
            if args.output == "-":
                raise UserError(f"writing to standard output failed: {e.strerror or e}") from None
            said = sink.failure() if isinstance(sink, io.EncoderSink) else None
            raise UserError(f"writing {args.output!r} failed: {said or e.strerror or e}; nothing was written") \
                from None
        raise
    spent = time.monotonic() - began
    where = "standard output" if args.output == "-" else args.output
    _note(f"{written} frames of {result.width}x{result.height} written to {where} in {spent:.1f} s "
          f"({written / spent if spent > 0 else 0:.2f} frames/s)")
    return 0


def cmd_compare(args) -> int:
    from . import compare, io

    io.check_output(args.output, force=args.force, image=True)
    if Path(args.output).suffix.lower() != ".png":
        raise UserError(f"output {args.output!r} must be a .png file")
    compare.compare_files(args.a, args.b, frame=args.frame, amp=args.amp, output=args.output, force=args.force,
                          note=_note)
    _note(f"comparison of frame {args.frame} written to {args.output}")
    return 0


def cmd_doctor(args) -> int:
    from .doctor import report

    return 1 if report() else 0


COMMANDS = {"restore": cmd_restore, "compare": cmd_compare, "presets": cmd_presets, "options": cmd_options,
            "doctor": cmd_doctor}


def _terminate(signum, frame):
    raise KeyboardInterrupt


def main(argv=None) -> int:
    args = build_parser().parse_args(argv)
    previous = signal.signal(signal.SIGTERM, _terminate)
    try:
        return COMMANDS[args.command](args)
    except (UserError, OptionsError) as e:
        print(f"orvo: error: {e}", file=sys.stderr)
        return EXIT_USER
    except KeyboardInterrupt:
        print("orvo: interrupted; nothing was written", file=sys.stderr)
        return EXIT_INTERRUPTED
    finally:
        signal.signal(signal.SIGTERM, previous)


if __name__ == "__main__":
    raise SystemExit(main())
