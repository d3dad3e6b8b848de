// Helpers for black-box tests of the kit's programs: a temporary ODBC
// configuration (home, user and system files) and a way to run a program in
// it and collect what it prints. Shared by tests/install and tests/admin.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

extern char **environ;

namespace blackbox {

struct Run {
  int status = -1;  // exit status, or -1 when the program did not exit normally
  std::string out;
  std::string err;
};

inline std::string readFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void writeFile(const std::string &path, const std::string &text, mode_t mode = 0644) {
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out) {
      throw std::runtime_error("cannot write " + path);
    }
  }
  ::chmod(path.c_str(), mode);
}

inline bool exists(const std::string &path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

inline mode_t permissions(const std::string &path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

// A minimal reading of an ini file, enough to check what a program stored
// whatever the spacing around '='.
using Ini = std::map<std::string, std::map<std::string, std::string>>;

inline std::string trim(const std::string &s) {
  std::size_t b = s.find_first_not_of(" \t\r");
  std::size_t e = s.find_last_not_of(" \t\r");
  return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

inline Ini parseIni(const std::string &text) {
  Ini ini;
  std::istringstream in(text);
  std::string line;
  std::string section;
  while (std::getline(in, line)) {
    line = trim(line);
    if (line.empty() || line[0] == ';' || line[0] == '#') {
      continue;
    }
    if (line.front() == '[' && line.back() == ']') {
      section = line.substr(1, line.size() - 2);
      ini[section];
      continue;
    }
    std::size_t eq = line.find('=');
    if (eq != std::string::npos) {
      ini[section][trim(line.substr(0, eq))] = trim(line.substr(eq + 1));
    }
  }
  return ini;
}

inline std::optional<std::string> iniValue(const std::string &path, const std::string &section,
                                           const std::string &key) {
  Ini ini = parseIni(readFile(path));
  auto s = ini.find(section);
  if (s == ini.end()) {
    return std::nullopt;
  }
  auto k = s->second.find(key);
  if (k == s->second.end()) {
    return std::nullopt;
  }
  return k->second;
}

inline bool iniHasSection(const std::string &path, const std::string &section) {
  return parseIni(readFile(path)).count(section) != 0;
}

// A fresh folder holding the home folder and the system configuration folder
// of one test; removed with everything in it at the end.
class Sandbox {
 public:
  Sandbox() {
    const char *tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") +
                          "/hvl-blackbox-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (::mkdtemp(buffer.data()) == nullptr) {
      throw std::runtime_error("mkdtemp failed");
    }
    root = buffer.data();
    home = root + "/home";
    sys = root + "/etc";
    std::filesystem::create_directories(home);
    std::filesystem::create_directories(sys);
    std::filesystem::create_directories(root + "/config");
  }
  ~Sandbox() {
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
  }
  Sandbox(const Sandbox &) = delete;
  Sandbox &operator=(const Sandbox &) = delete;

  std::string userDsn() const { return home + "/.odbc.ini"; }
  std::string userDrivers() const { return home + "/.odbcinst.ini"; }
  std::string systemDsn() const { return sys + "/odbc.ini"; }
  std::string systemDrivers() const { return sys + "/odbcinst.ini"; }

  // The process environment with every variable that could lead a program to
  // a real configuration replaced by the sandbox's, plus `extra`.
  std::vector<std::string> environment(
      const std::vector<std::pair<std::string, std::string>> &extra = {}) const {
    static const char *const dropped[] = {
        "HOME",           "ODBCINI",         "ODBCSYSINI",        "XDG_CONFIG_HOME",
        "LD_LIBRARY_PATH", "HVL_PELMARINST", "HVL_REFUSAL_MESSAGE", "DISPLAY",
        "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
    std::vector<std::string> env;
    for (char **e = environ; *e != nullptr; ++e) {
      std::string entry = *e;
      std::string name = entry.substr(0, entry.find('='));
      bool drop = false;
      for (const char *d : dropped) {
        drop = drop || name == d;
      }
      for (const auto &[key, value] : extra) {
        drop = drop || name == key;
      }
      if (!drop) {
        env.push_back(entry);
      }
    }
    env.push_back("HOME=" + home);
    env.push_back("ODBCINI=" + userDsn());
    env.push_back("ODBCSYSINI=" + sys);
    env.push_back("XDG_CONFIG_HOME=" + root + "/config");
    for (const auto &[key, value] : extra) {
      env.push_back(key + "=" + value);
    }
    return env;
  }

  // Runs program with args in the sandbox's environment; the standard input
  // is empty.
  Run run(const std::string &program, const std::vector<std::string> &args,
          const std::vector<std::pair<std::string, std::string>> &extra = {}) const {
    std::vector<std::string> env = environment(extra);
    std::vector<char *> argv{const_cast<char *>(program.c_str())};
    for (const std::string &a : args) {
      argv.push_back(const_cast<char *>(a.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<char *> envp;
    for (std::string &e : env) {
      envp.push_back(e.data());
    }
    envp.push_back(nullptr);

    int out[2];
    int err[2];
    if (::pipe(out) != 0 || ::pipe(err) != 0) {
      throw std::runtime_error("pipe failed");
    }
    pid_t pid = ::fork();
    if (pid < 0) {
      throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
      int null = ::open("/dev/null", O_RDONLY);
      ::dup2(null, 0);
      ::dup2(out[1], 1);
      ::dup2(err[1], 2);
      ::close(out[0]);
      ::close(err[0]);
      ::execve(program.c_str(), argv.data(), envp.data());
      std::fprintf(stderr, "cannot run %s: %s\n", program.c_str(), std::strerror(errno));
      ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    Run result;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string *sinks[2] = {&result.out, &result.err};
    int open = 2;
    while (open > 0) {
      if (::poll(fds, 2, -1) < 0) {
        if (errno == EINTR) {
          continue;
        }
        break;
      }
      for (int i = 0; i < 2; ++i) {
        if (fds[i].fd >= 0 && (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
          char chunk[4096];
          ssize_t n = ::read(fds[i].fd, chunk, sizeof chunk);
          if (n > 0) {
            sinks[i]->append(chunk, static_cast<std::size_t>(n));
          } else {
            ::close(fds[i].fd);
            fds[i].fd = -1;
            --open;
          }
        }
      }
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
  }

  std::string root;
  std::string home;
  std::string sys;
};

}  // namespace blackbox
