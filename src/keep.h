// The keep rule: which input bytes reach the output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace tovrin {

inline constexpr std::uint8_t kCR = 0x0D;
inline constexpr std::uint8_t kLF = 0x0A;

// Drops from `block`, in place, every byte that is not 0x01..0x7F and every
// CR whose last written predecessor is a CR; the kept bytes end up at the
// front of `block` in their order. `last` is the byte most recently written
// (0 before anything was) and is updated, so consecutive calls behave as one
// call over the concatenated input. Returns the number of kept bytes.
std::size_t keep(std::span<std::uint8_t> block, std::uint8_t& last);

// One implementation of the rule, with keep()'s contract on p[0..n).
using KeepFn = std::size_t (*)(std::uint8_t* p, std::size_t n,
                               std::uint8_t& last);

struct KeepPath {
  const char* name;
  KeepFn fn;
  bool supported;  // this CPU can run fn
};

// Every implementation built in, the portable reference first.
std::span<const KeepPath> keep_paths();

}  // namespace tovrin
