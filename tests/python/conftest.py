import importlib
import inspect
import os
import pathlib
import re
import sys

import pytest
from hypothesis import HealthCheck, settings

# Property tests draw the same examples on every run (seeded from each test's own code),
# and neither a slow example nor slow data generation counts as a failure: a loaded
# machine or a sanitizer slows both, and a test must not fail on correct code for it.
settings.register_profile("vantrel", derandomize=True, database=None, deadline=None,
                          suppress_health_check=[HealthCheck.too_slow])
settings.load_profile("vantrel")

ROOT = pathlib.Path(__file__).resolve().parents[2]


# Set by `make pytest-asan`, which runs this suite against the sanitized extension.
UNDER_SANITIZER = os.environ.get("VANTREL_SANITIZED") == "1"
RESIDENT_MEMORY = re.compile(r"resident|rss|statm", re.IGNORECASE)
COPES_WITH_SANITIZER = re.compile(r"asan|sanitiz", re.IGNORECASE)


def pytest_configure(config):
    config.addinivalue_line(
        "markers", "sanitizer_aware: a test reading resident memory that copes with a sanitizer itself")


def pytest_collection_modifyitems(config, items):
    """Under the address sanitizer freed memory waits in its quarantine, so resident
    memory grows whatever the code does: tests that measure it are skipped there,
    unless they are marked sanitizer_aware or check for the sanitizer themselves."""
    if not UNDER_SANITIZER:
        return
    skip = pytest.mark.skip(reason="resident memory is not measurable under the address sanitizer")
    for item in items:
        function = getattr(item, "function", None)
        if function is None or item.get_closest_marker("sanitizer_aware") is not None:
            continue
        try:
            source = inspect.getsource(function)
        except (OSError, TypeError):
            continue
        if RESIDENT_MEMORY.search(source) and not COPES_WITH_SANITIZER.search(source):
            item.add_marker(skip)


def cpp_build_dir() -> pathlib.Path:
    return pathlib.Path(os.environ.get("VANTREL_CPP_BUILD", ROOT / "build" / "cpp"))


def load_test_module(name: str, what: str):
    """Imports a test-only extension built beside the C++ suite, or skips."""
    directory = cpp_build_dir() / "bindings" / "python"
    if not (directory / f"{name}.abi3.so").exists():
        pytest.skip(f"{what} not built in {directory}")
    sys.path.insert(0, str(directory))
    try:
        return importlib.import_module(name)
    finally:
        sys.path.remove(str(directory))


@pytest.fixture(scope="session")
def testkit():
    """The test-only toolkit module."""
    return load_test_module("_vantrel_testkit", "toolkit test module")


@pytest.fixture(scope="session")
def probe():
    """The test-only module that drives the shared argument conversions."""
    return load_test_module("_vantrel_probe", "conversion probe module")
