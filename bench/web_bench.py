#!/usr/bin/python3
"""Converts EXPORT in the page in headless Chromium RUNS times and prints, per run, the time from
choosing the file to the open dialog (as WebDriver sees it, and in the page from the input's
change event to the first frame painted with the dialog open), the page's own measure of its run, the module's memory and
the peak resident memory of the page's renderer process.

  web_bench.py SITE/index.html EXPORT RUNS
"""
import json
import os
import sys
import tempfile
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait


WATCH_DIALOG = """
const input = document.getElementById('file');
const dialog = document.getElementById('notice');
input.addEventListener('change', () => {
  const chosen = performance.now();
  new MutationObserver((changes, observer) => {
    if (!dialog.open) return;
    observer.disconnect();
    requestAnimationFrame(() => setTimeout(() => { window.benchShownMs = performance.now() - chosen; }, 0));
  }).observe(dialog, {attributes: true, attributeFilter: ['open']});
}, {capture: true, once: true});
"""


def renderer_peak_kib():
    """The largest peak resident memory among Chromium's renderer processes."""
    peak = 0
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                if b"--type=renderer" not in f.read():
                    continue
            with open("/proc/%s/status" % pid) as f:
                for line in f:
                    if line.startswith("VmHWM:"):
                        peak = max(peak, int(line.split()[1]))
        except OSError:
            pass
    return peak


def main():
    site, export, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
    profile = tempfile.mkdtemp(prefix="ledger-web-bench.")
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for flag in ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update",
                 "--disable-sync", "--disable-dev-shm-usage", "--user-data-dir=" + profile]:
        options.add_argument(flag)
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    try:
        for _ in range(runs):
            driver.get("about:blank")  # a fresh renderer for each run
            driver.get("file://" + os.path.abspath(site))
            time.sleep(1)  # as a user reads the page before choosing
            # In the page's own clock, as WebDriver's round trips would otherwise count: from the
            # input's change event to the first frame painted with the dialog open.
            driver.execute_script(WATCH_DIALOG)
            started = time.monotonic()
            driver.find_element(By.ID, "file").send_keys(os.path.abspath(export))
            WebDriverWait(driver, 600, poll_frequency=0.01).until(
                lambda d: d.execute_script("return window.benchShownMs !== undefined"))
            seen = time.monotonic() - started
            measure = driver.execute_script(
                "const m = performance.getEntriesByName('ledger-run').pop();"
                "return {ms: m.duration, memoryBytes: m.detail.memoryBytes, phaseMs: m.detail.phaseMs,"
                " shownMs: window.benchShownMs,"
                " caption: document.getElementById('notice-caption').textContent};")
            print(json.dumps({"seen_s": round(seen, 3), "page_s": round(measure["ms"] / 1000, 3),
                              "shown_s": round(measure["shownMs"] / 1000, 3),
                              "module_mib": round(measure["memoryBytes"] / 2**20, 1),
                              "renderer_peak_mib": round(renderer_peak_kib() / 1024, 1),
                              "caption": measure["caption"],
                              "phase_ms": {k: round(v) for k, v in (measure["phaseMs"] or {}).items()}}))
    finally:
        driver.quit()


if __name__ == "__main__":
    main()
