"""Frames from Python equal the command line's 16-bit PNGs, bit for bit."""
import json
import os
import signal
import threading
import time

import numpy
import pytest

from conftest import EXAMPLES, read_png, run_cli

EXAMPLE_FLOWS = sorted(EXAMPLES.glob("*.json"))


def two_frames(path):
    first, last = json.loads(path.read_text())["frames"]
    return [first + min(2, last - first), first + min(9, last - first)]


@pytest.mark.parametrize("flow_path", EXAMPLE_FLOWS, ids=lambda p: p.stem)
def test_frames_equal_the_command_lines_pngs(lumets, tmp_path, flow_path):
    frames = two_frames(flow_path)
    listed = ",".join(map(str, frames))
    run_cli("render", flow_path, "-o", tmp_path / "f.####.png", "--frames", listed, "--quiet")
    flow = lumets.Flow.load(flow_path)
    arrays = list(flow.frames(listed))
    assert len(arrays) == 2
    for frame, array in zip(frames, arrays):
        assert array.dtype == numpy.uint16 and array.ndim == 3 and array.shape[2] == 4
        assert numpy.array_equal(array, read_png(tmp_path / f"f.{frame:04d}.png")), frame
    # One frame alone (warmed up from the flow's first frame) is the same picture.
    assert numpy.array_equal(flow.render(frames[1]), arrays[1])


def test_frames_from_a_list_a_range_and_quick(lumets, tmp_path):
    flow = lumets.Flow.load(EXAMPLES / "fountain.json")
    run_cli("render", EXAMPLES / "fountain.json", "-o", tmp_path / "q.####.png", "--frames", "4-6", "--quick",
            "--quiet")
    for frames in ([4, 5, 6], range(4, 7), "4-6"):
        arrays = list(flow.frames(frames, quick=True, threads=2))
        assert [numpy.array_equal(a, read_png(tmp_path / f"q.{f:04d}.png")) for f, a in zip(range(4, 7), arrays)] == [
            True] * 3


def test_background_and_shape_as_arrays(lumets):
    flow = lumets.Flow.load(EXAMPLES / "fountain.json")
    plain = flow.render(8)
    # The flow's own solid background, given as an array, gives the same frame.
    colour = [round(c * 65535) for c in (0.01, 0.015, 0.035, 1.0)]
    flow.set_background(numpy.tile(numpy.array(colour, dtype=numpy.uint16), (270, 480, 1)))
    assert numpy.array_equal(flow.render(8), plain)
    # A white square as the particle shape draws other pixels.
    flow.set_shape(numpy.full((10, 10, 4), 65535, dtype=numpy.uint16))
    assert not numpy.array_equal(flow.render(8), plain)
    with pytest.raises(ValueError):
        flow.set_shape(numpy.zeros((4, 4), dtype=numpy.uint16))


def test_two_threads_render_at_once(lumets):
    flows = [lumets.Flow.load(EXAMPLES / name) for name in ("fountain.json", "snow.json")]
    alone = [list(f.frames("6-8")) for f in flows]
    together = [None, None]

    def work(i):
        together[i] = list(flows[i].frames("6-8"))

    threads = [threading.Thread(target=work, args=(i,)) for i in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(timeout=120)
    for mine, theirs in zip(alone, together):
        assert theirs is not None and all(numpy.array_equal(a, b) for a, b in zip(mine, theirs))


def test_ctrl_c_stops_a_long_render_between_frames(lumets):
    flow_dict = json.loads((EXAMPLES / "fountain.json").read_text())
    flow_dict["frames"] = [0, 300000]
    flow = lumets.Flow.from_dict(flow_dict, str(EXAMPLES))
    timer = threading.Timer(0.5, os.kill, (os.getpid(), signal.SIGINT))
    started = time.monotonic()
    timer.start()
    with pytest.raises(KeyboardInterrupt):
        flow.render(300000)  # one call: 300000 frames simulated before the one drawn
    timer.join()
    assert time.monotonic() - started < 10
