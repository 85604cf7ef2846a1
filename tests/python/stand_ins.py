"""Small stand-in objects that the argument-conversion tests feed to the extension."""


class Index:
    """An integer only through ``__index__``."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class Floaty:
    """A number only through ``__float__``."""

    def __init__(self, value):
        self.value = value

    def __float__(self):
        return self.value


class RaisingIndex:
    def __index__(self):
        raise RuntimeError("no index")


class IntSubclass(int):
    pass


class StrSubclass(str):
    pass
