// The UTF-8 decoder and encoder on any bytes: both decoder passes agree, no
// byte past the terminator is read (the input is copied into an allocation
// that ends at the terminator, so ASan catches any over-read), and encoding
// what was decoded gives back text that decodes to the same characters.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "text/hvltext.h"
#include "text/utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  auto *text = static_cast<char *>(std::malloc(size + 1));
  if (text == nullptr)
    return 0;
  std::memcpy(text, data, size);
  text[size] = 0;
  std::size_t len = std::strlen(text);

  std::size_t count = hvl::detail::utf8_count(text, len);
  wchar_t *wide = hvl::convert_char_to_wchar(text);
  if (wide == nullptr)
    std::abort();
  // The decoded text may hold a decoded 0 (an overlong form), so compare the
  // raw decode, not the terminated one.
  auto *raw = static_cast<wchar_t *>(std::malloc((count + 1) * sizeof(wchar_t)));
  if (hvl::detail::utf8_decode(text, len, raw, count) != count)
    std::abort();
  if (std::wmemcmp(raw, wide, count) != 0 || wide[count] != 0)
    std::abort();
  // A smaller room gets a prefix of the same characters.
  std::size_t half = count / 2;
  if (hvl::detail::utf8_decode(text, len, raw, half) != half || std::wmemcmp(raw, wide, half) != 0)
    std::abort();

  char *back = hvl::convert_wchar_to_char(wide);
  if (back == nullptr)
    std::abort();
  wchar_t *again = hvl::convert_char_to_wchar(back);
  // Negative characters are dropped on the way back; everything else stays.
  std::size_t j = 0;
  for (const wchar_t *p = wide; *p != 0; ++p) {
    if (*p < 0)
      continue;
    if (again[j++] != *p)
      std::abort();
  }
  if (again[j] != 0)
    std::abort();

  // The platform string keeps the low 16 bits of each character, a 0 unit
  // included, and gives them back one for one.
  auto platform = hvl::convert_wchar_to_CFString(wide);
  std::size_t n = std::wcslen(wide);
  if (!platform || platform->size() != n)
    std::abort();
  wchar_t *units = hvl::convert_CFString_to_wchar(&*platform);
  for (std::size_t k = 0; k < n; ++k)
    if (static_cast<std::uint32_t>(units[k]) != (static_cast<std::uint32_t>(wide[k]) & 0xFFFFu))
      std::abort();
  std::free(units);
  std::free(again);
  std::free(back);
  std::free(raw);
  std::free(wide);
  std::free(text);
  return 0;
}
