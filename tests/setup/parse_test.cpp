#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <cwchar>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "core/attrs.h"
#include "core/parse.h"
#include "fake_inst.h"
#include "pelmarinst.h"
#include "text/hvltext.h"

namespace {

using hvl::AttrEntry;

struct CopyDeleter {
  void operator()(AttrEntry *p) const { hvl::FreeWorkingCopy(p); }
};
using Copy = std::unique_ptr<AttrEntry[], CopyDeleter>;

Copy make_copy() {
  Copy c(hvl::MakeWorkingCopy());
  EXPECT_NE(c, nullptr);
  return c;
}

// An attribute list from strings, each terminated, with the final empty string.
std::string narrow_list(std::initializer_list<std::string> items) {
  std::string s;
  for (const auto &i : items) {
    s += i;
    s.push_back('\0');
  }
  s.push_back('\0');
  return s;
}
std::wstring wide_list(std::initializer_list<std::wstring> items) {
  std::wstring s;
  for (const auto &i : items) {
    s += i;
    s.push_back(L'\0');
  }
  s.push_back(L'\0');
  return s;
}

std::wstring val(const Copy &c, int i) { return c[i].value; }

TEST(AttrTable, WorkingCopyMatchesStaticTable) {
  Copy c = make_copy();
  for (int i = 0; i < hvl::kAttrCount; ++i) {
    EXPECT_EQ(c[i].connKey, hvl::attrs[i].connKey);
    EXPECT_EQ(c[i].iniKey, hvl::attrs[i].iniKey);
    EXPECT_EQ(c[i].kind, hvl::attrs[i].kind);
    EXPECT_EQ(c[i].maxLen, hvl::attrs[i].maxLen);
    EXPECT_EQ(c[i].defValue, hvl::attrs[i].defValue);
    EXPECT_EQ(c[i].supplied, 0);
    EXPECT_EQ(c[i].control, nullptr);
    EXPECT_EQ(c[i].value[0], 0);
  }
  // Entry 0 alone has no long keyword; 1 and 14 alone no short one.
  EXPECT_EQ(c[0].iniKey, nullptr);
  EXPECT_EQ(c[1].connKey, nullptr);
  EXPECT_EQ(c[14].connKey, nullptr);
  EXPECT_STREQ(c[13].defValue, L"Yes");
  EXPECT_EQ(c[5].maxLen, 6);
}

TEST(AttrTable, NoKeywordNamesTwoEntries) {
  for (int i = 0; i < hvl::kAttrCount; ++i)
    for (int j = i + 1; j < hvl::kAttrCount; ++j)
      for (const wchar_t *a : {hvl::attrs[i].connKey, hvl::attrs[i].iniKey})
        for (const wchar_t *b : {hvl::attrs[j].connKey, hvl::attrs[j].iniKey})
          if (a != nullptr && b != nullptr) {
            EXPECT_NE(hvl::wcscasecmp(a, b), 0) << i << " " << j;
          }
}

class Parse : public ::testing::Test {
protected:
  void SetUp() override { fake_inst::reset(); }
  Copy c = make_copy();
};

TEST_F(Parse, NarrowListEdgeCases) {
  struct Case {
    const char *what;
    std::string list;
    int entry;
    std::wstring value;
    int supplied;
  } cases[] = {
      {"first string naming an entry wins", narrow_list({"HOST=a", "Host=b"}), 4, L"a", 1},
      {"first wins in the other order", narrow_list({"Host=b", "HOST=a"}), 4, L"b", 1},
      {"keys ignore case", narrow_list({"host=x"}), 4, L"x", 1},
      {"long keyword in any case", narrow_list({"DESCRIPTION=x"}), 1, L"x", 1},
      {"value keeps later =", narrow_list({"OPTIONS=a=b"}), 8, L"a=b", 1},
      {"empty value is supplied", narrow_list({"Port="}), 5, L"", 1},
      {"no = means empty value", narrow_list({"Port"}), 5, L"", 1},
      {"empty key changes nothing", narrow_list({"=x"}), 0, L"", 0},
      {"unknown key changes nothing", narrow_list({"Driver=x"}), 0, L"", 0},
      {"UTF-8 value decodes", narrow_list({"UID=\xC3\xBC"}), 10, L"\u00FC", 1},
      {"short keyword", narrow_list({"PWD=secret"}), 11, L"secret", 1},
      {"key matched by Unicode lowercase", narrow_list({"DESCR\xC4\xB0PT\xC4\xB0ON=x"}), 1, L"x", 1},
      {"key decoded to the first overlong zero", narrow_list({"DSN\xC0\x80zz=name"}), 0, L"name", 1},
      {"form cut by = ends the key", narrow_list({"UID\xE2\x82=x"}), 10, L"x", 1},
      {"key longer than any keyword", narrow_list({"DeferLongFetchXX=1"}), 13, L"", 0},
  };
  for (const Case &k : cases) {
    hvl::ParseAttributes(k.list.data(), c.get(), 0);
    EXPECT_EQ(val(c, k.entry), k.value) << k.what;
    EXPECT_EQ(c[k.entry].supplied, k.supplied) << k.what;
  }
}

TEST_F(Parse, WideListEdgeCases) {
  hvl::ParseAttributes(wide_list({L"HOST=a", L"host=b", L"OPTIONS=a=b", L"Port", L"=x",
                                  L"description=\u00FC"})
                           .data(),
                       c.get(), 2);
  EXPECT_EQ(val(c, 4), L"a");
  EXPECT_EQ(val(c, 8), L"a=b");
  EXPECT_EQ(val(c, 5), L"");
  EXPECT_EQ(c[5].supplied, 1);
  EXPECT_EQ(val(c, 1), L"\u00FC");
  // A wide character whose low 16 bits are 0 lowercases to 0 and so ends the key.
  hvl::ParseAttributes(wide_list({std::wstring(L"UID") + wchar_t(0x10000) + L"x=me"}).data(),
                       c.get(), 2);
  EXPECT_EQ(val(c, 10), L"me");
}

TEST_F(Parse, ResetsEveryEntryAndHandlesEmptyLists) {
  hvl::ParseAttributes(narrow_list({"HOST=a", "DSN=d"}).data(), c.get(), 0);
  hvl::ParseAttributes(nullptr, c.get(), 0);
  for (int i = 0; i < hvl::kAttrCount; ++i) {
    EXPECT_EQ(c[i].value[0], 0);
    EXPECT_EQ(c[i].supplied, 0);
  }
  hvl::ParseAttributes(narrow_list({"HOST=a"}).data(), c.get(), 0);
  hvl::ParseAttributes("\0\0", c.get(), 0);
  EXPECT_EQ(c[4].supplied, 0);
  hvl::ParseAttributes(L"\0\0", c.get(), 2);
  EXPECT_EQ(c[4].supplied, 0);
}

TEST_F(Parse, LongValuesAreCut) {
  std::string v1026(1026, 'v');
  hvl::ParseAttributes(narrow_list({"OPTIONS=" + v1026 + "tail", "DATABASE=" + v1026}).data(),
                       c.get(), 0);
  EXPECT_EQ(val(c, 8), std::wstring(1026, L'v'));
  EXPECT_EQ(val(c, 6), std::wstring(1026, L'v'));
  std::wstring w(3000, L'w');
  hvl::ParseAttributes(wide_list({L"UID=" + w}).data(), c.get(), 2);
  EXPECT_EQ(val(c, 10), std::wstring(1026, L'w'));
  // A cut inside multi-byte text keeps whole characters.
  std::string e;
  for (int i = 0; i < 1100; ++i)
    e += "\xE2\x82\xAC";
  hvl::ParseAttributes(narrow_list({"PWD=" + e}).data(), c.get(), 0);
  EXPECT_EQ(val(c, 11), std::wstring(1026, L'\u20AC'));
}

// The list may live in read-only memory: the parse must never write to it.
TEST_F(Parse, ListInReadOnlyMemoryIsNeverWritten) {
  long page = sysconf(_SC_PAGESIZE);
  void *mem = mmap(nullptr, static_cast<std::size_t>(page) * 2, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(mem, MAP_FAILED);
  std::string narrow = narrow_list({"DSN=sales", "Host", "OPTIONS=a=b", "=x", "UID=\xC3\xBC"});
  std::wstring wide = wide_list({L"DSN=sales", L"Host", L"OPTIONS=a=b", L"=x"});
  char *n = static_cast<char *>(mem);
  auto *w = reinterpret_cast<wchar_t *>(n + page);
  std::memcpy(n, narrow.data(), narrow.size());
  std::memcpy(w, wide.data(), wide.size() * sizeof(wchar_t));
  ASSERT_EQ(mprotect(mem, static_cast<std::size_t>(page) * 2, PROT_READ), 0);

  hvl::ParseAttributes(n, c.get(), 0);
  EXPECT_EQ(val(c, 0), L"sales");
  EXPECT_EQ(val(c, 8), L"a=b");
  EXPECT_EQ(c[4].supplied, 1);
  EXPECT_EQ(val(c, 10), L"\u00FC");
  hvl::ParseAttributes(w, c.get(), 2);
  EXPECT_EQ(val(c, 0), L"sales");
  EXPECT_EQ(val(c, 8), L"a=b");

  EXPECT_EQ(std::memcmp(n, narrow.data(), narrow.size()), 0);
  EXPECT_EQ(std::memcmp(w, wide.data(), wide.size() * sizeof(wchar_t)), 0);
  munmap(mem, static_cast<std::size_t>(page) * 2);
  // And a string literal, as callers pass them.
  hvl::ParseAttributes("DSN=lit\0Port=1\0", c.get(), 0);
  EXPECT_EQ(val(c, 5), L"1");
}

TEST_F(Parse, GetDefaultsFromStoreOrDefaults) {
  fake_inst::values[L"sales"] = {{L"Host", L"db.example"}, {L"Port", L""}, {L"ReadOnly", L"Yes"}};
  hvl::ParseAttributes(narrow_list({"DSN=sales", "UID=me"}).data(), c.get(), 0);
  hvl::GetDefaults(c[0].value, c.get(), ODBC_USER_DSN);

  EXPECT_EQ(val(c, 4), L"db.example");
  // Found but empty: stays empty and unsupplied, the default is not used.
  EXPECT_EQ(val(c, 5), L"");
  EXPECT_EQ(c[5].supplied, 0);
  // The store bounds the value by the entry's maxLen (3 for yes/no).
  EXPECT_EQ(val(c, 9), L"Ye");
  EXPECT_EQ(val(c, 3), L"30");
  EXPECT_EQ(c[3].supplied, 1);
  EXPECT_EQ(val(c, 10), L"me"); // supplied by the list, not read
  EXPECT_EQ(val(c, 0), L"sales");

  // Every entry with a long keyword not supplied is read once, in table
  // order, each read right after setting the mode.
  std::vector<std::wstring> keys;
  for (std::size_t i = 0; i < fake_inst::calls.size(); ++i) {
    const auto &call = fake_inst::calls[i];
    if (call.op != "SQLGetKeywordValueW")
      continue;
    ASSERT_GT(i, 0u);
    EXPECT_EQ(fake_inst::calls[i - 1].op, "SQLSetConfigMode");
    EXPECT_EQ(call.mode, unsigned{ODBC_USER_DSN});
    EXPECT_EQ(call.args[0], L"sales");
    keys.push_back(call.args[1]);
    for (int e = 0; e < hvl::kAttrCount; ++e)
      if (c[e].iniKey != nullptr && call.args[1] == c[e].iniKey) {
        EXPECT_EQ(call.length, c[e].maxLen);
      }
  }
  EXPECT_EQ(keys, (std::vector<std::wstring>{L"Description", L"ServerType", L"FetchBufferSize",
                                             L"Host", L"Port", L"Database", L"Protocol",
                                             L"Options", L"ReadOnly", L"Password",
                                             L"NoLoginBox", L"DeferLongFetch",
                                             L"ServerOptions"}));
}

TEST_F(Parse, EmptyListTakesTheDefaults) {
  hvl::ParseAttributes(nullptr, c.get(), 0);
  hvl::GetDefaults(L"none", c.get(), ODBC_BOTH_DSN);
  for (int i = 0; i < hvl::kAttrCount; ++i) {
    bool has_default = i == 3 || i == 4 || i == 5 || i == 9 || i == 12 || i == 13;
    EXPECT_EQ(c[i].supplied, has_default ? 1 : 0) << i;
    EXPECT_STREQ(c[i].value, i == 0 ? L"" : hvl::attrs[i].defValue) << i;
  }
}

TEST_F(Parse, ReadThatSucceedsWithoutValueLeavesEntryEmpty) {
  fake_inst::succeed_without_value = true;
  hvl::ParseAttributes(nullptr, c.get(), 0);
  hvl::GetDefaults(L"x", c.get(), ODBC_BOTH_DSN);
  for (int i = 0; i < hvl::kAttrCount; ++i) {
    EXPECT_EQ(c[i].supplied, 0) << i;
    EXPECT_EQ(c[i].value[0], 0) << i;
  }
}

TEST_F(Parse, StaticTableUnchangedAfterUse) {
  std::vector<unsigned char> before(sizeof hvl::attrs);
  std::memcpy(before.data(), hvl::attrs, sizeof hvl::attrs);
  for (int round = 0; round < 2; ++round) {
    Copy w = make_copy();
    hvl::ParseAttributes(narrow_list({"DSN=a", "HOST=h", "READONLY=Yes"}).data(), w.get(), 0);
    hvl::GetDefaults(w[0].value, w.get(), ODBC_BOTH_DSN);
    std::wcscpy(w[4].value, L"changed");
  }
  EXPECT_EQ(std::memcmp(before.data(), hvl::attrs, sizeof hvl::attrs), 0);
  Copy fresh = make_copy();
  hvl::ParseAttributes(nullptr, fresh.get(), 0);
  hvl::GetDefaults(L"", fresh.get(), ODBC_BOTH_DSN);
  EXPECT_STREQ(fresh[4].value, L"localhost");
}

} // namespace
