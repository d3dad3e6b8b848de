// Declarations of what the setup library exports to its hosts.
#ifndef HVL_EXPORTS_H
#define HVL_EXPORTS_H

#include "pelmarinst.h"

#define HVL_EXPORT __attribute__((visibility("default")))

extern "C" {
// The library's version, "4.2", and name, "Halvern Generic ODBC Driver Setup",
// for the host that loads the library to read. Nothing in the library reads them.
HVL_EXPORT extern const char *const version;
HVL_EXPORT extern const char *const libname;

// Add (ODBC_ADD_DSN), configure (ODBC_CONFIG_DSN) or remove (ODBC_REMOVE_DSN)
// a data source of the driver; the standard setup signature, narrow (UTF-8)
// and wide. `attributes` is a list of "key=value" strings, each terminated,
// ended by an empty string; it is only read. With a non-null `parent` (an
// opaque handle, never used as a window) add and configure open the setup
// dialog and store what the user confirms. TRUE when the request was carried
// out or the user cancelled; FALSE with a posted installer error otherwise
// (a removal without a name posts none).
HVL_EXPORT BOOL ConfigDSN(HWND parent, WORD request, LPCSTR driver, LPCSTR attributes);
HVL_EXPORT BOOL ConfigDSNW(HWND parent, WORD request, LPCWSTR driver, LPCWSTR attributes);
}

#endif
