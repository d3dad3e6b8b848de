#include "core/parse.h"

#include <cstring>
#include <cwchar>

#include "pelmarinst.h"
#include "text/hvltext.h"
#include "text/utf8.h"

namespace hvl {

namespace {

constexpr std::size_t kValueMax = kValueSize - 1;

// No keyword is longer than this, so a comparison against one never looks at
// more characters of a key.
constexpr std::size_t kKeyLookahead = 16;

// wcscasecmp(key, keyword) == 0, where the key is the `keylen` characters at
// `key` as if a terminator followed them: the list is never written, so the
// key's end is known by its length instead.
bool key_equals(const wchar_t *key, std::size_t keylen, const wchar_t *keyword) {
  for (std::size_t i = 0;; ++i) {
    wchar_t c1 = towlower(i < keylen ? key[i] : 0);
    wchar_t c2 = towlower(keyword[i]);
    if (c1 == 0 || c1 != c2)
      return c1 == c2;
  }
}

// The first entry not yet supplied that the key names, or null.
AttrEntry *find_entry(AttrEntry *table, const wchar_t *key, std::size_t keylen) {
  for (int i = 0; i < kAttrCount; ++i) {
    AttrEntry &e = table[i];
    bool named = (e.connKey != nullptr && key_equals(key, keylen, e.connKey)) ||
                 (e.iniKey != nullptr && key_equals(key, keylen, e.iniKey));
    if (named && e.supplied == 0)
      return &e;
  }
  return nullptr;
}

// Parses one narrow string; returns its length in bytes.
std::size_t parse_narrow(const char *s, AttrEntry *table) {
  std::size_t len = std::strlen(s);
  const char *eq = static_cast<const char *>(std::memchr(s, '=', len));
  std::size_t keybytes = eq != nullptr ? static_cast<std::size_t>(eq - s) : len;

  // Only the first characters of a key can decide a match; decoding stops
  // where the "=" ends the key, as a terminator written there would.
  wchar_t key[kKeyLookahead];
  std::size_t keylen = detail::utf8_decode(s, keybytes, key, kKeyLookahead);
  AttrEntry *e = find_entry(table, key, keylen);
  if (e != nullptr) {
    const char *value = eq != nullptr ? eq + 1 : s + len;
    std::size_t n = detail::utf8_decode(value, static_cast<std::size_t>(s + len - value), e->value,
                                        kValueMax);
    e->value[n] = 0;
    e->supplied = 1;
  }
  return len;
}

// Parses one wide string; returns its length in characters.
std::size_t parse_wide(const wchar_t *s, AttrEntry *table) {
  std::size_t len = std::wcslen(s);
  const wchar_t *eq = std::wmemchr(s, L'=', len);
  std::size_t keylen = eq != nullptr ? static_cast<std::size_t>(eq - s) : len;
  AttrEntry *e = find_entry(table, s, keylen);
  if (e != nullptr) {
    const wchar_t *value = eq != nullptr ? eq + 1 : s + len;
    std::size_t n = static_cast<std::size_t>(s + len - value);
    if (n > kValueMax)
      n = kValueMax;
    std::wmemcpy(e->value, value, n);
    e->value[n] = 0;
    e->supplied = 1;
  }
  return len;
}

} // namespace

void ParseAttributes(const void *list, AttrEntry *table, int wideFlag) {
  for (int i = 0; i < kAttrCount; ++i) {
    table[i].value[0] = 0;
    table[i].supplied = 0;
  }
  if (list == nullptr)
    return;
  if (wideFlag != 0) {
    for (const auto *s = static_cast<const wchar_t *>(list); *s != 0;)
      s += parse_wide(s, table) + 1;
  } else {
    for (const auto *s = static_cast<const char *>(list); *s != 0;)
      s += parse_narrow(s, table) + 1;
  }
}

void GetDefaults(const wchar_t *dsn, AttrEntry *table, std::uint16_t mode) {
  for (int i = 0; i < kAttrCount; ++i) {
    AttrEntry &e = table[i];
    if (e.supplied == 1 || e.iniKey == nullptr)
      continue;
    SQLSetConfigMode(mode);
    int length = 0;
    if (!SQLGetKeywordValueW(dsn, e.iniKey, e.value, static_cast<int>(e.maxLen), &length))
      std::wcscpy(e.value, e.defValue);
    e.value[kValueMax] = 0; // whatever the library left, the value stays terminated
    if (e.value[0] != 0)
      e.supplied = 1;
  }
}

} // namespace hvl
