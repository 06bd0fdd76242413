"""The survey report (rate --report, zalk3071.report.html) opened in headless
Chromium, driven over its DevTools protocol with the network switched off.

For every page of the table below: no console error and no request that
leaves the file system; the counts of drops, sections and flagged rows it
shows equal those of the CSV files; after a click on a chart (a drop) the
basin shown is that drop's, with the CSV's texts; a screenshot that is not
blank (kept in the work folder).

Usage: browser_test.py RATE SOURCE_DIR WORK_DIR [--measure N]
(PYTHONPATH must reach the zalk3071 package; CHROMIUM names the browser.)
--measure N rates a synthetic survey of N drops with and without --report,
opens the report and prints the times and the file size.
"""
import base64
import csv
import io
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import urllib.request

import pandas as pd
import websocket
from PIL import Image

RATE, SOURCE, WORK = sys.argv[1:4]
SAMPLE = os.path.join(SOURCE, "data", "sample")
READY_TIMEOUT_S = 60
HOSTILE_SECTION = "<script>window.__pwned=1</script>"
HOSTILE_FILE = "<img src=x onerror=window.__pwned=2>.csv"
BROWSER_FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
                 "--disable-component-update", "--disable-sync", "--no-first-run", "--hide-scrollbars",
                 "--remote-debugging-port=0", "--remote-allow-origins=*", "--window-size=1280,900"]


# ---- the browser -----------------------------------------------------------------

class Browser:
    """One headless Chromium with a fresh profile, and one page of it."""

    def __init__(self):
        self.profile = tempfile.mkdtemp(prefix="profile-", dir=WORK)
        exe = os.environ.get("CHROMIUM") or shutil.which("chromium") or "chromium"
        self.process = subprocess.Popen([exe, *BROWSER_FLAGS, f"--user-data-dir={self.profile}", "about:blank"],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        port = self._port()
        pages = json.load(urllib.request.urlopen(f"http://127.0.0.1:{port}/json/list", timeout=10))
        url = next(p["webSocketDebuggerUrl"] for p in pages if p["type"] == "page")
        self.ws = websocket.create_connection(url, timeout=READY_TIMEOUT_S, suppress_origin=True)
        self.next_id = 0
        self.events = []

    def _port(self):
        marker = os.path.join(self.profile, "DevToolsActivePort")
        deadline = time.time() + 30
        while time.time() < deadline:
            if os.path.exists(marker):
                lines = open(marker).read().split()
                if lines:
                    return int(lines[0])
            if self.process.poll() is not None:
                raise RuntimeError("chromium ended before it listened")
            time.sleep(0.05)
        raise RuntimeError("chromium did not start its DevTools endpoint")

    def call(self, method, **params):
        self.next_id += 1
        self.ws.send(json.dumps({"id": self.next_id, "method": method, "params": params}))
        while True:
            message = json.loads(self.ws.recv())
            if message.get("id") == self.next_id:
                if "error" in message:
                    raise RuntimeError(f"{method}: {message['error']}")
                return message.get("result", {})
            self.events.append(message)

    def evaluate(self, expression):
        r = self.call("Runtime.evaluate", expression=expression, returnByValue=True, awaitPromise=True)
        if "exceptionDetails" in r:
            raise RuntimeError(f"{expression}: {r['exceptionDetails']}")
        return r["result"].get("value")

    def open(self, path):
        """Opens a page offline; returns the seconds until its script is done."""
        self.events.clear()
        for domain in ("Page", "Runtime", "Log", "Network"):
            self.call(f"{domain}.enable")
        self.call("Network.emulateNetworkConditions", offline=True, latency=0, downloadThroughput=-1,
                  uploadThroughput=-1)
        start = time.perf_counter()
        self.call("Page.navigate", url="file://" + os.path.abspath(path))
        while self.evaluate("document.readyState === 'complete' && document.body && "
                            "document.body.getAttribute('data-ready')") != "1":
            if time.perf_counter() - start > READY_TIMEOUT_S:
                raise AssertionError(f"{path}: the page's script did not finish: {self.problems()}")
            time.sleep(0.02)
        return time.perf_counter() - start

    def problems(self):
        """Console errors, uncaught exceptions and requests off the file system."""
        out = []
        for e in self.events:
            m, p = e.get("method"), e.get("params", {})
            if m == "Runtime.consoleAPICalled" and p.get("type") in ("error", "assert"):
                out.append(f"console.{p['type']}: {[a.get('value', a.get('description')) for a in p['args']]}")
            elif m == "Runtime.exceptionThrown":
                out.append(f"exception: {p['exceptionDetails']}")
            elif m == "Log.entryAdded" and p["entry"]["level"] == "error":
                out.append(f"log: {p['entry']['text']}")
            elif m == "Network.requestWillBeSent" and not p["request"]["url"].startswith(("file:", "data:")):
                out.append(f"request: {p['request']['url']}")
        return out

    def click(self, selector, fx, fy):
        """A real mouse click at a fraction of the element's box."""
        box = self.evaluate(f"(function(){{var r=document.querySelector({json.dumps(selector)})"
                            f".getBoundingClientRect();window.scrollTo(0,window.scrollY+r.top-20);"
                            f"r=document.querySelector({json.dumps(selector)}).getBoundingClientRect();"
                            f"return [r.left,r.top,r.width,r.height];}})()")
        x, y = box[0] + fx * box[2], box[1] + fy * box[3]
        for kind in ("mousePressed", "mouseReleased"):
            self.call("Input.dispatchMouseEvent", type=kind, x=x, y=y, button="left", clickCount=1)

    def screenshot(self, path):
        size = self.call("Page.getLayoutMetrics")["cssContentSize"]
        shot = self.call("Page.captureScreenshot", format="png", captureBeyondViewport=True,
                         clip={"x": 0, "y": 0, "width": 1280, "height": min(size["height"], 2400), "scale": 1})
        data = base64.b64decode(shot["data"])
        with open(path, "wb") as f:
            f.write(data)
        return Image.open(io.BytesIO(data)).convert("RGB")

    def close(self):
        try:
            self.ws.close()
        finally:
            self.process.terminate()
            self.process.wait(timeout=30)
            shutil.rmtree(self.profile, ignore_errors=True)


# ---- the pages -------------------------------------------------------------------

def run_rate(*args):
    data = os.path.join(WORK, "data")
    os.makedirs(data, exist_ok=True)
    if not os.path.exists(os.path.join(data, "backdefl.txt")):
        shutil.copyfile(os.path.join(SOURCE, "data", "backdefl.txt"), os.path.join(data, "backdefl.txt"))
    start = time.perf_counter()
    subprocess.run([RATE, "--data", data, *args], check=True, stderr=subprocess.DEVNULL)
    return time.perf_counter() - start


def read_rows(path):
    with open(path, newline="") as f:
        return list(csv.DictReader(f))


def tool_page(name, rate_args, sections=os.path.join(SAMPLE, "sections.csv")):
    """A page of the tool, with its results and residuals files beside it."""
    base = os.path.join(WORK, name)
    run_rate("--sections", sections, *rate_args, "--out", base + ".csv", "--residuals", base + ".res.csv",
             "--report", base + ".html")
    return base + ".html", read_rows(base + ".csv"), read_rows(base + ".res.csv")


def sample_tests(rows, path, rename=None):
    """A tests file of some rows of the sample's, their section renamed when asked."""
    with open(os.path.join(SAMPLE, "tests.csv")) as f:
        lines = f.read().splitlines()
    with open(path, "w") as f:
        f.write(lines[0] + "\n")
        for line in lines[1:1 + rows]:
            f.write((rename + line[line.index(","):] if rename else line) + "\n")
    return path


def hostile_inputs():
    """Sections and tests whose names are HTML, and a basin that rises (flagged)."""
    sections = os.path.join(WORK, "hostile_sections.csv")
    with open(os.path.join(SAMPLE, "sections.csv")) as f:
        lines = f.read().splitlines()
    with open(sections, "w") as f:
        f.write("\n".join([lines[0], HOSTILE_SECTION + lines[1][lines[1].index(","):]]) + "\n")
    tests = sample_tests(3, os.path.join(WORK, HOSTILE_FILE), rename=HOSTILE_SECTION)
    with open(tests, "a") as f:
        f.write(HOSTILE_SECTION + ",15.94,9453,3.25,17.99,14.70,10.84,7.84,24.15,151700,47.3\n")
    return sections, tests


def python_page(name, results, residuals=None, **kw):
    """A page of zalk3071.report.html; its rows are what the CSV would hold."""
    from zalk3071 import report
    path = os.path.join(WORK, name + ".html")
    report.html(results, residuals, path=path, **kw)
    numeric = {k: results[k].dtype.kind == "f" for k in results.columns}

    def text(k, v):  # C's %.6g for numbers, an empty cell for a missing text
        return "%.6g" % v if numeric[k] else "" if v is None or v != v else str(v)
    return path, [{k: text(k, v) for k, v in r.items()} for r in results.to_dict("records")], []


def synthetic_survey(n):
    """An F25 file of n drops along a road, with GPS (survey_f25.py)."""
    path = os.path.join(WORK, f"survey_{n}.f25")
    with open(path, "w") as f:
        subprocess.run([sys.executable, os.path.join(os.path.dirname(os.path.abspath(__file__)), "survey_f25.py"),
                        str(n)], stdout=f, check=True)
    return path


def page_data(path):
    text = open(path, encoding="utf-8").read()
    start = text.index('id="survey-data">') + len('id="survey-data">')
    return json.loads(text[start:text.index("</script>", start)])


# ---- the checks ------------------------------------------------------------------

def check_page(browser, name, path, rows, residuals, click=True):
    seconds = browser.open(path)
    problems = browser.problems()
    assert not problems, f"{name}: {problems}"
    shown = browser.evaluate("""({
        drops: document.getElementById('n-drops').textContent,
        sections: document.getElementById('n-sections').textContent,
        flagged: document.getElementById('n-flagged').textContent,
        flaggedRows: document.querySelectorAll('#flagged-table tbody tr').length,
        sectionTables: document.querySelectorAll('table.section-stats').length,
        charts: document.querySelectorAll('.chart svg').length,
        track: document.querySelectorAll('#track-view svg').length,
        pwned: window.__pwned === undefined ? null : window.__pwned})""")
    flagged = sum(1 for r in rows if r["flags"])
    sections = len({r["section"] for r in rows})
    expected = {"drops": str(len(rows)), "sections": str(sections), "flagged": str(flagged),
                "flaggedRows": flagged, "sectionTables": sections, "pwned": None}
    got = {k: shown[k] for k in expected}
    assert got == expected, f"{name}: shown {got}, the CSV has {expected}"
    assert (shown["charts"] > 0) == (len(rows) > 0), f"{name}: {shown['charts']} charts for {len(rows)} drops"
    has_gps = any(r.get("latitude") for r in rows)
    assert shown["track"] == (1 if has_gps else 0), f"{name}: track {shown['track']}, GPS {has_gps}"
    if has_gps:
        check_track_colour(browser, name)
    if click and rows:
        check_click(browser, name, rows, residuals)
    if flagged > 1:
        check_sorting(browser, name)
        check_row_click(browser, name)
    pdf = base64.b64decode(browser.call("Page.printToPDF", printBackground=False)["data"])
    assert pdf.startswith(b"%PDF") and len(pdf) > 10000, f"{name}: printed {len(pdf)} bytes"
    image = browser.screenshot(os.path.join(WORK, name + ".png"))
    colours = image.getcolors(maxcolors=1 << 20) or []
    assert len(colours) > 16, f"{name}: the screenshot is blank ({len(colours)} colours)"
    return seconds


def check_click(browser, name, rows, residuals):
    """A click on the first chart picks another drop: its values and basin are shown as the CSV has them."""
    before = browser.evaluate("[document.getElementById('basin').dataset.section, "
                              "document.getElementById('basin').dataset.test]")
    browser.click(".chart svg", 0.7, 0.5)
    shown = browser.evaluate("""(function(){
        var b = document.getElementById('basin'), cells = {};
        document.querySelectorAll('#drop-details td').forEach(function(td){ cells[td.dataset.column] = td.textContent; });
        var measured = [];
        document.querySelectorAll('#basin-table td[data-column=measured_mils]').forEach(function(td){ measured.push(td.textContent); });
        return {section: b.dataset.section, test: b.dataset.test, cells: cells, measured: measured,
                points: b.querySelectorAll('circle.measured').length,
                computed: b.querySelectorAll('.computed').length};})()""")
    row = next((r for r in rows if r["section"] == shown["section"] and r["test"] == shown["test"]), None)
    assert row is not None, f"{name}: the click shows no drop of the CSV: {shown}"
    assert len(rows) == 1 or before != [row["section"], row["test"]], f"{name}: the click changed nothing"
    assert shown["cells"] == row, f"{name}: drop details {shown['cells']} != CSV {row}"
    basin = [r["measured_mils"] for r in residuals if r["section"] == row["section"] and r["test"] == row["test"]]
    methods = max(1, len(shown["measured"]) // max(1, len(basin)))
    assert shown["measured"] == basin * methods, f"{name}: basin {shown['measured']} != CSV {basin}"
    assert shown["points"] == len(basin), f"{name}: {shown['points']} measured points for {len(basin)} sensors"
    assert shown["computed"] == (methods if basin else 0), f"{name}: {shown['computed']} computed basins"


def check_track_colour(browser, name):
    """The track coloured by another quantity: its legend names it."""
    legend = browser.evaluate("""(function(){
        var s = document.getElementById('track-colour');
        s.value = 'e_subgrade';
        s.dispatchEvent(new Event('change'));
        return document.getElementById('track-legend').textContent;})()""")
    assert legend.startswith("e_subgrade: "), f"{name}: track legend {legend!r}"


def check_row_click(browser, name):
    """A click on the last flagged row shows that drop's basin."""
    browser.click("#flagged-table tbody tr:last-child", 0.5, 0.5)
    shown = browser.evaluate("""(function(){
        var tr = document.querySelector('#flagged-table tbody tr:last-child'), b = document.getElementById('basin');
        return [b.dataset.section, b.dataset.test, tr.children[0].textContent, tr.children[1].textContent,
                tr.classList.contains('selected')];})()""")
    assert shown[:2] == shown[2:4] and shown[4], f"{name}: the row clicked shows {shown}"


def check_sorting(browser, name):
    """The flagged table sorted by its flags column, then the other way."""
    orders = []
    for _ in range(2):
        browser.evaluate("document.querySelector('#flagged-table th[data-column=flags]').click()")
        orders.append(browser.evaluate("""(function(){
            var heads = Array.from(document.querySelectorAll('#flagged-table th'));
            var k = heads.findIndex(function(th){ return th.dataset.column === 'flags'; });
            return Array.from(document.querySelectorAll('#flagged-table tbody tr'))
                        .map(function(tr){ return tr.children[k].textContent; });})()"""))
    assert orders[0] == sorted(orders[0]), f"{name}: not sorted by flags: {orders[0]}"
    assert orders[1] == sorted(orders[1], reverse=True), f"{name}: not sorted back: {orders[1]}"


def pages():
    """(name, path, results rows, residual rows) of every page checked."""
    out = []
    sample = tool_page("sample", ["--tests", os.path.join(SAMPLE, "tests.csv")])
    out.append(("sample",) + sample)
    f25 = synthetic_survey(400)
    out.append(("f25_gps",) + tool_page("f25_gps", ["--f25", f25, "--f25-section", "S2", "--reps", "60000"]))
    sections, tests = hostile_inputs()
    out.append(("hostile_names",) + tool_page("hostile_names", ["--tests", tests], sections=sections))
    one = sample_tests(1, os.path.join(WORK, "one.csv"))
    out.append(("one_drop",) + tool_page("one_drop", ["--tests", one]))
    out.append(("empty",) + tool_page("empty", ["--tests", sample_tests(0, os.path.join(WORK, "none.csv"))]))
    # From DataFrames: the sample's files give the tool's tables cell for cell.
    results = pd.read_csv(sample[0].replace(".html", ".csv"), dtype={"section": str, "flags": str})
    residuals = pd.read_csv(sample[0].replace(".html", ".res.csv"), dtype={"section": str})
    python = python_page("python_sample", results, residuals)
    tool_data, python_data = page_data(sample[0]), page_data(python[0])
    for table in ("results", "residuals"):
        assert python_data[table] == tool_data[table], f"Python's {table} differ from the tool's"
    out.append(("python_sample", python[0], sample[1], sample[2]))
    odd = pd.DataFrame({"section": ["</script>" + HOSTILE_SECTION, "</script>" + HOSTILE_SECTION, "C&D"],
                        "test": [1, 2, 1],
                        "allowable_load": [float("nan"), float("inf"), 3.5],
                        "e_base": [-float("inf"), 4e4, float("nan")], "flags": ["not_fitted", None, ""]})
    out.append(("python_not_finite",) + python_page("python_not_finite", odd))
    out.append(("python_empty",) + python_page("python_empty", odd.iloc[0:0]))
    out.append(full_columns_page(results, residuals))
    return out


def full_columns_page(results, residuals):
    """The sample with every optional column: stations, indices, standard
    errors, the load's band, units, and two methods' basins."""
    full = results.copy()
    full["station"] = [25.0 * k for k in range(len(full))]
    full["d0_mils"] = 20.0 + (full.index % 7)
    full["sci_mils"] = full["d0_mils"] / 4
    for m in ("e_surface", "e_base", "e_subgrade"):
        full[m + "_se_pct"] = 5.0 + (full.index % 3)
    full["allowable_load_low"] = full["allowable_load"] * 0.9
    full["allowable_load_high"] = full["allowable_load"] * 1.1
    units = pd.DataFrame({"segment": [1, 2], "station_from": [0.0, 3000.0], "station_to": [2975.0, 5975.0],
                          "n": [120, 120], "e_subgrade_mean": [9000.0, 11000.0]})
    both = pd.concat([residuals.assign(method="design"), residuals.assign(method="fit")], ignore_index=True)
    path, rows, _ = python_page("python_all_columns", full, both, segments=units, run_record={"table": "backdefl.txt"})
    res_rows = [{k: str(v) for k, v in r.items()} for r in read_rows(os.path.join(WORK, "sample.res.csv"))]
    return "python_all_columns", path, rows, res_rows


def measure(n):
    """Times of a survey of n drops: rating with and without the report, opening it."""
    f25 = synthetic_survey(n)
    args = ["--sections", os.path.join(SAMPLE, "sections.csv"), "--f25", f25, "--f25-section", "S2",
            "--reps", "60000", "--out", os.path.join(WORK, "survey.csv")]
    plain = run_rate(*args)
    report = os.path.join(WORK, f"survey_{n}.html")
    with_report = run_rate(*args, "--report", report)
    browser = Browser()
    try:
        opened = browser.open(report)
        assert not browser.problems(), browser.problems()
        browser.screenshot(os.path.join(WORK, f"survey_{n}.png"))
    finally:
        browser.close()
    print(f"{n} drops: rated in {plain:.2f} s, with the report {with_report:.2f} s "
          f"(+{with_report - plain:.2f} s); opened in {opened:.2f} s; {os.path.getsize(report) / 1e6:.1f} MB")


def main():
    os.makedirs(WORK, exist_ok=True)
    if len(sys.argv) == 6 and sys.argv[4] == "--measure":
        measure(int(sys.argv[5]))
        return
    browser = Browser()
    try:
        for name, path, rows, residuals in pages():
            seconds = check_page(browser, name, path, rows, residuals)
            print(f"{name}: {len(rows)} drops, opened in {seconds:.2f} s")
    finally:
        browser.close()


if __name__ == "__main__":
    main()
