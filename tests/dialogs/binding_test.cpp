// Binding controls to the working copy, showing its values and reading them
// back, against the in-memory toolkit.
#include <cwchar>
#include <string>

#include <gtest/gtest.h>

#include "dialogs/binding.h"
#include "windows.h"

namespace hvl::test {
namespace {

class Binding : public ::testing::Test {
protected:
  void Open(const char *which) {
    tk.Define("hvlsetup", BuildSetupWindow);
    tk.Define("hvllogin", BuildLoginWindow);
    ASSERT_EQ(tk.OpenWindow("", which, "Dialog", &window), noErr);
    if (std::string(which) == "hvlsetup")
      BindSetup(window, rec, table.get());
    else
      BindLogin(window, rec, table.get());
  }
  FakeControl *C(ControlRef c) { return static_cast<FakeControl *>(c); }
  void Set(int i, const wchar_t *v, int supplied = 1) {
    std::wcscpy(table[i].value, v);
    table[i].supplied = supplied;
  }

  FakeToolkit tk;
  WorkingCopy table{MakeWorkingCopy()};
  DlgControls rec;
  WindowRef window = nullptr;
};

TEST_F(Binding, EachDialogBindsItsOwnColumn) {
  Open("hvlsetup");
  for (int i = 0; i < kAttrCount; ++i) {
    bool bound = i != ATTR_PASSWORD && i != ATTR_SERVEROPTIONS;
    EXPECT_EQ(table[i].control != nullptr, bound) << i;
  }
  EXPECT_EQ(C(rec.userNameCtl)->id.id, 140);
  EXPECT_EQ(C(rec.extraCtl)->id.id, 139);
  EXPECT_EQ(rec.passwordCtl, nullptr);

  WorkingCopy login{MakeWorkingCopy()};
  DlgControls lrec;
  WindowRef lw = nullptr;
  ASSERT_EQ(tk.OpenWindow("", "hvllogin", "Dialog", &lw), noErr);
  BindLogin(lw, lrec, login.get());
  for (int i = 0; i < kAttrCount; ++i) {
    bool bound = i != ATTR_DESCRIPTION && i != ATTR_NOLOGINBOX && i != ATTR_SERVEROPTIONS;
    EXPECT_EQ(login[i].control != nullptr, bound) << i;
  }
  EXPECT_EQ(C(lrec.dsnCtl)->id.id, 140); // same number, other field
  EXPECT_EQ(C(lrec.tabCtl)->id.signature, kSigTabs);

  ClearControls(&lrec, 18);
  EXPECT_EQ(lrec.dsnCtl, nullptr);
  EXPECT_EQ(lrec.tabCtl, nullptr);
  EXPECT_EQ(lrec.window, lw); // only the controls
}

TEST_F(Binding, LoadShowsValuesByKind) {
  Open("hvllogin");
  Set(ATTR_DSN, L"sales");
  Set(ATTR_HOST, L"");          // empties the field
  C(rec.hostCtl)->text = u"was here";
  Set(ATTR_PASSWORD, L"s3cret");
  Set(ATTR_PROTOCOL, L"IPX/SPX"); // not shown: the pop-up keeps its choice
  Set(ATTR_USERNAME, L"\U0001F600"); // beyond U+FFFF: its low 16 bits
  struct {
    const wchar_t *value;
    int checked;
  } yesno[] = {
      {L"Yes", 1}, {L"Y", 1}, {L"Yikes", 1}, // a capital Y is enough
      {L"yes", 0}, {L"No", 0}, {L"", 0}, {L"1", 0}, {L" Yes", 0},
  };
  for (const auto &c : yesno) {
    Set(ATTR_READONLY, c.value);
    LoadOptions(&rec);
    EXPECT_EQ(C(rec.readOnlyCtl)->value, c.checked) << U8(PlatformString(c.value, c.value + std::wcslen(c.value)));
  }
  EXPECT_EQ(C(rec.dsnCtl)->text, u"sales");
  EXPECT_EQ(C(rec.hostCtl)->text, u"");
  EXPECT_EQ(C(rec.passwordCtl)->text, u"s3cret"); // through the password tag
  EXPECT_EQ(C(rec.userNameCtl)->text, u"\uF600");
  EXPECT_EQ(C(rec.protocolCtl)->value, 1);
  EXPECT_EQ(C(rec.protocolCtl)->items, std::vector<PlatformString>{u"TCP/IP"});

  LoadOptions(nullptr); // nothing to do, nothing breaks
  DlgControls empty;
  LoadOptions(&empty);
}

TEST_F(Binding, CommitReadsBackCutsAndNeverUnsupplies) {
  Open("hvlsetup");
  LoadOptions(&rec);
  tk.Type(C(rec.dsnCtl), PlatformString(40, u'x')); // 40 typed, 33 kept
  tk.Type(C(rec.descriptionCtl), u"");              // emptied, was supplied
  Set(ATTR_DESCRIPTION, L"old", 1);
  tk.Type(C(rec.hostCtl), u"");                     // empty and never supplied
  Set(ATTR_HOST, L"", 0);
  Set(ATTR_PASSWORD, L"kept", 0);                   // not bound here
  Set(ATTR_SERVEROPTIONS, L"so", 1);
  C(rec.readOnlyCtl)->value = 0;
  C(rec.noLoginBoxCtl)->value = 7;                  // any non-zero value is a check
  Set(ATTR_SERVERTYPE, L"before");
  C(rec.serverTypeCtl)->items = {u"DB2", u"Odbc"};
  C(rec.serverTypeCtl)->value = 2;
  CommitOptions(&rec);

  EXPECT_EQ(std::wstring(table[ATTR_DSN].value), std::wstring(33, L'x'));
  EXPECT_EQ(table[ATTR_DSN].supplied, 1);
  EXPECT_EQ(std::wstring(table[ATTR_DESCRIPTION].value), L"");
  EXPECT_EQ(table[ATTR_DESCRIPTION].supplied, 1);
  EXPECT_EQ(table[ATTR_HOST].supplied, 0);
  EXPECT_EQ(std::wstring(table[ATTR_READONLY].value), L"No");
  EXPECT_EQ(table[ATTR_READONLY].supplied, 1); // yes/no is never empty
  EXPECT_EQ(std::wstring(table[ATTR_NOLOGINBOX].value), L"Yes");
  EXPECT_EQ(std::wstring(table[ATTR_SERVERTYPE].value), L"Odbc");
  EXPECT_EQ(std::wstring(table[ATTR_PROTOCOL].value), L"Named pipes"); // the definition's choice
  EXPECT_EQ(std::wstring(table[ATTR_PASSWORD].value), L"kept");
  EXPECT_EQ(table[ATTR_PASSWORD].supplied, 0);
  EXPECT_EQ(std::wstring(table[ATTR_SERVEROPTIONS].value), L"so");
}

TEST_F(Binding, CommitKeepsWhatCannotBeReadAndPassesOverMissingControls) {
  tk.Define("sparse", [](FakeWindow &w) {
    w.Add(131, Kind::Label);              // not a field: its text cannot be read as one
    FakeControl &p = w.Add(133, Kind::Popup); // no items: nothing to read
    p.value = 1;
    w.Add(142, Kind::Password);
  });
  ASSERT_EQ(tk.OpenWindow("", "sparse", "Dialog", &window), noErr);
  BindSetup(window, rec, table.get());
  EXPECT_EQ(rec.descriptionCtl, nullptr);
  EXPECT_EQ(table[ATTR_DESCRIPTION].control, nullptr);
  Set(ATTR_DSN, L"name", 0);
  Set(ATTR_SERVERTYPE, L"DB2", 0);
  Set(ATTR_DESCRIPTION, L"untouched", 0);
  CommitOptions(&rec);
  EXPECT_EQ(std::wstring(table[ATTR_DSN].value), L"name");
  EXPECT_EQ(table[ATTR_DSN].supplied, 1); // the value stayed, and is not empty
  EXPECT_EQ(std::wstring(table[ATTR_SERVERTYPE].value), L"DB2");
  EXPECT_EQ(table[ATTR_DESCRIPTION].supplied, 0);
  // The options entry bound to a password field: read with the text tag,
  // which it does not have; the value stays.
  Set(ATTR_OPTIONS, L"opt", 0);
  CommitOptions(&rec);
  EXPECT_EQ(std::wstring(table[ATTR_OPTIONS].value), L"opt");
}

TEST_F(Binding, LoginReadsThePasswordThroughItsOwnTag) {
  Open("hvllogin");
  tk.Type(C(rec.passwordCtl), u"typed");
  tk.Type(C(rec.dsnCtl), u"");
  Set(ATTR_DESCRIPTION, L"desc", 1);
  CommitOptions(&rec);
  EXPECT_EQ(std::wstring(table[ATTR_PASSWORD].value), L"typed");
  EXPECT_EQ(std::wstring(table[ATTR_DSN].value), L"");
  EXPECT_EQ(std::wstring(table[ATTR_DESCRIPTION].value), L"desc");
}

} // namespace
} // namespace hvl::test
