#include "vantrel/core/lock.hpp"

#include <charconv>

namespace vantrel {
namespace {

LockSection* find_section(Lock::Sections& sections, std::uint16_t policy_group_id) noexcept {
  for (LockSection& section : sections)
    if (section.policy_group_id == policy_group_id) return &section;
  return nullptr;
}

bool same_prices(const LockPrices& a, const LockPrices& b) noexcept {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (!(a[i] == b[i])) return false;
  return true;
}

}  // namespace

const LockPrices* Lock::prices_of(std::uint16_t policy_group_id) const noexcept {
  if (policy_group_id == kDefaultPolicyGroupId) return &default_prices_;
  for (const LockSection& section : sections_)
    if (section.policy_group_id == policy_group_id) return &section.prices;
  return nullptr;
}

std::size_t Lock::size() const noexcept {
  std::size_t total = default_prices_.size();
  for (const LockSection& section : sections_) total += section.prices.size();
  return total;
}

void Lock::push_price(std::uint16_t policy_group_id, Decimal price) {
  if (policy_group_id == kDefaultPolicyGroupId) {
    default_prices_.push_back(price);
  } else if (LockSection* section = find_section(sections_, policy_group_id)) {
    section->prices.push_back(price);
  } else {
    LockSection fresh;
    fresh.prices.push_back(price);
    fresh.policy_group_id = policy_group_id;
    sections_.push_back(std::move(fresh));
  }
}

void Lock::push_many(std::uint16_t policy_group_id, std::span<const Decimal> prices) {
  if (prices.empty()) return;
  if (policy_group_id == kDefaultPolicyGroupId) {
    default_prices_.append_copies(prices.data(), prices.size());
  } else if (LockSection* section = find_section(sections_, policy_group_id)) {
    section->prices.append_copies(prices.data(), prices.size());
  } else {
    LockSection fresh;
    fresh.prices.append_copies(prices.data(), prices.size());
    fresh.policy_group_id = policy_group_id;
    sections_.push_back(std::move(fresh));
  }
}

void Lock::merge(const Lock& other) {
  if (&other == this) {
    const Lock copy = other;
    merge(copy);
    return;
  }
  LockAppender appender(*this);
  appender.append(kDefaultPolicyGroupId, other.default_prices_);
  for (const LockSection& section : other.sections_) appender.append_section(section);
}

bool operator==(const Lock& a, const Lock& b) noexcept {
  if (!same_prices(a.default_prices_, b.default_prices_)) return false;
  if (a.sections_.size() != b.sections_.size()) return false;
  for (std::size_t i = 0; i < a.sections_.size(); ++i) {
    const LockSection& x = a.sections_[i];
    const LockSection& y = b.sections_[i];
    if (x.policy_group_id != y.policy_group_id || !same_prices(x.prices, y.prices)) return false;
  }
  return true;
}

// ---- LockAppender ----

LockSection* LockAppender::find(std::uint16_t policy_group_id) {
  Lock::Sections& sections = lock_.sections_;
  // A few lookups scan; once many arrive for a lock of many sections, a table pays off.
  if (!index_ && sections.size() > kScanLimit && ++scans_ > kScanLimit) {
    index_ = std::make_unique<std::uint16_t[]>(65536);  // zeroed: no group has a section
    for (std::size_t i = 0; i < sections.size(); ++i)
      index_[sections[i].policy_group_id] = static_cast<std::uint16_t>(i + 1);
  }
  if (!index_) return find_section(sections, policy_group_id);
  const std::uint16_t slot = index_[policy_group_id];
  return slot == 0 ? nullptr : &sections[slot - 1u];
}

void LockAppender::add_section(LockSection&& section) {
  Lock::Sections& sections = lock_.sections_;
  const std::uint16_t policy_group_id = section.policy_group_id;
  sections.push_back(std::move(section));
  // At most 65535 sections (one per non-default group), so position + 1 fits.
  if (index_) index_[policy_group_id] = static_cast<std::uint16_t>(sections.size());
}

void LockAppender::push_price(std::uint16_t policy_group_id, Decimal price) {
  if (policy_group_id == kDefaultPolicyGroupId) {
    lock_.default_prices_.push_back(price);
  } else if (LockSection* section = find(policy_group_id)) {
    section->prices.push_back(price);
  } else {
    LockSection fresh;
    fresh.prices.push_back(price);
    fresh.policy_group_id = policy_group_id;
    add_section(std::move(fresh));
  }
}

void LockAppender::append(std::uint16_t policy_group_id, const LockPrices& prices) {
  if (prices.empty()) return;
  if (policy_group_id == kDefaultPolicyGroupId) {
    lock_.default_prices_.append_copies(prices.data(), prices.size());
  } else if (LockSection* section = find(policy_group_id)) {
    section->prices.append_copies(prices.data(), prices.size());
  } else {
    LockSection fresh;
    fresh.prices = prices;
    fresh.policy_group_id = policy_group_id;
    add_section(std::move(fresh));
  }
}

// ---- text ----

std::string format_lock(const Lock& lock) {
  std::string out = "Lock([";
  bool first = true;
  lock.for_each_entry([&](std::uint16_t policy_group_id, Decimal price) {
    if (!first) out += ", ";
    first = false;
    char buf[sizeof "(65535, )" - 1 + Decimal::kMaxTextLength];  // the widest item
    char* p = buf;
    *p++ = '(';
    p = std::to_chars(p, buf + sizeof buf, policy_group_id).ptr;
    *p++ = ',';
    *p++ = ' ';
    p += price.write_text(p);
    *p++ = ')';
    out.append(buf, static_cast<std::size_t>(p - buf));
  });
  out += "])";
  return out;
}

}  // namespace vantrel
