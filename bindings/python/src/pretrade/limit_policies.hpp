#pragma once
// The ReadyEngineBuilder methods that configure the limit policies.
#include "toolkit/python.hpp"

namespace vantrel::py {

enum class LimitPolicyAdder { OrderSizeLimit, RateLimit, PnlBoundsKillSwitch };

// The method table row of one adder.
PyMethodDef limit_policy_adder(LimitPolicyAdder which);

}  // namespace vantrel::py
