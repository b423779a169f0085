"""The training data's label mapping and held-out split: a wrong grown box or
a source photo in two parts would spoil every figure measured on them."""
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "training"))
from datasets import SITE_CLASSES, TOP_TO_HEAD, grow_to_chin, read_rows, site_part, site_source  # noqa: E402


class GrowToChinTest(unittest.TestCase):
    def test_keeps_top_and_width_and_grows_height(self):
        (c, cx, cy, w, h), = grow_to_chin([[1, 50.0, 20.0, 10.0, 8.0]], 100)
        self.assertEqual((c, cx, w), (1, 50.0, 10.0))
        self.assertAlmostEqual(cy - h / 2, 16.0)
        self.assertAlmostEqual(h, 8.0 * TOP_TO_HEAD)

    def test_stops_at_the_bottom_of_the_image(self):
        (_, _, cy, _, h), = grow_to_chin([[0, 50.0, 95.0, 10.0, 8.0]], 100)
        self.assertAlmostEqual(cy + h / 2, 100.0)
        self.assertAlmostEqual(cy - h / 2, 91.0)


class SitePartTest(unittest.TestCase):
    def test_copies_of_one_source_share_a_part(self):
        for source in ("-1670-_png_jpg", "002458_jpg", "2008_008364_jpg"):
            parts = {site_part(f"{source}.rf.{k:032x}.jpg") for k in range(5)}
            self.assertEqual(len(parts), 1)
            self.assertEqual(site_source(f"{source}.rf.ab.jpg"), source)

    def test_parts_have_about_their_shares(self):
        parts = [site_part(f"{k}_jpg.rf.0.jpg") for k in range(4000)]
        self.assertAlmostEqual(parts.count("test") / 4000, 0.15, delta=0.03)
        self.assertAlmostEqual(parts.count("held-out") / 4000, 0.15, delta=0.03)


class ReadRowsTest(unittest.TestCase):
    def test_maps_classes_drops_others_and_boxes_polygons(self):
        with tempfile.NamedTemporaryFile("w", suffix=".txt", delete=False) as f:
            f.write("0 0.5 0.5 0.2 0.1\n5 0.5 0.5 0.9 0.9\n2 0.1 0.1 0.3 0.1 0.3 0.3\n")
        try:
            rows = read_rows(f.name, SITE_CLASSES, 200, 100)
        finally:
            os.unlink(f.name)
        self.assertEqual(len(rows), 2)
        self.assertEqual([round(v, 3) for v in rows[0]], [0, 100.0, 50.0, 40.0, 10.0])
        self.assertEqual([round(v, 3) for v in rows[1]], [1, 40.0, 20.0, 40.0, 20.0])


if __name__ == "__main__":
    unittest.main()
