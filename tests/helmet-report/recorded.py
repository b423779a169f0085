"""What the unit tests share: helmet-report's modules on the import path and
the recorded inputs under data/."""

import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, os.pardir, os.pardir, "tools", "helmet-report"))
DATA = os.path.join(HERE, "data")


def path(name):
    return os.path.join(DATA, name)


def text(name):
    with open(path(name), encoding="utf-8") as recorded:
        return recorded.read()
