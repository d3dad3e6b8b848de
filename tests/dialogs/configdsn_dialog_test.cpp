// ConfigDSN_Internal with the real setup dialog on the in-memory toolkit and
// the recording installer stand-in: what a person types is what is stored.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/configdsn.h"
#include "fake_inst.h"
#include "fake_toolkit.h"
#include "temp_env.h"
#include "toolkit/platform.h"
#include "windows.h"

namespace hvl::test {
namespace {

const HWND kParent = reinterpret_cast<HWND>(1);

class ConfigDsnDialog : public ::testing::Test {
protected:
  void SetUp() override {
    fake_inst::reset();
    SetBundleDirectory(HVL_BUNDLE_DIR);
    fake.Define("hvlsetup", BuildSetupWindow);
  }
  void TearDown() override { SetBundleDirectory(""); }

  static std::vector<std::wstring> stored() {
    std::vector<std::wstring> out;
    for (const auto &c : fake_inst::calls)
      if (c.op == "SQLSetKeywordValue")
        out.push_back(c.args[0] + L"|" + c.args[1] + L"=" + c.args[2]);
    return out;
  }

  TempEnv env;
  FakeToolkit fake;
};

TEST_F(ConfigDsnDialog, AddStoresWhatTheUserTyped) {
  fake.Script({[](FakeToolkit &t) {
    EXPECT_EQ(U8(t.Get(131)->text), ""); // the listed name is not offered
    t.Type(t.Get(131), u"typed");
    t.Type(t.Get(132), u"K\u00F6ln");
    t.Choose(t.Get(133), 15); // "Odbc"
    t.Click(t.Get(128));
  }});
  EXPECT_EQ(ConfigDSN_Internal(kParent, ODBC_ADD_DSN, "Halvern Generic ODBC", "DSN=listed\0", 0),
            TRUE);
  EXPECT_EQ(stored(), (std::vector<std::wstring>{
                          L"typed|Description=K\u00F6ln", L"typed|ServerType=Odbc",
                          L"typed|FetchBufferSize=30", L"typed|Host=localhost",
                          L"typed|Port=5000", L"typed|Protocol=Named pipes",
                          L"typed|ReadOnly=No", L"typed|NoLoginBox=No",
                          L"typed|DeferLongFetch=Yes"}));
}

TEST_F(ConfigDsnDialog, CancelStoresNothing) {
  fake_inst::values[L"a"] = {{L"Host", L"h"}};
  fake.Script({[](FakeToolkit &t) {
    EXPECT_EQ(U8(t.Get(135)->text), "h");
    t.Type(t.Get(131), u"b");
    t.Click(t.Get(129));
  }});
  EXPECT_EQ(ConfigDSN_Internal(kParent, ODBC_CONFIG_DSN, "Halvern Generic ODBC", "DSN=a\0", 0),
            TRUE);
  for (const auto &op : fake_inst::ops()) {
    EXPECT_EQ(op.find("Write"), std::string::npos) << op;
    EXPECT_EQ(op.find("Remove"), std::string::npos) << op;
    EXPECT_EQ(op.find("SetKeyword"), std::string::npos) << op;
  }
}

} // namespace
} // namespace hvl::test
