#include "toolkit/classes.hpp"

#include <algorithm>

namespace vantrel::py {
namespace {

// Replaces the pending error by RuntimeError(message) whose __cause__ it is.
[[noreturn]] void chain_runtime_error(const std::string& message) {
  set_pending_or_system_error();
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  if (traceback != nullptr && value != nullptr) PyException_SetTraceback(value, traceback);
  Ref cause = Ref::steal(value);
  Py_DecRef(type);
  Py_XDECREF(traceback);
  Ref error = Ref::steal(PyObject_CallFunction(PyExc_RuntimeError, "s#", message.data(),
                                               static_cast<Py_ssize_t>(message.size())));
  if (!error) throw ErrorAlreadySet{};
  PyException_SetCause(error.get(), cause.release());  // steals the cause
  PyErr_SetObject(PyExc_RuntimeError, error.get());
  throw ErrorAlreadySet{};
}

// Runs `body`; any Python or C++ failure becomes the pending Python error and
// is re-raised as ErrorAlreadySet (so chain_runtime_error can wrap it).
template <class Body>
void as_python_error(Body&& body) {
  CaughtError caught;
  try {
    body();
    return;
  } catch (...) {
    if (caught_forced_unwind()) {
      note_forced_unwind();
      throw;
    }
    caught.record();
  }
  caught.raise();
  throw ErrorAlreadySet{};
}

PyObject* create_type(const ClassSpec& spec, const ClassBehaviour& behaviour, ClassCell& cell) {
  const std::string& doc = class_doc(spec, cell);
  std::vector<PyType_Slot> slots = behaviour.slots;
  bool has_new = std::any_of(slots.begin(), slots.end(), [](const PyType_Slot& s) { return s.slot == Py_tp_new; });
  if (!has_new) slots.push_back({Py_tp_new, slot_entry<&no_constructor>()});
  slots.push_back({Py_tp_alloc, slot_entry<&guarded_alloc>()});
  slots.push_back({Py_tp_doc, const_cast<char*>(doc.c_str())});
  slots.push_back({0, nullptr});
  if (cell.qualified_name.empty()) cell.qualified_name = cat(spec.module, ".", spec.name);
  PyType_Spec type_spec{};
  type_spec.name = cell.qualified_name.c_str();
  type_spec.basicsize = static_cast<int>(behaviour.basicsize);
  type_spec.itemsize = 0;
  type_spec.flags = Py_TPFLAGS_DEFAULT | (spec.subclassable ? Py_TPFLAGS_BASETYPE : 0);
  type_spec.slots = slots.data();
  PyObject* type = PyType_FromSpec(&type_spec);
  if (type == nullptr) throw_pending();
  return type;
}

void store_class_attrs(const ClassSpec& spec, const ClassBehaviour& behaviour, ClassCell& cell) {
  const std::thread::id me = std::this_thread::get_id();
  {
    std::lock_guard<std::mutex> guard(cell.computing_mutex);
    // Computing an attribute needed the class itself: hand it out unfinished.
    if (std::find(cell.computing.begin(), cell.computing.end(), me) != cell.computing.end()) return;
    cell.computing.push_back(me);
  }
  struct Leave {
    ClassCell& cell;
    std::thread::id me;
    ~Leave() {
      std::lock_guard<std::mutex> guard(cell.computing_mutex);
      cell.computing.erase(std::remove(cell.computing.begin(), cell.computing.end(), me), cell.computing.end());
    }
  } leave{cell, me};

  std::vector<std::pair<const char*, Ref>> values;
  for (const ClassAttr& attr : behaviour.class_attrs) {
    Ref value;
    bool failed = false;
    try {
      as_python_error([&] { value = attr.make(); });
    } catch (const ErrorAlreadySet&) {
      failed = true;  // chained after the handler: that runs Python
    }
    if (failed) chain_runtime_error(cat("An error occurred while initializing `", spec.name, ".", attr.name, "`"));
    values.emplace_back(attr.name, std::move(value));
  }
  if (cell.attrs_stored) return;  // another thread finished first; ours are discarded
  for (auto& [name, value] : values) {
    if (PyObject_SetAttrString(cell.type, name, value.get()) != 0)
      chain_runtime_error(cat("An error occurred while initializing `", spec.name, ".__dict__`"));
  }
  cell.attrs_stored = true;
}

}  // namespace

const std::string& class_doc(const ClassSpec& spec, ClassCell& cell) {
  if (!cell.doc_built) {
    cell.doc = spec.text_signature != nullptr ? cat(spec.name, spec.text_signature, "\n--\n\n", spec.doc)
                                              : std::string(spec.doc);
    cell.doc_built = true;
  }
  return cell.doc;
}

PyObject* get_or_create_class(const ClassSpec& spec, ClassCell& cell) {
  require_lock("looking up a class");
  if (cell.type != nullptr && cell.attrs_stored) return cell.type;
  CaughtError caught;
  try {
    const ClassBehaviour* behaviour = spec.behaviour != nullptr ? spec.behaviour() : nullptr;
    if (behaviour == nullptr) fail(cat("class ", spec.name, " is not available"));
    if ((behaviour->unsendable_name != nullptr) != spec.thread_bound)
      fail(cat("class ", spec.name, ": thread binding disagrees with its table row"));
    if (cell.type == nullptr) {
      PyObject* type = nullptr;
      as_python_error([&] { type = create_type(spec, *behaviour, cell); });
      if (cell.type == nullptr) {
        cell.type = type;
      } else {
        Py_DecRef(type);
      }
    }
    if (!cell.attrs_stored) store_class_attrs(spec, *behaviour, cell);
    return cell.type;
  } catch (...) {
    if (caught_forced_unwind()) {
      note_forced_unwind();
      throw;
    }
    caught.record();
  }
  caught.raise();
  chain_runtime_error(cat("An error occurred while initializing class ", spec.name));
}

PyObject* class_object_or_fault(const ClassSpec& spec, ClassCell& cell) {
  if (cell.type != nullptr && cell.attrs_stored) return cell.type;
  try {
    return get_or_create_class(spec, cell);
  } catch (const ErrorAlreadySet&) {
    // Printed after the handler: printing runs Python (sys.stderr, hooks).
  }
  PyErr_PrintEx(0);
  fail(cat("failed to create type object for ", spec.name));
}

PyObject* no_constructor(PyTypeObject* type, PyObject*, PyObject*) {
  Ref name = Ref::steal(PyType_GetName(type));
  std::string text;
  if (!name || !str_of(name.get(), text)) {
    PyErr_Clear();
    text = "<unknown>";
  }
  throw_error(PyExc_TypeError, cat("No constructor defined for ", text));
}

PyObject* guarded_alloc(PyTypeObject* type, Py_ssize_t items) {
  if (!std::exchange(t_allocation_permitted, false)) {
    Ref name = Ref::steal(PyType_GetQualName(type));
    std::string text;
    if (!name || !str_of(name.get(), text)) {
      PyErr_Clear();
      text = "<unknown>";
    }
    throw_error(PyExc_TypeError, cat("cannot create '", text, "' instances without its constructor"));
  }
  PyObject* obj = PyType_GenericAlloc(type, items);
  if (obj == nullptr) throw_pending();
  return obj;
}

void report_foreign_drop(PyObject* self, const char* unsendable_name) noexcept {
  // A deallocation: the unwind cannot go on from here. Making the error, the
  // report (it runs the hook) and putting back the error in flight (it may
  // release another) each can run Python, so all happen in the parking frame.
  // The text is made by the interpreter: no C++ allocation may throw there.
  parking_if_ended([self, unsendable_name] {
    // Keep any error already in flight; the report must not replace it.
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_Format(PyExc_RuntimeError, "%s is unsendable, but is being dropped on another thread", unsendable_name);
    // Name the type, not the instance: the instance is being freed and a hook
    // that keeps the report must not keep a dangling object.
    PyErr_WriteUnraisable(reinterpret_cast<PyObject*>(Py_TYPE(self)));
    PyErr_Restore(type, value, traceback);
  });
}

}  // namespace vantrel::py
