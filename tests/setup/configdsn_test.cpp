// Adding, configuring, renaming and removing data sources, with the setup
// dialog replaced by a scripted one: each case says what the "user" does to
// the working copy and whether they confirm. The installer library is the
// recording stand-in.
#include <algorithm>
#include <cwchar>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/attrs.h"
#include "core/configdsn.h"
#include "dialogs/hvlsetup.h"
#include "fake_inst.h"
#include "pelmarinst.h"

namespace {

struct DialogScript {
  int calls = 0;
  std::wstring shownName;   // entry 0 when the dialog opened
  std::wstring shownDriver; // the driver description it was given
  std::vector<std::wstring> shownValues;
  int add = -1;
  // What the user does; returns the dialog's result.
  std::function<int(hvl::AttrEntry *)> user = [](hvl::AttrEntry *) { return 1; };
} dialog;

// Sets an entry as the dialog's commit does: the value, and supplied unless empty.
void commit(hvl::AttrEntry *t, int i, const wchar_t *v) {
  std::wcscpy(t[i].value, v);
  if (v[0] != 0)
    t[i].supplied = 1;
}

const HWND kWindow = reinterpret_cast<HWND>(1);
const wchar_t kDriverW[] = L"Halvern Generic ODBC";

std::vector<std::wstring> args_of(const std::string &op) {
  std::vector<std::wstring> out;
  for (const auto &c : fake_inst::calls)
    if (c.op == op)
      out.push_back(c.args.size() > 1 ? c.args[0] + L"|" + c.args[1] +
                                            (c.args.size() > 2 ? L"=" + c.args[2] : L"")
                                      : c.args.empty() ? L"" : c.args[0]);
  return out;
}

class ConfigDsn : public ::testing::Test {
protected:
  void SetUp() override {
    fake_inst::reset();
    dialog = DialogScript{};
  }
};

TEST_F(ConfigDsn, RequestsWithoutDialog) {
  struct Case {
    const char *what;
    HWND window;
    WORD request;
    const char *list;
    BOOL result;
    int dialogs;
    std::vector<std::string> ops;
    std::vector<std::pair<unsigned, std::string>> posted;
  } cases[] = {
      {"add without a window stores nothing", nullptr, ODBC_ADD_DSN,
       "DSN=x\0HOST=h\0PORT=1\0", TRUE, 0, {}, {}},
      {"configure without a window stores nothing", nullptr, ODBC_CONFIG_DSN, "DSN=x\0", TRUE, 0,
       {}, {}},
      {"request 4 is refused", kWindow, 4, "DSN=x\0", FALSE, 0, {"SQLPostInstallerError"},
       {{ODBC_ERROR_REQUEST_FAILED, ""}}},
      {"remove without a name", kWindow, ODBC_REMOVE_DSN, "HOST=h\0", FALSE, 0, {}, {}},
      {"remove shows no dialog", kWindow, ODBC_REMOVE_DSN, "DSN=x\0", TRUE, 0,
       {"SQLSetConfigMode", "SQLRemoveDSNFromIniW"}, {}},
  };
  for (const Case &c : cases) {
    SetUp();
    fake_inst::mode = ODBC_USER_DSN;
    EXPECT_EQ(hvl::ConfigDSN_Internal(c.window, c.request, "Halvern Generic ODBC", c.list, 0),
              c.result)
        << c.what;
    EXPECT_EQ(dialog.calls, c.dialogs) << c.what;
    std::vector<std::string> writes;
    for (const auto &op : fake_inst::ops())
      if (op != "SQLGetConfigMode" && op != "SQLGetKeywordValueW" &&
          !(op == "SQLSetConfigMode" && c.ops.empty()))
        writes.push_back(op);
    // Reads may set the mode; what matters is that nothing is written.
    if (c.ops.empty()) {
      for (const auto &op : writes)
        EXPECT_EQ(op.find("Write"), std::string::npos) << c.what;
      EXPECT_TRUE(args_of("SQLSetKeywordValue").empty()) << c.what;
      EXPECT_TRUE(args_of("SQLRemoveDSNFromIniW").empty()) << c.what;
    } else {
      EXPECT_EQ(writes, c.ops) << c.what;
    }
    EXPECT_EQ(fake_inst::posted, c.posted) << c.what;
  }
}

TEST_F(ConfigDsn, RemoveThroughNarrowEntryUsesWideRemoval) {
  fake_inst::mode = ODBC_SYSTEM_DSN;
  fake_inst::remove_result = FALSE;
  EXPECT_EQ(hvl::ConfigDSN_Internal(kWindow, ODBC_REMOVE_DSN, "d", "DSN=K\xC3\xB6ln\0", 0), FALSE);
  ASSERT_EQ(args_of("SQLRemoveDSNFromIniW"), std::vector<std::wstring>{L"K\u00F6ln"});
  EXPECT_EQ(fake_inst::calls.back().mode, unsigned{ODBC_SYSTEM_DSN});
}

TEST_F(ConfigDsn, AddStartsFromNoEntryAndIgnoresListedName) {
  fake_inst::values[L"; noentry ;"] = {{L"Host", L"template-host"}};
  dialog.user = [](hvl::AttrEntry *t) {
    commit(t, hvl::ATTR_DSN, L"typed");
    return 1;
  };
  EXPECT_EQ(hvl::ConfigDSN_Internal(kWindow, ODBC_ADD_DSN, "Halvern Generic ODBC",
                                    "DSN=listed\0PORT=7\0", 0),
            TRUE);
  EXPECT_EQ(dialog.shownName, L"");
  EXPECT_EQ(dialog.shownDriver, kDriverW);
  EXPECT_EQ(dialog.add, 1);
  EXPECT_EQ(dialog.shownValues[hvl::ATTR_HOST], L"template-host");
  EXPECT_EQ(dialog.shownValues[hvl::ATTR_PORT], L"7");
  for (const auto &c : fake_inst::calls)
    if (c.op == "SQLGetKeywordValueW") {
      EXPECT_EQ(c.args[0], L"; noentry ;");
    }
  EXPECT_EQ(args_of("SQLWriteDSNToIni"), std::vector<std::wstring>{L"typed|Halvern Generic ODBC"});
  // No removal after an add.
  EXPECT_TRUE(args_of("SQLRemoveDSNFromIni").empty());
}

TEST_F(ConfigDsn, RenameWritesNewThenRemovesOld) {
  fake_inst::mode = ODBC_USER_DSN;
  fake_inst::values[L"A"] = {{L"Description", L"old"}, {L"Password", L"secret"},
                             {L"ServerOptions", L"-q"}, {L"Database", L"db"}};
  dialog.user = [](hvl::AttrEntry *t) {
    commit(t, hvl::ATTR_DSN, L"B");
    commit(t, hvl::ATTR_DATABASE, L""); // emptied by the user: stored empty
    return 1;
  };
  EXPECT_EQ(hvl::ConfigDSN_Internal(kWindow, ODBC_CONFIG_DSN, L"Halvern Generic ODBC",
                                    L"DSN=A\0", 2),
            TRUE);
  EXPECT_EQ(dialog.shownName, L"A");
  EXPECT_EQ(dialog.add, 0);

  // The calls after the dialog: set mode, write B; per supplied entry in table
  // order set mode and store; set mode, remove A. All in the mode read at entry.
  std::vector<std::string> after;
  bool started = false;
  for (const auto &c : fake_inst::calls) {
    started = started || c.op == "SQLWriteDSNToIniW";
    if (started) {
      after.push_back(c.op);
      EXPECT_EQ(c.mode, unsigned{ODBC_USER_DSN});
    }
  }
  std::vector<std::wstring> stored = args_of("SQLSetKeywordValueW");
  EXPECT_EQ(stored, (std::vector<std::wstring>{
                        L"B|Description=old", L"B|FetchBufferSize=30", L"B|Host=localhost",
                        L"B|Port=5000", L"B|Database=", L"B|ReadOnly=No", L"B|Password=secret",
                        L"B|NoLoginBox=No", L"B|DeferLongFetch=Yes", L"B|ServerOptions=-q"}));
  std::vector<std::string> expected = {"SQLWriteDSNToIniW"};
  for (std::size_t i = 0; i < stored.size(); ++i) {
    expected.push_back("SQLSetConfigMode");
    expected.push_back("SQLSetKeywordValueW");
  }
  expected.push_back("SQLSetConfigMode");
  expected.push_back("SQLRemoveDSNFromIniW");
  EXPECT_EQ(after, expected);
  EXPECT_EQ(args_of("SQLRemoveDSNFromIniW"), std::vector<std::wstring>{L"A"});
  // The write of B comes right after a set mode.
  for (std::size_t i = 1; i < fake_inst::calls.size(); ++i)
    if (fake_inst::calls[i].op == "SQLWriteDSNToIniW") {
      EXPECT_EQ(fake_inst::calls[i - 1].op, "SQLSetConfigMode");
    }
  // Lengths are in wide characters, terminator not counted.
  for (const auto &c : fake_inst::calls)
    if (c.op == "SQLSetKeywordValueW") {
      EXPECT_EQ(c.length, static_cast<int>(c.args[2].size()));
    }
}

TEST_F(ConfigDsn, NarrowWriteBackConvertsEveryText) {
  dialog.user = [](hvl::AttrEntry *t) {
    commit(t, hvl::ATTR_DSN, L"K\u00F6ln");
    commit(t, hvl::ATTR_DESCRIPTION, L"\u20AC");
    return 1;
  };
  EXPECT_EQ(hvl::ConfigDSN_Internal(kWindow, ODBC_CONFIG_DSN, "Halvern Generic ODBC",
                                    "DSN=old\0PWD=p\0", 0),
            TRUE);
  EXPECT_EQ(args_of("SQLWriteDSNToIni"),
            std::vector<std::wstring>{L"K\u00F6ln|Halvern Generic ODBC"});
  auto stored = args_of("SQLSetKeywordValue");
  ASSERT_FALSE(stored.empty());
  EXPECT_EQ(stored.front(), L"K\u00F6ln|Description=\u20AC");
  EXPECT_NE(std::find(stored.begin(), stored.end(), L"K\u00F6ln|Password=p"), stored.end());
  for (const auto &c : fake_inst::calls)
    if (c.op == "SQLSetKeywordValue" && c.args[1] == L"Description") {
      EXPECT_EQ(c.length, 3); // bytes of the UTF-8 text
    }
  EXPECT_EQ(args_of("SQLRemoveDSNFromIni"), std::vector<std::wstring>{L"old"});
}

TEST_F(ConfigDsn, CaseChangeCancelAndEmptyNames) {
  struct Case {
    const char *what;
    const wchar_t *list;
    std::function<int(hvl::AttrEntry *)> user;
    std::vector<std::wstring> written;
    std::vector<std::wstring> removed;
  } cases[] = {
      {"a change of case only removes nothing", L"DSN=a\0",
       [](hvl::AttrEntry *t) {
         commit(t, 0, L"A");
         return 1;
       },
       {L"A|Halvern Generic ODBC"}, {}},
      {"cancel writes nothing", L"DSN=a\0",
       [](hvl::AttrEntry *t) {
         commit(t, 0, L"b");
         return 0;
       },
       {}, {}},
      {"OK with an empty name writes nothing", L"DSN=a\0",
       [](hvl::AttrEntry *t) {
         t[0].value[0] = 0;
         return 1;
       },
       {}, {}},
      {"configure without a name removes the empty old name", L"HOST=h\0",
       [](hvl::AttrEntry *t) {
         commit(t, 0, L"new");
         return 1;
       },
       {L"new|Halvern Generic ODBC"}, {L""}},
  };
  for (const Case &c : cases) {
    SetUp();
    dialog.user = c.user;
    EXPECT_EQ(hvl::ConfigDSN_Internal(kWindow, ODBC_CONFIG_DSN, kDriverW, c.list, 2), TRUE)
        << c.what;
    EXPECT_EQ(args_of("SQLWriteDSNToIniW"), c.written) << c.what;
    EXPECT_EQ(args_of("SQLRemoveDSNFromIniW"), c.removed) << c.what;
  }
}

// A rename that the installer does not store whole keeps the data source
// under its old name and is not reported as done.
TEST_F(ConfigDsn, RefusedWritesKeepTheOldNameAndFail) {
  struct Case {
    const char *what;
    int wideFlag;
    bool refuseName;     // SQLWriteDSNToIni(W) fails, as for a name it rejects
    const wchar_t *key;  // else this value is refused
  } cases[] = {
      {"new name refused, wide", 2, true, L""},
      {"new name refused, narrow", 0, true, L""},
      {"one value refused, wide", 2, false, L"Host"},
      {"one value refused, narrow", 0, false, L"Host"},
  };
  for (const Case &c : cases) {
    SetUp();
    fake_inst::write_dsn_result = c.refuseName ? FALSE : TRUE;
    fake_inst::refused_key = c.key;
    dialog.user = [](hvl::AttrEntry *t) {
      commit(t, hvl::ATTR_DSN, L"B ");
      return 1;
    };
    BOOL result = c.wideFlag != 0
                      ? hvl::ConfigDSN_Internal(kWindow, ODBC_CONFIG_DSN, kDriverW, L"DSN=A\0", 2)
                      : hvl::ConfigDSN_Internal(kWindow, ODBC_CONFIG_DSN, "Halvern Generic ODBC",
                                                "DSN=A\0", 0);
    EXPECT_EQ(result, FALSE) << c.what;
    std::vector<std::string> ops = fake_inst::ops();
    EXPECT_EQ(std::count(ops.begin(), ops.end(), "SQLRemoveDSNFromIni") +
                  std::count(ops.begin(), ops.end(), "SQLRemoveDSNFromIniW"),
              0)
        << c.what;
    std::vector<std::wstring> keys;
    for (const auto &call : fake_inst::calls)
      if (call.op == (c.wideFlag != 0 ? "SQLSetKeywordValueW" : "SQLSetKeywordValue"))
        keys.push_back(call.args[1]);
    if (c.refuseName) {
      // Nothing can land under a name that was not stored, and the
      // installer's own error is left for the caller.
      EXPECT_TRUE(keys.empty()) << c.what;
      EXPECT_TRUE(fake_inst::posted.empty()) << c.what;
    } else {
      // The values after the refused one are still stored, and the refusal
      // is named.
      auto host = std::find(keys.begin(), keys.end(), std::wstring(L"Host"));
      ASSERT_NE(host, keys.end()) << c.what;
      EXPECT_NE(host + 1, keys.end()) << c.what;
      ASSERT_EQ(fake_inst::posted.size(), 1u) << c.what;
      EXPECT_EQ(fake_inst::posted[0].first, unsigned{ODBC_ERROR_REQUEST_FAILED});
      EXPECT_NE(fake_inst::posted[0].second.find("\"Host\""), std::string::npos) << c.what;
    }
  }
}

TEST_F(ConfigDsn, NeverSuppliedEntriesAreNotWritten) {
  // Nothing stored and nothing in the list: only the defaults and what the
  // dialog filled are written.
  dialog.user = [](hvl::AttrEntry *t) {
    commit(t, 0, L"n");
    return 1;
  };
  hvl::ConfigDSN_Internal(kWindow, ODBC_ADD_DSN, kDriverW, L"\0", 2);
  std::vector<std::wstring> keys;
  for (const auto &c : fake_inst::calls)
    if (c.op == "SQLSetKeywordValueW")
      keys.push_back(c.args[1]);
  EXPECT_EQ(keys, (std::vector<std::wstring>{L"FetchBufferSize", L"Host", L"Port", L"ReadOnly",
                                             L"NoLoginBox", L"DeferLongFetch"}));
}

} // namespace

// The scripted dialog stands in for the real one at link time.
std::int32_t hvl::create_hvlsetup(HWND parent, wchar_t *dsn, const wchar_t *driver,
                                  hvl::AttrEntry *table, std::int32_t add) {
  ++dialog.calls;
  EXPECT_NE(parent, nullptr);
  EXPECT_EQ(dsn, table[0].value);
  dialog.shownName = dsn;
  dialog.shownDriver = driver != nullptr ? driver : L"(null)";
  dialog.add = add;
  dialog.shownValues.clear();
  for (int i = 0; i < hvl::kAttrCount; ++i)
    dialog.shownValues.push_back(table[i].value);
  return dialog.user(table);
}
