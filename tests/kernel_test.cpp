// The keep rule and the text-stream expansion, on byte blocks, every path
// this build has against the plain model.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "keep.h"
#include "model.h"
#include "platform.h"

namespace {

using Bytes = std::string;

// Runs `path` over `in` split into blocks of `block` bytes, carrying state.
Bytes run_keep(tovrin::KeepFn fn, const Bytes& in, std::size_t block,
               std::uint8_t last = 0) {
  Bytes out;
  for (std::size_t at = 0; at < in.size(); at += block) {
    std::vector<std::uint8_t> buf(in.begin() + static_cast<long>(at),
                                  in.begin() + static_cast<long>(std::min(in.size(), at + block)));
    const std::size_t k = fn(buf.data(), buf.size(), last);
    out.append(buf.begin(), buf.begin() + static_cast<long>(k));
  }
  return out;
}

Bytes keep_all(const Bytes& in) {
  std::uint8_t last = 0;
  std::vector<std::uint8_t> buf(in.begin(), in.end());
  const std::size_t k = tovrin::keep(buf, last);
  return Bytes(buf.begin(), buf.begin() + static_cast<long>(k));
}

TEST(KeepRule, Cases) {
  const struct {
    Bytes in, out;
  } cases[] = {
      {"", ""},
      {Bytes("\0\x80\xff\xfe\x81", 5), ""},
      {"\xff\xfe" "A", "A"},
      {"\xef\xbb\xbf" "A", "A"},
      {Bytes("A\0\r\0\n\0", 6), "A\r\n"},
      {Bytes("\xff\xfe" "A\0\r\0\n\0", 8), "A\r\n"},
      {Bytes("\r\0\r\n\0", 5), "\r\n"},
      {"\r\r\r", "\r"},
      {"\r" "A" "\r", "\rA\r"},
      {"\r\n\r", "\r\n\r"},
      {Bytes("\r\0\r", 3), "\r"},
      {"\r\xff\r", "\r"},
      {"\r\r\n", "\r\n"},
      {"\r\n\n", "\r\n\n"},
      {"\r", "\r"},
      {"\x01\x0c\x0e\x1f\x1a\t\x7f", "\x01\x0c\x0e\x1f\x1a\t\x7f"},
  };
  for (const auto& c : cases) EXPECT_EQ(keep_all(c.in), c.out) << testing::PrintToString(c.in);
}

TEST(KeepRule, StateCarriesAcrossBlocks) {
  // The spare CR of a read buffer plus one.
  Bytes in(8193, 'A');
  in[8191] = in[8192] = '\r';
  EXPECT_EQ(run_keep(tovrin::keep_paths()[0].fn, in, 8192), in.substr(0, 8192));
  // A CR run broken by dropped bytes and a block edge still collapses.
  EXPECT_EQ(run_keep(tovrin::keep_paths()[0].fn, Bytes("\r\0\0\r", 4), 2), "\r");
  // Starting after a written CR; a block of only dropped bytes keeps it.
  EXPECT_EQ(run_keep(tovrin::keep_paths()[0].fn, "\rA", 8192, '\r'), "A");
  std::uint8_t last = '\r';
  std::vector<std::uint8_t> junk{0, 0x80, 0xff};
  EXPECT_EQ(tovrin::keep(junk, last), 0u);
  EXPECT_EQ(last, '\r');
}

TEST(KeepRule, RandomBlocksMatchModel) {
  std::mt19937 rng(7);
  for (int round = 0; round < 200; ++round) {
    const Bytes in = model::bytes(rng, rng() % 40000);
    const std::size_t block = 1 + rng() % 9000;
    EXPECT_EQ(run_keep([](std::uint8_t* p, std::size_t n, std::uint8_t& l) {
                return tovrin::keep({p, n}, l);
              }, in, block),
              model::keep(in))
        << "round " << round << " block " << block;
  }
}

// Every vector path against the portable one.
class KeepPaths : public testing::TestWithParam<tovrin::KeepPath> {};

TEST_P(KeepPaths, MatchReference) {
  const tovrin::KeepPath& path = GetParam();
  if (!path.supported) GTEST_SKIP() << "this CPU lacks " << path.name;
  const tovrin::KeepFn ref = tovrin::keep_paths()[0].fn;
  std::mt19937 rng(11);
  for (std::uint8_t last : {std::uint8_t{0}, tovrin::kCR}) {
    // All lengths, with CRs and dropped bytes placed at vector edges.
    for (std::size_t n = 0; n <= 300; ++n) {
      for (int round = 0; round < 8; ++round) {
        Bytes in = model::bytes(rng, n);
        if (round == 0 && n > 0) in.assign(n, '\r');
        if (round == 1) for (std::size_t i = 31; i < n; i += 32) in[i] = '\r';
        if (round == 2) for (std::size_t i = 0; i < n; i += 64) in[i] = '\r';
        ASSERT_EQ(run_keep(path.fn, in, 8192, last), run_keep(ref, in, 8192, last))
            << path.name << " n=" << n << " round=" << round << " last=" << int(last);
      }
    }
  }
  for (int round = 0; round < 300; ++round) {
    const Bytes in = model::bytes(rng, rng() % 20000);
    const std::size_t block = 1 + rng() % 8192;
    ASSERT_EQ(run_keep(path.fn, in, block), run_keep(ref, in, block)) << path.name;
  }
}

std::string path_name(const testing::TestParamInfo<tovrin::KeepPath>& p) { return p.param.name; }
INSTANTIATE_TEST_SUITE_P(All, KeepPaths, testing::ValuesIn(tovrin::keep_paths().begin(),
                                                          tovrin::keep_paths().end()),
                         path_name);

class ExpandPaths : public testing::TestWithParam<tovrin::ExpandPath> {};

TEST_P(ExpandPaths, MatchModel) {
  const tovrin::ExpandPath& path = GetParam();
  if (!path.supported) GTEST_SKIP() << "this CPU lacks " << path.name;
  std::mt19937 rng(5);
  const auto expand = [&](const Bytes& in) {
    std::vector<std::uint8_t> dst(2 * in.size() + 64);
    const std::size_t w = path.fn(reinterpret_cast<const std::uint8_t*>(in.data()),
                                  in.size(), dst.data());
    return Bytes(dst.begin(), dst.begin() + static_cast<long>(w));
  };
  for (std::size_t n = 0; n <= 300; ++n) {
    for (int round = 0; round < 4; ++round) {
      Bytes in = model::bytes(rng, n);
      if (round == 0) in.assign(n, '\n');
      if (round == 1) for (std::size_t i = 15; i < n; i += 16) in[i] = '\n';
      ASSERT_EQ(expand(in), model::text(in)) << path.name << " n=" << n;
    }
  }
  const Bytes big = model::bytes(rng, 8192);
  EXPECT_EQ(expand(big), model::text(big));
}

std::string expand_name(const testing::TestParamInfo<tovrin::ExpandPath>& p) { return p.param.name; }
INSTANTIATE_TEST_SUITE_P(All, ExpandPaths, testing::ValuesIn(tovrin::expand_paths().begin(),
                                                            tovrin::expand_paths().end()),
                         expand_name);

}  // namespace
