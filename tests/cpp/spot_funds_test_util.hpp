#pragma once
// An engine carrying the funds policy, and builders of its orders, reports and
// adjustments, shared by the funds policy tests.
#include <memory>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "vantrel/pretrade/engine.hpp"
#include "vantrel/pretrade/policies/spot_funds.hpp"

namespace vantrel {

// Amounts and slots as text in test failures.
inline void PrintTo(const LedgerAmount& a, std::ostream* os) { *os << a.to_string(); }
inline void PrintTo(const Holdings& h, std::ostream* os) {
  *os << "(" << h.available.to_string() << ", " << h.held.to_string() << ", " << h.incoming.to_string() << ")";
}

}  // namespace vantrel

namespace vantrel::funds_testing {

inline Decimal D(const char* text) { return Decimal::parse(text).value; }
inline Decimal D(int v) { return Decimal::from_i64(v); }
inline Decimal D(std::int64_t v) { return Decimal::from_i64(v); }
inline const Decimal kMax = Decimal::from_parts(~0ull, ~0u, 0, false);

inline Asset asset(const char* name) { return *Asset::from_text(name); }

inline OrderRecord order(std::uint64_t account, Side side, TradeAmount amount, std::optional<Decimal> price,
                         const char* underlying = "BTC", const char* settlement = "USD") {
  OrderRecord o;
  o.operation.emplace();
  o.operation->instrument = Instrument{asset(underlying), asset(settlement)};
  o.operation->account_id = AccountId{account};
  o.operation->side = side;
  o.operation->trade_amount = amount;
  if (price) o.operation->price = Price{*price};
  return o;
}
inline TradeAmount qty(const char* v) { return TradeAmount::of_quantity(Quantity{D(v)}); }
inline TradeAmount vol(const char* v) { return TradeAmount::of_volume(Volume{D(v)}); }

inline Lock lock_of(std::initializer_list<std::pair<std::uint16_t, const char*>> prices) {
  Lock lock;
  for (const auto& [group, price] : prices) lock.push_price(group, D(price));
  return lock;
}

inline ExecutionReportRecord report(std::uint64_t account, Side side, std::optional<std::pair<const char*, const char*>> trade,
                                    const char* leaves, bool is_final, Lock lock, const char* underlying = "BTC",
                                    const char* settlement = "USD") {
  ExecutionReportRecord r;
  r.operation.emplace();
  r.operation->instrument = Instrument{asset(underlying), asset(settlement)};
  r.operation->account_id = AccountId{account};
  r.operation->side = side;
  r.fill.emplace();
  if (trade) r.fill->last_trade = Trade{Price{D(trade->first)}, Quantity{D(trade->second)}};
  r.fill->leaves_quantity = Quantity{D(leaves)};
  r.fill->is_final = is_final;
  r.fill->lock = std::move(lock);
  return r;
}

inline AccountAdjustmentRecord adjust(const char* name, std::optional<AdjustmentAmount> balance,
                                      std::optional<AdjustmentAmount> held = std::nullopt,
                                      std::optional<AdjustmentAmount> incoming = std::nullopt) {
  AccountAdjustmentRecord a;
  a.operation = AccountAdjustmentRecord::BalanceOperation{asset(name), std::nullopt};
  a.amount = AccountAdjustmentRecord::Amount{balance, held, incoming};
  return a;
}
inline AdjustmentAmount delta(Decimal v) { return AdjustmentAmount{AdjustmentAmount::Kind::Delta, PositionSize{v}}; }
inline AdjustmentAmount absolute(Decimal v) {
  return AdjustmentAmount{AdjustmentAmount::Kind::Absolute, PositionSize{v}};
}

// One engine, one or more funds policies (and any extra policies), kept by pointer.
class FundsEngine {
 public:
  explicit FundsEngine(EngineSync sync = EngineSync::FullSync) : state_(sync), sync_(sync) {}

  // Without `share_blocks` the policy learns the block registry only from the stages.
  SpotFundsPolicy& add_funds(std::uint16_t group = 0, SpotFundsPricing pricing = {}, bool share_blocks = true) {
    auto policy = std::make_unique<SpotFundsPolicy>(group, std::move(pricing), engine_lock_mode(sync_),
                                                    share_blocks ? state_.blocks : nullptr);
    SpotFundsPolicy& ref = *policy;
    state_.append(std::move(policy));
    funds_.push_back(&ref);
    return ref;
  }
  template <class P, class... A>
  P& add(A&&... args) {
    auto policy = std::make_unique<P>(std::forward<A>(args)...);
    P& ref = *policy;
    state_.append(std::move(policy));
    return ref;
  }
  EngineCore& build() {
    BuildOutcome outcome = build_engine(std::move(state_));
    if (!outcome.engine) throw std::runtime_error(outcome.error);
    engine_ = outcome.engine;
    return *engine_;
  }
  EngineCore& engine() { return *engine_; }
  SpotFundsPolicy& funds(std::size_t i = 0) { return *funds_.at(i); }

  // The slot as the policy holds it; all zero when there is none.
  Holdings slot(std::uint64_t account, const char* name, std::size_t policy = 0) {
    HoldingsState& h = funds(policy).holdings();
    const std::string* interned = h.assets().find(name);
    if (interned == nullptr) return Holdings{};
    return h.read(HoldingsKey{AccountId{account}, interned}).value_or(Holdings{});
  }
  bool has_slot(std::uint64_t account, const char* name, std::size_t policy = 0) {
    HoldingsState& h = funds(policy).holdings();
    const std::string* interned = h.assets().find(name);
    return interned != nullptr && h.read(HoldingsKey{AccountId{account}, interned}).has_value();
  }

  template <class... Records>
  AdjustmentBatchOutcome apply(std::uint64_t account, Records&&... records) {
    std::vector<AccountAdjustmentRecord> batch;
    (batch.push_back(std::forward<Records>(records)), ...);
    return engine_->apply_account_adjustment(AccountId{account}, batch);
  }
  void deposit(std::uint64_t account, const char* name, Decimal amount) {
    const AdjustmentBatchOutcome out = apply(account, adjust(name, delta(amount)));
    if (out.failed_index) throw std::runtime_error("deposit refused");
  }

 private:
  EngineState state_;
  EngineSync sync_;
  std::vector<SpotFundsPolicy*> funds_;
  std::shared_ptr<EngineCore> engine_;
};

inline const Reject* only_reject(const MainOutcome& out) {
  const Rejects* r = std::get_if<Rejects>(&out);
  return r != nullptr && r->size() == 1 ? &r->front() : nullptr;
}

}  // namespace vantrel::funds_testing
