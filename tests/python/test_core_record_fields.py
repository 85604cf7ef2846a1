"""Every field of every record class is its own storage: setting one leaves the others as they were."""

from vantrel.core import (
    AccountAdjustment, AccountAdjustmentAmount, AccountAdjustmentBalanceOperation, AccountAdjustmentBounds,
    AccountAdjustmentPositionOperation, ExecutionReport, ExecutionReportFillDetails, ExecutionReportOperation,
    ExecutionReportPositionImpact, FinancialImpact, Order, OrderMargin, OrderOperation, OrderPosition,
)
from vantrel.param import AccountId, AdjustmentAmount, Quantity, Trade, TradeAmount
from vantrel.pretrade import Lock

ASSETS = ("BTC", "ETH")
ACCOUNTS = (AccountId.from_int(7), AccountId.from_int(2**64 - 1))
OPERATION = dict(underlying_asset=ASSETS, settlement_asset=("USD", "EUR"), account_id=ACCOUNTS, side=("buy", "sell"))
BOUND = ("1.5", "-2")
DELTA = (AdjustmentAmount.delta("-3"), AdjustmentAmount.absolute(4))

# Per class: each field with the value it is filled with and the one it is set to.
FIELDS = {
    OrderOperation: dict(OPERATION, trade_amount=(TradeAmount.quantity(10), TradeAmount.volume("2.5")),
                         price=("100", "-1.5")),
    OrderPosition: dict(position_side=("long", "short"), reduce_only=(True, False), close_position=(True, False)),
    OrderMargin: dict(leverage=(10, 2.5), collateral_asset=ASSETS, auto_borrow=(True, False)),
    Order: dict(operation=(OrderOperation(side="buy"), OrderOperation(price=1)),
                position=(OrderPosition(reduce_only=True), OrderPosition()),
                margin=(OrderMargin(leverage=3), OrderMargin())),
    ExecutionReportOperation: OPERATION,
    FinancialImpact: dict(pnl=("-1.5", "2"), fee=("0.01", "0")),
    ExecutionReportFillDetails: dict(last_trade=(Trade(price=1, quantity=2), Trade(price="3.5", quantity=4)),
                                     leaves_quantity=("0.5", "7"), lock=(Lock([(3, 2)]), Lock([(0, "1.0")])),
                                     is_final=(True, False)),
    ExecutionReportPositionImpact: dict(position_effect=("open", "close"), position_side=("long", "short")),
    ExecutionReport: dict(operation=(ExecutionReportOperation(side="buy"), ExecutionReportOperation()),
                          financial_impact=(FinancialImpact(pnl=1, fee=0), FinancialImpact(pnl=-1, fee=1)),
                          fill=(ExecutionReportFillDetails(lock=Lock()), ExecutionReportFillDetails(lock=Lock([(1, 1)]))),
                          position_impact=(ExecutionReportPositionImpact(position_side="long"),
                                           ExecutionReportPositionImpact())),
    AccountAdjustmentAmount: dict(balance=DELTA, held=DELTA[::-1], incoming=DELTA),
    AccountAdjustmentBalanceOperation: dict(asset=ASSETS, average_entry_price=BOUND),
    AccountAdjustmentPositionOperation: dict(underlying_asset=ASSETS, settlement_asset=("USD", "EUR"),
                                             collateral_asset=("USDT", "USDC"), average_entry_price=BOUND,
                                             mode=("netting", "hedged"), leverage=(10, 2.5)),
    AccountAdjustmentBounds: {name: BOUND for name in ("balance_upper", "balance_lower", "held_upper", "held_lower",
                                                      "incoming_upper", "incoming_lower")},
    AccountAdjustment: dict(operation=(AccountAdjustmentBalanceOperation(asset="BTC"),
                                       AccountAdjustmentPositionOperation(leverage=2)),
                            amount=(AccountAdjustmentAmount(held=DELTA[0]), AccountAdjustmentAmount()),
                            bounds=(AccountAdjustmentBounds(held_lower=0), AccountAdjustmentBounds())),
}


def check_each_field_alone(cls, fields):
    filled = {name: first for name, (first, _) in fields.items()}
    record = cls(**filled)
    for name, (first, second) in fields.items():
        before = {other: repr(getattr(record, other)) for other in fields}
        setattr(record, name, second)
        after = {other: repr(getattr(record, other)) for other in fields}
        expected = cls(**dict(filled, **{name: second}))
        assert after[name] == repr(getattr(expected, name)) != before[name], (cls, name)
        assert {k: v for k, v in after.items() if k != name} == \
            {k: v for k, v in before.items() if k != name}, (cls, name)
        assert repr(record) == repr(expected), (cls, name)
        setattr(record, name, first)
        assert {other: repr(getattr(record, other)) for other in fields} == before, (cls, name)


# Filled with either value of each pair, so every field's bytes are non-zero in one
# of the two rounds whatever its layout.
def test_setting_one_field_leaves_every_other_field_and_the_representation_alone():
    for cls, fields in FIELDS.items():
        properties = {n for n, v in vars(cls).items() if type(v).__name__ == "getset_descriptor"}
        assert properties - {"__dict__", "__weakref__"} == set(fields), cls
        check_each_field_alone(cls, fields)
        check_each_field_alone(cls, {name: pair[::-1] for name, pair in fields.items()})
