// Messages of ParamErrorKind.

#include "vantrel/param/param_error.hpp"

#include <array>

namespace vantrel {

namespace {

// Indexed by ParamErrorKind::Variant; "{}" takes the kind's name (and then, for
// InvalidFormat, the input).
constexpr auto kMessages = std::to_array<std::string_view>({
    "other parameter error",
    "value must be non-negative for {}",
    "division by zero in {}",
    "arithmetic overflow in {}",
    "arithmetic underflow in {}",
    "invalid float value",
    "invalid format for {}: '{}'",
    "invalid price value",
    "invalid leverage value",
    "asset must not be empty",
    "account id string must not be empty",
});
static_assert(kMessages.size() == static_cast<std::size_t>(ParamErrorKind::Variant::EmptyAccountId) + 1,
              "one message per variant");

}  // namespace

std::string ParamErrorKind::message() const {
  const std::string_view args[2] = {value_kind_name(kind_), input_};
  const std::string_view pattern = kMessages[static_cast<std::size_t>(variant_)];
  std::string out;
  out.reserve(pattern.size() + 16 + input_.size());
  std::size_t next_arg = 0;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '{' && i + 1 < pattern.size() && pattern[i + 1] == '}') {
      out.append(args[next_arg++]);
      ++i;
    } else {
      out.push_back(pattern[i]);
    }
  }
  return out;
}

}  // namespace vantrel
