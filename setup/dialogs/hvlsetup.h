// The setup dialog: edits a data source's attributes in a working copy.
#ifndef HVL_DIALOGS_HVLSETUP_H
#define HVL_DIALOGS_HVLSETUP_H

#include <cstdint>

#include "core/attrs.h"
#include "pelmarinst.h"
#include "toolkit/toolkit.h"

namespace hvl {

// Opens the setup dialog over `table` and runs it until the user presses OK
// with a non-empty data source name, or Cancel. Only whether `parent` is null
// matters: the handle is never used as a window. `dsn`, `driver` and `add`
// are not used; the dialog reads and writes the working copy alone.
// Returns 1 at once, showing nothing, when `parent` is null; 1 after OK (every
// shown control read back into `table`); 0 after Cancel, and 0 when the server
// type list or the window cannot be had (a message on standard error).
std::int32_t create_hvlsetup(HWND parent, wchar_t *dsn, const wchar_t *driver, AttrEntry *table,
                             std::int32_t add);

// The handlers of the OK, Cancel and About buttons; userData is the dialog's
// DlgControls. OK reads the controls into the working copy and, when the data
// source name is not empty, closes the dialog with result 1; Cancel closes it
// with result 0. About shows alert 1001 from the bundle's resource file,
// opened for the click and closed again. All return noErr.
OSStatus hvlsetup_ok_clicked(EventHandlerCallRef call, Event *event, void *userData);
OSStatus hvlsetup_cancel_clicked(EventHandlerCallRef call, Event *event, void *userData);
OSStatus hvlsetup_about_clicked(EventHandlerCallRef call, Event *event, void *userData);

} // namespace hvl

#endif
