#!/usr/bin/env python3
"""The Linux `PatchUpdateResult report` over a collection a hostile machine user shaped.

  check_hostile_collection.py PATCHUPDATERESULT

Machine folders named like spreadsheet formulas, terminal escape sequences, bidi overrides and several
machines at once, outcome files whose fields are formulas after ';' and ',' and JSON escapes of control and
bidi characters, a file beside a machine's folder of the same name, logs whose date line is 15 MiB, 60,000
empty folders in one machine, and a link where a CSV is named: LibreOffice Calc, splitting at ',' and at
';', makes no cell a formula; the console holds no control, bidi or zero-width character and lists a
spaced name as one machine; the folder's runs count, the file beside it is said; memory stays at a normal
collection's; the CSV goes to the current folder, never into the collection unless named; the file the
link points to is left as it was. An expected list of such names, of a huge line, a pipe or a file over
64 MiB gets the same care: names shown as text or passed over, the others refused at once with the reason.
The page, for a generated fleet (every outcome, missing machines, runs over several days with a stall, one
reason behind most failures, hostile names and reasons), rendered in headless Chromium: its DOM shows every
count as the CSV has it, no element or attribute comes from a machine's text, Chromium requests nothing but
the page; the screenshot is kept as fleet-report.png in the current folder. The progress line shows on a
terminal (util-linux `script`) and nowhere else.
Python 3 standard library, LibreOffice Calc (soffice) and Chromium (chromium), both from scripts/setup.sh
--tests; without either the check fails. Exit code 0 when every check holds.
"""

import csv
import datetime
import html.parser
import io
import json
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

# The utility's and the report's texts, as the end-to-end tests spell them.
sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "e2e"))
from texts import LOG_INSTALL_COMPLETED, OUTCOMES, log_entries, log_file_bytes  # noqa: E402

HOSTILE_NAMES = ['=HYPERLINK("http://x","y")', "@SUM(A1)", "+PC01", "-PC02", "\tPC03", "PC04\x1b]0;owned\x07\x1b[2J",
                 "PC05\x9b31m", "PC0007 PC0142 PC0150", "PC06;=1+2", "PC07,=2+3", "PC08\u202etxt.exe", "PC09\u200b",
                 "\uff1d1+2", "PC10\u2028PC11"]
HOSTILE_FIELDS = ["=1+1", "@cmd", "+2", "-3", "\rx", "\x1b[31mred\x1b[0m", "ok;=cmd|' /C calc'!A0;=1+2",
                  "a, =2+3,\"=4+5\";\t=6", "\x07bell\u202eevil", "x;\uff0b1;\ufe662;\uff203"]
# Characters that act on a terminal or hide in text: C0 and C1 controls, DEL, bidi marks, embeddings,
# overrides and isolates, zero-width characters, line and paragraph separators, the byte-order mark.
HIDDEN = re.compile("[\x00-\x09\x0b-\x1f\x7f-\x9f\u200b-\u200f\u2028-\u202e\u2060-\u206f\ufeff]")
FORMULA_STARTS = ("=", "+", "-", "@", "\t", "\r")


def log(date: str) -> bytes:
    return log_file_bytes(log_entries(LOG_INSTALL_COMPLETED), date)


def formulas(csv_path: Path, separator: str, out: Path) -> list:
    """The formulas LibreOffice Calc makes of the CSV, read with `separator` between fields and '"' around
    them, as a spreadsheet user opening it gets them."""
    out.mkdir(parents=True, exist_ok=True)
    options = f"CSV:{ord(separator)},34,76,1"
    done = subprocess.run(["soffice", "--headless", "--norestore", f"-env:UserInstallation=file://{out}/profile",
                           f"--infilter={options}", "--convert-to", "fods", "--outdir", str(out), str(csv_path)],
                          capture_output=True, timeout=180, check=False, env={**os.environ, "HOME": str(out)})
    converted = out / (csv_path.stem + ".fods")
    if not converted.exists():
        raise RuntimeError(f"LibreOffice did not convert {csv_path}: {done.stdout!r} {done.stderr!r}")
    return re.findall(r'table:formula="([^"]*)"', converted.read_text(encoding="utf-8"))


def run(report: str, folder: Path) -> tuple[bytes, list, int]:
    """The report's console bytes, its CSV rows and its peak resident memory in KiB."""
    csv_path = folder.parent / (folder.name + ".csv")
    probe = ("import resource, subprocess, sys; r = subprocess.run(sys.argv[1:], stdout=subprocess.PIPE); "
             "sys.stdout.buffer.write(r.stdout); "
             "sys.stderr.write(str(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss))")
    done = subprocess.run([sys.executable, "-c", probe, report, "report", str(folder), str(csv_path)],
                          capture_output=True, check=True)
    rows = list(csv.reader(io.StringIO(csv_path.read_bytes().decode("utf-8-sig"), newline="")))
    return done.stdout, rows, int(done.stderr)


AT_PATCH = {"applied", "already-applied", "later-version"}
FAILED = {"blocked", "run-in-progress", "install-failed", "stale-record", "product-incomplete", "broken-package",
          "no-log", "unreadable"}
DOMINANT = "the installer ended with 1603: another installation was in progress"
# What the page is made of; anything else in the rendered DOM came from a machine's text.
PAGE_ELEMENTS = {"html", "head", "meta", "title", "style", "body", "h1", "h2", "p", "span", "strong", "section", "svg",
                 "text", "rect", "line", "polyline", "table", "tbody", "tr", "th", "td", "details", "summary", "ul",
                 "li"}
PAGE_ATTRIBUTES = {"lang", "charset", "http-equiv", "content", "name", "id", "class", "xmlns", "width", "height",
                   "viewbox", "role", "aria-label", "x", "y", "x1", "y1", "x2", "y2", "fill", "stroke", "stroke-width",
                   "points", "text-anchor", "data-outcome", "data-day"}
HOSTILE_PAGE_NAMES = ["<img src=x onerror=alert(1)>", "\"'><b>PC", "PC\u202etxt.exe", "PC\x1b[2J\x07",
                      "<svg onload=alert(2)>"]
HOSTILE_PAGE_REASONS = ["</svg><script>alert(3)</script>", "</td></tr></table><iframe src=http://x>",
                        "\"'><img src=x onerror=alert(4)>", "a\u200bb\u2028c\u202ed", "r" * 10000]


class Dom(html.parser.HTMLParser):
    """The elements, attributes and text of a DOM dump, and the table cells by row."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.elements, self.attributes, self.text, self.rows = set(), set(), [], []
        self.ids = {}
        self._id = None
        self._cell = False

    def handle_starttag(self, tag, attrs):
        self.elements.add(tag)
        self.attributes.update(name for name, _ in attrs)
        attributes = dict(attrs)
        if tag == "tr":
            self.rows.append((attributes.get("data-outcome") or attributes.get("data-day"), []))
        if tag in ("td", "th") and self.rows:
            self.rows[-1][1].append("")
            self._cell = True
        self._id = attributes.get("id")

    def handle_data(self, data):
        self.text.append(data)
        if self._cell:
            self.rows[-1][1][-1] += data
        if self._id:
            self.ids[self._id] = self.ids.get(self._id, "") + data

    def handle_endtag(self, tag):
        self._id = None
        self._cell = self._cell and tag not in ("td", "th")


def page_requests(net_log: Path) -> list:
    """The URLs Chromium's network log shows requested for a page: those with the page as their initiator or
    under its (file://) isolation key. Chromium's own services (updates, time, accounts) go out with no
    initiator, page or not; the file itself is read without the network stack."""
    log = json.loads(net_log.read_text(encoding="utf-8"))
    start = log["constants"]["logEventTypes"]["URL_REQUEST_START_JOB"]
    starts = [event["params"] for event in log["events"] if event["type"] == start and "url" in event.get("params", {})]
    return [params["url"] for params in starts if params.get("initiator") != "not an origin" or
            "file://" in str(params.get("network_isolation_key"))]


def chromium(page: Path, work: Path, screenshot=None) -> tuple[str, list]:
    """The DOM Chromium makes of the page, and the URLs requested for it."""
    flags = ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
             "--disable-component-update", "--disable-sync", "--no-first-run", f"--user-data-dir={work / 'profile'}",
             "--window-size=960,1200"]
    dom = subprocess.run(flags + [f"--log-net-log={work / (page.stem + '-dom.json')}", "--dump-dom", page.as_uri()],
                         capture_output=True, timeout=180, check=False)
    if dom.returncode != 0 or not dom.stdout:
        raise RuntimeError(f"Chromium did not load {page}: {dom.stderr[-2000:]!r}")
    urls = page_requests(work / (page.stem + "-dom.json"))
    if screenshot is not None:
        shot = subprocess.run(flags + [f"--log-net-log={work / (page.stem + '-shot.json')}",
                                       f"--screenshot={screenshot}", page.as_uri()],
                              capture_output=True, timeout=180, check=False)
        if shot.returncode != 0 or not screenshot.exists():
            raise RuntimeError(f"Chromium made no screenshot of {page}: {shot.stderr[-2000:]!r}")
        urls += page_requests(work / (page.stem + "-shot.json"))
    return dom.stdout.decode("utf-8"), urls


def check_page(report: str, root: Path) -> list:
    """The page of a generated fleet, as Chromium shows it, against the report's own CSV."""
    failures = []
    fleet = root / "fleet"
    today = datetime.date.today()
    days = [today - datetime.timedelta(days=d) for d in (6, 5, 4, 3, 2)]  # the rollout stalls on the last two
    expected_counts, reached, failed, listed_names = {}, {}, {}, []
    serial = 0
    for outcome_index, outcome in enumerate(OUTCOMES):
        for i in range(outcome_index + 2 + (40 if outcome == "install-failed" else 0)):
            day = days[i % 3] if outcome in AT_PATCH else days[i % 5]
            names = HOSTILE_PAGE_NAMES if outcome == "install-failed" else []
            machine = names[i] if i < len(names) else f"PC{serial:05d}"
            serial += 1
            if i >= len(names):
                listed_names.append(machine)
            reason = DOMINANT if outcome == "install-failed" and i >= len(HOSTILE_PAGE_REASONS) else \
                HOSTILE_PAGE_REASONS[i % len(HOSTILE_PAGE_REASONS)]
            record = {"machine": machine, "time": f"{day.isoformat()}T10:{i % 60:02d}:00", "outcome": outcome,
                      "code": OUTCOMES[outcome], "reason": reason}
            folder = fleet / machine / "Results"
            folder.mkdir(parents=True)
            (folder / f"outcome.{day.strftime('%Y%m%d')}-10{i % 60:02d}00.json").write_text(json.dumps(record))
            expected_counts[outcome] = expected_counts.get(outcome, 0) + 1
            key = day.isoformat()
            if outcome in AT_PATCH:
                reached[key] = reached.get(key, 0) + 1
            if outcome in FAILED:
                failed[key] = failed.get(key, 0) + 1
    expected_counts["missing"] = 3
    listed = root / "fleet-expected.txt"
    listed.write_text("\n".join(listed_names + ["PX00001", "PX00002", "PX00003"]))
    csv_path, page = root / "fleet.csv", root / "fleet.html"
    done = subprocess.run([report, "report", str(fleet), str(csv_path), "--expected", str(listed), "--html", str(page)],
                          capture_output=True, check=False, timeout=120)
    if done.returncode != 4 or not page.exists():
        return [f"the page's fleet: exit code {done.returncode}, {done.stdout[-2000:]!r}"]
    rows = list(csv.reader(io.StringIO(csv_path.read_bytes().decode("utf-8-sig"), newline="")))
    computed = {}
    for row in rows[1:]:
        if row[6] == "yes":
            computed[row[1]] = computed.get(row[1], 0) + 1
    if computed != expected_counts:
        failures.append(f"the report counted {computed}, the fleet holds {expected_counts}")
    if shutil.which("chromium") is None:
        return failures + ["Chromium (chromium) is missing: scripts/setup.sh --tests installs it"]
    screenshot = Path.cwd() / "fleet-report.png"
    dump, urls = chromium(page, root / "chromium", screenshot)
    print(f"page: {page.stat().st_size} bytes; screenshot: {screenshot}")
    dom = Dom()
    dom.feed(dump)
    if not dom.elements <= PAGE_ELEMENTS or not dom.attributes <= PAGE_ATTRIBUTES:
        failures.append(f"elements or attributes the page doesn't make: {dom.elements - PAGE_ELEMENTS}, "
                        f"{dom.attributes - PAGE_ATTRIBUTES}")
    text = "".join(dom.text)
    for hostile in ["<img src=x onerror=alert(1)>", "\"'><b>PC", "PC?txt.exe", "</svg><script>alert(3)</script>",
                    "</td></tr></table><iframe src=http://x>", "a?b?c?d", "r" * 300]:
        if hostile not in text:
            failures.append(f"a hostile name or reason is not shown as text: {hostile[:60]!r}")
    if HIDDEN.search(text.replace("\n", "")):
        failures.append("a control, bidi or zero-width character in the page's text")
    if "r" * 301 in text:
        failures.append("a 10,000-character reason is shown whole")
    if urls:
        failures.append(f"Chromium requested {sorted(set(urls))[:10]} for the page")
    # The same for a page that does load something, so that this check can fail.
    control = root / "control.html"
    control.write_text('<p>x</p><img src="http://127.0.0.1:9/probe.png">')
    _, control_urls = chromium(control, root / "chromium")
    if "http://127.0.0.1:9/probe.png" not in control_urls:
        failures.append(f"the network log shows no request of a page that makes one: {control_urls}")
    # The counts as the report computed them.
    outcome_rows = {key: cells for key, cells in dom.rows if key in OUTCOMES or key == "missing"}
    for outcome, count in expected_counts.items():
        cells = outcome_rows.get(outcome)
        code = "-" if outcome == "missing" else str(OUTCOMES[outcome])
        if cells is None or cells[1] != code or cells[2] != str(computed.get(outcome)):
            failures.append(f"the page shows {outcome} as {cells}, the report counted {computed.get(outcome)}")
    at_patch = sum(computed.get(o, 0) for o in AT_PATCH)
    seen = sum(computed.values()) - computed.get("missing", 0)
    want = {"at-patch": str(at_patch), "seen": str(seen), "expected": str(len(listed_names) + 3),
            "expected-at-patch": str(at_patch), "missing": "3", "total": str(sum(computed.values()))}
    shown = {key: dom.ids.get(key) for key in want}
    if shown != want:
        failures.append(f"the headline shows {shown}, the report computed {want}")
    day_rows = {key: cells for key, cells in dom.rows if key and key[:2] == "20"}
    for day in days:
        key = day.isoformat()
        cells = day_rows.get(key, ["", "0", "", "0"])
        if (cells[1], cells[3]) != (str(reached.get(key, 0)), str(failed.get(key, 0))):
            failures.append(f"{key}: the page shows {cells}, the fleet holds {reached.get(key, 0)} reached, "
                            f"{failed.get(key, 0)} failed")
    reasons = [cells for key, cells in dom.rows if key is None and len(cells) == 2 and cells[0].isdigit()]
    dominant = sum(1 for row in rows[1:] if row[6] == "yes" and row[3] == DOMINANT)
    if not reasons or reasons[0] != [str(dominant), DOMINANT]:
        failures.append(f"the first reason on the page is {reasons[:1]}, the report's most frequent is "
                        f"{DOMINANT!r} ({dominant})")

    # Progress: on a terminal a line with the machines and files read, wiped at the end; redirected or in
    # CI, nothing.
    environment = {k: v for k, v in os.environ.items() if k != "CI"}
    command = " ".join(shlex.quote(part) for part in [report, "report", str(fleet), str(root / "p.csv")])
    on_terminal = subprocess.run(["script", "-qec", command, "/dev/null"], capture_output=True, check=False,
                                 timeout=120, env=environment, stdin=subprocess.DEVNULL)
    line = re.search(rb"\rread: (\d+) machines, (\d+) files, \d+ s", on_terminal.stdout)
    if line is None or not re.search(rb"\r +\r", on_terminal.stdout):
        failures.append(f"no progress line on a terminal, or not wiped: {on_terminal.stdout[:300]!r}")
    in_ci = subprocess.run(["script", "-qec", command, "/dev/null"], capture_output=True, check=False, timeout=120,
                           env={**environment, "CI": "true"}, stdin=subprocess.DEVNULL)
    redirected = subprocess.run(command, shell=True, capture_output=True, check=False, timeout=120, env=environment)
    if b"read: " in in_ci.stdout or b"read: " in redirected.stderr + redirected.stdout:
        failures.append("a progress line in CI or with standard error redirected")
    return failures


def main() -> int:
    report = os.path.abspath(sys.argv[1])
    if shutil.which("soffice") is None:
        print("FAIL: LibreOffice Calc (soffice) is missing: scripts/setup.sh --tests installs libreoffice-calc-nogui")
        return 1
    failures = []
    with tempfile.TemporaryDirectory() as tmp:
        root = Path(tmp)
        hostile = root / "hostile"
        for i, name in enumerate(HOSTILE_NAMES):
            count = len(HOSTILE_FIELDS)
            # json.dumps writes control and non-ASCII characters as escapes: \u001b, \u0007, \u202e.
            record = {"machine": HOSTILE_FIELDS[i % count], "time": HOSTILE_FIELDS[(i + 1) % count],
                      "outcome": "install-failed", "code": 1603, "reason": HOSTILE_FIELDS[(i + 2) % count]}
            folder = hostile / name / "Results"
            folder.mkdir(parents=True)
            (folder / "outcome.20261209-033005.json").write_text(json.dumps(record) + "\r\n")
        # A newer log beside a machine's folder, under the machine's name: the folder's run counts.
        (hostile / "PC0007 PC0142 PC0150_Log_VDT_14_PatchUpdate.txt").write_bytes(
            log("Wednesday 23:59, December 30, 2026"))
        # 60,000 empty folders in one machine's folder.
        for i in range(60000):
            (hostile / "PC06;=1+2" / f"{i:05d}").mkdir()
        console, rows, peak = run(report, hostile)
        csv_path = hostile.parent / "hostile.csv"

        for row in rows[1:]:
            for cell in row:
                if cell.startswith(FORMULA_STARTS + ("\uff1d", "\uff0b", "\uff0d", "\uff20", "\ufe66", "\ufe62")):
                    failures.append(f"a CSV cell a spreadsheet would run: {cell!r}")
                if HIDDEN.search(cell):
                    failures.append(f"a control, bidi or zero-width character in a CSV cell: {cell!r}")
        text = console.decode("utf-8")
        if HIDDEN.search(text.replace("\n", "")):
            failures.append(f"control, bidi or zero-width characters on the console: "
                            f"{sorted({hex(ord(c)) for c in HIDDEN.findall(text.replace(chr(10), ''))})}")
        if ' "PC0007 PC0142 PC0150"' not in text:
            failures.append("the spaced machine name is not listed as one machine on the console")
        if len(rows) != 1 + len(HOSTILE_NAMES) + 1:
            failures.append(f"{len(rows) - 1} CSV rows, expected {len(HOSTILE_NAMES) + 1}")
        beside = [row for row in rows[1:] if row[5] == "PC0007 PC0142 PC0150_Log_VDT_14_PatchUpdate.txt"]
        if len(beside) != 1 or beside[0][6] != "no" or "beside the machine's folder" not in beside[0][3]:
            failures.append(f"the file beside the machine's folder is not said as such: {beside}")
        spaced = [row for row in rows[1:] if row[0] == "PC0007 PC0142 PC0150" and row[6] == "yes"]
        if len(spaced) != 1 or spaced[0][1] != "install-failed":
            failures.append(f"the machine is not counted by its folder's run: {spaced}")

        # The administrator's list may hold the same names: missing machines shown as text, escapes passed over.
        hostile_list = root / "expected.txt"
        # (A first line with a comma in it would make a CSV with no known column: refused, as the unit tests show.)
        hostile_list.write_bytes("\r\n".join(["PC01"] + HOSTILE_NAMES + HOSTILE_FIELDS + ["x" * (4 << 20)]).encode())
        listed_csv = root / "listed.csv"
        done = subprocess.run([report, "report", str(hostile), str(listed_csv), "--expected", str(hostile_list)],
                              capture_output=True, check=False, timeout=60)
        rows = list(csv.reader(io.StringIO(listed_csv.read_bytes().decode("utf-8-sig"), newline="")))
        # 3, not 4: the file beside a machine's folder is not read, and an incomplete report says that first.
        if done.returncode != 3 or not any(row[1] == "missing" for row in rows[1:]):
            failures.append(f"a hostile list: exit code {done.returncode}, rows {rows[1:]}")
        if any(cell.startswith(FORMULA_STARTS) for row in rows[1:] for cell in row):
            failures.append("a hostile list: a CSV cell a spreadsheet would run")
        text = done.stdout.decode("utf-8")
        if any((ord(c) < 0x20 and c != "\n") or 0x7F <= ord(c) < 0xA0 for c in text) or "passed over" not in text:
            failures.append(f"a hostile list: control characters or no word of what was passed over: {text!r}")
        # A pipe nobody writes to and a file over 64 MiB are refused at once, nothing written.
        fifo, big = root / "pipe", root / "big.txt"
        os.mkfifo(fifo)
        with open(big, "wb") as f:
            f.truncate(65 << 20)
        for refused in (fifo, big):
            listed_csv.unlink(missing_ok=True)
            done = subprocess.run([report, "report", str(hostile), str(listed_csv), "--expected", str(refused)],
                                  capture_output=True, check=False, timeout=60)
            if done.returncode != 1 or b"The expected list could not be used" not in done.stdout or listed_csv.exists():
                failures.append(f"the list {refused.name}: exit code {done.returncode}, {done.stdout!r}")


        # LibreOffice Calc opens the CSV splitting at ',' and at ';': no cell is a formula. A line it
        # does take for formulas first, so that this check can fail.
        control = root / "control.csv"
        control.write_bytes('\ufeff"machine","reason"\r\n"=1+2","x;=2+3"\r\n'.encode("utf-8"))
        for separator in (",", ";"):
            if not formulas(control, separator, root / f"lo-control{ord(separator)}"):
                failures.append(f"LibreOffice made no formula of a raw one (separator {separator!r}): the check proves nothing")
            made = formulas(csv_path, separator, root / f"lo{ord(separator)}")
            if made:
                failures.append(f"LibreOffice, separator {separator!r}, made formulas of the report: {made[:5]}")

        # Unless named, the CSV goes to the current folder; from inside the collection it is refused.
        elsewhere = root / "admin"
        elsewhere.mkdir()
        done = subprocess.run([report, "report", str(hostile)], capture_output=True, check=False, cwd=elsewhere)
        if not (elsewhere / "PatchUpdateReport.csv").exists() or (hostile / "PatchUpdateReport.csv").exists():
            failures.append(f"the CSV, not named, is not in the current folder: {done.stdout!r}")
        inside = hostile / "PC06;=1+2" / "00001"
        done = subprocess.run([report, "report", str(hostile)], capture_output=True, check=False, cwd=inside)
        if done.returncode != 1 or any(inside.iterdir()) or (hostile / "PatchUpdateReport.csv").exists():
            failures.append(f"the CSV, not named, was written inside the collection: {done.stdout!r}")

        # A CSV named in the collection: a link there is replaced, not written through.
        victim = root / "victim.txt"
        victim.write_text("keep me")
        (hostile / "PatchUpdateReport.csv").unlink(missing_ok=True)
        (hostile / "PatchUpdateReport.csv").symlink_to(victim)
        subprocess.run([report, "report", str(hostile), str(hostile / "PatchUpdateReport.csv")], capture_output=True,
                       check=False)
        if victim.read_text() != "keep me" or (hostile / "PatchUpdateReport.csv").is_symlink():
            failures.append("the report wrote its CSV through a link in the collection")

        peaks = {}
        for label, count, date in (("one long", 1, "7" * (15 << 20)), ("twelve long", 12, "7" * (15 << 20)),
                                   ("forty normal", 40, "Wednesday 03:30, December 09, 2026")):
            folder = root / label.replace(" ", "_")
            for i in range(count):
                (folder / f"PC{i:02d}").mkdir(parents=True)
                (folder / f"PC{i:02d}" / "Log_VDT_14_PatchUpdate.txt").write_bytes(log(date))
            _, rows, peaks[label] = run(report, folder)
            if any(len(cell) > 1000 for row in rows for cell in row):
                failures.append(f"{label}: a CSV cell holds what the file holds")
        # Each long log is read and let go: twelve cost what one does, and one no more than its own bytes.
        if peaks["twelve long"] > peaks["one long"] + 4096:
            failures.append(f"twelve logs with a 15 MiB date line peaked at {peaks['twelve long']} KiB, one at "
                            f"{peaks['one long']} KiB")
        if peaks["one long"] > peaks["forty normal"] + 20 * 1024:
            failures.append(f"one log with a 15 MiB date line peaked at {peaks['one long']} KiB, forty normal "
                            f"ones at {peaks['forty normal']} KiB")
        # 60,000 empty folders in one machine cost what a normal collection does.
        peaks["hostile, 60,000 folders"] = peak
        if peak > peaks["forty normal"] + 2048:
            failures.append(f"the hostile collection with 60,000 folders in one machine peaked at {peak} KiB, forty "
                            f"normal machines at {peaks['forty normal']} KiB")
        print(f"peak resident memory: {peaks}")
        failures += check_page(report, root)
    for failure in failures:
        print("FAIL: " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
