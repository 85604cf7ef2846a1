import os
import pathlib
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]


def cpp_build_dir() -> pathlib.Path:
    return pathlib.Path(os.environ.get("VANTREL_CPP_BUILD", ROOT / "build" / "cpp"))


@pytest.fixture(scope="session")
def testkit():
    """The test-only toolkit module, built beside the C++ suite."""
    directory = cpp_build_dir() / "bindings" / "python"
    if not (directory / "_vantrel_testkit.abi3.so").exists():
        pytest.skip(f"toolkit test module not built in {directory}")
    sys.path.insert(0, str(directory))
    try:
        import _vantrel_testkit
    finally:
        sys.path.remove(str(directory))
    return _vantrel_testkit


@pytest.fixture(scope="session")
def probe():
    """The test-only module that drives the shared argument conversions."""
    directory = cpp_build_dir() / "bindings" / "python"
    if not (directory / "_vantrel_probe.abi3.so").exists():
        pytest.skip(f"conversion probe module not built in {directory}")
    sys.path.insert(0, str(directory))
    try:
        import _vantrel_probe
    finally:
        sys.path.remove(str(directory))
    return _vantrel_probe
