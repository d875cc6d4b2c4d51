"""The `orvo` command: restore's input, output and bad-input paths, compare, y4m and padding."""

import errno
import os
import re
import shutil
import signal
import subprocess
import sys
import time
from pathlib import Path

import numpy as np
import pytest
import vapoursynth as vs
from conftest import graph_nodes, planes_of

from orvo import chain, cli, io
from orvo.options import Options

core = vs.core
TAGS = dict(_Matrix=1, _Transfer=1, _Primaries=1, _Range=0, _ChromaLocation=0, _FieldBased=0)


def video(fmt=vs.YUV420P16, width=320, height=240, length=4, seed=0):
    """A clip of random pictures, different every frame, tagged like real video."""
    blank = core.std.BlankClip(format=fmt, width=width, height=height, length=length, keep=True)
    peak = (1 << blank.format.bits_per_sample) - 1

    def fill(n, f):
        rng = np.random.default_rng([seed, n])
        out = f.copy()
        for p in range(out.format.num_planes):
            a = np.asarray(out[p])
            a[...] = rng.integers(0, peak + 1, a.shape)
        return out

    return blank.std.ModifyFrame(blank, fill).std.SetFrameProps(**TAGS)


def write(clip, path):
    with open(path, "wb") as f:
        io.write_y4m(clip, f)
    return str(path)


@pytest.fixture
def identity_chain(monkeypatch):
    """Stands in for the chain: records its arguments and returns the source plus one."""
    calls = []

    def fake(src16, options):
        calls.append((src16, options))
        return src16.std.Expr("x 1 +")

    monkeypatch.setattr(chain, "restore", fake)
    return calls


def run(*argv):
    return cli.main([str(a) for a in argv])


def test_y4m_round_trip(tmp_path):
    for fmt in (vs.YUV420P16, vs.YUV420P8, vs.YUV444P10, vs.GRAY8):
        clip = video(fmt, 66, 34, length=3)
        back = io.open_y4m(Path(write(clip, tmp_path / "a.y4m")))
        assert (back.format.id, back.width, back.height, back.num_frames) == (fmt, 66, 34, 3)
        assert back.get_frame(0).props["_Range"] == 0
        for n in range(3):
            for a, b in zip(planes_of(clip.get_frame(n)), planes_of(back.get_frame(n))):
                np.testing.assert_array_equal(a, b)


@pytest.mark.parametrize(
    "fmt, width, height, padded, final",
    [
        (vs.YUV420P8, 318, 238, (320, 240), (318, 238)),
        (vs.YUV420P16, 320, 240, (320, 240), (320, 240)),
        (vs.YUV422P10, 322, 236, (324, 236), (322, 236)),
        (vs.RGB24, 63, 45, (64, 48), (62, 44)),
    ],
)
def test_padding_repeats_edges_and_crops_back(fmt, width, height, padded, final):
    notes = []
    src = video(fmt, width, height, length=1)
    prepared = io.prepare(src, note=notes.append)
    clip = prepared.clip
    assert (clip.format.id, clip.width, clip.height) == (vs.YUV420P16, *padded)
    props = clip.get_frame(0).props
    assert (props["_Matrix"], props["_Range"]) == ((6, 0) if fmt == vs.RGB24 else (1, 0))
    assert any("padded" in n for n in notes) == (padded != (width, height))
    if fmt == vs.YUV420P8:
        y = np.asarray(clip.get_frame(0)[0])
        np.testing.assert_array_equal(y[:, width:], np.repeat(y[:, width - 1:width], padded[0] - width, axis=1))
        np.testing.assert_array_equal(y[height:, :], np.repeat(y[height - 1:height], padded[1] - height, axis=0))
        np.testing.assert_array_equal(y[:height, :width], np.asarray(src.get_frame(0)[0]).astype(np.uint16) << 8)
    done = prepared.finish(clip)
    assert (done.width, done.height) == final


def test_restore_y4m_to_y4m(tmp_path, identity_chain):
    src = write(video(length=5), tmp_path / "in.y4m")
    out = tmp_path / "out.y4m"
    assert run("restore", src, "-o", out, "--frames", "1:4", "--set", "nr.hy=2.5", "--set", "warp.wplane=[0,1]",
               "--preset", "natural", "--device", "cpu") == 0
    (given, options), = identity_chain
    assert given.format.id == vs.YUV420P16 and given.num_frames == 5
    assert isinstance(options, Options)
    assert (options.nr["hy"], options.warp["wplane"], options.nr["device_type"], options.aamod["aakernel"]) == \
        (2.5, [0, 1], "cpu", 4)
    back = io.open_y4m(out)
    assert (back.format.id, back.width, back.height, back.num_frames) == (vs.YUV420P16, 320, 240, 3)
    # frames 1..3 of the source, through the stand-in chain
    expect = np.asarray(video(length=5).get_frame(1)[0]).astype(np.int64) + 1
    np.testing.assert_array_equal(np.asarray(back.get_frame(0)[0]), np.minimum(expect, 65535))
    assert sorted(os.listdir(tmp_path)) == ["in.y4m", "out.y4m"]


@pytest.mark.skipif(shutil.which("ffmpeg") is None or not hasattr(core, "bs"), reason="needs ffmpeg and bestsource")
def test_restore_through_bestsource_and_ffmpeg(tmp_path, identity_chain):
    src = write(video(vs.YUV420P8, 318, 238, length=4), tmp_path / "in.y4m")
    mkv = tmp_path / "in.mkv"
    subprocess.run(["ffmpeg", "-loglevel", "error", "-i", src, "-c:v", "ffv1", str(mkv)], check=True)
    for out in ("out.mkv", "out.mp4"):
        assert run("restore", mkv, "-o", tmp_path / out) == 0
        back = core.bs.VideoSource(str(tmp_path / out), cachemode=0)
        assert (back.width, back.height, back.num_frames) == (318, 238, 4)
    assert identity_chain[0][0].width == 320  # padded for the chain, cropped back after it


IDENTITY = "import sys, orvo.chain as c, orvo.cli as m; c.restore = lambda s, o: s; sys.exit(m.main(sys.argv[1:]))"


def test_restore_to_stdout(tmp_path):
    good = write(video(length=2), tmp_path / "in.y4m")
    out = subprocess.run([sys.executable, "-c", IDENTITY, "restore", good, "-o", "-"], capture_output=True,
                         env={**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)})
    assert out.returncode == 0, out.stderr
    header = b"YUV4MPEG2 W320 H240 F24:1 Ip A0:0 C420p16 XYSCSS=420P16 XCOLORRANGE=LIMITED\n"
    assert out.stdout.startswith(header) and len(out.stdout) == len(header) + 2 * (6 + 320 * 240 * 3)
    assert b"2 frames of 320x240 written to standard output" in out.stderr


def files(tmp_path):
    """The files the bad-input cases refer to by name."""
    paths = {"good": write(video(length=3), tmp_path / "in.y4m"), "dir": tmp_path, "out": tmp_path / "out.y4m"}
    (tmp_path / "notes.mkv").write_text("not a video")
    (tmp_path / "junk.y4m").write_bytes(b"YUV4MPEG2 W64 H48 C420p16\nFRAME\n" + b"\0" * 100)
    (tmp_path / "exists.y4m").write_bytes(b"keep me")
    (tmp_path / "bad.toml").write_text("[nr]\nhz = 2\n")
    (tmp_path / "folder").mkdir()
    return paths


BAD_INPUTS = [
    ("missing input", ["{dir}/none.mkv", "-o", "{out}"], "input '.*none.mkv' does not exist"),
    ("folder input", ["{dir}/folder", "-o", "{out}"], "is a folder, not a video file"),
    ("not video", ["{dir}/notes.mkv", "-o", "{out}"], "is not a video file bestsource can read"),
    ("cut y4m", ["{dir}/junk.y4m", "-o", "{out}"], "y4m frame 0 is cut short"),
    ("unknown preset", ["{good}", "-o", "{out}", "--preset", "nope"], "unknown preset 'nope'; the presets are: "),
    ("malformed set", ["{good}", "-o", "{out}", "--set", "nr.hy"], "must be written GROUP.NAME=VALUE"),
    ("unknown set", ["{good}", "-o", "{out}", "--set", "nr.hz=1"], "unknown option nr.hz; the values of nr are"),
    ("bad value", ["{good}", "-o", "{out}", "--set", "nr.hy=0"], "nr.hy must be a non-zero number, got 0"),
    ("bad options file", ["{good}", "-o", "{out}", "--options", "{dir}/bad.toml"], "bad.toml: unknown option nr.hz"),
    ("range outside", ["{good}", "-o", "{out}", "--frames", "2:9"], r"--frames '2:9' is outside the clip, .* 0:3"),
    ("range malformed", ["{good}", "-o", "{out}", "--frames", "a-b"], "must be START:END"),
    ("output exists", ["{good}", "-o", "{dir}/exists.y4m"], "exists; use --force to replace it"),
    ("no output folder", ["{good}", "-o", "{dir}/nowhere/o.y4m"], "output folder .*nowhere.* does not exist"),
    ("output extension", ["{good}", "-o", "{dir}/o.avi"], "unknown extension '.avi'"),
    ("threads", ["{good}", "-o", "{out}", "--threads", "0"], "--threads must be at least 1"),
]


@pytest.mark.parametrize("case, argv, message", BAD_INPUTS, ids=[c[0] for c in BAD_INPUTS])
def test_bad_input_says_what_and_leaves_nothing(tmp_path, capsys, identity_chain, case, argv, message):
    if case == "not video" and not hasattr(core, "bs"):
        pytest.skip("needs bestsource")
    paths = files(tmp_path)
    before = {p: p.read_bytes() for p in tmp_path.iterdir() if p.is_file()}
    assert run("restore", *[a.format(**paths) for a in argv]) == 2
    err = capsys.readouterr().err
    assert re.search("^orvo: error: .*" + message, err, re.M), err
    after = {p: p.read_bytes() for p in tmp_path.iterdir() if p.is_file()}
    assert after == before  # nothing written, nothing replaced, no temporary left
    assert identity_chain == []  # refused before the chain is built


def test_encoder_missing_is_named(tmp_path, monkeypatch, capsys, identity_chain):
    monkeypatch.setattr(io.shutil, "which", lambda name: None)
    good = write(video(length=2), tmp_path / "in.y4m")
    assert run("restore", good, "-o", tmp_path / "o.mkv") == 2
    assert "ffmpeg, which is not installed (Debian/Ubuntu: apt install ffmpeg)" in capsys.readouterr().err
    assert os.listdir(tmp_path) == ["in.y4m"]


def test_full_disk_leaves_no_partial_file(tmp_path, monkeypatch, capsys, identity_chain):
    good = write(video(length=3), tmp_path / "in.y4m")
    target = tmp_path / "out.y4m"
    target.write_bytes(b"old")
    real = io.write_y4m

    def fill_up(clip, stream, progress=None):
        stream.write(b"YUV4MPEG2 partial")
        raise OSError(errno.ENOSPC, os.strerror(errno.ENOSPC))

    monkeypatch.setattr(io, "write_y4m", fill_up)
    assert run("restore", good, "-o", target, "--force") == 2
    assert "No space left on device; nothing was written" in capsys.readouterr().err
    assert sorted(os.listdir(tmp_path)) == ["in.y4m", "out.y4m"] and target.read_bytes() == b"old"
    monkeypatch.setattr(io, "write_y4m", real)


def test_ctrl_c_stops_cleanly(tmp_path):
    good = write(video(length=40), tmp_path / "in.y4m")
    script = ("import sys, time, orvo.chain as c, orvo.cli as m\n"
              "def slow(n, f):\n    time.sleep(0.1)\n    return f\n"
              "c.restore = lambda s, o: s.std.ModifyFrame(s, slow)\n"
              "sys.exit(m.main(sys.argv[1:]))\n")
    proc = subprocess.Popen([sys.executable, "-c", script, "restore", good, "-o", str(tmp_path / "o.y4m")],
                            stderr=subprocess.PIPE, env={**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)})
    deadline = time.monotonic() + 30
    while not any(p.name.endswith(".part.y4m") for p in tmp_path.iterdir()) and time.monotonic() < deadline:
        time.sleep(0.05)
    time.sleep(0.3)
    proc.send_signal(signal.SIGINT)
    err = proc.communicate(timeout=30)[1].decode()
    assert proc.returncode == 130 and "interrupted; nothing was written" in err
    assert os.listdir(tmp_path) == ["in.y4m"]


def test_compare_writes_labelled_png(tmp_path, capsys):
    from PIL import Image

    from orvo.compare import GAP, LABEL_HEIGHT

    a = write(video(vs.YUV420P16, 96, 64, length=3), tmp_path / "a.y4m")
    b = write(video(vs.YUV444P8, 48, 32, length=3, seed=1), tmp_path / "b.y4m")
    png = tmp_path / "cmp.png"
    assert run("compare", a, b, "--frame", 2, "-o", png) == 0
    with Image.open(png) as im:
        assert im.size == (3 * 96 + 2 * GAP, 64 + LABEL_HEIGHT)
    assert run("compare", a, b, "--frame", 3, "-o", tmp_path / "other.png") == 2
    assert "--frame 3 is outside" in capsys.readouterr().err
    assert sorted(os.listdir(tmp_path)) == ["a.y4m", "b.y4m", "cmp.png"]


def test_presets_and_options_commands(capsys, tmp_path):
    assert run("presets") == 0
    assert "natural" in capsys.readouterr().out
    assert run("options", "--preset", "strong", "--set", "nr.hy=2.25") == 0
    text = capsys.readouterr().out
    (tmp_path / "mine.toml").write_text(text)
    mine = Options.from_file(tmp_path / "mine.toml")
    assert mine == Options.from_preset("strong", **{"nr.hy": 2.25})


def test_pythonpath_wins_over_the_installed_path(tmp_path):
    """Trees sharing one environment import their own package through PYTHONPATH."""
    import sysconfig

    if not (Path(sysconfig.get_paths()["purelib"]) / "orvo-src.pth").exists():
        pytest.skip("package not installed as a path entry in this environment")
    fake = tmp_path / "orvo"
    fake.mkdir()
    (fake / "__init__.py").write_text("")
    out = subprocess.run([sys.executable, "-c", "import orvo; print(orvo.__file__)"], capture_output=True, text=True,
                         env={**os.environ, "PYTHONPATH": str(tmp_path)}, check=True)
    assert out.stdout.strip() == str(fake / "__init__.py")


def test_restore_end_to_end_with_main(tmp_path):
    src = write(video(vs.YUV420P16, 320, 240, length=4), tmp_path / "in.y4m")
    built = []
    real = chain.restore

    def spy(src16, options):
        built.append(real(src16, options))
        return built[-1]

    chain.restore = spy
    try:
        assert run("restore", src, "-o", tmp_path / "out.y4m", "--frames", "1:3", "--set", "nr.d=2",
                   "--set", "nr.hy=2.5", "--device", "cpu") == 0
    finally:
        chain.restore = real
    back = io.open_y4m(tmp_path / "out.y4m")
    assert (back.format.id, back.width, back.height, back.num_frames) == (vs.YUV420P16, 320, 240, 2)
    knlm = graph_nodes(built[0], "knlm", "KNLMeansCL")
    # both passes: the first with KNLMeansCL's default d, the second with nr.d; --device reaches each
    assert sorted(n._inputs["d"] for n in knlm) == [1, 2] and {n._inputs["device_type"] for n in knlm} == {"cpu"}
    bm3d = graph_nodes(built[0], "bm3d", "Basic")
    assert any(list(n._inputs["sigma"])[0] == 2.5 for n in bm3d)


VSPIPE = Path(sys.executable).with_name("vspipe")


@pytest.mark.skipif(not VSPIPE.exists(), reason="vspipe is not in this environment")
@pytest.mark.parametrize("given", [True, False], ids=["input", "built-in sample"])
def test_example_script_runs_under_vspipe(tmp_path, given):
    config = {**os.environ, "XDG_CONFIG_HOME": str(tmp_path / "config")}
    config.pop("PYTHONPATH", None)  # the file is keyed by where vapoursynth is installed, links resolved
    # vspipe finds Python through this file; written under tmp_path, not the user's own configuration.
    subprocess.run([str(VSPIPE.with_name("vapoursynth")), "config"], env=config, check=True, capture_output=True)
    env = {**config, "PYTHONPATH": os.pathsep.join(sys.path)}
    script = Path(__file__).resolve().parents[2] / "examples" / "restore.vpy"
    args = ["-a", "device=cpu", "-a", "preset=natural"]
    if given:  # an odd size in 8 bits: converted, padded for the chain and cropped back
        args += ["-a", "input=" + write(video(vs.YUV420P8, 130, 98, length=3), tmp_path / "in.y4m")]
    out = subprocess.run([str(VSPIPE), "-c", "y4m", *args, "-e", "2", str(script), "-"], env=env,
                         capture_output=True, timeout=300)
    assert out.returncode == 0, out.stderr.decode()
    header = out.stdout.split(b"\n", 1)[0].split()
    size = (130, 98) if given else (320, 192)
    assert header[0] == b"YUV4MPEG2" and {b"C420p16", b"W%d" % size[0], b"H%d" % size[1]} <= set(header)
    assert out.stdout.count(b"FRAME\n") == 3


def test_restore_for_scripts_converts_pads_and_crops(identity_chain):
    import orvo

    out = orvo.restore(video(vs.YUV420P8, 130, 98, length=2), "natural")
    (given, options), = identity_chain
    assert (given.format.id, given.width, given.height) == (vs.YUV420P16, 132, 100)
    assert options == Options.from_preset("natural")
    assert (out.format.id, out.width, out.height, out.num_frames) == (vs.YUV420P16, 130, 98, 2)
