// The Qt front end, loaded from the build tree's bundle as the setup library
// loads it, driven offscreen with Qt Test from timers that fire while the
// toolkit waits for events.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include "toolkit/platform.h"

namespace hvl {
namespace {

const std::string kFixtures = HVL_QT_FIXTURES;

struct Count {
  int hits = 0;
  int draws = 0;
  std::vector<std::int32_t> values; // the control's value at each event
};

Toolkit *gTk = nullptr;

OSStatus Record(EventHandlerCallRef, Event *event, void *userData) {
  auto *c = static_cast<Count *>(userData);
  (event->kind == EventKind::ControlHit ? c->hits : c->draws)++;
  c->values.push_back(gTk->GetControlValue(event->control));
  return noErr;
}

// Removes itself and installs itself again on every draw, as the server
// type list's handlers do, and shows and relabels other controls meanwhile.
struct Reinstaller {
  EventHandlerRef ref = nullptr;
  ControlRef label = nullptr;
  int calls = 0;
};
OSStatus Reinstall(EventHandlerCallRef, Event *event, void *userData) {
  auto *r = static_cast<Reinstaller *>(userData);
  ++r->calls;
  gTk->RemoveEventHandler(r->ref);
  gTk->SetControlVisibility(r->label, false, true);
  gTk->SetControlString(r->label, kPartEntire, kTagCFString, u"relabelled");
  gTk->SetControlVisibility(r->label, true, true);
  gTk->ShowControl(event->control);
  gTk->InstallEventHandler(event->control, EventKind::ControlDraw, Reinstall, r, &r->ref);
  return noErr;
}

class QtFrontEnd : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "qt_toolkit_test";
    static char *argv[] = {name, nullptr};
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // The host's own application: the front end must use it, not make one.
    app = new QApplication(argc, argv);
    SetBundleDirectory(HVL_BUNDLE_DIR);
    gTk = &ActiveToolkit();
    ASSERT_TRUE(FrontEndLoaded());
  }

  void SetUp() override {
    ASSERT_EQ(gTk->OpenWindow(kFixtures, "fixture", "Dialog", &window), noErr);
    dialog = nullptr;
    for (QWidget *w : QApplication::topLevelWidgets())
      if (w->objectName() == "Dialog")
        dialog = qobject_cast<QDialog *>(w);
    ASSERT_NE(dialog, nullptr);
  }
  void TearDown() override { gTk->DisposeWindow(window); }

  ControlRef Get(std::int32_t id, std::uint32_t sig = kSigControl) {
    ControlRef c = nullptr;
    EXPECT_EQ(gTk->GetControlByID(window, {sig, id}, &c), noErr) << id;
    return c;
  }
  template <class T> T *W(const char *name) { return dialog->findChild<T *>(name); }

  // Waits until `done` holds, at most `waits` times.
  bool WaitFor(const std::function<bool()> &done, int waits = 50) {
    for (int i = 0; i < waits && !done(); ++i)
      gTk->WaitNextEvent(6);
    return done();
  }

  static QApplication *app;
  WindowRef window = nullptr;
  QDialog *dialog = nullptr;
};
QApplication *QtFrontEnd::app = nullptr;

TEST_F(QtFrontEnd, ReusesTheHostsApplication) {
  EXPECT_EQ(QCoreApplication::instance(), app);
  EXPECT_FALSE(gTk->IsWindowVisible(window)); // opened hidden
  gTk->ShowWindow(window);
  EXPECT_TRUE(gTk->IsWindowVisible(window));
  EXPECT_TRUE(dialog->isVisible());
}

TEST_F(QtFrontEnd, DefinitionsThatCannotBeOpenedGiveAStatus) {
  struct Case {
    const char *dir, *name, *window;
    OSStatus status;
  } cases[] = {
      {HVL_QT_FIXTURES, "missing", "Dialog", kErrFileNotFound},
      {"/nonexistent", "fixture", "Dialog", kErrFileNotFound},
      {HVL_QT_FIXTURES, "broken", "Dialog", kErrDefinitionUnreadable},
      {HVL_QT_FIXTURES, "nodialog", "Dialog", kErrWindowNotFound},
      {HVL_QT_FIXTURES, "fixture", "Elsewhere", kErrWindowNotFound},
  };
  for (const auto &c : cases) {
    WindowRef w = reinterpret_cast<WindowRef>(1);
    EXPECT_EQ(gTk->OpenWindow(c.dir, c.name, c.window, &w), c.status) << c.name;
    EXPECT_EQ(w, nullptr) << c.name;
  }
  // Nothing of the failed loads stays behind as a window.
  int dialogs = 0;
  for (QWidget *w : QApplication::topLevelWidgets())
    dialogs += w->objectName() == "Other" ? 1 : 0;
  EXPECT_EQ(dialogs, 0);
}

TEST_F(QtFrontEnd, ControlsByIdAndTheirText) {
  ControlRef missing = reinterpret_cast<ControlRef>(1);
  EXPECT_NE(gTk->GetControlByID(window, {kSigControl, 99}, &missing), noErr);
  EXPECT_EQ(missing, nullptr);
  EXPECT_NE(gTk->GetControlByID(window, {kSigTabs, 2}, &missing), noErr); // signature counts
  EXPECT_EQ(Get(2), Get(2)); // one reference per control

  ControlRef field = Get(2), password = Get(3), label = Get(6), button = Get(1);
  PlatformString text;
  ASSERT_EQ(gTk->GetControlString(field, kPartEditText, kTagCFString, &text), noErr);
  EXPECT_EQ(text, u"from the definition");
  EXPECT_EQ(gTk->SetControlString(field, kPartEntire, kTagCFString, u"caf\u00e9 \U0001F600"), noErr);
  EXPECT_EQ(W<QLineEdit>("CNTL_2")->text(), QString::fromUtf8("café 😀"));
  ASSERT_EQ(gTk->GetControlString(field, kPartEditText, kTagCFString, &text), noErr);
  EXPECT_EQ(text, u"caf\u00e9 \U0001F600");

  EXPECT_EQ(gTk->SetControlString(password, kPartEntire, kTagPassword, u"s3cret"), noErr);
  EXPECT_EQ(W<QLineEdit>("CNTL_3")->text(), "s3cret");
  EXPECT_EQ(W<QLineEdit>("CNTL_3")->echoMode(), QLineEdit::Password);
  ASSERT_EQ(gTk->GetControlString(password, kPartEntire, kTagPassword, &text), noErr);
  EXPECT_EQ(text, u"s3cret");

  EXPECT_EQ(gTk->SetControlString(label, kPartEntire, kTagCFString, u"New label"), noErr);
  EXPECT_EQ(W<QLabel>("CNTL_6")->text(), "New label");
  EXPECT_EQ(gTk->SetControlBytes(Get(7), kPartEntire, kTagText, "bytes \xc3\xa9"), noErr);
  EXPECT_EQ(W<QLabel>("CNTL_7")->text(), QString::fromUtf8("bytes é"));
  EXPECT_EQ(gTk->SetControlString(button, kPartEntire, kTagCFString, u"Go"), noErr);
  EXPECT_EQ(W<QPushButton>("CNTL_1")->text(), "Go");

  // What a control does not have.
  EXPECT_EQ(gTk->SetControlString(label, kPartEntire, kTagPassword, u"x"), kErrDataNotSupported);
  EXPECT_EQ(gTk->SetControlString(Get(4), kPartEntire, kTagCFString, u"x"), kErrDataNotSupported);
  EXPECT_EQ(gTk->SetControlBytes(field, kPartEntire, kTagCFString, "x"), kErrDataNotSupported);
  EXPECT_EQ(gTk->GetControlString(Get(5), kPartEntire, kTagPassword, &text), kErrDataNotSupported);
  EXPECT_EQ(gTk->SetControlString(nullptr, kPartEntire, kTagCFString, u"x"), kErrParam);
  EXPECT_EQ(gTk->SetControlString(field, 3, kTagCFString, u"x"), kErrParam);

  gTk->SetWindowTitle(window, u"Title \u00e9");
  EXPECT_EQ(dialog->windowTitle(), QString::fromUtf8("Title é"));
}

TEST_F(QtFrontEnd, ValuesMaximaAndPopupItems) {
  ControlRef popup = Get(4), check = Get(5), tabs = Get(10, kSigTabs);
  EXPECT_EQ(gTk->GetControlValue(popup), 1);
  EXPECT_EQ(gTk->CountMenuItems(popup), 3);
  EXPECT_EQ(gTk->GetControlMaximum(popup), 3);
  gTk->SetControlValue(popup, 3);
  EXPECT_EQ(W<QComboBox>("CNTL_4")->currentIndex(), 2);
  gTk->SetControlValue(popup, 9); // clamped
  EXPECT_EQ(gTk->GetControlValue(popup), 3);
  gTk->SetControlValue(popup, -4);
  EXPECT_EQ(gTk->GetControlValue(popup), 1);

  gTk->DeleteMenuItems(popup, 2, 5); // past the end: up to the end
  EXPECT_EQ(gTk->CountMenuItems(popup), 1);
  gTk->AppendMenuItemText(popup, u"Ingres II");
  gTk->AppendMenuItemText(popup, u"");
  EXPECT_EQ(gTk->CountMenuItems(popup), 3);
  PlatformString text;
  ASSERT_EQ(gTk->CopyMenuItemText(popup, 2, &text), noErr);
  EXPECT_EQ(text, u"Ingres II");
  ASSERT_EQ(gTk->CopyMenuItemText(popup, 3, &text), noErr);
  EXPECT_EQ(text, u"");
  EXPECT_EQ(gTk->CopyMenuItemText(popup, 0, &text), kErrParam);
  EXPECT_EQ(gTk->CopyMenuItemText(popup, 4, &text), kErrParam);
  EXPECT_EQ(gTk->CopyMenuItemText(check, 1, &text), kErrParam);
  gTk->SetControlMaximum(popup, 2);
  EXPECT_EQ(gTk->GetControlMaximum(popup), 2);
  gTk->SetControlValue(popup, 3); // beyond the maximum
  EXPECT_EQ(gTk->GetControlValue(popup), 2);
  gTk->DeleteMenuItems(popup, 1, gTk->CountMenuItems(popup));
  EXPECT_EQ(gTk->CountMenuItems(popup), 0);
  EXPECT_EQ(gTk->GetControlValue(popup), 0); // nothing chosen

  EXPECT_EQ(gTk->GetControlValue(check), 0);
  gTk->SetControlValue(check, 1);
  EXPECT_TRUE(W<QCheckBox>("CNTL_5")->isChecked());
  EXPECT_EQ(gTk->GetControlValue(check), 1);

  EXPECT_EQ(gTk->GetControlValue(tabs), 1);
  gTk->SetControlValue(tabs, 2);
  EXPECT_EQ(W<QTabWidget>("tabs_10")->currentIndex(), 1);
  EXPECT_EQ(gTk->GetControlMaximum(tabs), 2);
  EXPECT_EQ(gTk->GetControlValue(Get(2)), 0); // a field has no value
}

TEST_F(QtFrontEnd, VisibilityAndFocus) {
  ControlRef label = Get(6), field = Get(2);
  EXPECT_TRUE(gTk->IsControlVisible(label)); // as defined, before the window shows
  gTk->SetControlVisibility(label, false, true);
  EXPECT_FALSE(gTk->IsControlVisible(label));
  gTk->ShowWindow(window);
  EXPECT_FALSE(W<QLabel>("CNTL_6")->isVisible());
  gTk->ShowControl(label);
  EXPECT_TRUE(W<QLabel>("CNTL_6")->isVisible());

  gTk->AdvanceKeyboardFocus(window); // text fields first, not the tab bar
  EXPECT_EQ(dialog->focusWidget(), W<QWidget>("CNTL_2"));
  gTk->AdvanceKeyboardFocus(window);
  EXPECT_EQ(dialog->focusWidget(), W<QWidget>("CNTL_3"));
  gTk->SetControlVisibility(field, false, false);
  gTk->ClearKeyboardFocus(window);
  EXPECT_FALSE(W<QWidget>("CNTL_3")->hasFocus());
  gTk->AdvanceKeyboardFocus(window); // the hidden field is passed over
  EXPECT_EQ(dialog->focusWidget(), W<QWidget>("CNTL_3"));
}

TEST_F(QtFrontEnd, HitAndDrawHandlersRunOnlyInsideTheWait) {
  ControlRef ok = Get(1), popup = Get(4), check = Get(5), tabs = Get(10, kSigTabs);
  Count okCount, popupCount, checkCount, tabCount;
  EventHandlerRef ref = nullptr;
  ASSERT_EQ(gTk->InstallEventHandler(ok, EventKind::ControlHit, Record, &okCount, &ref), noErr);
  ASSERT_NE(ref, nullptr);
  gTk->InstallEventHandler(popup, EventKind::ControlDraw, Record, &popupCount, nullptr);
  gTk->InstallEventHandler(popup, EventKind::ControlHit, Record, &popupCount, nullptr);
  gTk->InstallEventHandler(check, EventKind::ControlHit, Record, &checkCount, nullptr);
  gTk->InstallEventHandler(tabs, EventKind::ControlHit, Record, &tabCount, nullptr);

  gTk->ShowWindow(window);
  gTk->SetControlValue(popup, 2); // a value set by the program draws too...
  EXPECT_EQ(popupCount.draws, 0); // ...but only inside the wait
  EXPECT_TRUE(WaitFor([&] { return popupCount.draws > 0; }));
  EXPECT_EQ(popupCount.draws, 1); // shown and set before the wait: one draw
  EXPECT_EQ(popupCount.values.back(), 2);

  // The user: a click on OK, the check box and the second tab, and a choice
  // in the pop-up by keyboard.
  QTimer::singleShot(0, [&] {
    QTest::mouseClick(W<QPushButton>("CNTL_1"), Qt::LeftButton);
    QTest::mouseClick(W<QCheckBox>("CNTL_5"), Qt::LeftButton);
    QTabBar *bar = W<QTabWidget>("tabs_10")->tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(1).center());
    W<QComboBox>("CNTL_4")->setFocus();
    QTest::keyClick(W<QComboBox>("CNTL_4"), Qt::Key_Down);
  });
  EXPECT_TRUE(WaitFor([&] {
    return okCount.hits == 1 && checkCount.hits == 1 && tabCount.hits == 1 && popupCount.hits == 1;
  }));
  EXPECT_EQ(checkCount.values.back(), 1);
  EXPECT_EQ(tabCount.values.back(), 2); // the page chosen
  EXPECT_EQ(popupCount.values.back(), 3);
  EXPECT_GE(popupCount.draws, 2);

  EXPECT_EQ(gTk->RemoveEventHandler(ref), noErr);
  EXPECT_EQ(gTk->RemoveEventHandler(ref), kErrNoSuchHandler);
  QTimer::singleShot(0, [&] { QTest::mouseClick(W<QPushButton>("CNTL_1"), Qt::LeftButton); });
  gTk->WaitNextEvent(6);
  gTk->WaitNextEvent(6);
  EXPECT_EQ(okCount.hits, 1);
}

TEST_F(QtFrontEnd, ADrawHandlerThatRedrawsItselfDoesNotLoop) {
  Reinstaller r;
  r.label = Get(6);
  ControlRef popup = Get(4);
  ASSERT_EQ(gTk->InstallEventHandler(popup, EventKind::ControlDraw, Reinstall, &r, &r.ref), noErr);
  gTk->ShowWindow(window);
  EXPECT_TRUE(WaitFor([&] { return r.calls == 1; }));
  QTimer::singleShot(0, [&] { W<QComboBox>("CNTL_4")->setCurrentIndex(2); });
  EXPECT_TRUE(WaitFor([&] { return r.calls == 2; }));
  // Quiet now: the waits time out with nothing to do.
  EXPECT_FALSE(gTk->WaitNextEvent(3));
  EXPECT_FALSE(gTk->WaitNextEvent(3));
  EXPECT_EQ(r.calls, 2);
  EXPECT_EQ(W<QLabel>("CNTL_6")->text(), "relabelled");
}

TEST_F(QtFrontEnd, AWindowTheUserClosesIsGoneAndFreed) {
  gTk->ShowWindow(window);
  ControlRef ok = Get(1);
  Count count;
  gTk->InstallEventHandler(ok, EventKind::ControlHit, Record, &count, nullptr);
  QPointer<QDialog> watched = dialog;
  QTimer::singleShot(0, [&] { QTest::keyClick(dialog, Qt::Key_Escape); });
  EXPECT_TRUE(WaitFor([&] { return !gTk->IsWindowVisible(window); }));
  EXPECT_TRUE(watched.isNull()); // freed by the toolkit
  gTk->DisposeWindow(window);    // stale: ignored
  EXPECT_FALSE(gTk->WaitNextEvent(1)); // no window: returns at once
  ASSERT_EQ(gTk->OpenWindow(kFixtures, "fixture", "Dialog", &window), noErr); // for TearDown
}

TEST_F(QtFrontEnd, HandlersMayDisposeOfTheirWindow) {
  struct Closer {
    WindowRef window;
    int calls = 0;
  } closer{window};
  auto close = [](EventHandlerCallRef, Event *, void *data) -> OSStatus {
    auto *c = static_cast<Closer *>(data);
    ++c->calls;
    gTk->DisposeWindow(c->window);
    return noErr;
  };
  ControlRef ok = Get(1);
  // Two handlers: the second must not run once the first closed the window.
  gTk->InstallEventHandler(ok, EventKind::ControlHit, close, &closer, nullptr);
  gTk->InstallEventHandler(ok, EventKind::ControlHit, close, &closer, nullptr);
  gTk->ShowWindow(window);
  QPointer<QPushButton> button = W<QPushButton>("CNTL_1");
  QTimer::singleShot(0, [&] { QTest::mouseClick(button.data(), Qt::LeftButton); });
  while (gTk->IsWindowVisible(window))
    gTk->WaitNextEvent(6);
  EXPECT_EQ(closer.calls, 1);
  ASSERT_EQ(gTk->OpenWindow(kFixtures, "fixture", "Dialog", &window), noErr);
}

TEST_F(QtFrontEnd, AlertsReturnTheButtonPressed) {
  AlertDefinition alert;
  alert.id = 1001;
  alert.title = "About";
  alert.message = "Halvern Generic ODBC Driver Setup";
  alert.informative = "Version 4.2";
  alert.buttons = {"OK", "More"};
  QString seen;
  QTimer::singleShot(50, [&] {
    for (QWidget *w : QApplication::topLevelWidgets())
      if (auto *box = qobject_cast<QMessageBox *>(w); box != nullptr && box->isVisible()) {
        seen = box->text() + "|" + box->informativeText();
        for (QAbstractButton *b : box->buttons())
          if (b->text() == "More")
            b->click();
      }
  });
  EXPECT_EQ(gTk->RunAlert(alert), 2);
  EXPECT_EQ(seen, "Halvern Generic ODBC Driver Setup|Version 4.2");
}

} // namespace
} // namespace hvl
