// The setup dialog against the in-memory toolkit: what the user does, what
// the working copy holds afterwards, and the dialog's failure paths.
#include <cstdio>
#include <cwchar>
#include <string>

#include <gtest/gtest.h>

#include "core/attrs.h"
#include "dialogs/hvlsetup.h"
#include "fake_toolkit.h"
#include "temp_env.h"
#include "toolkit/platform.h"
#include "windows.h"

namespace hvl::test {
namespace {

const HWND kParent = reinterpret_cast<HWND>(1);

class SetupDialog : public ::testing::Test {
protected:
  void SetUp() override {
    SetBundleDirectory(HVL_BUNDLE_DIR);
    fake.Define("hvlsetup", BuildSetupWindow);
    std::wcscpy(table[ATTR_DSN].value, L"sales");
    table[ATTR_DSN].supplied = 1;
    std::wcscpy(table[ATTR_HOST].value, L"db");
    table[ATTR_HOST].supplied = 1;
  }
  void TearDown() override { SetBundleDirectory(""); }

  std::int32_t run() { return create_hvlsetup(kParent, table[0].value, L"drv", table.get(), 0); }

  TempEnv env;
  FakeToolkit fake;
  WorkingCopy table{MakeWorkingCopy()};
};

TEST_F(SetupDialog, NoParentShowsNothing) {
  EXPECT_EQ(create_hvlsetup(nullptr, table[0].value, L"drv", table.get(), 1), 1);
  EXPECT_EQ(fake.opened, 0);
  EXPECT_STREQ(table[ATTR_DSN].value, L"sales");
  EXPECT_STREQ(table[ATTR_HOST].value, L"db");
}

TEST_F(SetupDialog, OkReadsTheControlsAndCloses) {
  fake.Script({[](FakeToolkit &t) {
    EXPECT_EQ(U8(t.Get(131)->text), "sales");
    EXPECT_EQ(U8(t.Get(135)->text), "db");
    t.Type(t.Get(135), u"other-host");
    t.Toggle(t.Get(143));
    t.Click(t.Get(128));
  }});
  EXPECT_EQ(run(), 1);
  EXPECT_STREQ(table[ATTR_HOST].value, L"other-host");
  EXPECT_STREQ(table[ATTR_READONLY].value, L"Yes");
  EXPECT_EQ(table[ATTR_READONLY].supplied, 1);
  // The first server type of the default list was chosen: nothing was stored.
  EXPECT_STREQ(table[ATTR_SERVERTYPE].value, L"DB2");
  EXPECT_FALSE(fake.exhausted);
  EXPECT_EQ(fake.disposed, 1);
  for (int i = 0; i < kAttrCount; ++i)
    EXPECT_EQ(table[i].control, nullptr) << i;
}

TEST_F(SetupDialog, OkWithEmptyNameStaysOpenThenCancel) {
  fake.Script({
      [](FakeToolkit &t) {
        t.Type(t.Get(131), u"");
        t.Type(t.Get(132), u"typed before the refused OK");
        t.Click(t.Get(128));
      },
      [](FakeToolkit &t) {
        ASSERT_NE(t.Current(), nullptr) << "OK with an empty name closed the dialog";
        t.Type(t.Get(135), u"typed after");
        t.Click(t.Get(129));
      },
  });
  EXPECT_EQ(run(), 0);
  EXPECT_TRUE(fake.alerts.empty());
  // The refused OK committed the controls; Cancel reads nothing.
  EXPECT_STREQ(table[ATTR_DSN].value, L"");
  EXPECT_STREQ(table[ATTR_DESCRIPTION].value, L"typed before the refused OK");
  EXPECT_STREQ(table[ATTR_HOST].value, L"db");
}

TEST_F(SetupDialog, CancelKeepsTheWorkingCopy) {
  fake.Script({[](FakeToolkit &t) {
    t.Type(t.Get(135), u"changed");
    t.Click(t.Get(129));
  }});
  EXPECT_EQ(run(), 0);
  EXPECT_STREQ(table[ATTR_HOST].value, L"db");
  EXPECT_EQ(fake.disposed, 1);
}

TEST_F(SetupDialog, WindowClosedByTheUserCountsAsCancel) {
  fake.Script({}); // the first wait closes the window as the window manager would
  EXPECT_EQ(run(), 0);
  EXPECT_TRUE(fake.exhausted);
}

TEST_F(SetupDialog, AboutShowsAlert1001AndRestoresTheResourceFile) {
  std::int16_t before = CurResFile();
  fake.Script({
      [](FakeToolkit &t) { t.Click(t.Get(130)); },
      [before](FakeToolkit &t) {
        EXPECT_EQ(CurResFile(), before);
        t.Click(t.Get(130));
      },
      [](FakeToolkit &t) { t.Click(t.Get(129)); },
  });
  EXPECT_EQ(run(), 0);
  ASSERT_EQ(fake.alerts.size(), 2u);
  for (const AlertDefinition &a : fake.alerts) {
    EXPECT_EQ(a.id, 1001);
    EXPECT_NE(a.message.find("Halvern Generic ODBC Driver Setup"), std::string::npos);
    EXPECT_NE(a.informative.find("4.2"), std::string::npos);
  }
  EXPECT_EQ(CurResFile(), before);
}

// The failure paths write their message to standard error and return 0.
TEST_F(SetupDialog, FailuresToOpen) {
  struct Case {
    const char *what;
    const char *prefs;     // preferences file text, or null for none
    const char *definition; // the window definition the toolkit knows
    std::string message;
  } cases[] = {
      {"preference of the wrong type", R"({"Provider": "DB2"})", "hvlsetup",
       "Problem opening prefs file\n"},
      {"no window definition", nullptr, "other",
       "Can't load Window. Err: " + std::to_string(kErrFileNotFound) + "\n"},
  };
  for (const Case &c : cases) {
    FakeToolkit local;
    local.Define(c.definition, BuildSetupWindow);
    if (c.prefs != nullptr)
      TempEnv::Write(env.prefs(), c.prefs);
    for (int attempt = 0; attempt < 2; ++attempt) {
      ::testing::internal::CaptureStderr();
      EXPECT_EQ(run(), 0) << c.what;
      EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.message) << c.what;
    }
    EXPECT_EQ(local.opened, 0) << c.what;
    std::remove(env.prefs().c_str());
  }
}

} // namespace
} // namespace hvl::test
