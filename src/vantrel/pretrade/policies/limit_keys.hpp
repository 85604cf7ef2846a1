#pragma once
// Keys of the limit policies' maps, looked up by views so the hot path builds no string.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <type_traits>

#include "vantrel/core/name_hash.hpp"
#include "vantrel/core/placement.hpp"
#include "vantrel/param/ids.hpp"
#include "vantrel/param/sip_hash.hpp"

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

// Every key is hashed whole under keys of the process's own (core/placement.hpp), copied into
// the hasher when the map holding it is built, so a hash reads no key from elsewhere: an asset
// name by the keyed name hash (core/name_hash.hpp: one word for at most 8 bytes, SipHash-1-3
// beyond); an (account, asset) key by the placement hash of the account and the name's keyed
// hash. Keys chosen against any fixed hash cost what random keys cost. Every hasher of the
// process holds the same keys, so the hash of a name one limit policy took serves the others.
struct LimitKeyHash {
  using is_transparent = void;

  PlacementKey words = placement_secret(SecretUse::limit_words);
  PlacementKey pairs = placement_secret(SecretUse::limit_pairs);
  SipKey names = sip_key_of(placement_secret(SecretUse::limit_names));

  static SipKey sip_key_of(const PlacementKey& k) noexcept { return SipKey{k.k0, k.k1}; }

  // The keyed hash of an asset name: the hash of an asset key, and what an (account, asset)
  // key's hash is made from, so one order hashes its asset's name once.
  std::uint64_t of_name(std::string_view asset) const noexcept { return keyed_name_hash(asset, words, names); }
  std::uint64_t of_account_asset(std::uint64_t account_id, std::uint64_t name_hash) const noexcept {
    return placement_hash(account_id, name_hash, pairs);
  }
  std::uint64_t operator()(std::string_view asset) const noexcept { return of_name(asset); }
  std::uint64_t operator()(const std::string& asset) const noexcept { return of_name(asset); }
  std::uint64_t operator()(AccountAssetView key) const noexcept {
    return of_account_asset(key.account_id, of_name(key.asset));
  }
  std::uint64_t operator()(const AccountAssetKey& key) const noexcept { return (*this)(key.view()); }
};

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
  PlacementKey key = placement_secret(SecretUse::limit_pairs);
  std::uint64_t operator()(std::uint64_t id) const noexcept { return placement_hash(id, key); }
};

}  // namespace vantrel
