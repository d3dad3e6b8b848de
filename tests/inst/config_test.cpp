// SQLConfigDataSource(W) and SQLConfigDriver(W) against stand-in setup
// libraries.
#include <dlfcn.h>

#include "fake_setup.h"
#include "inst_env.h"

namespace {

const FakeRecord &Last(const char *lib) {
  void *h = dlopen(lib, RTLD_NOW | RTLD_NOLOAD);
  EXPECT_NE(h, nullptr) << lib;
  static FakeRecord none;
  if (h == nullptr)
    return none;
  auto fn = reinterpret_cast<const void *(*)()>(dlsym(h, "FakeLast"));
  dlclose(h);
  return *static_cast<const FakeRecord *>(fn());
}

class Config : public InstEnv {
 protected:
  void SetUp() override {
    InstEnv::SetUp();
    Put(SystemDrivers(), std::string("[ODBC Drivers]\nNarrow=Installed\nWide=Installed\n") +
                             "[Narrow]\nSetup=" + FAKE_NARROW_PATH + "\n" +
                             "[Wide]\nSetup=" + FAKE_WIDE_PATH + "\n" +
                             "[Both]\nSetup=" + FAKE_WIDE_PATH + "\n" +
                             "[NoSetup]\nDriver=/x.so\n" +
                             "[Broken]\nSetup=/nonexistent/setup.so\n");
    // The user's registration comes first.
    Put(UserDrivers(), std::string("[Both]\nSetup=") + FAKE_NARROW_PATH + "\n");
  }
};

TEST_F(Config, DataSourceRequestsAndModes) {
  const HWND window = reinterpret_cast<HWND>(1);
  struct Case {
    UWORD modeBefore;
    WORD request;
    WORD passed;
    UWORD modeDuring;
  } cases[] = {
      {ODBC_BOTH_DSN, ODBC_ADD_DSN, ODBC_ADD_DSN, ODBC_USER_DSN},
      {ODBC_BOTH_DSN, ODBC_CONFIG_DSN, ODBC_CONFIG_DSN, ODBC_USER_DSN},
      {ODBC_SYSTEM_DSN, ODBC_REMOVE_DSN, ODBC_REMOVE_DSN, ODBC_SYSTEM_DSN},  // the caller's choice
      {ODBC_BOTH_DSN, ODBC_ADD_SYS_DSN, ODBC_ADD_DSN, ODBC_SYSTEM_DSN},
      {ODBC_USER_DSN, ODBC_CONFIG_SYS_DSN, ODBC_CONFIG_DSN, ODBC_SYSTEM_DSN},
      {ODBC_BOTH_DSN, ODBC_REMOVE_SYS_DSN, ODBC_REMOVE_DSN, ODBC_SYSTEM_DSN},
  };
  for (const Case &c : cases) {
    SQLSetConfigMode(c.modeBefore);
    ASSERT_TRUE(SQLConfigDataSource(window, c.request, "Narrow", "DSN=s\0Host=h\0"));
    const FakeRecord &r = Last(FAKE_NARROW_PATH);
    EXPECT_EQ(r.parent, window);
    EXPECT_EQ(r.request, c.passed);
    EXPECT_EQ(r.mode, c.modeDuring) << "request " << c.request;
    EXPECT_EQ(r.driver, "Narrow");
    EXPECT_EQ(r.attributes, "DSN=s|Host=h");
    UWORD after = 99;
    SQLGetConfigMode(&after);
    EXPECT_EQ(after, ODBC_BOTH_DSN);
  }
}

TEST_F(Config, EachFormFallsBackToTheOther) {
  ASSERT_TRUE(SQLConfigDataSource(nullptr, ODBC_ADD_DSN, "Wide", "DSN=\xC3\xA9t\xC3\xA9\0"));
  EXPECT_TRUE(Last(FAKE_WIDE_PATH).wide);
  EXPECT_EQ(Last(FAKE_WIDE_PATH).attributes, "DSN=\xC3\xA9t\xC3\xA9");
  EXPECT_EQ(Last(FAKE_WIDE_PATH).parent, nullptr);
  ASSERT_TRUE(SQLConfigDataSourceW(nullptr, ODBC_CONFIG_DSN, L"Narrow", L"DSN=\u00e9\0A=b\0"));
  EXPECT_FALSE(Last(FAKE_NARROW_PATH).wide);
  EXPECT_EQ(Last(FAKE_NARROW_PATH).attributes, "DSN=\xC3\xA9|A=b");
  ASSERT_TRUE(SQLConfigDataSourceW(nullptr, ODBC_CONFIG_DSN, L"Wide", nullptr));
  EXPECT_EQ(Last(FAKE_WIDE_PATH).attributes, "<null>");
  // The user's registration of "Both" names the narrow library.
  int before = Last(FAKE_NARROW_PATH).calls;
  ASSERT_TRUE(SQLConfigDataSource(nullptr, ODBC_ADD_DSN, "both", "DSN=x\0"));
  EXPECT_EQ(Last(FAKE_NARROW_PATH).calls, before + 1);

  char msg[64];
  WORD len = 0;
  ASSERT_TRUE(SQLConfigDriver(reinterpret_cast<HWND>(1), ODBC_CONFIG_DRIVER, "Wide",
                              "k=v\0", msg, sizeof msg, &len));
  EXPECT_STREQ(msg, "wide says h\xC3\xA9llo");
  EXPECT_EQ(Last(FAKE_WIDE_PATH).request, ODBC_CONFIG_DRIVER);
  EXPECT_EQ(Last(FAKE_WIDE_PATH).parent, reinterpret_cast<HWND>(1));
  wchar_t wmsg[8];
  ASSERT_TRUE(SQLConfigDriverW(nullptr, ODBC_INSTALL_DRIVER, L"Narrow", L"a=1\0", wmsg, 8, &len));
  EXPECT_STREQ(wmsg, L"narrow ");  // cut to the wide buffer
  EXPECT_EQ(Last(FAKE_NARROW_PATH).attributes, "a=1");

  // The length given back is the whole message's, in the caller's units,
  // whatever room the caller gave for it.
  struct {
    char *buffer;
    WORD size;
  } rooms[] = {{msg, sizeof msg}, {msg, 6}, {nullptr, 0}};
  for (const auto &r : rooms) {
    len = 0;
    ASSERT_TRUE(SQLConfigDriver(nullptr, ODBC_CONFIG_DRIVER, "Wide", "k=v\0", r.buffer, r.size,
                                &len));
    EXPECT_EQ(len, 16) << r.size;  // "wide says h\u00e9llo" in UTF-8 bytes
    len = 0;
    ASSERT_TRUE(SQLConfigDriverW(nullptr, ODBC_CONFIG_DRIVER, L"Narrow", L"a=1\0",
                                 r.buffer != nullptr ? wmsg : nullptr, r.size != 0 ? 8 : 0, &len));
    EXPECT_EQ(len, 17) << r.size;  // "narrow says h\u00e9llo" in wide characters
  }
}

TEST_F(Config, Failures) {
  struct Case {
    WORD request;
    const char *driver;
    const char *attributes;
    DWORD code;
  } cases[] = {
      {0, "Narrow", "", ODBC_ERROR_INVALID_REQUEST_TYPE},
      {7, "Narrow", "", ODBC_ERROR_INVALID_REQUEST_TYPE},
      {ODBC_ADD_DSN, "", "", ODBC_ERROR_INVALID_NAME},
      {ODBC_ADD_DSN, nullptr, "", ODBC_ERROR_INVALID_NAME},
      {ODBC_ADD_DSN, "Unknown", "", ODBC_ERROR_COMPONENT_NOT_FOUND},
      {ODBC_ADD_DSN, "NoSetup", "", ODBC_ERROR_COMPONENT_NOT_FOUND},
      {ODBC_ADD_DSN, "Broken", "", ODBC_ERROR_LOAD_LIB_FAILED},
      {ODBC_ADD_DSN, "Narrow", "FAIL\0", ODBC_ERROR_DRIVER_SPECIFIC},  // the setup's own error
      {ODBC_ADD_DSN, "Narrow", "QUIET\0", ODBC_ERROR_REQUEST_FAILED},  // refused without one
  };
  for (const Case &c : cases) {
    SQLSetConfigMode(ODBC_SYSTEM_DSN);
    EXPECT_FALSE(SQLConfigDataSource(nullptr, c.request, c.driver, c.attributes));
    EXPECT_EQ(FirstError(), c.code) << c.request << " " << (c.driver ? c.driver : "<null>");
    // Back to both, however early the call failed.
    UWORD mode = 99;
    SQLGetConfigMode(&mode);
    EXPECT_EQ(mode, ODBC_BOTH_DSN) << c.request << " " << (c.driver ? c.driver : "<null>");
  }
  EXPECT_FALSE(SQLConfigDriver(nullptr, 101, "Narrow", nullptr, nullptr, 0, nullptr));
  EXPECT_EQ(FirstError(), static_cast<DWORD>(ODBC_ERROR_INVALID_REQUEST_TYPE));
  EXPECT_FALSE(SQLConfigDriver(nullptr, ODBC_REMOVE_DRIVER, "Broken", nullptr, nullptr, 0, nullptr));
  EXPECT_EQ(FirstError(), static_cast<DWORD>(ODBC_ERROR_LOAD_LIB_FAILED));
}

} // namespace
