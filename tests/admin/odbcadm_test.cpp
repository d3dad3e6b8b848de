// odbcadm run as a user runs it: a temporary configuration with two drivers
// whose setup library is a fake that records every call.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "blackbox.h"

namespace {

using Env = std::vector<std::pair<std::string, std::string>>;

class Odbcadm : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string setup = HVL_FAKE_SETUP;
    blackbox::writeFile(box.systemDrivers(), "[ODBC Drivers]\nFake Driver = Installed\n\n"
                                             "[Fake Driver]\nDriver = /nowhere/fake.so\nSetup = " +
                                                 setup + "\n");
    blackbox::writeFile(box.userDrivers(), "[User Driver]\nSetup = " + setup + "\n");
    // "both" is a name in both configurations, under different drivers.
    blackbox::writeFile(box.userDsn(), "[ODBC Data Sources]\nsales = Fake Driver\n"
                                       "both = User Driver\n\n[sales]\nServer = db1\n");
    blackbox::writeFile(box.systemDsn(), "[ODBC Data Sources]\nshared = Fake Driver\n"
                                         "both = Fake Driver\n");
  }

  blackbox::Run run(const std::vector<std::string> &args, bool display = true) {
    Env env{{"HVL_FAKE_SETUP_LOG", log()}};
    if (display) {
      env.emplace_back("QT_QPA_PLATFORM", "offscreen");
    }
    return box.run(HVL_ODBCADM, args, env);
  }

  std::string log() const { return box.root + "/setup.log"; }
  std::string calls() const { return blackbox::readFile(log()); }

  blackbox::Sandbox box;
};

TEST_F(Odbcadm, ListsDataSourcesAndDrivers) {
  struct Case {
    std::vector<std::string> args;
    std::string out;
  };
  const Case cases[] = {
      {{"list"},
       "user\tsales\tFake Driver\nuser\tboth\tUser Driver\n"
       "system\tshared\tFake Driver\nsystem\tboth\tFake Driver\n"},
      {{"list", "--user"}, "user\tsales\tFake Driver\nuser\tboth\tUser Driver\n"},
      {{"list", "--system"}, "system\tshared\tFake Driver\nsystem\tboth\tFake Driver\n"},
      {{"drivers", "--system"}, "Fake Driver\n"},
      {{"drivers", "--user"}, "User Driver\n"},
      {{"drivers"}, "User Driver\nFake Driver\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.args[0] + (c.args.size() > 1 ? " " + c.args[1] : ""));
    blackbox::Run r = run(c.args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, "");
  }
}

TEST_F(Odbcadm, ListsEveryDataSourceOfALongList) {
  // More names than the first buffer holds: none may be left out.
  constexpr int kSources = 1200;
  std::string text = "[ODBC Data Sources]\n";
  for (int i = 0; i < kSources; ++i) {
    text += "source_" + std::string(24, 'x') + std::to_string(10000 + i) + " = Fake Driver\n";
  }
  blackbox::writeFile(box.userDsn(), text);
  blackbox::Run r = run({"list", "--user"});
  EXPECT_EQ(r.status, 0) << r.err;
  std::size_t lines = 0;
  for (char ch : r.out) {
    lines += ch == '\n';
  }
  EXPECT_EQ(lines, std::size_t{kSources});
  EXPECT_NE(r.out.find("source_" + std::string(24, 'x') + std::to_string(10000 + kSources - 1)),
            std::string::npos);
}

TEST_F(Odbcadm, HandsRequestsToTheDriversSetupLibrary) {
  struct Case {
    const char *why;
    std::vector<std::string> args;
    std::string call;
  };
  const Case cases[] = {
      {"add, with a window by default",
       {"add", "Fake Driver", "Server=db1", "Port=5432"},
       "ConfigDSN window=yes request=1 mode=1 driver=Fake Driver attrs=Server=db1|Port=5432"},
      {"add without a window", {"add", "--no-window", "Fake Driver"},
       "ConfigDSN window=no request=1 mode=1 driver=Fake Driver attrs="},
      {"add to the system", {"add", "Fake Driver", "--system", "Description=a = b"},
       "ConfigDSN window=yes request=1 mode=2 driver=Fake Driver attrs=Description=a = b"},
      {"configure: name first, driver from the listing",
       {"configure", "sales", "Server=db2"},
       "ConfigDSN window=yes request=2 mode=1 driver=Fake Driver attrs=DSN=sales|Server=db2"},
      {"configure finds a system data source", {"configure", "shared", "--no-window"},
       "ConfigDSN window=no request=2 mode=2 driver=Fake Driver attrs=DSN=shared"},
      {"the user's data source comes first", {"configure", "both"},
       "ConfigDSN window=yes request=2 mode=1 driver=User Driver attrs=DSN=both"},
      {"--system picks the system's", {"configure", "both", "--system"},
       "ConfigDSN window=yes request=2 mode=2 driver=Fake Driver attrs=DSN=both"},
      {"an unlisted data source with --driver", {"configure", "ghost", "--driver", "Fake Driver"},
       "ConfigDSN window=yes request=2 mode=1 driver=Fake Driver attrs=DSN=ghost"},
      {"remove", {"remove", "sales"},
       "ConfigDSN window=yes request=3 mode=1 driver=Fake Driver attrs=DSN=sales"},
      {"remove from the system", {"remove", "--system", "both"},
       "ConfigDSN window=yes request=3 mode=2 driver=Fake Driver attrs=DSN=both"},
      {"an argument after -- is a word", {"add", "Fake Driver", "--", "--odd=1"},
       "ConfigDSN window=yes request=1 mode=1 driver=Fake Driver attrs=--odd=1"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.why);
    std::filesystem::remove(log());
    blackbox::Run r = run(c.args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(calls(), c.call + "\n");
  }
}

TEST_F(Odbcadm, FailuresPrintEveryInstallerErrorAndExitNonZero) {
  struct Case {
    const char *why;
    std::vector<std::string> args;
    bool display;
    std::string errPart;  // a line that stderr must hold
    int lines;            // how many lines stderr has
    bool called;          // whether the setup library was called
  };
  const Case cases[] = {
      {"the setup library posts two errors", {"add", "Fake Driver", "FAIL=first,second"}, true,
       "odbcadm: first\nodbcadm: second\n", 2, true},
      {"the queue keeps eight", {"add", "Fake Driver", "FAIL=1,2,3,4,5,6,7,8,9,10"}, true,
       "odbcadm: 1\n", 8, true},
      {"refused without a message", {"add", "Fake Driver", "FAIL="}, true, "odbcadm: ", 1, true},
      {"a driver that is not installed", {"add", "No Such Driver"}, true, "odbcadm: ", 1, false},
      {"no display for the dialog", {"add", "Fake Driver"}, false, "no display", 1, false},
      {"an unknown data source", {"remove", "ghost"}, true,
       "odbcadm: no data source named 'ghost'", 1, false},
      {"an unknown data source in the system", {"configure", "sales", "--system"}, true,
       "in the system configuration", 1, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.why);
    std::filesystem::remove(log());
    blackbox::Run r = run(c.args, c.display);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(c.errPart), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), c.lines) << r.err;
    for (std::size_t at = 0; at < r.err.size(); at = r.err.find('\n', at) + 1) {
      EXPECT_EQ(r.err.compare(at, 9, "odbcadm: "), 0) << r.err;
    }
    EXPECT_EQ(blackbox::exists(log()), c.called);
  }
}

TEST_F(Odbcadm, CommandLineMistakesAreUsageErrors) {
  const std::vector<std::string> cases[] = {
      {"frobnicate"},
      {"add"},
      {"add", "Fake Driver", "no-equals-sign"},
      {"add", "Fake Driver", "=value"},
      {"add", "Fake Driver", "--driver", "x"},
      {"list", "--user", "--system"},
      {"list", "--no-window"},
      {"list", "extra"},
      {"configure", "sales", "DSN=other"},
      {"configure", "sales", "--driver"},
      {"remove", "sales", "Server=x"},
      {"help", "frobnicate"},
  };
  for (const auto &args : cases) {
    SCOPED_TRACE(args[0] + " " + (args.size() > 1 ? args.back() : ""));
    blackbox::Run r = run(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err.rfind("odbcadm: ", 0), 0u) << r.err;
    EXPECT_FALSE(blackbox::exists(log()));
  }
  EXPECT_EQ(run({}).status, 2) << "no command at all";
}

TEST_F(Odbcadm, HelpNamesEveryCommand) {
  blackbox::Run r = run({"--help"});
  EXPECT_EQ(r.status, 0);
  for (const char *command : {"list", "drivers", "add", "configure", "remove", "help"}) {
    EXPECT_NE(r.out.find(std::string("  ") + command + " "), std::string::npos) << command;
  }
  for (const std::vector<std::string> &args :
       {std::vector<std::string>{"help", "add"}, std::vector<std::string>{"add", "--help"}}) {
    blackbox::Run h = run(args);
    EXPECT_EQ(h.status, 0);
    EXPECT_EQ(h.out.rfind("Usage: odbcadm add DRIVER", 0), 0u) << h.out;
    EXPECT_NE(h.out.find("--no-window"), std::string::npos);
  }
}

}  // namespace
