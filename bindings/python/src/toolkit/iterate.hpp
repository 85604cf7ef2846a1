#pragma once
// Reading a Python iterable item by item. Each item is handed on before the
// next is fetched, so a converter's error stops the reading at that item.
#include <vector>

#include "toolkit/errors.hpp"
#include "toolkit/ref.hpp"

namespace vantrel::py {

// Fetching an iterator or an item runs the object's own code (a generator, a
// hook's result), which may give the interpreter lock up and be ended there:
// noted before the references held here are released, as a hook's call is.
inline Ref iterator_of(PyObject* iterable) {
  return Ref::steal(noting_thread_exit([iterable] { return PyObject_GetIter(iterable); }));
}
inline Ref next_item(const Ref& iterator) {
  return Ref::steal(noting_thread_exit([&iterator] { return PyIter_Next(iterator.get()); }));
}

// Calls `f` with every item of the iterator (borrowed for the call); an error of
// the iteration raises as it stands.
template <class F>
void drain_iterator(const Ref& iterator, F&& f) {
  while (Ref item = next_item(iterator)) f(item.get());
  if (PyErr_Occurred() != nullptr) throw ErrorAlreadySet{};
}

// Calls `f` with every item of `iterable`. Not an iterable: the interpreter's TypeError.
template <class F>
void for_each_item(PyObject* iterable, F&& f) {
  Ref iterator = iterator_of(iterable);
  if (!iterator) throw_pending();
  drain_iterator(iterator, f);
}

// As above, but an object that is not iterable raises TypeError `refusal`.
template <class F>
void for_each_item(PyObject* iterable, const char* refusal, F&& f) {
  Ref iterator = iterator_of(iterable);
  if (!iterator) {
    discard_conversion_error();
    throw_error(PyExc_TypeError, refusal);
  }
  drain_iterator(iterator, f);
}

// Every item through `convert`, in order; the first error raises and nothing is kept.
template <class Convert>
auto collect_items(PyObject* iterable, Convert&& convert) {
  std::vector<decltype(convert(iterable))> items;
  for_each_item(iterable, [&](PyObject* item) { items.push_back(convert(item)); });
  return items;
}

}  // namespace vantrel::py
