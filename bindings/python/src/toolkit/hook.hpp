#pragma once
// A Python callback run by core work: under the interpreter lock, and never
// throwing into the core, which may have changes staged.
#include <new>

#include "toolkit/errors.hpp"
#include "toolkit/gil.hpp"
#include "toolkit/pending.hpp"

namespace vantrel::py {

// Runs one hook's `body` under the interpreter lock. Whatever goes wrong, a
// refused lock included, is parked for the entry point (under the lock, which
// the inner handler still holds) and the hook gives `failed()` instead: a hook
// never throws into a stage that has changes staged. Only the forced unwind of
// a thread the interpreter ends goes through, and that thread never returns.
// The handler only records what it caught; the error is made and parked
// after it, since both may run Python.
template <class Body, class Failed>
auto run_hook(Body&& body, Failed&& failed) -> decltype(failed()) {
  {
    GilToken lock(std::nothrow);
    if (const char* refusal = lock.refusal()) {
      park_lock_refusal(refusal);
    } else {
      CaughtError caught;
      try {
        return body();
      } catch (...) {
        if (caught_forced_unwind()) {
          note_forced_unwind();
          throw;
        }
        caught.record();
      }
      caught.raise();
      park_raised();
    }
  }
  return failed();
}

}  // namespace vantrel::py
