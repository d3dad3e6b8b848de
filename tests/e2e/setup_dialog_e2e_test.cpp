// The kit end to end: libpelmarinst on a temporary configuration, the driver
// registered with its "Setup" path at the setup library in the build tree,
// SQLConfigDataSource with a window, and the setup dialog of the Qt front end
// (offscreen) driven as a person would, from timers that fire while the
// dialog waits for events.
#include <dlfcn.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include "pelmarinst.h"

namespace fs = std::filesystem;

namespace {

const HWND kWindow = reinterpret_cast<HWND>(1);
const char kDriver[] = "Halvern Generic ODBC";

std::string read_file(const fs::path &p) {
  std::ifstream in(p);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The keys of one section of an ini file, as written.
std::map<std::string, std::string> section(const fs::path &file, const std::string &name) {
  std::map<std::string, std::string> keys;
  std::istringstream in(read_file(file));
  std::string line;
  bool inside = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line[0] == '[') {
      inside = line == "[" + name + "]";
      continue;
    }
    auto eq = line.find('=');
    if (!inside || eq == std::string::npos || line[0] == ';' || line[0] == '#')
      continue;
    auto trim = [](std::string s) {
      s.erase(0, s.find_first_not_of(" \t"));
      s.erase(s.find_last_not_of(" \t") + 1);
      return s;
    };
    keys[trim(line.substr(0, eq))] = trim(line.substr(eq + 1));
  }
  return keys;
}

std::string run(const std::string &command) {
  std::string out;
  FILE *p = popen(command.c_str(), "r");
  if (p == nullptr)
    return out;
  char buf[512];
  while (std::fgets(buf, sizeof buf, p) != nullptr)
    out += buf;
  pclose(p);
  return out;
}

QDialog *setup_window() {
  for (QWidget *w : QApplication::topLevelWidgets())
    if (w->objectName() == "Dialog" && w->isVisible())
      return qobject_cast<QDialog *>(w);
  return nullptr;
}

// Any other visible top-level window: the About alert.
QWidget *alert_window() {
  for (QWidget *w : QApplication::topLevelWidgets())
    if (w->isVisible() && w->isWindow() && w->objectName() != "Dialog")
      return w;
  return nullptr;
}

template <class T> T *control(QDialog *d, const char *name) {
  T *c = d != nullptr ? d->findChild<T *>(name) : nullptr;
  EXPECT_NE(c, nullptr) << name;
  return c;
}

// Runs `steps` one after the other while the dialog waits, each once the
// window it needs is there (polled every 20 ms, for 10 s at most).
class Script : public QObject {
public:
  using Step = std::function<bool()>; // true when done, false to try again
  explicit Script(std::vector<Step> steps) : steps_(std::move(steps)) {
    timer_.setInterval(20);
    QObject::connect(&timer_, &QTimer::timeout, [this] { tick(); });
    timer_.start();
  }
  bool finished() const { return next_ == steps_.size(); }

private:
  void tick() {
    if (++ticks_ > 500) {
      ADD_FAILURE() << "script stuck at step " << next_;
      if (QDialog *d = setup_window())
        d->reject();
      timer_.stop();
      return;
    }
    if (next_ < steps_.size() && steps_[next_]())
      ++next_;
    if (finished())
      timer_.stop();
  }
  std::vector<Step> steps_;
  std::size_t next_ = 0;
  int ticks_ = 0;
  QTimer timer_;
};

class SetupDialogEndToEnd : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "e2e";
    static char *argv[] = {name, nullptr};
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    app_ = new QApplication(argc, argv);
  }

  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("hvl-e2e-" + std::to_string(getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "home");
    fs::create_directories(dir_ / "etc");
    setenv("HOME", (dir_ / "home").c_str(), 1);
    setenv("ODBCINI", (dir_ / "home/.odbc.ini").c_str(), 1);
    setenv("ODBCSYSINI", (dir_ / "etc").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (dir_ / "home/.config").c_str(), 1);
    // The driver, registered for this user as driverinstall would.
    SQLSetConfigMode(ODBC_USER_DSN);
    std::string reg = std::string(kDriver) + '\0' + "Driver=/nonexistent/hvlodbc.so" + '\0' +
                      "Setup=" + HVL_SETUP_PATH + '\0' + '\0';
    char out[4096];
    DWORD usage = 0;
    ASSERT_TRUE(SQLInstallDriverEx(reg.data(), nullptr, out, sizeof out, nullptr,
                                   ODBC_INSTALL_COMPLETE, &usage));
    SQLSetConfigMode(ODBC_BOTH_DSN);
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path odbc_ini() const { return dir_ / "home/.odbc.ini"; }

  static QApplication *app_;
  fs::path dir_;
};
QApplication *SetupDialogEndToEnd::app_ = nullptr;

TEST_F(SetupDialogEndToEnd, AddThroughTheDialog) {
  Script script({
      [] {
        QDialog *d = setup_window();
        if (d == nullptr)
          return false;
        // The listed name is not used for a new data source.
        EXPECT_EQ(control<QLineEdit>(d, "CNTL_131")->text(), "");
        EXPECT_EQ(control<QLineEdit>(d, "CNTL_135")->text(), "localhost");
        QTest::keyClicks(control<QLineEdit>(d, "CNTL_131"), "e2e_sales");
        QTest::keyClicks(control<QLineEdit>(d, "CNTL_132"), "Sales figures");
        QLineEdit *host = control<QLineEdit>(d, "CNTL_135");
        host->clear();
        QTest::keyClicks(host, "db.example.com");
        QComboBox *type = control<QComboBox>(d, "CNTL_133");
        int pg = type->findText("PostgreSQL");
        EXPECT_GE(pg, 0);
        type->setCurrentIndex(pg);
        QTest::mouseClick(control<QCheckBox>(d, "CNTL_143"), Qt::LeftButton);
        QTest::mouseClick(control<QPushButton>(d, "CNTL_128"), Qt::LeftButton);
        return true;
      },
  });
  EXPECT_TRUE(SQLConfigDataSource(kWindow, ODBC_ADD_DSN, kDriver, "DSN=listed\0PORT=6543\0"));
  EXPECT_TRUE(script.finished());

  auto sources = section(odbc_ini(), "ODBC Data Sources");
  EXPECT_EQ(sources["e2e_sales"], kDriver);
  EXPECT_EQ(sources.count("listed"), 0u);
  auto keys = section(odbc_ini(), "e2e_sales");
  EXPECT_EQ(keys["Description"], "Sales figures");
  EXPECT_EQ(keys["ServerType"], "PostgreSQL");
  EXPECT_EQ(keys["Host"], "db.example.com");
  EXPECT_EQ(keys["Port"], "6543");
  EXPECT_EQ(keys["ReadOnly"], "Yes");
  EXPECT_EQ(keys["DeferLongFetch"], "Yes");
  EXPECT_EQ(keys["NoLoginBox"], "No");
  EXPECT_EQ(keys["FetchBufferSize"], "30");
  EXPECT_EQ(keys.count("Password"), 0u);

  // An independent reader sees the same data source.
  std::string peer = run("odbcinst -q -s -n e2e_sales 2>&1");
  EXPECT_NE(peer.find("Host=db.example.com"), std::string::npos) << peer;
  EXPECT_NE(peer.find("ServerType=PostgreSQL"), std::string::npos) << peer;
}

TEST_F(SetupDialogEndToEnd, EmptyNameStaysOpenThenCancel) {
  Script script({
      [] {
        QDialog *d = setup_window();
        if (d == nullptr)
          return false;
        QTest::keyClicks(control<QLineEdit>(d, "CNTL_132"), "no name");
        QTest::mouseClick(control<QPushButton>(d, "CNTL_128"), Qt::LeftButton);
        return true;
      },
      [] {
        QDialog *d = setup_window();
        EXPECT_NE(d, nullptr) << "OK with an empty name closed the dialog";
        if (d != nullptr)
          QTest::mouseClick(control<QPushButton>(d, "CNTL_129"), Qt::LeftButton);
        return true;
      },
  });
  EXPECT_TRUE(SQLConfigDataSource(kWindow, ODBC_ADD_DSN, kDriver, "\0"));
  EXPECT_TRUE(script.finished());
  EXPECT_TRUE(section(odbc_ini(), "ODBC Data Sources").empty());
}

TEST_F(SetupDialogEndToEnd, ConfigureRenamesAndAboutOpensAndCloses) {
  SQLSetConfigMode(ODBC_USER_DSN);
  ASSERT_TRUE(SQLWriteDSNToIni("old", kDriver));
  ASSERT_TRUE(SQLSetKeywordValue("old", "Host", "h1", -1));
  ASSERT_TRUE(SQLSetKeywordValue("old", "Password", "secret", -1));
  ASSERT_TRUE(SQLSetKeywordValue("old", "ServerType", "oracle 8.1.X", -1));
  SQLSetConfigMode(ODBC_BOTH_DSN);

  int alerts = 0;
  Script script({
      [] {
        QDialog *d = setup_window();
        if (d == nullptr)
          return false;
        EXPECT_EQ(control<QLineEdit>(d, "CNTL_131")->text(), "old");
        EXPECT_EQ(control<QComboBox>(d, "CNTL_133")->currentText(), "Oracle 8.1.x");
        QTest::mouseClick(control<QPushButton>(d, "CNTL_130"), Qt::LeftButton);
        return true;
      },
      [&alerts] {
        QWidget *a = alert_window();
        if (a == nullptr)
          return false;
        ++alerts;
        if (auto *dlg = qobject_cast<QDialog *>(a))
          dlg->accept();
        else
          a->close();
        return true;
      },
      [] {
        QDialog *d = setup_window();
        if (d == nullptr || alert_window() != nullptr)
          return false;
        QLineEdit *name = control<QLineEdit>(d, "CNTL_131");
        name->clear();
        QTest::keyClicks(name, "renamed");
        QTest::mouseClick(control<QPushButton>(d, "CNTL_128"), Qt::LeftButton);
        return true;
      },
  });
  EXPECT_TRUE(SQLConfigDataSource(kWindow, ODBC_CONFIG_DSN, kDriver, "DSN=old\0"));
  EXPECT_TRUE(script.finished());
  EXPECT_EQ(alerts, 1);

  auto sources = section(odbc_ini(), "ODBC Data Sources");
  EXPECT_EQ(sources.count("old"), 0u);
  EXPECT_EQ(sources["renamed"], kDriver);
  auto keys = section(odbc_ini(), "renamed");
  EXPECT_EQ(keys["Host"], "h1");
  EXPECT_EQ(keys["Password"], "secret"); // passed through, never shown
  EXPECT_EQ(keys["ServerType"], "Oracle 8.1.x");
  EXPECT_TRUE(section(odbc_ini(), "old").empty());
}

} // namespace
