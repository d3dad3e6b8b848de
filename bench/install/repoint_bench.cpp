// How long the installed driverinstall takes to register the driver and
// repoint N data sources, next to the same loop written against unixODBC's
// libodbcinst. Both sides run as a fresh process on a copy of the same user
// configuration, so each figure includes start-up and loading the library.
//
//   repoint_bench [ROUNDS]          prints the table (median of up to ROUNDS runs, default 5)
//   repoint_bench --peer-loop PREFIX   the unixODBC side of one run (internal)
//
// HVL_PELMARINST, when set, is handed on to driverinstall.
#include <dlfcn.h>
#include <strings.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "blackbox.h"

namespace {

constexpr char kDriverName[] = "Halvern Generic ODBC";
const std::string kTail = "/Library/ODBC/Halvern Generic ODBC Driver.bundle/Contents/MacOS/";

// The peer library's functions, by the standard installer signatures; the
// library is loaded RTLD_LOCAL so that none of its symbols meet ours.
using SetConfigMode = int (*)(unsigned short);
using InstallDriverEx = int (*)(const char *, const char *, char *, unsigned short,
                                unsigned short *, unsigned short, unsigned int *);
using GetProfileString = int (*)(const char *, const char *, const char *, char *, int,
                                 const char *);
using WriteProfileString = int (*)(const char *, const char *, const char *, const char *);

template <typename Fn>
Fn symbol(void *library, const char *name) {
  void *s = dlsym(library, name);
  if (s == nullptr) {
    std::fprintf(stderr, "repoint_bench: %s missing from libodbcinst\n", name);
    std::exit(1);
  }
  return reinterpret_cast<Fn>(s);
}

// The tool's work in user mode: register, then repoint every listed data
// source of the driver.
int peerLoop(const std::string &prefix) {
  void *library = dlopen("libodbcinst.so.2", RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    std::fprintf(stderr, "repoint_bench: %s\n", dlerror());
    return 1;
  }
  auto setMode = symbol<SetConfigMode>(library, "SQLSetConfigMode");
  auto install = symbol<InstallDriverEx>(library, "SQLInstallDriverEx");
  auto get = symbol<GetProfileString>(library, "SQLGetPrivateProfileString");
  auto write = symbol<WriteProfileString>(library, "SQLWritePrivateProfileString");

  std::string list = std::string(kDriverName) + '\0' + "Driver=" + prefix + kTail +
                     "hvlodbc.so" + '\0' + "Setup=" + prefix + kTail +
                     "Halvern Generic ODBC Driver" + '\0' + '\0';
  std::string driverPath = prefix + kTail + "hvlodbc.so";
  char pathOut[4096] = {};
  unsigned int usage = 1;
  setMode(1);
  if (!install(list.c_str(), nullptr, pathOut, sizeof pathOut, nullptr, 2, &usage)) {
    std::fprintf(stderr, "repoint_bench: unixODBC refused the registration\n");
    return 1;
  }
  std::vector<char> names(32000, '\0');
  setMode(1);
  get("ODBC Data Sources", nullptr, "", names.data(), static_cast<int>(names.size()), "odbc.ini");
  for (std::size_t offset = 0; offset < names.size() && names[offset] != '\0';) {
    const char *name = names.data() + offset;
    offset += std::strlen(name) + 1;
    char driver[4096] = {};
    setMode(1);
    get("ODBC Data Sources", name, "", driver, sizeof driver, "odbc.ini");
    if (strcasecmp(driver, kDriverName) == 0) {
      setMode(1);
      write(name, "Driver", driverPath.c_str(), "odbc.ini");
    }
  }
  return 0;
}

std::string configuration(int n) {
  std::string list = "[ODBC Data Sources]\n";
  std::string sections;
  char name[32];
  for (int i = 0; i < n; ++i) {
    std::snprintf(name, sizeof name, "ds%04d", i);
    list += std::string(name) + " = " + kDriverName + "\n";
    sections += "\n[" + std::string(name) + "]\nDriver = /old/hvlodbc.so\nServer = db" +
                std::to_string(i) + ".example.com\nPort = 5432\nDatabase = sales\n";
  }
  return list + sections;
}

// HVL_PELMARINST may point driverinstall at another build of the library.
std::vector<std::pair<std::string, std::string>> passedOn() {
  const char *library = std::getenv("HVL_PELMARINST");
  if (library == nullptr || *library == '\0') {
    return {};
  }
  return {{"HVL_PELMARINST", library}};
}

double medianMs(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Runs one side ROUNDS times on a fresh copy of the configuration and checks
// that every data source was repointed.
double measure(const blackbox::Sandbox &box, const std::string &text, int n,
               const std::string &program, const std::vector<std::string> &args, int rounds,
               const char *label) {
  std::vector<double> times;
  double spent = 0;
  // A side that takes long is measured fewer times, so that a run ends in
  // minutes: at least once, and no more rounds after 60 s.
  for (int r = 0; r < rounds && spent < 60000; ++r) {
    blackbox::writeFile(box.userDsn(), text);
    std::filesystem::remove(box.userDrivers());
    auto start = std::chrono::steady_clock::now();
    blackbox::Run run = box.run(program, args, passedOn());
    auto stop = std::chrono::steady_clock::now();
    if (run.status != 0 || (label[0] == 'd' && run.out != "OK\n")) {
      std::fprintf(stderr, "repoint_bench: %s failed: %s%s\n", label, run.out.c_str(),
                   run.err.c_str());
      std::exit(1);
    }
    times.push_back(std::chrono::duration<double, std::milli>(stop - start).count());
    spent += times.back();
  }
  std::string result = blackbox::readFile(box.userDsn());
  std::string expected = box.home + kTail + "hvlodbc.so";
  int repointed = 0;
  for (std::size_t at = result.find(expected); at != std::string::npos;
       at = result.find(expected, at + 1)) {
    ++repointed;
  }
  if (repointed != n) {
    std::fprintf(stderr, "repoint_bench: %s repointed %d of %d data sources\n", label, repointed,
                 n);
    std::exit(1);
  }
  return medianMs(times);
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 3 && std::strcmp(argv[1], "--peer-loop") == 0) {
    return peerLoop(argv[2]);
  }
  int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
  if (rounds < 1) {
    std::fprintf(stderr, "usage: repoint_bench [ROUNDS]\n");
    return 2;
  }
  const std::string self = std::filesystem::canonical("/proc/self/exe");
  std::printf("driverinstall -postinstall HOME on N data sources, median of up to %d runs (ms)\n\n",
              rounds);
  std::printf("%8s  %22s  %24s  %8s\n", "N", "driverinstall (ours)", "same loop (libodbcinst)",
              "ratio");
  for (int n : {100, 1000, 2000}) {
    blackbox::Sandbox box;
    std::string text = configuration(n);
    double ours = measure(box, text, n, HVL_DRIVERINSTALL, {"-postinstall", box.home}, rounds,
                          "driverinstall");
    double peer = measure(box, text, n, self, {"--peer-loop", box.home}, rounds, "peer");
    std::printf("%8d  %22.2f  %24.2f  %7.1fx\n", n, ours, peer, peer / ours);
    std::fflush(stdout);
  }
  return 0;
}
