#include "class_table.hpp"

#include <iterator>

#include "class_behaviours.hpp"

namespace vantrel::py {
namespace {

constexpr const char* kQuoteResolutionDoc =
    "Resolution mode that controls which quote buckets a read may fall through to.";
constexpr const char* kAccountsDoc =
    "Handle to the engine's account-group registry.\n\n"
    "Obtained from ``Engine.accounts()``. The handle shares the engine's single\n"
    "registry, so changes made through it are visible to every other handle and\n"
    "to running policies. It inherits the engine's synchronization mode.";
constexpr const char* kAccountControlDoc =
    "Handle that records a kill-switch block against the account bound to a\n"
    "callback context.\n\n"
    "It is valid to use only within the pre-trade processing of the request it\n"
    "belongs to \u2014 from the callback that produced it through the commit or\n"
    "rollback of that request's reservation (so it may be retained and used from\n"
    "a deferred mutation commit/rollback callback). Recording a block through it\n"
    "after that pre-trade transaction has completed is unspecified and must not\n"
    "be relied upon.";

constexpr const char* kTop = "vantrel";
constexpr const char* kParam = "vantrel.param";
constexpr const char* kCore = "vantrel.core";
constexpr const char* kPretrade = "vantrel.pretrade";
constexpr const char* kPolicies = "vantrel.pretrade.policies";
constexpr const char* kMarketData = "vantrel.marketdata";

constexpr ClassSpec kClasses[] = {
#define VANTREL_CLASS_ROW(id, ...) {.name = #id, __VA_ARGS__},
    VANTREL_CLASSES(VANTREL_CLASS_ROW)
#undef VANTREL_CLASS_ROW
};
static_assert(std::size(kClasses) == kClassCount);

ClassCell g_cells[kClassCount];

}  // namespace

const ClassSpec& class_spec(ClassId id) noexcept { return kClasses[static_cast<int>(id)]; }
ClassCell& class_cell(ClassId id) noexcept { return g_cells[static_cast<int>(id)]; }

PyObject* class_object_checked(ClassId id) { return get_or_create_class(class_spec(id), class_cell(id)); }

bool class_available(ClassId id) noexcept { return class_spec(id).behaviour != nullptr; }

}  // namespace vantrel::py
