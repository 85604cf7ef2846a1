"""The package's build backend: scikit-build-core, handed a CMake that answers.

scikit-build-core asks the first `cmake` on PATH for its version and gives up after five
seconds. A version-manager shim (pyenv's, for one) can take longer than that on a loaded
machine, and the build then finds no CMake at all although a good one is installed. So before
each wheel hook this asks every `cmake` on PATH, in PATH order and for as long as it takes to
answer, which binary it runs and its version, and names the first one new enough for
CMakeLists.txt in CMAKE_EXECUTABLE, the variable scikit-build-core takes instead of its own
search. It names the binary itself, not the shim, so the backend's own question is answered
at once. A CMAKE_EXECUTABLE already set, or PyPI's `cmake` installed where the build runs
(which the backend prefers), is left to the backend; so is a machine where no `cmake` answers
in time, where the backend then asks for PyPI's `cmake` (an isolated build) or says it found
none.
"""

from __future__ import annotations

import functools
import importlib.util
import os
import pathlib
import re
import subprocess

from scikit_build_core import build as _backend

PRINT_CMAKE = pathlib.Path(__file__).with_name("print_cmake.cmake")
# Long enough for a shim on a machine under any load we build on; a cmake that has not
# answered by then is passed over, not waited for forever.
ANSWER_SECONDS = 120.0
MINIMUM = re.compile(r"cmake_minimum_required\s*\(\s*VERSION\s+([0-9]+(?:\.[0-9]+)*)", re.IGNORECASE)


def version_tuple(text: str) -> tuple[int, ...]:
    """(3, 25, 1) of "3.25.1" or "3.25.1-rc2": the leading numeric parts."""
    parts = []
    for part in text.split("-")[0].split("."):
        if not part.isdigit():
            break
        parts.append(int(part))
    return tuple(parts)


def minimum_version(cmakelists: pathlib.Path) -> tuple[int, ...]:
    """The version CMakeLists.txt asks for; () (any) when it names none or is missing."""
    try:
        found = MINIMUM.search(cmakelists.read_text(encoding="utf-8"))
    except OSError:
        return ()
    return version_tuple(found.group(1)) if found else ()


def cmake_candidates(path: str) -> list[str]:
    """Every `cmake`, then every `cmake3`, along `path` in its order, each file once."""
    found, seen = [], set()
    for name in ("cmake", "cmake3"):
        for directory in path.split(os.pathsep):
            candidate = os.path.join(directory or os.curdir, name)
            if os.path.isfile(candidate) and os.access(candidate, os.X_OK) and candidate not in seen:
                seen.add(candidate)
                found.append(candidate)
    return found


def identify(cmake: str, timeout: float) -> tuple[tuple[int, ...], str] | None:
    """(version, path of the binary that runs) as `cmake` reports them, or None when it does not
    answer within `timeout` seconds, fails, or answers something else."""
    try:
        run = subprocess.run([cmake, "-P", str(PRINT_CMAKE)], stdin=subprocess.DEVNULL, capture_output=True,
                             text=True, timeout=timeout)
    except (OSError, subprocess.SubprocessError):
        return None
    if run.returncode != 0:
        return None
    for line in reversed(run.stderr.splitlines()):  # a wrapper may print lines of its own first
        version, _, binary = line.strip().partition(";")
        if version_tuple(version) and os.path.isabs(binary) and os.access(binary, os.X_OK):
            return version_tuple(version), binary
    return None


def usable_cmake(minimum: tuple[int, ...], path: str, timeout: float = ANSWER_SECONDS) -> str | None:
    """The binary run by the first cmake on `path` that answers within `timeout` with a version
    of at least `minimum`, or None."""
    for candidate in cmake_candidates(path):
        answer = identify(candidate, timeout)
        if answer is not None and answer[0] >= minimum:
            return answer[1]
    return None


def name_cmake(environ=os.environ, source_dir: pathlib.Path | None = None) -> None:
    """Sets CMAKE_EXECUTABLE in `environ` to a usable CMake for the project in `source_dir` (the
    working directory, where the build runs) unless it is set already, PyPI's `cmake` is
    importable, or none answers."""
    if environ.get("CMAKE_EXECUTABLE"):
        return
    spec = importlib.util.find_spec("cmake")
    if spec is not None and spec.origin is not None:
        return
    cmake = usable_cmake(minimum_version((source_dir or pathlib.Path.cwd()) / "CMakeLists.txt"), environ.get("PATH", os.defpath))
    if cmake is not None:
        environ["CMAKE_EXECUTABLE"] = cmake


def _naming_cmake(hook):
    @functools.wraps(hook)
    def run(*args, **kwargs):
        name_cmake()
        return hook(*args, **kwargs)
    return run


# The hooks scikit-build-core offers, under the same names; an sdist needs no CMake.
__all__ = list(_backend.__all__)
globals().update({name: getattr(_backend, name) if "sdist" in name
                  else _naming_cmake(getattr(_backend, name)) for name in __all__})
