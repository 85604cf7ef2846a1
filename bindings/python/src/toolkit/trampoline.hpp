#pragma once
#include <type_traits>

#include "toolkit/errors.hpp"
#include "toolkit/gil.hpp"

namespace vantrel::py {

// Every C function the interpreter calls is one of these: it counts itself
// into the lock depth, and no C++ exception ever leaves it. A function with no
// failure value (a deallocation) has no caller to raise its error to: the
// error is reported through sys.unraisablehook instead of left set. Only the
// forced unwind of a thread the interpreter ends passes through, up to the
// interpreter's frames and the thread's start: hence not noexcept.
template <auto F>
struct Trampoline;

template <class R, class... A, R (*F)(A...)>
struct Trampoline<F> {
  static R call(A... a) {
    Entry entry;
    CaughtError caught;
    try {
      return F(a...);
    } catch (...) {
      if (caught_forced_unwind()) {
        note_forced_unwind();
        throw;
      }
      caught.record();
    }
    // The handler has ended: the error is made, and reported, only now.
    caught.raise();
    if constexpr (std::is_pointer_v<R>) {
      return nullptr;
    } else if constexpr (!std::is_void_v<R>) {
      return static_cast<R>(-1);
    } else {
      PyErr_WriteUnraisable(nullptr);
    }
  }
};

template <auto F>
inline constexpr auto entry = &Trampoline<F>::call;

// Untyped forms for PyMethodDef, PyGetSetDef and PyType_Slot tables.
template <auto F>
inline PyCFunction method_entry() noexcept {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(entry<F>));
}
template <auto F>
inline void* slot_entry() noexcept {
  return reinterpret_cast<void*>(entry<F>);
}

inline constexpr int kFastcallFlags = METH_FASTCALL | METH_KEYWORDS;

}  // namespace vantrel::py
