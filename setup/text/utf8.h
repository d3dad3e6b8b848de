// The UTF-8 decoder shared by the conversions and the attribute parser.
#ifndef HVL_TEXT_UTF8_H
#define HVL_TEXT_UTF8_H

#include <cstddef>

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

} // namespace hvl::detail

#endif
