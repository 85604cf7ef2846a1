#include "vantrel/core/clock.hpp"

#include <atomic>
#include <ctime>

namespace vantrel {
namespace {

std::atomic<ClockFn> g_test_clock{nullptr};

struct PublishedInstant {
  Instant value;
  bool set;
};
thread_local PublishedInstant t_current __attribute__((tls_model("initial-exec"))) = {};

}  // namespace

void set_test_clock(ClockFn clock) noexcept { g_test_clock.store(clock, std::memory_order_release); }

Instant system_monotonic_now() noexcept {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return {static_cast<std::uint64_t>(ts.tv_sec), static_cast<std::uint32_t>(ts.tv_nsec)};
}

Instant monotonic_now() noexcept {
  if (ClockFn fake = g_test_clock.load(std::memory_order_acquire); fake != nullptr) [[unlikely]]
    return fake();
  return system_monotonic_now();
}

std::optional<Instant> current_instant() noexcept {
  if (!t_current.set) return std::nullopt;
  return t_current.value;
}

CurrentInstantScope::CurrentInstantScope(Instant now) noexcept
    : saved_(t_current.value), had_saved_(t_current.set) {
  t_current = {now, true};
}

CurrentInstantScope::~CurrentInstantScope() { t_current = {saved_, had_saved_}; }

}  // namespace vantrel
