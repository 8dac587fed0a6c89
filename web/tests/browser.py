"""Headless Chromium on the web package, for the page tests and the benchmark.

The package folder is served by a static server of this process on
127.0.0.1; Chromium is driven through Debian's chromedriver.
"""
import base64
import functools
import http.server
import threading

from selenium import webdriver
from selenium.webdriver.chrome.service import Service


class Server:
    """Serves `folder` on a free port of 127.0.0.1 and records each path asked for."""

    def __init__(self, folder):
        self.requests = []
        recorder = self

        class Handler(http.server.SimpleHTTPRequestHandler):
            def log_message(self, *args):
                recorder.requests.append(self.path)

        self.httpd = http.server.ThreadingHTTPServer(
            ("127.0.0.1", 0), functools.partial(Handler, directory=folder))
        self.url = "http://127.0.0.1:%d/" % self.httpd.server_address[1]
        self.thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)
        self.thread.start()

    def close(self):
        self.httpd.shutdown()
        self.httpd.server_close()


def start_chromium(width=1000, height=800):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    # As root Chromium runs only without its sandbox. One device pixel per
    # CSS pixel and sRGB output, so that a screenshot shows the canvas's
    # pixels unchanged.
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--force-device-scale-factor=1",
                     "--force-color-profile=srgb", "--window-size=%d,%d" % (width, height)):
        options.add_argument(argument)
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    driver.set_script_timeout(300)
    return driver


# The canvas's pixels as [width, height, base64 of the RGBA bytes].
CANVAS_PIXELS = """
const c = document.getElementById('picture');
const d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
let s = '';
for (let i = 0; i < d.length; i += 0x8000) s += String.fromCharCode.apply(null, d.subarray(i, i + 0x8000));
return [c.width, c.height, btoa(s)];
"""


def canvas_pixels(driver):
    width, height, data = driver.execute_script(CANVAS_PIXELS)
    return width, height, base64.b64decode(data)
