// The funds policy's post-trade hook: fills leave held and settle into
// available, a finished order's remainder is released. Problems block the
// account; what was applied before a block stays and is reported.
#include "vantrel/pretrade/policies/spot_funds.hpp"
#include "vantrel/pretrade/policies/spot_funds_text.hpp"
#include "vantrel/pretrade/policies/spot_funds_value.hpp"

namespace vantrel {

namespace {

// What one report did to one asset.
struct AssetChange {
  bool touched = false;
  Decimal available_after;
  Decimal held_after;
  Decimal held_delta;     // what left held, as a negative amount
  Decimal balance_delta;  // what arrived in available
};

enum class LockedPriceStatus : std::uint8_t { Found, Missing, Multiple };

struct LockedPrice {
  LockedPriceStatus status = LockedPriceStatus::Missing;
  Decimal price;
};

LockedPrice locked_price(const Lock& lock, std::uint16_t group) noexcept {
  const LockPrices* prices = lock.prices_of(group);
  if (prices == nullptr || prices->empty()) return {};
  if (prices->size() > 1) return {LockedPriceStatus::Multiple, Decimal()};
  return {LockedPriceStatus::Found, (*prices)[0]};
}

// Applies one report to the holdings; the first block of a step ends that step.
class ReportRun {
 public:
  ReportRun(HoldingsState& state, AccountId account, std::uint16_t group, PostTradeContribution& out)
      : state_(state), account_(account), group_(group), out_(out) {}

  // The price locked for this policy's group: a buy must have one; either
  // side is blocked by several. Returns false when it blocked.
  bool lock_lookup(const Lock& lock, Side side, std::string_view label, std::optional<Decimal>& price) {
    const LockedPrice found = locked_price(lock, group_);
    if (found.status == LockedPriceStatus::Multiple) {
      out_.account_blocks.push_back(lock_multiple_prices_block(label, group_));
      return false;
    }
    if (found.status == LockedPriceStatus::Missing) {
      if (side == Side::Buy) {
        out_.account_blocks.push_back(lock_no_price_block(label, group_));
        return false;
      }
      price.reset();
      return true;
    }
    price = found.price;
    return true;
  }

  enum class Failed : std::uint8_t { None, Slot, HeldDelta, BalanceDelta };

  // held - consume and available + credit, each rounded down where the slot
  // cannot hold it exactly, and the asset's record, all computed before
  // anything is written.
  bool fill_leg(const Asset& asset, AssetChange& change, Decimal consume, Decimal credit) {
    return move(
        asset, change,
        [&](const Holdings& old) -> std::optional<SlotMove> {
          const std::optional<FilledLeg> leg = fill_leg_step(old, consume, credit);
          if (!leg) return std::nullopt;
          return SlotMove{leg->consumed, leg->credited, leg->after};
        },
        [&](Failed failed, const std::string& head) {
          const std::string consumed = ", consume " + consume.to_string();
          const std::string credited = ", credit " + credit.to_string();
          if (failed == Failed::Slot) return "fill leg mutation overflow: " + head + consumed + credited;
          if (failed == Failed::HeldDelta) return "fill held delta overflow: " + head + consumed;
          return "fill balance delta overflow: " + head + credited;
        });
  }

  // `amount` back from held to available; zero does nothing.
  bool release(const Asset& asset, AssetChange& change, Decimal amount) {
    if (amount.is_zero()) return true;
    return move(
        asset, change,
        [&](const Holdings& old) -> std::optional<SlotMove> {
          const std::optional<Released> released = release_step(old, amount);
          if (!released) return std::nullopt;
          const std::optional<Decimal> credited = moved_by(old.available, released->after.available);
          if (!credited) return std::nullopt;
          return SlotMove{released->amount, *credited, released->after};
        },
        [&](Failed failed, const std::string& head) {
          const std::string released = amount.to_string();
          if (failed == Failed::Slot) return "cancel release overflow: " + head + ", requested " + released;
          if (failed == Failed::HeldDelta) return "cancel held delta overflow: " + head + ", release " + released;
          return "cancel balance delta overflow: " + head + ", release " + released;
        });
  }

  bool block(std::string details) {
    out_.account_blocks.push_back(report_overflow_block(std::move(details)));
    return false;
  }

 private:
  // What one step takes out of held and puts into available, and the slot after it.
  struct SlotMove {
    Decimal consumed;
    Decimal credited;
    Holdings after;
  };

  // Runs `step` on the asset's slot: the slot, the asset's records and its
  // entry change together or not at all. A refusal names the first side that
  // could not take the move (the slot, the held record, the balance record),
  // and `details(side, head)` gives the block's text, built only then.
  template <class Step, class Details>
  bool move(const Asset& asset, AssetChange& change, Step&& step, Details&& details) {
    Failed failed = Failed::None;
    Decimal held_delta, balance_delta;
    Holdings after;
    const std::string* interned = nullptr;
    state_.change_named(account_, asset.name(), interned, [&](const Holdings& old, Holdings& next) {
      const std::optional<SlotMove> moved = step(old);
      if (!moved) {
        failed = Failed::Slot;
        return false;
      }
      // Entries report what was moved; only a record too large for 96 bits refuses.
      const std::optional<Decimal> hd = change.held_delta.checked_add(negate(moved->consumed), RoundingStrategy::Down);
      const std::optional<Decimal> bd = change.balance_delta.checked_add(moved->credited, RoundingStrategy::Down);
      failed = !hd ? Failed::HeldDelta : (!bd ? Failed::BalanceDelta : Failed::None);
      if (failed != Failed::None) return false;
      next = after = moved->after;
      held_delta = *hd;
      balance_delta = *bd;
      return true;
    });
    if (failed != Failed::None) return block(details(failed, account_asset(account_, asset.name())));
    record(change, after, held_delta, balance_delta);
    return true;
  }

  static void record(AssetChange& change, const Holdings& after, Decimal held_delta, Decimal balance_delta) {
    change.touched = true;
    change.available_after = after.available;
    change.held_after = after.held;
    change.held_delta = held_delta;
    change.balance_delta = balance_delta;
  }

  HoldingsState& state_;
  AccountId account_;
  std::uint16_t group_;
  PostTradeContribution& out_;
};

}  // namespace

std::optional<PostTradeContribution> SpotFundsPolicy::apply_execution_report(const PostTradeContext&,
                                                                             const ExecutionReportRecord& report) const {
  PostTradeContribution out;
  const auto missing = [&out](std::string_view label, std::string_view path) {
    out.account_blocks.push_back(spot_funds_missing_field_block(label, path));
    return std::optional<PostTradeContribution>(std::move(out));
  };
  const std::optional<ExecutionReportRecord::Operation>& op = report.operation;
  if (!op || !op->account_id) return missing("account ID", "operation.account_id");
  if (!op->instrument) return missing("instrument", "operation.instrument");
  if (!op->side) return missing("side", "operation.side");
  if (!report.fill || !report.fill->leaves_quantity) return missing("remaining quantity", "fill.leaves_quantity");
  if (!report.fill->is_final) return missing("order finality", "fill.is_final");
  // A present fill always carries its lock.

  const AccountId account = *op->account_id;
  const Side side = *op->side;
  const Asset& underlying = op->instrument->underlying_asset;
  const Asset& settlement = op->instrument->settlement_asset;
  const ExecutionReportRecord::Fill& fill = *report.fill;
  AssetChange underlying_change, settlement_change;
  ReportRun run(shared_->holdings, account, policy_group_id_, out);
  // The order's settlement hold before this report's fill, less what the fill
  // consumed: what a final report gives back. Set once the fill consumed.
  std::optional<Decimal> still_held;

  // Consumption never goes below zero, so no report ever adds to held: a
  // negative locked price, or one locked by another policy of the group, moves nothing into it.
  [&] {
    if (!fill.last_trade) return;
    const Decimal px = fill.last_trade->price.value;
    const Decimal qty = fill.last_trade->quantity.value;
    // Each product is rounded once, against the account: a buy pays px × qty
    // rounded up, a sell receives it rounded down.
    const RoundingStrategy against = side == Side::Buy ? RoundingStrategy::Up : RoundingStrategy::Down;
    const std::optional<Decimal> notional = px.checked_mul(qty, against);
    if (!notional)
      return (void)run.block("fill notional volume overflow: " + account_asset(account, settlement.name()) + ", px " +
                             px.to_string() + ", qty " + qty.to_string());
    std::optional<Decimal> lock_px;
    if (!run.lock_lookup(fill.lock, side, "buy fill", lock_px)) return;
    Decimal consume;
    std::optional<Decimal> left;  // the hold before the fill less the consumption
    if (lock_px) {
      // What the order held for its remainder before this fill, less what it
      // holds for the remainder after: every rounding of the hold is undone by
      // the fills and the final release together, so a finished order leaves
      // nothing held.
      const Decimal remaining = fill.leaves_quantity->value;
      const std::optional<Decimal> before = remaining.checked_add(qty);
      Decimal held_before, held_after;
      std::optional<Decimal> taken;
      if (before && settlement_hold(side, *lock_px, *before, held_before) &&
          settlement_hold(side, *lock_px, remaining, held_after)) {
        taken = held_before.exact_sub(held_after);
        if (!taken) taken = held_before.checked_add(held_after.negated(), RoundingStrategy::Up);
      }
      if (!taken)
        return (void)run.block("settlement notional overflow: " + account_asset(account, settlement.name()) +
                               ", lock_px " + lock_px->to_string() + ", qty " + qty.to_string());
      consume = clamp_at_zero(*taken);
      if (!consume.is_zero()) left = held_before.exact_sub(consume);
    }
    struct Leg {
      const Asset& asset;
      AssetChange& change;
      Decimal consume;
      Decimal flow;
    };
    // A buy pays first and receives second; a sell delivers first.
    const Leg legs[2] = {
        side == Side::Buy ? Leg{settlement, settlement_change, consume, negate(*notional)}
                          : Leg{underlying, underlying_change, qty, negate(qty)},
        side == Side::Buy ? Leg{underlying, underlying_change, Decimal(), qty}
                          : Leg{settlement, settlement_change, consume, *notional},
    };
    for (const Leg& leg : legs) {
      const std::optional<Decimal> credit = leg.consume.checked_add(leg.flow, RoundingStrategy::Down);
      if (!credit)
        return (void)run.block("fill balance credit overflow: " + account_asset(account, leg.asset.name()) +
                               ", consume " + leg.consume.to_string() + ", flow " + leg.flow.to_string());
      if (leg.consume.is_zero() && credit->is_zero()) continue;
      if (!run.fill_leg(leg.asset, leg.change, leg.consume, *credit)) return;
      if (&leg.change == &settlement_change) still_held = left;
    }
  }();

  [&] {
    const Decimal remaining = fill.leaves_quantity->value;
    if (!*fill.is_final || remaining.is_zero()) return;
    if (side == Side::Sell && !run.release(underlying, underlying_change, remaining)) return;
    std::optional<Decimal> lock_px;
    if (!run.lock_lookup(fill.lock, side, "buy release", lock_px)) return;
    Decimal amount;
    if (lock_px) {
      // What the order holds for its remainder, rounded as its hold was; after
      // a fill, what the hold of the remainder before it has left, so that a
      // consumption rounded up is not given back twice.
      Decimal r;
      if (still_held)
        r = *still_held;
      else if (!settlement_hold(side, *lock_px, remaining, r))
        return (void)run.block("settlement notional overflow: " + account_asset(account, settlement.name()) +
                               ", lock_px " + lock_px->to_string() + ", qty " + remaining.to_string());
      amount = r;
    }
    run.release(settlement, settlement_change, amount);
  }();

  const auto outcome = [&](const Asset& asset, const AssetChange& change) {
    if (!change.touched) return;
    OutcomeEntryRecord entry{asset, std::nullopt, std::nullopt, std::nullopt};
    if (!change.balance_delta.is_zero())
      entry.balance = OutcomeAmount{PositionSize{change.balance_delta}, PositionSize{change.available_after}};
    if (!change.held_delta.is_zero())
      entry.held = OutcomeAmount{PositionSize{change.held_delta}, PositionSize{change.held_after}};
    out.account_adjustments.push_back(AdjustmentOutcomeRecord{std::move(entry), policy_group_id_});
  };
  outcome(underlying, underlying_change);
  outcome(settlement, settlement_change);
  if (out.account_blocks.empty() && out.account_adjustments.empty()) return std::nullopt;
  return out;
}

}  // namespace vantrel
