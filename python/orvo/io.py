"""Video in and out: sources (bestsource, y4m), the YUV420P16 working form, and sinks.

Sinks write to a temporary file in the output's folder and rename it only when
every frame is written, so an existing file is never replaced by a partial one.
"""

from __future__ import annotations

import contextlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
from dataclasses import dataclass, field
from fractions import Fraction
from pathlib import Path
from typing import BinaryIO, Callable, Iterator

import numpy as np
import vapoursynth as vs

from .errors import UserError

core = vs.core

# The chain halves width and height for its dering, so 4:2:0 needs both divisible by 4.
SIZE_STEP = 4

ENCODED = {".mkv": "matroska", ".mp4": "mp4"}
# Encoder settings for .mkv/.mp4: high-quality 10-bit H.264; write y4m or '-' for anything else.
ENCODER_ARGS = ["-c:v", "libx264", "-preset", "medium", "-crf", "16", "-pix_fmt", "yuv420p10le"]

MATRIX_NAMES = {0: "RGB", 1: "BT.709", 5: "BT.470BG", 6: "SMPTE 170M", 9: "BT.2020"}
# H.273 matrix code -> ffmpeg's -colorspace name.
FFMPEG_MATRIX = {1: "bt709", 5: "bt470bg", 6: "smpte170m", 7: "smpte240m", 9: "bt2020nc", 10: "bt2020c"}
FFMPEG_PRIMARIES = {1: "bt709", 5: "bt470bg", 6: "smpte170m", 9: "bt2020"}
FFMPEG_TRANSFER = {1: "bt709", 6: "smpte170m", 14: "bt2020-10", 16: "smpte2084", 18: "arib-std-b67"}


def _say(note: Callable[[str], None] | None, text: str) -> None:
    if note is not None:
        note(text)


# --- sources -----------------------------------------------------------------------------

_Y4M_COLOUR = re.compile(r"^(420|422|444|mono)(jpeg|paldv|mpeg2)?(?:p(\d+))?$")


@dataclass
class Y4MHeader:
    width: int
    height: int
    fps: Fraction
    format: vs.VideoFormat
    props: dict = field(default_factory=dict)

    @property
    def frame_bytes(self) -> int:
        f = self.format
        luma = self.width * self.height
        chroma = (self.width >> f.subsampling_w) * (self.height >> f.subsampling_h)
        return (luma + 2 * chroma * (f.num_planes == 3)) * f.bytes_per_sample


def parse_y4m_header(line: bytes, where: str) -> Y4MHeader:
    words = line.decode("ascii", "replace").split()
    if not words or words[0] != "YUV4MPEG2":
        raise UserError(f"input {where!r} is not a y4m file (no YUV4MPEG2 signature)")
    width = height = None
    fps = Fraction(25)
    colour = "420jpeg"
    props: dict = {}
    try:
        for w in words[1:]:
            tag, val = w[0], w[1:]
            if tag == "W":
                width = int(val)
            elif tag == "H":
                height = int(val)
            elif tag == "F":
                num, den = val.split(":")
                fps = Fraction(int(num), int(den))
            elif tag == "C":
                colour = val
            elif tag == "I":
                props["_FieldBased"] = {"t": 2, "b": 1}.get(val, 0)
            elif tag == "A":
                num, den = val.split(":")
                if int(num) > 0 and int(den) > 0:
                    props["_SARNum"], props["_SARDen"] = int(num), int(den)
            elif w.startswith("XCOLORRANGE="):
                props["_Range"] = 1 if val.split("=", 1)[1].upper() == "FULL" else 0
    except (ValueError, ZeroDivisionError):
        raise UserError(f"input {where!r}: malformed y4m header field {w!r}") from None
    if not width or not height or width <= 0 or height <= 0:
        raise UserError(f"input {where!r}: y4m header lacks a valid frame size")
    m = _Y4M_COLOUR.match(colour)
    bits = int(m.group(3) or 8) if m else 0
    if not m or bits not in (8, 9, 10, 12, 14, 16):
        raise UserError(f"input {where!r}: y4m colour space {colour!r} is not supported")
    css, siting = m.group(1), m.group(2)
    family = vs.GRAY if css == "mono" else vs.YUV
    ssw, ssh = {"420": (1, 1), "422": (1, 0), "444": (0, 0), "mono": (0, 0)}[css]
    if (width % (1 << ssw)) or (height % (1 << ssh)):
        raise UserError(f"input {where!r}: {width}x{height} does not fit the {css} chroma subsampling")
    if family == vs.YUV and ssw:
        props["_ChromaLocation"] = {"jpeg": 1, "paldv": 2}.get(siting, 0)
    fmt = core.query_video_format(family, vs.INTEGER, bits, ssw, ssh)
    return Y4MHeader(width, height, fps, fmt, props)


def open_y4m(path: Path) -> vs.VideoNode:
    """A clip reading the frames of a y4m file (memory-mapped; any FRAME parameters are skipped)."""
    where = str(path)
    with open(path, "rb") as f:
        head = f.readline(4096)
        if not head.endswith(b"\n"):
            raise UserError(f"input {where!r} is not a y4m file (no header line)")
        info = parse_y4m_header(head, where)
        size = os.fstat(f.fileno()).st_size
        offsets = []
        pos = len(head)
        while pos < size:
            f.seek(pos)
            marker = f.readline(256)
            if not marker.startswith(b"FRAME") or not marker.endswith(b"\n"):
                raise UserError(f"input {where!r}: y4m frame {len(offsets)} has no FRAME marker")
            start = pos + len(marker)
            if start + info.frame_bytes > size:
                raise UserError(f"input {where!r}: y4m frame {len(offsets)} is cut short")
            offsets.append(start)
            pos = start + info.frame_bytes
    if not offsets:
        raise UserError(f"input {where!r} holds no frames")
    data = np.memmap(path, dtype=np.uint8, mode="r")
    fmt = info.format
    dtype = np.uint8 if fmt.bytes_per_sample == 1 else np.dtype("<u2")
    shapes = [(info.height, info.width)] + [
        (info.height >> fmt.subsampling_h, info.width >> fmt.subsampling_w)] * (fmt.num_planes - 1)
    blank = core.std.BlankClip(width=info.width, height=info.height, format=fmt, length=len(offsets),
                               fpsnum=info.fps.numerator, fpsden=info.fps.denominator, keep=True)
    if info.props:
        blank = blank.std.SetFrameProps(**info.props)

    def read(n, f):
        out = f.copy()
        pos = offsets[n]
        for p, (h, w) in enumerate(shapes):
            count = h * w * fmt.bytes_per_sample
            plane = np.frombuffer(data, dtype=dtype, count=h * w, offset=pos).reshape(h, w)
            np.copyto(np.asarray(out[p]), plane)
            pos += count
        return out

    return blank.std.ModifyFrame(blank, read)


def _check_readable(path: Path) -> None:
    where = str(path)
    if not path.exists():
        raise UserError(f"input {where!r} does not exist")
    if path.is_dir():
        raise UserError(f"input {where!r} is a folder, not a video file")
    try:
        with open(path, "rb") as f:
            f.read(1)
    except OSError as e:
        raise UserError(f"input {where!r} cannot be read: {e.strerror}") from None


def open_source(path: str | Path) -> vs.VideoNode:
    """The clip of a video file: y4m read directly, anything else through bestsource."""
    path = Path(path)
    _check_readable(path)
    if path.suffix.lower() == ".y4m":
        return open_y4m(path)
    if not hasattr(core, "bs"):
        raise UserError(f"reading {str(path)!r} needs the bestsource plugin: pip install vapoursynth-bestsource "
                        "(or give a .y4m file)")
    try:
        clip = core.bs.VideoSource(str(path.resolve()), showprogress=0)
    except vs.Error as e:
        reason = " ".join(str(e).split())
        raise UserError(f"input {str(path)!r} is not a video file bestsource can read ({reason})") from None
    if clip.format is None or clip.width == 0 or clip.height == 0:
        raise UserError(f"input {str(path)!r} changes format or frame size mid-stream; orvo needs one of each")
    return clip


# --- the working form ----------------------------------------------------------------------

@dataclass
class Prepared:
    """The source as the chain takes it, and how to get the original size back."""

    clip: vs.VideoNode
    width: int
    height: int

    def finish(self, result: vs.VideoNode) -> vs.VideoNode:
        """The chain's result cropped back to the source size (even, as 4:2:0 needs)."""
        w, h = self.width & ~1, self.height & ~1
        if (result.width, result.height) == (w, h):
            return result
        return result.std.Crop(right=result.width - w, bottom=result.height - h)


def padded_size(width: int, height: int) -> tuple[int, int]:
    up = lambda v: -(-v // SIZE_STEP) * SIZE_STEP  # noqa: E731
    return up(width), up(height)


def pad_edges(clip: vs.VideoNode, width: int, height: int) -> vs.VideoNode:
    """`clip` grown to width x height by repeating its last column and row, plane by plane."""
    fmt = clip.format
    if (width, height) == (clip.width, clip.height):
        return clip
    planes = []
    for p in range(fmt.num_planes):
        ssw = fmt.subsampling_w if p else 0
        ssh = fmt.subsampling_h if p else 0
        plane = clip.std.ShufflePlanes(p, vs.GRAY)
        extra_w = (width - clip.width) >> ssw
        extra_h = (height - clip.height) >> ssh
        if extra_w:
            edge = plane.std.Crop(left=plane.width - 1)
            plane = core.std.StackHorizontal([plane] + [edge] * extra_w)
        if extra_h:
            edge = plane.std.Crop(top=plane.height - 1)
            plane = core.std.StackVertical([plane] + [edge] * extra_h)
        planes.append(plane)
    if fmt.num_planes == 1:
        out = planes[0]
    else:
        out = core.std.ShufflePlanes(planes, [0, 0, 0], fmt.color_family)
    return out.std.CopyFrameProps(clip)


def _guess_matrix(width: int, height: int) -> int:
    return 1 if width > 1024 or height > 576 else 6


def prepare(clip: vs.VideoNode, *, note: Callable[[str], None] | None = None, pad: bool = True) -> Prepared:
    """`clip` as YUV420P16 with its colour tags set, padded by edge repetition to a size the chain takes.

    Missing tags are filled in as players would (BT.709 above SD sizes, BT.601
    otherwise; limited range for YUV) and every change is said through `note`.
    """
    fmt = clip.format
    if fmt.color_family not in (vs.YUV, vs.RGB, vs.GRAY):
        raise UserError(f"the input's format {fmt.name} cannot be converted to YUV420P16")
    props = clip.get_frame(0).props
    width, height = clip.width, clip.height
    tags = {}
    if fmt.color_family == vs.RGB:
        matrix = _guess_matrix(width, height)
        tags_in = {"_Matrix": 0, "_Range": 1}
        range_ = 0
        say = f"RGB converted to YUV with the {MATRIX_NAMES[matrix]} matrix, limited range"
    else:
        matrix = int(props.get("_Matrix", 2))
        if matrix in (0, 2, 3) or fmt.color_family == vs.GRAY:
            guess = _guess_matrix(width, height)
            if fmt.color_family == vs.YUV:
                _say(note, f"input has no matrix tag: assuming {MATRIX_NAMES[guess]} for {width}x{height}")
            matrix = guess
        if "_Range" in props:
            range_ = int(props["_Range"])
        else:
            range_ = 0
            _say(note, "input has no range tag: assuming limited range")
        tags_in = {"_Matrix": matrix, "_Range": range_}
        say = f"{fmt.name} converted to YUV420P16"
    for key, default in (("_Primaries", matrix), ("_Transfer", matrix)):
        value = int(props.get(key, 2))
        tags[key] = value if value not in (0, 2, 3) else (1 if default == 1 else 6)
    tags.update(_Matrix=matrix, _Range=range_)
    if "_ChromaLocation" not in props:
        tags["_ChromaLocation"] = 0
    if "_FieldBased" not in props:
        tags["_FieldBased"] = 0

    pw, ph = padded_size(width, height)
    work = clip.std.SetFrameProps(**tags_in)
    if pad and (pw, ph) != (width, height):
        _say(note, f"{width}x{height} padded to {pw}x{ph} by repeating the edges (the chain needs sizes "
                   f"divisible by {SIZE_STEP}); the result is cropped back"
                   + ("" if width % 2 == 0 and height % 2 == 0
                      else f" to {width & ~1}x{height & ~1} (4:2:0 needs even sizes)"))
        work = pad_edges(work, pw, ph)
    if fmt.id != vs.YUV420P16:
        range_s = "full" if range_ == 1 else "limited"
        work = core.resize.Bicubic(work, format=vs.YUV420P16, matrix_s=str_matrix(matrix), range_s=range_s)
        _say(note, f"{say} ({MATRIX_NAMES.get(matrix, f'matrix {matrix}')}, "
                   f"{'full' if range_ == 1 else 'limited'} range)")
    work = work.std.SetFrameProps(**tags)
    return Prepared(work, width, height)


def str_matrix(code: int) -> str:
    return {1: "709", 5: "470bg", 6: "170m", 7: "240m", 9: "2020ncl", 10: "2020cl"}.get(code, "709")


def parse_frames(text: str, length: int) -> tuple[int, int]:
    """ "START:END" (END excluded, either may be left out) -> (start, end) within a clip of `length`."""
    m = re.fullmatch(r"\s*(\d*)\s*:\s*(\d*)\s*", text)
    if not m:
        raise UserError(f"--frames {text!r} must be START:END with frame numbers (END excluded), e.g. 0:100")
    start = int(m.group(1)) if m.group(1) else 0
    end = int(m.group(2)) if m.group(2) else length
    if not 0 <= start < end <= length:
        raise UserError(f"--frames {text!r} is outside the clip, which has frames 0:{length}")
    return start, end


# --- sinks ---------------------------------------------------------------------------------

def y4m_header(clip: vs.VideoNode, props=None) -> bytes:
    fmt = clip.format
    css = {(1, 1): "420", (1, 0): "422", (0, 0): "444"}[(fmt.subsampling_w, fmt.subsampling_h)]
    if fmt.color_family == vs.GRAY:
        css = "mono"
    if fmt.bits_per_sample > 8:
        css += f"p{fmt.bits_per_sample}"
    words = ["YUV4MPEG2", f"W{clip.width}", f"H{clip.height}", f"F{clip.fps_num}:{clip.fps_den}", "Ip",
             "A0:0", f"C{css}"]
    if fmt.bits_per_sample > 8:
        words.append(f"XYSCSS={css.upper()}")
    if props is not None and "_Range" in props:
        words.append("XCOLORRANGE=" + ("FULL" if int(props["_Range"]) == 1 else "LIMITED"))
    return (" ".join(words) + "\n").encode("ascii")


def write_y4m(clip: vs.VideoNode, stream: BinaryIO, progress: Callable[[int], None] | None = None) -> int:
    """Writes every frame of `clip` as y4m; returns the number of frames written."""
    if clip.format is None or clip.format.color_family not in (vs.YUV, vs.GRAY) or \
            clip.format.sample_type != vs.INTEGER:
        raise UserError(f"y4m holds integer YUV or GRAY, not {clip.format.name if clip.format else 'mixed formats'}")
    count = 0
    for frame in clip.frames(close=True):
        if count == 0:
            stream.write(y4m_header(clip, frame.props))
        stream.write(b"FRAME\n")
        for p in range(frame.format.num_planes):
            stream.write(np.ascontiguousarray(np.asarray(frame[p])).data)
        count += 1
        if progress is not None:
            progress(count)
    return count


def output_kind(path: str) -> str:
    """ "stdout", "y4m" or the ffmpeg muxer for an output name, or UserError."""
    if path == "-":
        return "stdout"
    ext = Path(path).suffix.lower()
    if ext == ".y4m":
        return "y4m"
    if ext in ENCODED:
        return ENCODED[ext]
    raise UserError(f"output {path!r}: unknown extension {ext or '(none)'!r}; use .y4m, .mkv, .mp4, "
                    "or - for standard output")


def check_output(path: str, *, force: bool, input_path: str | None = None, image: bool = False) -> None:
    """Refuses, before any work, an output that cannot or must not be written."""
    if path == "-":
        return
    out = Path(path)
    folder = out.parent
    if not folder.is_dir():
        raise UserError(f"output folder {str(folder)!r} does not exist")
    if out.is_dir():
        raise UserError(f"output {path!r} is a folder")
    if input_path is not None and out.exists() and Path(input_path).exists() and \
            out.resolve() == Path(input_path).resolve():
        raise UserError(f"output {path!r} is the input file")
    if out.exists() and not force:
        raise UserError(f"output {path!r} exists; use --force to replace it")
    if not os.access(folder, os.W_OK | os.X_OK):
        raise UserError(f"output folder {str(folder)!r} is not writable")
    if not image and output_kind(path) in ENCODED.values() and shutil.which("ffmpeg") is None:
        raise UserError(f"output {path!r} is encoded with ffmpeg, which is not installed (Debian/Ubuntu: "
                        "apt install ffmpeg); or write .y4m, or - to pipe into an encoder of your choice")


class AtomicFile:
    """A temporary file beside `path`, renamed over it by commit(), removed by abort()."""

    def __init__(self, path: str, *, force: bool):
        self.path = Path(path)
        self.force = force
        try:
            fd, tmp = tempfile.mkstemp(dir=self.path.parent, prefix=f".{self.path.name}.",
                                       suffix=".part" + self.path.suffix)
        except OSError as e:
            raise UserError(f"cannot create a file in {str(self.path.parent)!r}: {e.strerror}") from None
        os.close(fd)
        self.tmp = Path(tmp)
        # mkstemp makes the file private; the output gets the mode any new file would.
        umask = os.umask(0)
        os.umask(umask)
        os.chmod(self.tmp, 0o666 & ~umask)

    def commit(self) -> None:
        with open(self.tmp, "rb+") as f:
            os.fsync(f.fileno())
        if self.force:
            os.replace(self.tmp, self.path)
            return
        try:
            # Refuses to replace a file that appeared while we were writing.
            os.link(self.tmp, self.path)
        except FileExistsError:
            self.abort()
            raise UserError(f"output {str(self.path)!r} appeared while writing; use --force to replace it") from None
        except OSError:
            if self.path.exists():
                self.abort()
                raise UserError(f"output {str(self.path)!r} exists; use --force to replace it") from None
            os.replace(self.tmp, self.path)
            return
        self.tmp.unlink()

    def abort(self) -> None:
        with contextlib.suppress(FileNotFoundError):
            self.tmp.unlink()


class Sink:
    """Where the y4m stream goes: `stream` while writing, then commit() or abort()."""

    stream: BinaryIO

    def commit(self) -> None:  # pragma: no cover - overridden
        pass

    def abort(self) -> None:  # pragma: no cover - overridden
        pass


class StdoutSink(Sink):
    def __init__(self):
        self.stream = sys.stdout.buffer

    def commit(self) -> None:
        self.stream.flush()

    def abort(self) -> None:
        # A closed pipe would fail again when the interpreter flushes stdout at exit.
        with contextlib.suppress(OSError, ValueError):
            devnull = os.open(os.devnull, os.O_WRONLY)
            os.dup2(devnull, sys.stdout.fileno())
            os.close(devnull)


class FileSink(Sink):
    def __init__(self, path: str, *, force: bool):
        self.file = AtomicFile(path, force=force)
        self.stream = open(self.file.tmp, "wb")

    def commit(self) -> None:
        self.stream.close()
        self.file.commit()

    def abort(self) -> None:
        with contextlib.suppress(OSError):
            self.stream.close()
        self.file.abort()


class EncoderSink(Sink):
    """y4m piped into ffmpeg, which writes the container to a temporary file."""

    def __init__(self, path: str, *, force: bool, muxer: str, props):
        self.file = AtomicFile(path, force=force)
        tags = []
        if props is not None:
            tags += ["-color_range", "pc" if int(props.get("_Range", 0)) == 1 else "tv"]
            for flag, table, key in (("-colorspace", FFMPEG_MATRIX, "_Matrix"),
                                     ("-color_primaries", FFMPEG_PRIMARIES, "_Primaries"),
                                     ("-color_trc", FFMPEG_TRANSFER, "_Transfer")):
                if int(props.get(key, 2)) in table:
                    tags += [flag, table[int(props[key])]]
        cmd = ["ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin", "-y", "-f", "yuv4mpegpipe", "-i", "-",
               *ENCODER_ARGS, *tags, "-f", muxer, str(self.file.tmp)]
        self.errors = tempfile.TemporaryFile()
        self.proc = subprocess.Popen(cmd, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=self.errors)
        self.stream = self.proc.stdin

    def _ffmpeg_said(self) -> str:
        self.errors.seek(0)
        text = self.errors.read().decode("utf-8", "replace").strip()
        return text.splitlines()[-1] if text else "no message"

    def commit(self) -> None:
        try:
            self.stream.close()
        except BrokenPipeError:
            pass
        rc = self.proc.wait()
        if rc != 0:
            said = self._ffmpeg_said()
            self.file.abort()
            raise UserError(f"ffmpeg failed (exit status {rc}): {said}")
        self.file.commit()

    def abort(self) -> None:
        with contextlib.suppress(OSError):
            self.stream.close()
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait()
        self.file.abort()

    def failure(self) -> str | None:
        """ffmpeg's message when it has stopped taking input."""
        if self.proc.poll() is not None:
            return f"ffmpeg stopped (exit status {self.proc.returncode}): {self._ffmpeg_said()}"
        return None


def open_sink(path: str, *, force: bool, props=None) -> Sink:
    kind = output_kind(path)
    if kind == "stdout":
        return StdoutSink()
    if kind == "y4m":
        return FileSink(path, force=force)
    return EncoderSink(path, force=force, muxer=kind, props=props)


@contextlib.contextmanager
def atomic_path(path: str, *, force: bool) -> Iterator[Path]:
    """A temporary path to write `path` through; renamed on success, removed on any failure."""
    f = AtomicFile(path, force=force)
    try:
        yield f.tmp
    except BaseException:
        f.abort()
        raise
    f.commit()
