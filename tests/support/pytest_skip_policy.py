"""pytest plugin (-p pytest_skip_policy): with CI set in the environment, a
test that skips fails unless .ci/allowed-skips lists its node id with a
reason. The list is VELTRA_ALLOWED_SKIPS when set, else the source tree's."""

import os
import re

import pytest

LIST = os.environ.get("VELTRA_ALLOWED_SKIPS") or os.path.join(
    os.path.dirname(os.path.abspath(__file__)), "..", "..", ".ci", "allowed-skips")


def allowed_skips(path):
    """{name: reason} from lines "NAME  reason" (two blanks or a tab between)."""
    allowed = {}
    try:
        with open(path, encoding="utf-8") as f:
            for line in f:
                line = line.rstrip("\r\n")
                m = re.match(r"([^#].*?)(?:\t|  )[ \t]*(\S.*)$", line)
                if m:
                    allowed[m.group(1)] = m.group(2)
    except FileNotFoundError:
        pass
    return allowed


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    outcome = yield
    report = outcome.get_result()
    if not report.skipped or not os.environ.get("CI") or hasattr(report, "wasxfail"):
        return
    if item.nodeid in allowed_skips(LIST):
        return
    reason = report.longrepr[2] if isinstance(report.longrepr, tuple) else str(report.longrepr)
    reason = reason[len("Skipped: "):] if reason.startswith("Skipped: ") else reason
    report.outcome = "failed"
    report.longrepr = "%s skipped (%s) with CI set, and %s does not list it with a reason" % (
        item.nodeid, reason, os.path.normpath(LIST))
