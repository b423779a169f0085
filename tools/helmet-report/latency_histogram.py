"""The per-call latencies as an inline SVG histogram."""

import math
from html import escape

from figures import figure

WIDTH, HEIGHT = 640, 260
LEFT, RIGHT, TOP, BOTTOM = 56, 16, 16, 44  # margins around the plot area


def bin_counts(latencies, bins):
    """Counts of `latencies` in `bins` equal bins from the smallest to the largest."""
    low, high = min(latencies), max(latencies)
    width = (high - low) / bins or 1.0
    counts = [0] * bins
    for value in latencies:
        counts[min(int((value - low) / width), bins - 1)] += 1
    return low, width, counts


def histogram_svg(latencies, markers=()):
    """`markers`: (label, milliseconds) drawn as vertical lines, e.g. the p99."""
    if not latencies:
        return "<p>No latencies were measured.</p>"
    bins = max(5, min(40, int(math.sqrt(len(latencies))) * 2))
    low, bin_width, counts = bin_counts(latencies, bins)
    plot_w, plot_h = WIDTH - LEFT - RIGHT, HEIGHT - TOP - BOTTOM
    tallest = max(counts)

    def x_of(ms):
        return LEFT + (ms - low) / (bin_width * bins) * plot_w

    parts = ['<svg class="histogram" width="%d" height="%d" '
             'viewBox="0 0 %d %d" role="img" aria-label="latency histogram">' % (WIDTH, HEIGHT, WIDTH, HEIGHT)]
    for index, count in enumerate(counts):
        bar_h = count / tallest * plot_h
        parts.append('<rect class="bar" x="%.1f" y="%.1f" width="%.1f" height="%.1f"><title>%s-%s ms: %d calls'
                     '</title></rect>' % (LEFT + index * plot_w / bins + 0.5, TOP + plot_h - bar_h,
                                          max(plot_w / bins - 1, 0.5), bar_h, figure(low + index * bin_width, 2),
                                          figure(low + (index + 1) * bin_width, 2), count))
    parts.append('<line class="axis" x1="%d" y1="%d" x2="%d" y2="%d"/>' % (LEFT, TOP + plot_h, LEFT + plot_w,
                                                                          TOP + plot_h))
    parts.append('<line class="axis" x1="%d" y1="%d" x2="%d" y2="%d"/>' % (LEFT, TOP, LEFT, TOP + plot_h))
    for tick in range(5):
        ms = low + tick * bin_width * bins / 4
        parts.append('<text x="%.1f" y="%d" text-anchor="middle">%s</text>' % (x_of(ms), TOP + plot_h + 16,
                                                                               figure(ms, 2)))
    parts.append('<text x="%d" y="%d" text-anchor="middle">latency per call (ms)</text>' % (LEFT + plot_w / 2,
                                                                                           HEIGHT - 6))
    parts.append('<text x="%d" y="%d" text-anchor="end">%d</text>' % (LEFT - 6, TOP + 10, tallest))
    parts.append('<text x="%d" y="%d" text-anchor="end">0</text>' % (LEFT - 6, TOP + plot_h))
    parts.append('<text x="14" y="%d" transform="rotate(-90 14 %d)" text-anchor="middle">calls</text>'
                 % (TOP + plot_h / 2, TOP + plot_h / 2))
    for label, ms in markers:
        x = x_of(ms)
        parts.append('<line class="marker" x1="%.1f" y1="%d" x2="%.1f" y2="%d"/>' % (x, TOP, x, TOP + plot_h))
        parts.append('<text class="marker" x="%.1f" y="%d">%s</text>' % (x + 3, TOP + 12, escape(label)))
    parts.append("</svg>")
    return "".join(parts)
