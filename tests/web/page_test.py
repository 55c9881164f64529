#!/usr/bin/python3
"""Works the built page in headless Chromium, from file:// and from a server on 127.0.0.1, and
compares every outcome with ledger-convert's on the same export.

  page_test.py --site SITE/index.html --convert LEDGER_CONVERT --example Ledger.txt
               --dialog-ui convert_window.ui --axe axe.min.js

Exits 77 (skipped) when the site or axe-core is missing, unless LEDGER_WEB_REQUIRED is set.
"""
import argparse
import base64
import datetime
import functools
import http.server
import io
import json
import os
import re
import shutil
import subprocess
import struct
import sys
import tempfile
import threading
import time
import unittest
import xml.etree.ElementTree as ElementTree
import zipfile
import zoneinfo

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.common.exceptions import TimeoutException
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import WebDriverWait

ARGS = None
NAMES = ["PVERSION.DAT", "CPERW.DAT", "APERW.DAT"]
SUCCESS_CAPTION = "Convert Ledger Files"
# What the page's dialog says after a completed run in place of the import sentence, and under
# the reason a file is no export.
SAVE_FIRST = ("Now save the files below, with “Download all” or one by one, into the folder from"
              " which your ledger program imports.")
EXPORT_AGAIN = ("Please export it again from the web program, and choose that file here without"
                " opening it in another program first.")
# What the page says after "Download all", before the import sentence.
UNPACK = ("Unpack ledger-import.zip into the folder from which your ledger program imports,"
          " replacing the files there.")
OFFLINE = "It works offline once opened, and it can be installed as an app."
# The browser's time zone: far from UTC and off by a quarter hour, so that the archive's dates
# tell local time from UTC.
TIME_ZONE = "Asia/Kathmandu"
NOT_THE_HEADER = 'line 1 is not "LedgerExport"'


def native_run(export_bytes, work, earlier=None):
    """Converts export_bytes with ledger-convert in a fresh folder under `work`, holding the
    files of `earlier` ({name: bytes}) first: returns (completed, caption, text, {name: bytes},
    reason), reason the one the command gives for a file that is no export, else None."""
    folder = tempfile.mkdtemp(dir=work)
    for name, data in (earlier or {}).items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
    path = os.path.join(folder, "Ledger.txt")
    with open(path, "wb") as f:
        f.write(export_bytes)
    done = subprocess.run([ARGS.convert, path], capture_output=True)
    if done.returncode == 0:
        files = {}
        for name in NAMES:
            with open(os.path.join(folder, name), "rb") as f:
                files[name] = f.read()
        return True, SUCCESS_CAPTION, done.stdout.decode().rstrip("\n"), files, None
    line = done.stderr.decode().rstrip("\n")
    # A file that is no export has the reason in a line of its own, "PATH:1: REASON".
    reason = re.search(r"\n" + re.escape(path) + r":1: ([^\n]*)$", line)
    if reason:
        line = line[:reason.start()]
    match = re.fullmatch(r"ledger-convert: ([^:]+): (.*)", line, re.S)
    assert match, line
    return False, match.group(1), match.group(2), {}, reason and reason.group(1)


class Server(http.server.ThreadingHTTPServer):
    """Serves the site's folder and records every path asked for."""

    def __init__(self, folder):
        self.paths = []
        handler = functools.partial(Handler, directory=folder)
        super().__init__(("127.0.0.1", 0), handler)


class Handler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        self.server.paths.append(self.path)


class PageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="ledger-web-test.")
        cls.server = Server(os.path.dirname(ARGS.site))
        threading.Thread(target=cls.server.serve_forever, daemon=True).start()
        options = webdriver.ChromeOptions()
        options.binary_location = "/usr/bin/chromium"
        for flag in ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                     "--no-first-run", "--disable-background-networking",
                     "--disable-component-update", "--disable-sync",
                     "--disable-dev-shm-usage", "--window-size=1000,900", "--lang=en-US",
                     "--user-data-dir=" + os.path.join(cls.work, "profile")]:
            options.add_argument(flag)
        options.set_capability("goog:loggingPrefs", {"performance": "ALL"})
        service = Service("/usr/bin/chromedriver", env=dict(os.environ, TZ=TIME_ZONE))
        cls.driver = webdriver.Chrome(service=service, options=options)
        cls.driver.set_script_timeout(120)
        with open(ARGS.axe, encoding="utf-8") as f:
            cls.axe = f.read()
        tree = ElementTree.parse(ARGS.dialog_ui)
        cls.paragraphs = [tree.find(".//object[@id='%s']/property[@name='label']" % name).text
                          for name in ("purpose_text", "before_text")]

    @classmethod
    def tearDownClass(cls):
        cls.driver.quit()
        cls.server.shutdown()
        cls.server.server_close()
        shutil.rmtree(cls.work, ignore_errors=True)

    def origins(self):
        http_url = "http://127.0.0.1:%d/" % self.server.server_address[1]
        return [("file", "file://" + ARGS.site, "file://"), ("http", http_url, http_url)]

    def open(self, url):
        self.driver.get_log("performance")  # forget the requests and messages of earlier pages
        self.driver.get_log("browser")
        self.opened_at = int(time.time())
        self.driver.get(url)
        WebDriverWait(self.driver, 10).until(
            lambda d: d.execute_script("return document.readyState") == "complete")

    def choose(self, path):
        self.driver.find_element(By.ID, "file").send_keys(path)

    def write_export(self, name, data):
        path = os.path.join(self.work, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def wait_dialog(self, timeout=60):
        WebDriverWait(self.driver, timeout).until(
            lambda d: d.execute_script("return document.getElementById('notice').open"))
        return self.driver.execute_script("""
            const body = document.getElementById('notice-body');
            return {caption: document.getElementById('notice-caption').textContent,
                    paragraphs: Array.from(body.children, (p) => p.textContent),
                    focused: document.activeElement.id,
                    warning: !document.getElementById('icon-warning').hidden,
                    information: !document.getElementById('icon-information').hidden};""")

    def close_dialog(self, key=Keys.ESCAPE, focused="choose"):
        """Closes the dialog; the focus goes to `focused`: the main button, or after a completed
        run "download-all"."""
        self.driver.switch_to.active_element.send_keys(key)
        WebDriverWait(self.driver, 5).until(
            lambda d: not d.execute_script("return document.getElementById('notice').open"))
        # The dialog's close event, which moves the focus, comes in a task of its own.
        try:
            WebDriverWait(self.driver, 5).until(
                lambda d: d.execute_script("return document.activeElement.id") == focused)
        except TimeoutException:
            pass
        self.assertEqual(self.driver.switch_to.active_element.get_attribute("id"), focused)

    def import_text(self):
        return self.driver.find_element(By.ID, "import-next").text

    def offered_links(self):
        return self.driver.execute_script(
            "return Array.from(document.querySelectorAll('#links a[download]'),"
            " (a) => [a.getAttribute('download'), a.textContent]);")

    def download_archive(self):
        """Downloads ledger-import.zip with "Download all": returns {name: bytes} of its members,
        after checking that they are stored at its root, dated at the conversion's moment: in
        local time in the DOS fields, in UTC seconds in the extended timestamp of each local
        header and central directory entry."""
        folder = tempfile.mkdtemp(dir=self.work)
        self.driver.execute_cdp_cmd("Browser.setDownloadBehavior",
                                    {"behavior": "allow", "downloadPath": folder})
        link = self.driver.find_element(By.ID, "download-all")
        self.assertEqual(link.get_attribute("download"), "ledger-import.zip")
        path = os.path.join(folder, "ledger-import.zip")
        def wait(seconds, done):
            deadline = time.time() + seconds
            while time.time() < deadline and not done():
                time.sleep(0.1)
            return done()

        for _ in range(2):  # a click that starts no download is made once more, as below
            link.click()
            # The browser may lay down the archive's name empty before its .crdownload file, and
            # fill it only when the download ends.
            if wait(15, lambda: os.listdir(folder)):
                wait(30, lambda: os.listdir(folder) == ["ledger-import.zip"])
                break
        self.assertEqual(os.listdir(folder), ["ledger-import.zip"])
        with open(path, "rb") as f:
            data = f.read()
        with zipfile.ZipFile(io.BytesIO(data)) as archive:
            self.assertIsNone(archive.testzip())
            infos = archive.infolist()
            self.assertEqual([i.filename for i in infos], NAMES)
            stamps = set()
            for info in infos:
                self.assertEqual(info.compress_type, zipfile.ZIP_STORED)
                name_length, extra_length = struct.unpack_from("<HH", data, info.header_offset + 26)
                local_extra = data[info.header_offset + 30 + name_length:][:extra_length]
                self.assertEqual((len(info.extra), local_extra), (9, info.extra), info.filename)
                header_id, size, flags, seconds = struct.unpack("<HHBI", info.extra)
                self.assertEqual((header_id, size, flags), (0x5455, 5, 1), info.filename)
                stamps.add((info.date_time, seconds))
            files = {info.filename: archive.read(info) for info in infos}
        # One moment for all: the conversion's, after the page opened and before now.
        [(date_time, seconds)] = stamps
        self.assertTrue(self.opened_at <= seconds <= time.time(), (self.opened_at, seconds))
        # The DOS fields are that moment in the browser's local time, to the even second.
        local = datetime.datetime.fromtimestamp(seconds, zoneinfo.ZoneInfo(TIME_ZONE))
        self.assertEqual(date_time, local.timetuple()[:5] + (local.second & ~1,))
        return files

    def download_all(self, before_last=None):
        """Clicks the three single links; calls before_last() before the last one."""
        folder = tempfile.mkdtemp(dir=self.work)
        self.driver.execute_cdp_cmd("Browser.setDownloadBehavior",
                                    {"behavior": "allow", "downloadPath": folder})
        links = {link.get_attribute("download"): link
                 for link in self.driver.find_elements(By.CSS_SELECTOR, "#links a[download]")}
        self.assertEqual(sorted(links), sorted(NAMES))
        # Now and then headless Chromium starts no download for one click of several: a file
        # that has neither come nor begun to come after a while is clicked for once more.
        def arrived(seconds):
            deadline = time.time() + seconds
            while time.time() < deadline:
                if sorted(os.listdir(folder)) == sorted(NAMES):
                    return True
                time.sleep(0.1)
            return False

        for n, link in enumerate(links.values()):
            if n == len(links) - 1 and before_last:
                before_last()
            link.click()
        if not arrived(10) and not any(p.endswith(".crdownload") for p in os.listdir(folder)):
            for name in NAMES:
                if not os.path.exists(os.path.join(folder, name)):
                    links[name].click()
        arrived(30)
        self.assertEqual(sorted(os.listdir(folder)), sorted(NAMES))
        files = {}
        for name in NAMES:
            with open(os.path.join(folder, name), "rb") as f:
                files[name] = f.read()
        return files

    def assert_same_origin(self, origin):
        for entry in self.driver.get_log("performance"):
            message = json.loads(entry["message"])["message"]
            if message["method"] == "Network.requestWillBeSent":
                url = message["params"]["request"]["url"]
                self.assertTrue(url.startswith((origin, "blob:", "data:")), url)

    def assert_no_console_errors(self):
        """No error reached the console of the page or of its worker since the page opened."""
        errors = [entry["message"] for entry in self.driver.get_log("browser")
                  if entry["level"] == "SEVERE"]
        self.assertEqual(errors, [])

    def check_run(self, name, export_bytes, reason=None, archive=False):
        """Converts export_bytes in the page and checks notice, offer and bytes against the
        command: for a file that is no export, the reason it gives is `reason`; with `archive`,
        "Download all" saves first."""
        completed, caption, text, files, native_reason = native_run(export_bytes, self.work)
        self.assertEqual(native_reason, reason, name)
        self.choose(self.write_export(name, export_bytes))
        shown = self.wait_dialog()
        self.assertEqual(shown["caption"], caption, name)
        paragraphs = text.split("\n\n")
        if completed:
            # Saving comes first: the import sentence waits until the files are saved.
            self.assertEqual(paragraphs[0], "File successfully converted.", name)
            self.assertEqual(shown["paragraphs"], [paragraphs[0], SAVE_FIRST], name)
        elif reason:
            self.assertEqual(shown["paragraphs"], paragraphs + [name + ": " + reason + ".", EXPORT_AGAIN], name)
        else:
            self.assertEqual(shown["paragraphs"], paragraphs, name)
        self.assertEqual(shown["focused"], "ok", name)
        self.close_dialog(focused="download-all" if completed else "choose")
        if completed:
            self.assertLessEqual(*self.driver.execute_script(
                "const root = document.documentElement; return [root.scrollWidth, root.clientWidth];"),
                "%s: the page scrolls sideways" % name)
            self.assertEqual(sorted(self.offered_links()), sorted([n, n] for n in NAMES), name)
            self.assertEqual(self.import_text(), "", name)
            if archive:
                self.assertEqual(self.download_archive(), files, name)
                self.assertEqual(self.import_text(), " ".join([UNPACK] + paragraphs[1:]), name)
            downloaded = self.download_all(
                None if archive else lambda: self.assertEqual(self.import_text(), "", name))
            self.assertEqual(self.import_text(), " ".join(paragraphs[1:]), name)
            for file_name in NAMES:
                self.assertTrue(downloaded[file_name] == files[file_name],
                                "%s: %s differs from the command's" % (name, file_name))
        else:
            self.assertEqual(self.offered_links(), [], name)
            self.assertFalse(self.driver.find_element(By.ID, "results").is_displayed(), name)
        self.assertEqual(self.driver.find_element(By.ID, "preview").is_displayed(), completed, name)

    def test_page_converts_like_the_command(self):
        with open(ARGS.example, "rb") as f:
            example = f.read()
        # Each file that is no export, with the reason that the command and the page give.
        edge_exports = [
            ("empty", b"", "the file is empty"),
            ("Ctrl-Z first", b"\x1aLedgerExport\r\n", "the file is empty"),
            ("saved by Notepad as UTF-8", "\ufeffLedgerExport\r\n".encode(),
             "the file begins with a UTF-8 byte-order mark"),
            ("saved as Unicode", "\ufeffLedgerExport\r\n".encode("utf-16-le"), "the file is UTF-16 text"),
            ("saved as big-endian Unicode", "\ufeffLedgerExport\r\n".encode("utf-16-be"),
             "the file is UTF-16 text"),
            ("header without its line end", b"LedgerExport", "line 1 ends without a line feed"),
            ("header then Ctrl-Z", b"LedgerExport\x1a\r\n", "line 1 ends without a line feed"),
            ("not an export", b"Name\tFirst\r\nSmith\tAnn\r\n", NOT_THE_HEADER),
            ("binary", bytes(range(256)) * 4, NOT_THE_HEADER),
            ("header only", b"LedgerExport\r\n"),
            ("LF ends, mixed case section, Ctrl-Z", b"LedgerExport\nscouts\nS1\tA\nADULTS\nA1\tB"
             b"\t\t\t\t\t\t\t\t\t\t\t\t\tYes\n\x1aS9\tlost\n"),
            ("long fields and a NUL", b"LedgerExport\r\nS1\t" + b"x" * 500 + b"\tab\0cd\t"
             + "Zoë".encode() * 40 + b"\r\nAdults\r\n" + b"\t" * 30 + b"y\r\n"),
        ]
        for origin_name, url, origin in self.origins():
            with self.subTest(origin=origin_name):
                self.open(url)
                self.assertEqual(self.driver.title, "Convert Ledger Export")
                texts = self.driver.execute_script(
                    "return Array.from(document.querySelectorAll('main > p'), (p) => p.textContent);")
                self.assertEqual(texts[:2], self.paragraphs)
                self.check_run("Ledger.txt", example, archive=True)
                # The same file again is a new run that replaces the links.
                self.check_run("Ledger.txt", example)
                for name, data, *reason in edge_exports:
                    self.check_run(name, data, *reason)
                # A failed run after a completed one takes its files away.
                self.check_run("Ledger.txt", example)
                self.check_run("empty", b"", "the file is empty")
                self.assert_same_origin(origin)
                self.assert_no_console_errors()
        # Nothing but the site's own files: the page, and what keeps it installed and offline.
        site = {"/" + name for name in os.listdir(os.path.dirname(ARGS.site))}
        self.assertTrue(set(self.server.paths) <= site | {"/"}, self.server.paths)

    def test_too_large_export_gets_a_clear_message(self):
        self.open(self.origins()[0][1])
        sparse = os.path.join(self.work, "huge.txt")
        with open(sparse, "wb") as f:
            f.truncate(1100 * 1024 * 1024)
        # Short lines: a small file whose output would pass the limit.
        lines = self.write_export("lines.txt", b"LedgerExport\n" + b"\n" * (3 * 1024 * 1024))
        # The message names what it counted: the file alone, or the file and what the run holds
        # besides it (a record a line: more than the preview's words and cells).
        for path, size, counted in [
                (sparse, 1100 * 1024 * 1024, r"the file is 1\.1 GiB \(%d bytes\), more than the 1\.0 GiB"),
                (lines, os.path.getsize(lines), r"\(%d bytes\), and its records and their preview would"
                 r" take up to 1\.5 GiB \((\d+) bytes\) more: together, more than the 1\.0 GiB")]:
            self.choose(path)
            shown = self.wait_dialog()
            message = " ".join(shown["paragraphs"])
            match = re.search(counted % size, message)
            self.assertTrue(match, message)
            if match.groups():
                self.assertEqual(int(match.group(1)), 15 + 512 * (3 * 1024 * 1024 + 2))
            self.assertTrue(shown["warning"])
            self.close_dialog(Keys.ENTER)
            self.assertEqual(self.offered_links(), [])
        # A chosen file that can no longer be read (here: deleted before its run) gets the
        # command's read notice, naming it.
        gone = self.write_export("gone.txt", b"LedgerExport\r\n")
        self.driver.execute_script("""
            document.addEventListener('change', (event) => event.stopPropagation(),
                                      {capture: true, once: true});""")
        self.choose(gone)
        os.remove(gone)
        # As the page's own handler does, the input is cleared: a choice into an input of several
        # files through chromedriver adds to what it holds.
        self.driver.execute_script("""
            const input = document.getElementById('file');
            startRun(input.files[0]);
            input.value = '';""")
        shown = self.wait_dialog()
        self.assertEqual((shown["caption"], shown["paragraphs"], shown["warning"]),
                         ("Unable to read file", ["gone.txt"], True))
        self.close_dialog()
        self.assertEqual(self.offered_links(), [])
        # Two files dropped at once: the dialogs' warning, and no run.
        self.driver.execute_script("""
            const data = new DataTransfer();
            for (const name of ['one.txt', 'two.txt']) data.items.add(new File(['LedgerExport'], name));
            document.dispatchEvent(new DragEvent('drop', {dataTransfer: data, bubbles: true, cancelable: true}));""")
        shown = self.wait_dialog()
        self.assertEqual((shown["caption"], shown["paragraphs"], shown["warning"], shown["information"]),
                         ("Convert Ledger Files", ["Please drop one export file at a time."], True, False))
        self.close_dialog()
        self.assertEqual(self.offered_links(), [])
        self.assertFalse(self.driver.find_element(By.ID, "choose").get_attribute("disabled"))
        # The page still converts afterwards.
        with open(ARGS.example, "rb") as f:
            self.check_run("Ledger.txt", f.read())

    def test_main_thread_runs_while_a_large_export_converts(self):
        self.open(self.origins()[1][1])
        member = b"\t".join([b"S-100001", b"2013-03-14", b"Alder", b"Mira", b"555-0142", b"WA",
                             b"98101", b"Troop 12", b"Patrol Fox", b"14 Harbor Lane" * 3,
                             b"Seattle", b"Scout", b"Blue", b"2020-01-01", b"ok", b"x" * 40])
        big = b"LedgerExport\r\nScouts\r\n" + (member + b"\r\n") * 300000
        self.assertGreater(len(big), 50 * 1000 * 1000)
        self.driver.execute_script("""
            window.ticks = []; window.busySeen = false; window.shares = [];
            window.ticker = setInterval(() => {
              window.ticks.push(performance.now());
              const progress = document.getElementById('progress');
              if (document.getElementById('choose').disabled && !progress.hidden) {
                window.busySeen = true;
                // position is -1 for a bar that shows no share.
                window.shares.push([performance.now(), progress.position]);
              }
            }, 20);""")
        completed, _, text, files, _ = native_run(big, self.work)
        big_path = self.write_export("big.txt", big)
        self.choose(big_path)
        shown = self.wait_dialog(120)
        ticks, handed, shares = self.driver.execute_script("""
            clearInterval(window.ticker);
            const run = performance.getEntriesByName('ledger-run').pop();
            return [window.ticks, run.startTime + run.duration, window.shares];""")
        self.assertTrue(completed)
        self.assertEqual(shown["paragraphs"], [text.split("\n\n")[0], SAVE_FIRST])
        self.assertTrue(self.driver.execute_script("return window.busySeen"))
        # The bar shows the share of the export read, growing, several times a second.
        self.assertTrue(all(0 <= share <= 1 for _, share in shares), shares)
        values = [share for _, share in shares]
        self.assertEqual(values, sorted(values))
        changes = [t for (t, a), (_, b) in zip(shares, shares[1:]) if b != a]
        self.assertGreaterEqual(len(changes), 3, shares)
        self.assertLess(max(b - a for a, b in zip(changes, changes[1:])), 500, shares)
        # While the worker converts, the page keeps its pace; taking in a large result (the
        # preview's buffer, the files) may hold it briefly, but never freezes it.
        pairs = list(zip(ticks, ticks[1:]))
        converting = [min(b, handed) - a for a, b in pairs if a < handed]
        self.assertGreater(len(converting), 5)
        self.assertLess(max(converting), 500, "the main thread stalled during the conversion")
        self.assertLess(max(b - a for a, b in pairs), 2000, "the page froze taking in the result")
        self.close_dialog(focused="download-all")
        self.assertFalse(self.driver.find_element(By.ID, "choose").get_attribute("disabled"))
        # Counts as the reader's locale writes them; every member has a cut field, so the filter
        # that would show only them starts off.
        self.assertEqual(self.driver.find_element(By.ID, "preview-counts").text,
                         "300,000 scouts, 0 adults, 600,000 fields cut")
        self.assertFalse(self.driver.find_element(By.ID, "only-cut").is_selected())
        self.assertEqual(self.download_all(), files)

        # Cancel ends a run at once, with no links left, and the page converts again at once. A
        # file dropped during the run is not taken, and the page says so. During the run the
        # keyboard is on Cancel, and Escape cancels as a click does; then the keyboard goes back
        # to the main button. (An export four times as large, so that the run outlasts the steps
        # below.)
        big_path = self.write_export("big.txt", big + big[len(b"LedgerExport\r\nScouts\r\n"):] * 3)
        cancel = self.driver.find_element(By.ID, "cancel")
        busy = "A conversion is under way: %s was not taken. Wait for it to end, or cancel it, then choose the file again."
        for way in ("click", "Escape"):
            with self.subTest(cancel=way):
                self.choose(big_path)
                self.assertEqual(self.driver.execute_async_script("""
                    const done = arguments[arguments.length - 1];
                    const poll = setInterval(() => {
                      const progress = document.getElementById('progress');
                      if (document.getElementById('notice').open || progress.value > 0) {
                        clearInterval(poll);
                        done([progress.value > 0, document.getElementById('notice').open,
                              document.activeElement.id]);
                      }
                    }, 5);"""), [True, False, "cancel"])
                self.driver.execute_script("""
                    const data = new DataTransfer();
                    data.items.add(new File(['LedgerExport'], 'other.txt'));
                    document.dispatchEvent(new DragEvent('drop', {dataTransfer: data, bubbles: true, cancelable: true}));""")
                self.assertEqual(self.driver.find_element(By.ID, "busy").text, busy % "other.txt")
                self.choose(self.write_export("chosen.txt", b"LedgerExport\r\n"))
                self.assertEqual(self.driver.find_element(By.ID, "busy").text, busy % "chosen.txt")
                WebDriverWait(self.driver, 5).until(lambda d: cancel.is_displayed())
                self.assertEqual(self.driver.switch_to.active_element.get_attribute("id"), "cancel")
                started = time.time()
                if way == "click":
                    cancel.click()
                else:
                    self.driver.switch_to.active_element.send_keys(Keys.ESCAPE)
                WebDriverWait(self.driver, 1).until(
                    lambda d: not d.find_element(By.ID, "choose").get_attribute("disabled"))
                self.assertLess(time.time() - started, 1)
                self.assertEqual(self.driver.find_element(By.ID, "status").text,
                                 "big.txt was not converted: the conversion was cancelled. No file was written.")
                self.assertEqual((self.offered_links(), self.driver.find_element(By.ID, "busy").text), ([], ""))
                self.assertFalse(self.driver.find_element(By.ID, "results").is_displayed())
                self.assertFalse(self.driver.find_element(By.ID, "preview").is_displayed())
                self.assertFalse(cancel.is_displayed())
                self.assertEqual(self.driver.switch_to.active_element.get_attribute("id"), "choose")
        with open(ARGS.example, "rb") as f:
            self.check_run("Ledger.txt", f.read())
        self.assert_no_console_errors()

    def preview_rows(self, group):
        """The rows of a preview table on screen: [("NUMBER CUT_FIELDS", [cell]), ...], each field's
        cell a dict."""
        return self.driver.execute_script("""
            return Array.from(document.querySelectorAll('#' + arguments[0] + ' tbody tr'), (tr) =>
              [tr.cells[0].textContent + ' ' + tr.cells[2].textContent,
               Array.from(tr.cells).slice(3).map((td) => ({
                cut: td.classList.contains('cut'), title: td.title,
                mark: (td.querySelector('.cut-mark') || {}).textContent || '',
                said: (td.querySelector('.visually-hidden') || {}).textContent || '',
                lost: (td.querySelector('del') || {}).textContent || '',
                kept: Array.from(td.childNodes).filter((n) => n.nodeType === 3)
                  .map((n) => n.textContent).join('')}))]);""", group)

    def test_preview_marks_the_cut_fields(self):
        self.open(self.origins()[0][1])
        address = b"Caf\xe9 Lane 12, Upper Flat, Northside Ward"  # 40 bytes; scout field 9 keeps 37
        street = b"Abercrombie-Street"  # adult field 11 keeps 12
        scouts = [b"\t".join([b"S-%d" % n] + [b"f%d" % k for k in range(1, 9)]
                             + [address if n == 120 else b"Elm Road"]) for n in range(1, 151)]
        adults = [b"\t".join([b"A-%d" % n] + [b""] * 10 + [street if n == 2 else b"Oak", b"",
                             b"Yes" if n == 2 else b"no"]) for n in range(1, 4)]
        export = b"LedgerExport\r\n" + b"\r\n".join(scouts + [b"Adults"] + adults) + b"\r\n"
        self.choose(self.write_export("cut.txt", export))
        self.wait_dialog()
        self.close_dialog(focused="download-all")
        self.assertEqual(self.driver.find_element(By.ID, "preview-counts").text,
                         "150 scouts, 3 adults, 2 fields cut")
        # Single-byte text ("Café") is no UTF-8: nothing is said of it.
        self.assertFalse(self.driver.find_element(By.ID, "preview-utf8").is_displayed())
        only_cut = self.driver.find_element(By.ID, "only-cut")
        self.assertTrue(only_cut.is_selected())
        # Filtered: the one member of each section with a cut field, its cut cell marked.
        [(number, cells)] = self.preview_rows("scouts")
        self.assertEqual((number, len(cells)), ("120 9", 16))
        self.assertEqual([c["cut"] for c in cells], [k == 9 for k in range(16)])
        kept, lost = address[:37].decode("cp1252"), address[37:].decode("cp1252")
        self.assertEqual(cells[9], {"cut": True, "mark": "✂", "said": "cut, keeps 37 of 40 bytes: ",
                                    "kept": kept, "lost": lost,
                                    "title": "Cut: the record keeps 37 of its 40 bytes and loses “ard”"})
        self.assertEqual([c["kept"] for c in cells[:2]], ["S-120", "f1"])
        [(number, cells)] = self.preview_rows("adults")
        self.assertEqual((number, len(cells)), ("2 11", 14))
        self.assertEqual((cells[11]["kept"], cells[11]["lost"]), ("Abercrombie-", "Street"))
        self.assertEqual(cells[13], {"cut": False, "mark": "", "said": "", "lost": "", "kept": "1",
                                     "title": ""})
        self.driver.execute_script(self.axe)
        run_axe = "axe.run(document).then((r) => arguments[arguments.length - 1](r.violations))"
        self.assertEqual(self.driver.execute_async_script(run_axe), [])
        # Every member, fifty at a time; the pager works from the keyboard.
        only_cut.send_keys(Keys.SPACE)
        self.assertEqual([n for n, _ in self.preview_rows("scouts")], ["%d " % n for n in range(1, 51)])
        self.assertEqual([n for n, _ in self.preview_rows("adults")], ["1 ", "2 11", "3 "])
        self.assertEqual([c["kept"] for c in self.preview_rows("adults")[0][1]][-3:], ["Oak", "", "0"])
        pager = self.driver.find_element(By.CSS_SELECTOR, "#scouts .pager")
        self.assertEqual(pager.find_element(By.CLASS_NAME, "pager-range").text, "1–50 of 150 scouts")
        pager.find_element(By.CLASS_NAME, "next").send_keys(Keys.ENTER)
        self.assertEqual(pager.find_element(By.CLASS_NAME, "pager-range").text, "51–100 of 150 scouts")
        self.driver.switch_to.active_element.send_keys(Keys.ENTER)
        rows = self.preview_rows("scouts")
        self.assertEqual([n for n, _ in rows], ["%d %s" % (n, "9" if n == 120 else "") for n in range(101, 151)])
        self.assertTrue(rows[19][1][9]["cut"])
        self.assertEqual(self.driver.switch_to.active_element.text, "Previous")
        self.assertEqual(self.driver.execute_async_script(run_axe), [])

        # UTF-8 text: the preview shows it as the ledger program will, byte by byte, and says how
        # many fields hold it. Here the one member has a cut field: the filter starts off.
        name = "Łukasiewicz-Żółkiewska".encode()
        export = (b"LedgerExport\r\nS-1\t" + b"b" * 12 + b"\t" + name + b"\tZo\xc3\xab\tCaf\xe9\r\n")
        self.choose(self.write_export("utf8.txt", export))
        self.wait_dialog()
        self.close_dialog(focused="download-all")
        self.assertFalse(only_cut.is_selected())
        [(_, cells)] = self.preview_rows("scouts")
        self.assertEqual([c["kept"] for c in cells[2:5]],
                         ["Å\x81ukasiewicz-Å»Ã³Å‚kiewska", "ZoÃ«", "Café"])
        utf8 = self.driver.find_element(By.ID, "preview-utf8")
        self.assertEqual(utf8.text, "2 fields hold UTF-8 text, whose characters of more than one"
                         " byte the ledger program will show as this preview does, one character a byte.")
        self.assertEqual(self.driver.execute_async_script(run_axe), [])

    def test_keyboard_accessibility_and_save_into_folder(self):
        self.open(self.origins()[0][1])
        self.driver.execute_script(self.axe)
        run_axe = "axe.run(document).then((r) => arguments[arguments.length - 1](r.violations))"
        self.assertEqual(self.driver.execute_async_script(run_axe), [])
        # Enter and Space on the main button open the chooser (here: the input is clicked).
        self.driver.execute_script("""
            window.chooserOpened = 0;
            document.getElementById('file').addEventListener('click', (event) => {
              window.chooserOpened++; event.preventDefault(); });""")
        body = self.driver.find_element(By.TAG_NAME, "body")
        body.send_keys(Keys.TAB)
        self.assertEqual(self.driver.switch_to.active_element.get_attribute("id"), "choose")
        self.driver.switch_to.active_element.send_keys(Keys.ENTER)
        self.driver.switch_to.active_element.send_keys(Keys.SPACE)
        self.assertEqual(self.driver.execute_script("return window.chooserOpened"), 2)

        with open(ARGS.example, "rb") as f:
            example = f.read()
        _, _, text, files, _ = native_run(example, self.work)
        self.choose(self.write_export("Ledger.txt", example))
        self.wait_dialog()
        self.assertEqual(self.driver.execute_async_script(run_axe), [])
        self.close_dialog(Keys.SPACE, focused="download-all")
        stops = []
        for _ in range(4):
            self.driver.switch_to.active_element.send_keys(Keys.TAB)
            element = self.driver.switch_to.active_element
            stops.append(element.get_attribute("download") or element.get_attribute("id"))
        self.assertEqual(stops, NAMES + ["save"])
        # Beside the links: what a browser that renames a download does, and what to do.
        self.assertEqual(self.driver.find_element(By.CLASS_NAME, "renamed").text,
                         "A browser that already holds a file of the same name may save the new one as"
                         " “CPERW (1).DAT”, which the ledger program does not read. Save into a new"
                         " folder, or delete the old files first.")
        self.assertEqual(self.driver.execute_async_script(run_axe), [])

        # A folder stand-in that keeps what is written; a later save into it fails at APERW.DAT.
        self.assertEqual(self.import_text(), "")
        self.driver.execute_script("""
            window.saved = {}; window.failAt = null;
            const file = (name) => ({kind: 'file', name,
                                     getFile: async () => new File([window.saved[name]], name)});
            window.showDirectoryPicker = async () => ({
              name: 'Import',
              values: async function* () { for (const name of Object.keys(window.saved)) yield file(name); },
              removeEntry: async (name) => { delete window.saved[name]; },
              getFileHandle: async (name, options) => ({
                createWritable: async () => {
                  if (name === window.failAt) throw new Error('the disk is full');
                  const parts = [];
                  return {write: async (data) => parts.push(data),
                          close: async () => { window.saved[name] = new Blob(parts); }};
                }})});""")
        self.driver.switch_to.active_element.send_keys(Keys.ENTER)
        status = self.driver.find_element(By.ID, "save-status")
        WebDriverWait(self.driver, 10).until(lambda d: status.text)
        self.assertEqual(status.text,
                         "Wrote PVERSION.DAT, CPERW.DAT, APERW.DAT into the folder Import.")
        # Saved: now, and not before, the page says to import.
        self.assertEqual(self.import_text(), text.split("\n\n")[1])
        saved = self.driver.execute_async_script("""
            const done = arguments[arguments.length - 1], out = {};
            Promise.all(Object.entries(window.saved).map(async ([name, blob]) => {
              const bytes = new Uint8Array(await blob.arrayBuffer());
              let text = ''; bytes.forEach((b) => { text += String.fromCharCode(b); });
              out[name] = btoa(text); })).then(() => done(out));""")
        self.assertEqual({name: base64.b64decode(data) for name, data in saved.items()}, files)

        # Into a folder that holds record files and a renamed download, a save first says what
        # they hold and asks: Cancel writes nothing, and the keyboard goes back to the button.
        self.driver.execute_script("window.saved['CPERW (1).DAT'] = new Blob(['old']);")
        asked = [
            "The folder Import already holds CPERW.DAT and APERW.DAT.",
            "The files in the folder Import held exactly these members. Check that the export is a new one.",
            "CPERW (1).DAT looks like a renamed download: the ledger program does not read it.",
            "Save this run's files into it, replacing the ones there?"]
        self.driver.switch_to.active_element.send_keys(Keys.ENTER)
        shown = self.wait_dialog()
        self.assertEqual((shown["caption"], shown["paragraphs"][:4], shown["focused"]),
                         ("Save into folder", asked, "go-on"))
        self.assertEqual(self.driver.execute_async_script(run_axe), [])
        self.close_dialog(focused="save")
        WebDriverWait(self.driver, 10).until(lambda d: "Nothing" in status.text)
        self.assertEqual(status.text, "Nothing was written into the folder Import.")
        # Go on, with the renamed copy to go: a write that fails stops before anything is deleted.
        self.driver.execute_script("window.failAt = 'APERW.DAT';")
        for fail in (True, False):
            if not fail:
                self.driver.execute_script("window.failAt = null;")
            self.driver.switch_to.active_element.send_keys(Keys.ENTER)
            self.wait_dialog()
            self.driver.find_element(By.ID, "notice-option").click()
            self.driver.find_element(By.ID, "go-on").click()
            WebDriverWait(self.driver, 10).until(lambda d: ("could not" if fail else "Deleted") in status.text)
            self.assertEqual(self.driver.switch_to.active_element.get_attribute("id"), "save")
            if fail:
                self.assertIn("Wrote PVERSION.DAT, CPERW.DAT into Import", status.text)
                self.assertIn("APERW.DAT could not be written: the disk is full", status.text)
            else:
                self.assertEqual(status.text, "Wrote PVERSION.DAT, CPERW.DAT, APERW.DAT into the folder"
                                 " Import. Deleted CPERW (1).DAT.")
        self.assertEqual(sorted(self.driver.execute_script("return Object.keys(window.saved)")), sorted(NAMES))

    def changes_shown(self):
        """The comparison that opens the preview: its counts, and each list's heading and rows, a
        changed field as "FIELD: -EARLIER +NEW"."""
        WebDriverWait(self.driver, 10).until(
            lambda d: d.find_element(By.ID, "changes").is_displayed())
        return self.driver.execute_script("""
            const text = (cell) => Array.from(cell.childNodes, (node) => node.nodeName === 'SPAN'
              ? Array.from(node.childNodes, (part) => part.nodeName === 'DEL' ? '-' + part.textContent
                : part.nodeName === 'INS' ? '+' + part.textContent : part.textContent.trim())
                  .filter(Boolean).join(' ')
              : node.textContent).join('; ');
            return [document.getElementById('changes-counts').textContent,
                    Array.from(document.querySelectorAll('#changes-lists .preview-group'), (group) =>
                      [group.querySelector('h3').textContent,
                       Array.from(group.querySelectorAll('tbody tr'),
                                  (tr) => Array.from(tr.cells, text))])];""")

    def test_earlier_record_files_are_compared(self):
        self.open(self.origins()[0][1])
        self.driver.execute_script(self.axe)
        run_axe = "axe.run(document).then((r) => arguments[arguments.length - 1](r.violations))"
        before = b"LedgerExport\r\nScouts\r\nS-1\tAnn\r\nS-2\tBo\r\nAdults\r\nA-1\tCy\r\n"
        after = b"LedgerExport\r\nScouts\r\nS-1\tAnne\r\nS-3\tDee\r\nAdults\r\nA-1\tCy\r\nA-2\tEd\r\n"
        _, _, _, earlier, _ = native_run(before, self.work)
        _, _, text, files, _ = native_run(after, self.work, earlier)
        paragraphs = text.split("\n\n")
        counts = "1 scouts added, 1 removed, 1 changed; 1 adults added, 0 removed, 0 changed."
        self.assertEqual(paragraphs[2], "Compared with the files it replaced: " + counts)
        folder = tempfile.mkdtemp(dir=self.work)
        # The earlier files' names in any case.
        paths = {}
        for name, data in [("Ledger.txt", after), ("cperw.dat", earlier["CPERW.DAT"]),
                           ("APERW.dat", earlier["APERW.DAT"]), ("Second.txt", after)]:
            paths[name] = os.path.join(folder, name)
            with open(paths[name], "wb") as f:
                f.write(data)
        lists = [
            ["Members added (2)", [["scout", "2", "4", "S-3"], ["adult", "2", "7", "A-2"]]],
            ["Members removed (1)", [["scout", "2", "S-2"]]],
            ["Members changed (1)", [["scout", "1", "3", "S-1", "Field 1: -Ann +Anne"]]]]

        # Several files hold one export, and beside it the earlier record files, or none is run.
        for chosen, said in [
                (["Ledger.txt", "Second.txt", "cperw.dat"],
                 ["More than one of the files chosen is taken for an export: Ledger.txt and Second.txt."
                  " Choose one export at a time, and beside it only the earlier CPERW.DAT and"
                  " APERW.DAT.", "Nothing was converted."]),
                (["cperw.dat", "APERW.dat"],
                 ["None of the files chosen is an export: choose the export file, and with it the"
                  " earlier CPERW.DAT and APERW.DAT if they are to be compared.", "Nothing was converted."]),
                (["Ledger.txt", "cperw.dat", "APERW.dat"], [paragraphs[0], SAVE_FIRST, paragraphs[2]])]:
            self.choose("\n".join(paths[name] for name in chosen))
            shown = self.wait_dialog()
            self.assertEqual(shown["paragraphs"], said, chosen)
            self.assertEqual(shown["warning"], len(said) == 2, chosen)
            self.close_dialog(focused="choose" if len(said) == 2 else "download-all")
        self.assertEqual(self.changes_shown(), [counts, lists])
        self.assertEqual(self.driver.execute_script(
            "return document.querySelector('#changes del').textContent"), "Ann")
        self.assertEqual(self.driver.execute_async_script(run_axe), [])

        # After a run without them: "Compare with earlier files…" runs the same comparison, and
        # with this run's own files, finds that they hold exactly its members.
        self.choose(paths["Ledger.txt"])
        self.wait_dialog()
        self.close_dialog(focused="download-all")
        self.assertFalse(self.driver.find_element(By.ID, "changes").is_displayed())
        own_folder = tempfile.mkdtemp(dir=self.work)
        own = [os.path.join(own_folder, name) for name in ("CPERW.DAT", "APERW.DAT")]
        for path in own:
            with open(path, "wb") as f:
                f.write(files[os.path.basename(path)])
        for chosen, said, shown_counts, shown_lists in [
                ([paths["cperw.dat"], paths["APERW.dat"]], paragraphs[2], counts, lists),
                (own, "The files it replaced held exactly these members. Check that the export is a"
                 " new one.", "The earlier files held exactly these members.", [])]:
            self.driver.find_element(By.ID, "earlier-files").send_keys("\n".join(chosen))
            self.assertEqual(self.wait_dialog()["paragraphs"], [said])
            self.close_dialog(focused="compare")
            self.assertEqual(self.changes_shown(), [shown_counts, shown_lists])

        # "Check the import folder…" reads the folder's own files: this run's, byte for byte, and
        # a renamed download beside them.
        imported = os.path.join(tempfile.mkdtemp(dir=self.work), "Import")
        os.mkdir(imported)
        for name, data in list(files.items()) + [("APERW(2).DAT", b"old")]:
            with open(os.path.join(imported, name), "wb") as f:
                f.write(data)
        check = self.driver.find_element(By.ID, "check-status")
        self.driver.find_element(By.ID, "check-folder").send_keys(imported)
        shown = self.wait_dialog()
        self.assertEqual(shown["paragraphs"], [
            "The folder Import holds this run's PVERSION.DAT, CPERW.DAT and APERW.DAT, byte for"
            " byte: it is ready to import.",
            "APERW(2).DAT looks like a renamed download: the ledger program does not read it."])
        self.assertEqual(check.text, " ".join(shown["paragraphs"]))
        self.close_dialog(focused="check")
        # With the earlier files still there, it says what they are and what importing them keeps.
        for name in ("CPERW.DAT", "APERW.DAT"):
            with open(os.path.join(imported, name), "wb") as f:
                f.write(earlier[name])
        self.driver.find_element(By.ID, "check-folder").send_keys(imported)
        shown = self.wait_dialog()
        self.assertEqual(shown["paragraphs"], [
            "The folder Import does not hold this run's files: CPERW.DAT differs and APERW.DAT differs.",
            "Compared with the files in the folder Import: " + counts,
            "APERW(2).DAT looks like a renamed download: the ledger program does not read it.",
            "Save the files into the folder again, replacing the ones there and deleting the renamed"
            " ones, then check it once more."])
        self.assertTrue(shown["warning"])
        self.close_dialog(focused="check")
        self.assert_no_console_errors()

    def service_worker_ready(self):
        """Waits for the page's service worker to take charge of its scope: returns its script's
        URL and the names of the caches it keeps."""
        return self.driver.execute_async_script("""
            const done = arguments[arguments.length - 1];
            navigator.serviceWorker.ready.then(async (registration) =>
              done([registration.active.scriptURL, await caches.keys()]));""")

    def test_site_is_installable_over_http(self):
        url = self.origins()[1][1]
        self.open(url)
        script, caches = self.service_worker_ready()
        self.assertEqual((script, len(caches)), (url + "sw.js", 1))
        self.assertEqual(self.driver.execute_cdp_cmd("Page.getInstallabilityErrors", {}),
                         {"installabilityErrors": []})
        shown = self.driver.execute_cdp_cmd("Page.getAppManifest", {})
        self.assertEqual((shown["url"], shown["errors"]), (url + "manifest.webmanifest", []))
        manifest = json.loads(shown["data"])
        self.assertEqual((manifest["name"], manifest["display"]), ("Ledger Convert", "standalone"))
        self.assertLessEqual(len(manifest["short_name"]), 15)
        self.assertEqual(self.driver.execute_script(
            "return new URL(arguments[0], document.querySelector('link[rel=manifest]').href).href",
            manifest["start_url"]), url + "index.html")
        # Each icon is the PNG its entry says, of the size it says: 192 and 512 pixels.
        sizes = []
        for icon in manifest["icons"]:
            with open(os.path.join(os.path.dirname(ARGS.site), icon["src"]), "rb") as f:
                head = f.read(24)
            self.assertEqual((head[:8], head[12:16], icon["type"]),
                             (b"\x89PNG\r\n\x1a\n", b"IHDR", "image/png"), icon["src"])
            width, height = int.from_bytes(head[16:20], "big"), int.from_bytes(head[20:24], "big")
            self.assertEqual(icon["sizes"], "%dx%d" % (width, height), icon["src"])
            sizes.append(icon["sizes"])
        self.assertEqual(sorted(sizes), ["192x192", "512x512"])
        self.assert_same_origin(url)
        self.assert_no_console_errors()

    def test_install_button_follows_the_browsers_offer(self):
        """The quiet line under the privacy sentence, and the Install button only while the
        browser offers to install the page (here a stand-in for its beforeinstallprompt: opened
        from a file, the page has no manifest, and the browser offers nothing of its own)."""
        self.open(self.origins()[0][1])
        line = self.driver.find_element(By.CSS_SELECTOR, ".privacy + p")
        self.assertEqual(line.text, OFFLINE)
        install = self.driver.find_element(By.ID, "install")
        self.assertFalse(install.is_displayed())
        offer = """
            window.prompts = 0;
            const offer = new Event('beforeinstallprompt', {cancelable: true});
            offer.prompt = async () => { window.prompts++; };
            offer.userChoice = new Promise((resolve) => { window.choose = resolve; });
            window.dispatchEvent(offer);
            return offer.defaultPrevented;"""
        self.assertTrue(self.driver.execute_script(offer))
        self.assertTrue(install.is_displayed())
        self.driver.execute_script(self.axe)
        run_axe = "axe.run(document).then((r) => arguments[arguments.length - 1](r.violations))"
        for scheme in ("light", "dark"):
            self.driver.execute_cdp_cmd("Emulation.setEmulatedMedia", {
                "features": [{"name": "prefers-color-scheme", "value": scheme}]})
            try:
                self.assertEqual(self.driver.execute_async_script(run_axe), [], scheme)
            finally:
                self.driver.execute_cdp_cmd("Emulation.setEmulatedMedia", {"features": []})
        # From the keyboard: the browser's prompt, once however often pressed; the button stays
        # until the user has chosen, then goes, and the keyboard goes on to the main button.
        install.send_keys(Keys.ENTER)
        WebDriverWait(self.driver, 5).until(lambda d: d.execute_script("return window.prompts") == 1)
        install.send_keys(Keys.ENTER)
        self.assertTrue(install.is_displayed())
        self.driver.execute_script("window.choose({outcome: 'dismissed', platform: ''});")
        WebDriverWait(self.driver, 5).until(lambda d: not install.is_displayed())
        self.assertEqual(self.driver.execute_script("return window.prompts"), 1)
        self.assertEqual(self.driver.switch_to.active_element.get_attribute("id"), "choose")
        # Offered again, then installed another way (the browser's own menu): the button goes.
        self.assertTrue(self.driver.execute_script(offer))
        self.assertTrue(install.is_displayed())
        self.driver.execute_script("window.dispatchEvent(new Event('appinstalled'));")
        self.assertFalse(install.is_displayed())
        self.assert_no_console_errors()

    def test_page_converts_offline_and_takes_a_new_build(self):
        """A site of its own, on a server of its own: one visit keeps it; a new build replaces
        what was kept; with the server stopped, the page still loads and converts."""
        folder = tempfile.mkdtemp(dir=self.work)
        site = os.path.dirname(ARGS.site)
        for name in os.listdir(site):
            shutil.copy(os.path.join(site, name), folder)
        server = Server(folder)
        threading.Thread(target=server.serve_forever, daemon=True).start()
        url = "http://127.0.0.1:%d/" % server.server_address[1]
        try:
            self.open(url)
            self.assertEqual(len(self.service_worker_ready()[1]), 1)
            # A new build: another page, and so another digest in sw.js.
            with open(os.path.join(folder, "index.html"), encoding="utf-8") as f:
                page = f.read()
            with open(os.path.join(folder, "index.html"), "w", encoding="utf-8") as f:
                f.write(page.replace("<title>Convert Ledger Export<", "<title>New build<", 1))
            with open(os.path.join(folder, "sw.js"), encoding="utf-8") as f:
                worker = f.read()
            worker, count = re.subn(r'const VERSION = "[0-9a-f]+";', 'const VERSION = "new";', worker)
            self.assertEqual(count, 1)
            with open(os.path.join(folder, "sw.js"), "w", encoding="utf-8") as f:
                f.write(worker)
            # Deployed later than the first build: the server's Last-Modified counts whole
            # seconds, and a copy changed within the same second would be "not modified".
            later = time.time() + 10
            for name in ("index.html", "sw.js"):
                os.utime(os.path.join(folder, name), (later, later))
            # The visit after a new build fetches the new worker, which keeps the new files and
            # drops the old ones; the visit after that shows the new page.
            # The browser checks for a new worker on navigation, but may skip a check made soon
            # after the last one; asking again while waiting is what a later visit would do.
            self.open(url)
            WebDriverWait(self.driver, 30).until(lambda d: d.execute_async_script("""
                const done = arguments[arguments.length - 1];
                navigator.serviceWorker.getRegistration()
                  .then((registration) => registration && registration.update())
                  .catch(() => {})
                  .then(() => caches.keys())
                  .then((names) => done(names.length === 1 && names[0].endsWith(' new')));"""))
        finally:
            server.shutdown()
            server.server_close()
        self.driver.refresh()
        WebDriverWait(self.driver, 10).until(
            lambda d: d.execute_script("return document.readyState") == "complete")
        self.assertEqual(self.driver.title, "New build")
        self.assertTrue(self.driver.execute_script("return navigator.serviceWorker.controller !== null"))
        with open(ARGS.example, "rb") as f:
            self.check_run("Ledger.txt", f.read())
        self.assert_no_console_errors()

    def test_page_opened_from_a_file_stands_alone_and_registers_nothing(self):
        alone = tempfile.mkdtemp(dir=self.work)
        shutil.copy(ARGS.site, alone)
        spy = self.driver.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument", {"source": """
            window.registered = [];
            if (navigator.serviceWorker) {
              const register = navigator.serviceWorker.register.bind(navigator.serviceWorker);
              navigator.serviceWorker.register = (url, options) => {
                window.registered.push(String(url));
                return register(url, options);
              };
            }"""})
        try:
            for url, registered, manifests in [
                    ("file://" + os.path.join(alone, "index.html"), [], 0),
                    (self.origins()[1][1], ["sw.js"], 1)]:
                with self.subTest(url=url):
                    self.open(url)
                    self.assertEqual(self.driver.execute_script(
                        "return [window.registered, document.querySelectorAll('link[rel=manifest]').length]"),
                        [registered, manifests])
                    self.assert_no_console_errors()
        finally:
            self.driver.execute_cdp_cmd("Page.removeScriptToEvaluateOnNewDocument",
                                        {"identifier": spy["identifier"]})
        # The page alone in its folder converts as ever.
        self.open("file://" + os.path.join(alone, "index.html"))
        with open(ARGS.example, "rb") as f:
            self.check_run("Ledger.txt", f.read())
        self.assert_no_console_errors()
        # Without JavaScript it says what is missing.
        self.driver.execute_cdp_cmd("Emulation.setScriptExecutionDisabled", {"value": True})
        try:
            self.driver.get("file://" + os.path.join(alone, "index.html"))
            said = self.driver.find_element(By.CLASS_NAME, "noscript")
            self.assertTrue(said.is_displayed())
            self.assertIn("JavaScript", said.text)
        finally:
            self.driver.execute_cdp_cmd("Emulation.setScriptExecutionDisabled", {"value": False})

    def test_dark_scheme_is_clean_under_axe(self):
        run_axe = "axe.run(document).then((r) => arguments[arguments.length - 1](r.violations))"
        background = "return getComputedStyle(document.getElementById('page')).backgroundColor"
        self.open(self.origins()[0][1])
        light = self.driver.execute_script(background)
        self.driver.execute_cdp_cmd("Emulation.setEmulatedMedia", {
            "features": [{"name": "prefers-color-scheme", "value": "dark"}]})
        try:
            self.open(self.origins()[0][1])
            dark = self.driver.execute_script(background)
            channels = [int(c) for c in re.findall(r"\d+", dark)[:3]]
            self.assertTrue(dark != light and max(channels) < 64, (light, dark))
            self.driver.execute_script(self.axe)
            self.assertEqual(self.driver.execute_async_script(run_axe), [])
            # A run with a cut field, compared with an earlier file: the notice, then the links, the
            # members changed, and the preview's marked cells.
            member = b"S-1\t" + b"\t".join(b"f%d" % k for k in range(1, 9)) + b"\t" + b"x" * 60
            _, _, _, earlier, _ = native_run(b"LedgerExport\r\nS-1\tf0\r\n", self.work)
            earlier_path = os.path.join(tempfile.mkdtemp(dir=self.work), "CPERW.DAT")
            with open(earlier_path, "wb") as f:
                f.write(earlier["CPERW.DAT"])
            self.choose(self.write_export("dark.txt", b"LedgerExport\r\n" + member + b"\r\n") +
                        "\n" + earlier_path)
            self.wait_dialog()
            self.assertEqual(self.driver.execute_async_script(run_axe), [])
            self.close_dialog(focused="download-all")
            self.assertEqual(len(self.driver.find_elements(By.CSS_SELECTOR, "#scouts td.cut")), 1)
            self.assertEqual(len(self.driver.find_elements(By.CSS_SELECTOR, "#changes ins")), 9)
            self.assertEqual(self.driver.execute_async_script(run_axe), [])
        finally:
            self.driver.execute_cdp_cmd("Emulation.setEmulatedMedia", {"features": []})


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    for option in ("--site", "--convert", "--example", "--dialog-ui", "--axe"):
        parser.add_argument(option, required=True)
    ARGS, rest = parser.parse_known_args()
    ARGS.site = os.path.abspath(ARGS.site)
    missing = [path for path in (ARGS.site, ARGS.axe) if not os.path.exists(path)]
    if missing:
        print("missing (build the web tree, or run scripts/test-web): " + ", ".join(missing))
        sys.exit(1 if os.environ.get("LEDGER_WEB_REQUIRED") else 77)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
