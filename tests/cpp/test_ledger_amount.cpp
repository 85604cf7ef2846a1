// The funds ledger's exact amount, against values worked out with Python's
// decimal module at a precision of 200 digits.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "vantrel/pretrade/policies/ledger_amount.hpp"

namespace vantrel {
namespace {

Decimal Dx(const char* text) { return Decimal::parse(text).value; }
const Decimal kMaxDecimal = Decimal::from_parts(~0ull, ~0u, 0, false);

struct LedgerProductCase {
  const char* a;
  const char* b;
  const char* up;    // rounded towards +infinity at the 36th place; nullptr: overflow
  const char* down;  // towards -infinity
};

TEST(LedgerAmount, ProductsRoundOnceAtTheLastPlaceInTheDirectionAsked) {
  const LedgerProductCase cases[] = {
      {"0.1234567890123456789012345678", "3.141592653589793238462643383", "0.387850941396970290534206277287566625",
       "0.387850941396970290534206277287566624"},
      {"-0.1234567890123456789012345678", "3.141592653589793238462643383", "-0.387850941396970290534206277287566624",
       "-0.387850941396970290534206277287566625"},
      {"44894.70", "0.623195555824052630", "27978.17752005409560806100", "27978.17752005409560806100"},
      {"4532132.344162", "7.036304512204433312", "31889463.263134736284483361524544",
       "31889463.263134736284483361524544"},
      {"0.000000000000000000000000001", "0.0000000000000000000000000001", "0.000000000000000000000000000000000001",
       "0.000000000000000000000000000000000000"},
      {"79228162514264337593543950335", "1", "79228162514264337593543950335", "79228162514264337593543950335"},
      {"79228162514264337593543950335", "1.0000000000000000000000000001", nullptr, nullptr},
  };
  for (const LedgerProductCase& c : cases) {
    const auto up = LedgerAmount::product(Dx(c.a), Dx(c.b), RoundingStrategy::Up);
    const auto down = LedgerAmount::product(Dx(c.a), Dx(c.b), RoundingStrategy::Down);
    if (c.up == nullptr) {
      EXPECT_FALSE(up || down) << c.a << " * " << c.b;
      continue;
    }
    ASSERT_TRUE(up && down) << c.a << " * " << c.b;
    EXPECT_EQ(up->to_string(), c.up);
    EXPECT_EQ(down->to_string(), c.down);
  }
}

TEST(LedgerAmount, SumsAreExactAndOnlyAMagnitudeBeyondTheLargestDecimalOverflows) {
  // 138155.58 less two buys of 18-decimal quantities at 2- and 6-decimal prices, and back.
  const LedgerAmount deposit = Dx("138155.58");
  const LedgerAmount first = *LedgerAmount::product(Dx("44894.70"), Dx("0.623195555824052630"), RoundingStrategy::Up);
  const LedgerAmount second =
      *LedgerAmount::product(Dx("62825.837488"), Dx("0.876053428479969896"), RoundingStrategy::Up);
  const LedgerAmount left = *deposit.minus(first)->minus(second);
  EXPECT_EQ(left.to_string(), "55138.612151458084842710738752");
  EXPECT_EQ(*left.plus(first)->plus(second), deposit);
  EXPECT_EQ(left.plus(first)->plus(second)->to_decimal().to_string(), "138155.58000000000000000000000");

  const LedgerAmount max = kMaxDecimal;
  const LedgerAmount tiny = Dx("0.0000000000000000000000000001");
  EXPECT_FALSE(max.plus(tiny));  // 2^96 - 1 with a fraction would be reported past what it is
  EXPECT_EQ(max.minus(tiny)->to_string(), "79228162514264337593543950334.9999999999999999999999999999");
  EXPECT_FALSE(max.plus(Dx("1")));
  EXPECT_FALSE(max.negated().minus(Dx("1")));
  EXPECT_EQ(max.negated().minus(max.negated())->to_string(), "0");
  EXPECT_TRUE(tiny > LedgerAmount() && tiny.negated() < LedgerAmount() && Dx("-0") == LedgerAmount());
  EXPECT_TRUE(LedgerAmount(Dx("1.50")) == LedgerAmount(Dx("1.5")) && LedgerAmount(Dx("1.5")) < Dx("1.51"));
}

TEST(LedgerAmount, ReportedAsTheFinestDecimalThatHoldsItInTheDirectionAsked) {
  const LedgerAmount big = *LedgerAmount(Dx("58983398.40"))
                                .minus(*LedgerAmount::product(Dx("0.00000001"), Dx("0.000000000000000001"),
                                                              RoundingStrategy::Up));
  EXPECT_EQ(big.to_string(), "58983398.39999999999999999999999999");
  EXPECT_EQ(big.to_decimal(RoundingStrategy::Down).to_string(), "58983398.399999999999999999999");
  EXPECT_EQ(big.to_decimal(RoundingStrategy::Up).to_string(), "58983398.400000000000000000000");
  EXPECT_EQ(big.negated().to_decimal(RoundingStrategy::Down).to_string(), "-58983398.400000000000000000000");
  EXPECT_EQ(LedgerAmount(Dx("-12.3400")).to_decimal().to_string(), "-12.3400");
  EXPECT_FALSE(LedgerAmount(kMaxDecimal).plus(Dx("0.5")));  // beyond the largest decimal: an overflow
}

TEST(LedgerAmount, PackedFormKeepsEveryAmountItCanHold) {
  const LedgerAmount amounts[] = {
      Dx("0"), Dx("-1"), Dx("138155.580000"), kMaxDecimal, LedgerAmount(kMaxDecimal).negated(),
      *LedgerAmount::product(Dx("0.1234567890123456789012345678"), Dx("0.5"), RoundingStrategy::Up),
      // 36 places and 2^119 - 1 < magnitude: packed only after trailing zeros go.
      *LedgerAmount(Dx("700")).plus(*LedgerAmount::product(Dx("0.000000000000000001"), Dx("0.000000000000000001"),
                                                           RoundingStrategy::Up))->minus(
          *LedgerAmount::product(Dx("0.000000000000000001"), Dx("0.000000000000000001"), RoundingStrategy::Up)),
  };
  for (const LedgerAmount& a : amounts) {
    const auto packed = a.pack();
    ASSERT_TRUE(packed) << a.to_string();
    EXPECT_EQ(LedgerAmount::unpack(*packed), a) << a.to_string();
    EXPECT_EQ(LedgerAmount::unpack(*packed).is_negative(), a.is_negative());
  }
  const LedgerAmount wide = *LedgerAmount(Dx("700")).plus(
      *LedgerAmount::product(Dx("0.000000000000000001"), Dx("0.000000000000000001"), RoundingStrategy::Up));
  EXPECT_FALSE(wide.pack());
}

// A slot's packed amount reported straight from its words is what the wide form reports, for
// magnitudes about every boundary (2^32 and 2^64 within the words, 2^96 where the decimal ends,
// 2^119 where the form ends), scales about 28 and 36, both signs and both directions.
TEST(LedgerAmount, PackedAmountsReportWhatTheWideFormReports) {
  using u128 = unsigned __int128;
  std::vector<u128> magnitudes;
  for (const unsigned bits : {32u, 64u, 96u, 119u}) {
    const u128 edge = u128{1} << bits;
    magnitudes.insert(magnitudes.end(), {edge - 2, edge - 1});
    if (bits < 119) magnitudes.insert(magnitudes.end(), {edge, edge + 1, edge | (edge >> 1)});
  }
  magnitudes.insert(magnitudes.end(), {0, 1, 10, u128{999999999999999999ull} * 1000000000u});
  std::mt19937_64 random(7);
  for (int i = 0; i < 40; ++i) {
    const u128 word = (u128{random()} << 64) | random();
    magnitudes.push_back(word >> (9 + random() % 110));  // 1 to 119 bits wide
  }
  constexpr std::uint64_t kMagnitudeHigh = LedgerAmount::Packed::kMagnitudeBits;
  for (const u128 m : magnitudes) {
    ASSERT_TRUE(m >> 119 == 0);
    for (const unsigned scale : {0u, 1u, 27u, 28u, 29u, 35u, 36u}) {
      for (const std::uint64_t sign : {std::uint64_t{0}, std::uint64_t{1} << 55}) {
        const LedgerAmount::Packed p{static_cast<std::uint64_t>(m),
                                     (static_cast<std::uint64_t>(m >> 64) & kMagnitudeHigh) | sign |
                                         std::uint64_t{scale} << 56};
        for (const RoundingStrategy way : {RoundingStrategy::Down, RoundingStrategy::Up}) {
          const Decimal straight = LedgerAmount::to_decimal(p, way), wide = LedgerAmount::unpack(p).to_decimal(way);
          ASSERT_TRUE(straight.mantissa() == wide.mantissa()) << LedgerAmount::unpack(p).to_string();
          ASSERT_EQ(straight.scale(), wide.scale()) << LedgerAmount::unpack(p).to_string();
          ASSERT_EQ(straight.is_negative(), wide.is_negative()) << LedgerAmount::unpack(p).to_string();
        }
      }
    }
  }
}

}  // namespace
}  // namespace vantrel
