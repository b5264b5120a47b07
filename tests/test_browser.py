"""The viewer's page in a real browser: Debian's Chromium, driven by Selenium, headless with
software WebGL and every network fetch refused (a proxy that is not there). One browser
session for the module; the whole module skips with one reason where there is none."""
from __future__ import annotations

import io
import shutil
import time
from pathlib import Path
from typing import Any, Iterator

import numpy as np
import pytest

import vexmora
from chkbuilder import h2

ARGS = ("--headless=new", "--no-sandbox", "--use-angle=swiftshader", "--enable-unsafe-swiftshader",
        "--proxy-server=http://127.0.0.1:9", "--window-size=900,700")


@pytest.fixture(scope="module")
def browser() -> Iterator[Any]:
    pytest.importorskip("plotly")
    pytest.importorskip("PIL")
    webdriver = pytest.importorskip("selenium.webdriver")
    from selenium.webdriver.chrome.service import Service

    chromium, driver = shutil.which("chromium"), shutil.which("chromedriver")
    if not chromium or not driver:
        pytest.skip("no Chromium here (Debian's chromium and chromium-driver): "
                    "scripts/test.sh installs them where apt can")
    options = webdriver.ChromeOptions()
    options.binary_location = chromium
    for a in ARGS:
        options.add_argument(a)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    try:  # the driver's path given: Selenium fetches nothing
        session = webdriver.Chrome(service=Service(driver), options=options)
    except Exception as exc:  # noqa: BLE001 - any failure to start is the one reason to skip
        pytest.skip(f"Chromium would not start: {str(exc).splitlines()[0]}")
    session.set_page_load_timeout(60)
    session.set_script_timeout(30)
    try:
        yield session
    finally:
        session.quit()


def rendered(browser: Any, page: Path, timeout: float = 30.0) -> Any:
    """Open the page; wait until plotly has drawn its 3-D scene (a WebGL canvas)."""
    browser.get(page.as_uri())
    probe = ("return Array.from(document.querySelectorAll('canvas')).some(c => {"
             " const gl = c.getContext('webgl') || c.getContext('webgl2');"
             " return gl !== null && gl.drawingBufferWidth > 0; })")
    end = time.monotonic() + timeout
    while not browser.execute_script(probe):
        assert time.monotonic() < end, "no WebGL canvas on the page"
        time.sleep(0.25)
    time.sleep(1.5)  # the first frames
    return browser


def test_orbital_page_offline(browser: Any, tmp_path: Path) -> None:
    """H2's antibonding orbital: both lobes drawn, blue (+) and red (-), no console error."""
    from PIL import Image

    ckpt = vexmora.load(h2().write(tmp_path / "h2.chk"))
    page = tmp_path / "lumo.html"
    ckpt.write_html(page, "lumo")
    rendered(browser, page)
    errors = [e for e in browser.get_log("browser") if e["level"] == "SEVERE"]
    assert not errors, errors
    assert "WebGL is not supported" not in browser.execute_script("return document.body.innerText")
    shot = np.asarray(Image.open(io.BytesIO(browser.get_screenshot_as_png())).convert("RGB")).astype(int)
    r, g, b = shot[..., 0], shot[..., 1], shot[..., 2]
    blue = ((b > r + 50) & (b > g + 30)).sum()
    red = ((r > g + 50) & (r > b + 50)).sum()
    assert blue > 2000 and red > 2000, (blue, red)
