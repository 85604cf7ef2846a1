#pragma once
// The market-data service: registered instruments, their quote buckets (per
// account, per account group, and the default bucket under group key 0), and
// staleness limits at every level.
//
// Locks C, D, A, B and each slot's quote and TTL locks are taken in the order
// of the table in core/rw_lock.hpp. No lock here is ever held while Python
// runs: host reads that need the account group release everything, resolve
// it, and walk again (see lookup()).
// With SyncMode::None there are no locks at all and one thread must do everything.
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <type_traits>
#include <vector>

#include "vantrel/core/clock.hpp"
#include "vantrel/core/instrument.hpp"
#include "vantrel/core/rw_lock.hpp"
#include "vantrel/marketdata/instrument_index.hpp"
#include "vantrel/core/int_map.hpp"
#include "vantrel/marketdata/quote.hpp"
#include "vantrel/marketdata/read_mostly_lock.hpp"
#include "vantrel/param/ids.hpp"

namespace vantrel {

enum class PushMode : std::uint8_t {
  Replace,  // the bucket becomes the given quote
  Patch,    // fields present in the given quote replace the stored ones
};

enum class PushStatus : std::uint8_t { Ok, UnknownInstrument, NoTargets };

enum class RegisterWithIdStatus : std::uint8_t { Ok, InstrumentTaken, IdTaken };

enum class LookupStatus : std::uint8_t {
  Found,
  UnknownInstrument,
  QuoteUnavailable,  // no bucket in reach holds a quote, or the quote is stale
  NeedGroup,         // only with an unknown group: resolve it, then look up again
};

struct QuoteLookup {
  LookupStatus status = LookupStatus::QuoteUnavailable;
  Quote quote;
};

// What a lookup knows of the reading account's group.
struct GroupHint {
  bool known = false;
  std::optional<AccountGroupId> group;  // meaningful when known; nullopt: no group

  static GroupHint unknown() noexcept { return {}; }
  static GroupHint of(std::optional<AccountGroupId> group) noexcept { return {true, group}; }
};

class MarketDataService {
 public:
  // `mode` is SyncMode::None (no locks) or SyncMode::Full.
  MarketDataService(QuoteTtl default_ttl, SyncMode mode);
  ~MarketDataService();
  MarketDataService(const MarketDataService&) = delete;
  MarketDataService& operator=(const MarketDataService&) = delete;

  SyncMode sync_mode() const noexcept { return mode_; }
  bool is_synced() const noexcept { return mode_ != SyncMode::None; }
  QuoteTtl default_ttl() const noexcept { return default_ttl_; }

  // -- registration (may throw bad_alloc; then nothing changed)

  // The next free automatic id; nullopt when the instrument is registered already.
  std::optional<InstrumentId> register_instrument(const Instrument& instrument, std::optional<QuoteTtl> ttl);
  RegisterWithIdStatus register_instrument_with_id(const Instrument& instrument, InstrumentId id,
                                                   std::optional<QuoteTtl> ttl);
  std::optional<InstrumentId> resolve_instrument_id(std::string_view underlying,
                                                    std::string_view settlement) const noexcept;
  std::optional<InstrumentId> resolve_instrument_id(const Instrument& instrument) const noexcept {
    return resolve_instrument_id(instrument.underlying_asset.name(), instrument.settlement_asset.name());
  }

  // -- staleness settings; the instrument levels return false for an unknown id

  bool set_instrument_account_ttl(InstrumentId id, AccountId account, QuoteTtl ttl);
  bool clear_instrument_account_ttl(InstrumentId id, AccountId account) noexcept;
  // AccountGroupId::kDefault addresses the instrument's default-group level.
  bool set_instrument_group_ttl(InstrumentId id, AccountGroupId group, QuoteTtl ttl);
  bool clear_instrument_group_ttl(InstrumentId id, AccountGroupId group) noexcept;
  // nullopt clears the instrument's own limit.
  bool set_instrument_ttl(InstrumentId id, std::optional<QuoteTtl> ttl) noexcept;
  void set_account_ttl(AccountId account, QuoteTtl ttl);
  void clear_account_ttl(AccountId account) noexcept;
  // AccountGroupId::kDefault addresses the service's default-group level.
  void set_group_ttl(AccountGroupId group, QuoteTtl ttl);
  void clear_group_ttl(AccountGroupId group) noexcept;

  // Empties every bucket of the instrument; an unknown id does nothing.
  void clear(InstrumentId id) noexcept;

  // -- pushes (may throw bad_alloc; then nothing changed)

  PushStatus push(InstrumentId id, const Quote& quote, PushMode mode);
  // Registers the instrument on the fly (as register_instrument, no limit).
  InstrumentId push_by_instrument(const Instrument& instrument, const Quote& quote, PushMode mode);
  // Every account's bucket in order, then every group's (kDefault: the default bucket).
  PushStatus push_for(InstrumentId id, const Quote& quote, std::span<const AccountId> accounts,
                      std::span<const AccountGroupId> groups, PushMode mode);

  // -- reads

  // Buckets: the account's, then (resolution permitting) the group's, then the
  // default. Limit: the first level set among instrument+account,
  // instrument+group, instrument default group, service account, service
  // group, service default group, instrument, builder default. With an unknown
  // group, a walk that needs it stops with NeedGroup after releasing its locks.
  QuoteLookup lookup(InstrumentId id, AccountId account, QuoteResolution resolution, const GroupHint& group) const;

  // The lookup policies price with: every bucket in reach; the group resolved at
  // most once through `group_source()` (returning optional<AccountGroupId>),
  // called with no market-data lock held.
  template <class GroupSource>
    requires std::is_invocable_r_v<std::optional<AccountGroupId>, GroupSource&>
  QuoteLookup resolve_quote(InstrumentId id, AccountId account, GroupSource&& group_source) const {
    QuoteLookup result = lookup(id, account, QuoteResolution::AccountThenGroupThenDefault, GroupHint::unknown());
    if (result.status != LookupStatus::NeedGroup) return result;
    return lookup(id, account, QuoteResolution::AccountThenGroupThenDefault, GroupHint::of(group_source()));
  }
  QuoteLookup resolve_quote(InstrumentId id, AccountId account, std::optional<AccountGroupId> group) const {
    const GroupHint hint = GroupHint::of(group);
    return lookup(id, account, QuoteResolution::AccountThenGroupThenDefault, hint);
  }

  // resolve_instrument_id() then resolve_quote() in one walk: the registration
  // found by the names leads straight to its quotes. `id` is empty for an
  // unknown instrument (the lookup then says UnknownInstrument).
  struct InstrumentQuote {
    std::optional<InstrumentId> id;
    QuoteLookup lookup;
  };
  template <class GroupSource>
    requires std::is_invocable_r_v<std::optional<AccountGroupId>, GroupSource&>
  InstrumentQuote resolve_instrument_quote(const Instrument& instrument, AccountId account,
                                           GroupSource&& group_source) const {
    InstrumentQuote out;
    const Slot* slot = find_slot(instrument);
    if (slot == nullptr) {
      out.lookup.status = LookupStatus::UnknownInstrument;
      return out;
    }
    out.id = slot_id(*slot);
    out.lookup = lookup_in(*slot, account, QuoteResolution::AccountThenGroupThenDefault, GroupHint::unknown());
    if (out.lookup.status == LookupStatus::NeedGroup)
      out.lookup = lookup_in(*slot, account, QuoteResolution::AccountThenGroupThenDefault, GroupHint::of(group_source()));
    return out;
  }

  std::size_t instrument_count() const noexcept;

 private:
  struct Slot;

  Slot* find_slot(InstrumentId id) const noexcept;
  Slot* find_slot(const Instrument& instrument) const noexcept;
  static InstrumentId slot_id(const Slot& slot) noexcept;
  // lookup() on a slot already found (slots never move or go away).
  QuoteLookup lookup_in(const Slot& slot, AccountId account, QuoteResolution resolution, const GroupHint& group) const;
  // Under C held for writing: appends the slot and both index entries.
  InstrumentId add_locked(const Instrument& instrument, InstrumentId id, std::optional<QuoteTtl> ttl);
  InstrumentId next_free_id_locked() const noexcept;
  // Levels 4 to 6 (service account, group, default group); skipped entirely
  // until a service-level limit has ever been set.
  std::optional<QuoteTtl> service_level_ttl(AccountId account, std::optional<AccountGroupId> group) const;
  void write_bucket_targets(Slot& slot, const Quote& quote, PushMode mode, Instant now,
                            std::span<const AccountId> accounts, std::span<const AccountGroupId> groups);

  const QuoteTtl default_ttl_;
  const SyncMode mode_;

  mutable ReadMostlyLock account_ttl_lock_;  // A
  IntMap<std::uint64_t, QuoteTtl> account_ttls_;
  mutable ReadMostlyLock group_ttl_lock_;  // B
  IntMap<std::uint32_t, QuoteTtl> group_ttls_;

  mutable ReadMostlyLock registry_lock_;  // C
  IntMap<std::uint64_t, Slot*> id_index_;
  InstrumentIndex instrument_index_;
  std::uint64_t next_id_ = 0;

  mutable ReadMostlyLock slot_list_lock_;  // D
  std::vector<std::unique_ptr<Slot>> slots_;  // addresses stable; never removed

  // Set once any service-level limit was set; lookups skip A and B until then.
  std::atomic<bool> has_service_overrides_{false};
};

}  // namespace vantrel
