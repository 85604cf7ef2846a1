#pragma once
// Where a host-supplied key lands in a hash table (its shard and its home cell)
// depends on a secret drawn from the operating system once per process. Ids are
// the host's: an unkeyed mixer can be inverted in a few lines and a text id's
// FNV-1a brute-forced in seconds, so a fixed placement lets anyone who picks
// ids pile them into one run of one table. Without the secret, ids chosen
// against one process's placement land at random in another.
//
// The mix is two rounds of a 128-bit multiply folded to 64 bits, the key words
// XORed in before the first: about 8 cycles, against about 60 for SipHash-1-3 of
// two words. Tables keep a copy of the secret beside their array pointer, so
// placing a key reads no line an order would not read anyway.
#include <cstddef>
#include <cstdint>
#include <utility>

namespace vantrel {

struct PlacementKey {
  std::uint64_t k0 = 0;
  std::uint64_t k1 = 0;
};

// What a key is for. The process draws one secret from the operating system and
// derives from it a key for each use (SipHash-1-3 of the use under the secret), so
// a key that leaks through one use (the timings of one table, say) tells nothing of
// the others.
enum class SecretUse : std::uint64_t {
  table_cells = 1,   // cells of the flat tables keyed by ids
  hash_buckets,      // buckets of the standard containers keyed by ids (KeyedIdHash, KeyedIdPairHash)
  shards,            // the shard of a key in tables split into shards
  asset_names,       // SipHash of the asset names the funds policies intern
  instrument_names,  // SipHash of the names longer than 8 bytes the instrument index is keyed by
  limit_names,       // SipHash of the asset names the limit policies are configured with
  limit_pairs,       // the limit maps' (account, asset) and account keys
  limit_words,       // the one-word placement of those names of at most 8 bytes
  instrument_words,  // the one-word placement of the instrument index's names of at most 8 bytes
  instrument_pairs,  // the instrument index's (underlying, settlement) pairs of name hashes
};
inline constexpr std::size_t kSecretUses = 10;

// The key for `use`, derived on first use (thread-safe). Without an argument: the
// flat tables' cells. Out of line and guarded: hashers and tables copy the key when
// they are made, never per hash.
const PlacementKey& placement_secret(SecretUse use) noexcept;
inline const PlacementKey& placement_secret() noexcept { return placement_secret(SecretUse::table_cells); }
// A new key from the operating system, for a table that re-places its entries.
PlacementKey fresh_placement_key() noexcept;

namespace placement_detail {
// Fills `out` from the operating system without blocking: getrandom with GRND_NONBLOCK,
// then, when that has nothing yet (early in boot), no such call or is not allowed, the
// random device. False when neither gives every byte.
bool system_random(void* out, std::size_t bytes) noexcept;
// Every byte from the character device at `path` (never a file or directory that a
// mistaken mount put there); false when it is not one or gives fewer bytes.
bool read_random_device(void* out, std::size_t bytes, const char* path) noexcept;
}  // namespace placement_detail

constexpr std::uint64_t fold_multiply(std::uint64_t a, std::uint64_t b) noexcept {
  const unsigned __int128 p = static_cast<unsigned __int128>(a) * b;
  return static_cast<std::uint64_t>(p) ^ static_cast<std::uint64_t>(p >> 64);
}

// A hash of the two words `a` and `b` under `key`; every bit of it depends on
// every bit of both words and of the key.
constexpr std::uint64_t placement_hash(std::uint64_t a, std::uint64_t b, const PlacementKey& key) noexcept {
  return fold_multiply(fold_multiply(a ^ key.k0, b ^ key.k1) ^ key.k1, key.k0 ^ 0x9E3779B97F4A7C15ull);
}
constexpr std::uint64_t placement_hash(std::uint64_t a, const PlacementKey& key) noexcept {
  return placement_hash(a, 0, key);
}

// A per-account, per-asset key: the account id and the asset's number within
// its policy (never 0, which marks a free cell). Both words go into the hash
// whole, so no bits of an id can cancel the asset.
struct AccountAsset {
  std::uint64_t account;
  std::uint32_t asset;
  friend constexpr bool operator==(AccountAsset, AccountAsset) = default;
};

constexpr std::uint64_t placement_hash(AccountAsset k, const PlacementKey& key) noexcept {
  return placement_hash(k.account, k.asset, key);
}

// A keyed hasher for the standard unordered containers: stateful, so each
// container keeps its copy of the secret beside its buckets.
struct KeyedIdHash {
  PlacementKey key = placement_secret(SecretUse::hash_buckets);
  template <class Id>
    requires requires(const Id& id) { std::uint64_t{id.value}; }
  std::size_t operator()(const Id& id) const noexcept {
    return static_cast<std::size_t>(placement_hash(id.value, key));
  }
  std::size_t operator()(std::uint64_t id) const noexcept { return static_cast<std::size_t>(placement_hash(id, key)); }
};

// The same for pairs of ids, such as (instrument, account).
struct KeyedIdPairHash {
  PlacementKey key = placement_secret(SecretUse::hash_buckets);
  std::size_t operator()(const std::pair<std::uint64_t, std::uint64_t>& ids) const noexcept {
    return static_cast<std::size_t>(placement_hash(ids.first, ids.second, key));
  }
};

}  // namespace vantrel
