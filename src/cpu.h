// Which vector instructions the running CPU offers, and picking by them.
#pragma once

#include <span>

namespace tovrin {

// The fn of the last entry in `paths` that this CPU supports; tables list
// the portable path first and the widest last.
template <class Path>
auto fastest(std::span<const Path> paths) {
  auto fn = paths[0].fn;
  for (const Path& p : paths)
    if (p.supported) fn = p.fn;
  return fn;
}

}  // namespace tovrin

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#define TOVRIN_X86 1
#include <immintrin.h>

namespace tovrin {

inline bool cpu_has_avx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt");
}

// AVX-512 with byte compress and expand (VBMI2), plus BMI2.
inline bool cpu_has_avx512() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512f") &&
         __builtin_cpu_supports("avx512bw") &&
         __builtin_cpu_supports("avx512vl") &&
         __builtin_cpu_supports("avx512vbmi2") &&
         __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt");
}

}  // namespace tovrin
#endif
