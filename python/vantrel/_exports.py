"""Helpers that spread the extension's names over the package's submodules."""

from __future__ import annotations

from . import _vantrel

# The extension's exception types, in its own order: the module is the one list.
EXCEPTION_NAMES = tuple(
    name
    for name in _vantrel.__all__
    if isinstance(getattr(_vantrel, name), type) and issubclass(getattr(_vantrel, name), BaseException)
)


def classes_of(module_name: str) -> dict[str, type]:
    """The extension's classes whose ``__module__`` is ``module_name``, in registration order."""
    found = {}
    for name in _vantrel.__all__:
        obj = getattr(_vantrel, name)
        if isinstance(obj, type) and name not in EXCEPTION_NAMES and obj.__module__ == module_name:
            found[name] = obj
    return found


def exceptions() -> dict[str, type]:
    return {name: getattr(_vantrel, name) for name in EXCEPTION_NAMES}
