#pragma once
// The Python side of rejects and account blocks, and the readers that turn
// Python objects into account blocks.
#include <cstdint>
#include <string_view>
#include <span>
#include <vector>

#include "toolkit/classes.hpp"
#include "toolkit/convert.hpp"
#include "toolkit/ref.hpp"
#include "toolkit/trampoline.hpp"
#include "vantrel/core/account_block.hpp"
#include "vantrel/core/reject.hpp"

namespace vantrel::py {

// The code named exactly `name`, else ValueError "unsupported reject code {}".
RejectCode reject_code_or_raise(std::string_view name);

// A new vantrel.pretrade.Reject holding a copy of `reject`.
Ref wrap_reject(const Reject& reject);
// A new list of new Reject objects, in order.
Ref wrap_rejects(std::span<const Reject> rejects);

Ref wrap_account_block(const AccountBlock& block);
bool is_account_block(PyObject* obj);
const AccountBlock& account_block_of(PyObject* obj);  // precondition: is_account_block(obj)

// An AccountBlock object, or any object read by its attributes code, policy,
// reason, details (each a str, else ValueError "account_block.{} must be a
// string") and an optional user_data (else "account_block.user_data must be an
// integer token"); the code name is parsed last. A failed lookup raises its own error.
AccountBlock extract_account_block(PyObject* obj);
// Every item of an iterable through extract_account_block; the first error
// stops the reading and nothing read is kept.
std::vector<AccountBlock> extract_account_blocks(PyObject* iterable);

// The read-only fields a reject and an account block share, as one getter set
// over either record; `Reject` adds `scope` in front of the rest.
template <class Record>
struct BlockFieldGetters {
  static const Record& of(PyObject* self) { return object_cast<Record>(self)->value; }
  static PyObject* code(PyObject* self, void*) { return make_str(reject_code_name(of(self).code)).release(); }
  static PyObject* policy(PyObject* self, void*) { return make_str(of(self).policy).release(); }
  static PyObject* reason(PyObject* self, void*) { return make_str(of(self).reason).release(); }
  static PyObject* details(PyObject* self, void*) { return make_str(of(self).details).release(); }
  static PyObject* user_data(PyObject* self, void*) {
    PyObject* value = PyLong_FromUnsignedLongLong(of(self).user_data);
    if (value == nullptr) throw_pending();
    return value;
  }
  // The class's getter table: these five, then `extra` if given, then the end row.
  static PyGetSetDef* table(PyGetSetDef extra = {}) {
    static PyGetSetDef rows[] = {
        {"code", entry<&code>, nullptr, nullptr, nullptr},
        {"policy", entry<&policy>, nullptr, nullptr, nullptr},
        {"reason", entry<&reason>, nullptr, nullptr, nullptr},
        {"details", entry<&details>, nullptr, nullptr, nullptr},
        {"user_data", entry<&user_data>, nullptr, nullptr, nullptr},
        extra,
        {nullptr, nullptr, nullptr, nullptr, nullptr},
    };
    return rows;
  }
};

}  // namespace vantrel::py
