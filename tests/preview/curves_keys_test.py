"""The preview page's curve editor and timeline keys in headless Chromium.

Usage: curves_keys_test.py LUMETS SOURCE_DIR
Exits 77 (skipped) when Chromium, its driver or selenium is not installed.
"""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from preview_harness import BrowserCase, require_browser, retype  # noqa: E402

LUMETS, SOURCE = sys.argv[1], sys.argv[2]
require_browser()
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys


def tabulate(points, n=1024):
    """A curve's table as the session makes it from points."""
    def at(x):
        if x <= points[0][0]:
            return points[0][1]
        if x >= points[-1][0]:
            return points[-1][1]
        (x0, y0), (x1, y1) = next((a, b) for a, b in zip(points, points[1:]) if b[0] >= x)
        return y0 + (y1 - y0) * (x - x0) / (x1 - x0)
    return [int(at(i / (n - 1)) * 65535 + 0.5) for i in range(n)]


CORNERS = [[0, 0], [0.2, 0.9], [0.6, 0.1], [1, 0.5]]
TABLE = tabulate(CORNERS)


class CurvesAndKeys(BrowserCase):
    @classmethod
    def setUpClass(cls):
        cls.open(LUMETS, SOURCE, edit=lambda flow: flow["controls"].update(StrictDeviation={"table": TABLE}))

    def flow_controls(self):
        status, flow = self.p.request("GET", "/api/flow")
        self.assertEqual(status, 200, flow)
        return flow["controls"]

    def value_at(self, name, frame):
        return self.p.request("GET", "/api/controls?frame=%d" % frame)[1]["controls"][name]["value"]

    def control(self, name):
        return self.driver.find_element(By.CSS_SELECTOR, '.control[data-control="%s"]' % name)

    def open_page(self, title):
        self.driver.find_element(By.XPATH, '//nav[@id="tabs"]/button[text()="%s"]' % title).click()

    def go_to(self, frame):
        field = self.driver.find_element(By.ID, "frame-number")
        retype(field, str(frame))
        self.wait(lambda d: d.find_element(By.ID, "frame").get_attribute("data-frame") == str(frame))

    def undo(self, what):
        status, reply = self.p.request("POST", "/api/undo", {})
        self.assertEqual((status, reply.get("done")), (200, True), (what, reply))

    def test_1_curve_point_dragged_and_typed(self):
        self.open_page("Behavior")
        editor = self.control("MergeSpline")
        canvas = editor.find_element(By.TAG_NAME, "canvas")
        # The curve drawn is the table the tool reads: every entry, flat beyond the end points.
        table = self.value_at("MergeSpline", 0)["table"]
        drawn = self.driver.execute_script(
            "const pts = arguments[0]; return Array.from({length: 1024}, (_, i) => curveAt(pts, i / 1023));",
            [[0, 1], [0.7, 0.8], [1, 0]])
        self.assertLess(max(abs(d - t / 65535) for d, t in zip(drawn, table)), 1 / 65535)
        self.assertIn("100% \u2192 93% \u2192 86% \u2192 67% \u2192 0%", editor.text)
        # Drag the middle point (0.7, 0.8) left and down: the flow holds it, in order.
        w, h = canvas.size["width"], canvas.size["height"]
        pad = 6 * w / int(canvas.get_attribute("width"))
        at = lambda x, y: (pad + x * (w - 2 * pad) - w / 2, h - pad - y * (h - 2 * pad) - h / 2)
        ActionChains(self.driver).move_to_element_with_offset(canvas, *at(0.7, 0.8)).click_and_hold() \
            .move_to_element_with_offset(canvas, *at(0.4, 0.5)).release().perform()
        points = lambda: self.flow_controls()["MergeSpline"]["points"]
        self.wait(lambda d: points()[1][0] < 0.6)
        self.assertEqual(len(points()), 3)
        self.assertAlmostEqual(points()[1][0], 0.4, delta=0.03)
        self.assertAlmostEqual(points()[1][1], 0.5, delta=0.03)
        # Typed x past the next point stays before it.
        x, y = editor.find_elements(By.CSS_SELECTOR, "input[type=number]")[:2]
        retype(y, "0.25")
        self.wait(lambda d: points()[1][1] == 0.25)
        retype(x, "2")
        self.wait(lambda d: points()[1][0] > 0.9)
        self.assertLess(points()[1][0], 1)
        # Untouched curves stay out of the flow.
        self.assertNotIn("GrowSpline", self.flow_controls())
        self.assertNotIn("BlurSpline", self.flow_controls())
        self.undo("typed x")
        self.undo("typed y")
        self.undo("dragged point")
        self.assertEqual(points(), [[0, 1], [0.7, 0.8], [1, 0]])

    def test_1b_table_curve_keeps_its_shape_when_edited(self):
        self.open_page("Path")
        editor = self.control("StrictDeviation")
        canvas = editor.find_element(By.TAG_NAME, "canvas")
        w, h = canvas.size["width"], canvas.size["height"]
        pad = 6 * w / int(canvas.get_attribute("width"))
        ActionChains(self.driver).move_to_element_with_offset(canvas, w / 2 - pad, -h / 2 + pad + 0.5 * (h - 2 * pad)) \
            .click().perform()  # the last point, (1, 0.5)
        y = editor.find_elements(By.CSS_SELECTOR, "input[type=number]")[1]
        self.wait(lambda d: abs(float(y.get_attribute("value") or 9) - 0.5) < 0.003)
        retype(y, "0.75")
        curve = lambda: self.flow_controls()["StrictDeviation"]
        self.wait(lambda d: "points" in curve())
        got = curve()["points"]
        self.assertEqual(len(got), len(CORNERS), got)
        for (x, y), (cx, cy) in zip(got, CORNERS[:-1] + [[1, 0.75]]):
            self.assertAlmostEqual(x, cx, delta=0.003)
            self.assertAlmostEqual(y, cy, delta=0.003)
        self.undo("typed y")
        self.assertEqual(curve(), {"table": TABLE})

    def test_2_keys_set_interpolated_moved_removed(self):
        self.open_page("Setup")
        button = self.driver.find_element(By.CSS_SELECTOR, 'button[data-key-for="Birthrate"]')
        field = self.driver.find_element(By.CSS_SELECTOR, '.control[data-control="Birthrate"] input[type=number]')
        self.go_to(0)
        button.click()
        keys = lambda: self.flow_controls()["Birthrate"].get("keys") if isinstance(
            self.flow_controls()["Birthrate"], dict) else None
        self.wait(lambda d: keys() == [[0, 12]])
        self.go_to(20)
        retype(field, "32")
        self.wait(lambda d: keys() == [[0, 12], [20, 32]])
        # Between the keys the field shows the value the flow gives there.
        self.go_to(10)
        self.wait(lambda d: field.get_attribute("value") == "22")
        self.assertEqual(self.value_at("Birthrate", 10), 22)
        # K keys the focused control at the current frame.
        lifetime = self.driver.find_element(By.CSS_SELECTOR, '.control[data-control="Lifetime"] input[type=number]')
        lifetime.click()
        lifetime.send_keys("k")
        self.wait(lambda d: isinstance(self.flow_controls()["Lifetime"], dict))
        self.assertEqual(self.flow_controls()["Lifetime"], {"keys": [[10, 60]]})
        # Birthrate's marks: drag the one at 20 to about 30, then right-click the one at 0.
        field.click()
        marks = lambda: self.driver.find_elements(By.CSS_SELECTOR, "#key-track .key-mark")
        self.wait(lambda d: [m.get_attribute("data-frame") for m in marks()] == ["0", "20"])
        track = self.driver.find_element(By.ID, "scrub").size["width"] - 16
        ActionChains(self.driver).click_and_hold(marks()[1]).move_by_offset(track * 10 / 35, 0).release().perform()
        self.wait(lambda d: len(keys()) == 2 and keys()[1][0] != 20)
        self.assertAlmostEqual(keys()[1][0], 30, delta=1)
        self.assertEqual(keys()[1][1], 32)
        moved = keys()
        ActionChains(self.driver).context_click(marks()[0]).perform()
        self.wait(lambda d: keys() == moved[1:])
        self.undo("key removed")
        self.assertEqual(keys(), moved)
        self.undo("key moved")
        self.assertEqual(keys(), [[0, 12], [20, 32]])
        self.undo("Lifetime keyed")
        self.assertEqual(self.flow_controls()["Lifetime"], 60)

    def test_3_typed_value_survives_a_refresh(self):
        self.open_page("Forces")
        field = self.driver.find_element(By.CSS_SELECTOR, '.control[data-control="Speed"] input[type=number]')
        retype(field, "0.07", enter=False)
        self.driver.execute_async_script("refreshState().then(arguments[0])")
        self.assertEqual(field.get_attribute("value"), "0.07")
        field.send_keys(Keys.ENTER)
        self.wait(lambda d: self.flow_controls()["Speed"] == 0.07)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
