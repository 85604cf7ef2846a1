#include "vantrel/core/placement.hpp"

#include <array>
#include <cerrno>
#include <chrono>
#include <cstddef>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__linux__) || defined(__APPLE__)
#include <sys/random.h>
#endif

#include "vantrel/param/sip_hash.hpp"

namespace vantrel {

namespace placement_detail {

bool read_random_device(void* out, std::size_t bytes, const char* path) noexcept {
  auto* at = static_cast<unsigned char*>(out);
  int fd;
  do fd = ::open(path, O_RDONLY | O_CLOEXEC);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && S_ISCHR(st.st_mode);
  while (ok && bytes > 0) {
    const ssize_t got = ::read(fd, at, bytes);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      ok = false;
      break;
    }
    at += got;
    bytes -= static_cast<std::size_t>(got);
  }
  ::close(fd);
  return ok && bytes == 0;
}

bool system_random(void* out, std::size_t bytes) noexcept {
  auto* at = static_cast<unsigned char*>(out);
#if defined(__linux__)
  // Never blocks: a process started before the kernel's pool is ready gets EAGAIN and reads
  // the device, which then gives what it has; ENOSYS (an old kernel) and EPERM (a sandbox
  // that filters the call) go to the device as well.
  while (bytes > 0) {
    const ssize_t got = ::getrandom(at, bytes, GRND_NONBLOCK);
    if (got < 0) {
      if (errno == EINTR) continue;
      break;
    }
    at += got;
    bytes -= static_cast<std::size_t>(got);
  }
  if (bytes == 0) return true;
#elif defined(__APPLE__)
  if (bytes <= 256 && ::getentropy(out, bytes) == 0) return true;
#endif
  return read_random_device(at, bytes, "/dev/urandom");
}

}  // namespace placement_detail

namespace {

PlacementKey draw() noexcept {
  PlacementKey key;
  if (!placement_detail::system_random(&key, sizeof key)) {
    // No random source at all: the clock and this process's address layout, which
    // an outsider cannot read, are still better than a fixed placement.
    const auto now = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    key.k0 = fold_multiply(now ^ reinterpret_cast<std::uintptr_t>(&key), 0xD6E8FEB86659FD93ull);
    key.k1 = fold_multiply(key.k0 ^ reinterpret_cast<std::uintptr_t>(&draw), 0xA0761D6478BD642Full);
  }
  return key;
}

static_assert(static_cast<std::size_t>(SecretUse::instrument_pairs) == kSecretUses);
using DerivedKeys = std::array<PlacementKey, kSecretUses + 1>;

// Each use's key: two words of SipHash-1-3 under the process secret, which no use sees.
DerivedKeys derive() noexcept {
  const PlacementKey secret = draw();
  const SipKey under{secret.k0, secret.k1};
  DerivedKeys keys{};
  for (std::uint64_t use = 1; use <= kSecretUses; ++use)
    keys[use] = PlacementKey{sip_hash13(under, {use, 0}), sip_hash13(under, {use, 1})};
  return keys;
}

}  // namespace

const PlacementKey& placement_secret(SecretUse use) noexcept {
  static const DerivedKeys keys = derive();
  return keys[static_cast<std::size_t>(use)];
}

PlacementKey fresh_placement_key() noexcept { return draw(); }

}  // namespace vantrel
