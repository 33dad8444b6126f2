#include "keep.h"

#include <array>
#include <cstring>

#include "cpu.h"

namespace tovrin {
namespace {

// The portable reference. dst may equal src or lie before it. Returns the
// number of bytes kept.
std::size_t keep_into(std::uint8_t* dst, const std::uint8_t* src,
                      std::size_t n, std::uint8_t& last) {
  constexpr std::uint64_t kOnes = 0x0101010101010101u;
  constexpr std::uint64_t kHigh = 0x8080808080808080u;
  const auto has_zero = [](std::uint64_t w) { return (w - kOnes) & ~w & kHigh; };
  bool cr = last == kCR;
  std::size_t k = 0, i = 0;
  // One byte, without branches on the data: always stored, kept by counting.
  const auto put = [&](std::uint8_t b) {
    const bool is_cr = b == kCR;
    const bool kept = static_cast<std::int8_t>(b) > 0 && !(is_cr && cr);
    dst[k] = b;
    k += kept;
    cr = kept ? is_cr : cr;
  };
  for (; i + 8 <= n; i += 8) {
    std::uint64_t w;
    std::memcpy(&w, src + i, 8);
    // Eight plain bytes, none of them NUL, high or CR, all stay.
    if (((w & kHigh) | has_zero(w) | has_zero(w ^ (kOnes * kCR))) == 0) {
      std::memmove(dst + k, &w, 8);
      k += 8;
      cr = false;
      continue;
    }
    // From the word already loaded: reading the block byte by byte while
    // writing into it costs more.
    for (unsigned j = 0; j < 64; j += 8) put(static_cast<std::uint8_t>(w >> j));
  }
  for (; i < n; ++i) put(src[i]);
  if (k != 0) last = dst[k - 1];
  return k;
}

std::size_t keep_scalar(std::uint8_t* p, std::size_t n, std::uint8_t& last) {
  return keep_into(p, p, n, last);
}

#ifdef TOVRIN_X86

// Over 64 bytes with P marking 0x01..0x7F and C marking CRs: a CR is dropped
// when the last byte before it that is not dropped outright is a CR. Dropped
// bytes propagate a carry through (~P | C) + C and CRs generate one, so the
// carry into each bit is exactly that condition. `carry` is "the last written
// byte is a CR" on entry and on return. Plain 64-bit arithmetic keeps this
// usable on 32-bit hosts.
inline std::uint64_t keep_mask(std::uint64_t P, std::uint64_t C,
                               unsigned& carry) {
  const std::uint64_t a = ~P | C;
  const std::uint64_t t = a + C;
  const std::uint64_t s = t + carry;
  const std::uint64_t carries = s ^ a ^ C;
  carry = static_cast<unsigned>(t < a) | static_cast<unsigned>(s < t);
  return P & ~(C & carries);
}

// For each 8-bit keep mask, the pshufb indices that pack its bytes down.
constexpr auto kPack = [] {
  std::array<std::array<std::uint8_t, 16>, 256> t{};
  for (unsigned m = 0; m < 256; ++m) {
    unsigned k = 0;
    for (unsigned i = 0; i < 8; ++i)
      if (m & (1u << i)) t[m][k++] = static_cast<std::uint8_t>(i);
  }
  return t;
}();

__attribute__((target("avx2"))) inline std::uint32_t bits(__m256i v) {
  return static_cast<std::uint32_t>(_mm256_movemask_epi8(v));
}

__attribute__((target("avx2,popcnt"))) std::size_t keep_avx2(
    std::uint8_t* p, std::size_t n, std::uint8_t& last) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i cr = _mm256_set1_epi8(static_cast<char>(kCR));
  unsigned carry = last == kCR;
  std::size_t i = 0, k = 0;
  for (; i + 64 <= n; i += 64) {
    const __m256i lo = _mm256_loadu_si256(reinterpret_cast<__m256i*>(p + i));
    const __m256i hi =
        _mm256_loadu_si256(reinterpret_cast<__m256i*>(p + i + 32));
    const std::uint64_t P =
        bits(_mm256_cmpgt_epi8(lo, zero)) |
        std::uint64_t{bits(_mm256_cmpgt_epi8(hi, zero))} << 32;
    const std::uint64_t C = bits(_mm256_cmpeq_epi8(lo, cr)) |
                            std::uint64_t{bits(_mm256_cmpeq_epi8(hi, cr))} << 32;
    const std::uint64_t m = keep_mask(P, C, carry);
    if (m == ~std::uint64_t{0}) {
      if (k != i) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(p + k), lo);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(p + k + 32), hi);
      }
      k += 64;
      continue;
    }
    // Each 8-byte group is loaded before anything is stored over it: k never
    // passes the group's start.
    for (unsigned g = 0; g < 64; g += 8) {
      const unsigned mg = static_cast<unsigned>(m >> g) & 0xFF;
      const __m128i v =
          _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + i + g));
      const __m128i idx =
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(kPack[mg].data()));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(p + k),
                       _mm_shuffle_epi8(v, idx));
      k += static_cast<unsigned>(__builtin_popcount(mg));
    }
  }
  if (k != 0) last = p[k - 1];
  return k + keep_into(p + k, p + i, n - i, last);
}

__attribute__((target("avx512f,avx512bw,avx512vbmi2,popcnt")))
std::size_t keep_avx512(std::uint8_t* p, std::size_t n, std::uint8_t& last) {
  const __m512i zero = _mm512_setzero_si512();
  const __m512i cr = _mm512_set1_epi8(static_cast<char>(kCR));
  unsigned carry = last == kCR;
  std::size_t i = 0, k = 0;
  // Compress into a register and store it whole: the compress-to-memory form
  // is far slower on some cores. The store stays inside p[0..i+64).
  for (; i + 64 <= n; i += 64) {
    const __m512i v = _mm512_loadu_si512(p + i);
    const std::uint64_t m = keep_mask(_mm512_cmpgt_epi8_mask(v, zero),
                                      _mm512_cmpeq_epi8_mask(v, cr), carry);
    if (m == ~std::uint64_t{0}) {
      // Nothing dropped: text often keeps every byte, and in place.
      if (k != i) _mm512_storeu_si512(p + k, v);
      k += 64;
      continue;
    }
    _mm512_storeu_si512(p + k, _mm512_maskz_compress_epi8(m, v));
    k += static_cast<unsigned>(__builtin_popcountll(m));
  }
  if (i < n) {
    // Masked-off bytes load as 0, which the rule drops: they leave the carry
    // as it is.
    const __mmask64 tail = (std::uint64_t{1} << (n - i)) - 1;
    const __m512i v = _mm512_maskz_loadu_epi8(tail, p + i);
    const std::uint64_t m = keep_mask(_mm512_cmpgt_epi8_mask(v, zero),
                                      _mm512_cmpeq_epi8_mask(v, cr), carry);
    const unsigned c = static_cast<unsigned>(__builtin_popcountll(m));
    _mm512_mask_storeu_epi8(p + k, (std::uint64_t{1} << c) - 1,
                            _mm512_maskz_compress_epi8(m, v));
    k += c;
  }
  if (k != 0) last = p[k - 1];
  return k;
}

#endif  // TOVRIN_X86

}  // namespace

std::span<const KeepPath> keep_paths() {
  static const KeepPath table[] = {
      {"scalar", keep_scalar, true},
#ifdef TOVRIN_X86
      {"avx2", keep_avx2, cpu_has_avx2()},
      {"avx512", keep_avx512, cpu_has_avx512()},
#endif
  };
  return table;
}

std::size_t keep(std::span<std::uint8_t> block, std::uint8_t& last) {
  static const KeepFn fn = fastest(keep_paths());
  return fn(block.data(), block.size(), last);
}

}  // namespace tovrin
