// Speed of the dialog toolkit, offscreen:
//   - first window: from the first call that opens a window to the window
//     shown, in a fresh process (front end plugin and Qt not yet loaded);
//   - later windows: the same in a process where they are loaded;
//   - the setup library: dlopen + dlsym of `version` in a fresh process,
//     which must stay small and map no Qt.
// Each cold figure is the median of fresh child processes of this program.
#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "toolkit/platform.h"

namespace {

using Clock = std::chrono::steady_clock;

double Micros(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double, std::micro>(b - a).count();
}

bool QtMapped() {
  std::ifstream maps("/proc/self/maps");
  std::stringstream s;
  s << maps.rdbuf();
  return s.str().find("libQt6") != std::string::npos;
}

// One window opened and shown; -1 on failure.
double OpenShowDispose(hvl::Toolkit *&tk) {
  auto t0 = Clock::now();
  if (tk == nullptr)
    tk = &hvl::ActiveToolkit();
  const hvl::Bundle *b = hvl::GetBundleWithIdentifier(hvl::kBundleIdentifier);
  hvl::WindowRef w = nullptr;
  if (b == nullptr || tk->OpenWindow(b->resources, "hvlsetup", "Dialog", &w) != hvl::noErr)
    return -1;
  tk->ShowWindow(w);
  tk->WaitNextEvent(0); // lets the toolkit lay out and expose the window
  auto t1 = Clock::now();
  if (!tk->IsWindowVisible(w))
    return -1;
  tk->DisposeWindow(w);
  return Micros(t0, t1);
}

int ChildWindow(int warmRounds) {
  hvl::SetBundleDirectory(HVL_BUNDLE_DIR);
  hvl::Toolkit *tk = nullptr;
  double cold = OpenShowDispose(tk);
  if (cold < 0)
    return 1;
  std::vector<double> warm;
  for (int i = 0; i < warmRounds; ++i)
    warm.push_back(OpenShowDispose(tk));
  std::sort(warm.begin(), warm.end());
  std::printf("%.1f %.1f\n", cold, warm.empty() ? 0.0 : warm[warm.size() / 2]);
  return 0;
}

int ChildLibrary() {
  auto t0 = Clock::now();
  void *lib = dlopen(HVL_SETUP_PATH, RTLD_NOW | RTLD_LOCAL);
  if (lib == nullptr) {
    std::fprintf(stderr, "toolkit_bench: %s\n", dlerror());
    return 1;
  }
  void *version = dlsym(lib, "version");
  auto t1 = Clock::now();
  if (version == nullptr)
    return 1;
  std::printf("%.1f %d\n", Micros(t0, t1), QtMapped() ? 1 : 0);
  return 0;
}

// Runs this program with `mode` `runs` times and collects the numbers each
// child prints.
std::vector<std::vector<double>> RunChildren(const char *self, const char *mode, int runs) {
  std::vector<std::vector<double>> out;
  for (int i = 0; i < runs; ++i) {
    std::string cmd = std::string("'") + self + "' " + mode + " 2>/dev/null";
    FILE *p = popen(cmd.c_str(), "r");
    if (p == nullptr)
      break;
    std::vector<double> row;
    double v;
    while (std::fscanf(p, "%lf", &v) == 1)
      row.push_back(v);
    if (pclose(p) == 0 && !row.empty())
      out.push_back(row);
  }
  return out;
}

double Median(std::vector<double> v) {
  if (v.empty())
    return -1;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  if (argc > 1 && std::strcmp(argv[1], "--window") == 0)
    return ChildWindow(20);
  if (argc > 1 && std::strcmp(argv[1], "--library") == 0)
    return ChildLibrary();

  char dir[] = "/tmp/hvl-bench-XXXXXX";
  if (mkdtemp(dir) == nullptr)
    return 1;
  setenv("HOME", dir, 1);
  setenv("XDG_CONFIG_HOME", dir, 1);
  const int runs = argc > 1 ? std::atoi(argv[1]) : 7;

  auto windows = RunChildren(argv[0], "--window", runs);
  auto libs = RunChildren(argv[0], "--library", runs);
  std::vector<double> cold, warm, load;
  int qt = 0;
  for (auto &r : windows) {
    cold.push_back(r[0]);
    warm.push_back(r[1]);
  }
  for (auto &r : libs) {
    load.push_back(r[0]);
    qt += r.size() > 1 && r[1] != 0 ? 1 : 0;
  }
  std::printf("%-58s %12s %6s\n", "measure (median of fresh processes)", "microseconds", "runs");
  std::printf("%-58s %12.0f %6zu\n", "first window: open to shown (plugin + Qt cold)", Median(cold),
              cold.size());
  std::printf("%-58s %12.0f %6zu\n", "later window: open to shown (warm, median of 20)",
              Median(warm), warm.size());
  std::printf("%-58s %12.0f %6zu\n", "setup library: dlopen + dlsym(version)", Median(load),
              load.size());
  std::printf("%-58s %12d\n", "processes that had Qt mapped after loading the library", qt);
  std::string cleanup = std::string("rm -rf '") + dir + "'";
  return std::system(cleanup.c_str()) == 0 && !cold.empty() && !load.empty() ? 0 : 1;
}
