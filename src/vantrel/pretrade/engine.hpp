#pragma once
// The built engine and the roads through it: the start stage, the main stage,
// the post-trade path and the account-adjustment path.
//
// Locks and the interpreter lock. The engine itself takes only the registries'
// locks, and only before a policy is called or after all have returned;
// policies take their own. Which lock exists in which locking mode, and the
// order they are taken in: the table in core/rw_lock.hpp. In account_sync the
// policies change per-account values without a lock, so calls touching one
// account must not overlap (the host's contract).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "vantrel/core/account_adjustment.hpp"
#include "vantrel/core/execution_report.hpp"
#include "vantrel/core/inline_vector.hpp"
#include "vantrel/core/lock.hpp"
#include "vantrel/core/order.hpp"
#include "vantrel/core/outcome.hpp"
#include "vantrel/pretrade/account_blocks.hpp"
#include "vantrel/pretrade/account_groups.hpp"
#include "vantrel/pretrade/context.hpp"
#include "vantrel/pretrade/mutations.hpp"
#include "vantrel/pretrade/policies/policy.hpp"

namespace vantrel {

// The locking mode chosen on the builder; the numbers are internal.
enum class EngineSync : std::uint8_t { NoSync = 0, FullSync = 1, AccountSync = 2 };

// The lock mode of everything an engine in `sync` locks: its registries, its
// policies and the market data it builds.
SyncMode engine_lock_mode(EngineSync sync) noexcept;
// The extra lock around the group registry's stored values: full_sync only.
SyncMode group_entry_lock_mode(EngineSync sync) noexcept;

// What a builder collects before build(). Not thread-safe: owned by one builder.
struct EngineState {
  explicit EngineState(EngineSync sync);

  void append(std::unique_ptr<Policy> policy);

  std::vector<BoxedPolicy> policies;
  bool has_policies = false;
  std::shared_ptr<AccountBlockRegistry> blocks;
  std::shared_ptr<AccountGroupRegistry> groups;
  EngineSync sync;
};

class EngineCore;

// build(): the engine, or the ValueError text that refuses the state.
struct BuildOutcome {
  std::shared_ptr<EngineCore> engine;
  std::string error;
};
BuildOutcome build_engine(EngineState state);

// An order that passed the start stage: its context (with the account group
// as the start stage left it) and the order itself.
struct StartedOrder {
  PreTradeContext context;
  OrderRecord order;
};

// A request's one-shot closure; holds the engine only weakly.
struct RequestClosure {
  StartedOrder started;
  std::weak_ptr<const EngineCore> engine;
};

// The outcome entries of one reservation: the funds policy's two fit inline,
// so an accepted order allocates nothing for them.
using ReservationOutcomes = InlineVector<AdjustmentOutcomeRecord, 2>;

// What a successful main stage hands the caller. Released while still open
// it rolls back (last staged first).
class CoreReservation {
 public:
  // Open with nothing staged: the main stage fills it inside the outcome it
  // returns, so no move stands between staging and the caller. The caller may
  // move it on (the Python binding moves it, undos included, into its
  // Reservation object): each inline action is relocated, which cannot fail.
  CoreReservation() noexcept : open_(true) {}
  CoreReservation(Lock lock, ReservationOutcomes outcomes, Mutations mutations) noexcept
      : lock_(std::move(lock)), outcomes_(std::move(outcomes)), finalizer_(std::move(mutations)), open_(true) {}
  CoreReservation(CoreReservation&& other) noexcept
      : lock_(std::move(other.lock_)),
        outcomes_(std::move(other.outcomes_)),
        finalizer_(std::move(other.finalizer_)),
        open_(std::exchange(other.open_, false)) {}
  CoreReservation& operator=(CoreReservation&&) = delete;
  ~CoreReservation() { rollback(); }

  const Lock& lock() const noexcept { return lock_; }
  std::span<const AdjustmentOutcomeRecord> account_adjustments() const noexcept {
    return {outcomes_.data(), outcomes_.size()};
  }
  bool open() const noexcept { return open_; }

  // Each finalises once; the list is taken out before any action runs.
  void commit() noexcept {
    if (!std::exchange(open_, false)) return;
    finalizer_.commit();
  }
  void rollback() noexcept {
    if (!std::exchange(open_, false)) return;
    finalizer_.rollback();
  }

 private:
  friend class EngineCore;

  Lock lock_;
  ReservationOutcomes outcomes_;
  Mutations finalizer_;
  bool open_;
};

using StartOutcome = std::variant<Rejects, RequestClosure>;
using MainOutcome = std::variant<Rejects, CoreReservation>;

struct PostTradeOutcome {
  std::vector<AccountBlock> account_blocks;
  std::vector<AdjustmentOutcomeRecord> account_adjustments;
};

struct AdjustmentBatchOutcome {
  std::optional<std::size_t> failed_index;  // set exactly when rejected
  std::optional<Rejects> rejects;
  std::vector<AdjustmentOutcomeRecord> outcomes;
};

// The built engine: the policy list (read-only, read without a lock) and the
// two registries, shared with every Accounts handle and account control.
class EngineCore : public std::enable_shared_from_this<EngineCore> {
 public:
  EngineCore(std::vector<BoxedPolicy> policies, std::shared_ptr<AccountBlockRegistry> blocks,
             std::shared_ptr<AccountGroupRegistry> groups) noexcept;

  const std::vector<BoxedPolicy>& policies() const noexcept { return policies_; }
  AccountBlockRegistry& blocks() const noexcept { return *blocks_; }
  AccountGroupRegistry& groups() const noexcept { return *groups_; }
  const std::shared_ptr<AccountBlockRegistry>& blocks_handle() const noexcept { return blocks_; }
  const std::shared_ptr<AccountGroupRegistry>& groups_handle() const noexcept { return groups_; }

  // The start stage: the block check, one clock reading published as the
  // thread's current instant, every policy's start check. The order is
  // consumed either way.
  std::variant<Rejects, StartedOrder> start(OrderRecord order) const;
  // The same, packed for a request that outlives this call.
  StartOutcome start_request(OrderRecord order) const;
  // The main stage on an order that passed the start stage here.
  MainOutcome main_stage(StartedOrder& started) const;
  // Both stages in one call; no weak handle is made.
  MainOutcome execute(OrderRecord order) const;

  PostTradeOutcome apply_execution_report(const ExecutionReportRecord& report) const;
  AdjustmentBatchOutcome apply_account_adjustment(AccountId account_id,
                                                  std::span<const AccountAdjustmentRecord> adjustments) const;

 private:
  // Records the block of the first account-scope reject of a stage.
  void block_from_stage(const PreTradeContext& ctx, const Rejects& rejects) const;
  // The stage context of an order: its account, the two registries.
  PreTradeContext context_for(const OrderRecord& order) const noexcept;
  // The block check, then every policy's start check on the order where it
  // stands, under one clock reading; the rejects, their block already recorded.
  std::optional<Rejects> start_checks(const PreTradeContext& ctx, const OrderRecord& order) const;
  // The main stage on the order where it stands.
  MainOutcome main_checks(const PreTradeContext& ctx, const OrderRecord& order) const;

  std::vector<BoxedPolicy> policies_;
  std::shared_ptr<AccountBlockRegistry> blocks_;
  std::shared_ptr<AccountGroupRegistry> groups_;
};

// The main stage of a request: the engine-gone reject when the engine was
// released meanwhile. Consumes the closure.
MainOutcome run_request(RequestClosure closure);

// The reject of a request that outlived its engine.
Reject engine_gone_reject();

}  // namespace vantrel
