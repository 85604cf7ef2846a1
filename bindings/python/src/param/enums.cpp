// Parsers of the side and position enumerations. They keep no state.
#include "param/enums.hpp"

#include <array>
#include <string>

#include "toolkit/convert.hpp"
#include "toolkit/errors.hpp"
#include "vantrel/core/debug_text.hpp"
#include "vantrel/param/text.hpp"

namespace vantrel::py {
namespace {

// One enumeration's words and texts: the words in member order.
struct EnumWords {
  std::array<std::string_view, 2> words;
  const char* not_a_str;     // TypeError when the object is not a str
  const char* unknown_head;  // "invalid position side " ...
  const char* unknown_tail;  // ... "; expected 'long' or 'short'"
};

constexpr EnumWords kSide{{"buy", "sell"}, nullptr, "invalid side ", "; expected 'buy' or 'sell'"};
constexpr EnumWords kPositionSide{{"long", "short"},
                                  "position_side must be a str or vantrel.PositionSide",
                                  "invalid position side ",
                                  "; expected 'long' or 'short'"};
constexpr EnumWords kPositionMode{{"netting", "hedged"},
                                  "mode must be a str or vantrel.param.PositionMode",
                                  "invalid position mode ",
                                  "; expected 'netting' or 'hedged'"};
constexpr EnumWords kPositionEffect{{"open", "close"},
                                    "position_effect must be a str or vantrel.PositionEffect",
                                    "invalid position effect ",
                                    "; expected 'open' or 'close'"};

bool ascii_iequals(std::string_view text, std::string_view lower_word) noexcept {
  if (text.size() != lower_word.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lower_word[i]) return false;
  }
  return true;
}

// The member index of a trimmed, case-folded word; -1 when none matches.
int match_word(const EnumWords& e, std::string_view trimmed) noexcept {
  for (std::size_t i = 0; i < e.words.size(); ++i)
    if (ascii_iequals(trimmed, e.words[i])) return static_cast<int>(i);
  return -1;
}

std::string unknown_word_message(const EnumWords& e, std::string_view trimmed) {
  std::string lowered(trimmed);
  for (char& c : lowered)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  std::string message = e.unknown_head;
  append_debug_quoted(message, lowered);
  message += e.unknown_tail;
  return message;
}

// The position parsers refuse an unknown word with a TypeError that displays the
// ValueError it stands for.
int parse_position_word(const EnumWords& e, PyObject* obj) {
  if (!PyUnicode_Check(obj)) throw_error(PyExc_TypeError, e.not_a_str);
  std::string_view trimmed = trim_unicode_whitespace(utf8_of(obj));
  int index = match_word(e, trimmed);
  if (index < 0) throw_error(PyExc_TypeError, cat("ValueError: ", unknown_word_message(e, trimmed)));
  return index;
}

}  // namespace

Side parse_side(std::string_view text) {
  std::string_view trimmed = trim_unicode_whitespace(text);
  int index = match_word(kSide, trimmed);
  if (index < 0) throw_error(PyExc_ValueError, unknown_word_message(kSide, trimmed));
  return static_cast<Side>(index);
}

PositionSide parse_position_side(PyObject* obj) {
  return static_cast<PositionSide>(parse_position_word(kPositionSide, obj));
}
PositionMode parse_position_mode(PyObject* obj) {
  return static_cast<PositionMode>(parse_position_word(kPositionMode, obj));
}
PositionEffect parse_position_effect(PyObject* obj) {
  return static_cast<PositionEffect>(parse_position_word(kPositionEffect, obj));
}

Ref position_effect_to_py(std::optional<PositionEffect> effect) {
  if (!effect) return Ref();
  Ref module = Ref::steal(PyImport_ImportModule("vantrel.param"));
  if (!module) throw_pending();
  Ref enum_class = Ref::steal(PyObject_GetAttrString(module.get(), "PositionEffect"));
  if (!enum_class) throw_pending();
  Ref text = make_str(*effect == PositionEffect::Open ? "OPEN" : "CLOSE");
  Ref member = Ref::steal(PyObject_CallFunctionObjArgs(enum_class.get(), text.get(), nullptr));
  if (!member) throw_pending();
  return member;
}

}  // namespace vantrel::py
