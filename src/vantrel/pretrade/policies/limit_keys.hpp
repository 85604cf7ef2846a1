#pragma once
// Keys of the limit policies' maps, looked up by views so the hot path builds no string.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <type_traits>

#include "vantrel/param/ids.hpp"

namespace vantrel {

struct AccountAssetView {
  std::uint64_t account_id;
  std::string_view asset;
};

struct AccountAssetKey {
  std::uint64_t account_id;
  std::string asset;

  AccountAssetView view() const noexcept { return {account_id, asset}; }
};

struct LimitKeyHash {
  using is_transparent = void;
  static std::size_t mix(std::uint64_t x) noexcept {
    // The finaliser of a 64-bit mixer: account ids are often small and sequential.
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdull;
    x ^= x >> 33;
    return static_cast<std::size_t>(x);
  }
  // Asset names are short: FNV-1a is a few multiplies, the mixer spreads it into the low bits.
  // The two key kinds share the text's FNV-1a value, so one order hashes its asset once.
  static std::size_t of_asset(std::uint64_t asset_fnv) noexcept { return mix(asset_fnv); }
  static std::size_t of_account_asset(std::uint64_t account_id, std::uint64_t asset_fnv) noexcept {
    return mix(account_id ^ asset_fnv);
  }
  std::size_t operator()(std::string_view asset) const noexcept { return of_asset(fnv1a_64(asset)); }
  std::size_t operator()(const std::string& asset) const noexcept { return (*this)(std::string_view(asset)); }
  std::size_t operator()(AccountAssetView key) const noexcept {
    return of_account_asset(key.account_id, fnv1a_64(key.asset));
  }
  std::size_t operator()(const AccountAssetKey& key) const noexcept { return (*this)(key.view()); }
};

// Asset names are a few bytes: an inline loop beats a call into the library's memcmp.
inline bool same_text(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i]) return false;
  return true;
}

struct LimitKeyEqual {
  using is_transparent = void;
  static AccountAssetView as_view(AccountAssetView v) noexcept { return v; }
  static AccountAssetView as_view(const AccountAssetKey& k) noexcept { return k.view(); }
  template <class A, class B>
  bool operator()(const A& a, const B& b) const noexcept {
    if constexpr (std::is_convertible_v<const A&, std::string_view> && std::is_convertible_v<const B&, std::string_view>) {
      return same_text(a, b);
    } else {
      const AccountAssetView x = as_view(a), y = as_view(b);
      return x.account_id == y.account_id && same_text(x.asset, y.asset);
    }
  }
};

struct AccountIdHash {
  std::size_t operator()(std::uint64_t id) const noexcept { return LimitKeyHash::mix(id); }
};

}  // namespace vantrel
