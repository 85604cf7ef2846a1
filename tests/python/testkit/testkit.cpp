// A test-only extension that drives the binding toolkit through classes and
// functions of its own, so its rules are checked without the engine.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "toolkit/args.hpp"
#include "toolkit/classes.hpp"
#include "toolkit/convert.hpp"
#include "toolkit/hook.hpp"
#include "toolkit/iterate.hpp"
#include "toolkit/pending.hpp"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

namespace vantrel::py {
namespace {

Ref tuple_of(const PyObject* const* items, std::size_t n) {
  Ref tuple = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(n)));
  if (!tuple) throw_pending();
  for (std::size_t i = 0; i < n; ++i) {
    PyObject* item = items[i] != nullptr ? const_cast<PyObject*>(items[i]) : Py_None;
    Py_IncRef(item);
    PyTuple_SetItem(tuple.get(), static_cast<Py_ssize_t>(i), item);
  }
  return tuple;
}

// probe(a, b=None, *, c, d=None): returns (a, b, c, d) as received.
PyObject* probe(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("probe()", req("a"), opt("b"), kw("c"), kw_opt("d"));
  auto values = parse(spec, args, nargs, kwnames);
  return tuple_of(values.data(), values.size()).release();
}

// text(value): the str argument, or "argument 'value': ..." on a wrong type.
PyObject* text(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("text()", req("value"));
  auto [value] = parse(spec, args, nargs, kwnames);
  return make_str(arg_utf8("value", value)).release();
}

PyObject* fault(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("fault()", req("kind"));
  auto [kind_obj] = parse(spec, args, nargs, kwnames);
  std::string_view kind = arg_utf8("kind", kind_obj);
  if (kind == "fault") fail("invariant broken: test fault");
  if (kind == "bad_alloc") throw std::bad_alloc();
  if (kind == "std") throw std::runtime_error("plain C++ error");
  if (kind == "silent") throw ErrorAlreadySet{};  // failure reported without an exception
  throw 42;
}

// release_without_lock(obj, count=1): drops `count` new references on this
// thread while the lock is given up; returns the queue length seen there,
// before the lock is retaken.
PyObject* release_without_lock(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("release_without_lock()", req("obj"), opt("count"));
  auto [obj, count_obj] = parse(spec, args, nargs, kwnames);
  const Py_ssize_t count = count_obj != nullptr ? PyLong_AsSsize_t(count_obj) : 1;
  if (count < 0) throw_pending();
  std::vector<Ref> extra;
  for (Py_ssize_t i = 0; i < count; ++i) extra.push_back(Ref::borrow(obj));
  std::size_t seen = 0;
  {
    AllowThreads unlocked;
    extra.clear();
    seen = queued_release_count();
  }
  return PyLong_FromSize_t(seen);
}

// release_on_foreign_thread(obj, threads=1, count=1): threads that never hold
// the lock each drop `count` references while this thread keeps it; returns
// the queue length after they ended (nothing flushed it meanwhile).
PyObject* release_on_foreign_thread(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec =
      params("release_on_foreign_thread()", req("obj"), opt("threads"), opt("count"), opt("unlocked"));
  auto [obj, threads_obj, count_obj, unlocked_obj] = parse(spec, args, nargs, kwnames);
  const long threads = threads_obj != nullptr ? PyLong_AsLong(threads_obj) : 1;
  const long count = count_obj != nullptr ? PyLong_AsLong(count_obj) : 1;
  if (threads < 0 || count < 0) throw_pending();
  const bool unlocked = unlocked_obj != nullptr && PyObject_IsTrue(unlocked_obj) == 1;
  std::vector<std::vector<Ref>> held(static_cast<std::size_t>(threads));
  for (auto& refs : held)
    for (long i = 0; i < count; ++i) refs.push_back(Ref::borrow(obj));
  auto run = [&] {
    std::vector<std::thread> workers;
    for (auto& refs : held)
      workers.emplace_back([mine = std::move(refs)]() mutable {
        while (!mine.empty()) mine.pop_back();
      });
    for (std::thread& worker : workers) worker.join();
  };
  if (unlocked) {
    AllowThreads released;
    run();
  } else {
    run();
  }
  return PyLong_FromSize_t(queued_release_count());
}

// under_core_lock(actions, unlocked=False): an entry point whose core work
// runs the actions while holding a core lock, then drops `release` there.
PyObject* under_core_lock(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("under_core_lock()", req("actions"), opt("unlocked"), opt("release"));
  auto [actions, unlocked_obj, release] = parse(spec, args, nargs, kwnames);
  const bool unlocked = unlocked_obj != nullptr && PyObject_IsTrue(unlocked_obj) == 1;
  Ref list = Ref::steal(PySequence_List(actions));
  if (!list) throw_pending();
  std::vector<Ref> callables;
  for (Py_ssize_t i = 0; i < PyList_Size(list.get()); ++i)
    callables.push_back(Ref::borrow(PyList_GetItem(list.get(), i)));
  Ref dropped = Ref::borrow(release);
  static RwLock core_lock(SyncMode::Full);
  PendingErrorScope scope;
  std::size_t queued_under_lock = 0;
  auto work = [&] {
    SharedGuard guard(core_lock);
    for (Ref& callable : callables) py_call_action(std::move(callable));
    dropped = Ref();
    queued_under_lock = queued_release_count();
  };
  if (unlocked) {
    AllowThreads released;
    work();
  } else {
    work();
  }
  scope.finish();
  return PyLong_FromSize_t(queued_under_lock);
}


// The entry-point protocol around actions run like staged mutations:
// run_actions(actions, unlocked=False, protocol=True).
PyObject* run_actions(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("run_actions()", req("actions"), opt("unlocked"), opt("protocol"));
  auto [actions, unlocked_obj, protocol_obj] = parse(spec, args, nargs, kwnames);
  const bool unlocked = unlocked_obj != nullptr && PyObject_IsTrue(unlocked_obj) == 1;
  const bool protocol = protocol_obj == nullptr || PyObject_IsTrue(protocol_obj) == 1;
  Ref list = Ref::steal(PySequence_List(actions));
  if (!list) throw_pending();
  std::vector<Ref> callables;
  for (Py_ssize_t i = 0; i < PyList_Size(list.get()); ++i) callables.push_back(Ref::borrow(PyList_GetItem(list.get(), i)));
  list = Ref();
  std::optional<PendingErrorScope> scope;
  if (protocol) scope.emplace();
  if (unlocked) {
    AllowThreads released;
    for (Ref& callable : callables) py_call_action(std::move(callable));
  } else {
    for (Ref& callable : callables) py_call_action(std::move(callable));
  }
  if (scope) scope->finish();
  Py_RETURN_NONE;
}

// release_time(actions, context=None, in_flight=None): runs the actions the way
// an object's release runs its rollback. `in_flight`, an exception instance,
// stands for an error already set when the release began; the one set
// afterwards is returned (None when nothing is set).
PyObject* release_time(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("release_time()", req("actions"), opt("context"), opt("in_flight"));
  auto [actions, context, in_flight] = parse(spec, args, nargs, kwnames);
  Ref list = Ref::steal(PySequence_List(actions));
  if (!list) throw_pending();
  if (in_flight != nullptr && in_flight != Py_None)
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(in_flight)), in_flight);
  {
    ReleaseTimeScope scope(context != nullptr ? context : Py_None);
    for (Py_ssize_t i = 0; i < PyList_Size(list.get()); ++i)
      py_call_action(Ref::borrow(PyList_GetItem(list.get(), i)));
  }
  if (PyErr_Occurred() == nullptr) Py_RETURN_NONE;
  PyErrState error = PyErrState::fetch();
  PyObject *type = error.type.release(), *value = error.value.release(), *traceback = error.traceback.release();
  PyErr_NormalizeException(&type, &value, &traceback);
  Py_XDECREF(type);
  Py_XDECREF(traceback);
  return value;
}

// Prints what a GilToken reports once the interpreter has finished: the
// interpreter is gone, so the token must refuse rather than take a lock.
void report_token_after_exit() {
  GilToken token(std::nothrow);
  std::printf("%s\n", token.refusal() != nullptr ? token.refusal() : "taken");
  std::fflush(stdout);
}

// token_after_exit(): takes a token once while the interpreter runs, then has
// report_token_after_exit run after it has finished.
PyObject* token_after_exit(PyObject*, PyObject* const*, Py_ssize_t, PyObject*) {
  {
    AllowThreads released;
    GilToken token;
  }
  if (Py_AtExit(&report_token_after_exit) != 0) throw_error(PyExc_RuntimeError, "no room for an exit function");
  Py_RETURN_NONE;
}

// A function without a failure value, as the interpreter calls a deallocation.
void failing_void() { throw_error(PyExc_RuntimeError, "void slot failed"); }

PyObject* call_failing_void(PyObject*, PyObject* const*, Py_ssize_t, PyObject*) {
  entry<&failing_void>();
  Py_RETURN_NONE;
}

PyObject* protocol_depth(PyObject*, PyObject* const*, Py_ssize_t, PyObject*) {
  return PyLong_FromLong(pending_protocol_depth());
}

PyObject* user_data_attr(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("user_data_attr()", req("obj"));
  auto [obj] = parse(spec, args, nargs, kwnames);
  return new_bool(has_user_data_attr(obj)).release();
}

PyObject* call_method_2(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("call_method_2()", req("obj"), req("name"), req("a"), req("b"));
  auto [obj, name, a, b] = parse(spec, args, nargs, kwnames);
  std::string method(arg_utf8("name", name));
  return py_call_method_2(obj, method.c_str(), Ref::borrow(a), Ref::borrow(b)).release();
}

PyObject* queued_releases(PyObject*, PyObject* const*, Py_ssize_t, PyObject*) {
  return PyLong_FromSize_t(queued_release_count());
}

PyObject* lock_depth_now(PyObject*, PyObject* const*, Py_ssize_t, PyObject*) {
  return PyLong_FromSsize_t(lock_depth());
}

// True when this module's stack objects carry redzones the sanitizer checks
// (the checked build), false in any other build.
PyObject* stack_redzones(PyObject*, PyObject* const*, Py_ssize_t, PyObject*) {
#if defined(__SANITIZE_ADDRESS__)
  char buffer[24] = {};
  return new_bool(__asan_address_is_poisoned(buffer + sizeof buffer) != 0).release();
#else
  Py_RETURN_FALSE;
#endif
}

// --- Cell: a class with a borrow flag ---------------------------------------
struct CellValue {
  Ref content;
};

PyObject* cell_new(PyTypeObject* type, PyObject* args, PyObject* kwargs);
ClassCell g_cell_cell, g_bound_cell, g_noctor_cell, g_broken_cell;
const ClassBehaviour* cell_behaviour();
const ClassBehaviour* bound_behaviour();
const ClassBehaviour* noctor_behaviour();
const ClassBehaviour* broken_behaviour();

constexpr const char* kTestkit = "vantrel_testkit";
const ClassSpec kCellSpec{.name = "Cell", .module = kTestkit, .subclassable = true, .text_signature = "(content=None)",
                          .behaviour = &cell_behaviour};
const ClassSpec kBoundSpec{.name = "Bound", .module = kTestkit, .thread_bound = true, .text_signature = "()",
                           .behaviour = &bound_behaviour};
const ClassSpec kNoCtorSpec{.name = "NoCtor", .module = kTestkit, .borrow_flag = false, .doc = "No constructor here.",
                            .behaviour = &noctor_behaviour};
const ClassSpec kBrokenSpec{.name = "Broken", .module = kTestkit, .borrow_flag = false, .behaviour = &broken_behaviour};

PyObject* cell_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static constexpr auto spec = params("Cell.__new__()", opt("content"));
  auto [content] = parse(spec, args, kwargs);
  return make_instance<CellValue>(type, CellValue{Ref::borrow(content != nullptr ? content : Py_None)}).release();
}

PyObject* cell_get(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("Cell.get()");
  parse(spec, args, nargs, kwnames);
  Shared<CellValue> value(self);
  return value->content.new_ref();
}

PyObject* cell_set(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("Cell.set()", req("content"));
  auto [content] = parse(spec, args, nargs, kwnames);
  Exclusive<CellValue> value(self);
  value->content = Ref::borrow(content);
  Py_RETURN_NONE;
}

// Calls `callback(self)` while holding a shared or exclusive borrow.
PyObject* cell_while_borrowed(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("Cell.while_borrowed()", req("callback"), opt("exclusive"));
  auto [callback, exclusive] = parse(spec, args, nargs, kwnames);
  auto call = [&] {
    Ref result = Ref::steal(PyObject_CallFunctionObjArgs(callback, self, nullptr));
    if (!result) throw_pending();
    return result.release();
  };
  if (exclusive != nullptr && PyObject_IsTrue(exclusive) == 1) {
    Exclusive<CellValue> hold(self);
    return call();
  }
  Shared<CellValue> hold(self);
  return call();
}

PyMethodDef kCellMethods[] = {
    {"get", method_entry<&cell_get>(), kFastcallFlags, "get($self)\n--\n\n"},
    {"set", method_entry<&cell_set>(), kFastcallFlags, "set($self, content)\n--\n\n"},
    {"while_borrowed", method_entry<&cell_while_borrowed>(), kFastcallFlags,
     "while_borrowed($self, callback, exclusive=False)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

const ClassBehaviour* cell_behaviour() {
  static const ClassBehaviour behaviour = [] {
    ClassBehaviour b = base_behaviour<CellValue>();
    b.slots.push_back({Py_tp_new, slot_entry<&cell_new>()});
    b.slots.push_back({Py_tp_methods, kCellMethods});
    return b;
  }();
  return &behaviour;
}

// --- Bound: a thread-bound class --------------------------------------------
struct BoundValue {
  static constexpr bool kThreadBound = true;
  ~BoundValue() { ++destroyed; }
  static inline long destroyed = 0;
};
const char* const kBoundName = "_vantrel::PyBound";

PyObject* bound_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static constexpr auto spec = params("Bound.__new__()");
  parse(spec, args, kwargs);
  return make_instance<BoundValue>(type).release();
}

PyObject* bound_ping(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("Bound.ping()");
  parse(spec, args, nargs, kwnames);
  check_thread<BoundValue>(self, kBoundName);
  return make_str("pong").release();
}

PyObject* bound_destroyed(PyObject*, PyObject* const*, Py_ssize_t, PyObject*) {
  return PyLong_FromLong(BoundValue::destroyed);
}

PyMethodDef kBoundMethods[] = {
    {"ping", method_entry<&bound_ping>(), kFastcallFlags, "ping($self)\n--\n\n"},
    {"destroyed", method_entry<&bound_destroyed>(), kFastcallFlags | METH_STATIC, "destroyed()\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

const ClassBehaviour* bound_behaviour() {
  static const ClassBehaviour behaviour = [] {
    ClassBehaviour b = base_behaviour<BoundValue, &kBoundName>();
    b.slots.push_back({Py_tp_new, slot_entry<&bound_new>()});
    b.slots.push_back({Py_tp_methods, kBoundMethods});
    return b;
  }();
  return &behaviour;
}

// --- NoCtor and Broken ------------------------------------------------------
struct Empty {};

const ClassBehaviour* noctor_behaviour() {
  static const ClassBehaviour behaviour = [] {
    ClassBehaviour b = base_behaviour<Empty>();
    b.class_attrs.push_back({"ANSWER", [] { return Ref::steal(PyLong_FromLong(42)); }});
    return b;
  }();
  return &behaviour;
}

const ClassBehaviour* broken_behaviour() {
  static const ClassBehaviour behaviour = [] {
    ClassBehaviour b = base_behaviour<Empty>();
    b.class_attrs.push_back({"BAD", []() -> Ref { throw_error(PyExc_ValueError, "attribute refused"); }});
    return b;
  }();
  return &behaviour;
}

// unlocked_misuse(kind, obj): does what needs the lock after giving it up.
PyObject* unlocked_misuse(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("unlocked_misuse()", req("kind"), req("obj"));
  auto [kind_obj, obj] = parse(spec, args, nargs, kwnames);
  std::string kind(arg_utf8("kind", kind_obj));
  Ref held = Ref::borrow(obj);
  Ref cell = make_instance<CellValue>(reinterpret_cast<PyTypeObject*>(get_or_create_class(kCellSpec, g_cell_cell)),
                                      CellValue{});
  if constexpr (!kLockChecks) throw_error(PyExc_NotImplementedError, "lock checks are off in this build");
  AllowThreads released;
  if (kind == "borrow") Ref::borrow(obj).release();
  if (kind == "copy") Ref copy(held);
  if (kind == "new_ref") held.new_ref();
  if (kind == "allow_threads") AllowThreads twice;
  if (kind == "shared") Shared<CellValue> borrow(cell.get());
  if (kind == "exclusive") Exclusive<CellValue> borrow(cell.get());
  if (kind == "class") get_or_create_class(kCellSpec, g_cell_cell);
  if (kind == "release") held = Ref();  // allowed: queued
  Py_RETURN_NONE;
}

// tick(): counts calls, so core work can tell whether another Python thread ran meanwhile.
std::atomic<long> g_ticks{0};
PyObject* tick(PyObject*, PyObject* const*, Py_ssize_t, PyObject*) {
  g_ticks.fetch_add(1, std::memory_order_relaxed);
  Py_RETURN_NONE;
}

// core_work(held_for, armed=True, hook=None, hook_last=False, until_ticked=False): core
// work that takes a core lock which a native thread holds exclusively for `held_for`
// seconds (0: nobody does) and, with `until_ticked`, past that until tick() was called
// (at most 20 s more: a thread that can get in does so far sooner on any machine),
// inside AllowThreadsIfBlocked when `armed`; `hook`
// runs first (or, with `hook_last`, once the core lock is let go), as a policy
// hook would (no core lock held). Returns (gave the lock up, lock depth seen
// once the core lock was taken, whether tick() was called meanwhile).
PyObject* core_work(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec =
      params("core_work()", req("held_for"), opt("armed"), opt("hook"), opt("hook_last"), opt("until_ticked"));
  auto [held_obj, armed_obj, hook, hook_last_obj, until_ticked_obj] = parse(spec, args, nargs, kwnames);
  const double held_for = PyFloat_AsDouble(held_obj);
  if (PyErr_Occurred() != nullptr) throw_pending();
  const bool armed = armed_obj == nullptr || PyObject_IsTrue(armed_obj) == 1;
  const bool hook_last = hook_last_obj != nullptr && PyObject_IsTrue(hook_last_obj) == 1;
  const bool until_ticked = until_ticked_obj != nullptr && PyObject_IsTrue(until_ticked_obj) == 1;
  static RwLock core_lock(SyncMode::Full);
  std::atomic<bool> taken{false};
  std::thread holder;
  // No other Python thread runs before this thread gives the interpreter lock up.
  const long ticks = g_ticks.load();
  if (held_for > 0) {
    holder = std::thread([&] {
      ExclusiveGuard guard(core_lock);
      taken = true;
      std::this_thread::sleep_for(std::chrono::duration<double>(held_for));
      const auto give_up_at = std::chrono::steady_clock::now() + std::chrono::seconds(20);
      while (until_ticked && g_ticks.load() == ticks && std::chrono::steady_clock::now() < give_up_at)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    while (!taken) std::this_thread::yield();
  }
  bool gave_up = false;
  std::intptr_t depth = -1;
  bool ticked = false;
  auto run_hook = [&] {
    if (hook == nullptr || hook == Py_None) return;
    GilToken lock;
    if (!Ref::steal(PyObject_CallNoArgs(hook))) throw_pending();
  };
  auto work = [&] {
    if (!hook_last) run_hook();
    {
      SharedGuard guard(core_lock);
      depth = lock_depth();
      ticked = g_ticks.load() != ticks;
    }
    if (hook_last) run_hook();
  };
  struct JoinHolderOnExit {
    std::thread& t;
    ~JoinHolderOnExit() {
      if (t.joinable()) t.join();
    }
  } join_holder{holder};
  if (armed) {
    AllowThreadsIfBlocked scope;
    work();
    gave_up = scope.gave_up();
  } else {
    work();
  }
  return Py_BuildValue("(OnO)", gave_up ? Py_True : Py_False, static_cast<Py_ssize_t>(depth),
                       ticked ? Py_True : Py_False);
}

// fresh_class(callback): creates a class of its own at each call (leaked),
// whose one class attribute, VALUE, is what `callback()` returns: Python code
// run while a class is being made.
thread_local PyObject* t_class_attr_callback = nullptr;

const ClassBehaviour* fresh_behaviour() {
  static const ClassBehaviour behaviour = [] {
    ClassBehaviour b = base_behaviour<Empty>();
    b.class_attrs.push_back({"VALUE", []() -> Ref {
                               Ref value = Ref::steal(PyObject_CallNoArgs(t_class_attr_callback));
                               if (!value) throw_pending();
                               return value;
                             }});
    return b;
  }();
  return &behaviour;
}

const ClassSpec kFreshSpec{.name = "Fresh", .module = kTestkit, .borrow_flag = false, .behaviour = &fresh_behaviour};

PyObject* fresh_class(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("fresh_class()", req("callback"));
  auto [callback] = parse(spec, args, nargs, kwnames);
  t_class_attr_callback = callback;  // borrowed: the caller holds it through the call
  return Ref::borrow(get_or_create_class(kFreshSpec, *new ClassCell)).release();
}

// ended_in_core_work(hook, held_for, given_up): core work that has staged an
// undo taking a core lock, then runs `hook` as a policy hook runs (through a
// GilToken). A native thread holds that lock exclusively for `held_for`
// seconds from the start. With `given_up` the interpreter lock is given up
// around the core work (the hook's token takes it back); otherwise it is kept,
// and given up only before waiting. A hook whose thread the interpreter ends
// (a daemon thread waiting in it when the interpreter finalises) has the undo
// run on the way out, waiting for the lock.
PyObject* ended_in_core_work(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("ended_in_core_work()", req("hook"), req("held_for"), req("given_up"));
  auto [hook, held_obj, given_up_obj] = parse(spec, args, nargs, kwnames);
  const double held_for = PyFloat_AsDouble(held_obj);
  if (PyErr_Occurred() != nullptr) throw_pending();
  const bool given_up = PyObject_IsTrue(given_up_obj) == 1;
  static RwLock core_lock(SyncMode::Full);
  static std::atomic<bool> taken{false};
  taken = false;
  std::thread([held_for] {
    ExclusiveGuard guard(core_lock);
    taken = true;
    std::this_thread::sleep_for(std::chrono::duration<double>(held_for));
  }).detach();
  while (!taken) std::this_thread::yield();
  auto work = [hook = hook] {
    struct Undo {
      ~Undo() { ExclusiveGuard guard(core_lock); }
    } undo;
    GilToken lock;
    if (!Ref::steal(PyObject_CallNoArgs(hook))) throw_pending();
  };
  if (given_up) {
    AllowThreads released;
    work();
  } else {
    AllowThreadsIfBlocked scope;
    work();
  }
  Py_RETURN_NONE;
}

// wake_after_exit(fd, count): once the interpreter has finished (its
// thread-state key deleted), writes `count` bytes to `fd`, waking threads that
// sleep in a read of it inside a callback, and gives them `settle` seconds to
// be ended on their way back in before the process exits.
int g_wake_fd = -1;
long g_wake_count = 0;
double g_wake_settle = 0;

void wake_sleepers() {
  for (long i = 0; i < g_wake_count; ++i) static_cast<void>(!write(g_wake_fd, "w", 1));
  std::this_thread::sleep_for(std::chrono::duration<double>(g_wake_settle));
}

PyObject* wake_after_exit(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("wake_after_exit()", req("fd"), req("count"), req("settle"));
  auto [fd_obj, count_obj, settle_obj] = parse(spec, args, nargs, kwnames);
  g_wake_fd = static_cast<int>(PyLong_AsLong(fd_obj));
  g_wake_count = PyLong_AsLong(count_obj);
  g_wake_settle = PyFloat_AsDouble(settle_obj);
  if (PyErr_Occurred() != nullptr) throw_pending();
  if (Py_AtExit(&wake_sleepers) != 0) throw_error(PyExc_RuntimeError, "no room for an exit function");
  Py_RETURN_NONE;
}

// actions_after_gate(actions): core work that waits, the interpreter lock
// given up, until open_gate() is called, then runs the actions as a commit
// runs staged ones.
std::atomic<bool> g_gate_open{false};

PyObject* open_gate(PyObject*, PyObject* const*, Py_ssize_t, PyObject*) {
  g_gate_open = true;
  g_gate_open.notify_all();
  Py_RETURN_NONE;
}

PyObject* actions_after_gate(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("actions_after_gate()", req("actions"));
  auto [actions] = parse(spec, args, nargs, kwnames);
  std::vector<Ref> callables = collect_items(actions, [](PyObject* item) { return Ref::borrow(item); });
  PendingErrorScope scope;
  {
    AllowThreads released;
    g_gate_open.wait(false);
    for (Ref& callable : callables) py_call_action(std::move(callable));
  }
  scope.finish();
  Py_RETURN_NONE;
}

// hook_failure(kind, callback=None): an entry point whose core work runs one
// hook as the engine runs a policy's, its body failing the way `kind` names
// ("no_memory": std::bad_alloc, "fault": the internal fault, "python": what
// `callback()` raises, "none": nothing); the entry point then raises what was
// parked. Returns whether the hook gave its failure value.
PyObject* hook_failure(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("hook_failure()", req("kind"), opt("callback"));
  auto [kind_obj, callback] = parse(spec, args, nargs, kwnames);
  const std::string kind(arg_utf8("kind", kind_obj));
  PendingErrorScope scope;
  bool failed = false;
  {
    AllowThreads released;  // the hook takes the lock back, as a policy's does
    failed = run_hook(
        [&] {
          if (kind == "no_memory") throw std::bad_alloc();
          if (kind == "fault") fail("invariant broken: test fault in a hook");
          if (kind == "python" && !Ref::steal(PyObject_CallNoArgs(callback))) throw_pending();
          return false;
        },
        [] { return true; });
  }
  scope.finish();
  return new_bool(failed).release();
}

// Creating Broken on demand shows the RuntimeError chain.
PyObject* make_broken(PyObject*, PyObject* const*, Py_ssize_t, PyObject*) {
  return Ref::borrow(get_or_create_class(kBrokenSpec, g_broken_cell)).release();
}

PyMethodDef kFunctions[] = {
    {"probe", method_entry<&probe>(), kFastcallFlags, "probe(a, b=None, *, c, d=None)\n--\n\n"},
    {"text", method_entry<&text>(), kFastcallFlags, "text(value)\n--\n\n"},
    {"fault", method_entry<&fault>(), kFastcallFlags, "fault(kind)\n--\n\n"},
    {"release_without_lock", method_entry<&release_without_lock>(), kFastcallFlags, nullptr},
    {"lock_depth", method_entry<&lock_depth_now>(), kFastcallFlags, nullptr},
    {"make_broken", method_entry<&make_broken>(), kFastcallFlags, nullptr},
    {"fresh_class", method_entry<&fresh_class>(), kFastcallFlags, nullptr},
    {"ended_in_core_work", method_entry<&ended_in_core_work>(), kFastcallFlags, nullptr},
    {"run_actions", method_entry<&run_actions>(), kFastcallFlags, nullptr},
    {"release_on_foreign_thread", method_entry<&release_on_foreign_thread>(), kFastcallFlags, nullptr},
    {"unlocked_misuse", method_entry<&unlocked_misuse>(), kFastcallFlags, nullptr},
    {"under_core_lock", method_entry<&under_core_lock>(), kFastcallFlags, nullptr},
    {"queued_releases", method_entry<&queued_releases>(), kFastcallFlags, nullptr},
    {"release_time", method_entry<&release_time>(), kFastcallFlags, nullptr},
    {"call_failing_void", method_entry<&call_failing_void>(), kFastcallFlags, nullptr},
    {"token_after_exit", method_entry<&token_after_exit>(), kFastcallFlags, nullptr},
    {"protocol_depth", method_entry<&protocol_depth>(), kFastcallFlags, nullptr},
    {"user_data_attr", method_entry<&user_data_attr>(), kFastcallFlags, nullptr},
    {"call_method_2", method_entry<&call_method_2>(), kFastcallFlags, nullptr},
    {"core_work", method_entry<&core_work>(), kFastcallFlags, nullptr},
    {"tick", method_entry<&tick>(), kFastcallFlags, nullptr},
    {"wake_after_exit", method_entry<&wake_after_exit>(), kFastcallFlags, nullptr},
    {"open_gate", method_entry<&open_gate>(), kFastcallFlags, nullptr},
    {"actions_after_gate", method_entry<&actions_after_gate>(), kFastcallFlags, nullptr},
    {"hook_failure", method_entry<&hook_failure>(), kFastcallFlags, nullptr},
    {"stack_redzones", method_entry<&stack_redzones>(), kFastcallFlags, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef g_def = {PyModuleDef_HEAD_INIT, "_vantrel_testkit", "", 0, kFunctions,
                     nullptr, nullptr, nullptr, nullptr};

PyObject* init() {
  Ref module = Ref::steal(PyModule_Create2(&g_def, 3));
  if (!module) throw_pending();
  const std::pair<const ClassSpec*, ClassCell*> classes[] = {
      {&kCellSpec, &g_cell_cell}, {&kBoundSpec, &g_bound_cell}, {&kNoCtorSpec, &g_noctor_cell}};
  for (auto [spec, cell] : classes) {
    PyObject* type = get_or_create_class(*spec, *cell);
    if (PyModule_AddObjectRef(module.get(), spec->name, type) != 0) throw_pending();
  }
  if (PyModule_AddIntConstant(module.get(), "lock_checks", kLockChecks ? 1 : 0) != 0) throw_pending();
  watch_interpreter_exit();
  add_live_instances_function(module.get());
  return module.release();
}

}  // namespace
}  // namespace vantrel::py

extern "C" __attribute__((visibility("default"))) PyObject* PyInit__vantrel_testkit() {
  return vantrel::py::entry<&vantrel::py::init>();
}
