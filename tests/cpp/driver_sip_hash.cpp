// Reads lines "K0 K1 MESSAGE" (the key's two words and the message's bytes, in hex) and prints
// for each the SipHash-1-3 of the message under the key, once in one call and once fed to a
// stream in three pieces, as two hex words. The Python suite checks both against a reference
// written from the algorithm's definition.
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>

#include "vantrel/param/sip_hash.hpp"

int main() {
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream in(line);
    std::string k0, k1, hex;
    in >> k0 >> k1 >> hex;
    std::string message;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
      message.push_back(static_cast<char>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    const vantrel::SipKey key{std::stoull(k0, nullptr, 16), std::stoull(k1, nullptr, 16)};
    const std::string_view m(message);
    const std::size_t a = m.size() / 3, b = 2 * m.size() / 3 + 1 > m.size() ? m.size() : 2 * m.size() / 3 + 1;
    const std::uint64_t whole = vantrel::sip_hash13(key, m);
    const std::uint64_t pieces =
        vantrel::SipStream(key).add_bytes(m.substr(0, a)).add_bytes(m.substr(a, b - a)).add_bytes(m.substr(b)).finish();
    std::printf("%016llx %016llx\n", static_cast<unsigned long long>(whole), static_cast<unsigned long long>(pieces));
  }
  return 0;
}
