// Adding, configuring and removing a data source of the driver.
#ifndef HVL_CONFIGDSN_H
#define HVL_CONFIGDSN_H

#include "pelmarinst.h"

namespace hvl {

// The body of ConfigDSN (wideFlag 0: `driver` and `attributes` are UTF-8) and
// ConfigDSNW (wideFlag non-zero: wchar_t text).
//
// ODBC_REMOVE_DSN removes the data source named by the list's "DSN": the
// installer library's result, or FALSE without a posted error when the list
// names none. ODBC_ADD_DSN and ODBC_CONFIG_DSN fill a working copy from the
// list and the stored data source (for an add, from "; noentry ;" and with an
// empty name), then, with a non-null `parent`, open the setup dialog; after OK
// the data source is written under the dialog's name with every supplied
// attribute, and a renamed one's old entry is removed. They return TRUE also
// when there is no window or the user cancels: nothing is written then. Any
// other request posts ODBC_ERROR_REQUEST_FAILED and returns FALSE; no memory
// for the working copy posts ODBC_ERROR_OUT_OF_MEM and returns FALSE.
BOOL ConfigDSN_Internal(HWND parent, WORD request, const void *driver, const void *attributes,
                        int wideFlag);

} // namespace hvl

#endif
