// The UTF-8 decoder and encoder on any bytes: both passes of each direction
// agree, every set of routines that the processor runs (the portable one and
// the AVX-512 one) gives the same characters and bytes, no byte past the
// terminator is read (the input is copied into an allocation that ends at
// the terminator, so ASan catches any over-read), and encoding what was
// decoded gives back text that decodes to the same characters.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "text/hvltext.h"
#include "text/utf8.h"

namespace {

void check(bool ok) {
  if (!ok)
    std::abort();
}

// Decodes and encodes `text` with the set k; returns the decoded text, which
// the caller frees.
wchar_t *round_trip(const char *text, const hvl::detail::TextKernels &k) {
  std::size_t len = std::strlen(text);
  std::size_t count = k.count(text, len);
  wchar_t *wide = hvl::detail::convert_char_to_wchar(text, k);
  check(wide != nullptr);
  // The decoded text may hold a decoded 0 (an overlong form), so compare the
  // raw decode, not the terminated one.
  auto *raw = static_cast<wchar_t *>(std::malloc((count + 1) * sizeof(wchar_t)));
  check(k.decode(text, len, raw, count) == count);
  check(std::wmemcmp(raw, wide, count) == 0 && wide[count] == 0);
  // A smaller room gets a prefix of the same characters.
  std::size_t half = count / 2;
  check(k.decode(text, len, raw, half) == half && std::wmemcmp(raw, wide, half) == 0);

  char *back = hvl::detail::convert_wchar_to_char(wide, k);
  check(back != nullptr);
  std::size_t n = std::wcslen(wide);
  check(k.encoded_size(wide, n) == std::strlen(back));
  wchar_t *again = hvl::detail::convert_char_to_wchar(back, k);
  // Negative characters are dropped on the way back; everything else stays.
  std::size_t j = 0;
  for (const wchar_t *p = wide; *p != 0; ++p) {
    if (*p < 0)
      continue;
    check(again[j++] == *p);
  }
  check(again[j] == 0);
  std::free(again);
  std::free(back);
  std::free(raw);
  return wide;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  auto *text = static_cast<char *>(std::malloc(size + 1));
  if (text == nullptr)
    return 0;
  std::memcpy(text, data, size);
  text[size] = 0;

  auto sets = hvl::detail::text_kernel_sets();
  wchar_t *wide = round_trip(text, *sets.front());
  std::size_t n = std::wcslen(wide);
  for (const hvl::detail::TextKernels *k : sets.subspan(1)) {
    wchar_t *other = round_trip(text, *k);
    check(std::wcslen(other) == n && std::wmemcmp(other, wide, n) == 0);
    char *a = hvl::detail::convert_wchar_to_char(wide, *sets.front());
    char *b = hvl::detail::convert_wchar_to_char(wide, *k);
    check(std::strcmp(a, b) == 0);
    std::free(a);
    std::free(b);
    std::free(other);
  }

  // The platform string keeps the low 16 bits of each character, a 0 unit
  // included, and gives them back one for one.
  auto platform = hvl::convert_wchar_to_CFString(wide);
  check(platform && platform->size() == n);
  wchar_t *units = hvl::convert_CFString_to_wchar(&*platform);
  for (std::size_t k = 0; k < n; ++k)
    check(static_cast<std::uint32_t>(units[k]) == (static_cast<std::uint32_t>(wide[k]) & 0xFFFFu));
  std::free(units);
  std::free(wide);
  std::free(text);
  return 0;
}
