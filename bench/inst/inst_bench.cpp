// Side-by-side timings of libpelmarinst and unixODBC's libodbcinst on the same
// generated odbc.ini files. Every measurement runs in a child process of its
// own that loads one of the two libraries, so that their symbols and caches
// never meet and "fresh process" means what it says.
//
//   inst_bench            the full table (a few minutes; the peer is slow)
//   inst_bench --quick    small sizes only
//   inst_bench --no-peer  our library only, up to the largest sizes
//   inst_bench --only OP  one kind of work: read14, reread, write, repoint or
//                         batch (the repoint in one batch of writes, as
//                         driverinstall does it; the peer has no batches and
//                         writes each data source on its own)
//
// The ratio is the peer's time over ours. Note that the peer's repeated reads
// come from a cache it does not check against the file (it serves stale values
// for a while after another process changed it); ours check the file's
// identity and times on every call.
#include <dlfcn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "pelmarinst.h"

namespace {

using Clock = std::chrono::steady_clock;

const char *kPeer = "libodbcinst.so.2";
const char *kDriverName = "Halvern Generic ODBC";
const char *kKeys[14] = {"Driver",   "Description", "ServerType",     "FetchBufferSize",
                         "Host",     "Port",        "Database",       "Protocol",
                         "Options",  "ReadOnly",    "UID",            "NoLoginBox",
                         "DeferLongFetch", "ServerOptions"};

struct Lib {
  BOOL (*setMode)(UWORD) = nullptr;
  int (*get)(LPCSTR, LPCSTR, LPCSTR, LPSTR, int, LPCSTR) = nullptr;
  BOOL (*put)(LPCSTR, LPCSTR, LPCSTR, LPCSTR) = nullptr;
  BOOL (*begin)() = nullptr;   // ours only
  BOOL (*commit)() = nullptr;  // ours only
};

template <typename Fn> void Bind(void *h, const char *name, Fn *fn) {
  void *sym = dlsym(h, name);
  std::memcpy(fn, &sym, sizeof *fn);
}

bool Open(const char *path, Lib *lib) {
  void *h = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (h == nullptr) {
    std::fprintf(stderr, "inst_bench: %s\n", dlerror());
    return false;
  }
  Bind(h, "SQLSetConfigMode", &lib->setMode);
  Bind(h, "SQLGetPrivateProfileString", &lib->get);
  Bind(h, "SQLWritePrivateProfileString", &lib->put);
  Bind(h, "pelmarinst_begin_writes", &lib->begin);
  Bind(h, "pelmarinst_commit_writes", &lib->commit);
  return lib->setMode && lib->get && lib->put;
}

double Micros(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double, std::micro>(b - a).count();
}

void Generate(const std::string &path, int n) {
  std::ofstream out(path, std::ios::trunc);
  out << "[ODBC Data Sources]\n";
  for (int i = 0; i < n; ++i)
    out << "dsn" << i << "=" << kDriverName << "\n";
  for (int i = 0; i < n; ++i) {
    out << "\n[dsn" << i << "]\n"
        << "Driver=/old/Library/ODBC/hvlodbc.so\n"
        << "Description=Data source number " << i << "\n"
        << "ServerType=PostgreSQL\nFetchBufferSize=100\n"
        << "Host=db" << i << ".example.com\nPort=5432\n"
        << "Database=sales" << i << "\nProtocol=7.4\nOptions=\nReadOnly=No\n"
        << "UID=user" << i << "\nNoLoginBox=No\nDeferLongFetch=No\nServerOptions=\n";
  }
}

// ---- the work, run in a child --------------------------------------------

// Prints one number: microseconds (or microseconds per operation).
int Child(int argc, char **argv) {
  if (argc < 5)
    return 2;
  std::string which = argv[2], op = argv[3];
  int n = std::atoi(argv[4]);
  Lib lib;
  if (!Open(which == "ours" ? PELMARINST_PATH : kPeer, &lib))
    return 1;
  lib.setMode(ODBC_USER_DSN);
  static char buf[1 << 20];
  std::string mid = "dsn" + std::to_string(n / 2);
  double result = 0;
  if (op == "read14") {
    auto t0 = Clock::now();
    for (const char *key : kKeys)
      if (lib.get(mid.c_str(), key, "", buf, 4096, "odbc.ini") < 0)
        return 1;
    result = Micros(t0, Clock::now());
  } else if (op == "reread") {
    lib.get(mid.c_str(), "Host", "", buf, 4096, "odbc.ini");
    int count = 0;
    auto t0 = Clock::now();
    // Up to 100000 reads or two seconds, whichever comes first.
    while (count < 100000 && (count % 64 != 0 || Micros(t0, Clock::now()) < 2e6)) {
      lib.get(mid.c_str(), "Host", "", buf, 4096, "odbc.ini");
      ++count;
    }
    result = Micros(t0, Clock::now()) / count;
  } else if (op == "write") {
    lib.get(mid.c_str(), "Host", "", buf, 4096, "odbc.ini");
    int count = 0;
    auto t0 = Clock::now();
    while (count < 200 && (count < 3 || Micros(t0, Clock::now()) < 3e6)) {
      std::string v = "host" + std::to_string(count) + ".example.com";
      if (!lib.put(mid.c_str(), "Host", v.c_str(), "odbc.ini"))
        return 1;
      ++count;
    }
    result = Micros(t0, Clock::now()) / count;
  } else if (op == "repoint" || op == "batch") {
    // What the installation tool does: list the data sources, read each
    // one's driver name, and point those of our driver at the new library.
    bool batch = op == "batch" && lib.begin != nullptr;
    auto t0 = Clock::now();
    if (batch && !lib.begin())
      return 1;
    int len = lib.get("ODBC Data Sources", nullptr, "", buf, sizeof buf, "odbc.ini");
    std::vector<std::string> names;
    for (const char *p = buf; p < buf + len && *p != 0; p += std::strlen(p) + 1)
      names.emplace_back(p);
    int changed = 0;
    for (const std::string &name : names) {
      char driver[4096];
      lib.get("ODBC Data Sources", name.c_str(), "", driver, sizeof driver, "odbc.ini");
      if (strcasecmp(driver, kDriverName) == 0) {
        lib.put(name.c_str(), "Driver", "/new/Library/ODBC/hvlodbc.so", "odbc.ini");
        ++changed;
      }
    }
    if (batch && !lib.commit())
      return 1;
    result = Micros(t0, Clock::now());
    if (changed != n) {
      std::fprintf(stderr, "inst_bench: repointed %d of %d\n", changed, n);
      return 1;
    }
  } else {
    return 2;
  }
  std::printf("%.3f\n", result);
  return 0;
}

// ---- the parent -------------------------------------------------------------

std::string g_dir;

// Runs one measurement in a fresh process; negative on failure.
double Measure(const char *which, const char *op, int n) {
  std::string file = g_dir + "/odbc.ini";
  Generate(file, n);
  // A file modified within the last few clock ticks is checked against its
  // bytes on every read (its times cannot yet tell a further change); let
  // that window pass, as it has for any configuration file not being edited.
  usleep(100000);
  int fds[2];
  if (pipe(fds) != 0)
    return -1;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 1);
    close(fds[0]);
    std::string ns = std::to_string(n);
    execl("/proc/self/exe", "inst_bench", "--child", which, op, ns.c_str(),
          static_cast<char *>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  char out[64] = "";
  ssize_t got = read(fds[0], out, sizeof out - 1);
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (got <= 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return -1;
  return std::atof(out);
}

double Median(const char *which, const char *op, int n, int runs) {
  std::vector<double> v;
  for (int i = 0; i < runs; ++i) {
    double x = Measure(which, op, n);
    if (x < 0)
      return -1;
    v.push_back(x);
  }
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

std::string Show(double us) {
  char buf[32];
  if (us < 0)
    return "-";
  if (us < 1000)
    std::snprintf(buf, sizeof buf, "%.2f us", us);
  else if (us < 1e6)
    std::snprintf(buf, sizeof buf, "%.2f ms", us / 1000);
  else
    std::snprintf(buf, sizeof buf, "%.2f s", us / 1e6);
  return buf;
}

// perSource: also show our time divided by n, which stays flat when the work
// is linear in n.
void Row(const char *what, int n, double ours, double peer, bool perSource) {
  char ratio[32] = "";
  if (ours > 0 && peer > 0)
    std::snprintf(ratio, sizeof ratio, peer / ours < 10 ? "%.2fx" : "%.0fx", peer / ours);
  std::string each = perSource && ours > 0 ? Show(ours / n) : "";
  std::printf("%-34s %6d  %12s  %12s  %8s  %10s\n", what, n, Show(ours).c_str(),
              Show(peer).c_str(), ratio, each.c_str());
  std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv) {
  if (argc > 1 && std::strcmp(argv[1], "--child") == 0)
    return Child(argc, argv);
  bool quick = false, peer = true;
  std::string only;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc) {
      only = argv[++i];
    } else if (std::strcmp(argv[i], "--quick") == 0) {
      quick = true;
    } else if (std::strcmp(argv[i], "--no-peer") == 0) {
      peer = false;
    } else {
      std::fprintf(stderr, "inst_bench: unknown option %s\n", argv[i]);
      return 2;
    }
  }
  char tmpl[] = "/tmp/instbench.XXXXXX";
  if (mkdtemp(tmpl) == nullptr) {
    std::perror("inst_bench: mkdtemp");
    return 1;
  }
  g_dir = tmpl;
  std::filesystem::create_directories(g_dir + "/etc");
  setenv("HOME", g_dir.c_str(), 1);
  setenv("ODBCINI", (g_dir + "/odbc.ini").c_str(), 1);
  setenv("ODBCSYSINI", (g_dir + "/etc").c_str(), 1);
  if (peer) {
    void *h = dlopen(kPeer, RTLD_NOW | RTLD_LOCAL);
    if (h == nullptr) {
      std::fprintf(stderr, "inst_bench: %s not found (package unixodbc-dev); running ours only\n",
                   kPeer);
      peer = false;
    } else {
      dlclose(h);
    }
  }
  std::map<std::pair<std::string, int>, double> peerTimes;
  auto both = [&](const char *what, const char *op, int n, int oursRuns, int peerRuns,
                  bool peerToo) {
    if (!only.empty() && only != op)
      return;
    double o = Median("ours", op, n, oursRuns);
    // The peer has no batches: its repoint is the same work either way, and
    // measured once.
    std::string peerOp = std::strcmp(op, "batch") == 0 ? "repoint" : op;
    double p = -1;
    if (peer && peerToo) {
      auto known = peerTimes.find({peerOp, n});
      p = known != peerTimes.end() ? known->second : Median("peer", peerOp.c_str(), n, peerRuns);
      peerTimes[{peerOp, n}] = p;
    }
    Row(what, n, o, p, std::strcmp(op, "repoint") == 0 || std::strcmp(op, "batch") == 0);
  };

  std::printf("%-34s %6s  %12s  %12s  %8s  %10s\n", "operation (odbc.ini of N sources)", "N",
              "libpelmarinst", "libodbcinst", "ratio", "ours/N");
  // What the disk alone costs for one atomic, synced replacement of a small
  // file: our writes pay this once each, the peer's do not sync.
  if (only.empty() || only == "write" || only == "repoint") {
    std::string tmp = g_dir + "/sync.tmp", dst = g_dir + "/sync.ini";
    const int rounds = 20;
    auto t0 = Clock::now();
    for (int i = 0; i < rounds; ++i) {
      std::FILE *f = std::fopen(tmp.c_str(), "w");
      if (f == nullptr)
        break;
      std::fprintf(f, "[s]\nk=%d\n", i);
      std::fflush(f);
      fdatasync(fileno(f));
      std::fclose(f);
      std::rename(tmp.c_str(), dst.c_str());
    }
    std::printf("%-34s %6s  %12s\n", "(disk: synced replace of 10 bytes)", "-",
                Show(Micros(t0, Clock::now()) / rounds).c_str());
  }
  for (int n : quick ? std::vector<int>{100} : std::vector<int>{100, 1000, 10000})
    both("14-key read, fresh process", "read14", n, 5, n >= 10000 ? 1 : 3, true);
  for (int n : quick ? std::vector<int>{100} : std::vector<int>{100, 1000, 10000})
    both("repeated read of one key (each)", "reread", n, 3, 1, true);
  for (int n : quick ? std::vector<int>{100} : std::vector<int>{100, 1000})
    both("one write (each)", "write", n, 3, 1, true);
  // A write each rewrites the whole file: quadratic in N for both libraries.
  for (int n : quick ? std::vector<int>{100} : std::vector<int>{100, 500, 1000, 2000})
    both("full repoint, a write each", "repoint", n, n >= 2000 ? 1 : 3, 1, n <= 500);
  // One batch rewrites it once; the peer beside it writes each.
  for (int n : quick ? std::vector<int>{100}
                     : std::vector<int>{100, 500, 1000, 2000, 5000, 10000, 20000})
    both("full repoint, one batch", "batch", n, 5, 1, n <= 500);

  std::error_code ec;
  std::filesystem::remove_all(g_dir, ec);
  return 0;
}
