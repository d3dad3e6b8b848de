// The exported C entry points: each checks its arguments, runs the operation
// on UTF-8 text and lets no exception out.
#include <algorithm>
#include <cstring>
#include <cwchar>
#include <new>

#include "common.h"
#include "ops.h"
#include "pelmarinst.h"

using namespace pinst;

namespace {

std::optional<std::string_view> Opt(const char *s) {
  return s != nullptr ? std::optional<std::string_view>(s) : std::nullopt;
}

// Wide text to UTF-8; posts ODBC_ERROR_INVALID_STR when it has a character
// that UTF-8 cannot carry.
bool Narrow(const wchar_t *in, std::string *out, std::size_t len = static_cast<std::size_t>(-1)) {
  if (len == static_cast<std::size_t>(-1))
    len = std::wcslen(in);
  if (WideToUtf8(in, len, out))
    return true;
  PostError(ODBC_ERROR_INVALID_STR, "the text holds a character outside Unicode");
  return false;
}

bool NarrowOpt(const wchar_t *in, std::optional<std::string> *out) {
  if (in == nullptr) {
    out->reset();
    return true;
  }
  std::string s;
  if (!Narrow(in, &s))
    return false;
  *out = std::move(s);
  return true;
}

std::optional<std::string_view> View(const std::optional<std::string> &s) {
  return s ? std::optional<std::string_view>(*s) : std::nullopt;
}

int FillNarrow(std::string_view value, char *buffer, std::size_t size) {
  std::size_t n = CutUtf8(value, size - 1);
  std::memcpy(buffer, value.data(), n);
  buffer[n] = 0;
  return static_cast<int>(n);
}

int FillWide(std::wstring_view value, wchar_t *buffer, std::size_t size) {
  std::size_t n = std::min(value.size(), size - 1);
  std::wmemcpy(buffer, value.data(), n);
  buffer[n] = 0;
  return static_cast<int>(n);
}

WORD Clamp(std::size_t n) { return n > 0xFFFF ? WORD(0xFFFF) : static_cast<WORD>(n); }

template <typename Char>
std::vector<std::basic_string<Char>> ListOf(const Char *list) {
  std::vector<std::basic_string<Char>> out;
  if (list == nullptr)
    return out;
  for (const Char *p = list; *p != 0;) {
    std::basic_string<Char> s(p);
    p += s.size() + 1;
    out.push_back(std::move(s));
  }
  return out;
}

} // namespace

extern "C" {

BOOL SQLGetConfigMode(UWORD *mode) {
  return Guard<BOOL>(FALSE, [&] {
    ClearErrors();
    if (mode == nullptr) {
      PostError(ODBC_ERROR_INVALID_BUFF_LEN, "no place for the mode");
      return FALSE;
    }
    *mode = Mode();
    return TRUE;
  });
}

BOOL SQLSetConfigMode(UWORD mode) {
  return Guard<BOOL>(FALSE, [&] {
    ClearErrors();
    if (mode > ODBC_SYSTEM_DSN) {
      PostError(ODBC_ERROR_INVALID_PARAM_SEQUENCE, "unknown configuration mode");
      return FALSE;
    }
    SetMode(mode);
    return TRUE;
  });
}

RETCODE SQLPostInstallerError(DWORD errorCode, LPCSTR message) {
  return Guard<RETCODE>(SQL_ERROR, [&]() -> RETCODE {
    if (errorCode < ODBC_ERROR_GENERAL_ERR || errorCode > ODBC_ERROR_DRIVER_SPECIFIC)
      return SQL_ERROR;
    PostError(errorCode, message != nullptr ? std::string(message) : std::string());
    return SQL_SUCCESS;
  });
}

RETCODE SQLInstallerError(WORD index, DWORD *errorCode, LPSTR message, WORD messageMax,
                          WORD *messageLength) {
  return Guard<RETCODE>(SQL_ERROR, [&]() -> RETCODE {
    if (index < 1 || index > 8)
      return SQL_ERROR;
    DWORD code;
    std::string text;
    if (!ErrorAt(index, &code, &text))
      return SQL_NO_DATA;
    if (errorCode != nullptr)
      *errorCode = code;
    if (messageLength != nullptr)
      *messageLength = Clamp(text.size());
    if (message == nullptr)
      return SQL_SUCCESS;
    if (messageMax == 0)
      return SQL_SUCCESS_WITH_INFO;
    int n = FillNarrow(text, message, messageMax);
    return static_cast<std::size_t>(n) < text.size() ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
  });
}

RETCODE SQLInstallerErrorW(WORD index, DWORD *errorCode, LPWSTR message, WORD messageMax,
                           WORD *messageLength) {
  return Guard<RETCODE>(SQL_ERROR, [&]() -> RETCODE {
    if (index < 1 || index > 8)
      return SQL_ERROR;
    DWORD code;
    std::string text;
    if (!ErrorAt(index, &code, &text))
      return SQL_NO_DATA;
    std::wstring wide = Utf8ToWideLossy(text);
    if (errorCode != nullptr)
      *errorCode = code;
    if (messageLength != nullptr)
      *messageLength = Clamp(wide.size());
    if (message == nullptr)
      return SQL_SUCCESS;
    if (messageMax == 0)
      return SQL_SUCCESS_WITH_INFO;
    int n = FillWide(wide, message, messageMax);
    return static_cast<std::size_t>(n) < wide.size() ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
  });
}

int SQLGetPrivateProfileString(LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR buffer,
                               int bufferSize, LPCSTR file) {
  return Guard<int>(0, [&] {
    ClearErrors();
    if (buffer == nullptr || bufferSize <= 0) {
      PostError(ODBC_ERROR_INVALID_BUFF_LEN);
      return 0;
    }
    buffer[0] = 0;
    Config config;
    if (!ConfigOfFile(file, &config))
      return 0;
    Profile p = GetProfile(config, Opt(section), Opt(key),
                           defaultValue != nullptr ? defaultValue : "");
    if (!p.isList)
      return FillNarrow(p.value, buffer, static_cast<std::size_t>(bufferSize));
    return FillList(p.names, buffer, static_cast<std::size_t>(bufferSize));
  });
}

int SQLGetPrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR defaultValue,
                                LPWSTR buffer, int bufferSize, LPCWSTR file) {
  return Guard<int>(0, [&] {
    ClearErrors();
    if (buffer == nullptr || bufferSize <= 0) {
      PostError(ODBC_ERROR_INVALID_BUFF_LEN);
      return 0;
    }
    buffer[0] = 0;
    std::optional<std::string> s, k, d, f;
    if (!NarrowOpt(section, &s) || !NarrowOpt(key, &k) || !NarrowOpt(defaultValue, &d) ||
        !NarrowOpt(file, &f))
      return 0;
    Config config;
    if (!ConfigOfFile(f ? f->c_str() : nullptr, &config))
      return 0;
    Profile p = GetProfile(config, View(s), View(k), d ? std::string_view(*d) : "");
    if (!p.isList)
      return FillWide(Utf8ToWideLossy(p.value), buffer, static_cast<std::size_t>(bufferSize));
    std::vector<std::wstring> names;
    names.reserve(p.names.size());
    for (const std::string &n : p.names)
      names.push_back(Utf8ToWideLossy(n));
    return FillList(names, buffer, static_cast<std::size_t>(bufferSize));
  });
}

BOOL SQLWritePrivateProfileString(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR file) {
  return Guard<BOOL>(FALSE, [&] {
    ClearErrors();
    Config config;
    if (!ConfigOfFile(file, &config))
      return FALSE;
    if (section == nullptr) {
      PostError(ODBC_ERROR_INVALID_NAME, "no section");
      return FALSE;
    }
    return WriteProfile(config, section, Opt(key), Opt(value)) ? TRUE : FALSE;
  });
}

BOOL SQLWritePrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR value, LPCWSTR file) {
  return Guard<BOOL>(FALSE, [&] {
    ClearErrors();
    std::optional<std::string> s, k, v, f;
    if (!NarrowOpt(section, &s) || !NarrowOpt(key, &k) || !NarrowOpt(value, &v) ||
        !NarrowOpt(file, &f))
      return FALSE;
    Config config;
    if (!ConfigOfFile(f ? f->c_str() : nullptr, &config))
      return FALSE;
    if (!s) {
      PostError(ODBC_ERROR_INVALID_NAME, "no section");
      return FALSE;
    }
    return WriteProfile(config, *s, View(k), View(v)) ? TRUE : FALSE;
  });
}

BOOL SQLWriteDSNToIni(LPCSTR dsn, LPCSTR driver) {
  return Guard<BOOL>(FALSE, [&] {
    ClearErrors();
    if (dsn == nullptr || driver == nullptr) {
      PostError(dsn == nullptr ? ODBC_ERROR_INVALID_DSN : ODBC_ERROR_INVALID_NAME);
      return FALSE;
    }
    return WriteDsn(dsn, driver) ? TRUE : FALSE;
  });
}

BOOL SQLWriteDSNToIniW(LPCWSTR dsn, LPCWSTR driver) {
  return Guard<BOOL>(FALSE, [&] {
    ClearErrors();
    if (dsn == nullptr || driver == nullptr) {
      PostError(dsn == nullptr ? ODBC_ERROR_INVALID_DSN : ODBC_ERROR_INVALID_NAME);
      return FALSE;
    }
    std::string d, r;
    if (!Narrow(dsn, &d) || !Narrow(driver, &r))
      return FALSE;
    return WriteDsn(d, r) ? TRUE : FALSE;
  });
}

BOOL SQLRemoveDSNFromIni(LPCSTR dsn) {
  return Guard<BOOL>(FALSE, [&] {
    ClearErrors();
    if (dsn == nullptr) {
      PostError(ODBC_ERROR_INVALID_DSN);
      return FALSE;
    }
    return RemoveDsn(dsn) ? TRUE : FALSE;
  });
}

BOOL SQLRemoveDSNFromIniW(LPCWSTR dsn) {
  return Guard<BOOL>(FALSE, [&] {
    ClearErrors();
    std::string d;
    if (dsn == nullptr) {
      PostError(ODBC_ERROR_INVALID_DSN);
      return FALSE;
    }
    if (!Narrow(dsn, &d))
      return FALSE;
    return RemoveDsn(d) ? TRUE : FALSE;
  });
}

BOOL SQLValidDSN(LPCSTR dsn) {
  return Guard<BOOL>(FALSE, [&] {
    ClearErrors();
    return dsn != nullptr && IsValidDsn(dsn) ? TRUE : FALSE;
  });
}

BOOL SQLValidDSNW(LPCWSTR dsn) {
  return Guard<BOOL>(FALSE, [&] {
    ClearErrors();
    std::string d;
    return dsn != nullptr && WideToUtf8(dsn, std::wcslen(dsn), &d) && IsValidDsn(d) ? TRUE
                                                                                   : FALSE;
  });
}

BOOL SQLGetKeywordValue(LPCSTR dsn, LPCSTR key, LPSTR buffer, int bufferSize, int *length) {
  return Guard<BOOL>(FALSE, [&] {
    ClearErrors();
    if (dsn == nullptr || key == nullptr) {
      PostError(dsn == nullptr ? ODBC_ERROR_INVALID_DSN : ODBC_ERROR_INVALID_KEYWORD_VALUE);
      return FALSE;
    }
    std::string value;
    if (!GetKeyword(dsn, key, &value))
      return FALSE;
    if (buffer != nullptr && bufferSize > 0)
      FillNarrow(value, buffer, static_cast<std::size_t>(bufferSize));
    if (length != nullptr)
      *length = static_cast<int>(value.size());
    return TRUE;
  });
}

BOOL SQLGetKeywordValueW(LPCWSTR dsn, LPCWSTR key, LPWSTR buffer, int bufferSize, int *length) {
  return Guard<BOOL>(FALSE, [&] {
    ClearErrors();
    if (dsn == nullptr || key == nullptr) {
      PostError(dsn == nullptr ? ODBC_ERROR_INVALID_DSN : ODBC_ERROR_INVALID_KEYWORD_VALUE);
      return FALSE;
    }
    std::string d, k, value;
    if (!Narrow(dsn, &d) || !Narrow(key, &k) || !GetKeyword(d, k, &value))
      return FALSE;
    std::wstring wide = Utf8ToWideLossy(value);
    if (buffer != nullptr && bufferSize > 0)
      FillWide(wide, buffer, static_cast<std::size_t>(bufferSize));
    if (length != nullptr)
      *length = static_cast<int>(wide.size());
    return TRUE;
  });
}

BOOL SQLSetKeywordValue(LPCSTR dsn, LPCSTR key, LPCSTR value, int length) {
  return Guard<BOOL>(FALSE, [&] {
    ClearErrors();
    if (dsn == nullptr || key == nullptr || value == nullptr) {
      PostError(dsn == nullptr ? ODBC_ERROR_INVALID_DSN : ODBC_ERROR_INVALID_KEYWORD_VALUE);
      return FALSE;
    }
    std::string_view v = length < 0 ? std::string_view(value)
                                    : std::string_view(value, static_cast<std::size_t>(length));
    return SetKeyword(dsn, key, v) ? TRUE : FALSE;
  });
}

BOOL SQLSetKeywordValueW(LPCWSTR dsn, LPCWSTR key, LPCWSTR value, int length) {
  return Guard<BOOL>(FALSE, [&] {
    ClearErrors();
    if (dsn == nullptr || key == nullptr || value == nullptr) {
      PostError(dsn == nullptr ? ODBC_ERROR_INVALID_DSN : ODBC_ERROR_INVALID_KEYWORD_VALUE);
      return FALSE;
    }
    std::string d, k, v;
    std::size_t len = length < 0 ? std::wcslen(value) : static_cast<std::size_t>(length);
    if (!Narrow(dsn, &d) || !Narrow(key, &k) || !Narrow(value, &v, len))
      return FALSE;
    return SetKeyword(d, k, v) ? TRUE : FALSE;
  });
}

BOOL SQLInstallDriverEx(LPCSTR driver, LPCSTR pathIn, LPSTR pathOut, WORD pathOutMax,
                        WORD *pathOutLength, WORD request, LPDWORD usageCount) {
  return Guard<BOOL>(FALSE, [&] {
    ClearErrors();
    std::string out;
    std::optional<std::string> in;
    if (pathIn != nullptr)
      in = pathIn;
    if (!InstallDriver(ListOf(driver), in, request, &out, usageCount))
      return FALSE;
    if (pathOutLength != nullptr)
      *pathOutLength = Clamp(out.size());
    if (pathOut != nullptr && pathOutMax > 0 &&
        static_cast<std::size_t>(FillNarrow(out, pathOut, pathOutMax)) < out.size())
      PostError(ODBC_ERROR_OUTPUT_STRING_TRUNCATED, "the install path did not fit");
    return TRUE;
  });
}

BOOL SQLInstallDriverExW(LPCWSTR driver, LPCWSTR pathIn, LPWSTR pathOut, WORD pathOutMax,
                         WORD *pathOutLength, WORD request, LPDWORD usageCount) {
  return Guard<BOOL>(FALSE, [&] {
    ClearErrors();
    std::vector<std::string> list;
    for (const std::wstring &s : ListOf(driver)) {
      std::string n;
      if (!Narrow(s.c_str(), &n, s.size()))
        return FALSE;
      list.push_back(std::move(n));
    }
    std::optional<std::string> in;
    if (!NarrowOpt(pathIn, &in))
      return FALSE;
    std::string out;
    if (!InstallDriver(list, in, request, &out, usageCount))
      return FALSE;
    std::wstring wide = Utf8ToWideLossy(out);
    if (pathOutLength != nullptr)
      *pathOutLength = Clamp(wide.size());
    if (pathOut != nullptr && pathOutMax > 0 &&
        static_cast<std::size_t>(FillWide(wide, pathOut, pathOutMax)) < wide.size())
      PostError(ODBC_ERROR_OUTPUT_STRING_TRUNCATED, "the install path did not fit");
    return TRUE;
  });
}

BOOL SQLRemoveDriver(LPCSTR driver, BOOL removeDSNs, LPDWORD usageCount) {
  return Guard<BOOL>(FALSE, [&] {
    ClearErrors();
    if (driver == nullptr) {
      PostError(ODBC_ERROR_INVALID_NAME);
      return FALSE;
    }
    return RemoveDriver(driver, removeDSNs != FALSE, usageCount) ? TRUE : FALSE;
  });
}

BOOL SQLRemoveDriverW(LPCWSTR driver, BOOL removeDSNs, LPDWORD usageCount) {
  return Guard<BOOL>(FALSE, [&] {
    ClearErrors();
    std::string d;
    if (driver == nullptr) {
      PostError(ODBC_ERROR_INVALID_NAME);
      return FALSE;
    }
    if (!Narrow(driver, &d))
      return FALSE;
    return RemoveDriver(d, removeDSNs != FALSE, usageCount) ? TRUE : FALSE;
  });
}

BOOL SQLGetInstalledDrivers(LPSTR buffer, WORD bufferMax, WORD *bufferLength) {
  return Guard<BOOL>(FALSE, [&] {
    ClearErrors();
    if (buffer == nullptr || bufferMax == 0) {
      PostError(ODBC_ERROR_INVALID_BUFF_LEN);
      return FALSE;
    }
    int n = FillList(InstalledDrivers(), buffer, bufferMax);
    if (bufferLength != nullptr)
      *bufferLength = static_cast<WORD>(n);
    return TRUE;
  });
}

BOOL SQLGetInstalledDriversW(LPWSTR buffer, WORD bufferMax, WORD *bufferLength) {
  return Guard<BOOL>(FALSE, [&] {
    ClearErrors();
    if (buffer == nullptr || bufferMax == 0) {
      PostError(ODBC_ERROR_INVALID_BUFF_LEN);
      return FALSE;
    }
    std::vector<std::wstring> names;
    for (const std::string &n : InstalledDrivers())
      names.push_back(Utf8ToWideLossy(n));
    int n = FillList(names, buffer, bufferMax);
    if (bufferLength != nullptr)
      *bufferLength = static_cast<WORD>(n);
    return TRUE;
  });
}

BOOL pelmarinst_begin_writes(void) {
  return Guard<BOOL>(FALSE, [&] {
    ClearErrors();
    if (!BeginBatch()) {
      PostError(ODBC_ERROR_INVALID_PARAM_SEQUENCE, "a batch of writes is open already");
      return FALSE;
    }
    return TRUE;
  });
}

BOOL pelmarinst_commit_writes(void) {
  return Guard<BOOL>(FALSE, [&] {
    ClearErrors();
    std::string error;
    if (CommitBatch(&error))
      return TRUE;
    if (error.empty())
      PostError(ODBC_ERROR_INVALID_PARAM_SEQUENCE, "no batch of writes is open");
    else
      PostError(ODBC_ERROR_WRITING_SYSINFO_FAILED, error);
    return FALSE;
  });
}

BOOL pelmarinst_abort_writes(void) {
  return Guard<BOOL>(FALSE, [&] {
    ClearErrors();
    AbortBatch();
    return TRUE;
  });
}

} // extern "C"
