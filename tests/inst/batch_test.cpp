// Batches of writes: one rewrite per file at commit, the thread's own reads
// see the batch, nobody else does until then, and a commit keeps what other
// processes wrote meanwhile.
#include <sys/stat.h>

#include <string>
#include <thread>

#include "fileops.h"
#include "inst_env.h"
#include "store.h"

namespace {

using Batch = InstEnv;

const char kBefore[] =
    "; sources of the team\n"
    "[ODBC Data Sources]\na=Drv\nb=Drv\nold=Drv\n\n"
    "[a]\nDriver = /old/drv.so\nHost=ha\n\n"
    "[b]\nDriver=/old/drv.so\nUnknown=kept\n\n"
    "[old]\nDriver=/old/drv.so\n";

ino_t InodeOf(const std::string &path) {
  struct stat st{};
  ::stat(path.c_str(), &st);
  return st.st_ino;
}

TEST_F(Batch, WritesOnceAtCommitAndOnlyThisThreadSeesItBefore) {
  Put(UserDsn(), kBefore);
  ino_t before = InodeOf(UserDsn());
  ASSERT_TRUE(pelmarinst_begin_writes());
  EXPECT_TRUE(SQLWritePrivateProfileString("a", "Driver", "/new/drv.so", "odbc.ini"));
  EXPECT_TRUE(SQLWritePrivateProfileString("b", "Driver", "/new/drv.so", "odbc.ini"));
  EXPECT_TRUE(SQLWriteDSNToIni("c", "Drv"));
  EXPECT_TRUE(SQLSetKeywordValue("c", "Host", "hc", -1));
  EXPECT_TRUE(SQLRemoveDSNFromIni("old"));
  // Refused input is refused as always, and stays out of the batch.
  EXPECT_FALSE(SQLWritePrivateProfileString("a", "Bad=Key", "x", "odbc.ini"));
  EXPECT_FALSE(SQLSetKeywordValue("nosuch", "Host", "x", -1));

  EXPECT_EQ(Value("a", "Driver"), "/new/drv.so");
  EXPECT_EQ(Value("c", "Host"), "hc");
  EXPECT_EQ(Value("old", "Driver"), "<none>");
  EXPECT_EQ(Slurp(UserDsn()), kBefore);
  std::string seen;
  std::thread([&] { seen = Value("a", "Driver") + "|" + Value("c", "Host"); }).join();
  EXPECT_EQ(seen, "/old/drv.so|<none>");

  ASSERT_TRUE(pelmarinst_commit_writes());
  EXPECT_NE(InodeOf(UserDsn()), before);
  EXPECT_EQ(Slurp(UserDsn()),
            "; sources of the team\n"
            "[ODBC Data Sources]\na=Drv\nb=Drv\nc=Drv\n\n"
            "[a]\nDriver = /new/drv.so\nHost=ha\n\n"
            "[b]\nDriver=/new/drv.so\nUnknown=kept\n\n"
            "[c]\nDriver=Drv\nHost=hc\n");
  std::thread([&] { seen = Value("c", "Host"); }).join();
  EXPECT_EQ(seen, "hc");
}

TEST_F(Batch, CommitKeepsWhatAnotherProcessWroteMeanwhile) {
  Put(UserDsn(), kBefore);
  ASSERT_TRUE(pelmarinst_begin_writes());
  ASSERT_TRUE(SQLWritePrivateProfileString("a", "Host", "from-batch", "odbc.ini"));
  ASSERT_TRUE(SQLWritePrivateProfileString("a", "Port", "1", "odbc.ini"));
  // The child is a copy of this thread, batch included: it drops it first.
  pid_t kid = Spawn([] {
    return pelmarinst_abort_writes() &&
                   SQLWritePrivateProfileString("a", "Host", "from-other", "odbc.ini") &&
                   SQLWritePrivateProfileString("b", "Port", "2", "odbc.ini") &&
                   SQLWriteDSNToIni("d", "Drv")
               ? 0
               : 1;
  });
  ASSERT_EQ(Wait(kid), 0);
  EXPECT_EQ(Value("b", "Port"), "<none>");  // the batch's own view
  ASSERT_TRUE(pelmarinst_commit_writes());
  EXPECT_EQ(Value("a", "Host"), "from-batch");
  EXPECT_EQ(Value("a", "Port"), "1");
  EXPECT_EQ(Value("b", "Port"), "2");
  EXPECT_EQ(Value("d", "Driver"), "Drv");
}

TEST_F(Batch, CommitDoesNotBringBackADataSourceRemovedMeanwhile) {
  Put(UserDsn(), kBefore);
  ASSERT_TRUE(SQLWriteDSNToIni("gone", "Drv"));
  ASSERT_TRUE(pelmarinst_begin_writes());
  ASSERT_TRUE(SQLSetKeywordValue("gone", "Host", "from-batch", -1));
  pid_t kid = Spawn([] {
    return pelmarinst_abort_writes() && SQLRemoveDSNFromIni("gone") ? 0 : 1;
  });
  ASSERT_EQ(Wait(kid), 0);
  ASSERT_TRUE(pelmarinst_commit_writes());
  EXPECT_EQ(Slurp(UserDsn()).find("gone"), std::string::npos) << Slurp(UserDsn());
}

TEST_F(Batch, AbortWritesNothingAndCallsOutOfOrderFail) {
  EXPECT_FALSE(pelmarinst_commit_writes());
  EXPECT_EQ(FirstError(), static_cast<DWORD>(ODBC_ERROR_INVALID_PARAM_SEQUENCE));
  ASSERT_TRUE(pelmarinst_begin_writes());
  EXPECT_FALSE(pelmarinst_begin_writes());
  EXPECT_EQ(FirstError(), static_cast<DWORD>(ODBC_ERROR_INVALID_PARAM_SEQUENCE));
  // Still the first batch.
  EXPECT_TRUE(SQLWriteDSNToIni("n", "Drv"));
  EXPECT_EQ(Value("n", "Driver"), "Drv");
  EXPECT_FALSE(Exists(UserDsn()));
  EXPECT_TRUE(pelmarinst_abort_writes());
  EXPECT_EQ(Value("n", "Driver"), "<none>");
  EXPECT_FALSE(pelmarinst_commit_writes());
  EXPECT_FALSE(Exists(UserDsn()));

  // A batch that only removes what is not there creates nothing either.
  ASSERT_TRUE(pelmarinst_begin_writes());
  EXPECT_TRUE(SQLRemoveDSNFromIni("n"));
  EXPECT_TRUE(pelmarinst_commit_writes());
  EXPECT_FALSE(Exists(UserDsn()));
}

class RenameFails : public pinst::FileOps {
 public:
  int Rename(const std::string &, const std::string &) override { return -EXDEV; }
};

TEST_F(Batch, FailedCommitLeavesTheFilesAsTheyWereAndEndsTheBatch) {
  Put(UserDsn(), kBefore);
  SQLSetConfigMode(ODBC_USER_DSN);
  ASSERT_TRUE(pelmarinst_begin_writes());
  ASSERT_TRUE(SQLWritePrivateProfileString("a", "Host", "changed", "odbc.ini"));
  DWORD count = 0;
  ASSERT_TRUE(SQLInstallDriverEx("Drv\0Driver=/new/drv.so\0", nullptr, nullptr, 0, nullptr,
                                 ODBC_INSTALL_COMPLETE, &count));
  RenameFails ops;
  pinst::SetOps(&ops);
  EXPECT_FALSE(pelmarinst_commit_writes());
  pinst::SetOps(nullptr);
  std::string message;
  EXPECT_EQ(FirstError(&message), static_cast<DWORD>(ODBC_ERROR_WRITING_SYSINFO_FAILED));
  EXPECT_NE(message.find(".odbc.ini"), std::string::npos) << message;
  EXPECT_EQ(Slurp(UserDsn()), kBefore);
  EXPECT_FALSE(Exists(UserDrivers()));
  EXPECT_EQ(Value("a", "Host"), "ha");
  EXPECT_FALSE(pelmarinst_commit_writes());
}

} // namespace
