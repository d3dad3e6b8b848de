#include "core/configdsn.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "core/attrs.h"
#include "core/parse.h"
#include "dialogs/hvlsetup.h"
#include "text/hvltext.h"

namespace hvl {

namespace {

// Sized like the installer's own data source names; a longer old name is cut.
constexpr std::size_t kOldNameSize = 255;

// Entry 0's value is the data source name in every call below. False when
// something the user confirmed was not stored: the data source's name was
// refused (nothing is written then, and the installer's error stays for the
// caller), or one of its values was (the others are still written).
bool write_back(const AttrEntry *table, const void *driver, int wideFlag, UWORD mode) {
  const wchar_t *name = table[ATTR_DSN].value;
  SQLSetConfigMode(mode);
  BOOL registered = FALSE;
  if (wideFlag != 0) {
    registered = SQLWriteDSNToIniW(name, static_cast<const wchar_t *>(driver));
  } else if (char *name8 = convert_wchar_to_char(name)) {
    registered = SQLWriteDSNToIni(name8, static_cast<const char *>(driver));
    std::free(name8);
  } else {
    SQLPostInstallerError(ODBC_ERROR_OUT_OF_MEM, nullptr);
  }
  if (registered == FALSE)
    return false;

  const wchar_t *refused = nullptr;
  for (int i = 0; i < kAttrCount; ++i) {
    const AttrEntry &e = table[i];
    if (e.iniKey == nullptr || e.supplied != 1)
      continue;
    SQLSetConfigMode(mode);
    BOOL stored = FALSE;
    if (wideFlag != 0) {
      stored = SQLSetKeywordValueW(name, e.iniKey, e.value, static_cast<int>(std::wcslen(e.value)));
    } else {
      char *name8 = convert_wchar_to_char(name);
      char *key8 = convert_wchar_to_char(e.iniKey);
      char *value8 = convert_wchar_to_char(e.value);
      if (name8 != nullptr && key8 != nullptr && value8 != nullptr)
        stored = SQLSetKeywordValue(name8, key8, value8, static_cast<int>(std::strlen(value8)));
      std::free(name8);
      std::free(key8);
      std::free(value8);
    }
    if (stored == FALSE && refused == nullptr)
      refused = e.iniKey;
  }
  if (refused == nullptr)
    return true;
  // Later writes have cleared the refusal's own error: say which value it was.
  char *key8 = convert_wchar_to_char(refused);
  char *name8 = convert_wchar_to_char(name);
  char message[512];
  std::snprintf(message, sizeof message,
                "The value of \"%s\" could not be stored for the data source \"%s\".",
                key8 != nullptr ? key8 : "", name8 != nullptr ? name8 : "");
  std::free(key8);
  std::free(name8);
  SQLPostInstallerError(ODBC_ERROR_REQUEST_FAILED, message);
  return false;
}

} // namespace

BOOL ConfigDSN_Internal(HWND parent, WORD request, const void *driver, const void *attributes,
                        int wideFlag) {
  UWORD mode = ODBC_BOTH_DSN;
  SQLGetConfigMode(&mode);

  WorkingCopy owner(MakeWorkingCopy());
  AttrEntry *table = owner.get();
  if (table == nullptr) {
    SQLPostInstallerError(ODBC_ERROR_OUT_OF_MEM, nullptr);
    return FALSE;
  }
  ParseAttributes(attributes, table, wideFlag);
  wchar_t *name = table[ATTR_DSN].value;

  switch (request) {
  case ODBC_REMOVE_DSN: {
    if (table[ATTR_DSN].supplied == 0)
      return FALSE;
    SQLSetConfigMode(mode);
    return SQLRemoveDSNFromIniW(name);
  }
  case ODBC_CONFIG_DSN:
    GetDefaults(name, table, mode);
    break;
  case ODBC_ADD_DSN:
    // A new data source starts from what is kept under a name that no real
    // data source can have, and never from the name in the list.
    GetDefaults(L"; noentry ;", table, mode);
    name[0] = 0;
    break;
  default:
    SQLPostInstallerError(ODBC_ERROR_REQUEST_FAILED, nullptr);
    return FALSE;
  }

  wchar_t oldName[kOldNameSize];
  std::wcsncpy(oldName, name, kOldNameSize - 1);
  oldName[kOldNameSize - 1] = 0;

  if (parent != nullptr) {
    std::int32_t confirmed = 0;
    std::int32_t add = request == ODBC_ADD_DSN ? 1 : 0;
    if (wideFlag != 0) {
      confirmed = create_hvlsetup(parent, name, static_cast<const wchar_t *>(driver), table, add);
    } else if (wchar_t *wideDriver = convert_char_to_wchar(static_cast<const char *>(driver))) {
      confirmed = create_hvlsetup(parent, name, wideDriver, table, add);
      std::free(wideDriver);
    }

    if (confirmed != 0 && name[0] != 0) {
      // What was not stored whole must not lose the data source under its
      // old name, nor pass for done.
      if (!write_back(table, driver, wideFlag, mode))
        return FALSE;
      // A rename: the data source now lives under the new name. A change of
      // letter case alone names the same data source and removes nothing.
      if (request == ODBC_CONFIG_DSN && wcscasecmp(oldName, name) != 0) {
        SQLSetConfigMode(mode);
        if (wideFlag != 0) {
          SQLRemoveDSNFromIniW(oldName);
        } else if (char *old8 = convert_wchar_to_char(oldName)) {
          SQLRemoveDSNFromIni(old8);
          std::free(old8);
        }
      }
    }
  }

  return TRUE;
}

} // namespace hvl
