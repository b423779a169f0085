"""Runs helmet-report on the built library with the staged assets, then loads
the page in headless chromium: the page may request nothing but itself and its
data: URIs, every section must show with the figures the programs wrote, every
image must decode, and nothing may be wider than the window. A control page
with one external image proves that the browser's requests are seen. A second
page, made of the sections of a recorded certification run of a library that
fails on grayscale frames and of a failure text with no place to break, must
draw the robustness chart with that condition failed, and wrap the text."""

import argparse
import hashlib
import html.parser
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import recorded  # noqa: E402 (puts helmet-report's modules on the path)
import html_page  # noqa: E402
import report_sections  # noqa: E402
from devtools_browser import Browser  # noqa: E402
from gtest_results import SuiteOutcome, TestOutcome, read_outcome  # noqa: E402
from program_runs import ProgramRun  # noqa: E402
from robustness import robustness_section  # noqa: E402

SECTIONS = ("identity", "contract", "certification", "robustness", "latency", "accuracy", "contact-sheet", "runs")
# Wider than the page in the layout wraps nothing: content that overflows the window.
OVERFLOW = "[document.documentElement.scrollWidth, window.innerWidth]"
problems = []


def check(condition, message):
    if not condition:
        problems.append(message)
    return condition


class Links(html.parser.HTMLParser):
    """Every attribute that can make a browser fetch something."""

    def __init__(self):
        super().__init__()
        self.references = []

    def handle_starttag(self, tag, attributes):
        for name, value in attributes:
            if name in ("src", "href", "srcset", "action", "data", "poster", "xlink:href"):
                self.references.append((tag, name, value or ""))


def check_self_contained(page):
    links = Links()
    links.feed(page)
    for tag, name, value in links.references:
        check(value.startswith("data:") or value.startswith("#"), "<%s %s=%.80r> points outside the page" % (
            tag, name, value))
    check(not re.search(r"url\(\s*['\"]?(?!data:|#)", page), "a style loads a url()")
    check("@import" not in page, "a style imports another")
    check(not re.search(r"https?://", page), "the page names an http(s) address")


def text_of(dom):
    return re.sub(r"\s+", " ", re.sub(r"<[^>]+>", " ", dom))


def section_html(dom, anchor):
    match = re.search(r'<section id="%s">(.*?)</section>' % re.escape(anchor), dom, re.S)
    return match.group(1) if match else ""


def check_sections(dom, work, library, missing_certification):
    for anchor in SECTIONS:
        check(re.search(r'<section id="%s"><h2>[^<]+</h2>' % anchor, dom), "no section %s with a heading" % anchor)

    identity = text_of(section_html(dom, "identity"))
    with open(library, "rb") as file:
        digest = hashlib.sha256(file.read()).hexdigest()
    check(digest in identity, "the identity lacks the library's SHA-256 %s" % digest)
    check("%d bytes" % os.path.getsize(library) in identity, "the identity lacks the library's size")
    bench = json.load(open(os.path.join(work, "bench.json")))
    check(bench["labels"] in identity, "the identity lacks the label map %r" % bench["labels"])
    for name, value in bench["parameters"].items():
        check(re.search(r"%s\s+%s" % (re.escape(name), re.escape(value)), identity),
              "ConfigureParameters entry %s=%s missing" % (name, value))

    contract = json.load(open(os.path.join(work, "contract.json")))
    rows = text_of(section_html(dom, "contract"))
    for suite in contract["testsuites"]:
        for test in suite["testsuite"]:
            result = "failed" if test.get("failures") else "skipped" if test["result"] == "SKIPPED" else "passed"
            check("%s.%s %s" % (suite["name"], test["name"], result) in rows,
                  "contract row %s.%s %s missing" % (suite["name"], test["name"], result))

    # The certification program is left out: that is no pass, whatever the contract program says.
    contract_passed = all(not test.get("failures") for suite in contract["testsuites"] for test in suite["testsuite"])
    verdict = re.search(r'<p class="verdict (\w+)">', dom)
    check(verdict and verdict.group(1) == ("incomplete" if contract_passed else "failed"),
          "the verdict does not follow the contract program's results and the missing certification program")

    for anchor in ("certification", "robustness"):
        shown = text_of(section_html(dom, anchor))
        check("Not run: no certification program at %s" % missing_certification in shown,
              "the %s section does not say why it did not run: %s" % (anchor, shown[:200]))

    latency = section_html(dom, "latency")
    for name in ("p50", "p99", "max"):
        check("%.2f ms" % bench["latency_ms"][name] in latency, "latency %s missing" % name)
    counts = [int(count) for count in re.findall(r"ms: (\d+) calls</title>", latency)]
    check(sum(counts) == bench["measured_frames"], "the histogram counts %d calls, helmet-bench measured %d" % (
        sum(counts), bench["measured_frames"]))

    evaluation = json.load(open(os.path.join(work, "eval.json")))
    accuracy = text_of(section_html(dom, "accuracy"))
    for figures in evaluation["classes"]:
        check("%s %d %d" % (figures["name"], figures["groundTruth"], figures["detections"]) in accuracy,
              "accuracy row of %s missing" % figures["name"])
        check(re.search(r'<img [^>]*alt="pr-%s"' % figures["name"], section_html(dom, "accuracy")),
              "no precision-recall curve of %s" % figures["name"])
    check(re.search(r'<img [^>]*alt="contact sheet"', section_html(dom, "contact-sheet")), "no contact sheet")

    decoded = re.search(r'<body data-images="(\d+) images, (\d+) broken', dom)
    if check(decoded, "the page's image check did not run in the browser"):
        images, broken = map(int, decoded.groups())
        check(images == len(evaluation["classes"]) + 1 and broken == 0, "images in the browser: %s" % decoded.group(0))


def check_recorded_failures(browser, work):
    stdout = recorded.text("certification-gray-stdout.txt")
    suite = read_outcome(recorded.path("certification-gray-report.json"), stdout)
    unbroken = "no place to break: " + "/very/long/path" * 200
    failing = SuiteOutcome([TestOutcome("CertifiedDetections.EveryBoxLiesInsideTheFrame", "failed", 0.1, [unbroken])])
    sections = [robustness_section(suite, stdout),
                report_sections.tests_section("certification", "Certification", failing, ProgramRun(["c"], 1))]
    page_path = os.path.join(work, "recorded-failures.html")
    with open(page_path, "w", encoding="utf-8") as page:
        page.write(html_page.page("Recorded failures", "", sections))
    requests = browser.load("file://" + page_path)
    check(requests == ["file://" + page_path], "the recorded failures' page requested %s" % requests[1:])
    bars = browser.evaluate("Array.from(document.querySelectorAll('svg.chart rect.bar'), "
                            "b => [b.classList.contains('failed'), b.getBoundingClientRect().width])")
    check(len(bars) == 6 and [failed for failed, _ in bars] == [True] + [False] * 5 and
          all(width > 50 for _, width in bars[1:]), "the robustness chart's bars: %s" % bars)
    width, window = browser.evaluate(OVERFLOW)
    check(width <= window, "a long failure text makes the page %d px wide in a %d px window" % (width, window))


def main():
    parser = argparse.ArgumentParser()
    for name in ("report", "programs", "staged", "labels", "library", "work"):
        parser.add_argument("--" + name, required=True)
    parser.add_argument("--screenshot", help="also save the page's screenshot here")
    args = parser.parse_args()
    executable = shutil.which("chromium")
    if not executable:
        print("FAIL: chromium is not installed; apt-get install chromium (tools/run-tests.sh installs it)")
        return 1
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    page_path, raw = os.path.join(args.work, "report.html"), os.path.join(args.work, "raw")
    missing_certification = os.path.join(args.work, "no-certification-program")
    report = subprocess.run(["/usr/bin/python3", args.report, "--programs", args.programs, "--staged", args.staged,
                             "--labels", args.labels, "--certification", missing_certification,
                             "--bench-frames", "40", "--eval-frames", "20", "--detect-frames", "12",
                             "--out", page_path, "--keep", raw], capture_output=True, text=True, timeout=300)
    last_line = (report.stderr.strip().splitlines() or [""])[-1]
    if not check(report.returncode == 2 and os.path.isfile(page_path) and "but it is incomplete: Certification "
                 "program not run" in last_line, "helmet-report exit status %d (2 and incomplete expected):\n%s" % (
                     report.returncode, report.stderr)):
        print("\n".join(problems))
        return 1
    with open(page_path, encoding="utf-8") as page:
        check_self_contained(page.read())

    with tempfile.TemporaryDirectory() as profile:
        browser = Browser(executable, profile)
        try:
            control = os.path.join(args.work, "control.html")
            with open(control, "w") as page:
                page.write('<img src="http://report-check.invalid/x.png">')
            check("http://report-check.invalid/x.png" in browser.load("file://" + control),
                  "the control page's external image was not seen: the request check is blind")

            page_url = "file://" + page_path
            requests = browser.load(page_url)
            outside = [url[:100] for url in requests if url != page_url and not url.startswith("data:")]
            check(not outside, "the page requested %s" % outside)
            heights = browser.evaluate("Array.from(document.querySelectorAll('section'), "
                                       "s => [s.id, s.getBoundingClientRect().height])")
            for anchor, height in heights:
                check(height > 20, "section %s is not shown (%.0f px high)" % (anchor, height))
            check_sections(browser.evaluate("document.documentElement.outerHTML"), raw, args.library,
                           missing_certification)
            width, window = browser.evaluate(OVERFLOW)
            check(width <= window, "the page is %d px wide in a %d px window" % (width, window))
            if args.screenshot:
                browser.screenshot(args.screenshot)
            check_recorded_failures(browser, args.work)
        finally:
            browser.close()

    print("\n".join(problems) or "report checked in chromium: every section, no external request")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
