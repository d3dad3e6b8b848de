// What the setup and login dialogs share: the control record of an open
// dialog, and the binding of its controls to the working copy.
#ifndef HVL_DIALOGS_BINDING_H
#define HVL_DIALOGS_BINDING_H

#include <cstdint>

#include "core/attrs.h"
#include "toolkit/toolkit.h"

namespace hvl {

// One per open dialog, owned by the function that opens it and zeroed when
// made; its address is the user data of every handler of the dialog. Fields
// 1 to 18 are the controls (null when the dialog does not use them or the
// window lacks them).
struct DlgControls {
  ControlRef dsnCtl = nullptr;
  ControlRef descriptionCtl = nullptr;
  ControlRef serverTypeCtl = nullptr;
  ControlRef protocolCtl = nullptr;
  ControlRef hostCtl = nullptr;
  ControlRef portCtl = nullptr;
  ControlRef databaseCtl = nullptr;
  ControlRef userNameCtl = nullptr;
  ControlRef databaseLabel = nullptr;
  ControlRef extraCtl = nullptr;
  ControlRef optionsLabel = nullptr;
  ControlRef optionsCtl = nullptr;
  ControlRef readOnlyCtl = nullptr;
  ControlRef noLoginBoxCtl = nullptr;
  ControlRef deferLongFetchCtl = nullptr;
  ControlRef fetchBufferSizeCtl = nullptr;
  ControlRef passwordCtl = nullptr;
  ControlRef tabCtl = nullptr;
  WindowRef window = nullptr;
  EventHandlerRef providersHandler = nullptr;
  AttrEntry *attrTable = nullptr;
  std::int32_t currentTab = 0;
  std::int32_t result = 0;
};

// Looks up control `id` ('CNTL' unless given) of `window` with the active
// toolkit, stores it in `*field` and, when `table` and `attr` >= 0 are
// given, in table[attr].control. A missing control leaves both null.
void BindControl(WindowRef window, std::int32_t id, ControlRef *field, AttrEntry *table = nullptr,
                 int attr = -1, std::uint32_t signature = kSigControl);

// Clears the control fields 1 to `lastField` (16 for the setup dialog, 18
// for the login dialog) of the record.
void ClearControls(DlgControls *record, int lastField);

// Shows the working copy's values in its bound controls: the password
// (entry 11) with kTagPassword, other text with kTagCFString, yes/no as a
// check box set when the value begins with a capital Y. Pop-ups are left
// alone. Entries without a control are passed over. Null record or table:
// nothing happens.
void LoadOptions(DlgControls *record);

// Reads every bound control back into its entry: text cut to the entry's
// maxLen characters, check boxes as "Yes"/"No", pop-ups as the chosen item's
// text. An entry whose control cannot be read keeps its value. Every entry
// with a non-empty value afterwards is marked supplied; none is unmarked.
void CommitOptions(DlgControls *record);

} // namespace hvl

#endif
