// Plain models of what the program must produce, for comparing against.
#pragma once

#include <cstdint>
#include <random>
#include <string>

namespace model {

// The keep rule, byte by byte, exactly as a reader would state it.
inline std::string keep(const std::string& in, unsigned char& last) {
  std::string out;
  for (const char c : in) {
    const auto b = static_cast<unsigned char>(c);
    if (b == 0 || b >= 0x80) continue;
    if (b == 0x0D && last == 0x0D) continue;
    last = b;
    out += c;
  }
  return out;
}

inline std::string keep(const std::string& in) {
  unsigned char last = 0;
  return keep(in, last);
}

// A text stream: every LF written as CR LF.
inline std::string text(const std::string& in) {
  std::string out;
  for (const char c : in) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

// Random bytes weighted towards the ones the rule cares about.
inline std::string bytes(std::mt19937& rng, std::size_t n) {
  static const char interesting[] = {'\r', '\n', '\0', '\x80', '\xff', 'A'};
  std::string s(n, '\0');
  for (char& c : s) {
    const unsigned r = rng();
    c = (r & 3) != 0 ? interesting[(r >> 2) % sizeof interesting]
                     : static_cast<char>(r >> 8);
  }
  return s;
}

}  // namespace model
