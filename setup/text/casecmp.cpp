#include "text/hvltext.h"

#include <clocale>
#include <cstdint>
#include <cwctype>
#include <locale.h>

namespace hvl {

namespace {

// The case mapping must not follow the process locale, which the host owns:
// it comes from glibc's Unicode tables under a C.UTF-8 locale of our own,
// opened once. Where that locale is missing, only ASCII letters are folded.
locale_t unicode_locale() {
  static const locale_t loc = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  return loc;
}

} // namespace

wchar_t towlower_unicode(wchar_t c) {
  auto u = static_cast<std::uint32_t>(c) & 0xFFFFu;
  locale_t loc = unicode_locale();
  if (loc == static_cast<locale_t>(nullptr))
    return static_cast<wchar_t>(u);
  return static_cast<wchar_t>(static_cast<std::uint32_t>(::towlower_l(static_cast<wint_t>(u), loc)) &
                              0xFFFFu);
}

int wcscasecmp(const wchar_t *a, const wchar_t *b) {
  if (a == b)
    return 0;
  for (;; ++a, ++b) {
    wchar_t c1 = towlower(*a);
    wchar_t c2 = towlower(*b);
    if (c1 == 0 || c1 != c2)
      return static_cast<int>(c1) - static_cast<int>(c2);
  }
}

int wcsncasecmp(const wchar_t *a, const wchar_t *b, std::size_t n) {
  if (a == b || n == 0)
    return 0;
  for (; n != 0; --n, ++a, ++b) {
    wchar_t c1 = towlower(*a);
    wchar_t c2 = towlower(*b);
    if (c1 == 0 || c1 != c2)
      return static_cast<int>(c1) - static_cast<int>(c2);
  }
  return 0;
}

} // namespace hvl
