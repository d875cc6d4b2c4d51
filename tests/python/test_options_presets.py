"""orvo.Options: checks with named errors, presets, files and single overrides."""

import pytest

from orvo import orvolib
from orvo.options import Options, OptionsError, parse_assignment, preset_names

SWITCHES = [("aamod", "Text_Protect"), ("dbmod", "Time_domain_p"), ("dering", "limited_dering"),
            ("linedarken", "Line_Darken"), ("warp", "Warpline")]


@pytest.mark.parametrize(
    "overrides, message",
    [
        ({"nr.hy": 0}, "^nr.hy must be a non-zero number, got 0$"),
        ({"nr.hy": -1.5}, "^nr.hy must be a positive number, got -1.5$"),
        ({"nr.hy": True}, "^nr.hy must be a number, got True$"),
        ({"gaussain.bsigma": float("nan")}, "^gaussain.bsigma must be a number, got nan$"),
        ({"aamod.eesigma": -0.5}, "^aamod.eesigma must be a number of at least 0, got -0.5$"),
        ({"nr.d": 1.5}, "^nr.d must be an integer of at least 0, got 1.5$"),
        ({"gaussain.dgmode": 25}, "^gaussain.dgmode must be an integer from 0 to 24, got 25$"),
        ({"dbmod.anc_x": 2}, "^dbmod.anc_x must be a number from 0 to 1, got 2$"),
        ({"nr.device_type": "tpu"}, "^nr.device_type must be one of cpu, gpu, accelerator, auto, got 'tpu'$"),
        ({"aamod.Text_Protect": 1}, "^aamod.Text_Protect must be true or false, got 1$"),
        ({"warp.wplane": [0, 3]}, r"^warp.wplane must be a plane index \(0, 1 or 2\) or a list of them"),
        ({"nr.hc2": "sometimes"}, '^nr.hc2 must be a number or "auto", got \'sometimes\'$'),
        ({"nr.hz": 1}, "^unknown option nr.hz; the values of nr are: d, a, s, hy, hc, hy2, hc2, device_type, "
                       "device_id$"),
        ({"noise.hy": 1}, "^unknown option group 'noise'; the groups are: nr, f3kdb, gaussain, aamod,"),
        ({"hy": 1}, "must be written GROUP.NAME"),
    ],
)
def test_bad_values_are_named(overrides, message):
    with pytest.raises(OptionsError, match=message):
        Options.from_preset("default", **overrides)


def test_incomplete_groups_are_refused():
    groups = Options.from_preset("default").to_dict()
    del groups["dering"]["drgamma"], groups["dering"]["drrx"]
    with pytest.raises(OptionsError, match="^dering: missing value\\(s\\) drgamma, drrx$"):
        Options(groups)


@pytest.mark.parametrize("name", preset_names())
def test_presets_are_complete_and_readable_by_main(name):
    opts = Options.from_preset(name)
    ctx = orvolib._context(opts)  # main's own reading of the eleven groups
    assert ctx.bsigma == opts.gaussain["bsigma"]
    assert ctx.glmest1 == int(opts.masks["glmest1"] * 100)
    assert ctx.f3str == opts.f3kdb["f3str"]


def test_shipped_presets():
    assert {"default", "light", "strong", "natural"} <= set(preset_names())
    natural = Options.from_preset("natural")
    assert natural.aamod["aakernel"] == 4
    assert not any(getattr(natural, g)[n] for g, n in SWITCHES)
    with pytest.raises(OptionsError, match="^unknown preset 'nope'; the presets are: default, "):
        Options.from_preset("nope")


def test_overrides_files_and_round_trip(tmp_path):
    opts = Options.from_preset("default", **{"nr.hy": 1.5}, warp__wplane=[0, 1], nr__hc2=None)
    assert (opts.nr["hy"], opts.warp["wplane"], opts.nr["hc2"]) == (1.5, [0, 1], None)
    assert list(opts.nr) == ["d", "a", "s", "hy", "hc", "hy2", "hc2", "device_type", "device_id"]
    assert opts.replace(**{"f3kdb.f3str": 2}).f3kdb["f3str"] == 2 and opts.f3kdb["f3str"] != 2

    full = tmp_path / "full.toml"
    full.write_text(opts.to_toml(header="test"))
    assert Options.from_file(full, base="strong") == opts  # a complete file owes nothing to its base

    partial = tmp_path / "partial.toml"
    partial.write_text("[nr]\nhy = 2.5\n[warp]\nWarpline = true\n")
    mine = Options.from_file(partial, base="light", **{"nr.d": 3})
    assert (mine.nr["hy"], mine.warp["Warpline"], mine.nr["d"]) == (2.5, True, 3)
    assert mine.aamod == Options.from_preset("light").aamod

    for text, message in [("[nr]\nhz = 1\n", "partial.toml: unknown option nr.hz"),
                          ("[nr\n", "partial.toml: not valid TOML"),
                          ("nr = 3\n", r"partial.toml: nr must be a table")]:
        partial.write_text(text)
        with pytest.raises(OptionsError, match=message):
            Options.from_file(partial)
    with pytest.raises(OptionsError, match="does not exist"):
        Options.from_file(tmp_path / "missing.toml")


@pytest.mark.parametrize(
    "text, key, value",
    [
        ("nr.hy=1.5", "nr.hy", 1.5),
        ("nr.d = 2", "nr.d", 2),
        ("nr.device_type=cpu", "nr.device_type", "cpu"),
        ("warp.wplane=[0, 1]", "warp.wplane", [0, 1]),
        ("aamod.Text_Protect=true", "aamod.Text_Protect", True),
        ("nr.hc2=auto", "nr.hc2", "auto"),
    ],
)
def test_parse_assignment(text, key, value):
    assert parse_assignment(text) == (key, value)
    assert Options.from_preset("default", **{key: value}) is not None
