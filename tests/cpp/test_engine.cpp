#include <gtest/gtest.h>

#include <new>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "engine_test_util.hpp"
#include "vantrel/core/clock.hpp"
#include "vantrel/pretrade/policies/order_validation.hpp"

namespace vantrel {
namespace {

using testing::EngineFixture;
using testing::entry_of;
using testing::order_for;
using testing::reject_of;
using testing::report_for;
using testing::ScriptedPolicy;
using testing::stage;
using testing::Trace;

// By value: the outcomes are temporaries in most tests.
Rejects rejects_of(std::variant<Rejects, StartedOrder> v) { return std::get<Rejects>(std::move(v)); }
Rejects rejects_of(MainOutcome v) { return std::get<Rejects>(std::move(v)); }

std::vector<std::string> reasons(const Rejects& rejects) {
  std::vector<std::string> out;
  for (const Reject& r : rejects) out.push_back(r.reason.str());
  return out;
}

// ---------------------------------------------------------------- build

TEST(EngineBuild, RefusesAnEmptyState) {
  EngineState state(EngineSync::NoSync);
  EXPECT_EQ(build_engine(std::move(state)).error, "no policies registered");
}

TEST(EngineBuild, DuplicateChecks) {
  struct Case {
    std::vector<std::pair<const char*, std::uint16_t>> policies;
    const char* error;  // empty: builds
  };
  const Case cases[] = {
      {{{"a", 0}, {"b", 0}}, ""},
      {{{"a", 7}, {"b", 7}}, "duplicate non-default policy_group_id: 7"},
      {{{"a", 7}, {"b", 8}, {"a", 9}}, "duplicate policy name in engine configuration: a"},
      // The name check runs over the whole list before the group check.
      {{{"a", 3}, {"b", 3}, {"a", 0}}, "duplicate policy name in engine configuration: a"},
  };
  for (const Case& c : cases) {
    EngineState state(EngineSync::FullSync);
    for (auto [name, group] : c.policies) state.append(std::make_unique<ScriptedPolicy>(name, group));
    BuildOutcome outcome = build_engine(std::move(state));
    EXPECT_EQ(outcome.error, c.error);
    EXPECT_EQ(outcome.engine != nullptr, std::string(c.error).empty());
  }
}

TEST(EngineBuild, EveryStateHasRegistriesOfItsOwn) {
  EngineState a(EngineSync::FullSync), b(EngineSync::FullSync);
  EXPECT_NE(a.blocks, b.blocks);
  EXPECT_NE(a.groups, b.groups);
}

// ---------------------------------------------------------------- start stage and blocks

// Each locking mode builds its registries with the locks it promises: a
// registry of an account_sync engine is shared by every thread, so it locks.
TEST(EngineBuild, RegistriesLockPerMode) {
  struct Row {
    EngineSync sync;
    SyncMode blocks, groups, group_entries;
  };
  for (const Row& row : {Row{EngineSync::NoSync, SyncMode::None, SyncMode::None, SyncMode::None},
                         Row{EngineSync::FullSync, SyncMode::Full, SyncMode::Full, SyncMode::Full},
                         Row{EngineSync::AccountSync, SyncMode::Account, SyncMode::Account, SyncMode::None}}) {
    EngineState state(row.sync);
    SCOPED_TRACE(static_cast<int>(row.sync));
    EXPECT_EQ(state.blocks->lock_mode(), row.blocks);
    EXPECT_EQ(state.groups->lock_mode(), row.groups);
    EXPECT_EQ(state.groups->entry_lock_mode(), row.group_entries);
  }
}

TEST(StartStage, AllPoliciesRunAndRejectsKeepPolicyOrder) {
  EngineFixture f;
  auto& p1 = f.add("p1");
  auto& p2 = f.add("p2");
  auto& p3 = f.add("p3");
  p1.on_start = [](auto&, auto&) { return Rejects(reject_of("p1", "one")); };
  p2.on_start = [](auto&, auto&) { return std::nullopt; };
  p3.on_start = [](auto&, auto&) {
    Rejects r(reject_of("p3", "two"));
    r.push_back(reject_of("p3", "three"));
    return std::optional<Rejects>(std::move(r));
  };
  auto engine = f.build();
  auto outcome = engine->start(order_for(1));
  EXPECT_EQ(reasons(rejects_of(std::move(outcome))), (std::vector<std::string>{"one", "two", "three"}));
  EXPECT_EQ(p2.start_calls, 1);
  EXPECT_EQ(p3.start_calls, 1);
  // Order-scope rejects block nothing.
  EXPECT_FALSE(engine->blocks().any_block());
}

TEST(StartStage, PublishesOneInstantToEveryPolicyAndRestoresIt) {
  EngineFixture f;
  std::vector<std::optional<Instant>> seen;
  for (const char* n : {"a", "b"}) {
    f.add(n).on_start = [&seen](auto&, auto&) {
      seen.push_back(current_instant());
      return std::nullopt;
    };
  }
  auto engine = f.build();
  ASSERT_FALSE(current_instant());
  ASSERT_TRUE(std::holds_alternative<StartedOrder>(engine->start(order_for(1))));
  ASSERT_EQ(seen.size(), 2u);
  ASSERT_TRUE(seen[0]);
  EXPECT_EQ(seen[0]->seconds, seen[1]->seconds);
  EXPECT_EQ(seen[0]->nanos, seen[1]->nanos);
  EXPECT_FALSE(current_instant());
}

TEST(StartStage, ANestedStartStageLeavesTheOuterInstantInPlace) {
  // A clock that moves on every reading, so the nested stage publishes another instant.
  static std::uint64_t ticks = 0;
  set_test_clock([]() noexcept { return Instant{++ticks, 0}; });
  EngineFixture f;
  auto& outer = f.add("outer");
  std::shared_ptr<EngineCore> engine;
  std::vector<std::uint64_t> seen;
  outer.on_start = [&](auto&, const OrderRecord& o) -> std::optional<Rejects> {
    seen.push_back(current_instant()->seconds);
    if (o.operation->account_id->value == 1) engine->start(order_for(2));
    seen.push_back(current_instant()->seconds);
    return std::nullopt;
  };
  engine = f.build();
  engine->start(order_for(1));
  set_test_clock(nullptr);
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[0], seen[3]);  // outer, before and after the nested stage
  EXPECT_NE(seen[0], seen[1]);  // the nested stage saw its own reading
  EXPECT_FALSE(current_instant());
}

TEST(Blocks, NoBlockMeansAnOrderWithoutAccountPasses) {
  EngineFixture f;
  f.add("p");
  auto engine = f.build();
  EXPECT_TRUE(std::holds_alternative<StartedOrder>(engine->start(order_for(std::nullopt))));
}

TEST(Blocks, FirstAccountScopeRejectBlocksWithCodeAccountBlocked) {
  EngineFixture f;
  auto& p1 = f.add("p1");
  auto& p2 = f.add("p2");
  p1.on_start = [](auto&, auto&) {
    Rejects r(reject_of("p1", "order only"));
    r.push_back(reject_of("p1", "first", RejectScope::Account, RejectCode::RateLimitExceeded, 77));
    return std::optional<Rejects>(std::move(r));
  };
  p2.on_start = [](auto&, auto&) { return Rejects(reject_of("p2", "second", RejectScope::Account)); };
  auto engine = f.build();
  EXPECT_EQ(rejects_of(engine->start(order_for(5))).size(), 3u);

  std::optional<AccountBlock> block = engine->blocks().block_of(AccountId{5});
  ASSERT_TRUE(block);
  EXPECT_EQ(block->reason, "first");
  EXPECT_EQ(block->details, "first details");
  EXPECT_EQ(block->policy, "p1");
  EXPECT_EQ(block->user_data, 77u);
  EXPECT_EQ(block->code, RejectCode::AccountBlocked);

  // The next order of that account is refused by the engine before any policy runs.
  p1.on_start = nullptr;
  p2.on_start = nullptr;
  const int calls = p1.start_calls;
  Rejects again = rejects_of(engine->start(order_for(5)));
  ASSERT_EQ(again.size(), 1u);
  EXPECT_EQ(again[0].reason, "first");
  EXPECT_EQ(again[0].policy, "p1");
  EXPECT_EQ(again[0].user_data, 77u);
  EXPECT_EQ(again[0].scope, RejectScope::Account);
  EXPECT_EQ(again[0].code, RejectCode::AccountBlocked);
  EXPECT_EQ(p1.start_calls, calls);

  // Another account still trades; an order without an account id no longer does.
  EXPECT_TRUE(std::holds_alternative<StartedOrder>(engine->start(order_for(6))));
  Rejects anonymous = rejects_of(engine->start(order_for(std::nullopt)));
  EXPECT_EQ(anonymous[0].reason, "account could not be verified as account ID is missing");
  EXPECT_EQ(anonymous[0].details, "unable to check account for blocking");
  EXPECT_EQ(anonymous[0].policy, "Engine");
  EXPECT_EQ(anonymous[0].code, RejectCode::MissingRequiredField);
  EXPECT_EQ(anonymous[0].scope, RejectScope::Order);
}

TEST(Blocks, FirstBlockOfAnAccountIsNeverReplaced) {
  auto registry = std::make_shared<AccountBlockRegistry>(SyncMode::Full);
  AccountBlock first{.policy = "p1", .reason = "r1", .details = "d1", .user_data = 1, .code = RejectCode::Custom};
  AccountBlock second{.policy = "p2", .reason = "r2", .details = "d2", .user_data = 2, .code = RejectCode::Other};
  registry->record(AccountId{1}, first);
  registry->record(AccountId{1}, second);
  EXPECT_EQ(registry->block_of(AccountId{1})->reason, "r1");
  EXPECT_EQ(registry->check(AccountId{1})->code, RejectCode::Custom);
}

TEST(Blocks, AccountScopeRejectWithoutAccountBlocksEveryUnblockedAccount) {
  EngineFixture f;
  auto& p = f.add("p");
  auto engine = f.build();
  engine->blocks().record(AccountId{9}, AccountBlock{.policy = "x", .reason = "own", .details = "own d",
                                                     .user_data = 0, .code = RejectCode::PnlKillSwitchTriggered});
  p.on_start = [](auto&, const OrderRecord& o) -> std::optional<Rejects> {
    if (o.operation->account_id) return std::nullopt;
    return Rejects(reject_of("p", "kill", RejectScope::Account));
  };
  // Blocks exist, so the anonymous order is refused before the policy can run.
  EXPECT_EQ(rejects_of(engine->start(order_for(std::nullopt)))[0].policy, "Engine");
  EXPECT_FALSE(engine->blocks().accountless_block());

  // Through the main stage of a request started before any block existed.
  EngineFixture g;
  auto& q = g.add("q");
  auto fresh = g.build();
  auto started = fresh->start(order_for(std::nullopt));
  ASSERT_TRUE(std::holds_alternative<StartedOrder>(started));
  q.on_main = [](auto&, auto&, auto&) { return PreTradeCheck(Rejects(reject_of("q", "kill", RejectScope::Account))); };
  EXPECT_EQ(rejects_of(fresh->main_stage(std::get<StartedOrder>(started)))[0].reason, "kill");
  EXPECT_TRUE(fresh->blocks().accountless_block());
  q.on_main = nullptr;
  Rejects refused = rejects_of(fresh->start(order_for(3)));
  EXPECT_EQ(refused[0].reason, "account is blocked due to kill-switch");
  EXPECT_EQ(refused[0].details, "kill-switch was previously triggered for this account");
  EXPECT_EQ(refused[0].code, RejectCode::AccountBlocked);
  EXPECT_EQ(refused[0].scope, RejectScope::Account);
}

TEST(Blocks, AccountsWithBlocksOfTheirOwnKeepTheirTextsUnderAnAccountlessBlock) {
  auto registry = std::make_shared<AccountBlockRegistry>(SyncMode::Account);
  registry->record(AccountId{1}, AccountBlock{.policy = "P", .reason = "mine", .details = "", .user_data = 4,
                                              .code = RejectCode::PnlKillSwitchTriggered});
  registry->record_accountless();
  EXPECT_EQ(registry->check(AccountId{1})->reason, "mine");
  EXPECT_EQ(registry->check(AccountId{1})->code, RejectCode::PnlKillSwitchTriggered);
  EXPECT_EQ(registry->check(AccountId{2})->reason, "account is blocked due to kill-switch");
}

// ---------------------------------------------------------------- main stage

TEST(MainStage, RejectRollsBackEverythingInReverseAndAllPoliciesRun) {
  Trace trace;
  EngineFixture f;
  auto& a = f.add("a");
  auto& b = f.add("b");
  auto& c = f.add("c");
  a.on_main = [&](auto&, auto&, Mutations& m) {
    stage(m, trace, "a1");
    stage(m, trace, "a2");
    return PreTradeCheck();
  };
  b.on_main = [&](auto&, auto&, Mutations& m) {
    stage(m, trace, "b");
    return PreTradeCheck(Rejects(reject_of("b", "no")));
  };
  c.on_main = [&](auto&, auto&, Mutations& m) {
    stage(m, trace, "c");
    PreTradeContribution contribution;
    contribution.lock_prices.push_back(Price{Decimal::from_i64(1)});
    return PreTradeCheck(std::move(contribution));
  };
  auto engine = f.build();
  MainOutcome outcome = engine->execute(order_for(1));
  EXPECT_EQ(reasons(rejects_of(std::move(outcome))), std::vector<std::string>{"no"});
  EXPECT_EQ(c.main_calls, 1);
  EXPECT_EQ(trace.events, (std::vector<std::string>{"rollback c", "rollback b", "rollback a2", "rollback a1"}));
}

TEST(MainStage, LockedPricesAreFiledPerGroupInFirstArrivalOrder) {
  // Prices arrive for groups 5, 0, 5, 3; group 9 contributes an empty list.
  struct Spec {
    const char* name;
    std::uint16_t group;
    std::vector<std::int64_t> prices;
    int entries;
  };
  const Spec specs[] = {{"g5", 5, {10, 12}, 1}, {"g0", 0, {11}, 1}, {"g3", 3, {13}, 2}, {"g9", 9, {}, 0}};
  EngineFixture f;
  std::vector<ScriptedPolicy*> added;
  for (const Spec& spec : specs) {
    auto& p = f.add(spec.name, spec.group);
    added.push_back(&p);
    p.on_main = [spec](auto&, auto&, auto&) {
      if (spec.prices.empty()) return PreTradeCheck();
      PreTradeContribution c;
      for (std::int64_t v : spec.prices) c.lock_prices.push_back(Price{Decimal::from_i64(v)});
      for (int i = 0; i < spec.entries; ++i) c.entries.push_back(entry_of("USD"));
      return PreTradeCheck(std::move(c));
    };
  }
  auto engine = f.build();
  const int group_calls_of_g9 = added[3]->group_calls;
  MainOutcome outcome = engine->execute(order_for(1));
  CoreReservation& reservation = std::get<CoreReservation>(outcome);
  EXPECT_EQ(testing::section_groups(reservation.lock()), (std::vector<std::uint16_t>{5, 3}));
  EXPECT_EQ(testing::prices_of(reservation.lock(), 5), (std::vector<std::int64_t>{10, 12}));
  EXPECT_EQ(testing::prices_of(reservation.lock(), 0), (std::vector<std::int64_t>{11}));
  EXPECT_EQ(testing::prices_of(reservation.lock(), 3), (std::vector<std::int64_t>{13}));
  EXPECT_TRUE(testing::prices_of(reservation.lock(), 9).empty());
  std::vector<std::uint16_t> tags;
  for (const AdjustmentOutcomeRecord& o : reservation.account_adjustments()) tags.push_back(o.policy_group_id);
  EXPECT_EQ(tags, (std::vector<std::uint16_t>{5, 0, 3, 3}));
  // A policy that contributes nothing is not asked for its group.
  EXPECT_EQ(added[3]->group_calls, group_calls_of_g9);
}

TEST(MainStage, BlockRecordedAfterTheStartStageStopsEveryMainHook) {
  EngineFixture f;
  auto& p = f.add("p");
  auto engine = f.build();
  auto started = engine->start_request(order_for(4));
  ASSERT_TRUE(std::holds_alternative<RequestClosure>(started));
  engine->blocks().record(AccountId{4}, AccountBlock{.policy = "K", .reason = "late", .details = "dd",
                                                     .user_data = 3, .code = RejectCode::PnlKillSwitchTriggered});
  MainOutcome outcome = run_request(std::move(std::get<RequestClosure>(started)));
  Rejects r = rejects_of(std::move(outcome));
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].reason, "late");
  EXPECT_EQ(r[0].code, RejectCode::PnlKillSwitchTriggered);
  EXPECT_EQ(r[0].user_data, 3u);
  EXPECT_EQ(p.main_calls, 0);
}

TEST(MainStage, RequestThatOutlivesItsEngineGetsTheEngineGoneReject) {
  std::optional<RequestClosure> closure;
  {
    EngineFixture f;
    f.add("p");
    auto engine = f.build();
    closure.emplace(std::get<RequestClosure>(engine->start_request(order_for(1))));
  }
  MainOutcome outcome = run_request(std::move(*closure));
  Reject r = rejects_of(std::move(outcome))[0];
  EXPECT_EQ(r.reason, "engine is no longer available");
  EXPECT_EQ(r.details, "request handle outlived engine instance");
  EXPECT_EQ(r.policy, "Engine");
  EXPECT_EQ(r.code, RejectCode::SystemUnavailable);
  EXPECT_EQ(r.scope, RejectScope::Order);
}

TEST(MainStage, GroupResolvedAtTheStartStageIsReusedByTheMainStage) {
  EngineFixture f;
  auto& p = f.add("p");
  std::vector<std::optional<AccountGroupId>> seen;
  p.on_start = [&](const PreTradeContext& ctx, auto&) {
    seen.push_back(ctx.account_group());
    return std::nullopt;
  };
  p.on_main = [&](const PreTradeContext& ctx, auto&, auto&) {
    seen.push_back(ctx.account_group());
    return PreTradeCheck();
  };
  auto engine = f.build();
  const AccountId account{8};
  ASSERT_FALSE(engine->groups().register_group(std::span(&account, 1), AccountGroupId{5}));
  auto started = engine->start(order_for(8));
  ASSERT_FALSE(engine->groups().unregister_group(std::span(&account, 1), AccountGroupId{5}));
  engine->main_stage(std::get<StartedOrder>(started));
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], AccountGroupId{5});
  EXPECT_EQ(seen[1], AccountGroupId{5});
}

TEST(MainStage, AccountControlOfferedOnlyWithAnAccountId) {
  EngineFixture f;
  std::vector<bool> offered;
  f.add("p").on_start = [&](const PreTradeContext& ctx, auto&) {
    offered.push_back(ctx.account_control() != nullptr);
    return std::nullopt;
  };
  auto engine = f.build();
  engine->start(order_for(1));
  engine->start(order_for(std::nullopt));
  EXPECT_EQ(offered, (std::vector<bool>{true, false}));
}

// ---------------------------------------------------------------- reservation

TEST(Reservation, FinalisesOnceAndRollsBackWhenReleasedOpen) {
  for (int how : {0, 1, 2}) {  // commit, rollback, release
    Trace trace;
    EngineFixture f;
    f.add("p").on_main = [&](auto&, auto&, Mutations& m) {
      stage(m, trace, "x");
      stage(m, trace, "y");
      return PreTradeCheck();
    };
    auto engine = f.build();
    {
      MainOutcome outcome = engine->execute(order_for(1));
      CoreReservation& r = std::get<CoreReservation>(outcome);
      if (how == 0) r.commit();
      if (how == 1) r.rollback();
      if (how != 2) {
        EXPECT_FALSE(r.open());
        r.commit();
        r.rollback();
      }
    }
    const std::vector<std::string> expected =
        how == 0 ? std::vector<std::string>{"commit x", "commit y"} : std::vector<std::string>{"rollback y", "rollback x"};
    EXPECT_EQ(trace.events, expected) << how;
  }
}

// ---------------------------------------------------------------- post-trade

TEST(PostTrade, GathersEverythingAndRecordsOnlyTheFirstBlockWithItsOwnCode) {
  EngineFixture f;
  auto& a = f.add("a", 2);
  auto& b = f.add("b");
  auto& c = f.add("c");
  a.on_report = [](auto&, auto&) {
    PostTradeContribution contribution;
    contribution.account_adjustments.push_back(AdjustmentOutcomeRecord{entry_of("USD"), 2});
    return std::optional<PostTradeContribution>(std::move(contribution));
  };
  b.on_report = [](auto&, auto&) {
    PostTradeContribution contribution;
    contribution.account_blocks.push_back(AccountBlock{.policy = "b", .reason = "pnl", .details = "d",
                                                       .user_data = 0, .code = RejectCode::PnlKillSwitchTriggered});
    return std::optional<PostTradeContribution>(std::move(contribution));
  };
  c.on_report = b.on_report;
  auto engine = f.build();
  PostTradeOutcome outcome = engine->apply_execution_report(report_for(3));
  EXPECT_EQ(outcome.account_blocks.size(), 2u);
  EXPECT_EQ(outcome.account_adjustments.size(), 1u);
  std::optional<Reject> refused = engine->blocks().check(AccountId{3});
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->code, RejectCode::PnlKillSwitchTriggered);
  EXPECT_EQ(refused->policy, "b");
}

TEST(PostTrade, FirstBlockWinsWithinAReportAndAcrossReports) {
  EngineFixture f;
  std::vector<AccountBlock> next;  // what the next report's policies block with, one each
  for (const char* name : {"a", "b"})
    f.add(name).on_report = [&next, name](auto&, auto&) -> std::optional<PostTradeContribution> {
      PostTradeContribution c;
      const AccountBlock* mine = nullptr;
      for (const AccountBlock& block : next)
        if (block.policy == name) mine = &block;
      if (mine != nullptr) c.account_blocks.push_back(*mine);
      return c;
    };
  auto engine = f.build();
  const AccountBlock first{.policy = "a", .reason = "first", .details = "d1", .user_data = 1,
                           .code = RejectCode::PnlKillSwitchTriggered};
  const AccountBlock second{.policy = "b", .reason = "second", .details = "d2", .user_data = 2,
                            .code = RejectCode::Other};
  next = {first, second};
  EXPECT_EQ(engine->apply_execution_report(report_for(3)).account_blocks, next);
  next = {AccountBlock{.policy = "b", .reason = "third", .details = "d3", .user_data = 3, .code = RejectCode::Custom}};
  EXPECT_EQ(engine->apply_execution_report(report_for(3)).account_blocks.size(), 1u);
  EXPECT_EQ(engine->blocks().block_of(AccountId{3}), first);
  const std::optional<Reject> refused = engine->blocks().check(AccountId{3});
  ASSERT_TRUE(refused);
  EXPECT_EQ((std::tuple(refused->policy, refused->reason, refused->code, refused->user_data)),
            (std::tuple(std::string("a"), std::string("first"), RejectCode::PnlKillSwitchTriggered, 1ull)));
}

TEST(Blocks, RecordThatCannotBeBuiltRefusesEveryUnblockedAccount) {
  AccountBlockRegistry registry(SyncMode::None);
  registry.record_or_refuse_all(AccountId{1}, [] { return AccountBlock{.policy = "p", .reason = "kept"}; });
  EXPECT_FALSE(registry.accountless_block());
  registry.record_or_refuse_all(AccountId{2}, []() -> AccountBlock { throw std::bad_alloc(); });
  EXPECT_TRUE(registry.accountless_block());
  EXPECT_EQ(registry.check(AccountId{1})->reason, "kept");
  EXPECT_EQ(registry.check(AccountId{2})->reason, "account is blocked due to kill-switch");
}

TEST(PostTrade, NothingReturnedRecordsNothing) {
  EngineFixture f;
  f.add("a");
  auto engine = f.build();
  PostTradeOutcome outcome = engine->apply_execution_report(report_for(3));
  EXPECT_TRUE(outcome.account_blocks.empty());
  EXPECT_FALSE(engine->blocks().any_block());
}

TEST(PostTrade, BlockForAReportWithoutAccountSetsTheAccountlessFlag) {
  EngineFixture f;
  f.add("a").on_report = [](auto&, auto&) {
    PostTradeContribution c;
    c.account_blocks.push_back(AccountBlock{.policy = "a", .reason = "r", .details = "d", .user_data = 0,
                                            .code = RejectCode::MissingRequiredField});
    return std::optional<PostTradeContribution>(std::move(c));
  };
  auto engine = f.build();
  engine->apply_execution_report(report_for(std::nullopt));
  EXPECT_TRUE(engine->blocks().accountless_block());
  EXPECT_EQ(engine->blocks().check(AccountId{11})->reason, "account is blocked due to kill-switch");
}

// ---------------------------------------------------------------- adjustments

TEST(Adjustments, RejectRollsBackTheWholeBatchAndReportsItsIndex) {
  Trace trace;
  EngineFixture f;
  auto& a = f.add("a", 4);
  auto& b = f.add("b");
  int seen = 0;
  a.on_adjust = [&](auto&, AccountId, auto&, Mutations& m) {
    stage(m, trace, "a" + std::to_string(seen));
    return AdjustmentCheck(std::vector<OutcomeEntryRecord>{entry_of("USD")});
  };
  b.on_adjust = [&](auto&, AccountId, auto&, Mutations& m) -> AdjustmentCheck {
    stage(m, trace, "b" + std::to_string(seen));
    if (seen++ == 1) return Rejects(reject_of("b", "no", RejectScope::Account));
    return {};
  };
  auto engine = f.build();
  std::vector<AccountAdjustmentRecord> batch(3);
  AdjustmentBatchOutcome outcome = engine->apply_account_adjustment(AccountId{1}, batch);
  EXPECT_EQ(outcome.failed_index, 1u);
  ASSERT_TRUE(outcome.rejects);
  EXPECT_EQ(outcome.rejects->front().reason, "no");
  EXPECT_TRUE(outcome.outcomes.empty());
  EXPECT_EQ(a.adjust_calls, 2);  // the third adjustment was never offered
  EXPECT_EQ(trace.events, (std::vector<std::string>{"rollback b1", "rollback a1", "rollback b0", "rollback a0"}));
  // Adjustment rejects never block, whatever their scope.
  EXPECT_FALSE(engine->blocks().any_block());
}

TEST(Adjustments, AcceptedBatchCommitsInOrderAndTagsOutcomes) {
  Trace trace;
  EngineFixture f;
  auto& a = f.add("a", 4);
  auto& b = f.add("b", 6);
  a.on_adjust = [&](auto&, AccountId id, auto&, Mutations& m) {
    EXPECT_EQ(id.value, 1u);
    stage(m, trace, "a");
    return AdjustmentCheck(std::vector<OutcomeEntryRecord>{entry_of("USD")});
  };
  b.on_adjust = [](auto&, AccountId, auto&, auto&) { return AdjustmentCheck(std::vector<OutcomeEntryRecord>{}); };
  auto engine = f.build();
  const int b_group_calls = b.group_calls;
  std::vector<AccountAdjustmentRecord> batch(2);
  AdjustmentBatchOutcome outcome = engine->apply_account_adjustment(AccountId{1}, batch);
  EXPECT_FALSE(outcome.failed_index);
  ASSERT_EQ(outcome.outcomes.size(), 2u);
  EXPECT_EQ(outcome.outcomes[0].policy_group_id, 4);
  EXPECT_EQ(trace.events, (std::vector<std::string>{"commit a", "commit a"}));
  EXPECT_EQ(b.group_calls, b_group_calls);  // empty entry lists do not ask for the group
}

TEST(Adjustments, EmptyBatchCallsNoPolicy) {
  EngineFixture f;
  auto& a = f.add("a");
  auto engine = f.build();
  AdjustmentBatchOutcome outcome = engine->apply_account_adjustment(AccountId{1}, {});
  EXPECT_FALSE(outcome.failed_index);
  EXPECT_EQ(a.adjust_calls, 0);
}

TEST(Adjustments, ContextAlwaysOffersAccountControl) {
  EngineFixture f;
  const AccountBlockRegistry* seen = nullptr;
  f.add("a").on_adjust = [&](const AccountAdjustmentContext& ctx, AccountId, auto&, auto&) {
    seen = &ctx.account_control();
    return AdjustmentCheck();
  };
  auto engine = f.build();
  std::vector<AccountAdjustmentRecord> batch(1);
  engine->apply_account_adjustment(AccountId{1}, batch);
  EXPECT_EQ(seen, &engine->blocks());
}

// ---------------------------------------------------------------- defaults and validation

TEST(PolicyDefaults, APolicyWithOnlyAStartCheckTakesNoOtherPart) {
  OrderValidationPolicy policy(3);
  auto groups = std::make_shared<AccountGroupRegistry>(SyncMode::None, SyncMode::None);
  auto blocks = std::make_shared<AccountBlockRegistry>(SyncMode::None);
  PreTradeContext ctx(AccountId{1}, *groups, *blocks);
  Mutations m;
  EXPECT_TRUE(policy.perform_pre_trade_check(ctx, order_for(1), m).is_nothing());
  EXPECT_FALSE(policy.apply_execution_report(PostTradeContext(AccountId{1}, *groups), report_for(1)));
  AdjustmentCheck adjustment =
      policy.apply_account_adjustment(AccountAdjustmentContext(AccountId{1}, *groups, *blocks), AccountId{1}, {}, m);
  ASSERT_TRUE(adjustment.entries());
  EXPECT_TRUE(adjustment.entries()->empty());
  EXPECT_TRUE(m.empty());
  EXPECT_EQ(policy.policy_group_id(), 3);
  EXPECT_EQ(policy.name(), "OrderValidationPolicy");
}

TEST(OrderValidation, RefusesMissingAndZeroAmounts) {
  struct Case {
    const char* name;
    OrderRecord order;
    const char* reason;  // null: passes
    const char* details;
    RejectCode code;
  };
  auto with_amount = [](TradeAmount amount) {
    OrderRecord o = order_for(1);
    o.operation->trade_amount = amount;
    return o;
  };
  OrderRecord no_amount = order_for(1);
  no_amount.operation->trade_amount.reset();
  std::vector<Case> cases;
  cases.push_back({"no operation", OrderRecord{}, "failed to access required field 'trade amount'",
                   "failed to access field 'operation.trade_amount'", RejectCode::MissingRequiredField});
  cases.push_back({"no amount", std::move(no_amount), "failed to access required field 'trade amount'",
                   "failed to access field 'operation.trade_amount'", RejectCode::MissingRequiredField});
  cases.push_back({"quantity 0.00", with_amount(TradeAmount::of_quantity(Quantity{Decimal::from_parts(0, 0, 2, false)})),
                   "order quantity must be non-zero", "requested quantity 0 is not allowed",
                   RejectCode::InvalidFieldValue});
  cases.push_back({"quantity -0.000", with_amount(TradeAmount{TradeAmount::Kind::Quantity, Decimal::from_parts(0, 0, 3, true)}),
                   "order quantity must be non-zero", "requested quantity 0 is not allowed",
                   RejectCode::InvalidFieldValue});
  cases.push_back({"volume 0", with_amount(TradeAmount::of_volume(Volume{Decimal::from_i64(0)})),
                   "order volume must be non-zero", "requested volume 0 is not allowed", RejectCode::InvalidFieldValue});
  cases.push_back({"volume 5", with_amount(TradeAmount::of_volume(Volume{Decimal::from_i64(5)})), nullptr, nullptr,
                   RejectCode::Other});
  cases.push_back({"quantity -1", with_amount(TradeAmount{TradeAmount::Kind::Quantity, Decimal::from_i64(-1)}),
                   nullptr, nullptr, RejectCode::Other});
  cases.push_back({"quantity 1e-28", with_amount(TradeAmount::of_quantity(Quantity{Decimal::from_parts(1, 0, 28, false)})),
                   nullptr, nullptr, RejectCode::Other});

  OrderValidationPolicy policy;
  auto groups = std::make_shared<AccountGroupRegistry>(SyncMode::None, SyncMode::None);
  auto blocks = std::make_shared<AccountBlockRegistry>(SyncMode::None);
  PreTradeContext ctx(AccountId{1}, *groups, *blocks);
  for (const Case& c : cases) {
    std::optional<Rejects> rejects = policy.check_pre_trade_start(ctx, c.order);
    if (c.reason == nullptr) {
      EXPECT_FALSE(rejects) << c.name;
      continue;
    }
    ASSERT_TRUE(rejects) << c.name;
    ASSERT_EQ(rejects->size(), 1u) << c.name;
    const Reject& r = rejects->front();
    EXPECT_EQ(r.reason, c.reason) << c.name;
    EXPECT_EQ(r.details, c.details) << c.name;
    EXPECT_EQ(r.code, c.code) << c.name;
    EXPECT_EQ(r.policy, "OrderValidationPolicy") << c.name;
    EXPECT_EQ(r.scope, RejectScope::Order) << c.name;
    EXPECT_EQ(r.user_data, 0u) << c.name;
  }
}

}  // namespace
}  // namespace vantrel
