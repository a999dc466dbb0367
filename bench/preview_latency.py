#!/usr/bin/env python3
"""Edit-to-frame latency of `lumets preview`, through its HTTP interface.

For each 480 x 270 example and for a 1920 x 1080 flow made from the fountain
example, on the middle frame of the flow:
  edit -> frame   a slider edit (POST /api/set) until the exact new frame is received
  edit -> quick   the same with the quick, half-size frame shown while a slider moves
  step            the next frame, not seen before, with no edit (playing / scrubbing on)
  jump back       a frame near the start after that (rendered from a saved state)
Each figure is the median of a few repetitions, in milliseconds. Then:
  keyed playback  frames per second of the fountain with a keyed control, played
                  frame after frame after an edit (each frame new)
  long flow       a 10000-frame flow of about 5000 particles: the first pass to the
                  last frame, then scrubs to far frames in random order (median and
                  slowest) and the memory the server then holds

Usage: bench/preview_latency.py LUMETS [SOURCE_DIR]
"""
import http.client
import json
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time
import urllib.parse

REPEAT = 7


def start(lumets, flow):
    proc = subprocess.Popen([lumets, "preview", flow], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    line = proc.stdout.readline()
    if "http://127.0.0.1:" not in line:
        proc.kill()
        raise RuntimeError("preview did not start for " + flow)
    address = urllib.parse.urlsplit(line.split()[2])
    return proc, (address.port, urllib.parse.parse_qs(address.query)["token"][0])


def call(server, method, path, body=None):
    port, token = server
    conn = http.client.HTTPConnection("127.0.0.1", port, timeout=300)
    headers = {"Host": "127.0.0.1:%d" % port, "X-Lumets-Token": token}
    data = None
    if body is not None:
        data = json.dumps(body).encode()
        headers["Content-Type"] = "application/json"
    conn.request(method, path, body=data, headers=headers)
    r = conn.getresponse()
    payload = r.read()
    conn.close()
    if r.status != 200:
        raise RuntimeError("%s %s: %s" % (method, path, payload[:200]))
    return payload


def ms(f):
    t0 = time.perf_counter()
    f()
    return (time.perf_counter() - t0) * 1000.0


def measure(lumets, flow):
    with open(flow) as f:
        first, last = json.load(f)["frames"]
    mid = (first + last) // 2
    proc, port = start(lumets, flow)
    try:
        call(port, "GET", "/api/frame/%d.png" % mid)  # warm: states up to the middle frame
        edit, quick = [], []
        for i in range(REPEAT):
            value = 10 + (i % 2)

            def edited(q):
                call(port, "POST", "/api/set", {"name": "Birthrate", "value": value + (0.25 if q else 0), "frame": mid})
                call(port, "GET", "/api/frame/%d.png%s" % (mid, "?quick=1&proxy=2" if q else ""))
            edit.append(ms(lambda: edited(False)))
            quick.append(ms(lambda: edited(True)))
        call(port, "GET", "/api/frame/%d.png" % mid)
        step = [ms(lambda n=n: call(port, "GET", "/api/frame/%d.png" % n)) for n in range(mid + 1, min(last, mid + REPEAT) + 1)]
        back = ms(lambda: call(port, "GET", "/api/frame/%d.png" % (first + 1)))
    finally:
        proc.send_signal(signal.SIGINT)
        proc.wait(timeout=30)
    return statistics.median(edit), statistics.median(quick), statistics.median(step) if step else 0.0, back


def keyed_playback(lumets, fountain, work):
    with open(fountain) as f:
        flow = json.load(f)
    flow["frames"] = [0, 119]
    flow["controls"]["GravityAngle"] = {"keys": [[0, 270], [60, 200], [119, 300]]}
    path = os.path.join(work, "keyed.json")
    with open(path, "w") as f:
        json.dump(flow, f)
    proc, port = start(lumets, path)
    try:
        call(port, "POST", "/api/set", {"name": "GravityAngle", "value": 240, "frame": 30})
        t0 = time.perf_counter()
        for n in range(120):
            call(port, "GET", "/api/frame/%d.png" % n)
        return 120 / (time.perf_counter() - t0)
    finally:
        proc.send_signal(signal.SIGINT)
        proc.wait(timeout=30)


def long_flow(lumets, fountain, work):
    import random
    with open(fountain) as f:
        flow = json.load(f)
    flow["frames"] = [0, 9999]
    flow["controls"].update({"Birthrate": 100, "Lifetime": 50, "RollFrames": 60})
    path = os.path.join(work, "long.json")
    with open(path, "w") as f:
        json.dump(flow, f)
    proc, port = start(lumets, path)
    try:
        first = ms(lambda: call(port, "GET", "/api/frame/9999.png"))
        rng = random.Random(1)
        seeks = [ms(lambda n=rng.randrange(0, 9999): call(port, "GET", "/api/frame/%d.png" % n)) for _ in range(12)]
        with open("/proc/%d/status" % proc.pid) as f:
            rss = next(int(l.split()[1]) for l in f if l.startswith("VmRSS:")) // 1024
        return first, statistics.median(seeks), max(seeks), rss
    finally:
        proc.send_signal(signal.SIGINT)
        proc.wait(timeout=30)


def main():
    lumets = os.path.abspath(sys.argv[1])
    source = sys.argv[2] if len(sys.argv) > 2 else os.path.join(os.path.dirname(__file__), "..")
    work = tempfile.mkdtemp(prefix="lumets-preview-bench-")
    try:
        shutil.copytree(os.path.join(source, "examples"), os.path.join(work, "examples"))
        flows = [os.path.join(work, "examples", n) for n in sorted(os.listdir(os.path.join(work, "examples")))
                 if n.endswith(".json")]
        with open(os.path.join(work, "examples", "fountain.json")) as f:
            big = json.load(f)
        big["background"].update({"width": 1920, "height": 1080})
        big["particle"]["size"] = 40
        big["frames"] = [0, 59]
        big_path = os.path.join(work, "examples", "fountain-1080p.json")
        with open(big_path, "w") as f:
            json.dump(big, f)
        flows.append(big_path)
        print("%-22s %12s %12s %10s %10s" % ("flow (middle frame)", "edit->frame", "edit->quick", "step", "jump back"))
        for flow in flows:
            e, q, s, b = measure(lumets, flow)
            print("%-22s %9.1f ms %9.1f ms %7.1f ms %7.1f ms" % (os.path.basename(flow), e, q, s, b))
        fountain = os.path.join(work, "examples", "fountain.json")
        print("keyed playback (fountain, 120 frames): %.1f fps" % keyed_playback(lumets, fountain, work))
        first, median, slowest, rss = long_flow(lumets, fountain, work)
        print("long flow (10000 frames, ~5000 particles): first pass %.1f s, scrub to a far frame %.0f ms "
              "(slowest %.0f ms), %d MiB held" % (first / 1000, median, slowest, rss))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
