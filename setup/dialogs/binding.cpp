#include "dialogs/binding.h"

#include <cstdlib>

#include "text/hvltext.h"
#include "toolkit/platform.h"

namespace hvl {

namespace {

// Copies at most maxLen characters of `wide` into the entry, terminated.
// maxLen never exceeds the value buffer, but the bound is taken from the
// buffer too so that a bad table cannot overrun it.
void StoreValue(AttrEntry &entry, const wchar_t *wide) {
  std::size_t limit = entry.maxLen > 0 ? static_cast<std::size_t>(entry.maxLen) : 0;
  if (limit > kValueSize - 1)
    limit = kValueSize - 1;
  std::size_t n = 0;
  while (n < limit && wide[n] != 0) {
    entry.value[n] = wide[n];
    ++n;
  }
  entry.value[n] = 0;
}

void StoreString(AttrEntry &entry, const PlatformString &text) {
  wchar_t *wide = convert_CFString_to_wchar(&text);
  if (wide == nullptr)
    return;
  StoreValue(entry, wide);
  std::free(wide);
}

} // namespace

void BindControl(WindowRef window, std::int32_t id, ControlRef *field, AttrEntry *table, int attr,
                 std::uint32_t signature) {
  ControlRef control = nullptr;
  if (ActiveToolkit().GetControlByID(window, ControlID{signature, id}, &control) != noErr)
    control = nullptr;
  if (field != nullptr)
    *field = control;
  if (table != nullptr && attr >= 0 && attr < kAttrCount)
    table[attr].control = control;
}

void ClearControls(DlgControls *record, int lastField) {
  if (record == nullptr)
    return;
  ControlRef *fields[] = {
      &record->dsnCtl,          &record->descriptionCtl,    &record->serverTypeCtl,
      &record->protocolCtl,     &record->hostCtl,           &record->portCtl,
      &record->databaseCtl,     &record->userNameCtl,       &record->databaseLabel,
      &record->extraCtl,        &record->optionsLabel,      &record->optionsCtl,
      &record->readOnlyCtl,     &record->noLoginBoxCtl,     &record->deferLongFetchCtl,
      &record->fetchBufferSizeCtl, &record->passwordCtl,    &record->tabCtl,
  };
  for (int i = 0; i < lastField && i < 18; ++i)
    *fields[i] = nullptr;
}

void LoadOptions(DlgControls *record) {
  if (record == nullptr || record->attrTable == nullptr)
    return;
  Toolkit &tk = ActiveToolkit();
  for (int i = 0; i < kAttrCount; ++i) {
    AttrEntry &entry = record->attrTable[i];
    if (entry.control == nullptr)
      continue;
    if (i == ATTR_PASSWORD) {
      if (auto text = convert_wchar_to_CFString(entry.value))
        tk.SetControlString(entry.control, kPartEntire, kTagPassword, *text);
      continue;
    }
    switch (entry.kind) {
    case ATTR_YESNO:
      tk.SetControlValue(entry.control, entry.value[0] == L'Y' ? 1 : 0);
      break;
    case ATTR_TEXT:
      if (auto text = convert_wchar_to_CFString(entry.value))
        tk.SetControlString(entry.control, kPartEntire, kTagCFString, *text);
      break;
    default:
      // Pop-ups: the server type list sets its own; the protocol keeps the
      // choice of the window definition.
      break;
    }
  }
}

void CommitOptions(DlgControls *record) {
  if (record == nullptr || record->attrTable == nullptr)
    return;
  Toolkit &tk = ActiveToolkit();
  for (int i = 0; i < kAttrCount; ++i) {
    AttrEntry &entry = record->attrTable[i];
    if (entry.control == nullptr)
      continue;
    switch (entry.kind) {
    case ATTR_YESNO:
      StoreValue(entry, tk.GetControlValue(entry.control) != 0 ? L"Yes" : L"No");
      break;
    case ATTR_TEXT: {
      PlatformString text;
      OSStatus status = i == ATTR_PASSWORD
                            ? tk.GetControlString(entry.control, kPartEntire, kTagPassword, &text)
                            : tk.GetControlString(entry.control, kPartEditText, kTagCFString, &text);
      if (status == noErr)
        StoreString(entry, text);
      break;
    }
    case ATTR_MENU: {
      PlatformString text;
      if (tk.CopyMenuItemText(entry.control, tk.GetControlValue(entry.control), &text) == noErr)
        StoreString(entry, text);
      break;
    }
    default:
      break;
    }
    if (entry.value[0] != 0)
      entry.supplied = 1;
  }
}

} // namespace hvl
