#include <gtest/gtest.h>

#include <set>
#include <string>

#include "vantrel/core/account_block.hpp"
#include "vantrel/core/outcome.hpp"
#include "vantrel/core/reject.hpp"

namespace vantrel {
namespace {

TEST(RejectCode, NamesRoundTripAndKeepTheirNumbers) {
  std::set<std::string_view> seen;
  for (std::size_t i = 0; i < kRejectCodeCount; ++i) {
    const auto code = static_cast<RejectCode>(i);
    const std::string_view name = reject_code_name(code);
    ASSERT_FALSE(name.empty()) << i;
    EXPECT_TRUE(seen.insert(name).second) << name;
    EXPECT_EQ(parse_reject_code(name), code) << name;
  }
  EXPECT_EQ(seen.size(), 44u);
  const std::pair<RejectCode, int> fixed[] = {
      {RejectCode::MissingRequiredField, 0}, {RejectCode::InsufficientFunds, 14},
      {RejectCode::RateLimitExceeded, 25},   {RejectCode::AccountBlocked, 27},
      {RejectCode::SystemUnavailable, 38},   {RejectCode::ArithmeticOverflow, 41},
      {RejectCode::Custom, 42},              {RejectCode::Other, 43},
  };
  for (auto [code, value] : fixed) EXPECT_EQ(static_cast<int>(code), value) << reject_code_name(code);
  EXPECT_EQ(reject_code_name(RejectCode::OrderQtyExceedsLimit), "OrderQtyExceedsLimit");
  EXPECT_EQ(reject_code_name(static_cast<RejectCode>(44)), "");
}

TEST(RejectCode, ParseIsExact) {
  const char* refused[] = {"insufficientfunds", "InsufficientFunds ", " InsufficientFunds", "",
                           "Insufficient", "InsufficientFundsX", "OTHER"};
  for (const char* text : refused) EXPECT_FALSE(parse_reject_code(text).has_value()) << text;
  EXPECT_FALSE(parse_reject_code(std::string_view("Other\0", 6)).has_value());
  EXPECT_EQ(unsupported_reject_code_message("bad\"x"), "unsupported reject code \"bad\\\"x\"");
}

TEST(RejectScope, ParseTrimsAndFoldsCase) {
  const std::pair<const char*, std::optional<RejectScope>> cases[] = {
      {"order", RejectScope::Order},     {"ORDER", RejectScope::Order},   {" Account ", RejectScope::Account},
      {"\taccount\n", RejectScope::Account}, {"acc ount", std::nullopt},  {"", std::nullopt},
      {"orders", std::nullopt},          {"accountaccount", std::nullopt}, {"\xc3\x93rder", std::nullopt},
  };
  for (auto [text, expected] : cases) EXPECT_EQ(parse_reject_scope(text), expected) << text;
  EXPECT_EQ(reject_scope_name(RejectScope::Order), "order");
  EXPECT_EQ(reject_scope_name(RejectScope::Account), "account");
}

TEST(Reject, ConstructorsAndText) {
  const Reject plain = Reject::make("SizeLimit", RejectCode::OrderQtyExceedsLimit, "too big", "qty 5 > 4");
  EXPECT_EQ(plain.scope, RejectScope::Order);
  EXPECT_EQ(plain.user_data, 0u);
  EXPECT_EQ(reject_text(plain),
            "Reject(code=\"OrderQtyExceedsLimit\", reason=\"too big\", details=\"qty 5 > 4\", "
            "policy=\"SizeLimit\", scope=\"order\", user_data=0)");

  Reject scoped = Reject::with_scope("P", RejectScope::Account, RejectCode::Other, "a\"b\n", "");
  scoped.user_data = 18446744073709551615u;
  EXPECT_EQ(reject_text(scoped),
            "Reject(code=\"Other\", reason=\"a\\\"b\\n\", details=\"\", policy=\"P\", scope=\"account\", "
            "user_data=18446744073709551615)");
}

TEST(NonEmptyRejects, RefusesAnEmptyList) {
  EXPECT_FALSE(NonEmptyRejects::from({}).has_value());
  auto two = NonEmptyRejects::from({Reject::make("A", RejectCode::Custom, "r", "d"),
                                    Reject::make("B", RejectCode::Other, "r", "d")});
  ASSERT_TRUE(two.has_value());
  EXPECT_EQ(two->size(), 2u);
  EXPECT_EQ(two->front().policy, "A");
  NonEmptyRejects one(Reject::make("C", RejectCode::Custom, "r", "d"));
  one.push_back((*two)[1]);
  EXPECT_EQ(one.size(), 2u);
  EXPECT_EQ(one[1].policy, "B");
}

TEST(AccountBlock, FromRejectAndBack) {
  Reject reject = Reject::with_scope("Kill", RejectScope::Account, RejectCode::PnlKillSwitchTriggered, "r", "d");
  reject.user_data = 9;
  const AccountBlock block = AccountBlock::from_reject(reject);
  EXPECT_EQ(block, (AccountBlock{"Kill", "r", "d", 9, RejectCode::AccountBlocked}));

  const AccountBlock stored{"Py", "why", "more", 7, RejectCode::RiskLimitExceeded};
  EXPECT_EQ(stored.to_reject(), (Reject{"Py", "why", "more", 7, RejectScope::Account, RejectCode::RiskLimitExceeded}));
  EXPECT_EQ(account_block_text(stored),
            "AccountBlock(code=\"RiskLimitExceeded\", policy=\"Py\", reason=\"why\", details=\"more\", user_data=7)");
}

PositionSize size_of(const char* text) { return *from_text<ValueKind::PositionSize>(text); }

TEST(Outcome, Texts) {
  OutcomeEntryRecord entry{*Asset::from_text("USD"), OutcomeAmount{size_of("5"), size_of("105")}, std::nullopt,
                           std::nullopt};
  EXPECT_EQ(outcome_entry_text(entry),
            "AccountOutcomeEntry(asset=\"USD\", balance=Some(\"OutcomeAmount(delta=5, absolute=105)\"), held=None, "
            "incoming=None)");
  entry.balance.reset();
  entry.incoming = OutcomeAmount{size_of("-1.50"), size_of("0")};
  const AdjustmentOutcomeRecord outcome{entry, 65535};
  EXPECT_EQ(adjustment_outcome_text(outcome),
            "AccountAdjustmentOutcome(policy_group_id=65535, entry=AccountOutcomeEntry(asset=\"USD\", "
            "balance=None, held=None, incoming=Some(\"OutcomeAmount(delta=-1.50, absolute=0)\")))");
}

TEST(RejectText, ConstantTextsAreBorrowedAndCompareAsTexts) {
  static constexpr std::string_view kName = "SomePolicy";
  const RejectText fixed = RejectText::fixed(kName);
  const RejectText copy = fixed;  // NOLINT: the copy is the point
  EXPECT_EQ(copy.data(), kName.data()) << "a constant text is kept by reference, copies too";
  const RejectText owned(kName);
  EXPECT_NE(owned.data(), kName.data());
  EXPECT_EQ(fixed, owned);
  EXPECT_EQ(fixed, "SomePolicy");
  EXPECT_EQ(fixed, std::string("SomePolicy"));
  EXPECT_FALSE(fixed == "SomePolicyX");
  EXPECT_EQ(owned.str(), "SomePolicy");
  const Reject a = Reject::fixed(kName, RejectScope::Account, RejectCode::Custom, "why", "details");
  const Reject b{"SomePolicy", "why", "details", 0, RejectScope::Account, RejectCode::Custom};
  EXPECT_EQ(a, b);
  EXPECT_EQ(reject_text(a), reject_text(b));
  // Moved, a constant text stays borrowed and an owned one (short, then long) keeps its text.
  RejectText fixed_source = RejectText::fixed(kName), short_source("SomePolicy"),
             long_source(std::string(40, 'x') + "SomePolicy");
  const RejectText fixed_moved = std::move(fixed_source), short_moved = std::move(short_source),
                   long_moved = std::move(long_source);
  EXPECT_EQ(fixed_moved.data(), kName.data());
  EXPECT_EQ(fixed_moved, "SomePolicy");
  EXPECT_EQ(short_moved, "SomePolicy");
  EXPECT_EQ(long_moved, std::string(40, 'x') + "SomePolicy");
  RejectText assigned = RejectText::fixed("other");
  assigned = RejectText(std::string("SomePolicy"));
  EXPECT_EQ(assigned, "SomePolicy");
  assigned = RejectText::fixed(kName);
  EXPECT_EQ(assigned.data(), kName.data());
}

TEST(NonEmptyRejects, KeepsOrderBeyondItsInlineRoom) {
  NonEmptyRejects rejects(Reject::make("A", RejectCode::Custom, "r1", "d"));
  rejects.push_back(Reject::make("B", RejectCode::Custom, "r2", "d"));
  rejects.push_back(Reject::make("C", RejectCode::Custom, "r3", "d"));
  ASSERT_EQ(rejects.items().size(), 3u);
  EXPECT_EQ(rejects.items()[2].policy, "C");
  NonEmptyRejects moved = std::move(rejects);
  std::string order;
  for (const Reject& r : std::move(moved).take()) order += r.reason.view();
  EXPECT_EQ(order, "r1r2r3");
}

}  // namespace
}  // namespace vantrel
