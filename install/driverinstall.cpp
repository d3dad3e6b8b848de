// driverinstall: run by the driver's installer package after it has laid the
// kit out under an install location. It registers the driver "Halvern Generic
// ODBC" with the installer library, points every data source of the driver at
// the newly installed driver library, and opens the permissions of the system
// ODBC configuration files.
//
//   driverinstall [-preinstall|-postinstall|-preupgrade|-postupgrade|-clientonly] [PREFIX] ...
//
// Only -postinstall and -postupgrade (anywhere on the line) make it work; the
// install prefix is the second argument. One status text goes to standard
// output ("OK", or "Failed" with a reason) and the exit status is always 0,
// so that the installer package never aborts on it.
//
// The installer library is loaded at run time, never linked: a machine
// without it is a machine without a driver manager, which the tool reports
// instead of failing to start. HVL_PELMARINST names the library to load when
// set and not empty; otherwise it is the one in the library folder beside the
// program's bin/, else libpelmarinst.so.1 wherever the dynamic loader finds it.

#include <dlfcn.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "pelmarinst.h"

namespace {

constexpr char kDriverName[] = "Halvern Generic ODBC";
constexpr char kDriverTemplate[] =
    "Driver=%s/Library/ODBC/Halvern Generic ODBC Driver.bundle/Contents/MacOS/hvlodbc.so";
constexpr char kSetupTemplate[] =
    "Setup=%s/Library/ODBC/Halvern Generic ODBC Driver.bundle/Contents/MacOS/"
    "Halvern Generic ODBC Driver";
constexpr char kDriverPathTemplate[] =
    "%s/Library/ODBC/Halvern Generic ODBC Driver.bundle/Contents/MacOS/hvlodbc.so";
constexpr char kDataSources[] = "ODBC Data Sources";

// Sizes in bytes, terminators included.
constexpr std::size_t kPrefixMax = 4096;
constexpr std::size_t kListMax = 4096;
constexpr std::size_t kPathOutMax = 4096;
constexpr std::size_t kNamesMax = 32000;
constexpr std::size_t kValueMax = 4096;
constexpr std::size_t kMessageMax = 255;

struct Installer {
  decltype(&SQLSetConfigMode) setConfigMode = nullptr;
  decltype(&SQLInstallDriverEx) installDriverEx = nullptr;
  decltype(&SQLInstallerError) installerError = nullptr;
  decltype(&SQLGetPrivateProfileString) getProfileString = nullptr;
  decltype(&SQLWritePrivateProfileString) writeProfileString = nullptr;
  // Optional: our own library can gather a pass's writes into one rewrite of
  // the file; another installer library simply writes each one.
  decltype(&pelmarinst_begin_writes) beginWrites = nullptr;
  decltype(&pelmarinst_commit_writes) commitWrites = nullptr;
};

template <typename Fn>
bool resolve(void *library, const char *name, Fn &out) {
  void *symbol = dlsym(library, name);
  if (symbol == nullptr) {
    return false;
  }
  out = reinterpret_cast<Fn>(symbol);
  return true;
}

// The installer library in the library folder beside the program's bin/.
std::string besideProgram() {
  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) {
    return {};
  }
  self[n] = '\0';
  std::string dir(self);
  std::size_t slash = dir.rfind('/');
  if (slash == std::string::npos) {
    return {};
  }
  dir.resize(slash);
  return dir + "/../" HVL_LIBDIR "/libpelmarinst.so.1";
}

// The library stays loaded until the process ends; nothing unloads it.
bool loadInstaller(Installer &in) {
  void *library = nullptr;
  const char *path = std::getenv("HVL_PELMARINST");
  if (path != nullptr && *path != '\0') {
    library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  } else {
    // The run path would find the library beside the program too, but only
    // when dlopen is called from the program itself: a wrapper of dlopen (a
    // sanitizer, a preloaded shim) becomes the caller and the run path is
    // lost. So the kit's own library is tried first by its full path.
    std::string own = besideProgram();
    if (!own.empty()) {
      library = dlopen(own.c_str(), RTLD_NOW | RTLD_LOCAL);
    }
    if (library == nullptr) {
      library = dlopen("libpelmarinst.so.1", RTLD_NOW | RTLD_LOCAL);
    }
  }
  if (library == nullptr) {
    return false;
  }
  if (!resolve(library, "pelmarinst_begin_writes", in.beginWrites) ||
      !resolve(library, "pelmarinst_commit_writes", in.commitWrites)) {
    in.beginWrites = nullptr;
    in.commitWrites = nullptr;
  }
  // A library that lacks one of these is not an installer library we can use.
  return resolve(library, "SQLSetConfigMode", in.setConfigMode) &&
         resolve(library, "SQLInstallDriverEx", in.installDriverEx) &&
         resolve(library, "SQLInstallerError", in.installerError) &&
         resolve(library, "SQLGetPrivateProfileString", in.getProfileString) &&
         resolve(library, "SQLWritePrivateProfileString", in.writeProfileString);
}

// Puts the prefix in place of the template's one "%s" into out[size]; false
// when the result would not fit. Done by hand rather than with printf so that
// the prefix is only ever copied, never read as a format.
bool format(char *out, std::size_t size, const char *pattern, const char *prefix) {
  const char *slot = std::strstr(pattern, "%s");
  std::size_t head = slot != nullptr ? static_cast<std::size_t>(slot - pattern) : std::strlen(pattern);
  const char *tail = slot != nullptr ? slot + 2 : "";
  std::size_t prefixLength = slot != nullptr ? std::strlen(prefix) : 0;
  std::size_t tailLength = std::strlen(tail);
  if (head + prefixLength + tailLength >= size) {
    return false;
  }
  std::memcpy(out, pattern, head);
  std::memcpy(out + head, prefix, prefixLength);
  std::memcpy(out + head + prefixLength, tail, tailLength + 1);
  return true;
}

// The registration list: the driver's name and its two keyword-value pairs,
// each ended by a NUL, the list ended by one more NUL. False when it would not
// fit into the list buffer.
bool buildRegistration(char (&list)[kListMax], const char *prefix) {
  char driver[kListMax];
  char setup[kListMax];
  if (!format(driver, sizeof driver, kDriverTemplate, prefix) ||
      !format(setup, sizeof setup, kSetupTemplate, prefix)) {
    return false;
  }
  const char *parts[] = {kDriverName, driver, setup};
  std::size_t used = 0;
  for (const char *part : parts) {
    std::size_t length = std::strlen(part) + 1;
    if (used + length + 1 > sizeof list) {
      return false;
    }
    std::memcpy(list + used, part, length);
    used += length;
  }
  list[used] = '\0';
  return true;
}

// Points every data source that the pass's configuration lists under this
// driver at driverPath. Failures of single reads and writes are passed over:
// the registration has already succeeded and the other data sources still
// deserve the new path.
void repoint(const Installer &in, UWORD mode, const char *driverPath) {
  // The buffers start empty so that a read that writes nothing reads as empty.
  char names[kNamesMax] = {};
  in.setConfigMode(mode);
  in.getProfileString(kDataSources, nullptr, "", names, static_cast<int>(sizeof names),
                      "odbc.ini");
  // Each write would rewrite the whole file; in a batch the pass rewrites it
  // once, which keeps a repoint of many data sources linear.
  bool batch = in.beginWrites != nullptr && names[0] != '\0' && in.beginWrites();

  std::size_t offset = 0;
  while (offset < sizeof names && names[offset] != '\0') {
    const char *name = names + offset;
    std::size_t length = strnlen(name, sizeof names - offset);
    if (offset + length == sizeof names) {
      break;  // cut off by the end of the buffer: not a name that fits
    }
    offset += length + 1;

    char driver[kValueMax] = {};
    in.setConfigMode(mode);
    in.getProfileString(kDataSources, name, "", driver, static_cast<int>(sizeof driver),
                        "odbc.ini");
    driver[sizeof driver - 1] = '\0';
    if (strcasecmp(driver, kDriverName) != 0) {
      continue;
    }
    in.setConfigMode(mode);
    in.writeProfileString(name, "Driver", driverPath, "odbc.ini");
  }
  if (batch) {
    in.commitWrites();
  }
}

// The configuration files that every ODBC program on the machine reads, made
// writable for the group that administers ODBC. The two preference files of
// the driver manager's original home are kept in the list; on this system they
// do not exist and are passed over like any missing file.
void openPermissions() {
  const char *systemDir = std::getenv("ODBCSYSINI");
  std::string dir = (systemDir != nullptr && *systemDir != '\0') ? systemDir : "/etc";
  const std::string files[] = {
      "/Library/Preferences/ODBC.preference",
      "/Library/Preferences/ODBC Installer.preference",
      dir + "/odbc.ini",
      dir + "/odbcinst.ini",
  };
  for (const std::string &file : files) {
    (void)chmod(file.c_str(), 0664);
  }
}

void report(const char *text) {
  std::fputs(text, stdout);
  std::fflush(stdout);
}

void run(int argc, char **argv) {
  bool post = false;
  for (int i = 1; i < argc; ++i) {
    if (argv[i] != nullptr &&
        (std::strcmp(argv[i], "-postinstall") == 0 || std::strcmp(argv[i], "-postupgrade") == 0)) {
      post = true;
    }
  }
  if (!post) {
    report("OK\n");
    return;
  }

  Installer in;
  if (!loadInstaller(in)) {
    report("Failed\n(No ODBC Driver Manager found)\n");
    return;
  }

  const char *prefix = "";
  UWORD mode = ODBC_SYSTEM_DSN;
  if (argc > 2 && argv[2] != nullptr && std::strcmp(argv[2], "/") != 0) {
    prefix = argv[2];
    mode = ODBC_USER_DSN;
  }

  // A cut prefix would register paths that lead nowhere; refuse before
  // anything is written.
  char list[kListMax];
  char driverPath[kValueMax];
  if (std::strlen(prefix) >= kPrefixMax || !buildRegistration(list, prefix) ||
      !format(driverPath, sizeof driverPath, kDriverPathTemplate, prefix)) {
    report("Failed\n(Install location too long)\n");
    return;
  }

  char pathOut[kPathOutMax] = {};
  DWORD usageCount = 1;
  in.setConfigMode(mode);
  if (!in.installDriverEx(list, nullptr, pathOut, static_cast<WORD>(sizeof pathOut), nullptr,
                          ODBC_INSTALL_COMPLETE, &usageCount)) {
    char message[kMessageMax] = {};
    DWORD code = 0;
    WORD length = 0;
    // No mode is set first: every other installer call empties the error
    // queue, and the message would be lost.
    RETCODE rc = in.installerError(1, &code, message, static_cast<WORD>(sizeof message), &length);
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) {
      message[0] = '\0';
    }
    message[sizeof message - 1] = '\0';
    std::string text = "Failed\n(";
    text += message;
    text += ")\n";
    report(text.c_str());
    return;
  }

  repoint(in, mode, driverPath);
  if (mode == ODBC_SYSTEM_DSN) {
    // A system-wide install also moves the user's own data sources of the
    // driver to the new library.
    repoint(in, ODBC_USER_DSN, driverPath);
  }
  openPermissions();
  report("OK\n");
}

}  // namespace

int main(int argc, char **argv) {
  run(argc, argv);
  return 0;
}
