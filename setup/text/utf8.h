// The UTF-8 decoder shared by the conversions and the attribute parser, and
// the sets of routines behind both conversion directions.
#ifndef HVL_TEXT_UTF8_H
#define HVL_TEXT_UTF8_H

#include <cstddef>
#include <span>

namespace hvl::detail {

// Number of wide characters that the `len` bytes at `s` decode to. The bytes
// are read as the one- to six-byte forms of RFC 2279, classified by their lead
// byte alone; a form that would run past `len` yields nothing and ends the
// text, as a terminator inside it would.
std::size_t utf8_count(const char *s, std::size_t len);

// Decodes the `len` bytes at `s` into `out`, storing at most `max` characters
// (no terminator). Returns the number stored. The characters are those that
// utf8_count counts, in order.
std::size_t utf8_decode(const char *s, std::size_t len, wchar_t *out, std::size_t max);

// One implementation of the two conversion directions. Every set gives the
// same results; they differ in the instructions they use.
struct TextKernels {
  const char *name;
  // As utf8_count and utf8_decode above.
  std::size_t (*count)(const char *s, std::size_t len);
  std::size_t (*decode)(const char *s, std::size_t len, wchar_t *out, std::size_t max);
  // Bytes of the UTF-8 forms of the `len` characters at `w` (negative ones
  // have none).
  std::size_t (*encoded_size)(const wchar_t *w, std::size_t len);
  // Writes those forms at `out`, which has room for at least `room` bytes,
  // no fewer than encoded_size gives; no terminator. Returns the bytes
  // written, exactly encoded_size; nothing is written past them.
  std::size_t (*encode)(const wchar_t *w, std::size_t len, char *out, std::size_t room);
  // The conversions of hvltext.h (text not null), built from the four above
  // as one function each: a short text costs little more than the calls.
  wchar_t *(*to_wide)(const char *utf8);
  char *(*to_utf8)(const wchar_t *wide);
};

// The sets that this processor can run, the portable one first. The
// conversions use the last one.
std::span<const TextKernels *const> text_kernel_sets();

// The conversions of hvltext.h with a given set, for tests that compare them.
wchar_t *convert_char_to_wchar(const char *utf8, const TextKernels &k);
char *convert_wchar_to_char(const wchar_t *wide, const TextKernels &k);

} // namespace hvl::detail

#endif
