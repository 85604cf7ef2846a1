// The funds policy's account adjustments: set or move available, held and
// incoming within bounds, at once, with the undo staged for the batch.
#include "vantrel/pretrade/policies/spot_funds.hpp"
#include "vantrel/pretrade/policies/spot_funds_text.hpp"

namespace vantrel {

namespace {

// The undo of one adjustment: every delta taken back, or nothing and a block
// (only where an amount would leave the range). The deltas are packed, or kept
// apart in a block taken before the adjustment was made. `control` is the
// engine's registry, kept alive by `shared`; AdjustmentRollbackKeepingControl
// keeps any other.
struct AdjustmentRollback {
  SpotFundsShared::Lease shared;
  AccountBlockRegistry* control;
  AccountId account;
  const std::string* asset;  // nullptr: the adjustment left no slot of an asset never interned
  PackedHoldings delta;

  void operator()() noexcept {
    if (asset == nullptr) return;  // it moved nothing
    const HoldingsDelta d = delta.load();
    undo_or_block(
        shared->holdings, control, HoldingsKey{account, asset},
        [&](const Holdings& old) { return unadjust_step(old, d); },
        [&](const Holdings& seen) { return adjustment_rollback_overflow_block(account, *asset, d, seen); });
  }
};

struct AdjustmentRollbackKeepingControl {
  SpotFundsShared::Lease shared;
  std::shared_ptr<AccountBlockRegistry> control;
  AccountId account;
  const std::string* asset;
  PackedHoldings delta;

  void operator()() noexcept {
    AdjustmentRollback{std::move(shared), control.get(), account, asset, std::move(delta)}();
  }
};
// Staged after the adjustment without allocating: see Mutations::push_reserved_undo.
static_assert(MutationAction::fits_inline<AdjustmentRollback>() &&
                  MutationAction::fits_inline<AdjustmentRollbackKeepingControl>(),
              "an adjustment's undo lives inside its action");

std::optional<FieldAdjustment> field(const std::optional<AdjustmentAmount>& amount) {
  if (!amount) return std::nullopt;
  return FieldAdjustment{amount->is_absolute(), amount->value.value};
}

std::optional<Decimal> bound(const std::optional<PositionSize>& b) {
  if (!b) return std::nullopt;
  return b->value;
}

// Reported as 96-bit decimals, rounded (where they must be) never to show the account more than it has.
std::optional<OutcomeAmount> outcome(bool present, const LedgerAmount& delta, const LedgerAmount& value) {
  if (!present) return std::nullopt;
  return OutcomeAmount{PositionSize{delta.to_decimal()}, PositionSize{value.to_decimal()}};
}

}  // namespace

AdjustmentCheck SpotFundsPolicy::apply_account_adjustment(const AccountAdjustmentContext& ctx, AccountId account,
                                                          const AccountAdjustmentRecord& adjustment,
                                                          Mutations& mutations) const {
  const AccountAdjustmentRecord::BalanceOperation* op = adjustment.balance_operation();
  if (op == nullptr || !op->asset) return Rejects(balance_asset_missing_reject());
  if (!adjustment.amount) return {};
  BalanceAdjustment change;
  change.fields = {field(adjustment.amount->balance), field(adjustment.amount->held),
                   field(adjustment.amount->incoming)};
  if (change.empty()) return {};
  if (adjustment.bounds) {
    const AccountAdjustmentRecord::Bounds& b = *adjustment.bounds;
    change.bounds = {FieldBounds{bound(b.balance_lower), bound(b.balance_upper)},
                     FieldBounds{bound(b.held_lower), bound(b.held_upper)},
                     FieldBounds{bound(b.incoming_lower), bound(b.incoming_upper)}};
  }

  const Asset& asset = *op->asset;
  HoldingsState& state = shared_->holdings;
  mutations.reserve_more(1);
  AccountBlockRegistry* control = &ctx.account_control();
  std::shared_ptr<AccountBlockRegistry> keep_control;  // not the engine's: kept by the undo
  if (control != shared_->blocks.get()) keep_control = control->shared_from_this();
  AdjustStep step;
  // A zero adjustment of an asset never seen leaves no slot and interns nothing.
  const std::string* name = nullptr;
  // Deltas the undo cannot pack are kept in a block taken before the change is
  // made: an adjustment that finds it needs one makes no change, takes one and runs again.
  std::unique_ptr<Holdings> spare;
  bool no_room = false;
  do {
    if (no_room) spare = std::make_unique<Holdings>();
    no_room = false;
    state.change_named(account, asset.name(), name, [&](const Holdings& old, Holdings& next) {
      step = adjust_step(old, change);
      no_room = step.verdict == AdjustVerdict::Adjusted && !spare && PackedHoldings::needs_room(step.delta);
      if (step.verdict != AdjustVerdict::Adjusted || no_room) return false;
      next = step.after;
      return true;
    });
  } while (no_room);
  switch (step.verdict) {
    case AdjustVerdict::ValueOverflow:
      return Rejects(adjustment_overflow_reject(account, asset.name(), step.field, step.current, step.applied));
    case AdjustVerdict::BoundsExceeded:
      return Rejects(adjustment_bounds_reject(account, asset.name(), step.field, step.value,
                                              change.bounds[static_cast<std::size_t>(step.field)]));
    case AdjustVerdict::DeltaOverflow:
      return Rejects(adjustment_delta_overflow_reject(account, asset.name(), step.field));
    case AdjustVerdict::Adjusted:
      break;
  }
  PackedHoldings delta;
  delta.reshape(step.delta, spare);  // packed, or into the spare taken for it
  if (!keep_control)
    mutations.push_reserved_undo(
        AdjustmentRollback{SpotFundsShared::Lease(*shared_), control, account, name, std::move(delta)});
  else
    mutations.push_reserved_undo(AdjustmentRollbackKeepingControl{
        SpotFundsShared::Lease(*shared_), std::move(keep_control), account, name, std::move(delta)});
  std::vector<OutcomeEntryRecord> entries;
  entries.push_back(OutcomeEntryRecord{
      asset,
      outcome(change.fields[0].has_value(), step.delta.available, step.after.available),
      outcome(change.fields[1].has_value(), step.delta.held, step.after.held),
      outcome(change.fields[2].has_value(), step.delta.incoming, step.after.incoming),
  });
  return entries;
}

}  // namespace vantrel
