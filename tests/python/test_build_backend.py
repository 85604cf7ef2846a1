"""The build backend names a CMake that answers, found along PATH as a user's shell would,
however slowly a wrapper in front of it answers; the package's build must not depend on how
loaded the machine is."""

import os
import pathlib
import shutil
import sys
import time

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tools"))
import vantrel_build_backend as backend  # noqa: E402

sys.path.remove(str(ROOT / "tools"))
REAL = shutil.which("cmake", path="/usr/bin:/bin") or shutil.which("cmake")


def real_identity():  # (version, binary) the real cmake reports
    return backend.identify(REAL, backend.ANSWER_SECONDS)


def fake(directory, name, body):
    """An executable shell script `name` in `directory`."""
    directory.mkdir(exist_ok=True)
    script = directory / name
    script.write_text("#!/bin/sh\n" + body + "\n", encoding="utf-8")
    script.chmod(0o755)
    return str(directory)


# Each row: the scripts put on PATH (directory, name, body), whether the real cmake's directory
# follows them, and whether the binary the real cmake runs must be named (else nothing is).
ROWS = {
    "a wrapper that runs the real one": ([("a", "cmake", f'exec "{REAL}" "$@"')], False, True),
    "a shim slower than the backend waits": ([("a", "cmake", f'sleep 6\nexec "{REAL}" "$@"')], False, True),
    "a wrapper that talks first": ([("a", "cmake", f'echo "pyenv: using 3.11" >&2\nexec "{REAL}" "$@"')], False, True),
    "too old, then the real one": ([("a", "cmake", 'echo "3.20.0;/bin/sh" >&2')], True, True),
    "a failing one, then the real one": ([("a", "cmake", 'echo "4.0.0;/bin/sh" >&2\nexit 1')], True, True),
    "garbage, then the real one": ([("a", "cmake", 'echo "cmake version 4.0.0" >&2')], True, True),
    "not executable, then the real one": ([("a", "cmake", f'exec "{REAL}" "$@"')], True, True),
    "only cmake3 answers": ([("a", "cmake", "exit 1"), ("b", "cmake3", f'exec "{REAL}" "$@"')], False, True),
    "only a too old one": ([("a", "cmake", 'echo "3.20.0;/bin/sh" >&2')], False, False),
    "nothing on PATH": ([], False, False),
}


@pytest.mark.parametrize("row", sorted(ROWS))
def test_the_first_usable_cmake_on_path_is_named_by_the_binary_it_runs(row, tmp_path):
    scripts, real_follows, named = ROWS[row]
    dirs = [fake(tmp_path / d, name, body) for d, name, body in scripts]
    if row.startswith("not executable"):
        (tmp_path / "a" / "cmake").chmod(0o644)
    version, binary = real_identity()
    environ = {"PATH": os.pathsep.join(dirs + ([os.path.dirname(REAL)] if real_follows else []))}
    backend.name_cmake(environ, ROOT)
    assert environ.get("CMAKE_EXECUTABLE") == (binary if named else None)
    assert version >= backend.minimum_version(ROOT / "CMakeLists.txt")


def test_a_cmake_that_does_not_answer_in_time_is_passed_over(tmp_path):
    hung = fake(tmp_path / "a", "cmake", "exec sleep 60")
    started = time.monotonic()
    assert backend.usable_cmake((3, 24), hung, timeout=0.5) is None
    assert time.monotonic() - started < 30


def test_a_named_cmake_or_pypi_cmake_is_left_to_the_backend(tmp_path, monkeypatch):
    environ = {"PATH": os.path.dirname(REAL), "CMAKE_EXECUTABLE": "/opt/mine/cmake"}
    backend.name_cmake(environ, ROOT)
    assert environ["CMAKE_EXECUTABLE"] == "/opt/mine/cmake"
    package = tmp_path / "site" / "cmake"
    package.mkdir(parents=True)
    (package / "__init__.py").write_text("CMAKE_BIN_DIR = ''\n", encoding="utf-8")
    monkeypatch.syspath_prepend(str(tmp_path / "site"))
    environ = {"PATH": os.path.dirname(REAL)}
    backend.name_cmake(environ, ROOT)
    assert "CMAKE_EXECUTABLE" not in environ


@pytest.mark.parametrize("text, version", [
    ("cmake_minimum_required(VERSION 3.24)", (3, 24)),
    ("CMAKE_MINIMUM_REQUIRED( VERSION 3.15.2...3.28 )", (3, 15, 2)),
    ("project(x)", ()),
])
def test_the_minimum_version_is_the_one_cmakelists_asks_for(text, version, tmp_path):
    (tmp_path / "CMakeLists.txt").write_text(text + "\n", encoding="utf-8")
    assert backend.minimum_version(tmp_path / "CMakeLists.txt") == version
    assert backend.version_tuple("3.25.1-rc2") == (3, 25, 1)


def test_the_wheel_hooks_name_a_cmake_before_scikit_build_core_looks(tmp_path, monkeypatch):
    from scikit_build_core import build
    wrapper = fake(tmp_path / "a", "cmake", f'exec "{REAL}" "$@"')
    monkeypatch.setenv("PATH", wrapper)
    monkeypatch.delenv("CMAKE_EXECUTABLE", raising=False)
    monkeypatch.chdir(ROOT)
    seen = backend._naming_cmake(lambda: os.environ.get("CMAKE_EXECUTABLE"))()
    assert seen == real_identity()[1]
    wheel_hooks = [name for name in build.__all__ if "sdist" not in name]
    assert wheel_hooks and all(getattr(backend, name).__wrapped__ is getattr(build, name) for name in wheel_hooks)
    assert backend.build_sdist is build.build_sdist and sorted(backend.__all__) == sorted(build.__all__)
    pyproject = (ROOT / "pyproject.toml").read_text(encoding="utf-8")
    assert 'build-backend = "vantrel_build_backend"' in pyproject and 'backend-path = ["tools"]' in pyproject
