#pragma once
// What the differential drivers share: the line loop, and how a decimal is answered.
#include <iostream>
#include <string>
#include <string_view>

#include "vantrel/param/decimal.hpp"

// "-123:2" for -1.23: the mantissa's digits, then the scale.
inline std::string show_decimal(vantrel::Decimal d) {
  unsigned __int128 m = d.mantissa();
  char buf[48];
  char* p = buf + sizeof buf;
  do {
    *--p = static_cast<char>('0' + static_cast<unsigned>(m % 10));
    m /= 10;
  } while (m != 0);
  std::string out = d.is_negative() ? "-" : "";
  out.append(p, buf + sizeof buf);
  out += ':' + std::to_string(d.scale());
  return out;
}

// Each input line is one case, answered by one output line; a line "sync" is
// echoed and flushes what was answered, so the test can read a chunk's answers
// before it sends the next chunk.

template <class Run>
int serve_cases(Run&& run) {
  std::ios::sync_with_stdio(false);
  std::string line;
  std::string out;
  while (std::getline(std::cin, line)) {
    const bool sync = line == "sync";
    out += sync ? std::string("sync") : run(std::string_view(line));
    out += '\n';
    if (sync || out.size() > (1u << 16)) {
      std::cout << out << std::flush;
      out.clear();
    }
  }
  std::cout << out << std::flush;
  return 0;
}
