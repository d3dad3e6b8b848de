// The ini document: what it reads, and that a rewrite changes only what was
// edited.
#include <gtest/gtest.h>

#include "ini.h"

using pinst::Document;

namespace {

Document Parse(const std::string &text) {
  return Document::Parse(std::make_shared<const std::string>(text));
}

TEST(IniParse, RoundTripsAnyText) {
  const char *cases[] = {
      "",                                        // empty file
      "[a]\nk=v",                                // no final newline
      "\xEF\xBB\xBF[a]\r\nk = v\r\n",            // byte order mark and CRLF
      "; lead comment\n\n[a]\n  k\t=\tv  \n",    // spacing around keys and values
      "stray=before any section\n[a\nk=v\n",     // key before a header, unclosed header
      "[a]\n=no key\n\xFF\xFE bytes\n[a]\nk=2\n",  // no key, invalid UTF-8, repeated section
  };
  for (const char *text : cases)
    EXPECT_EQ(Parse(text).Serialize(), text) << text;
}

TEST(IniParse, Reads) {
  Document d = Parse("\xEF\xBB\xBF; c\n[ODBC Data Sources]\r\nSales = Drv \r\n"
                     "[Sales]\nHost= h1\nEmpty=\nBare\n#Port=1\n[sales]\nHost=h2\nPort=5\n"
                     "[open\nk=v\n");
  std::string_view v;
  ASSERT_TRUE(d.Get("odbc data sources", "SALES", &v));
  EXPECT_EQ(v, "Drv");  // trimmed, CR dropped
  ASSERT_TRUE(d.Get("SALES", "host", &v));
  EXPECT_EQ(v, "h1");   // the first entry wins
  ASSERT_TRUE(d.Get("Sales", "Port", &v));
  EXPECT_EQ(v, "5");    // later sections of the same name are read too
  ASSERT_TRUE(d.Get("Sales", "Empty", &v));
  EXPECT_EQ(v, "");
  ASSERT_TRUE(d.Get("Sales", "Bare", &v));
  EXPECT_EQ(v, "");
  EXPECT_FALSE(d.Get("Sales", "#Port", &v));  // a comment
  EXPECT_FALSE(d.Get("Nope", "Host", &v));
  ASSERT_TRUE(d.Get("open", "k", &v));        // an unclosed header still opens a section
  std::vector<std::string_view> keys = d.Keys("sales");
  EXPECT_EQ(keys, (std::vector<std::string_view>{"Host", "Empty", "Bare", "Port"}));
  EXPECT_EQ(d.SectionNames(),
            (std::vector<std::string_view>{"ODBC Data Sources", "Sales", "open"}));
}

TEST(IniParse, NonAsciiNamesMatchIgnoringCase) {
  Document d = Parse("[Ünïcode DSN]\nSchlüssel=1\n");
  std::string_view v;
  EXPECT_TRUE(d.Get("üNÏCODE dsn", "SCHLÜSSEL", &v));
}

TEST(IniEdit, KeepsEverythingElse) {
  const std::string before = "# header comment\n"
                             "[ODBC Data Sources]\n"
                             "a = Drv\n"
                             "\n"
                             "; about a\n"
                             "[a]\r\n"
                             "Driver   =   /old.so\r\n"
                             "Unknown=kept\r\n"
                             "; trailing comment of a\n"
                             "\n"
                             "[b]\n"
                             "Host=x";
  Document d = Parse(before);
  EXPECT_TRUE(d.Set("A", "driver", "/new.so"));   // keeps "Driver   =   " and the CR
  EXPECT_TRUE(d.Set("a", "Port", "5432"));        // after the last entry, before the comment
  EXPECT_TRUE(d.Set("ODBC Data Sources", "b", "Drv"));
  EXPECT_TRUE(d.Set("b", "Port", "1"));           // the file had no final newline
  EXPECT_TRUE(d.Set("New", "K", "V"));
  EXPECT_FALSE(d.Set("b", "HOST", "x"));          // same value: no change
  EXPECT_EQ(d.Serialize(), "# header comment\n"
                           "[ODBC Data Sources]\n"
                           "a = Drv\n"
                           "b=Drv\n"
                           "\n"
                           "; about a\n"
                           "[a]\r\n"
                           "Driver   =   /new.so\r\n"
                           "Unknown=kept\r\n"
                           "Port=5432\n"
                           "; trailing comment of a\n"
                           "\n"
                           "[b]\n"
                           "Host=x\n"
                           "Port=1\n"
                           "\n"
                           "[New]\n"
                           "K=V\n");
}

TEST(IniEdit, Removes) {
  Document d = Parse("[x]\nk=1\n\n[a]\nk=1\nk=2\nj=3\n; note on b\n\n[b]\nk=1\n[a]\nk=9\n");
  EXPECT_TRUE(d.RemoveKey("A", "K"));  // every entry, in every section of the name
  EXPECT_EQ(d.Serialize(), "[x]\nk=1\n\n[a]\nj=3\n; note on b\n\n[b]\nk=1\n[a]\n");
  EXPECT_FALSE(d.RemoveKey("a", "k"));
  EXPECT_TRUE(d.RemoveSection("a"));
  EXPECT_EQ(d.Serialize(), "[x]\nk=1\n\n; note on b\n\n[b]\nk=1\n");
  EXPECT_FALSE(d.HasSection("a"));
  EXPECT_FALSE(d.RemoveSection("a"));
  EXPECT_TRUE(d.Set("a", "k", "again"));
  std::string_view v;
  EXPECT_TRUE(d.Get("a", "k", &v));
}

TEST(IniEdit, LargeSectionsStayIndexed) {
  std::string text = "[ODBC Data Sources]\n";
  for (int i = 0; i < 100; ++i)
    text += "dsn" + std::to_string(i) + "=Drv\n";
  text += "; end\n";
  Document d = Parse(text);
  EXPECT_TRUE(d.Set("ODBC Data Sources", "extra", "Other"));
  EXPECT_TRUE(d.Set("ODBC Data Sources", "DSN7", "Changed"));
  EXPECT_TRUE(d.RemoveKey("ODBC Data Sources", "dsn50"));
  std::string_view v;
  ASSERT_TRUE(d.Get("ODBC Data Sources", "extra", &v));
  EXPECT_EQ(v, "Other");
  ASSERT_TRUE(d.Get("ODBC Data Sources", "dsn7", &v));
  EXPECT_EQ(v, "Changed");
  ASSERT_TRUE(d.Get("ODBC Data Sources", "dsn99", &v));
  EXPECT_FALSE(d.Get("ODBC Data Sources", "dsn50", &v));
  EXPECT_EQ(d.Keys("ODBC Data Sources").size(), 100u);
  Document again = Parse(d.Serialize());
  EXPECT_EQ(again.Serialize(), d.Serialize());
  EXPECT_EQ(d.Serialize().substr(d.Serialize().size() - 18), "extra=Other\n; end\n");
}

} // namespace
