#pragma once
// Refuses, at the start stage, an order without a trade amount or with a zero
// one. Holds nothing but its group id; safe on any number of threads.
#include <cstdint>

#include "vantrel/pretrade/policies/policy.hpp"

namespace vantrel {

class OrderValidationPolicy final : public Policy {
 public:
  static constexpr std::string_view kName = "OrderValidationPolicy";

  explicit OrderValidationPolicy(std::uint16_t policy_group_id = 0) noexcept : group_(policy_group_id) {}

  std::string_view name() const noexcept override { return kName; }
  std::uint16_t policy_group_id() const noexcept override { return group_; }
  std::optional<Rejects> check_pre_trade_start(const PreTradeContext& ctx, const OrderRecord& order) const override;

 private:
  std::uint16_t group_;
};

}  // namespace vantrel
