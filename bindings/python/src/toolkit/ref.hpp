#pragma once
#include <utility>

#include "toolkit/gil.hpp"
#include "toolkit/python.hpp"

namespace vantrel::py {

// Releases a reference that may be the last one, or one this thread may not
// touch now (queued, or leaked on a thread being ended). Freeing an object can
// run Python (`__del__`, weakref callbacks), hence give the lock up and have
// the interpreter end the thread there: this release runs in a parking frame.
void py_release(PyObject* obj) noexcept;

// Releases a reference. One that leaves the object alive runs no Python, so it
// takes no parking frame; the count is read only while this thread holds the
// interpreter lock, since a thread holding it may change the count meanwhile.
inline void py_decref(PyObject* obj) noexcept {
  if (may_touch_python() && Py_REFCNT(obj) > 1) [[likely]] {
    Py_DECREF(obj);
    return;
  }
  py_release(obj);
}

// An owned reference. Releasing goes through py_decref, so a Ref dropped on a
// thread that has given up the interpreter lock is queued, not released, and
// one dropped on a thread the interpreter is ending is leaked.
class Ref {
 public:
  Ref() noexcept = default;
  static Ref steal(PyObject* obj) noexcept { return Ref(obj); }
  static Ref borrow(PyObject* obj) noexcept(!kLockChecks) {
    if (obj != nullptr) require_lock("taking a reference");
    Py_XINCREF(obj);
    return Ref(obj);
  }
  Ref(const Ref& other) noexcept(!kLockChecks) : obj_(other.obj_) {
    if (obj_ != nullptr) require_lock("copying a reference");
    Py_XINCREF(obj_);
  }
  Ref(Ref&& other) noexcept : obj_(std::exchange(other.obj_, nullptr)) {}
  Ref& operator=(Ref other) noexcept {
    std::swap(obj_, other.obj_);
    return *this;
  }
  ~Ref() {
    if (obj_ != nullptr) py_decref(obj_);
  }

  PyObject* get() const noexcept { return obj_; }
  PyObject* release() noexcept { return std::exchange(obj_, nullptr); }
  // A new reference for the caller, keeping ours.
  PyObject* new_ref() const noexcept(!kLockChecks) {
    if (obj_ != nullptr) require_lock("taking a reference");
    Py_XINCREF(obj_);
    return obj_;
  }
  explicit operator bool() const noexcept { return obj_ != nullptr; }

 private:
  explicit Ref(PyObject* obj) noexcept : obj_(obj) {}
  PyObject* obj_ = nullptr;
};

}  // namespace vantrel::py
