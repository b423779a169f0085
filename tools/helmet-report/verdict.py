"""The page's verdict and how helmet-report ends. A library's failure (a test
failed; a program crashed, failed or hit the time limit) is told apart from
what was not checked for a reason the user can fix (a program's user error, a
skipped test, a program or data that is not there): nothing passes silently."""

from html_page import text
from tool_exit import EXIT_DONE, EXIT_USER_ERROR

SHOWN_TESTS = 3  # failed or skipped tests named in one item


class Verdict:
    def __init__(self):
        self.failed = []  # the library's failures
        self.incomplete = []  # what was not checked, and why

    @property
    def state(self):
        return "failed" if self.failed else "incomplete" if self.incomplete else "passed"

    @property
    def exit_status(self):
        """0 when every check ran (whatever the library did), 2 when the user
        has something to fix before the page is whole."""
        return EXIT_USER_ERROR if self.incomplete else EXIT_DONE

    def not_run(self, what, reason):
        self.incomplete.append("%s not run: %s" % (what, reason))

    def program(self, what, run, output_read=True):
        """A tool's run; `output_read`: whether its report could be read."""
        if run.user_error:
            self.incomplete.append("%s stopped on a user error: %s" % (what, run.reason()))
        elif not run.succeeded:
            self.failed.append("%s did not finish: %s" % (what, run.outcome()))
        elif not output_read:
            self.failed.append("%s wrote no readable report (%s)" % (what, run.outcome()))

    def tests(self, title, suite, run):
        """A GoogleTest program's run and the outcome read from its report."""
        if run.user_error:
            self.incomplete.append("%s stopped on a user error: %s" % (title, run.reason()))
        elif suite.problem:
            self.failed.append("%s: %s (%s)" % (title, suite.problem, run.outcome()))
        elif suite.count("failed"):
            self.failed.append("%s: %s" % (title, _tests("failed", suite.named("failed"))))
        elif not run.succeeded:  # e.g. the library crashed the program after its last test
            self.failed.append("%s: no test failed, but %s" % (title, run.outcome()))
        skipped = suite.named("skipped")
        if skipped and not run.user_error:
            reasons = sorted({test.messages[0] for test in skipped if test.messages and test.messages[0]})
            self.incomplete.append("%s: %s%s" % (title, _tests("skipped", skipped),
                                                 ": " + "; ".join(reasons[:2]) if reasons else ""))

    def html(self):
        if self.state == "passed":
            return '<p class="verdict passed">The library passed every test, and everything ran.</p>'
        if self.state == "failed":
            headline = "The library fails."
        else:
            headline = "Incomplete: no test failed, but not everything was checked, so this is no pass."
        items = ['<li class="failed">%s</li>' % text(item) for item in self.failed]
        items += ['<li class="skipped">%s%s</li>' % ("Not checked: " if self.failed else "", text(item))
                  for item in self.incomplete]
        return '<p class="verdict %s">%s</p><ul class="verdict %s">%s</ul>' % (self.state, headline, self.state,
                                                                              "".join(items))

    def line(self, page):
        """The last line helmet-report prints."""
        done = "helmet-report: wrote %s" % page
        if self.incomplete:
            fails = "; the library fails: %s" % "; ".join(self.failed) if self.failed else ""
            return "%s, but it is incomplete: %s%s" % (done, "; ".join(self.incomplete), fails)
        if self.failed:
            return "%s: the library fails: %s" % (done, "; ".join(self.failed))
        return "%s: the library passed every test, and everything ran" % done


def _tests(result, tests):
    names = ", ".join(test.name for test in tests[:SHOWN_TESTS]) + (", ..." if len(tests) > SHOWN_TESTS else "")
    return "%d %s (%s)" % (len(tests), result, names)
