#include "vantrel/pretrade/account_group_error.hpp"

namespace vantrel {
namespace {

struct Message {
  std::string operator()(const AccountGroupError::ReservedDefaultGroup&) const {
    return "the reserved default account group is not a valid target";
  }
  std::string operator()(const AccountGroupError::AlreadyInGroup& e) const {
    return "account " + std::to_string(e.account.value) + " is already registered in group " +
           std::to_string(e.group.value);
  }
  std::string operator()(const AccountGroupError::NotInGroup& e) const {
    std::string text = "account " + std::to_string(e.account.value) + " is not in group " +
                       std::to_string(e.group.value) + "; it belongs to ";
    return e.current ? text + "group " + std::to_string(e.current->value) : text + "no group";
  }
};

}  // namespace

std::string AccountGroupError::message() const { return std::visit(Message{}, form); }

}  // namespace vantrel
