"""One progress line per program on standard error, by the C++ tools' rule
(src/tools-common/ProgressLine.h): on a terminal the line is rewritten in place
with the seconds so far and ends with how the program ended; in a log or a
pipe it is one plain line when the program starts, with no carriage returns."""

import sys


class Progress:
    def __init__(self, total, stream=None, terminal=None):
        self.total, self.stream, self.done = total, stream or sys.stderr, 0
        self.terminal = self.stream.isatty() if terminal is None else terminal
        self.name = ""

    def _prefix(self):
        return "helmet-report: [%d/%d] %s" % (self.done + 1, self.total, self.name)

    def start(self, name):
        self.name = name
        if self.terminal:
            self._show("%s ..." % self._prefix())
        else:
            self.stream.write("%s ...\n" % self._prefix())
            self.stream.flush()

    def tick(self, seconds):
        if self.terminal:
            self._show("%s ... %.0f s" % (self._prefix(), seconds))

    def finish(self, outcome):
        if self.terminal:
            self._show("%s: %s" % (self._prefix(), outcome))
            self.stream.write("\n")
            self.stream.flush()
        self.done += 1

    def _show(self, line):
        # The trailing blanks wipe the end of a longer previous line.
        self.stream.write("\r%s   " % line)
        self.stream.flush()
