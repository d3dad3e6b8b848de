#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <cwctype>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "text/hvltext.h"
#include "text/utf8.h"

namespace {

using hvl::convert_char_to_wchar;
using hvl::convert_wchar_to_char;
using hvl::detail::TextKernels;

// Every conversion test runs with each set of routines that this processor
// has: the portable one always, the AVX-512 one where the processor has it.
auto kernel_sets() { return hvl::detail::text_kernel_sets(); }

// The text is copied into an allocation that ends at its terminator, so that
// AddressSanitizer sees any read past it.
std::vector<std::uint32_t> decode(const std::string &bytes, const TextKernels &k) {
  char *text = static_cast<char *>(std::malloc(bytes.size() + 1));
  std::memcpy(text, bytes.c_str(), bytes.size() + 1);
  wchar_t *w = hvl::detail::convert_char_to_wchar(text, k);
  std::free(text);
  EXPECT_NE(w, nullptr);
  std::vector<std::uint32_t> out;
  for (const wchar_t *p = w; *p != 0; ++p)
    out.push_back(static_cast<std::uint32_t>(*p));
  std::free(w);
  return out;
}

std::string encode(const std::vector<std::uint32_t> &chars, const TextKernels &k) {
  auto *w = static_cast<wchar_t *>(std::malloc((chars.size() + 1) * sizeof(wchar_t)));
  for (std::size_t i = 0; i < chars.size(); ++i)
    w[i] = static_cast<wchar_t>(chars[i]);
  w[chars.size()] = 0;
  char *s = hvl::detail::convert_wchar_to_char(w, k);
  std::free(w);
  EXPECT_NE(s, nullptr);
  std::string out = s;
  std::free(s);
  return out;
}

TEST(Text, NullAndEmpty) {
  EXPECT_EQ(convert_char_to_wchar(nullptr), nullptr);
  EXPECT_EQ(convert_wchar_to_char(nullptr), nullptr);
  EXPECT_EQ(hvl::convert_CFString_to_wchar(nullptr), nullptr);
  EXPECT_FALSE(hvl::convert_wchar_to_CFString(nullptr).has_value());

  wchar_t *w = convert_char_to_wchar("");
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w[0], 0);
  std::free(w);
  char *s = convert_wchar_to_char(L"");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s[0], 0);
  std::free(s);
  hvl::PlatformString empty;
  w = hvl::convert_CFString_to_wchar(&empty);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w[0], 0);
  std::free(w);
  auto p = hvl::convert_wchar_to_CFString(L"");
  ASSERT_TRUE(p.has_value());
  EXPECT_TRUE(p->empty());
}

TEST(Text, DecodeUtf8) {
  struct Case {
    const char *what;
    std::string bytes;
    std::vector<std::uint32_t> chars;
  } cases[] = {
      {"one to four byte forms", "\x41\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", {0x41, 0xE9, 0x20AC, 0x1F600}},
      {"five byte form", "\xF8\x88\x80\x80\x80", {0x200000}},
      {"six byte form, 31 bits", "\xFD\xBF\xBF\xBF\xBF\xBF", {0x7FFFFFFF}},
      {"stray continuation byte is negative", "\x80", {0xFFFFFF80}},
      {"0xBF stray", "a\xBF", {0x61, 0xFFFFFFBF}},
      {"0xFE and 0xFF", "\xFE\xFF", {0xFFFFFFFE, 0xFFFFFFFF}},
      {"overlong zero ends the text", "\x41\xC0\x80\x42", {0x41}},
      {"following bytes taken as they come", "\xE9\x74\x65", {0x9D25}},
      {"form cut short by the terminator yields nothing", "ab\xE2\x82", {0x61, 0x62}},
      {"six byte lead cut after one byte", "\xFC", {}},
      {"long ASCII run then a form", std::string(40, 'x') + "\xC3\xBC",
       [] {
         std::vector<std::uint32_t> v(40, 'x');
         v.push_back(0xFC);
         return v;
       }()},
      {"form cut at the end of a long run", std::string(33, 'y') + "\xF0\x9F",
       std::vector<std::uint32_t>(33, 'y')},
  };
  for (const TextKernels *k : kernel_sets()) {
    SCOPED_TRACE(k->name);
    for (const Case &c : cases)
      EXPECT_EQ(decode(c.bytes, *k), c.chars) << c.what;
  }
}

TEST(Text, EncodeUtf8) {
  struct Case {
    std::uint32_t ch;
    std::string bytes;
  } cases[] = {
      {0x7F, "\x7F"},
      {0x80, "\xC2\x80"},
      {0x7FF, "\xDF\xBF"},
      {0x800, "\xE0\xA0\x80"},
      {0xFFFF, "\xEF\xBF\xBF"},
      {0x10000, "\xF0\x90\x80\x80"},
      {0x200000, "\xF8\x88\x80\x80\x80"},
      {0x4000000, "\xFC\x84\x80\x80\x80\x80"},
      {0x7FFFFFFF, "\xFD\xBF\xBF\xBF\xBF\xBF"},
      {0x80000000, ""},
      {0xFFFFFF80, ""},
      {0xD83D, "\xED\xA0\xBD"},
  };
  for (const TextKernels *k : kernel_sets()) {
    SCOPED_TRACE(k->name);
    for (const Case &c : cases)
      EXPECT_EQ(encode({c.ch}, *k), c.bytes) << std::hex << c.ch;
    // A negative character is dropped between others, also inside a long run.
    std::vector<std::uint32_t> run(20, 'a');
    run[17] = 0xFFFFFF80;
    EXPECT_EQ(encode(run, *k), std::string(19, 'a'));
  }
}

TEST(Text, RoundTripLongMixedText) {
  std::string s;
  for (int i = 0; i < 500; ++i)
    s += i % 7 == 0 ? "\xE2\x82\xAC" : i % 5 == 0 ? "\xC3\xA9" : "abcdefghijklmnopq";
  wchar_t *w = convert_char_to_wchar(s.c_str());
  char *back = convert_wchar_to_char(w);
  EXPECT_EQ(std::string(back), s);
  std::free(w);
  std::free(back);
}

// The conversions one form at a time, as the header describes them, to
// check the block-at-a-time code against.
std::vector<std::uint32_t> reference_decode(const std::string &bytes) {
  static const unsigned kLeadMask[7] = {0, 0, 0x1F, 0x0F, 0x07, 0x03, 0x01};
  std::vector<std::uint32_t> out;
  std::size_t len = std::strlen(bytes.c_str());
  for (std::size_t i = 0; i < len;) {
    auto b = static_cast<unsigned char>(bytes[i]);
    unsigned n = b >= 0xFC && b <= 0xFD ? 6 : b >= 0xF8 && b <= 0xFB ? 5 : b >= 0xF0 && b <= 0xF7 ? 4
                 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xC0 && b <= 0xDF ? 2 : 1;
    if (n > len - i)
      break;
    std::uint32_t v = n == 1 ? static_cast<std::uint32_t>(static_cast<signed char>(b)) : b & kLeadMask[n];
    for (unsigned k = 1; k < n; ++k)
      v = (v << 6) | (static_cast<unsigned char>(bytes[i + k]) & 0x3Fu);
    out.push_back(v);
    i += n;
  }
  return out;
}

std::string reference_encode(const std::vector<std::uint32_t> &chars) {
  std::string out;
  for (std::uint32_t c : chars) {
    if (c >= 0x80000000u)
      continue;
    unsigned n = c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : c < 0x200000 ? 4 : c < 0x4000000 ? 5 : 6;
    static const unsigned char kLead[7] = {0, 0, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC};
    out.push_back(static_cast<char>(n == 1 ? c : kLead[n] | (c >> (6 * (n - 1)))));
    for (unsigned k = n - 1; k-- > 0;)
      out.push_back(static_cast<char>(0x80 | ((c >> (6 * k)) & 0x3F)));
  }
  return out;
}

// Texts of every length up to several 64-byte blocks, built
// of well-formed forms of every length, stray bytes, and forms cut short by
// the next form or by the end, so that each kind lands on every place of a
// block and at the end of the text.
TEST(Text, BlocksAgreeWithFormByFormDecoding) {
  const std::string pieces[] = {"a", "z", "\x7F", "\xC3\xA9", "\xDF\xBF", "\xE2\x82\xAC",
                                "\xEF\xBF\xBF", "\xF0\x9F\x98\x80", "\xF8\x88\x80\x80\x80",
                                "\xFD\xBF\xBF\xBF\xBF\xBF", "\x80", "\xBF", "\xFE", "\xFF", "\xC3",
                                "\xE2\x82", "\xF0\x9F"};
  std::mt19937 rng(7);
  std::vector<std::string> texts;
  for (std::size_t len = 0; len < 700; len += len < 300 ? 1 : 37) {
    for (int mix = 0; mix < 3; ++mix) {
      std::string t;
      while (t.size() < len) {
        unsigned r = rng() % 100;
        // Mostly ASCII, mostly two- and three-byte forms, or anything.
        std::size_t piece = mix == 0 ? (r < 90 ? 0 : rng() % std::size(pieces))
                            : mix == 1 ? (r < 60 ? 0 : r < 80 ? 3 : r < 98 ? 5 : rng() % std::size(pieces))
                                       : rng() % std::size(pieces);
        t += pieces[piece];
      }
      t.resize(len); // may cut the last form short
      texts.push_back(t);
    }
  }
  for (const TextKernels *k : kernel_sets()) {
    SCOPED_TRACE(k->name);
    for (const std::string &t : texts) {
      std::vector<std::uint32_t> expected = reference_decode(t);
      ASSERT_EQ(decode(t, *k), expected) << "length " << t.size();
      // The measuring pass agrees, and a smaller room gets a prefix.
      std::size_t len = std::strlen(t.c_str());
      ASSERT_EQ(k->count(t.c_str(), len), expected.size()) << "length " << t.size();
      std::vector<wchar_t> room(expected.size() / 2 + 1);
      std::size_t half = expected.size() / 2;
      ASSERT_EQ(k->decode(t.c_str(), len, room.data(), half), half);
      for (std::size_t i = 0; i < half; ++i)
        ASSERT_EQ(static_cast<std::uint32_t>(room[i]), expected[i]) << "length " << t.size();
    }
  }
}

// Wide texts of every length, of characters of every form length and
// negative ones, against the form-by-form encoder.
TEST(Text, BlocksAgreeWithFormByFormEncoding) {
  const std::uint32_t bounds[] = {0x80, 0x800, 0x10000, 0x200000, 0x4000000, 0x80000000u};
  std::mt19937 rng(11);
  for (const TextKernels *k : kernel_sets()) {
    SCOPED_TRACE(k->name);
    for (std::size_t len = 0; len < 700; len += len < 300 ? 1 : 37) {
      for (int mix = 0; mix < 3; ++mix) {
        std::vector<std::uint32_t> chars;
        while (chars.size() < len) {
          unsigned r = rng() % 100;
          std::uint32_t c;
          if (r < 5 && mix == 2)
            c = 0x80000000u | rng(); // negative
          else {
            // Mostly ASCII, mostly up to three bytes, or anything.
            std::size_t top = mix == 0 ? (r < 90 ? 0 : rng() % 6) : mix == 1 ? rng() % 3 : rng() % 6;
            c = 1 + rng() % (bounds[top] - 1);
          }
          chars.push_back(c);
        }
        std::string expected = reference_encode(chars);
        ASSERT_EQ(encode(chars, *k), expected) << "length " << len;
        std::vector<wchar_t> w(chars.begin(), chars.end());
        ASSERT_EQ(k->encoded_size(w.data(), w.size()), expected.size()) << "length " << len;
      }
    }
  }
}

TEST(Text, PlatformStrings) {
  hvl::PlatformString smiley = u"\U0001F600";
  wchar_t *w = hvl::convert_CFString_to_wchar(&smiley);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w[0], 0xD83D);
  EXPECT_EQ(w[1], 0xDE00);
  EXPECT_EQ(w[2], 0);
  char *u8 = convert_wchar_to_char(w);
  EXPECT_STREQ(u8, "\xED\xA0\xBD\xED\xB8\x80");
  std::free(u8);
  std::free(w);

  const wchar_t above[] = {0x1F600, static_cast<wchar_t>(0xFFFFFF80), 0};
  auto p = hvl::convert_wchar_to_CFString(above);
  ASSERT_TRUE(p.has_value());
  EXPECT_EQ(*p, (hvl::PlatformString{char16_t(0xF600), char16_t(0xFF80)}));
}

TEST(Text, CaseInsensitiveCompare) {
  struct Case {
    const wchar_t *a;
    const wchar_t *b;
    int expected;
  } cases[] = {
      {L"DSN", L"dsn", 0},
      {L"abc", L"abd", -1},
      {L"", L"x", -120},
      {L"x", L"", 120},
      {L"\u00C4rger", L"\u00E4RGER", 0},       // Latin-1 letters fold
      {L"\u0130", L"i", 0},                    // dotted capital I: first unit of its lowercase
      {L"\u212A", L"k", 0},                    // Kelvin sign
      {L"\U0001F600", L"\uF600", 0},           // compared by the low 16 bits
  };
  for (const Case &c : cases)
    EXPECT_EQ(hvl::wcscasecmp(c.a, c.b), c.expected) << "row " << (&c - cases);

  EXPECT_EQ(hvl::wcsncasecmp(L"Oracle 8.1.x", L"oracle 8", 8), 0);
  EXPECT_EQ(hvl::wcsncasecmp(L"abc", L"xyz", 0), 0);
  EXPECT_NE(hvl::wcsncasecmp(L"Oracle 9", L"oracle 8", 8), 0);
  EXPECT_LT(hvl::wcsncasecmp(L"ora", L"oracle", 6), 0); // shorter text does not match
  // The same pointer compares equal without being read.
  const wchar_t *p = reinterpret_cast<const wchar_t *>(alignof(wchar_t));
  EXPECT_EQ(hvl::wcscasecmp(p, p), 0);
  EXPECT_EQ(hvl::wcsncasecmp(p, p, 5), 0);
}

TEST(Text, TowlowerIgnoresProcessLocale) {
  // The host may run in any locale; the mapping stays the Unicode one.
  const char *old = std::setlocale(LC_CTYPE, nullptr);
  std::string saved = old != nullptr ? old : "C";
  std::setlocale(LC_CTYPE, "C");
  EXPECT_EQ(hvl::towlower(0xC9), 0xE9);
  EXPECT_EQ(hvl::towlower(0x0391), 0x03B1); // Greek capital alpha
  EXPECT_EQ(hvl::towlower(0), 0);
  EXPECT_EQ(hvl::towlower(0x1F600), 0xF600);
  // The C library's own towlower is not replaced for anyone else: in the C
  // locale it leaves non-ASCII letters alone.
  EXPECT_EQ(::towlower(0xC9), 0xC9u);
  std::setlocale(LC_CTYPE, saved.c_str());
}

} // namespace
