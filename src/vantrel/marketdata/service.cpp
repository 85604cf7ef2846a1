#include "vantrel/marketdata/service.hpp"

#include <algorithm>
#include <limits>
#include <new>

namespace vantrel {

// One instrument's quotes and limits. The quote lock guards the buckets; the
// TTL lock guards the limits; each on its own cache line.
struct MarketDataService::Slot {
  struct StoredQuote {
    Instant pushed_at;
    Quote quote;
  };

  Slot(std::optional<QuoteTtl> ttl, SyncMode mode) noexcept
      : quote_lock(mode), ttl_lock(mode), instrument_ttl(ttl) {}

  alignas(64) mutable RwLock quote_lock;
  IntMap<std::uint64_t, StoredQuote> account_quotes;
  IntMap<std::uint32_t, StoredQuote> group_quotes;  // key 0: the default bucket

  alignas(64) mutable RwLock ttl_lock;
  IntMap<std::uint64_t, QuoteTtl> account_ttls;
  IntMap<std::uint32_t, QuoteTtl> group_ttls;  // key 0: the instrument's default-group level
  std::optional<QuoteTtl> instrument_ttl;
};

namespace {

// A new bucket starts with every field absent, so a patch of it stores the patch.
template <class Map, class Key>
void write_bucket(Map& buckets, Key key, const Quote& quote, PushMode mode, Instant now) {
  auto& entry = buckets.try_emplace(key);
  if (mode == PushMode::Replace) {
    entry.quote = quote;
  } else {
    entry.quote.merge(quote);
  }
  entry.pushed_at = now;
}

Duration age_of(Instant pushed_at, Instant now) noexcept {
  const Instant elapsed = saturating_elapsed(now, pushed_at);  // a push "after" now is age 0
  return {elapsed.seconds, elapsed.nanos};
}

}  // namespace

MarketDataService::MarketDataService(QuoteTtl default_ttl, SyncMode mode)
    : default_ttl_(default_ttl),
      mode_(mode),
      account_ttl_lock_(mode),
      group_ttl_lock_(mode),
      registry_lock_(mode),
      slot_list_lock_(mode) {}

MarketDataService::~MarketDataService() = default;

std::size_t MarketDataService::instrument_count() const noexcept {
  ReadGuard c(registry_lock_);
  return id_index_.size();
}

MarketDataService::Slot* MarketDataService::find_slot(InstrumentId id) const noexcept {
  ReadGuard c(registry_lock_);
  Slot* const* slot = id_index_.find(id.value);
  return slot != nullptr ? *slot : nullptr;
}

std::optional<InstrumentId> MarketDataService::resolve_instrument_id(std::string_view underlying,
                                                                     std::string_view settlement) const noexcept {
  ReadGuard c(registry_lock_);
  return instrument_index_.find(underlying, settlement);
}

// -- registration

InstrumentId MarketDataService::next_free_id_locked() const noexcept {
  std::uint64_t id = next_id_;
  while (id_index_.contains(id)) ++id;  // ids chosen explicitly are skipped, not reused
  return InstrumentId{id};
}

InstrumentId MarketDataService::add_locked(const Instrument& instrument, InstrumentId id,
                                           std::optional<QuoteTtl> ttl) {
  // Everything that can fail happens first; then the slot and both index
  // entries appear together, before C is released.
  if (slots_.size() >= std::numeric_limits<std::uint32_t>::max()) throw std::bad_alloc();
  auto slot = std::make_unique<Slot>(ttl, mode_);
  auto copy = std::make_unique<Instrument>(instrument);
  instrument_index_.reserve_one();
  id_index_.reserve_more(1);
  Slot* raw = slot.get();
  {
    WriteGuard d(slot_list_lock_);
    // Doubling: room for exactly one more would copy the whole list on every
    // registration, with D held.
    if (slots_.size() == slots_.capacity()) slots_.reserve(std::max<std::size_t>(16, slots_.size() * 2));
    slots_.push_back(std::move(slot));
  }
  id_index_.try_emplace(id.value, raw);
  instrument_index_.insert(std::move(copy), id);
  return id;
}

std::optional<InstrumentId> MarketDataService::register_instrument(const Instrument& instrument,
                                                                   std::optional<QuoteTtl> ttl) {
  if (resolve_instrument_id(instrument)) return std::nullopt;
  WriteGuard c(registry_lock_);
  // Another thread may have registered it between the two looks.
  if (instrument_index_.find(instrument.underlying_asset.name(), instrument.settlement_asset.name()))
    return std::nullopt;
  const InstrumentId id = add_locked(instrument, next_free_id_locked(), ttl);
  next_id_ = id.value + 1;
  return id;
}

RegisterWithIdStatus MarketDataService::register_instrument_with_id(const Instrument& instrument, InstrumentId id,
                                                                    std::optional<QuoteTtl> ttl) {
  WriteGuard c(registry_lock_);
  if (instrument_index_.find(instrument.underlying_asset.name(), instrument.settlement_asset.name()))
    return RegisterWithIdStatus::InstrumentTaken;
  if (id_index_.contains(id.value)) return RegisterWithIdStatus::IdTaken;
  add_locked(instrument, id, ttl);
  return RegisterWithIdStatus::Ok;
}

// -- staleness settings

bool MarketDataService::set_instrument_account_ttl(InstrumentId id, AccountId account, QuoteTtl ttl) {
  Slot* slot = find_slot(id);
  if (slot == nullptr) return false;
  ReadGuard d(slot_list_lock_);
  WriteGuard t(slot->ttl_lock);
  slot->account_ttls.insert_or_assign(account.value, ttl);
  return true;
}

bool MarketDataService::clear_instrument_account_ttl(InstrumentId id, AccountId account) noexcept {
  Slot* slot = find_slot(id);
  if (slot == nullptr) return false;
  ReadGuard d(slot_list_lock_);
  WriteGuard t(slot->ttl_lock);
  slot->account_ttls.erase(account.value);
  return true;
}

bool MarketDataService::set_instrument_group_ttl(InstrumentId id, AccountGroupId group, QuoteTtl ttl) {
  Slot* slot = find_slot(id);
  if (slot == nullptr) return false;
  ReadGuard d(slot_list_lock_);
  WriteGuard t(slot->ttl_lock);
  slot->group_ttls.insert_or_assign(group.value, ttl);
  return true;
}

bool MarketDataService::clear_instrument_group_ttl(InstrumentId id, AccountGroupId group) noexcept {
  Slot* slot = find_slot(id);
  if (slot == nullptr) return false;
  ReadGuard d(slot_list_lock_);
  WriteGuard t(slot->ttl_lock);
  slot->group_ttls.erase(group.value);
  return true;
}

bool MarketDataService::set_instrument_ttl(InstrumentId id, std::optional<QuoteTtl> ttl) noexcept {
  Slot* slot = find_slot(id);
  if (slot == nullptr) return false;
  ReadGuard d(slot_list_lock_);
  WriteGuard t(slot->ttl_lock);
  slot->instrument_ttl = ttl;
  return true;
}

void MarketDataService::set_account_ttl(AccountId account, QuoteTtl ttl) {
  {
    WriteGuard a(account_ttl_lock_);
    account_ttls_.insert_or_assign(account.value, ttl);
  }
  has_service_overrides_.store(true);
}

void MarketDataService::clear_account_ttl(AccountId account) noexcept {
  WriteGuard a(account_ttl_lock_);
  account_ttls_.erase(account.value);
}

void MarketDataService::set_group_ttl(AccountGroupId group, QuoteTtl ttl) {
  {
    WriteGuard b(group_ttl_lock_);
    group_ttls_.insert_or_assign(group.value, ttl);
  }
  has_service_overrides_.store(true);
}

void MarketDataService::clear_group_ttl(AccountGroupId group) noexcept {
  WriteGuard b(group_ttl_lock_);
  group_ttls_.erase(group.value);
}

void MarketDataService::clear(InstrumentId id) noexcept {
  Slot* slot = find_slot(id);
  if (slot == nullptr) return;
  ReadGuard d(slot_list_lock_);
  WriteGuard q(slot->quote_lock);
  slot->account_quotes.clear();
  slot->group_quotes.clear();
}

// -- pushes

void MarketDataService::write_bucket_targets(Slot& slot, const Quote& quote, PushMode mode, Instant now,
                                             std::span<const AccountId> accounts,
                                             std::span<const AccountGroupId> groups) {
  ReadGuard d(slot_list_lock_);
  WriteGuard q(slot.quote_lock);
  // Room first, so no target is written unless all of them can be.
  slot.account_quotes.reserve_more(accounts.size());
  slot.group_quotes.reserve_more(groups.size());
  for (AccountId account : accounts)
    write_bucket(slot.account_quotes, account.value, quote, mode, now);
  for (AccountGroupId group : groups)
    write_bucket(slot.group_quotes, group.value, quote, mode, now);
}

PushStatus MarketDataService::push(InstrumentId id, const Quote& quote, PushMode mode) {
  Slot* slot = find_slot(id);
  if (slot == nullptr) return PushStatus::UnknownInstrument;
  const AccountGroupId default_group{AccountGroupId::kDefault};
  write_bucket_targets(*slot, quote, mode, monotonic_now(), {}, {&default_group, 1});
  return PushStatus::Ok;
}

InstrumentId MarketDataService::push_by_instrument(const Instrument& instrument, const Quote& quote, PushMode mode) {
  std::optional<InstrumentId> id = resolve_instrument_id(instrument);
  if (!id) {
    WriteGuard c(registry_lock_);
    // A concurrent registration of the same instrument is reused, not duplicated.
    id = instrument_index_.find(instrument.underlying_asset.name(), instrument.settlement_asset.name());
    if (!id) {
      id = add_locked(instrument, next_free_id_locked(), std::nullopt);
      next_id_ = id->value + 1;
    }
  }
  push(*id, quote, mode);  // slots are never removed: the id stays known
  return *id;
}

PushStatus MarketDataService::push_for(InstrumentId id, const Quote& quote, std::span<const AccountId> accounts,
                                       std::span<const AccountGroupId> groups, PushMode mode) {
  if (accounts.empty() && groups.empty()) return PushStatus::NoTargets;
  Slot* slot = find_slot(id);
  if (slot == nullptr) return PushStatus::UnknownInstrument;
  write_bucket_targets(*slot, quote, mode, monotonic_now(), accounts, groups);
  return PushStatus::Ok;
}

// -- reads

std::optional<QuoteTtl> MarketDataService::service_level_ttl(AccountId account, std::optional<AccountGroupId> group) const {
  if (!has_service_overrides_.load(std::memory_order_acquire)) return std::nullopt;
  {
    ReadGuard a(account_ttl_lock_);
    if (const QuoteTtl* ttl = account_ttls_.find(account.value)) return *ttl;
  }
  ReadGuard b(group_ttl_lock_);
  if (group) {
    if (const QuoteTtl* ttl = group_ttls_.find(group->value)) return *ttl;
  }
  if (const QuoteTtl* ttl = group_ttls_.find(AccountGroupId::kDefault)) return *ttl;
  return std::nullopt;
}

QuoteLookup MarketDataService::lookup(InstrumentId id, AccountId account, QuoteResolution resolution,
                                      const GroupHint& group) const {
  // One result object, written in place on every path (no staging copies).
  QuoteLookup result;
  const Slot* slot = find_slot(id);
  if (slot == nullptr) {
    result.status = LookupStatus::UnknownInstrument;
    return result;
  }
  ReadGuard d(slot_list_lock_);

  Instant pushed_at;
  {
    ReadGuard q(slot->quote_lock);
    const Slot::StoredQuote* hit = slot->account_quotes.find(account.value);
    if (hit == nullptr && resolution != QuoteResolution::AccountOnly) {
      if (!group.known) {
        result.status = LookupStatus::NeedGroup;
        return result;
      }
      // The default group's bucket is the default bucket.
      if (group.group) hit = slot->group_quotes.find(group.group->value);
      if (hit == nullptr && resolution == QuoteResolution::AccountThenGroupThenDefault)
        hit = slot->group_quotes.find(AccountGroupId::kDefault);
    }
    if (hit == nullptr) {
      result.status = LookupStatus::QuoteUnavailable;
      return result;
    }
    result.quote = hit->quote;
    pushed_at = hit->pushed_at;
  }

  // The limit does not depend on which bucket supplied the quote.
  QuoteTtl ttl = default_ttl_;
  {
    ReadGuard t(slot->ttl_lock);
    if (const QuoteTtl* level = slot->account_ttls.find(account.value)) {
      ttl = *level;
    } else {
      if (!group.known) {
        result.status = LookupStatus::NeedGroup;
        return result;
      }
      const QuoteTtl* instrument_group = group.group ? slot->group_ttls.find(group.group->value) : nullptr;
      if (instrument_group == nullptr) instrument_group = slot->group_ttls.find(AccountGroupId::kDefault);
      if (instrument_group != nullptr) {
        ttl = *instrument_group;
      } else if (std::optional<QuoteTtl> service = service_level_ttl(account, group.group)) {
        ttl = *service;
      } else if (slot->instrument_ttl) {
        ttl = *slot->instrument_ttl;
      }
    }
  }

  // The clock is read only for a finite limit, once the limit is known.
  const bool stale = !ttl.is_infinite() && ttl.is_stale(age_of(pushed_at, monotonic_now()));
  result.status = stale ? LookupStatus::QuoteUnavailable : LookupStatus::Found;
  return result;
}

}  // namespace vantrel
