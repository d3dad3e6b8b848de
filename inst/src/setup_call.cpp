// SQLConfigDataSource(W) and SQLConfigDriver(W): load the driver's setup
// library by its "Setup" key and call its ConfigDSN(W) / ConfigDriver(W).
#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <new>

#include "common.h"
#include "ops.h"
#include "pelmarinst.h"

using namespace pinst;

namespace {

using ConfigDSNFn = BOOL (*)(HWND, WORD, LPCSTR, LPCSTR);
using ConfigDSNWFn = BOOL (*)(HWND, WORD, LPCWSTR, LPCWSTR);
using ConfigDriverFn = BOOL (*)(HWND, WORD, LPCSTR, LPCSTR, LPSTR, WORD, WORD *);
using ConfigDriverWFn = BOOL (*)(HWND, WORD, LPCWSTR, LPCWSTR, LPWSTR, WORD, WORD *);

// The setup library of driver, found in the user's drivers file first, then
// the system's. It stays loaded: setup libraries may start GUI toolkits that
// cannot be unloaded safely.
void *LoadSetup(const std::string &driver) {
  for (const File &f : AllFilesOf(Config::kDrivers)) {
    DocPtr doc;
    std::string error;
    if (!Load(f.path, &doc, &error)) {
      PostError(ODBC_ERROR_GENERAL_ERR, error);
      continue;
    }
    if (!doc || !doc->HasSection(driver))
      continue;
    std::string_view setup;
    if (!doc->Get(driver, "Setup", &setup) || setup.empty()) {
      PostError(ODBC_ERROR_COMPONENT_NOT_FOUND, "the driver has no Setup key in " + f.path);
      return nullptr;
    }
    void *lib = ::dlopen(std::string(setup).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr) {
      const char *why = ::dlerror();
      PostError(ODBC_ERROR_LOAD_LIB_FAILED, why != nullptr ? why : "cannot load the setup library");
    }
    return lib;
  }
  PostError(ODBC_ERROR_COMPONENT_NOT_FOUND, "the driver is not installed");
  return nullptr;
}

template <typename Fn> Fn Symbol(void *lib, const char *name) {
  return reinterpret_cast<Fn>(::dlsym(lib, name));
}

bool Narrow(const wchar_t *in, std::string *out) {
  if (WideToUtf8(in, std::wcslen(in), out))
    return true;
  PostError(ODBC_ERROR_INVALID_STR, "the text holds a character outside Unicode");
  return false;
}

bool Widen(const char *in, std::wstring *out) {
  if (Utf8ToWide(in, out))
    return true;
  PostError(ODBC_ERROR_INVALID_STR, "the text is not UTF-8");
  return false;
}

// An attribute list (strings ended by an empty one) in the other form, with
// its terminators. False when a string does not convert.
bool WidenList(const char *list, std::wstring *out) {
  out->clear();
  for (const char *p = list; *p != 0; p += std::strlen(p) + 1) {
    std::wstring s;
    if (!Widen(p, &s))
      return false;
    out->append(s).push_back(0);
  }
  out->push_back(0);
  return true;
}

bool NarrowList(const wchar_t *list, std::string *out) {
  out->clear();
  for (const wchar_t *p = list; *p != 0; p += std::wcslen(p) + 1) {
    std::string s;
    if (!Narrow(p, &s))
      return false;
    out->append(s).push_back(0);
  }
  out->push_back(0);
  return true;
}

// Puts the mode back to ODBC_BOTH_DSN when a data source request ends, on
// every path, however early it fails.
struct BothModesAgain {
  BothModesAgain() = default;
  BothModesAgain(const BothModesAgain &) = delete;
  BothModesAgain &operator=(const BothModesAgain &) = delete;
  ~BothModesAgain() { SetMode(ODBC_BOTH_DSN); }
};

// Runs a ConfigDSN call in the configuration its request names: system for
// 4-6 (passed on as 1-3), else the one the caller set, the user's in mode
// both. The caller's BothModesAgain restores the mode afterwards.
template <typename Call> BOOL InScope(WORD request, Call call) {
  if (request >= ODBC_ADD_SYS_DSN) {
    SetMode(ODBC_SYSTEM_DSN);
    request = static_cast<WORD>(request - 3);
  } else if (Mode() == ODBC_BOTH_DSN) {
    SetMode(ODBC_USER_DSN);
  }
  BOOL ok = call(request);
  if (!ok && ErrorCount() == 0)
    PostError(ODBC_ERROR_REQUEST_FAILED, "the setup library refused the request");
  return ok ? TRUE : FALSE;
}

bool CheckDsnRequest(WORD request, bool hasDriver) {
  if (request < ODBC_ADD_DSN || request > ODBC_REMOVE_SYS_DSN) {
    PostError(ODBC_ERROR_INVALID_REQUEST_TYPE);
    return false;
  }
  if (!hasDriver) {
    PostError(ODBC_ERROR_INVALID_NAME, "no driver name");
    return false;
  }
  return true;
}

// Driver-specific requests run up to 100 and go to the setup library as they
// are.
bool CheckDriverRequest(WORD request, bool hasDriver) {
  if (request < ODBC_INSTALL_DRIVER || request > 100) {
    PostError(ODBC_ERROR_INVALID_REQUEST_TYPE);
    return false;
  }
  if (!hasDriver) {
    PostError(ODBC_ERROR_INVALID_NAME, "no driver name");
    return false;
  }
  return true;
}

void MissingEntry(const char *name) {
  PostError(ODBC_ERROR_LOAD_LIB_FAILED, std::string("the setup library has no ") + name);
}

} // namespace

extern "C" {

BOOL SQLConfigDataSource(HWND parent, WORD request, LPCSTR driver, LPCSTR attributes) {
  return Guard<BOOL>(FALSE, [&] {
    BothModesAgain restore;
    ClearErrors();
    if (!CheckDsnRequest(request, driver != nullptr && *driver != 0))
      return FALSE;
    void *lib = LoadSetup(driver);
    if (lib == nullptr)
      return FALSE;
    if (auto fn = Symbol<ConfigDSNFn>(lib, "ConfigDSN"))
      return InScope(request, [&](WORD r) { return fn(parent, r, driver, attributes); });
    auto fnw = Symbol<ConfigDSNWFn>(lib, "ConfigDSNW");
    if (fnw == nullptr)
      {
        MissingEntry("ConfigDSN");
        return FALSE;
      }
    std::wstring d, a;
    if (!Widen(driver, &d) || (attributes != nullptr && !WidenList(attributes, &a)))
      return FALSE;
    return InScope(request, [&](WORD r) {
      return fnw(parent, r, d.c_str(), attributes != nullptr ? a.c_str() : nullptr);
    });
  });
}

BOOL SQLConfigDataSourceW(HWND parent, WORD request, LPCWSTR driver, LPCWSTR attributes) {
  return Guard<BOOL>(FALSE, [&] {
    BothModesAgain restore;
    ClearErrors();
    if (!CheckDsnRequest(request, driver != nullptr && *driver != 0))
      return FALSE;
    std::string d;
    if (!Narrow(driver, &d))
      return FALSE;
    void *lib = LoadSetup(d);
    if (lib == nullptr)
      return FALSE;
    if (auto fnw = Symbol<ConfigDSNWFn>(lib, "ConfigDSNW"))
      return InScope(request, [&](WORD r) { return fnw(parent, r, driver, attributes); });
    auto fn = Symbol<ConfigDSNFn>(lib, "ConfigDSN");
    if (fn == nullptr)
      {
        MissingEntry("ConfigDSNW");
        return FALSE;
      }
    std::string a;
    if (attributes != nullptr && !NarrowList(attributes, &a))
      return FALSE;
    return InScope(request, [&](WORD r) {
      return fn(parent, r, d.c_str(), attributes != nullptr ? a.c_str() : nullptr);
    });
  });
}

BOOL SQLConfigDriver(HWND parent, WORD request, LPCSTR driver, LPCSTR args, LPSTR message,
                     WORD messageMax, WORD *messageLength) {
  return Guard<BOOL>(FALSE, [&] {
    ClearErrors();
    if (messageLength != nullptr)
      *messageLength = 0;
    if (!CheckDriverRequest(request, driver != nullptr && *driver != 0))
      return FALSE;
    void *lib = LoadSetup(driver);
    if (lib == nullptr)
      return FALSE;
    BOOL ok;
    if (auto fn = Symbol<ConfigDriverFn>(lib, "ConfigDriver")) {
      ok = fn(parent, request, driver, args, message, messageMax, messageLength);
    } else {
      auto fnw = Symbol<ConfigDriverWFn>(lib, "ConfigDriverW");
      if (fnw == nullptr) {
        MissingEntry("ConfigDriver");
        return FALSE;
      }
      std::wstring d, a;
      if (!Widen(driver, &d) || (args != nullptr && !WidenList(args, &a)))
        return FALSE;
      // The whole message, as long as a length can say, so that the length
      // given back is the whole message's even where the caller's buffer cuts
      // it (or the caller gave none).
      std::wstring msg(0x10000u, L'\0');
      WORD got = 0;
      ok = fnw(parent, request, d.c_str(), args != nullptr ? a.c_str() : nullptr, msg.data(),
               0xFFFF, &got);
      std::string text;
      msg.resize(std::wcslen(msg.c_str()));
      WideToUtf8(msg.c_str(), msg.size(), &text);
      if (message != nullptr && messageMax > 0) {
        std::size_t n = CutUtf8(text, messageMax - 1u);
        std::memcpy(message, text.data(), n);
        message[n] = 0;
      }
      if (messageLength != nullptr)
        *messageLength = static_cast<WORD>(text.size() > 0xFFFF ? 0xFFFF : text.size());
    }
    if (!ok && ErrorCount() == 0)
      PostError(ODBC_ERROR_REQUEST_FAILED, "the setup library refused the request");
    return ok ? TRUE : FALSE;
  });
}

BOOL SQLConfigDriverW(HWND parent, WORD request, LPCWSTR driver, LPCWSTR args, LPWSTR message,
                      WORD messageMax, WORD *messageLength) {
  return Guard<BOOL>(FALSE, [&] {
    ClearErrors();
    if (messageLength != nullptr)
      *messageLength = 0;
    if (!CheckDriverRequest(request, driver != nullptr && *driver != 0))
      return FALSE;
    std::string d;
    if (!Narrow(driver, &d))
      return FALSE;
    void *lib = LoadSetup(d);
    if (lib == nullptr)
      return FALSE;
    BOOL ok;
    if (auto fnw = Symbol<ConfigDriverWFn>(lib, "ConfigDriverW")) {
      ok = fnw(parent, request, driver, args, message, messageMax, messageLength);
    } else {
      auto fn = Symbol<ConfigDriverFn>(lib, "ConfigDriver");
      if (fn == nullptr) {
        MissingEntry("ConfigDriverW");
        return FALSE;
      }
      std::string a;
      if (args != nullptr && !NarrowList(args, &a))
        return FALSE;
      // As in SQLConfigDriver: the whole message, whatever the caller's room.
      std::string msg(0x10000u, '\0');
      WORD got = 0;
      ok = fn(parent, request, d.c_str(), args != nullptr ? a.c_str() : nullptr, msg.data(),
              0xFFFF, &got);
      std::wstring text = Utf8ToWideLossy(msg.c_str());
      if (message != nullptr && messageMax > 0) {
        std::size_t n = std::min<std::size_t>(text.size(), messageMax - 1u);
        std::wmemcpy(message, text.data(), n);
        message[n] = 0;
      }
      if (messageLength != nullptr)
        *messageLength = static_cast<WORD>(text.size() > 0xFFFF ? 0xFFFF : text.size());
    }
    if (!ok && ErrorCount() == 0)
      PostError(ODBC_ERROR_REQUEST_FAILED, "the setup library refused the request");
    return ok ? TRUE : FALSE;
  });
}

} // extern "C"
