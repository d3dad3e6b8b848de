// A stand-in for a driver's setup library: ConfigDSN and ConfigDSNW append
// one line per call to the file named by HVL_FAKE_SETUP_LOG,
//
//   ConfigDSN window=yes request=1 mode=1 driver=Fake Driver attrs=DSN=a|Server=b
//
// (mode is the installer library's configuration mode during the call), and
// succeed. An attribute FAIL=m1,m2 makes the call post each message as an
// installer error and fail.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "pelmarinst.h"

namespace {

std::string narrow(const wchar_t *text) {
  std::string out;
  for (; text != nullptr && *text != L'\0'; ++text) {
    out += *text < 0x80 ? static_cast<char>(*text) : '?';
  }
  return out;
}

template <typename Char>
BOOL record(const char *entry, HWND window, WORD request, const std::string &driver,
            const Char *attributes, std::string (*toText)(const Char *)) {
  std::vector<std::string> pairs;
  for (const Char *p = attributes; p != nullptr && *p != 0;) {
    std::string pair = toText(p);
    while (*p != 0) {
      ++p;
    }
    ++p;
    pairs.push_back(pair);
  }
  UWORD mode = 99;
  SQLGetConfigMode(&mode);
  std::string line = std::string(entry) + " window=" + (window != nullptr ? "yes" : "no") +
                     " request=" + std::to_string(request) + " mode=" + std::to_string(mode) +
                     " driver=" + driver + " attrs=";
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    line += (i > 0 ? "|" : "") + pairs[i];
  }
  if (const char *log = std::getenv("HVL_FAKE_SETUP_LOG")) {
    if (FILE *f = std::fopen(log, "a")) {
      std::fprintf(f, "%s\n", line.c_str());
      std::fclose(f);
    }
  }
  for (const std::string &pair : pairs) {
    if (pair.rfind("FAIL=", 0) != 0) {
      continue;
    }
    std::string messages = pair.substr(5);
    for (std::size_t start = 0; start <= messages.size();) {
      std::size_t comma = messages.find(',', start);
      std::string message = messages.substr(start, comma - start);
      if (!message.empty()) {
        SQLPostInstallerError(ODBC_ERROR_DRIVER_SPECIFIC, message.c_str());
      }
      if (comma == std::string::npos) {
        break;
      }
      start = comma + 1;
    }
    return FALSE;
  }
  return TRUE;
}

std::string fromNarrow(const char *p) { return p; }
std::string fromWide(const wchar_t *p) { return narrow(p); }

}  // namespace

extern "C" __attribute__((visibility("default"))) BOOL ConfigDSN(HWND window, WORD request,
                                                                  LPCSTR driver,
                                                                  LPCSTR attributes) {
  return record<char>("ConfigDSN", window, request, driver != nullptr ? driver : "", attributes,
                      fromNarrow);
}

extern "C" __attribute__((visibility("default"))) BOOL ConfigDSNW(HWND window, WORD request,
                                                                   LPCWSTR driver,
                                                                   LPCWSTR attributes) {
  return record<wchar_t>("ConfigDSNW", window, request, narrow(driver), attributes, fromWide);
}
