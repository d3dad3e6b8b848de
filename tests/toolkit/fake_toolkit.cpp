#include "fake_toolkit.h"

#include <algorithm>

#include "toolkit/utf16.h"

namespace hvl::test {

std::string U8(const PlatformString &s) { return detail::Utf16ToUtf8(s); }
PlatformString U16(const std::string &s) { return detail::Utf8ToUtf16(s); }

std::string FakeControl::Name() const {
  std::string sig;
  for (int shift = 24; shift >= 0; shift -= 8)
    sig.push_back(static_cast<char>(id.signature >> shift));
  return sig + "_" + std::to_string(id.id);
}

FakeControl &FakeWindow::Add(std::int32_t id, Kind kind, const PlatformString &text,
                             std::uint32_t signature) {
  auto c = std::make_unique<FakeControl>();
  c->window = this;
  c->id = ControlID{signature, id};
  c->kind = kind;
  c->text = text;
  controls.push_back(std::move(c));
  return *controls.back();
}

FakeControl *FakeWindow::Find(std::int32_t id, std::uint32_t signature) {
  for (auto &c : controls)
    if (c->id.id == id && c->id.signature == signature)
      return c.get();
  return nullptr;
}

FakeToolkit::FakeToolkit() { before_ = SetActiveToolkit(this); }
FakeToolkit::~FakeToolkit() { SetActiveToolkit(before_); }

void FakeToolkit::Define(const std::string &name, std::function<void(FakeWindow &)> build) {
  definitions_[name] = std::move(build);
}

void FakeToolkit::Script(std::vector<Step> steps) {
  steps_.assign(steps.begin(), steps.end());
  exhausted = false;
}

void FakeToolkit::Click(FakeControl *c) {
  if (c != nullptr)
    Queue(c, EventKind::ControlHit);
}

void FakeToolkit::Type(FakeControl *c, const PlatformString &text) {
  if (c != nullptr)
    c->text = text;
}

void FakeToolkit::Choose(FakeControl *popup, std::int32_t item) {
  if (popup == nullptr)
    return;
  popup->value = item;
  Queue(popup, EventKind::ControlHit);
  QueueDraw(popup);
}

void FakeToolkit::Toggle(FakeControl *check) {
  if (check == nullptr)
    return;
  check->value = check->value != 0 ? 0 : 1;
  Queue(check, EventKind::ControlHit);
  QueueDraw(check);
}

FakeWindow *FakeToolkit::Current() { return windows_.empty() ? nullptr : windows_.back().get(); }

FakeControl *FakeToolkit::Get(std::int32_t id, std::uint32_t signature) {
  FakeWindow *w = Current();
  return w != nullptr ? w->Find(id, signature) : nullptr;
}

FakeWindow *FakeToolkit::Live(WindowRef ref) {
  for (auto &w : windows_)
    if (w.get() == ref)
      return w.get();
  return nullptr;
}

// Control references are only followed while their window is open: a test
// that hands a stale one in gets a null, as a use-after-free would not.
FakeControl *FakeToolkit::Ctl(ControlRef ref) {
  for (auto &w : windows_)
    for (auto &c : w->controls)
      if (c.get() == ref)
        return c.get();
  return nullptr;
}

void FakeToolkit::Queue(FakeControl *c, EventKind kind) { queue_.emplace_back(c, kind); }

void FakeToolkit::QueueDraw(FakeControl *c) {
  if (c->drawPending)
    return;
  c->drawPending = true;
  Queue(c, EventKind::ControlDraw);
}

bool FakeToolkit::Dispatch() {
  bool any = false;
  while (!queue_.empty()) {
    auto [c, kind] = queue_.front();
    queue_.pop_front();
    if (Ctl(c) == nullptr)
      continue;
    if (kind == EventKind::ControlDraw) {
      c->drawPending = false;
      ++c->draws;
    }
    std::vector<FakeHandler *> due;
    for (auto &h : c->handlers)
      if (h->kind == kind)
        due.push_back(h.get());
    for (FakeHandler *h : due) {
      if (Ctl(c) == nullptr)
        break;
      bool installed = std::any_of(c->handlers.begin(), c->handlers.end(),
                                   [&](const auto &x) { return x.get() == h; });
      if (!installed)
        continue;
      Event event{kind, c};
      h->proc(nullptr, &event, h->userData);
      any = true;
    }
  }
  return any;
}

OSStatus FakeToolkit::OpenWindow(const std::string &, const std::string &name,
                                 const std::string &window, WindowRef *out) {
  *out = nullptr;
  auto it = definitions_.find(name);
  if (it == definitions_.end())
    return kErrFileNotFound;
  if (window != "Dialog")
    return kErrWindowNotFound;
  auto w = std::make_unique<FakeWindow>();
  w->definition = name;
  it->second(*w);
  *out = w.get();
  windows_.push_back(std::move(w));
  ++opened;
  log.push_back("open " + name);
  return noErr;
}

void FakeToolkit::ShowWindow(WindowRef ref) {
  FakeWindow *w = Live(ref);
  if (w == nullptr)
    return;
  w->shown = true;
  log.push_back("show window");
  for (auto &c : w->controls)
    if (c->visible)
      QueueDraw(c.get());
}

bool FakeToolkit::IsWindowVisible(WindowRef ref) {
  FakeWindow *w = Live(ref);
  return w != nullptr && w->shown;
}

void FakeToolkit::DisposeWindow(WindowRef ref) {
  auto it = std::find_if(windows_.begin(), windows_.end(),
                         [&](const auto &w) { return w.get() == ref; });
  if (it == windows_.end())
    return;
  FakeWindow *w = it->get();
  queue_.erase(std::remove_if(queue_.begin(), queue_.end(),
                              [&](const auto &p) { return p.first->window == w; }),
               queue_.end());
  windows_.erase(it);
  ++disposed;
  log.push_back("dispose");
}

void FakeToolkit::SetWindowTitle(WindowRef ref, const PlatformString &title) {
  if (FakeWindow *w = Live(ref))
    w->title = title;
}

OSStatus FakeToolkit::GetControlByID(WindowRef ref, ControlID id, ControlRef *out) {
  *out = nullptr;
  FakeWindow *w = Live(ref);
  FakeControl *c = w != nullptr ? w->Find(id.id, id.signature) : nullptr;
  if (c == nullptr)
    return kErrParam;
  *out = c;
  return noErr;
}

std::int32_t FakeToolkit::GetControlValue(ControlRef ref) {
  FakeControl *c = Ctl(ref);
  return c != nullptr ? c->value : 0;
}

void FakeToolkit::SetControlValue(ControlRef ref, std::int32_t value) {
  FakeControl *c = Ctl(ref);
  if (c == nullptr)
    return;
  if (c->kind == Kind::Popup)
    value = c->items.empty() ? 0 : std::clamp<std::int32_t>(value, 1, static_cast<std::int32_t>(c->items.size()));
  c->value = value;
  log.push_back("value " + c->Name() + " " + std::to_string(value));
  QueueDraw(c);
}

std::int32_t FakeToolkit::GetControlMaximum(ControlRef ref) {
  FakeControl *c = Ctl(ref);
  return c != nullptr ? c->maximum : 0;
}

void FakeToolkit::SetControlMaximum(ControlRef ref, std::int32_t maximum) {
  if (FakeControl *c = Ctl(ref))
    c->maximum = maximum;
}

OSStatus FakeToolkit::SetControlString(ControlRef ref, std::int16_t part, std::uint32_t tag,
                                       const PlatformString &text) {
  FakeControl *c = Ctl(ref);
  if (c == nullptr || part != kPartEntire)
    return kErrParam;
  bool fits = (tag == kTagCFString && (c->kind == Kind::Edit || c->kind == Kind::Label ||
                                        c->kind == Kind::Button)) ||
              (tag == kTagPassword && c->kind == Kind::Password);
  if (!fits)
    return kErrDataNotSupported;
  c->text = text;
  log.push_back("text " + c->Name() + " " + U8(text));
  return noErr;
}

OSStatus FakeToolkit::GetControlString(ControlRef ref, std::int16_t part, std::uint32_t tag,
                                       PlatformString *out) {
  FakeControl *c = Ctl(ref);
  if (c == nullptr)
    return kErrParam;
  bool fits = (tag == kTagCFString && part == kPartEditText && c->kind == Kind::Edit) ||
              (tag == kTagCFString && part == kPartEntire && c->kind == Kind::Label) ||
              (tag == kTagPassword && part == kPartEntire && c->kind == Kind::Password);
  if (!fits)
    return kErrDataNotSupported;
  *out = c->text;
  return noErr;
}

OSStatus FakeToolkit::SetControlBytes(ControlRef ref, std::int16_t part, std::uint32_t tag,
                                      std::string_view bytes) {
  FakeControl *c = Ctl(ref);
  if (c == nullptr || part != kPartEntire || tag != kTagText)
    return kErrParam;
  c->text = U16(std::string(bytes));
  log.push_back("bytes " + c->Name() + " " + std::string(bytes));
  return noErr;
}

void FakeToolkit::SetControlVisibility(ControlRef ref, bool visible, bool drawNow) {
  FakeControl *c = Ctl(ref);
  if (c == nullptr)
    return;
  c->visible = visible;
  log.push_back("vis " + c->Name() + (visible ? " 1" : " 0"));
  if (visible && drawNow)
    QueueDraw(c);
}

void FakeToolkit::ShowControl(ControlRef ref) {
  FakeControl *c = Ctl(ref);
  if (c == nullptr)
    return;
  // Showing what is shown draws nothing: that is what keeps a draw handler
  // that shows its own control from calling itself for ever.
  if (!c->visible) {
    c->visible = true;
    QueueDraw(c);
  }
  log.push_back("showctl " + c->Name());
}

bool FakeToolkit::IsControlVisible(ControlRef ref) {
  FakeControl *c = Ctl(ref);
  return c != nullptr && c->visible;
}

void FakeToolkit::Draw1Control(ControlRef ref) {
  if (FakeControl *c = Ctl(ref)) {
    log.push_back("draw " + c->Name());
    QueueDraw(c);
  }
}

std::int32_t FakeToolkit::CountMenuItems(ControlRef ref) {
  FakeControl *c = Ctl(ref);
  return c != nullptr ? static_cast<std::int32_t>(c->items.size()) : 0;
}

void FakeToolkit::DeleteMenuItems(ControlRef ref, std::int32_t first, std::int32_t count) {
  FakeControl *c = Ctl(ref);
  if (c == nullptr || first < 1 || count < 1)
    return;
  auto begin = std::min<std::size_t>(static_cast<std::size_t>(first - 1), c->items.size());
  auto end = std::min<std::size_t>(begin + static_cast<std::size_t>(count), c->items.size());
  c->items.erase(c->items.begin() + static_cast<std::ptrdiff_t>(begin),
                 c->items.begin() + static_cast<std::ptrdiff_t>(end));
}

void FakeToolkit::AppendMenuItemText(ControlRef ref, const PlatformString &text) {
  if (FakeControl *c = Ctl(ref))
    c->items.push_back(text);
}

OSStatus FakeToolkit::CopyMenuItemText(ControlRef ref, std::int32_t item, PlatformString *out) {
  FakeControl *c = Ctl(ref);
  if (c == nullptr || item < 1 || item > static_cast<std::int32_t>(c->items.size()))
    return kErrParam;
  *out = c->items[static_cast<std::size_t>(item - 1)];
  return noErr;
}

void FakeToolkit::AdvanceKeyboardFocus(WindowRef ref) {
  FakeWindow *w = Live(ref);
  if (w == nullptr)
    return;
  auto takes = [](const FakeControl &c) {
    return c.visible && (c.kind == Kind::Edit || c.kind == Kind::Password ||
                         c.kind == Kind::Popup || c.kind == Kind::Check ||
                         c.kind == Kind::Button);
  };
  auto &cs = w->controls;
  std::size_t start = 0;
  for (std::size_t i = 0; i < cs.size(); ++i)
    if (cs[i].get() == w->focus)
      start = i + 1;
  for (std::size_t k = 0; k < cs.size(); ++k) {
    FakeControl &c = *cs[(start + k) % cs.size()];
    if (takes(c)) {
      w->focus = &c;
      log.push_back("focus " + c.Name());
      return;
    }
  }
}

void FakeToolkit::ClearKeyboardFocus(WindowRef ref) {
  if (FakeWindow *w = Live(ref)) {
    w->focus = nullptr;
    log.push_back("focus none");
  }
}

OSStatus FakeToolkit::InstallEventHandler(ControlRef ref, EventKind kind, EventHandlerProc proc,
                                          void *userData, EventHandlerRef *out) {
  if (out != nullptr)
    *out = nullptr;
  FakeControl *c = Ctl(ref);
  if (c == nullptr || proc == nullptr)
    return kErrParam;
  auto h = std::make_unique<FakeHandler>();
  h->control = c;
  h->kind = kind;
  h->proc = proc;
  h->userData = userData;
  if (out != nullptr)
    *out = h.get();
  log.push_back(std::string(kind == EventKind::ControlDraw ? "install draw " : "install hit ") +
                c->Name());
  c->handlers.push_back(std::move(h));
  return noErr;
}

OSStatus FakeToolkit::RemoveEventHandler(EventHandlerRef ref) {
  for (auto &w : windows_)
    for (auto &c : w->controls) {
      auto it = std::find_if(c->handlers.begin(), c->handlers.end(),
                             [&](const auto &h) { return h.get() == ref; });
      if (it != c->handlers.end()) {
        log.push_back("remove " + c->Name());
        c->handlers.erase(it);
        return noErr;
      }
    }
  return kErrNoSuchHandler;
}

bool FakeToolkit::WaitNextEvent(std::uint32_t) {
  if (Dispatch())
    return true;
  if (steps_.empty()) {
    exhausted = true;
    for (auto &w : windows_)
      w->shown = false;
    return false;
  }
  Step step = std::move(steps_.front());
  steps_.pop_front();
  step(*this);
  Dispatch();
  return true;
}

std::int32_t FakeToolkit::RunAlert(const AlertDefinition &alert) {
  alerts.push_back(alert);
  return alertAnswer;
}

} // namespace hvl::test
