"""The module surface: entry, body order, exceptions, constants, _validate_asset, class metadata."""

import importlib
import shutil
import struct
import subprocess
import sys

import pytest

import vantrel
from vantrel import _vantrel

EXCEPTIONS = [
    ("RejectError", Exception),
    ("ParamError", ValueError),
    ("MarketDataError", Exception),
    ("UnknownInstrument", "MarketDataError"),
    ("QuoteUnavailable", "MarketDataError"),
    ("AlreadyRegistered", Exception),
    ("RegistrationError", Exception),
    ("UnknownInstrumentId", Exception),
    ("AccountGroupRegistrationError", Exception),
]

CONSTANTS = [
    ("_ROUNDING_STRATEGY_DEFAULT", "MidpointNearestEven"),
    ("_ROUNDING_STRATEGY_BANKER", "MidpointNearestEven"),
    ("_ROUNDING_STRATEGY_CONSERVATIVE_PROFIT", "Down"),
    ("_ROUNDING_STRATEGY_CONSERVATIVE_LOSS", "Down"),
    ("_DEFAULT_POLICY_GROUP_ID", 0),
    ("_LEVERAGE_SCALE", 10),
    ("_LEVERAGE_MIN", 1),
    ("_LEVERAGE_MAX", 3000),
    ("_LEVERAGE_STEP", struct.unpack("<f", struct.pack("<f", 0.1))[0]),
]

CLASSES = _vantrel.__all__[19:]

# Classes whose constructor is the shared refusal.
NO_CONSTRUCTOR = {
    "AccountId", "AccountGroupId", "QuoteTtl", "QuoteResolution", "MarketDataService", "MarketDataBuilder",
    "Engine", "Accounts", "Reject", "StartResult", "ExecuteResult", "AccountAdjustmentBatchResult",
    "EngineBuilder", "SyncedEngineBuilder", "ReadyEngineBuilder", "Request", "Reservation", "Context",
    "AccountAdjustmentContext", "PostTradeContext", "AccountControl",
}

DOCSTRINGS = {
    "QuoteResolution": "Resolution mode that controls which quote buckets a read may fall through to.",
    "Accounts": "Handle to the engine's account-group registry.\n\nObtained from ``Engine.accounts()``. The handle "
    "shares the engine's single\nregistry, so changes made through it are visible to every other handle and\nto "
    "running policies. It inherits the engine's synchronization mode.",
    "AccountControl": "Handle that records a kill-switch block against the account bound to a\ncallback context."
    "\n\nIt is valid to use only within the pre-trade processing of the request it\nbelongs to \u2014 from the "
    "callback that produced it through the commit or\nrollback of that request's reservation (so it may be "
    "retained and used from\na deferred mutation commit/rollback callback). Recording a block through it\nafter "
    "that pre-trade transaction has completed is unspecified and must not\nbe relied upon.",
}


def test_all_starts_with_exceptions_constants_and_function():
    names = [name for name, _ in EXCEPTIONS] + [name for name, _ in CONSTANTS] + ["_validate_asset"]
    assert _vantrel.__all__[: len(names)] == names
    assert _vantrel.__all__.index("_validate_asset") == 18


def test_all_lists_every_name_once():
    assert all(isinstance(getattr(_vantrel, name), type) for name in CLASSES)
    assert len(set(_vantrel.__all__)) == len(_vantrel.__all__)
    for name in _vantrel.__all__:
        assert hasattr(_vantrel, name)


def test_every_class_registered():
    assert len(_vantrel.__all__) == 76
    assert len(CLASSES) == 57


def test_module_doc_is_empty():
    assert _vantrel.__doc__ == ""


def test_second_import_returns_same_module():
    before = list(_vantrel.__all__)
    del sys.modules["vantrel._vantrel"]
    try:
        again = importlib.import_module("vantrel._vantrel")
    finally:
        sys.modules["vantrel._vantrel"] = _vantrel
    assert again is _vantrel
    assert _vantrel.__all__ == before


def test_subinterpreter_import_is_refused():
    interpreters = pytest.importorskip("_xxsubinterpreters")
    interp = interpreters.create()
    try:
        code = (
            "try:\n"
            "    import vantrel._vantrel\n"
            "except ImportError as error:\n"
            "    assert 'do not yet support subinterpreters' in str(error), str(error)\n"
            "else:\n"
            "    raise AssertionError('imported in a sub-interpreter')\n"
        )
        interpreters.run_string(interp, code)
    finally:
        interpreters.destroy(interp)


def test_only_init_symbol_is_exported():
    nm = shutil.which("nm")
    if nm is None:
        pytest.skip("nm not available")
    out = subprocess.run([nm, "-D", "--defined-only", _vantrel.__file__], capture_output=True, text=True, check=True)
    symbols = [line.split()[-1] for line in out.stdout.splitlines() if line.strip()]
    assert symbols == ["PyInit__vantrel"]
    assert _vantrel.__file__.endswith("_vantrel.abi3.so")


@pytest.mark.parametrize("name, base", EXCEPTIONS)
def test_exception_types(name, base):
    exc = getattr(_vantrel, name)
    base = getattr(_vantrel, base) if isinstance(base, str) else base
    assert exc.__bases__ == (base,)
    assert exc.__module__ == "vantrel"
    assert exc.__name__ == exc.__qualname__ == name
    assert exc.__doc__ is None
    assert getattr(vantrel, name) is exc


def test_exception_hierarchy():
    assert issubclass(_vantrel.ParamError, ValueError)
    assert not issubclass(_vantrel.UnknownInstrumentId, _vantrel.MarketDataError)
    assert issubclass(_vantrel.QuoteUnavailable, _vantrel.MarketDataError)


@pytest.mark.parametrize("name, value", CONSTANTS)
def test_constants(name, value):
    constant = getattr(_vantrel, name)
    assert type(constant) is type(value) and constant == value


def test_leverage_step_is_widened_single_precision():
    assert repr(_vantrel._LEVERAGE_STEP) == "0.10000000149011612"
    assert _vantrel._LEVERAGE_STEP != 0.1
    assert struct.pack(">d", _vantrel._LEVERAGE_STEP).hex() == "3fb99999a0000000"


@pytest.mark.parametrize("value", ["BTC", "  USD  ", "a", "\u00a0x\u3000", "€"])
def test_validate_asset_accepts(value):
    assert _vantrel._validate_asset(value) is None
    assert _vantrel._validate_asset(value=value) is None


@pytest.mark.parametrize("value", ["", " ", " \t\n\r\x0b\x0c ", "\u00a0", "\u3000\u2028\u0085", "\u2000\u200a"])
def test_validate_asset_refuses_blank(value):
    with pytest.raises(ValueError) as info:
        _vantrel._validate_asset(value)
    assert type(info.value) is ValueError
    assert str(info.value) == "asset must not be empty"


@pytest.mark.parametrize(
    "args, kwargs, error, message",
    [
        ((1,), {}, TypeError, "argument 'value': 'int' object cannot be converted to 'PyString'"),
        ((None,), {}, TypeError, "argument 'value': 'NoneType' object cannot be converted to 'PyString'"),
        ((), {}, TypeError, "_validate_asset() missing 1 required positional argument: 'value'"),
        (("a", "b"), {}, TypeError, "_validate_asset() takes 1 positional arguments but 2 were given"),
        ((), {"asset": "a"}, TypeError, "_validate_asset() got an unexpected keyword argument 'asset'"),
        (("a",), {"value": "a"}, TypeError, "_validate_asset() got multiple values for argument 'value'"),
    ],
)
def test_validate_asset_argument_errors(args, kwargs, error, message):
    with pytest.raises(error) as info:
        _vantrel._validate_asset(*args, **kwargs)
    assert str(info.value) == message


def test_validate_asset_metadata():
    func = _vantrel._validate_asset
    assert func.__text_signature__ == "(value)"
    assert func.__self__ is _vantrel
    assert func.__module__ == "vantrel._vantrel" or func.__module__ == "_vantrel"


@pytest.mark.parametrize("name", CLASSES)
def test_class_metadata(name):
    cls = getattr(_vantrel, name)
    module = cls.__module__
    assert module == "vantrel" or module.startswith("vantrel.")
    assert cls.__name__ == cls.__qualname__ == name
    assert (cls.__doc__ or "") == DOCSTRINGS.get(name, "")
    if name in NO_CONSTRUCTOR:
        with pytest.raises(TypeError, match=f"^No constructor defined for {name}$"):
            cls()
    submodule = importlib.import_module(module)
    assert getattr(submodule, name) is cls
    assert getattr(vantrel, name) is cls


@pytest.mark.parametrize(
    "enum_name, values",
    [
        ("Side", ["BUY", "SELL"]),
        ("PositionSide", ["LONG", "SHORT"]),
        ("PositionEffect", ["OPEN", "CLOSE"]),
        ("PositionMode", ["netting", "hedged"]),
    ],
)
def test_str_enums(enum_name, values):
    enum_cls = getattr(vantrel.param, enum_name)
    assert getattr(vantrel, enum_name) is enum_cls
    assert [member.value for member in enum_cls] == values
    for member in enum_cls:
        assert isinstance(member, str) and member == member.value and str(member) == member.value
