// Per-user preferences: one JSON object per domain, in
// "$XDG_CONFIG_HOME/<domain>.json".
//
// Writers of the same user take a lock on "<file>.lock" around read, change
// and rename, so that two processes storing different keys at once both keep
// their change; readers take no lock, because a rename replaces the file in
// one step and they see the old or the new one whole.
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "toolkit/platform.h"
#include "toolkit/utf16.h"

namespace hvl {

namespace {

using json = nlohmann::json;

std::string ConfigFolder() {
  const char *xdg = std::getenv("XDG_CONFIG_HOME");
  // The base directory rules ignore a relative value.
  if (xdg != nullptr && xdg[0] == '/')
    return xdg;
  const char *home = std::getenv("HOME");
  if (home != nullptr && home[0] != '\0')
    return std::string(home) + "/.config";
  return {};
}

bool MakeFolders(const std::string &path) {
  std::string partial;
  std::size_t pos = 0;
  while (pos != std::string::npos) {
    pos = path.find('/', pos + 1);
    partial = path.substr(0, pos);
    if (partial.empty())
      continue;
    if (mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST)
      return false;
  }
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

enum class Load { Absent, Ok, Bad };

Load LoadObject(const std::string &path, json *out) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0)
    return errno == ENOENT || errno == ENOTDIR ? Load::Absent : Load::Bad;
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return Load::Bad;
  std::stringstream text;
  text << in.rdbuf();
  if (in.bad())
    return Load::Bad;
  json parsed = json::parse(text.str(), nullptr, false);
  if (parsed.is_discarded() || !parsed.is_object())
    return Load::Bad;
  *out = std::move(parsed);
  return Load::Ok;
}

bool WriteAll(int fd, const std::string &data) {
  std::size_t done = 0;
  while (done < data.size()) {
    ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool ReplaceFile(const std::string &path, const std::string &data) {
  std::string temp = path + ".XXXXXX";
  int fd = mkstemp(temp.data());
  if (fd < 0)
    return false;
  bool ok = fchmod(fd, 0600) == 0 && WriteAll(fd, data) && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  if (ok && rename(temp.c_str(), path.c_str()) == 0)
    return true;
  unlink(temp.c_str());
  return false;
}

} // namespace

std::string PreferencesPath(const std::string &domain) {
  std::string folder = ConfigFolder();
  if (folder.empty() || domain.empty() || domain.find('/') != std::string::npos)
    return {};
  return folder + "/" + domain + ".json";
}

PrefRead PreferencesCopyAppValue(const std::string &key, const std::string &domain,
                                 PrefValue *out) {
  std::string path = PreferencesPath(domain);
  if (path.empty() || out == nullptr)
    return PrefRead::Absent;
  try {
    json object;
    switch (LoadObject(path, &object)) {
    case Load::Absent:
      return PrefRead::Absent;
    case Load::Bad:
      return PrefRead::Unreadable;
    case Load::Ok:
      break;
    }
    auto it = object.find(key);
    if (it == object.end())
      return PrefRead::Absent;
    PrefValue value;
    if (it->is_string()) {
      value.type = PrefValue::Type::String;
      value.string = detail::Utf8ToUtf16(it->get_ref<const std::string &>());
    } else if (it->is_array()) {
      value.type = PrefValue::Type::List;
      for (const auto &item : *it) {
        if (item.is_string())
          value.list.emplace_back(detail::Utf8ToUtf16(item.get_ref<const std::string &>()));
        else
          value.list.emplace_back(std::nullopt);
      }
    } else {
      value.type = PrefValue::Type::Other;
    }
    *out = std::move(value);
    return PrefRead::Found;
  } catch (...) {
    return PrefRead::Unreadable;
  }
}

bool PreferencesSetAppValue(const std::string &key, const std::string &domain,
                            const std::vector<PlatformString> &list) {
  std::string path = PreferencesPath(domain);
  if (path.empty() || !MakeFolders(ConfigFolder()))
    return false;
  int lockFd = open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lockFd < 0)
    return false;
  bool ok = false;
  if (flock(lockFd, LOCK_EX) == 0) {
    try {
      json object = json::object();
      // An unreadable file may be the user's hand edit: keep it rather than
      // overwrite everything it holds.
      if (LoadObject(path, &object) != Load::Bad) {
        json items = json::array();
        for (const auto &s : list)
          items.push_back(detail::Utf16ToUtf8(s));
        object[key] = std::move(items);
        ok = ReplaceFile(path, object.dump(2) + "\n");
      }
    } catch (...) {
      ok = false;
    }
  }
  close(lockFd);
  return ok;
}

bool PreferencesAppSynchronize(const std::string &domain) { return !PreferencesPath(domain).empty(); }

} // namespace hvl
