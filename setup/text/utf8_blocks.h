// The UTF-8 conversions, written once over a "block" type that supplies the
// vector work: blocks.h for the baseline processor, blocks_avx512.h for
// processors with AVX-512. Included by convert.cpp only.
//
// Each direction has a pass that measures the text and one that converts
// it; both take the same decisions at the same places, so that they agree on
// every input.
#ifndef HVL_TEXT_UTF8_BLOCKS_H
#define HVL_TEXT_UTF8_BLOCKS_H

#include <array>
#include <cstddef>
#include <cstdint>

namespace hvl::detail {

// Bytes in the form that each lead byte starts. Bytes that cannot lead a
// longer form (ASCII, stray continuation bytes, 0xFE, 0xFF) stand alone.
inline constexpr std::array<std::uint8_t, 256> kFormLength = [] {
  std::array<std::uint8_t, 256> t{};
  for (int b = 0; b < 256; ++b)
    t[b] = b >= 0xFC && b <= 0xFD ? 6
           : b >= 0xF8 && b <= 0xFB ? 5
           : b >= 0xF0 && b <= 0xF7 ? 4
           : b >= 0xE0 && b <= 0xEF ? 3
           : b >= 0xC0 && b <= 0xDF ? 2
                                    : 1;
  return t;
}();

// Bits that the lead byte of an n-byte form contributes.
inline constexpr std::uint8_t kLeadMask[7] = {0, 0, 0x1F, 0x0F, 0x07, 0x03, 0x01};

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

// UTF-8 bytes of one wide character by its bit length (0 for a negative one).
inline unsigned utf8_bytes(wchar_t c) {
  auto u = static_cast<std::uint32_t>(c);
  if (u < 0x80)
    return 1;
  if (u & 0x80000000u)
    return 0;
  return u < 0x800 ? 2 : u < 0x10000 ? 3 : u < 0x200000 ? 4 : u < 0x4000000 ? 5 : 6;
}

// Writes the form of any character at o; returns the byte after it. A
// negative character writes nothing.
inline unsigned char *encode_form(wchar_t c, unsigned char *o) {
  static constexpr unsigned char kLead[7] = {0, 0, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC};
  auto u = static_cast<std::uint32_t>(c);
  unsigned n = utf8_bytes(c);
  if (n <= 1) {
    if (n == 1)
      *o++ = static_cast<unsigned char>(u);
    return o;
  }
  unsigned shift = 6 * (n - 1);
  *o++ = static_cast<unsigned char>(kLead[n] | ((u >> shift) & kLeadMask[n]));
  while (shift != 0) {
    shift -= 6;
    *o++ = static_cast<unsigned char>(0x80u | ((u >> shift) & 0x3Fu));
  }
  return o;
}

// What a block scan found. Mixed text is decoded a block at a time where the
// block is regular: no lead byte of a four-byte or longer form, continuation
// bytes exactly where the forms before them put them, and no form cut short
// by the end of the text. There every byte that is not a continuation byte
// starts a form, so the forms are found without walking them one after
// another. Any other block is walked form by form, which gives the same
// characters.
struct BlockScan {
  std::uint64_t starts; // bit k: a form starts at byte k of the block
  unsigned carry;       // bits 0-1: bytes after the block that finish its last form
  unsigned size;        // bytes of the text in the block
  bool regular;
};

// Bytes that a carry stands for. Bit 1 (a second byte) comes with bit 0.
inline unsigned carried_bytes(unsigned carry) { return (carry & 1u) + (carry >> 1); }

// The scan that both block types make, on masks of the block's bytes: `lead2`
// and `lead3` the lead bytes of two- and three-byte forms, `cont` the
// continuation bytes, `big` the bytes from 0xF0 up. `rem` is what is left of
// the text from the block on, `size` the bytes of it in the block.
inline BlockScan classify_block(std::uint64_t cont, std::uint64_t lead2, std::uint64_t lead3,
                                std::uint64_t big, unsigned carry_in, unsigned size,
                                std::size_t rem, unsigned block_bits) {
  std::uint64_t in = block_bits == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << block_bits) - 1;
  std::uint64_t valid = size == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << size) - 1;
  std::uint64_t leads = lead2 | lead3;
  std::uint64_t expected = (((leads << 1) | (lead3 << 2)) & in) | carry_in;
  // Bytes past the block that its last forms need: those of a lead byte at
  // the last position, and the second of a three-byte lead one before it.
  unsigned carry = static_cast<unsigned>((leads >> (block_bits - 1)) | (lead3 >> (block_bits - 2)));
  bool regular = big == 0 && cont == (expected & valid) && (expected & ~valid) == 0 &&
                 carried_bytes(carry) <= rem - size;
  return BlockScan{~cont & valid, carry, size, regular};
}

// Walks the forms from byte *i on until one ends at or past `stop`, counting
// them, and storing them at out unless it is null (at most `room`). False when
// a form is cut short by the end of the text: it yields nothing and ends it.
inline bool walk_forms(const unsigned char *s, std::size_t len, std::size_t *i, std::size_t stop,
                       wchar_t *out, std::size_t room, std::size_t *count) {
  while (*i < stop && *i < len && (out == nullptr || *count < room)) {
    unsigned n = kFormLength[s[*i]];
    if (n > len - *i)
      return false;
    if (out != nullptr)
      out[*count] = decode_form(s + *i, n);
    ++*count;
    *i += n;
  }
  return true;
}

// The drivers below take the text a block at a time while at least
// Blocks::kMinBytes bytes (kMinChars characters) are left, and the rest one
// form at a time: below that a block costs more than the forms it holds.

// Forms that the `len` bytes at s decode to.
template <class Blocks>
std::size_t count_utf8(const unsigned char *s, std::size_t len) {
  Blocks blocks(s, len);
  // A leading ASCII run is cheap to take whole; checking every block for
  // ASCII first costs mixed text more than it saves.
  std::size_t i = blocks.ascii_run(0);
  std::size_t count = i;
  unsigned carry = 0;
  while (len - i >= Blocks::kMinBytes) {
    BlockScan b = blocks.scan(i, carry);
    if (b.regular) {
      count += Blocks::bits(b.starts);
      carry = b.carry;
      i += b.size;
      continue;
    }
    i += carried_bytes(carry);
    carry = 0;
    if (!walk_forms(s, len, &i, i + 16, nullptr, 0, &count))
      return count;
  }
  i += carried_bytes(carry);
  walk_forms(s, len, &i, len, nullptr, 0, &count);
  return count;
}

// Decodes the `len` bytes at s into out, at most `max` characters; returns
// how many it stored.
template <class Blocks>
std::size_t decode_utf8(const unsigned char *s, std::size_t len, wchar_t *out, std::size_t max) {
  Blocks blocks(s, len);
  std::size_t stored = 0;
  std::size_t i = 0;
  unsigned carry = 0;
  // A run of ASCII is looked for at the start and after a block of ASCII; in
  // mixed text the look costs more than it finds.
  bool ascii = true;
  while (len - i >= Blocks::kMinBytes && stored < max) {
    if (ascii) {
      std::size_t run = blocks.widen_ascii(i, out + stored, max - stored);
      stored += run;
      i += run;
      if (len - i < Blocks::kMinBytes || stored == max)
        break;
    }
    BlockScan b = blocks.scan(i, carry);
    if (b.regular) {
      std::size_t n = Blocks::bits(b.starts);
      if (stored + n > max)
        break; // the room ends inside this block: see below
      blocks.store_forms(b, out + stored, max - stored);
      stored += n;
      ascii = n == b.size && b.carry == 0;
      carry = b.carry;
      i += b.size;
      continue;
    }
    i += carried_bytes(carry);
    carry = 0;
    ascii = false;
    if (!walk_forms(s, len, &i, i + 16, out, max, &stored))
      return stored;
  }
  // The end of the text, or of the output room: one form at a time.
  i += carried_bytes(carry);
  walk_forms(s, len, &i, len, out, max, &stored);
  return stored;
}

// Bytes of the UTF-8 forms of the `len` wide characters at w.
template <class Blocks>
std::size_t utf8_size(const wchar_t *w, std::size_t len) {
  Blocks blocks(w, len);
  std::size_t bytes = 0;
  std::size_t i = 0;
  for (; i < len && len - i >= Blocks::kMinChars; i += Blocks::kChars) {
    if (blocks.add_block_size(i))
      continue;
    for (std::size_t k = i; k < len && k < i + Blocks::kChars; ++k)
      bytes += utf8_bytes(w[k]);
  }
  for (; i < len; ++i)
    bytes += utf8_bytes(w[i]);
  return bytes + blocks.block_bytes();
}

// Encodes the `len` wide characters at w at out, which has room for `room`
// bytes, at least utf8_size of them; returns the bytes written, utf8_size
// of them, and writes nothing past them.
template <class Blocks>
std::size_t encode_utf8(const wchar_t *w, std::size_t len, unsigned char *out, std::size_t room) {
  Blocks blocks(w, len);
  unsigned char *o = out;
  unsigned char *const end = out + room;
  std::size_t i = 0;
  // As in decode_utf8: a run of ASCII is looked for at the start and after a
  // block that took one byte a character.
  bool ascii = true;
  while (i < len && len - i >= Blocks::kMinChars) {
    if (ascii) {
      std::size_t run = blocks.narrow_ascii(i, o);
      o += run;
      i += run;
      if (i == len || len - i < Blocks::kMinChars)
        break;
    }
    std::size_t stop = len - i < Blocks::kChars ? len : i + Blocks::kChars;
    if (unsigned char *next = blocks.encode_block(i, o, end)) {
      ascii = static_cast<std::size_t>(next - o) == stop - i;
      o = next;
      i = stop;
    } else {
      ascii = false;
      for (; i < stop; ++i)
        o = encode_form(w[i], o);
    }
  }
  for (; i < len; ++i)
    o = encode_form(w[i], o);
  return static_cast<std::size_t>(o - out);
}

} // namespace hvl::detail

#endif
