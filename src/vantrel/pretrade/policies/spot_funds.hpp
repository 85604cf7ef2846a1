#pragma once
// The funds policy: per account and asset, how much is available, held for
// open orders and incoming; orders the account cannot pay for are refused, the
// funds of accepted ones are held until reports consume or release them.
//
// Concurrency: configuration is read-only; holdings live in HoldingsState
// behind its locks, taken in the order of the table in core/rw_lock.hpp
// (market data first, a block for a failed undo only after the holdings locks
// are gone). Nothing here calls Python.
//
// Held funds are one total per account and asset, not one per order: a host
// sends one final report per committed order, never rolls back an order it has
// sent and never reports one it rolled back. In account_sync the host also
// keeps calls that touch one account (executes, finalising its reservations,
// reports, adjustments) from overlapping.
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>

#include "vantrel/pretrade/account_blocks.hpp"
#include "vantrel/pretrade/policies/holdings_state.hpp"
#include "vantrel/pretrade/policies/policy.hpp"
#include "vantrel/pretrade/policies/spot_funds_config.hpp"

namespace vantrel {

inline constexpr std::string_view kSpotFundsPolicyName = "SpotFundsPolicy";

// What the policy shares with every undo it stages, so that an undo run after
// the engine is gone still finds both: the holdings, and the engine's block
// registry (the one the stages offer as account control; null when unknown).
//
// Undos keep it alive through leases rather than shared counts, so that threads
// staging undos on distinct accounts write no common word: each thread takes
// its leases on its own stripe, and a stripe holds one owning reference while
// the policy lives or any of its leases is out. Each stripe's count is guarded
// by the stripe's own spin flag, never held while anything else runs.
class SpotFundsShared {
 public:
  // The policy keeps the returned handle and calls orphan() when it goes.
  static std::shared_ptr<SpotFundsShared> create(SyncMode mode, std::shared_ptr<AccountBlockRegistry> engine_blocks);
  SpotFundsShared(SyncMode mode, std::shared_ptr<AccountBlockRegistry> engine_blocks)
      : holdings(mode), blocks(std::move(engine_blocks)) {}

  // A counted claim that keeps the state alive; move-only, released once.
  class Lease {
   public:
    Lease() noexcept = default;
    explicit Lease(SpotFundsShared& shared) noexcept;
    Lease(Lease&& other) noexcept
        : shared_(std::exchange(other.shared_, nullptr)), stripe_(other.stripe_) {}
    Lease& operator=(Lease&&) = delete;
    Lease(const Lease&) = delete;
    ~Lease();
    SpotFundsShared* operator->() const noexcept { return shared_; }

   private:
    SpotFundsShared* shared_ = nullptr;
    std::uint32_t stripe_ = 0;
  };

  // From the policy's destructor: from now on the last lease of a stripe drops
  // that stripe's reference.
  void orphan() noexcept;

  HoldingsState holdings;
  std::shared_ptr<AccountBlockRegistry> blocks;

 private:
  static constexpr std::uint32_t kStripes = 16;
  struct alignas(64) Stripe {
    std::atomic_flag busy = ATOMIC_FLAG_INIT;
    std::int64_t leases = 0;
    bool orphaned = false;
    std::shared_ptr<SpotFundsShared> self;
  };
  static std::uint32_t stripe_of_this_thread() noexcept;
  // Held for a counter update only, and a thread mostly meets its own stripe:
  // spinning (yielding now and then) beats parking.
  static void lock(Stripe& s) noexcept {
    for (unsigned spins = 0; s.busy.test_and_set(std::memory_order_acquire); ++spins)
      if ((spins & 63) == 63) std::this_thread::yield();
  }
  static void unlock(Stripe& s) noexcept { s.busy.clear(std::memory_order_release); }

  Stripe stripes_[kStripes];
};

// The body of every funds undo: `step(old) -> optional<Holdings>` applied to
// the slot of `key`. When the step refuses (an overflow), or memory runs out
// (for a slot made again, or for amounts a slot cannot pack), nothing changes
// and the account is blocked on `control` with `make_block(slot seen)`,
// recorded once every holdings lock is released. Never throws.
template <class Step, class MakeBlock>
void undo_or_block(HoldingsState& holdings, AccountBlockRegistry* control, HoldingsKey key, Step&& step,
                   MakeBlock&& make_block) noexcept {
  std::optional<Holdings> refused;
  try {
    refused = holdings.change_or_refuse(key, step);
  } catch (...) {
    // Out of memory: for a slot made again, or a block for amounts a slot cannot pack.
    refused = holdings.read(key).value_or(Holdings{});
  }
  if (refused && control != nullptr)
    control->record_or_refuse_all(key.account, [&] { return make_block(*refused); });
}

class SpotFundsPolicy final : public Policy {
 public:
  // `mode` is the engine's lock mode; `engine_blocks` the engine's block registry.
  SpotFundsPolicy(std::uint16_t policy_group_id, SpotFundsPricing pricing, SyncMode mode,
                  std::shared_ptr<AccountBlockRegistry> engine_blocks = nullptr);
  ~SpotFundsPolicy() override;
  SpotFundsPolicy(const SpotFundsPolicy&) = delete;
  SpotFundsPolicy& operator=(const SpotFundsPolicy&) = delete;

  std::string_view name() const noexcept override { return kSpotFundsPolicyName; }
  std::uint16_t policy_group_id() const noexcept override { return policy_group_id_; }

  // Values the order, then holds the underlying and the settlement
  // requirement, staging the undo of each hold on `mutations` as it happens.
  PreTradeCheck perform_pre_trade_check(const PreTradeContext& ctx, const OrderRecord& order,
                                        Mutations& mutations) const override;
  // Moves a fill out of held and settles both assets into available; releases
  // a finished order's remainder. Problems block the account.
  std::optional<PostTradeContribution> apply_execution_report(const PostTradeContext& ctx,
                                                              const ExecutionReportRecord& report) const override;
  // Applied at once; the undo is staged for the batch.
  AdjustmentCheck apply_account_adjustment(const AccountAdjustmentContext& ctx, AccountId account_id,
                                           const AccountAdjustmentRecord& adjustment,
                                           Mutations& mutations) const override;

  const SpotFundsPricing& pricing() const noexcept { return pricing_; }
  HoldingsState& holdings() const noexcept { return shared_->holdings; }

 private:
  std::optional<Reject> hold(AccountId account, const Asset& asset, const LedgerAmount& amount,
                             AccountBlockRegistry* control, Mutations& mutations, PreTradeContribution& out) const;

  std::uint16_t policy_group_id_;
  SpotFundsPricing pricing_;
  std::shared_ptr<SpotFundsShared> shared_;
};

}  // namespace vantrel
