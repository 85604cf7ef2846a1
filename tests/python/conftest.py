import importlib
import os
import pathlib
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]

# The suite also runs with AddressSanitizer preloaded. Its allocator keeps freed blocks in
# quarantine, so resident size grows with churn and says nothing about leaks there.
UNDER_ASAN = "libasan" in os.environ.get("LD_PRELOAD", "")


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
