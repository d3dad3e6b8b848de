// The active toolkit and the bundle.
//
// The front end plugin is loaded on the first call of ActiveToolkit, never
// before: a call of the library that opens no window must not map a GUI
// library into its host.
#include <dlfcn.h>

#include <cstdio>
#include <mutex>
#include <string>

#include "toolkit/platform.h"
#include "toolkit/utf16.h"

namespace hvl {

namespace {

// Stands in when the front end cannot be loaded: no window ever opens, so
// the dialogs end on their failure paths and nothing else is reached.
class NoFrontEnd final : public Toolkit {
public:
  OSStatus OpenWindow(const std::string &, const std::string &, const std::string &,
                      WindowRef *out) override {
    if (out != nullptr)
      *out = nullptr;
    return kErrNoFrontEnd;
  }
  void ShowWindow(WindowRef) override {}
  bool IsWindowVisible(WindowRef) override { return false; }
  void DisposeWindow(WindowRef) override {}
  void SetWindowTitle(WindowRef, const PlatformString &) override {}
  OSStatus GetControlByID(WindowRef, ControlID, ControlRef *out) override {
    if (out != nullptr)
      *out = nullptr;
    return kErrParam;
  }
  std::int32_t GetControlValue(ControlRef) override { return 0; }
  void SetControlValue(ControlRef, std::int32_t) override {}
  std::int32_t GetControlMaximum(ControlRef) override { return 0; }
  void SetControlMaximum(ControlRef, std::int32_t) override {}
  OSStatus SetControlString(ControlRef, std::int16_t, std::uint32_t,
                            const PlatformString &) override {
    return kErrParam;
  }
  OSStatus GetControlString(ControlRef, std::int16_t, std::uint32_t, PlatformString *) override {
    return kErrParam;
  }
  OSStatus SetControlBytes(ControlRef, std::int16_t, std::uint32_t, std::string_view) override {
    return kErrParam;
  }
  void SetControlVisibility(ControlRef, bool, bool) override {}
  void ShowControl(ControlRef) override {}
  bool IsControlVisible(ControlRef) override { return false; }
  void Draw1Control(ControlRef) override {}
  std::int32_t CountMenuItems(ControlRef) override { return 0; }
  void DeleteMenuItems(ControlRef, std::int32_t, std::int32_t) override {}
  void AppendMenuItemText(ControlRef, const PlatformString &) override {}
  OSStatus CopyMenuItemText(ControlRef, std::int32_t, PlatformString *) override {
    return kErrParam;
  }
  void AdvanceKeyboardFocus(WindowRef) override {}
  void ClearKeyboardFocus(WindowRef) override {}
  OSStatus InstallEventHandler(ControlRef, EventKind, EventHandlerProc, void *,
                               EventHandlerRef *out) override {
    if (out != nullptr)
      *out = nullptr;
    return kErrParam;
  }
  OSStatus RemoveEventHandler(EventHandlerRef) override { return kErrNoSuchHandler; }
  bool WaitNextEvent(std::uint32_t) override { return false; }
  std::int32_t RunAlert(const AlertDefinition &) override { return kErrNoFrontEnd; }
};

std::mutex gMutex; // the toolkits
Toolkit *gInstalled = nullptr;
Toolkit *gFrontEnd = nullptr;
bool gTriedFrontEnd = false;
std::mutex gBundleMutex;
std::string gBundleOverride;

Toolkit *LoadFrontEnd() {
  const Bundle *bundle = GetBundleWithIdentifier(kBundleIdentifier);
  if (bundle == nullptr) {
    std::fputs("Halvern Generic ODBC Driver: cannot find the library's bundle\n", stderr);
    return nullptr;
  }
  std::string path = bundle->plugins + "/hvlqt.so";
  // The plugin holds Qt's global state: unloading it would pull that out
  // from under any window or QApplication still around.
  void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (handle == nullptr) {
    const char *why = dlerror();
    std::fprintf(stderr, "Halvern Generic ODBC Driver: cannot load %s: %s\n", path.c_str(),
                 why != nullptr ? why : "unknown error");
    return nullptr;
  }
  auto entry = reinterpret_cast<ToolkitEntryPoint>(dlsym(handle, kToolkitEntryPoint));
  Toolkit *toolkit = entry != nullptr ? entry(kToolkitInterfaceVersion) : nullptr;
  if (toolkit == nullptr)
    std::fprintf(stderr, "Halvern Generic ODBC Driver: %s is not a front end of this version\n",
                 path.c_str());
  return toolkit;
}

std::string Parent(const std::string &path) {
  auto slash = path.find_last_of('/');
  if (slash == std::string::npos)
    return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

Bundle MakeBundle(const std::string &directory, const std::string &executable) {
  Bundle b;
  b.directory = directory;
  b.contents = directory + "/Contents";
  b.executable = executable;
  b.resources = b.contents + "/Resources";
  b.plugins = b.contents + "/PlugIns";
  return b;
}

} // namespace

Toolkit &ActiveToolkit() {
  static NoFrontEnd none;
  std::lock_guard lock(gMutex);
  if (gInstalled != nullptr)
    return *gInstalled;
  if (!gTriedFrontEnd) {
    gTriedFrontEnd = true;
    gFrontEnd = LoadFrontEnd();
  }
  return gFrontEnd != nullptr ? *gFrontEnd : none;
}

Toolkit *SetActiveToolkit(Toolkit *toolkit) {
  std::lock_guard lock(gMutex);
  Toolkit *before = gInstalled;
  gInstalled = toolkit;
  return before;
}

bool FrontEndLoaded() {
  std::lock_guard lock(gMutex);
  return gFrontEnd != nullptr;
}

const Bundle *GetBundleWithIdentifier(const char *identifier) {
  if (identifier == nullptr || std::string(identifier) != kBundleIdentifier)
    return nullptr;
  static std::mutex mutex;
  static Bundle bundle;
  static std::string madeFrom;
  std::lock_guard lock(mutex);
  std::string directory, executable;
  {
    std::lock_guard global(gBundleMutex);
    if (!gBundleOverride.empty()) {
      directory = gBundleOverride;
      executable = directory + "/Contents/MacOS/" HVL_SETUP_NAME;
    }
  }
  if (directory.empty()) {
    // The library's own path, wherever the host loaded it from.
    Dl_info info{};
    if (dladdr(reinterpret_cast<void *>(&GetBundleWithIdentifier), &info) == 0 ||
        info.dli_fname == nullptr || info.dli_fname[0] == '\0')
      return nullptr;
    executable = info.dli_fname;
    char resolved[4096];
    if (realpath(executable.c_str(), resolved) != nullptr)
      executable = resolved;
    // ".../X.bundle/Contents/MacOS/<name>": three levels up is the bundle.
    directory = Parent(Parent(Parent(executable)));
  }
  if (madeFrom != directory + '\n' + executable) {
    bundle = MakeBundle(directory, executable);
    madeFrom = directory + '\n' + executable;
  }
  return &bundle;
}

bool BundleGetInfoValue(const Bundle *bundle, const char *key, PlatformString *out) {
  if (bundle == nullptr || key == nullptr || out == nullptr)
    return false;
  std::string k = key;
  if (k == "CFBundleExecutablePath")
    *out = detail::Utf8ToUtf16(bundle->executable);
  else if (k == "CFBundleIdentifier")
    *out = detail::Utf8ToUtf16(kBundleIdentifier);
  else
    return false;
  return true;
}

void SetBundleDirectory(const std::string &bundleDirectory) {
  std::lock_guard lock(gBundleMutex);
  gBundleOverride = bundleDirectory;
}

} // namespace hvl
