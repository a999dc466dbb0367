"""The preview's viewer in headless Chromium: splines edited on the frame, zoom and pan, shortcuts.

Usage: canvas_test.py LUMETS SOURCE_DIR
Exits 77 (skipped) when Chromium, its driver or selenium is not installed.
"""
import json
import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from preview_harness import BrowserCase, require_browser  # noqa: E402

LUMETS, SOURCE = sys.argv[1], sys.argv[2]
require_browser()
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.actions.mouse_button import MouseButton
from selenium.webdriver.common.actions.wheel_input import ScrollOrigin
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys

BIRTH = [[-0.3, 0.2], [0.0, 0.3], [0.3, 0.2]]


def with_splines(flow):
    flow["controls"]["UseBirthSpline"] = 1
    last = {"x": BIRTH[2][0], "y": BIRTH[2][1], "in": [-0.1, 0]}
    flow["controls"]["BirthSpline"] = {"closed": False, "points": BIRTH[:2] + [last]}
    # Path binding stays off: its spline is drawn faint and cannot be edited.
    flow["controls"]["PathPolyline"] = {"points": [[-0.4, -0.3], [0.4, -0.3]]}


class Viewer(BrowserCase):
    @classmethod
    def setUpClass(cls):
        cls.open(LUMETS, SOURCE, edit=with_splines)

    def spline(self, name="BirthSpline"):
        value = self.p.request("GET", "/api/controls")[1]["controls"][name]["value"]
        return value["closed"], [[p["x"], p["y"]] for p in value["points"]]

    def drawn(self, name="BirthSpline"):
        """The frame's box and the centres of a spline's handles, on the screen."""
        return self.driver.execute_script(
            'const f = document.getElementById("frame").getBoundingClientRect();'
            'return [[f.left, f.top, f.width, f.height], Array.from(document.querySelectorAll('
            '`#overlay circle[data-control="${arguments[0]}"]`), (c) => {'
            ' const b = c.getBoundingClientRect(); return [b.left + b.width / 2, b.top + b.height / 2]; })]', name)

    def settled(self, name="BirthSpline"):
        """drawn() once the layout holds still (a new message resizes the viewer)."""
        last = [None]

        def same(d):
            now = self.drawn(name)
            if now == last[0]:
                return now
            last[0] = now
            time.sleep(0.15)
        return self.wait(same)

    def on_screen(self, point, box):
        return [box[0] + (point[0] + 0.5) * box[2], box[1] + (point[1] + 0.5) * box[3]]

    def assert_at_image_positions(self, name="BirthSpline"):
        box, centres = self.drawn(name)
        points = self.spline(name)[1]
        self.assertEqual(len(centres), len(points))
        for point, centre in zip(points, centres):
            for want, got in zip(self.on_screen(point, box), centre):
                self.assertAlmostEqual(want, got, delta=1.0)
        return box

    def pointer(self, x, y):
        actions = ActionChains(self.driver)
        actions.w3c_actions.pointer_action.move_to_location(int(round(x)), int(round(y)))
        return actions

    def test_1_zoom_and_pan_keep_handles_on_the_image(self):
        self.wait(lambda d: len(self.drawn()[1]) == 3)
        fit = self.assert_at_image_positions()
        # The path spline is drawn, faint: its switch is off, so it takes no pointer.
        self.assertEqual(len(self.drawn("PathPolyline")[1]), 2)
        x, y = self.drawn("PathPolyline")[1][0]
        self.assertEqual(self.driver.execute_script(
            "return document.elementFromPoint(arguments[0], arguments[1]).dataset.control || ''", x, y), "")
        viewer = self.driver.find_element(By.ID, "viewer")
        ActionChains(self.driver).scroll_from_origin(ScrollOrigin.from_element(viewer), 0, -300).perform()
        self.wait(lambda d: self.drawn()[0][2] > fit[2] * 1.2)
        zoomed = self.assert_at_image_positions()
        # A middle-button drag pans by as much as the pointer moved.
        cx, cy = self.driver.execute_script(
            'const v = document.getElementById("viewer").getBoundingClientRect();'
            'return [v.left + v.width / 2, v.top + v.height / 2]')
        middle = self.pointer(cx, cy)
        middle.w3c_actions.pointer_action.pointer_down(MouseButton.MIDDLE)
        middle.w3c_actions.pointer_action.move_to_location(int(round(cx)) - 40, int(round(cy)) + 30)
        middle.w3c_actions.pointer_action.pointer_up(MouseButton.MIDDLE)
        middle.perform()
        panned = self.assert_at_image_positions()
        self.assertAlmostEqual(panned[0] - zoomed[0], -40, delta=1.5)
        self.assertAlmostEqual(panned[1] - zoomed[1], 30, delta=1.5)
        # So does a left-button drag with Space held; a Space held to pan does not start playing.
        body = self.driver.find_element(By.TAG_NAME, "body")
        (self.pointer(cx, cy).key_down(Keys.SPACE, body).click_and_hold()
         .move_by_offset(25, -15).release().key_up(Keys.SPACE, body).perform())
        moved = self.assert_at_image_positions()
        self.assertAlmostEqual(moved[0] - panned[0], 25, delta=1.5)
        self.assertEqual(self.driver.find_element(By.ID, "play").text, "Play")
        self.driver.find_element(By.ID, "fit").click()
        self.wait(lambda d: abs(self.drawn()[0][2] - fit[2]) < 0.5)
        self.assert_at_image_positions()

    def test_2_dragged_point_is_saved(self):
        box, centres = self.settled()
        ActionChains(self.driver).move_to_element(self.driver.find_element(
            By.CSS_SELECTOR, '#overlay circle[data-control="BirthSpline"][data-index="1"]')) \
            .click_and_hold().move_by_offset(40, -30).release().perform()
        want = [0.0 + 40 / box[2], 0.3 - 30 / box[3]]
        self.wait(lambda d: abs(self.spline()[1][1][0] - want[0]) < 0.01)
        self.driver.find_element(By.ID, "save").click()
        self.wait(lambda d: "Saved" in d.find_element(By.ID, "messages").text)
        with open(self.p.flow) as f:
            saved = json.load(f)["controls"]["BirthSpline"]
        first, moved, last = [[p["x"], p["y"]] if isinstance(p, dict) else p for p in saved["points"]]
        self.assertEqual((first, last), (BIRTH[0], BIRTH[2]))
        self.assertAlmostEqual(moved[0], want[0], delta=2 / box[2])
        self.assertAlmostEqual(moved[1], want[1], delta=2 / box[3])
        self.assert_at_image_positions()
        # A selected point shows its Bezier handles, which drag too.
        box, centres = self.settled()
        self.pointer(*centres[2]).click().perform()
        self.wait(lambda d: d.find_elements(By.CSS_SELECTOR, '#overlay rect[data-handle="in"]'))
        self.pointer(*self.on_screen([BIRTH[2][0] - 0.1, BIRTH[2][1]], box)).click_and_hold() \
            .move_by_offset(0, 10).pause(0.3).move_by_offset(0, 10).pause(0.3).move_by_offset(0, 10) \
            .release().perform()
        handle = lambda: self.p.request("GET", "/api/controls")[1]["controls"]["BirthSpline"]["value"]["points"][2]["in"]
        self.wait(lambda d: abs(handle()[1] - 30 / box[3]) < 1.5 / box[3])
        self.assertAlmostEqual(handle()[0], -0.1, delta=1.5 / box[2])
        # The whole drag is one edit: one Ctrl+Z puts the handle back.
        ActionChains(self.driver).key_down(Keys.CONTROL).send_keys("z").key_up(Keys.CONTROL).perform()
        self.wait(lambda d: handle() == [-0.1, 0])

    def test_3_point_added_deleted_closed_and_undone(self):
        box, centres = self.settled()
        before = self.spline()[1]
        # A double-click on the line between the first two points puts a point there.
        (a, b) = centres[0], centres[1]
        middle = [(a[0] + b[0]) / 2, (a[1] + b[1]) / 2]
        self.pointer(*middle).double_click().perform()
        self.wait(lambda d: len(self.spline()[1]) == 4)
        added = self.spline()[1][1]
        for want, got in zip(middle, self.on_screen(added, box)):
            self.assertAlmostEqual(want, got, delta=1.5)
        # The new point is selected: Delete removes it.
        self.driver.find_element(By.TAG_NAME, "body").send_keys(Keys.DELETE)
        self.wait(lambda d: len(self.spline()[1]) == 3)
        self.assertNotIn(added, self.spline()[1])
        self.pointer(*self.settled()[1][0]).click().perform()
        self.driver.find_element(By.ID, "spline-closed").click()
        self.wait(lambda d: self.spline()[0] is True)
        self.assertEqual(len(self.drawn()[1]), 3)
        # Ctrl+Z undoes the close, Ctrl+Shift+Z redoes it.
        body = self.driver.find_element(By.TAG_NAME, "body")
        ActionChains(self.driver).key_down(Keys.CONTROL, body).send_keys("z").key_up(Keys.CONTROL).perform()
        self.wait(lambda d: self.spline()[0] is False)
        ActionChains(self.driver).key_down(Keys.CONTROL, body).key_down(Keys.SHIFT).send_keys("z") \
            .key_up(Keys.SHIFT).key_up(Keys.CONTROL).perform()
        self.wait(lambda d: self.spline()[0] is True)
        # Two more undos: the close, then the deletion; Ctrl+Y deletes again.
        for _ in range(2):
            ActionChains(self.driver).key_down(Keys.CONTROL, body).send_keys("z").key_up(Keys.CONTROL).perform()
        self.wait(lambda d: self.spline() == (False, before[:1] + [added] + before[1:]))
        ActionChains(self.driver).key_down(Keys.CONTROL, body).send_keys("y").key_up(Keys.CONTROL).perform()
        self.wait(lambda d: len(self.spline()[1]) == 3)

    def test_4_frame_shortcuts_and_text_fields(self):
        frame = self.driver.find_element(By.ID, "frame-number")
        body = self.driver.find_element(By.TAG_NAME, "body")
        value = lambda: frame.get_attribute("value")
        body.send_keys(Keys.END)
        self.wait(lambda d: value() == "35")
        body.send_keys(Keys.ARROW_LEFT)
        self.wait(lambda d: value() == "34")
        body.send_keys(Keys.HOME)
        self.wait(lambda d: value() == "0")
        body.send_keys(Keys.ARROW_RIGHT)
        self.wait(lambda d: value() == "1")
        # Keys typed into a number field are the field's.
        frame.send_keys(Keys.END)
        self.driver.find_element(By.ID, "save-as-name").send_keys(" ")
        self.assertEqual(value(), "1")
        self.assertEqual(self.driver.find_element(By.ID, "play").text, "Play")
        # A tap of Space plays, another pauses.
        body.send_keys(Keys.SPACE)
        self.wait(lambda d: d.find_element(By.ID, "play").text == "Pause")
        body.send_keys(Keys.SPACE)
        self.wait(lambda d: d.find_element(By.ID, "play").text == "Play")

    def test_5_fit_follows_the_message_area(self):
        self.driver.find_element(By.ID, "fit").click()
        self.driver.execute_script('document.getElementById("clear-messages").click()')
        self.settled()
        boxes = lambda: self.driver.execute_script(
            'return ["frame", "viewer"].map((id) => document.getElementById(id).getBoundingClientRect())')
        before, viewer = boxes()
        for n in range(4):
            self.driver.execute_script("message(arguments[0], 'info')", "note %d" % n)
        self.wait(lambda d: boxes()[1]["height"] < viewer["height"] - 40)
        self.wait(lambda d: boxes()[0]["bottom"] <= boxes()[1]["bottom"] + 0.5)
        self.assertLess(boxes()[0]["height"], before["height"])
        self.assert_at_image_positions()


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
