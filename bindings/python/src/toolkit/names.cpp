#include "toolkit/names.hpp"

#include <array>
#include <string>

#include "toolkit/errors.hpp"
#include "toolkit/gil.hpp"

namespace vantrel::py {
namespace {

constexpr std::array<std::string_view, static_cast<std::size_t>(Name::count_)> kTexts{
    "__all__", "__name__", "__module__",
    "_inner", "user_data", "account_group", "underlying_asset", "settlement_asset", "delta", "absolute", "_build",
    "name", "policy_group_id", "check_pre_trade_start", "perform_pre_trade_check", "apply_execution_report",
    "apply_account_adjustment", "ctx", "report",
};
static_assert(kTexts.back() == "report", "one text per Name, in order");

// Filled under the interpreter lock, so no further guard is needed.
std::array<PyObject*, kTexts.size()> g_objects{};

}  // namespace

std::string_view name_text(Name name) noexcept { return kTexts[static_cast<std::size_t>(name)]; }

PyObject* interned(Name name) {
  PyObject*& slot = g_objects[static_cast<std::size_t>(name)];
  if (slot != nullptr) [[likely]]
    return slot;
  require_lock("interning a name");
  const std::string_view text = name_text(name);
  PyObject* made = PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
  if (made == nullptr) throw_pending();
  PyUnicode_InternInPlace(&made);
  slot = made;
  return slot;
}

PyObject* interned_new_ref(std::string_view text) {
  for (std::size_t i = 0; i < kTexts.size(); ++i) {
    if (kTexts[i] != text) continue;
    PyObject* obj = interned(static_cast<Name>(i));
    Py_IncRef(obj);
    return obj;
  }
  PyObject* made = PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
  if (made == nullptr) throw_pending();
  PyUnicode_InternInPlace(&made);
  return made;
}

}  // namespace vantrel::py
