// tovrin infile [outfile]: copies infile less its NUL bytes, its bytes from
// 0x80 up and each CR that would follow a written CR, into outfile or onto
// standard output as a text stream.
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "keep.h"
#include "messages.h"
#include "platform.h"

namespace {

using namespace tovrin;

enum class Result { kDone, kReadFailed, kWriteFailed };

// Writes a message through the standard error text stream; its result is of
// no use to anyone.
int fail(std::string_view message) {
  write_text(stderr, reinterpret_cast<const std::uint8_t*>(message.data()),
             message.size());
  return kStatusFailed;
}

// Writes kept bytes to the sink; false once it has failed.
bool emit(std::FILE* out, bool text, const std::uint8_t* p, std::size_t n) {
  return text ? write_text(out, p, n) : std::fwrite(p, 1, n, out) == n;
}

// Filters all of `in` into `out`, 8 KiB per read, stopping at the first
// failure. `text`: out is a text stream; `console`: no block is held back.
Result filter(std::FILE* in, std::FILE* out, bool text, bool console) {
  // Each read lands just behind the bytes kept so far, so kept bytes reach
  // the sink in large writes straight from here, with no copy in between.
  constexpr std::size_t kBlock = 8192;
  static std::uint8_t area[32 * kBlock];
  std::uint8_t last = 0;
  std::size_t kept = 0;
  for (;;) {
    const std::size_t n = std::fread(area + kept, 1, kBlock, in);
    if (n == 0) break;
    kept += keep({area + kept, n}, last);
    if (console || kept > sizeof area - kBlock) {
      if (!emit(out, text, area, kept) || (console && std::fflush(out) != 0))
        return Result::kWriteFailed;
      kept = 0;
    }
    if (std::ferror(in)) break;
  }
  if (!emit(out, text, area, kept)) return Result::kWriteFailed;
  return std::ferror(in) ? Result::kReadFailed : Result::kDone;
}

}  // namespace

int main(int argc, char** argv) {
  init_streams();
  if (argc != 2 && argc != 3) {
    write_text(stdout, reinterpret_cast<const std::uint8_t*>(kUsage.data()),
               kUsage.size());
    return kStatusOk;
  }
  std::FILE* in = open_input(argv[1]);
  if (in == nullptr) return fail(kOpenRead);
  std::FILE* out = stdout;
  bool console = false;
  if (argc == 3) {
    // Opening the input itself for writing would empty it before it is read.
    if (same_file(in, argv[2]) || (out = open_output(argv[2])) == nullptr) {
      std::fclose(in);
      return fail(kOpenWrite);
    }
  } else {
    console = prepare_stdout();
  }
  const Result result = filter(in, out, out == stdout, console);
  std::fclose(in);
  const bool closed = close_output(out);
  if (result == Result::kReadFailed) return fail(kReadError);
  if (result == Result::kWriteFailed || !closed) return fail(kWriteError);
  return kStatusOk;
}
