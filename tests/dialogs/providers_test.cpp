// The server type list: the preference, the pop-up, the labels and the
// pop-up's draw handlers, against the in-memory toolkit.
#include <cwchar>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "dialogs/providers.h"
#include "temp_env.h"
#include "toolkit/utf16.h"
#include "windows.h"

namespace hvl::test {
namespace {

PlatformString P(const wchar_t *w) {
  PlatformString s;
  for (; *w != 0; ++w)
    s.push_back(static_cast<char16_t>(*w));
  return s;
}

ProviderList DefaultList() {
  ProviderList list;
  for (const wchar_t *name : providerstr)
    list.emplace_back(P(name));
  return list;
}

class Providers : public ::testing::Test {
protected:
  void SetUp() override {
    tk.Define("hvlsetup", BuildSetupWindow);
    tk.Define("hvllogin", BuildLoginWindow);
    ASSERT_EQ(tk.OpenWindow("", "hvlsetup", "Dialog", &window), noErr);
    BindSetup(window, rec, table.get());
  }
  FakeControl *C(ControlRef c) { return static_cast<FakeControl *>(c); }
  void SetType(const wchar_t *v) { std::wcscpy(table[ATTR_SERVERTYPE].value, v); }

  // What the labels say and which of options label, database label and
  // options field are shown.
  struct Labels {
    std::string database, options;
    bool optionsLabel, databaseLabel, optionsField;
  };
  Labels Now() {
    return {U8(C(rec.databaseLabel)->text), U8(C(rec.optionsLabel)->text),
            C(rec.optionsLabel)->visible, C(rec.databaseLabel)->visible,
            C(rec.optionsCtl)->visible};
  }

  TempEnv env;
  FakeToolkit tk;
  WorkingCopy table{MakeWorkingCopy()};
  DlgControls rec;
  WindowRef window = nullptr;
};

TEST_F(Providers, FirstUseStoresTheDefaultListAndLaterUsesTheStoredOne) {
  ProviderList list;
  ASSERT_EQ(OpenOrMakePrefsFile(&list), 1);
  EXPECT_EQ(list, DefaultList());
  ASSERT_EQ(list.size(), 63u);
  auto stored = nlohmann::json::parse(TempEnv::Read(env.prefs()));
  ASSERT_EQ(stored["Provider"].size(), 63u);
  EXPECT_EQ(stored["Provider"][9], "Ingres II");
  EXPECT_EQ(stored["Provider"][16], "Ingres II");
  EXPECT_EQ(stored["Provider"][62], "Brevant");

  // A list the user edited is used as it stands and never rewritten.
  const std::string edited = R"({"Provider": ["Zeta", "Odbc", 3]})";
  TempEnv::Write(env.prefs(), edited);
  ASSERT_EQ(OpenOrMakePrefsFile(&list), 1);
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0], PlatformString(u"Zeta"));
  EXPECT_FALSE(list[2].has_value());
  EXPECT_EQ(TempEnv::Read(env.prefs()), edited);

  // Of the wrong type, or a broken file: 0 every time, nothing repaired.
  for (std::string bad : {R"({"Provider": "DB2"})", R"({"Provider": {"a": 1}})", "{oops"}) {
    TempEnv::Write(env.prefs(), bad);
    EXPECT_EQ(OpenOrMakePrefsFile(&list), 0) << bad;
    EXPECT_EQ(OpenOrMakePrefsFile(&list), 0) << bad;
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(TempEnv::Read(env.prefs()), bad);
  }
  EXPECT_EQ(OpenOrMakePrefsFile(nullptr), 0);
}

TEST_F(Providers, ADefaultListThatCannotBeStoredIsStillHandedOut) {
  // The config folder is a file: nothing can be written under it.
  TempEnv::Write(env.dir() + "/config", "not a folder");
  ProviderList list;
  EXPECT_EQ(OpenOrMakePrefsFile(&list), 1);
  EXPECT_EQ(list.size(), 63u);
}

TEST_F(Providers, EveryDefaultNameGetsItsRowOfLabels) {
  SetUpProviderList(&rec, DefaultList());
  const Labels row1{"Name", "Server/Adapter", true, true, true};
  const Labels row2{"Driver name", "JDBC URL", true, true, true};
  const Labels row3{"Name", "Server name", true, true, true};
  const Labels row5{"Name", "Ingres Net (vnode)", true, true, true};
  const Labels row6{"Name", "Net 9 Service Name", true, true, true};
  const Labels row7{"Name", "Net 8 Service Name", true, true, true};
  const Labels row8{"Name", "SQL *Net Alias", true, true, true};
  const Labels row9{"Name", "Server", true, true, true};
  const Labels row11{"Name", "Connection options", true, true, true};
  auto expected = [&](const std::string &name) -> Labels {
    auto starts = [&](const char *p) { return name.rfind(p, 0) == 0; };
    if (name == "DB2") return row1;
    if (starts("Jdbc")) return row2;
    if (starts("Informix")) return row3;
    if (name == "Odbc") return {"DSN", "", false, true, false};
    if (starts("Ingres")) return row5;
    if (starts("Oracle 9")) return row6;
    if (starts("Oracle 8")) return row7;
    if (starts("Oracle")) return row8;
    if (name == "Proxy" || name == "Solid" || starts("SQLServer") || starts("Sybase") ||
        name == "Unify 2000" || name == "Velocis")
      return row9;
    if (name == "Brevant") return {"Host:port", "", false, true, false};
    return row11; // MySQL, OpenIngres, PostgreSQL, Postgres 95, Progress
  };
  for (std::int16_t item = 1; item <= 63; ++item) {
    std::string name = U8(P(providerstr[item - 1]));
    Labels want = expected(name);
    // Rows without an options label keep the old text: start from a known one.
    C(rec.optionsLabel)->text = u"";
    ChangeDatabaseLabels(&rec, item);
    Labels got = Now();
    EXPECT_EQ(got.database, want.database) << name;
    EXPECT_EQ(got.options, want.options) << name;
    EXPECT_EQ(got.optionsLabel, want.optionsLabel) << name;
    EXPECT_EQ(got.databaseLabel, want.databaseLabel) << name;
    EXPECT_EQ(got.optionsField, want.optionsField) << name;
    EXPECT_TRUE(C(rec.databaseCtl)->visible) << name; // never hidden
  }
}

TEST_F(Providers, KeysMatchByTheirLengthOnlyAndInTableOrder) {
  struct Case {
    const char16_t *item;
    const char *database, *options;
  } cases[] = {
      {u"open ingres 2", "Name", "Ingres Net (vnode)"}, // second key of row 5
      {u"INGRESX", "Name", "Ingres Net (vnode)"},       // a key and anything after it
      {u"Oracle 10", "Name", "SQL *Net Alias"},
      {u"oracle 9i", "Name", "Net 9 Service Name"},
      {u"Orac", "Name", "Connection options"}, // shorter than every key
      {u"db", "Name", "Connection options"},
      {u"Sybase", "Name", "Server"},
      {u"odbc2", "DSN", "kept"},
      {u"", "Name", "Connection options"},
  };
  ProviderList list;
  for (const auto &c : cases)
    list.emplace_back(c.item);
  SetUpProviderList(&rec, list);
  std::int16_t item = 0;
  for (const auto &c : cases) {
    C(rec.optionsLabel)->text = u"kept";
    ChangeDatabaseLabels(&rec, ++item);
    EXPECT_EQ(U8(C(rec.databaseLabel)->text), c.database) << U8(c.item);
    EXPECT_EQ(U8(C(rec.optionsLabel)->text), c.options) << U8(c.item);
  }
  // An item without text changes nothing.
  tk.log.clear();
  ChangeDatabaseLabels(&rec, 99);
  ChangeDatabaseLabels(&rec, 0);
  EXPECT_TRUE(tk.log.empty());
}

TEST_F(Providers, LabelsHideThenShowInOrder) {
  SetUpProviderList(&rec, {PlatformString(u"DB2")});
  tk.log.clear();
  ChangeDatabaseLabels(&rec, 1);
  std::vector<std::string> want = {
      "vis CNTL_141 0",      "vis CNTL_142 0",          "vis CNTL_137 0",
      "text CNTL_137 Name",  "text CNTL_141 Server/Adapter", "vis CNTL_141 1",
      "vis CNTL_137 1",      "vis CNTL_142 1",
  };
  EXPECT_EQ(tk.log, want);
}

TEST_F(Providers, StoredTypeSelectsTheLastEqualItemIgnoringCase) {
  struct Case {
    const wchar_t *stored;
    std::int32_t item;
    const char *why;
  } cases[] = {
      {L"oracle 8.1.X", 21, "case differs"},
      {L"Ingres II", 17, "two equal items: the last"},
      {L"DB2", 1, "first item"},
      {L"Brevant", 63, "last item"},
      {L"Oracle 8", 1, "a prefix is not equal"},
      {L"Nowhere", 1, "not in the list"},
      {L"", 1, "empty"},
      {L" DB2", 1, "begins with a space"},
      {L"\x01" L"DB2", 1, "begins with a control character"},
  };
  for (const auto &c : cases) {
    SetType(c.stored);
    SetUpProviderList(&rec, DefaultList());
    EXPECT_EQ(C(rec.serverTypeCtl)->value, c.item) << c.why;
  }
  EXPECT_EQ(C(rec.serverTypeCtl)->items.size(), 63u); // the definition's item replaced
  EXPECT_EQ(C(rec.serverTypeCtl)->maximum, 63);
  EXPECT_EQ(C(rec.serverTypeCtl)->items[0], u"DB2");

  SetType(L"oracle 8.1.X");
  SetUpProviderList(&rec, DefaultList());
  EXPECT_EQ(Now().options, "Net 8 Service Name");
  EXPECT_EQ(Now().database, "Name");
  // Confirming stores the chosen item's own spelling.
  CommitOptions(&rec);
  EXPECT_EQ(std::wstring(table[ATTR_SERVERTYPE].value), L"Oracle 8.1.x");
}

TEST_F(Providers, UnusualListsFillThePopupWithoutChoosingTheUnreadable) {
  SetType(L"Odbc");
  ProviderList list = {std::nullopt, PlatformString(u"Odbc"), std::nullopt};
  SetUpProviderList(&rec, list);
  EXPECT_EQ(C(rec.serverTypeCtl)->items, (std::vector<PlatformString>{u"", u"Odbc", u""}));
  EXPECT_EQ(C(rec.serverTypeCtl)->value, 2);

  // An empty list: no items, labels as they were, the stored type kept.
  C(rec.databaseLabel)->text = u"Database";
  SetUpProviderList(&rec, {});
  EXPECT_TRUE(C(rec.serverTypeCtl)->items.empty());
  EXPECT_EQ(C(rec.serverTypeCtl)->maximum, 0);
  EXPECT_EQ(U8(C(rec.databaseLabel)->text), "Database");
  EXPECT_TRUE(C(rec.serverTypeCtl)->visible);
  CommitOptions(&rec);
  EXPECT_EQ(std::wstring(table[ATTR_SERVERTYPE].value), L"Odbc");

  // No pop-up in the window: nothing to fill, nothing breaks.
  DlgControls bare;
  bare.attrTable = table.get();
  SetUpProviderList(&bare, DefaultList());
  ChangeDatabaseLabels(&bare, 1);
}

// The draw handler follows the user's choices, reinstalling itself each time
// without ever feeding itself another draw.
void FollowChoices(FakeToolkit &tk, DlgControls &rec, EventHandlerProc handler) {
  auto *popup = static_cast<FakeControl *>(rec.serverTypeCtl);
  ASSERT_EQ(tk.InstallEventHandler(rec.serverTypeCtl, EventKind::ControlDraw, handler, &rec,
                                   &rec.providersHandler),
            noErr);
  EventHandlerRef first = rec.providersHandler;
  tk.ShowWindow(rec.window);
  tk.Script({
      [&](FakeToolkit &t) { t.Choose(popup, 15); }, // Odbc
      [&](FakeToolkit &t) { t.Choose(popup, 1); },  // DB2
  });
  int waits = 0;
  while (tk.WaitNextEvent(60) && ++waits < 50) {
    if (waits == 2) { // after the first choice
      EXPECT_EQ(U8(static_cast<FakeControl *>(rec.databaseLabel)->text), "DSN");
      EXPECT_FALSE(static_cast<FakeControl *>(rec.optionsCtl)->visible);
      EXPECT_FALSE(static_cast<FakeControl *>(rec.optionsLabel)->visible);
    }
  }
  EXPECT_TRUE(tk.exhausted);
  EXPECT_LT(waits, 50);
  EXPECT_EQ(U8(static_cast<FakeControl *>(rec.databaseLabel)->text), "Name");
  EXPECT_EQ(U8(static_cast<FakeControl *>(rec.optionsLabel)->text), "Server/Adapter");
  EXPECT_TRUE(static_cast<FakeControl *>(rec.optionsCtl)->visible);
  EXPECT_EQ(popup->handlers.size(), 1u);
  EXPECT_NE(rec.providersHandler, nullptr);
  EXPECT_NE(rec.providersHandler, first); // reinstalled, a new reference
  EXPECT_EQ(popup->handlers.front()->proc, handler);
  EXPECT_EQ(popup->draws, 3); // shown, and one per choice
}

TEST_F(Providers, SetupDrawHandlerFollowsThePopup) {
  SetUpProviderList(&rec, DefaultList());
  FollowChoices(tk, rec, hvlsetup_providers_clicked);
}

TEST_F(Providers, LoginDrawHandlerFollowsThePopup) {
  WorkingCopy login{MakeWorkingCopy()};
  DlgControls lrec;
  WindowRef lw = nullptr;
  ASSERT_EQ(tk.OpenWindow("", "hvllogin", "Dialog", &lw), noErr);
  BindLogin(lw, lrec, login.get());
  SetUpProviderList(&lrec, DefaultList());
  FollowChoices(tk, lrec, hvllogin_providers_clicked);
}

TEST_F(Providers, DrawHandlersWithoutARecordDoNothing) {
  tk.log.clear();
  EXPECT_EQ(hvlsetup_providers_clicked(nullptr, nullptr, nullptr), noErr);
  EXPECT_EQ(hvllogin_providers_clicked(nullptr, nullptr, nullptr), noErr);
  EXPECT_TRUE(tk.log.empty());
}

} // namespace
} // namespace hvl::test
