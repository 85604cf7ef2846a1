// The funds policy's post-trade hook: fills leave held and settle into
// available, a finished order's remainder is released. Problems block the
// account; what was applied before a block stays and is reported.
#include "vantrel/pretrade/policies/spot_funds.hpp"
#include "vantrel/pretrade/policies/spot_funds_text.hpp"
#include "vantrel/pretrade/policies/spot_funds_value.hpp"

namespace vantrel {

namespace {

// What one report did to one asset: exact sums of its steps, so each delta is
// the slot's change over the whole report, reported once.
struct AssetChange {
  bool touched = false;
  LedgerAmount available_after;
  LedgerAmount held_after;
  LedgerAmount held_delta;     // what left held, as a negative amount
  LedgerAmount balance_delta;  // what arrived in available
};

std::string taken_text(const LedgerAmount& a) { return a.to_decimal(RoundingStrategy::Up).to_string(); }
std::string given_text(const LedgerAmount& a) { return a.to_decimal(RoundingStrategy::Down).to_string(); }

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

  // held - consume and available + credit, and the asset's record, all
  // computed before anything is written.
  bool fill_leg(const Asset& asset, AssetChange& change, const LedgerAmount& consume, const LedgerAmount& credit) {
    return move(
        asset, change, consume, credit,
        [&](const Holdings& old) { return fill_leg_step(old, consume, credit); },
        [&](Failed failed, const std::string& head) {
          const std::string consumed = ", consume " + taken_text(consume);
          const std::string credited = ", credit " + given_text(credit);
          if (failed == Failed::Slot) return "fill leg mutation overflow: " + head + consumed + credited;
          if (failed == Failed::HeldDelta) return "fill held delta overflow: " + head + consumed;
          return "fill balance delta overflow: " + head + credited;
        });
  }

  // `amount` back from held to available; zero does nothing.
  bool release(const Asset& asset, AssetChange& change, const LedgerAmount& amount) {
    if (amount.is_zero()) return true;
    return move(
        asset, change, amount, amount, [&](const Holdings& old) { return release_step(old, amount); },
        [&](Failed failed, const std::string& head) {
          const std::string released = given_text(amount);
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
  // Runs `step` (old -> optional new holdings), which takes `consumed` out of
  // held and puts `credited` into available, on the asset's slot: the slot, the
  // asset's records and its entry change together or not at all. A refusal
  // names the first side that could not take the move (the slot, the held
  // record, the balance record), and `details(side, head)` gives the block's
  // text, built only then.
  template <class Step, class Details>
  bool move(const Asset& asset, AssetChange& change, const LedgerAmount& consumed, const LedgerAmount& credited,
            Step&& step, Details&& details) {
    Failed failed = Failed::None;
    // Only a record whose amount leaves the range refuses.
    const std::optional<LedgerAmount> held_delta = change.held_delta.minus(consumed);
    const std::optional<LedgerAmount> balance_delta = change.balance_delta.plus(credited);
    failed = !held_delta ? Failed::HeldDelta : (!balance_delta ? Failed::BalanceDelta : Failed::None);
    Holdings after;
    const std::string* interned = nullptr;
    if (failed == Failed::None)
      state_.change_named(account_, asset.name(), interned, [&](const Holdings& old, Holdings& next) {
        const std::optional<Holdings> moved = step(old);
        failed = moved ? Failed::None : Failed::Slot;
        if (!moved) return false;
        next = after = *moved;
        return true;
      });
    if (failed != Failed::None) return block(details(failed, account_asset(account_, asset.name())));
    record(change, after, *held_delta, *balance_delta);
    return true;
  }

  static void record(AssetChange& change, const Holdings& after, const LedgerAmount& held_delta,
                     const LedgerAmount& balance_delta) {
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

  // Consumption never goes below zero, so no report ever adds to held: a
  // negative locked price, or one locked by another policy of the group, moves nothing into it.
  [&] {
    if (!fill.last_trade) return;
    const Decimal px = fill.last_trade->price.value;
    const Decimal qty = fill.last_trade->quantity.value;
    // Rounded once where it has more than 36 places, against the account: a
    // buy pays px × qty rounded up, a sell receives it rounded down.
    const std::optional<LedgerAmount> notional =
        LedgerAmount::product(px, qty, side == Side::Buy ? RoundingStrategy::Up : RoundingStrategy::Down);
    if (!notional)
      return (void)run.block("fill notional volume overflow: " + account_asset(account, settlement.name()) + ", px " +
                             px.to_string() + ", qty " + qty.to_string());
    std::optional<Decimal> lock_px;
    if (!run.lock_lookup(fill.lock, side, "buy fill", lock_px)) return;
    LedgerAmount consume;
    if (lock_px) {
      // The hold of the remainder before this fill less the hold of the
      // remainder after it: the fills and the final release (the hold of the
      // last remainder) add up to exactly what the order held.
      const Decimal remaining = fill.leaves_quantity->value;
      std::optional<Decimal> before = remaining.exact_add(qty);
      if (!before) before = remaining.checked_add(qty);  // a sum of more digits than a quantity keeps
      LedgerAmount held_before, held_after;
      if (!before || !settlement_hold(side, *lock_px, *before, held_before) ||
          !settlement_hold(side, *lock_px, remaining, held_after))
        return (void)run.block("settlement notional overflow: " + account_asset(account, settlement.name()) +
                               ", lock_px " + lock_px->to_string() + ", qty " + qty.to_string());
      // Both holds lie in [0, 2^96): their difference cannot overflow.
      consume = clamp_at_zero(held_before.minus(held_after).value_or(LedgerAmount()));
    }
    struct Leg {
      const Asset& asset;
      AssetChange& change;
      LedgerAmount consume;
      LedgerAmount flow;
    };
    // A buy pays first and receives second; a sell delivers first.
    const Leg legs[2] = {
        side == Side::Buy ? Leg{settlement, settlement_change, consume, notional->negated()}
                          : Leg{underlying, underlying_change, qty, LedgerAmount(qty).negated()},
        side == Side::Buy ? Leg{underlying, underlying_change, LedgerAmount(), qty}
                          : Leg{settlement, settlement_change, consume, *notional},
    };
    for (const Leg& leg : legs) {
      const std::optional<LedgerAmount> credit = leg.consume.plus(leg.flow);
      if (!credit)
        return (void)run.block("fill balance credit overflow: " + account_asset(account, leg.asset.name()) +
                               ", consume " + taken_text(leg.consume) + ", flow " + given_text(leg.flow));
      if (leg.consume.is_zero() && credit->is_zero()) continue;
      if (!run.fill_leg(leg.asset, leg.change, leg.consume, *credit)) return;
    }
  }();

  [&] {
    const Decimal remaining = fill.leaves_quantity->value;
    if (!*fill.is_final || remaining.is_zero()) return;
    if (side == Side::Sell && !run.release(underlying, underlying_change, remaining)) return;
    std::optional<Decimal> lock_px;
    if (!run.lock_lookup(fill.lock, side, "buy release", lock_px)) return;
    // What the order holds for its remainder, rounded as its hold was.
    LedgerAmount amount;
    if (lock_px && !settlement_hold(side, *lock_px, remaining, amount))
      return (void)run.block("settlement notional overflow: " + account_asset(account, settlement.name()) +
                             ", lock_px " + lock_px->to_string() + ", qty " + remaining.to_string());
    run.release(settlement, settlement_change, amount);
  }();

  const auto outcome = [&](const Asset& asset, const AssetChange& change) {
    if (!change.touched) return;
    OutcomeEntryRecord entry{asset, std::nullopt, std::nullopt, std::nullopt};
    // Reported as 96-bit decimals, rounded (where they must be) never to show the account more than it has.
    if (!change.balance_delta.is_zero())
      entry.balance = OutcomeAmount{PositionSize{change.balance_delta.to_decimal()},
                                    PositionSize{change.available_after.to_decimal()}};
    if (!change.held_delta.is_zero())
      entry.held =
          OutcomeAmount{PositionSize{change.held_delta.to_decimal()}, PositionSize{change.held_after.to_decimal()}};
    out.account_adjustments.push_back(AdjustmentOutcomeRecord{std::move(entry), policy_group_id_});
  };
  outcome(underlying, underlying_change);
  outcome(settlement, settlement_change);
  if (out.account_blocks.empty() && out.account_adjustments.empty()) return std::nullopt;
  return out;
}

}  // namespace vantrel
