"""No instance of the module's classes exists without one of its constructors."""

import os
import subprocess
import sys
import textwrap

# Replacing __new__ changes a class for good, so it happens in a child process.
SCRIPT = textwrap.dedent(
    """
    import vantrel
    from vantrel import _vantrel

    classes = [getattr(_vantrel, name) for name in _vantrel.__all__]
    classes = [c for c in classes if isinstance(c, type) and not issubclass(c, BaseException)]
    for cls in classes:
        cls.__new__ = lambda c, *args, **kwargs: object.__new__(c)
        try:
            obj = cls()
        except TypeError as error:
            print(cls.__name__, error)
        else:
            print(cls.__name__, "CREATED", type(obj).__name__)
    """
)


def test_replaced_new_cannot_bypass_the_constructors():
    done = subprocess.run([sys.executable, "-c", SCRIPT], capture_output=True, text=True, env=os.environ, timeout=120)
    assert done.returncode == 0, done.stderr
    lines = done.stdout.splitlines()
    import vantrel._vantrel as ext

    expected = [
        name
        for name in ext.__all__
        if isinstance(getattr(ext, name), type) and not issubclass(getattr(ext, name), BaseException)
    ]
    assert len(expected) >= 15
    assert lines == [f"{name} cannot create '{name}' instances without its constructor" for name in expected]
