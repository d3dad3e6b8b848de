// An in-memory toolkit for tests of dialog code: windows are built in code
// per definition name, every control keeps its state in plain fields, calls
// that change what a user sees are logged, and user input is played from a
// script, one step per wait.
#ifndef HVL_TESTS_FAKE_TOOLKIT_H
#define HVL_TESTS_FAKE_TOOLKIT_H

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "toolkit/platform.h"
#include "toolkit/toolkit.h"

namespace hvl::test {

enum class Kind { Button, Edit, Password, Popup, Check, Label, Tabs, Pane };

class FakeWindow;

struct FakeHandler final : EventHandler {
  class FakeControl *control = nullptr;
  EventKind kind{};
  EventHandlerProc proc = nullptr;
  void *userData = nullptr;
};

class FakeControl final : public Control {
public:
  FakeWindow *window = nullptr;
  ControlID id{};
  Kind kind{};
  std::int32_t value = 0;
  std::int32_t maximum = 0;
  PlatformString text;
  std::vector<PlatformString> items; // pop-up items, item n at n - 1
  bool visible = true;
  bool drawPending = false;
  int draws = 0; // draw events delivered
  std::vector<std::unique_ptr<FakeHandler>> handlers;

  std::string Name() const; // "CNTL_131"
};

class FakeWindow final : public Window {
public:
  std::string definition;
  PlatformString title;
  bool shown = false;
  FakeControl *focus = nullptr;
  std::vector<std::unique_ptr<FakeControl>> controls;

  // Adds a control while the window is built.
  FakeControl &Add(std::int32_t id, Kind kind, const PlatformString &text = {},
                   std::uint32_t signature = kSigControl);
  FakeControl *Find(std::int32_t id, std::uint32_t signature = kSigControl);
};

class FakeToolkit final : public Toolkit {
public:
  // Installs itself as the active toolkit; the destructor puts back the one
  // there before.
  FakeToolkit();
  ~FakeToolkit() override;

  // The definition `name` (as OpenWindow is asked for it) builds windows so.
  void Define(const std::string &name, std::function<void(FakeWindow &)> build);

  // One step runs per wait that finds no event pending. When the steps are
  // used up, the next such wait closes every window as a user would with
  // the window manager, sets `exhausted` and returns false.
  using Step = std::function<void(FakeToolkit &)>;
  void Script(std::vector<Step> steps);
  bool exhausted = false;

  // What a user does, from a step. Each queues the events a real toolkit
  // would deliver; they run in the wait.
  void Click(FakeControl *control);             // hit
  void Type(FakeControl *control, const PlatformString &text);
  void Choose(FakeControl *popup, std::int32_t item); // value, hit, draw
  void Toggle(FakeControl *check);              // value flips, hit, draw

  // The window opened last that is still open, or null.
  FakeWindow *Current();
  // A control of the current window, or null.
  FakeControl *Get(std::int32_t id, std::uint32_t signature = kSigControl);

  std::vector<std::string> log;       // "vis CNTL_141 0", "text CNTL_137 Name", ...
  std::vector<AlertDefinition> alerts; // alerts shown, in order
  std::int32_t alertAnswer = 1;
  int opened = 0;                     // windows opened
  int disposed = 0;                   // windows disposed of

  // Toolkit
  OSStatus OpenWindow(const std::string &resourcesDir, const std::string &name,
                      const std::string &window, WindowRef *out) override;
  void ShowWindow(WindowRef window) override;
  bool IsWindowVisible(WindowRef window) override;
  void DisposeWindow(WindowRef window) override;
  void SetWindowTitle(WindowRef window, const PlatformString &title) override;
  OSStatus GetControlByID(WindowRef window, ControlID id, ControlRef *out) override;
  std::int32_t GetControlValue(ControlRef control) override;
  void SetControlValue(ControlRef control, std::int32_t value) override;
  std::int32_t GetControlMaximum(ControlRef control) override;
  void SetControlMaximum(ControlRef control, std::int32_t maximum) override;
  OSStatus SetControlString(ControlRef control, std::int16_t part, std::uint32_t tag,
                            const PlatformString &text) override;
  OSStatus GetControlString(ControlRef control, std::int16_t part, std::uint32_t tag,
                            PlatformString *out) override;
  OSStatus SetControlBytes(ControlRef control, std::int16_t part, std::uint32_t tag,
                           std::string_view bytes) override;
  void SetControlVisibility(ControlRef control, bool visible, bool drawNow) override;
  void ShowControl(ControlRef control) override;
  bool IsControlVisible(ControlRef control) override;
  void Draw1Control(ControlRef control) override;
  std::int32_t CountMenuItems(ControlRef popup) override;
  void DeleteMenuItems(ControlRef popup, std::int32_t first, std::int32_t count) override;
  void AppendMenuItemText(ControlRef popup, const PlatformString &text) override;
  OSStatus CopyMenuItemText(ControlRef popup, std::int32_t item, PlatformString *out) override;
  void AdvanceKeyboardFocus(WindowRef window) override;
  void ClearKeyboardFocus(WindowRef window) override;
  OSStatus InstallEventHandler(ControlRef control, EventKind kind, EventHandlerProc proc,
                               void *userData, EventHandlerRef *out) override;
  OSStatus RemoveEventHandler(EventHandlerRef handler) override;
  bool WaitNextEvent(std::uint32_t ticks) override;
  std::int32_t RunAlert(const AlertDefinition &alert) override;

private:
  FakeWindow *Live(WindowRef w);
  FakeControl *Ctl(ControlRef c);
  void Queue(FakeControl *c, EventKind kind);
  void QueueDraw(FakeControl *c);
  bool Dispatch();

  Toolkit *before_ = nullptr;
  std::map<std::string, std::function<void(FakeWindow &)>> definitions_;
  std::vector<std::unique_ptr<FakeWindow>> windows_;
  std::deque<std::pair<FakeControl *, EventKind>> queue_;
  std::deque<Step> steps_;
};

// The text of a toolkit string as UTF-8, for messages and comparisons.
std::string U8(const PlatformString &s);
PlatformString U16(const std::string &s);

} // namespace hvl::test

#endif
