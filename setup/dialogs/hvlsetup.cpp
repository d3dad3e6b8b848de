#include "dialogs/hvlsetup.h"

#include <cstdio>
#include <cstdlib>

#include "dialogs/binding.h"
#include "dialogs/providers.h"
#include "dialogs/resource_path.h"
#include "text/hvltext.h"
#include "toolkit/platform.h"

namespace hvl {

namespace {

// The OK, Cancel and About buttons.
constexpr std::int32_t kOkButton = 128;
constexpr std::int32_t kCancelButton = 129;
constexpr std::int32_t kAboutButton = 130;
constexpr std::int16_t kAboutAlert = 1001;
// The record's control fields, 1 to 16, that this dialog uses.
constexpr int kLastControlField = 16;
// The modal wait: a second at a time, so that a window gone by other means
// than the buttons ends the dialog soon.
constexpr std::uint32_t kWaitTicks = 60;

// Closing by either button: the controls go with the window. The record's
// window is cleared too, so that the modal loop never asks about a window
// that is gone.
void close_dialog(DlgControls *rec, std::int32_t result) {
  rec->result = result;
  ClearControls(rec, kLastControlField);
  ActiveToolkit().DisposeWindow(rec->window);
  rec->window = nullptr;
}

} // namespace

OSStatus hvlsetup_ok_clicked(EventHandlerCallRef, Event *, void *userData) {
  auto *rec = static_cast<DlgControls *>(userData);
  if (rec == nullptr)
    return noErr;
  CommitOptions(rec);
  // No data source without a name: the dialog stays open.
  if (rec->attrTable[ATTR_DSN].value[0] == 0)
    return noErr;
  close_dialog(rec, 1);
  return noErr;
}

OSStatus hvlsetup_cancel_clicked(EventHandlerCallRef, Event *, void *userData) {
  auto *rec = static_cast<DlgControls *>(userData);
  if (rec == nullptr)
    return noErr;
  close_dialog(rec, 0);
  return noErr;
}

OSStatus hvlsetup_about_clicked(EventHandlerCallRef, Event *, void *) {
  std::int16_t saved = CurResFile();
  std::int16_t refNum = -1;

  // The resource file lies in the bundle's Resources folder, beside the
  // MacOS folder that holds the library. It is opened for this click only.
  PlatformString executable;
  const Bundle *bundle = GetBundleWithIdentifier(kBundleIdentifier);
  if (bundle != nullptr && BundleGetInfoValue(bundle, "CFBundleExecutablePath", &executable)) {
    wchar_t *wide = convert_CFString_to_wchar(&executable);
    char *utf8 = convert_wchar_to_char(wide);
    std::free(wide);
    if (utf8 != nullptr) {
      char path[2048];
      bool ok = ResourcePathFromExecutable(utf8, path, sizeof path);
      std::free(utf8);
      if (ok && OpenResourceFile(path, &refNum) != noErr)
        refNum = -1;
    }
  }

  if (refNum != -1)
    UseResFile(refNum);
  Alert(kAboutAlert);
  if (refNum != -1) {
    CloseResFile(refNum);
    UseResFile(saved);
  }
  return noErr;
}

std::int32_t create_hvlsetup(HWND parent, wchar_t *, const wchar_t *, AttrEntry *table,
                             std::int32_t) {
  if (parent == nullptr)
    return 1;

  ProviderList providers;
  if (OpenOrMakePrefsFile(&providers) == 0) {
    std::fputs("Problem opening prefs file\n", stderr);
    return 0;
  }

  Toolkit &toolkit = ActiveToolkit();
  const Bundle *bundle = GetBundleWithIdentifier(kBundleIdentifier);
  WindowRef window = nullptr;
  OSStatus err = bundle != nullptr
                     ? toolkit.OpenWindow(bundle->resources, "hvlsetup", "Dialog", &window)
                     : kErrFileNotFound;
  if (err != noErr) {
    std::fprintf(stderr, "Can't load Window. Err: %d\n", static_cast<int>(err));
    return 0;
  }

  DlgControls rec;
  BindControl(window, 131, &rec.dsnCtl, table, ATTR_DSN);
  BindControl(window, 132, &rec.descriptionCtl, table, ATTR_DESCRIPTION);
  BindControl(window, 133, &rec.serverTypeCtl, table, ATTR_SERVERTYPE);
  BindControl(window, 134, &rec.protocolCtl, table, ATTR_PROTOCOL);
  BindControl(window, 135, &rec.hostCtl, table, ATTR_HOST);
  BindControl(window, 136, &rec.portCtl, table, ATTR_PORT);
  BindControl(window, 137, &rec.databaseLabel);
  BindControl(window, 138, &rec.databaseCtl, table, ATTR_DATABASE);
  BindControl(window, 139, &rec.extraCtl);
  BindControl(window, 140, &rec.userNameCtl, table, ATTR_USERNAME);
  BindControl(window, 141, &rec.optionsLabel);
  BindControl(window, 142, &rec.optionsCtl, table, ATTR_OPTIONS);
  BindControl(window, 143, &rec.readOnlyCtl, table, ATTR_READONLY);
  BindControl(window, 144, &rec.noLoginBoxCtl, table, ATTR_NOLOGINBOX);
  BindControl(window, 145, &rec.deferLongFetchCtl, table, ATTR_DEFERLONGFETCH);
  BindControl(window, 146, &rec.fetchBufferSizeCtl, table, ATTR_FETCHBUFFERSIZE);
  rec.window = window;
  rec.attrTable = table;

  SetUpProviderList(&rec, providers);

  struct {
    std::int32_t id;
    EventHandlerProc proc;
  } const buttons[] = {{kOkButton, hvlsetup_ok_clicked},
                       {kCancelButton, hvlsetup_cancel_clicked},
                       {kAboutButton, hvlsetup_about_clicked}};
  for (const auto &b : buttons) {
    ControlRef button = nullptr;
    if (toolkit.GetControlByID(window, {kSigControl, b.id}, &button) == noErr && button != nullptr)
      toolkit.InstallEventHandler(button, EventKind::ControlHit, b.proc, &rec, nullptr);
  }
  if (rec.serverTypeCtl != nullptr)
    toolkit.InstallEventHandler(rec.serverTypeCtl, EventKind::ControlDraw,
                                hvlsetup_providers_clicked, &rec, &rec.providersHandler);

  LoadOptions(&rec);

  toolkit.ShowWindow(window);
  toolkit.AdvanceKeyboardFocus(window);
  while (rec.window != nullptr && toolkit.IsWindowVisible(rec.window))
    toolkit.WaitNextEvent(kWaitTicks);

  // Closed by the window system rather than a button: as a cancel.
  if (rec.window != nullptr) {
    toolkit.DisposeWindow(rec.window);
    rec.window = nullptr;
  }
  // The controls went with the window; no entry keeps a reference to one.
  for (int i = 0; i < kAttrCount; ++i)
    table[i].control = nullptr;
  return rec.result;
}

} // namespace hvl
