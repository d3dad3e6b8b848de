// Declarations of what the setup library exports to its hosts.
#ifndef HVL_EXPORTS_H
#define HVL_EXPORTS_H

#define HVL_EXPORT __attribute__((visibility("default")))

extern "C" {
// The library's version, "4.2", and name, "Halvern Generic ODBC Driver Setup",
// for the host that loads the library to read. Nothing in the library reads them.
HVL_EXPORT extern const char *const version;
HVL_EXPORT extern const char *const libname;
}

#endif
