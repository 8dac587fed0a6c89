"""The viewer page in headless Chromium, against the native Linux build.

The reference of every picture is the native converter's output: `vekconv e`
gives the .vek file, `vekconv d` the restored BMP file, and Pillow reads
that file into the pixels the page must show.

Environment: VEK_WEB (the built package folder), VEK_LINUX_BIN (vekconv),
VEK_TEST_DATA (tests/data); VEK_WEB_SCREENSHOT: where to write a picture of
the page showing a picture.
"""
import io
import os
import shutil
import subprocess
import sys
import time

import numpy
import pytest
from PIL import Image
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

sys.path.insert(0, os.path.dirname(__file__))
from browser import Server, canvas_pixels, start_chromium  # noqa: E402

WEB = os.environ["VEK_WEB"]
VEKCONV = os.path.join(os.environ["VEK_LINUX_BIN"], "vekconv")
SUITE = os.path.join(os.environ["VEK_TEST_DATA"], "bmpsuite", "g")
HELD = ["pal8", "rgb16", "rgb24", "rgb32"]  # 8, 16, 24 and 32 bits, 127 x 64


@pytest.fixture(scope="module")
def pictures(tmp_path_factory):
    """Name -> (BMP path, the native .vek path, the native restored BMP path)."""
    folder = tmp_path_factory.mktemp("pictures")
    for name in HELD:
        shutil.copy(os.path.join(SUITE, name + ".bmp"), folder / (name + ".bmp"))
    # A larger photo-like picture (smooth gradients and noise), of several
    # blocks of the codec.
    y, x = numpy.mgrid[0:900, 0:1203]
    rng = numpy.random.default_rng(27)
    rgb = numpy.stack([(x * 255 // 1202), (y * 255 // 899), ((x + y) % 256)], axis=-1)
    rgb = (rgb + rng.integers(0, 6, rgb.shape)).clip(0, 255).astype(numpy.uint8)
    Image.fromarray(rgb).save(folder / "large.bmp")
    # Flat tiles: the sorted blocks are long runs, which the inverse
    # transform fills eight rows at a time (the code a compiler got wrong).
    tiles = rng.integers(0, 8, (12, 16))
    colours = rng.integers(0, 256, (8, 3))
    Image.fromarray(colours[numpy.kron(tiles, numpy.ones((50, 50), dtype=int))].astype(numpy.uint8)).save(
        folder / "flat.bmp")
    # The README's sample picture, 640 x 480.
    subprocess.run([os.path.join(os.environ["VEK_LINUX_BIN"], "vek_sample"), str(folder / "sample.bmp")], check=True)
    result = {}
    for name in HELD + ["large", "flat", "sample"]:
        bmp = str(folder / (name + ".bmp"))
        vek, restored = str(folder / (name + ".vek")), str(folder / (name + "-native.bmp"))
        subprocess.run([VEKCONV, "e", bmp, vek], check=True, stdout=subprocess.DEVNULL)
        subprocess.run([VEKCONV, "d", vek, restored], check=True, stdout=subprocess.DEVNULL)
        result[name] = (bmp, vek, restored)
    return result


def native_rgba(restored_bmp):
    with Image.open(restored_bmp) as im:
        return im.size, im.convert("RGBA").tobytes()


@pytest.fixture(scope="module")
def page(tmp_path_factory):
    server = Server(WEB)
    driver = start_chromium()
    downloads = tmp_path_factory.mktemp("downloads")
    driver.execute_cdp_cmd("Browser.setDownloadBehavior", {"behavior": "allow", "downloadPath": str(downloads)})
    driver.downloads = downloads
    driver.server = server
    driver.get(server.url + "index.html")
    WebDriverWait(driver, 30).until(lambda d: d.execute_script("return document.body.dataset.ready === 'true'"))
    yield driver
    driver.quit()
    server.close()


def open_file(driver, path):
    """Opens a file through the picker and waits until the page is done:
    returns the message shown ('' when the picture opened)."""
    driver.execute_script("document.getElementById('status').textContent = ''")
    driver.find_element(By.ID, "open").send_keys(str(path))
    return wait_done(driver)


def wait_done(driver):
    WebDriverWait(driver, 120).until(lambda d: d.execute_script(
        "return document.getElementById('progress').hidden &&"
        " (document.getElementById('status').textContent !== '' || !document.getElementById('message').hidden)"))
    return driver.execute_script(
        "const m = document.getElementById('message'); return m.hidden ? '' : m.textContent")


def take_download(driver, button, name):
    target = driver.downloads / name
    if target.exists():
        target.unlink()
    driver.find_element(By.ID, button).click()
    deadline = time.time() + 60
    while time.time() < deadline:
        if target.exists() and not (driver.downloads / (name + ".crdownload")).exists() and target.stat().st_size:
            time.sleep(0.2)
            return target.read_bytes()
        time.sleep(0.1)
    raise AssertionError("no download of " + name)


@pytest.mark.parametrize("name", HELD + ["large", "flat"])
def test_decode_gives_the_native_pixels(page, pictures, name):
    _, vek, restored = pictures[name]
    assert open_file(page, vek) == ""
    width, height, pixels = canvas_pixels(page)
    size, expected = native_rgba(restored)
    assert (width, height) == size
    assert pixels == expected


@pytest.mark.parametrize("name", ["pal8", "rgb24", "large"])
def test_saved_files_match_the_converter(page, pictures, name):
    bmp, vek, restored = pictures[name]
    # A BMP opened and saved as .vek: the converter's encode, byte for byte.
    assert open_file(page, bmp) == ""
    with open(vek, "rb") as f:
        assert take_download(page, "save-vek", name + ".vek") == f.read()
    # A .vek opened and saved as BMP: the converter's decode.
    assert open_file(page, vek) == ""
    with open(restored, "rb") as f:
        assert take_download(page, "save-bmp", name + ".bmp") == f.read()
    # PNG: the canvas's own, with the native pixels.
    with Image.open(io.BytesIO(take_download(page, "save-png", name + ".png"))) as png:
        assert png.convert("RGBA").tobytes() == native_rgba(restored)[1]


def test_refused_files_keep_the_picture(page, pictures, tmp_path):
    _, vek, _ = pictures["rgb24"]
    assert open_file(page, vek) == ""
    before = canvas_pixels(page)
    with open(vek, "rb") as f:
        data = f.read()
    cut = tmp_path / "cut.vek"
    cut.write_bytes(data[: len(data) // 2])
    text = tmp_path / "notes.vek"
    text.write_bytes(b"not a picture at all\n" * 10)
    rle = os.path.join(SUITE, "pal8rle.bmp")
    for path, code, reason in [(cut, "12", "the .vek file is damaged or cut short"),
                               (text, "11", "the input is not a .vek file"),
                               (rle, "6", "compressed BMP pictures are not supported")]:
        message = open_file(page, path)
        assert os.path.basename(path) in message and reason in message
        assert page.execute_script("return document.getElementById('message').dataset.code") == code
        assert canvas_pixels(page) == before
    # The page goes on: the next picture, dropped this time, opens.
    _, other, restored = pictures["pal8"]
    with open(other, "rb") as f:
        payload = list(f.read())
    page.execute_script("""
        const t = new DataTransfer();
        t.items.add(new File([new Uint8Array(arguments[0])], 'dropped.vek'));
        document.getElementById('view').dispatchEvent(new DragEvent('drop', {dataTransfer: t, bubbles: true}));
    """, payload)
    assert wait_done(page) == ""
    width, height, pixels = canvas_pixels(page)
    assert ((width, height), pixels) == native_rgba(restored)


def test_screenshot_at_100_percent_shows_the_native_pixels(page, pictures):
    _, vek, restored = pictures["sample"]
    assert open_file(page, vek) == ""
    size, expected = native_rgba(restored)
    for zoom, shown in [("50", (320, 240)), ("200", (1280, 960)), ("fit", None), ("100", size)]:
        page.find_element(By.CSS_SELECTOR, "input[name=zoom][value='%s']" % zoom).click()
        box = page.execute_script("const c = document.getElementById('picture');"
                                  " const v = document.getElementById('view');"
                                  " return [c.clientWidth, c.clientHeight, v.clientWidth, v.clientHeight]")
        if shown:
            assert tuple(box[:2]) == shown
        else:  # fitted: the whole picture in the view, touching two of its edges
            assert box[0] <= box[2] and box[1] <= box[3] and (box[0] >= box[2] - 1 or box[1] >= box[3] - 1)
    page.execute_script("document.getElementById('view').scrollTo(0, 0)")
    shot = Image.open(io.BytesIO(page.get_screenshot_as_png())).convert("RGBA")
    # The view's client area, without its scroll bars.
    left, top, right, bottom = page.execute_script(
        "const r = document.getElementById('picture').getBoundingClientRect();"
        " const v = document.getElementById('view'); const b = v.getBoundingClientRect();"
        " return [r.left, r.top, b.left + v.clientLeft + v.clientWidth, b.top + v.clientTop + v.clientHeight]")
    assert right - left >= size[0] and bottom - top >= size[1]  # the whole picture is on the screen
    seen = shot.crop((int(left), int(top), int(left) + size[0], int(top) + size[1])).tobytes()
    assert seen == expected
    if os.environ.get("VEK_WEB_SCREENSHOT"):
        shot.save(os.environ["VEK_WEB_SCREENSHOT"])
    # Nothing but the page's own files was asked for.
    origin = page.server.url.rstrip("/")
    names = page.execute_script("return performance.getEntriesByType('resource').map(e => e.name)")
    assert names and all(n.startswith(origin + "/") for n in names)
