// Probe functions for the record conversions: each core record comes back as
// plain Python data, so tests can see exactly what the engine would read.
#include <cstdint>
#include <optional>
#include <thread>

#include "core/extract_records.hpp"
#include "core/record_fields.hpp"
#include "toolkit/args.hpp"
#include "toolkit/iterate.hpp"
#include "vantrel/core/execution_report.hpp"

namespace vantrel::py {
namespace {

Ref new_int(std::uint64_t value) {
  Ref obj = Ref::steal(PyLong_FromUnsignedLongLong(value));
  if (!obj) throw_pending();
  return obj;
}

Ref new_dict() {
  Ref dict = Ref::steal(PyDict_New());
  if (!dict) throw_pending();
  return dict;
}

void put(const Ref& dict, const char* key, Ref value) {
  if (PyDict_SetItemString(dict.get(), key, value ? value.get() : Py_None) != 0) throw_pending();
}

Ref text_of(Decimal value) { return make_str(value.to_string()); }

template <class T, class F>
Ref optional_of(const std::optional<T>& value, F convert) {
  return value ? convert(*value) : none();
}

Ref asset_of(const Asset& asset) { return make_str(asset.name()); }
Ref pair_of(Ref a, Ref b) {
  Ref tuple = Ref::steal(PyTuple_Pack(2, a.get(), b.get()));
  if (!tuple) throw_pending();
  return tuple;
}
Ref instrument_of_record(const Instrument& i) {
  return pair_of(asset_of(i.underlying_asset), asset_of(i.settlement_asset));
}
Ref word(const char* text) { return make_str(text); }
Ref side_word(Side s) { return word(s == Side::Buy ? "buy" : "sell"); }
Ref position_side_word(PositionSide s) { return word(s == PositionSide::Long ? "long" : "short"); }
Ref account_of(AccountId id) { return new_int(id.value); }
template <ValueKind K>
Ref amount_text(Amount<K> a) {
  return text_of(a.value);
}
Ref adjustment_of(const AdjustmentAmount& a) { return pair_of(word(a.is_delta() ? "delta" : "absolute"), text_of(a.value.value)); }

Ref lock_entries(const Lock& lock) {
  Ref list = Ref::steal(PyList_New(0));
  if (!list) throw_pending();
  lock.for_each_entry([&](std::uint16_t group, Decimal price) {
    if (PyList_Append(list.get(), pair_of(new_int(group), text_of(price)).get()) != 0) throw_pending();
  });
  return list;
}

// The source comes back as the object itself, so tests can check its identity.
Ref source_of(const SourceRef& source) { return Ref::borrow(source_object(source)); }

Ref order_dict(const OrderRecord& record) {
  Ref out = new_dict();
  if (record.operation) {
    const OrderRecord::Operation& op = *record.operation;
    Ref d = new_dict();
    put(d, "instrument", optional_of(op.instrument, instrument_of_record));
    put(d, "account_id", optional_of(op.account_id, account_of));
    put(d, "side", optional_of(op.side, side_word));
    put(d, "trade_amount", optional_of(op.trade_amount, [](const TradeAmount& a) {
          return pair_of(word(a.is_quantity() ? "quantity" : "volume"), text_of(a.value));
        }));
    put(d, "price", optional_of(op.price, amount_text<ValueKind::Price>));
    put(out, "operation", d);
  } else {
    put(out, "operation", Ref());
  }
  if (record.position) {
    Ref d = new_dict();
    put(d, "position_side", optional_of(record.position->position_side, position_side_word));
    put(d, "reduce_only", new_bool(record.position->reduce_only));
    put(d, "close_position", new_bool(record.position->close_position));
    put(out, "position", d);
  } else {
    put(out, "position", Ref());
  }
  if (record.margin) {
    Ref d = new_dict();
    put(d, "leverage_tenths", optional_of(record.margin->leverage, [](Leverage l) { return new_int(l.tenths); }));
    put(d, "collateral_asset", optional_of(record.margin->collateral_asset, asset_of));
    put(d, "auto_borrow", new_bool(record.margin->auto_borrow));
    put(out, "margin", d);
  } else {
    put(out, "margin", Ref());
  }
  put(out, "source", source_of(record.source));
  return out;
}

Ref report_dict(const ExecutionReportRecord& record) {
  Ref out = new_dict();
  Ref operation, impact, fill, position;
  if (record.operation) {
    operation = new_dict();
    put(operation, "instrument", optional_of(record.operation->instrument, instrument_of_record));
    put(operation, "account_id", optional_of(record.operation->account_id, account_of));
    put(operation, "side", optional_of(record.operation->side, side_word));
  }
  if (record.financial_impact) {
    impact = pair_of(text_of(record.financial_impact->pnl.value), text_of(record.financial_impact->fee.value));
  }
  if (record.fill) {
    fill = new_dict();
    put(fill, "last_trade", optional_of(record.fill->last_trade, [](const Trade& t) {
          return pair_of(text_of(t.price.value), text_of(t.quantity.value));
        }));
    put(fill, "leaves_quantity", optional_of(record.fill->leaves_quantity, amount_text<ValueKind::Quantity>));
    put(fill, "lock", lock_entries(record.fill->lock));
    put(fill, "is_final", optional_of(record.fill->is_final, [](bool b) { return new_bool(b); }));
  }
  if (record.position_impact) {
    position = new_dict();
    put(position, "position_effect", optional_of(record.position_impact->position_effect, [](PositionEffect e) {
          return word(e == PositionEffect::Open ? "open" : "close");
        }));
    put(position, "position_side", optional_of(record.position_impact->position_side, position_side_word));
  }
  put(out, "operation", operation);
  put(out, "financial_impact", impact);
  put(out, "fill", fill);
  put(out, "position_impact", position);
  put(out, "source", source_of(record.source));
  return out;
}

Ref adjustment_dict(const AccountAdjustmentRecord& record) {
  Ref out = new_dict();
  Ref operation;
  if (const auto* balance = record.balance_operation()) {
    operation = new_dict();
    put(operation, "kind", word("balance"));
    put(operation, "asset", optional_of(balance->asset, asset_of));
    put(operation, "average_entry_price", optional_of(balance->average_entry_price, amount_text<ValueKind::Price>));
  } else if (const auto* position = record.position_operation()) {
    operation = new_dict();
    put(operation, "kind", word("position"));
    put(operation, "underlying_asset", optional_of(position->underlying_asset, asset_of));
    put(operation, "settlement_asset", optional_of(position->settlement_asset, asset_of));
    put(operation, "collateral_asset", optional_of(position->collateral_asset, asset_of));
    put(operation, "average_entry_price", optional_of(position->average_entry_price, amount_text<ValueKind::Price>));
    put(operation, "mode", optional_of(position->mode, [](PositionMode m) {
          return word(m == PositionMode::Netting ? "netting" : "hedged");
        }));
    put(operation, "leverage_tenths", optional_of(position->leverage, [](Leverage l) { return new_int(l.tenths); }));
  }
  put(out, "operation", operation);
  Ref amount, bounds;
  if (record.amount) {
    amount = new_dict();
    put(amount, "balance", optional_of(record.amount->balance, adjustment_of));
    put(amount, "held", optional_of(record.amount->held, adjustment_of));
    put(amount, "incoming", optional_of(record.amount->incoming, adjustment_of));
  }
  if (record.bounds) {
    const auto& b = *record.bounds;
    bounds = new_dict();
    const auto text = amount_text<ValueKind::PositionSize>;
    put(bounds, "balance_upper", optional_of(b.balance_upper, text));
    put(bounds, "balance_lower", optional_of(b.balance_lower, text));
    put(bounds, "held_upper", optional_of(b.held_upper, text));
    put(bounds, "held_lower", optional_of(b.held_lower, text));
    put(bounds, "incoming_upper", optional_of(b.incoming_upper, text));
    put(bounds, "incoming_lower", optional_of(b.incoming_lower, text));
  }
  put(out, "amount", amount);
  put(out, "bounds", bounds);
  put(out, "source", source_of(record.source));
  return out;
}

PyObject* order_record(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("order_record()", req("order"));
  auto [order] = parse(spec, args, nargs, kwnames);
  return order_dict(extract_order(order)).release();
}

PyObject* execution_report_record(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("execution_report_record()", req("report"));
  auto [report] = parse(spec, args, nargs, kwnames);
  return report_dict(extract_execution_report(report)).release();
}

// account_adjustment_records(iterable): the records of every element, in order.
PyObject* account_adjustment_records(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("account_adjustment_records()", req("iterable"));
  auto [iterable] = parse(spec, args, nargs, kwnames);
  Ref list = Ref::steal(PyList_New(0));
  if (!list) throw_pending();
  for_each_item(iterable, [&](PyObject* item) {
    if (PyList_Append(list.get(), adjustment_dict(extract_account_adjustment(item)).get()) != 0) throw_pending();
  });
  return list.release();
}

// drop_on_worker(obj): converts obj (an order, report or adjustment), gives the
// interpreter lock up and drops the record on a new thread, as an engine stage
// does. Returns obj's reference count as the worker saw it just before and just
// after the drop.
PyObject* drop_on_worker(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("drop_on_worker()", req("obj"));
  auto [obj] = parse(spec, args, nargs, kwnames);
  SourceRef source;
  if (is_instance(obj, ClassId::Order)) {
    source = std::move(extract_order(obj).source);
  } else if (is_instance(obj, ClassId::ExecutionReport)) {
    source = std::move(extract_execution_report(obj).source);
  } else {
    source = std::move(extract_account_adjustment(obj).source);
  }
  Py_ssize_t before = 0, after = 0;
  {
    AllowThreads unlocked;
    std::thread worker([&, held = std::move(source)]() mutable {
      before = Py_REFCNT(obj);  // nothing else runs: the caller waits in join()
      held.reset();
      after = Py_REFCNT(obj);
    });
    worker.join();
  }
  return pair_of(new_int(static_cast<std::uint64_t>(before)), new_int(static_cast<std::uint64_t>(after))).release();
}

// extract_order_loop(order, n): n conversions, each record dropped at once; the
// benchmark's hook.
PyObject* extract_order_loop(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("extract_order_loop()", req("order"), req("n"));
  auto [order, n_obj] = parse(spec, args, nargs, kwnames);
  const long long n = PyLong_AsLongLong(n_obj);
  if (n == -1 && PyErr_Occurred() != nullptr) throw ErrorAlreadySet{};
  for (long long i = 0; i < n; ++i) {
    OrderRecord record = extract_order(order);
    asm volatile("" : : "r"(&record) : "memory");
  }
  return none().release();
}

}  // namespace

PyMethodDef kRecordProbeFunctions[] = {
    {"order_record", method_entry<&order_record>(), kFastcallFlags, "order_record(order)\n--\n\n"},
    {"execution_report_record", method_entry<&execution_report_record>(), kFastcallFlags,
     "execution_report_record(report)\n--\n\n"},
    {"account_adjustment_records", method_entry<&account_adjustment_records>(), kFastcallFlags,
     "account_adjustment_records(iterable)\n--\n\n"},
    {"drop_on_worker", method_entry<&drop_on_worker>(), kFastcallFlags, "drop_on_worker(obj)\n--\n\n"},
    {"extract_order_loop", method_entry<&extract_order_loop>(), kFastcallFlags,
     "extract_order_loop(order, n)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace vantrel::py
