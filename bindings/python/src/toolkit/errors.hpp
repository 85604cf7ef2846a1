#pragma once
#include <exception>
#include <stdexcept>
#include <string>
#include <string_view>

#include "toolkit/python.hpp"
#include "toolkit/text.hpp"

namespace vantrel::py {

// Thrown once a Python exception is set; the trampoline returns the failure value.
struct ErrorAlreadySet {};

// A broken internal invariant. Reaches Python as an exception derived from
// BaseException (not Exception), so ordinary handlers do not swallow it.
class Fault : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

[[noreturn]] void fail(const std::string& text);
// For the few places that cannot unwind (the entry counter).
[[noreturn]] void fault_abort(const char* text) noexcept;
PyObject* fault_type();

[[noreturn]] void throw_error(PyObject* type, std::string_view message);
// Raises whatever the interpreter reported, or the SystemError it uses when a
// call failed without setting anything.
[[noreturn]] void throw_pending();
// Makes an error (a SystemError) when none is set: that can run Python.
void set_pending_or_system_error();
inline constexpr const char* kNoExceptionSet = "attempted to fetch exception but none was set";

// Drops the pending error when it is an ordinary Exception, so the caller may
// try its next rule; anything else (KeyboardInterrupt, SystemExit, internal
// faults) is not ours to swallow and is raised again.
void discard_conversion_error();

// One rule for every handler in the binding layer: a handler only records what
// it caught, and every Python step (making the error, str() of one, releasing
// one, a print, an unraisable report, a chained error) runs once it has ended.
// Python run inside a handler may call the module again, and a thread the
// interpreter ends there unwinds into an exception still being handled: the
// runtime then ends the process. Even making an error allocates, and an
// allocation may collect garbage and so run finalizers.
//
// The C++ exception a handler caught, kept until the Python error is made:
//   CaughtError caught;
//   try { ... } catch (...) {
//     if (caught_forced_unwind()) { note_forced_unwind(); throw; }
//     caught.record();
//   }
//   if (caught) caught.raise();   // the handler has ended
class CaughtError {
 public:
  // Call inside a handler, never for the forced unwind. Runs no Python.
  void record() noexcept;
  explicit operator bool() const noexcept { return kind_ != Kind::none; }
  // Makes what was recorded the interpreter's error: a Python error already
  // set stays, a C++ one becomes MemoryError or the internal fault. Making an
  // error allocates, and an allocation may collect garbage, which runs
  // Python: a thread the interpreter ends there unwinds out of this call,
  // noted first, so callers let it through (or park it) as any call into the
  // interpreter.
  void raise() const;

 private:
  enum class Kind : unsigned char { none, already_set, no_memory, fault };
  Kind kind_ = Kind::none;
  const char* text_ = nullptr;  // a fault's text, owned by `held_`
  std::exception_ptr held_;
};

// The __name__ / __qualname__ of an object's type; "<unknown>" if it cannot be read.
std::string type_name(PyObject* obj);
std::string type_qualname(PyObject* obj);
// str(obj) as UTF-8, or nullopt-like empty with ok=false.
bool str_of(PyObject* obj, std::string& out);

// "'{}' object cannot be converted to '{}'"
std::string cannot_convert_text(PyObject* obj, std::string_view target);
[[noreturn]] void throw_cannot_convert(PyObject* obj, std::string_view target);
// The same text wrapped as "argument '{}': {}".
[[noreturn]] void throw_arg_cannot_convert(std::string_view arg, PyObject* obj, std::string_view target);

// Takes the pending error out and returns str() of its value ("<exception str()
// failed>" if that fails too); no error is left set.
std::string take_pending_message();

// If the pending error is a TypeError, replaces it by TypeError "argument '{}': {}".
// Other errors pass unchanged. Always throws ErrorAlreadySet.
[[noreturn]] void rethrow_with_arg_name(std::string_view arg);

// Runs a conversion of one named argument; a TypeError it raises is re-raised
// with the argument's name in front.
template <class Convert>
auto convert_arg(std::string_view arg, Convert&& convert) -> decltype(convert()) {
  try {
    return convert();
  } catch (const ErrorAlreadySet&) {
    // Naming the argument reads str() of the error and releases it: user code,
    // run once the handler has ended.
  }
  rethrow_with_arg_name(arg);
}

}  // namespace vantrel::py
