// The funds policy's main stage: value the order, hold what it needs, stage the undo.
#include <variant>

#include "vantrel/pretrade/policies/spot_funds.hpp"
#include "vantrel/pretrade/policies/spot_funds_text.hpp"

namespace vantrel {

namespace {

// The undo of one hold: exactly what it moved back from held to available, or
// nothing and a block (only where an amount would leave the range). Keeps the
// key, never a slot pointer: the slot may be removed and recreated meanwhile.
// `control` is the engine's registry, kept alive by `shared`, or a stage's own
// one, kept alive by HoldRollbackKeepingControl.
struct HoldRollback {
  SpotFundsShared::Lease shared;
  AccountBlockRegistry* control;
  AccountId account;
  const std::string* asset;
  LedgerAmount moved;

  void operator()() noexcept {
    undo_or_block(
        shared->holdings, control, HoldingsKey{account, asset},
        [&](const Holdings& old) { return release_step(old, moved); },
        [&](const Holdings& seen) { return hold_rollback_overflow_block(account, *asset, moved, seen); });
  }
};

struct HoldRollbackKeepingControl : HoldRollback {
  std::shared_ptr<AccountBlockRegistry> keep;
};
// Staged after the hold without allocating: see Mutations::push_reserved_undo.
static_assert(MutationAction::fits_inline<HoldRollback>() && MutationAction::fits_inline<HoldRollbackKeepingControl>(),
              "a hold's undo lives inside its action");

Rejects one(Reject reject) { return Rejects(std::move(reject)); }

}  // namespace

SpotFundsPolicy::SpotFundsPolicy(std::uint16_t policy_group_id, SpotFundsPricing pricing, SyncMode mode,
                                 std::shared_ptr<AccountBlockRegistry> engine_blocks)
    : policy_group_id_(policy_group_id),
      pricing_(std::move(pricing)),
      shared_(SpotFundsShared::create(mode, std::move(engine_blocks))) {}

SpotFundsPolicy::~SpotFundsPolicy() { shared_->orphan(); }

std::shared_ptr<SpotFundsShared> SpotFundsShared::create(SyncMode mode,
                                                         std::shared_ptr<AccountBlockRegistry> engine_blocks) {
  auto shared = std::make_shared<SpotFundsShared>(mode, std::move(engine_blocks));
  for (Stripe& stripe : shared->stripes_) stripe.self = shared;
  return shared;
}

std::uint32_t SpotFundsShared::stripe_of_this_thread() noexcept {
  static std::atomic<std::uint32_t> next{0};
  thread_local const std::uint32_t stripe = next.fetch_add(1, std::memory_order_relaxed) % kStripes;
  return stripe;
}

// Only the policy's hooks take leases, so the policy, and with it every
// stripe's reference, is alive here.
SpotFundsShared::Lease::Lease(SpotFundsShared& shared) noexcept
    : shared_(&shared), stripe_(stripe_of_this_thread()) {
  Stripe& s = shared.stripes_[stripe_];
  lock(s);
  ++s.leases;
  unlock(s);
}

SpotFundsShared::Lease::~Lease() {
  if (shared_ == nullptr) return;
  std::shared_ptr<SpotFundsShared> last;
  Stripe& s = shared_->stripes_[stripe_];
  lock(s);
  if (--s.leases == 0 && s.orphaned) last = std::move(s.self);
  unlock(s);
  // `last` may free the state, this stripe included: nothing touches it after the unlock.
}

void SpotFundsShared::orphan() noexcept {
  std::shared_ptr<SpotFundsShared> drop[kStripes];
  for (std::uint32_t i = 0; i < kStripes; ++i) {
    Stripe& s = stripes_[i];
    lock(s);
    s.orphaned = true;
    if (s.leases == 0) drop[i] = std::move(s.self);
    unlock(s);
  }
  // The policy's own handle keeps the state alive until after this returns.
}

PreTradeCheck SpotFundsPolicy::perform_pre_trade_check(const PreTradeContext& ctx, const OrderRecord& order,
                                                       Mutations& mutations) const {
  const std::optional<OrderRecord::Operation>& op = order.operation;
  if (!op || !op->instrument) return one(spot_funds_missing_field("instrument", "operation.instrument"));
  if (!op->account_id) return one(spot_funds_missing_field("account ID", "operation.account_id"));
  if (!op->side) return one(spot_funds_missing_field("side", "operation.side"));
  if (!op->trade_amount) return one(spot_funds_missing_field("trade amount", "operation.trade_amount"));
  const Instrument& instrument = *op->instrument;
  const AccountId account = *op->account_id;
  const Side side = *op->side;
  const TradeAmount& amount = *op->trade_amount;

  // Valued before any holdings lock is taken.
  std::optional<Decimal> price;
  if (op->price) {
    price = op->price->value;
  } else {
    auto group_source = [&ctx] { return ctx.account_group(); };
    const Valuation valued = pricing_.value(instrument, account, side, group_source);
    if (const Decimal* p = std::get_if<Decimal>(&valued)) {
      price = *p;
    } else if (side == Side::Buy || amount.is_volume()) {
      // A sell by quantity needs no price; it merely locks none.
      return one(spot_funds_order_reject(std::get<ValuationFailure>(valued)));
    }
  }
  const std::optional<FundsRequirements> need = funds_requirements(side, amount, price);
  if (!need) return one(spot_funds_order_reject(kOrderValueCalculationFailed));

  PreTradeContribution out;
  // A failed second hold leaves the first staged: the engine's rollback undoes it.
  if (std::optional<Reject> r =
          hold(account, instrument.underlying_asset, need->underlying, ctx.account_control(), mutations, out))
    return one(std::move(*r));
  if (std::optional<Reject> r =
          hold(account, instrument.settlement_asset, need->settlement, ctx.account_control(), mutations, out))
    return one(std::move(*r));
  if (need->lock_price) out.lock_prices.push_back(Price{*need->lock_price});
  if (out.empty()) return {};
  return out;
}

std::optional<Reject> SpotFundsPolicy::hold(AccountId account, const Asset& asset, const LedgerAmount& amount,
                                            AccountBlockRegistry* control, Mutations& mutations,
                                            PreTradeContribution& out) const {
  if (amount.is_zero()) return std::nullopt;
  HoldingsState& state = shared_->holdings;
  // A name never seen has no slot, and a missing slot can pay for nothing:
  // refused without a lock, and a hold never creates a slot.
  const std::string* name = state.assets().find(asset.name());
  HoldVerdict verdict = HoldVerdict::Overflow;
  LedgerAmount figure;                 // what moved, or the usable amount a refusal names
  Decimal available_after, held_after;  // as reported
  std::optional<LedgerAmount::Packed> packed_amount;  // the amount, where its slot's form holds it
  std::shared_ptr<AccountBlockRegistry> keep_control;  // a stage's own registry, kept by the undo
  if (name == nullptr) {
    Holdings unused;
    verdict = hold_into(Holdings{}, amount, figure, unused);
  } else {
    // Room for the undo first, so that a held amount is never left without one.
    mutations.reserve_more(1);
    if (control != nullptr && control != shared_->blocks.get()) keep_control = control->shared_from_this();
    packed_amount = amount.pack_as_is();
    state.change_in_place(
        HoldingsKey{account, name},
        [&](PackedHoldings& slot) -> std::optional<bool> {
          LedgerAmount::Packed* words = slot.packed();
          if (words == nullptr || !packed_amount) return std::nullopt;
          const std::optional<HoldVerdict> decided = hold_in_place(words, *packed_amount, figure);
          if (!decided) return std::nullopt;
          verdict = *decided;
          if (verdict != HoldVerdict::Held) return false;
          available_after = LedgerAmount::to_decimal(words[0]);
          held_after = LedgerAmount::to_decimal(words[1]);
          return true;
        },
        [&](const Holdings& old, Holdings& next) {
          verdict = hold_into(old, amount, figure, next);
          if (verdict != HoldVerdict::Held) return false;
          // Reported as 96-bit decimals, rounded (where they must be) never to show the account more than it has.
          available_after = next.available.to_decimal();
          held_after = next.held.to_decimal();
          return true;
        });
  }
  switch (verdict) {
    case HoldVerdict::Insufficient:
      return insufficient_funds_reject(account, asset.name(), figure, amount);
    case HoldVerdict::Overflow:
      return hold_overflow_reject(account, asset.name(), amount);
    case HoldVerdict::Held:
      break;
  }
  if (!keep_control)
    mutations.push_reserved_undo(HoldRollback{SpotFundsShared::Lease(*shared_), control, account, name, figure});
  else
    mutations.push_reserved_undo(HoldRollbackKeepingControl{
        {SpotFundsShared::Lease(*shared_), control, account, name, figure}, std::move(keep_control)});
  out.entries.emplace_back(OutcomeEntryRecord{
      asset,
      OutcomeAmount{PositionSize{figure.negated().to_decimal()}, PositionSize{available_after}},
      OutcomeAmount{PositionSize{figure.to_decimal()}, PositionSize{held_after}},
      std::nullopt,
  });
  return std::nullopt;
}

}  // namespace vantrel
