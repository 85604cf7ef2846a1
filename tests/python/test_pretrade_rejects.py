"""Reject, AccountBlock and the reader of block-like objects."""

import types

import pytest
from hypothesis import given, strategies as st

from repr_kit import quoted
from stand_ins import Index, StrSubclass
from vantrel.pretrade import AccountBlock, Reject

# The 44 code names, in their numeric order.
CODES = [
    "MissingRequiredField", "InvalidFieldFormat", "InvalidFieldValue", "UnsupportedOrderType",
    "UnsupportedTimeInForce", "UnsupportedOrderAttribute", "DuplicateClientOrderId", "TooLateToEnter",
    "ExchangeClosed", "UnknownInstrument", "UnknownAccount", "UnknownVenue", "UnknownClearingAccount",
    "UnknownCollateralAsset", "InsufficientFunds", "InsufficientMargin", "InsufficientPosition",
    "CreditLimitExceeded", "RiskLimitExceeded", "OrderExceedsLimit", "OrderQtyExceedsLimit",
    "OrderNotionalExceedsLimit", "PositionLimitExceeded", "ConcentrationLimitExceeded", "LeverageLimitExceeded",
    "RateLimitExceeded", "PnlKillSwitchTriggered", "AccountBlocked", "AccountNotAuthorized",
    "ComplianceRestriction", "InstrumentRestricted", "JurisdictionRestriction", "WashTradePrevention",
    "SelfMatchPrevention", "ShortSaleRestriction", "RiskConfigurationMissing", "ReferenceDataUnavailable",
    "OrderValueCalculationFailed", "SystemUnavailable", "MarkPriceUnavailable", "AccountAdjustmentBoundsExceeded",
    "ArithmeticOverflow", "Custom", "Other",
]
U64_MAX = 2**64 - 1


def block(**overrides):
    kwargs = dict(policy="Kill", code="AccountBlocked", reason="r", details="d")
    kwargs.update(overrides)
    return AccountBlock(**kwargs)


def test_code_table_has_44_distinct_names():
    assert len(CODES) == len(set(CODES)) == 44
    assert CODES.index("ArithmeticOverflow") == 41 and CODES[-1] == "Other"


@pytest.mark.parametrize("name", CODES)
def test_every_code_through_account_block(name):
    made = block(code=name)
    assert made.code == name
    assert repr(made).startswith(f'AccountBlock(code="{name}", ')
    for other_case in {name.lower(), name.upper()}:
        with pytest.raises(ValueError) as info:
            block(code=other_case)
        assert str(info.value) == f'unsupported reject code "{other_case}"'


@pytest.mark.parametrize(
    "overrides, error, text",
    [
        (dict(policy=1, code=27), TypeError, "argument 'policy': 'int' object cannot be converted to 'PyString'"),
        (dict(code=27), TypeError, "argument 'code': 'int' object cannot be converted to 'PyString'"),
        (dict(code="bad", reason=None), TypeError, "argument 'reason': 'NoneType' object cannot be converted to 'PyString'"),
        (dict(code="bad", details=b"d"), TypeError, "argument 'details': 'bytes' object cannot be converted to 'PyString'"),
        (dict(code="bad", user_data=-1), OverflowError, "argument 'user_data': can't convert negative int to unsigned"),
        (dict(code="bad", user_data=2**64), OverflowError, "argument 'user_data': int too big to convert"),
        (dict(code="bad", user_data=1.0), TypeError, "argument 'user_data': 'float' object cannot be interpreted as an integer"),
        (dict(code="bad", user_data="1"), TypeError, "argument 'user_data': 'str' object cannot be interpreted as an integer"),
        (dict(code="bad"), ValueError, 'unsupported reject code "bad"'),
        (dict(code=" Other"), ValueError, 'unsupported reject code " Other"'),
        (dict(code='a"b\\\n'), ValueError, 'unsupported reject code "a\\"b\\\\\\n"'),
    ],
)
def test_account_block_conversion_order(overrides, error, text):
    with pytest.raises(error) as info:
        block(**overrides)
    assert type(info.value) is error
    assert str(info.value) == text


@pytest.mark.parametrize(
    "call",
    [
        lambda: AccountBlock(policy="p", code="Other", reason="r"),
        lambda: AccountBlock(policy="p", code="Other", reason="r", details="d", extra=1),
        lambda: AccountBlock("p", "Other", "r", "d"),
    ],
)
def test_account_block_argument_set_checked_first(call):
    with pytest.raises(TypeError) as info:
        call()
    assert "AccountBlock" in str(info.value)


@pytest.mark.parametrize("user_data, stored", [(None, 0), (U64_MAX, U64_MAX), (True, 1), (Index(7), 7)])
def test_account_block_user_data(user_data, stored):
    made = block() if user_data is None else block(user_data=user_data)
    assert made.user_data == stored
    assert repr(made).endswith(f", user_data={stored})")


def test_account_block_reads_back_and_prints():
    made = AccountBlock(policy="", code=StrSubclass("Custom"), reason='say "no"\n', details="it's\t", user_data=3)
    assert (made.code, made.policy, made.reason, made.details) == ("Custom", "", 'say "no"\n', "it's\t")
    assert type(made.code) is str
    assert repr(made) == (
        'AccountBlock(code="Custom", policy="", reason="say \\"no\\"\\n", details="it\'s\\t", user_data=3)'
    )


def test_account_block_is_read_only_and_final():
    made = block()
    for name in ("code", "policy", "reason", "details", "user_data"):
        with pytest.raises(AttributeError):
            setattr(made, name, "x")
        with pytest.raises(AttributeError):
            delattr(made, name)
    with pytest.raises(TypeError):
        type("Sub", (AccountBlock,), {})


def test_reject_has_no_constructor():
    with pytest.raises(TypeError) as info:
        Reject()
    assert str(info.value) == "No constructor defined for Reject"
    with pytest.raises(TypeError):
        type("Sub", (Reject,), {})


# -- Reject objects, as the engine's results hand them out


def one_reject(probe, *fields):
    return probe.stage_result("start", rejects=[fields]).rejects[0]


def test_reject_reads_back(probe):
    reject = one_reject(probe, "SizeLimit", "OrderQtyExceedsLimit", "too big", "qty 5 > 4", "order", 0)
    assert type(reject).__name__ == "Reject"
    assert (reject.code, reject.reason, reject.details, reject.policy, reject.scope, reject.user_data) == (
        "OrderQtyExceedsLimit", "too big", "qty 5 > 4", "SizeLimit", "order", 0)
    assert repr(reject) == (
        'Reject(code="OrderQtyExceedsLimit", reason="too big", details="qty 5 > 4", policy="SizeLimit", '
        'scope="order", user_data=0)'
    )


def test_reject_with_account_scope_and_escapes(probe):
    reject = one_reject(probe, "P\\y", "Other", 'a"b\nc', "", " ACCOUNT ", U64_MAX)
    assert reject.scope == "account"
    assert reject.user_data == U64_MAX
    assert repr(reject) == (
        'Reject(code="Other", reason="a\\"b\\nc", details="", policy="P\\\\y", scope="account", '
        "user_data=18446744073709551615)"
    )
    for name in ("code", "reason", "details", "policy", "scope", "user_data"):
        with pytest.raises(AttributeError):
            setattr(reject, name, 1)


# -- the reader of block-like objects (account blocks of Python policies, PostTradeResult)


class Recorder:
    """Answers the attributes it was given, raising what is an exception, and records every read."""

    def __init__(self, **attrs):
        self.reads = []
        self.attrs = attrs

    def __getattr__(self, name):
        if name in ("reads", "attrs"):
            raise AttributeError(name)
        self.reads.append(name)
        if name not in self.attrs:
            raise AttributeError(name)
        value = self.attrs[name]
        if isinstance(value, BaseException):
            raise value
        return value


FULL = dict(code="RiskLimitExceeded", policy="Py", reason="why", details="more")


@pytest.mark.parametrize(
    "attrs, error, text, reads",
    [
        (dict(FULL, code=1), ValueError, "account_block.code must be a string", ["code"]),
        (dict(FULL, policy=None), ValueError, "account_block.policy must be a string", ["code", "policy"]),
        (dict(FULL, reason=b"r"), ValueError, "account_block.reason must be a string", ["code", "policy", "reason"]),
        (dict(FULL, details=1), ValueError, "account_block.details must be a string",
         ["code", "policy", "reason", "details"]),
        (dict(FULL, code="bad", details=1), ValueError, "account_block.details must be a string",
         ["code", "policy", "reason", "details"]),
        (dict(FULL, user_data=-1), ValueError, "account_block.user_data must be an integer token",
         ["code", "policy", "reason", "details", "user_data"]),
        (dict(FULL, user_data="7"), ValueError, "account_block.user_data must be an integer token",
         ["code", "policy", "reason", "details", "user_data"]),
        (dict(FULL, code="bad", user_data=2**64), ValueError, "account_block.user_data must be an integer token",
         ["code", "policy", "reason", "details", "user_data"]),
        (dict(FULL, code="bad"), ValueError, 'unsupported reject code "bad"',
         ["code", "policy", "reason", "details", "user_data"]),
        ({k: v for k, v in FULL.items() if k != "reason"}, AttributeError, "reason", ["code", "policy", "reason"]),
        (dict(FULL, user_data=KeyError("boom")), KeyError, "'boom'",
         ["code", "policy", "reason", "details", "user_data"]),
    ],
)
def test_block_reader_order_and_texts(probe, attrs, error, text, reads):
    source = Recorder(**attrs)
    with pytest.raises(error) as info:
        probe.account_blocks([source])
    assert type(info.value) is error
    assert str(info.value) == text
    assert source.reads == reads


def test_block_reader_accepts_duck_objects(probe):
    without_token = Recorder(**FULL)
    with_token = types.SimpleNamespace(**FULL, user_data=Index(9))
    assert probe.account_blocks(iter([without_token, with_token, block(user_data=4)])) == [
        'AccountBlock(code="RiskLimitExceeded", policy="Py", reason="why", details="more", user_data=0)',
        'AccountBlock(code="RiskLimitExceeded", policy="Py", reason="why", details="more", user_data=9)',
        'AccountBlock(code="AccountBlocked", policy="Kill", reason="r", details="d", user_data=4)',
    ]
    assert without_token.reads == ["code", "policy", "reason", "details", "user_data"]


def test_block_reader_passes_iteration_errors(probe):
    def items():
        yield Recorder(**FULL)
        raise LookupError("feed broke")

    with pytest.raises(LookupError, match="feed broke"):
        probe.account_blocks(items())
    with pytest.raises(TypeError):
        probe.account_blocks(5)


# -- representations against a plain model of the quoting rule, on ASCII texts

ascii_text = st.text(alphabet=st.characters(max_codepoint=0x7F), max_size=30)


@given(policy=ascii_text, reason=ascii_text, details=ascii_text, code=st.sampled_from(CODES),
       user_data=st.integers(0, U64_MAX))
def test_account_block_repr_model(policy, reason, details, code, user_data):
    made = AccountBlock(policy=policy, code=code, reason=reason, details=details, user_data=user_data)
    assert (made.policy, made.reason, made.details, made.user_data) == (policy, reason, details, user_data)
    assert repr(made) == (
        f"AccountBlock(code={quoted(code)}, policy={quoted(policy)}, reason={quoted(reason)}, "
        f"details={quoted(details)}, user_data={user_data})"
    )


@given(st.text(max_size=20))
def test_account_block_texts_round_trip(text):
    made = AccountBlock(policy=text, code="Other", reason=text, details=text)
    assert made.policy == made.reason == made.details == text
    assert isinstance(repr(made), str)
