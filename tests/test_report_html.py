#!/usr/bin/env python3
"""Checks a report's HTML page against the numbers of its charts: as written,
as the HTML part of its MHT, and as headless Chromium renders both (the DOM it
builds, and nothing on its console). The page must hold one chart section per
chart, a figure for each chart with rows, each table row equal to the chart's
rows, and only the renderer's elements: no script, event handler or
external reference, no control character.

usage: test_report_html.py TEST_REPORT_HTML    its sample report, hostile values added
       test_report_html.py --page REPORT.html CHARTS.json [REPORT.mht]
       test_report_html.py --screenshot PNG TEST_REPORT_HTML

CHARTS.json: {"charts": [{"id", "title", "unavailable" (null or "" when it has
numbers), "vars" (optional), "rows": [{"x", "y" (absent or null for none),
"count"}]}]}, values in the tool's text form. Exits 77 when Chromium is
missing, after the checks that need no browser."""
import email, email.policy, html.parser, json, os, re, shutil, subprocess, sys, tempfile

CHROMIUM = shutil.which("chromium")
ELEMENTS = set("html head meta title style body header img span section h1 h2 p table thead tbody tr th td "
               "code br nav ol li a main figure svg g rect text line polyline circle footer".split())
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)


def page_text(text):
    """The tool's text form as a page shows it: control characters as \\xhh too."""
    return re.sub(r"[\x00-\x1f\x7f]", lambda m: "\\x%02x" % ord(m[0]), text)


class Page(html.parser.HTMLParser):
    """The chart sections of a page (id, title, figures, table rows, text) and
    every element with its attributes."""

    def __init__(self, text):
        super().__init__(convert_charrefs=True)
        self.elements, self.sections, self.section, self.heading, self.row = [], [], None, None, None
        self.feed(text)
        self.close()

    def handle_starttag(self, tag, attrs):
        self.elements.append((tag, attrs))
        attrs, s = dict(attrs), self.section
        if tag == "section":
            self.section = s = None
            if "chart" in (attrs.get("class") or "").split():
                self.section = s = {"id": attrs.get("data-chart-id"), "title": "", "figures": 0,
                                    "rows": [], "text": ""}
                self.sections.append(s)
        elif s is not None and tag == "svg":
            s["figures"] += 1
        elif s is not None and tag == "h2":
            self.heading = ""
        elif s is not None and tag == "tr" and self.row is None:
            self.row = []
        elif self.row is not None and tag == "td":
            self.row.append("")

    def handle_endtag(self, tag):
        if tag == "section":
            self.section = None
        elif tag == "h2" and self.heading is not None:
            self.section["title"], self.heading = self.heading, None
        elif tag == "tr" and self.row is not None:
            if self.row:  # the header row has no td
                self.section["rows"].append(self.row)
            self.row = None

    def handle_data(self, data):
        if self.section is not None:
            self.section["text"] += data
        if self.heading is not None:
            self.heading += data
        if self.row:
            self.row[-1] += data


def check_page(text, charts, where):
    page = Page(text)
    for tag, attrs in page.elements:
        check(tag in ELEMENTS, f"{where}: <{tag}>")
        for name, value in attrs:
            check(not name.startswith("on"), f"{where}: <{tag} {name}>")
            check(name not in ("src", "href") or value.startswith(("#", "data:image/")),
                  f"{where}: <{tag} {name}={value[:60]}>")
    check(not re.search(r"[\x00-\x08\x0b-\x1f\x7f]", text), f"{where}: control character")
    policy = [a for t, a in page.elements if t == "meta" and ("http-equiv", "Content-Security-Policy") in a]
    check(len(policy) == 1 and "default-src 'none'" in dict(policy[0])["content"], f"{where}: content policy")
    check(len(page.sections) == len(charts), f"{where}: {len(page.sections)} chart sections for {len(charts)} charts")
    for n, (chart, section) in enumerate(zip(charts, page.sections)):
        at = f"{where}: chart {n + 1}"
        check(section["id"] == str(chart["id"]), f"{at}: id {section['id']}")
        check(section["title"] == page_text(chart["title"]).replace("_", " "), f"{at}: title {section['title']!r}")
        if chart["unavailable"]:
            check(section["figures"] == 0 and not section["rows"], f"{at}: unavailable with numbers")
            check(page_text(chart["unavailable"]) in section["text"], f"{at}: no reason shown")
            continue
        check(section["figures"] == (1 if chart["rows"] else 0), f"{at}: {section['figures']} figures")
        two = len(chart["vars"]) > 1 if "vars" in chart else any(r.get("y") for r in chart["rows"])
        want = [[page_text(r["x"])] + ([page_text(r.get("y") or "")] if two else []) + [str(r["count"])]
                for r in chart["rows"]]
        check(section["rows"] == want, f"{at}: table {str(section['rows'])[:300]} != {str(want)[:300]}")


def check_mht(mht, page):
    message = email.message_from_bytes(mht, policy=email.policy.default)
    parts = list(message.iter_parts())
    check(message.get_content_type() == "multipart/related" and len(parts) == 1, "mht: one related part")
    part = parts[0]
    check(part.get_content_type() == "text/html" and part["Content-Location"], "mht: HTML part")
    check(part.get_payload(decode=True).replace(b"\r\n", b"\n") == page, "mht: the part is not the page")
    check(all(len(line) <= 76 for line in mht.split(b"\r\n")), "mht: line over 76 bytes")


def chromium(url, *args):
    """Chromium's output for the page and its console messages."""
    with tempfile.TemporaryDirectory() as profile:
        run = subprocess.run([CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                              "--no-first-run", "--disable-background-networking", "--disable-component-update",
                              "--disable-sync", f"--user-data-dir={profile}", "--enable-logging=stderr", "--v=0",
                              *args, url], capture_output=True, timeout=120)
    console = [line for line in run.stderr.decode(errors="replace").splitlines() if ":CONSOLE" in line]
    return run.stdout.decode(), console


def sample(program, folder, *args):
    subprocess.run([program, "--write-sample", folder, *args], check=True)
    return [os.path.join(folder, name) for name in ("report.html", "charts.json", "report.mht")]


def main(args):
    if args[0] == "--screenshot":
        if not CHROMIUM:
            return 77
        with tempfile.TemporaryDirectory() as folder:
            report = sample(args[2], folder)[0]
            chromium("file://" + report, "--hide-scrollbars", "--window-size=880,2020", "--screenshot=" + args[1])
        return 0
    with tempfile.TemporaryDirectory() as folder:
        files = args[1:] if args[0] == "--page" else sample(args[0], folder, "--hostile")
        page = open(files[0], "rb").read()
        charts = json.load(open(files[1], encoding="utf-8"))["charts"]
        check_page(page.decode("utf-8"), charts, "page")
        if len(files) > 2:
            check_mht(open(files[2], "rb").read(), page)
        if CHROMIUM:
            for path in files[:1] + files[2:]:
                dom, console = chromium("file://" + os.path.abspath(path), "--dump-dom")
                check(not console, f"{path}: console: {console}")
                check_page(dom, charts, path + " in Chromium")
    print("\n".join(failures) or f"{len(charts)} charts checked{'' if CHROMIUM else ' (no Chromium)'}")
    return 1 if failures else 0 if CHROMIUM else 77


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
