// Opens one window definition with the Qt front end and keeps it shown for a
// while, for a person to look at (scripts/screenshot-fixture).
//   show_window DIR NAME SECONDS
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "toolkit/platform.h"

int main(int argc, char **argv) {
  if (argc != 4) {
    std::fputs("usage: show_window DIR NAME SECONDS\n", stderr);
    return 2;
  }
  hvl::SetBundleDirectory(HVL_BUNDLE_DIR);
  hvl::Toolkit &tk = hvl::ActiveToolkit();
  hvl::WindowRef w = nullptr;
  if (hvl::OSStatus s = tk.OpenWindow(argv[1], argv[2], "Dialog", &w); s != hvl::noErr) {
    std::fprintf(stderr, "show_window: cannot open %s/%s.ui: status %d\n", argv[1], argv[2], s);
    return 1;
  }
  tk.ShowWindow(w);
  tk.AdvanceKeyboardFocus(w);
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(std::atoi(argv[3]));
  while (tk.IsWindowVisible(w) && std::chrono::steady_clock::now() < end)
    tk.WaitNextEvent(6);
  tk.DisposeWindow(w);
  return 0;
}
