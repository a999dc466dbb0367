"""The HTTP interface of `lumets preview`: edits, frames, saving and refusals.

Usage: http_interface_test.py LUMETS SOURCE_DIR
"""
import json
import os
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from preview_harness import Preview, digest  # noqa: E402

LUMETS, SOURCE = sys.argv[1], sys.argv[2]


def keyed_flow(flow):
    flow["_note"] = "kept by the preview"
    flow["controls"]["GravityAngle"] = {"keys": [[0, 270], [20, 200]]}


class PreviewInterface(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.p = Preview(LUMETS, SOURCE, edit=keyed_flow)

    @classmethod
    def tearDownClass(cls):
        # The server stops cleanly after all of it (no error or leak report).
        if cls.p.stop() != 0:
            raise AssertionError("the preview server ended badly: " + cls.p.stderr[-2000:])

    def test_refusals_leave_the_server_serving(self):
        p = self.p
        cases = [
            ("GET", "/", None, {"Host": "attacker.example:%d" % p.port}, 403, "Host"),
            ("GET", "/api/controls", None, {"Host": "127.0.0.1.nip.io"}, 403, "Host"),
            ("POST", "/api/save", {}, {"Origin": "http://attacker.example"}, 403, "other pages"),
            ("GET", "/api/frame/1.png", None, {"Sec-Fetch-Site": "cross-site"}, 403, "other pages"),
            ("POST", "/api/set", None, {"Content-Type": "text/plain"}, 415, "application/json"),
            ("GET", "/../../etc/passwd", None, None, 404, "no such page"),
            ("GET", "/app/preview.cpp", None, None, 404, "no such page"),
            ("GET", "/api/frame/36.png", None, None, 400, "outside the frames 0-35"),
            ("GET", "/api/frame/-1.png", None, None, 400, "outside the frames"),
            ("GET", "/api/frame/3.png?proxy=0", None, None, 400, "proxy"),
            ("POST", "/api/set", {"name": "Birthrat", "value": 3}, None, 400, "nearest: Birthrate"),
            ("POST", "/api/set", {"name": "Birthrate", "value": "many"}, None, 400, "must be a number"),
            ("POST", "/api/set", {"name": "Start", "value": 0.5}, None, 400, "Start"),
            ("POST", "/api/set", {"name": "ResetPosition", "value": 1}, None, 400, "press it"),
            ("POST", "/api/set", {"value": 1}, None, 400, "missing \"name\""),
            ("POST", "/api/press", {"name": "Birthrate"}, None, 400, "not a button"),
            ("POST", "/api/press", {"name": "SaveFile", "file": "/tmp/elsewhere.lpd"}, None, 400, "plain file name"),
            ("POST", "/api/save", {"as": "../escape.json"}, None, 400, "plain file name"),
            ("POST", "/api/save", {"as": ".hidden.json"}, None, 400, "plain file name"),
            ("POST", "/api/save", {"as": "flow.png"}, None, 400, "ends in .json"),
        ]
        for method, path, body, headers, status, text in cases:
            with self.subTest(path=path, body=body, headers=headers):
                got, reply = p.request(method, path, body, headers)
                self.assertEqual(got, status, reply)
                self.assertIn(text, reply["error"])
        # Still serving after all of them.
        self.assertEqual(p.request("GET", "/")[0], 200)
        self.assertEqual(len(p.request("GET", "/api/controls")[1]["description"]["pages"]), 10)

    def test_edits_frames_and_save(self):
        p = self.p
        before = p.frame(12)
        # A number beyond its range is limited, as in a flow, with the flow's message.
        status, reply = p.request("POST", "/api/set", {"name": "Birthrate", "value": 5000, "frame": 12})
        self.assertEqual(status, 200)
        self.assertIn("limited to 1000", reply["warnings"][0])
        p.request("POST", "/api/set", {"name": "Birthrate", "value": 30})
        # A keyframed control gets a key at the frame edited.
        p.request("POST", "/api/set", {"name": "GravityAngle", "value": 240, "frame": 10})
        after = p.frame(12)
        self.assertNotEqual(digest(before), digest(after))
        state = p.request("GET", "/api/controls?frame=10")[1]["controls"]
        self.assertEqual(state["Birthrate"]["value"], 30)
        self.assertTrue(state["GravityAngle"]["keyed"])
        self.assertEqual(state["GravityAngle"]["value"], 240)

        # Hiding follows the tool's change handling.
        p.request("POST", "/api/set", {"name": "EnableScale", "value": 0})
        state = p.request("GET", "/api/controls")[1]["controls"]
        self.assertTrue(state["GeneralSize"]["hidden"])
        p.request("POST", "/api/set", {"name": "EnableScale", "value": 1})

        status, reply = p.request("POST", "/api/save", {})
        self.assertEqual(status, 200, reply)
        with open(p.flow) as f:
            saved = json.load(f)
        self.assertEqual(saved["_note"], "kept by the preview")
        self.assertIn("comment", saved)
        self.assertEqual(saved["controls"]["GravityAngle"], {"keys": [[0, 270], [10, 240], [20, 200]]})
        self.assertEqual(saved["controls"]["Birthrate"], 30)
        # The saved flow renders, through `lumets render`, to the frames the page showed.
        self.assertEqual(digest(p.render(p.flow, 12)), digest(p.frame(12)))
        self.assertEqual(digest(p.render(p.flow, 30)), digest(p.frame(30)))

        # Save under a new name in the flow's folder; an existing other file is not overwritten.
        status, reply = p.request("POST", "/api/save", {"as": "copy.json"})
        self.assertEqual(status, 200, reply)
        self.assertTrue(os.path.exists(os.path.join(p.folder, "copy.json")))
        with open(os.path.join(p.folder, "taken.json"), "w") as f:
            f.write("{}")
        status, reply = p.request("POST", "/api/save", {"as": "taken.json"})
        self.assertEqual(status, 400)
        self.assertIn("already exists", reply["error"])
        with open(os.path.join(p.folder, "taken.json")) as f:
            self.assertEqual(f.read(), "{}")

    def test_quick_drag_frames_are_smaller_and_refined_frames_exact(self):
        p = self.p
        quick = p.frame(5, quick=1, proxy=2)
        full = p.frame(5)
        self.assertLess(len(quick), len(full))
        self.assertNotEqual(digest(quick), digest(full))

    def test_scrubbing_in_any_order_gives_the_rendered_frames(self):
        p = self.p
        self.assertEqual(p.request("POST", "/api/save", {})[0], 200)
        out = os.path.join(p.folder, "all", "f.####.png")
        subprocess.run([LUMETS, "render", p.flow, "-o", out, "-q"], check=True, timeout=300)
        p.request("POST", "/api/set", {"name": "Speed", "value": 0.07})  # frames of an earlier edit are dropped
        p.request("POST", "/api/set", {"name": "Speed", "value": 0.062})
        for n in (30, 5, 31, 17, 18, 2, 35, 0, 29, 30):
            with self.subTest(frame=n):
                with open(out.replace("####", "%04d" % n), "rb") as f:
                    self.assertEqual(digest(p.frame(n)), digest(f.read()))

    def test_render_writes_the_flows_frames_with_progress(self):
        p = self.p
        status, reply = p.request("POST", "/api/render", {})
        self.assertEqual(status, 200, reply)
        deadline = time.time() + 120
        while reply["running"] and time.time() < deadline:
            time.sleep(0.2)
            reply = p.request("GET", "/api/render")[1]
        self.assertFalse(reply["running"])
        self.assertNotIn("error", reply)
        self.assertEqual((reply["done"], reply["total"]), (36, 36))
        self.assertTrue(os.path.exists(os.path.join(p.folder, "out", "fountain", "fountain.0035.png")))

    def test_button_press_shows_the_tools_message(self):
        status, reply = self.p.request("POST", "/api/press", {"name": "RecordNow"})
        self.assertEqual(status, 200)
        self.assertIn({"title": "Warning", "text": "No Save File Specified!", "kind": "no-save-file"}, reply["messages"])

    def test_terminate_stops_cleanly(self):
        other = Preview(LUMETS, SOURCE)
        try:
            self.assertEqual(other.request("GET", "/")[0], 200)
            other.proc.terminate()
            self.assertEqual(other.proc.wait(timeout=20), 0)
            # Its temporary folder (under TMPDIR, the test's folder) is gone.
            self.assertEqual([n for n in os.listdir(other.folder) if n.startswith("lumets-preview-")], [])
        finally:
            other.stop()

    def test_busy_port_is_a_one_line_error(self):
        r = subprocess.run([LUMETS, "preview", self.p.flow, "--port", str(self.p.port)], capture_output=True,
                           text=True, timeout=60)
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stderr.count("\n"), 1, r.stderr)
        self.assertIn("is busy", r.stderr)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
