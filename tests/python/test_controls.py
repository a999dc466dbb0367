"""Controls, errors, the flow as a dict and file, and a record/play round trip."""
import json

import numpy
import pytest

from conftest import EXAMPLES, cli_error, read_png, run_cli

FOUNTAIN = EXAMPLES / "fountain.json"


def test_controls_set_from_python_equal_the_flow_written_as_json(lumets, tmp_path):
    flow = lumets.Flow.load(FOUNTAIN)
    assert flow["Birthrate"] == 12 and "Birthrate" in flow and "Bogus" not in flow
    plain = flow.render(20)
    flow["InBirthrate"] = 3  # another name of the same control replaces the flow's value
    flow["GravityAngle"] = {"keys": [[0, 270], [15, 200]]}
    assert flow["GravityAngle"] == {"keys": [[0, 270], [15, 200]]}
    assert "Birthrate" not in flow.to_dict()["controls"] and flow["Birthrate"] == 3

    written = json.loads(FOUNTAIN.read_text())
    del written["controls"]["Birthrate"]
    written["controls"]["InBirthrate"] = 3
    written["controls"]["GravityAngle"] = {"keys": [[0, 270], [15, 200]]}
    (tmp_path / "changed.json").write_text(json.dumps(written))
    run_cli("render", tmp_path / "changed.json", "-o", tmp_path / "c.####.png", "--frames", "20", "--quiet")
    changed = flow.render(20)
    assert numpy.array_equal(changed, read_png(tmp_path / "c.0020.png"))
    assert not numpy.array_equal(changed, plain)

    # save and load give the same flow, its paths rebased to the new folder.
    flow.save(tmp_path / "saved.json")
    assert numpy.array_equal(lumets.Flow.load(tmp_path / "saved.json").render(20), changed)
    assert numpy.array_equal(lumets.Flow.from_dict(flow.to_dict()).render(20), changed)


def test_errors_carry_the_command_lines_messages(lumets, tmp_path):
    flow = lumets.Flow.load(FOUNTAIN)
    with pytest.raises(KeyError) as unknown:
        flow["Birthrat"] = 3
    assert unknown.value.args[0] == cli_error("render", FOUNTAIN, "--set", "Birthrat=3", "-o", tmp_path / "x.png",
                                              "--frames", "0")
    assert "Birthrate" in unknown.value.args[0]
    with pytest.raises(KeyError):
        flow["Birthrat"]
    with pytest.raises(ValueError) as bad:
        flow["Birthrate"] = "many"
    assert str(bad.value) == cli_error("render", FOUNTAIN, "--set", "Birthrate=many", "-o", tmp_path / "x.png",
                                         "--frames", "0")
    with pytest.raises(ValueError):
        flow["Birthrate"] = float("nan")
    assert flow["Birthrate"] == 12  # a refused value leaves the flow as it was

    with pytest.raises(lumets.Error) as missing:
        lumets.Flow.load(tmp_path / "none.json")
    assert str(missing.value) == cli_error("render", tmp_path / "none.json")
    hostile = tmp_path / "hostile.lpd"
    hostile.write_bytes(b"\xff" * 40 + b"\x00" * 24)
    with pytest.raises(lumets.Error) as refused:
        lumets.inspect(hostile)
    assert str(refused.value) == cli_error("inspect", hostile)
    with pytest.raises(lumets.Error) as outside:
        flow.render(36)
    assert str(outside.value) == cli_error("render", FOUNTAIN, "--frames", "36", "-o", tmp_path / "x.png")
    with pytest.raises(ValueError):
        lumets.Flow.from_dict({"flow": 1})


def test_record_and_play_round_trip(lumets, tmp_path):
    flow = lumets.Flow.load(FOUNTAIN)
    flow.record(tmp_path / "py.lpd", range(0, 12))
    run_cli("record", FOUNTAIN, "--to", tmp_path / "cli.lpd", "--frames", "0-11", "--quiet")
    assert (tmp_path / "py.lpd").read_bytes() == (tmp_path / "cli.lpd").read_bytes()
    table = lumets.inspect(tmp_path / "py.lpd")
    assert table["frameCount"] == 12 and table == json.loads(run_cli("inspect", tmp_path / "cli.lpd", "--json").stdout)

    played = list(flow.play(tmp_path / "py.lpd", "3-5", reverse=True))
    run_cli("play", FOUNTAIN, "--motion", tmp_path / "cli.lpd", "--frames", "3-5", "--reverse", "-o",
            tmp_path / "p.####.png", "--quiet")
    assert len(played) == 3
    for frame, array in zip(range(3, 6), played):
        assert numpy.array_equal(array, read_png(tmp_path / f"p.{frame:04d}.png")), frame
    # Two playbacks read in turns.
    pairs = list(zip(*(flow.play(tmp_path / "py.lpd", "3-9", reverse=True) for _ in range(2))))
    assert len(pairs) == 7 and all(numpy.array_equal(a, b) for a, b in pairs)
    assert all(numpy.array_equal(a, p) for (a, _), p in zip(pairs, played))
    with pytest.raises(lumets.Error):
        list(flow.play(tmp_path / "none.lpd", "3-5"))
