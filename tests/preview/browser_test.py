"""The preview page in headless Chromium: control pages, edits, scrubbing, buttons.

Usage: browser_test.py LUMETS SOURCE_DIR ARTEFACT_DIR
Exits 77 (skipped) when Chromium, its driver or selenium is not installed.
"""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from preview_harness import BrowserCase, digest, require_browser, retype  # noqa: E402

LUMETS, SOURCE, ARTEFACTS = sys.argv[1], sys.argv[2], sys.argv[3]
require_browser()
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By


class PreviewPage(BrowserCase):
    wait_seconds = 60

    @classmethod
    def setUpClass(cls):
        cls.open(LUMETS, SOURCE)

    @classmethod
    def tearDownClass(cls):
        try:
            os.makedirs(ARTEFACTS, exist_ok=True)
            cls.driver.save_screenshot(os.path.join(ARTEFACTS, "preview.png"))
        finally:
            super().tearDownClass()

    def shown_frame(self, frame):
        """Waits until the viewer shows the full frame and returns its SHA-256."""
        img = self.driver.find_element(By.ID, "frame")
        self.wait(lambda d: img.get_attribute("data-frame") == str(frame) and
                  img.get_attribute("data-quality") == "full" and img.get_attribute("data-sha256"))
        return img.get_attribute("data-sha256")

    def control(self, name):
        return self.driver.find_element(By.CSS_SELECTOR, '.control[data-control="%s"]' % name)

    def open_page(self, title):
        self.driver.find_element(By.XPATH, '//nav[@id="tabs"]/button[text()="%s"]' % title).click()

    def test_1_every_control_page(self):
        pages = self.p.request("GET", "/api/controls")[1]["description"]["pages"]
        tabs = [b.text for b in self.driver.find_elements(By.CSS_SELECTOR, "#tabs button")]
        self.assertEqual(tabs, [p["name"] for p in pages])
        for page in pages:
            members = [i["member"][2:] for i in page["inputs"] if i["member"]]
            shown = [e.get_attribute("data-control") for e in self.driver.find_elements(
                By.CSS_SELECTOR, '.page[data-page="%s"] .control' % page["name"])]
            self.assertEqual(shown, members)

    def test_2_slider_edit_and_saved_flow_renders_the_same(self):
        before = self.shown_frame(0)
        slider = self.control("Birthrate").find_element(By.CSS_SELECTOR, "input[type=range]")
        ActionChains(self.driver).click_and_hold(slider).move_by_offset(15, 0).release().perform()
        self.wait(lambda d: self.driver.find_element(By.ID, "frame").get_attribute("data-sha256") not in ("", before))
        shown = self.shown_frame(0)
        self.assertNotEqual(shown, before)
        self.driver.find_element(By.ID, "save").click()
        self.wait(lambda d: "Saved" in d.find_element(By.ID, "messages").text)
        self.assertEqual(digest(self.p.render(self.p.flow, 0)), shown)

    def test_3_scrub_to_a_frame(self):
        field = self.driver.find_element(By.ID, "frame-number")
        retype(field, "20")
        shown = self.shown_frame(20)
        self.driver.find_element(By.ID, "save").click()  # the flow as the page has it
        self.wait(lambda d: d.find_element(By.ID, "messages").text.count("Saved") >= 1)
        self.assertEqual(digest(self.p.render(self.p.flow, 20)), shown)

    def test_4_point_dragged_on_the_viewer(self):
        x = self.control("Start").find_elements(By.CSS_SELECTOR, "input")[0]
        old = x.get_attribute("value")
        handle = self.driver.find_element(By.CSS_SELECTOR, '#overlay circle[data-control="Start"]')
        ActionChains(self.driver).click_and_hold(handle).move_by_offset(-80, -40).release().perform()
        self.wait(lambda d: x.get_attribute("value") != old)
        self.assertLess(float(x.get_attribute("value")), float(old))

    def test_5_curve_point_added_on_the_editor(self):
        self.open_page("Color")
        before = self.driver.find_element(By.ID, "frame").get_attribute("data-sha256")
        canvas = self.control("RedSpline").find_element(By.TAG_NAME, "canvas")
        ActionChains(self.driver).move_to_element(canvas).click().perform()
        points = lambda: self.p.request("GET", "/api/controls")[1]["controls"]["RedSpline"]["flow"]["points"]
        self.wait(lambda d: len(points()) == 3)
        self.assertAlmostEqual(points()[1][0], 0.5, delta=0.05)
        self.wait(lambda d: d.find_element(By.ID, "frame").get_attribute("data-sha256") not in ("", before))

    def test_6_button_shows_the_tools_message(self):
        self.open_page("Load/Save")
        self.driver.find_element(By.CSS_SELECTOR, 'button[data-press="RecordNow"]').click()
        self.wait(lambda d: "Warning: No Save File Specified!" in d.find_element(By.ID, "messages").text)
        # The page's advice follows the message's kind.
        hint = self.driver.find_element(By.CSS_SELECTOR, "#messages .msgbox .hint").text
        self.assertIn("Choose the file first", hint)

    # --- what the page adds around the tool's own texts ---

    def check(self, name, on):
        box = self.control(name).find_element(By.CSS_SELECTOR, "input[type=checkbox]")
        if box.is_selected() != on:
            box.click()
        self.wait(lambda d: self.p.request("GET", "/api/controls")[1]["controls"][name]["value"] == (1 if on else 0))

    def handles(self):
        # Read in one go: the overlay is drawn anew after every change.
        return self.driver.execute_script(
            'return Array.from(document.querySelectorAll("#overlay circle"), (c) => c.dataset.control)')

    def test_7_handles_follow_their_switches(self):
        self.open_page("Modifiers")
        # The fountain leaves both attractors off: their points are no handles.
        self.wait(lambda d: "Bounce2Start" in self.handles())
        self.assertNotIn("Attractor1", self.handles())
        self.assertNotIn("Attractor2", self.handles())
        self.check("Attractor1Enable", True)
        self.check("Attractor2Enable", True)
        self.wait(lambda d: {"Attractor1", "Attractor2"} <= set(self.handles()))
        # Both sit in the middle: their labels are stacked, not drawn over each other.
        a, b = self.driver.execute_script('return ["Attractor1", "Attractor2"].map((n) => document.querySelector('
                                          '`#overlay text[data-control="${n}"]`).getBoundingClientRect())')
        self.assertTrue(a["bottom"] <= b["top"] or b["bottom"] <= a["top"], (a, b))
        self.check("Attractor2Enable", False)
        self.wait(lambda d: "Attractor2" not in self.handles())
        self.check("Attractor1Enable", False)
        self.wait(lambda d: "Attractor1" not in self.handles())

    def test_8_load_save_page_context(self):
        self.open_page("Load/Save")
        page = self.driver.find_element(By.CSS_SELECTOR, '.page[data-page="Load/Save"]')
        # Each "Start Frame" / "Last Frame" pair under a heading of its own.
        for first, heading in (("RecordStartFrame", "Recording range"), ("LoadStartFrame", "Playback range")):
            above = self.driver.execute_script("return arguments[0].previousElementSibling.textContent",
                                               self.control(first))
            self.assertEqual(above, heading)
        # Only the buttons that open a file dialog take a file; "Record now" says which file it writes.
        fields = [e.get_attribute("data-file") for e in page.find_elements(By.CSS_SELECTOR, "input[data-file]")]
        self.assertEqual(fields, ["SaveFile", "LoadSystem"])
        after = self.driver.execute_script("return arguments[0].nextElementSibling.textContent",
                                           self.control("RecordNow"))
        self.assertIn("Save MotionData under...", after)
        # The birth image warning shows only while "Apply Birthimage on all" is on.
        warning = page.find_element(By.XPATH, './/*[contains(text(), "Warning: Birthimage will be applied on all !")]')
        self.assertFalse(warning.is_displayed())
        self.open_page("Setup")
        self.check("ApplyBirthImage", True)
        self.open_page("Load/Save")
        self.wait(lambda d: warning.is_displayed())
        self.open_page("Setup")
        self.check("ApplyBirthImage", False)
        self.open_page("Load/Save")
        self.wait(lambda d: not warning.is_displayed())

    def test_9a_messages_can_be_dismissed(self):
        self.open_page("Load/Save")
        self.driver.find_element(By.ID, "clear-messages").click()
        boxes = lambda: self.driver.find_elements(By.CSS_SELECTOR, "#messages .msgbox")
        self.wait(lambda d: not boxes())
        record = self.driver.find_element(By.CSS_SELECTOR, 'button[data-press="RecordNow"]')
        record.click()
        self.wait(lambda d: len(boxes()) == 1)
        record.click()
        # The same message again counts up on its box, which says where the file is chosen.
        self.wait(lambda d: "\u00d72" in boxes()[0].text)
        self.assertEqual(len(boxes()), 1)
        self.assertIn("Save MotionData under...", boxes()[0].text)
        self.driver.find_element(By.ID, "save").click()
        self.wait(lambda d: len(boxes()) == 2)
        boxes()[0].find_element(By.CSS_SELECTOR, "button.dismiss").click()
        self.assertEqual([b.get_attribute("data-text") for b in boxes()], ["Warning: No Save File Specified!"])
        self.driver.find_element(By.ID, "clear-messages").click()
        self.assertEqual(boxes(), [])
        self.assertFalse(self.driver.find_element(By.ID, "clear-messages").is_displayed())

    def test_9b_loaded_system_notice(self):
        # A short recording to load, made through the interface.
        for path, body in (("/api/set", {"name": "RecordLastFrame", "value": 3, "frame": 0}),
                           ("/api/press", {"name": "SaveFile", "file": "drops.lpd", "frame": 0})):
            self.assertEqual(self.p.request("POST", path, body)[0], 200)
        status, answer = self.p.request("POST", "/api/press", {"name": "RecordNow", "frame": 0})
        self.assertEqual((status, answer.get("error")), (200, None))
        self.open_page("Load/Save")
        notice = self.control("LoadedNotice")
        self.assertFalse(notice.is_displayed())
        self.driver.find_element(By.CSS_SELECTOR, 'input[data-file="LoadSystem"]').send_keys("drops.lpd")
        self.driver.find_element(By.CSS_SELECTOR, 'button[data-press="LoadSystem"]').click()
        self.wait(lambda d: notice.is_displayed())
        self.assertEqual(notice.text.strip(), "System is Loaded !")
        self.driver.find_element(By.CSS_SELECTOR, 'button[data-press="UnloadSystem"]').click()
        self.wait(lambda d: not notice.is_displayed())


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
