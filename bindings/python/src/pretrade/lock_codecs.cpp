// Lock.to_json / to_msgpack / to_cbor and the static readers. The writers read the lock
// under a shared borrow; the readers build a fresh lock and wrap it only on success.
#include "pretrade/lock_codecs.hpp"

#include <new>
#include <string>

#include "pretrade/lock.hpp"
#include "toolkit/args.hpp"
#include "toolkit/classes.hpp"
#include "toolkit/convert.hpp"
#include "vantrel/core/lock_codec.hpp"

namespace vantrel::py {
namespace {

constexpr std::string_view kOutOfMemory = "out of memory";

std::string_view bytes_arg(std::string_view arg, PyObject* obj) {
  if (!PyBytes_Check(obj)) throw_arg_cannot_convert(arg, obj, "PyBytes");
  char* data = nullptr;
  Py_ssize_t size = 0;
  if (PyBytes_AsStringAndSize(obj, &data, &size) != 0) throw_pending();
  return {data, static_cast<std::size_t>(size)};
}

// A new bytes object of `size` bytes filled by `write`; nullptr (nothing raised) when the
// interpreter could not allocate it.
template <class Write>
PyObject* new_bytes(std::size_t size, Write&& write) {
  PyObject* out = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size));
  if (out == nullptr) return nullptr;
  write(reinterpret_cast<std::uint8_t*>(PyBytes_AsString(out)));
  return out;
}

[[noreturn]] void encode_failed(std::string_view prefix, std::string_view reason) {
  PyErr_Clear();
  throw_error(PyExc_ValueError, cat(prefix, reason));
}

template <bool (*Read)(std::string_view, Lock&, std::string&)>
PyObject* read_lock(std::string_view input, std::string_view prefix) {
  Lock lock;
  std::string error;
  if (!Read(input, lock, error)) throw_error(PyExc_ValueError, cat(prefix, error));
  return wrap_lock(std::move(lock)).release();
}

}  // namespace

PyObject* lock_to_json(PyObject* self, PyObject*) {
  constexpr std::string_view kFailed = "lock json encode failed: ";
  Shared<Lock> lock(self);
  const std::size_t size = lock_json_size(*lock);
  char small[256];
  std::string large;
  char* out = small;
  if (size > sizeof small) {
    bool allocated = false;
    try {
      large.resize(size);
      allocated = true;
    } catch (const std::bad_alloc&) {
      // The error is made once the handler has ended: making it allocates.
    }
    if (!allocated) encode_failed(kFailed, kOutOfMemory);
    out = large.data();
  }
  write_lock_json(*lock, out);
  PyObject* text = PyUnicode_FromStringAndSize(out, static_cast<Py_ssize_t>(size));
  if (text == nullptr) {
    if (PyErr_ExceptionMatches(PyExc_MemoryError)) encode_failed(kFailed, kOutOfMemory);
    throw_pending();
  }
  return text;
}

PyObject* lock_to_msgpack(PyObject* self, PyObject*) {
  constexpr std::string_view kFailed = "lock msgpack encode failed: ";
  Shared<Lock> lock(self);
  const std::optional<std::size_t> size = lock_msgpack_size(*lock);
  if (!size) encode_failed(kFailed, kMsgpackCountTooLarge);
  PyObject* out = new_bytes(*size, [&](std::uint8_t* p) { write_lock_msgpack(*lock, p); });
  if (out == nullptr) encode_failed(kFailed, kOutOfMemory);
  return out;
}

PyObject* lock_to_cbor(PyObject* self, PyObject*) {
  Shared<Lock> lock(self);
  PyObject* out = new_bytes(lock_cbor_size(*lock), [&](std::uint8_t* p) { write_lock_cbor(*lock, p); });
  if (out == nullptr) throw_pending();
  return out;
}

PyObject* lock_from_json(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("Lock.from_json()", req("text"));
  auto [text] = parse(spec, args, nargs, kwnames);
  return read_lock<&read_lock_json>(arg_utf8("text", text), "lock json decode failed: ");
}

PyObject* lock_from_msgpack(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("Lock.from_msgpack()", req("data"));
  auto [data] = parse(spec, args, nargs, kwnames);
  return read_lock<&read_lock_msgpack>(bytes_arg("data", data), "lock msgpack decode failed: ");
}

PyObject* lock_from_cbor(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("Lock.from_cbor()", req("data"));
  auto [data] = parse(spec, args, nargs, kwnames);
  return read_lock<&read_lock_cbor>(bytes_arg("data", data), "lock cbor decode failed: ");
}

}  // namespace vantrel::py
