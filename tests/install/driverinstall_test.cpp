// The installed driverinstall, run as the installer package runs it, on a
// temporary configuration each time.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "blackbox.h"

namespace {

using blackbox::iniHasSection;
using blackbox::iniValue;
using blackbox::Sandbox;

const std::string kPrefix = HVL_INSTALL_PREFIX;
const std::string kTool = kPrefix + "/bin/driverinstall";
const std::string kName = "Halvern Generic ODBC";
const std::string kBundle = "/Library/ODBC/Halvern Generic ODBC Driver.bundle/Contents/MacOS/";
const std::string kDriverTail = kBundle + "hvlodbc.so";
const std::string kSetupTail = kBundle + "Halvern Generic ODBC Driver";

class DriverInstall : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(blackbox::exists(kTool))
        << kTool << " is missing: run the tests through ctest, which installs the kit first";
  }

  blackbox::Run run(const std::vector<std::string> &args,
                    const std::vector<std::pair<std::string, std::string>> &env = {}) {
    blackbox::Run r = box.run(kTool, args, env);
    EXPECT_EQ(r.status, 0) << "driverinstall always ends with status 0\n" << r.err;
    return r;
  }

  // Data sources of our driver (listed in any letter case), one of another
  // driver, and one that has a section but is not listed.
  void writeDataSources(const std::string &path, const std::string &tag) {
    blackbox::writeFile(path,
                        "[ODBC Data Sources]\n" +
                            tag + "mixed = hALVERN generic OdBc\n" +
                            tag + "other = Other Driver\n"
                            "\n[" + tag + "mixed]\nDriver = /old/hvlodbc.so\nServer = db1\n"
                            "\n[" + tag + "other]\nDriver = /old/other.so\n"
                            "\n[" + tag + "unlisted]\nDriver = /old/unlisted.so\n");
  }

  void expectRepointed(const std::string &path, const std::string &tag,
                       const std::optional<std::string> &driverPath) {
    SCOPED_TRACE(path);
    EXPECT_EQ(iniValue(path, tag + "mixed", "Driver").value_or("?"),
              driverPath.value_or("/old/hvlodbc.so"));
    EXPECT_EQ(iniValue(path, tag + "mixed", "Server").value_or("?"), "db1");
    EXPECT_EQ(iniValue(path, tag + "other", "Driver").value_or("?"), "/old/other.so");
    EXPECT_EQ(iniValue(path, tag + "unlisted", "Driver").value_or("?"), "/old/unlisted.so");
  }

  Sandbox box;
};

TEST_F(DriverInstall, WithoutAPostStepDoesNothing) {
  struct Case {
    const char *why;
    std::vector<std::string> args;
  };
  const Case cases[] = {
      {"no arguments", {}},
      {"pre-install step", {"-preinstall", "/"}},
      {"client only", {"-clientonly"}},
      {"options are case-sensitive", {"-POSTINSTALL", "/"}},
      {"pre-upgrade with a prefix", {"-preupgrade", "/opt/x", "-post"}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.why);
    // Not even the library is looked at: a missing one changes nothing.
    blackbox::Run r = run(c.args, {{"HVL_PELMARINST", "/nonexistent/libpelmarinst.so.1"}});
    EXPECT_EQ(r.out, "OK\n");
    EXPECT_TRUE(std::filesystem::is_empty(box.home));
    EXPECT_TRUE(std::filesystem::is_empty(box.sys));
  }
}

TEST_F(DriverInstall, RegistersUnderThePrefixInTheRightConfiguration) {
  struct Case {
    const char *why;
    std::vector<std::string> args;
    bool system;         // system odbcinst.ini, else the user's
    std::string prefix;  // what the paths start with
  };
  const std::string home = box.home;
  const Case cases[] = {
      {"slash: system-wide", {"-postinstall", "/"}, true, ""},
      {"no second argument: system-wide", {"-postupgrade"}, true, ""},
      {"home folder: user only", {"-postupgrade", home}, false, home},
      {"trailing slash kept", {"-postinstall", home + "/"}, false, home + "/"},
      {"empty argument: user mode, system paths", {"-postinstall", ""}, false, ""},
      {"an option as second argument is the prefix", {"-preinstall", "-postinstall"}, false,
       "-postinstall"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.why);
    std::filesystem::remove(box.userDrivers());
    std::filesystem::remove(box.systemDrivers());
    blackbox::Run r = run(c.args);
    EXPECT_EQ(r.out, "OK\n");
    std::string written = c.system ? box.systemDrivers() : box.userDrivers();
    std::string untouched = c.system ? box.userDrivers() : box.systemDrivers();
    EXPECT_EQ(iniValue(written, kName, "Driver").value_or("?"), c.prefix + kDriverTail);
    EXPECT_EQ(iniValue(written, kName, "Setup").value_or("?"), c.prefix + kSetupTail);
    EXPECT_FALSE(iniHasSection(untouched, kName));
  }
}

TEST_F(DriverInstall, RepointsOnlyTheDriversListedDataSources) {
  writeDataSources(box.userDsn(), "u");
  writeDataSources(box.systemDsn(), "s");

  // A home prefix touches the user configuration only.
  EXPECT_EQ(run({"-postinstall", box.home}).out, "OK\n");
  expectRepointed(box.userDsn(), "u", box.home + kDriverTail);
  expectRepointed(box.systemDsn(), "s", std::nullopt);

  // A system-wide run repoints the system's and then the user's data sources.
  EXPECT_EQ(run({"-postupgrade", "/"}).out, "OK\n");
  expectRepointed(box.systemDsn(), "s", kDriverTail);
  expectRepointed(box.userDsn(), "u", kDriverTail);
}

// Another installer library has no batches of writes: each data source is
// written on its own, to the same end.
TEST_F(DriverInstall, RepointsThroughAnInstallerLibraryWithoutBatches) {
  const std::string peer = "/usr/lib/x86_64-linux-gnu/libodbcinst.so.2";
  if (!blackbox::exists(peer)) {
    GTEST_SKIP() << peer << " is missing (package libodbcinst2)";
  }
  writeDataSources(box.userDsn(), "u");
  writeDataSources(box.systemDsn(), "s");
  EXPECT_EQ(run({"-postinstall", "/"}, {{"HVL_PELMARINST", peer}}).out, "OK\n");
  expectRepointed(box.systemDsn(), "s", kDriverTail);
  expectRepointed(box.userDsn(), "u", kDriverTail);
}

TEST_F(DriverInstall, EmptyOrMissingListChangesNothingAndStillOpensPermissions) {
  struct Case {
    const char *why;
    std::optional<std::string> odbcIni;
  };
  const Case cases[] = {
      {"no odbc.ini", std::nullopt},
      {"no list section", "[orphan]\nDriver = /old/hvlodbc.so\n"},
      {"empty list section", "[ODBC Data Sources]\n\n[orphan]\nDriver = /old/hvlodbc.so\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.why);
    std::filesystem::remove(box.systemDsn());
    if (c.odbcIni) {
      blackbox::writeFile(box.systemDsn(), *c.odbcIni, 0600);
    }
    blackbox::writeFile(box.systemDrivers(), "", 0600);
    EXPECT_EQ(run({"-postinstall", "/"}).out, "OK\n");
    if (c.odbcIni) {
      EXPECT_EQ(blackbox::readFile(box.systemDsn()), *c.odbcIni);
      EXPECT_EQ(blackbox::permissions(box.systemDsn()), 0664u);
    }
    EXPECT_EQ(blackbox::permissions(box.systemDrivers()), 0664u);
  }
}

TEST_F(DriverInstall, FailuresPrintTheReasonAndChangeNothing) {
  const std::string longMessage(300, 'm');
  const std::string tooLong(5000, 'p');
  struct Case {
    const char *why;
    std::vector<std::string> args;
    std::vector<std::pair<std::string, std::string>> env;
    std::string out;
  };
  const Case cases[] = {
      {"driver manager absent",
       {"-postinstall", "/"},
       {{"HVL_PELMARINST", box.root + "/no-such-library.so"}},
       "Failed\n(No ODBC Driver Manager found)\n"},
      {"registration refused",
       {"-postinstall", "/"},
       {{"HVL_PELMARINST", HVL_REFUSING_INST}, {"HVL_REFUSAL_MESSAGE", "disk full"}},
       "Failed\n(disk full)\n"},
      {"refused without a message",
       {"-postinstall", "/"},
       {{"HVL_PELMARINST", HVL_REFUSING_INST}},
       "Failed\n()\n"},
      {"a long message is cut to 254 characters",
       {"-postinstall", "/"},
       {{"HVL_PELMARINST", HVL_REFUSING_INST}, {"HVL_REFUSAL_MESSAGE", longMessage}},
       "Failed\n(" + longMessage.substr(0, 254) + ")\n"},
      {"prefix too long for the registration", {"-postinstall", tooLong}, {},
       "Failed\n(Install location too long)\n"},
  };
  const std::string odbcIni = "[ODBC Data Sources]\nds = Halvern Generic ODBC\n\n[ds]\nDriver = /old\n";
  for (const Case &c : cases) {
    SCOPED_TRACE(c.why);
    for (const std::string &file : {box.userDsn(), box.systemDsn()}) {
      blackbox::writeFile(file, odbcIni, 0600);
    }
    blackbox::writeFile(box.systemDrivers(), "", 0600);
    EXPECT_EQ(run(c.args, c.env).out, c.out);
    EXPECT_EQ(blackbox::readFile(box.userDsn()), odbcIni);
    EXPECT_EQ(blackbox::readFile(box.systemDsn()), odbcIni);
    EXPECT_EQ(blackbox::readFile(box.systemDrivers()), "");
    EXPECT_EQ(blackbox::permissions(box.systemDsn()), 0600u);
    EXPECT_FALSE(blackbox::exists(box.userDrivers()));
  }
}

TEST_F(DriverInstall, TheLongestPrefixThatFitsIsRegisteredWhole) {
  // The registration list holds the name, both pairs and their terminators
  // in 4096 bytes.
  const std::size_t fixed = kName.size() + 1 + std::string("Driver=").size() +
                            kDriverTail.size() + 1 + std::string("Setup=").size() +
                            kSetupTail.size() + 1 + 1;
  const std::size_t fits = (4096 - fixed) / 2;
  const std::string prefix = box.home + "/" + std::string(fits - box.home.size() - 1, 'd');

  EXPECT_EQ(run({"-postinstall", prefix}).out, "OK\n");
  EXPECT_EQ(iniValue(box.userDrivers(), kName, "Setup").value_or("?"), prefix + kSetupTail);

  std::filesystem::remove(box.userDrivers());
  EXPECT_EQ(run({"-postinstall", prefix + "dd"}).out, "Failed\n(Install location too long)\n");
  EXPECT_FALSE(blackbox::exists(box.userDrivers()));
}

TEST_F(DriverInstall, RealInstallerRefusalIsReported) {
  // The user's driver file cannot be replaced while a folder stands in its way.
  std::filesystem::create_directory(box.userDrivers());
  blackbox::writeFile(box.userDsn(), "[ODBC Data Sources]\nds = Halvern Generic ODBC\n");
  blackbox::Run r = run({"-postinstall", box.home});
  EXPECT_EQ(r.out.rfind("Failed\n(", 0), 0u) << r.out;
  EXPECT_EQ(r.out.substr(r.out.size() - 2), ")\n");
  EXPECT_GT(r.out.size(), std::string("Failed\n()\n").size()) << "the library's message is shown";
  EXPECT_EQ(blackbox::readFile(box.userDsn()), "[ODBC Data Sources]\nds = Halvern Generic ODBC\n");
}

TEST_F(DriverInstall, InstalledPathsAreTheRegisteredOnesAndUnixOdbcReadsThem) {
  EXPECT_EQ(run({"-postinstall", kPrefix}).out, "OK\n");
  std::optional<std::string> setup = iniValue(box.userDrivers(), kName, "Setup");
  ASSERT_TRUE(setup);
  EXPECT_TRUE(std::filesystem::is_regular_file(*setup)) << *setup;

  std::filesystem::remove(box.userDrivers());
  EXPECT_EQ(run({"-postinstall", "/"}).out, "OK\n");
  blackbox::Run q = box.run("/usr/bin/odbcinst", {"-q", "-d", "-n", kName});
  ASSERT_EQ(q.status, 0) << q.err;
  blackbox::Ini seen = blackbox::parseIni(q.out);
  EXPECT_EQ(seen[kName]["Driver"], kDriverTail);
  EXPECT_EQ(seen[kName]["Setup"], kSetupTail);

  // The installed odbcadm finds the installed library on its own too.
  blackbox::Run drivers = box.run(kPrefix + "/bin/odbcadm", {"drivers", "--system"});
  EXPECT_EQ(drivers.status, 0) << drivers.err;
  EXPECT_EQ(drivers.out, kName + "\n");
}

}  // namespace
