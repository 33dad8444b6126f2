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

// Filters all of `in` into `out`, 8 KiB per read, stopping at the first
// failure. `text`: out is a text stream; `console`: no block is held back.
Result filter(std::FILE* in, std::FILE* out, bool text, bool console) {
  static std::uint8_t block[8192];
  std::uint8_t last = 0;
  for (;;) {
    const std::size_t n = std::fread(block, 1, sizeof block, in);
    if (n == 0) break;
    const std::size_t k = keep({block, n}, last);
    const bool written = text ? write_text(out, block, k)
                              : std::fwrite(block, 1, k, out) == k;
    if (!written || (console && std::fflush(out) != 0))
      return Result::kWriteFailed;
    if (std::ferror(in)) break;
  }
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
