// What differs between hosts: opening the streams, the text stream, console
// detection and telling whether two names are one file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>

namespace tovrin {

// Call first. Fills closed standard descriptors so that no file we open
// stands in for a standard stream, and a closed standard output fails only
// when something is written to it.
void init_streams();

// Opens `path` for binary reading, with a large stream buffer. Null when it
// cannot be opened or is a directory.
std::FILE* open_input(const char* path);

// Whether `path` names an existing file that is the one open as `in`.
bool same_file(std::FILE* in, const char* path);

// Opens `path` for binary writing, created or truncated, with a large buffer.
std::FILE* open_output(const char* path);

// Readies standard output as a sink. Returns whether it is a console, which
// gets every block as soon as it is filtered.
bool prepare_stdout();

// Writes p[0..n) to `out` as a text stream: each LF goes out as CR LF, every
// other byte unchanged. False once the stream has failed.
bool write_text(std::FILE* out, const std::uint8_t* p, std::size_t n);

// Flushes and closes `f`; false if either fails or the stream failed before.
bool close_output(std::FILE* f);

// Expands each LF of src[0..n) to CR LF into dst, which must hold 2 * n + 64
// bytes. Returns the number of bytes written.
using ExpandFn = std::size_t (*)(const std::uint8_t* src, std::size_t n,
                                 std::uint8_t* dst);

struct ExpandPath {
  const char* name;
  ExpandFn fn;
  bool supported;  // this CPU can run fn
};

// Every expansion built in, the portable reference first.
std::span<const ExpandPath> expand_paths();

}  // namespace tovrin
