// The Qt 6 Widgets front end of the dialog toolkit, built as a plugin of the
// setup library's bundle and loaded with dlopen on the first window.
//
// Control events are not run from Qt's signals: they are queued and run from
// WaitNextEvent, so that the dialogs' handlers only ever run inside their
// modal wait, on the waiting thread, and never in the middle of a toolkit
// call that happened to make Qt emit a signal.
#include <dlfcn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QEvent>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QAbstractSpinBox>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTextEdit>
#include <QThread>
#include <QTimer>
#include <QUiLoader>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "toolkit/toolkit.h"

namespace hvl {
namespace {

class QtWindow;

struct QtHandler final : EventHandler {
  class QtControl *control = nullptr;
  EventKind kind{};
  EventHandlerProc proc = nullptr;
  void *userData = nullptr;
  std::uint64_t serial = 0;
};

class QtControl final : public Control {
public:
  QPointer<QWidget> widget;
  QtWindow *window = nullptr;
  std::int32_t maximum = -1; // -1: the widget's own (item or page count)
  bool drawPending = false;
  std::uint64_t serial = 0;
  std::vector<std::unique_ptr<QtHandler>> handlers;
};

class QtWindow final : public Window {
public:
  QWidget *widget = nullptr; // owned
  std::map<QWidget *, std::unique_ptr<QtControl>> controls;
  bool closedByUser = false;
};

QString ToQ(const PlatformString &s) {
  return QString(reinterpret_cast<const QChar *>(s.data()), static_cast<qsizetype>(s.size()));
}
PlatformString FromQ(const QString &s) {
  return PlatformString(reinterpret_cast<const char16_t *>(s.utf16()),
                        static_cast<std::size_t>(s.size()));
}

QString ControlName(ControlID id) {
  char sig[5] = {static_cast<char>(id.signature >> 24), static_cast<char>(id.signature >> 16),
                 static_cast<char>(id.signature >> 8), static_cast<char>(id.signature), 0};
  return QString::fromLatin1(sig) + QLatin1Char('_') + QString::number(id.id);
}

QTabBar *TabBarOf(QWidget *w) {
  if (auto *bar = qobject_cast<QTabBar *>(w))
    return bar;
  if (auto *tabs = qobject_cast<QTabWidget *>(w))
    return tabs->tabBar();
  return nullptr;
}

bool EnvSet(const char *name) {
  const char *v = std::getenv(name);
  return v != nullptr && v[0] != '\0';
}

// Whether the X server named by DISPLAY answers. Asked before Qt's xcb
// platform is started, because that platform aborts its host when it cannot
// connect.
bool XServerAnswers() {
  if (!EnvSet("DISPLAY"))
    return false;
  void *xcb = dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
  if (xcb == nullptr)
    return false;
  using Connect = void *(*)(const char *, int *);
  using HasError = int (*)(void *);
  using Disconnect = void (*)(void *);
  auto connect = reinterpret_cast<Connect>(dlsym(xcb, "xcb_connect"));
  auto hasError = reinterpret_cast<HasError>(dlsym(xcb, "xcb_connection_has_error"));
  auto disconnect = reinterpret_cast<Disconnect>(dlsym(xcb, "xcb_disconnect"));
  bool ok = false;
  if (connect != nullptr && hasError != nullptr && disconnect != nullptr) {
    void *c = connect(nullptr, nullptr);
    ok = c != nullptr && hasError(c) == 0;
    if (c != nullptr)
      disconnect(c);
  }
  dlclose(xcb);
  return ok;
}

// A compositor listens on $XDG_RUNTIME_DIR/$WAYLAND_DISPLAY (or on the
// absolute path given), and Qt has its Wayland platform installed.
bool WaylandUsable() {
  if (!EnvSet("WAYLAND_DISPLAY"))
    return false;
  std::string socketPath = std::getenv("WAYLAND_DISPLAY");
  if (socketPath[0] != '/') {
    if (!EnvSet("XDG_RUNTIME_DIR"))
      return false;
    socketPath = std::string(std::getenv("XDG_RUNTIME_DIR")) + "/" + socketPath;
  }
  sockaddr_un address{};
  if (socketPath.size() >= sizeof address.sun_path)
    return false;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0)
    return false;
  bool listening = connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
  close(fd);
  if (!listening)
    return false;
  QString plugins = QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms");
  return QFile::exists(plugins + QStringLiteral("/libqwayland-generic.so")) ||
         QFile::exists(plugins + QStringLiteral("/libqwayland-egl.so"));
}

// Which platform Qt is to start with: "" for its own choice, a name to pass
// with -platform, or nullopt when no display can be had. Every case that
// would make Qt abort (a platform it cannot connect) is caught here.
std::optional<QString> ChoosePlatform() {
  const char *asked = std::getenv("QT_QPA_PLATFORM");
  if (asked != nullptr && asked[0] != '\0') {
    QString name = QString::fromLocal8Bit(asked).section(QLatin1Char(':'), 0, 0);
    if (name == QLatin1String("xcb"))
      return XServerAnswers() ? std::optional<QString>(QString()) : std::nullopt;
    if (name.startsWith(QLatin1String("wayland")))
      return WaylandUsable() ? std::optional<QString>(QString()) : std::nullopt;
    return QString(); // offscreen, minimal, vnc, ...: they need no server
  }
  if (XServerAnswers())
    return QString(); // Qt's own choice: it falls back to xcb, which answers
  if (WaylandUsable())
    return QString::fromLatin1("wayland");
  return std::nullopt;
}

class QtToolkit final : public Toolkit, public QObject {
public:
  OSStatus OpenWindow(const std::string &resourcesDir, const std::string &name,
                      const std::string &window, WindowRef *out) override {
    if (out == nullptr)
      return kErrParam;
    *out = nullptr;
    QString path = QString::fromStdString(resourcesDir + "/" + name + ".ui");
    QFile file(path);
    if (!file.exists())
      return kErrFileNotFound;
    if (OSStatus s = EnsureApplication(); s != noErr)
      return s;
    if (!file.open(QIODevice::ReadOnly)) {
      std::fprintf(stderr, "hvlqt: cannot read %s: %s\n", qPrintable(path),
                   qPrintable(file.errorString()));
      return kErrDefinitionUnreadable;
    }
    QUiLoader loader;
    QWidget *top = loader.load(&file, nullptr);
    if (top == nullptr) {
      std::fprintf(stderr, "hvlqt: cannot load %s: %s\n", qPrintable(path),
                   qPrintable(loader.errorString()));
      return kErrDefinitionUnreadable;
    }
    QString wanted = QString::fromStdString(window);
    QWidget *found = top->objectName() == wanted ? top : top->findChild<QWidget *>(wanted);
    if (found == nullptr) {
      delete top;
      return kErrWindowNotFound;
    }
    if (found != top) {
      found->setParent(nullptr, Qt::Window);
      delete top;
    }
    found->setWindowModality(Qt::ApplicationModal);
    found->installEventFilter(this);
    if (auto *dialog = qobject_cast<QDialog *>(found)) {
      // Escape and the window manager's close button end the dialog: the
      // wait sees the window gone and the dialog returns as cancelled.
      QObject::connect(dialog, &QDialog::finished, this, [this, dialog] { MarkClosed(dialog); });
    }
    auto w = std::make_unique<QtWindow>();
    w->widget = found;
    *out = w.get();
    windows_.push_back(std::move(w));
    return noErr;
  }

  void ShowWindow(WindowRef ref) override {
    if (QtWindow *w = Live(ref)) {
      w->widget->show();
      // Offscreen there is nothing to raise, and Qt says so on every call.
      if (QGuiApplication::platformName() != QLatin1String("offscreen")) {
        w->widget->raise();
        w->widget->activateWindow();
      }
    }
  }

  bool IsWindowVisible(WindowRef ref) override {
    QtWindow *w = Live(ref);
    return w != nullptr && !w->closedByUser && w->widget->isVisible();
  }

  void DisposeWindow(WindowRef ref) override {
    auto it = std::find_if(windows_.begin(), windows_.end(),
                           [&](const auto &w) { return w.get() == ref; });
    if (it == windows_.end())
      return;
    std::unique_ptr<QtWindow> w = std::move(*it);
    windows_.erase(it);
    Forget(*w);
    w->widget->removeEventFilter(this);
    w->widget->hide();
    delete w->widget;
    if (loop_ != nullptr)
      loop_->quit();
  }

  void SetWindowTitle(WindowRef ref, const PlatformString &title) override {
    if (QtWindow *w = Live(ref))
      w->widget->setWindowTitle(ToQ(title));
  }

  OSStatus GetControlByID(WindowRef ref, ControlID id, ControlRef *out) override {
    if (out == nullptr)
      return kErrParam;
    *out = nullptr;
    QtWindow *w = Live(ref);
    if (w == nullptr)
      return kErrParam;
    auto *widget = w->widget->findChild<QWidget *>(ControlName(id));
    if (widget == nullptr)
      return kErrParam;
    auto &slot = w->controls[widget];
    if (!slot)
      slot = MakeControl(w, widget);
    *out = slot.get();
    return noErr;
  }

  std::int32_t GetControlValue(ControlRef ref) override {
    QWidget *w = WidgetOf(ref);
    if (auto *b = qobject_cast<QAbstractButton *>(w))
      return b->isCheckable() && b->isChecked() ? 1 : 0;
    if (auto *c = qobject_cast<QComboBox *>(w))
      return c->currentIndex() + 1;
    if (QTabBar *t = TabBarOf(w))
      return t->currentIndex() + 1;
    if (auto *s = qobject_cast<QAbstractSlider *>(w))
      return s->value();
    if (auto *s = qobject_cast<QSpinBox *>(w))
      return s->value();
    return 0;
  }

  void SetControlValue(ControlRef ref, std::int32_t value) override {
    QWidget *w = WidgetOf(ref);
    auto pick = [&](int count) {
      int max = static_cast<QtControl *>(ref)->maximum;
      if (max >= 0)
        count = std::min(count, max);
      return std::clamp(value, 1, std::max(count, 1)) - 1;
    };
    if (auto *b = qobject_cast<QAbstractButton *>(w)) {
      if (b->isCheckable())
        b->setChecked(value != 0);
    } else if (auto *c = qobject_cast<QComboBox *>(w)) {
      if (c->count() > 0)
        c->setCurrentIndex(pick(c->count()));
    } else if (QTabBar *t = TabBarOf(w)) {
      if (t->count() > 0) {
        int index = pick(t->count());
        if (auto *tabs = qobject_cast<QTabWidget *>(w))
          tabs->setCurrentIndex(index);
        else
          t->setCurrentIndex(index);
      }
    } else if (auto *s = qobject_cast<QAbstractSlider *>(w)) {
      s->setValue(value);
    } else if (auto *sp = qobject_cast<QSpinBox *>(w)) {
      sp->setValue(value);
    } else {
      return;
    }
    if (w != nullptr)
      QueueDraw(static_cast<QtControl *>(ref));
  }

  std::int32_t GetControlMaximum(ControlRef ref) override {
    QWidget *w = WidgetOf(ref);
    if (w == nullptr)
      return 0;
    if (auto *s = qobject_cast<QAbstractSlider *>(w))
      return s->maximum();
    if (auto *sp = qobject_cast<QSpinBox *>(w))
      return sp->maximum();
    int own = 0;
    if (auto *c = qobject_cast<QComboBox *>(w))
      own = c->count();
    else if (QTabBar *t = TabBarOf(w))
      own = t->count();
    else if (auto *b = qobject_cast<QAbstractButton *>(w))
      own = b->isCheckable() ? 1 : 0;
    int max = static_cast<QtControl *>(ref)->maximum;
    return max >= 0 ? max : own;
  }

  void SetControlMaximum(ControlRef ref, std::int32_t maximum) override {
    QWidget *w = WidgetOf(ref);
    if (w == nullptr)
      return;
    if (auto *s = qobject_cast<QAbstractSlider *>(w))
      s->setMaximum(maximum);
    else if (auto *sp = qobject_cast<QSpinBox *>(w))
      sp->setMaximum(maximum);
    else
      static_cast<QtControl *>(ref)->maximum = std::max(maximum, 0);
  }

  OSStatus SetControlString(ControlRef ref, std::int16_t part, std::uint32_t tag,
                            const PlatformString &text) override {
    QWidget *w = WidgetOf(ref);
    if (w == nullptr)
      return kErrParam;
    if (part != kPartEntire && part != kPartEditText)
      return kErrParam;
    return SetText(w, tag, ToQ(text));
  }

  OSStatus GetControlString(ControlRef ref, std::int16_t part, std::uint32_t tag,
                            PlatformString *out) override {
    QWidget *w = WidgetOf(ref);
    if (w == nullptr || out == nullptr)
      return kErrParam;
    if (part != kPartEntire && part != kPartEditText)
      return kErrParam;
    if (auto *e = qobject_cast<QLineEdit *>(w)) {
      if (tag != kTagCFString && tag != kTagPassword)
        return kErrDataNotSupported;
      *out = FromQ(e->text());
      return noErr;
    }
    if (tag != kTagCFString)
      return kErrDataNotSupported;
    if (auto *l = qobject_cast<QLabel *>(w))
      *out = FromQ(l->text());
    else if (auto *b = qobject_cast<QAbstractButton *>(w))
      *out = FromQ(b->text());
    else if (auto *p = qobject_cast<QPlainTextEdit *>(w))
      *out = FromQ(p->toPlainText());
    else if (auto *t = qobject_cast<QTextEdit *>(w))
      *out = FromQ(t->toPlainText());
    else
      return kErrDataNotSupported;
    return noErr;
  }

  OSStatus SetControlBytes(ControlRef ref, std::int16_t part, std::uint32_t tag,
                           std::string_view bytes) override {
    QWidget *w = WidgetOf(ref);
    if (w == nullptr || tag != kTagText)
      return w == nullptr ? kErrParam : kErrDataNotSupported;
    if (part != kPartEntire && part != kPartEditText)
      return kErrParam;
    return SetText(w, kTagCFString,
                   QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size())));
  }

  void SetControlVisibility(ControlRef ref, bool visible, bool drawNow) override {
    QWidget *w = WidgetOf(ref);
    if (w == nullptr)
      return;
    w->setVisible(visible);
    if (visible && drawNow)
      QueueDraw(static_cast<QtControl *>(ref));
  }

  void ShowControl(ControlRef ref) override {
    if (QWidget *w = WidgetOf(ref))
      w->setVisible(true);
  }

  bool IsControlVisible(ControlRef ref) override {
    QWidget *w = WidgetOf(ref);
    return w != nullptr && w->isVisibleTo(static_cast<QtControl *>(ref)->window->widget);
  }

  void Draw1Control(ControlRef ref) override {
    if (QWidget *w = WidgetOf(ref)) {
      w->update();
      QueueDraw(static_cast<QtControl *>(ref));
    }
  }

  std::int32_t CountMenuItems(ControlRef ref) override {
    auto *c = qobject_cast<QComboBox *>(WidgetOf(ref));
    return c != nullptr ? c->count() : 0;
  }

  void DeleteMenuItems(ControlRef ref, std::int32_t first, std::int32_t count) override {
    auto *c = qobject_cast<QComboBox *>(WidgetOf(ref));
    if (c == nullptr || first < 1)
      return;
    for (std::int32_t i = 0; i < count && first - 1 < c->count(); ++i)
      c->removeItem(first - 1);
  }

  void AppendMenuItemText(ControlRef ref, const PlatformString &text) override {
    if (auto *c = qobject_cast<QComboBox *>(WidgetOf(ref)))
      c->addItem(ToQ(text));
  }

  OSStatus CopyMenuItemText(ControlRef ref, std::int32_t item, PlatformString *out) override {
    auto *c = qobject_cast<QComboBox *>(WidgetOf(ref));
    if (c == nullptr || out == nullptr || item < 1 || item > c->count())
      return kErrParam;
    *out = FromQ(c->itemText(item - 1));
    return noErr;
  }

  // As on the desktop the dialogs come from, the focus goes from text field
  // to text field; buttons, pop-ups and tabs are left to the Tab key, which
  // Qt handles itself. A window without a text field falls back to any
  // control that takes focus.
  void AdvanceKeyboardFocus(WindowRef ref) override {
    QtWindow *w = Live(ref);
    if (w == nullptr)
      return;
    QWidget *top = w->widget;
    auto takesText = [](QWidget *x) {
      auto *combo = qobject_cast<QComboBox *>(x);
      return qobject_cast<QLineEdit *>(x) != nullptr || qobject_cast<QTextEdit *>(x) != nullptr ||
             qobject_cast<QPlainTextEdit *>(x) != nullptr ||
             qobject_cast<QAbstractSpinBox *>(x) != nullptr ||
             (combo != nullptr && combo->isEditable());
    };
    QWidget *start = top->focusWidget() != nullptr ? top->focusWidget() : top;
    for (bool textOnly : {true, false}) {
      for (QWidget *next = start->nextInFocusChain(); next != nullptr && next != start;
           next = next->nextInFocusChain()) {
        if (top->isAncestorOf(next) && (next->focusPolicy() & Qt::TabFocus) != 0 &&
            next->isEnabled() && next->isVisibleTo(top) && (!textOnly || takesText(next))) {
          next->setFocus(Qt::TabFocusReason);
          return;
        }
      }
    }
  }

  void ClearKeyboardFocus(WindowRef ref) override {
    if (QtWindow *w = Live(ref))
      if (QWidget *f = w->widget->focusWidget())
        f->clearFocus();
  }

  OSStatus InstallEventHandler(ControlRef ref, EventKind kind, EventHandlerProc proc,
                               void *userData, EventHandlerRef *out) override {
    if (out != nullptr)
      *out = nullptr;
    if (WidgetOf(ref) == nullptr || proc == nullptr)
      return kErrParam;
    auto *c = static_cast<QtControl *>(ref);
    auto h = std::make_unique<QtHandler>();
    h->control = c;
    h->kind = kind;
    h->proc = proc;
    h->userData = userData;
    h->serial = ++serial_;
    if (out != nullptr)
      *out = h.get();
    c->handlers.push_back(std::move(h));
    return noErr;
  }

  OSStatus RemoveEventHandler(EventHandlerRef ref) override {
    if (ref == nullptr)
      return kErrNoSuchHandler;
    for (auto &w : windows_)
      for (auto &[widget, c] : w->controls) {
        auto it = std::find_if(c->handlers.begin(), c->handlers.end(),
                               [&](const auto &h) { return h.get() == ref; });
        if (it != c->handlers.end()) {
          c->handlers.erase(it);
          return noErr;
        }
      }
    return kErrNoSuchHandler;
  }

  bool WaitNextEvent(std::uint32_t ticks) override {
    if (QApplication::instance() == nullptr)
      return false;
    bool handled = Dispatch();
    if (!handled && std::any_of(windows_.begin(), windows_.end(), [](const auto &w) {
          return !w->closedByUser && w->widget->isVisible();
        })) {
      QEventLoop loop;
      QTimer timer;
      timer.setSingleShot(true);
      QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
      timer.start(static_cast<int>(std::min<std::uint64_t>(ticks * 1000ull / 60, 1u << 30)));
      QEventLoop *outer = loop_;
      loop_ = &loop;
      if (queue_.empty())
        loop.exec();
      loop_ = outer;
      handled = Dispatch();
    } else if (!handled) {
      QCoreApplication::processEvents();
    }
    PurgeClosed();
    return handled;
  }

  std::int32_t RunAlert(const AlertDefinition &alert) override {
    if (OSStatus s = EnsureApplication(); s != noErr)
      return s;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    switch (alert.kind) {
    case AlertDefinition::Kind::Plain: icon = QMessageBox::NoIcon; break;
    case AlertDefinition::Kind::Note: icon = QMessageBox::Information; break;
    case AlertDefinition::Kind::Caution: icon = QMessageBox::Warning; break;
    case AlertDefinition::Kind::Stop: icon = QMessageBox::Critical; break;
    }
    QMessageBox box(icon, QString::fromStdString(alert.title),
                    QString::fromStdString(alert.message));
    box.setObjectName(QStringLiteral("ALRT_%1").arg(alert.id));
    if (!alert.informative.empty())
      box.setInformativeText(QString::fromStdString(alert.informative));
    std::vector<QPushButton *> buttons;
    for (const auto &title : alert.buttons)
      buttons.push_back(box.addButton(QString::fromStdString(title), QMessageBox::AcceptRole));
    if (buttons.empty())
      buttons.push_back(box.addButton(QMessageBox::Ok));
    box.setDefaultButton(buttons.front());
    box.setEscapeButton(buttons.front());
    box.exec();
    auto it = std::find(buttons.begin(), buttons.end(), box.clickedButton());
    return it == buttons.end() ? 1 : static_cast<std::int32_t>(it - buttons.begin()) + 1;
  }

protected:
  bool eventFilter(QObject *watched, QEvent *event) override {
    if (event->type() == QEvent::Show) {
      if (auto *widget = qobject_cast<QWidget *>(watched)) {
        if (QtControl *c = ControlFor(widget))
          QueueDraw(c);
        else
          QueueDrawsUnder(widget);
      }
    } else if (event->type() == QEvent::Close) {
      if (auto *widget = qobject_cast<QWidget *>(watched); widget != nullptr && widget->isWindow())
        MarkClosed(widget);
    }
    return false;
  }

private:
  OSStatus EnsureApplication() {
    if (QCoreApplication *existing = QCoreApplication::instance()) {
      // Widgets live on the application's thread only: a host that runs its
      // own Qt elsewhere, or has no widgets, gets no window rather than a
      // crash.
      if (qobject_cast<QApplication *>(existing) == nullptr ||
          existing->thread() != QThread::currentThread())
        return kErrNoDisplay;
      return noErr;
    }
    std::optional<QString> platform = ChoosePlatform();
    if (!platform)
      return kErrNoDisplay;
    static QByteArray platformArg;
    static int argc = 1;
    static char name[] = "Halvern Generic ODBC Driver";
    static char option[] = "-platform";
    static char *argv[] = {name, nullptr, nullptr, nullptr};
    if (!platform->isEmpty()) {
      platformArg = platform->toLatin1();
      argv[1] = option;
      argv[2] = platformArg.data();
      argc = 3;
    }
    // Lives as long as the process: the plugin is never unloaded, and a host
    // that made no application of its own has no other use for one.
    new QApplication(argc, argv);
    return noErr;
  }

  QtWindow *Live(WindowRef ref) {
    for (auto &w : windows_)
      if (w.get() == ref)
        return w.get();
    return nullptr;
  }

  QWidget *WidgetOf(ControlRef ref) {
    if (ref == nullptr)
      return nullptr;
    return static_cast<QtControl *>(ref)->widget.data();
  }

  QtControl *ControlFor(QWidget *widget) {
    for (auto &w : windows_) {
      auto it = w->controls.find(widget);
      if (it != w->controls.end())
        return it->second.get();
    }
    return nullptr;
  }

  // A window shown draws every control shown with it.
  void QueueDrawsUnder(QWidget *shown) {
    for (auto &w : windows_)
      for (auto &[widget, c] : w->controls)
        if (widget != nullptr && (widget == shown || shown->isAncestorOf(widget)) &&
            widget->isVisible())
          QueueDraw(c.get());
  }

  std::unique_ptr<QtControl> MakeControl(QtWindow *w, QWidget *widget) {
    auto c = std::make_unique<QtControl>();
    c->widget = widget;
    c->window = w;
    c->serial = ++serial_;
    QtControl *raw = c.get();
    widget->installEventFilter(this);
    if (auto *b = qobject_cast<QAbstractButton *>(widget)) {
      QObject::connect(b, &QAbstractButton::clicked, this, [this, raw] { Queue(raw, EventKind::ControlHit); });
      QObject::connect(b, &QAbstractButton::toggled, this, [this, raw] { QueueDraw(raw); });
    } else if (auto *combo = qobject_cast<QComboBox *>(widget)) {
      QObject::connect(combo, &QComboBox::activated, this, [this, raw] { Queue(raw, EventKind::ControlHit); });
      QObject::connect(combo, &QComboBox::currentIndexChanged, this, [this, raw] { QueueDraw(raw); });
    } else if (auto *tabs = qobject_cast<QTabWidget *>(widget)) {
      QObject::connect(tabs, &QTabWidget::tabBarClicked, this, [this, raw] { Queue(raw, EventKind::ControlHit); });
      QObject::connect(tabs, &QTabWidget::currentChanged, this, [this, raw] { QueueDraw(raw); });
    } else if (auto *bar = qobject_cast<QTabBar *>(widget)) {
      QObject::connect(bar, &QTabBar::tabBarClicked, this, [this, raw] { Queue(raw, EventKind::ControlHit); });
      QObject::connect(bar, &QTabBar::currentChanged, this, [this, raw] { QueueDraw(raw); });
    } else if (auto *slider = qobject_cast<QAbstractSlider *>(widget)) {
      QObject::connect(slider, &QAbstractSlider::valueChanged, this, [this, raw] { QueueDraw(raw); });
    } else if (auto *spin = qobject_cast<QSpinBox *>(widget)) {
      QObject::connect(spin, &QSpinBox::valueChanged, this, [this, raw] { QueueDraw(raw); });
    }
    return c;
  }

  OSStatus SetText(QWidget *w, std::uint32_t tag, const QString &text) {
    if (auto *e = qobject_cast<QLineEdit *>(w)) {
      if (tag != kTagCFString && tag != kTagPassword)
        return kErrDataNotSupported;
      e->setText(text);
      return noErr;
    }
    if (tag != kTagCFString)
      return kErrDataNotSupported;
    if (auto *l = qobject_cast<QLabel *>(w))
      l->setText(text);
    else if (auto *b = qobject_cast<QAbstractButton *>(w))
      b->setText(text);
    else if (auto *p = qobject_cast<QPlainTextEdit *>(w))
      p->setPlainText(text);
    else if (auto *t = qobject_cast<QTextEdit *>(w))
      t->setPlainText(text);
    else
      return kErrDataNotSupported;
    return noErr;
  }

  void Queue(QtControl *c, EventKind kind) {
    queue_.push_back({c, c->serial, kind});
    if (loop_ != nullptr)
      loop_->quit();
  }

  // Draws of one control coalesce until they are delivered: a handler that
  // redraws other controls cannot feed itself an endless stream.
  void QueueDraw(QtControl *c) {
    if (c->drawPending)
      return;
    c->drawPending = true;
    Queue(c, EventKind::ControlDraw);
  }

  bool ControlAlive(QtControl *c, std::uint64_t serial) {
    for (auto &w : windows_) {
      auto it = std::find_if(w->controls.begin(), w->controls.end(),
                             [&](const auto &p) { return p.second.get() == c; });
      if (it != w->controls.end())
        return it->second->serial == serial;
    }
    return false;
  }

  bool Dispatch() {
    bool any = false;
    while (!queue_.empty()) {
      Pending p = queue_.front();
      queue_.pop_front();
      if (!ControlAlive(p.control, p.serial))
        continue;
      if (p.kind == EventKind::ControlDraw)
        p.control->drawPending = false;
      // Handlers may remove themselves and install others while they run:
      // only those installed when the event came are called, each only if
      // it is still installed.
      std::vector<std::pair<QtHandler *, std::uint64_t>> due;
      for (auto &h : p.control->handlers)
        if (h->kind == p.kind)
          due.emplace_back(h.get(), h->serial);
      for (auto [h, serial] : due) {
        if (!ControlAlive(p.control, p.serial))
          break;
        auto &hs = p.control->handlers;
        bool installed = std::any_of(hs.begin(), hs.end(), [&](const auto &x) {
          return x.get() == h && x->serial == serial;
        });
        if (!installed)
          continue;
        Event event{p.kind, p.control};
        h->proc(nullptr, &event, h->userData);
        any = true;
      }
    }
    return any;
  }

  void Forget(QtWindow &w) {
    queue_.erase(std::remove_if(queue_.begin(), queue_.end(),
                                [&](const Pending &p) { return p.control->window == &w; }),
                 queue_.end());
  }

  void MarkClosed(QWidget *widget) {
    for (auto &w : windows_)
      if (w->widget == widget)
        w->closedByUser = true;
    if (loop_ != nullptr)
      loop_->quit();
  }

  // Windows the user closed are freed once the wait that saw them go ends;
  // their dialog reads them as gone and returns.
  void PurgeClosed() {
    std::vector<WindowRef> closed;
    for (auto &w : windows_)
      if (w->closedByUser)
        closed.push_back(w.get());
    for (WindowRef w : closed)
      DisposeWindow(w);
  }

  struct Pending {
    QtControl *control;
    std::uint64_t serial;
    EventKind kind;
  };

  std::vector<std::unique_ptr<QtWindow>> windows_;
  std::deque<Pending> queue_;
  QEventLoop *loop_ = nullptr;
  std::uint64_t serial_ = 0;
};

} // namespace
} // namespace hvl

extern "C" __attribute__((visibility("default"))) hvl::Toolkit *hvl_toolkit_create(int version) {
  if (version != hvl::kToolkitInterfaceVersion)
    return nullptr;
  // Never destroyed: its windows belong to Qt, which outlives no exit handler.
  static hvl::QtToolkit *toolkit = new hvl::QtToolkit;
  return toolkit;
}
