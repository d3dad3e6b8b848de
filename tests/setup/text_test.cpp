#include <clocale>
#include <cstdlib>
#include <cwctype>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "text/hvltext.h"

namespace {

using hvl::convert_char_to_wchar;
using hvl::convert_wchar_to_char;

std::vector<std::uint32_t> decode(const std::string &bytes) {
  wchar_t *w = convert_char_to_wchar(bytes.c_str());
  EXPECT_NE(w, nullptr);
  std::vector<std::uint32_t> out;
  for (const wchar_t *p = w; *p != 0; ++p)
    out.push_back(static_cast<std::uint32_t>(*p));
  std::free(w);
  return out;
}

std::string encode(const std::vector<std::uint32_t> &chars) {
  std::wstring w;
  for (auto c : chars)
    w.push_back(static_cast<wchar_t>(c));
  char *s = convert_wchar_to_char(w.c_str());
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
  for (const Case &c : cases)
    EXPECT_EQ(decode(c.bytes), c.chars) << c.what;
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
  for (const Case &c : cases)
    EXPECT_EQ(encode({c.ch}), c.bytes) << std::hex << c.ch;
  // A negative character is dropped between others, also inside a long run.
  std::vector<std::uint32_t> run(20, 'a');
  run[17] = 0xFFFFFF80;
  EXPECT_EQ(encode(run), std::string(19, 'a'));
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
