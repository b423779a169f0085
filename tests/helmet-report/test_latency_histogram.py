"""The latency histogram: its bins, and the SVG drawn from helmet-bench's
recorded latencies (40 measured calls, data/latencies.txt)."""

import re
import unittest

import recorded
from latency_histogram import LEFT, RIGHT, WIDTH, bin_counts, histogram_svg


def bars(svg):
    """(from ms, to ms, calls) of each bar, from its tooltip."""
    return [(float(low), float(high), int(calls))
            for low, high, calls in re.findall(r"<title>([\d.]+)-([\d.]+) ms: (\d+) calls</title>", svg)]


class Bins(unittest.TestCase):
    def test_equal_bins_from_smallest_to_largest_the_largest_in_the_last(self):
        self.assertEqual(bin_counts([1.0, 2.0, 3.0, 4.0, 5.0], 4), (1.0, 1.0, [1, 1, 1, 2]))
        self.assertEqual(bin_counts([10.0, 10.4, 19.9, 20.0], 2), (10.0, 5.0, [2, 2]))

    def test_equal_values_fill_the_first_bin_without_dividing_by_zero(self):
        self.assertEqual(bin_counts([7.5], 5), (7.5, 1.0, [1, 0, 0, 0, 0]))
        self.assertEqual(bin_counts([7.5, 7.5, 7.5], 5)[2], [3, 0, 0, 0, 0])


class Drawing(unittest.TestCase):
    def test_recorded_latencies_every_call_in_a_bar_whose_range_holds_it(self):
        latencies = [float(line) for line in recorded.text("latencies.txt").split()]
        drawn = bars(histogram_svg(latencies))
        self.assertEqual(len(drawn), 12)  # 2 * floor(sqrt(40)) bins
        self.assertEqual(sum(calls for _, _, calls in drawn), len(latencies))
        for low, high, calls in drawn:
            inside = [ms for ms in latencies if low - 0.005 <= ms < high + 0.005]
            self.assertGreaterEqual(len(inside), calls, (low, high))
        self.assertAlmostEqual(drawn[0][0], min(latencies), places=2)
        self.assertAlmostEqual(drawn[-1][1], max(latencies), places=2)

    def test_markers_lie_where_their_value_is_on_the_axis(self):
        latencies = [10.0, 20.0, 30.0]
        svg = histogram_svg(latencies, [("p50", 20.0), ("p99", 30.0)])
        xs = [float(x) for x in re.findall(r'<line class="marker" x1="([\d.]+)"', svg)]
        self.assertEqual(xs, [LEFT + (WIDTH - LEFT - RIGHT) / 2, WIDTH - RIGHT])
        self.assertIn(">p99</text>", svg)

    def test_a_single_call_is_one_full_bar_and_no_calls_say_so(self):
        self.assertEqual([calls for _, _, calls in bars(histogram_svg([12.0]))], [1, 0, 0, 0, 0])
        self.assertEqual(histogram_svg([]), "<p>No latencies were measured.</p>")


if __name__ == "__main__":
    unittest.main()
