// A fresh folder per test for every configuration file, and small helpers.
#ifndef TESTS_INST_ENV_H
#define TESTS_INST_ENV_H

#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "pelmarinst.h"

// Runs body in a child process; Wait gives its exit status.
template <typename Body> pid_t Spawn(Body body) {
  pid_t pid = fork();
  if (pid == 0) {
    int rc = body();
    _exit(rc);
  }
  return pid;
}

inline int Wait(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

class InstEnv : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/insttest.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    root_ = tmpl;
    std::filesystem::create_directories(root_ + "/home");
    std::filesystem::create_directories(root_ + "/etc");
    setenv("HOME", (root_ + "/home").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (root_ + "/home/.config").c_str(), 1);
    setenv("ODBCSYSINI", (root_ + "/etc").c_str(), 1);
    unsetenv("ODBCINI");
    SQLSetConfigMode(ODBC_BOTH_DSN);
  }
  void TearDown() override {
    SQLSetConfigMode(ODBC_BOTH_DSN);
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }

  std::string UserDsn() const { return root_ + "/home/.odbc.ini"; }
  std::string SystemDsn() const { return root_ + "/etc/odbc.ini"; }
  std::string UserDrivers() const { return root_ + "/home/.odbcinst.ini"; }
  std::string SystemDrivers() const { return root_ + "/etc/odbcinst.ini"; }

  static std::string Slurp(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  static void Put(const std::string &path, const std::string &text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
  }
  static bool Exists(const std::string &path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
  }
  static mode_t ModeOf(const std::string &path) {
    struct stat st{};
    ::stat(path.c_str(), &st);
    return st.st_mode & 07777;
  }
  static DWORD FirstError(std::string *message = nullptr) {
    DWORD code = 0;
    char text[512] = "";
    WORD len = 0;
    if (SQLInstallerError(1, &code, text, sizeof text, &len) == SQL_NO_DATA)
      return 0;
    if (message != nullptr)
      *message = text;
    return code;
  }
  static std::string Value(const char *dsn, const char *key) {
    char buf[1024] = "";
    int len = 0;
    if (!SQLGetKeywordValue(dsn, key, buf, sizeof buf, &len))
      return "<none>";
    return buf;
  }
  static std::string Profile(const char *section, const char *key, const char *file) {
    char buf[4096];
    SQLGetPrivateProfileString(section, key, "<none>", buf, sizeof buf, file);
    return buf;
  }
  // A NUL-separated list as one string with '|' between the names.
  static std::string List(const char *buf) {
    std::string out;
    for (const char *p = buf; *p != 0; p += std::string(p).size() + 1)
      out += (out.empty() ? "" : "|") + std::string(p);
    return out;
  }

  std::string root_;
};

#endif
