"""Hostile objects, and the harness that feeds them to the extension: only documented errors may come out."""

import pytest


class Boom(Exception):
    """Raised by the hostile objects; it may pass through unchanged."""


class RaisingIndex:
    def __index__(self):
        raise Boom("index")


class RaisingIter:
    def __iter__(self):
        raise Boom("iter")


class RaisingNext:
    def __iter__(self):
        return self

    def __next__(self):
        raise Boom("next")


class RaisingAttrs:
    def __getattr__(self, name):
        raise Boom(name)


class StrSub(str):
    pass


def feed(calls, objects, allowed):
    """Calls each callable with each object; any error outside ``allowed`` fails the test."""
    for call in calls:
        for obj in objects:
            try:
                call(obj)
            except allowed:
                pass
            except BaseException as error:  # noqa: BLE001 - anything else is the fault we look for
                pytest.fail(f"{call!r}({obj!r}) raised {type(error).__name__}: {error}")
