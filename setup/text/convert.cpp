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

// Mixed text is decoded a 16-byte block at a time where the block is regular:
// no lead byte of a four-byte or longer form, and continuation bytes exactly
// where the forms before them put them. There every byte that is not a
// continuation byte starts a form, so the forms are found without walking
// them one after another. Any other block is walked form by form, which gives
// the same characters.
struct BlockScan {
  unsigned starts; // bit k: a form starts at byte k of the block
  unsigned carry;  // bits 0-1: bytes after the block that finish its last form
  bool regular;
};

// Needs the 16 bytes at p readable.
inline BlockScan scan_block(const unsigned char *p, unsigned carry_in) {
#if defined(__SSE2__)
  __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
  auto mask_of = [&](int and_mask, int value) {
    __m128i m = _mm_and_si128(v, _mm_set1_epi8(static_cast<char>(and_mask)));
    return static_cast<unsigned>(
        _mm_movemask_epi8(_mm_cmpeq_epi8(m, _mm_set1_epi8(static_cast<char>(value)))));
  };
  unsigned cont = mask_of(0xC0, 0x80);
  unsigned lead2 = mask_of(0xE0, 0xC0);
  unsigned lead3 = mask_of(0xF0, 0xE0);
  unsigned big = mask_of(0xF0, 0xF0);
#else
  unsigned cont = 0, lead2 = 0, lead3 = 0, big = 0;
  for (unsigned k = 0; k < 16; ++k) {
    cont |= unsigned((p[k] & 0xC0) == 0x80) << k;
    lead2 |= unsigned((p[k] & 0xE0) == 0xC0) << k;
    lead3 |= unsigned((p[k] & 0xF0) == 0xE0) << k;
    big |= unsigned((p[k] & 0xF0) == 0xF0) << k;
  }
#endif
  unsigned expected = ((lead2 | lead3) << 1) | (lead3 << 2) | carry_in;
  return BlockScan{~cont & 0xFFFFu, expected >> 16, big == 0 && cont == (expected & 0xFFFFu)};
}

// The character that a form of one to three bytes would give at each of the
// 16 positions of a block, computed for all positions at once without
// branching on the form lengths. Needs the 18 bytes at p readable.
inline void block_values(const unsigned char *p, std::uint32_t vals[16]) {
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  const __m128i low6 = _mm_set1_epi16(0x3F);
  __m128i r0 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
  __m128i r1 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 1));
  __m128i r2 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 2));
  for (int half = 0; half < 2; ++half) {
    __m128i b0 = half == 0 ? _mm_unpacklo_epi8(r0, zero) : _mm_unpackhi_epi8(r0, zero);
    __m128i b1 = _mm_and_si128(half == 0 ? _mm_unpacklo_epi8(r1, zero) : _mm_unpackhi_epi8(r1, zero), low6);
    __m128i b2 = _mm_and_si128(half == 0 ? _mm_unpacklo_epi8(r2, zero) : _mm_unpackhi_epi8(r2, zero), low6);
    __m128i is2 = _mm_cmpgt_epi16(b0, _mm_set1_epi16(0xBF));
    __m128i is3 = _mm_cmpgt_epi16(b0, _mm_set1_epi16(0xDF));
    __m128i v2 = _mm_or_si128(_mm_slli_epi16(_mm_and_si128(b0, _mm_set1_epi16(0x1F)), 6), b1);
    __m128i v3 = _mm_or_si128(_mm_or_si128(_mm_slli_epi16(b0, 12), _mm_slli_epi16(b1, 6)), b2);
    __m128i v = _mm_or_si128(_mm_andnot_si128(is2, b0),
                             _mm_or_si128(_mm_and_si128(_mm_andnot_si128(is3, is2), v2),
                                          _mm_and_si128(is3, v3)));
    auto *o = reinterpret_cast<__m128i *>(vals + 8 * half);
    _mm_storeu_si128(o, _mm_unpacklo_epi16(v, zero));
    _mm_storeu_si128(o + 1, _mm_unpackhi_epi16(v, zero));
  }
#else
  for (unsigned k = 0; k < 16; ++k) {
    std::uint32_t b0 = p[k], b1 = p[k + 1] & 0x3Fu, b2 = p[k + 2] & 0x3Fu;
    vals[k] = b0 < 0xC0 ? b0 : b0 < 0xE0 ? ((b0 & 0x1Fu) << 6) | b1
                                         : ((b0 & 0x0Fu) << 12) | (b1 << 6) | b2;
  }
#endif
}

// Set bits of a 16-bit mask. The baseline x86-64 target has no popcnt
// instruction, and the library call that the builtin becomes there is slow.
constexpr std::array<std::uint8_t, 256> kBits = [] {
  std::array<std::uint8_t, 256> t{};
  for (int b = 0; b < 256; ++b)
    t[b] = static_cast<std::uint8_t>((b & 1) + ((b >> 1) & 1) + ((b >> 2) & 1) + ((b >> 3) & 1) +
                                     ((b >> 4) & 1) + ((b >> 5) & 1) + ((b >> 6) & 1) + (b >> 7));
  return t;
}();
inline unsigned bits16(unsigned m) { return kBits[m & 0xFFu] + kBits[(m >> 8) & 0xFFu]; }

inline unsigned carried_bytes(unsigned carry) { return carry == 0 ? 0 : carry == 1 ? 1 : 2; }

// Scans the block at byte i of a text of len bytes. Sets *p to at least 18
// readable bytes holding it: the text itself, or near its end a zero-padded
// copy in `pad`, so that nothing past the terminator is read. *valid gets the
// bytes of the block that belong to the text (at most 16). The result is
// regular only where the block can be trusted up to *valid: bytes past the
// text are zeros, never continuation bytes, so a form that the text cuts
// short makes the block irregular, and a carry past the block must still lie
// within the text.
inline BlockScan scan_at(const unsigned char *s, std::size_t i, std::size_t len, unsigned carry,
                         unsigned char (&pad)[32], const unsigned char **p, unsigned *valid) {
  std::size_t rem = len - i;
  if (rem >= 18) [[likely]] {
    *p = s + i;
    *valid = 16;
    return scan_block(s + i, carry);
  }
  std::memset(pad, 0, sizeof pad);
  std::memcpy(pad, s + i, rem);
  *p = pad;
  *valid = rem < 16 ? static_cast<unsigned>(rem) : 16u;
  BlockScan scan = scan_block(pad, carry);
  scan.starts &= (1u << *valid) - 1u;
  scan.regular = scan.regular && carried_bytes(scan.carry) + *valid <= rem;
  return scan;
}

// UTF-8 bytes of one character without branching: 1 to 6 by bit length, 0 for
// a negative character (all comparisons hold for it, and it loses them all).
inline std::size_t utf8_bytes_branchless(std::uint32_t u) {
  return 1 + std::size_t(u >= 0x80) + std::size_t(u >= 0x800) + std::size_t(u >= 0x10000) +
         std::size_t(u >= 0x200000) + std::size_t(u >= 0x4000000) - 6 * std::size_t(u >> 31);
}

#if defined(__SSE2__) && __WCHAR_MAX__ > 0xFFFF
// Loads the 16 characters at w into v; true when all are below 0x10000 (and
// so not negative). *any gets their bits ORed together.
inline bool load_bmp_block(const wchar_t *w, __m128i (&v)[4], __m128i *any) {
  const auto *p = reinterpret_cast<const __m128i *>(w);
  for (int q = 0; q < 4; ++q)
    v[q] = _mm_loadu_si128(p + q);
  *any = _mm_or_si128(_mm_or_si128(v[0], v[1]), _mm_or_si128(v[2], v[3]));
  return _mm_movemask_epi8(_mm_cmpeq_epi16(_mm_srli_epi32(*any, 16), _mm_setzero_si128())) ==
         0xFFFF;
}
#endif

// Whether the 16 characters at w are all below 0x10000 (and so not
// negative); if so *bytes gets the length of their UTF-8 forms.
inline bool bmp_block_bytes(const wchar_t *w, unsigned *bytes) {
#if defined(__SSE2__) && __WCHAR_MAX__ > 0xFFFF
  __m128i v[4];
  __m128i any;
  if (!load_bmp_block(w, v, &any))
    return false;
  unsigned n = 16;
  if (_mm_movemask_epi8(_mm_cmpeq_epi32(_mm_srli_epi32(any, 7), _mm_setzero_si128())) == 0xFFFF) {
    *bytes = n; // all ASCII
    return true;
  }
  for (const __m128i &x : v) {
    n += bits16(static_cast<unsigned>(
        _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpgt_epi32(x, _mm_set1_epi32(0x7F))))));
    n += bits16(static_cast<unsigned>(
        _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpgt_epi32(x, _mm_set1_epi32(0x7FF))))));
  }
  *bytes = n;
  return true;
#else
  unsigned n = 0;
  for (unsigned k = 0; k < 16; ++k) {
    auto u = static_cast<std::uint32_t>(w[k]);
    if (u >= 0x10000)
      return false;
    n += 1 + unsigned(u >= 0x80) + unsigned(u >= 0x800);
  }
  *bytes = n;
  return true;
#endif
}

// For 16 characters all below 0x10000: each one's UTF-8 form in the low bytes
// of a word (memory order) and its length, computed for all at once without
// branching on the lengths. False, with nothing computed, for other blocks.
inline bool bmp_block_forms(const wchar_t *w, std::uint32_t words[16], std::uint32_t lengths[16]) {
#if defined(__SSE2__) && __WCHAR_MAX__ > 0xFFFF && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  __m128i v[4];
  __m128i any;
  if (!load_bmp_block(w, v, &any))
    return false;
  const __m128i six = _mm_set1_epi32(0x3F);
  const __m128i cont = _mm_set1_epi32(0x80);
  for (int q = 0; q < 4; ++q) {
    __m128i u = v[q];
    __m128i lo = _mm_or_si128(_mm_and_si128(u, six), cont);
    __m128i mid = _mm_or_si128(_mm_and_si128(_mm_srli_epi32(u, 6), six), cont);
    __m128i e2 = _mm_or_si128(_mm_or_si128(_mm_srli_epi32(u, 6), _mm_set1_epi32(0xC0)),
                              _mm_slli_epi32(lo, 8));
    __m128i e3 = _mm_or_si128(_mm_or_si128(_mm_srli_epi32(u, 12), _mm_set1_epi32(0xE0)),
                              _mm_or_si128(_mm_slli_epi32(mid, 8), _mm_slli_epi32(lo, 16)));
    __m128i is2 = _mm_cmpgt_epi32(u, _mm_set1_epi32(0x7F));
    __m128i is3 = _mm_cmpgt_epi32(u, _mm_set1_epi32(0x7FF));
    __m128i word = _mm_or_si128(_mm_andnot_si128(is2, u),
                                _mm_or_si128(_mm_and_si128(_mm_andnot_si128(is3, is2), e2),
                                             _mm_and_si128(is3, e3)));
    __m128i length = _mm_sub_epi32(_mm_sub_epi32(_mm_set1_epi32(1), is2), is3);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(words + 4 * q), word);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(lengths + 4 * q), length);
  }
  return true;
#else
  (void)w;
  (void)words;
  (void)lengths;
  return false;
#endif
}

// Writes the form of any character at o; returns the byte after it. A
// negative character writes nothing.
inline unsigned char *encode_form(std::uint32_t u, unsigned char *o) {
  static constexpr unsigned char kLead[7] = {0, 0, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC};
  unsigned n = utf8_bytes(static_cast<wchar_t>(u));
  if (n == 1) {
    *o++ = static_cast<unsigned char>(u);
    return o;
  }
  if (n == 0)
    return o;
  unsigned shift = 6 * (n - 1);
  *o++ = static_cast<unsigned char>(kLead[n] | ((u >> shift) & kLeadMask[n]));
  while (shift != 0) {
    shift -= 6;
    *o++ = static_cast<unsigned char>(0x80u | ((u >> shift) & 0x3Fu));
  }
  return o;
}

} // namespace

namespace detail {

std::size_t utf8_count(const char *text, std::size_t len) {
  const auto *s = reinterpret_cast<const unsigned char *>(text);
  std::size_t count = 0;
  std::size_t i = 0;
  unsigned carry = 0;
  unsigned char pad[32];
  // Checking every block for ASCII first costs mixed text more than it saves;
  // a leading ASCII run is cheap to take whole.
  i = count = ascii_blocks(s, len);
  while (i < len) {
    const unsigned char *p;
    unsigned valid;
    BlockScan b = scan_at(s, i, len, carry, pad, &p, &valid);
    if (b.regular) {
      count += bits16(b.starts);
      carry = b.carry;
      i += valid;
      continue;
    }
    i += carried_bytes(carry);
    carry = 0;
    for (std::size_t stop = i + 16; i < stop && i < len; ++count) {
      unsigned n = kFormLength[s[i]];
      if (n > len - i)
        return count;
      i += n;
    }
  }
  return count;
}

std::size_t utf8_decode(const char *text, std::size_t len, wchar_t *out, std::size_t max) {
  const auto *s = reinterpret_cast<const unsigned char *>(text);
  std::size_t stored = 0;
  std::size_t i = 0;
  unsigned carry = 0;
  unsigned char pad[32];
  while (i < len && stored < max) {
    if (carry == 0) {
      std::size_t run = ascii_blocks(s + i, len - i);
      if (run > max - stored)
        run = (max - stored) & ~std::size_t{15};
      widen_ascii(s + i, run, out + stored);
      stored += run;
      i += run;
      if (i == len || stored == max)
        break;
    }
    const unsigned char *p;
    unsigned valid;
    BlockScan b = scan_at(s, i, len, carry, pad, &p, &valid);
    if (b.regular) {
      if (stored + bits16(b.starts) > max)
        break;
      std::uint32_t vals[16];
      block_values(p, vals);
      if (stored + 16 <= max) {
        // Each value is stored and only form starts advance the output: no
        // branch on the mix of form lengths.
        for (unsigned k = 0; k < 16; ++k) {
          out[stored] = static_cast<wchar_t>(vals[k]);
          stored += (b.starts >> k) & 1u;
        }
      } else {
        // The last block of an output sized exactly: store the forms alone.
        for (unsigned m = b.starts; m != 0; m &= m - 1)
          out[stored++] = static_cast<wchar_t>(vals[__builtin_ctz(m)]);
      }
      carry = b.carry;
      i += valid;
      continue;
    }
    i += carried_bytes(carry);
    carry = 0;
    for (std::size_t stop = i + 16; i < stop && i < len && stored < max; ++stored) {
      unsigned n = kFormLength[s[i]];
      if (n > len - i)
        return stored;
      out[stored] = decode_form(s + i, n);
      i += n;
    }
  }
  // Where the output room ends inside a block: one form at a time.
  i += carried_bytes(carry);
  for (; i < len && stored < max; ++stored) {
    unsigned n = kFormLength[s[i]];
    if (n > len - i)
      break;
    out[stored] = decode_form(s + i, n);
    i += n;
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
  // Blocks of 16 characters; the last, shorter one is copied into a
  // zero-padded block so that nothing past the terminator is read.
  wchar_t pad[16];
  auto block = [&](std::size_t i, std::size_t *valid) -> const wchar_t * {
    if (len - i >= 16) {
      *valid = 16;
      return wide + i;
    }
    *valid = len - i;
    std::memset(pad, 0, sizeof pad);
    std::memcpy(pad, wide + i, *valid * sizeof(wchar_t));
    return pad;
  };

  std::size_t bytes = 0;
  for (std::size_t i = 0, valid = 0; i < len; i += valid) {
    const wchar_t *w = block(i, &valid);
    unsigned n;
    if (bmp_block_bytes(w, &n)) {
      bytes += n - (16 - valid); // each padding zero counted one byte
      continue;
    }
    for (std::size_t k = 0; k < valid; ++k)
      bytes += utf8_bytes_branchless(static_cast<std::uint32_t>(w[k]));
  }

  auto *out = static_cast<unsigned char *>(std::malloc(bytes + 1));
  if (out == nullptr)
    return nullptr;
  unsigned char *o = out;
  unsigned char *const end = out + bytes;
  for (std::size_t i = 0, valid = 0; i < len; i += valid) {
    std::size_t run = ascii_wide_blocks(wide + i, len - i);
    narrow_ascii(wide + i, run, o);
    o += run;
    i += run;
    valid = 0;
    if (i == len)
      break;
    const wchar_t *w = block(i, &valid);
    std::uint32_t words[16];
    std::uint32_t lengths[16];
    if (bmp_block_forms(w, words, lengths)) {
      for (std::size_t k = 0; k < valid; ++k) {
        // A whole word where the output has room for one; the exact bytes at its very end.
        if (end - o >= 4) [[likely]]
          std::memcpy(o, &words[k], 4);
        else
          std::memcpy(o, &words[k], lengths[k]);
        o += lengths[k];
      }
      continue;
    }
    for (std::size_t k = 0; k < valid; ++k)
      o = encode_form(static_cast<std::uint32_t>(w[k]), o);
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
