// libFuzzer target: every keep path and every LF expansion path must agree
// with the portable reference on any bytes, from either starting state.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "keep.h"
#include "platform.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t start = data[0] & 1 ? tovrin::kCR : 0;
  ++data;
  --size;
  const auto keep_paths = tovrin::keep_paths();
  std::vector<std::uint8_t> want(data, data + size), got;
  std::uint8_t want_last = start;
  const std::size_t kept = keep_paths[0].fn(want.data(), size, want_last);
  for (const tovrin::KeepPath& p : keep_paths) {
    if (!p.supported) continue;
    got.assign(data, data + size);
    std::uint8_t last = start;
    if (p.fn(got.data(), size, last) != kept || last != want_last ||
        std::memcmp(got.data(), want.data(), kept) != 0)
      std::abort();
  }
  const auto expand_paths = tovrin::expand_paths();
  std::vector<std::uint8_t> ref(2 * size + 64), out(2 * size + 64);
  const std::size_t wide = expand_paths[0].fn(data, size, ref.data());
  for (const tovrin::ExpandPath& p : expand_paths)
    if (p.supported && (p.fn(data, size, out.data()) != wide ||
                        std::memcmp(out.data(), ref.data(), wide) != 0))
      std::abort();
  return 0;
}
