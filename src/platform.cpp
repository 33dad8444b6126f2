#include "platform.h"

#include <sys/stat.h>

#include <cstring>

#include "cpu.h"
#include "keep.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace tovrin {
namespace {

// Large stream buffers let the host read and write in big blocks while the
// filter still asks for 8 KiB at a time.
constexpr std::size_t kInBuffer = 256 * 1024;
constexpr std::size_t kStdoutBuffer = 256 * 1024;
constexpr std::size_t kPipeBuffer = 64 * 1024;  // pipes take 64 KiB at most
char in_buffer[kInBuffer];
char stdout_buffer[kStdoutBuffer];

std::size_t expand_scalar(const std::uint8_t* src, std::size_t n,
                          std::uint8_t* dst) {
  std::uint8_t* o = dst;
  const std::uint8_t* end = src + n;
  while (src != end) {
    const void* lf = std::memchr(src, kLF, static_cast<std::size_t>(end - src));
    const std::uint8_t* stop = lf ? static_cast<const std::uint8_t*>(lf) : end;
    std::memcpy(o, src, static_cast<std::size_t>(stop - src));
    o += stop - src;
    src = stop;
    if (lf) {
      *o++ = kCR;
      *o++ = kLF;
      ++src;
    }
  }
  return static_cast<std::size_t>(o - dst);
}

#ifdef TOVRIN_X86
// 32 bytes at a time into up to 64. Each input byte owns two output slots, a
// CR slot used only by an LF and a data slot; pext squeezes out the unused CR
// slots, giving the positions the input expands into. 32-bit pdep and pext
// halves keep this usable on 32-bit hosts.
__attribute__((target("bmi2"))) inline std::uint32_t slots(std::uint32_t lf16) {
  return _pext_u32(0xAAAAAAAAu, _pdep_u32(lf16, 0x55555555u) | 0xAAAAAAAAu);
}

__attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi2,bmi2,popcnt")))
std::size_t expand_avx512(const std::uint8_t* src, std::size_t n,
                          std::uint8_t* dst) {
  const __m256i lf = _mm256_set1_epi8(static_cast<char>(kLF));
  const __m512i cr = _mm512_set1_epi8(static_cast<char>(kCR));
  std::size_t i = 0, o = 0;
  for (; i + 32 <= n; i += 32) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i));
    const std::uint32_t l = _mm256_cmpeq_epi8_mask(v, lf);
    if (l == 0) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + o), v);
      o += 32;
      continue;
    }
    const unsigned low = 16 + static_cast<unsigned>(__builtin_popcount(l & 0xFFFF));
    const std::uint64_t data =
        slots(l & 0xFFFF) | std::uint64_t{slots(l >> 16)} << low;
    _mm512_storeu_si512(dst + o, _mm512_mask_expand_epi8(
                                     cr, data, _mm512_castsi256_si512(v)));
    o += 32 + static_cast<unsigned>(__builtin_popcount(l));
  }
  return o + expand_scalar(src + i, n - i, dst + o);
}
#endif

#ifdef _WIN32
bool console(std::FILE* f) {
  DWORD mode;
  return GetConsoleMode(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f))),
                        &mode) != 0;
}
#else
bool console(std::FILE* f) { return isatty(fileno(f)) != 0; }
#endif

}  // namespace

std::span<const ExpandPath> expand_paths() {
  static const ExpandPath table[] = {
      {"scalar", expand_scalar, true},
#ifdef TOVRIN_X86
      {"avx512", expand_avx512, cpu_has_avx512()},
#endif
  };
  return table;
}

#ifdef _WIN32

void init_streams() {}

// The C runtime's text mode already writes LF as CR LF.
bool write_text(std::FILE* out, const std::uint8_t* p, std::size_t n) {
  return std::fwrite(p, 1, n, out) == n;
}

bool same_file(std::FILE* in, const char* path) {
  // No inode numbers here: a file is its volume serial and file index.
  BY_HANDLE_FILE_INFORMATION a, b;
  if (!GetFileInformationByHandle(
          reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(in))), &a))
    return false;
  const HANDLE h = CreateFileA(
      path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const bool same = GetFileInformationByHandle(h, &b) &&
                    a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
                    a.nFileIndexHigh == b.nFileIndexHigh &&
                    a.nFileIndexLow == b.nFileIndexLow;
  CloseHandle(h);
  return same;
}

#else

void init_streams() {
  // Read-only /dev/null in a closed slot: writes to a closed standard output
  // still fail and are reported, closing it with nothing written succeeds,
  // and no file we open takes a standard stream's number.
  for (int fd = 0; fd <= 2; ++fd)
    if (fcntl(fd, F_GETFD) == -1) open("/dev/null", O_RDONLY);
}

bool write_text(std::FILE* out, const std::uint8_t* p, std::size_t n) {
  constexpr std::size_t kChunk = 8192;
  static const ExpandFn expand = fastest(expand_paths());
  static std::uint8_t wide[2 * kChunk + 64];
  while (n != 0) {
    const std::size_t c = n < kChunk ? n : kChunk;
    const std::size_t w = expand(p, c, wide);
    if (std::fwrite(wide, 1, w, out) != w) return false;
    p += c;
    n -= c;
  }
  return true;
}

bool same_file(std::FILE* in, const char* path) {
  struct stat a, b;
  return fstat(fileno(in), &a) == 0 && stat(path, &b) == 0 &&
         a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

#endif

std::FILE* open_input(const char* path) {
  std::FILE* f = std::fopen(path, "rb");
  if (f == nullptr) return nullptr;
  struct stat st;
  // A directory opens here but can't be read as a file.
  if (fstat(fileno(f), &st) != 0 || S_ISDIR(st.st_mode)) {
    std::fclose(f);
    return nullptr;
  }
  std::setvbuf(f, in_buffer, _IOFBF, kInBuffer);
  return f;
}

std::FILE* open_output(const char* path) {
  std::FILE* f = std::fopen(path, "wb");
  // The filter hands over kept bytes in blocks of up to 256 KiB already.
  if (f != nullptr) std::setvbuf(f, nullptr, _IONBF, 0);
  return f;
}

bool prepare_stdout() {
  if (console(stdout)) return true;
  struct stat st;
  const bool pipe = fstat(fileno(stdout), &st) == 0 && S_ISFIFO(st.st_mode);
  std::setvbuf(stdout, stdout_buffer, _IOFBF, pipe ? kPipeBuffer : kStdoutBuffer);
  return false;
}

bool close_output(std::FILE* f) {
  const bool flushed = std::fflush(f) == 0 && std::ferror(f) == 0;
  return std::fclose(f) == 0 && flushed;
}

}  // namespace tovrin
