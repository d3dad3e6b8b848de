// The setup library's C boundary: what a host reaches by name with dlsym.
// Only the symbols listed in exports.map leave the shared object. Each entry
// point hands its arguments to the routine behind it and lets no exception
// out: whatever escapes is reported as a failure.
#include "core/exports.h"

#include "core/configdsn.h"

namespace {

template <class F> BOOL guarded(F body) {
  try {
    return body();
  } catch (...) {
    SQLPostInstallerError(ODBC_ERROR_OUT_OF_MEM, nullptr);
    return FALSE;
  }
}

} // namespace

extern "C" {

const char *const version = "4.2";
const char *const libname = "Halvern Generic ODBC Driver Setup";

BOOL ConfigDSN(HWND parent, WORD request, LPCSTR driver, LPCSTR attributes) {
  return guarded([&] { return hvl::ConfigDSN_Internal(parent, request, driver, attributes, 0); });
}

BOOL ConfigDSNW(HWND parent, WORD request, LPCWSTR driver, LPCWSTR attributes) {
  return guarded([&] { return hvl::ConfigDSN_Internal(parent, request, driver, attributes, 2); });
}

} // extern "C"
