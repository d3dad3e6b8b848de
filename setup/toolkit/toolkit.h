// The dialog toolkit: what the dialogs of the setup library ask of a window
// system. One abstract class with one operation per thing the dialogs do,
// implemented by the Qt front end (a plugin of the bundle, loaded on first
// use) and by the tests' in-memory toolkit.
//
// This header is shared with the front end plugin: it holds only the
// interface and plain types, nothing that needs the setup library's code.
#ifndef HVL_TOOLKIT_TOOLKIT_H
#define HVL_TOOLKIT_TOOLKIT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/attrs.h"

namespace hvl {

// The toolkit's string: UTF-16 code units (the same type as the text layer's).
using PlatformString = std::u16string;

using OSStatus = std::int32_t;
inline constexpr OSStatus noErr = 0;

// Statuses of the toolkit. Every failing operation returns one of them; a
// toolkit may pass on others of its own, always non-zero.
inline constexpr OSStatus kErrParam = -50;              // null or out-of-range argument
inline constexpr OSStatus kErrFileNotFound = -43;       // no such window definition file
inline constexpr OSStatus kErrResourceNotFound = -192;  // no such alert in the open files
inline constexpr OSStatus kErrDataNotSupported = -30583; // the control has no such data
inline constexpr OSStatus kErrDefinitionUnreadable = -2101; // the file does not load
inline constexpr OSStatus kErrWindowNotFound = -2102;  // the file has no such window
inline constexpr OSStatus kErrNoDisplay = -2103;       // no display to show windows on
inline constexpr OSStatus kErrNoFrontEnd = -2104;      // the front end plugin cannot be loaded
inline constexpr OSStatus kErrNoSuchHandler = -2105;   // unknown or removed handler reference

// A four-character code as the toolkit reads it: 'CNTL' is 0x434E544C.
constexpr std::uint32_t FourCC(const char (&s)[5]) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(s[0])) << 24 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(s[1])) << 16 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(s[2])) << 8 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(s[3]));
}

inline constexpr std::uint32_t kSigControl = FourCC("CNTL");
inline constexpr std::uint32_t kSigTabs = FourCC("tabs");

// Tags of the control text operations.
inline constexpr std::uint32_t kTagCFString = FourCC("cfst");  // text of a field or label
inline constexpr std::uint32_t kTagPassword = FourCC("pwcf");  // text of a password field
inline constexpr std::uint32_t kTagText = FourCC("text");      // text as plain bytes

// Part codes of the control text operations.
inline constexpr std::int16_t kPartEntire = 0;
inline constexpr std::int16_t kPartEditText = 5;

// A control of a window: its signature and number. A window definition names
// the control "<signature>_<number>", e.g. CNTL_131 or tabs_128.
struct ControlID {
  std::uint32_t signature;
  std::int32_t id;
};

// Controls (ControlRef, core/attrs.h), windows and handler references are
// opaque to the dialogs: each toolkit derives its own from these bases and
// hands out pointers that only it follows.
class Control {
public:
  virtual ~Control() = default;

protected:
  Control() = default;
};

class Window {
public:
  virtual ~Window() = default;

protected:
  Window() = default;
};
using WindowRef = Window *;

class EventHandler {
public:
  virtual ~EventHandler() = default;

protected:
  EventHandler() = default;
};
using EventHandlerRef = EventHandler *;

enum class EventKind : std::uint32_t {
  ControlHit = 1,  // a button was pressed, a tab or check box clicked, an item chosen
  ControlDraw = 4, // the control was drawn: shown, its value changed, or Draw1Control
};

// What a handler is told: the kind of event and the control it concerns.
struct Event {
  EventKind kind;
  ControlRef control;
};

// The call reference a handler gets; opaque, only passed through.
using EventHandlerCallRef = void *;

// A control event handler: called only from inside WaitNextEvent, on the
// thread that waits, with the user data given when it was installed. It
// returns noErr when it handled the event.
using EventHandlerProc = OSStatus (*)(EventHandlerCallRef, Event *, void *userData);

// An alert as the resource file defines it (see setup/resources/README.md).
struct AlertDefinition {
  std::int16_t id = 0;
  enum class Kind { Plain, Note, Caution, Stop } kind = Kind::Note;
  std::string title;                // window title, UTF-8; may be empty
  std::string message;              // the main text, UTF-8
  std::string informative;          // smaller text under it, UTF-8; may be empty
  std::vector<std::string> buttons; // at least one; the first is the default
};

class Toolkit {
public:
  virtual ~Toolkit() = default;

  // Opens the window `window` of the definition `name` (the file
  // "<name>.ui") in the folder `resourcesDir`. On success returns noErr and
  // sets *out to a new hidden window that the caller disposes of with
  // DisposeWindow. Otherwise returns non-zero and sets *out to null:
  // kErrFileNotFound (no such file), kErrDefinitionUnreadable (the file does
  // not load), kErrWindowNotFound (no window of that name in it),
  // kErrNoDisplay (no display can be had), kErrNoFrontEnd.
  virtual OSStatus OpenWindow(const std::string &resourcesDir, const std::string &name,
                              const std::string &window, WindowRef *out) = 0;

  // Shows the window; a draw event follows for every control shown with it.
  virtual void ShowWindow(WindowRef window) = 0;
  // True while the window exists and is shown. A window that was disposed
  // of, or that the user closed through the window system, reads false; the
  // reference is compared, never followed, so it may be stale.
  virtual bool IsWindowVisible(WindowRef window) = 0;
  // Closes the window and frees it with its controls and their handlers.
  // Every control reference of the window is invalid afterwards. A stale or
  // null reference is ignored.
  virtual void DisposeWindow(WindowRef window) = 0;
  virtual void SetWindowTitle(WindowRef window, const PlatformString &title) = 0;

  // Finds the control `id` of the window. noErr and *out set, or a non-zero
  // status with *out null when the window has no such control. The control
  // lives as long as its window.
  virtual OSStatus GetControlByID(WindowRef window, ControlID id, ControlRef *out) = 0;

  // The value: 1/0 for a check box, the chosen item (from 1; 0 for none) of a
  // pop-up, the chosen page (from 1) of a tab control, 0 for other kinds.
  // Setting the value of a pop-up or tab control clamps it to 1..count.
  virtual std::int32_t GetControlValue(ControlRef control) = 0;
  virtual void SetControlValue(ControlRef control, std::int32_t value) = 0;
  virtual std::int32_t GetControlMaximum(ControlRef control) = 0;
  virtual void SetControlMaximum(ControlRef control, std::int32_t maximum) = 0;

  // Text of a control by tag: kTagCFString (fields, labels, buttons; part
  // kPartEntire or kPartEditText) or kTagPassword (password fields, part
  // kPartEntire). noErr, or kErrDataNotSupported for a control without such
  // text, kErrParam for a null control.
  virtual OSStatus SetControlString(ControlRef control, std::int16_t part, std::uint32_t tag,
                                    const PlatformString &text) = 0;
  virtual OSStatus GetControlString(ControlRef control, std::int16_t part, std::uint32_t tag,
                                    PlatformString *out) = 0;
  // Text of a control as plain bytes (tag kTagText), read as UTF-8.
  virtual OSStatus SetControlBytes(ControlRef control, std::int16_t part, std::uint32_t tag,
                                   std::string_view bytes) = 0;

  // Visibility. SetControlVisibility with drawNow delivers a draw event when
  // the control ends up shown. IsControlVisible is the control's own state
  // within its window, whether or not the window is shown.
  virtual void SetControlVisibility(ControlRef control, bool visible, bool drawNow) = 0;
  virtual void ShowControl(ControlRef control) = 0;
  virtual bool IsControlVisible(ControlRef control) = 0;
  // Redraws the control now: a draw event follows.
  virtual void Draw1Control(ControlRef control) = 0;

  // The items of a pop-up, numbered from 1. CopyMenuItemText gives
  // kErrParam for an item outside 1..count or a control that is no pop-up.
  virtual std::int32_t CountMenuItems(ControlRef popup) = 0;
  virtual void DeleteMenuItems(ControlRef popup, std::int32_t first, std::int32_t count) = 0;
  virtual void AppendMenuItemText(ControlRef popup, const PlatformString &text) = 0;
  virtual OSStatus CopyMenuItemText(ControlRef popup, std::int32_t item, PlatformString *out) = 0;

  // Keyboard focus: to the next control that takes focus (the first when
  // none has it), or away from every control of the window.
  virtual void AdvanceKeyboardFocus(WindowRef window) = 0;
  virtual void ClearKeyboardFocus(WindowRef window) = 0;

  // Installs `proc` for events of `kind` on the control, with `userData`.
  // noErr with *out (when not null) set to the handler's reference, which
  // stays valid until RemoveEventHandler or the window's disposal. Handlers
  // of one control run in the order installed.
  virtual OSStatus InstallEventHandler(ControlRef control, EventKind kind, EventHandlerProc proc,
                                       void *userData, EventHandlerRef *out) = 0;
  // noErr, or kErrNoSuchHandler for a reference already removed or unknown.
  // A handler may remove itself, and install another, while it runs.
  virtual OSStatus RemoveEventHandler(EventHandlerRef handler) = 0;

  // Waits for the next event for up to `ticks` sixtieths of a second and
  // runs the handlers it concerns. Returns true when an event was handled,
  // false after the timeout or when every window is gone.
  virtual bool WaitNextEvent(std::uint32_t ticks) = 0;

  // Shows the alert modally and waits until the user dismisses it. Returns
  // the number (from 1) of the button pressed, or a negative status.
  virtual std::int32_t RunAlert(const AlertDefinition &alert) = 0;
};

// The front end plugin's one entry point, looked up with dlsym. Returns the
// plugin's toolkit (owned by the plugin, never freed) or null when
// `interfaceVersion` is not the one the plugin was built for.
inline constexpr int kToolkitInterfaceVersion = 1;
inline constexpr char kToolkitEntryPoint[] = "hvl_toolkit_create";
using ToolkitEntryPoint = Toolkit *(*)(int interfaceVersion);

} // namespace hvl

#endif
