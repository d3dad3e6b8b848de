// What the files survive: concurrent writers, killed writers, failing steps,
// hostile input; and what readers see meanwhile.
#include <signal.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <sys/wait.h>
#include <time.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <thread>

#include "fileops.h"
#include "inst_env.h"
#include "store.h"

namespace {

using Survive = InstEnv;

std::string BigFile(int sources) {
  std::string text = "; generated\n[ODBC Data Sources]\n";
  for (int i = 0; i < sources; ++i)
    text += "dsn" + std::to_string(i) + "=Drv\n";
  for (int i = 0; i < sources; ++i)
    text += "\n[dsn" + std::to_string(i) + "]\nDriver=Drv\nHost=host" + std::to_string(i) +
            "\nDescription=a data source with a long enough description line\n";
  return text;
}

std::size_t TempFiles(const std::string &dir) {
  std::size_t n = 0;
  for (const auto &e : std::filesystem::directory_iterator(dir))
    n += e.path().filename().string().find(".tmp") != std::string::npos;
  return n;
}

TEST_F(Survive, ConcurrentWritersLoseNoUpdate) {
  Put(UserDsn(), "[ODBC Data Sources]\nshared=Drv\n[shared]\nDriver=Drv\n");
  constexpr int kWriters = 4, kKeys = 40;
  std::vector<pid_t> kids;
  for (int w = 0; w < kWriters; ++w)
    kids.push_back(Spawn([w] {
      for (int k = 0; k < kKeys; ++k) {
        std::string key = "W" + std::to_string(w) + "K" + std::to_string(k);
        if (!SQLSetKeywordValue("shared", key.c_str(), key.c_str(), -1))
          return 1;
        if (k % 10 == 0) {
          std::string dsn = "own" + std::to_string(w) + "_" + std::to_string(k);
          if (!SQLWriteDSNToIni(dsn.c_str(), "Drv"))
            return 2;
        }
      }
      return 0;
    }));
  for (pid_t kid : kids)
    EXPECT_EQ(Wait(kid), 0);
  for (int w = 0; w < kWriters; ++w) {
    for (int k = 0; k < kKeys; ++k) {
      std::string key = "W" + std::to_string(w) + "K" + std::to_string(k);
      EXPECT_EQ(Value("shared", key.c_str()), key);
    }
    for (int k = 0; k < kKeys; k += 10) {
      std::string dsn = "own" + std::to_string(w) + "_" + std::to_string(k);
      EXPECT_EQ(Profile("ODBC Data Sources", dsn.c_str(), "odbc.ini"), "Drv");
      EXPECT_EQ(Value(dsn.c_str(), "Driver"), "Drv");
    }
  }
}

TEST_F(Survive, ConcurrentThreadsLoseNoUpdateAndReadConsistently) {
  Put(UserDsn(), BigFile(50));
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t, &failures] {
      for (int k = 0; k < 25; ++k) {
        std::string key = "T" + std::to_string(t) + "K" + std::to_string(k);
        if (!SQLSetKeywordValue("dsn7", key.c_str(), key.c_str(), -1))
          failures++;
        char buf[64];
        if (!SQLGetKeywordValue("dsn7", key.c_str(), buf, sizeof buf, nullptr) || key != buf)
          failures++;
        if (!SQLGetKeywordValue("dsn49", "Host", buf, sizeof buf, nullptr))
          failures++;
      }
    });
  for (std::thread &t : threads)
    t.join();
  EXPECT_EQ(failures.load(), 0);
  for (int t = 0; t < 4; ++t)
    for (int k = 0; k < 25; ++k) {
      std::string key = "T" + std::to_string(t) + "K" + std::to_string(k);
      EXPECT_EQ(Value("dsn7", key.c_str()), key);
    }
}

TEST_F(Survive, KilledWriterLeavesOldOrNewFile) {
  const std::string base = BigFile(2000);
  Put(UserDsn(), base);
  std::mt19937 rng(42);
  for (int round = 0; round < 25; ++round) {
    std::string before = Slurp(UserDsn());
    pid_t kid = Spawn([] {
      for (int i = 0;; ++i)
        SQLWritePrivateProfileString("dsn1000", "Generation", std::to_string(i).c_str(),
                                     "odbc.ini");
      return 0;
    });
    struct timespec ts = {0, static_cast<long>(rng() % 20000000)};
    nanosleep(&ts, nullptr);
    kill(kid, SIGKILL);
    Wait(kid);
    // Whatever generation the file holds, it is the base file with that one
    // line in it: nothing cut, nothing mixed.
    std::string now = Slurp(UserDsn());
    std::string gen = Profile("dsn1000", "Generation", "odbc.ini");
    std::string expect = base;
    if (gen != "<none>") {
      std::string anchor = "Host=host1000\nDescription=a data source with a long enough "
                           "description line\n";
      expect.insert(expect.find(anchor) + anchor.size(), "Generation=" + gen + "\n");
    }
    ASSERT_EQ(now, expect) << "round " << round;
  }
  // The next writer is neither blocked by a lock nor confused by the
  // temporary file a killed writer may have left; it clears it away.
  EXPECT_TRUE(SQLWritePrivateProfileString("dsn1", "After", "yes", "odbc.ini"));
  EXPECT_EQ(TempFiles(root_ + "/home"), 0u);
}

TEST_F(Survive, ReadersNeverMissADataSourceDuringWrites) {
  Put(UserDsn(), BigFile(1000));
  pid_t writer = Spawn([] {
    for (int i = 0; i < 300; ++i) {
      // Every other write removes and re-adds a neighbour, so that the file
      // shrinks and grows under the readers.
      std::string v = std::to_string(i);
      if (!SQLWritePrivateProfileString("dsn10", "Generation", v.c_str(), "odbc.ini"))
        return 1;
      if (i % 2 == 0 ? !SQLRemoveDSNFromIni("dsn11") : !SQLWriteDSNToIni("dsn11", "Drv"))
        return 2;
    }
    return 0;
  });
  pid_t reader = Spawn([] {
    int misses = 0;
    for (int i = 0; i < 3000; ++i) {
      char buf[64];
      misses += !SQLGetKeywordValue("dsn500", "Host", buf, sizeof buf, nullptr);
      misses += SQLGetPrivateProfileString("ODBC Data Sources", "dsn999", "", buf, sizeof buf,
                                           "odbc.ini") == 0;
    }
    return misses == 0 ? 0 : 1;
  });
  EXPECT_EQ(Wait(writer), 0);
  EXPECT_EQ(Wait(reader), 0) << "a reader missed a data source";
}

TEST_F(Survive, AChangeByAnotherProcessIsSeenAtOnce) {
  Put(UserDsn(), "[s]\nHost=one\n");
  for (int i = 0; i < 20; ++i) {
    std::string want = "v" + std::to_string(i);
    EXPECT_NE(Value("s", "Host"), want);  // read and cached
    pid_t kid = Spawn([&] { return SQLSetKeywordValue("s", "Host", want.c_str(), -1) ? 0 : 1; });
    ASSERT_EQ(Wait(kid), 0);
    EXPECT_EQ(Value("s", "Host"), want);
  }
  // Rewritten in place by a tool that keeps the inode and the size.
  Put(UserDsn(), "[s]\nHost=AAA\n");
  EXPECT_EQ(Value("s", "Host"), "AAA");
  Put(UserDsn(), "[s]\nHost=BBB\n");
  EXPECT_EQ(Value("s", "Host"), "BBB");
}

TEST_F(Survive, ReadsNeverCreateFiles) {
  char buf[256];
  int len;
  for (UWORD mode : {ODBC_BOTH_DSN, ODBC_USER_DSN, ODBC_SYSTEM_DSN}) {
    SQLSetConfigMode(mode);
    SQLGetPrivateProfileString("ODBC Data Sources", nullptr, "", buf, sizeof buf, "odbc.ini");
    SQLGetPrivateProfileString(nullptr, nullptr, "", buf, sizeof buf, "odbcinst.ini");
    SQLGetPrivateProfileString("x", "y", "", buf, sizeof buf, "odbc.ini");
    SQLGetKeywordValue("x", "y", buf, sizeof buf, &len);
    SQLGetInstalledDrivers(buf, sizeof buf, nullptr);
    SQLValidDSN("x");
    // Removing what is not there writes nothing either.
    SQLRemoveDSNFromIni("x");
    SQLWritePrivateProfileString("x", "y", nullptr, "odbc.ini");
    SQLWritePrivateProfileString("x", nullptr, nullptr, "odbcinst.ini");
  }
  EXPECT_TRUE(std::filesystem::is_empty(root_ + "/home"));
  EXPECT_TRUE(std::filesystem::is_empty(root_ + "/etc"));
}

TEST_F(Survive, StructuralInputIsRefusedAndNothingWritten) {
  const std::string before = "[ODBC Data Sources]\nsales=Drv\n[sales]\nDriver=Drv\n";
  Put(UserDsn(), before);
  struct Case {
    const char *section, *key, *value;
    DWORD code;
  } cases[] = {
      {"sales", "Host", "a\nb", ODBC_ERROR_INVALID_KEYWORD_VALUE},      // line break in a value
      {"sales", "Host", "a\rb", ODBC_ERROR_INVALID_KEYWORD_VALUE},      // carriage return
      {"sales", "Host", " padded", ODBC_ERROR_INVALID_KEYWORD_VALUE},   // leading space
      {"sales", "Host", "padded\t", ODBC_ERROR_INVALID_KEYWORD_VALUE},  // trailing tab
      {"sales", "Host", "\xC3(", ODBC_ERROR_INVALID_KEYWORD_VALUE},     // not UTF-8
      {"sales", "a=b", "v", ODBC_ERROR_INVALID_KEYWORD_VALUE},          // "=" in a key
      {"sales", "", "v", ODBC_ERROR_INVALID_KEYWORD_VALUE},             // empty key
      {"sales", ";x", "v", ODBC_ERROR_INVALID_KEYWORD_VALUE},           // would be a comment
      {"sales", "#x", "v", ODBC_ERROR_INVALID_KEYWORD_VALUE},
      {"sales", "[x]", "v", ODBC_ERROR_INVALID_KEYWORD_VALUE},          // would be a header
      {"sales", "k\n[evil]", "v", ODBC_ERROR_INVALID_KEYWORD_VALUE},    // line break in a key
      {"sales]\n[evil", "k", "v", ODBC_ERROR_INVALID_NAME},             // section breaking out
      {"a]b", "k", "v", ODBC_ERROR_INVALID_NAME},                       // "]" in a section
      {"a[b", "k", "v", ODBC_ERROR_INVALID_NAME},
      {"", "k", "v", ODBC_ERROR_INVALID_NAME},                          // empty section
      {" sales", "k", "v", ODBC_ERROR_INVALID_NAME},                    // would be trimmed
  };
  for (const Case &c : cases) {
    EXPECT_FALSE(SQLWritePrivateProfileString(c.section, c.key, c.value, "odbc.ini"))
        << c.section << "/" << c.key << "/" << c.value;
    EXPECT_EQ(FirstError(), c.code) << c.section << "/" << c.key << "/" << c.value;
  }
  EXPECT_FALSE(SQLSetKeywordValue("sales", "Host", "a\nb", -1));
  EXPECT_FALSE(SQLSetKeywordValue("sales", "Host", "a\0b", 3));
  EXPECT_FALSE(SQLSetKeywordValueW(L"sales", L"Host", L"\xD800", -1));
  EXPECT_EQ(FirstError(), static_cast<DWORD>(ODBC_ERROR_INVALID_STR));
  EXPECT_FALSE(SQLWriteDSNToIni("x\n[y]", "Drv"));
  EXPECT_FALSE(SQLWriteDSNToIni("x", "Drv\nEvil=1"));
  EXPECT_FALSE(SQLInstallDriverEx("Drv]\0Driver=/x\0", nullptr, nullptr, 0, nullptr,
                                  ODBC_INSTALL_COMPLETE, nullptr));
  EXPECT_FALSE(SQLInstallDriverEx("Drv\0Driver=/x\nSetup=/evil\0", nullptr, nullptr, 0, nullptr,
                                  ODBC_INSTALL_COMPLETE, nullptr));
  EXPECT_EQ(Slurp(UserDsn()), before);
  EXPECT_FALSE(Exists(UserDrivers()));
  EXPECT_FALSE(Exists(SystemDrivers()));
}

TEST_F(Survive, PermissionsAndLinks) {
  mode_t old = umask(022);
  SQLSetConfigMode(ODBC_USER_DSN);
  ASSERT_TRUE(SQLWriteDSNToIni("pw", "Drv"));
  EXPECT_EQ(ModeOf(UserDsn()), 0600u);  // may hold passwords
  SQLSetConfigMode(ODBC_SYSTEM_DSN);
  ASSERT_TRUE(SQLWriteDSNToIni("pw", "Drv"));
  EXPECT_EQ(ModeOf(SystemDsn()), 0644u);
  ASSERT_TRUE(SQLWritePrivateProfileString("Drv", "Driver", "/d.so", "odbcinst.ini"));
  EXPECT_EQ(ModeOf(SystemDrivers()), 0644u);
  chmod(SystemDsn().c_str(), 0640);
  ASSERT_TRUE(SQLSetKeywordValue("pw", "PWD", "secret", -1));
  EXPECT_EQ(ModeOf(SystemDsn()), 0640u);  // an existing file keeps its mode
  umask(old);

  // A write through a link replaces the link's target and keeps the link.
  std::string real = root_ + "/elsewhere.ini";
  Put(real, "[linked]\nHost=a\n");
  std::filesystem::remove(UserDsn());
  std::filesystem::create_symlink(real, UserDsn());
  SQLSetConfigMode(ODBC_USER_DSN);
  ASSERT_TRUE(SQLSetKeywordValue("linked", "Host", "b", -1));
  EXPECT_TRUE(std::filesystem::is_symlink(UserDsn()));
  EXPECT_EQ(Slurp(real), "[linked]\nHost=b\n");
}

// Links that lead nowhere and paths that are no file: each write ends, in a
// child that an alarm stops should it hang, and nothing is replaced.
TEST_F(Survive, DanglingLinkChainsLoopsAndPipes) {
  namespace fs = std::filesystem;
  struct Case {
    const char *what;
    std::function<void()> make;  // prepares UserDsn()
    int written;                 // what the write returns
    std::function<void()> after; // checks what is left
  } cases[] = {
      {"a chain of links to a missing file creates it",
       [&] {
         fs::create_symlink(root_ + "/b", UserDsn());
         fs::create_symlink(root_ + "/c", root_ + "/b");
       },
       1,
       [&] {
         EXPECT_EQ(Slurp(root_ + "/c"), "[S]\nk=v\n");
         EXPECT_TRUE(fs::is_symlink(UserDsn()) && fs::is_symlink(root_ + "/b"));
       }},
      {"a loop of links fails", [&] {
         fs::create_symlink(root_ + "/loop", UserDsn());
         fs::create_symlink(UserDsn(), root_ + "/loop");
       },
       0, [&] { EXPECT_TRUE(fs::is_symlink(UserDsn())); }},
      {"a pipe reads as empty and is not replaced",
       [&] { ASSERT_EQ(mkfifo(UserDsn().c_str(), 0600), 0); }, 0,
       [&] { EXPECT_TRUE(fs::is_fifo(UserDsn())); }},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove(UserDsn());
    fs::remove(root_ + "/b");
    fs::remove(root_ + "/c");
    fs::remove(root_ + "/loop");
    c.make();
    pid_t kid = Spawn([] {
      alarm(10);
      SQLSetConfigMode(ODBC_USER_DSN);
      char value[16] = "x";
      if (SQLGetPrivateProfileString("S", "k", "none", value, sizeof value, "odbc.ini") != 4 ||
          std::strcmp(value, "none") != 0)
        return 10;
      return SQLWritePrivateProfileString("S", "k", "v", "odbc.ini") ? 1 : 0;
    });
    EXPECT_EQ(Wait(kid), c.written);
    c.after();
  }
}

TEST_F(Survive, AWriteRemovesOnlyTheTemporaryFilesThatWritersMake) {
  Put(SystemDsn(), "[s]\nHost=a\n");
  std::string etc = root_ + "/etc/";
  const char *own[] = {".odbc.ini.tmp-backup", ".odbc.ini.tmp12", ".odbc.ini.tmp1.2x"};
  Put(etc + ".odbc.ini.tmp4242.7", "left by a killed writer");
  for (const char *name : own)
    Put(etc + name, "the user's own");
  SQLSetConfigMode(ODBC_SYSTEM_DSN);
  ASSERT_TRUE(SQLSetKeywordValue("s", "Host", "b", -1));
  EXPECT_FALSE(std::filesystem::exists(etc + ".odbc.ini.tmp4242.7"));
  for (const char *name : own)
    EXPECT_EQ(Slurp(etc + name), "the user's own") << name;
}

// The access control list (and other extended attributes) of a file go over
// to the file that replaces it: the mode's group bits are then the list's
// mask, and without the list they would let the owning group write.
TEST_F(Survive, AccessControlListAndAttributesSurviveARewrite) {
  Put(SystemDsn(), "[s]\nHost=a\n");
  chmod(SystemDsn().c_str(), 0644);
  // version 2; entries of tag, permissions and id: the owner rw, user 65534
  // rw, the owning group r, mask rw, others r.
  const std::uint32_t none = 0xFFFFFFFFu;
  struct Entry {
    std::uint16_t tag, perm;
    std::uint32_t id;
  };
  const Entry entries[] = {{0x01, 6, none}, {0x02, 6, 65534}, {0x04, 4, none},
                           {0x10, 6, none}, {0x20, 4, none}};
  std::string acl(4, '\0');
  acl[0] = 2;
  for (const Entry &e : entries)
    acl.append(reinterpret_cast<const char *>(&e), sizeof e);
  if (setxattr(SystemDsn().c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) != 0 ||
      setxattr(SystemDsn().c_str(), "user.note", "kept", 4, 0) != 0)
    GTEST_SKIP() << "no access control lists or user attributes here: " << std::strerror(errno);
  SQLSetConfigMode(ODBC_SYSTEM_DSN);
  ASSERT_TRUE(SQLSetKeywordValue("s", "Host", "b", -1));
  EXPECT_EQ(Slurp(SystemDsn()), "[s]\nHost=b\n");
  auto attribute = [&](const char *name) {
    char value[256];
    ssize_t n = getxattr(SystemDsn().c_str(), name, value, sizeof value);
    return n < 0 ? std::string("<none>") : std::string(value, static_cast<std::size_t>(n));
  };
  EXPECT_EQ(attribute("system.posix_acl_access"), acl);
  EXPECT_EQ(attribute("user.note"), "kept");
}

TEST_F(Survive, OwnerIsKeptByAPrivilegedWriter) {
  if (getuid() != 0)
    GTEST_SKIP() << "needs root to own files as someone else";
  Put(SystemDsn(), "[s]\nHost=a\n");
  ASSERT_EQ(chown(SystemDsn().c_str(), 1234, 5678), 0);
  SQLSetConfigMode(ODBC_SYSTEM_DSN);
  ASSERT_TRUE(SQLSetKeywordValue("s", "Host", "b", -1));
  struct stat st{};
  stat(SystemDsn().c_str(), &st);
  EXPECT_EQ(st.st_uid, 1234u);
  EXPECT_EQ(st.st_gid, 5678u);
}

TEST_F(Survive, UnwritableFolderOrFileFailsCleanly) {
  if (getuid() == 0)
    GTEST_SKIP() << "root writes anywhere";
  Put(SystemDsn(), "[s]\nHost=a\n");
  chmod((root_ + "/etc").c_str(), 0555);
  SQLSetConfigMode(ODBC_SYSTEM_DSN);
  EXPECT_FALSE(SQLSetKeywordValue("s", "Host", "b", -1));
  EXPECT_EQ(FirstError(), static_cast<DWORD>(ODBC_ERROR_WRITING_SYSINFO_FAILED));
  chmod((root_ + "/etc").c_str(), 0755);
  EXPECT_EQ(Slurp(SystemDsn()), "[s]\nHost=a\n");

  // A file made read-only is not replaced, though its folder is writable.
  chmod(SystemDsn().c_str(), 0444);
  EXPECT_FALSE(SQLSetKeywordValue("s", "Host", "b", -1));
  EXPECT_EQ(FirstError(), static_cast<DWORD>(ODBC_ERROR_WRITING_SYSINFO_FAILED));
  EXPECT_EQ(Slurp(SystemDsn()), "[s]\nHost=a\n");
  EXPECT_EQ(ModeOf(SystemDsn()), 0444u);

  // In mode both, a user file that cannot be read stops the write: it does
  // not land in the system file, under the user's entry that still counts.
  chmod(SystemDsn().c_str(), 0644);
  Put(UserDsn(), "[s]\nHost=user\n");
  chmod(UserDsn().c_str(), 0);
  SQLSetConfigMode(ODBC_BOTH_DSN);
  EXPECT_FALSE(SQLSetKeywordValue("s", "Host", "b", -1));
  EXPECT_FALSE(SQLWritePrivateProfileString("s", "Host", "b", "odbc.ini"));
  EXPECT_EQ(Slurp(SystemDsn()), "[s]\nHost=a\n");
  chmod(UserDsn().c_str(), 0600);
}

// Fails the named step once, on the call that matches.
class FailingOps : public pinst::FileOps {
 public:
  explicit FailingOps(std::string step) : step_(std::move(step)) {}
  int Open(const std::string &path, int flags, mode_t mode) override {
    if (step_ == "open temp" && path.find(".tmp") != std::string::npos)
      return -EACCES;
    return FileOps::Open(path, flags, mode);
  }
  long Write(int fd, const void *buf, std::size_t len) override {
    if (step_ == "write")
      return -ENOSPC;
    if (step_ == "short write")
      return FileOps::Write(fd, buf, len > 10 ? 10 : len);
    return FileOps::Write(fd, buf, len);
  }
  int Fsync(int fd) override { return step_ == "fsync" ? -EIO : FileOps::Fsync(fd); }
  int Fchmod(int fd, mode_t m) override { return step_ == "chmod" ? -EPERM : FileOps::Fchmod(fd, m); }
  int Rename(const std::string &a, const std::string &b) override {
    return step_ == "rename" ? -EXDEV : FileOps::Rename(a, b);
  }
  int LockExclusive(int fd) override {
    return step_ == "lock" ? -ENOLCK : FileOps::LockExclusive(fd);
  }
  long Pread(int fd, void *buf, std::size_t len, off_t at) override {
    return step_ == "read" ? -EIO : FileOps::Pread(fd, buf, len, at);
  }

 private:
  std::string step_;
};

TEST_F(Survive, EveryFailingStepLeavesTheFileAsItWas) {
  const std::string before = BigFile(20);
  Put(UserDsn(), before);
  for (const char *step : {"open temp", "write", "short write", "fsync", "chmod", "rename",
                           "lock", "read"}) {
    pinst::DropCache();
    FailingOps ops(step);
    pinst::SetOps(&ops);
    BOOL ok = SQLWritePrivateProfileString("dsn3", "Host", "changed", "odbc.ini");
    pinst::SetOps(nullptr);
    if (std::string(step) == "short write") {
      // Short writes are resumed, not failures.
      EXPECT_TRUE(ok);
      EXPECT_EQ(Value("dsn3", "Host"), "changed");
      Put(UserDsn(), before);
      continue;
    }
    EXPECT_FALSE(ok) << step;
    std::string message;
    EXPECT_NE(FirstError(&message), 0u) << step;
    EXPECT_NE(message.find(root_), std::string::npos) << step << ": " << message;
    EXPECT_EQ(Slurp(UserDsn()), before) << step;
    EXPECT_EQ(TempFiles(root_ + "/home"), 0u) << step;
    EXPECT_EQ(Value("dsn3", "Host"), "host3") << step;
  }
  // A failed creation leaves no empty file behind either.
  std::filesystem::remove(UserDsn());
  FailingOps ops("rename");
  pinst::SetOps(&ops);
  EXPECT_FALSE(SQLWriteDSNToIni("n", "Drv"));
  pinst::SetOps(nullptr);
  EXPECT_FALSE(Exists(UserDsn()));
  EXPECT_TRUE(SQLWriteDSNToIni("n", "Drv"));
}

} // namespace
