"""AccountOutcomeEntry, AccountAdjustmentOutcome and the reader of outcome-like objects."""

import decimal
import types

import pytest

from stand_ins import Index
from vantrel.param import PositionSize
from vantrel.pretrade import AccountAdjustmentOutcome, AccountOutcomeEntry, OutcomeAmount, PostTradeResult

RANGE_TEXT = "policy_group_id must be an integer in range 0..=65535"
USD_BALANCE = (
    'AccountOutcomeEntry(asset="USD", balance=Some("OutcomeAmount(delta=5, absolute=105)"), held=None, '
    "incoming=None)"
)


def ns(**attrs):
    return types.SimpleNamespace(**attrs)


def usd_entry():
    return AccountOutcomeEntry(asset="USD", balance=OutcomeAmount(delta=5, absolute=105))


def test_entry_prints_and_reads_back():
    entry = usd_entry()
    assert repr(entry) == USD_BALANCE
    assert entry.asset == "USD"
    assert entry.held is None and entry.incoming is None
    assert (entry.balance.delta, entry.balance.absolute) == (PositionSize(5), PositionSize(105))
    full = AccountOutcomeEntry(
        asset=' "x" ',
        balance=None,
        held=OutcomeAmount(delta="-1.50", absolute="0"),
        incoming=OutcomeAmount(delta=decimal.Decimal("2"), absolute=2),
    )
    assert repr(full) == (
        'AccountOutcomeEntry(asset=" \\"x\\" ", balance=None, held=Some("OutcomeAmount(delta=-1.50, absolute=0)"), '
        'incoming=Some("OutcomeAmount(delta=2, absolute=2)"))'
    )


def test_entry_hands_out_copies():
    entry = usd_entry()
    first, second = entry.balance, entry.balance
    assert first is not second
    assert repr(first) == repr(second) == "OutcomeAmount(delta=5, absolute=105)"


@pytest.mark.parametrize(
    "kwargs, error, text",
    [
        (dict(asset=1, balance=1), TypeError, "argument 'balance': 'int' object cannot be converted to 'OutcomeAmount'"),
        (dict(asset=1, held=ns(delta=1, absolute=1)), TypeError,
         "argument 'held': 'SimpleNamespace' object cannot be converted to 'OutcomeAmount'"),
        (dict(asset=1, incoming="1"), TypeError, "argument 'incoming': 'str' object cannot be converted to 'OutcomeAmount'"),
        (dict(asset=1), TypeError, "asset must be a str"),
        (dict(asset=" \t"), ValueError, "asset must not be empty"),
    ],
)
def test_entry_converts_amounts_before_asset(kwargs, error, text):
    with pytest.raises(error) as info:
        AccountOutcomeEntry(**kwargs)
    assert type(info.value) is error
    assert str(info.value) == text


def test_outcome_prints_the_entry_unquoted():
    outcome = AccountAdjustmentOutcome(policy_group_id=7, entry=usd_entry())
    assert repr(outcome) == f"AccountAdjustmentOutcome(policy_group_id=7, entry={USD_BALANCE})"
    assert outcome.policy_group_id == 7


@pytest.mark.parametrize("group_id, stored", [(0, 0), (65535, 65535), (True, 1), (Index(9), 9)])
def test_outcome_accepts_group_ids(group_id, stored):
    assert AccountAdjustmentOutcome(policy_group_id=group_id, entry=usd_entry()).policy_group_id == stored


@pytest.mark.parametrize("group_id", [65536, -1, 7.0, "7", None, 2**70])
def test_outcome_refuses_group_ids(group_id):
    with pytest.raises(ValueError) as info:
        AccountAdjustmentOutcome(policy_group_id=group_id, entry=usd_entry())
    assert str(info.value) == RANGE_TEXT


def test_outcome_converts_entry_before_id():
    with pytest.raises(TypeError) as info:
        AccountAdjustmentOutcome(policy_group_id=-1, entry=ns(asset="USD", balance=None, held=None, incoming=None))
    assert str(info.value) == "argument 'entry': 'SimpleNamespace' object cannot be converted to 'AccountOutcomeEntry'"


def test_outcome_entry_is_a_fresh_copy():
    outcome = AccountAdjustmentOutcome(policy_group_id=3, entry=usd_entry())
    first = outcome.entry
    assert first is not outcome.entry
    assert repr(first) == USD_BALANCE
    for target in (outcome, first):
        for name in ("policy_group_id", "entry", "asset", "balance"):
            if hasattr(target, name):
                with pytest.raises(AttributeError):
                    setattr(target, name, None)


# -- the reader of outcome-like objects, through PostTradeResult(account_adjustments=...)


class Recorder:
    def __init__(self, log, name, **attrs):
        self._log, self._name, self._attrs = log, name, attrs

    def __getattr__(self, attr):
        self._log.append(f"{self._name}.{attr}")
        if attr not in self._attrs:
            raise AttributeError(attr)
        return self._attrs[attr]


def outcomes_of(items):
    return [repr(o) for o in PostTradeResult(account_adjustments=items).account_adjustments]


def test_reader_takes_duck_objects_and_real_ones():
    log = []
    entry = Recorder(log, "entry", asset="BTC", balance=None, held=ns(delta=1, absolute="2.0"), incoming=None)
    duck = Recorder(log, "outcome", policy_group_id=Index(3), entry=entry)
    real = AccountAdjustmentOutcome(policy_group_id=65535, entry=usd_entry())
    wrapped = ns(policy_group_id=False, entry=usd_entry())
    assert outcomes_of(iter([duck, real, wrapped])) == [
        'AccountAdjustmentOutcome(policy_group_id=3, entry=AccountOutcomeEntry(asset="BTC", balance=None, '
        'held=Some("OutcomeAmount(delta=1, absolute=2.0)"), incoming=None))',
        f"AccountAdjustmentOutcome(policy_group_id=65535, entry={USD_BALANCE})",
        f"AccountAdjustmentOutcome(policy_group_id=0, entry={USD_BALANCE})",
    ]
    assert log == ["outcome.policy_group_id", "outcome.entry", "entry.asset", "entry.balance", "entry.held",
                   "entry.incoming"]
    assert outcomes_of([]) == []


@pytest.mark.parametrize(
    "item, error, text",
    [
        (ns(entry=None), AttributeError, None),
        (ns(policy_group_id=70000), ValueError, RANGE_TEXT),
        (ns(policy_group_id="1", entry=None), ValueError, RANGE_TEXT),
        (ns(policy_group_id=1), AttributeError, None),
        (ns(policy_group_id=1, entry=ns(asset="BTC", balance=None, held=None)), AttributeError, None),
        (ns(policy_group_id=1, entry=ns(asset=5, balance=None, held=None, incoming=None)), TypeError,
         "asset must be a str"),
        (ns(policy_group_id=1, entry=ns(asset="BTC", balance=ns(delta=[], absolute=1), held=None, incoming=None)),
         ValueError, "PositionSize must be a Decimal, str, int, or float"),
    ],
)
def test_reader_errors_pass_unchanged(item, error, text):
    with pytest.raises(error) as info:
        PostTradeResult(account_adjustments=[item])
    assert type(info.value) is error
    if text is not None:
        assert str(info.value) == text


def test_reader_stops_at_the_first_error():
    def items():
        yield AccountAdjustmentOutcome(policy_group_id=1, entry=usd_entry())
        raise RuntimeError("feed broke")

    with pytest.raises(RuntimeError, match="feed broke"):
        PostTradeResult(account_adjustments=items())
    with pytest.raises(TypeError):
        PostTradeResult(account_adjustments=3)
