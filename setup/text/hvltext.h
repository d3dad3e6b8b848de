// Text conversion of the setup library: UTF-8, 32-bit wide text and the
// toolkit's UTF-16 strings, and the case-insensitive comparison used to match
// keywords and server type names.
//
// Everything here is private to the setup library and lives in namespace hvl,
// so that towlower, wcscasecmp and wcsncasecmp never stand in for the C
// library's functions of the same names.
#ifndef HVL_TEXT_H
#define HVL_TEXT_H

#include <cstddef>
#include <optional>
#include <string>

namespace hvl {

// The toolkit's string: UTF-16 code units, as the windows show them.
using PlatformString = std::u16string;

// UTF-8 (read as the six-byte forms of RFC 2279, not validated) to wide text.
// Returns a new malloc'd, terminated wide text that the caller frees, or null
// when `utf8` is null or memory is exhausted. Stray bytes 0x80-0xBF, 0xFE and
// 0xFF become their negative signed-byte value; following bytes are taken as
// they come; overlong forms are accepted. Decoding stops at the first 0 byte,
// also inside a form that it cuts short: such a form yields nothing.
wchar_t *convert_char_to_wchar(const char *utf8);

// Wide text to UTF-8, one to six bytes per character. Negative characters are
// dropped. Returns a new malloc'd text that the caller frees, or null when
// `wide` is null or memory is exhausted.
char *convert_wchar_to_char(const wchar_t *wide);

// Toolkit string to wide text: one wide character per UTF-16 unit, surrogate
// pairs not combined. Returns new malloc'd text, or null when `s` is null or
// memory is exhausted.
wchar_t *convert_CFString_to_wchar(const PlatformString *s);

// Wide text to a toolkit string: the low 16 bits of each character as one
// unit. nullopt when `wide` is null or the string cannot be made.
std::optional<PlatformString> convert_wchar_to_CFString(const wchar_t *wide);

// Locale-independent simple lowercase mapping of the character's low 16 bits;
// the result is a UTF-16 unit (0 to 0xFFFF). Keywords are ASCII, so that case
// is decided here without a call.
wchar_t towlower_unicode(wchar_t c);
inline wchar_t towlower(wchar_t c) {
  auto u = static_cast<unsigned>(c) & 0xFFFFu;
  if (u < 0x80)
    return static_cast<wchar_t>(u - 'A' < 26u ? u + 32 : u);
  return towlower_unicode(c);
}

// Compare ignoring case, by towlower above: 0 when equal, else the difference
// of the first pair of lowercased characters that differ. The same pointer
// twice compares equal without reading. wcsncasecmp looks at most at n
// characters; n == 0 gives 0.
int wcscasecmp(const wchar_t *a, const wchar_t *b);
int wcsncasecmp(const wchar_t *a, const wchar_t *b, std::size_t n);

} // namespace hvl

#endif
