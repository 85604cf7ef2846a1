"""The module's class table as the tests expect it: name, submodule, subclassable, text signature."""

CLASS_ROWS = [
    ("AccountId", "vantrel.param", False, None),
    ("AccountGroupId", "vantrel.param", False, None),
    ("Quantity", "vantrel.param", False, "(value)"),
    ("Price", "vantrel.param", False, "(value)"),
    ("Trade", "vantrel.param", True, "(*, price, quantity)"),
    ("Pnl", "vantrel.param", False, "(value)"),
    ("Fee", "vantrel.param", False, "(value)"),
    ("Volume", "vantrel.param", False, "(value)"),
    ("Notional", "vantrel.param", False, "(value)"),
    ("CashFlow", "vantrel.param", False, "(value)"),
    ("PositionSize", "vantrel.param", False, "(value)"),
    ("InstrumentId", "vantrel.marketdata", False, "(value)"),
    ("QuoteTtl", "vantrel.marketdata", False, None),
    ("Quote", "vantrel.marketdata", False, "(*, mark=None, bid=None, ask=None)"),
    ("QuoteResolution", "vantrel.marketdata", False, None),
    ("MarketDataService", "vantrel.marketdata", False, None),
    ("MarketDataBuilder", "vantrel.marketdata", False, None),
    ("TradeAmount", "vantrel.param", True, "(other)"),
    ("AdjustmentAmount", "vantrel.param", True, "(other)"),
    ("Leverage", "vantrel.param", False, "(multiplier)"),
    ("Engine", "vantrel", False, None),
    ("Accounts", "vantrel", False, None),
    ("Reject", "vantrel.pretrade", False, None),
    ("AccountBlock", "vantrel.pretrade", False, "(*, policy, code, reason, details, user_data=0)"),
    ("StartResult", "vantrel.pretrade", False, None),
    ("ExecuteResult", "vantrel.pretrade", False, None),
    ("AccountAdjustmentBatchResult", "vantrel.pretrade", False, None),
    ("OutcomeAmount", "vantrel.pretrade", False, "(*, delta, absolute)"),
    ("AccountOutcomeEntry", "vantrel.pretrade", False, "(*, asset, balance=None, held=None, incoming=None)"),
    ("AccountAdjustmentOutcome", "vantrel.pretrade", False, "(*, policy_group_id, entry)"),
    ("EngineBuilder", "vantrel", False, None),
    ("SyncedEngineBuilder", "vantrel", False, None),
    ("ReadyEngineBuilder", "vantrel", False, None),
    ("Instrument", "vantrel.core", False, "(underlying_asset, settlement_asset)"),
    ("OrderOperation", "vantrel.core", True,
     "(*, underlying_asset=None, settlement_asset=None, account_id=None, side=None, trade_amount=None, price=None)"),
    ("OrderPosition", "vantrel.core", True, "(*, position_side=None, reduce_only=False, close_position=False)"),
    ("OrderMargin", "vantrel.core", True, "(*, leverage=None, collateral_asset=None, auto_borrow=False)"),
    ("Order", "vantrel.core", True, "(*, operation=None, position=None, margin=None)"),
    ("Request", "vantrel.pretrade", False, None),
    ("Reservation", "vantrel.pretrade", False, None),
    ("ExecutionReportOperation", "vantrel.core", True,
     "(*, underlying_asset=None, settlement_asset=None, account_id=None, side=None)"),
    ("FinancialImpact", "vantrel.core", True, "(*, pnl, fee)"),
    ("ExecutionReportFillDetails", "vantrel.core", True,
     "(*, last_trade=None, leaves_quantity=None, lock, is_final=None)"),
    ("ExecutionReportPositionImpact", "vantrel.core", True, "(*, position_effect=None, position_side=None)"),
    ("ExecutionReport", "vantrel.core", True,
     "(*, operation=None, financial_impact=None, fill=None, position_impact=None)"),
    ("AccountAdjustmentAmount", "vantrel.core", True, "(*, balance=None, held=None, incoming=None)"),
    ("AccountAdjustmentBalanceOperation", "vantrel.core", True, "(*, asset=None, average_entry_price=None)"),
    ("AccountAdjustmentPositionOperation", "vantrel.core", True,
     "(*, underlying_asset=None, settlement_asset=None, collateral_asset=None, average_entry_price=None, "
     "mode=None, leverage=None)"),
    ("AccountAdjustmentBounds", "vantrel.core", True,
     "(*, balance_upper=None, balance_lower=None, held_upper=None, held_lower=None, incoming_upper=None, "
     "incoming_lower=None)"),
    ("AccountAdjustment", "vantrel.core", True, "(*, operation=None, amount=None, bounds=None)"),
    ("PostTradeResult", "vantrel.pretrade", False, "(*, account_blocks=None, account_adjustments=None)"),
    ("Lock", "vantrel.pretrade", True, "(entries=None)"),
    ("OrderSizeLimit", "vantrel.pretrade.policies", False, "(*, max_quantity, max_notional)"),
    ("Context", "vantrel.pretrade", False, None),
    ("AccountAdjustmentContext", "vantrel", False, None),
    ("PostTradeContext", "vantrel.pretrade", False, None),
    ("AccountControl", "vantrel", False, None),
]

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
