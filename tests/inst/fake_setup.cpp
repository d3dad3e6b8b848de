// A stand-in setup library: records how it was called. Built once with only
// the narrow entry points and once with only the wide ones. Its installer
// calls resolve to whatever installer library the host has loaded.
#include <cstring>
#include <cwchar>
#include <string>

#include "fake_setup.h"
#include "pelmarinst.h"

namespace {

FakeRecord g_last;

[[maybe_unused]] std::string Utf8(const wchar_t *s) {
  std::string out;
  for (; *s != 0; ++s) {
    auto c = static_cast<unsigned>(*s);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

template <typename Char, typename Conv> std::string Joined(const Char *list, Conv conv) {
  std::string out;
  if (list == nullptr)
    return "<null>";
  for (const Char *p = list; *p != 0;) {
    std::basic_string<Char> s(p);
    out += (out.empty() ? "" : "|") + conv(s.c_str());
    p += s.size() + 1;
  }
  return out;
}

BOOL Outcome(const std::string &attributes) {
  if (attributes.find("FAIL") != std::string::npos) {
    SQLPostInstallerError(ODBC_ERROR_DRIVER_SPECIFIC, "fake failure");
    return FALSE;
  }
  return attributes.find("QUIET") == std::string::npos;
}

void Note(HWND parent, WORD request, std::string driver, std::string attributes, bool wide) {
  g_last.calls++;
  g_last.parent = parent;
  g_last.request = request;
  g_last.driver = std::move(driver);
  g_last.attributes = std::move(attributes);
  g_last.wide = wide;
  SQLGetConfigMode(&g_last.mode);
}

[[maybe_unused]] std::string Same(const char *s) { return s; }

} // namespace

extern "C" {

__attribute__((visibility("default"))) const void *FakeLast() { return &g_last; }

#ifdef FAKE_NARROW
__attribute__((visibility("default"))) BOOL ConfigDSN(HWND parent, WORD request, LPCSTR driver,
                                                      LPCSTR attributes) {
  Note(parent, request, driver, Joined(attributes, Same), false);
  return Outcome(g_last.attributes);
}
__attribute__((visibility("default"))) BOOL ConfigDriver(HWND parent, WORD request,
                                                         LPCSTR driver, LPCSTR args, LPSTR msg,
                                                         WORD msgMax, WORD *msgOut) {
  Note(parent, request, driver, Joined(args, Same), false);
  const char text[] = "narrow says h\xC3\xA9llo";
  if (msg != nullptr && msgMax > 0) {
    std::strncpy(msg, text, msgMax - 1u);
    msg[msgMax - 1] = 0;
  }
  if (msgOut != nullptr)
    *msgOut = static_cast<WORD>(std::strlen(text));
  return Outcome(g_last.attributes);
}
#endif

#ifdef FAKE_WIDE
__attribute__((visibility("default"))) BOOL ConfigDSNW(HWND parent, WORD request, LPCWSTR driver,
                                                       LPCWSTR attributes) {
  Note(parent, request, Utf8(driver), Joined(attributes, Utf8), true);
  return Outcome(g_last.attributes);
}
__attribute__((visibility("default"))) BOOL ConfigDriverW(HWND parent, WORD request,
                                                          LPCWSTR driver, LPCWSTR args,
                                                          LPWSTR msg, WORD msgMax, WORD *msgOut) {
  Note(parent, request, Utf8(driver), Joined(args, Utf8), true);
  const wchar_t text[] = L"wide says h\u00e9llo";
  if (msg != nullptr && msgMax > 0) {
    std::wcsncpy(msg, text, msgMax - 1u);
    msg[msgMax - 1] = 0;
  }
  if (msgOut != nullptr)
    *msgOut = static_cast<WORD>(std::wcslen(text));
  return Outcome(g_last.attributes);
}
#endif

} // extern "C"
