"""A Python object as a policy: registration, calling conventions, result shapes."""

import functools
import gc

import pytest

import vantrel
from vantrel.param import AccountGroupId, Price
from vantrel.pretrade import AccountOutcomeEntry, OutcomeAmount, PostTradeResult

from engine_kit import (SYNC_MODES, Action, BlockLike, EntryLike, MainResult, NoOpPolicy, RejectLike, Scripted, acct,
                        adjustments, build, order, report)


# ------------------------------------------------------------------ registration

class Bare(NoOpPolicy):
    name = "bare"


def variant(**attrs):
    return type("Variant", (Bare,), attrs)()


@pytest.mark.parametrize(
    "policy, exc, text",
    [
        (variant(name=5), ValueError, "^policy.name must be a string$"),
        (variant(name="\ud800"), UnicodeEncodeError, None),
        (variant(policy_group_id=70000), ValueError, r"^policy_group_id must be an integer in range 0..=65535$"),
        (variant(policy_group_id=-1), ValueError, r"^policy_group_id must be an integer in range 0..=65535$"),
        (variant(policy_group_id=7.0), ValueError, r"^policy_group_id must be an integer in range 0..=65535$"),
        (variant(policy_group_id="7"), ValueError, r"^policy_group_id must be an integer in range 0..=65535$"),
        (variant(policy_group_id=None), ValueError, r"^policy_group_id must be an integer in range 0..=65535$"),
        (variant(apply_execution_report=5), TypeError, "^policy.apply_execution_report must be callable$"),
        (variant(check_pre_trade_start=None), TypeError, "^policy.check_pre_trade_start must be callable$"),
        (variant(name=property(lambda self: 1 / 0)), ZeroDivisionError, None),
        (variant(policy_group_id=property(lambda self: {}["x"])), KeyError, None),
    ],
)
def test_registration_errors(policy, exc, text):
    synced = vantrel.Engine.builder().full_sync()
    with pytest.raises(exc, match=text):
        synced.pre_trade(policy)


def test_registration_reads_in_order_and_requires_every_hook():
    class NoAdjust:
        name = "x"
        check_pre_trade_start = perform_pre_trade_check = apply_execution_report = staticmethod(lambda: None)

    with pytest.raises(AttributeError, match="apply_account_adjustment"):
        vantrel.Engine.builder().full_sync().pre_trade(NoAdjust())

    class NoName:
        pass

    with pytest.raises(AttributeError, match="name"):
        vantrel.Engine.builder().full_sync().pre_trade(NoName())


def test_attribute_errors_beat_a_spent_builder():
    ready = vantrel.Engine.builder().full_sync().pre_trade(Bare())
    ready.build()
    with pytest.raises(ValueError, match="policy.name must be a string"):
        ready.pre_trade(variant(name=1))
    with pytest.raises(ValueError, match="engine builder is no longer available"):
        ready.pre_trade(Bare())


@pytest.mark.parametrize("value, group", [(True, 1), (0, 0), (65535, 65535)])
def test_group_id_through_the_index_protocol(value, group):
    engine = build(variant(policy_group_id=value, perform_pre_trade_check=lambda self, c, o: MainResult(lock_prices=[1])))
    assert engine.execute_pre_trade(order()).reservation.lock().entries() == [(group, Price(1))]


def test_name_is_read_once_at_registration():
    policy = Scripted("first", start=[RejectLike()])
    engine = build(policy)
    policy.name = "second"
    assert engine.execute_pre_trade(order()).rejects[0].policy == "first"


# ------------------------------------------------------------------ calling conventions

def test_post_trade_hook_is_called_by_keywords():
    class Positional(Bare):
        def apply_execution_report(self, context, rpt):
            return None

    engine = build(Positional())
    with pytest.raises(TypeError):
        engine.apply_execution_report(report())


def test_hooks_get_the_callers_objects_and_methods_are_looked_up_at_each_call():
    policy = Scripted()
    engine = build(policy)
    o, r, a = order(), report(), adjustments(1)
    engine.execute_pre_trade(o)
    engine.apply_execution_report(r)
    engine.apply_account_adjustment(acct(9), a)
    assert policy.seen[0][2] is o and policy.seen[1][2] is o
    assert policy.seen[2][2] is r
    assert policy.seen[3][2] == acct(9) and policy.seen[3][3] is a[0]
    policy.check_pre_trade_start = lambda ctx, o: [RejectLike("replaced")]
    assert engine.start_pre_trade(order()).rejects[0].reason == "replaced"


# One call of the engine that runs exactly the named hook (and hooks before it).
HOOK_DRIVERS = {
    "check_pre_trade_start": lambda engine: engine.start_pre_trade(order()),
    "perform_pre_trade_check": lambda engine: engine.execute_pre_trade(order()),
    "apply_execution_report": lambda engine: engine.apply_execution_report(report()),
    "apply_account_adjustment": lambda engine: engine.apply_account_adjustment(acct(1), adjustments(1)),
}


class Swapped(Exception):
    pass


def fresh_policy():
    """A policy whose class defines the four hooks itself (none inherited)."""
    hooks = {hook: NoOpPolicy.__dict__[hook] for hook in HOOK_DRIVERS}
    return type("Fresh", (), {"name": "fresh", **hooks})()


@pytest.mark.parametrize("hook", HOOK_DRIVERS)
@pytest.mark.parametrize("where", ["instance", "class"])
def test_a_hook_replaced_between_two_orders_is_what_the_next_order_calls(hook, where):
    def replacement(*args, **kwargs):
        raise Swapped(where)

    policy = fresh_policy()
    engine = build(policy)
    drive = HOOK_DRIVERS[hook]
    drive(engine)
    setattr(policy if where == "instance" else type(policy), hook, replacement)
    for _ in range(2):
        with pytest.raises(Swapped, match=where):
            drive(engine)
    if where == "instance":
        delattr(policy, hook)  # the class's method is found again
        drive(engine)


@pytest.mark.parametrize("hook", HOOK_DRIVERS)
@pytest.mark.parametrize("change, exc, text", [
    ("deleted", AttributeError, "has no attribute '{}'"),
    ("not callable", TypeError, r"^policy\.{} must be callable$"),
    ("raises TypeError", TypeError, "^the hook's own words$"),
    # The look-up found a callable: the hook's own error and traceback stand,
    # though the attribute is no longer callable when the call has failed.
    ("replaced by a non-callable, then raises TypeError", TypeError, "^the hook's own words$"),
    ("replaced by a non-callable, then calls it", TypeError, "^'int' object is not callable$"),
])
def test_a_hook_gone_or_not_callable_after_registration_fails_the_call(hook, change, exc, text):
    def own_type_error(*args, **kwargs):
        if change.startswith("replaced"):
            setattr(policy, hook, 7)
        if change.endswith("calls it"):
            getattr(policy, hook)()
        raise TypeError("the hook's own words")

    policy = fresh_policy()
    engine = build(policy)
    if change == "deleted":
        delattr(type(policy), hook)
    else:
        setattr(policy, hook, 7 if change == "not callable" else own_type_error)
    with pytest.raises(exc, match=text.format(hook)) as raised:
        HOOK_DRIVERS[hook](engine)
    if exc is TypeError and change != "not callable":
        assert any(entry.name == "own_type_error" for entry in raised.traceback)
    vars(policy).pop(hook, None)
    setattr(type(policy), hook, NoOpPolicy.__dict__[hook])
    HOOK_DRIVERS[hook](engine)  # nothing of the failure is left behind


# ------------------------------------------------------------------ start-stage shapes

@pytest.mark.parametrize(
    "answer, reasons",
    [(None, None), ([], None), ((), None), (iter([RejectLike("a"), RejectLike("b")]), ["a", "b"]),
     ([RejectLike("only")], ["only"])],
)
def test_start_results(answer, reasons):
    result = build(Scripted(start=answer)).start_pre_trade(order())
    assert (None if result.ok else [r.reason for r in result.rejects]) == reasons


@pytest.mark.parametrize(
    "reject, exc, text",
    [
        (RejectLike(code="rateLimitExceeded"), ValueError, '^unsupported reject code "rateLimitExceeded"$'),
        (RejectLike(code=25), ValueError, "^reject.code must be a string$"),
        (RejectLike(scope="everyone"), ValueError, "^reject.scope must be either 'order' or 'account'$"),
        (RejectLike(scope=1), ValueError, "^reject.scope must be a string$"),
        (RejectLike(user_data=-1), ValueError, r"^reject.user_data must be an integer token \(default 0\)$"),
        (RejectLike(user_data=2 ** 64), ValueError, r"^reject.user_data must be an integer token \(default 0\)$"),
        (type("NoScope", (), {"code": "Custom", "reason": "r", "details": "d"})(), AttributeError, "scope"),
        (5, AttributeError, "code"),
    ],
)
def test_bad_rejects_fail_the_hook(reject, exc, text):
    engine = build(Scripted(start=[reject]))
    with pytest.raises(exc, match=text):
        engine.start_pre_trade(order())


def test_start_result_that_is_not_iterable_fails_the_hook():
    with pytest.raises(TypeError):
        build(Scripted(start=5)).start_pre_trade(order())


def test_reject_fields_are_parsed():
    reject = RejectLike("r", code="RateLimitExceeded", scope=" ORDER\u2003")
    (got,) = build(Scripted(start=[reject])).start_pre_trade(order()).rejects
    assert (got.code, got.scope, got.user_data) == ("RateLimitExceeded", "order", 0)
    (got,) = build(Scripted(start=[RejectLike(user_data=2 ** 64 - 1)])).start_pre_trade(order()).rejects
    assert got.user_data == 2 ** 64 - 1


# ------------------------------------------------------------------ main-stage shapes

@pytest.mark.parametrize("answer", [[RejectLike("x")], [], (), False, 0, {}, "text"])
def test_main_result_without_any_known_attribute_is_an_error(answer):
    journal = []
    earlier = Scripted("earlier", main=lambda ctx, o: MainResult(mutations=[Action(journal, "held")]))
    engine = build(earlier, Scripted(main=answer))
    request = engine.start_pre_trade(order()).request
    with pytest.raises(TypeError) as info:
        request.execute()
    assert str(info.value) == (
        "perform_pre_trade_check must return None or an object with 'rejects' and 'mutations', "
        f"'account_adjustments' or 'lock_prices'; got {type(answer).__name__}")
    assert journal == ["rollback held"]


def test_main_result_missing_a_paired_attribute():
    only_rejects = type("R", (), {"rejects": []})()
    only_mutations = type("M", (), {"mutations": []})()
    for answer, missing in ((only_rejects, "mutations"), (only_mutations, "rejects")):
        with pytest.raises(AttributeError, match=missing):
            build(Scripted(main=answer)).execute_pre_trade(order())


@pytest.mark.parametrize(
    "answer, ok, prices, entries",
    [
        (None, True, [], 0),
        (MainResult(account_adjustments=[]), True, [], 0),
        (MainResult(account_adjustments=[], lock_prices=[]), True, [], 0),
        (type("A", (), {"account_adjustments": [EntryLike("USD")]})(), True, [], 1),
        (type("L", (), {"lock_prices": ["2.5"]})(), True, [Price("2.5")], 0),
        (MainResult(rejects=[RejectLike()], lock_prices=[3], account_adjustments=[EntryLike()]), False, None, None),
        (MainResult(account_adjustments=[AccountOutcomeEntry(asset="EUR", balance=OutcomeAmount(delta=1, absolute=2))],
                    lock_prices=[Price(4)]), True, [Price(4)], 1),
    ],
)
def test_main_result_shapes(answer, ok, prices, entries):
    result = build(Scripted(main=answer)).execute_pre_trade(order())
    assert result.ok is ok
    if ok:
        assert [p for _, p in result.reservation.lock().entries()] == prices
        assert len(result.reservation.account_adjustments()) == entries


@pytest.mark.parametrize(
    "answer, exc",
    [
        (type("L", (), {"lock_prices": [object()]})(), ValueError),
        (type("L", (), {"lock_prices": 5})(), TypeError),
        (type("A", (), {"account_adjustments": [object()]})(), AttributeError),
        (MainResult(mutations=[object()]), AttributeError),
    ],
)
def test_main_conversion_errors_fail_the_order(answer, exc):
    engine = build(Scripted(main=answer))
    with pytest.raises(exc):
        engine.execute_pre_trade(order())


def test_mutations_staged_before_a_failing_conversion_are_rolled_back():
    journal = []
    answer = MainResult(mutations=[Action(journal, "1"), object()])
    with pytest.raises(AttributeError):
        build(Scripted(main=answer)).execute_pre_trade(order())
    assert journal == ["rollback 1"]


def test_failing_main_hook_drops_its_own_rejects_and_gives_one_callback_failure():
    engine = build(Scripted(main=lambda ctx, o: MainResult(rejects=[RejectLike("mine"), object()])))
    request = engine.start_pre_trade(order()).request
    with pytest.raises(AttributeError):
        request.execute()


# ------------------------------------------------------------------ post-trade shapes

@pytest.mark.parametrize(
    "answer, blocks, outcomes",
    [
        (None, 0, 0),
        (False, 0, 0),
        (PostTradeResult(), 0, 0),
        (PostTradeResult(account_blocks=[BlockLike()]), 1, 0),
        (type("P", (), {"account_blocks": [BlockLike(), BlockLike("b2")], "account_adjustments": []})(), 2, 0),
        (type("P", (), {"account_blocks": [], "account_adjustments": [
            vantrel.pretrade.AccountAdjustmentOutcome(policy_group_id=3, entry=AccountOutcomeEntry(asset="USD"))]})(),
         0, 1),
    ],
)
def test_post_trade_result_shapes(answer, blocks, outcomes):
    result = build(Scripted(post=answer)).apply_execution_report(report(2))
    assert (len(result.account_blocks), len(result.account_adjustments)) == (blocks, outcomes)


def test_post_trade_true_is_refused():
    engine = build(Scripted(post=True))
    with pytest.raises(TypeError, match="^apply_execution_report must return PostTradeResult or None; bool True no "
                                        "longer maps to a synthetic account block$"):
        engine.apply_execution_report(report())
    assert engine.execute_pre_trade(order()).ok


def test_post_trade_block_code_is_parsed_last():
    engine = build(Scripted(post=type("P", (), {"account_blocks": [BlockLike(code="nope", policy=5)],
                                                "account_adjustments": []})()))
    with pytest.raises(ValueError, match="^account_block.policy must be a string$"):
        engine.apply_execution_report(report())


# ------------------------------------------------------------------ adjustment shapes

def outcome_count(engine, n=1):
    result = engine.apply_account_adjustment(acct(1), adjustments(n))
    return result.ok, len(result.outcomes), [r.reason for r in result.rejects]


@pytest.mark.parametrize(
    "answer, expected",
    [
        (None, (True, 0, [])),
        (MainResult(), (True, 0, [])),
        (MainResult(rejects=[RejectLike("r")]), (False, 0, ["r"])),
        (RejectLike("single"), (False, 0, ["single"])),
        (EntryLike(), (True, 1, [])),
        ([EntryLike(), EntryLike()], (True, 2, [])),
        ([EntryLike(), RejectLike("mixed")], (False, 0, ["mixed"])),
        ([], (True, 0, [])),
        # `rejects` alone does not select the rejects-and-mutations reading: iterated instead.
        (type("R", (list,), {"rejects": [RejectLike("ignored")]})([EntryLike()]), (True, 1, [])),
    ],
)
def test_adjustment_result_shapes(answer, expected):
    assert outcome_count(build(Scripted(adjust=answer))) == expected


def test_adjustment_list_items_that_are_neither_become_mutations():
    journal = []
    engine = build(Scripted(adjust=lambda c, a, adj: [Action(journal, "m"), EntryLike()]))
    assert outcome_count(engine) == (True, 1, [])
    assert journal == ["commit m"]


def test_failing_adjustment_hook_rejects_and_raises():
    def adjust(ctx, account_id, adjustment):
        raise OSError("disk")

    with pytest.raises(OSError, match="disk"):
        build(Scripted(adjust=adjust)).apply_account_adjustment(acct(1), adjustments(1))


# ------------------------------------------------------------------ contexts

def test_context_objects():
    seen = {}

    def start(ctx, o):
        seen["start"] = (ctx.account_group, ctx.account_control)

    def post(ctx, r):
        seen["post"] = ctx.account_group
        assert not hasattr(ctx, "account_control")

    def adjust(ctx, a, adj):
        seen["adjust"] = (ctx.account_group, ctx.account_control)

    engine = build(Scripted(start=start, post=post, adjust=adjust))
    engine.accounts().register_group([acct(1)], 9)
    engine.start_pre_trade(order(1))
    group, control = seen["start"]
    assert group == AccountGroupId.from_int(9)
    assert type(control) is vantrel.AccountControl
    engine.start_pre_trade(order(None))
    assert seen["start"] == (None, None)
    engine.apply_execution_report(report(1))
    assert seen["post"] == AccountGroupId.from_int(9)
    engine.apply_account_adjustment(acct(2), adjustments(1))
    assert seen["adjust"][0] is None and type(seen["adjust"][1]) is vantrel.AccountControl
    assert type(seen["adjust"][1]) is vantrel.AccountControl


class SeesControls(NoOpPolicy):
    """Records, per hook, whether its context offers an account control, and
    blocks through it when asked to; keeps no context."""

    def __init__(self, block_account=None):
        self.seen = []
        self.block_account = block_account

    def _look(self, stage, ctx, account):
        control = ctx.account_control
        self.seen.append((stage, account, control is None))
        if control is not None and account == self.block_account:
            control.block(vantrel.pretrade.AccountBlock(policy="P", code="Custom", reason="r", details="d"))

    def check_pre_trade_start(self, ctx, order):
        account = order.operation.account_id
        self._look("start", ctx, None if account is None else account.value)

    def perform_pre_trade_check(self, ctx, order):
        account = order.operation.account_id
        self._look("main", ctx, None if account is None else account.value)

    def apply_account_adjustment(self, ctx, account_id, adjustment):
        self._look("adjust", ctx, account_id.value)


@pytest.mark.parametrize("sync", SYNC_MODES)
def test_a_context_object_used_again_carries_only_its_own_orders_account(sync):
    policy = SeesControls(block_account=2)
    engine = build(policy, sync=sync)
    for account in (1, None, 1, None):
        engine.execute_pre_trade(order(account))
    engine.apply_account_adjustment(acct(3), adjustments(1))
    engine.execute_pre_trade(order(None))
    engine.execute_pre_trade(order(2))  # blocks account 2 through its own control
    orders = [(stage, account, account is None) for account in (1, None, 1, None) for stage in ("start", "main")]
    assert policy.seen == orders + [("adjust", 3, False), ("start", None, True), ("main", None, True),
                                    ("start", 2, False)]
    assert engine.execute_pre_trade(order(1)).ok
    assert [(r.code, r.reason) for r in engine.execute_pre_trade(order(2)).rejects] == [("Custom", "r")]


class KeepOdd(NoOpPolicy):
    """Keeps the start-stage context of orders for odd accounts only."""

    name = "keep-odd"

    def __init__(self):
        self.kept = {}

    def check_pre_trade_start(self, ctx, order):
        account = order.operation.account_id.value
        if account % 2:
            self.kept.setdefault(account, ctx)


@pytest.mark.parametrize("sync", SYNC_MODES)
def test_a_kept_context_stays_its_own_snapshot_and_outlives_the_engine(sync):
    policy = KeepOdd()
    engine = build(policy, sync=sync)
    for account in (1, 3):
        engine.accounts().register_group([acct(account)], 10 + account)
    for _ in range(3):
        for account in (1, 2, 3, 4):
            assert engine.execute_pre_trade(order(account)).ok
    one, three = policy.kept[1], policy.kept[3]
    assert (one.account_group, three.account_group) == (AccountGroupId.from_int(11), AccountGroupId.from_int(13))
    del engine
    gc.collect()
    block = vantrel.pretrade.AccountBlock(policy="P", code="Custom", reason="r", details="d")
    one.account_control.block(block)  # the registry outlives the engine through the kept context
    assert three.account_group == AccountGroupId.from_int(13)


def _hook_owner(kind, calls):
    """A policy whose start hook is a callable of the given kind; each call
    records what came before the order and the order."""

    def record(*args):
        calls.append(args)

    class Policy(Bare):
        if kind == "method":
            def check_pre_trade_start(self, ctx, order):
                record(self, order)
        elif kind == "staticmethod":
            check_pre_trade_start = staticmethod(lambda ctx, order: record(order))
        elif kind == "classmethod":
            check_pre_trade_start = classmethod(lambda cls, ctx, order: record(cls, order))

    policy = Policy()
    if kind == "instance attribute":
        policy.check_pre_trade_start = lambda ctx, order: record(order)
    elif kind == "partial":
        policy.check_pre_trade_start = functools.partial(lambda tag, ctx, order: record(tag, order), "tag")
    leading = {"method": (policy,), "classmethod": (Policy,), "partial": ("tag",)}.get(kind, ())
    return policy, leading


@pytest.mark.parametrize("kind", ["method", "staticmethod", "classmethod", "instance attribute", "partial"])
def test_hooks_of_every_callable_kind_get_their_own_arguments(kind):
    calls = []
    policy, leading = _hook_owner(kind, calls)
    engine = build(policy)
    o = order(1)
    for _ in range(2):
        assert engine.start_pre_trade(o).ok
    assert calls == [leading + (o,)] * 2


def test_context_getters_make_new_objects_and_keep_the_first_group():
    seen = []

    def start(ctx, o):
        seen.append((ctx.account_group, ctx.account_group))
        engine.accounts().unregister_group([acct(1)], 4)

    def main(ctx, o):
        seen.append((ctx.account_group, None))

    engine = build(Scripted(start=start, main=main))
    engine.accounts().register_group([acct(1)], 4)
    engine.execute_pre_trade(order(1))
    (a, b), (c, _) = seen
    assert a == b and a is not b and c == a


def test_account_control_blocks_the_contexts_account():
    def main(ctx, o):
        ctx.account_control.block(vantrel.pretrade.AccountBlock(policy="P", code="Custom", reason="r", details="d",
                                                                user_data=5))

    policy = Scripted(main=main)
    engine = build(policy)
    assert engine.execute_pre_trade(order(7)).ok
    policy.main = None
    (reject,) = engine.execute_pre_trade(order(7)).rejects
    assert (reject.code, reject.policy, reject.user_data, reject.scope) == ("Custom", "P", 5, "account")

    def bad_block(ctx, o):
        ctx.account_control.block(BlockLike())

    policy.main = bad_block
    with pytest.raises(TypeError, match="^argument 'block': "):
        engine.execute_pre_trade(order(8))


# ------------------------------------------------------------------ reading order

class Recorder:
    """Answers the attributes it was given (an exception instance is raised) and
    records every lookup, so the order in which a result is read shows."""

    def __init__(self, log, **attrs):
        self.__dict__.update(_log=log, _attrs=attrs)

    def __getattr__(self, name):
        self._log.append(name)
        value = self._attrs.get(name, AttributeError(name))
        if isinstance(value, BaseException):
            raise value
        return value


@pytest.mark.parametrize(
    "attrs, exc, lookups",
    [
        # The entries are converted before lock_prices is even looked up.
        ({"account_adjustments": [object()], "lock_prices": RuntimeError("late")}, AttributeError,
         ["rejects", "mutations", "account_adjustments"]),
        ({"rejects": [], "mutations": [], "account_adjustments": [object()], "lock_prices": RuntimeError("late")},
         AttributeError, ["rejects", "mutations", "account_adjustments"]),
        ({"mutations": []}, AttributeError, ["rejects", "mutations", "rejects"]),
        ({"rejects": RuntimeError("early")}, RuntimeError, ["rejects"]),
        ({}, TypeError, ["rejects", "mutations", "account_adjustments", "lock_prices"]),
    ],
)
def test_main_result_reading_order(attrs, exc, lookups):
    log = []
    with pytest.raises(exc):
        build(Scripted(main=Recorder(log, **attrs))).execute_pre_trade(order())
    assert log == lookups


@pytest.mark.parametrize("sync", SYNC_MODES)
@pytest.mark.parametrize("answer", [[RejectLike("x")], [], False])
def test_main_result_error_restores_an_earlier_funds_hold(sync, answer):
    import spot_funds_util as funds

    engine = build(Scripted(main=answer), sync=sync, builtins=[funds.SpotFundsPolicy()])
    funds.deposit(engine, 1, "USD", 1000)
    before = funds.slot(engine, 1, "USD")
    with pytest.raises(TypeError, match="^perform_pre_trade_check must return None"):
        engine.execute_pre_trade(funds.order(1, qty=2, price=100))
    assert funds.slot(engine, 1, "USD") == before
    # The same order holds funds once the policy answers properly.
    engine = build(Scripted(main=None), sync=sync, builtins=[funds.SpotFundsPolicy()])
    funds.deposit(engine, 1, "USD", 1000)
    engine.execute_pre_trade(funds.order(1, qty=2, price=100)).reservation.commit()
    assert funds.slot(engine, 1, "USD") != before


@pytest.mark.parametrize("sync", SYNC_MODES)
def test_raising_adjustment_hook_rolls_back_the_funds_policys_staged_deposits(sync):
    import spot_funds_util as funds

    armed = []

    def adjust(ctx, account_id, adjustment):
        if armed and adjustment.operation.asset == "EUR":
            raise OSError("disk")
        return None

    engine = build(Scripted(adjust=adjust), sync=sync, builtins=[funds.SpotFundsPolicy()])
    funds.deposit(engine, 1, "USD", 1000)
    before = {asset: funds.slot(engine, 1, asset) for asset in ("USD", "EUR")}
    armed.append(True)
    # The funds policy deposits USD, then EUR, before the hook raises on EUR.
    with pytest.raises(OSError, match="disk"):
        engine.apply_account_adjustment(acct(1), [funds.adjustment("USD", balance=7), funds.adjustment("EUR", balance=5)])
    armed.clear()
    assert {asset: funds.slot(engine, 1, asset) for asset in ("USD", "EUR")} == before
    assert engine.execute_pre_trade(funds.order(1, qty=10, price=100)).ok


def test_a_refused_interpreter_lock_fails_the_hook_and_raises_at_the_entry_point(probe):
    policy = Scripted(adjust=lambda c, a, adj: pytest.fail("the hook ran without the interpreter lock"))
    assert probe.adjustment_hook_under_core_lock(policy) == (
        "python policy callback failed", "the interpreter lock was requested while a core lock is held")
    assert policy.calls["adjust"] == 0


# ------------------------------------------------------------------ order validation

@pytest.mark.parametrize(
    "kind, text, reason",
    [
        ("quantity", "-0", "order quantity must be non-zero"),
        ("quantity", "-0.000", "order quantity must be non-zero"),
        ("volume", "-0", "order volume must be non-zero"),
        ("quantity", "0.0000000000000000000000000001", None),
        ("volume", "5", None),
    ],
)
def test_order_validation_counts_every_zero(kind, text, reason):
    o = order(quantity=text) if kind == "quantity" else order(volume=text)
    result = build(validation=True).start_pre_trade(o)
    assert (None if result.ok else [r.reason for r in result.rejects]) == (None if reason is None else [reason])


def test_order_validation_without_an_amount_names_the_amount():
    from vantrel.core import Order, OrderOperation

    for o in (Order(), Order(operation=OrderOperation(account_id=acct(1)))):
        (reject,) = build(validation=True).start_pre_trade(o).rejects
        assert (reject.code, reject.reason, reject.details) == (
            "MissingRequiredField", "failed to access required field 'trade amount'",
            "failed to access field 'operation.trade_amount'")
