#pragma once
// Numbers the asset names a limit policy is configured with, from 1 in order of first mention,
// so that its tables keyed by (account, asset number) hold no name; 0 stays free (an unused
// cell). Used while a policy is built; the frozen name -> number map is read without a lock.
// Not thread-safe.

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "vantrel/pretrade/policies/frozen_map.hpp"
#include "vantrel/pretrade/policies/limit_keys.hpp"

namespace vantrel {

class AssetNumbering {
 public:
  // The name's number, given at its first mention.
  std::uint32_t number(std::string_view name) {
    if (const auto it = index_.find(name); it != index_.end()) return it->second;
    const auto number = static_cast<std::uint32_t>(named_.size() + 1);
    index_.emplace(std::string(name), number);
    named_.emplace_back(std::string(name), number);
    return number;
  }
  std::size_t size() const noexcept { return named_.size(); }
  // Every name with its number, in number order.
  std::vector<std::pair<std::string, std::uint32_t>> entries() && { return std::move(named_); }
  FrozenMap<std::string, std::uint32_t, LimitKeyHash, LimitKeyEqual> freeze() && {
    return FrozenMap<std::string, std::uint32_t, LimitKeyHash, LimitKeyEqual>(std::move(named_));
  }

 private:
  std::map<std::string, std::uint32_t, std::less<>> index_;
  std::vector<std::pair<std::string, std::uint32_t>> named_;
};

}  // namespace vantrel
