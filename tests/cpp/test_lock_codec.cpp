#include <gtest/gtest.h>

#include "lock_test_util.hpp"

#include <algorithm>
#include <ctime>
#include <string>
#include <vector>

#include "vantrel/core/lock_codec.hpp"

namespace vantrel {
namespace {

Decimal dec(const std::string& text) { return Decimal::parse(text).value; }

std::string hex(const std::vector<std::uint8_t>& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (std::uint8_t b : bytes) {
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

std::string unhex(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i + 1 < text.size(); i += 2) out += static_cast<char>(std::stoi(std::string(text.substr(i, 2)), nullptr, 16));
  return out;
}

std::string to_json(const Lock& lock) {
  std::string out(lock_json_size(lock), '\0');
  write_lock_json(lock, out.data());
  return out;
}
std::vector<std::uint8_t> to_msgpack(const Lock& lock) {
  std::vector<std::uint8_t> out(*lock_msgpack_size(lock));
  write_lock_msgpack(lock, out.data());
  return out;
}
std::vector<std::uint8_t> to_cbor(const Lock& lock) {
  std::vector<std::uint8_t> out(lock_cbor_size(lock));
  write_lock_cbor(lock, out.data());
  return out;
}
std::string bytes_of(const std::vector<std::uint8_t>& v) { return std::string(v.begin(), v.end()); }

std::vector<LockEntry> many(std::uint16_t group, int count) {
  std::vector<LockEntry> out;
  for (int i = 0; i < count; ++i) out.push_back({group, std::to_string(i % 10)});
  return out;
}

struct WriteCase {
  const char* name;
  std::vector<LockEntry> entries;
  std::string json, msgpack, cbor;  // hex for the binary forms
};

TEST(LockCodec, WritersAreByteExact) {
  const std::string p24 = "0.0000000000000000000001";  // 24 characters
  const WriteCase cases[] = {
      {"empty", {}, "[]", "90", "80"},
      {"example", {{0, "1.5"}, {7, "2"}}, R"([["1.5"],[7,"2"]])", "9291a3312e35920" "7a132", "8281633" "12e35820761" "32"},
      {"only group 7", {{7, "2"}}, R"([[],[7,"2"]])", "92909207a132", "828082076132"},
      {"scale kept", {{0, "-1.50"}, {0, "0.05"}}, R"([["-1.50","0.05"]])", "9192a52d312e3530a4302e3035",
       "8182652d312e3530643" "02e3035"},
      {"id 23", {{23, "1"}}, R"([[],[23,"1"]])", "92909217a131", "828082176131"},
      {"id 24", {{24, "1"}}, R"([[],[24,"1"]])", "92909218a131", "82808218186131"},
      {"id 127", {{127, "1"}}, R"([[],[127,"1"]])", "9290927fa131", "828082187f6131"},
      {"id 128", {{128, "1"}}, R"([[],[128,"1"]])", "929092cc80a131", "82808218806131"},
      {"id 255", {{255, "1"}}, R"([[],[255,"1"]])", "929092ccffa131", "82808218ff6131"},
      {"id 256", {{256, "1"}}, R"([[],[256,"1"]])", "929092cd0100a131", "8280821901006131"},
      {"id 65535", {{65535, "1"}}, R"([[],[65535,"1"]])", "929092cdffffa131", "82808219ffff6131"},
      {"24-character price", {{0, p24}}, "[[\"" + p24 + "\"]]", "9191b8" "302e30303030303030303030303030303030303030303031",
       "818178183" "02e30303030303030303030303030303030303030303031"},
  };
  for (const WriteCase& c : cases) {
    const Lock lock = lock_of(c.entries);
    EXPECT_EQ(to_json(lock), c.json) << c.name;
    EXPECT_EQ(hex(to_msgpack(lock)), c.msgpack) << c.name;
    EXPECT_EQ(hex(to_cbor(lock)), c.cbor) << c.name;
    // And the table's bytes read back as the lock they were written from.
    Lock from_json, from_msgpack, from_cbor;
    std::string error;
    EXPECT_TRUE(read_lock_json(c.json, from_json, error)) << c.name << ": " << error;
    EXPECT_TRUE(read_lock_msgpack(unhex(c.msgpack), from_msgpack, error)) << c.name << ": " << error;
    EXPECT_TRUE(read_lock_cbor(unhex(c.cbor), from_cbor, error)) << c.name << ": " << error;
    EXPECT_EQ(from_json, lock) << c.name;
    EXPECT_EQ(from_msgpack, lock) << c.name;
    EXPECT_EQ(from_cbor, lock) << c.name;
  }
}

// The header of each list at the boundaries of the count encodings.
TEST(LockCodec, CountHeadersAtTheirBoundaries) {
  struct Case {
    int count;  // prices in group 9, so the section holds count + 1 items
    std::string msgpack_section_header, cbor_section_header;
  };
  const Case cases[] = {
      {14, "9f", "8f"},           {15, "dc0010", "90"},       {22, "dc0017", "97"},
      {23, "dc0018", "9818"},     {65534, "dcffff", "99ffff"}, {65535, "dd00010000", "9a00010000"},
  };
  for (const Case& c : cases) {
    const Lock lock = lock_of(many(9, c.count));
    const std::string m = hex(to_msgpack(lock)), b = hex(to_cbor(lock));
    // outer header, empty default list, then the section's header and the id 9.
    EXPECT_EQ(m.substr(0, 4 + c.msgpack_section_header.size() + 2), "9290" + c.msgpack_section_header + "09") << c.count;
    EXPECT_EQ(b.substr(0, 4 + c.cbor_section_header.size() + 2), "8280" + c.cbor_section_header + "09") << c.count;
    Lock back;
    std::string error;
    ASSERT_TRUE(read_lock_msgpack(bytes_of(to_msgpack(lock)), back, error)) << error;
    EXPECT_EQ(back, lock);
    Lock back_cbor;
    ASSERT_TRUE(read_lock_cbor(bytes_of(to_cbor(lock)), back_cbor, error)) << error;
    EXPECT_EQ(back_cbor, lock);
  }
  // The default list's own header: 15 and 16 prices.
  EXPECT_EQ(hex(to_msgpack(lock_of(many(0, 15)))).substr(0, 4), "919f");
  EXPECT_EQ(hex(to_msgpack(lock_of(many(0, 16)))).substr(0, 8), "91dc0010");
}

TEST(LockCodec, ReadersNormaliseThroughPush) {
  struct Case {
    const char* json;
    std::vector<LockEntry> entries;
    const char* rewritten;
  };
  const Case cases[] = {
      {R"([[],[7,"1"],[3,"2"],[7,"3"]])", {{7, "1"}, {7, "3"}, {3, "2"}}, R"([[],[7,"1","3"],[3,"2"]])"},
      {R"([[],[9]])", {}, "[]"},
      {R"([[]])", {}, "[]"},
      {R"([[7,"1"]])", {{0, "7"}, {0, "1"}}, R"([["7","1"]])"},
      {R"([[1.5, 2, "1.50", "1e2", -3]])", {{0, "1.5"}, {0, "2"}, {0, "1.50"}, {0, "100"}, {0, "-3"}},
       R"([["1.5","2","1.50","100","-3"]])"},
      {" \n[ [ -0.0 ] ] \r\n\t", {{0, "0"}}, R"([["0"]])"},
      {R"([[1E-2, 0.25e1]])", {{0, "0.01"}, {0, "2.5"}}, R"([["0.01","2.5"]])"},
  };
  for (const Case& c : cases) {
    Lock lock;
    std::string error;
    ASSERT_TRUE(read_lock_json(c.json, lock, error)) << c.json << ": " << error;
    EXPECT_EQ(lock, lock_of(c.entries)) << c.json;
    EXPECT_EQ(to_json(lock), c.rewritten) << c.json;
  }
}

struct ErrorCase {
  std::string input;
  std::string message;
};

void expect_errors(bool (*read)(std::string_view, Lock&, std::string&), const std::vector<ErrorCase>& cases) {
  for (const ErrorCase& c : cases) {
    Lock lock;
    std::string error;
    EXPECT_FALSE(read(c.input, lock, error)) << c.message;
    EXPECT_EQ(error, c.message);
  }
}

TEST(LockCodec, JsonErrors) {
  const std::string price = "expected a Decimal type representing a fixed-point number";
  expect_errors(read_lock_json, {
      {"[[],[]]", "invalid length 0, expected non-default group section must start with a group_id at line 1 column 6"},
      {R"([[],[0,"1"]])", "default group must be encoded as the first sublist, not as a tagged section at line 1 column 6"},
      {R"([[],[70000,"1"]])", "invalid value: integer `70000`, expected u16 at line 1 column 10"},
      {R"([[],[-1,"1"]])", "invalid value: integer `-1`, expected u16 at line 1 column 7"},
      {R"([[],["7","1"]])", "invalid type: string \"7\", expected u16 at line 1 column 8"},
      {R"([[],[7.0,"1"]])", "invalid type: floating point `7.0`, expected u16 at line 1 column 8"},
      {R"([[],[18446744073709551615,"1"]])", "invalid value: integer `18446744073709551615`, expected u16 at line 1 column 25"},
      {R"([[],[18446744073709551616,"1"]])", "invalid type: floating point `1.8446744073709552e+19`, expected u16 at line 1 column 25"},
      {R"([["abc"]])", "invalid value: string \"abc\", " + price + " at line 1 column 7"},
      {"[[true]]", "invalid type: boolean `true`, " + price + " at line 1 column 6"},
      {"[[null]]", "invalid type: null, " + price + " at line 1 column 6"},
      {"[[[1]]]", "invalid type: sequence, " + price + " at line 1 column 3"},
      {"[5]", "invalid type: integer `5`, expected a list of prices for the default group at line 1 column 2"},
      {"[[],{}]", "invalid type: map, expected a non-default group section [group_id, prices...] at line 1 column 5"},
      {"\"x\"", "invalid type: string \"x\", expected a sequence whose first element is the default-group price list "
                "and whose remaining elements are [group_id, prices...] sections at line 1 column 3"},
      {"[] x", "trailing characters at line 1 column 4"},
      {"[]\n\n  ]", "trailing characters at line 3 column 3"},
      {"[[123456789012345678901234567]]", "invalid value: number `123456789012345678901234567`, " + price + " at line 1 column 29"},
      {"[[1.00000000000000000001]]", "invalid value: number `1.00000000000000000001`, " + price + " at line 1 column 24"},
      {"[[1e-30]]", "invalid value: number `1e-30`, " + price + " at line 1 column 7"},
      {"[[1e400]]", "invalid value: number `1e400`, " + price + " at line 1 column 7"},
      {R"([["1\u0000x"]])", "invalid value: string \"1\\0x\", " + price + " at line 1 column 12"},
      {"[\n [\"\xc3\xa9\", \"\xc3\xa9\xc3\xa9\"]]", "invalid value: string \"\xc3\xa9\", " + price + " at line 2 column 5"},
      {"[\n[1,\n2],\n[3,\nnull]]", "invalid type: null, " + price + " at line 5 column 4"},
      {"", "syntax error while parsing value - unexpected end of input; expected '[', '{', or a literal at line 1 column 0"},
      {"[[tru", "syntax error while parsing value - invalid literal; last read: '[[tru' at line 1 column 5"},
  });
}

TEST(LockCodec, MsgpackErrors) {
  const std::string price = "expected a Decimal type representing a fixed-point number";
  const std::string marker = "IO error while reading marker: failed to fill whole buffer";
  const std::string data = "IO error while reading data: failed to fill whole buffer";
  expect_errors(read_lock_msgpack, {
      {unhex(""), marker},
      {unhex("92"), marker},
      {unhex("9291a331"), data},
      {unhex("9291d9"), data},
      {unhex("ddffffffff90"), marker},                // a huge count, then the input ends
      {unhex("9191dbffffffff31"), data},              // a huge string length
      {unhex("9191c6ffffffff"), data},                // a huge binary length
      {unhex("929092cd"), data},
      {unhex("929090"), "invalid length 0, expected non-default group section must start with a group_id"},
      {unhex("92909200a131"), "default group must be encoded as the first sublist, not as a tagged section"},
      {unhex("929092d0ffa131"), "invalid value: integer `-1`, expected u16"},
      {unhex("929092ce00011170a131"), "invalid value: integer `70000`, expected u16"},
      {unhex("929092a137a131"), "invalid type: string \"7\", expected u16"},
      {unhex("929092cb401c000000000000a131"), "invalid type: floating point `7.0`, expected u16"},
      {unhex("9191a3616263"), "invalid value: string \"abc\", " + price},
      {unhex("9191a3318032"), "invalid value: string \"1\xef\xbf\xbd" "2\", " + price},
      {unhex("9191c3"), "invalid type: boolean `true`, " + price},
      {unhex("9191c40161"), "invalid type: byte array, " + price},
      {unhex("9191d40101"), "invalid type: extension, " + price},
      {unhex("9191cb7ff8000000000000"), "invalid value: floating point `nan`, " + price},
      {unhex("9191ca7f800000"), "invalid value: floating point `inf`, " + price},
      {unhex("9191cb7e37e43c8800759c"), "invalid value: floating point `1e+300`, " + price},
      {unhex("9191c1"), "syntax error while parsing MessagePack value: invalid byte: 0xC1"},
      {unhex("81a131a132"), "invalid type: map, expected a sequence whose first element is the default-group price "
                            "list and whose remaining elements are [group_id, prices...] sections"},
  });
}

TEST(LockCodec, CborErrors) {
  auto semantic = [](const std::string& m) { return "Semantic(None, \"" + m + "\")"; };
  const std::string price = "expected a Decimal type representing a fixed-point number";
  const std::string io = "Io(\"failed to fill whole buffer\")";
  expect_errors(read_lock_cbor, {
      {unhex(""), io},
      {unhex("82"), io},
      {unhex("7bffffffffffffffff"), io},
      {unhex("9bffffffffffffffff80"), io},  // a huge count: the one item read, then the end
      {unhex("81817bffffffffffffffff31"), io},
      {unhex("828080"), semantic("invalid length 0, expected non-default group section must start with a group_id")},
      {unhex("828040"), semantic("invalid length 0, expected non-default group section must start with a group_id")},
      {unhex("82808200"), semantic("default group must be encoded as the first sublist, not as a tagged section")},
      {unhex("82804100"), semantic("default group must be encoded as the first sublist, not as a tagged section")},
      {unhex("828082206131"), semantic("unexpected negative integer")},
      {unhex("8280823bffffffffffffffff6131"), semantic("unexpected negative integer")},
      {unhex("828082c2410161316131"), semantic("integer too large")},
      {unhex("8280824100"), semantic("invalid type: byte array, expected integer")},
      {unhex("8280821a000111706131"), semantic("invalid value: integer `70000`, expected u16")},
      {unhex("82808261376131"), semantic("invalid type: string, expected integer")},
      {unhex("828082f94700"), semantic("invalid type: floating point `7.0`, expected integer")},
      {unhex("4105"), semantic("invalid type: integer `5`, expected a list of prices for the default group")},
      {unhex("814105"), semantic("invalid type: integer `5`, expected tuple struct Price")},
      {unhex("82804207056131"), semantic("invalid type: integer `5`, expected tuple struct Price")},
      {unhex("05"), semantic("invalid type: integer `5`, expected array")},
      {unhex("8160"), semantic("invalid type: string, expected array")},
      {unhex("81a0"), semantic("invalid type: map, expected array")},
      {unhex("f6"), semantic("invalid type: null, expected array")},
      {unhex("f7"), semantic("invalid type: undefined, expected array")},
      {unhex("81f5"), semantic("invalid type: boolean `true`, expected array")},
      {unhex("ff"), semantic("invalid type: break, expected array")},
      {unhex("e0"), semantic("invalid type: simple, expected array")},
      {unhex("f820"), semantic("invalid type: simple, expected array")},
      {unhex("8181636162"), io},
      {unhex("818163616263"), semantic("invalid value: string \\\"abc\\\", " + price)},
      {unhex("8181f6"), semantic("invalid type: null, " + price)},
      {unhex("8181c16131"), semantic("invalid type: tag, " + price)},
      {unhex("8181f97c00"), semantic("invalid value: floating point `inf`, " + price)},
      {unhex("8181fb7ff8000000000000"), semantic("invalid value: floating point `nan`, " + price)},
      {unhex("1c"), "Syntax(0)"},
      {unhex("8181f810"), "Syntax(2)"},
      {unhex("81817f0561ff"), "Syntax(3)"},  // a chunk that is no text string
      {unhex("815f6131ff"), "Syntax(2)"},
      {unhex("9f80c6ff"), "Syntax(3)"},  // a tag in front of a break
      {unhex("8282"), io},
      // Every head form: reserved and indefinite-where-forbidden initial bytes, and each
      // argument width cut short.
      {unhex("1d"), "Syntax(0)"},
      {unhex("81813e"), "Syntax(2)"},
      {unhex("7c"), "Syntax(0)"},
      {unhex("9d"), "Syntax(0)"},
      {unhex("bc"), "Syntax(0)"},
      {unhex("dc"), "Syntax(0)"},
      {unhex("fe"), "Syntax(0)"},
      {unhex("1f"), "Syntax(0)"},
      {unhex("81813f"), "Syntax(2)"},
      {unhex("df80"), "Syntax(0)"},
      {unhex("818118"), io},
      {unhex("81813900"), io},
      {unhex("81811a000000"), io},
      {unhex("8181fb00000000000000"), io},
      {unhex("8181f93c"), io},
      {unhex("d8"), io},
      {unhex("db00000000000000"), io},
      {unhex("8181f8"), io},
      {unhex("81815b00000000000000030031"), io},
      {unhex("8181780331"), io},
      {unhex("f3"), semantic("invalid type: simple, expected array")},
      {unhex("f8ff"), semantic("invalid type: simple, expected array")},
      {unhex("f4"), semantic("invalid type: boolean `false`, expected array")},
      {unhex("bf"), semantic("invalid type: map, expected array")},
      {unhex("b90001"), semantic("invalid type: map, expected array")},
      {unhex("8181d5f93c00"), semantic("invalid type: tag, " + price)},
      {unhex("82808258010961316131"), semantic("invalid type: byte array, expected integer")},
  });
}

}  // namespace
}  // namespace vantrel

namespace vantrel {
namespace {

TEST(LockCodec, CborAcceptedForms) {
  struct Case {
    const char* name;
    std::string bytes;
    std::vector<LockEntry> entries;
  };
  const Case cases[] = {
      {"tags before every array", unhex("c6d820d9ffff82c0816131c0c782076132"), {{0, "1"}, {7, "2"}}},
      {"indefinite arrays", unhex("9f9f6131ff9f0761" "32ffff"), {{0, "1"}, {7, "2"}}},
      {"indefinite text", unhex("81817f6131622e35ff"), {{0, "1.5"}}},
      {"byte strings as arrays", unhex("834082" "076131" "4109"), {{7, "1"}}},
      {"indefinite byte string section", unhex("82805f4109ff"), {}},
      {"empty outer byte string", unhex("40"), {}},
      {"integer widths", unhex("8181" "1b0000000000000005"), {{0, "5"}}},
      {"negative 2^64", unhex("81813bffffffffffffffff"), {{0, "-18446744073709551616"}}},
      {"half float", unhex("8181f93e00"), {{0, "1.5"}}},
      {"single float", unhex("8181fa3dcccccd"), {{0, "0.10000000149011612"}}},
      {"negative zero", unhex("8181f98000"), {{0, "0"}}},
      {"id in one byte", unhex("82808218ff6131"), {{255, "1"}}},
      {"trailing bytes ignored", unhex("80ffff"), {}},
      {"tags of every width", unhex("d5d6d7d801d90101da00010000db0000000100000000c0d4818161" "31"), {{0, "1"}}},
      {"counts of every width", unhex("9b0000000000000002" "9a00000001" "6131" "990002" "1801" "6132"),
       {{0, "1"}, {1, "2"}}},
      {"texts of every width", unhex("8184" "780131" "79000132" "7a0000000133" "7b000000000000000134"),
       {{0, "1"}, {0, "2"}, {0, "3"}, {0, "4"}}},
      {"integers of every width", unhex("81" "9805" "17" "1818" "190100" "1a00010000" "38ff"),
       {{0, "23"}, {0, "24"}, {0, "256"}, {0, "65536"}, {0, "-256"}}},
      {"floats of every width", unhex("8184" "f9c100" "f90001" "fa3fc00000" "fbbff8000000000000"),
       {{0, "-2.5"}, {0, "0.00000005960464477539063"}, {0, "1.5"}, {0, "-1.5"}}},
      {"a section as a byte string", unhex("8280" "5801" "09"), {}},
  };
  for (const Case& c : cases) {
    Lock lock;
    std::string error;
    EXPECT_TRUE(read_lock_cbor(c.bytes, lock, error)) << c.name << ": " << error;
    EXPECT_EQ(lock, lock_of(c.entries)) << c.name;
  }
  // The scale of the text survives; the float's text is the shortest one.
  Lock lock;
  std::string error;
  ASSERT_TRUE(read_lock_cbor(unhex("81816431" "2e3530"), lock, error));
  EXPECT_EQ(to_json(lock), R"([["1.50"]])");
}

TEST(LockCodec, MsgpackAcceptsEveryIntegerWidth) {
  const char* ids[] = {"07", "cc07", "cd0007", "ce00000007", "cf0000000000000007", "d007", "d10007", "d200000007",
                       "d30000000000000007"};
  for (const char* id : ids) {
    Lock lock;
    std::string error;
    ASSERT_TRUE(read_lock_msgpack(unhex(std::string("9290") + "92" + id + "a131"), lock, error)) << id << error;
    EXPECT_EQ(lock, lock_of({{7, "1"}})) << id;
  }
  Lock lock;
  std::string error;
  ASSERT_TRUE(read_lock_msgpack(unhex("9193ff" "d3ffffffffffffff85" "cf8000000000000000"), lock, error)) << error;
  EXPECT_EQ(lock, lock_of({{0, "-1"}, {0, "-123"}, {0, "9223372036854775808"}}));
}

// Chains of tags are skipped in a loop and bounded; huge declared lengths allocate nothing.
TEST(LockCodec, HostileInputsFailCleanly) {
  Lock lock;
  std::string error;
  EXPECT_FALSE(read_lock_cbor(std::string(100000, '\xc6') + "\x80", lock, error));
  EXPECT_EQ(error, "RecursionLimitExceeded");
  EXPECT_FALSE(read_lock_cbor(std::string(100000, '\xd8') + "\x80", lock, error));  // d8 80: tag 128, then the end
  EXPECT_TRUE(error == "RecursionLimitExceeded") << error;
  EXPECT_TRUE(read_lock_cbor(std::string(126, '\xc6') + "\x80", lock, error)) << error;
  EXPECT_FALSE(read_lock_cbor(std::string(100000, '\x9f'), lock, error));
  EXPECT_FALSE(read_lock_json(std::string(100000, '['), lock, error));
  EXPECT_FALSE(read_lock_msgpack(std::string(100000, '\x91'), lock, error));
  EXPECT_FALSE(read_lock_msgpack(unhex("91dbffffffff") + "1", lock, error));
  EXPECT_EQ(error, "IO error while reading data: failed to fill whole buffer");
}

// 65,535 distinct sections, then 200,000 repeats of them: the result keeps first-arrival
// order, and the time stays linear. It is measured against a text of the same shape and
// length whose sections cycle over eight groups (a short scan each), in the same build and
// taking the best of a few runs, so machine load cancels out: a section scan per price
// would take hundreds of times longer.
TEST(LockCodec, ManySectionsDecodeInLinearTime) {
  constexpr int kPrices = 265535;
  std::string sections = "[[]", few = "[[]";
  for (int i = 0; i < kPrices; ++i) {
    const int id = i < 65535 ? 65535 - i : 1 + (i * 7919) % 65535;
    const std::string price = ",\"" + std::to_string(i % 10) + "\"]";
    sections += ",[" + std::to_string(id) + price;
    few += ",[" + std::to_string(65528 + i % 8) + price;
  }
  sections += "]";
  few += "]";
  // The time this thread spent on the processor, which other processes on a loaded
  // machine do not lengthen as they do the time on the clock.
  auto cpu_seconds = [] {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
  };
  auto seconds_to_read = [&](const std::string& json, Lock& lock) {
    lock = Lock();
    const double start = cpu_seconds();
    std::string error;
    EXPECT_TRUE(read_lock_json(json, lock, error)) << error;
    return cpu_seconds() - start;
  };
  // The best of five runs each, taken in turns. The same count of prices in 8 sections and
  // in 65,535 costs 1.1 to 1.6 times as much; a scan of the sections read so far for each
  // new one costs some 180 times as much.
  Lock lock, baseline;
  double few_seconds = 1e9, section_seconds = 1e9;
  for (int run = 0; run < 5; ++run) {
    few_seconds = std::min(few_seconds, seconds_to_read(few, baseline));
    section_seconds = std::min(section_seconds, seconds_to_read(sections, lock));
  }
  EXPECT_LT(section_seconds, 8 * few_seconds + 0.05) << section_seconds << " s against " << few_seconds << " s";
  EXPECT_EQ(baseline.sections().size(), 8u);
  ASSERT_EQ(lock.sections().size(), 65535u);
  EXPECT_EQ(lock.size(), static_cast<std::size_t>(kPrices));
  EXPECT_EQ(baseline.size(), static_cast<std::size_t>(kPrices));
  EXPECT_EQ(lock.sections()[0].policy_group_id, 65535);
  EXPECT_EQ(lock.sections()[65534].policy_group_id, 1);
  // Round trip through all three forms.
  std::string error;
  Lock from_msgpack, from_cbor, from_json;
  ASSERT_TRUE(read_lock_msgpack(bytes_of(to_msgpack(lock)), from_msgpack, error)) << error;
  ASSERT_TRUE(read_lock_cbor(bytes_of(to_cbor(lock)), from_cbor, error)) << error;
  ASSERT_TRUE(read_lock_json(to_json(lock), from_json, error)) << error;
  EXPECT_EQ(from_msgpack, lock);
  EXPECT_EQ(from_cbor, lock);
  EXPECT_EQ(from_json, lock);
}

TEST(LockCodec, MsgpackWriterRefusesCountsPastItsHeader) {
  // Only the sizes are computed: no lock that large is built.
  Lock lock;
  lock.push_price(0, Decimal::from_i64(1));
  EXPECT_TRUE(lock_msgpack_size(lock).has_value());
  EXPECT_EQ(kMsgpackCountTooLarge, "array too long for a MessagePack array header");
}

}  // namespace
}  // namespace vantrel

namespace vantrel {
namespace {

// Special floats in every width: refused as invalid values, or read as the decimal of their
// shortest text (a negative zero as 0, the smallest subnormal as 0 at scale 28).
TEST(LockCodec, SpecialFloatsInEveryWidth) {
  struct Case {
    std::string msgpack, cbor;  // the float item alone, hex
    const char* price;          // null: refused
  };
  const Case cases[] = {
      {"ca7fc00000", "f97e00", nullptr},          // NaN
      {"cb7ff0000000000000", "f97c00", nullptr},  // +inf
      {"caff800000", "faff800000", nullptr},      // -inf
      {"ca80000000", "f98000", "0"},              // -0.0
      {"cb8000000000000000", "fb8000000000000000", "0"},
      {"cb0000000000000001", "fb0000000000000001", "0"},  // 5e-324
      {"ca00000001", "fa00000001", "0"},                  // the smallest single subnormal
      {"cb7e37e43c8800759c", "fb7e37e43c8800759c", nullptr},  // 1e300: beyond 96 bits
      {"ca477fe000", "f97bff", "65504"},                      // the largest half
  };
  for (const Case& c : cases) {
    for (int form = 0; form < 2; ++form) {
      const std::string bytes = form == 0 ? unhex("9191" + c.msgpack) : unhex("8181" + c.cbor);
      Lock lock;
      std::string error;
      const bool ok = form == 0 ? read_lock_msgpack(bytes, lock, error) : read_lock_cbor(bytes, lock, error);
      if (c.price == nullptr) {
        EXPECT_FALSE(ok) << c.msgpack;
        EXPECT_NE(error.find("invalid value: floating point `"), std::string::npos) << error;
      } else {
        ASSERT_TRUE(ok) << c.msgpack << ": " << error;
        EXPECT_EQ(lock, lock_of({{0, c.price}})) << c.msgpack;
        EXPECT_FALSE(lock.default_prices()[0].is_negative()) << c.msgpack;
      }
    }
  }
}

}  // namespace
}  // namespace vantrel

namespace vantrel {
namespace {

std::string be32(std::size_t n) {
  std::string out;
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>(n >> shift);
  return out;
}

// A refusal quotes at most 64 bytes of the offending value, however large the input: each
// of these is a few MB, and its message stays a few hundred characters (the unbounded
// quote was 5-8 times the input).
TEST(LockCodec, RefusalsQuoteABoundedPrefix) {
  constexpr std::size_t kSize = 3 << 20;
  struct Case {
    std::string name;
    bool (*read)(std::string_view, Lock&, std::string&);
    std::string input;
  };
  std::vector<Case> cases;
  for (char c : {'\x01', '\0', '\x7f', '"', '\\'}) {
    const std::string body(kSize, c);
    const std::string name = "byte " + std::to_string(static_cast<int>(c));
    cases.push_back({"cbor price of " + name, read_lock_cbor, unhex("81817a") + be32(kSize) + body});
    cases.push_back({"msgpack price of " + name, read_lock_msgpack, unhex("9191db") + be32(kSize) + body});
  }
  std::string crlf;
  while (crlf.size() < kSize) crlf += "\r\n";
  for (const std::string& run : {std::string(kSize, '\n'), std::string(kSize, '\t'), crlf}) {
    cases.push_back({"json white space then a letter", read_lock_json, "[" + run + "x"});
    cases.push_back({"json white space after a price", read_lock_json, "[[\"1\"" + run + "x"});
  }
  cases.push_back({"json number", read_lock_json, "[[" + std::string(kSize, '1') + ".5]]"});
  for (const Case& c : cases) {
    Lock lock;
    std::string error;
    EXPECT_FALSE(c.read(c.input, lock, error)) << c.name;
    EXPECT_LT(error.size(), 700u) << c.name;
    EXPECT_NE(error.find(" (cut to its first 64 bytes)"), std::string::npos) << c.name << ": " << error.substr(0, 200);
  }
}

std::string repeat(std::string_view part, std::size_t times) {
  std::string out;
  for (std::size_t i = 0; i < times; ++i) out += part;
  return out;
}

// Up to the bound a message is what it always was; one byte past it, the quote is cut
// there (backing off to the start of a code point) and says so.
TEST(LockCodec, QuotesAreCutAtTheBound) {
  const std::string cut = " (cut to its first 64 bytes)";
  const std::string price = ", expected a Decimal type representing a fixed-point number";
  const std::string a64(64, 'a'), backslashes(64, '\\');
  auto msgpack = [](const std::string& text) { return unhex("9191d9") + static_cast<char>(text.size()) + text; };
  auto cbor = [](const std::string& text) { return unhex("818178") + static_cast<char>(text.size()) + text; };
  expect_errors(read_lock_msgpack, {
      {msgpack(a64), "invalid value: string \"" + a64 + "\"" + price},
      {msgpack(a64 + "a"), "invalid value: string \"" + a64 + "\"" + cut + price},
      {msgpack(std::string(63, 'a') + "\xc3\xa9"), "invalid value: string \"" + std::string(63, 'a') + "\"" + cut + price},
      {msgpack(backslashes + "x"), "invalid value: string \"" + std::string(128, '\\') + "\"" + cut + price},
  });
  // A CBOR text is read where it stands in the input: a value of exactly 64 bytes is whole
  // whatever byte follows it, a continuation byte included.
  const std::string a62e = std::string(62, 'a') + "\xc3\xa9", a61e = std::string(61, 'a') + "\xe2\x82\xac";
  auto semantic_price = [&](const std::string& quoted, const std::string& note) {
    return "Semantic(None, \"invalid value: string \\\"" + quoted + "\\\"" + note + price + "\")";
  };
  expect_errors(read_lock_cbor, {
      {cbor(a62e) + "\xa9", semantic_price(a62e, "")},
      {cbor(a61e) + "\x80\x80", semantic_price(a61e, "")},
      {cbor(a64) + "\x80", semantic_price(a64, "")},
      {cbor(a62e + "a"), semantic_price(a62e, cut)},
      {cbor(std::string(63, 'a') + "\xc3\xa9"), semantic_price(std::string(63, 'a'), cut)},
      {cbor(std::string(62, 'a') + "\xe2\x82\xac"), semantic_price(std::string(62, 'a'), cut)},
  });
  // The CBOR form quotes the message: the quoted value inside is escaped twice, as before.
  expect_errors(read_lock_cbor, {
      {cbor(backslashes), "Semantic(None, \"invalid value: string \\\"" + std::string(256, '\\') + "\\\"" + price + "\")"},
      {cbor(backslashes + "\""), "Semantic(None, \"invalid value: string \\\"" + std::string(256, '\\') + "\\\"" + cut +
                                     price + "\")"},
      {cbor("\"1\x01"), "Semantic(None, \"invalid value: string \\\"\\\\\\\"1\\\\u{1}\\\"" + price + "\")"},
  });
  expect_errors(read_lock_json, {
      {"[[\"" + a64 + "\"]]", "invalid value: string \"" + a64 + "\"" + price + " at line 1 column 68"},
      {"[[],[\"" + a64 + "a\"]]", "invalid type: string \"" + a64 + "\"" + cut + ", expected u16 at line 1 column 72"},
      {"[[" + std::string(64, '1') + "e-64]]", "invalid value: number `" + std::string(64, '1') + "`" + cut + price +
                                                 " at line 1 column 70"},
  });
  // The parser's own "last read" text: the '[', the run of line feeds, the stray letter. The
  // reader passes over long runs, which must not show: the quote reads as if every
  // character had been seen.
  for (std::size_t feeds : {62u, 63u, 64u, 65u, 66u, 67u, 500u}) {
    std::string last_read = "[";
    for (std::size_t i = 0; i < std::min<std::size_t>(feeds, 63); ++i) last_read += "<U+000A>";
    last_read += feeds <= 62 ? "x'" : "'" + cut;
    Lock lock;
    std::string error;
    EXPECT_FALSE(read_lock_json("[" + std::string(feeds, '\n') + "x", lock, error));
    EXPECT_EQ(error, "syntax error while parsing value - invalid literal; last read: '" + last_read + " at line " +
                         std::to_string(feeds + 1) + " column 1")
        << feeds;
  }
  // The parser shows a control byte as "<U+00XX>": the bound counts the bytes of the input,
  // so those eight characters typed in a string count eight, and a token of 64 bytes is
  // quoted whole whatever its shown length or the byte after it.
  const std::string tab_error = "syntax error while parsing value - invalid string: control character U+0009 (HT) "
                                "must be escaped to \\u0009 or \\t; last read: '";
  const std::string typed_a = repeat("<U+0041>", 200), typed_tab = repeat("<U+0009>", 200);
  expect_errors(read_lock_json, {
      {"[[\"" + typed_a + "\t\"]]", tab_error + "\"" + typed_a.substr(0, 63) + "'" + cut + " at line 1 column 1604"},
      {"[[\"" + typed_tab + "\t\"]]", tab_error + "\"" + typed_tab.substr(0, 63) + "'" + cut + " at line 1 column 1604"},
      {"[[\"" + typed_tab.substr(0, 62) + "\t\"]]", tab_error + "\"" + typed_tab.substr(0, 62) + "<U+0009>'" +
                                                        " at line 1 column 66"},
      {"[[\"" + typed_tab.substr(0, 63) + "\t\"]]", tab_error + "\"" + typed_tab.substr(0, 63) + "'" + cut +
                                                        " at line 1 column 67"},
      {"[[\"" + std::string(60, 'a') + "\xc3\xa9\t\xa9\"]]",
       tab_error + "\"" + std::string(60, 'a') + "\xc3\xa9<U+0009>' at line 1 column 65"},
      {"[[\"" + std::string(61, 'a') + "\xc3\xa9\t\"]]", tab_error + "\"" + std::string(61, 'a') + "\xc3\xa9'" + cut +
                                                               " at line 1 column 66"},
      {"[[\"" + std::string(62, 'a') + "\xc3\xa9\t\"]]", tab_error + "\"" + std::string(62, 'a') + "'" + cut +
                                                               " at line 1 column 67"},
      // 0x1F, the last control byte, is shown as "<U+001F>" and counts one byte.
      {"[[\"" + std::string(60, 'a') + "\x1f\"]]",
       "syntax error while parsing value - invalid string: control character U+001F (US) must be escaped to "
       "\\u001F; last read: '\"" + std::string(60, 'a') + "<U+001F>' at line 1 column 64"},
      {"[[\"" + std::string(61, 'a') + "\x1f\"]]",
       "syntax error while parsing value - invalid string: control character U+001F (US) must be escaped to "
       "\\u001F; last read: '\"" + std::string(61, 'a') + "<U+001F>' at line 1 column 65"},
      {"[[\"" + std::string(62, 'a') + "\x1f\"]]",
       "syntax error while parsing value - invalid string: control character U+001F (US) must be escaped to "
       "\\u001F; last read: '\"" + std::string(62, 'a') + "<U+001F>' at line 1 column 66"},
      {"[[\"" + std::string(63, 'a') + "\x1f\"]]",
       "syntax error while parsing value - invalid string: control character U+001F (US) must be escaped to "
       "\\u001F; last read: '\"" + std::string(63, 'a') + "'" + cut + " at line 1 column 67"},
  });
  // A token that goes on past a long run of white space: the run is passed over past its
  // first bytes, and the quote still shows the input's first 64 bytes.
  expect_errors(read_lock_json, {
      {"[[1," + std::string(100, '\n') + "x", "syntax error while parsing value - invalid literal; last read: '1," +
                                                  repeat("<U+000A>", 62) + "'" + cut + " at line 101 column 1"},
      {"[[\"1\"" + std::string(100, '\t') + "x", "syntax error while parsing array - invalid literal; last read: '\"1\"" +
                                                     repeat("<U+0009>", 61) + "'" + cut + "; expected ']' at line 1 column 106"},
  });
  // Inside a string nothing is passed over: a tab after a long run of spaces is an error.
  const std::string spaces(64, ' ');
  expect_errors(read_lock_json, {
      {"[[\"" + std::string(200, ' ') + "\"]]", "invalid value: string \"" + spaces + "\"" + cut + price + " at line 1 column 204"},
      {"[[\"" + std::string(200, ' ') + "\t\"]]", "syntax error while parsing value - invalid string: control character "
           "U+0009 (HT) must be escaped to \\u0009 or \\t; last read: '\"" + std::string(63, ' ') + "'" + cut + " at line 1 column 204"},
      {"[[\"\\\"" + std::string(200, ' ') + "\t\"]]", "syntax error while parsing value - invalid string: control character "
           "U+0009 (HT) must be escaped to \\u0009 or \\t; last read: '\"\\\"" + std::string(61, ' ') + "'" + cut + " at line 1 column 206"},
  });
}

// The JSON reader passes over long runs of white space only where a quick look finds one
// may stand: every run longer than 65 characters is found, wherever it starts.
TEST(LockCodec, JsonLongSpaceRunsAreFoundWhereverTheyStand) {
  for (std::size_t offset = 0; offset < 80; ++offset) {
    for (std::size_t run : {66u, 67u, 130u}) {
      for (char space : {' ', '\n', '\t', '\r'}) {
        const std::string text = std::string(offset, 'a') + std::string(run, space) + "x";
        EXPECT_TRUE(json_may_hold_long_space_run(text)) << offset << " " << run << " " << int(space);
      }
    }
  }
  std::string compact, short_runs;
  for (int i = 0; i < 100; ++i) {
    compact += "[[\"1.5\",\"2\"],[7,\"3\"]]";
    short_runs += std::string(7, ' ') + "[";
  }
  EXPECT_FALSE(json_may_hold_long_space_run(compact));
  EXPECT_FALSE(json_may_hold_long_space_run(short_runs));
  EXPECT_FALSE(json_may_hold_long_space_run(std::string(200, '\x80')));  // bytes past 0x7f are no spaces
}

// Arrays and tags together nest at most 128 levels: every tag counts, those in front of an
// array as long as it is open, and every array is a level, empty or not, definite or up to
// a break, a byte string too.
TEST(LockCodec, CborNestingLimitCountsEveryTag) {
  const std::string tag = "\xc6";
  auto tags = [&](std::size_t n) {
    std::string out;
    for (std::size_t i = 0; i < n; ++i) out += tag;
    return out;
  };
  struct Case {
    const char* name;
    std::string bytes;
    bool read;
  };
  const Case cases[] = {
      {"127 tags, an empty array", tags(127) + unhex("80"), true},
      {"128 tags, an empty array", tags(128) + unhex("80"), false},
      {"127 tags, an empty array up to a break", tags(127) + unhex("9fff"), true},
      {"128 tags, an empty array up to a break", tags(128) + unhex("9fff"), false},
      {"127 tags, an empty byte string", tags(127) + unhex("40"), true},
      {"128 tags, an empty byte string", tags(128) + unhex("40"), false},
      {"127 tags, an empty byte string in chunks", tags(127) + unhex("5fff"), true},
      {"128 tags, an empty byte string in chunks", tags(128) + unhex("5fff"), false},
      {"126 tags, an array holding an empty list", tags(126) + unhex("8180"), true},
      {"127 tags, an array holding an empty list", tags(127) + unhex("8180"), false},
      {"an array, 126 tags, an empty list", unhex("81") + tags(126) + unhex("80"), true},
      {"an array, 127 tags, an empty list", unhex("81") + tags(127) + unhex("80"), false},
      {"an array, 127 tags, an empty list up to a break", unhex("81") + tags(127) + unhex("9fff"), false},
      {"an array, 126 tags, an empty byte string", unhex("81") + tags(126) + unhex("40"), true},
      {"an array, 127 tags, an empty byte string", unhex("81") + tags(127) + unhex("40"), false},
      {"an array, 127 tags, an empty byte string in chunks", unhex("81") + tags(127) + unhex("5fff"), false},
      {"126 tags, an array holding a price list", tags(126) + unhex("81816131"), true},
      {"127 tags, an array holding a price list", tags(127) + unhex("81816131"), false},
      {"126 tags, an array, a tag inside", tags(126) + unhex("81") + tag + unhex("80"), false},
      {"125 tags, an array, a tag inside", tags(125) + unhex("81") + tag + unhex("80"), true},
      {"257 levels", tags(128) + unhex("81") + tags(127) + unhex("816131"), false},
      {"a byte string is an array", tags(128) + unhex("4100"), false},
      {"a section as a byte string behind 126 tags", unhex("8280") + tags(126) + unhex("4107"), true},
      {"a section as a byte string behind 127 tags", unhex("8280") + tags(127) + unhex("4107"), false},
      // A closed array gives back its level and its tags' levels: sibling lists each as
      // deep as the limit allows.
      {"two tagged lists", unhex("82") + tags(126) + unhex("816131") + tags(126) + unhex("82016131"), true},
      {"two tagged lists up to breaks",
       unhex("9f") + tags(126) + unhex("9f6131ff") + tags(126) + unhex("9f016131ffff"), true},
      {"two tagged byte strings in chunks", unhex("83") + tags(126) + unhex("5fff") + tags(126) + unhex("5f4101ff") +
                                                tags(126) + unhex("5f4102ff"), true},
      {"two tagged lists, the second one too deep",
       unhex("82") + tags(126) + unhex("816131") + tags(127) + unhex("82016131"), false},
  };
  for (const Case& c : cases) {
    Lock lock;
    std::string error;
    EXPECT_EQ(read_lock_cbor(c.bytes, lock, error), c.read) << c.name << ": " << error;
    if (!c.read) {
      EXPECT_EQ(error, "RecursionLimitExceeded") << c.name;
    }
  }
}

// MessagePack has no tags and nests by its arrays alone, which the layout stops at the
// third level, an empty one as a full one.
TEST(LockCodec, MsgpackThirdLevelRefusedEmptyOrNot) {
  const std::string price = "invalid type: sequence, expected a Decimal type representing a fixed-point number";
  expect_errors(read_lock_msgpack, {
      {unhex("919190"), price},
      {unhex("919191a131"), price},
      {unhex("9191dc0000"), price},
      {unhex("92909290"), "invalid type: sequence, expected u16"},
      {unhex("929092dd00000000"), "invalid type: sequence, expected u16"},
  });
}

TEST(LockCodec, CborMalformedWhateverFollows) {
  // A simple value in an extra byte below 32 is malformed, wherever it stands.
  for (int value = 0; value < 0x20; ++value) {
    Lock lock;
    std::string error;
    const std::string item = unhex("f8") + static_cast<char>(value);
    EXPECT_FALSE(read_lock_cbor(item, lock, error)) << value;
    EXPECT_EQ(error, "Syntax(0)") << value;
    EXPECT_FALSE(read_lock_cbor(unhex("8181") + item, lock, error)) << value;
    EXPECT_EQ(error, "Syntax(2)") << value;
  }
  // A chunk of the wrong kind in a string of indefinite length: no later byte can help,
  // whatever length it declares.
  expect_errors(read_lock_cbor, {
      {unhex("81817f5a00000002"), "Syntax(3)"},
      {unhex("5f71""0000ff"), "Syntax(1)"},
      {unhex("82805fdb00"), "Syntax(3)"},
      {unhex("81817f7f"), "Syntax(3)"},
      {unhex("5f5f"), "Syntax(1)"},
      {unhex("5f4200"), "Io(\"failed to fill whole buffer\")"},  // the right kind, cut short
      {unhex("81817f62"), "Io(\"failed to fill whole buffer\")"},
  });
}

// Input that ends inside a string of indefinite length, between its chunks, is cut short:
// a later byte could still complete it.
TEST(LockCodec, CborInputEndingInsideAStringInChunksIsTruncated) {
  const std::string io = "Io(\"failed to fill whole buffer\")";
  expect_errors(read_lock_cbor, {
      {unhex("5f"), io},
      {unhex("82805f410740"), io},
      {unhex("5f40"), io},
      {unhex("815f"), io},
      {unhex("81817f"), io},
      {unhex("81817f6131"), io},
      {unhex("81817f60"), io},
      {unhex("82805f4107"), io},
  });
}

}  // namespace
}  // namespace vantrel
