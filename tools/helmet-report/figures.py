"""Numbers as people write them: the one place the page turns a figure into text."""

import math
import re

# GoogleTest and JSON writers print a double with 17 significant digits
# (0.93 reads 0.93000000000000005); 15 or more after the point is that case.
_LONG_NUMBER = re.compile(r"(?<![\w.])-?\d+\.\d{15,}(?:[eE][-+]?\d+)?(?![\w.])")


def figure(value, decimals=None, unit=""):
    """`value` with `decimals` places, or else in the shortest form that reads
    back as the same number (0.93, 300, 1e-05); "-" when there is none."""
    if value is None or isinstance(value, bool):
        return "-"
    try:
        number = float(value)
    except (TypeError, ValueError):
        return "-"
    if math.isnan(number):
        return "n/a"
    if math.isinf(number):
        return "-inf" if number < 0 else "inf"
    if decimals is not None:
        text = "%.*f" % (decimals, number)
    elif number.is_integer() and abs(number) < 1e15:
        text = "%d" % number
    else:
        text = repr(number)
    return text + unit


def plain_numbers(text):
    """A program's text with every long rendering of a double in its shortest
    form; the number itself is unchanged."""
    return _LONG_NUMBER.sub(lambda match: figure(match.group(0)), text)


def number(text):
    """A recorded figure's text as a float, or None when it is not one."""
    try:
        return float(text)
    except (TypeError, ValueError):
        return None
