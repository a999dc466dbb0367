"""flow.render time per frame against the command line's for the same frames.

    /usr/bin/python3 bench/python_vs_cli.py LUMETS PYTHON_MODULE_DIR FLOW FRAMES [WORK_DIR]

The command line writes each frame as an uncompressed TIFF (the cheapest file
it writes); the module hands the frames over as arrays. Best of three runs each.
"""
import subprocess
import sys
import tempfile
import time

lumets, module_dir, flow_path, frames = sys.argv[1:5]
work = sys.argv[5] if len(sys.argv) > 5 else tempfile.mkdtemp()
sys.path.insert(0, module_dir)
import lumets as lm  # noqa: E402

first, last = (int(x) for x in frames.split("-"))
count = last - first + 1


def cli():
    t = time.perf_counter()
    subprocess.run([lumets, "render", flow_path, "-o", f"{work}/b.####.tif", "-q", "--frames", frames], check=True)
    return time.perf_counter() - t


def module():
    t = time.perf_counter()
    n = sum(1 for _ in lm.Flow.load(flow_path).frames(frames))
    assert n == count
    return time.perf_counter() - t


cli_s = min(cli() for _ in range(3))
py_s = min(module() for _ in range(3))
print(f"{flow_path.split('/')[-1]}, frames {frames}: command line {cli_s / count * 1000:.1f} ms per frame "
      f"(TIFF files), flow.frames {py_s / count * 1000:.1f} ms per frame (arrays), ratio {py_s / cli_s:.2f}")
