import gc
import os
import sys

import pytest

import velksnmp

REGISTERED = {c.progid for c in velksnmp.classes() if c.registered}


def require(*progids):
    """Skips the test while a class is not registered yet."""
    missing = [p for p in progids if p not in REGISTERED]
    if missing:
        pytest.skip("not registered yet: " + ", ".join(missing))


def live_objects():
    """The library's live objects once Python garbage and pending loop work are gone."""
    # pytest keeps the last failure (with its frames) for post-mortem debugging.
    for name in ("last_type", "last_value", "last_traceback"):
        if hasattr(sys, name):
            delattr(sys, name)
    gc.collect()
    velksnmp.pump_messages()
    # A successful call clears any error record left on the thread.
    velksnmp.Dispatch("Velk.Strings").Count
    gc.collect()
    return velksnmp._live_objects()


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    outcome = yield
    report = outcome.get_result()
    if report.when == "call":
        item.call_failed = report.failed


@pytest.fixture
def no_leaks(request):
    """Checks that the test leaves no object of the library alive."""
    before = live_objects()
    yield
    if not getattr(request.node, "call_failed", False):  # a failure's frames hold objects
        assert live_objects() == before


@pytest.fixture
def mibs_dir():
    path = os.environ.get("VELK_MIBS_DIR") or os.path.join(
        os.path.dirname(__file__), "..", "..", "..", "shared", "mibs")
    if not os.path.isdir(path):
        pytest.skip("no MIB folder")
    return path
