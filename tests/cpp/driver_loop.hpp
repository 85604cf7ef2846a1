#pragma once
// The line loop of a differential driver: each input line is one case, answered
// by one output line; a line "sync" is echoed and flushes what was answered, so
// the test can read a chunk's answers before it sends the next chunk.
#include <iostream>
#include <string>
#include <string_view>

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
