// Filling a working copy of the attribute table: from the caller's attribute
// list, then from the data source stored in the ODBC configuration.
#ifndef HVL_PARSE_H
#define HVL_PARSE_H

#include <cstdint>

#include "core/attrs.h"

namespace hvl {

// Resets every entry of `table` (empty value, supplied 0), then fills it from
// `list`: strings "key=value", each terminated, ended by an empty string;
// UTF-8 when `wideFlag` is 0, wchar_t text otherwise. A key names the entry
// whose short or long keyword it equals ignoring case; the first string that
// names an entry gives its value (cut to 1026 characters) and sets supplied,
// later ones are ignored, as are keys that name no entry. A string without
// "=" is a key with the empty value. `list` may be null. The list is only
// read: it may live in read-only memory, and it is never copied.
void ParseAttributes(const void *list, AttrEntry *table, int wideFlag);

// For every entry with a long keyword that is not yet supplied, reads the
// value stored under that keyword for data source `dsn` (wide text), setting
// the configuration mode to `mode` before each read; where the read fails the
// built-in default is taken. A non-empty result sets supplied. `dsn` may point
// at the table's own entry 0, which is never touched.
void GetDefaults(const wchar_t *dsn, AttrEntry *table, std::uint16_t mode);

} // namespace hvl

#endif
