// The setup library's C boundary: what a host reaches by name with dlsym.
// Only the symbols listed in exports.map leave the shared object.
#include "core/exports.h"

extern "C" {
const char *const version = "4.2";
const char *const libname = "Halvern Generic ODBC Driver Setup";
}
