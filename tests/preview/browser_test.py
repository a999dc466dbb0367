"""The preview page in headless Chromium: control pages, edits, scrubbing, buttons.

Usage: browser_test.py LUMETS SOURCE_DIR ARTEFACT_DIR
Exits 77 (skipped) when Chromium, its driver or selenium is not installed.
"""
import os
import shutil
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from preview_harness import Preview, digest  # noqa: E402

LUMETS, SOURCE, ARTEFACTS = sys.argv[1], sys.argv[2], sys.argv[3]
CHROMIUM, DRIVER = shutil.which("chromium"), shutil.which("chromedriver")
try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError:
    webdriver = None
if not (CHROMIUM and DRIVER and webdriver):
    print("SKIPPED: headless Chromium needs the Debian packages chromium, chromium-driver and python3-selenium")
    sys.exit(77)


class PreviewPage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.p = Preview(LUMETS, SOURCE)
        cls.profile = tempfile.mkdtemp(prefix="lumets-chromium-")
        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for arg in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                    "--disable-background-networking", "--disable-component-update", "--disable-sync",
                    "--disable-dev-shm-usage", "--window-size=1400,850", "--user-data-dir=" + cls.profile):
            options.add_argument(arg)
        try:
            cls.driver = webdriver.Chrome(service=Service(DRIVER), options=options)
        except Exception:
            cls.p.stop()
            shutil.rmtree(cls.profile, ignore_errors=True)
            raise
        cls.driver.set_page_load_timeout(60)
        cls.driver.set_script_timeout(60)
        cls.driver.get(cls.p.url)
        cls.wait(lambda d: d.find_element(By.TAG_NAME, "body").get_attribute("data-ready") == "1")

    @classmethod
    def tearDownClass(cls):
        try:
            os.makedirs(ARTEFACTS, exist_ok=True)
            cls.driver.save_screenshot(os.path.join(ARTEFACTS, "preview.png"))
        finally:
            cls.driver.quit()
            if cls.p.stop() != 0:
                raise AssertionError("the preview server ended badly: " + cls.p.stderr[-2000:])
            shutil.rmtree(cls.profile, ignore_errors=True)

    @classmethod
    def wait(cls, condition, seconds=60):
        return WebDriverWait(cls.driver, seconds, poll_frequency=0.1).until(condition)

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
        field.clear()
        field.send_keys("20", Keys.ENTER)
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


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
