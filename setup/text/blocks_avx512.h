// Blocks for the conversions of utf8_blocks.h on processors with AVX-512
// (F, BW, VL, CD, VBMI2) and BMI2: 64 bytes or 16 wide characters at a time.
// Every function here may run only where text_kernel_sets() found these
// instructions; convert.cpp compiles the drivers that use them with the same
// target. Included by convert.cpp only.
//
// A block at the end of the text needs no copy: masked loads read only the
// bytes of the text, and masked stores write only the result's own bytes.
#ifndef HVL_TEXT_BLOCKS_AVX512_H
#define HVL_TEXT_BLOCKS_AVX512_H

#if defined(__x86_64__) && defined(__GNUC__) && __WCHAR_MAX__ > 0xFFFF
#define HVL_TEXT_AVX512 1

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "text/utf8_blocks.h"

#define HVL_AVX512_TARGET "avx512f,avx512bw,avx512vl,avx512cd,avx512vbmi2,bmi,bmi2,popcnt"
#define HVL_AVX512 gnu::target(HVL_AVX512_TARGET)

namespace hvl::detail {

// Mask of the first n (at most 64) lanes.
[[HVL_AVX512]] inline std::uint64_t first_lanes(std::size_t n) {
  return _bzhi_u64(~std::uint64_t{0}, static_cast<unsigned>(n < 64 ? n : 64));
}

// UTF-8 text in blocks of 64 bytes.
class Utf8Blocks512 {
public:
  // Fewer bytes are cheaper to walk form by form than a block.
  static constexpr std::size_t kMinBytes = 8;

  Utf8Blocks512(const unsigned char *s, std::size_t len) : s_(s), len_(len) {}

  [[HVL_AVX512]] static unsigned bits(std::uint64_t m) {
    return static_cast<unsigned>(__builtin_popcountll(m));
  }

  // Length of an ASCII run of whole blocks from byte i on.
  [[HVL_AVX512]] std::size_t ascii_run(std::size_t i) const {
    std::size_t n = 0;
    while (len_ - i - n >= 64 && _mm512_movepi8_mask(_mm512_loadu_si512(s_ + i + n)) == 0)
      n += 64;
    return n;
  }

  // Widens the ASCII run from byte i on into out, whole blocks that fit in
  // `room`; returns its length.
  [[HVL_AVX512]] std::size_t widen_ascii(std::size_t i, wchar_t *out, std::size_t room) const {
    std::size_t n = 0;
    for (; len_ - i - n >= 64 && room - n >= 64; n += 64) {
      __m512i v = _mm512_loadu_si512(s_ + i + n);
      if (_mm512_movepi8_mask(v) != 0)
        break;
      for (std::size_t q = 0; q < 64; q += 16)
        _mm512_storeu_si512(out + n + q, widen_bytes(s_ + i + n + q, 16));
    }
    return n;
  }

  [[HVL_AVX512]] BlockScan scan(std::size_t i, unsigned carry) {
    i_ = i;
    std::size_t rem = len_ - i;
    unsigned size = rem < 64 ? static_cast<unsigned>(rem) : 64u;
    __m512i v = load_bytes(s_ + i, rem);
    // Continuation bytes 0x80-0xBF are the signed bytes below -64.
    std::uint64_t cont = _mm512_cmplt_epi8_mask(v, _mm512_set1_epi8(-64));
    std::uint64_t from_c0 = _mm512_cmpge_epu8_mask(v, _mm512_set1_epi8(static_cast<char>(0xC0)));
    std::uint64_t from_e0 = _mm512_cmpge_epu8_mask(v, _mm512_set1_epi8(static_cast<char>(0xE0)));
    std::uint64_t big = _mm512_cmpge_epu8_mask(v, _mm512_set1_epi8(static_cast<char>(0xF0)));
    return classify_block(cont, from_c0 & ~from_e0, from_e0 & ~big, big, carry, size, rem, 64);
  }

  // Stores the forms of the regular block that scan() last looked at. The
  // bytes where forms start, and the one and two bytes after each, are
  // packed together (vpcompressb); then the character of each form of one to
  // three bytes is computed from them, 16 at a time, without branching on the
  // form lengths, and stored, exactly as many as there are forms.
  [[HVL_AVX512]] void store_forms(const BlockScan &b, wchar_t *out, std::size_t) const {
    std::size_t rem = len_ - i_;
    const unsigned char *p = s_ + i_;
    __m512i lead = packed(p, rem, b.starts);
    __m512i second = packed(p + 1, rem - 1, b.starts);
    __m512i third = packed(p + 2, rem < 2 ? 0 : rem - 2, b.starts);
    const __m512i low6 = _mm512_set1_epi32(0x3F);
    unsigned n = bits(b.starts);
    for (unsigned k = 0; k < n; k += 16) {
      __m512i b0 = _mm512_cvtepu8_epi32(_mm512_castsi512_si128(lead));
      __m512i b1 = _mm512_and_si512(_mm512_cvtepu8_epi32(_mm512_castsi512_si128(second)), low6);
      __m512i b2 = _mm512_and_si512(_mm512_cvtepu8_epi32(_mm512_castsi512_si128(third)), low6);
      __mmask16 is2 = _mm512_cmpge_epu32_mask(b0, _mm512_set1_epi32(0xC0));
      __mmask16 is3 = _mm512_cmpge_epu32_mask(b0, _mm512_set1_epi32(0xE0));
      __m512i v2 = _mm512_or_si512(
          _mm512_slli_epi32(_mm512_and_si512(b0, _mm512_set1_epi32(0x1F)), 6), b1);
      __m512i v3 = _mm512_or_si512(
          _mm512_slli_epi32(_mm512_and_si512(b0, _mm512_set1_epi32(0x0F)), 12),
          _mm512_or_si512(_mm512_slli_epi32(b1, 6), b2));
      __m512i v = _mm512_mask_mov_epi32(_mm512_mask_mov_epi32(b0, is2, v2), is3, v3);
      _mm512_mask_storeu_epi32(out + k, static_cast<__mmask16>(first_lanes(n - k)), v);
      // The next 16 forms down to the low bytes.
      lead = _mm512_alignr_epi32(_mm512_setzero_si512(), lead, 4);
      second = _mm512_alignr_epi32(_mm512_setzero_si512(), second, 4);
      third = _mm512_alignr_epi32(_mm512_setzero_si512(), third, 4);
    }
  }

private:
  // The bytes at p where `starts` has a bit, packed together; only the first
  // n bytes are read.
  [[HVL_AVX512]] static __m512i packed(const unsigned char *p, std::size_t n, std::uint64_t starts) {
    return _mm512_maskz_compress_epi8(starts, load_bytes(p, n));
  }

  // The 64 bytes at p, of which only the first n are read (the others are
  // 0). A whole block is loaded without a mask, so that the load need not
  // wait for the length of the text.
  [[HVL_AVX512]] static __m512i load_bytes(const unsigned char *p, std::size_t n) {
    if (n >= 64) [[likely]]
      return _mm512_loadu_si512(p);
    return _mm512_maskz_loadu_epi8(first_lanes(n), p);
  }

  // The 16 bytes at p as 32-bit lanes; only the first n of them are read
  // (the others are 0).
  [[HVL_AVX512]] static __m512i widen_bytes(const unsigned char *p, std::size_t n) {
    if (n >= 16) [[likely]]
      return _mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p)));
    return _mm512_cvtepu8_epi32(_mm_maskz_loadu_epi8(static_cast<__mmask16>(first_lanes(n)), p));
  }

  const unsigned char *s_;
  std::size_t len_;
  std::size_t i_ = 0; // the block that scan() last looked at
};

// Wide text in blocks of 16 characters.
class WideBlocks512 {
public:
  static constexpr std::size_t kChars = 16;
  static constexpr std::size_t kMinChars = 1;

  WideBlocks512(const wchar_t *w, std::size_t len) : w_(w), len_(len) {}

  // Any block: its form lengths are added up lane by lane, and the lanes
  // into block_bytes() before they could overflow.
  [[HVL_AVX512]] bool add_block_size(std::size_t i) {
    __m512i u = load(i);
    sums_ = _mm512_add_epi32(sums_, form_lengths(u));
    if (++summed_ == kFlushBlocks)
      flush();
    return true;
  }

  [[HVL_AVX512]] std::size_t block_bytes() {
    flush();
    return bytes_;
  }

  // Narrows the run of whole blocks of ASCII characters from i on into out;
  // returns its length.
  [[HVL_AVX512]] std::size_t narrow_ascii(std::size_t i, unsigned char *out) const {
    std::size_t n = 0;
    for (; len_ - i - n >= 16; n += 16) {
      __m512i u = _mm512_loadu_si512(w_ + i + n);
      if (from(u, 0x80) != 0)
        break;
      _mm_storeu_si128(reinterpret_cast<__m128i *>(out + n), _mm512_cvtepi32_epi8(u));
    }
    return n;
  }

  // Encodes the block at character i at o when it has no character of five
  // or six bytes: each character's form is built in the low bytes of its
  // 32-bit lane, without branching on the lengths, and the bytes of the forms
  // are packed together (vpcompressb) and stored, exactly as many as there
  // are. Returns the byte after them, or null with nothing written for other
  // blocks.
  [[HVL_AVX512]] unsigned char *encode_block(std::size_t i, unsigned char *o,
                                             unsigned char *) const {
    __m512i u = load(i);
    // Signed, so that negative characters pass (they have no form).
    if (_mm512_cmpge_epi32_mask(u, _mm512_set1_epi32(0x200000)) != 0)
      return nullptr;
    __m512i c0 = follower(u, 0);
    __m512i c6 = follower(u, 6);
    __m512i c12 = follower(u, 12);
    __m512i e2 = _mm512_or_si512(leader(u, 6, 0xC0), _mm512_slli_epi32(c0, 8));
    __m512i e3 = _mm512_or_si512(leader(u, 12, 0xE0), _mm512_or_si512(_mm512_slli_epi32(c6, 8),
                                                                       _mm512_slli_epi32(c0, 16)));
    __m512i e4 = _mm512_or_si512(
        _mm512_or_si512(leader(u, 18, 0xF0), _mm512_slli_epi32(c12, 8)),
        _mm512_or_si512(_mm512_slli_epi32(c6, 16), _mm512_slli_epi32(c0, 24)));
    // Signed compares again: a negative character is none of these, and its
    // lane is cleared.
    __mmask16 two = _mm512_cmpge_epi32_mask(u, _mm512_set1_epi32(0x80));
    __mmask16 three = _mm512_cmpge_epi32_mask(u, _mm512_set1_epi32(0x800));
    __mmask16 four = _mm512_cmpge_epi32_mask(u, _mm512_set1_epi32(0x10000));
    __m512i word = _mm512_maskz_mov_epi32(_mm512_cmpgt_epi32_mask(u, _mm512_setzero_si512()), u);
    word = _mm512_mask_mov_epi32(_mm512_mask_mov_epi32(_mm512_mask_mov_epi32(word, two, e2),
                                                       three, e3), four, e4);
    // Every byte of a form is non-zero (a one-byte form is a character from
    // 1 to 0x7F), and every other byte of the lanes is zero: the text ends at
    // its terminator, lanes past it were loaded as zero, and a form's lead
    // byte holds only the character's top bits.
    __mmask64 keep = _mm512_test_epi8_mask(word, word);
    auto n = static_cast<unsigned>(__builtin_popcountll(keep));
    _mm512_mask_storeu_epi8(o, first_lanes(n), _mm512_maskz_compress_epi8(keep, word));
    return o + n;
  }

private:
  // Loads the block at character i, zeros past the text. As in
  // Utf8Blocks512::load_bytes, a whole block is loaded without a mask.
  [[HVL_AVX512]] __m512i load(std::size_t i) const {
    if (len_ - i >= 16) [[likely]]
      return _mm512_loadu_si512(w_ + i);
    return _mm512_maskz_loadu_epi32(static_cast<__mmask16>(first_lanes(len_ - i)), w_ + i);
  }

  // The length of each lane's form, by its number of leading zero bits.
  [[HVL_AVX512]] static __m512i form_lengths(__m512i u) {
    const __m512i up_to_15 = _mm512_setr_epi32(0, 6, 6, 6, 6, 6, 5, 5, 5, 5, 5, 4, 4, 4, 4, 4);
    const __m512i from_16 = _mm512_setr_epi32(3, 3, 3, 3, 3, 2, 2, 2, 2, 1, 1, 1, 1, 1, 1, 1);
    // A negative character has none and the zeros past the text have 32;
    // both pick the first entry, 0, as only five bits of the index count.
    return _mm512_permutex2var_epi32(up_to_15, _mm512_lzcnt_epi32(u), from_16);
  }

  [[HVL_AVX512]] void flush() {
    bytes_ += static_cast<std::uint32_t>(_mm512_reduce_add_epi32(sums_));
    sums_ = _mm512_setzero_si512();
    summed_ = 0;
  }

  // Lanes at or above `bound`, unsigned.
  [[HVL_AVX512]] static __mmask16 from(__m512i u, unsigned bound) {
    return _mm512_cmpge_epu32_mask(u, _mm512_set1_epi32(static_cast<int>(bound)));
  }
  // A following byte: 10 and six bits of u from `shift` up.
  [[HVL_AVX512]] static __m512i follower(__m512i u, unsigned shift) {
    return _mm512_ternarylogic_epi32(_mm512_srli_epi32(u, shift), _mm512_set1_epi32(0x3F),
                                     _mm512_set1_epi32(0x80), 0xEA); // (a & b) | c
  }
  // A lead byte: `marker` and the bits of u from `shift` up.
  [[HVL_AVX512]] static __m512i leader(__m512i u, unsigned shift, int marker) {
    return _mm512_or_si512(_mm512_srli_epi32(u, shift), _mm512_set1_epi32(marker));
  }

  // Each block adds at most 6 to a lane.
  static constexpr unsigned kFlushBlocks = 1u << 24;

  const wchar_t *w_;
  std::size_t len_;
  __m512i sums_{};
  unsigned summed_ = 0;
  std::size_t bytes_ = 0;
};

} // namespace hvl::detail

#endif
#endif
