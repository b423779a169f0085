"""A GoogleTest program's outcome per test, from its JSON report and its output."""

import json
import re
from dataclasses import dataclass, field

# A test's own fields in the JSON report; every other field is a property it recorded.
_TEST_FIELDS = {"name", "value_param", "type_param", "file", "line", "status", "result", "timestamp", "time",
                "classname", "failures"}


@dataclass
class TestOutcome:
    name: str  # Suite.Test
    result: str  # "passed", "failed" or "skipped"
    seconds: float
    messages: list = field(default_factory=list)  # failure texts, or the skip message
    properties: dict = field(default_factory=dict)  # RecordProperty's name -> text


@dataclass
class SuiteOutcome:
    tests: list
    problem: str = ""  # set when the program's report is missing or unreadable

    def count(self, result):
        return sum(1 for test in self.tests if test.result == result)

    def named(self, result):
        return [test for test in self.tests if test.result == result]

    def test(self, name):
        """The test `name` (Suite.Test), or None when it did not run."""
        return next((test for test in self.tests if test.name == name), None)

    @property
    def passed_all(self):
        return not self.problem and self.count("failed") == 0


def read_outcome(json_path, stdout):
    """The tests in run order. GoogleTest 1.12 leaves skip messages out of the
    JSON report, so they are taken from the console output."""
    try:
        with open(json_path, encoding="utf-8") as report_file:
            report = json.load(report_file)
    except FileNotFoundError:
        return SuiteOutcome([], "the program wrote no test report")
    except (OSError, ValueError) as error:
        return SuiteOutcome([], "the test report cannot be read: %s" % error)
    skip_messages = _skip_messages(stdout)
    tests = []
    for suite in report.get("testsuites", []):
        for test in suite.get("testsuite", []):
            name = "%s.%s" % (suite.get("name"), test.get("name"))
            failures = [failure.get("failure", "") for failure in test.get("failures", [])]
            if failures:
                result, messages = "failed", failures
            elif test.get("result") == "SKIPPED":
                result, messages = "skipped", [skip_messages.get(name, "")]
            else:
                result, messages = "passed", []
            properties = {key: str(value) for key, value in test.items() if key not in _TEST_FIELDS}
            tests.append(TestOutcome(name, result, _seconds(test.get("time", "0s")), messages, properties))
    return SuiteOutcome(tests)


def _skip_messages(stdout):
    messages = {}
    for block in re.finditer(r"^\[ RUN      \] (\S+)\n(.*?)^\[  SKIPPED \] \1", stdout, re.S | re.M):
        text = re.sub(r"^.*?: Skipped\n", "", block.group(2), flags=re.S)
        messages[block.group(1)] = text.strip()
    return messages


def _seconds(text):
    try:
        return float(str(text).rstrip("s"))
    except ValueError:
        return 0.0
