import gc
import os

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
    gc.collect()
    velksnmp.pump_messages()
    # A successful call clears any error record left on the thread.
    velksnmp.Dispatch("Velk.Strings").Count
    gc.collect()
    return velksnmp._live_objects()


@pytest.fixture
def no_leaks():
    before = live_objects()
    yield
    assert live_objects() == before


@pytest.fixture
def mibs_dir():
    path = os.environ.get("VELK_MIBS_DIR") or os.path.join(
        os.path.dirname(__file__), "..", "..", "..", "shared", "mibs")
    if not os.path.isdir(path):
        pytest.skip("no MIB folder")
    return path
