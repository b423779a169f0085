"""The certification program's site-camera figures: AP50 per camera condition
(a table and an inline SVG chart), false alarms, small objects, stability and
memory per call. Read from the properties its tests record; a figure that is
not there is left out, never a failure of the report."""

import re
from dataclasses import dataclass, field
from string import Formatter

from figures import figure, number
from html_page import not_run, section, table, text

ROBUSTNESS_TEST = "CertifiedRobustness.PhotosKeepTheirAp50WhenGrayDarkBlurredCompressedOrShrunk"
CONDITION_SUFFIX = "_mean_ap50"
CONDITIONS = {"gray": "grayscale", "dark": "low light", "motion": "motion blur", "defocus": "defocus blur",
              "jpeg": "JPEG quality 20", "half": "half size"}
# The console line of the robustness test holds what no property does: the
# clean AP50 and the floors.
_LINE = re.compile(r"^\[certification\] robustness, (\d+) photos: clean mean AP50 ([^;\s]+)(.*)$", re.M)
_FLOORS = re.compile(r"(?:^|; )(\w+) \S+ \(floor (\S+)\), kept \S+ \(floor (\S+)\)")

# (test, or a suite's name and "."), property (a trailing "_": each property
# so named, the rest of its name filling {}), what it is, decimals, unit.
# {name} in the text is another property of the same test ("many" when absent).
FIGURES = (
    ("CertifiedRobustness.ImagesWithoutHardHatsRaiseFewHelmetAlarms", "false_helmets_per_image",
     '"helmet" boxes per image without a hard hat', 3, ""),
    ("CertifiedRobustness.SmallHeadsOfThePhotosMeetTheAp50Floors", "small_ap50_",
     "AP50 of small {} (under 32x32 px) in the photos", 3, ""),
    ("CertifiedStability.", "dropout_share", "share of tracked objects that drop out and return", 3, ""),
    ("CertifiedStability.", "jitter_share", "frame-to-frame box jitter", 3, ""),
    ("CertifiedResources.ResidentMemoryStaysFlatOverManyInferenceCalls", "memory_growth_mb",
     "resident memory growth over {calls} inference calls", 3, " MB"),
    ("CertifiedResources.ResidentMemoryStaysFlatOverInitializeDestroyCycles", "memory_growth_mb",
     "resident memory growth over {cycles} Initialize/Destroy cycles", 3, " MB"),
    ("CertifiedResources.P99LatencyOverVideoFramesStaysUnderBudget", "p99_ms",
     "p99 latency over {frames} video frames", 2, " ms"),
    ("CertifiedConcurrency.CallsOnVeryLargeFramesRunSideBySide", "side_by_side_slowdown",
     "slowdown of two threads' calls on 3840x2160 frames side by side", 2, " x"),
)


@dataclass
class Condition:
    name: str
    ap50: float
    floor: float = None
    kept: float = None  # share of the clean AP50
    kept_floor: float = None
    failed: bool = False


@dataclass
class Robustness:
    result: str  # the robustness test's result
    clean: float = None  # mean AP50 of the unchanged photos
    photos: int = None
    conditions: list = field(default_factory=list)


def read_robustness(suite, stdout):
    """The robustness test's figures, or None when it did not run."""
    test = suite.test(ROBUSTNESS_TEST) if suite else None
    if test is None:
        return None
    robustness = Robustness(test.result)
    line = _LINE.search(stdout)
    floors = {}
    if line:
        robustness.photos, robustness.clean = int(line.group(1)), number(line.group(2))
        floors = {name: (number(floor), number(kept)) for name, floor, kept in _FLOORS.findall(line.group(3))}
    for key, value in test.properties.items():
        ap50 = number(value)
        if not key.endswith(CONDITION_SUFFIX) or ap50 is None:
            continue
        name = key[:-len(CONDITION_SUFFIX)]
        floor, kept_floor = floors.get(name, (None, None))
        condition = Condition(name, ap50, floor=floor, kept_floor=kept_floor)
        if robustness.clean:
            condition.kept = ap50 / robustness.clean
        # Its failure texts begin "<condition>: " (mean AP50 or share under the floor).
        condition.failed = any(re.search(r"^%s: " % re.escape(name), message, re.M) for message in test.messages)
        robustness.conditions.append(condition)
    return robustness


def site_figures(suite):
    """(what, value text, property, the test's result) of every figure in FIGURES that was recorded."""
    rows = []
    for test_name, key, what, decimals, unit in FIGURES:
        for test in suite.tests if suite else []:
            if test.name != test_name and not (test_name.endswith(".") and test.name.startswith(test_name)):
                continue
            names = [k for k in test.properties if k.startswith(key)] if key.endswith("_") else \
                [key] if key in test.properties else []
            for name in names:
                fields = {field_name: test.properties.get(field_name, "many")
                          for _, field_name, _, _ in Formatter().parse(what) if field_name}
                label = what.replace("{}", name[len(key):]).format(**fields)
                rows.append((label, figure(number(test.properties[name]), decimals, unit), name, test.result))
    return rows


def chart_svg(robustness):
    """Horizontal bars of AP50 per condition on a 0 to 1 axis, each floor a
    tick across its bar, the clean AP50 a dashed line."""
    left, right, top, bar, gap = 100, 50, 12, 18, 10
    width = 400
    plot = width - left - right
    height = top + len(robustness.conditions) * (bar + gap) + 30

    def x_of(value):
        return left + max(0.0, min(1.0, value)) * plot

    parts = ['<svg class="chart" width="%d" height="%d" viewBox="0 0 %d %d" role="img" '
             'aria-label="mean AP50 per camera condition">' % (width, height, width, height)]
    for index, condition in enumerate(robustness.conditions):
        y = top + index * (bar + gap)
        failed = ' class="failed"' if condition.failed else ""
        parts.append('<text%s x="%d" y="%.1f" text-anchor="end">%s</text>' % (
            failed, left - 6, y + bar * 0.75, text(CONDITIONS.get(condition.name, condition.name))))
        parts.append('<rect class="bar%s" x="%d" y="%d" width="%.1f" height="%d"><title>%s: mean AP50 %s</title>'
                     '</rect>' % (" failed" if condition.failed else "", left, y, x_of(condition.ap50) - left, bar,
                                  text(condition.name), figure(condition.ap50, 3)))
        parts.append('<text%s x="%.1f" y="%.1f">%s</text>' % (failed, x_of(condition.ap50) + 4, y + bar * 0.75,
                                                             figure(condition.ap50, 3)))
        if condition.floor is not None:
            parts.append('<line class="floor" x1="%.1f" y1="%d" x2="%.1f" y2="%d"><title>floor %s</title></line>' % (
                x_of(condition.floor), y - 2, x_of(condition.floor), y + bar + 2, figure(condition.floor)))
    axis_y = top + len(robustness.conditions) * (bar + gap)
    parts.append('<line class="axis" x1="%d" y1="%d" x2="%d" y2="%d"/>' % (left, axis_y, left + plot, axis_y))
    for tick in (0.0, 0.25, 0.5, 0.75, 1.0):
        parts.append('<text x="%.1f" y="%d" text-anchor="middle">%s</text>' % (x_of(tick), axis_y + 14,
                                                                               figure(tick)))
    if robustness.clean is not None:
        parts.append('<line class="clean" x1="%.1f" y1="%d" x2="%.1f" y2="%d"/><text class="clean" x="%.1f" y="%d">'
                     'clean %s</text>' % (x_of(robustness.clean), top - 4, x_of(robustness.clean), axis_y,
                                          x_of(robustness.clean) + 3, axis_y + 26, figure(robustness.clean, 3)))
    parts.append("</svg>")
    return "".join(parts)


def robustness_section(suite, stdout, reason_not_run=""):
    title = "Robustness and site-camera figures (certification)"
    if suite is None:
        return section("robustness", title, not_run(reason_not_run))
    robustness = read_robustness(suite, stdout)
    body = ""
    if robustness is None or not robustness.conditions:
        body += '<p class="notrun">No AP50 per camera condition: %s %s.</p>' % (
            text(ROBUSTNESS_TEST), "did not run" if robustness is None else
            "recorded none (%s)" % robustness.result)
    else:
        rows = [(text(CONDITIONS.get(c.name, c.name)), figure(c.ap50, 3), figure(c.floor),
                 figure(c.kept, 3), figure(c.kept_floor),
                 '<span class="%s">%s</span>' % (("failed", "under a floor") if c.failed else ("passed", "ok")))
                for c in robustness.conditions]
        clean = "" if robustness.clean is None else "; clean mean AP50 %s" % figure(robustness.clean, 3)
        body += '<p>Mean AP50 of the %s photos under simulated camera conditions%s (test %s).</p>' % (
            robustness.photos or "", clean, '<span class="%s">%s</span>' % (robustness.result, robustness.result))
        body += '<div class="side-by-side">%s%s</div>' % (
            table(("condition", "mean AP50", "floor", "share of clean", "floor", ""), rows, numeric_from=1),
            chart_svg(robustness))
    figures = site_figures(suite)
    if figures:
        body += "<h3>False alarms, small objects, stability and memory</h3>" + table(
            ("figure", "recorded as", "test", "value"),
            [(text(what), "<code>%s</code>" % text(name), '<span class="%s">%s</span>' % (result, result), value)
             for what, value, name, result in figures], numeric_from=3)
    return section("robustness", title, body)
