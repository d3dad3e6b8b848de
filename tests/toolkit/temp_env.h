// A fresh temporary home for one test: HOME, XDG_CONFIG_HOME, ODBCINI and
// ODBCSYSINI point into it, and it is removed afterwards.
#ifndef HVL_TESTS_TEMP_ENV_H
#define HVL_TESTS_TEMP_ENV_H

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace hvl::test {

class TempEnv {
public:
  TempEnv() {
    char pattern[] = "/tmp/hvl-toolkit-XXXXXX";
    dir_ = mkdtemp(pattern);
    setenv("HOME", dir_.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (dir_ + "/config").c_str(), 1);
    setenv("ODBCINI", (dir_ + "/odbc.ini").c_str(), 1);
    setenv("ODBCSYSINI", dir_.c_str(), 1);
  }
  ~TempEnv() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  const std::string &dir() const { return dir_; }
  std::string prefs() const { return dir_ + "/config/com.halvernsw.vantor.json"; }

  static std::string Read(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  static void Write(const std::string &path, const std::string &text) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
  }

private:
  std::string dir_;
};

} // namespace hvl::test

#endif
