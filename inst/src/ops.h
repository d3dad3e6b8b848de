// The installer operations on UTF-8 text, shared by the narrow and the wide
// entry points. Each posts its errors; none clears the queue.
#ifndef PELMARINST_OPS_H
#define PELMARINST_OPS_H

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common.h"

namespace pinst {

constexpr std::string_view kDataSourcesSection = "ODBC Data Sources";
constexpr std::string_view kDriversSection = "ODBC Drivers";

// "odbc.ini" or "odbcinst.ini" (any case) to its configuration; posts
// ODBC_ERROR_INVALID_NAME for any other file.
bool ConfigOfFile(const char *file, Config *config);

struct Profile {
  bool isList = false;
  std::string value;               // when !isList
  std::vector<std::string> names;  // when isList
};
// A null section lists the section names, a null key the section's keys;
// otherwise the key's value or the default. Sections "ODBC Data Sources" and
// "ODBC Drivers" are read across the files of the mode, user entries first;
// any other section is read from the first file of the mode that has it.
Profile GetProfile(Config config, const std::optional<std::string_view> &section,
                   const std::optional<std::string_view> &key, std::string_view defaultValue);

// A null key removes the section, a null value the key.
bool WriteProfile(Config config, std::string_view section,
                  const std::optional<std::string_view> &key,
                  const std::optional<std::string_view> &value);

bool WriteDsn(std::string_view dsn, std::string_view driver);
bool RemoveDsn(std::string_view dsn);
bool GetKeyword(std::string_view dsn, std::string_view key, std::string *value);
bool SetKeyword(std::string_view dsn, std::string_view key, std::string_view value);

// list: the driver name first, then its key=value pairs.
bool InstallDriver(const std::vector<std::string> &list, const std::optional<std::string> &pathIn,
                   WORD request, std::string *pathOut, DWORD *usageCount);
bool RemoveDriver(std::string_view driver, bool removeDsns, DWORD *usageCount);
std::vector<std::string> InstalledDrivers();

// Fills a buffer with a list of names, each terminated, ended by an empty
// string; only whole names are copied. Returns the units used, the final
// terminator not counted.
template <typename Char>
int FillList(const std::vector<std::basic_string<Char>> &names, Char *buffer, std::size_t size) {
  if (buffer == nullptr || size == 0)
    return 0;
  std::size_t pos = 0;
  for (const auto &name : names) {
    if (pos + name.size() + 2 > size)
      break;
    std::copy(name.begin(), name.end(), buffer + pos);
    pos += name.size();
    buffer[pos++] = 0;
  }
  buffer[pos] = 0;
  if (pos == 0 && size > 1)
    buffer[1] = 0;
  return static_cast<int>(pos);
}

} // namespace pinst

#endif
