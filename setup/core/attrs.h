// The attribute table: the fifteen attributes that describe a data source of
// the driver, and the working copies that the entry points fill and edit.
#ifndef HVL_ATTRS_H
#define HVL_ATTRS_H

#include <cstdint>
#include <memory>

namespace hvl {

// A control of an open dialog window; defined by the dialog toolkit.
class Control;
using ControlRef = Control *;

enum : std::int32_t {
  ATTR_TEXT = 0,  // free text in an edit field
  ATTR_YESNO = 1, // a check box: "Yes" or "No"
  ATTR_MENU = 2,  // a pop-up menu item's text
};

inline constexpr int kAttrCount = 15;
inline constexpr int kValueSize = 1027; // so at most 1026 characters of text

// Indexes of the entries that code refers to by position.
enum AttrIndex : int {
  ATTR_DSN = 0,
  ATTR_DESCRIPTION = 1,
  ATTR_SERVERTYPE = 2,
  ATTR_FETCHBUFFERSIZE = 3,
  ATTR_HOST = 4,
  ATTR_PORT = 5,
  ATTR_DATABASE = 6,
  ATTR_PROTOCOL = 7,
  ATTR_OPTIONS = 8,
  ATTR_READONLY = 9,
  ATTR_USERNAME = 10,
  ATTR_PASSWORD = 11,
  ATTR_NOLOGINBOX = 12,
  ATTR_DEFERLONGFETCH = 13,
  ATTR_SERVEROPTIONS = 14,
};

struct AttrEntry {
  const wchar_t *connKey;  // short keyword of connection strings, or null
  const wchar_t *iniKey;   // key in the data source's section, or null (entry 0 only)
  std::int32_t kind;       // ATTR_TEXT, ATTR_YESNO or ATTR_MENU
  std::int16_t maxLen;     // most characters read from the store or a control
  const wchar_t *defValue; // built-in default, never null
  std::int32_t supplied;   // 1 once the entry has been given a value
  ControlRef control;      // bound control while a dialog is open, else null
  wchar_t value[kValueSize];
};

// The static table. Never written.
extern const AttrEntry attrs[kAttrCount];

// Makes a working copy of the table in one malloc'd block: every value empty,
// every supplied 0, every control null. Returns null when memory is exhausted.
// The caller frees it with FreeWorkingCopy (or free) on every path.
AttrEntry *MakeWorkingCopy();
void FreeWorkingCopy(AttrEntry *copy);

// Owns a working copy for the length of a call and frees it on every path.
struct WorkingCopyDeleter {
  void operator()(AttrEntry *copy) const { FreeWorkingCopy(copy); }
};
using WorkingCopy = std::unique_ptr<AttrEntry[], WorkingCopyDeleter>;

} // namespace hvl

#endif
