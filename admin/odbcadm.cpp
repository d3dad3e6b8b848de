// odbcadm: a small administration command for the ODBC configuration. It
// works through libpelmarinst only, the way a driver manager's own tools do:
// listing goes through the profile functions, and every change of a data
// source goes through SQLConfigDataSource, which loads the driver's setup
// library and lets it do the work (and show its dialog).
//
// Each command is one entry of the table in commands(); a new command (a
// connection prompt, a driver's configuration) is a new entry with its own
// handler and help text.

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "pelmarinst.h"

namespace {

constexpr char kTool[] = "odbcadm";
constexpr char kDataSources[] = "ODBC Data Sources";

enum Exit : int { kOk = 0, kFailed = 1, kUsage = 2 };

enum class Scope { Unset, User, System, Both };

// The parsed command line of one command: its options and the words that are
// not options, in order.
struct Invocation {
  Scope scope = Scope::Unset;
  bool window = true;
  bool help = false;
  std::string driver;  // --driver
  std::vector<std::string> words;
};

struct Command {
  const char *name;
  const char *synopsis;
  const char *summary;
  const char *details;
  // Which options the command accepts.
  bool takesScope;
  bool takesWindow;
  bool takesDriver;
  int (*run)(const Invocation &);
};

const std::vector<Command> &commands();

void complain(const std::string &message) {
  std::fprintf(stderr, "%s: %s\n", kTool, message.c_str());
}

int usageError(const std::string &message) {
  complain(message);
  std::fprintf(stderr, "Try '%s --help'.\n", kTool);
  return kUsage;
}

const char *installerErrorName(DWORD code) {
  static const char *const names[] = {
      "",
      "general installer error",
      "invalid buffer length",
      "invalid window handle",
      "invalid string",
      "invalid request type",
      "component not found",
      "invalid name",
      "invalid keyword-value pair",
      "invalid data source name",
      "invalid setup information",
      "request failed",
      "invalid path",
      "the driver's setup library could not be loaded",
      "invalid parameter sequence",
      "invalid log file",
      "cancelled by the user",
      "usage count could not be updated",
      "the data source could not be created",
      "the system information could not be written",
      "the data source could not be removed",
      "out of memory",
      "output truncated",
      "driver-specific error",
  };
  return code < sizeof names / sizeof names[0] ? names[code] : "installer error";
}

// Prints every error that the installer library posted for the last call, one
// "odbcadm: message" line each; returns how many there were. Must run before
// any other installer call, since each of them empties the queue.
int printInstallerErrors() {
  int printed = 0;
  for (WORD index = 1; index <= 8; ++index) {
    DWORD code = 0;
    char message[1024] = {};
    WORD length = 0;
    RETCODE rc = SQLInstallerError(index, &code, message, sizeof message, &length);
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) {
      break;
    }
    message[sizeof message - 1] = '\0';
    if (message[0] != '\0') {
      complain(message);
    } else {
      complain(std::string(installerErrorName(code)) + " (installer error " +
               std::to_string(code) + ")");
    }
    ++printed;
  }
  return printed;
}

int failWithInstallerErrors(const std::string &whatFailed) {
  if (printInstallerErrors() == 0) {
    complain(whatFailed);
  }
  return kFailed;
}

// Splits a list of NUL-terminated strings ended by an empty string, reading
// no further than size bytes; a string cut off by the end is dropped.
std::vector<std::string> splitList(const char *list, std::size_t size) {
  std::vector<std::string> items;
  std::size_t offset = 0;
  while (offset < size && list[offset] != '\0') {
    std::size_t length = strnlen(list + offset, size - offset);
    if (offset + length == size) {
      break;
    }
    items.emplace_back(list + offset, length);
    offset += length + 1;
  }
  return items;
}

UWORD modeOf(Scope scope) {
  switch (scope) {
    case Scope::User:
      return ODBC_USER_DSN;
    case Scope::System:
      return ODBC_SYSTEM_DSN;
    default:
      return ODBC_BOTH_DSN;
  }
}

const char *nameOf(Scope scope) {
  return scope == Scope::System ? "system" : "user";
}

// Reads one value of odbc.ini in one configuration; false when it is missing
// or empty.
bool readDataSourceValue(Scope scope, const char *section, const char *key, std::string &value) {
  std::vector<char> buffer(4096, '\0');
  SQLSetConfigMode(modeOf(scope));
  SQLGetPrivateProfileString(section, key, "", buffer.data(), static_cast<int>(buffer.size()),
                             "odbc.ini");
  buffer.back() = '\0';
  value = buffer.data();
  return !value.empty();
}

// The names listed in "ODBC Data Sources" of one configuration. The
// installer library lists whole names only and stops before the first one
// that does not fit, whatever room is left; so the buffer grows until a
// larger one adds nothing, and no name is silently left out.
std::vector<std::string> listDataSources(Scope scope) {
  std::vector<char> buffer(32000);
  int last = -1;
  for (;;) {
    std::fill(buffer.begin(), buffer.end(), '\0');
    SQLSetConfigMode(modeOf(scope));
    int n = SQLGetPrivateProfileString(kDataSources, nullptr, "", buffer.data(),
                                       static_cast<int>(buffer.size()), "odbc.ini");
    if (n <= 0 || n == last || buffer.size() >= (1u << 26)) {
      return splitList(buffer.data(), buffer.size());
    }
    last = n;
    buffer.resize(buffer.size() * 2);
  }
}

int runList(const Invocation &inv) {
  if (!inv.words.empty()) {
    return usageError("list takes no arguments");
  }
  std::vector<Scope> scopes;
  if (inv.scope == Scope::User || inv.scope == Scope::System) {
    scopes.push_back(inv.scope);
  } else {
    scopes = {Scope::User, Scope::System};
  }
  for (Scope scope : scopes) {
    for (const std::string &name : listDataSources(scope)) {
      std::string driver;
      readDataSourceValue(scope, kDataSources, name.c_str(), driver);
      std::printf("%s\t%s\t%s\n", nameOf(scope), name.c_str(), driver.c_str());
    }
  }
  SQLSetConfigMode(ODBC_BOTH_DSN);
  return kOk;
}

int runDrivers(const Invocation &inv) {
  if (!inv.words.empty()) {
    return usageError("drivers takes no arguments");
  }
  std::vector<char> buffer(65535, '\0');
  WORD length = 0;
  SQLSetConfigMode(modeOf(inv.scope));
  BOOL ok = SQLGetInstalledDrivers(buffer.data(), static_cast<WORD>(buffer.size()), &length);
  if (!ok) {
    int status = failWithInstallerErrors("the installed drivers cannot be read");
    SQLSetConfigMode(ODBC_BOTH_DSN);
    return status;
  }
  SQLSetConfigMode(ODBC_BOTH_DSN);
  for (const std::string &driver : splitList(buffer.data(), buffer.size())) {
    std::printf("%s\n", driver.c_str());
  }
  return kOk;
}

// The attribute list that SQLConfigDataSource takes: KEY=VALUE strings, each
// ended by a NUL, the list ended by one more.
bool buildAttributes(const std::vector<std::string> &pairs, std::string &list, std::string &error) {
  for (const std::string &pair : pairs) {
    std::size_t equals = pair.find('=');
    if (equals == std::string::npos || equals == 0) {
      error = "'" + pair + "' is not an attribute: write KEY=VALUE";
      return false;
    }
    list += pair;
    list += '\0';
  }
  list += '\0';
  return true;
}

bool hasDisplay() {
  for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char *value = std::getenv(name);
    if (value != nullptr && *value != '\0') {
      return true;
    }
  }
  return false;
}

// Any non-null value will do: the setup library only tells whether a window
// was given, and shows its dialog on its own.
HWND windowFor(const Invocation &inv) {
  return inv.window ? reinterpret_cast<HWND>(1) : nullptr;
}

int configDataSource(const Invocation &inv, Scope scope, WORD request, const std::string &driver,
                     const std::string &attributes, const char *what) {
  WORD scoped = scope == Scope::System ? static_cast<WORD>(request + 3) : request;
  if (inv.window && request != ODBC_REMOVE_DSN && !hasDisplay()) {
    complain("no display to show the setup dialog on (DISPLAY is not set); "
             "run it in a desktop session, or use --no-window");
    return kFailed;
  }
  if (!SQLConfigDataSource(windowFor(inv), scoped, driver.c_str(), attributes.c_str())) {
    return failWithInstallerErrors(std::string("the data source could not be ") + what);
  }
  return kOk;
}

int runAdd(const Invocation &inv) {
  if (inv.words.empty()) {
    return usageError("add needs the name of a driver (see 'odbcadm drivers')");
  }
  std::string attributes;
  std::string error;
  if (!buildAttributes({inv.words.begin() + 1, inv.words.end()}, attributes, error)) {
    return usageError(error);
  }
  Scope scope = inv.scope == Scope::System ? Scope::System : Scope::User;
  return configDataSource(inv, scope, ODBC_ADD_DSN, inv.words[0], attributes, "added");
}

// configure and remove: the data source is looked up in the configuration the
// user named, else in the user's and then the system's; its driver is the one
// it is listed under unless --driver says otherwise.
int runOnExisting(const Invocation &inv, WORD request, const char *verb, const char *what) {
  if (inv.words.empty()) {
    return usageError(std::string(verb) + " needs the name of a data source (see 'odbcadm list')");
  }
  const std::string &name = inv.words[0];
  std::vector<std::string> pairs{inv.words.begin() + 1, inv.words.end()};
  for (const std::string &pair : pairs) {
    if (pair.size() >= 4 && strncasecmp(pair.c_str(), "DSN=", 4) == 0) {
      return usageError("give the data source's name as the first argument, not as DSN=");
    }
  }
  if (request == ODBC_REMOVE_DSN && !pairs.empty()) {
    return usageError("remove takes only the name of a data source");
  }
  pairs.insert(pairs.begin(), "DSN=" + name);
  std::string attributes;
  std::string error;
  if (!buildAttributes(pairs, attributes, error)) {
    return usageError(error);
  }

  std::vector<Scope> candidates;
  if (inv.scope == Scope::User || inv.scope == Scope::System) {
    candidates.push_back(inv.scope);
  } else {
    candidates = {Scope::User, Scope::System};
  }
  Scope scope = Scope::Unset;
  std::string driver;
  for (Scope candidate : candidates) {
    if (readDataSourceValue(candidate, kDataSources, name.c_str(), driver)) {
      scope = candidate;
      break;
    }
  }
  SQLSetConfigMode(ODBC_BOTH_DSN);
  if (!inv.driver.empty()) {
    driver = inv.driver;
  }
  if (scope == Scope::Unset) {
    if (inv.driver.empty()) {
      complain("no data source named '" + name + "'" +
               (candidates.size() == 1 ? std::string(" in the ") + nameOf(candidates[0]) +
                                             " configuration"
                                       : std::string()) +
               "; give its driver with --driver to reach it anyway");
      return kFailed;
    }
    scope = candidates[0];
  }
  return configDataSource(inv, scope, request, driver, attributes, what);
}

int runConfigure(const Invocation &inv) {
  return runOnExisting(inv, ODBC_CONFIG_DSN, "configure", "configured");
}

int runRemove(const Invocation &inv) {
  return runOnExisting(inv, ODBC_REMOVE_DSN, "remove", "removed");
}

int runHelp(const Invocation &inv);

const std::vector<Command> &commands() {
  static const std::vector<Command> table = {
      {"list", "list [--user | --system]",
       "list the data sources",
       "Prints one line per data source: its configuration (user or system), its\n"
       "name and its driver, separated by tabs. Without an option both\n"
       "configurations are listed, the user's first.\n",
       true, false, false, runList},
      {"drivers", "drivers [--user | --system]",
       "list the installed drivers",
       "Prints the name of every installed driver, one a line: those of the user's\n"
       "odbcinst.ini and of the system's, or only those of the one named.\n",
       true, false, false, runDrivers},
      {"add", "add DRIVER [KEY=VALUE ...] [--system] [--no-window]",
       "add a data source of DRIVER",
       "Hands the request to DRIVER's setup library, which opens its dialog for\n"
       "the new data source; the data source is stored when you confirm it.\n"
       "KEY=VALUE pairs give the dialog its starting values, e.g. Server=db1.\n"
       "The data source goes into your own configuration, or with --system into\n"
       "the system's. With --no-window no dialog opens and the setup library\n"
       "works from the attributes alone (some setup libraries then store nothing).\n",
       true, true, false, runAdd},
      {"configure", "configure NAME [KEY=VALUE ...] [--user | --system] [--no-window] "
                    "[--driver DRIVER]",
       "change the data source NAME",
       "Opens the setup dialog of the data source's driver on NAME; KEY=VALUE\n"
       "pairs override the stored values shown in it. NAME is looked up in your\n"
       "configuration, then in the system's, unless --user or --system says\n"
       "which; its driver is the one it is listed under, or DRIVER.\n",
       true, true, true, runConfigure},
      {"remove", "remove NAME [--user | --system] [--driver DRIVER]",
       "remove the data source NAME",
       "Asks the data source's driver to remove NAME. NAME is looked up as for\n"
       "configure.\n",
       true, true, true, runRemove},
      {"help", "help [COMMAND]", "show this help, or a command's", "", false, false, false,
       runHelp},
  };
  return table;
}

const Command *findCommand(std::string_view name) {
  for (const Command &command : commands()) {
    if (name == command.name) {
      return &command;
    }
  }
  return nullptr;
}

void printOverview() {
  std::printf(
      "Usage: %s COMMAND [ARGUMENTS]\n"
      "\n"
      "Administers ODBC drivers and data sources: the same configuration that\n"
      "every ODBC program on this machine reads.\n"
      "\n"
      "A data source is added and changed by its driver's own setup dialog:\n"
      "'add' and 'configure' open it, you fill in the name and the settings,\n"
      "and OK stores them. Drivers are registered when they are installed;\n"
      "'drivers' shows which ones are.\n"
      "\n"
      "Commands:\n",
      kTool);
  for (const Command &command : commands()) {
    std::printf("  %-10s %s\n", command.name, command.summary);
  }
  std::printf(
      "\n"
      "Examples:\n"
      "  odbcadm drivers\n"
      "  odbcadm add \"Halvern Generic ODBC\" Server=db1.example.com\n"
      "  odbcadm list\n"
      "  odbcadm configure sales\n"
      "  odbcadm remove sales\n"
      "\n"
      "Your data sources are kept in $ODBCINI (default ~/.odbc.ini), the system's\n"
      "in $ODBCSYSINI/odbc.ini (default /etc/odbc.ini); writing the system's\n"
      "usually needs root.\n"
      "'odbcadm help COMMAND' tells more about one command. Exit status: 0 on\n"
      "success, 1 when the request failed (every error is printed), 2 on a\n"
      "mistake in the command line.\n");
}

void printCommandHelp(const Command &command) {
  std::printf("Usage: %s %s\n\n%s", kTool, command.synopsis, command.details);
  if (command.takesScope || command.takesWindow || command.takesDriver) {
    std::printf("\nOptions:\n");
  }
  if (command.takesScope) {
    std::printf("  --user         your own configuration\n"
                "  --system       the system's configuration\n");
  }
  if (command.takesWindow) {
    std::printf("  --no-window    do not open the setup dialog\n");
  }
  if (command.takesDriver) {
    std::printf("  --driver NAME  the driver to ask, instead of the listed one\n");
  }
}

int runHelp(const Invocation &inv) {
  if (inv.words.empty()) {
    printOverview();
    return kOk;
  }
  const Command *command = findCommand(inv.words[0]);
  if (command == nullptr) {
    return usageError("no command named '" + inv.words[0] + "'");
  }
  printCommandHelp(*command);
  return kOk;
}

int parseOptions(const Command &command, int argc, char **argv, Invocation &inv) {
  bool optionsEnded = false;
  for (int i = 0; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (optionsEnded || arg.size() < 2 || arg.substr(0, 2) != "--") {
      inv.words.emplace_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "--help") {
      inv.help = true;
    } else if (command.takesScope && (arg == "--user" || arg == "--system")) {
      Scope scope = arg == "--user" ? Scope::User : Scope::System;
      if (inv.scope != Scope::Unset && inv.scope != scope) {
        return usageError("give either --user or --system, not both");
      }
      inv.scope = scope;
    } else if (command.takesWindow && arg == "--no-window") {
      inv.window = false;
    } else if (command.takesDriver && arg == "--driver") {
      if (i + 1 >= argc || *argv[i + 1] == '\0') {
        return usageError("--driver needs the name of a driver");
      }
      inv.driver = argv[++i];
    } else {
      return usageError(std::string(command.name) + " has no option '" + std::string(arg) + "'");
    }
  }
  return kOk;
}

int run(int argc, char **argv) {
  if (argc < 2) {
    printOverview();
    return kUsage;
  }
  std::string_view name = argv[1];
  if (name == "--help" || name == "-h") {
    printOverview();
    return kOk;
  }
  const Command *command = findCommand(name);
  if (command == nullptr) {
    return usageError("no command named '" + std::string(name) + "'");
  }
  Invocation inv;
  if (int status = parseOptions(*command, argc - 2, argv + 2, inv); status != kOk) {
    return status;
  }
  if (inv.help) {
    printCommandHelp(*command);
    return kOk;
  }
  return command->run(inv);
}

}  // namespace

int main(int argc, char **argv) {
  try {
    return run(argc, argv);
  } catch (const std::exception &e) {
    complain(e.what());
    return kFailed;
  }
}
