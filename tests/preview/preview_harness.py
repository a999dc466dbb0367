"""Starts `lumets preview` on a flow in a temporary folder and talks to it."""
import hashlib
import http.client
import json
import os
import shutil
import signal
import subprocess
import tempfile
import time
import unittest
import urllib.parse


class Preview:
    def __init__(self, lumets, source_dir, flow="fountain.json", edit=None, args=()):
        lumets = os.path.abspath(lumets)
        self.lumets = lumets
        self.folder = tempfile.mkdtemp(prefix="lumets-preview-test-")
        with open(os.path.join(source_dir, "examples", flow)) as f:
            flow_json = json.load(f)
        if edit:
            edit(flow_json)
        self.flow = os.path.join(self.folder, "flow.json")
        with open(self.flow, "w") as f:
            json.dump(flow_json, f, indent=2)
        self.env = dict(os.environ, TMPDIR=self.folder)
        self.proc = subprocess.Popen([lumets, "preview", self.flow, *args], stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, text=True, env=self.env, cwd=self.folder)
        line = self._first_line(20)
        if not line.startswith("lumets preview: http://127.0.0.1:"):
            self.stop()
            raise RuntimeError("preview did not start: " + line)
        self.url = line.split()[2]
        address = urllib.parse.urlsplit(self.url)
        self.port = address.port
        self.token = urllib.parse.parse_qs(address.query).get("token", [""])[0]

    def _first_line(self, seconds):
        import selectors
        sel = selectors.DefaultSelector()
        sel.register(self.proc.stdout, selectors.EVENT_READ)
        if not sel.select(timeout=seconds):
            return "(no address within %d s)" % seconds
        return self.proc.stdout.readline().strip() or self.proc.stderr.read()

    def request(self, method, path, body=None, headers=None, raw=False, token=True):
        """Sends one request (with the session's token in its header unless token=False)."""
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=60)
        h = {"Host": "127.0.0.1:%d" % self.port}
        if token:
            h["X-Lumets-Token"] = self.token
        data = None
        if body is not None:
            data = json.dumps(body).encode()
            h["Content-Type"] = "application/json"
        h.update(headers or {})
        conn.request(method, path, body=data, headers=h)
        r = conn.getresponse()
        payload = r.read()
        conn.close()
        if raw or r.getheader("Content-Type", "").startswith("image/"):
            return r.status, payload
        return r.status, json.loads(payload) if payload.startswith(b"{") else payload.decode()

    def frame(self, n, **params):
        q = "&".join("%s=%s" % kv for kv in params.items())
        status, png = self.request("GET", "/api/frame/%d.png%s" % (n, "?" + q if q else ""))
        assert status == 200, (status, png)
        return png

    def render(self, flow, frame):
        """The PNG `lumets render --frames N-N` writes for a flow."""
        out = os.path.join(self.folder, "render-####.png")
        subprocess.run([self.lumets, "render", flow, "--frames", "%d-%d" % (frame, frame), "-o", out, "-q"],
                       check=True, timeout=300, env=self.env)
        with open(out.replace("####", "%04d" % frame), "rb") as f:
            return f.read()

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGINT)
            try:
                self.proc.wait(timeout=20)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.stderr = self.proc.stderr.read()
        for stream in (self.proc.stdout, self.proc.stderr):
            stream.close()
        shutil.rmtree(self.folder, ignore_errors=True)
        return self.proc.returncode


def digest(data):
    return hashlib.sha256(data).hexdigest()


def require_browser():
    """Exits 77 (skipped) unless headless Chromium, its driver and selenium are installed."""
    try:
        import selenium.webdriver  # noqa: F401
    except ImportError:
        found = False
    else:
        found = bool(shutil.which("chromium") and shutil.which("chromedriver"))
    if not found:
        print("SKIPPED: headless Chromium needs the Debian packages chromium, chromium-driver and python3-selenium")
        raise SystemExit(77)


class BrowserPage:
    """Headless Chromium with a profile folder of its own, showing a preview's page
    until the page says it is ready. A browser that does not start stops the preview."""

    def __init__(self, preview, seconds=60):
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
        from selenium.webdriver.common.by import By
        from selenium.webdriver.support.ui import WebDriverWait
        self.profile = tempfile.mkdtemp(prefix="lumets-chromium-")
        options = webdriver.ChromeOptions()
        options.binary_location = shutil.which("chromium")
        for arg in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                    "--disable-background-networking", "--disable-component-update", "--disable-sync",
                    "--disable-dev-shm-usage", "--window-size=1400,850", "--user-data-dir=" + self.profile):
            options.add_argument(arg)
        try:
            self.driver = webdriver.Chrome(service=Service(shutil.which("chromedriver")), options=options)
        except Exception:
            preview.stop()
            shutil.rmtree(self.profile, ignore_errors=True)
            raise
        self.driver.set_page_load_timeout(seconds)
        self.driver.set_script_timeout(seconds)
        self.driver.get(preview.url)
        WebDriverWait(self.driver, seconds).until(
            lambda d: d.find_element(By.TAG_NAME, "body").get_attribute("data-ready") == "1")

    def close(self):
        self.driver.quit()
        shutil.rmtree(self.profile, ignore_errors=True)


def retype(field, text, enter=True):
    """Replaces a field's text the way a user does: select all and type, without the
    field losing focus in between. (Selenium's clear() blurs the field, and a refresh
    landing before the typing would put the old value back in front of the new one.)"""
    from selenium.webdriver.common.keys import Keys
    field.send_keys(Keys.CONTROL + "a" + Keys.NULL + text + (Keys.ENTER if enter else ""))


class BrowserCase(unittest.TestCase):
    """A test class with a preview of its own, shown in headless Chromium.
    A subclass's setUpClass calls open(); tearDownClass closes both and fails
    the class if the preview server ended badly."""
    wait_seconds = 30

    @classmethod
    def open(cls, lumets, source, edit=None):
        cls.p = Preview(lumets, source, edit=edit)
        cls.page = BrowserPage(cls.p)
        cls.driver = cls.page.driver

    @classmethod
    def tearDownClass(cls):
        cls.page.close()
        if cls.p.stop() != 0:
            raise AssertionError("the preview server ended badly: " + cls.p.stderr[-2000:])

    @classmethod
    def wait(cls, condition, seconds=None):
        from selenium.webdriver.support.ui import WebDriverWait
        return WebDriverWait(cls.driver, seconds or cls.wait_seconds, poll_frequency=0.1).until(condition)
