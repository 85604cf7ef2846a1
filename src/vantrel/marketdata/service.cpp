#include "vantrel/marketdata/service.hpp"

#include <algorithm>
#include <limits>
#include <new>

namespace vantrel {

// A quote as stored: three prices, which of them are present, and when it was
// pushed; 64 bytes where three optional prices and an instant took 88.
struct CompactQuote {
  Decimal prices[3];  // mark, bid, ask
  std::uint64_t pushed_seconds = 0;
  std::uint32_t pushed_nanos = 0;
  std::uint8_t present = 0;  // bit i: prices[i] is set
  bool filled = false;       // the slot's default bucket: it holds a quote (the padding's room)

  Instant pushed_at() const noexcept { return {pushed_seconds, pushed_nanos}; }

  Quote quote() const noexcept {
    Quote q;
    if (present & 1) q.mark = Price{prices[0]};
    if (present & 2) q.bid = Price{prices[1]};
    if (present & 4) q.ask = Price{prices[2]};
    return q;
  }

  // A new bucket starts with every field absent, so a patch of it stores the patch.
  void write(const Quote& quote, PushMode mode, Instant now) noexcept {
    if (mode == PushMode::Replace) present = 0;
    const std::optional<Price>* fields[3] = {&quote.mark, &quote.bid, &quote.ask};
    for (int i = 0; i < 3; ++i) {
      if (*fields[i]) {
        prices[i] = (*fields[i])->value;
        present |= static_cast<std::uint8_t>(1u << i);
      } else if (mode == PushMode::Replace) {
        prices[i] = Decimal();
      }
    }
    pushed_seconds = now.seconds;
    pushed_nanos = now.nanos;
  }
};
static_assert(sizeof(CompactQuote) == 64);

// One instrument's registration, quotes and limits. Most instruments only ever
// have their default bucket and no limits of their own: those live in the slot;
// account and group buckets, and limits per account or group, in parts made by
// the first push or setting that needs them. The quote lock guards the buckets;
// the TTL lock guards the limits.
struct MarketDataService::Slot : IndexedInstrument {
  struct Buckets {
    IntMap<std::uint64_t, CompactQuote> accounts;
    IntMap<std::uint32_t, CompactQuote> groups;  // never the default group: that bucket is in the slot
  };
  struct Limits {
    IntMap<std::uint64_t, QuoteTtl> accounts;
    IntMap<std::uint32_t, QuoteTtl> groups;  // key 0: the instrument's default-group level
  };

  Slot(const Instrument& instrument, InstrumentId id, std::optional<QuoteTtl> ttl, SyncMode mode)
      : IndexedInstrument{instrument, id}, quote_lock(mode), ttl_lock(mode), instrument_ttl(ttl) {}

  Buckets& buckets() {
    if (!more_buckets) more_buckets = std::make_unique<Buckets>();
    return *more_buckets;
  }
  Limits& limits() {
    if (!more_limits) more_limits = std::make_unique<Limits>();
    return *more_limits;
  }

  mutable RwLock quote_lock;
  CompactQuote default_quote;  // `filled` once pushed
  std::unique_ptr<Buckets> more_buckets;

  mutable RwLock ttl_lock;
  std::optional<QuoteTtl> instrument_ttl;
  std::unique_ptr<Limits> more_limits;
};

namespace {

template <class Map, class Key>
void write_bucket(Map& buckets, Key key, const Quote& quote, PushMode mode, Instant now) {
  buckets.try_emplace(key).write(quote, mode, now);
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

// The lookups an order pays for take their locks inline (gnu::flatten): the rest of this file
// would otherwise spend the inliner's budget first.
[[gnu::flatten]]
MarketDataService::Slot* MarketDataService::find_slot(InstrumentId id) const noexcept {
  ReadGuard c(registry_lock_);
  Slot* const* slot = id_index_.find(id.value);
  return slot != nullptr ? *slot : nullptr;
}

[[gnu::flatten]]
MarketDataService::Slot* MarketDataService::find_slot(const Instrument& instrument) const noexcept {
  ReadGuard c(registry_lock_);
  const IndexedInstrument* found =
      instrument_index_.find(instrument.underlying_asset.name(), instrument.settlement_asset.name());
  // Every registration in the index is a slot's.
  return found != nullptr ? static_cast<Slot*>(const_cast<IndexedInstrument*>(found)) : nullptr;
}

InstrumentId MarketDataService::slot_id(const Slot& slot) noexcept { return slot.id; }

std::optional<InstrumentId> MarketDataService::resolve_instrument_id(std::string_view underlying,
                                                                     std::string_view settlement) const noexcept {
  ReadGuard c(registry_lock_);
  const IndexedInstrument* found = instrument_index_.find(underlying, settlement);
  return found != nullptr ? std::optional<InstrumentId>(found->id) : std::nullopt;
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
  auto slot = std::make_unique<Slot>(instrument, id, ttl, mode_);
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
  instrument_index_.insert(*raw);
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
  slot->limits().accounts.insert_or_assign(account.value, ttl);
  return true;
}

bool MarketDataService::clear_instrument_account_ttl(InstrumentId id, AccountId account) noexcept {
  Slot* slot = find_slot(id);
  if (slot == nullptr) return false;
  ReadGuard d(slot_list_lock_);
  WriteGuard t(slot->ttl_lock);
  if (slot->more_limits) slot->more_limits->accounts.erase(account.value);
  return true;
}

bool MarketDataService::set_instrument_group_ttl(InstrumentId id, AccountGroupId group, QuoteTtl ttl) {
  Slot* slot = find_slot(id);
  if (slot == nullptr) return false;
  ReadGuard d(slot_list_lock_);
  WriteGuard t(slot->ttl_lock);
  slot->limits().groups.insert_or_assign(group.value, ttl);
  return true;
}

bool MarketDataService::clear_instrument_group_ttl(InstrumentId id, AccountGroupId group) noexcept {
  Slot* slot = find_slot(id);
  if (slot == nullptr) return false;
  ReadGuard d(slot_list_lock_);
  WriteGuard t(slot->ttl_lock);
  if (slot->more_limits) slot->more_limits->groups.erase(group.value);
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
  slot->default_quote.filled = false;
  if (slot->more_buckets) {
    slot->more_buckets->accounts.clear();
    slot->more_buckets->groups.clear();
  }
}

// -- pushes

void MarketDataService::write_bucket_targets(Slot& slot, const Quote& quote, PushMode mode, Instant now,
                                             std::span<const AccountId> accounts,
                                             std::span<const AccountGroupId> groups) {
  ReadGuard d(slot_list_lock_);
  WriteGuard q(slot.quote_lock);
  // Room first, so no target is written unless all of them can be.
  std::size_t other_groups = 0;
  for (AccountGroupId group : groups) other_groups += group.value != AccountGroupId::kDefault;
  if (!accounts.empty() || other_groups != 0) {
    Slot::Buckets& more = slot.buckets();
    more.accounts.reserve_more(accounts.size());
    more.groups.reserve_more(other_groups);
  }
  for (AccountId account : accounts) write_bucket(slot.more_buckets->accounts, account.value, quote, mode, now);
  for (AccountGroupId group : groups) {
    if (group.value != AccountGroupId::kDefault) {
      write_bucket(slot.more_buckets->groups, group.value, quote, mode, now);
    } else {
      if (!slot.default_quote.filled) slot.default_quote = CompactQuote{};
      slot.default_quote.write(quote, mode, now);
      slot.default_quote.filled = true;
    }
  }
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
    if (const IndexedInstrument* found =
            instrument_index_.find(instrument.underlying_asset.name(), instrument.settlement_asset.name()))
      id = found->id;
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
  const Slot* slot = find_slot(id);
  if (slot == nullptr) {
    QuoteLookup result;
    result.status = LookupStatus::UnknownInstrument;
    return result;
  }
  return lookup_in(*slot, account, resolution, group);
}

[[gnu::flatten]]
QuoteLookup MarketDataService::lookup_in(const Slot& found, AccountId account, QuoteResolution resolution,
                                         const GroupHint& group) const {
  // One result object, written in place on every path (no staging copies).
  QuoteLookup result;
  const Slot* slot = &found;
  ReadGuard d(slot_list_lock_);

  Instant pushed_at;
  {
    ReadGuard q(slot->quote_lock);
    const Slot::Buckets* more = slot->more_buckets.get();
    const CompactQuote* hit = more != nullptr ? more->accounts.find(account.value) : nullptr;
    if (hit == nullptr && resolution != QuoteResolution::AccountOnly) {
      if (!group.known) {
        result.status = LookupStatus::NeedGroup;
        return result;
      }
      // The default group's bucket is the default bucket.
      if (group.group) {
        if (group.group->value == AccountGroupId::kDefault)
          hit = slot->default_quote.filled ? &slot->default_quote : nullptr;
        else if (more != nullptr)
          hit = more->groups.find(group.group->value);
      }
      if (hit == nullptr && resolution == QuoteResolution::AccountThenGroupThenDefault && slot->default_quote.filled)
        hit = &slot->default_quote;
    }
    if (hit == nullptr) {
      result.status = LookupStatus::QuoteUnavailable;
      return result;
    }
    result.quote = hit->quote();
    pushed_at = hit->pushed_at();
  }

  // The limit does not depend on which bucket supplied the quote.
  QuoteTtl ttl = default_ttl_;
  {
    ReadGuard t(slot->ttl_lock);
    const Slot::Limits* more = slot->more_limits.get();
    if (const QuoteTtl* level = more != nullptr ? more->accounts.find(account.value) : nullptr) {
      ttl = *level;
    } else {
      if (!group.known) {
        result.status = LookupStatus::NeedGroup;
        return result;
      }
      const QuoteTtl* instrument_group = nullptr;
      if (more != nullptr) {
        if (group.group) instrument_group = more->groups.find(group.group->value);
        if (instrument_group == nullptr) instrument_group = more->groups.find(AccountGroupId::kDefault);
      }
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
