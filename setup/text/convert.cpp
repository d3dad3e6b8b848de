#include "text/hvltext.h"
#include "text/utf8.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace hvl {

namespace {

// Bytes in the form that each lead byte starts. Bytes that cannot lead a
// longer form (ASCII, stray continuation bytes, 0xFE, 0xFF) stand alone.
constexpr std::array<std::uint8_t, 256> kFormLength = [] {
  std::array<std::uint8_t, 256> t{};
  for (int b = 0; b < 256; ++b) {
    if (b >= 0xFC && b <= 0xFD)
      t[b] = 6;
    else if (b >= 0xF8 && b <= 0xFB)
      t[b] = 5;
    else if (b >= 0xF0 && b <= 0xF7)
      t[b] = 4;
    else if (b >= 0xE0 && b <= 0xEF)
      t[b] = 3;
    else if (b >= 0xC0 && b <= 0xDF)
      t[b] = 2;
    else
      t[b] = 1;
  }
  return t;
}();

// Bits that the lead byte of an n-byte form contributes.
constexpr std::uint8_t kLeadMask[7] = {0, 0, 0x1F, 0x0F, 0x07, 0x03, 0x01};

// Decodes one form of n bytes. A lone byte keeps its signed 8-bit value, so
// stray bytes come out negative. Following bytes give their low six bits
// whatever their top two bits are.
inline wchar_t decode_form(const unsigned char *p, unsigned n) {
  if (n == 1)
    return static_cast<wchar_t>(static_cast<signed char>(p[0]));
  std::uint32_t v = p[0] & kLeadMask[n];
  for (unsigned k = 1; k < n; ++k)
    v = (v << 6) | (p[k] & 0x3Fu);
  return static_cast<wchar_t>(v);
}

// Length of an ASCII run of whole 16-byte blocks starting at s, not beyond len.
inline std::size_t ascii_blocks(const unsigned char *s, std::size_t len) {
  std::size_t i = 0;
#if defined(__SSE2__)
  while (i + 16 <= len) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + i));
    if (_mm_movemask_epi8(v) != 0)
      break;
    i += 16;
  }
#else
  while (i + 8 <= len) {
    std::uint64_t v;
    std::memcpy(&v, s + i, 8);
    if ((v & 0x8080808080808080ull) != 0)
      break;
    i += 8;
  }
#endif
  return i;
}

// Widens `n` ASCII bytes (a multiple of the block size) into wide characters.
inline void widen_ascii(const unsigned char *s, std::size_t n, wchar_t *out) {
#if defined(__SSE2__) && __WCHAR_MAX__ > 0xFFFF
  const __m128i zero = _mm_setzero_si128();
  for (std::size_t i = 0; i < n; i += 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + i));
    __m128i lo = _mm_unpacklo_epi8(v, zero);
    __m128i hi = _mm_unpackhi_epi8(v, zero);
    auto *o = reinterpret_cast<__m128i *>(out + i);
    _mm_storeu_si128(o, _mm_unpacklo_epi16(lo, zero));
    _mm_storeu_si128(o + 1, _mm_unpackhi_epi16(lo, zero));
    _mm_storeu_si128(o + 2, _mm_unpacklo_epi16(hi, zero));
    _mm_storeu_si128(o + 3, _mm_unpackhi_epi16(hi, zero));
  }
#else
  for (std::size_t i = 0; i < n; ++i)
    out[i] = static_cast<wchar_t>(s[i]);
#endif
}

// UTF-8 bytes of one wide character by its bit length (0 for a negative one).
inline unsigned utf8_bytes(wchar_t c) {
  auto u = static_cast<std::uint32_t>(c);
  if (u < 0x80)
    return 1;
  if (u & 0x80000000u)
    return 0;
  if (u < 0x800)
    return 2;
  if (u < 0x10000)
    return 3;
  if (u < 0x200000)
    return 4;
  if (u < 0x4000000)
    return 5;
  return 6;
}

// Length of a run of whole blocks of ASCII wide characters at w, not beyond len.
inline std::size_t ascii_wide_blocks(const wchar_t *w, std::size_t len) {
  std::size_t i = 0;
#if defined(__SSE2__) && __WCHAR_MAX__ > 0xFFFF
  const __m128i high = _mm_set1_epi32(static_cast<int>(0xFFFFFF80u));
  while (i + 16 <= len) {
    const auto *p = reinterpret_cast<const __m128i *>(w + i);
    __m128i any = _mm_or_si128(_mm_or_si128(_mm_loadu_si128(p), _mm_loadu_si128(p + 1)),
                               _mm_or_si128(_mm_loadu_si128(p + 2), _mm_loadu_si128(p + 3)));
    if (_mm_movemask_epi8(_mm_cmpeq_epi32(_mm_and_si128(any, high), _mm_setzero_si128())) !=
        0xFFFF)
      break;
    i += 16;
  }
#else
  (void)w;
  (void)len;
#endif
  return i;
}

// Narrows `n` ASCII wide characters (a multiple of 16) to bytes.
inline void narrow_ascii(const wchar_t *w, std::size_t n, unsigned char *out) {
#if defined(__SSE2__) && __WCHAR_MAX__ > 0xFFFF
  for (std::size_t i = 0; i < n; i += 16) {
    const auto *p = reinterpret_cast<const __m128i *>(w + i);
    __m128i a = _mm_packs_epi32(_mm_loadu_si128(p), _mm_loadu_si128(p + 1));
    __m128i b = _mm_packs_epi32(_mm_loadu_si128(p + 2), _mm_loadu_si128(p + 3));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), _mm_packus_epi16(a, b));
  }
#else
  for (std::size_t i = 0; i < n; ++i)
    out[i] = static_cast<unsigned char>(w[i]);
#endif
}

} // namespace

namespace detail {

std::size_t utf8_count(const char *text, std::size_t len) {
  const auto *s = reinterpret_cast<const unsigned char *>(text);
  std::size_t count = 0;
  std::size_t i = 0;
  while (i < len) {
    std::size_t run = ascii_blocks(s + i, len - i);
    count += run;
    i += run;
    // Walk forms until the next block boundary worth trying again.
    std::size_t stop = i + 16 < len ? i + 16 : len;
    while (i < stop) {
      unsigned n = kFormLength[s[i]];
      if (n > len - i)
        return count;
      i += n;
      ++count;
    }
  }
  return count;
}

std::size_t utf8_decode(const char *text, std::size_t len, wchar_t *out, std::size_t max) {
  const auto *s = reinterpret_cast<const unsigned char *>(text);
  std::size_t stored = 0;
  std::size_t i = 0;
  while (i < len && stored < max) {
    std::size_t run = ascii_blocks(s + i, len - i);
    if (run > max - stored)
      run = (max - stored) & ~std::size_t{15};
    widen_ascii(s + i, run, out + stored);
    stored += run;
    i += run;
    std::size_t stop = i + 16 < len ? i + 16 : len;
    while (i < stop && stored < max) {
      unsigned n = kFormLength[s[i]];
      if (n > len - i)
        return stored;
      out[stored++] = decode_form(s + i, n);
      i += n;
    }
  }
  return stored;
}

} // namespace detail

wchar_t *convert_char_to_wchar(const char *utf8) {
  if (utf8 == nullptr)
    return nullptr;
  std::size_t len = std::strlen(utf8);
  std::size_t count = detail::utf8_count(utf8, len);
  auto *wide = static_cast<wchar_t *>(std::malloc((count + 1) * sizeof(wchar_t)));
  if (wide == nullptr)
    return nullptr;
  std::size_t stored = detail::utf8_decode(utf8, len, wide, count);
  wide[stored] = 0;
  return wide;
}

char *convert_wchar_to_char(const wchar_t *wide) {
  if (wide == nullptr)
    return nullptr;
  std::size_t len = std::wcslen(wide);
  std::size_t bytes = 0;
  for (std::size_t i = 0; i < len;) {
    std::size_t run = ascii_wide_blocks(wide + i, len - i);
    bytes += run;
    i += run;
    std::size_t stop = i + 16 < len ? i + 16 : len;
    for (; i < stop; ++i)
      bytes += utf8_bytes(wide[i]);
  }
  auto *out = static_cast<unsigned char *>(std::malloc(bytes + 1));
  if (out == nullptr)
    return nullptr;
  unsigned char *o = out;
  for (std::size_t i = 0; i < len;) {
    std::size_t run = ascii_wide_blocks(wide + i, len - i);
    narrow_ascii(wide + i, run, o);
    o += run;
    i += run;
    std::size_t stop = i + 16 < len ? i + 16 : len;
    for (; i < stop; ++i) {
      auto u = static_cast<std::uint32_t>(wide[i]);
      unsigned n = utf8_bytes(wide[i]);
      if (n == 1) {
        *o++ = static_cast<unsigned char>(u);
        continue;
      }
      if (n == 0)
        continue;
      static constexpr unsigned char kLead[7] = {0, 0, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC};
      unsigned shift = 6 * (n - 1);
      *o++ = static_cast<unsigned char>(kLead[n] | ((u >> shift) & kLeadMask[n]));
      while (shift != 0) {
        shift -= 6;
        *o++ = static_cast<unsigned char>(0x80 | ((u >> shift) & 0x3F));
      }
    }
  }
  *o = 0;
  return reinterpret_cast<char *>(out);
}

wchar_t *convert_CFString_to_wchar(const PlatformString *s) {
  if (s == nullptr)
    return nullptr;
  std::size_t len = s->size();
  auto *wide = static_cast<wchar_t *>(std::malloc((len + 1) * sizeof(wchar_t)));
  if (wide == nullptr)
    return nullptr;
  for (std::size_t i = 0; i < len; ++i)
    wide[i] = static_cast<wchar_t>((*s)[i]);
  wide[len] = 0;
  return wide;
}

std::optional<PlatformString> convert_wchar_to_CFString(const wchar_t *wide) {
  if (wide == nullptr)
    return std::nullopt;
  try {
    PlatformString s;
    s.reserve(std::wcslen(wide));
    for (const wchar_t *p = wide; *p != 0; ++p)
      s.push_back(static_cast<char16_t>(static_cast<std::uint32_t>(*p) & 0xFFFFu));
    return s;
  } catch (const std::bad_alloc &) {
    return std::nullopt;
  }
}

} // namespace hvl
