// The installer entry points on files in a temporary folder.
#include <cwchar>
#include <string>
#include <vector>

#include "inst_env.h"

namespace {

using Api = InstEnv;

TEST_F(Api, ProfileStringsReadValuesListsAndDefaults) {
  Put(UserDsn(), "[ODBC Data Sources]\nmine=DrvA\nshared=DrvA\n\n[mine]\nHost=u\n"
                 "[shared]\nHost=user\n");
  Put(SystemDsn(), "[ODBC Data Sources]\nsys=DrvB\nshared=DrvB\n\n[sys]\nHost=s\n"
                   "[shared]\nHost=system\nPort=9\n");
  char buf[256];
  // Mode both: the lists merge, user entries first; a data source's own
  // section is read whole from the first file that has it.
  EXPECT_EQ(SQLGetPrivateProfileString("ODBC Data Sources", nullptr, "", buf, sizeof buf,
                                       "odbc.ini"),
            16);
  EXPECT_EQ(List(buf), "mine|shared|sys");
  EXPECT_EQ(Profile("ODBC Data Sources", "sys", "odbc.ini"), "DrvB");
  EXPECT_EQ(Profile("ODBC Data Sources", "shared", "ODBC.INI"), "DrvA");
  EXPECT_EQ(Profile("shared", "Port", "odbc.ini"), "<none>");
  SQLGetPrivateProfileString(nullptr, nullptr, "", buf, sizeof buf, "odbc.ini");
  EXPECT_EQ(List(buf), "ODBC Data Sources|mine|shared|sys");
  SQLSetConfigMode(ODBC_SYSTEM_DSN);
  EXPECT_EQ(Profile("shared", "Port", "odbc.ini"), "9");
  EXPECT_EQ(Profile("mine", "Host", "odbc.ini"), "<none>");
  SQLSetConfigMode(ODBC_USER_DSN);
  SQLGetPrivateProfileString("ODBC Data Sources", nullptr, "", buf, sizeof buf, "odbc.ini");
  EXPECT_EQ(List(buf), "mine|shared");

  // Found with an empty value and not found both give 0; the default shows which.
  Put(UserDsn(), "[d]\nEmpty=\nLong=abcdefgh\nUtf=\xC3\xA9\xC3\xA9\n");
  EXPECT_EQ(SQLGetPrivateProfileString("d", "Empty", "def", buf, sizeof buf, "odbc.ini"), 0);
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(SQLGetPrivateProfileString("d", "Nope", "def", buf, sizeof buf, "odbc.ini"), 3);
  EXPECT_EQ(SQLGetPrivateProfileString("d", "Nope", nullptr, buf, sizeof buf, "odbc.ini"), 0);
}

TEST_F(Api, ProfileStringsStayInsideTheBuffer) {
  Put(UserDsn(), "[d]\nLong=abcdefgh\nUtf=\xC3\xA9\xC3\xA9\n[ODBC Data Sources]\n"
                 "alpha=x\nbeta=x\ngamma=x\n");
  SQLSetConfigMode(ODBC_USER_DSN);
  struct Case {
    const char *section, *key;
    int size;
    int result;
    std::string expect;  // the bytes up to `size`, '|' for a terminator
  } cases[] = {
      {"d", "Long", 5, 4, "abcd|"},                        // cut and terminated
      {"d", "Utf", 3, 2, "\xC3\xA9|"},                     // cut on a character boundary
      {"d", "Utf", 1, 0, "|"},                             // only the terminator fits
      {"ODBC Data Sources", nullptr, 12, 11, "alpha|beta||"},  // whole names only
      {"ODBC Data Sources", nullptr, 7, 6, "alpha||"},
      {"ODBC Data Sources", nullptr, 2, 0, "||"},
      {"ODBC Data Sources", nullptr, 1, 0, "|"},
  };
  for (const Case &c : cases) {
    std::vector<char> buf(static_cast<std::size_t>(c.size) + 4, '#');
    EXPECT_EQ(SQLGetPrivateProfileString(c.section, c.key, "", buf.data(), c.size, "odbc.ini"),
              c.result)
        << c.key << " " << c.size;
    std::string got(buf.data(), static_cast<std::size_t>(c.size));
    for (char &ch : got)
      if (ch == 0)
        ch = '|';
    EXPECT_EQ(got, c.expect);
    EXPECT_EQ(std::string(buf.data() + c.size, 4), "####") << "wrote past the buffer";
  }
  // The wide form counts wide characters.
  wchar_t wbuf[16];
  EXPECT_EQ(SQLGetPrivateProfileStringW(L"d", L"Utf", L"", wbuf, 2, L"odbc.ini"), 1);
  EXPECT_STREQ(wbuf, L"\u00e9");
  EXPECT_EQ(SQLGetPrivateProfileStringW(L"ODBC Data Sources", nullptr, L"", wbuf, 12,
                                        L"odbc.ini"),
            11);
  EXPECT_EQ(std::wstring(wbuf, 12), std::wstring(L"alpha\0beta\0\0", 12));
  EXPECT_TRUE(SQLWritePrivateProfileStringW(L"d", L"W\u00e9", L"\U0001F600", L"odbc.ini"));
  EXPECT_EQ(Profile("d", "W\xC3\xA9", "odbc.ini"), "\xF0\x9F\x98\x80");

  char buf[8];
  EXPECT_EQ(SQLGetPrivateProfileString("d", "Long", "", buf, 0, "odbc.ini"), 0);
  EXPECT_EQ(FirstError(), static_cast<DWORD>(ODBC_ERROR_INVALID_BUFF_LEN));
  EXPECT_EQ(SQLGetPrivateProfileString("d", "Long", "", buf, sizeof buf, "win.ini"), 0);
  EXPECT_EQ(FirstError(), static_cast<DWORD>(ODBC_ERROR_INVALID_NAME));
}

TEST_F(Api, WritesGoWhereTheSectionIs) {
  Put(SystemDsn(), "[sys]\nHost=s\n");
  EXPECT_TRUE(SQLWritePrivateProfileString("sys", "Port", "1", "odbc.ini"));
  EXPECT_TRUE(SQLWritePrivateProfileString("new", "Port", "2", "odbc.ini"));
  EXPECT_EQ(Slurp(SystemDsn()), "[sys]\nHost=s\nPort=1\n");
  EXPECT_EQ(Slurp(UserDsn()), "[new]\nPort=2\n");
  // A null value removes the key, a null key the section.
  EXPECT_TRUE(SQLWritePrivateProfileString("sys", "Host", nullptr, "odbc.ini"));
  EXPECT_EQ(Slurp(SystemDsn()), "[sys]\nPort=1\n");
  EXPECT_TRUE(SQLWritePrivateProfileString("new", nullptr, nullptr, "odbc.ini"));
  EXPECT_EQ(Slurp(UserDsn()), "");
  // Drivers: the user mode writes the user's drivers file.
  SQLSetConfigMode(ODBC_USER_DSN);
  EXPECT_TRUE(SQLWritePrivateProfileString("Drv", "Setup", "/s.so", "odbcinst.ini"));
  EXPECT_EQ(Slurp(UserDrivers()), "[Drv]\nSetup=/s.so\n");
  EXPECT_FALSE(Exists(SystemDrivers()));
}

TEST_F(Api, KeywordValues) {
  Put(UserDsn(), "[ODBC Data Sources]\nsales=Drv\n[sales]\nDriver=Drv\nEmpty=\nName=\xC3\xA9t\xC3\xA9\n");
  char buf[16];
  int len = -1;
  EXPECT_TRUE(SQLGetKeywordValue("SALES", "empty", buf, sizeof buf, &len));
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(len, 0);
  EXPECT_FALSE(SQLGetKeywordValue("sales", "Missing", buf, sizeof buf, &len));
  EXPECT_FALSE(SQLGetKeywordValue("; noentry ;", "Driver", buf, sizeof buf, &len));
  EXPECT_TRUE(SQLGetKeywordValue("sales", "Name", buf, 3, &len));
  EXPECT_STREQ(buf, "\xC3\xA9");
  EXPECT_EQ(len, 5);

  wchar_t wbuf[16];
  EXPECT_TRUE(SQLGetKeywordValueW(L"sales", L"Name", wbuf, 16, &len));
  EXPECT_STREQ(wbuf, L"\u00e9t\u00e9");
  EXPECT_EQ(len, 3);
  EXPECT_TRUE(SQLSetKeywordValueW(L"sales", L"Host", L"h\u00f4te", -1));
  EXPECT_EQ(Value("sales", "Host"), "h\xC3\xB4te");
  EXPECT_TRUE(SQLSetKeywordValue("sales", "Port", "54321", 2));
  EXPECT_EQ(Value("sales", "Port"), "54");
  EXPECT_TRUE(SQLSetKeywordValue("sales", "Port", "", 0));
  EXPECT_EQ(Value("sales", "Port"), "");
  // A data source that does not exist gets no orphan section.
  EXPECT_FALSE(SQLSetKeywordValue("ghost", "Port", "1", -1));
  EXPECT_EQ(FirstError(), static_cast<DWORD>(ODBC_ERROR_INVALID_DSN));
  EXPECT_EQ(Slurp(UserDsn()).find("ghost"), std::string::npos);
}

TEST_F(Api, DataSources) {
  Put(SystemDrivers(), "[ODBC Drivers]\nDrv=Installed\n[Drv]\nDriver=/lib/drv.so\n");
  Put(UserDsn(), "; my sources\n[old]\nDriver=x\nTrace=Yes\n");
  EXPECT_TRUE(SQLWriteDSNToIni("old", "Drv"));
  EXPECT_TRUE(SQLWriteDSNToIniW(L"\u00e9l\u00e8ve", L"Unknown Driver"));
  EXPECT_EQ(Slurp(UserDsn()), "; my sources\n[old]\nDriver=/lib/drv.so\nTrace=Yes\n\n"
                              "[ODBC Data Sources]\nold=Drv\n\xC3\xA9l\xC3\xA8ve=Unknown Driver\n\n"
                              "[\xC3\xA9l\xC3\xA8ve]\nDriver=Unknown Driver\n");
  EXPECT_TRUE(SQLRemoveDSNFromIni("OLD"));
  EXPECT_TRUE(SQLRemoveDSNFromIniW(L"\u00c9L\u00c8VE"));
  EXPECT_TRUE(SQLRemoveDSNFromIni("never-there"));
  EXPECT_EQ(Slurp(UserDsn()), "; my sources\n\n[ODBC Data Sources]\n\n");

  struct {
    const char *name;
    BOOL valid;
  } names[] = {
      {"sales", TRUE},
      {"Sales DB 2", TRUE},
      {"", FALSE},
      {"a;b", FALSE},
      {"a=b", FALSE},
      {"[a]", FALSE},
      {"{a}", FALSE},
      {"a\nb", FALSE},
      {" lead", FALSE},
      {"#hash", FALSE},
      {"12345678901234567890123456789012", TRUE},   // 32 characters
      {"123456789012345678901234567890123", FALSE}, // 33
  };
  for (const auto &n : names)
    EXPECT_EQ(SQLValidDSN(n.name), n.valid) << n.name;
  EXPECT_FALSE(SQLWriteDSNToIni("a;b", "Drv"));
  EXPECT_EQ(FirstError(), static_cast<DWORD>(ODBC_ERROR_INVALID_DSN));
}

TEST_F(Api, DriversCountInstallsAndRemoveTheirDataSources) {
  const char list[] = "Drv\0Driver=/opt/drv/lib/drv.so\0Setup=/opt/drv/setup.so\0";
  char path[64];
  WORD pathLen = 0;
  DWORD count = 0;
  SQLSetConfigMode(ODBC_SYSTEM_DSN);
  ASSERT_TRUE(SQLInstallDriverEx(list, nullptr, path, sizeof path, &pathLen,
                                 ODBC_INSTALL_COMPLETE, &count));
  EXPECT_EQ(count, 1u);
  EXPECT_STREQ(path, "/opt/drv/lib");
  ASSERT_TRUE(SQLInstallDriverEx(list, nullptr, path, sizeof path, nullptr,
                                 ODBC_INSTALL_COMPLETE, &count));
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(Slurp(SystemDrivers()), "[ODBC Drivers]\nDrv=Installed\n\n[Drv]\n"
                                    "Driver=/opt/drv/lib/drv.so\nSetup=/opt/drv/setup.so\n"
                                    "UsageCount=2\n");
  EXPECT_TRUE(SQLInstallDriverEx(list, nullptr, path, sizeof path, nullptr,
                                 ODBC_INSTALL_INQUIRY, &count));
  EXPECT_EQ(count, 2u);
  // A count at the most it can hold stays there rather than wrapping to 0.
  Put(SystemDrivers(), "[Drv]\nDriver=/opt/drv/lib/drv.so\nUsageCount=4294967295\n");
  ASSERT_TRUE(SQLInstallDriverEx(list, nullptr, path, sizeof path, nullptr,
                                 ODBC_INSTALL_COMPLETE, &count));
  EXPECT_EQ(count, 4294967295u);
  ASSERT_TRUE(SQLRemoveDriver("Drv", FALSE, &count));
  EXPECT_EQ(count, 4294967294u);
  Put(SystemDrivers(), "[ODBC Drivers]\nDrv=Installed\n\n[Drv]\n"
                       "Driver=/opt/drv/lib/drv.so\nSetup=/opt/drv/setup.so\nUsageCount=2\n");
  EXPECT_FALSE(SQLInstallDriverEx("Bad\0NoEquals\0", nullptr, path, sizeof path, nullptr,
                                  ODBC_INSTALL_COMPLETE, &count));
  EXPECT_EQ(FirstError(), static_cast<DWORD>(ODBC_ERROR_INVALID_KEYWORD_VALUE));

  // The user mode is honoured for drivers too.
  SQLSetConfigMode(ODBC_USER_DSN);
  ASSERT_TRUE(SQLInstallDriverExW(L"Mine\0Driver=/home/me/drv.so\0", nullptr, nullptr, 0,
                                  nullptr, ODBC_INSTALL_COMPLETE, &count));
  EXPECT_EQ(Slurp(UserDrivers()), "[ODBC Drivers]\nMine=Installed\n\n[Mine]\n"
                                  "Driver=/home/me/drv.so\nUsageCount=1\n");
  ASSERT_TRUE(SQLRemoveDriverW(L"Mine", FALSE, &count));
  EXPECT_EQ(count, 0u);
  SQLSetConfigMode(ODBC_SYSTEM_DSN);

  // A driver another tool registered by its section alone is listed too.
  Put(UserDrivers(), "[Other]\nDriver=/o.so\n[ODBC]\nTrace=No\n");
  SQLSetConfigMode(ODBC_BOTH_DSN);
  char drivers[64];
  WORD len = 0;
  ASSERT_TRUE(SQLGetInstalledDrivers(drivers, sizeof drivers, &len));
  EXPECT_EQ(List(drivers), "Other|Drv");
  EXPECT_EQ(len, 10);

  SQLSetConfigMode(ODBC_SYSTEM_DSN);
  Put(SystemDsn(), "[ODBC Data Sources]\na=DRV\nb=Other\n[a]\nDriver=Drv\n[b]\nDriver=Other\n"
                   "[unlisted]\nDriver=/opt/drv/lib/drv.so\n");
  EXPECT_TRUE(SQLRemoveDriver("Drv", TRUE, &count));
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(Profile("a", "Driver", "odbc.ini"), "Drv");  // still installed once
  EXPECT_TRUE(SQLRemoveDriver("drv", TRUE, &count));
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(Slurp(SystemDrivers()), "[ODBC Drivers]\n\n");
  EXPECT_EQ(Slurp(SystemDsn()), "[ODBC Data Sources]\nb=Other\n[b]\nDriver=Other\n");
  EXPECT_FALSE(SQLRemoveDriver("Drv", TRUE, &count));
  EXPECT_EQ(FirstError(), static_cast<DWORD>(ODBC_ERROR_COMPONENT_NOT_FOUND));
}

TEST_F(Api, ErrorQueue) {
  EXPECT_EQ(SQLPostInstallerError(ODBC_ERROR_DRIVER_SPECIFIC, "first"), SQL_SUCCESS);
  for (int i = 0; i < 9; ++i)
    SQLPostInstallerError(ODBC_ERROR_REQUEST_FAILED, nullptr);
  EXPECT_EQ(SQLPostInstallerError(0, "bad code"), SQL_ERROR);
  DWORD code = 0;
  char msg[64];
  WORD len = 0;
  EXPECT_EQ(SQLInstallerError(1, &code, msg, sizeof msg, &len), SQL_SUCCESS);
  EXPECT_EQ(code, static_cast<DWORD>(ODBC_ERROR_DRIVER_SPECIFIC));
  EXPECT_STREQ(msg, "first");
  EXPECT_EQ(SQLInstallerError(8, &code, msg, sizeof msg, &len), SQL_SUCCESS);
  EXPECT_STREQ(msg, "General error request failed");  // the standard text
  EXPECT_EQ(SQLInstallerError(9, &code, msg, sizeof msg, &len), SQL_ERROR);
  EXPECT_EQ(SQLInstallerError(3, &code, msg, 5, &len), SQL_SUCCESS_WITH_INFO);
  EXPECT_STREQ(msg, "Gene");
  EXPECT_EQ(len, 28);
  wchar_t wmsg[8];
  EXPECT_EQ(SQLInstallerErrorW(1, &code, wmsg, 8, &len), SQL_SUCCESS);
  EXPECT_STREQ(wmsg, L"first");
  // Any other call starts with an empty queue.
  UWORD mode;
  EXPECT_TRUE(SQLGetConfigMode(&mode));
  EXPECT_EQ(SQLInstallerError(1, &code, msg, sizeof msg, &len), SQL_NO_DATA);
  EXPECT_FALSE(SQLSetConfigMode(3));
  EXPECT_EQ(FirstError(), static_cast<DWORD>(ODBC_ERROR_INVALID_PARAM_SEQUENCE));
}

} // namespace
