// Each path of the keep rule and of the LF expansion over one 8 KiB block in
// cache, on the three kinds of input the bench script uses.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "keep.h"
#include "platform.h"

namespace {

constexpr std::size_t kBlock = 8192;

std::vector<std::uint8_t> input(const std::string& kind) {
  std::vector<std::uint8_t> v(kBlock);
  std::mt19937 rng(1);
  const std::string line = "The quick brown fox jumps over the lazy dog.\r\n";
  for (std::size_t i = 0; i < kBlock; ++i) {
    if (kind == "random") v[i] = static_cast<std::uint8_t>(rng());
    else if (kind == "utf16") v[i] = i % 2 ? 0 : static_cast<std::uint8_t>(line[i / 2 % line.size()]);
    else v[i] = static_cast<std::uint8_t>(line[i % line.size()]);
  }
  return v;
}

void keep_path(benchmark::State& state, tovrin::KeepPath path, std::string kind) {
  if (!path.supported) {
    state.SkipWithError("this CPU lacks the path");
    return;
  }
  const std::vector<std::uint8_t> src = input(kind);
  std::vector<std::uint8_t> buf(kBlock);
  std::uint8_t last = 0;
  for (auto _ : state) {
    std::memcpy(buf.data(), src.data(), kBlock);  // the kernel works in place
    benchmark::DoNotOptimize(path.fn(buf.data(), kBlock, last));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBlock));
}

void copy_only(benchmark::State& state) {
  const std::vector<std::uint8_t> src = input("ascii");
  std::vector<std::uint8_t> buf(kBlock);
  for (auto _ : state) {
    std::memcpy(buf.data(), src.data(), kBlock);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBlock));
}

void expand_path(benchmark::State& state, tovrin::ExpandPath path, std::string kind) {
  if (!path.supported) {
    state.SkipWithError("this CPU lacks the path");
    return;
  }
  std::vector<std::uint8_t> src = input(kind);
  std::uint8_t last = 0;
  src.resize(tovrin::keep(src, last));  // expansion sees kept bytes only
  std::vector<std::uint8_t> dst(2 * src.size() + 64);
  for (auto _ : state) {
    benchmark::DoNotOptimize(path.fn(src.data(), src.size(), dst.data()));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * src.size()));
}

const bool registered = [] {
  benchmark::RegisterBenchmark("memcpy_8k_baseline", copy_only);
  for (const char* kind : {"utf16", "random", "ascii"}) {
    for (const tovrin::KeepPath& p : tovrin::keep_paths())
      benchmark::RegisterBenchmark((std::string("keep/") + p.name + "/" + kind).c_str(),
                                   keep_path, p, std::string(kind));
    for (const tovrin::ExpandPath& p : tovrin::expand_paths())
      benchmark::RegisterBenchmark((std::string("expand/") + p.name + "/" + kind).c_str(),
                                   expand_path, p, std::string(kind));
  }
  return true;
}();

}  // namespace

BENCHMARK_MAIN();
