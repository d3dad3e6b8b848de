// Blocks for the conversions of utf8_blocks.h on any processor: SSE2, which
// every x86-64 processor has, and plain code elsewhere. Included by
// convert.cpp only.
#ifndef HVL_TEXT_BLOCKS_H
#define HVL_TEXT_BLOCKS_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "text/utf8_blocks.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#if defined(__SSE2__) && __WCHAR_MAX__ > 0xFFFF && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
#define HVL_TEXT_SSE2_WIDE 1
#endif

namespace hvl::detail {

// Set bits of a 16-bit mask. The baseline x86-64 target has no popcnt
// instruction, and the library call that the builtin becomes there is slow.
inline constexpr std::array<std::uint8_t, 256> kBits = [] {
  std::array<std::uint8_t, 256> t{};
  for (int b = 0; b < 256; ++b)
    t[b] = static_cast<std::uint8_t>((b & 1) + ((b >> 1) & 1) + ((b >> 2) & 1) + ((b >> 3) & 1) +
                                     ((b >> 4) & 1) + ((b >> 5) & 1) + ((b >> 6) & 1) + (b >> 7));
  return t;
}();

// UTF-8 text in blocks of 16 bytes.
class Utf8Blocks {
public:
  static constexpr std::size_t kMinBytes = 18; // a block reads two bytes past its own

  Utf8Blocks(const unsigned char *s, std::size_t len) : s_(s), len_(len) {}

  static unsigned bits(std::uint64_t m) { return kBits[m & 0xFFu] + kBits[(m >> 8) & 0xFFu]; }

  // Length of an ASCII run of whole blocks from byte i on.
  std::size_t ascii_run(std::size_t i) const {
    std::size_t n = 0;
#if defined(__SSE2__)
    while (len_ - i - n >= 16 &&
           _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(s_ + i + n))) == 0)
      n += 16;
#else
    for (std::uint64_t v; len_ - i - n >= 8; n += 8) {
      std::memcpy(&v, s_ + i + n, 8);
      if ((v & 0x8080808080808080ull) != 0)
        break;
    }
#endif
    return n;
  }

  // Widens the ASCII run from byte i on into out, whole blocks that fit in
  // `room`; returns its length.
  std::size_t widen_ascii(std::size_t i, wchar_t *out, std::size_t room) const {
    std::size_t n = ascii_run(i);
    if (n > room)
      n = room & ~std::size_t{15};
    const unsigned char *s = s_ + i;
#if defined(HVL_TEXT_SSE2_WIDE)
    const __m128i zero = _mm_setzero_si128();
    for (std::size_t k = 0; k + 16 <= n; k += 16) {
      __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + k));
      __m128i lo = _mm_unpacklo_epi8(v, zero);
      __m128i hi = _mm_unpackhi_epi8(v, zero);
      auto *o = reinterpret_cast<__m128i *>(out + k);
      _mm_storeu_si128(o, _mm_unpacklo_epi16(lo, zero));
      _mm_storeu_si128(o + 1, _mm_unpackhi_epi16(lo, zero));
      _mm_storeu_si128(o + 2, _mm_unpacklo_epi16(hi, zero));
      _mm_storeu_si128(o + 3, _mm_unpackhi_epi16(hi, zero));
    }
#else
    for (std::size_t k = 0; k < n; ++k)
      out[k] = static_cast<wchar_t>(s[k]);
#endif
    return n;
  }

  // Scans the block at byte i; the drivers leave the last bytes of the text
  // to the form-by-form walk, so the block and the two bytes after it are
  // all in the text.
  BlockScan scan(std::size_t i, unsigned carry) {
    p_ = s_ + i;
#if defined(__SSE2__)
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p_));
    auto mask_of = [&](int and_mask, int value) {
      __m128i m = _mm_and_si128(v, _mm_set1_epi8(static_cast<char>(and_mask)));
      return static_cast<std::uint64_t>(
          _mm_movemask_epi8(_mm_cmpeq_epi8(m, _mm_set1_epi8(static_cast<char>(value)))));
    };
    std::uint64_t cont = mask_of(0xC0, 0x80);
    std::uint64_t lead2 = mask_of(0xE0, 0xC0);
    std::uint64_t lead3 = mask_of(0xF0, 0xE0);
    std::uint64_t big = mask_of(0xF0, 0xF0);
#else
    std::uint64_t cont = 0, lead2 = 0, lead3 = 0, big = 0;
    for (unsigned k = 0; k < 16; ++k) {
      cont |= std::uint64_t((p_[k] & 0xC0) == 0x80) << k;
      lead2 |= std::uint64_t((p_[k] & 0xE0) == 0xC0) << k;
      lead3 |= std::uint64_t((p_[k] & 0xF0) == 0xE0) << k;
      big |= std::uint64_t((p_[k] & 0xF0) == 0xF0) << k;
    }
#endif
    return classify_block(cont, lead2, lead3, big, carry, 16, len_ - i, 16);
  }

  // Stores the forms of the regular block that scan() last looked at: the
  // character that a form of one to three bytes would give at each of its 16
  // positions is computed for all at once, without branching on the form
  // lengths, and the form starts are kept.
  void store_forms(const BlockScan &b, wchar_t *out, std::size_t room) const {
    std::uint32_t vals[16];
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i low6 = _mm_set1_epi16(0x3F);
    __m128i r0 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p_));
    __m128i r1 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p_ + 1));
    __m128i r2 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p_ + 2));
    for (int half = 0; half < 2; ++half) {
      auto widen = [&](__m128i r) {
        return half == 0 ? _mm_unpacklo_epi8(r, zero) : _mm_unpackhi_epi8(r, zero);
      };
      __m128i b0 = widen(r0);
      __m128i b1 = _mm_and_si128(widen(r1), low6);
      __m128i b2 = _mm_and_si128(widen(r2), low6);
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
      std::uint32_t b0 = p_[k], b1 = p_[k + 1] & 0x3Fu, b2 = p_[k + 2] & 0x3Fu;
      vals[k] = b0 < 0xC0 ? b0 : b0 < 0xE0 ? ((b0 & 0x1Fu) << 6) | b1
                                           : ((b0 & 0x0Fu) << 12) | (b1 << 6) | b2;
    }
#endif
    if (room >= 16) {
      // Each value is stored and only form starts advance the output: no
      // branch on the mix of form lengths.
      std::size_t n = 0;
      for (unsigned k = 0; k < 16; ++k) {
        out[n] = static_cast<wchar_t>(vals[k]);
        n += (b.starts >> k) & 1u;
      }
    } else {
      // The last block of an output sized exactly: store the forms alone.
      for (std::uint64_t m = b.starts; m != 0; m &= m - 1)
        *out++ = static_cast<wchar_t>(vals[__builtin_ctzll(m)]);
    }
  }

private:
  const unsigned char *s_;
  std::size_t len_;
  const unsigned char *p_ = nullptr; // the block that scan() last looked at
};

// Wide text in blocks of 16 characters; the drivers leave a shorter end of
// the text to the character-by-character code.
class WideBlocks {
public:
  static constexpr std::size_t kChars = 16;
  static constexpr std::size_t kMinChars = 16;

  WideBlocks(const wchar_t *w, std::size_t len) : w_(w), len_(len) {}

  // Adds the UTF-8 size of the block at character i to block_bytes() when
  // all its characters are below 0x10000 (and so not negative); false
  // otherwise.
  bool add_block_size(std::size_t i) {
    const wchar_t *w = w_ + i;
#if defined(HVL_TEXT_SSE2_WIDE)
    __m128i v[4];
    __m128i any;
    if (!load_bmp(w, v, &any))
      return false;
    std::size_t n = 16;
    if (_mm_movemask_epi8(_mm_cmpeq_epi32(_mm_srli_epi32(any, 7), _mm_setzero_si128())) == 0xFFFF) {
      bytes_ += n; // all ASCII
      return true;
    }
    for (const __m128i &x : v) {
      n += kBits[_mm_movemask_ps(_mm_castsi128_ps(_mm_cmpgt_epi32(x, _mm_set1_epi32(0x7F))))];
      n += kBits[_mm_movemask_ps(_mm_castsi128_ps(_mm_cmpgt_epi32(x, _mm_set1_epi32(0x7FF))))];
    }
    bytes_ += n;
    return true;
#else
    std::size_t n = 0;
    for (std::size_t k = 0; k < 16; ++k) {
      auto u = static_cast<std::uint32_t>(w[k]);
      if (u >= 0x10000)
        return false;
      n += 1 + unsigned(u >= 0x80) + unsigned(u >= 0x800);
    }
    bytes_ += n;
    return true;
#endif
  }

  std::size_t block_bytes() const { return bytes_; }

  // Narrows the run of whole blocks of ASCII characters from i on into out;
  // returns its length.
  std::size_t narrow_ascii(std::size_t i, unsigned char *out) const {
    std::size_t n = 0;
#if defined(HVL_TEXT_SSE2_WIDE)
    const __m128i high = _mm_set1_epi32(static_cast<int>(0xFFFFFF80u));
    for (; len_ - i - n >= 16; n += 16) {
      const auto *p = reinterpret_cast<const __m128i *>(w_ + i + n);
      __m128i q[4] = {_mm_loadu_si128(p), _mm_loadu_si128(p + 1), _mm_loadu_si128(p + 2),
                      _mm_loadu_si128(p + 3)};
      __m128i any = _mm_or_si128(_mm_or_si128(q[0], q[1]), _mm_or_si128(q[2], q[3]));
      if (_mm_movemask_epi8(_mm_cmpeq_epi32(_mm_and_si128(any, high), _mm_setzero_si128())) !=
          0xFFFF)
        break;
      __m128i a = _mm_packs_epi32(q[0], q[1]);
      __m128i b = _mm_packs_epi32(q[2], q[3]);
      _mm_storeu_si128(reinterpret_cast<__m128i *>(out + n), _mm_packus_epi16(a, b));
    }
#else
    (void)i;
    (void)out;
#endif
    return n;
  }

  // Encodes the block at character i at o when all its characters are below
  // 0x10000 (and so not negative): each one's form in the low bytes of a word
  // and its length, computed for all at once without branching on the
  // lengths. Returns the byte after the block's forms, or null with nothing
  // written for other blocks. `end` is the end of the output.
  unsigned char *encode_block(std::size_t i, unsigned char *o, unsigned char *end) {
#if defined(HVL_TEXT_SSE2_WIDE)
    const wchar_t *w = w_ + i;
    __m128i v[4];
    __m128i any;
    if (!load_bmp(w, v, &any))
      return nullptr;
    std::uint32_t words[16];
    std::uint32_t lengths[16];
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
    for (std::size_t k = 0; k < 16; ++k) {
      // A whole word where the output has room for one; the exact bytes at its very end.
      if (end - o >= 4) [[likely]]
        std::memcpy(o, &words[k], 4);
      else
        std::memcpy(o, &words[k], lengths[k]);
      o += lengths[k];
    }
    return o;
#else
    (void)i;
    (void)o;
    (void)end;
    return nullptr;
#endif
  }

private:
#if defined(HVL_TEXT_SSE2_WIDE)
  // Loads the 16 characters at w into v; true when all are below 0x10000
  // (and so not negative). *any gets their bits ORed together.
  static bool load_bmp(const wchar_t *w, __m128i (&v)[4], __m128i *any) {
    const auto *p = reinterpret_cast<const __m128i *>(w);
    for (int q = 0; q < 4; ++q)
      v[q] = _mm_loadu_si128(p + q);
    *any = _mm_or_si128(_mm_or_si128(v[0], v[1]), _mm_or_si128(v[2], v[3]));
    return _mm_movemask_epi8(_mm_cmpeq_epi16(_mm_srli_epi32(*any, 16), _mm_setzero_si128())) ==
           0xFFFF;
  }
#endif

  const wchar_t *w_;
  std::size_t len_;
  std::size_t bytes_ = 0;
};

} // namespace hvl::detail

#endif
