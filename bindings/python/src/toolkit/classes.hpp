#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include "toolkit/errors.hpp"
#include "toolkit/gil.hpp"
#include "toolkit/instances.hpp"
#include "toolkit/ref.hpp"
#include "toolkit/trampoline.hpp"

namespace vantrel::py {

// The value type of a thread-bound class says so with
// `static constexpr bool kThreadBound = true;`; only its instances carry the
// creating thread.
template <class T>
concept ThreadBoundValue = requires {
  requires T::kThreadBound;
};
struct NoOwner {};

// Thread ids are reused once a thread ends, so a thread-bound object records
// this number instead: one per thread, never handed out twice in a process.
inline std::atomic<std::uint64_t> g_thread_serials{0};
inline thread_local std::uint64_t t_thread_serial __attribute__((tls_model("initial-exec"))) = 0;
inline std::uint64_t this_thread_serial() noexcept {
  if (t_thread_serial == 0) t_thread_serial = g_thread_serials.fetch_add(1, std::memory_order_relaxed) + 1;
  return t_thread_serial;
}

// Instance layout shared by every class: header, the wrapped value, the
// borrow flag (0 free, n > 0 shared borrows, -1 one exclusive borrow), and for
// thread-bound classes the creating thread. The flag is used only by the
// classes whose row says so.
template <class T>
struct Object {
  PyObject ob_base;
  T value;
  Py_ssize_t borrow_flag;
  [[no_unique_address]] std::conditional_t<ThreadBoundValue<T>, std::uint64_t, NoOwner> owner;
};

static_assert(sizeof(Object<Py_ssize_t>) == sizeof(PyObject) + 2 * sizeof(Py_ssize_t),
              "only thread-bound classes pay for the owner");

template <class T>
inline Object<T>* object_cast(PyObject* obj) noexcept {
  return reinterpret_cast<Object<T>*>(obj);
}

struct ClassAttr {
  const char* name;
  Ref (*make)();  // a new value, or throws
};

// What a class does: filled in by the class's own binding file.
struct ClassBehaviour {
  Py_ssize_t basicsize = 0;
  std::vector<PyType_Slot> slots;        // without the terminator
  std::vector<ClassAttr> class_attrs;    // in member order
  const char* unsendable_name = nullptr;  // thread-bound classes: "_vantrel::PyRequest"
};

// One row of a module's class table: the metadata every class carries.
// Rows are written with designated initialisers; a field left out keeps its default here.
struct ClassSpec {
  const char* name = nullptr;
  const char* module = nullptr;
  bool subclassable = false;
  bool borrow_flag = true;
  bool thread_bound = false;                    // bound to its creating thread
  const char* text_signature = nullptr;         // null: none
  const char* doc = "";                         // the docstring text after the signature
  const ClassBehaviour* (*behaviour)() = nullptr;  // null: not offered yet
};

// Process-wide cell of one class: the type object, its docstring and the
// class-attribute fill state. Never emptied.
struct ClassCell {
  PyObject* type = nullptr;
  std::string qualified_name;  // the type keeps pointing into it
  std::string doc;
  bool doc_built = false;
  bool attrs_stored = false;
  std::mutex computing_mutex;
  std::vector<std::thread::id> computing;
};

// Creates (once) and returns the class object, a borrowed reference; on
// failure raises RuntimeError "An error occurred while initializing class {}".
PyObject* get_or_create_class(const ClassSpec& spec, ClassCell& cell);
// As above; a failure is an internal fault after the error was printed.
PyObject* class_object_or_fault(const ClassSpec& spec, ClassCell& cell);
const std::string& class_doc(const ClassSpec& spec, ClassCell& cell);

// Constructor slot of every class without a constructor.
PyObject* no_constructor(PyTypeObject* type, PyObject* args, PyObject* kwargs);

template <ThreadBoundValue T>
inline bool on_creating_thread(PyObject* self) noexcept {
  return object_cast<T>(self)->owner == this_thread_serial();
}

// The creating thread check of thread-bound classes.
template <ThreadBoundValue T>
inline void check_thread(PyObject* self, const char* unsendable_name) {
  if (!on_creating_thread<T>(self))
    fail(cat(unsendable_name, " is unsendable, but sent to another thread"));
}
void report_foreign_drop(PyObject* self, const char* unsendable_name) noexcept;

// Memory for an instance is handed out only while make_instance asks for it:
// any other route (a replaced __new__ calling object.__new__) would produce an
// object whose value was never constructed, and is refused with TypeError.
inline thread_local bool t_allocation_permitted __attribute__((tls_model("initial-exec"))) = false;
PyObject* guarded_alloc(PyTypeObject* type, Py_ssize_t items);

// Allocates an instance of `type` holding T(args...).
template <class T, class... Args>
Ref make_instance(PyTypeObject* type, Args&&... args) {
  auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
  t_allocation_permitted = true;
  PyObject* obj = alloc(type, 0);
  t_allocation_permitted = false;
  if (obj == nullptr) throw_pending();
  Object<T>* self = object_cast<T>(obj);
  // A value whose constructor throws never existed: its memory is freed without
  // its destructor, by a cleanup (no handler: the type's reference is released).
  struct UnbuiltInstance {
    PyObject* obj;
    PyTypeObject* type;
    ~UnbuiltInstance() {
      if (obj == nullptr) return;
      reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free))(obj);
      // Releasing a type can run Python; a destructor: the unwind cannot go on.
      parking_if_ended([this] { Py_DecRef(reinterpret_cast<PyObject*>(type)); });
    }
  } unbuilt{obj, type};
  new (&self->value) T(std::forward<Args>(args)...);
  unbuilt.obj = nullptr;
  Ref owned = Ref::steal(obj);
  count_instance(type, 1);
  self->borrow_flag = 0;
  if constexpr (ThreadBoundValue<T>) self->owner = this_thread_serial();
  return owned;
}

// One freed instance's memory, kept for the next instance of a final class whose
// instances outgrow the interpreter's small-object allocator. Used under the
// interpreter lock only.
template <class T>
struct SpareInstanceMemory {
  static inline void* block = nullptr;
};

// make_instance for a class that cannot be subclassed, so `type` is the class
// itself and an instance is exactly an Object<T>: the memory comes straight
// from the interpreter's allocator (or the spare), unzeroed, since every field
// is set here.
template <class T, class... Args>
Ref make_final_instance(PyTypeObject* type, Args&&... args) {
  if constexpr (kCheckedBuild) {
    if ((PyType_GetFlags(type) & Py_TPFLAGS_BASETYPE) != 0) fail("make_final_instance on a subclassable class");
  }
  void* memory = std::exchange(SpareInstanceMemory<T>::block, nullptr);
  if (memory == nullptr) memory = PyObject_Malloc(sizeof(Object<T>));
  if (memory == nullptr) {
    PyErr_NoMemory();
    throw ErrorAlreadySet{};
  }
  Object<T>* self = static_cast<Object<T>*>(memory);
  try {
    new (&self->value) T(std::forward<Args>(args)...);
  } catch (...) {
    SpareInstanceMemory<T>::block = memory;
    throw;
  }
  PyObject* obj = PyObject_Init(reinterpret_cast<PyObject*>(self), type);  // takes a reference to the type
  count_instance(type, 1);
  self->borrow_flag = 0;
  if constexpr (ThreadBoundValue<T>) self->owner = this_thread_serial();
  return Ref::steal(obj);
}

// Frees an instance made by make_final_instance (its value already destroyed),
// keeping the memory for the next one when none is kept yet. Releasing the
// type can run Python, so this may end the thread (called by a deallocation).
template <class T>
void free_final_instance(PyObject* obj) {
  PyTypeObject* type = Py_TYPE(obj);
  count_instance(type, -1);
  if (SpareInstanceMemory<T>::block == nullptr) {
    SpareInstanceMemory<T>::block = obj;
  } else {
    PyObject_Free(obj);
  }
  Py_DecRef(reinterpret_cast<PyObject*>(type));
}

template <class T, const char* const* Unsendable = nullptr>
void dealloc_object(PyObject* obj) {
  PyTypeObject* type = Py_TYPE(obj);
  Object<T>* self = object_cast<T>(obj);
  bool foreign = false;
  if constexpr (Unsendable != nullptr) {
    foreign = !on_creating_thread<T>(obj);
    if (foreign) report_foreign_drop(obj, *Unsendable);
  }
  if (!foreign) self->value.~T();
  auto free_fn = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
  free_fn(obj);
  count_instance(type, -1);
  Py_DecRef(reinterpret_cast<PyObject*>(type));
}

template <class T, const char* const* Unsendable = nullptr>
ClassBehaviour base_behaviour() {
  static_assert((Unsendable != nullptr) == ThreadBoundValue<T>,
                "a thread-bound class names itself and its value type sets kThreadBound");
  ClassBehaviour behaviour;
  behaviour.basicsize = static_cast<Py_ssize_t>(sizeof(Object<T>));
  behaviour.slots.push_back({Py_tp_dealloc, slot_entry<&dealloc_object<T, Unsendable>>()});
  if constexpr (Unsendable != nullptr) behaviour.unsendable_name = *Unsendable;
  return behaviour;
}

// Borrow guards for classes with a borrow flag.
template <class T>
class Shared {
 public:
  explicit Shared(PyObject* obj) : self_(object_cast<T>(obj)) {
    require_lock("borrowing an object");
    if (self_->borrow_flag == -1) throw_error(PyExc_RuntimeError, "Already mutably borrowed");
    ++self_->borrow_flag;
  }
  ~Shared() { --self_->borrow_flag; }
  Shared(const Shared&) = delete;
  Shared& operator=(const Shared&) = delete;
  const T& operator*() const noexcept { return self_->value; }
  const T* operator->() const noexcept { return &self_->value; }

 private:
  Object<T>* self_;
};

template <class T>
class Exclusive {
 public:
  explicit Exclusive(PyObject* obj) : self_(object_cast<T>(obj)) {
    require_lock("borrowing an object");
    if (self_->borrow_flag != 0) throw_error(PyExc_RuntimeError, "Already borrowed");
    self_->borrow_flag = -1;
  }
  ~Exclusive() { self_->borrow_flag = 0; }
  Exclusive(const Exclusive&) = delete;
  Exclusive& operator=(const Exclusive&) = delete;
  T& operator*() const noexcept { return self_->value; }
  T* operator->() const noexcept { return &self_->value; }

 private:
  Object<T>* self_;
};

inline bool is_instance(PyObject* obj, PyObject* type) noexcept {
  return PyObject_TypeCheck(obj, reinterpret_cast<PyTypeObject*>(type)) != 0;
}

}  // namespace vantrel::py
