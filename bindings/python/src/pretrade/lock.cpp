// vantrel.pretrade.Lock: a mutable price lock. Used under the interpreter lock; every
// call takes the object's borrow flag (writes exclusively, reads shared), and the writes
// that iterate Python objects hold it throughout, so re-entrant code gets a borrow error.
#include "pretrade/lock.hpp"

#include "pretrade/lock_codecs.hpp"

#include <vector>

#include "class_behaviours.hpp"
#include "class_table.hpp"
#include "param/extract.hpp"
#include "param/values.hpp"
#include "pretrade/policy_group_id.hpp"
#include "toolkit/args.hpp"
#include "toolkit/classes.hpp"
#include "toolkit/convert.hpp"
#include "toolkit/iterate.hpp"

namespace vantrel::py {
namespace {

constexpr const char* kEntriesIterable = "entries must be an iterable of (policy_group_id, price) pairs";
constexpr const char* kEntryShape = "each entry must be a (policy_group_id, price) two-element tuple";
constexpr const char* kPricesIterable = "prices must be an iterable of Price values";
constexpr const char* kOrderingRefused = "Lock supports only == and !=";

std::uint16_t group_id_of(PyObject* obj) {
  std::uint16_t id = 0;
  if (!extract_policy_group_id(obj, id)) throw ErrorAlreadySet{};
  return id;
}

// Reads (policy_group_id, price) pairs, pushing each one before fetching the next.
void push_entries(PyObject* entries, LockAppender& appender) {
  for_each_item(entries, kEntriesIterable, [&](PyObject* pair) {
    if (!PyTuple_Check(pair) || PyTuple_Size(pair) != 2) throw_error(PyExc_TypeError, kEntryShape);
    const std::uint16_t group = group_id_of(PyTuple_GetItem(pair, 0));
    const Price price = extract_price(PyTuple_GetItem(pair, 1));
    appender.push_price(group, price.value);
  });
}

Ref group_id_object(std::uint16_t policy_group_id) {
  PyObject* obj = PyLong_FromLong(policy_group_id);
  if (obj == nullptr) throw_pending();
  return Ref::steal(obj);
}

Ref new_list(Py_ssize_t size) {
  PyObject* list = PyList_New(size);
  if (list == nullptr) throw_pending();
  return Ref::steal(list);
}

PyObject* lock_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static constexpr auto spec = params("Lock.__new__()", opt("entries"));
  auto [entries] = parse(spec, args, kwargs);
  if (entries == nullptr || entries == Py_None) return make_instance<Lock>(type).release();
  if (is_lock(entries)) return make_instance<Lock>(type, lock_copy_of(entries)).release();
  // Built aside: no Python object exists until every entry has been read.
  Lock lock;
  LockAppender appender(lock);
  push_entries(entries, appender);
  return make_instance<Lock>(type, std::move(lock)).release();
}

PyObject* lock_push(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("Lock.push()", req("policy_group_id"), req("price"));
  auto [group_arg, price_arg] = parse(spec, args, nargs, kwnames);
  Exclusive<Lock> lock(self);
  const std::uint16_t group = group_id_of(group_arg);
  const Price price = extract_price(price_arg);
  lock->push_price(group, price.value);
  Py_RETURN_NONE;
}

PyObject* lock_push_many(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("Lock.push_many()", req("policy_group_id"), req("prices"));
  auto [group_arg, prices_arg] = parse(spec, args, nargs, kwnames);
  Exclusive<Lock> lock(self);
  const std::uint16_t group = group_id_of(group_arg);
  std::vector<Decimal> prices;  // all converted before the first append
  for_each_item(prices_arg, kPricesIterable, [&](PyObject* item) { prices.push_back(extract_price(item).value); });
  lock->push_many(group, prices);
  Py_RETURN_NONE;
}

PyObject* lock_extend(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("Lock.extend()", req("entries"));
  auto [entries] = parse(spec, args, nargs, kwnames);
  Exclusive<Lock> lock(self);
  LockAppender appender(*lock);
  push_entries(entries, appender);
  Py_RETURN_NONE;
}

PyObject* lock_merge(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("Lock.merge()", req("other"));
  auto [other] = parse(spec, args, nargs, kwnames);
  if (!is_lock(other)) throw_arg_cannot_convert("other", other, "Lock");
  Exclusive<Lock> lock(self);
  Shared<Lock> source(other);  // lock.merge(lock) fails here, before anything changes
  lock->merge(*source);
  Py_RETURN_NONE;
}

PyObject* lock_prices_of(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("Lock.prices_of()", req("policy_group_id"));
  auto [group_arg] = parse(spec, args, nargs, kwnames);
  const std::uint16_t group = group_id_of(group_arg);
  Shared<Lock> lock(self);
  const LockPrices* prices = lock->prices_of(group);
  const std::size_t count = prices == nullptr ? 0 : prices->size();
  Ref list = new_list(static_cast<Py_ssize_t>(count));
  for (std::size_t i = 0; i < count; ++i)
    PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i),
                   wrap_amount<ValueKind::Price>(Price{(*prices)[i]}).release());
  return list.release();
}

PyObject* lock_entries(PyObject* self, PyObject*) {
  Shared<Lock> lock(self);
  Ref list = new_list(static_cast<Py_ssize_t>(lock->size()));
  Py_ssize_t i = 0;
  lock->for_each_entry([&](std::uint16_t group, Decimal price) {
    Ref group_obj = group_id_object(group);
    Ref price_obj = wrap_amount<ValueKind::Price>(Price{price});
    PyObject* pair = PyTuple_Pack(2, group_obj.get(), price_obj.get());
    if (pair == nullptr) throw_pending();
    PyList_SetItem(list.get(), i++, pair);
  });
  return list.release();
}

Py_ssize_t lock_len(PyObject* self) {
  Shared<Lock> lock(self);
  return static_cast<Py_ssize_t>(lock->size());
}

PyObject* lock_richcompare(PyObject* self, PyObject* other, int op) {
  if (!is_lock(other)) Py_RETURN_NOTIMPLEMENTED;
  if (op != Py_EQ && op != Py_NE) throw_error(PyExc_TypeError, kOrderingRefused);
  Shared<Lock> a(self);
  Shared<Lock> b(other);
  const bool equal = *a == *b;
  return new_bool(op == Py_EQ ? equal : !equal).release();
}

PyObject* lock_repr(PyObject* self) {
  Shared<Lock> lock(self);
  return make_str(format_lock(*lock)).release();
}

}  // namespace

Ref wrap_lock(Lock lock) { return make_instance<Lock>(class_type(ClassId::Lock), std::move(lock)); }
bool is_lock(PyObject* obj) { return is_instance(obj, ClassId::Lock); }
Lock lock_copy_of(PyObject* obj) {
  Shared<Lock> lock(obj);
  return *lock;
}

const ClassBehaviour* lock_behaviour() {
  static PyMethodDef methods[] = {
      {"push", method_entry<&lock_push>(), kFastcallFlags,
       "push($self, policy_group_id, price)\n--\n\nAppend one price to a policy group."},
      {"push_many", method_entry<&lock_push_many>(), kFastcallFlags,
       "push_many($self, policy_group_id, prices)\n--\n\n"
       "Append several prices to a policy group; all or nothing."},
      {"extend", method_entry<&lock_extend>(), kFastcallFlags,
       "extend($self, entries)\n--\n\nAppend (policy_group_id, price) pairs in order."},
      {"merge", method_entry<&lock_merge>(), kFastcallFlags,
       "merge($self, other)\n--\n\nAppend every price of another lock."},
      {"prices_of", method_entry<&lock_prices_of>(), kFastcallFlags,
       "prices_of($self, policy_group_id)\n--\n\nThe prices of one policy group, in order."},
      {"entries", method_entry<&lock_entries>(), METH_NOARGS,
       "entries($self)\n--\n\nEvery price as a (policy_group_id, price) pair, default group first."},
      {"to_json", method_entry<&lock_to_json>(), METH_NOARGS, "to_json($self)\n--\n\nThe lock as JSON text."},
      {"to_msgpack", method_entry<&lock_to_msgpack>(), METH_NOARGS,
       "to_msgpack($self)\n--\n\nThe lock as MessagePack bytes."},
      {"to_cbor", method_entry<&lock_to_cbor>(), METH_NOARGS, "to_cbor($self)\n--\n\nThe lock as CBOR bytes."},
      {"from_json", method_entry<&lock_from_json>(), kFastcallFlags | METH_STATIC,
       "from_json(text)\n--\n\nRead a lock from its JSON text."},
      {"from_msgpack", method_entry<&lock_from_msgpack>(), kFastcallFlags | METH_STATIC,
       "from_msgpack(data)\n--\n\nRead a lock from its MessagePack bytes."},
      {"from_cbor", method_entry<&lock_from_cbor>(), kFastcallFlags | METH_STATIC,
       "from_cbor(data)\n--\n\nRead a lock from its CBOR bytes."},
      {nullptr, nullptr, 0, nullptr},
  };
  static const ClassBehaviour behaviour = [] {
    ClassBehaviour b = base_behaviour<Lock>();
    b.slots.push_back({Py_tp_new, slot_entry<&lock_new>()});
    b.slots.push_back({Py_tp_methods, methods});
    b.slots.push_back({Py_sq_length, slot_entry<&lock_len>()});
    b.slots.push_back({Py_tp_richcompare, slot_entry<&lock_richcompare>()});
    b.slots.push_back({Py_tp_repr, slot_entry<&lock_repr>()});
    return b;
  }();
  return &behaviour;
}

}  // namespace vantrel::py
