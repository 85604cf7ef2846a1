#pragma once
// What the engine's Python classes share: the handles they wrap, the rule for
// leaving the interpreter lock, and the builder hook through which built-in
// policies are appended.
#include <memory>
#include <optional>
#include <type_traits>

#include "toolkit/gil.hpp"
#include "toolkit/pending.hpp"
#include "toolkit/ref.hpp"
#include "vantrel/pretrade/engine.hpp"

namespace vantrel::py {

// Around core work the interpreter lock is given up only if the work must wait
// for a contended core lock: handing it to another thread around work that
// cannot wait would cost more than the work. No_sync keeps it throughout:
// nothing is guarded there, so the interpreter lock is what keeps a second
// Python thread out of the engine's state. Construct it last, so that every
// lock the core takes is released before the interpreter lock is retaken.
class CoreWorkScope {
 public:
  explicit CoreWorkScope(EngineSync sync) {
    if (sync != EngineSync::NoSync) released_.emplace();
  }

 private:
  std::optional<AllowThreadsIfBlocked> released_;
};

// Converts to what `make` returns by calling it, so that emplace() builds an
// outcome straight from the core's result: a reservation is large, and is
// moved once, into its Python object.
template <class F>
struct BuiltBy {
  F make;
  operator std::invoke_result_t<F&>() { return make(); }  // NOLINT: implicit by design
};
template <class F>
BuiltBy(F) -> BuiltBy<F>;

struct EngineValue {
  std::shared_ptr<const EngineCore> core;
  EngineSync sync;
};

Ref wrap_engine(std::shared_ptr<const EngineCore> core, EngineSync sync);
Ref make_request(RequestClosure closure);
Ref make_reservation(CoreReservation&& reservation);
Ref make_accounts(std::shared_ptr<AccountGroupRegistry> registry, EngineSync sync);

// The results of a stage, as Python objects. Call with the interpreter lock.
Ref start_result_of(StartOutcome&& outcome);
Ref execute_result_of(MainOutcome&& outcome);

// What unraisable reports of discarded results name.
PyObject* discard_report_context();

// Raises the exception parked during core work, if any. A reservation that
// `outcome` holds is rolled back first; what its actions raise is reported
// as unraisable, never raised in place of the parked exception.
// The rollback runs after the handler: it runs Python, and a thread ended
// there must not be caught while another exception is being handled.
template <class Outcome>
[[gnu::noinline, gnu::cold]] void discard_and_raise(std::optional<Outcome>& outcome) {
  {
    ReleaseTimeScope scope(discard_report_context());
    outcome.reset();
  }
  throw ErrorAlreadySet{};
}
template <class Outcome>
void finish_or_discard(PendingErrorScope& pending, std::optional<Outcome>& outcome) {
  bool raised = false;
  try {
    pending.finish();
  } catch (const ErrorAlreadySet&) {
    raised = true;
  }
  // Apart and cold: the caller's own destruction of the outcome then stays inline.
  if (raised) [[unlikely]]
    discard_and_raise(outcome);
}

// ReadyEngineBuilder: appends `policy` to the builder's state; raises
// ValueError "engine builder is no longer available" once it was built (the
// policy is dropped). Precondition: `ready` is a ReadyEngineBuilder.
void append_policy(PyObject* ready, std::unique_ptr<Policy> policy);
// The locking mode the builder was made with (still readable after build()).
EngineSync ready_builder_sync(PyObject* ready);
// True once build() has taken the state out (adders raise "engine builder is no longer
// available" then).
bool ready_builder_spent(PyObject* ready);
// The engine's block registry while the builder still holds its state; null once spent.
std::shared_ptr<AccountBlockRegistry> ready_builder_blocks(PyObject* ready);
// A built-in policy's `policy_group_id` keyword: an integer 0..=65535. Another
// type raises TypeError "argument 'policy_group_id': ...", a value out of
// range OverflowError "out of range integral type conversion attempted".
std::uint16_t builtin_policy_group_id_arg(PyObject* obj);

}  // namespace vantrel::py
