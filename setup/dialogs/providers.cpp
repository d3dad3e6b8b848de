#include "dialogs/providers.h"

#include <cstdlib>
#include <cwchar>

#include "text/hvltext.h"
#include "toolkit/platform.h"

namespace hvl {

const wchar_t *const providerstr[kProviderCount] = {
    L"DB2",          L"Informix 2000", L"Informix 5",     L"Informix 6",     L"Informix 7",
    L"Informix 7.1", L"Informix 7.2",  L"Informix 7.3",   L"Ingres 6.4",     L"Ingres II",
    L"Jdbc 1.1",     L"Jdbc 1.2",      L"Jdbc 1.3",       L"MySQL 3.x",      L"Odbc",
    L"OpenIngres 1.x", L"Ingres II",   L"Oracle 6",       L"Oracle 7",       L"Oracle 8.0.x",
    L"Oracle 8.1.x", L"Oracle 9.0.x",  L"PostgreSQL",     L"Postgres 95",    L"Progress 63C",
    L"Progress 63E", L"Progress 63F",  L"Progress 72D",   L"Progress 73A",   L"Progress 73C",
    L"Progress 73D", L"Progress 73E",  L"Progress 81A",   L"Progress 81AS",  L"Progress 82A",
    L"Progress 82AS", L"Progress 82C", L"Progress 82CS",  L"Progress 83A",   L"Progress 83AS",
    L"Progress 83B", L"Progress 83BS", L"Progress 90B",   L"Progress 90BS",  L"Progress 91A",
    L"Progress 91AS", L"Progress 91B", L"Progress 91BS",  L"Progress 91C",   L"Progress 91CS",
    L"Proxy",        L"Solid",         L"SQLServer 2000", L"SQLServer 4",    L"SQLServer 6",
    L"SQLServer 7",  L"Sybase 4.2",    L"Sybase 10",      L"Sybase 11",      L"Sybase 12",
    L"Unify 2000",   L"Velocis",       L"Brevant",
};

namespace {

struct LabelRow {
  const wchar_t *keys[6];
  const wchar_t *databaseLabel;
  const wchar_t *optionsLabel; // null: the options field and label stay hidden
};

// First matching key wins, each compared over its own length only.
const LabelRow kLabelRows[] = {
    {{L"db2"}, L"Name", L"Server/Adapter"},
    {{L"jdbc"}, L"Driver name", L"JDBC URL"},
    {{L"informix"}, L"Name", L"Server name"},
    {{L"odbc"}, L"DSN", nullptr},
    {{L"ingres", L"open ingres"}, L"Name", L"Ingres Net (vnode)"},
    {{L"oracle 9"}, L"Name", L"Net 9 Service Name"},
    {{L"oracle 8"}, L"Name", L"Net 8 Service Name"},
    {{L"oracle"}, L"Name", L"SQL *Net Alias"},
    {{L"proxy", L"solid", L"sqlserver", L"sybase", L"unify", L"velocis"}, L"Name", L"Server"},
    {{L"brevant"}, L"Host:port", nullptr},
};
const LabelRow kOtherRow = {{}, L"Name", L"Connection options"};

const LabelRow &RowFor(const wchar_t *text) {
  for (const auto &row : kLabelRows)
    for (const wchar_t *key : row.keys)
      if (key != nullptr && wcsncasecmp(text, key, std::wcslen(key)) == 0)
        return row;
  return kOtherRow;
}

void SetLabel(ControlRef label, const wchar_t *text) {
  if (label == nullptr)
    return;
  if (auto s = convert_wchar_to_CFString(text))
    ActiveToolkit().SetControlString(label, kPartEntire, kTagCFString, *s);
}

void SetVisible(ControlRef control, bool visible) {
  if (control != nullptr)
    ActiveToolkit().SetControlVisibility(control, visible, true);
}

OSStatus ProvidersDrawn(void *userData, EventHandlerProc self) {
  auto *record = static_cast<DlgControls *>(userData);
  if (record == nullptr)
    return noErr;
  Toolkit &tk = ActiveToolkit();
  // Relabelling draws other controls; taking the handler off first keeps a
  // toolkit that redraws the pop-up with them from calling back into it.
  tk.RemoveEventHandler(record->providersHandler);
  record->providersHandler = nullptr;
  if (record->serverTypeCtl == nullptr)
    return noErr;
  ChangeDatabaseLabels(record, static_cast<std::int16_t>(tk.GetControlValue(record->serverTypeCtl)));
  tk.ShowControl(record->serverTypeCtl);
  EventHandlerRef ref = nullptr;
  if (tk.InstallEventHandler(record->serverTypeCtl, EventKind::ControlDraw, self, record, &ref) ==
      noErr)
    record->providersHandler = ref;
  return noErr;
}

} // namespace

std::int32_t OpenOrMakePrefsFile(ProviderList *list) {
  if (list == nullptr)
    return 0;
  list->clear();
  PrefValue value;
  switch (PreferencesCopyAppValue(kProviderKey, kBundleIdentifier, &value)) {
  case PrefRead::Unreadable:
    return 0;
  case PrefRead::Found:
    if (value.type != PrefValue::Type::List)
      return 0;
    *list = std::move(value.list);
    return 1;
  case PrefRead::Absent:
    break;
  }
  std::vector<PlatformString> defaults;
  defaults.reserve(kProviderCount);
  for (const wchar_t *name : providerstr) {
    auto s = convert_wchar_to_CFString(name);
    if (!s)
      return 0;
    defaults.push_back(*s);
  }
  PreferencesSetAppValue(kProviderKey, kBundleIdentifier, defaults);
  PreferencesAppSynchronize(kBundleIdentifier);
  list->assign(defaults.begin(), defaults.end());
  return 1;
}

void SetUpProviderList(DlgControls *record, const ProviderList &list) {
  if (record == nullptr || record->serverTypeCtl == nullptr)
    return;
  Toolkit &tk = ActiveToolkit();
  ControlRef popup = record->serverTypeCtl;
  tk.DeleteMenuItems(popup, 1, tk.CountMenuItems(popup));
  const wchar_t *stored =
      record->attrTable != nullptr ? record->attrTable[ATTR_SERVERTYPE].value : L"";
  std::int32_t found = 0;
  std::int32_t i = 0;
  for (const auto &item : list) {
    ++i;
    tk.AppendMenuItemText(popup, item ? *item : PlatformString());
    if (!item)
      continue;
    wchar_t *wide = convert_CFString_to_wchar(&*item);
    if (wide != nullptr && stored[0] > L' ' && wcscasecmp(wide, stored) == 0)
      found = i;
    std::free(wide);
  }
  tk.SetControlMaximum(popup, static_cast<std::int16_t>(list.size()));
  std::int32_t item = found != 0 ? found : 1;
  tk.SetControlValue(popup, item);
  ChangeDatabaseLabels(record, static_cast<std::int16_t>(item));
  tk.ShowControl(popup);
}

void ChangeDatabaseLabels(DlgControls *record, std::int16_t item) {
  if (record == nullptr || record->serverTypeCtl == nullptr)
    return;
  PlatformString text;
  if (ActiveToolkit().CopyMenuItemText(record->serverTypeCtl, item, &text) != noErr)
    return;
  wchar_t *wide = convert_CFString_to_wchar(&text);
  if (wide == nullptr)
    return;
  SetVisible(record->optionsLabel, false);
  SetVisible(record->optionsCtl, false);
  SetVisible(record->databaseLabel, false);
  const LabelRow &row = RowFor(wide);
  SetLabel(record->databaseLabel, row.databaseLabel);
  if (row.optionsLabel != nullptr) {
    SetLabel(record->optionsLabel, row.optionsLabel);
    SetVisible(record->optionsLabel, true);
  }
  SetVisible(record->databaseLabel, true);
  if (row.optionsLabel != nullptr)
    SetVisible(record->optionsCtl, true);
  std::free(wide);
}

OSStatus hvlsetup_providers_clicked(EventHandlerCallRef, Event *, void *userData) {
  return ProvidersDrawn(userData, &hvlsetup_providers_clicked);
}

OSStatus hvllogin_providers_clicked(EventHandlerCallRef, Event *, void *userData) {
  return ProvidersDrawn(userData, &hvllogin_providers_clicked);
}

} // namespace hvl
