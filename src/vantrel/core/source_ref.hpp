#pragma once
// The handle by which a core record keeps the host object it was converted from.
// The core never looks inside: it only carries the object and gives it back. The
// bindings supply the release function; theirs defers the release to a thread that
// holds the interpreter lock, so a record may be dropped on any thread.
#include <utility>

namespace vantrel {

// Move-only: taking a further reference to a host object needs the host's lock,
// which core code never has. Not thread-safe; one owner at a time.
class SourceRef {
 public:
  using ReleaseFn = void (*)(void* object) noexcept;

  SourceRef() noexcept = default;
  // Takes over one reference to `object`, given back through `release`.
  SourceRef(void* object, ReleaseFn release) noexcept : object_(object), release_(release) {}
  SourceRef(SourceRef&& other) noexcept
      : object_(std::exchange(other.object_, nullptr)), release_(std::exchange(other.release_, nullptr)) {}
  SourceRef& operator=(SourceRef&& other) noexcept {
    if (this != &other) {
      reset();
      object_ = std::exchange(other.object_, nullptr);
      release_ = std::exchange(other.release_, nullptr);
    }
    return *this;
  }
  SourceRef(const SourceRef&) = delete;
  SourceRef& operator=(const SourceRef&) = delete;
  ~SourceRef() { reset(); }

  void reset() noexcept {
    void* object = std::exchange(object_, nullptr);
    ReleaseFn release = std::exchange(release_, nullptr);
    if (object != nullptr && release != nullptr) release(object);
  }

  // The object, still owned by this handle; null when empty.
  void* get() const noexcept { return object_; }
  explicit operator bool() const noexcept { return object_ != nullptr; }

 private:
  void* object_ = nullptr;
  ReleaseFn release_ = nullptr;
};

}  // namespace vantrel
