#include "vantrel/core/placement.hpp"

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdio>

#if defined(__linux__)
#include <sys/random.h>
#elif defined(__APPLE__)
#include <sys/random.h>
#include <unistd.h>
#endif

namespace vantrel {

namespace {

// Fills `out` from the operating system's random source; false when it has none.
bool system_random(void* out, std::size_t bytes) noexcept {
#if defined(__linux__)
  auto* at = static_cast<unsigned char*>(out);
  while (bytes > 0) {
    const ssize_t got = ::getrandom(at, bytes, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      break;
    }
    at += got;
    bytes -= static_cast<std::size_t>(got);
  }
  if (bytes == 0) return true;
#elif defined(__APPLE__)
  if (::getentropy(out, bytes) == 0) return true;
#endif
  // Kernels without getrandom: the device it stands for.
  std::FILE* f = std::fopen("/dev/urandom", "rb");
  if (f == nullptr) return false;
  const bool read = std::fread(out, 1, bytes, f) == bytes;
  std::fclose(f);
  return read;
}

PlacementKey draw() noexcept {
  PlacementKey key;
  if (!system_random(&key, sizeof key)) {
    // No random source at all: the clock and this process's address layout, which
    // an outsider cannot read, are still better than a fixed placement.
    const auto now = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    key.k0 = fold_multiply(now ^ reinterpret_cast<std::uintptr_t>(&key), 0xD6E8FEB86659FD93ull);
    key.k1 = fold_multiply(key.k0 ^ reinterpret_cast<std::uintptr_t>(&draw), 0xA0761D6478BD642Full);
  }
  return key;
}

}  // namespace

const PlacementKey& placement_secret() noexcept {
  static const PlacementKey secret = draw();
  return secret;
}

PlacementKey fresh_placement_key() noexcept { return draw(); }

}  // namespace vantrel
