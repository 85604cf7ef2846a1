// vantrel.pretrade.Request and Reservation: one-shot handles bound to the
// thread that created them. Neither leaves the interpreter lock.
#include "class_behaviours.hpp"
#include "class_table.hpp"
#include "pretrade/engine_support.hpp"
#include "pretrade/lock.hpp"
#include "pretrade/outcome.hpp"
#include "toolkit/args.hpp"
#include "toolkit/classes.hpp"

namespace vantrel::py {
namespace {

constexpr const char* kRequestName = "_vantrel::PyRequest";
constexpr const char* kReservationName = "_vantrel::PyReservation";
constexpr const char* const kRequestNamePtr = kRequestName;
constexpr const char* const kReservationNamePtr = kReservationName;

struct RequestCell {
  static constexpr bool kThreadBound = true;
  std::optional<RequestClosure> closure;
};

struct ReservationCell {
  static constexpr bool kThreadBound = true;
  explicit ReservationCell(CoreReservation&& taken) : reservation(std::move(taken)) {}
  std::optional<CoreReservation> reservation;  // empty, or closed, once finalised
};

PyObject* request_execute(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("Request.execute()");
  parse(spec, args, nargs, kwnames);
  check_thread<RequestCell>(self, kRequestName);
  // Spent from here on, whatever follows.
  std::optional<RequestClosure> closure = std::move(object_cast<RequestCell>(self)->value.closure);
  object_cast<RequestCell>(self)->value.closure.reset();
  if (!closure) throw_error(PyExc_RuntimeError, "request has already been executed");
  PendingErrorScope pending;
  // The main stage keeps the interpreter lock throughout.
  std::optional<MainOutcome> outcome;
  outcome.emplace(run_request(std::move(*closure)));
  finish_or_discard(pending, outcome);
  return execute_result_of(std::move(*outcome)).release();
}

ReservationCell& open_reservation(PyObject* self) {
  check_thread<ReservationCell>(self, kReservationName);
  ReservationCell& cell = object_cast<ReservationCell>(self)->value;
  if (!cell.reservation || !cell.reservation->open())
    throw_error(PyExc_RuntimeError, "reservation has already been finalized");
  return cell;
}

PyObject* reservation_lock(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("Reservation.lock()");
  parse(spec, args, nargs, kwnames);
  return wrap_lock(open_reservation(self).reservation->lock()).release();
}

PyObject* reservation_account_adjustments(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                          PyObject* kwnames) {
  static constexpr auto spec = params("Reservation.account_adjustments()");
  parse(spec, args, nargs, kwnames);
  return wrap_adjustment_outcomes(open_reservation(self).reservation->account_adjustments()).release();
}

// Finalised before any action runs, so an action that raises, or reaches
// this reservation again, finds it finalised. Every action runs; the last
// exception an action raised is raised afterwards.
template <bool Commit>
PyObject* reservation_finalise(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params(Commit ? "Reservation.commit()" : "Reservation.rollback()");
  parse(spec, args, nargs, kwnames);
  ReservationCell& cell = open_reservation(self);
  PendingErrorScope pending;
  // Closed by commit() or rollback() before the first action runs; the caller's
  // reference keeps the object alive meanwhile.
  if (Commit)
    cell.reservation->commit();
  else
    cell.reservation->rollback();
  cell.reservation.reset();
  pending.finish();
  Py_RETURN_NONE;
}

// Released open on its own thread: rolled back, what the actions raise
// reported as unraisable. Released on another thread: kept as it is (the
// funds stay held), and reported.
void reservation_dealloc(PyObject* obj) {
  PyTypeObject* type = Py_TYPE(obj);  // alive until the instance is freed
  auto* self = object_cast<ReservationCell>(obj);
  if (!on_creating_thread<ReservationCell>(obj)) {
    report_foreign_drop(obj, kReservationName);
  } else {
    std::optional<CoreReservation>& reservation = self->value.reservation;
    if (reservation && reservation->open()) {
      ReleaseTimeScope scope(reinterpret_cast<PyObject*>(type));
      reservation.reset();
    }
    self->value.~ReservationCell();
  }
  free_final_instance<ReservationCell>(obj);
}

}  // namespace

Ref make_request(RequestClosure closure) {
  return make_instance<RequestCell>(class_type(ClassId::Request), RequestCell{std::move(closure)});
}

Ref make_reservation(CoreReservation&& reservation) {
  return make_final_instance<ReservationCell>(class_type(ClassId::Reservation), std::move(reservation));
}

const ClassBehaviour* request_behaviour() {
  static PyMethodDef methods[] = {
      {"execute", method_entry<&request_execute>(), kFastcallFlags, "execute($self)\n--\n\n"},
      {nullptr, nullptr, 0, nullptr},
  };
  static const ClassBehaviour behaviour = [] {
    ClassBehaviour b = base_behaviour<RequestCell, &kRequestNamePtr>();
    b.slots.push_back({Py_tp_methods, methods});
    return b;
  }();
  return &behaviour;
}

const ClassBehaviour* reservation_behaviour() {
  static PyMethodDef methods[] = {
      {"lock", method_entry<&reservation_lock>(), kFastcallFlags, "lock($self)\n--\n\n"},
      {"account_adjustments", method_entry<&reservation_account_adjustments>(), kFastcallFlags,
       "account_adjustments($self)\n--\n\n"},
      {"commit", method_entry<&reservation_finalise<true>>(), kFastcallFlags, "commit($self)\n--\n\n"},
      {"rollback", method_entry<&reservation_finalise<false>>(), kFastcallFlags, "rollback($self)\n--\n\n"},
      {nullptr, nullptr, 0, nullptr},
  };
  static const ClassBehaviour behaviour = [] {
    ClassBehaviour b = base_behaviour<ReservationCell, &kReservationNamePtr>();
    for (PyType_Slot& slot : b.slots)
      if (slot.slot == Py_tp_dealloc) slot.pfunc = slot_entry<&reservation_dealloc>();
    b.slots.push_back({Py_tp_methods, methods});
    return b;
  }();
  return &behaviour;
}

}  // namespace vantrel::py
