// Interoperability with unixODBC's odbcinst program, an independent reader and
// writer of the same files, in both directions.
#include <stdio.h>
#include <sys/wait.h>

#include "inst_env.h"

namespace {

const char *kOdbcinst = "/usr/bin/odbcinst";

class Interop : public InstEnv {
 protected:
  void SetUp() override {
    if (access(kOdbcinst, X_OK) != 0)
      GTEST_SKIP() << "odbcinst (Debian package odbcinst) is not installed";
    InstEnv::SetUp();
    // odbcinst finds the user's data sources in ~/.odbc.ini unless ODBCINI says otherwise.
    setenv("ODBCINI", UserDsn().c_str(), 1);
  }

  // Runs odbcinst with the arguments; its standard output, and its exit
  // status in *status.
  static std::string Run(const std::string &args, int *status = nullptr) {
    std::string cmd = std::string(kOdbcinst) + " " + args + " 2>&1";
    FILE *p = popen(cmd.c_str(), "r");
    std::string out;
    char buf[512];
    while (p != nullptr && fgets(buf, sizeof buf, p) != nullptr)
      out += buf;
    int rc = p != nullptr ? pclose(p) : -1;
    if (status != nullptr)
      *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
  }
};

TEST_F(Interop, OdbcinstReadsWhatWeWrite) {
  SQLSetConfigMode(ODBC_SYSTEM_DSN);
  ASSERT_TRUE(SQLInstallDriverEx("Halvern Test\0Driver=/opt/h/hvl.so\0Setup=/opt/h/setup.so\0",
                                 nullptr, nullptr, 0, nullptr, ODBC_INSTALL_COMPLETE, nullptr));
  ASSERT_TRUE(SQLWriteDSNToIni("sysdsn", "Halvern Test"));
  ASSERT_TRUE(SQLSetKeywordValue("sysdsn", "Database", "sysdb", -1));
  SQLSetConfigMode(ODBC_USER_DSN);
  ASSERT_TRUE(SQLWriteDSNToIni("userdsn", "Halvern Test"));
  ASSERT_TRUE(SQLSetKeywordValue("userdsn", "Host", "db.example.com", -1));

  int status = -1;
  std::string drivers = Run("-q -d", &status);
  EXPECT_EQ(status, 0);
  EXPECT_NE(drivers.find("[Halvern Test]"), std::string::npos) << drivers;
  std::string driver = Run("-q -d -n 'Halvern Test'");
  EXPECT_NE(driver.find("Driver=/opt/h/hvl.so"), std::string::npos) << driver;
  EXPECT_NE(driver.find("Setup=/opt/h/setup.so"), std::string::npos) << driver;
  std::string sources = Run("-q -s");
  EXPECT_NE(sources.find("[userdsn]"), std::string::npos) << sources;
  EXPECT_NE(sources.find("[sysdsn]"), std::string::npos) << sources;
  std::string user = Run("-q -s -n userdsn", &status);
  EXPECT_EQ(status, 0);
  EXPECT_NE(user.find("Host=db.example.com"), std::string::npos) << user;
  EXPECT_NE(user.find("Driver=/opt/h/hvl.so"), std::string::npos) << user;
  std::string sys = Run("-q -s -n sysdsn");
  EXPECT_NE(sys.find("Database=sysdb"), std::string::npos) << sys;
}

TEST_F(Interop, WeReadWhatOdbcinstWrites) {
  std::string tmpl = root_ + "/driver.tmpl";
  Put(tmpl, "[Peer Driver]\nDescription=written by odbcinst\nDriver=/usr/lib/peer.so\n");
  int status = -1;
  std::string out = Run("-i -d -f '" + tmpl + "'", &status);
  ASSERT_EQ(status, 0) << out;
  std::string dsn = root_ + "/dsn.tmpl";
  Put(dsn, "[peeruser]\nDriver=Peer Driver\nDatabase=fromuser\n");
  out = Run("-i -s -h -f '" + dsn + "'", &status);
  ASSERT_EQ(status, 0) << out;
  // odbcinst adds system data sources only to an odbc.ini that exists, as
  // /etc/odbc.ini does on a system with a driver manager.
  Put(SystemDsn(), "");
  Put(dsn, "[peersys]\nDriver=Peer Driver\nDatabase=fromsystem\n");
  out = Run("-i -s -l -f '" + dsn + "'", &status);
  ASSERT_EQ(status, 0) << out;

  char buf[512];
  WORD len = 0;
  ASSERT_TRUE(SQLGetInstalledDrivers(buf, sizeof buf, &len));
  EXPECT_NE(List(buf).find("Peer Driver"), std::string::npos) << List(buf);
  EXPECT_EQ(Profile("Peer Driver", "Driver", "odbcinst.ini"), "/usr/lib/peer.so");
  EXPECT_EQ(Value("peeruser", "Database"), "fromuser");
  EXPECT_EQ(Value("peersys", "Database"), "fromsystem");
  SQLSetConfigMode(ODBC_USER_DSN);
  EXPECT_EQ(Value("peersys", "Database"), "<none>");
  // And what we change there, odbcinst still reads.
  SQLSetConfigMode(ODBC_SYSTEM_DSN);
  ASSERT_TRUE(SQLSetKeywordValue("peersys", "Database", "changed", -1));
  EXPECT_NE(Run("-q -s -n peersys").find("Database=changed"), std::string::npos);
}

} // namespace
