"""`lumets preview` as an editor: undo and redo, drags as one edit, keys, the flow
as edited (GET /api/flow) and the tidy save.

Usage: edit_history_test.py LUMETS SOURCE_DIR
"""
import json
import os
import re
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from preview_harness import Preview, digest  # noqa: E402

LUMETS, SOURCE = sys.argv[1], sys.argv[2]


class EditHistory(unittest.TestCase):
    def setUp(self):
        self.p = Preview(LUMETS, SOURCE)

    def tearDown(self):
        if self.p.stop() != 0:
            raise AssertionError("the preview server ended badly: " + self.p.stderr[-2000:])

    def post(self, path, body, status=200):
        got, reply = self.p.request("POST", path, body)
        self.assertEqual(got, status, reply)
        return reply

    def control(self, name, frame=0):
        return self.p.request("GET", "/api/controls?frame=%d" % frame)[1]["controls"][name]

    def test_undo_redo_and_a_drag_as_one_edit(self):
        self.post("/api/set", {"name": "Speed", "value": 0.08})
        # A drag: many moves, then the final value; one undo takes all of it back.
        for x in (0.51, 0.523, 0.5437611209964412):
            self.post("/api/set", {"name": "Start", "value": [x, 0.8], "final": False})
        self.post("/api/set", {"name": "Start", "value": [0.5537611209964412, 0.81], "final": True})
        self.assertEqual(self.control("Start")["value"], [0.5538, 0.81])
        self.assertEqual(self.post("/api/undo", {}), {"done": True, "what": "set Start"})
        self.assertEqual(self.control("Start")["value"], [0.485, 0.9])
        self.assertEqual(self.control("Speed")["value"], 0.08)
        self.assertEqual(self.post("/api/undo", {})["done"], True)
        self.assertEqual(self.control("Speed")["value"], 0.062)
        self.assertEqual(self.post("/api/undo", {})["done"], False)
        self.post("/api/redo", {})
        self.assertEqual(self.control("Speed")["value"], 0.08)
        # A new edit after an undo clears what could be redone.
        self.post("/api/set", {"name": "Gravity", "value": 0.3})
        self.assertEqual(self.post("/api/redo", {})["done"], False)
        # The frames follow: after undoing everything they are the flow's own again.
        self.post("/api/undo", {})
        self.post("/api/undo", {})
        self.assertEqual(digest(self.p.frame(20)), digest(self.p.render(self.p.flow, 20)))

    def test_keys_add_interpolate_move_remove_and_undo(self):
        reply = self.post("/api/key", {"name": "Gravity", "frame": 10})
        self.assertEqual(reply["keys"], [10])
        self.post("/api/set", {"name": "Gravity", "value": 0.8, "frame": 30})
        self.post("/api/key", {"name": "Gravity", "frame": 20})  # between: the value there
        state = self.control("Gravity", 15)
        self.assertEqual((state["keyed"], state["keys"]), (True, [10, 20, 30]))
        self.assertAlmostEqual(state["value"], 0.42 + (0.8 - 0.42) * 5 / 20, places=9)
        self.assertAlmostEqual(self.control("Gravity", 20)["value"], 0.61, places=9)
        self.assertEqual(self.post("/api/key", {"name": "Gravity", "from": 30, "to": 20})["keys"], [10, 20])
        self.assertEqual(self.control("Gravity", 20)["value"], 0.8)
        self.assertEqual(self.post("/api/key", {"name": "Gravity", "frame": 10, "remove": True})["keys"], [20])
        self.assertEqual(self.post("/api/key", {"name": "Gravity", "frame": 20, "remove": True})["keys"], [])
        state = self.control("Gravity", 3)
        self.assertEqual((state["keyed"], state["value"]), (False, 0.8))
        self.assertEqual(self.post("/api/undo", {})["what"], "remove key Gravity at 20")
        self.assertEqual(self.control("Gravity")["keys"], [20])
        # A whole keyed value at once; an empty list is refused.
        self.post("/api/set", {"name": "Orientation", "value": {"keys": [[0, 90], [10, 100]]}})
        self.assertEqual(self.control("Orientation", 5)["value"], 95)
        for body, text in [({"name": "Orientation", "value": {"keys": []}}, "non-empty"),
                           ({"name": "ResetPosition", "frame": 3}, "button"),
                           ({"name": "SystemFile", "frame": 3}, "cannot be animated"),
                           ({"name": "Gravty", "frame": 3}, "nearest"),
                           ({"name": "Gravity", "frame": 4, "remove": True}, "no key at frame 4"),
                           ({"name": "Gravity", "frame": 99}, "outside")]:
            with self.subTest(body=body):
                path = "/api/set" if "value" in body else "/api/key"
                self.assertIn(text, self.post(path, body, status=400)["error"])

    def test_tidy_save(self):
        p = self.p
        with open(p.flow) as f:
            written = f.read()
        # Untouched: saved as it was written.
        self.assertEqual(p.request("GET", "/api/flow", raw=True)[1].decode(), written)
        self.post("/api/save", {})
        with open(p.flow) as f:
            self.assertEqual(f.read(), written)
        # A drag's fractions are rounded; a control set to its default is not added.
        self.post("/api/set", {"name": "End", "value": [0.5437611209964412, 0.9012345678], "final": True})
        self.post("/api/set", {"name": "Speed", "value": 0.0712345678901})
        self.post("/api/set", {"name": "SlowMotion", "value": 1})
        self.post("/api/key", {"name": "GravityAngle", "frame": 12})
        text = p.request("GET", "/api/flow", raw=True)[1].decode()
        self.post("/api/save", {})
        with open(p.flow) as f:
            saved_text = f.read()
        self.assertEqual(saved_text, text)
        self.assertIsNone(re.search(r"\d\.\d{8}", saved_text), saved_text)
        saved = json.loads(saved_text)
        original = json.loads(written)
        self.assertEqual(list(saved), list(original))
        self.assertEqual(list(saved["controls"]), list(original["controls"]))
        self.assertEqual(saved["controls"]["End"], [0.5438, 0.9012])
        self.assertEqual(saved["controls"]["Speed"], 0.0712346)
        self.assertEqual(saved["controls"]["GravityAngle"], {"keys": [[12, 270]]})
        self.assertEqual(saved["comment"], original["comment"])
        self.assertLess(saved_text.count("\n"), 45)
        for n in (12, 35):
            self.assertEqual(digest(p.render(p.flow, n)), digest(p.frame(n)))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
