#include "fake_inst.h"

#include <cstdlib>
#include <cwchar>

#include "pelmarinst.h"
#include "text/hvltext.h"

namespace fake_inst {

std::map<std::wstring, std::map<std::wstring, std::wstring>> values;
bool succeed_without_value = false;
std::vector<Call> calls;
unsigned mode = ODBC_BOTH_DSN;
int remove_result = TRUE;
int write_dsn_result = TRUE;
std::wstring refused_key;
std::vector<std::pair<unsigned, std::string>> posted;

void reset() {
  values.clear();
  succeed_without_value = false;
  calls.clear();
  mode = ODBC_BOTH_DSN;
  remove_result = TRUE;
  write_dsn_result = TRUE;
  refused_key.clear();
  posted.clear();
}

std::vector<std::string> ops() {
  std::vector<std::string> out;
  for (const Call &c : calls)
    out.push_back(c.op);
  return out;
}

namespace {
// Narrow arguments are UTF-8; the conversion is the library's own, which has
// tests of its own.
std::wstring widen(const char *s) {
  wchar_t *w = hvl::convert_char_to_wchar(s);
  std::wstring out = w != nullptr ? std::wstring(w) : std::wstring();
  std::free(w);
  return out;
}
std::wstring str(const wchar_t *s) { return s != nullptr ? std::wstring(s) : std::wstring(); }
void log(const char *op, std::vector<std::wstring> args, int length = 0) {
  calls.push_back(Call{op, mode, std::move(args), length});
}
} // namespace

} // namespace fake_inst

using namespace fake_inst;

extern "C" {

BOOL SQLGetConfigMode(UWORD *m) {
  log("SQLGetConfigMode", {});
  *m = static_cast<UWORD>(mode);
  return TRUE;
}

BOOL SQLSetConfigMode(UWORD m) {
  mode = m;
  log("SQLSetConfigMode", {std::to_wstring(m)});
  return TRUE;
}

BOOL SQLGetKeywordValueW(LPCWSTR dsn, LPCWSTR key, LPWSTR buffer, int size, int *length) {
  log("SQLGetKeywordValueW", {str(dsn), str(key)}, size);
  if (succeed_without_value)
    return TRUE;
  auto d = values.find(str(dsn));
  if (d == values.end())
    return FALSE;
  auto k = d->second.find(str(key));
  if (k == d->second.end())
    return FALSE;
  std::size_t n = k->second.size();
  if (size <= 0)
    return TRUE;
  if (n >= static_cast<std::size_t>(size))
    n = static_cast<std::size_t>(size) - 1;
  std::wmemcpy(buffer, k->second.data(), n);
  buffer[n] = 0;
  if (length != nullptr)
    *length = static_cast<int>(k->second.size());
  return TRUE;
}

BOOL SQLSetKeywordValue(LPCSTR dsn, LPCSTR key, LPCSTR value, int length) {
  log("SQLSetKeywordValue", {widen(dsn), widen(key), widen(value)}, length);
  return widen(key) == refused_key ? FALSE : TRUE;
}

BOOL SQLSetKeywordValueW(LPCWSTR dsn, LPCWSTR key, LPCWSTR value, int length) {
  log("SQLSetKeywordValueW", {str(dsn), str(key), str(value)}, length);
  return str(key) == refused_key ? FALSE : TRUE;
}

BOOL SQLWriteDSNToIni(LPCSTR dsn, LPCSTR driver) {
  log("SQLWriteDSNToIni", {widen(dsn), widen(driver)});
  return write_dsn_result;
}

BOOL SQLWriteDSNToIniW(LPCWSTR dsn, LPCWSTR driver) {
  log("SQLWriteDSNToIniW", {str(dsn), str(driver)});
  return write_dsn_result;
}

BOOL SQLRemoveDSNFromIni(LPCSTR dsn) {
  log("SQLRemoveDSNFromIni", {widen(dsn)});
  return remove_result;
}

BOOL SQLRemoveDSNFromIniW(LPCWSTR dsn) {
  log("SQLRemoveDSNFromIniW", {str(dsn)});
  return remove_result;
}

RETCODE SQLPostInstallerError(DWORD code, LPCSTR message) {
  log("SQLPostInstallerError", {std::to_wstring(code)});
  posted.emplace_back(code, message != nullptr ? message : "");
  return SQL_SUCCESS;
}

} // extern "C"
