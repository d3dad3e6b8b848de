#include "ops.h"

#include <strings.h>

#include <algorithm>
#include <charconv>
#include <limits>
#include <unordered_set>

namespace pinst {

namespace {

bool IsListSection(std::string_view section) {
  return SameName(section, kDataSourcesSection) || SameName(section, kDriversSection);
}

// The parsed file into *doc, null when it is absent. False when the file is
// there but cannot be read (an error is posted, and *doc is null). Finding
// the file a write goes to stops there: the write is aimed at that file and
// fails, rather than landing in the next file of the mode, where the file
// that could not be read would still override it.
bool Readable(const File &file, DocPtr *doc) {
  std::string error;
  if (Load(file.path, doc, &error))
    return true;
  PostError(ODBC_ERROR_GENERAL_ERR, error);
  return false;
}

// The parsed file, or null when it is absent or unreadable (read as absent).
DocPtr Read(const File &file) {
  DocPtr doc;
  Readable(file, &doc);
  return doc;
}

bool Write(const File &file, const std::function<bool(Document &)> &edit, DWORD code) {
  std::string error;
  if (Update(file.path, file.how, edit, &error))
    return true;
  PostError(code, error);
  return false;
}

// The file a write of key in section goes to: in mode both the first file
// that has the key in that section, else the first that has the section,
// else the user's; in the other modes the mode's own file.
File TargetOf(Config config, std::string_view section, std::optional<std::string_view> key) {
  std::vector<File> files = FilesOf(config, Mode());
  if (files.size() == 1)
    return files.front();
  DocPtr doc;
  if (key)
    for (const File &f : files)
      if (!Readable(f, &doc) || (doc && doc->HasKey(section, *key)))
        return f;
  for (const File &f : files)
    if (!Readable(f, &doc) || (doc && doc->HasSection(section)))
      return f;
  return files.front();
}

// The first file of the mode whose document satisfies has, or none; or the
// first that cannot be read (see Readable).
std::optional<File> FirstWith(Config config, const std::function<bool(const Document &)> &has) {
  for (const File &f : FilesOf(config, Mode())) {
    DocPtr doc;
    if (!Readable(f, &doc) || (doc && has(*doc)))
      return f;
  }
  return std::nullopt;
}

void AddUnique(std::vector<std::string> *out, std::unordered_set<std::string> *seen,
               std::string_view name) {
  if (seen->insert(FoldName(name)).second)
    out->emplace_back(name);
}

DWORD ParseCount(std::string_view text, DWORD fallback) {
  DWORD v = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size() || v == 0)
    return fallback;
  return v;
}

std::string DirName(std::string_view path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos)
    return {};
  return std::string(path.substr(0, slash == 0 ? 1 : slash));
}

} // namespace

bool ConfigOfFile(const char *file, Config *config) {
  if (file != nullptr && ::strcasecmp(file, "odbc.ini") == 0) {
    *config = Config::kDataSources;
    return true;
  }
  if (file != nullptr && ::strcasecmp(file, "odbcinst.ini") == 0) {
    *config = Config::kDrivers;
    return true;
  }
  PostError(ODBC_ERROR_INVALID_NAME, "the file is neither odbc.ini nor odbcinst.ini");
  return false;
}

Profile GetProfile(Config config, const std::optional<std::string_view> &section,
                   const std::optional<std::string_view> &key, std::string_view defaultValue) {
  Profile out;
  std::vector<File> files = FilesOf(config, Mode());
  if (!section) {
    out.isList = true;
    std::unordered_set<std::string> seen;
    for (const File &f : files)
      if (DocPtr doc = Read(f))
        for (std::string_view name : doc->SectionNames())
          AddUnique(&out.names, &seen, name);
    return out;
  }
  bool merged = IsListSection(*section);
  if (!key) {
    out.isList = true;
    std::unordered_set<std::string> seen;
    for (const File &f : files) {
      DocPtr doc = Read(f);
      if (!doc || !doc->HasSection(*section))
        continue;
      for (std::string_view name : doc->Keys(*section))
        AddUnique(&out.names, &seen, name);
      if (!merged)
        break;
    }
    return out;
  }
  for (const File &f : files) {
    DocPtr doc = Read(f);
    if (!doc || !doc->HasSection(*section))
      continue;
    std::string_view v;
    if (doc->Get(*section, *key, &v)) {
      out.value = std::string(v);
      return out;
    }
    if (!merged)
      break;
  }
  out.value = std::string(defaultValue);
  return out;
}

bool WriteProfile(Config config, std::string_view section,
                  const std::optional<std::string_view> &key,
                  const std::optional<std::string_view> &value) {
  if (!CheckSection(section))
    return false;
  if (!key) {
    std::optional<File> where = FilesOf(config, Mode()).size() == 1
                                    ? std::optional<File>(FilesOf(config, Mode()).front())
                                    : FirstWith(config, [&](const Document &d) {
                                        return d.HasSection(section);
                                      });
    if (!where)
      return true;
    return Write(*where, [&](Document &d) { return d.RemoveSection(section); },
                 ODBC_ERROR_WRITING_SYSINFO_FAILED);
  }
  if (!CheckKey(*key))
    return false;
  if (!value) {
    std::optional<File> where = FilesOf(config, Mode()).size() == 1
                                    ? std::optional<File>(FilesOf(config, Mode()).front())
                                    : FirstWith(config, [&](const Document &d) {
                                        return d.HasKey(section, *key);
                                      });
    if (!where)
      return true;
    return Write(*where, [&](Document &d) { return d.RemoveKey(section, *key); },
                 ODBC_ERROR_WRITING_SYSINFO_FAILED);
  }
  if (!CheckValue(*value))
    return false;
  return Write(TargetOf(config, section, key),
               [&](Document &d) { return d.Set(section, *key, *value); },
               ODBC_ERROR_WRITING_SYSINFO_FAILED);
}

bool WriteDsn(std::string_view dsn, std::string_view driver) {
  if (!IsValidDsn(dsn)) {
    PostError(ODBC_ERROR_INVALID_DSN, "invalid data source name");
    return false;
  }
  if (!CheckSection(driver) || !CheckValue(driver))
    return false;
  // A registered driver's library path lets every driver manager load it,
  // also one that does not read the user's drivers file.
  std::string library(driver);
  for (const File &f : AllFilesOf(Config::kDrivers)) {
    DocPtr doc = Read(f);
    if (!doc || !doc->HasSection(driver))
      continue;
    std::string_view path;
    if (doc->Get(driver, "Driver", &path) && !path.empty())
      library = std::string(path);
    break;
  }
  return Write(TargetOf(Config::kDataSources, dsn, std::nullopt),
               [&](Document &d) {
                 bool a = d.Set(kDataSourcesSection, dsn, driver);
                 bool b = d.Set(dsn, "Driver", library);
                 return a || b;
               },
               ODBC_ERROR_CREATE_DSN_FAILED);
}

bool RemoveDsn(std::string_view dsn) {
  if (dsn.empty() || !ValidUtf8(dsn)) {
    PostError(ODBC_ERROR_INVALID_DSN, "invalid data source name");
    return false;
  }
  auto has = [&](const Document &d) {
    return d.HasSection(dsn) || d.HasKey(kDataSourcesSection, dsn);
  };
  std::optional<File> where = FirstWith(Config::kDataSources, has);
  if (!where)
    return true;
  return Write(*where,
               [&](Document &d) {
                 bool a = d.RemoveKey(kDataSourcesSection, dsn);
                 bool b = d.RemoveSection(dsn);
                 return a || b;
               },
               ODBC_ERROR_REMOVE_DSN_FAILED);
}

bool GetKeyword(std::string_view dsn, std::string_view key, std::string *value) {
  for (const File &f : FilesOf(Config::kDataSources, Mode())) {
    DocPtr doc = Read(f);
    if (!doc || !doc->HasSection(dsn))
      continue;
    std::string_view v;
    if (!doc->Get(dsn, key, &v)) {
      PostError(ODBC_ERROR_COMPONENT_NOT_FOUND, "the data source has no such key");
      return false;
    }
    *value = std::string(v);
    return true;
  }
  PostError(ODBC_ERROR_INVALID_DSN, "no such data source");
  return false;
}

bool SetKeyword(std::string_view dsn, std::string_view key, std::string_view value) {
  if (!CheckSection(dsn, ODBC_ERROR_INVALID_DSN) || !CheckKey(key) || !CheckValue(value))
    return false;
  std::optional<File> where =
      FirstWith(Config::kDataSources, [&](const Document &d) { return d.HasSection(dsn); });
  bool missing = !where;
  if (where &&
      !Write(*where,
             [&](Document &d) {
               // Removed by another process since it was found. In a batch
               // this is asked again when the batch is committed.
               missing = !d.HasSection(dsn);
               return !missing && d.SetExisting(dsn, key, value);
             },
             ODBC_ERROR_WRITING_SYSINFO_FAILED))
    return false;
  if (missing) {
    PostError(ODBC_ERROR_INVALID_DSN, "no such data source");
    return false;
  }
  return true;
}

bool InstallDriver(const std::vector<std::string> &list, const std::optional<std::string> &pathIn,
                   WORD request, std::string *pathOut, DWORD *usageCount) {
  if (list.empty() || list.front().empty()) {
    PostError(ODBC_ERROR_INVALID_NAME, "no driver name");
    return false;
  }
  const std::string &name = list.front();
  if (!CheckSection(name) || !CheckKey(name))
    return false;
  std::vector<std::pair<std::string, std::string>> pairs;
  for (std::size_t i = 1; i < list.size(); ++i) {
    std::size_t eq = list[i].find('=');
    if (eq == std::string::npos) {
      PostError(ODBC_ERROR_INVALID_KEYWORD_VALUE, "a driver attribute has no '='");
      return false;
    }
    std::string key = list[i].substr(0, eq);
    std::string value = list[i].substr(eq + 1);
    if (!CheckKey(key) || !CheckValue(value))
      return false;
    if (SameName(key, "UsageCount"))
      continue;
    pairs.emplace_back(std::move(key), std::move(value));
  }
  if (request != ODBC_INSTALL_INQUIRY && request != ODBC_INSTALL_COMPLETE) {
    PostError(ODBC_ERROR_INVALID_REQUEST_TYPE);
    return false;
  }
  File target = TargetOf(Config::kDrivers, name, std::nullopt);
  if (pathIn && !pathIn->empty()) {
    *pathOut = *pathIn;
  } else {
    *pathOut = DirName(target.path);
    for (const auto &[k, v] : pairs)
      if (SameName(k, "Driver") && v.find('/') != std::string::npos)
        *pathOut = DirName(v);
  }
  if (request == ODBC_INSTALL_INQUIRY)
    return true;
  DWORD count = 0;
  bool ok = Write(target,
                  [&](Document &d) {
                    // A section without a count was registered by hand or by
                    // another tool: it is installed once.
                    std::string_view old;
                    count = d.Get(name, "UsageCount", &old) ? ParseCount(old, 1)
                            : d.HasSection(name)            ? 1
                                                            : 0;
                    if (count < std::numeric_limits<DWORD>::max())
                      ++count; // else it stays at the most it can count
                    d.Set(kDriversSection, name, "Installed");
                    for (const auto &[k, v] : pairs)
                      d.Set(name, k, v);
                    d.Set(name, "UsageCount", std::to_string(count));
                    return true;
                  },
                  ODBC_ERROR_USAGE_UPDATE_FAILED);
  if (ok && usageCount != nullptr)
    *usageCount = count;
  return ok;
}

bool RemoveDriver(std::string_view driver, bool removeDsns, DWORD *usageCount) {
  if (driver.empty() || !ValidUtf8(driver)) {
    PostError(ODBC_ERROR_INVALID_NAME, "invalid driver name");
    return false;
  }
  auto registered = [&](const Document &d) {
    return d.HasSection(driver) || d.HasKey(kDriversSection, driver);
  };
  std::optional<File> where = FirstWith(Config::kDrivers, registered);
  bool missing = !where;
  DWORD count = 0;
  std::string library;
  if (where && !Write(*where,
                      [&](Document &d) {
                        missing = !registered(d);
                        if (missing)
                          return false;
                        std::string_view v;
                        count = d.Get(driver, "UsageCount", &v) ? ParseCount(v, 1) : 1;
                        --count;
                        if (count > 0)
                          return d.Set(driver, "UsageCount", std::to_string(count));
                        library = d.Get(driver, "Driver", &v) ? std::string(v) : std::string();
                        d.RemoveKey(kDriversSection, driver);
                        d.RemoveSection(driver);
                        return true;
                      },
                      ODBC_ERROR_USAGE_UPDATE_FAILED))
    return false;
  if (missing) {
    PostError(ODBC_ERROR_COMPONENT_NOT_FOUND, "the driver is not installed");
    return false;
  }
  if (usageCount != nullptr)
    *usageCount = count;
  if (count > 0 || !removeDsns)
    return true;
  // The data sources of the configuration the driver was registered in.
  std::vector<File> dsnFiles = AllFilesOf(Config::kDataSources);
  const File &dsnFile = where->path == AllFilesOf(Config::kDrivers).front().path
                            ? dsnFiles.front()
                            : dsnFiles.back();
  return Write(dsnFile,
               [&](Document &d) {
                 std::vector<std::string> doomed;
                 for (std::string_view dsn : d.Keys(kDataSourcesSection)) {
                   std::string_view v;
                   if (d.Get(kDataSourcesSection, dsn, &v) && SameName(v, driver))
                     doomed.emplace_back(dsn);
                 }
                 for (std::string_view section : d.SectionNames()) {
                   std::string_view v;
                   if (!IsListSection(section) && d.Get(section, "Driver", &v) &&
                       (SameName(v, driver) || (!library.empty() && v == library)))
                     doomed.emplace_back(section);
                 }
                 bool changed = false;
                 for (const std::string &dsn : doomed) {
                   changed |= d.RemoveKey(kDataSourcesSection, dsn);
                   changed |= d.RemoveSection(dsn);
                 }
                 return changed;
               },
               ODBC_ERROR_REMOVE_DSN_FAILED);
}

std::vector<std::string> InstalledDrivers() {
  std::vector<std::string> out;
  std::unordered_set<std::string> seen;
  for (const File &f : FilesOf(Config::kDrivers, Mode())) {
    DocPtr doc = Read(f);
    if (!doc)
      continue;
    for (std::string_view name : doc->Keys(kDriversSection))
      AddUnique(&out, &seen, name);
    // Drivers registered by tools that keep no list have their section only.
    for (std::string_view name : doc->SectionNames())
      if (!SameName(name, kDriversSection) && !SameName(name, "ODBC"))
        AddUnique(&out, &seen, name);
  }
  return out;
}

} // namespace pinst
