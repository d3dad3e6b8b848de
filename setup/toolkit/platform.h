// What the setup library has of its platform besides windows: the active
// toolkit, the bundle it was loaded from, per-user preferences, and the
// resource files that hold alerts. No Qt here: the front end is reached only
// through ActiveToolkit().
#ifndef HVL_TOOLKIT_PLATFORM_H
#define HVL_TOOLKIT_PLATFORM_H

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "toolkit/toolkit.h"

namespace hvl {

// ---- The active toolkit ----------------------------------------------------

// The toolkit the dialogs use; never null. Unless a test installed one, the
// first call loads the front end plugin "<bundle>/Contents/PlugIns/hvlqt.so"
// (once per process; it stays loaded). When it cannot be loaded, a message
// goes to standard error and a toolkit is returned whose OpenWindow fails with
// kErrNoFrontEnd, so the dialogs take their failure paths.
Toolkit &ActiveToolkit();

// Installs `toolkit` (not owned; null goes back to the default) for the calls
// that follow. Returns the toolkit installed before, null for the default.
Toolkit *SetActiveToolkit(Toolkit *toolkit);

// True once the front end plugin has been loaded into the process.
bool FrontEndLoaded();

// ---- The bundle -------------------------------------------------------------

// The bundle "com.halvernsw.vantor": the folder tree the setup library was
// loaded from, ".../<name>.bundle/Contents/MacOS/<executable>".
inline constexpr char kBundleIdentifier[] = "com.halvernsw.vantor";

struct Bundle {
  std::string directory;  // ".../Halvern Generic ODBC Driver.bundle"
  std::string contents;   // directory + "/Contents"
  std::string executable; // contents + "/MacOS/<name>": the setup library
  std::string resources;  // contents + "/Resources"
  std::string plugins;    // contents + "/PlugIns"
};

// The bundle with that identifier, or null for any other identifier or when
// the library's own path cannot be found. Not owned; lives as long as the
// process.
const Bundle *GetBundleWithIdentifier(const char *identifier);

// A value of the bundle's information: "CFBundleExecutablePath" (the
// library's path), "CFBundleIdentifier". Returns false for other keys or a
// null bundle.
bool BundleGetInfoValue(const Bundle *bundle, const char *key, PlatformString *out);

// For programs that link the library's code statically (the tests): makes
// the bundle the one at `bundleDirectory` ("....bundle") instead of the
// folder found through the loaded code. An empty string goes back to that.
void SetBundleDirectory(const std::string &bundleDirectory);

// ---- Preferences ---------------------------------------------------------------

// A preference value. A list's items that are not strings read as nullopt.
struct PrefValue {
  enum class Type { String, List, Other } type = Type::Other;
  PlatformString string;
  std::vector<std::optional<PlatformString>> list;
};

enum class PrefRead { Absent, Found, Unreadable };

// Reads `key` of the application domain `domain` from
// "$XDG_CONFIG_HOME/<domain>.json" (default ~/.config). Absent when the file
// or the key does not exist; Unreadable when the file exists but cannot be
// read or is not a JSON object (nothing is changed then).
PrefRead PreferencesCopyAppValue(const std::string &key, const std::string &domain,
                                 PrefValue *out);

// Stores a list of strings under `key`, keeping the file's other keys. The
// file is replaced atomically (a new file renamed over the old, under a lock
// shared by the user's processes), so readers see the old or the new file,
// never a mix. Returns false, changing nothing, when the folder cannot be
// made, the existing file is unreadable, or writing fails.
bool PreferencesSetAppValue(const std::string &key, const std::string &domain,
                            const std::vector<PlatformString> &list);

// Every store is written through at once; kept for the callers' sequence.
bool PreferencesAppSynchronize(const std::string &domain);

// The file that holds `domain`, or an empty string when no folder is known
// (neither XDG_CONFIG_HOME nor HOME set).
std::string PreferencesPath(const std::string &domain);

// ---- Resource files and alerts -------------------------------------------------

// Parses the text of a resource file (format: setup/resources/README.md).
// Returns the alerts by number, or nullopt with `error` saying the first bad
// line ("line N: ...").
std::optional<std::map<std::int16_t, AlertDefinition>> ParseResourceText(const std::string &text,
                                                                        std::string *error);

// The open resource files form a chain: the current file first, then the
// others, newest first. File number 0 stands for the library's own built-in
// resources, which hold no alerts.
std::int16_t CurResFile();
// Makes an open file current; an unknown number is ignored.
void UseResFile(std::int16_t refNum);
// Opens and parses a resource file read-only. noErr with *refNum set (the file
// is not made current), or kErrFileNotFound / kErrDefinitionUnreadable with
// *refNum = -1.
OSStatus OpenResourceFile(const std::string &path, std::int16_t *refNum);
// Closes an open file; when it was current, file 0 becomes current.
void CloseResFile(std::int16_t refNum);
// Shows alert `id` from the current file, else from the others in chain
// order, through the active toolkit. Returns the button pressed (from 1), or
// kErrResourceNotFound / the toolkit's negative status.
std::int32_t Alert(std::int16_t id);

} // namespace hvl

#endif
