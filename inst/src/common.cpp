#include "common.h"

#include <pwd.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>

namespace pinst {

namespace {

std::atomic<std::uint16_t> g_mode{ODBC_BOTH_DSN};

struct Posted {
  DWORD code;
  std::string message;
};
constexpr std::size_t kMaxErrors = 8;
PINST_THREAD_LOCAL std::vector<Posted> t_errors;

std::string Env(const char *name) {
  const char *v = std::getenv(name);
  return v != nullptr ? std::string(v) : std::string();
}

std::string Home() {
  std::string home = Env("HOME");
  if (!home.empty())
    return home;
  if (const struct passwd *pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr)
    return pw->pw_dir;
  return ".";
}

std::string SystemDir() {
  std::string dir = Env("ODBCSYSINI");
  if (dir.empty())
    dir = "/etc";
  while (dir.size() > 1 && dir.back() == '/')
    dir.pop_back();
  return dir;
}

File UserFile(Config config) {
  if (config == Config::kDataSources) {
    std::string ini = Env("ODBCINI");
    return {ini.empty() ? Home() + "/.odbc.ini" : ini, NewFile::kPrivate};
  }
  return {Home() + "/.odbcinst.ini", NewFile::kShared};
}

File SystemFile(Config config) {
  return {SystemDir() + (config == Config::kDataSources ? "/odbc.ini" : "/odbcinst.ini"),
          NewFile::kShared};
}

bool HasLineBreak(std::string_view s) {
  return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

bool EdgeSpace(std::string_view s) {
  return !s.empty() && (s.front() == ' ' || s.front() == '\t' || s.back() == ' ' ||
                        s.back() == '\t');
}

} // namespace

std::uint16_t Mode() { return g_mode.load(); }
void SetMode(std::uint16_t mode) { g_mode.store(mode); }

void ClearErrors() { t_errors.clear(); }

void PostError(DWORD code, std::string message) {
  if (t_errors.size() < kMaxErrors)
    t_errors.push_back({code, std::move(message)});
}

std::size_t ErrorCount() { return t_errors.size(); }

bool ErrorAt(std::size_t index, DWORD *code, std::string *message) {
  if (index < 1 || index > t_errors.size())
    return false;
  const Posted &e = t_errors[index - 1];
  *code = e.code;
  *message = e.message.empty() ? std::string(StandardText(e.code)) : e.message;
  return true;
}

const char *StandardText(DWORD code) {
  switch (code) {
  case ODBC_ERROR_GENERAL_ERR: return "General installer error";
  case ODBC_ERROR_INVALID_BUFF_LEN: return "Invalid buffer length";
  case ODBC_ERROR_INVALID_HWND: return "Invalid window handle";
  case ODBC_ERROR_INVALID_STR: return "Invalid string";
  case ODBC_ERROR_INVALID_REQUEST_TYPE: return "Invalid type of request";
  case ODBC_ERROR_COMPONENT_NOT_FOUND: return "Unable to find component name";
  case ODBC_ERROR_INVALID_NAME: return "Invalid driver or translator name";
  case ODBC_ERROR_INVALID_KEYWORD_VALUE: return "Invalid keyword-value pairs";
  case ODBC_ERROR_INVALID_DSN: return "Invalid DSN";
  case ODBC_ERROR_INVALID_INF: return "Invalid INF";
  case ODBC_ERROR_REQUEST_FAILED: return "General error request failed";
  case ODBC_ERROR_INVALID_PATH: return "Invalid install path";
  case ODBC_ERROR_LOAD_LIB_FAILED: return "Could not load the driver or translator setup library";
  case ODBC_ERROR_INVALID_PARAM_SEQUENCE: return "Invalid parameter sequence";
  case ODBC_ERROR_INVALID_LOG_FILE: return "Invalid log file";
  case ODBC_ERROR_USER_CANCELED: return "User canceled operation";
  case ODBC_ERROR_USAGE_UPDATE_FAILED: return "Could not increment or decrement the component usage count";
  case ODBC_ERROR_CREATE_DSN_FAILED: return "Could not create the requested DSN";
  case ODBC_ERROR_WRITING_SYSINFO_FAILED: return "Error writing sysinfo";
  case ODBC_ERROR_REMOVE_DSN_FAILED: return "Removing DSN failed";
  case ODBC_ERROR_OUT_OF_MEM: return "Out of memory";
  case ODBC_ERROR_OUTPUT_STRING_TRUNCATED: return "String right truncated";
  case ODBC_ERROR_DRIVER_SPECIFIC: return "Driver-specific error";
  default: return "Unknown installer error";
  }
}

std::vector<File> FilesOf(Config config, std::uint16_t mode) {
  switch (mode) {
  case ODBC_USER_DSN: return {UserFile(config)};
  case ODBC_SYSTEM_DSN: return {SystemFile(config)};
  default: return {UserFile(config), SystemFile(config)};
  }
}

std::vector<File> AllFilesOf(Config config) { return FilesOf(config, ODBC_BOTH_DSN); }

bool ValidUtf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    if (static_cast<unsigned char>(s[i]) < 0x80) {
      ++i;
      continue;
    }
    char32_t c;
    std::size_t n = DecodeUtf8(s, i, &c);
    if (n == 0)
      return false;
    i += n;
  }
  return true;
}

bool Utf8ToWide(std::string_view in, std::wstring *out) {
  out->clear();
  out->reserve(in.size());
  for (std::size_t i = 0; i < in.size();) {
    char32_t c;
    std::size_t n = DecodeUtf8(in, i, &c);
    if (n == 0)
      return false;
    out->push_back(static_cast<wchar_t>(c));
    i += n;
  }
  return true;
}

std::wstring Utf8ToWideLossy(std::string_view in) {
  std::wstring out;
  out.reserve(in.size());
  for (std::size_t i = 0; i < in.size();) {
    char32_t c;
    std::size_t n = DecodeUtf8(in, i, &c);
    if (n == 0) {
      out.push_back(static_cast<wchar_t>(0xFFFD));
      ++i;
    } else {
      out.push_back(static_cast<wchar_t>(c));
      i += n;
    }
  }
  return out;
}

bool WideToUtf8(const wchar_t *in, std::size_t len, std::string *out) {
  out->clear();
  out->reserve(len);
  for (std::size_t i = 0; i < len; ++i) {
    auto c = static_cast<std::uint32_t>(in[i]);
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
      return false;
    EncodeUtf8(c, out);
  }
  return true;
}

bool CheckSection(std::string_view s, DWORD code) {
  const char *why = nullptr;
  if (s.empty())
    why = "is empty";
  else if (HasLineBreak(s))
    why = "holds a line break";
  else if (s.find_first_of("[]") != std::string_view::npos)
    why = "holds '[' or ']'";
  else if (EdgeSpace(s))
    why = "begins or ends with a space";
  else if (!ValidUtf8(s))
    why = "is not UTF-8";
  if (why == nullptr)
    return true;
  PostError(code, std::string("section name ") + why);
  return false;
}

bool CheckKey(std::string_view s) {
  const char *why = nullptr;
  if (s.empty())
    why = "is empty";
  else if (HasLineBreak(s))
    why = "holds a line break";
  else if (s.find('=') != std::string_view::npos)
    why = "holds '='";
  else if (s.front() == ';' || s.front() == '#' || s.front() == '[')
    why = "begins with ';', '#' or '['";
  else if (EdgeSpace(s))
    why = "begins or ends with a space";
  else if (!ValidUtf8(s))
    why = "is not UTF-8";
  if (why == nullptr)
    return true;
  PostError(ODBC_ERROR_INVALID_KEYWORD_VALUE, std::string("key ") + why);
  return false;
}

bool CheckValue(std::string_view s) {
  const char *why = nullptr;
  if (HasLineBreak(s))
    why = "holds a line break";
  else if (EdgeSpace(s))
    why = "begins or ends with a space, which the file cannot keep";
  else if (!ValidUtf8(s))
    why = "is not UTF-8";
  if (why == nullptr)
    return true;
  PostError(ODBC_ERROR_INVALID_KEYWORD_VALUE, std::string("value ") + why);
  return false;
}

bool IsValidDsn(std::string_view dsn) {
  if (dsn.empty() || !ValidUtf8(dsn) || HasLineBreak(dsn) || EdgeSpace(dsn))
    return false;
  if (dsn.find_first_of("[]{}(),;?*=!@\\") != std::string_view::npos || dsn.front() == '#')
    return false;
  std::size_t chars = 0;
  for (char c : dsn)
    chars += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  for (char c : dsn)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
      return false;
  return chars <= 32;
}

std::size_t CutUtf8(std::string_view s, std::size_t max) {
  if (s.size() <= max)
    return s.size();
  std::size_t n = max;
  while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80)
    --n;
  return n;
}

} // namespace pinst
