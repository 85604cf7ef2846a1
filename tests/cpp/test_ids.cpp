#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "vantrel/marketdata/registration_error.hpp"
#include "vantrel/param/ids.hpp"
#include "vantrel/pretrade/account_group_error.hpp"

namespace vantrel {
namespace {

// Published FNV-1a test vectors.
struct FnvCase {
  const char* text;
  std::uint64_t h64;
  std::uint32_t h32;
};
constexpr FnvCase kFnvVectors[] = {
    {"", 0xcbf29ce484222325ull, 0x811c9dc5u},
    {"a", 0xaf63dc4c8601ec8cull, 0xe40c292cu},
    {"foobar", 0x85944171f73967e8ull, 0xbf9cf968u},
};

TEST(Fnv, PublishedVectors) {
  for (const FnvCase& c : kFnvVectors) {
    EXPECT_EQ(fnv1a_64(c.text), c.h64) << c.text;
    EXPECT_EQ(fnv1a_32(c.text), c.h32) << c.text;
  }
}

TEST(Fnv, HashesEveryByteUntrimmed) {
  EXPECT_EQ(account_id_from_text("a")->value, fnv1a_64("a"));
  EXPECT_EQ(account_id_from_text(" a")->value, fnv1a_64(" a"));
  EXPECT_NE(account_id_from_text(" a")->value, account_id_from_text("a")->value);
  // Bytes above 0x7f are taken unsigned.
  EXPECT_EQ(account_id_from_text("\xc3\xa9")->value, ((0xcbf29ce484222325ull ^ 0xc3) * 0x100000001b3ull ^ 0xa9) *
                                                         0x100000001b3ull);
}

TEST(Fnv, BlankTextsAreRefused) {
  for (const char* blank : {"", " ", " \t\n", "\xe3\x80\x80", "\xc2\xa0\xe2\x80\xa8"}) {
    EXPECT_FALSE(account_id_from_text(blank)) << blank;
    EXPECT_FALSE(account_group_id_from_text(blank)) << blank;
  }
}

TEST(Fnv, GroupHashZeroBecomesOne) {
  // "BR42qf" is a text whose FNV-1a 32-bit hash is 0 (found by search).
  ASSERT_EQ(fnv1a_32("BR42qf"), 0u);
  EXPECT_EQ(account_group_id_from_text("BR42qf")->value, 1u);
  EXPECT_EQ(account_group_id_from_text("foobar")->value, 0xbf9cf968u);
}

TEST(StableIdHash, MatchesSipHash13UnderZeroKey) {
  // The interpreter's bytes hash with hashing randomisation off (zero key, SipHash-1-3)
  // of the value's 8 little-endian bytes.
  EXPECT_EQ(static_cast<std::int64_t>(stable_id_hash(0)), -4800647303603446203);
  EXPECT_EQ(static_cast<std::int64_t>(stable_id_hash(7)), 7364705619221056123);
  EXPECT_EQ(static_cast<std::int64_t>(stable_id_hash(42)), 8880661182590738257);
  EXPECT_EQ(static_cast<std::int64_t>(stable_id_hash(UINT64_MAX)), 3395815149532668813);
}

TEST(AccountGroupError, Messages) {
  using E = AccountGroupError;
  const AccountId account{18446744073709551615ull};
  EXPECT_EQ(E{E::ReservedDefaultGroup{}}.message(), "the reserved default account group is not a valid target");
  EXPECT_EQ((E{E::AlreadyInGroup{account, AccountGroupId{4294967295u}}}.message()),
            "account 18446744073709551615 is already registered in group 4294967295");
  EXPECT_EQ((E{E::NotInGroup{AccountId{1}, AccountGroupId{2}, std::nullopt}}.message()),
            "account 1 is not in group 2; it belongs to no group");
  EXPECT_EQ((E{E::NotInGroup{AccountId{1}, AccountGroupId{2}, AccountGroupId{3}}}.message()),
            "account 1 is not in group 2; it belongs to group 3");
}

TEST(InstrumentRegistrationError, Messages) {
  using E = InstrumentRegistrationError;
  Instrument instrument{*Asset::from_text("B\"T\\C"), *Asset::from_text(" USD\n")};
  EXPECT_EQ(E{E::InstrumentAlreadyRegistered{instrument}}.message(),
            "instrument Instrument { underlying_asset: Asset(\"B\\\"T\\\\C\"), settlement_asset: "
            "Asset(\" USD\\n\") } is already registered");
  EXPECT_EQ(E{E::InstrumentIdAlreadyRegistered{InstrumentId{18446744073709551615ull}}}.message(),
            "instrument id 18446744073709551615 is already registered");
}

}  // namespace
}  // namespace vantrel
