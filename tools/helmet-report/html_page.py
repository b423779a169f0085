"""The report as one self-contained HTML page: styles, images and the
histogram are inline, so the page makes no request of its own."""

import base64
from html import escape

from figures import plain_numbers

STYLE = """
body { font: 14px/1.4 sans-serif; margin: 24px; max-width: 1100px; color: #222; overflow-wrap: break-word; }
h1 { font-size: 22px; margin-bottom: 4px; } h2 { font-size: 18px; border-bottom: 1px solid #ccc; margin-top: 28px; }
table { border-collapse: collapse; margin: 8px 0; max-width: 100%; } td, th { border: 1px solid #ddd;
padding: 3px 8px; text-align: left; vertical-align: top; } th { background: #f3f3f3; }
td.num { text-align: right; font-variant-numeric: tabular-nums; }
.passed { color: #17692b; } .failed { color: #b00020; font-weight: bold; } .skipped { color: #8a6d00; }
.verdict { padding: 8px 12px; border-radius: 4px; font-weight: bold; }
.verdict.passed { background: #e5f4e8; } .verdict.failed { background: #fbe4e7; }
.verdict.incomplete { background: #fdf1d0; color: #6b5200; } p.verdict { margin-bottom: 0; }
ul.verdict { margin: 0; padding: 0 12px 8px 36px; border-radius: 0 0 4px 4px; font-weight: normal; }
.notrun { color: #666; font-style: italic; } pre { background: #f7f7f7; padding: 6px; white-space: pre-wrap;
overflow-wrap: anywhere; margin: 2px 0; font-size: 12px; } code { font-size: 12px; word-break: break-all; }
svg.histogram rect.bar, svg.chart rect.bar { fill: #4a78b5; } svg.histogram .axis, svg.chart .axis { stroke: #333; }
svg.histogram line.marker { stroke: #b00020; stroke-dasharray: 4 3; } svg.histogram text.marker { fill: #b00020; }
svg.histogram text, svg.chart text { font-size: 11px; fill: #333; } .curves img { max-width: 48%; margin-right: 1%; }
svg.chart rect.bar.failed { fill: #b00020; } svg.chart text.failed { fill: #b00020; font-weight: bold; }
svg.chart line.floor { stroke: #222; stroke-width: 2; }
svg.chart line.clean { stroke: #17692b; stroke-dasharray: 4 3; } svg.chart text.clean { fill: #17692b; }
.side-by-side { display: flex; flex-wrap: wrap; gap: 24px; align-items: flex-start; }
img.sheet { max-width: 100%; }
"""

# Runs in the browser: reports images that did not decode, so that a check
# can read the outcome from the rendered page.
IMAGE_CHECK = """
window.addEventListener("load", function () {
  var broken = Array.prototype.filter.call(document.images, function (image) {
    return !image.complete || image.naturalWidth === 0;
  }).map(function (image) { return image.alt; });
  document.body.setAttribute("data-images", document.images.length + " images, " + broken.length + " broken" +
    (broken.length ? ": " + broken.join(", ") : ""));
});
"""


def text(value):
    return escape(str(value))


def png_data_uri(path):
    with open(path, "rb") as image:
        return "data:image/png;base64," + base64.b64encode(image.read()).decode("ascii")


def image(path, alt, css_class=""):
    return '<img class="%s" alt="%s" src="%s">' % (css_class, text(alt), png_data_uri(path))


def table(header, rows, numeric_from=None):
    """`rows` hold HTML; columns from `numeric_from` on are right-aligned numbers; no `header`: no header row."""
    cells = ["<table>"]
    if header:
        cells.append("<tr>%s</tr>" % "".join("<th>%s</th>" % text(name) for name in header))
    for row in rows:
        cells.append("<tr>%s</tr>" % "".join(
            '<td class="num">%s</td>' % cell if numeric_from is not None and index >= numeric_from
            else "<td>%s</td>" % cell for index, cell in enumerate(row)))
    cells.append("</table>")
    return "".join(cells)


def not_run(reason):
    return '<p class="notrun">Not run: %s</p>' % text(reason)


def run_failure(run, what):
    """What a program that did not finish its job left: how it ended and its error output."""
    tail = plain_numbers("\n".join(run.stderr.strip().splitlines()[-20:]))
    return ('<p class="failed">%s did not finish: %s.</p><pre>%s</pre>' % (text(what), text(run.outcome()), text(tail)))


def section(anchor, title, body):
    return '<section id="%s"><h2>%s</h2>%s</section>' % (anchor, text(title), body)


def page(title, header_html, sections):
    return ("<!DOCTYPE html><html lang=\"en\"><head><meta charset=\"utf-8\"><title>%s</title><style>%s</style>"
            "<script>%s</script></head><body><h1>%s</h1>%s%s</body></html>\n"
            % (text(title), STYLE, IMAGE_CHECK, text(title), header_html, "".join(sections)))
